#!/usr/bin/env python3
"""Reference values for the normal distribution functions, the normalised
Black function and option prices, in high precision.

Usage (from the project root; needs mpmath, takes about a minute):

    python3 tools/reference/gen_normal_price.py              # writes the three tables
    python3 tools/reference/gen_normal_price.py -d DIR       # writes them into DIR

It writes, next to this script:

- normal.csv: `function,x,value,cond` for erf, erfc, erfcx and cdf, on both
  sides of every switch of their evaluation (0.84375, 1.25, 1/0.35, 6, 28 for
  erf/erfc with the doubles on each side of each boundary, 2^-28, 2^-56,
  0.25; 26.5 for erfcx; |z| = 4 for cdf), across their ranges and into the
  deep tails down to underflow.
- normalised_black.csv: `x,s,b,nu,cond_b,cond_nu`, mostly x <= 0, covering
  each of the four evaluation regions and their boundaries, and some x > 0.
- price.csv: `model,kind,s,k,t,r,q,sigma,price,cond` for BSM and Black-76
  (Black-76 rows hold the forward in `s` and the rate again in `q`) across
  moneyness, volatility and time, deep out of the money and with tiny total
  volatility included.

Inputs are doubles written as hex-floats (float.hex(), which C's strtod reads
back exactly). Each value is the exact function value at that double,
computed at 100 significant digits and rounded once to the nearest double
(written as a hex-float too); every value is recomputed at 130 digits and the
two must agree, so cancellation in the closed forms cannot leak into the
table.

`cond` is the relative condition number of the value: the sum over the
inputs u of |u * df/du / f|, i.e. how much a relative perturbation of the
inputs by one rounding is magnified. For erfcx and cdf it also counts the
rounding of the square in their exponential factor (a*a for erfcx,
z*z/2 for cdf's lower tail), which their formulation cannot avoid; for nu it is
(h*h + t*t), the magnification of the exponent's rounding. The C++ tests
allow a few ulps plus a few ulps times `cond`.

The inputs come from a fixed seed, so a re-run writes the same files.
"""

import argparse
import math
import os
import random
import struct

import mpmath as mp

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "data")
DIGITS = 100
CHECK_DIGITS = 130


def nearest_double(v):
    """The double nearest to the mpf v (ties to even), subnormals included."""
    if mp.isinf(v):
        return math.copysign(math.inf, v)
    d = float(v)  # may double-round in the subnormal range: check neighbours
    best = d
    for c in (math.nextafter(d, -math.inf), math.nextafter(d, math.inf)):
        if abs(mp.mpf(c) - v) < abs(mp.mpf(best) - v):
            best = c
    return best


def stable(fn, *args):
    """fn(*args) at DIGITS digits, checked against CHECK_DIGITS digits."""
    with mp.workdps(DIGITS):
        a = fn(*args)
    with mp.workdps(CHECK_DIGITS):
        b = fn(*args)
    results = a if isinstance(a, tuple) else (a,)
    checks = b if isinstance(b, tuple) else (b,)
    for x, y in zip(results, checks):
        if y != 0 and not mp.isinf(y):
            assert abs(x - y) <= abs(y) * mp.mpf(10) ** (-40), (fn.__name__, args, x, y)
    if isinstance(a, tuple):
        return tuple(nearest_double(x) for x in results)
    return nearest_double(a)


def hexf(x):
    return float(x).hex()


def cond_fmt(c):
    return f"{float(c):.3g}"


# --- normal distribution functions ---------------------------------------


def f_erf(x):
    return mp.erf(mp.mpf(x))


def f_erfc(x):
    return mp.erfc(mp.mpf(x))


def f_erfcx(a):
    a = mp.mpf(a)
    if a > 1e6:
        # Asymptotic series 1/(a*sqrt(pi)) * sum (-1)^n (2n-1)!!/(2a^2)^n;
        # its terms fall by 1/a^2 at least, far past the working precision.
        term, total, n = mp.mpf(1), mp.mpf(1), 1
        while abs(term) > mp.eps:
            term *= -(2 * n - 1) / (2 * a * a)
            total += term
            n += 1
        return total / (a * mp.sqrt(mp.pi))
    return mp.exp(a * a) * mp.erfc(a)


