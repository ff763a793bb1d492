"""Fuzz smoke test of the module's boundary: the 32 functions of karvex._core and the 16 of the
array API called with hostile arguments (wrong types and counts, keywords, subclasses, objects whose
conversions raise or lie, non-finite values, odd array layouts and element types, lengths on both
sides of the serial limits) for a bounded time.

Each worker runs in a process of its own, so that a crash (a signal, or a sanitizer's report) is
seen as such, with the seed and the call that caused it. A call may raise any ordinary exception;
SystemError (an error return without an exception, or the reverse) and PanicException are faults,
and so is a successful core call whose element differs from its scalar twin.

KARVEX_FUZZ_SECONDS sets the time per worker (default 4; the test command gives the run against the
sanitizer build a minute), KARVEX_FUZZ_SEED the seed (default: from the clock, shown on failure).
"""

import decimal
import fractions
import json
import math
import os
import random
import resource
import subprocess
import sys
import time
import warnings

import numpy as np
from core_support import SCALAR, VECTORISED, parameters

import karvex
import karvex._core as core

WORKERS = 2
LENGTHS = [0, 1, 2, 7, 100, 1023, 1024, 4096, 8192, 16384, 20000]
SPECIAL = [
    0.0,
    -0.0,
    1.0,
    -1.0,
    math.inf,
    -math.inf,
    math.nan,
    1e308,
    -1e308,
    5e-324,
    1e-300,
    2.0**53,
    100.0,
    0.05,
]


class Boom(Exception):
    """Raised by the hostile objects below."""


class RaisingFloat:
    def __float__(self):
        raise Boom("__float__")


class FloatReturningText:
    def __float__(self):
        return "0.5"


class RaisingIndex:
    def __index__(self):
        raise Boom("__index__")


class FloatSubclass(float):
    def __float__(self):
        raise Boom("subclass __float__")


class IntSubclass(int):
    def __index__(self):
        raise Boom("subclass __index__")


class RaisingArray:
    def __array__(self, dtype=None, copy=None):
        raise Boom("__array__")


class WrongArray:
    def __array__(self, dtype=None, copy=None):
        return "not an array"


class LyingSequence:
    def __len__(self):
        return 5

    def __getitem__(self, i):
        if i < 3:
            return 1.0
        raise IndexError(i)


class ArraySubclass(np.ndarray):
    pass


HOSTILE = [
    None,
    "c",
    "p",
    "Put",
    " call ",
    "x",
    "",
    b"c",
    True,
    False,
    10**400,
    -(10**400),
    2**63,
    -129,
    128,
    1.5,
    3 + 0j,
    decimal.Decimal("1.5"),
    fractions.Fraction(1, 3),
    RaisingFloat(),
    FloatReturningText(),
    RaisingIndex(),
    FloatSubclass(1.0),
    IntSubclass(1),
    RaisingArray(),
    WrongArray(),
    LyingSequence(),
    [],
    [1.0, "x"],
    [[1.0], [2.0, 3.0]],
    {"a": 1},
    object(),
    np.float32(2.5),
    np.int64(-3),
    np.bool_(True),
    np.array(2.0),
    np.array("c"),
]


def values(rng, n, flag):
    """n plausible or degenerate values as float64 (int8 signs for a flag)."""
    if flag:
        return np.array([rng.choice((1, -1, 0, 127, -128)) for _ in range(n)], np.int8)
    out = np.array([rng.lognormvariate(0.0, 2.0) for _ in range(min(n, 64))] or [0.0])
    out = np.resize(out, n)
    for _ in range(rng.randrange(4) if n else 0):
        out[rng.randrange(n)] = rng.choice(SPECIAL)
    return out


