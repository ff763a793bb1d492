"""The second-order Greeks' values: against mpmath's derivatives of the price at high precision,
against central differences of the first-order Greeks, dual gamma against the distribution it
is the density of, and the put-call parity relations."""

import itertools
import math

import mpmath as mp
import numpy as np
import pytest

import karvex._core as core
import karvex._ext as ext

EPS = 2.0**-52
R, Q = 0.03, 0.01
# deep in and out of the money, an hour to 30 years, tiny to huge volatilities
GRID = list(
    itertools.product(
        (1, -1),
        (30.0, 80.0, 100.0, 125.0, 300.0),
        (1.0 / (365.0 * 24.0), 1.0 / 365.0, 0.25, 2.0, 30.0),
        (1e-3, 0.05, 0.3, 2.0, 8.0),
    )
)

# Each Greek as a derivative of the price: (variables differentiated, orders, sign), the
# variables among s, k, t, q, sigma. Time Greeks are per year of elapsed time: minus d/dt.
DERIVATIVES = {
    "vanna": (("s", "sigma"), (1, 1), 1),
    "volga": (("sigma",), (2,), 1),
    "charm": (("s", "t"), (1, 1), -1),
    "veta": (("sigma", "t"), (1, 1), -1),
    "speed": (("s",), (3,), 1),
    "zomma": (("s", "sigma"), (2, 1), 1),
    "color": (("s", "t"), (2, 1), -1),
    "dual_delta": (("k",), (1,), 1),
    "dual_gamma": (("k",), (2,), 1),
    "dividend_rho": (("q",), (1,), 1),
}


def mp_price(put, s, k, t, r, q, sigma):
    v = sigma * mp.sqrt(t)
    d1 = (mp.log(s / k) + (r - q + sigma * sigma / 2) * t) / v
    d2 = d1 - v
    if put:
        return k * mp.exp(-r * t) * mp.ncdf(-d2) - s * mp.exp(-q * t) * mp.ncdf(-d1)
    return s * mp.exp(-q * t) * mp.ncdf(d1) - k * mp.exp(-r * t) * mp.ncdf(d2)


def mp_derivative(name, put, s, k, t, sigma):
    """The Greek as mpmath's numerical derivative of the price (the definition itself)."""
    variables, orders, sign = DERIVATIVES[name]
    point = {"s": s, "k": k, "t": t, "q": Q, "sigma": sigma}

    def price(*xs):
        x = dict(point, **dict(zip(variables, xs)))
        return mp_price(put, x["s"], x["k"], x["t"], R, x["q"], x["sigma"])

    with mp.workdps(60):
        return sign * mp.diff(price, [mp.mpf(point[v]) for v in variables], orders)


def mp_closed_form(name, put, s, k, t, sigma):
    """The Greek's closed form at 60 digits (the derivation the kernels evaluate)."""
    with mp.workdps(60):
        s, k, t, sigma, r, q = (mp.mpf(x) for x in (s, k, t, sigma, R, Q))
        v = sigma * mp.sqrt(t)
        d1 = (mp.log(s / k) + (r - q + sigma * sigma / 2) * t) / v
        d2 = d1 - v
        dq, dr, p = mp.exp(-q * t), mp.exp(-r * t), mp.npdf(d1)
        sign = -1 if put else 1
        n1, n2 = mp.ncdf(sign * d1), mp.ncdf(sign * d2)
        vega, gamma = s * dq * p * mp.sqrt(t), dq * p / (s * v)
        a = q + (r - q) * d1 / v
        return {
            "vanna": -dq * p * d2 / sigma,
            "volga": vega * d1 * d2 / sigma,
            "charm": sign * q * dq * n1 - dq * p * ((r - q) / v - d2 / (2 * t)),
            "veta": vega * (a - (1 + d1 * d2) / (2 * t)),
            "speed": -gamma / s * (d1 / v + 1),
            "zomma": gamma * (d1 * d2 - 1) / sigma,
            "color": gamma * (a + (1 - d1 * d2) / (2 * t)),
            "dual_delta": -sign * dr * n2,
            "dual_gamma": dr * mp.npdf(d2) / (k * v),
            "dividend_rho": -sign * t * s * dq * n1,
        }[name]


