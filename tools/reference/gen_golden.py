#!/usr/bin/env python3
"""The golden table: exact output bits of all 16 option functions, from bitexact.py.

Usage (from the project root; Python 3.11 or later, no third-party package; about
two minutes, on a platform whose exp, log and cbrt give the bits the table's
fingerprint holds, the same table):

    python3 tools/reference/gen_golden.py            # writes tests/data/golden.bin
    python3 tools/reference/gen_golden.py -o FILE    # writes FILE instead

Every row is one set of inputs, evaluated by every function: the BSM price,
delta, gamma, vega, theta, rho and implied volatility on (flag, s, k, t, r, q,
sigma) and the target price `target_bsm`; the Black-76 ones on the same row
with the forward f = s, q replaced by r and the target price `target_black76`.
The five fields of each model's single-pass Greeks are the individual Greeks
(checked here), so one column serves both. NaN results are stored as the
default quiet NaN: their sign is not part of the contract.

The rows are:

- fixed cases: degenerate inputs of every kind on every parameter, the
  boundaries of the normal distribution function's and the error functions'
  ranges (as d1 and d2 of the Greeks), of the four regions of the normalised
  Black function (as the moneyness and total volatility of the price), and of
  the implied volatility's front end (prices at, just inside and just outside
  the intrinsic value and the upper bound, at the money, tiny prices);
- implied volatilities aimed at the edges of the initial guess's four
  branches (prices at and beside the points b_l, b_c, b_u and b_max/2);
- wide and realistic random options;
- options on which a reassociated formula (mutants.py) changes a result,
  a few for each, so that such a change in the C++ fails the tests;
- options kept from a large random pool because they reach a branch that
  the rows so far reach rarely (bisections, reversals, the lower map's
  quadratic, the floor of a step), until every branch is reached often.

The file starts with one text line naming the layout, then little-endian
binary64 values: the fingerprint of the platform's exp, log and cbrt (pairs
of argument and result on a few hundred arguments each: the table holds only
on a platform whose functions return these bits), then the rows.
"""

import argparse
import math
import os
import random
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import bitexact as bx  # noqa: E402
import mutants  # noqa: E402

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "data")
INPUTS = ("flag", "s", "k", "t", "r", "q", "sigma", "target_bsm", "target_black76")
QUANTITIES = ("price", "delta", "gamma", "vega", "theta", "rho", "iv")
OUTPUTS = tuple(f"{m}_{q}" for m in ("bsm", "black76") for q in QUANTITIES)
INF, NAN = math.inf, math.nan
SPECIALS = (0.0, -0.0, -1.0, 5e-324, 1e-300, 1e-160, 1e-20, 1e160, 1e300, INF, -INF, NAN, 700.0)


