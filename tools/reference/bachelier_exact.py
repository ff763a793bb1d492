"""The normal (Bachelier) model in plain Python, operation for operation as the kernels round.

An independent transcription of the formulas the kernels document (price, Greeks, single pass
and implied volatility of the normal model), on top of bitexact.py's transcription of exp, log,
pdf, cdf and fdlibm's erfc. Python floats are IEEE binary64 with each operation rounded once, as
the kernels compile under -ffp-contract=off, so each function here returns the kernels' bits.
Every NaN is returned as the default quiet NaN, as the kernels return it.
"""

import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import bitexact as bx  # noqa: E402

NAN, INF = math.nan, math.inf
SQRT_2PI = 2.5066282746310007  # 0x1.40d931ff62706p+1
INV_SQRT_2PI = bx.INV_SQRT_2PI
INV_SQRT2 = bx.INV_SQRT2
PRICE_TOLERANCE = 1e-12
NEAR_MONEY_RATIO = 2.0**27
GUESS_SWITCH = -0.001882039271
REFINE_FLOOR = -38.0
# the initial guess's rational forms
A = (0.032114372355, 0.016969777977, 0.0026207332461, 9.6066952861e-05)
B = (0.6635646938, 0.14528712196, 0.010472855461)
C = (9.4883409779, 9.6320903635, 0.58556997323, 2.1464093351)
D = (0.65174820867, 1.5120247828, 6.6437847132e-05)


def one_nan(x):
    return NAN if x != x else x


def discount(r, t):
    """exp(-(r*t)), exactly 1 without a call at +-0."""
    e = -(r * t)
    return bx.exp(e) if e != 0.0 else 1.0


def side(is_put, v):
    return -v if is_put else v


def tail_ratio(a):
    """R/S of fdlibm's erfc tail at a >= 1.25: the ra/sa set below 1/0.35, rb/sb above."""
    v = bx.div(1.0, a * a)
    if bx.high_word(a) & 0x7FFFFFFF < 0x4006DB6D:
        return bx.div(bx.horner(v, bx.RA), bx.one_plus_horner(v, bx.SA))
    return bx.div(bx.horner(v, bx.RB), bx.one_plus_horner(v, bx.SB))


def scaled(x, e, big_e):
    return e * (INV_SQRT_2PI + x * (0.5 * big_e))


def price_from_terms(df, iota, s, h):
    return df * (iota + s * h)


def theta_from_terms(r, v, sigma, df, p, rt):
    return r * v - bx.div(sigma * (df * p), rt + rt)


def near_money_s(tau, a):
    return (tau + a * 0.5) * SQRT_2PI


def guess_near(phi):
    g = bx.div(1.0, phi - 0.5)
    g2 = g * g
    num = A[0] - g2 * (A[1] - g2 * (A[2] - A[3] * g2))
    den = 1.0 - g2 * (B[0] - g2 * (B[1] - B[2] * g2))
    return g * (INV_SQRT_2PI + bx.div(num, den) * g2)


def guess_tail(log_beta):
    h = bx.sqrt(-log_beta)
    num = C[0] - h * (C[1] - h * (C[2] + C[3] * h))
    den = 1.0 - h * (D[0] + h * (D[1] + D[2] * h))
    return bx.div(num, den)


def householder(x, phi, p, h):
    q = bx.div(bx.div(h, x) - phi, p)
    x2 = x * x
    qx = q * x
    num = ((3.0 * q) * x2) * (2.0 - qx * (2.0 + x2))
    den = 6.0 + qx * (-12.0 + x * ((6.0 * q) + x * (-6.0 + qx * (3.0 + x2))))
    return x + bx.div(num, den)


def time_value(x):
    """(h(x), pdf(x)) at x <= 0: p + x*cdf(x) below a = 1.25, else
    e*(1/sqrt(2*pi) + x*(0.5*E)) with e = exp(x*(x*-0.5)), E = exp(R/S - 0.5625)/a."""
    a = x * -INV_SQRT2
    if bx.high_word(a) & 0x7FFFFFFF < 0x3FF40000:
        p = bx.pdf(x)
        return p + x * bx.cdf(x), p
    big_e = bx.div(bx.exp(tail_ratio(a) - 0.5625), a)
    e = bx.exp(x * (x * -0.5))
    return scaled(x, e, big_e), e * INV_SQRT_2PI


def price(is_put, f, k, t, r, sigma):
    w = f - k
    iota = bx.max0(side(is_put, w))
    if t <= 0.0:
        return iota
    df = discount(r, t)
    if sigma <= 0.0:
        return df * iota
    s = bx.sqrt(t) * sigma
    d = bx.div(w, s)
    if abs(d) == INF:
        return df * iota
    h, _ = time_value(-abs(d))
    return one_nan(price_from_terms(df, iota, s, h))


def degenerate(t, sigma):
    return t <= 0.0 or sigma <= 0.0


def step_delta(is_put, w, t, r):
    e = discount(r, t) if t > 0.0 else 1.0
    if side(is_put, w) > 0.0:
        return one_nan(-e if is_put else e)
    return 0.0


def terms(f, k, t, r, sigma):
    df = discount(r, t)
    rt = bx.sqrt(t)
    s = rt * sigma
    return df, rt, s, bx.div(f - k, s)


def delta(is_put, f, k, t, r, sigma):
    if degenerate(t, sigma):
        return step_delta(is_put, f - k, t, r)
    df, _, _, d = terms(f, k, t, r, sigma)
    n = bx.cdf(side(is_put, d))
    return one_nan(-(df * n) if is_put else df * n)


def gamma(f, k, t, r, sigma):
    if degenerate(t, sigma):
        return 0.0
    df, _, s, d = terms(f, k, t, r, sigma)
    return one_nan(bx.div(df * bx.pdf(d), s))


def vega(f, k, t, r, sigma):
    if degenerate(t, sigma):
        return 0.0
    df, rt, _, d = terms(f, k, t, r, sigma)
    return one_nan(rt * (df * bx.pdf(d)))


def theta(is_put, f, k, t, r, sigma):
    if degenerate(t, sigma):
        return 0.0
    df, rt, _, d = terms(f, k, t, r, sigma)
    v = price(is_put, f, k, t, r, sigma)
    return one_nan(theta_from_terms(r, v, sigma, df, bx.pdf(d), rt))


def rho(is_put, f, k, t, r, sigma):
    return one_nan(-(t * price(is_put, f, k, t, r, sigma)))


def iv(is_put, target, f, k, t, r):
    if not all(math.isfinite(v) for v in (f, k, t, r)) or not t > 0.0:
        return NAN
    if not math.isfinite(target) or target < 0.0:
        return NAN
    df = discount(r, t)
    w = f - k
    iota = bx.max0(side(is_put, w))
    intrinsic = df * iota
    if not target >= intrinsic - PRICE_TOLERANCE:
        return NAN
    if target <= intrinsic:
        return 0.0
    tau = bx.div(target, df) - iota
    if not tau > 0.0:
        return 0.0
    a = abs(w)
    beta = bx.div(tau, a)
    if beta >= NEAR_MONEY_RATIO:
        s = near_money_s(tau, a)
    else:
        phi = -beta
        x = guess_near(phi) if phi < GUESS_SWITCH else guess_tail(bx.log(beta))
        if x >= REFINE_FLOOR:
            hx, p = time_value(x)
            x = householder(x, phi, p, hx)
        s = bx.div(a, -x)
    sigma = bx.div(s, bx.sqrt(t))
    return sigma if math.isfinite(sigma) else NAN
