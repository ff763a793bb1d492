"""Tests of tools/equivalence's inputs (the builds it compares are not made here)."""

import math
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parents[2]


def no_prices(cols):
    n = len(cols["s"])
    return np.full(n, 1.0), np.full(n, 2.0)


def bits(a):
    return set(np.asarray(a, dtype=float).view(np.uint64).tolist())


def test_every_parameter_takes_every_special_value(equivalence):
    cols = equivalence.degenerate_chunk(np.random.default_rng([1, 0]), no_prices)
    specials = bits(equivalence.SPECIALS)
    assert len(specials) == len(equivalence.SPECIALS)  # -0.0 and -NaN are values of their own
    for name in ("s", "k", "t", "r", "q", "sigma", "target", "target76", "x", "v"):
        assert specials <= bits(cols[name]), name
    assert set(cols["flag"].tolist()) == {-1, 0, 1}
    # the targets not set to a special are the prices
    assert 1.0 in cols["target"] and 2.0 in cols["target76"]


def test_random_options_are_a_function_of_the_seed(equivalence):
    a = equivalence.random_chunk(np.random.default_rng([7, 1]), 5000, no_prices)
    b = equivalence.random_chunk(np.random.default_rng([7, 1]), 5000, no_prices)
    c = equivalence.random_chunk(np.random.default_rng([8, 1]), 5000, no_prices)
    assert all(np.array_equal(a[k], b[k]) for k in equivalence.INPUTS)
    assert not np.array_equal(a["s"], c["s"])
    assert all(len(a[k]) == 5000 for k in (*equivalence.INPUTS, "kind"))


def test_the_random_options_reach_every_region_of_the_normalised_black_function(equivalence):
    cols = equivalence.random_chunk(np.random.default_rng([1, 1]), 20000, no_prices)
    x, v = -np.abs(cols["x"]), cols["v"]
    t = v / 2
    ok = np.isfinite(x) & (v > 0)
    x, v, t = x[ok], v[ok], t[ok]
    asymptotic = (x < v * -10.0) & (x + v * t < v * equivalence.ETA_PLUS_TAU)
    small = ~asymptotic & (t < equivalence.TAU)
    phi = ~asymptotic & ~small & (x + v * t > v * 0.85)
    erfcx = ~asymptotic & ~small & ~phi
    for region in (asymptotic, small, phi, erfcx):
        assert region.sum() > 500
    # and rows on the boundary h = -10 to within a few ulps
    assert np.any(np.abs(x / v + 10.0) < 8 * math.ulp(10.0))
