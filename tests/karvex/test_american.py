"""karvex.american: the array API over the American functions of karvex._ext (broadcasting,
flags, containers, units and the NaN rule as karvex.bsm), the modes and their errors."""

import math

import numpy as np
import pytest

import karvex
import karvex._ext as ext


def test_broadcasts_flag_words_and_gives_the_ext_functions_bits():
    s = np.array([[80.0, 100.0, 120.0]])
    t = np.array([[0.25], [1.0]])
    got = karvex.american.price("p", s, 100, t, 0.05, 0.02, 0.3)
    assert got.shape == (2, 3)
    flat = [np.broadcast_to(a, (2, 3)).ravel() for a in (s, t)]
    n = 6
    want = ext.american_price(
        np.full(n, -1, np.int8),
        flat[0],
        np.full(n, 100.0),
        flat[1],
        np.full(n, 0.05),
        np.full(n, 0.02),
        np.full(n, 0.3),
    )
    assert np.array_equal(got.ravel(), want)
    assert karvex.american.price("p", 90, 100, 1, 0.05, 0.02, 0.3) == ext.american_price_scalar(
        -1, 90, 100, 1, 0.05, 0.02, 0.3
    )


def test_modes_and_a_wrong_mode():
    args = (110, 100, 0.5, 0.03, 0.06, 0.25)
    fast = karvex.american.price("c", *args, mode="fast")
    assert fast == ext.american_fast_price_scalar(1, *args)
    precise = karvex.american.price("c", *args, mode="precise")
    assert precise == ext.american_precise_price_scalar(1, *args)
    with pytest.raises(ValueError, match="mode must be 'accurate', 'fast' or 'precise'"):
        karvex.american.price("c", *args, mode="exact")


def test_out_receives_the_prices():
    out = np.full(3, -1.0)
    s = np.array([90.0, 100.0, 110.0])
    got = karvex.american.price("p", s, 100.0, 0.5, 0.05, 0.02, 0.3, out=out)
    assert got is out
    assert np.array_equal(out, karvex.american.price("p", s, 100.0, 0.5, 0.05, 0.02, 0.3))


def test_greeks_units_series_and_the_nan_rule():
    pd = pytest.importorskip("pandas")
    s = pd.Series([90.0, 100.0, math.nan], index=["a", "b", "c"])
    g = karvex.american.greeks("p", s, 100, 0.5, 0.05, 0.0, 0.3, units="desk")
    assert list(g.index) == ["a", "b", "c"]
    raw = karvex.american.greeks("p", 100.0, 100, 0.5, 0.05, 0.0, 0.3)
    assert g["vega"]["b"] == raw.vega * 0.01
    assert g.isna().loc["c"].all()
    # sigma = +inf has no limit here: NaN, as the kernels give it
    assert math.isnan(karvex.american.price("p", 100, 100, 0.5, 0.05, 0.0, math.inf))


def test_iv_inverts_the_price_and_is_nan_outside_the_bounds():
    sigma = np.array([0.15, 0.3, 0.6])
    p = karvex.american.price("p", 95, 100, 0.75, 0.04, 0.01, sigma)
    assert np.allclose(karvex.american.iv(p, "p", 95, 100, 0.75, 0.04, 0.01), sigma, atol=1e-9)
    assert math.isnan(karvex.american.iv(101.0, "p", 95, 100, 0.75, 0.04, 0.01))
    assert math.isnan(karvex.american.iv(4.0, "p", 95, 100, 0.75, 0.04, 0.01))


def test_iv_status_names_each_reason_as_the_chain_does():
    pd = pytest.importorskip("pandas")
    p = karvex.american.price("p", 95, 100, 0.75, 0.04, 0.01, 0.3)
    prices = pd.Series([p, 5.0, 4.0, 101.0, p, p], index=list("abcdef"))
    s = np.array([95.0, 95.0, 95.0, 95.0, -95.0, 95.0])
    r = np.array([0.04, 0.04, 0.04, 0.04, 0.04, -0.01])
    q = np.array([0.01, 0.01, 0.01, 0.01, 0.01, -0.02])
    got = karvex.american.iv_status(prices, "p", s, 100, 0.75, r, q)
    assert list(got.index) == list("abcdef")
    assert list(got) == [
        "ok",
        "intrinsic",
        "below_intrinsic",
        "above_upper_bound",
        "invalid_input",
        "two_boundaries",
    ]
    assert np.isnan(karvex.american.price("p", 95, 100, 0.75, -0.01, -0.02, 0.3))
    # A call's two-boundary regime mirrors the put's; the scalar form gives a str.
    assert karvex.american.iv_status(5.0, "c", 100, 95, 0.75, -0.02, -0.01) == "two_boundaries"
    assert karvex.american.iv_status(p, "p", 95, 100, 0.75, 0.04, 0.01, mode="fast") == "ok"