def f_cdf(z):
    return mp.ncdf(mp.mpf(z))


def cond_normal(name, x):
    """|x f'(x)/f(x)| plus the square's rounding where the formulation has it."""
    with mp.workdps(30):
        x = mp.mpf(x)
        if name == "erf":
            f, d = mp.erf(x), 2 / mp.sqrt(mp.pi) * mp.exp(-x * x)
        elif name == "erfc":
            f, d = mp.erfc(x), -2 / mp.sqrt(mp.pi) * mp.exp(-x * x)
        elif name == "erfcx":
            f = f_erfcx(x)
            d = 2 * x * f - 2 / mp.sqrt(mp.pi)
        else:
            f, d = mp.ncdf(x), mp.npdf(x)
        if f == 0:
            return 0.0
        c = abs(x * d / f)
        if name == "erfcx" and x < 26.5:
            c += x * x
        if name == "cdf" and x <= -4:
            c += x * x / 2
        return c


def around(x, n=2):
    """x and the n doubles on each side of it."""
    out = [x]
    lo = hi = x
    for _ in range(n):
        lo = math.nextafter(lo, -math.inf)
        hi = math.nextafter(hi, math.inf)
        out += [lo, hi]
    return out


def from_bits(u):
    """The double whose IEEE-754 representation is the integer u."""
    return struct.unpack("<d", struct.pack("<Q", u))[0]


def normal_points(rng):
    pts = {}
    # erf / erfc: each range boundary as fdlibm sees it (the first double with
    # that high word, and the one before), on both signs.
    switches = [
        0x3C700000,
        0x3E300000,
        0x3FD00000,
        0x3FEB0000,
        0x3FF40000,
        0x4006DB6D,
        0x40180000,
        0x403C0000,
    ]
    edge = []
    for hw in switches:
        edge += around(from_bits(hw << 32))
    edge += [
        0.84375,
        1.25,
        1 / 0.35,
        6.0,
        28.0,
        1.0,
        0.5,
        2.0,
        5e-324,
        2.2250738585072014e-308,
        1e-310,
        3.0,
        10.0,
        26.5,
        27.0,
        27.2,
        27.5,
    ]
    spread = [math.exp(rng.uniform(math.log(1e-20), math.log(30.0))) for _ in range(260)]
    spread += [rng.uniform(0.0, 6.0) for _ in range(160)]
    for name in ("erf", "erfc"):
        pts[name] = sorted(
            {
                sgn * x
                for x in edge + spread
                for sgn in (1.0, -1.0)
                if not (name == "erf" and abs(x) > 7)
            }
            | {0.0}
        )
    # erfcx: the continued-fraction switch, the negative side down to -26
    # (beyond about -26.64 the product overflows), large arguments.
    ex = around(26.5, 3) + [
        0.0,
        0.5,
        -0.5,
        0.84375,
        1.25,
        1 / 0.35,
        6.0,
        28.0,
        100.0,
        1e3,
        1e6,
        1e10,
        1e100,
        1e300,
        -1.0,
        -5.0,
        -20.0,
        -26.0,
    ]
    ex += [rng.uniform(-26.0, 40.0) for _ in range(200)]
    ex += [math.exp(rng.uniform(math.log(26.5), math.log(1e8))) for _ in range(60)]
    pts["erfcx"] = sorted(set(ex))
    # cdf: the tail switch at |z| = 4, the deep lower tail to underflow
    # (about -38.5), the upper tail to where it rounds to 1.
    cz = (
        around(4.0, 3)
        + around(-4.0, 3)
        + [
            0.0,
            -0.0,
            1.0,
            -1.0,
            8.0,
            8.3,
            9.0,
            -10.0,
            -20.0,
            -30.0,
            -37.0,
            -38.0,
            -38.4,
            -38.5,
            -39.0,
        ]
    )
    cz += [rng.uniform(-8.0, 8.0) for _ in range(300)]
    cz += [rng.uniform(-38.5, -4.0) for _ in range(120)]
    cz += [rng.uniform(4.0, 8.5) for _ in range(40)]
    pts["cdf"] = sorted(set(cz), key=lambda z: (z, math.copysign(1, z)))
    return pts


