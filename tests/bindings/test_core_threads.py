"""Threads around the vectorised functions, the pool size, and leaks of memory or references."""

import contextlib
import gc
import json
import sys
import threading
import time
import tracemalloc

import numpy as np
import pytest
from core_support import (
    VECTORISED,
    assert_same_bits,
    make_inputs,
    needs_address_space_limit,
    run_python,
    scalar_results,
    serial_limit,
)

import karvex._core as core

LARGE = 40_000  # above every serial limit


def test_two_threads_running_large_iv_calls_get_their_own_results():
    jobs = [make_inputs("bsm_iv", LARGE, seed=seed) for seed in (1, 2)]
    expected = [scalar_results("bsm_iv", args) for args in jobs]
    results = [None, None]

    def work(i):
        for _ in range(3):
            results[i] = core.bsm_iv(*jobs[i])

    threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
    [t.start() for t in threads]
    [t.join() for t in threads]
    for got, want in zip(results, expected):
        assert_same_bits(got, want)


@contextlib.contextmanager
def bystander():
    """A thread that counts while it holds the interpreter lock. With a long switch interval the
    interpreter never takes the lock from the calling thread by itself, so the count can only move
    while a call has released the lock."""
    count, stop, interval = [0], threading.Event(), sys.getswitchinterval()

    def run():
        while not stop.is_set():
            count[0] += 1
            time.sleep(0)  # gives the lock back and asks for it again

    sys.setswitchinterval(60.0)
    thread = threading.Thread(target=run)
    thread.start()
    try:
        yield count
    finally:
        stop.set()
        thread.join()
        sys.setswitchinterval(interval)


@pytest.mark.parametrize("name", VECTORISED)
def test_the_lock_is_released_exactly_from_the_serial_limit_on(name):
    fn, limit = getattr(core, name), serial_limit(name)
    args = make_inputs(name, limit, seed=6)
    below = [a[: limit - 1] for a in args]
    with bystander() as count:
        before = count[0]
        for _ in range(10):
            fn(*below)
        assert count[0] == before  # held throughout below the limit
        for _ in range(200):
            fn(*args)
            if count[0] > before:
                break
        assert count[0] > before


def all_results():
    """Every vectorised function's results on fixed large inputs, one array per output."""
    out = {}
    for name in VECTORISED:
        result = getattr(core, name)(*make_inputs(name, LARGE, seed=7))
        for j, array in enumerate(result if isinstance(result, tuple) else (result,)):
            out[f"{name}_{j}"] = array
    return out


def test_one_worker_gives_the_same_bits_as_the_default_pool(tmp_path):
    path = tmp_path / "one_worker.npz"
    run_python(
        f"""
        import numpy as np
        from test_core_threads import all_results
        np.savez({str(path)!r}, **all_results())
        """,
        env={"RAYON_NUM_THREADS": "1"},
    )
    one_worker = np.load(path)
    for name, array in all_results().items():
        assert_same_bits(one_worker[name], array)


