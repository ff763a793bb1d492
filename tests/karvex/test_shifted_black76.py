"""Shifted lognormal Black-76 (shift=): the Black-76 functions of f + shift and k + shift, bit for
bit, with NaN (iv_status 'invalid_input') where either is not positive."""

import numpy as np
import pytest

import karvex

FUNCTIONS = ("price", "delta", "gamma", "vega", "theta", "rho", "greeks")


def book(n=2000, seed=3):
    rng = np.random.default_rng(seed)
    f = rng.uniform(-0.02, 0.06, n)
    k = f + rng.normal(0.0, 0.01, n)
    t = rng.uniform(0.05, 10.0, n)
    r = rng.uniform(-0.01, 0.05, n)
    sigma = rng.uniform(0.05, 0.8, n)
    flag = np.where(rng.random(n) < 0.5, "c", "p")
    return flag, f, k, t, r, sigma


def as_tuple(x):
    return tuple(x) if isinstance(x, tuple) else (x,)


@pytest.mark.parametrize("name", FUNCTIONS)
def test_shifted_function_is_black76_on_the_shifted_inputs_bit_for_bit(name):
    flag, f, k, t, r, sigma = book()
    shift = 0.03
    fs, ks = f + shift, k + shift
    fn = getattr(karvex.black76, name)
    if name in ("gamma", "vega"):
        got, want = fn(f, k, t, r, sigma, shift=shift), fn(fs, ks, t, r, sigma)
    else:
        got, want = fn(flag, f, k, t, r, sigma, shift=shift), fn(flag, fs, ks, t, r, sigma)
    valid = (fs > 0) & (ks > 0)
    assert 0 < valid.sum() < len(f)
    for g, w in zip(as_tuple(got), as_tuple(want)):
        assert np.array_equal(g[valid].view(np.uint64), w[valid].view(np.uint64))
        assert np.isnan(g[~valid]).all()


def test_shifted_iv_round_trips_and_marks_unshiftable_options_invalid():
    flag, f, k, t, r, sigma = book()
    shift = 0.03
    price = karvex.black76.price(flag, f, k, t, r, sigma, shift=shift)
    iv = karvex.black76.iv(price, flag, f, k, t, r, shift=shift)
    want = karvex.black76.iv(price, flag, f + shift, k + shift, t, r)
    valid = (f + shift > 0) & (k + shift > 0)
    assert np.array_equal(iv[valid], want[valid], equal_nan=True)
    assert np.isnan(iv[~valid]).all()
    status = karvex.black76.iv_status(price, flag, f, k, t, r, shift=shift)
    assert (status[~valid] == "invalid_input").all()
    ok = valid & (status == "ok")
    assert ok.sum() > len(f) // 2
    repriced = karvex.black76.price(flag[ok], f[ok], k[ok], t[ok], r[ok], iv[ok], shift=shift)
    assert np.allclose(repriced, price[ok], rtol=1e-12, atol=1e-15)


def test_scalar_inputs_and_the_default_keep_plain_black76():
    assert karvex.black76.price("c", -0.01, 0.0, 1.0, 0.02, 0.3, shift=0.02) == (
        karvex.black76.price("c", 0.01, 0.02, 1.0, 0.02, 0.3)
    )
    assert np.isnan(karvex.black76.price("c", -0.03, 0.0, 1.0, 0.02, 0.3, shift=0.02))
    # without shift, a non-positive forward is priced as before (no check)
    assert karvex.black76.price("c", -0.03, 0.0, 1.0, 0.02, 0.3) == 0.0


@pytest.mark.parametrize("bad", ["0.01", float("inf"), float("nan"), True, [0.01]])
def test_shift_must_be_a_finite_real_number(bad):
    with pytest.raises((TypeError, ValueError), match="shift"):
        karvex.black76.price("c", 0.01, 0.02, 1.0, 0.02, 0.3, shift=bad)


def test_bsm_has_no_shift():
    with pytest.raises(TypeError):
        karvex.bsm.price("c", 100.0, 100.0, 1.0, 0.02, 0.0, 0.3, shift=0.01)