def call(name, flag, s, k, t, sigma):
    fn = getattr(ext, f"bsm_{name}_scalar")
    if name in ("charm", "dual_delta", "dividend_rho"):
        return fn(flag, s, k, t, R, Q, sigma)
    return fn(s, k, t, R, Q, sigma)


def condition(name, flag, s, k, t, sigma):
    """The Greek's relative condition number in its inputs, by differences of the kernel."""
    g = call(name, flag, s, k, t, sigma)
    total = 0.0
    args = [s, k, t, sigma]
    for i, x in enumerate(args):
        h = 1e-6 * x
        up, down = list(args), list(args)
        up[i], down[i] = x + h, x - h
        total += abs(x * (call(name, flag, *up) - call(name, flag, *down)) / (2 * h))
    return total / abs(g) if g else math.inf


@pytest.mark.parametrize("name", DERIVATIVES)
def test_each_greek_matches_mpmath_to_ulps_times_its_condition(name):
    checked = worst = 0
    for flag, k, t, sigma in GRID:
        if name not in ("charm", "dual_delta", "dividend_rho") and flag < 0:
            continue
        got = call(name, flag, 100.0, k, t, sigma)
        exact = mp_closed_form(name, flag < 0, 100.0, k, t, sigma)
        want = float(exact)
        if abs(want) > 1e-12:  # the closed form is the derivative (where differences can tell)
            derivative = mp_derivative(name, flag < 0, 100.0, k, t, sigma)
            assert abs(derivative - exact) <= mp.mpf(1e-12) * abs(exact), (name, flag, k, t)
        if abs(want) < 1e-280:  # underflows in double
            continue
        cond = condition(name, flag, 100.0, k, t, sigma)
        if cond > 1e6:  # ill-conditioned far-tail values
            continue
        error = abs(got - want) / abs(want) / EPS / max(cond, 1.0)
        worst = max(worst, error)
        checked += 1
        assert error < 64, (name, flag, k, t, sigma, got, want, cond)
    assert checked >= 40, checked


@pytest.mark.parametrize("flag", [1, -1])
def test_second_order_greeks_are_central_differences_of_first_order_greeks(flag):
    rng = np.random.default_rng(5)
    for _ in range(200):
        s, k = 100.0, 100.0 * math.exp(rng.uniform(-0.4, 0.4))
        t, sigma = rng.uniform(0.1, 3.0), rng.uniform(0.1, 0.8)
        r, q = rng.uniform(-0.01, 0.06), rng.uniform(0.0, 0.04)
        g = dict(
            zip(
                ("vanna", "volga", "charm", "veta", "speed", "zomma", "color", "dd", "dg", "dr"),
                ext.bsm_second_order_scalar(flag, s, k, t, r, q, sigma),
            )
        )

        def d(fn, i, h, args, sign=1.0):
            """The central difference with step h, and its error bound: the step's error is
            about c*h^2, which the difference with step 2h shows (3*c*h^2 apart), and the
            rounding of the two values, a few ulps of the function over 2h."""

            def central(step):
                up, down = list(args), list(args)
                up[i] += step
                down[i] -= step
                return sign * (fn(*up) - fn(*down)) / (2 * step)

            near = central(h)
            return near, abs(near - central(2 * h)) + 4 * EPS * abs(fn(*args)) / h

        a7 = [flag, s, k, t, r, q, sigma]
        a6 = a7[1:]
        hs, hv, ht = 1e-4 * s, 1e-5, 1e-5
        pairs = [
            (g["vanna"], d(core.bsm_delta_scalar, 6, hv, a7)),
            (g["volga"], d(core.bsm_vega_scalar, 5, hv, a6)),
            (g["charm"], d(core.bsm_delta_scalar, 3, ht, a7, -1.0)),
            (g["veta"], d(core.bsm_vega_scalar, 2, ht, a6, -1.0)),
            (g["speed"], d(core.bsm_gamma_scalar, 0, hs, a6)),
            (g["zomma"], d(core.bsm_gamma_scalar, 5, hv, a6)),
            (g["color"], d(core.bsm_gamma_scalar, 2, ht, a6, -1.0)),
            (g["dd"], d(core.bsm_price_scalar, 2, 1e-5 * k, a7)),
            (g["dg"], d(lambda *a: ext.bsm_dual_delta_scalar(*a), 2, 1e-5 * k, a7)),
            (g["dr"], d(core.bsm_price_scalar, 5, 1e-5, a7)),
        ]
        for name, (got, (want, step_error)) in zip(g, pairs):
            tolerance = step_error + 1e-9 * abs(want) + 1e-14
            assert abs(got - want) <= tolerance, (name, got, want, step_error, a7)


