"""karvex.set_num_threads: the pool's size set in code, before the pool starts (each case in a
fresh process, since the pool lives as long as its process)."""

import os
import subprocess
import sys

import pytest

# Python run in a fresh process; prints what the test compares.
POOL = """
import os, sys
import karvex
{setup}
import numpy as np
before = len(os.listdir("/proc/self/task"))
karvex.bsm.iv(np.full({n}, 10.0), "c", 100.0, 100.0, 1.0, 0.05, 0.0)
print(len(os.listdir("/proc/self/task")) - before)
try:
    karvex.set_num_threads(1)
except RuntimeError as exc:
    print(exc)
"""


def run(code, **env):
    environ = {k: v for k, v in os.environ.items() if not k.startswith("RAYON")} | env
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=environ)
    assert out.returncode == 0, out.stderr
    return out.stdout.splitlines()


@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="counts threads in /proc")
def test_the_size_set_in_code_is_the_pools_and_cannot_change_once_it_runs():
    got = run(POOL.format(setup="karvex.set_num_threads(3)", n=5000))
    assert got[0] == "3"
    assert got[1].startswith("set_num_threads(): the worker pool has started and keeps its size")
    # The environment variable is honoured as ever, and a small call starts no pool.
    assert run(POOL.format(setup="", n=5000), RAYON_NUM_THREADS="2")[0] == "2"
    assert run(POOL.format(setup="karvex.set_num_threads(2)", n=1000)) == ["0"]


def test_set_num_threads_checks_its_argument_and_does_not_import_numpy():
    code = (
        "import sys, karvex\n"
        "for n in (True, 2.0, -1, 1025):\n"
        "    try:\n"
        "        karvex.set_num_threads(n)\n"
        "    except (TypeError, ValueError) as exc:\n"
        "        print(type(exc).__name__, exc)\n"
        "karvex.set_num_threads(0)\n"
        "import os; print(os.environ['RAYON_NUM_THREADS'], 'numpy' in sys.modules)\n"
    )
    assert run(code) == [
        "TypeError set_num_threads(): n must be an int, not bool",
        "TypeError set_num_threads(): n must be an int, not float",
        "ValueError set_num_threads(): n must be from 0 to 1024, not -1",
        "ValueError set_num_threads(): n must be from 0 to 1024, not 1025",
        "0 False",
    ]