def write_normal(path, rng):
    fns = {"erf": f_erf, "erfc": f_erfc, "erfcx": f_erfcx, "cdf": f_cdf}
    with open(path, "w") as out:
        out.write(
            "# written by gen_normal_price.py: exact values rounded once; see its docstring\n"
        )
        out.write("function,x,value,cond\n")
        for name, xs in normal_points(rng).items():
            for x in xs:
                v = stable(fns[name], x)
                out.write(f"{name},{hexf(x)},{hexf(v)},{cond_fmt(cond_normal(name, x))}\n")


# --- normalised Black function -------------------------------------------


def f_black(x, s):
    x, s = mp.mpf(x), mp.mpf(s)
    h, t = x / s, s / 2
    b = mp.ncdf(h + t) * mp.exp(x / 2) - mp.ncdf(h - t) * mp.exp(-x / 2)
    nu = mp.exp(-(h * h + t * t) / 2) / mp.sqrt(2 * mp.pi)
    return b, nu


def cond_black(x, s):
    """Relative condition of b in (x, s) and the exponent rounding of nu."""
    with mp.workdps(60):
        x, s = mp.mpf(x), mp.mpf(s)
        b, nu = f_black(x, s)
        if b == 0:
            return 0.0, 0.0
        h, t = x / s, s / 2
        # d/dx of b at fixed s; the density terms cancel exactly.
        db_dx = b / 2 + mp.ncdf(h - t) * mp.exp(-x / 2)
        cb = abs(x * db_dx / b) + abs(s * nu / b)
        return cb, h * h + t * t


def black_points(rng):
    tau = 0.2102528541151713
    pts = []
    # At the money across the region changes (2*tau, about 1.7).
    for s in around(2 * tau, 2) + around(1.7, 1) + [0.01, 0.1, 0.3, 0.6, 1.0, 2.0, 5.0, 20.0]:
        pts.append((0.0, s))
    # Region 1 / 2 boundary in x: x = -10*s, both sides, small s.
    for s in (1e-3, 0.05, 0.3):
        for x in around(-10.0 * s, 2):
            pts.append((x, s))
    # Region 3 boundary: x + s*s/2 = 0.85*s  ->  x = 0.85*s - s*s/2.
    for s in (1.8, 2.5, 4.0):
        for x in around(0.85 * s - s * s / 2, 2):
            if x <= 0:
                pts.append((x, s))
    # Random spread of every region: x in [-60, 0], s log-uniform.
    for _ in range(500):
        x = -math.exp(rng.uniform(math.log(1e-6), math.log(60.0)))
        s = math.exp(rng.uniform(math.log(1e-3), math.log(20.0)))
        pts.append((x, s))
    for _ in range(100):  # near the money, small vol
        pts.append((-rng.uniform(0, 0.05), rng.uniform(1e-3, 0.42)))
    for _ in range(60):  # in the money (x > 0), reduced by put-call parity
        pts.append(
            (
                math.exp(rng.uniform(math.log(1e-4), math.log(20.0))),
                math.exp(rng.uniform(math.log(1e-2), math.log(5.0))),
            )
        )
    return pts


def write_black(path, rng):
    with open(path, "w") as out:
        out.write(
            "# written by gen_normal_price.py: exact values rounded once; see its docstring\n"
        )
        out.write("x,s,b,nu,cond_b,cond_nu\n")
        for x, s in black_points(rng):
            b, nu = stable(f_black, x, s)
            cb, cn = cond_black(x, s)
            out.write(f"{hexf(x)},{hexf(s)},{hexf(b)},{hexf(nu)},{cond_fmt(cb)},{cond_fmt(cn)}\n")


# --- option prices --------------------------------------------------------


def f_price(model, put, s, k, t, r, q, sigma):
    s, k, t, r, q, sigma = (mp.mpf(v) for v in (s, k, t, r, q, sigma))
    if model == "black76":
        q = r
    v = sigma * mp.sqrt(t)
    fwd = s * mp.exp((r - q) * t)
    d1 = mp.log(fwd / k) / v + v / 2
    d2 = d1 - v
    df = mp.exp(-r * t)
    if put:
        return df * (k * mp.ncdf(-d2) - fwd * mp.ncdf(-d1))
    return df * (fwd * mp.ncdf(d1) - k * mp.ncdf(d2))