def test_dual_gamma_integrates_to_the_discounted_probability():
    # the integral of dual gamma over strikes 0..K is dr*P(S_T < K) = dr + call dual delta(K)
    s, t, r, q, sigma = 100.0, 0.75, 0.04, 0.015, 0.35
    dr = math.exp(-r * t)
    x = np.linspace(math.log(1e-3), math.log(2000.0), 400_001)  # log-strike
    kk = np.exp(x)
    n = len(kk)
    density = ext.bsm_dual_gamma(
        np.full(n, s), kk, np.full(n, t), np.full(n, r), np.full(n, q), np.full(n, sigma)
    )
    f = density * kk  # d/d(log k)
    cumulative = np.concatenate(([0.0], np.cumsum((f[1:] + f[:-1]) * 0.5 * np.diff(x))))
    assert abs(cumulative[-1] - dr) < 1e-9
    for strike in (50.0, 100.0, 180.0):
        i = int(np.searchsorted(kk, strike))
        want = dr + ext.bsm_dual_delta_scalar(1, s, kk[i], t, r, q, sigma)
        assert abs(cumulative[i] - want) < 1e-9


def test_put_call_relations_hold_and_side_free_greeks_are_one_function():
    # C - P = s*dq - k*dr: charm_c - charm_p = q*dq, dual delta_c - dual delta_p = -dr and
    # dividend rho_c - dividend rho_p = -t*s*dq; every other second-order Greek is the same for
    # both and takes no flag.
    rng = np.random.default_rng(9)
    for _ in range(500):
        s, k = 100.0, 100.0 * math.exp(rng.uniform(-1.0, 1.0))
        t, r, q, sigma = rng.uniform(0.01, 5), rng.uniform(-0.02, 0.1), rng.uniform(0, 0.06), 0.3
        dq, dr = math.exp(-q * t), math.exp(-r * t)
        c = ext.bsm_second_order_scalar(1, s, k, t, r, q, sigma)
        p = ext.bsm_second_order_scalar(-1, s, k, t, r, q, sigma)
        assert c[:2] == p[:2] and c[3:7] == p[3:7] and c[8] == p[8]
        assert math.isclose(c[2] - p[2], q * dq, rel_tol=1e-12, abs_tol=1e-15)
        assert math.isclose(c[7] - p[7], -dr, rel_tol=1e-14)
        assert math.isclose(c[9] - p[9], -t * s * dq, rel_tol=1e-13)


def test_black76_greeks_are_bsm_greeks_on_the_forward_with_the_rate_as_yield():
    rng = np.random.default_rng(2)
    n = 1000
    f, k = 100 * np.exp(rng.normal(0, 0.3, n)), np.full(n, 100.0)
    t, r, sigma = rng.uniform(0.01, 4, n), rng.uniform(-0.02, 0.1, n), rng.uniform(0.05, 1, n)
    flag = rng.choice(np.array([1, -1], np.int8), n)
    b76 = ext.black76_second_order(flag, f, k, t, r, sigma)
    bsm = ext.bsm_second_order(flag, f, k, t, r, r, sigma)
    for a, b in zip(b76, bsm[:9]):
        assert np.array_equal(a.view(np.uint64), b.view(np.uint64))