def array(rng, n, flag):
    """An array-like of length n (or of another shape) in one of many layouts and types."""
    x = values(rng, n, flag)
    kind = rng.randrange(20)
    if kind < 6:
        return x
    if kind == 6:
        return x.astype(
            rng.choice(
                [
                    np.float32,
                    np.int64,
                    np.int8,
                    np.uint8,
                    np.bool_,
                    np.complex128,
                    np.float16,
                    object,
                    "U3",
                    ">f8",
                    "<i2",
                ]
            )
        )
    if kind == 7:
        return np.repeat(x, 2)[::2]  # strided
    if kind == 8:
        return x[::-1]  # negative stride
    if kind == 9:  # (n, 1) broadcasts against (n,) to n x n: kept small
        shapes = [(1, n), (n,)] + ([(n, 1)] if n <= 100 else [])
        return x.reshape(rng.choice(shapes)).copy(order=rng.choice("CF"))
    if kind == 10:
        raw = bytearray(x.nbytes + 1)
        misaligned = np.frombuffer(raw, dtype=x.dtype, count=n, offset=1)
        misaligned[:] = x
        return misaligned
    if kind == 11:
        x.flags.writeable = False
        return x
    if kind == 12:
        return x.view(ArraySubclass)
    if kind == 13:
        return np.ma.masked_array(x, mask=[rng.random() < 0.3 for _ in range(n)])
    if kind == 14:
        return x.tolist()
    if kind == 15:
        return tuple(x.tolist())
    if kind == 16:
        return np.broadcast_to(x[:1], (n,)) if n else x
    if kind == 17:
        return x[: rng.randrange(n + 1)] if n else x  # another length
    if kind == 18:
        try:
            import pandas

            return pandas.Series(x, index=rng.choice([None, list(range(n))[::-1]]))
        except ImportError:
            return x
    return rng.choice(HOSTILE)


def argument(rng, n, name):
    if rng.random() < 0.1:
        return rng.choice(HOSTILE)
    if rng.random() < 0.2:  # a scalar
        return rng.choice(SPECIAL + ["c", "p", 1, -1]) if name == "flag" else rng.choice(SPECIAL)
    return array(rng, n, name == "flag")


def functions():
    """(name, function, parameter names, scalar twin or None) of everything under test."""
    out = [
        (name, getattr(core, name), parameters(name), getattr(core, name + "_scalar"))
        for name in VECTORISED
    ]
    out += [(name, getattr(core, name), parameters(name), None) for name in SCALAR]
    for model in ("bsm", "black76"):
        module = getattr(karvex, model)
        for quantity in ("price", "delta", "gamma", "vega", "theta", "rho", "greeks", "iv"):
            name = f"{model}.{quantity}"
            out.append((name, getattr(module, quantity), parameters(f"{model}_{quantity}"), None))
    return out


def make_call(rng, names):
    """Arguments of one call: valid arrays of one length, none to all of them replaced by another
    argument; sometimes too few or too many, or passed by keyword."""
    n = rng.choice(LENGTHS)
    args = [values(rng, n, name == "flag") for name in names]
    for j in rng.sample(range(len(names)), rng.choice([0, 0, 1, 1, 1, 2, len(names)])):
        args[j] = argument(rng, n, names[j])
    kwargs = {}
    shape = rng.random()
    if shape < 0.05:
        args = args[: rng.randrange(len(args))]
    elif shape < 0.1:
        args.append(rng.choice(HOSTILE))
    elif shape < 0.3:
        keep = rng.randrange(len(args) + 1)
        kwargs = dict(zip(names[keep:], args[keep:]))
        args = args[:keep]
        if rng.random() < 0.2:
            kwargs[rng.choice(names + ["vol", "flag", ""])] = rng.choice(HOSTILE)
    return args, kwargs


def same_bits(a, b):
    """Equal representations, a NaN's sign and payload included."""
    return np.float64(a).tobytes() == np.float64(b).tobytes()


