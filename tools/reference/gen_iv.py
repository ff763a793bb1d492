#!/usr/bin/env python3
"""High-precision values of the inverse standard normal distribution function.

Writes inv_cdf.csv next to this script: one row per probability p (a double),
columns `p` and `x`, both as exact hexadecimal floats (C's "%a", Python's
float.hex(), parsed exactly by strtod), with x = Phi^-1(p) rounded once to the
nearest double from an 80-digit solution of Phi(x) = p (mpmath). The points
cover the central region, both sides of the central/tail split (|p - 0.5| =
0.425), both sides of the near/far tail split (sqrt(-ln p) = 5), the far tail
down to the smallest subnormal p, and the upper half up to the largest double
below 1. One header line, no comments.

Usage: python3 tools/reference/gen_iv.py        (needs mpmath; takes a few seconds)
"""

import math
import os

import mpmath as mp

mp.mp.dps = 80


def lower_quantile(p):
    """x < 0 with Phi(x) = p for 0 < p < 1/2, solved in log space."""
    p = mp.mpf(p)
    target = mp.log(p)
    guess = -mp.sqrt(-2 * mp.log(p)) if p < 0.1 else mp.sqrt(2) * mp.erfinv(2 * p - 1)
    return mp.findroot(lambda x: mp.log(mp.ncdf(x)) - target, guess, tol=mp.mpf(10) ** -70)


def quantile(p):
    """Phi^-1(p) for a double 0 < p < 1, using 1 - p (exact in mpmath) above 1/2."""
    if p == 0.5:
        return mp.mpf(0)
    if p < 0.5:
        return lower_quantile(p)
    return -lower_quantile(mp.mpf(1) - mp.mpf(p))


def points():
    ps = set()
    for i in range(1, 200):
        ps.add(i / 200.0)
    for e in range(1, 308):
        ps.add(10.0**-e)
        ps.add(3.0 * 10.0**-e)
    ps.update([5e-324, 1e-320, 2.2250738585072014e-308, 4.9e-310])
    # central | tail split at |p - 0.5| = 0.425
    for c in (0.075, 0.925):
        ps.update([c, math.nextafter(c, 0.0), math.nextafter(c, 1.0)])
    # near | far tail split at sqrt(-ln p) = 5, i.e. p = exp(-25)
    c = math.exp(-25.0)
    ps.update([c, math.nextafter(c, 0.0), math.nextafter(c, 1.0), 1.0 - c])
    # upper half close to 1
    for e in range(1, 54):
        ps.add(1.0 - 2.0**-e)
    ps.update([math.nextafter(1.0, 0.0), 1.0 - 1e-15, 0.5 + 2.0**-53, 0.5 - 2.0**-54])
    return sorted(p for p in ps if 0.0 < p < 1.0)


def main():
    out = os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "data", "inv_cdf.csv"
    )
    with open(out, "w") as f:
        f.write("p,x\n")
        for p in points():
            x = float(quantile(p))
            f.write(f"{p.hex()},{x.hex()}\n")


if __name__ == "__main__":
    main()
