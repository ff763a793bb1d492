"""karvex.normal against QuantLib's Bachelier functions called per option from Python, side by
side in one run, one worker.

For n rates options (forwards -1% to 5%, strikes within 2% of them, a week to ten years, normal
volatilities 20 to 150 basis points, calls and puts) it times, best of several calls:
  - price: karvex.normal.price on the arrays against ql.bachelierBlackFormula per option;
  - iv: karvex.normal.iv against ql.bachelierBlackFormulaImpliedVol (Jaeckel's method) per
    option, on the karvex prices;
and prints ns per option and the ratio QuantLib / karvex, then, out of the money, the largest
relative difference of the two implied volatilities and of each against the volatility that
priced the option.
QuantLib is a benchmark's dependency only (pip install QuantLib).

    python bench/bench_normal_vs_quantlib.py [--n N]
"""

import argparse
import timeit

import numpy as np
import QuantLib as ql

import karvex


def book(n, seed=20261207):
    rng = np.random.default_rng(seed)
    flag = rng.choice(np.array([1, -1], np.int8), n)
    f = rng.uniform(-0.01, 0.05, n)
    k = f + rng.uniform(-0.02, 0.02, n)
    t = np.exp(rng.uniform(np.log(7 / 365), np.log(10.0), n))
    r = rng.uniform(-0.01, 0.05, n)
    sigma = rng.uniform(0.002, 0.015, n)
    return flag, f, k, t, r, sigma


def best(fn, number):
    return min(timeit.repeat(fn, number=number, repeat=5)) / number


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--n", type=int, default=20000)
    n = parser.parse_args().n
    karvex.set_num_threads(1)
    flag, f, k, t, r, sigma = book(n)
    price = karvex.normal.price(flag, f, k, t, r, sigma)
    discount = np.exp(-r * t)
    kinds = [ql.Option.Call if x > 0 else ql.Option.Put for x in flag]
    rows = list(zip(kinds, k.tolist(), f.tolist(), t.tolist(), discount.tolist()))

    def ql_price():
        return [
            ql.bachelierBlackFormula(kind, kk, ff, s * tt**0.5, d)
            for (kind, kk, ff, tt, d), s in zip(rows, sigma.tolist())
        ]

    def ql_iv():
        return [
            ql.bachelierBlackFormulaImpliedVol(kind, kk, ff, tt, p, d)
            for (kind, kk, ff, tt, d), p in zip(rows, price.tolist())
        ]

    timings = {
        "price": (
            best(lambda: karvex.normal.price(flag, f, k, t, r, sigma), 20),
            best(ql_price, 1),
        ),
        "iv": (best(lambda: karvex.normal.iv(price, flag, f, k, t, r), 20), best(ql_iv, 1)),
    }
    print(f"{n} options, one worker; ns per option")
    print(f"{'':8s} {'karvex':>10s} {'QuantLib':>10s} {'ratio':>8s}")
    for name, (ours, theirs) in timings.items():
        print(f"{name:8s} {ours / n * 1e9:10.1f} {theirs / n * 1e9:10.1f} {theirs / ours:8.1f}")
    # Out of the money (and not underflowed), where the price determines the volatility.
    otm = np.flatnonzero((flag * (f - k) <= 0) & (price > 1e-300))
    ours = karvex.normal.iv(price, flag, f, k, t, r)[otm]
    theirs = np.array(ql_iv())[otm]
    vol = sigma[otm]
    solved = theirs > 0.0  # QuantLib gives 0.0 for the tiniest prices
    print(f"iv, {len(otm)} options out of the money (QuantLib 0.0 on {np.sum(~solved)}):")
    print(f"  largest |karvex - sigma| / sigma             {np.max(np.abs(ours - vol) / vol):.3g}")
    print(
        f"  median                                       {np.median(np.abs(ours - vol) / vol):.3g}"
    )
    qv, qs = theirs[solved], vol[solved]
    print(f"  largest |QuantLib - sigma| / sigma, not 0.0  {np.max(np.abs(qv - qs) / qs):.3g}")
    print(f"  median                                       {np.median(np.abs(qv - qs) / qs):.3g}")


if __name__ == "__main__":
    main()
