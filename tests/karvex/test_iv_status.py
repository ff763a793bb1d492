"""karvex.bsm.iv_status / karvex.black76.iv_status: one status per option, agreeing with iv."""

import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from karvex import _array, _core, black76, bsm

MODELS = {"bsm": bsm, "black76": black76}


def boundary_sample(model, n=3000, seed=5):
    """Prices at and around every bound the inversion tests -- the intrinsic value (with the
    1e-12 tolerance), the upper bound, zero -- plus ordinary prices and invalid inputs."""
    rng = np.random.default_rng(seed)
    flag = rng.choice(np.array([-1, 1], np.int8), n)
    s, k = rng.uniform(50.0, 150.0, n), rng.uniform(50.0, 150.0, n)
    t, r, q = rng.uniform(0.01, 3.0, n), rng.uniform(-0.02, 0.08, n), rng.uniform(0.0, 0.05, n)
    if model == "black76":
        q = r
    put = flag < 0
    intrinsic = _core.bsm_price(flag, s, k, t, r, q, np.zeros(n))
    upper = np.where(put, k * np.exp(-r * t), s * np.exp(-q * t))
    live = _core.bsm_price(flag, s, k, t, r, q, rng.uniform(0.05, 1.0, n))
    choices = [
        live,
        intrinsic,
        intrinsic - 1e-12,
        intrinsic - 2e-12,
        np.nextafter(intrinsic, 0),
        np.nextafter(intrinsic, np.inf),
        upper,
        np.nextafter(upper, 0),
        upper * (1 - 1e-10),
        upper + 1e-13,
        upper * 1.5,
        np.zeros(n),
        -live,
        np.full(n, np.nan),
    ]
    price = np.choose(rng.integers(0, len(choices), n), choices)
    for a in (s, k, t, r):
        a[rng.random(n) < 0.01] = rng.choice([0.0, -1.0, np.inf, np.nan])
    args = {"target_price": price, "flag": flag, "s": s, "f": s, "k": k, "t": t, "r": r, "q": q}
    return [args[name] for name in _array.parameters(model, "iv")]


def check_agreement(model, args):
    iv = MODELS[model].iv(*args)
    status = MODELS[model].iv_status(*args)
    assert status.shape == iv.shape
    np.testing.assert_array_equal(status == "ok", np.isfinite(iv) & (iv > 0))
    np.testing.assert_array_equal(status == "intrinsic", iv == 0.0)
    assert set(np.unique(status[np.isnan(iv)])) <= {
        "below_intrinsic",
        "above_upper_bound",
        "invalid_input",
        "no_solution",
    }
    return iv, status


@pytest.mark.parametrize("model", MODELS)
def test_status_agrees_with_iv_on_every_element_at_the_boundaries(model):
    args = boundary_sample(model)
    iv, status = check_agreement(model, args)
    price, flag = args[0], args[1]
    s, k, t, r = args[2], args[3], args[4], args[5]
    q = r if model == "black76" else args[6]
    with np.errstate(all="ignore"):
        valid = (
            np.isfinite(s)
            & np.isfinite(k)
            & np.isfinite(t)
            & np.isfinite(r)
            & (s > 0)
            & (k > 0)
            & (t > 0)
            & np.isfinite(price)
            & (price >= 0)
        )
        intrinsic = _core.bsm_price(flag, s, k, t, r, q, np.zeros(len(s)))
    np.testing.assert_array_equal(status == "invalid_input", ~valid)
    np.testing.assert_array_equal(status == "below_intrinsic", valid & (price < intrinsic - 1e-12))
    assert {"ok", "intrinsic", "below_intrinsic", "above_upper_bound", "invalid_input"} <= set(
        status.tolist()
    )


@settings(max_examples=60, deadline=None)
@given(st.sampled_from(list(MODELS)), st.integers(0, 2**32 - 1))
def test_status_agrees_with_iv_on_random_inputs(model, seed):
    rng = np.random.default_rng(seed)
    n = 64
    args = {
        "target_price": rng.uniform(-1.0, 120.0, n),
        "flag": rng.choice(np.array([-1, 1], np.int8), n),
        "s": rng.uniform(-10.0, 200.0, n),
        "f": rng.uniform(-10.0, 200.0, n),
        "k": rng.uniform(-10.0, 200.0, n),
        "t": rng.uniform(-0.5, 5.0, n),
        "r": rng.uniform(-0.1, 0.2, n),
        "q": rng.uniform(-0.1, 0.2, n),
    }
    check_agreement(model, [args[n] for n in _array.parameters(model, "iv")])


def test_scalars_give_a_status_word_and_series_a_status_series():
    assert bsm.iv_status(10.450583572185575, "c", 100, 100, 1.0, 0.05, 0.0) == "ok"
    assert black76.iv_status(0.0, "p", 100, 90, 1.0, 0.05) == "intrinsic"
    assert bsm.iv_status(3.0, "c", 100, 99, 1.0, 0.05, 0.0) == "below_intrinsic"
    assert bsm.iv_status(200.0, "c", 100, 100, 1.0, 0.05, 0.0) == "above_upper_bound"
    assert bsm.iv_status(5.0, "c", math.nan, 100, 1.0, 0.05, 0.0) == "invalid_input"
    pd = pytest.importorskip("pandas")
    price = pd.Series([10.45, 0.0, 200.0], index=["a", "b", "c"])
    got = bsm.iv_status(price, "c", 100.0, [100.0, 130.0, 100.0], 1.0, 0.05, 0.0)
    assert isinstance(got, pd.Series) and got.name == "iv_status"
    assert got.to_dict() == {"a": "ok", "b": "intrinsic", "c": "above_upper_bound"}


def test_codes_follow_the_status_order():
    assert _array.STATUSES == (
        "ok",
        "intrinsic",
        "below_intrinsic",
        "above_upper_bound",
        "invalid_input",
        "no_solution",
        "two_boundaries",
    )
    iv = np.array([0.2, 0.0, np.nan])
    one = np.ones(3)
    codes = _array.iv_status_codes(
        iv, np.array([0.1, 0.0, np.nan]), np.zeros(3, bool), one, one, one, one * 0, one * 0
    )
    assert codes.dtype == np.int8 and codes.tolist() == [0, 1, 4]
