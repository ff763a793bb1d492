#!/usr/bin/env python3
"""Reference values of the normal (Bachelier) model in high precision, written to bachelier.csv.

Usage (from the project root; needs mpmath, takes about a minute):

    python3 tools/reference/gen_bachelier.py            # writes tests/data/bachelier.csv
    python3 tools/reference/gen_bachelier.py -o FILE    # writes FILE instead

Each row is one option on a forward f that may be negative, with strike k, time t, rate r and
absolute volatility sigma: the price DF*((theta*w)*Phi(theta*d) + s*phi(d)) (w = f - k,
s = sigma*sqrt(t), d = w/s, DF = exp(-r*t)) in 50-digit arithmetic, and the Greeks as numerical
closed-form Greeks, each checked here against mpmath's numerical derivative of that price:
delta dV/df, gamma d2V/df2, vega dV/dsigma, theta -dV/dt, rho dV/dr with f fixed.

`target` is the price rounded to a double, `iv` the volatility whose exact price is that double
(solved to 50 digits). The condition figures bound how far a double evaluation may magnify its
roundings: `cond_<quantity>` is the sum of the quantity's elasticities to the five inputs (to f
and k through w = f - k, one rounding of w itself), plus d*d for the exponent of the
density; `cond_iv` is the elasticity of the volatility to the price and to w, plus one.

The grid covers negative and zero forwards and strikes, deep in and out of the money, times from
a day to thirty years and volatilities from 1e-7 to 50 of the forward's units, plus random rows.
Format: comma-separated, one header line, `kind` (call or put), the inputs in shortest
round-trip form, the values as 17 significant digits.
"""

import argparse
import itertools
import os
import random

import mpmath as mp

mp.mp.dps = 50
QUANTITIES = ("price", "delta", "gamma", "vega", "theta", "rho")


def price(put, f, k, t, r, sigma):
    f, k, t, r, sigma = (mp.mpf(v) for v in (f, k, t, r, sigma))
    s = sigma * mp.sqrt(t)
    w = f - k
    d = w / s
    theta = -1 if put else 1
    return mp.exp(-r * t) * (theta * w * mp.ncdf(theta * d) + s * mp.npdf(d))


def quantities(put, f, k, t, r, sigma):
    """Price and Greeks by their closed forms, and d."""
    f, k, t, r, sigma = (mp.mpf(v) for v in (f, k, t, r, sigma))
    theta = -1 if put else 1
    rt = mp.sqrt(t)
    d = (f - k) / (sigma * rt)
    df = mp.exp(-r * t)
    v = price(put, f, k, t, r, sigma)
    values = {
        "price": v,
        "delta": theta * df * mp.ncdf(theta * d),
        "gamma": df * mp.npdf(d) / (sigma * rt),
        "vega": df * rt * mp.npdf(d),
        "theta": r * v - sigma * df * mp.npdf(d) / (2 * rt),
        "rho": -t * v,
    }
    return values, d


def check_against_derivatives(put, f, k, t, r, sigma, values):
    """The closed forms against mpmath's numerical derivatives of the price, where the Greek is
    large enough against the price for a numerical derivative to resolve it."""
    f, k, t, r, sigma = (mp.mpf(v) for v in (f, k, t, r, sigma))

    def v(ff=f, tt=t, rr=r, ss=sigma):
        return price(put, ff, k, tt, rr, ss)

    numeric = {
        "delta": mp.diff(lambda x: v(ff=x), f),
        "gamma": mp.diff(lambda x: v(ff=x), f, 2),
        "vega": mp.diff(lambda x: v(ss=x), sigma),
        "theta": -mp.diff(lambda x: v(tt=x), t),
        "rho": mp.diff(lambda x: v(rr=x), r),
    }
    for name, value in numeric.items():
        if abs(values[name]) > mp.mpf(10) ** -20 * abs(values["price"]):
            assert abs(value - values[name]) <= mp.mpf(10) ** -15 * abs(values[name]), (
                name,
                put,
                f,
                k,
                t,
                r,
                sigma,
                value,
                values[name],
            )


