#!/usr/bin/env python3
"""Reference Greeks of both models in high precision, written to greeks.csv.

Usage (from the project root; needs mpmath, takes well under a minute):

    python3 tools/reference/gen_greeks.py            # writes tests/data/greeks.csv
    python3 tools/reference/gen_greeks.py -o FILE    # writes FILE instead

Each row is one option: the inputs as exact doubles and the five Greeks
(delta, gamma, vega, theta, rho) from the closed-form sensitivities evaluated
in 60-digit arithmetic, rounded once to the nearest double. Units carry no
scaling: vega per 1.0 of volatility, theta per year of elapsed time (-dV/dt),
rho per 1.0 of rate. Black-76 rows hold the forward in the `s` column and the
rate again in the `q` column; their rho is d/dr of the Black-76 price with
the forward held fixed, -t times that price.

Every closed form is checked here against numerical derivatives of the
high-precision price, so the table does not rest on the formulas alone.

Next to each Greek stands `cond_<greek>`: an estimate of how much a
double-precision evaluation may magnify its rounding errors, the sum of the
Greek's elasticities to relative changes of each input, plus the squared
normal arguments (the exponent rounding of pdf and of cdf's tail value), plus
for theta the cancellation of its three terms. The C++ tests allow an error
of a few ulp times this figure and leave ill-conditioned rows aside.

Format: comma-separated, one header line, then `model,kind,s,k,t,r,q,sigma`
(model `bsm` or `black76`, kind `call` or `put`; the inputs in shortest
round-trip form), the Greeks and the condition figures as 17 significant
digits, which parse back to the same double.
"""

import argparse
import os
import random

import mpmath as mp

mp.mp.dps = 60
GREEKS = ("delta", "gamma", "vega", "theta", "rho")
HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "data")


def ncdf(x):
    return mp.ncdf(x)


def npdf(x):
    return mp.npdf(x)


def d1d2(s, k, t, r, q, sigma):
    v = sigma * mp.sqrt(t)
    d1 = (mp.log(s / k) + (r - q + sigma * sigma / 2) * t) / v
    return d1, d1 - v


def price(model, put, s, k, t, r, q, sigma):
    """The model price; Black-76 is BSM with q = r on the forward."""
    if model == "black76":
        q = r
    d1, d2 = d1d2(s, k, t, r, q, sigma)
    dq, dr = mp.exp(-q * t), mp.exp(-r * t)
    if put:
        return k * dr * ncdf(-d2) - s * dq * ncdf(-d1)
    return s * dq * ncdf(d1) - k * dr * ncdf(d2)


def theta_terms(put, s, k, t, r, q, sigma):
    """The volatility decay, strike carry and dividend carry terms of theta."""
    d1, d2 = d1d2(s, k, t, r, q, sigma)
    dq, dr = mp.exp(-q * t), mp.exp(-r * t)
    sign = -1 if put else 1
    a = -s * dq * npdf(d1) * sigma / (2 * mp.sqrt(t))
    b = -sign * r * k * dr * ncdf(sign * d2)
    c = sign * q * s * dq * ncdf(sign * d1)
    return a, b, c


def greeks(model, put, s, k, t, r, q, sigma):
    """The closed-form Greeks (delta, gamma, vega, theta, rho)."""
    if model == "black76":
        q = r
    d1, d2 = d1d2(s, k, t, r, q, sigma)
    dq, dr = mp.exp(-q * t), mp.exp(-r * t)
    sign = -1 if put else 1
    delta = sign * dq * ncdf(sign * d1)
    gamma = dq * npdf(d1) / (s * sigma * mp.sqrt(t))
    vega = s * dq * npdf(d1) * mp.sqrt(t)
    theta = sum(theta_terms(put, s, k, t, r, q, sigma))
    if model == "black76":
        rho = -t * price(model, put, s, k, t, r, q, sigma)
    else:
        rho = sign * k * t * dr * ncdf(sign * d2)
    return [delta, gamma, vega, theta, rho]


