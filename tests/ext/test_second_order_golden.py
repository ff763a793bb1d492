"""The second-order Greeks of karvex._ext against their golden table, bit for bit.

tests/data/golden_second.bin holds inputs and the exact results of an independent transcription
of the formulas (tools/reference/second_order.py, written by gen_golden_second.py), in the main
golden table's layout. The vectorised functions run on pieces below their serial limits and on
the whole table (the worker pool), the single passes too, and the scalar twins row by row; the
C++ path tests carry the same bits to every vector unit. Any two NaNs count as equal. On a
platform whose exp, log or cbrt differ from the table's fingerprint the tests are skipped.
"""

import inspect
import pathlib

import numpy as np
import pytest
from test_core_golden import mismatches, read_table

import karvex._ext as ext

TABLE = pathlib.Path(__file__).resolve().parents[1] / "data" / "golden_second.bin"
COLUMNS, MISMATCH = read_table(TABLE)
pytestmark = pytest.mark.skipif(
    MISMATCH is not None,
    reason=f"this platform's exp, log or cbrt differs from the golden table's ({MISMATCH})",
)
N = len(COLUMNS["s"])
GREEKS = {
    model: [c.split("_", 1)[1] for c in COLUMNS if c.startswith(f"{model}_")]
    for model in ("bsm", "black76")
}
FUNCTIONS = [(m, g) for m, greeks in GREEKS.items() for g in (*greeks, "second_order")]


def arguments(model, greek, rows=slice(None)):
    c = COLUMNS
    named = {**c, "f": c["s"]}
    params = inspect.signature(getattr(ext, f"{model}_{greek}")).parameters
    return [np.ascontiguousarray(named[p][rows]) for p in params if p != "out"]


def assert_table(model, greek, results, rows=slice(None), where=""):
    names = GREEKS[model] if greek == "second_order" else [greek]
    results = results if isinstance(results, tuple) else (results,)
    assert len(results) == len(names)
    for name, got in zip(names, results):
        want = COLUMNS[f"{model}_{name}"][rows]
        bad = mismatches(got, want)
        if len(bad):
            i = bad[0]
            args = [float(a[i]) for a in arguments(model, greek, rows)]
            raise AssertionError(
                f"{model}_{greek}{where}: {name} differs on {len(bad)} of {len(want)}; first at "
                f"{args}: {float(np.asarray(got)[i]).hex()} instead of {float(want[i]).hex()}"
            )


def test_the_table_covers_every_greek_and_reaches_the_pool():
    assert len(GREEKS["bsm"]) == 10 and len(GREEKS["black76"]) == 9
    assert N >= 16384


@pytest.mark.parametrize(("model", "greek"), FUNCTIONS)
def test_vectorised_function_returns_table_bits_serially_and_on_the_pool(model, greek):
    fn = getattr(ext, f"{model}_{greek}")
    assert_table(model, greek, fn(*arguments(model, greek)), where=" (pool)")
    for begin in range(0, N, 1000):
        rows = slice(begin, min(N, begin + 1000))
        assert_table(model, greek, fn(*arguments(model, greek, rows)), rows, " (serial)")


@pytest.mark.parametrize(("model", "greek"), FUNCTIONS)
def test_scalar_twin_returns_table_bits(model, greek):
    fn = getattr(ext, f"{model}_{greek}_scalar")
    got = [fn(*args) for args in zip(*(a.tolist() for a in arguments(model, greek)))]
    if greek == "second_order":
        assert_table(model, greek, tuple(np.array(f) for f in zip(*got)), where="_scalar")
    else:
        assert_table(model, greek, np.array(got), where="_scalar")