def test_repeated_calls_leak_neither_memory_nor_references():
    # Scalar and vectorised calls, serial and parallel, results and errors of every stage.
    small = make_inputs("bsm_greeks", 100, seed=4)
    large = make_inputs("bsm_price", 8192, seed=5)  # at the serial limits of price and greeks
    failing = [
        (core.bsm_price_scalar, (1, "x", 1, 1, 1, 1, 1), {}),
        (core.bsm_price_scalar, (300, 1, 1, 1, 1, 1, 1), {}),
        (core.bsm_price_scalar, (1, 1), {"vol": 1}),
        (core.bsm_price_scalar, (1,) * 8, {}),
        (core.bsm_price, small[:6] + [np.ones(100, np.float32)], {}),
        (core.bsm_price, small[:2] + [small[2][:50]] + small[3:], {}),
        (core.bsm_price, small[:1] + [small[1][::2]] + small[2:], {}),
    ]

    def round_():
        core.bsm_price_scalar(1, 100.0, 100.0, 1.0, 0.05, 0.0, 0.2)
        core.black76_greeks_scalar(-1, 100.0, 90.0, 0.5, 0.05, 0.3)
        core.bsm_greeks(*small)
        core.bsm_price(*large)
        core.bsm_greeks(*large)
        for fn, args, kwargs in failing:
            try:
                fn(*args, **kwargs)
            except (TypeError, ValueError, OverflowError):
                pass

    arrays = small + large
    round_()
    gc.collect()
    refcounts = [sys.getrefcount(a) for a in arrays]
    container = type(core.bsm_gamma(*make_inputs("bsm_gamma", 2)).base)
    container_refs = sys.getrefcount(container)
    tracemalloc.start()
    try:
        # Warm-up under tracing: the interpreter's and NumPy's caches and free lists fill with
        # traced memory, so that turning them over later does not look like growth.
        for _ in range(100):
            round_()
        sizes = []
        for _ in range(8):
            for _ in range(50):
                round_()
            gc.collect()
            sizes.append(tracemalloc.get_traced_memory()[0])
    finally:
        tracemalloc.stop()
    # A leak of even one small object per round grows every batch by 50 x 16 bytes or more.
    growth = sorted(b - a for a, b in zip(sizes, sizes[1:]))
    assert growth[len(growth) // 2] < 512, sizes
    assert [sys.getrefcount(a) for a in arrays] == refcounts
    assert sys.getrefcount(container) == container_refs


def test_import_and_small_calls_start_no_thread_and_import_no_numpy():
    out = run_python(
        """
        import json, os, sys
        threads = lambda: len(os.listdir("/proc/self/task"))
        start = threads()
        import karvex._core as core
        report = {"numpy_after_import": "numpy" in sys.modules,
                  "after_import": threads() - start}
        core.bsm_price_scalar(1, 100.0, 100.0, 1.0, 0.05, 0.0, 0.2)
        report["numpy_after_scalar"] = "numpy" in sys.modules
        import numpy as np
        base = threads()  # NumPy may start threads of its own
        empty, small = np.ones(0), np.ones(1000)
        core.bsm_iv(empty, np.ones(0, np.int8), *[empty] * 5)
        core.bsm_iv(small, np.ones(1000, np.int8), *[small] * 5)
        report["after_small"] = threads() - base
        large = np.ones(1024)
        core.bsm_iv(large, np.ones(1024, np.int8), *[large] * 5)
        report["after_large"] = threads() - base
        print(json.dumps(report))
        """,
        env={"RAYON_NUM_THREADS": "3"},
    )
    assert json.loads(out.stdout) == {
        "numpy_after_import": False,
        "after_import": 0,
        "numpy_after_scalar": False,
        "after_small": 0,
        "after_large": 3,
    }


@needs_address_space_limit
@pytest.mark.parametrize("value", ["100000000", "18446744073709551615"])
def test_a_pool_size_above_the_maximum_fails_each_large_call_at_once_naming_it(value):
    # The address space is capped 1 GiB above what is in use: a pool that allocated per worker
    # before knowing it can start them runs out of it (or of the machine's memory) instead.
    out = run_python(
        """
        import json, resource
        import numpy as np
        import karvex._core as core
        with open("/proc/self/statm") as f:
            used = int(f.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (used + 2**30, resource.RLIM_INFINITY))
        small, large = np.ones(100), np.ones(20_000)
        report = [core.bsm_gamma(*[small] * 6).shape[0]]
        for _ in range(2):
            try:
                core.bsm_gamma(*[large] * 6)
            except RuntimeError as e:
                report.append(str(e))
        print(json.dumps(report))
        """,
        env={"RAYON_NUM_THREADS": value},
    )
    assert (
        json.loads(out.stdout)
        == [100]
        + [
            f"cannot start the worker pool: RAYON_NUM_THREADS={value}: more worker threads than a "
            "pool has (at most 1024)"
        ]
        * 2
    )
