"""The 32 core functions and the array API against the golden table, bit for bit.

tests/data/golden.bin holds inputs and the exact results of an independent transcription of the
formulas (tools/reference/bitexact.py, written by tools/reference/gen_golden.py). The vectorised
functions are run on pieces below their serial limits and on the whole table (on the worker
pool), the scalar twins row by row, and karvex.bsm / karvex.black76 on the rows whose inputs are
all finite (elsewhere their NaN rule and infinite-volatility limits apply by design). Any two
NaNs count as equal.

The results rest on the platform's exp, log and cbrt; the table carries their bits on a few
hundred arguments. Where this platform's functions differ, the tests are skipped and say so: the
tolerance tests against high-precision values remain the check there.
"""

import ctypes
import ctypes.util
import math
import pathlib
import re

import numpy as np
import pytest

from karvex import _core, black76, bsm

TABLE = pathlib.Path(__file__).resolve().parents[1] / "data" / "golden.bin"
QUANTITIES = ("price", "delta", "gamma", "vega", "theta", "rho", "iv")
MODELS = {"bsm": bsm, "black76": black76}


def _c_cbrt():
    """The C library's cbrt (math.cbrt calls it, from Python 3.11 on)."""
    if hasattr(math, "cbrt"):
        return math.cbrt
    libm = ctypes.CDLL(ctypes.util.find_library("m"))
    libm.cbrt.restype = ctypes.c_double
    libm.cbrt.argtypes = [ctypes.c_double]
    return libm.cbrt


PLATFORM = {"exp": math.exp, "log": math.log, "cbrt": _c_cbrt()}


def _platform_value(name, x):
    """The C library's value; Python raises where C returns inf, -inf or NaN."""
    try:
        return PLATFORM[name](x)
    except (OverflowError, ValueError):
        return math.inf if name == "exp" else (-math.inf if x == 0 else math.nan)


def read_table(table=TABLE):
    data = table.read_bytes()
    end = data.index(b"\n")
    header = data[:end].decode("ascii")
    assert header.startswith("karvex golden table 1;"), header
    at = end + 1
    mismatch = None
    for name in PLATFORM:
        count = int(re.search(rf"\b{name}=(\d+)", header).group(1))
        pairs = np.frombuffer(data, "<f8", 2 * count, at).reshape(count, 2)
        at += pairs.nbytes
        for x, want in pairs:
            got = _platform_value(name, float(x))
            if not same(got, float(want)) and mismatch is None:
                mismatch = (
                    f"{name}({float(x).hex()}) = {got.hex()}, the table's {float(want).hex()}"
                )
    inputs = re.search(r"inputs=([\w,]+)", header).group(1).split(",")
    outputs = re.search(r"outputs=([\w,]+)", header).group(1).split(",")
    rows = int(re.search(r"rows=(\d+)", header).group(1))
    block = np.frombuffer(data, "<f8", rows * (len(inputs) + len(outputs)), at)
    block = block.reshape(rows, len(inputs) + len(outputs))
    columns = {name: np.ascontiguousarray(block[:, i]) for i, name in enumerate(inputs + outputs)}
    columns["flag"] = columns["flag"].astype(np.int8)
    return columns, mismatch


def same(a, b):
    return (
        math.isnan(a)
        and math.isnan(b)
        or np.float64(a).view(np.uint64) == np.float64(b).view(np.uint64)
    )


COLUMNS, MISMATCH = read_table()
pytestmark = pytest.mark.skipif(
    MISMATCH is not None,
    reason=f"this platform's exp, log or cbrt differs from the golden table's ({MISMATCH}); "
    "the tolerance tests check this platform instead",
)
N = len(COLUMNS["s"])


def arguments(model, quantity, rows=slice(None)):
    """The inputs of one function in its parameter order, from the table's columns."""
    c = COLUMNS
    named = {
        "flag": c["flag"],
        "s": c["s"],
        "f": c["s"],
        "k": c["k"],
        "t": c["t"],
        "r": c["r"],
        "q": c["q"],
        "sigma": c["sigma"],
        "target_price": c[f"target_{model}"],
    }
    params = _core_parameters(model, quantity)
    return [np.ascontiguousarray(named[p][rows]) for p in params]


def _core_parameters(model, quantity):
    flagged = ["flag"] if quantity not in ("gamma", "vega") else []
    underlying = ["s"] if model == "bsm" else ["f"]
    rate = ["r", "q"] if model == "bsm" else ["r"]
    if quantity == "iv":
        return ["target_price", "flag", *underlying, "k", "t", *rate]
    return [*flagged, *underlying, "k", "t", *rate, "sigma"]


def expected(model, quantity, rows=slice(None)):
    if quantity == "greeks":
        return [COLUMNS[f"{model}_{g}"][rows] for g in QUANTITIES[1:6]]
    return [COLUMNS[f"{model}_{quantity}"][rows]]


def mismatches(got, want):
    """Indices where got and want differ (any two NaNs equal)."""
    got = np.asarray(got, np.float64)
    equal = (got.view(np.uint64) == want.view(np.uint64)) | (np.isnan(got) & np.isnan(want))
    return np.flatnonzero(~equal)


def assert_table(model, quantity, results, rows=slice(None), where=""):
    results = results if isinstance(results, tuple) else (results,)
    for field, (got, want) in enumerate(zip(results, expected(model, quantity, rows))):
        bad = mismatches(got, want)
        if len(bad):
            i = bad[0]
            args = [float(a[i]) for a in arguments(model, quantity, rows)]
            raise AssertionError(
                f"{model}_{quantity}{where}: {len(bad)} of {len(want)} differ (field {field}); "
                f"first at {args}: {float(np.asarray(got)[i]).hex()} instead of "
                f"{float(want[i]).hex()}"
            )


FUNCTIONS = [(m, q) for m in MODELS for q in (*QUANTITIES, "greeks")]


@pytest.mark.parametrize(("model", "quantity"), FUNCTIONS)
def test_vectorised_function_returns_table_bits_serially_and_on_the_pool(model, quantity):
    fn = getattr(_core, f"{model}_{quantity}")
    assert N >= 16384, "the whole table must reach every function's parallel limit"
    assert_table(model, quantity, fn(*arguments(model, quantity)), where=" (pool)")
    for begin in range(0, N, 1000):
        rows = slice(begin, min(N, begin + 1000))
        assert_table(model, quantity, fn(*arguments(model, quantity, rows)), rows, " (serial)")


@pytest.mark.parametrize(("model", "quantity"), FUNCTIONS)
def test_scalar_twin_returns_table_bits(model, quantity):
    fn = getattr(_core, f"{model}_{quantity}_scalar")
    columns = [a.tolist() for a in arguments(model, quantity)]
    got = [fn(*args) for args in zip(*columns)]
    if quantity == "greeks":
        got = tuple(np.array(field) for field in zip(*got))
    assert_table(model, quantity, got if quantity == "greeks" else np.array(got), where="_scalar")


@pytest.mark.parametrize(("model", "quantity"), FUNCTIONS)
def test_array_api_returns_table_bits_on_finite_inputs(model, quantity):
    params = _core_parameters(model, quantity)
    numbers = [a for a, p in zip(arguments(model, quantity), params) if p != "flag"]
    finite = np.flatnonzero(np.all([np.isfinite(a) for a in numbers], axis=0))
    fn = getattr(MODELS[model], quantity)
    got = fn(*arguments(model, quantity, finite))
    assert_table(model, quantity, got, finite, " (array API)")
