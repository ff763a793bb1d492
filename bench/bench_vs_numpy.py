"""karvex against what a user would otherwise write: NumPy + SciPy, side by side in one run.

For n options (valid BSM inputs, calls and puts mixed) it times, best of several calls:
  - price: karvex.bsm.price against the closed form in NumPy with scipy.special.ndtr;
  - greeks: karvex.bsm.greeks against the five closed forms in NumPy sharing d1, d2 and the
    discount factors (the way a careful user writes them);
  - iv: karvex.bsm.iv against a vectorised NumPy Newton iteration on vega (a fixed number of
    steps from sigma = 0.3, the usual home-made solver) and against scipy.optimize.brentq per
    option (the usual library call; timed on a subsample, reported per option).
and prints ns per option and the ratio other / karvex. The karvex figures use the default pool
size (all processors unless RAYON_NUM_THREADS says otherwise); run with RAYON_NUM_THREADS=1 for
the single-thread comparison. The largest difference from karvex is printed as a sanity check.

    python bench/bench_vs_numpy.py [--n N] [--brentq-n M]
"""

import argparse
import math
import os
import timeit

import numpy as np
from scipy import optimize, special

import karvex


def inputs(n, seed=20261206):
    rng = np.random.default_rng(seed)
    flag = rng.choice(np.array([1, -1], np.int8), n)
    s = 100.0 * np.exp(0.2 * rng.standard_normal(n))
    k = np.full(n, 100.0)
    t = rng.uniform(1.0 / 52.0, 3.0, n)
    r = rng.uniform(0.0, 0.06, n)
    q = rng.uniform(0.0, 0.03, n)
    sigma = rng.uniform(0.05, 1.5, n)
    return flag, s, k, t, r, q, sigma


def numpy_price(flag, s, k, t, r, q, sigma):
    sqrt_t = np.sqrt(t)
    d1 = (np.log(s / k) + (r - q + 0.5 * sigma * sigma) * t) / (sigma * sqrt_t)
    d2 = d1 - sigma * sqrt_t
    theta = np.where(flag < 0, -1.0, 1.0)
    return theta * (
        s * np.exp(-q * t) * special.ndtr(theta * d1)
        - k * np.exp(-r * t) * special.ndtr(theta * d2)
    )


def numpy_greeks(flag, s, k, t, r, q, sigma):
    sqrt_t = np.sqrt(t)
    d1 = (np.log(s / k) + (r - q + 0.5 * sigma * sigma) * t) / (sigma * sqrt_t)
    d2 = d1 - sigma * sqrt_t
    dq, dr = np.exp(-q * t), np.exp(-r * t)
    theta_sign = np.where(flag < 0, -1.0, 1.0)
    n1, n2 = special.ndtr(theta_sign * d1), special.ndtr(theta_sign * d2)
    pdf1 = np.exp(-0.5 * d1 * d1) / math.sqrt(2.0 * math.pi)
    delta = theta_sign * dq * n1
    gamma = dq * pdf1 / (s * sigma * sqrt_t)
    vega = s * dq * pdf1 * sqrt_t
    theta = -s * dq * pdf1 * sigma / (2.0 * sqrt_t) + theta_sign * (
        q * s * dq * n1 - r * k * dr * n2
    )
    rho = theta_sign * k * t * dr * n2
    return delta, gamma, vega, theta, rho


def numpy_newton_iv(price, flag, s, k, t, r, q, steps=8):
    sigma = np.full_like(price, 0.3)
    for _ in range(steps):
        sqrt_t = np.sqrt(t)
        d1 = (np.log(s / k) + (r - q + 0.5 * sigma * sigma) * t) / (sigma * sqrt_t)
        vega = s * np.exp(-q * t) * np.exp(-0.5 * d1 * d1) / math.sqrt(2.0 * math.pi) * sqrt_t
        sigma = sigma - (numpy_price(flag, s, k, t, r, q, sigma) - price) / vega
        sigma = np.clip(sigma, 1e-4, 10.0)
    return sigma