def cond_price(model, put, s, k, t, r, q, sigma):
    """Sum over the inputs u of |u * dP/du / P| (Black-76: q tied to r)."""
    with mp.workdps(60):
        args = [mp.mpf(v) for v in (s, k, t, r, q, sigma)]
        p = f_price(model, put, *args)
        if p == 0:
            return 0.0
        names = [0, 1, 2, 3, 5] if model == "black76" else [0, 1, 2, 3, 4, 5]
        c = mp.mpf(0)
        for i in names:
            if args[i] == 0:
                continue

            def g(u, i=i):
                a = list(args)
                a[i] = u
                return f_price(model, put, *a)

            c += abs(args[i] * mp.diff(g, args[i]) / p)
        return c


def price_points(rng):
    rows = []

    def add(s, k, t, r, q, sigma):
        for model in ("bsm", "black76"):
            for put in (False, True):
                rows.append((model, put, s, k, t, r, q if model == "bsm" else r, sigma))

    # Plain book: moneyness e^[-1.5, 1.5], vol 5%..120%, one week to 30 years.
    for _ in range(150):
        s = round(math.exp(rng.uniform(math.log(5.0), math.log(2000.0))), 2)
        k = round(s * math.exp(rng.uniform(-1.5, 1.5)), 2)
        t = math.exp(rng.uniform(math.log(7 / 365), math.log(30.0)))
        r = round(rng.uniform(-0.01, 0.08), 4)
        q = round(rng.uniform(0.0, 0.05), 4)
        sigma = round(math.exp(rng.uniform(math.log(0.05), math.log(1.2))), 4)
        add(s, k, t, r, q, sigma)
    # At the money in forward (r = q makes F = s exactly) and the classic case.
    for sigma in (0.01, 0.2, 0.8, 3.0):
        add(100.0, 100.0, 1.0, 0.05, 0.05, sigma)
    add(100.0, 100.0, 1.0, 0.05, 0.0, 0.2)
    # Deep out of the money and tiny total volatility (the asymptotic region),
    # down to prices that underflow.
    for k in (150.0, 200.0, 400.0, 1000.0, 60.0, 30.0, 10.0):
        for t, sigma in ((0.01, 0.2), (1.0, 0.05), (1e-4, 0.3), (0.25, 0.01), (2.0, 0.1)):
            add(100.0, k, t, 0.03, 0.01, sigma)
    for sigma in (1e-3, 1e-5, 1e-8):
        add(100.0, 101.0, 0.5, 0.02, 0.0, sigma)
        add(100.0, 99.0, 0.5, 0.02, 0.0, sigma)
    # Very high volatility and long times.
    for sigma, t in ((5.0, 1.0), (2.0, 25.0), (10.0, 4.0)):
        add(100.0, 120.0, t, 0.02, 0.01, sigma)
    return rows


def write_price(path, rng):
    with open(path, "w") as out:
        out.write(
            "# written by gen_normal_price.py: exact values rounded once; see its docstring\n"
        )
        out.write("model,kind,s,k,t,r,q,sigma,price,cond\n")
        for model, put, *inputs in price_points(rng):
            p = stable(f_price, model, put, *inputs)
            c = cond_price(model, put, *inputs)
            out.write(
                "{},{},{},{},{}\n".format(
                    model,
                    "put" if put else "call",
                    ",".join(hexf(v) for v in inputs),
                    hexf(p),
                    cond_fmt(c),
                )
            )


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("-d", "--dir", default=HERE, help="output directory (default: tests/data)")
    args = ap.parse_args()
    write_normal(os.path.join(args.dir, "normal.csv"), random.Random(20240611))
    write_black(os.path.join(args.dir, "normalised_black.csv"), random.Random(20240612))
    write_price(os.path.join(args.dir, "price.csv"), random.Random(20240613))


if __name__ == "__main__":
    main()