def check_element(name, twin, args, result):
    """Element i of a successful core call against the scalar twin on the same inputs."""
    n = len(args[0])
    if n == 0:
        return None
    i = n // 2
    row = [int(a[i]) if a.dtype == np.int8 else float(a[i]) for a in args]
    expected = twin(*row)
    got = [r[i] for r in result] if isinstance(result, tuple) else [result[i]]
    expected = list(expected) if isinstance(expected, tuple) else [expected]
    if not all(same_bits(g, e) for g, e in zip(got, expected)):
        return f"{name} element {i}: {got} != scalar {expected}"
    return None


def describe(name, args, kwargs):
    def one(a):
        if isinstance(a, np.ndarray):
            return f"ndarray({a.dtype}, shape={a.shape}, strides={a.strides}, {type(a).__name__})"
        if isinstance(a, (list, tuple)) or hasattr(a, "index"):
            return f"{type(a).__name__} of {len(a)}"
        return repr(a)[:60]

    return f"{name}({', '.join(map(one, args))}; {', '.join(f'{k}={one(v)}' for k, v in kwargs.items())})"


def work(seed, seconds, log_path):
    """One worker: random calls until the time is up; exits 0, or 3 with faults on stderr."""
    warnings.simplefilter("ignore")
    if os.environ.get("KARVEX_SANITIZED") != "1":  # that runtime reserves terabytes up front
        # A call that tries to allocate without bound fails (MemoryError is a fault) instead of
        # taking the machine's memory.
        resource.setrlimit(resource.RLIMIT_AS, (4 << 30, resource.RLIM_INFINITY))
    rng = random.Random(seed)
    table = functions()
    log = os.open(log_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC)
    faults, calls, deadline = [], 0, time.monotonic() + seconds
    while time.monotonic() < deadline and len(faults) < 5:
        name, fn, names, twin = rng.choice(table)
        args, kwargs = make_call(rng, names)
        text = describe(name, args, kwargs).encode()
        os.pwrite(log, text.ljust(4096)[:4096], 0)  # the call in progress, for a crash report
        calls += 1
        try:
            result = fn(*args, **kwargs)
        except (SystemError, MemoryError) as e:
            faults.append(f"{type(e).__name__}: {e} in {text.decode()}")
            continue
        except Exception:
            continue
        except BaseException as e:  # PanicException
            faults.append(f"{type(e).__name__}: {e} in {text.decode()}")
            continue
        if twin is not None and not kwargs and all(type(a) is np.ndarray for a in args):
            fault = check_element(name, twin, args, result)
            if fault:
                faults.append(fault)
    os.close(log)
    print(json.dumps({"calls": calls, "faults": faults}))
    sys.exit(3 if faults else 0)


def test_hostile_calls_never_crash_or_fail_internally(tmp_path):
    seconds = float(os.environ.get("KARVEX_FUZZ_SECONDS", "4"))
    seed = int(os.environ.get("KARVEX_FUZZ_SEED", time.time_ns() % 10**9))
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    workers = []
    for w in range(WORKERS):
        log = tmp_path / f"worker{w}.log"
        code = f"import test_core_fuzz as f; f.work({seed + w}, {seconds}, {str(log)!r})"
        workers.append(
            (
                seed + w,
                log,
                subprocess.Popen(
                    [sys.executable, "-c", code],
                    env=environment,
                    stdout=subprocess.PIPE,
                    stderr=subprocess.PIPE,
                    text=True,
                ),
            )
        )
    problems, total = [], 0
    for worker_seed, log, process in workers:
        try:
            out, err = process.communicate(timeout=seconds + 300)
        except subprocess.TimeoutExpired:
            process.kill()
            out, err = process.communicate()
        if process.returncode == 0:
            total += json.loads(out)["calls"]
            continue
        last = log.read_bytes().rstrip().decode(errors="replace") if log.exists() else "?"
        problems.append(
            f"seed {worker_seed}: exit {process.returncode}; last call {last}\n"
            f"{out[-3000:]}{err[-3000:]}"
        )
    assert not problems, "\n\n".join(problems)
    assert total > 0
