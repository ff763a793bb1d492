"""The second-order Greeks in the array API: the functions, their bits (those of karvex._ext on
the broadcast arrays, and of the golden table), the NaN rule and the limits at infinite
volatility, containers, and out=."""

import math
import pathlib
import sys

import numpy as np
import pytest

from karvex import _ext, black76, bsm
from karvex._array import SECOND_ORDER_NAMES

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "bindings"))
from test_core_golden import mismatches, read_table  # noqa: E402

SIDE_FREE = ("vanna", "volga", "veta", "speed", "zomma", "color", "dual_gamma")


def bits(a):
    return np.asarray(a, np.float64).view(np.uint64)


def args_of(model, name, k):
    flag = () if name in SIDE_FREE else ("p",)
    rates = (0.03, 0.01) if model == "bsm" else (0.03,)
    return (*flag, 100.0, k, 0.75, *rates, 0.25)


def test_each_model_has_the_second_order_greeks_black76_without_dividend_rho():
    for name in (*SECOND_ORDER_NAMES, "second_order"):
        assert callable(getattr(bsm, name)) and name in bsm.__all__
    assert not hasattr(black76, "dividend_rho")
    assert bsm.SecondOrder._fields == SECOND_ORDER_NAMES
    assert black76.Black76SecondOrder._fields == SECOND_ORDER_NAMES[:-1]


@pytest.mark.parametrize("model", ["bsm", "black76"])
def test_broadcast_results_are_the_ext_functions_bits(model):
    k = np.array([[80.0, 100.0, 125.0]] * 2)
    module = bsm if model == "bsm" else black76
    whole = module.second_order(*args_of(model, "charm", k))
    assert whole.vanna.shape == (2, 3)
    flat = [np.full(6, -1, np.int8)] + [
        np.ascontiguousarray(np.broadcast_to(a, (2, 3)), np.float64).ravel()
        for a in args_of(model, "charm", k)[1:]
    ]
    direct = getattr(_ext, f"{model}_second_order")(*flat)
    for name, got, want in zip(whole._fields, whole, direct):
        assert np.array_equal(bits(got).ravel(), bits(want)), name
        single = getattr(module, name)(*args_of(model, name, k))
        assert np.array_equal(bits(single), bits(got)), name


def test_scalar_input_gives_floats_and_the_scalar_twins_bits():
    got = bsm.second_order("c", 100.0, 95.0, 0.5, 0.03, 0.01, 0.2)
    assert all(type(v) is float for v in got)
    assert got == bsm.SecondOrder(
        *_ext.bsm_second_order_scalar(1, 100.0, 95.0, 0.5, 0.03, 0.01, 0.2)
    )
    assert bsm.vanna(100.0, 95.0, 0.5, 0.03, 0.01, 0.2) == got.vanna


def test_nan_inputs_give_nan_and_infinite_volatility_the_limits():
    nan = bsm.second_order("c", 100.0, 95.0, 0.5, math.nan, 0.01, 0.2)
    assert all(math.isnan(v) for v in nan)
    for flag in ("c", "p"):
        limit = bsm.second_order(flag, [100.0], 95.0, 0.5, 0.03, 0.01, math.inf)
        far = bsm.second_order(flag, [100.0], 95.0, 0.5, 0.03, 0.01, 1e8)
        for name, a, b in zip(limit._fields, limit, far):
            assert np.allclose(a, b, rtol=1e-12, atol=1e-12), (flag, name, a, b)
        scalar = bsm.second_order(flag, 100.0, 95.0, 0.5, 0.03, 0.01, math.inf)
        assert np.array_equal(bits(list(scalar)), bits([a[0] for a in limit]))
    b76 = black76.second_order("c", 100.0, 95.0, 0.5, 0.03, math.inf)
    assert b76.charm == 0.03 * math.exp(-0.03 * 0.5) and len(b76) == 9


def test_containers_keep_their_index_and_names():
    pd = pytest.importorskip("pandas")
    strikes = pd.Series([90.0, 100.0], index=["a", "b"])
    frame = bsm.second_order("c", 100.0, strikes, 1.0, 0.03, 0.0, 0.2)
    assert list(frame.columns) == list(SECOND_ORDER_NAMES) and list(frame.index) == ["a", "b"]
    series = bsm.zomma(100.0, strikes, 1.0, 0.03, 0.0, 0.2)
    assert series.name == "zomma" and list(series.index) == ["a", "b"]
    xr = pytest.importorskip("xarray")
    da = xr.DataArray([90.0, 100.0], dims=["strike"], coords={"strike": [90, 100]})
    dataset = black76.second_order("p", 100.0, da, 1.0, 0.03, 0.2)
    assert set(dataset.data_vars) == set(SECOND_ORDER_NAMES[:-1])


def test_out_receives_the_single_pass_without_a_copy(monkeypatch):
    k = np.array([[90.0, 100.0, 110.0]] * 2)
    want = bsm.second_order("p", 100.0, k, 0.5, 0.03, 0.0, [0.2, np.nan, np.inf])
    copies = []
    monkeypatch.setattr(np, "copyto", lambda *a, **kw: copies.append(a))
    outs = tuple(np.empty((2, 3)) for _ in range(10))
    got = bsm.second_order("p", 100.0, k, 0.5, 0.03, 0.0, [0.2, np.nan, np.inf], out=outs)
    assert copies == [] and all(g is o for g, o in zip(got, outs))
    for g, w in zip(got, want):
        assert np.array_equal(bits(g), bits(w))
    with pytest.raises(TypeError, match="out must be a tuple of 9 float64 arrays"):
        black76.second_order("p", 100.0, k, 0.5, 0.03, 0.2, out=outs)


TABLE = pathlib.Path(__file__).resolve().parents[1] / "data" / "golden_second.bin"


@pytest.mark.parametrize("model", ["bsm", "black76"])
def test_array_api_returns_the_golden_tables_bits_on_finite_inputs(model):
    c, mismatch = read_table(TABLE)
    if mismatch is not None:
        pytest.skip(f"this platform's exp, log or cbrt differs from the table's ({mismatch})")
    columns = [c["s"], c["k"], c["t"], c["r"], *([c["q"]] if model == "bsm" else []), c["sigma"]]
    finite = np.flatnonzero(np.all([np.isfinite(a) for a in columns], axis=0))
    module = bsm if model == "bsm" else black76
    got = module.second_order(c["flag"][finite], *(a[finite] for a in columns))
    for name, values in zip(got._fields, got):
        assert len(mismatches(values, c[f"{model}_{name}"][finite])) == 0, name
