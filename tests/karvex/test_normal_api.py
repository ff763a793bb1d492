"""karvex.normal, the normal model in the array API: the bits of karvex._ext's functions under
broadcasting and containers, the NaN rule, and iv_status in agreement with iv."""

import numpy as np
import pytest

import karvex
import karvex._ext as ext
from karvex import normal

QUANTITIES = ("price", "delta", "gamma", "vega", "theta", "rho", "greeks")


def bits(a):
    return np.ascontiguousarray(a, dtype=np.float64).view(np.uint64)


def book(n=500, seed=2):
    rng = np.random.default_rng(seed)
    flag = np.where(rng.random(n) < 0.5, 1, -1).astype(np.int8)
    f = rng.uniform(-0.03, 0.05, n)
    k = f + rng.normal(0.0, 0.01, n)
    t = rng.uniform(0.01, 10.0, n)
    r = rng.uniform(-0.01, 0.05, n)
    sigma = rng.uniform(1e-4, 0.03, n)
    return flag, f, k, t, r, sigma


def args(quantity, flag, f, k, t, r, sigma):
    return (f, k, t, r, sigma) if quantity in ("gamma", "vega") else (flag, f, k, t, r, sigma)


@pytest.mark.parametrize("quantity", QUANTITIES)
def test_broadcast_inputs_give_the_bits_of_the_ext_function(quantity):
    flag, f, k, t, r, sigma = book()
    grid_k = np.linspace(-0.02, 0.04, 7)[:, None]
    got = getattr(normal, quantity)(*args(quantity, "c", f[None, :50], grid_k, 2.0, 0.01, 0.01))
    n = 7 * 50
    flat = args(
        quantity,
        np.ones(n, np.int8),
        np.broadcast_to(f[None, :50], (7, 50)).ravel(),
        np.broadcast_to(grid_k, (7, 50)).ravel(),
        np.full(n, 2.0),
        np.full(n, 0.01),
        np.full(n, 0.01),
    )
    want = getattr(ext, f"normal_{quantity}")(*flat)
    for g, w in zip(*((got, want) if quantity == "greeks" else ((got,), (want,)))):
        assert g.shape == (7, 50)
        assert np.array_equal(bits(g.ravel()), bits(w))


def test_scalars_series_and_masked_arrays():
    flag, f, k, t, r, sigma = book(20)
    scalar = normal.price("p", f[0], k[0], t[0], r[0], sigma[0])
    assert scalar == ext.normal_price_scalar(-1, f[0], k[0], t[0], r[0], sigma[0])
    masked = normal.vega(np.ma.masked_array(f, mask=f < 0), k, t, r, sigma)
    assert isinstance(masked, np.ma.MaskedArray) and (masked.mask == (f < 0)).all()
    pd = pytest.importorskip("pandas")
    series = normal.delta("c", pd.Series(f, index=list("abcdefghijklmnopqrst")), k, t, r, sigma)
    assert isinstance(series, pd.Series) and list(series.index[:2]) == ["a", "b"]


def test_a_nan_input_gives_nan_for_every_quantity_even_where_the_kernel_settles():
    # t <= 0 settles on the intrinsic value before f is looked at: the rule makes it NaN
    for quantity in QUANTITIES:
        got = getattr(normal, quantity)(*args(quantity, "c", np.nan, 0.0, 0.0, 0.01, 0.01))
        assert np.isnan(got).all()
    assert normal.price("c", 0.01, 0.0, 1.0, 0.0, np.inf) == np.inf


def test_iv_round_trips_and_iv_status_agrees_with_it():
    flag, f, k, t, r, sigma = book(2000)
    price = normal.price(flag, f, k, t, r, sigma)
    intrinsic = normal.price(flag, f, k, t, r, 0.0)
    targets = np.concatenate([price, intrinsic, intrinsic - 1e-9, [np.inf, -1.0, 1e300]])
    n = len(targets)
    flags, fs, ks, ts, rs = (np.resize(a, n) for a in (flag, f, k, t, r))
    iv = normal.iv(targets, flags, fs, ks, ts, rs)
    status = normal.iv_status(targets, flags, fs, ks, ts, rs)
    assert ((status == "ok") == (iv > 0)).all()
    assert ((status == "intrinsic") == (iv == 0.0)).all()
    assert set(status[np.isnan(iv)]) <= {"below_intrinsic", "invalid_input"}
    assert (status[2000:4000] == "intrinsic").all()
    assert (status[4000:6000][intrinsic > 1e-9] == "below_intrinsic").all()
    assert list(status[-3:]) == ["invalid_input", "invalid_input", "ok"]
    ok = slice(0, 2000)
    repriced = normal.price(flag, f, k, t, r, iv[ok])
    assert np.allclose(repriced, price, rtol=1e-13, atol=1e-18)


def test_the_module_is_listed_and_documented():
    assert "normal" in karvex.__all__
    assert "absolute" in normal.price.__doc__ and "karvex._ext.normal_price" in normal.price.__doc__