def bits(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def same(a, b):
    return bits(a) == bits(b) or (a != a and b != b)


_EVALUATED = {}


def evaluate(row):
    """The 14 outputs of one row (remembered)."""
    key = tuple(bits(v) for v in row)
    if key not in _EVALUATED:
        _EVALUATED[key] = _evaluate(row)
    return _EVALUATED[key]


def _evaluate(row):
    """The 14 outputs of one row, and a check that the single pass equals the individual kernels."""
    flag, s, k, t, r, q, sigma, target, target76 = row
    put = flag < 0
    out = []
    for black76 in (False, True):
        qq = r if black76 else q
        tp = target76 if black76 else target
        p = bx.price(put, s, k, t, r, qq, sigma)
        d = bx.delta(put, s, k, t, r, qq, sigma)
        g = bx.gamma(s, k, t, r, qq, sigma)
        v = bx.vega(s, k, t, r, qq, sigma)
        th = bx.theta(put, s, k, t, r, qq, sigma)
        rh = (
            bx.black76_rho(put, s, k, t, r, sigma) if black76 else bx.rho(put, s, k, t, r, q, sigma)
        )
        single = (
            bx.black76_greeks(put, s, k, t, r, sigma)
            if black76
            else bx.greeks(put, s, k, t, r, q, sigma)
        )
        for a, b in zip(single, (d, g, v, th, rh)):
            if not same(a, b):
                raise AssertionError(f"single pass differs from the kernels on {row}: {single}")
        out += [p, d, g, v, th, rh, bx.iv(put, tp, s, k, t, r, qq)]
    return [NAN if x != x else x for x in out]


# ------------------------------------------------------------------- row sets


class Rows:
    def __init__(self, rng):
        self.rng = rng
        self.rows = []

    def add(self, flag, s, k, t, r, q, sigma, target=None, target76=None):
        """A row; a missing target is the price at sigma (of each model), so that iv inverts it."""
        if target is None:
            target = bx.price(flag < 0, s, k, t, r, q, sigma)
        if target76 is None:
            target76 = bx.price(flag < 0, s, k, t, r, r, sigma)
        self.rows.append((float(flag), s, k, t, r, q, sigma, target, target76))

    def log_uniform(self, lo, hi):
        return math.exp(self.rng.uniform(math.log(lo), math.log(hi)))

    def flag(self):
        return self.rng.choice((1, -1))

    def near(self, x, spread=1e-12):
        """x, or x moved by a few ulps or a tiny relative amount, either way."""
        c = self.rng.random()
        if c < 0.3:
            return x
        if c < 0.7:
            step = math.nextafter(x, INF) if self.rng.random() < 0.5 else math.nextafter(x, -INF)
            return step
        return x * (1.0 + self.rng.uniform(-spread, spread))


def wide_random(rows, n):
    """Spot 1e-4 to 1e4, log-moneyness up to +-30, a minute to 60 years, rates and yields -20 %
    to 50 %, volatilities 1e-4 to 8, every int8 flag; about one target price in eight moved off
    the price or anywhere from 0 to 1.1 times the larger of spot and strike."""
    rng = rows.rng
    for _ in range(n):
        s = rows.log_uniform(1e-4, 1e4)
        k = s * math.exp((30.0 if rng.random() < 0.1 else 1.5) * rng.uniform(-1.0, 1.0))
        t = rows.log_uniform(1.0 / (365.0 * 24.0 * 60.0), 60.0)
        r, q = rng.uniform(-0.2, 0.5), rng.uniform(-0.2, 0.5)
        sigma = rows.log_uniform(1e-4, 8.0)
        flag = rng.randint(-128, 127)
        targets = []
        for qq in (q, r):
            p = bx.price(flag < 0, s, k, t, r, qq, sigma)
            c = rng.random()
            if c < 0.06:
                p *= 1.0 + rng.uniform(-1e-3, 1e-3)
            elif c < 0.12:
                p = rng.random() * 1.1 * max(s, k)
            targets.append(p)
        rows.add(flag, s, k, t, r, q, sigma, *targets)


def realistic(rows, n):
    """A desk's book: strikes within e^-0.5..e^0.5 of the spot, a week to five years."""
    rng = rows.rng
    for _ in range(n):
        rows.add(
            rows.flag(),
            100.0,
            100.0 * math.exp(rng.uniform(-0.5, 0.5)),
            rows.log_uniform(7.0 / 365.0, 5.0),
            rng.uniform(-0.01, 0.08),
            rng.uniform(0.0, 0.05),
            rng.uniform(0.05, 0.9),
        )


def degenerate_classes(rows, bases):
    """Every parameter, the target prices included, in turn set to each special value on top
    of random ordinary options, with both flags; then pairs of special values."""
    rng = rows.rng
    for _ in range(bases):
        s = rows.log_uniform(1e-2, 1e3)
        base = [s, s * math.exp(rng.uniform(-1, 1)), rows.log_uniform(1e-2, 10)]
        base += [rng.uniform(-0.1, 0.2), rng.uniform(-0.1, 0.2), rows.log_uniform(0.01, 2)]
        for p in range(7):
            for special in SPECIALS:
                for flag in (1, -1):
                    v = list(base)
                    if p < 6:
                        v[p] = special
                        rows.add(flag, *v)
                    else:
                        rows.add(flag, *v, special, special)
    for a in SPECIALS:
        for b in SPECIALS:
            rows.add(1, a, b, 1.0, 0.05, 0.0, 0.2)
            rows.add(-1, 100.0, 100.0, a, 0.05, 0.0, b)
            rows.add(-1, 1.0, 1e200, a, b, 0.0, 0.3)
            rows.add(1, 100.0, 90.0, 1.0, a, b, 0.3)
            rows.add(-1, 100.0, 110.0, 0.5, 0.01, 0.02, 0.25, a, b)


def listed_edges(rows):
    """The cases the kernels name one by one."""
    add = rows.add
    for flag in (1, -1, 0, 127, -128):
        add(flag, 110.0, 100.0, 0.0, 0.05, 0.0, 0.2)
        add(flag, 100.0, 100.0, 0.0, 0.05, 0.0, 0.2)
        add(flag, 90.0, 100.0, -1.0, 0.05, 0.0, 0.2)
        add(flag, 100.0, 100.0, 0.0, 0.05, INF, 0.2)
        add(flag, 100.0, 100.0, 1.0, 0.05, 0.0, 0.0)
        add(flag, 120.0, 100.0, 1.0, 0.05, 0.03, 0.0)
        add(flag, 80.0, 100.0, 1.0, 0.05, 0.03, 0.0)
        add(flag, 300.0, 100.0, 1.0, 0.0, 0.0, 0.2)
        add(flag, 100.0, 100.0, 1.0, 0.0, 0.0, 0.2)
        add(flag, 100.0, 100.0, 1.0, 0.05, 0.0, 0.2, 10.450583572185565)
        add(flag, 100.0, 200.0, 1.0, 0.0, 0.0, 0.2, 1e-320, 1e-320)
        add(flag, 100.0, 200.0, 1.0, 0.0, 0.0, 0.2, 5e-324, 5e-324)
        add(flag, 0.0, 100.0, 1.0, 0.03, 0.01, 0.2)
        add(flag, 100.0, 0.0, 1.0, 0.03, 0.01, 0.2)
        add(flag, -100.0, 100.0, 1.0, 0.03, 0.01, 0.2)
        add(flag, -100.0, -100.0, 1.0, 0.03, 0.01, 0.2)
        add(flag, 100.0, 100.0, NAN, 0.03, 0.01, 0.0)
        add(flag, 100.0, 100.0, 1.0, INF, 0.01, 0.2)
        add(flag, 100.0, 100.0, 1.0, 0.03, 0.01, INF)
        add(flag, 100.0, 100.0, 1.0, 0.03, 0.01, NAN)
        add(flag, 100.0, 100.0, INF, 0.03, 0.01, 0.2)


def normal_ranges(rows, per_edge):
    """d1 (and through sigma, d2) on and beside every switch of cdf, erf, erfc and erfcx:
    |z| = 4, |z|/sqrt(2) = 2^-56, 2^-28, 1/4, 0.84375, 1.25, 1/0.35, 6, 28, erfcx's 26.5, and
    far into the tails where the density underflows."""
    rng = rows.rng
    edges = [4.0, 0.84375, 1.25, 1.0 / 0.35, 6.0, 26.5, 28.0, 0.25, 2.0**-28, 2.0**-56]
    zs = [4.0, 38.5, 37.5, 40.0, 0.0, 1e-9]
    zs += [e * math.sqrt(2.0) for e in edges]
    for z0 in zs:
        for _ in range(per_edge):
            for sign in (1.0, -1.0):
                d = sign * rows.near(z0, 1e-9)
                sigma = rng.choice((1.0, 0.25, 2.0, 1e-3))
                # t = 1, r = q = 0, k = 1: d1 = (ln s + sigma^2/2)/sigma
                s = math.exp(d * sigma - sigma * sigma * 0.5)
                rows.add(rows.flag(), s, 1.0, 1.0, 0.0, 0.0, sigma)
                # the same value as d2
                s = math.exp(d * sigma + sigma * sigma * 0.5)
                rows.add(rows.flag(), s, 1.0, 1.0, 0.0, 0.0, sigma)
    for _ in range(per_edge * 20):
        d = rng.uniform(-45.0, 45.0)
        sigma = rows.log_uniform(1e-3, 3.0)
        s = math.exp(d * sigma - sigma * sigma * 0.5)
        rows.add(rows.flag(), s, 1.0, rows.log_uniform(0.01, 4.0), 0.0, 0.0, sigma)


def black_regions(rows, per_edge):
    """Moneyness x and total volatility v of the normalised Black function on and beside each
    region's edges (h = x/v = -10, x + v^2/2 = -9.79v, v/2 = tau, h + v/2 = 0.85), at the money,
    with x beyond the intrinsic series' bound, and far out (tiny and huge v, x down to -700)."""
    rng = rows.rng

    def option(x, v):
        # k = 1, t = 1, r = q = 0: F = s, x = ln s, v = sigma; both sides of the money
        flag = rows.flag()
        xs = x if rng.random() < 0.5 else -x
        if abs(xs) < 709.0:
            rows.add(flag, math.exp(xs), 1.0, 1.0, 0.0, 0.0, v)
        t = rows.log_uniform(0.05, 4.0)
        rows.add(flag, 100.0, 100.0 * math.exp(-xs), t, 0.0, 0.0, v / math.sqrt(t))

    tau = 0.2102528541151713
    for _ in range(per_edge):
        v = rows.log_uniform(1e-4, 3.0)
        option(rows.near(-10.0 * v, 1e-12), v)  # h = -10
        v = rows.log_uniform(1e-4, 3.0)
        option(rows.near(-9.789747145884828 * v - v * v * 0.5, 1e-12), v)
        option(rng.uniform(-3.0, 0.0), rows.near(2.0 * tau, 1e-12))  # t = tau
        v = rows.log_uniform(0.4, 30.0)
        option(rows.near((0.85 - v * 0.5) * v, 1e-12), v)  # h + t = 0.85
        option(0.0, rows.log_uniform(1e-6, 50.0))  # at the money
        option(rows.near(math.sqrt(0.011962890625), 1e-9), rows.log_uniform(0.01, 3.0))
        option(-rows.log_uniform(1e-12, 0.2), rows.log_uniform(1e-3, 5.0))
        option(rng.uniform(-700.0, -30.0), rows.log_uniform(1e-3, 60.0))
        option(rng.uniform(-5.0, 0.0), rows.log_uniform(1e-9, 1e-4))
        option(rng.uniform(-50.0, 0.0), rows.log_uniform(10.0, 1e3))
        v = rows.log_uniform(1e-3, 3.0)
        option(-v * rng.uniform(10.0, 45.0), v)  # deep in region 1


def iv_front_end(rows, per_case):
    """Target prices at, just inside and just outside the intrinsic value and the upper bound,
    in the money and out of it, for both kinds."""
    rng = rows.rng
    tol = 1e-12
    for _ in range(per_case):
        s = rows.log_uniform(0.5, 200.0)
        k = s * math.exp(rng.uniform(-0.7, 0.7))
        t = rows.log_uniform(0.01, 5.0)
        r, q = rng.uniform(-0.05, 0.1), rng.uniform(-0.05, 0.1)
        flag = rows.flag()
        for qq in (q, r):
            d, dq = math.exp(-r * t), math.exp(-qq * t)
            s_disc, k_disc = s * dq, k * d
            intrinsic = max(k_disc - s_disc, 0.0) if flag < 0 else max(s_disc - k_disc, 0.0)
            upper = k_disc if flag < 0 else s_disc
            cands = [
                intrinsic,
                intrinsic - tol,
                intrinsic - tol * 0.5,
                intrinsic - 2 * tol,
                math.nextafter(intrinsic, INF),
                intrinsic + 1e-13,
                upper,
                upper + tol,
                upper + 0.5 * tol,
                upper + 2 * tol,
                math.nextafter(upper, -INF),
                upper * (1.0 - 1e-15),
                upper * (1.0 - 1e-9),
                0.0,
                -0.0,
                -5e-324,
            ]
            p = rng.choice(cands)
            if qq is q:
                rows.add(flag, s, k, t, r, q, 0.2, p, None)
            else:
                rows.add(flag, s, k, t, r, q, 0.2, None, p)


def iv_branches(rows, per_case):
    """Normalised prices on and beside the initial guess's branch points b_l, b_c, b_u and at
    b_max/2, b_max and tiny fractions of them, mapped back to target prices (k = 1, t = 1,
    r = q = 0: F = s and the target is beta*sqrt(s))."""
    rng = rows.rng
    for _ in range(per_case):
        x = -rows.log_uniform(1e-6, 30.0) if rng.random() < 0.9 else 0.0
        ax = abs(x)
        s_c = math.sqrt(ax + ax)
        b_c, v_c = bx.normalised_black(x, s_c)
        b_max = math.exp(x * 0.5)
        s_l = s_c - bx.div(b_c, v_c)
        b_l = bx.normalised_black(x, s_l)[0]
        s_u = s_c + bx.div(b_max - b_c, v_c) if v_c > bx.DBL_MIN else s_c
        b_u = bx.normalised_black(x, s_u)[0]
        points = [b_l, b_c, b_u, b_max * 0.5, b_max]
        beta = rows.near(rng.choice(points), 1e-10)
        c = rng.random()
        if c < 0.15:
            beta = b_l * rows.log_uniform(1e-300, 1.0)
        elif c < 0.3:
            beta = b_max - (b_max - b_u) * rows.log_uniform(1e-16, 1.0)
        for put in (False, True):
            # a call out of the money at F = e^x; a put at the mirrored strike is the same problem
            s, k = (1.0, math.exp(x)) if put else (math.exp(x), 1.0)
            target = beta * math.sqrt(k) * math.sqrt(s)
            flag = -1 if put else 1
            rows.add(flag, s, k, 1.0, 0.0, 0.0, 0.2, target, target)
            # the in-the-money twin by parity: the other kind, the time value plus the intrinsic
            itm = target + abs(s - k)
            rows.add(-flag, s, k, 1.0, 0.0, 0.0, 0.2, itm, itm)


def iv_tiny_prices(rows):
    """Out-of-the-money calls priced down to the smallest subnormal, over a range of moneyness:
    the lower map with tiny normalised prices, its bisections and the floor of a step."""
    for x in (-0.01, -0.1, -0.5, -1.0, -2.0, -5.0, -10.0, -20.0, -30.0, -50.0, -100.0):
        s = math.exp(x)
        for beta in (1e-300, 1e-310, 1e-315, 1e-320, 1e-323, 5e-324):
            target = beta * math.sqrt(s)
            rows.add(1, s, 1.0, 1.0, 0.0, 0.0, 0.2, target, target)


def rare_branches(rows, pool, keep_per_branch):
    """Options from a large random pool, kept while they reach a branch the rows reach fewer
    than keep_per_branch times."""
    rng = rows.rng
    counts = {}
    bx.HITS.clear()
    for row in rows.rows:
        evaluate(row)
    counts.update(bx.HITS)
    for _ in range(pool):
        s = rows.log_uniform(1e-3, 1e3)
        spread = rng.choice((0.05, 0.5, 3.0, 30.0))
        k = s * math.exp(spread * rng.uniform(-1.0, 1.0))
        t = rows.log_uniform(1e-4, 50.0)
        r, q = rng.uniform(-0.2, 0.3), rng.uniform(-0.2, 0.3)
        sigma = rows.log_uniform(1e-4, 10.0)
        flag = rows.flag()
        target = bx.price(flag < 0, s, k, t, r, q, sigma)
        c = rng.random()
        if c < 0.2:
            target *= 1.0 + rng.uniform(-1e-6, 1e-6)
        elif c < 0.3:
            target = rng.random() * max(s, k)
        elif c < 0.4:
            target *= rows.log_uniform(1e-300, 1.0)
        row = (float(flag), s, k, t, r, q, sigma, target, bx.price(flag < 0, s, k, t, r, r, sigma))
        bx.HITS.clear()
        evaluate(row)
        if any(counts.get(b, 0) < keep_per_branch for b in bx.HITS):
            rows.rows.append(row)
            for b, n in bx.HITS.items():
                counts[b] = counts.get(b, 0) + n
    return counts


# --------------------------------------------------------------- fingerprint


def fingerprint_arguments(rng):
    """A few hundred arguments for each of exp, log and cbrt, over the ranges the kernels use."""
    exp_args = [0.0, -0.0, 1.0, -1.0, 0.5, 709.78, -745.0, -708.5, 1e-300, -1e-17]
    exp_args += [rng.uniform(-745.0, 709.7) for _ in range(100)]
    exp_args += [rng.uniform(-50.0, 10.0) for _ in range(100)]
    exp_args += [rng.uniform(-1.0, 1.0) * 10.0 ** rng.uniform(-17, 0) for _ in range(90)]
    log_args = [1.0, 2.0, 0.5, 5e-324, 1e-310, 1e300, 1.7976931348623157e308]
    log_args += [math.exp(rng.uniform(-700.0, 700.0)) for _ in range(100)]
    log_args += [1.0 + rng.uniform(-1.0, 1.0) * 10.0 ** rng.uniform(-15, -1) for _ in range(100)]
    log_args += [rng.uniform(0.1, 10.0) for _ in range(93)]
    cbrt_args = [1.0, 8.0, 1e-300, 5e-324, 0.125, 3.0]
    cbrt_args += [math.exp(rng.uniform(-700.0, 700.0)) for _ in range(100)]
    cbrt_args += [rng.uniform(0.0, 1.0) * 10.0 ** rng.uniform(-20, 0) for _ in range(94)]
    return (
        ("exp", exp_args, bx.exp),
        ("log", log_args, bx.log),
        ("cbrt", cbrt_args, bx.cbrt),
    )


def build(seed=20261207, rare_pool=30_000, mutant_tries=8_000):
    rng = random.Random(seed)
    rows = Rows(rng)
    listed_edges(rows)
    degenerate_classes(rows, 12)
    normal_ranges(rows, 12)
    black_regions(rows, 160)
    iv_front_end(rows, 600)
    iv_branches(rows, 1500)
    iv_tiny_prices(rows)
    realistic(rows, 1500)
    wide_random(rows, 3000)
    killing, log = mutants.killing_rows(rng, 3, mutant_tries)
    for flag, s, k, t, r, q, sigma, target, target76 in killing:
        inverts = target != 0.0 or target76 != 0.0
        rows.add(flag, s, k, t, r, q, sigma, *((target, target76) if inverts else (None, None)))
    counts = rare_branches(rows, rare_pool, 40)
    return rows.rows, fingerprint_arguments(random.Random(seed + 1)), counts, log


def write_header(fingerprint, rows, inputs, outputs):
    """The table's first line: its layout."""
    return (
        f"karvex golden table 1; fingerprint {' '.join(f'{n}={len(a)}' for n, a, _ in fingerprint)}"
        f"; rows={rows}; inputs={','.join(inputs)}; outputs={','.join(outputs)}\n"
    )


def write_fingerprint(f, fingerprint):
    """The platform's exp, log and cbrt on their arguments, as pairs after the header."""
    for _, args, fn in fingerprint:
        for a in args:
            f.write(struct.pack("<2d", a, fn(a)))


def write(path, rows, fingerprint):
    with open(path, "wb") as f:
        f.write(write_header(fingerprint, len(rows), INPUTS, OUTPUTS).encode("ascii"))
        write_fingerprint(f, fingerprint)
        for row in rows:
            f.write(struct.pack(f"<{len(INPUTS)}d", *row))
            f.write(struct.pack(f"<{len(OUTPUTS)}d", *evaluate(row)))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("-o", "--output", default=os.path.join(HERE, "golden.bin"))
    args = ap.parse_args()
    start = time.monotonic()
    rows, fingerprint, counts, log = build()
    write(args.output, rows, fingerprint)
    print(
        f"{len(rows)} rows, {len(rows) * len(OUTPUTS)} results, {os.path.getsize(args.output)} bytes"
    )
    print(f"{time.monotonic() - start:.1f} s")
    print("rows that tell reassociated formulas apart:")
    for line in log:
        print(f"  {line}")
    print("branches reached (times):")
    for name, n in sorted(counts.items()):
        print(f"  {n:8d}  {name}")


if __name__ == "__main__":
    main()
