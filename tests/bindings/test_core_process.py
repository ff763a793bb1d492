"""The vectorised functions around events of the whole process: interpreter exit while threads are
inside parallel calls, fork while another thread makes the first call, and Ctrl-C during a long
parallel call. Each case runs in fresh interpreters, several times over."""

import json
import os
import subprocess
import sys
import textwrap

import pytest

RUNS = 5


def spawn(code, env=None):
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    environment.update(env or {})
    return subprocess.Popen(
        [sys.executable, "-c", textwrap.dedent(code)],
        env=environment,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )


def finish(process, timeout=120):
    try:
        out, err = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        out, err = process.communicate()
        pytest.fail(f"still running after {timeout} s: {err[-2000:]}")
    return process.returncode, out, err


EXIT_DURING_CALLS = """
    import threading, time
    import numpy as np
    {setup}
    started = threading.Barrier({threads} + 1)

    def loop():
        started.wait()
        while True:
            {call}

    for _ in range({threads}):
        threading.Thread(target=loop, daemon=True).start()
    started.wait()
    time.sleep(0.3)  # the loops well under way
    print("returning", flush=True)
    """


CORE_IV = (
    "import karvex._core as core\n"
    "    n = {n}\n"
    "    args = [np.full(n, 10.0), np.ones(n, np.int8)] + [np.full(n, 100.0)] * 2"
    " + [np.ones(n)] + [np.full(n, 0.05)] * 2"
)


# Short calls: the threads ask for the lock back after the call; long ones (over the 0.1 s
# between two checks for Ctrl-C) also while the workers still run.
@pytest.mark.parametrize(
    "setup, call",
    [
        (CORE_IV.format(n=2048), "core.bsm_iv(*args)"),
        (CORE_IV.format(n=1_000_000), "core.bsm_iv(*args)"),
        (
            "import karvex\n    strikes = np.linspace(50.0, 150.0, 10_000)",
            "karvex.bsm.price('c', 100.0, strikes, 1.0, 0.05, 0.0, 0.2)",
        ),
    ],
    ids=["core_iv", "core_iv_long", "array_api_price"],
)
@pytest.mark.parametrize("threads", [1, 4])
def test_interpreter_exits_normally_while_daemon_threads_are_inside_parallel_calls(
    setup, call, threads
):
    processes = [
        spawn(EXIT_DURING_CALLS.format(setup=setup, call=call, threads=threads))
        for _ in range(RUNS)
    ]
    for process in processes:
        status, out, err = finish(process)
        assert (status, out) == (0, "returning\n"), err[-2000:]


FORK_DURING_FIRST_CALL = """
    import builtins, os, threading, time
    import numpy as np
    import karvex._core as core

    entered, resume = threading.Event(), threading.Event()
    real_import = builtins.__import__

    def slow_import(name, *args, **kwargs):
        # The first vectorised call imports NumPy's C API through the import hooks; the worker
        # thread stays inside that import until the fork below has happened.
        if name == "numpy" and threading.current_thread() is worker:
            entered.set()
            resume.wait()
        return real_import(name, *args, **kwargs)

    def gamma():
        return core.bsm_gamma(*[np.full(3, 1.0)] * 6).shape

    builtins.__import__ = slow_import
    worker = threading.Thread(target=gamma)
    worker.start()
    assert entered.wait(60)
    pid = os.fork()
    if pid == 0:
        os._exit(0 if gamma() == (3,) else 1)
    resume.set()
    worker.join()
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            print("child", os.waitstatus_to_exitcode(status), "parent", gamma())
            break
        time.sleep(0.05)
    else:
        os.kill(pid, 9)
        os.waitpid(pid, 0)
        print("child hung")
    """


def test_a_child_forked_during_the_first_vectorised_call_can_make_its_own():
    processes = [spawn(FORK_DURING_FIRST_CALL) for _ in range(RUNS)]
    for process in processes:
        status, out, err = finish(process)
        assert (status, out) == (0, "child 0 parent (3,)\n"), err[-2000:]


INTERRUPTED_CALL = """
    import json, os, signal, threading, time
    import numpy as np
    import karvex._core as core

    # A shell that starts this test in the background without job control ignores SIGINT, and a
    # Python started with SIGINT ignored keeps it so: restore Python's own handler.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    n = 10_000_000  # seconds of implied volatilities on one worker
    price, spot, t, r = np.full(n, 10.0), np.full(n, 100.0), np.ones(n), np.full(n, 0.05)
    args = (price, np.ones(n, np.int8), spot, spot, t, r, r)
    tenth = [a[:n // 10] for a in args]
    start = time.monotonic()
    expected = core.bsm_iv(*tenth)
    tenth_time = time.monotonic() - start

    def interrupt():
        time.sleep(0.2)
        os.kill(os.getpid(), signal.SIGINT)

    elapsed = None
    try:
        start = time.monotonic()
        threading.Thread(target=interrupt).start()
        core.bsm_iv(*args)
        time.sleep(60)  # a KeyboardInterrupt after the call returned lands here
    except KeyboardInterrupt:
        elapsed = time.monotonic() - start
    # the pool is still usable and gives the same bits
    same = core.bsm_iv(*tenth).tobytes() == expected.tobytes()
    print(json.dumps({"elapsed": elapsed, "tenth": tenth_time, "same_bits": same}))
    """


def test_ctrl_c_interrupts_a_long_parallel_call():
    for _ in range(3):
        status, out, err = finish(spawn(INTERRUPTED_CALL, env={"RAYON_NUM_THREADS": "1"}))
        assert status == 0, err[-2000:]
        report = json.loads(out)
        # A generous bound: the whole call takes about ten times as long as a tenth of it.
        assert report["elapsed"] < 5 * report["tenth"], report
        assert report["same_bits"]
