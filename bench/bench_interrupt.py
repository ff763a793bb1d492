"""Ctrl-C during a long parallel call, and what the interruptibility costs a call that runs out.

Latency: a long bsm_iv call on all workers; SIGINT at a random moment well inside it; the time
from the signal to the KeyboardInterrupt reaching the caller, over several calls.

Cost: each vectorised function at n elements, timed call by call in alternation in two builds of
the extension loaded side by side in this process (e.g. one built without the interruption
check): the ratio of their best times per function.

    python bench/bench_interrupt.py [--n N] [--calls K]
    python bench/bench_interrupt.py --compare OLD_CORE.so NEW_CORE.so [--n N]
"""

import argparse
import importlib.util
import os
import random
import signal
import statistics
import threading
import time

import numpy as np


def load(path, tag):
    entry = importlib.util.spec_from_file_location(f"{tag}._core", path)
    module = importlib.util.module_from_spec(entry)
    entry.loader.exec_module(module)
    return module


def inputs(core, name, n):
    rng = np.random.default_rng(7)
    params = {
        "flag": rng.choice(np.array([1, -1], np.int8), n),
        "s": 100.0 * np.exp(0.25 * rng.standard_normal(n)),
        "f": None,
        "k": np.full(n, 100.0),
        "t": rng.uniform(0.02, 3.0, n),
        "r": rng.uniform(-0.01, 0.08, n),
        "q": rng.uniform(0.0, 0.05, n),
        "sigma": rng.uniform(0.05, 0.9, n),
    }
    params["f"] = params["s"]
    model = name.split("_")[0]
    target = getattr(core, model + "_price")(
        *[
            params[p]
            for p in ("flag", "s" if model == "bsm" else "f", "k", "t", "r")
            + (("q",) if model == "bsm" else ())
            + ("sigma",)
        ]
    )
    params["target_price"] = target
    names = getattr(core, name).__text_signature__.strip("()").split(", ")
    return [params[p] for p in names]


def latency(n, calls):
    import karvex._core as core

    args = inputs(core, "bsm_iv", n)
    start = time.perf_counter()
    core.bsm_iv(*args)
    whole = time.perf_counter() - start
    print(f"bsm_iv at n = {n:,}: {whole:.2f} s uninterrupted on {os.cpu_count()} CPUs")
    delays = []
    for _ in range(calls):
        sent = []

        def interrupt():
            time.sleep(random.uniform(0.2, 0.6) * whole)
            sent.append(time.perf_counter())
            os.kill(os.getpid(), signal.SIGINT)

        thread = threading.Thread(target=interrupt)
        thread.start()
        try:
            core.bsm_iv(*args)
            time.sleep(whole)  # an interrupt after the call returned lands here
        except KeyboardInterrupt:
            delays.append(time.perf_counter() - sent[0])
        thread.join()
    delays.sort()
    print(
        f"SIGINT to KeyboardInterrupt over {calls} calls: median {statistics.median(delays) * 1e3:.0f}"
        f" ms, max {delays[-1] * 1e3:.0f} ms"
    )


def compare(old_path, new_path, n, rounds=21):
    old, new = load(old_path, "old_build"), load(new_path, "new_build")
    print(f"best of {rounds} calls at n = {n:,}, alternating; new / old time")
    ratios = []
    for name in old.__all__[2:18]:
        args = inputs(old, name, n)
        times = {old: [], new: []}
        for r in range(rounds):
            for core in (old, new) if r % 2 else (new, old):
                fn = getattr(core, name)
                start = time.perf_counter()
                fn(*args)
                times[core].append(time.perf_counter() - start)
        a, b = min(times[old]), min(times[new])
        ratios.append(b / a)
        print(f"{name:16s} old {a * 1e3:8.2f} ms   new {b * 1e3:8.2f} ms   ratio {b / a:.3f}")
    print(f"geometric mean of the ratios: {statistics.geometric_mean(ratios):.3f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--n", type=int)
    parser.add_argument("--calls", type=int, default=10)
    parser.add_argument("--compare", nargs=2, metavar=("OLD", "NEW"))
    options = parser.parse_args()
    if options.compare:
        compare(*options.compare, options.n or 1_000_000)
    else:
        latency(options.n or 10_000_000, options.calls)


if __name__ == "__main__":
    main()