def brentq_iv(price, flag, s, k, t, r, q):
    out = np.empty_like(price)
    for i in range(price.size):
        args = (flag[i : i + 1], s[i], k[i], t[i], r[i], q[i])

        def f(sig):
            return numpy_price(*args, sig)[0] - price[i]

        try:
            out[i] = optimize.brentq(f, 1e-6, 10.0, xtol=1e-14)
        except ValueError:
            out[i] = math.nan
    return out


def best(fn, repeat=5):
    return min(timeit.repeat(fn, number=1, repeat=repeat))


def row(name, n, ours, theirs, diff):
    print(
        f"{name:<26}{ours / n * 1e9:>12.1f}{theirs / n * 1e9:>14.1f}"
        f"{theirs / ours:>10.1f}x{diff:>14.2e}"
    )


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--n", type=int, default=1_000_000)
    parser.add_argument("--brentq-n", type=int, default=2_000)
    a = parser.parse_args()
    n = a.n
    flag, s, k, t, r, q, sigma = inputs(n)
    target = karvex.bsm.price(flag, s, k, t, r, q, sigma)

    print(
        f"karvex against NumPy/SciPy, {n:,} options, RAYON_NUM_THREADS="
        f"{os.environ.get('RAYON_NUM_THREADS', '(unset)')}, {os.cpu_count()} CPUs"
    )
    print(f"{'':<26}{'karvex ns':>12}{'other ns':>14}{'ratio':>11}{'max |diff|':>14}")

    ours = best(lambda: karvex.bsm.price(flag, s, k, t, r, q, sigma))
    theirs = best(lambda: numpy_price(flag, s, k, t, r, q, sigma))
    diff = np.max(np.abs(numpy_price(flag, s, k, t, r, q, sigma) - target))
    row("price (NumPy+ndtr)", n, ours, theirs, diff)

    ours = best(lambda: karvex.bsm.greeks(flag, s, k, t, r, q, sigma))
    theirs = best(lambda: numpy_greeks(flag, s, k, t, r, q, sigma))
    ref = karvex.bsm.greeks(flag, s, k, t, r, q, sigma)
    diff = max(
        np.max(np.abs(a_ - b_) / np.maximum(1.0, np.abs(b_)))
        for a_, b_ in zip(numpy_greeks(flag, s, k, t, r, q, sigma), ref)
    )
    row("greeks (NumPy+ndtr)", n, ours, theirs, diff)

    ours = best(lambda: karvex.bsm.iv(target, flag, s, k, t, r, q))
    # Accuracy in volatility only where the price responds to it (vega of at least 0.01 per
    # 1.0 of volatility on a spot near 100); elsewhere no solver can recover sigma.
    sensitive = karvex.bsm.vega(s, k, t, r, q, sigma) > 1e-2
    ours_error = np.nanmax(np.abs(karvex.bsm.iv(target, flag, s, k, t, r, q) - sigma)[sensitive])
    theirs = best(lambda: numpy_newton_iv(target, flag, s, k, t, r, q), repeat=3)
    newton = numpy_newton_iv(target, flag, s, k, t, r, q)
    row("iv (NumPy Newton, 8 steps)", n, ours, theirs, np.nanmax(np.abs(newton - sigma)[sensitive]))

    m = min(a.brentq_n, n)
    sub = [x[:m] for x in (target, flag, s, k, t, r, q)]
    theirs = best(lambda: brentq_iv(*sub), repeat=1)
    diff = np.nanmax(np.abs(brentq_iv(*sub) - sigma[:m])[sensitive[:m]])
    row(f"iv (brentq, {m:,} opts)", m, ours / n * m, theirs, diff)
    print(
        "max |diff|: against karvex for price and greeks (relative above 1), against the "
        f"true sigma for iv where vega > 0.01 (karvex's own: {ours_error:.2e})"
    )


if __name__ == "__main__":
    main()
