"""The normal model's functions in karvex._ext against their golden table, bit for bit: the
vectorised functions on the calling thread and on the worker pool, and the scalar twins.

tests/data/golden_normal.bin holds the exact results of a plain-Python transcription
(tools/reference/bachelier_exact.py). Any two NaNs count as equal (the path tests pin NaN
bits); on a platform whose exp, log or cbrt differ from the table's fingerprint the test is
skipped and says so."""

import pathlib

import numpy as np
import pytest
from test_core_golden import read_table, same

import karvex._ext as ext

TABLE = pathlib.Path(__file__).resolve().parents[1] / "data" / "golden_normal.bin"
QUANTITIES = ("price", "delta", "gamma", "vega", "theta", "rho", "iv")


@pytest.fixture(scope="module")
def table():
    columns, mismatch = read_table(TABLE)
    if mismatch is not None:
        pytest.skip(f"this platform's functions differ from the table's: {mismatch}")
    return columns


def arguments(c, quantity):
    if quantity in ("gamma", "vega"):
        return (c["f"], c["k"], c["t"], c["r"], c["sigma"])
    if quantity == "iv":
        return (c["target"], c["flag"], c["f"], c["k"], c["t"], c["r"])
    return (c["flag"], c["f"], c["k"], c["t"], c["r"], c["sigma"])


def assert_table(got, want):
    nan = np.isnan(got) & np.isnan(want)
    assert np.array_equal(got[~nan].view(np.uint64), want[~nan].view(np.uint64))
    assert (np.isnan(got) == np.isnan(want)).all()


@pytest.mark.parametrize("quantity", QUANTITIES)
def test_vectorised_functions_return_the_table_bits(table, quantity):
    args = arguments(table, quantity)
    fn = getattr(ext, f"normal_{quantity}")
    assert_table(fn(*args), table[quantity])  # the whole table: the worker pool
    pieces = [fn(*(a[i : i + 500] for a in args)) for i in range(0, len(args[0]), 500)]
    assert_table(np.concatenate(pieces), table[quantity])  # below every serial limit
    if quantity in ("delta", "gamma", "vega", "theta", "rho"):
        field = ("delta", "gamma", "vega", "theta", "rho").index(quantity)
        assert_table(ext.normal_greeks(*arguments(table, "greeks"))[field], table[quantity])


@pytest.mark.parametrize("quantity", QUANTITIES)
def test_scalar_twins_return_the_table_bits(table, quantity):
    args = arguments(table, quantity)
    fn = getattr(ext, f"normal_{quantity}_scalar")
    for i in range(0, len(args[0]), 7):
        got = fn(*(a[i].item() for a in args))
        assert same(got, table[quantity][i].item()), (quantity, i)
