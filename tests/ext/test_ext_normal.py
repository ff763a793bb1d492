"""The normal model's functions in karvex._ext: vectorised, on the calling thread and on the
worker pool, on every vector unit (KARVEX_SIMD), bit for bit their scalar twins, NaN bits
included, and out= written in place."""

import numpy as np
import pytest
from core_support import run_python

import karvex._ext as ext

QUANTITIES = ("price", "delta", "gamma", "vega", "theta", "rho", "greeks", "iv")
LARGE = 40_000  # above every serial limit: the worker pool


def book(n, seed=1):
    rng = np.random.default_rng(seed)
    flag = np.where(rng.random(n) < 0.5, 1, -1).astype(np.int8)
    f = rng.uniform(-0.05, 0.05, n)
    k = np.where(rng.random(n) < 0.05, f, f + rng.normal(0.0, 0.02, n))
    t = np.exp(rng.uniform(np.log(1e-4), np.log(40.0), n))
    r = rng.uniform(-0.02, 0.08, n)
    sigma = np.exp(rng.uniform(np.log(1e-6), np.log(0.5), n))
    specials = np.array([0.0, -0.0, -1.0, np.inf, -np.inf, np.nan, 1e-300, 1e300])
    for column in (f, k, t, r, sigma):
        column[rng.integers(0, n, n // 50)] = rng.choice(specials, n // 50)
    price = ext.normal_price(flag, f, k, t, r, sigma)
    return flag, f, k, t, r, sigma, price


def arguments(quantity, flag, f, k, t, r, sigma, price):
    if quantity in ("gamma", "vega"):
        return (f, k, t, r, sigma)
    if quantity == "iv":
        return (price, flag, f, k, t, r)
    return (flag, f, k, t, r, sigma)


def bits(a):
    return np.ascontiguousarray(a, dtype=np.float64).view(np.uint64)


@pytest.mark.parametrize("n", [1000, LARGE])
@pytest.mark.parametrize("quantity", QUANTITIES)
def test_vectorised_equals_the_scalar_twin_bit_for_bit(quantity, n):
    args = arguments(quantity, *book(n, seed=n))
    got = getattr(ext, f"normal_{quantity}")(*args)
    scalar = getattr(ext, f"normal_{quantity}_scalar")
    want = [scalar(*(a[i].item() for a in args)) for i in range(n)]
    if quantity == "greeks":
        for j in range(5):
            assert np.array_equal(bits(got[j]), bits([w[j] for w in want]))
    else:
        assert np.array_equal(bits(got), bits(want))


def test_out_is_written_in_place_and_returned():
    args = arguments("greeks", *book(5000))
    out = tuple(np.full(5000, -7.0) for _ in range(5))
    assert ext.normal_greeks(*args, out=out) is out
    for o, e in zip(out, ext.normal_greeks(*args)):
        assert np.array_equal(bits(o), bits(e))


def test_every_vector_unit_gives_the_scalar_path_bits():
    code = """
        import hashlib, sys
        import numpy as np
        sys.path.insert(0, {here!r})
        from test_ext_normal import book, arguments, QUANTITIES
        import karvex._ext as ext
        data = book(50_000, seed=9)
        digest = hashlib.sha256()
        for q in QUANTITIES:
            result = getattr(ext, "normal_" + q)(*arguments(q, *data))
            for a in result if isinstance(result, tuple) else (result,):
                digest.update(np.ascontiguousarray(a).tobytes())
        print(digest.hexdigest())
    """.format(here=__import__("os").path.dirname(__file__))
    digests = {
        path: run_python(code, env={"KARVEX_SIMD": path}).stdout.strip()
        for path in ("scalar", "avx2", "avx512")
    }
    assert len(set(digests.values())) == 1, digests
