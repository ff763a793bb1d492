"""The American functions of karvex._ext: the vectorised functions give the scalar twins' bits
serially and on the worker pool, the three modes agree to their accuracy, NaN and the statuses'
conventions reach Python, Greeks and implied volatilities round-trip."""

import math

import numpy as np
import pytest
from core_support import assert_same_bits

import karvex._ext as ext


def book(n, seed=3):
    rng = np.random.default_rng(seed)
    flag = np.where(rng.random(n) < 0.5, -1, 1).astype(np.int8)
    s = rng.uniform(50, 160, n)
    k = np.full(n, 100.0)
    t = rng.uniform(0.02, 2.0, n)
    r = rng.uniform(-0.02, 0.1, n)
    q = rng.uniform(-0.02, 0.12, n)
    sigma = rng.uniform(0.05, 0.8, n)
    return flag, s, k, t, r, q, sigma


@pytest.mark.parametrize("n", [1, 63, 64, 700])  # about the serial limit, and on the pool
def test_vectorised_prices_and_greeks_are_the_scalar_twins_bits(n):
    args = book(n)
    prices = ext.american_price(*args)
    greeks = ext.american_greeks(*args)
    for i in range(0, n, max(1, n // 40)):
        one = [a[i] for a in args]
        assert_same_bits(prices[i : i + 1], np.array([ext.american_price_scalar(*one)]))
        assert_same_bits(
            np.array([g[i] for g in greeks]), np.array(ext.american_greeks_scalar(*one))
        )


@pytest.mark.parametrize(
    ("mode", "bound"), [("american_fast_price", 5e-3), ("american_precise_price", 5e-5)]
)
def test_the_modes_agree_with_the_accurate_one_to_the_coarser_ones_accuracy(mode, bound):
    args = book(500)
    other, accurate = getattr(ext, mode)(*args), ext.american_price(*args)
    both = ~np.isnan(accurate)
    assert np.array_equal(both, ~np.isnan(other))
    assert np.max(np.abs(other[both] - accurate[both])) < bound


def test_uncovered_regimes_and_invalid_inputs_are_nan_and_calls_without_early_exercise_european():
    import karvex._core as core

    assert math.isnan(ext.american_price_scalar(-1, 90, 100, 1, -0.01, -0.03, 0.2))
    assert math.isnan(ext.american_price_scalar(-1, math.nan, 100, 1, 0.05, 0, 0.2))
    assert ext.american_price_scalar(1, 105, 100, 0.5, 0.04, 0.0, 0.2) == core.bsm_price_scalar(
        1, 105, 100, 0.5, 0.04, 0.0, 0.2
    )


def test_implied_volatility_round_trips_where_vega_is_not_negligible():
    flag, s, k, t, r, q, sigma = book(300, seed=5)
    r = np.abs(r)
    prices = ext.american_price(flag, s, k, t, r, q, sigma)
    vega = ext.american_greeks(flag, s, k, t, r, q, sigma)[2]
    iv = ext.american_iv(prices, flag, s, k, t, r, q)
    live = vega >= 1e-4
    assert live.sum() > 200
    assert np.max(np.abs(iv[live] - sigma[live])) < 1e-8
    assert math.isnan(ext.american_iv_scalar(101.0, -1, 90, 100, 1, 0.05, 0.0))  # above k
    assert math.isnan(ext.american_iv_scalar(5.0, -1, 90, 100, 1, 0.05, 0.0))  # below intrinsic
