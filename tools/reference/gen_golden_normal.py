#!/usr/bin/env python3
"""The normal model's golden table: exact output bits of its price, Greeks and implied volatility,
from the plain-Python transcription bachelier_exact.py.

Usage (from the project root; Python 3.11 or later, no third-party package; under a minute):

    python3 tools/reference/gen_golden_normal.py            # writes tests/data/golden_normal.bin
    python3 tools/reference/gen_golden_normal.py -o FILE    # writes FILE instead

Every row is one option (flag, f, k, t, r, sigma) and a target price, evaluated by the price,
delta, gamma, vega, theta, rho (on the option) and the implied volatility (on the target). The
rows are: every parameter set in turn to each special value on random options; forwards placed
on each side of every range boundary of the time value (a = 1.25 and 1/0.35 on
a = |d|/sqrt(2), the cdf's own ranges inside them, d infinite); target prices at and around the
intrinsic value, around the inversion's switches (the guess's at tau/a = 0.00188, the closed form
from tau/a = 2^27, the floor of the refinement at x = -38), tiny and huge; and wide random
options with negative forwards and strikes; and options on which a reassociated piece (MUTANTS)
changes a result, a few for each.

The file has the layout of golden.bin (gen_golden.py): one text line naming the layout, the
fingerprint of the platform's exp, log and cbrt, then the rows as little-endian binary64 values.
"""

import argparse
import math
import os
import random
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import bachelier_exact as bn  # noqa: E402
import gen_golden  # noqa: E402

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "data")
INPUTS = ("flag", "f", "k", "t", "r", "sigma", "target")
OUTPUTS = ("price", "delta", "gamma", "vega", "theta", "rho", "iv")
SPECIALS = (0.0, -0.0, -1.0, 5e-324, 1e-300, 1e-20, 1e300, math.inf, -math.inf, math.nan)


def evaluate(row):
    flag, f, k, t, r, sigma, target = row
    put = flag < 0
    return (
        bn.price(put, f, k, t, r, sigma),
        bn.delta(put, f, k, t, r, sigma),
        bn.gamma(f, k, t, r, sigma),
        bn.vega(f, k, t, r, sigma),
        bn.theta(put, f, k, t, r, sigma),
        bn.rho(put, f, k, t, r, sigma),
        bn.iv(put, target, f, k, t, r),
    )


def random_option(rng):
    scale = 1000.0 if rng.random() < 0.05 else 0.1
    f = rng.uniform(-scale, scale)
    k = f if rng.random() < 0.05 else f + rng.uniform(-0.05, 0.05)
    t = math.exp(rng.uniform(math.log(1 / 525600), math.log(60.0)))
    sigma = math.exp(rng.uniform(math.log(1e-7), math.log(5.0)))
    return rng.choice((1, -1)), f, k, t, rng.uniform(-0.05, 0.2), sigma


def with_target(option, target):
    return (*option, target)


def own_price(option):
    flag, f, k, t, r, sigma = option
    return bn.price(flag < 0, f, k, t, r, sigma)


def special_rows(rng, rows):
    for _ in range(150):
        base = random_option(rng)
        for p in range(1, 6):
            for v in SPECIALS:
                option = list(base)
                option[p] = v
                rows.append(with_target(tuple(option), own_price(base)))


def boundary_rows(rng, rows):
    """Options whose |d| sits on each side of the time value's and cdf's range boundaries."""
    root2 = math.sqrt(2.0)
    edges = (0.84375 * root2, 1.25 * root2, root2 / 0.35, 4.0, 6.0 * root2, 26.5 * root2, 38.0)
    for edge in edges:
        for j in range(-40, 41):
            d = edge * (1.0 + j * 2e-16)
            for flag in (1, -1):
                t, sigma, k = 1.0, 0.01, rng.uniform(-0.03, 0.03)
                for sign in (1.0, -1.0):
                    option = (flag, k + sign * d * sigma, k, t, 0.02, sigma)
                    rows.append(with_target(option, own_price(option)))
    for flag in (1, -1):  # d infinite: s underflows against w, w infinite
        for option in ((flag, 0.01, 0.0, 1e-300, 0.0, 1e-30), (flag, math.inf, 0.0, 1.0, 0.0, 0.1)):
            rows.append(with_target(option, 0.01))


def iv_edge_rows(rng, rows):
    for _ in range(300):
        option = random_option(rng)
        flag, f, k, t, r, sigma = option
        intrinsic = bn.price(flag < 0, f, k, t, r, 0.0)
        for target in (
            intrinsic,
            math.nextafter(intrinsic, math.inf),
            intrinsic - 5e-13,
            intrinsic - 2e-12,
            0.0,
            -0.0,
            1e-300,
            1e300,
            math.inf,
            math.nan,
        ):
            rows.append(with_target(option, target))
    # time value over |w| around the guess's switch, the closed form's bound and the floor
    for ratio in (0.001882039271, 2.0**27, 1e-300, 3e-313, 1e-320):
        for j in range(-30, 31):
            beta = ratio * (1.0 + j * 1e-15) if ratio > 1e-310 else ratio * (1.0 + j * 1e-3)
            for flag in (1, -1):
                a = rng.uniform(0.001, 0.05)
                f, k = (a, 0.0) if flag < 0 else (-a, 0.0)
                t, r = rng.uniform(0.1, 5.0), rng.uniform(-0.01, 0.05)
                target = beta * a * math.exp(-(r * t))
                rows.append(with_target((flag, f, k, t, r, 0.01), target))


def random_rows(rng, rows, n):
    for _ in range(n):
        option = random_option(rng)
        rows.append(with_target(option, own_price(option)))