def condition(fn, f, k, t, r, sigma, d):
    """Sum of elasticities of fn to w, t, r and sigma, plus d*d + 1."""
    f, k, t, r, sigma = (mp.mpf(v) for v in (f, k, t, r, sigma))
    value = fn(f, t, r, sigma)
    if value == 0:
        return mp.inf
    total = d * d + 1
    partials = (
        (abs(f - k), mp.diff(lambda x: fn(x, t, r, sigma), f)),
        (t, mp.diff(lambda x: fn(f, x, r, sigma), t)),
        (abs(r), mp.diff(lambda x: fn(f, t, x, sigma), r)),
        (sigma, mp.diff(lambda x: fn(f, t, r, x), sigma)),
    )
    for scale, derivative in partials:
        total += abs(scale * derivative / value)
    return total


def implied(put, target, f, k, t, r, start):
    """The volatility whose exact price is target (a double), by Newton's method from start (the
    volatility whose price rounds to target), with the closed-form vega DF*sqrt(t)*phi(d)."""
    target = mp.mpf(target)
    f, k, t, r = (mp.mpf(v) for v in (f, k, t, r))
    x = start
    for _ in range(100):
        vega = mp.exp(-r * t) * mp.sqrt(t) * mp.npdf((f - k) / (x * mp.sqrt(t)))
        step = (price(put, f, k, t, r, x) - target) / vega
        x -= step
        if abs(step) < x * mp.mpf(10) ** -32:
            return x
    raise ArithmeticError(f"no convergence for {put, target, f, k, t, r, start}")


def rows():
    levels = (-150.0, -0.02, -0.003, 0.0, 0.001, 0.0125, 0.05, 3.0)
    times = (1 / 365, 0.25, 2.0, 30.0)
    vols = (1e-7, 0.0008, 0.01, 0.3, 50.0)
    rates = (0.0, 0.035, -0.01)
    for f, k, t, sigma, r, kind in itertools.product(levels, levels, times, vols, rates[:2], "cp"):
        yield kind, f, k, t, r, sigma
    rng = random.Random(20)
    for _ in range(600):
        f = rng.uniform(-0.05, 0.08)
        k = f + rng.gauss(0, 0.02)
        t = 10 ** rng.uniform(-3, 1.5)
        sigma = 10 ** rng.uniform(-4, -1)
        yield rng.choice("cp"), f, k, t, rng.choice(rates), sigma


def line(kind, f, k, t, r, sigma):
    put = kind == "p"
    values, d = quantities(put, f, k, t, r, sigma)
    if abs(d) > 60:
        return None  # the density underflows: nothing to compare but zeros and intrinsic values
    check_against_derivatives(put, f, k, t, r, sigma, values)

    def fn(ff, tt, rr, ss):
        return price(put, ff, k, tt, rr, ss)

    conds = {"price": condition(fn, f, k, t, r, sigma, d)}
    # A Greek is one differentiation away from the price: its figure is the price's, plus d*d
    # for the density's exponent, plus for theta the cancellation of its two terms.
    for name in QUANTITIES[1:]:
        conds[name] = conds["price"] + d * d + 4
    decay = mp.mpf(sigma) * mp.exp(-r * t) * mp.npdf(d) / (2 * mp.sqrt(t))
    carry = abs(r * values["price"])
    if values["theta"] != 0:
        conds["theta"] += (carry + decay) / abs(values["theta"])
    target = float(values["price"])
    iv = mp.nan
    cond_iv = mp.inf
    vega = values["vega"]
    if target > 0 and vega > 0:
        cond_iv = (values["price"] + abs(f - k) * abs(values["delta"])) / (sigma * vega) + 1
    if cond_iv < 1e8:  # else the rounding of the target leaves the volatility undetermined
        iv = implied(put, target, f, k, t, r, mp.mpf(sigma))
    cells = [kind, repr(f), repr(k), repr(t), repr(r), repr(sigma)]
    cells += [mp.nstr(values[q], 17, strip_zeros=False) for q in QUANTITIES]
    cells += [mp.nstr(conds[q], 6) for q in QUANTITIES]
    cells += [repr(target), mp.nstr(iv, 17, strip_zeros=False), mp.nstr(cond_iv, 6)]
    return ",".join(cells)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument(
        "-o", default=os.path.join(here, "..", "..", "tests", "data", "bachelier.csv")
    )
    args = parser.parse_args()
    header = ["kind", "f", "k", "t", "r", "sigma", *QUANTITIES]
    header += [f"cond_{q}" for q in QUANTITIES] + ["target", "iv", "cond_iv"]
    with open(args.o, "w") as out:
        out.write(",".join(header) + "\n")
        for row in rows():
            text = line(*row)
            if text is not None:
                out.write(text + "\n")


if __name__ == "__main__":
    main()