def check_against_price(model, put, x):
    """Closed forms against numerical derivatives of the price.

    The derivatives are taken at higher precision; a Greek many orders of
    magnitude below the price itself (far in the tails) is only confirmed to
    be that small.
    """
    s, k, t, r, q, sigma = x

    def p(**kw):
        a = dict(s=s, k=k, t=t, r=r, q=q, sigma=sigma)
        a.update(kw)
        return price(model, put, **a)

    with mp.workdps(100):
        level = abs(p()) + 1
        numeric = [
            (mp.diff(lambda u: p(s=u), s), s),
            (mp.diff(lambda u: p(s=u), s, 2), s * s),
            (mp.diff(lambda u: p(sigma=u), sigma), sigma),
            (-mp.diff(lambda u: p(t=u), t), t),
            # Black-76 rho moves the rate with the forward fixed (q follows r
            # inside price()); BSM rho moves the rate alone.
            (mp.diff(lambda u: p(r=u), r), 1),
        ]
    for name, g, (n, unit) in zip(GREEKS, greeks(model, put, *x), numeric):
        tol = mp.mpf(10) ** -30 * abs(g) + mp.mpf(10) ** -45 * level / unit
        assert abs(g - n) <= tol, (model, put, x, name, g, n)


def conditions(model, put, x, exact):
    """Error magnification estimate of each Greek (see the module text)."""
    s, k, t, r, q, sigma = x
    if model == "black76":
        q = r
    d1, d2 = d1d2(s, k, t, r, q, sigma)
    base = 8 + (d1 * d1 + d2 * d2) / 2
    cond = [base] * 5
    h = mp.mpf(10) ** -25
    names = ("s", "k", "t", "r", "q", "sigma")
    for i, name in enumerate(names):
        if x[i] == 0 or (model == "black76" and name == "q"):
            continue
        up = list(x)
        dn = list(x)
        up[i] = x[i] * (1 + h)
        dn[i] = x[i] * (1 - h)
        gu = greeks(model, put, *up)
        gd = greeks(model, put, *dn)
        for j in range(5):
            if exact[j] != 0:
                cond[j] += abs((gu[j] - gd[j]) / (2 * h * exact[j]))
    if exact[3] != 0:
        terms = theta_terms(put, s, k, t, r, q, sigma)
        cond[3] += sum(abs(u) for u in terms) / abs(exact[3])
    return cond


def rows():
    """Inputs: a seeded random spread plus fixed deep in/out-of-the-money cases."""
    rng = random.Random(20240531)
    out = []
    for _ in range(260):
        s = rng.choice([1.0, 42.5, 100.0, 2500.0])
        k = s * rng.choice([0.6, 0.8, 0.9, 0.97, 1.0, 1.03, 1.1, 1.25, 1.6])
        t = rng.choice([1 / 365, 0.05, 0.25, 1.0, 2.5, 10.0])
        r = rng.choice([-0.02, 0.0, 0.01, 0.05, 0.12])
        q = rng.choice([0.0, 0.0, 0.015, 0.04, 0.1])
        sigma = rng.choice([0.02, 0.1, 0.2, 0.35, 0.8, 2.0])
        out.append(("bsm", s, k, t, r, q, sigma))
        out.append(("black76", s, k, t, r, r, sigma))
    # Deep in and out of the money: |d1|, |d2| well past the tail switch at 4.
    for k in (20.0, 45.0, 60.0, 170.0, 250.0, 400.0):
        for sigma in (0.1, 0.2, 0.3):
            for t in (0.5, 1.0):
                out.append(("bsm", 100.0, k, t, 0.03, 0.01, sigma))
                out.append(("black76", 100.0, k, t, 0.03, 0.03, sigma))
    out.append(("bsm", 300.0, 100.0, 1.0, 0.0, 0.0, 0.2))
    return out


def fmt(v):
    return format(float(v), ".17g")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("-o", "--output", default=os.path.join(HERE, "greeks.csv"))
    args = ap.parse_args()
    header = ["model", "kind", "s", "k", "t", "r", "q", "sigma"]
    header += list(GREEKS) + ["cond_" + g for g in GREEKS]
    lines = [",".join(header)]
    for model, *x in rows():
        x = [float(u) for u in x]  # the doubles the kernels see
        xm = [mp.mpf(u) for u in x]
        for put in (False, True):
            check_against_price(model, put, xm)
            exact = greeks(model, put, *xm)
            cond = conditions(model, put, xm, exact)
            cells = [model, "put" if put else "call"] + [repr(u) for u in x]
            cells += [fmt(g) for g in exact] + [fmt(c) for c in cond]
            lines.append(",".join(cells))
    with open(args.output, "w") as fh:
        fh.write("\n".join(lines) + "\n")
    print(f"{len(lines) - 1} rows written to {args.output}")


if __name__ == "__main__":
    main()