# Reassociated pieces (each one operation order changed): rows on which one changes a result are
# kept, so that the same change in the C++ fails the golden test.
MUTANTS = {
    "householder (3*q)*x2 -> 3*(q*x2)": (
        "householder",
        lambda x, phi, p, h: _householder_with(x, phi, p, h, lambda q, x2: 3.0 * (q * x2)),
    ),
    "householder q*x*... -> q*(x*...)": (
        "householder",
        lambda x, phi, p, h: _householder_with(x, phi, p, h, None, True),
    ),
    "guess_near g*(c + xi*g2) -> g*c + g*(xi*g2)": (
        "guess_near",
        lambda phi: _guess_near_distributed(phi),
    ),
    "scaled e*(c + x*(0.5*E)) -> (e*c) + e*(x*(0.5*E))": (
        "scaled",
        lambda x, e, big_e: e * bn.INV_SQRT_2PI + e * (x * (0.5 * big_e)),
    ),
    "price df*(iota + s*h) -> df*iota + df*(s*h)": (
        "price_from_terms",
        lambda df, iota, s, h: df * iota + df * (s * h),
    ),
    "near_money (tau + a*0.5)*c -> tau*c + (a*0.5)*c": (
        "near_money_s",
        lambda tau, a: tau * bn.SQRT_2PI + (a * 0.5) * bn.SQRT_2PI,
    ),
    "theta sigma*(df*p) -> (sigma*df)*p": (
        "theta_from_terms",
        lambda r, v, sigma, df, p, rt: r * v - bn.bx.div((sigma * df) * p, rt + rt),
    ),
}


def _householder_with(x, phi, p, h, first=None, regroup=False):
    div = bn.bx.div
    q = div(div(h, x) - phi, p)
    x2 = x * x
    qx = q * x
    lead = first(q, x2) if first else (3.0 * q) * x2
    num = lead * (2.0 - (q * (x * (2.0 + x2)) if regroup else qx * (2.0 + x2)))
    den = 6.0 + qx * (-12.0 + x * ((6.0 * q) + x * (-6.0 + qx * (3.0 + x2))))
    return x + div(num, den)


def _guess_near_distributed(phi):
    div = bn.bx.div
    g = div(1.0, phi - 0.5)
    g2 = g * g
    a, b = bn.A, bn.B
    num = a[0] - g2 * (a[1] - g2 * (a[2] - a[3] * g2))
    den = 1.0 - g2 * (b[0] - g2 * (b[1] - b[2] * g2))
    return g * bn.INV_SQRT_2PI + g * (div(num, den) * g2)


def same(a, b):
    return a == b and math.copysign(1.0, a) == math.copysign(1.0, b) or (a != a and b != b)


def iv_option(rng):
    """An option for the inversion's mutants, with its own price as the target: a tenth of them
    nearly at the money (the closed form), half with |d| near 0.28."""
    flag, f, k, t, r, sigma = random_option(rng)
    draw = rng.random()
    if draw < 0.1:
        k = f + rng.uniform(-1.0, 1.0) * sigma * math.sqrt(t) * 2.0**-30
    elif draw < 0.6:  # |d| near 0.28, where the guess is least accurate and the step largest
        k = f + rng.choice((-1.0, 1.0)) * rng.uniform(0.15, 0.45) * sigma * math.sqrt(t)
    return flag, f, k, t, r, sigma


def mutant_rows(rng, rows, tries, keep):
    """Up to `keep` rows per mutant, from `tries` random options (and as many for the
    inversion), on which the mutated transcription differs."""
    pool = [with_target(o, own_price(o)) for o in (random_option(rng) for _ in range(tries))]
    iv_pool = [with_target(o, own_price(o)) for o in (iv_option(rng) for _ in range(5 * tries))]
    log = []
    for name, (piece, mutated) in MUTANTS.items():
        original = getattr(bn, piece)
        inversion = piece in ("householder", "guess_near", "near_money_s")
        found = 0
        for row in iv_pool if inversion else pool:
            flag, f, k, t, r, _, target = row
            if inversion:

                def outputs(row=row):
                    return (bn.iv(flag < 0, target, f, k, t, r),)

            else:

                def outputs(row=row):
                    return evaluate(row)

            want = outputs()
            setattr(bn, piece, mutated)
            try:
                got = outputs()
            finally:
                setattr(bn, piece, original)
            if not all(same(a, b) for a, b in zip(want, got)):
                rows.append(row)
                found += 1
                if found == keep:
                    break
        log.append(f"{found:3d} rows for {name}")
    return log


def build(seed=20261207):
    rng = random.Random(seed)
    rows = []
    special_rows(rng, rows)
    boundary_rows(rng, rows)
    iv_edge_rows(rng, rows)
    random_rows(rng, rows, 15000)
    log = mutant_rows(rng, rows, 20000, 8)
    return rows, gen_golden.fingerprint_arguments(random.Random(seed + 1)), log


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("-o", "--output", default=os.path.join(HERE, "golden_normal.bin"))
    args = ap.parse_args()
    rows, fingerprint, log = build()
    with open(args.output, "wb") as out:
        out.write(gen_golden.write_header(fingerprint, len(rows), INPUTS, OUTPUTS).encode("ascii"))
        gen_golden.write_fingerprint(out, fingerprint)
        for row in rows:
            out.write(struct.pack(f"<{len(INPUTS)}d", *row))
            out.write(struct.pack(f"<{len(OUTPUTS)}d", *evaluate(row)))
    print(f"{len(rows)} rows, {os.path.getsize(args.output)} bytes")
    for line in log:
        print(line)


if __name__ == "__main__":
    main()
