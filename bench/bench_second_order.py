"""The second-order Greeks' single pass against the sum of its parts, side by side in one run.

For n options (valid BSM inputs, calls and puts mixed, on one worker: RAYON_NUM_THREADS=1 is set
before karvex loads) it times, interleaved round by round and best of the rounds, through
karvex._ext with out= (no allocation in the timing):
  - bsm_second_order, the ten Greeks in one pass;
  - the ten functions one after another (the sum of the parts);
  - karvex._core.bsm_greeks, the first-order single pass, for the ratio the targets name;
  - bsm_vanna and bsm_volga;
and prints ns per option and the ratios. The vector unit is the process's (KARVEX_SIMD narrows
it). With QuantLib installed (for this benchmark only), vanna + volga are also timed as a user
would get them from it, one BlackCalculator per option from Python, on the first --ql-n options
(its volga is the derivative of vega in the total standard deviation sigma*sqrt(t), karvex's
divided by sqrt(t); its vanna is karvex's).

    python bench/bench_second_order.py [--n N] [--rounds R]
"""

import argparse
import math
import os
import time

os.environ.setdefault("RAYON_NUM_THREADS", "1")

import numpy as np  # noqa: E402

from karvex import _ext  # noqa: E402

NAMES = ("vanna", "volga", "charm", "veta", "speed", "zomma", "color", "dual_delta",
         "dual_gamma", "dividend_rho")  # fmt: skip
FLAGGED = ("charm", "dual_delta", "dividend_rho")


def inputs(n, seed=20261207):
    rng = np.random.default_rng(seed)
    flag = rng.choice(np.array([1, -1], np.int8), n)
    s = 100.0 * np.exp(0.2 * rng.standard_normal(n))
    k = np.full(n, 100.0)
    t = rng.uniform(1.0 / 52.0, 3.0, n)
    r = rng.uniform(0.0, 0.06, n)
    q = rng.uniform(0.0, 0.03, n)
    sigma = rng.uniform(0.05, 1.5, n)
    return flag, s, k, t, r, q, sigma


def quantlib_vanna_volga(flag, s, k, t, r, q, sigma, n):
    """ns per option for vanna and volga from one QuantLib BlackCalculator per option, or None
    without QuantLib."""
    try:
        import QuantLib as ql
    except ImportError:
        return None
    rows = list(zip(flag[:n].tolist(), *(a[:n].tolist() for a in (s, k, t, r, q, sigma))))
    call, put = ql.Option.Call, ql.Option.Put
    exp, sqrt = math.exp, math.sqrt
    start = time.perf_counter()
    for f, si, ki, ti, ri, qi, vi in rows:
        payoff = ql.PlainVanillaPayoff(put if f < 0 else call, ki)
        calc = ql.BlackCalculator(payoff, si * exp((ri - qi) * ti), vi * sqrt(ti), exp(-ri * ti))
        calc.vanna(si, ti)
        calc.volga(ti)
    return (time.perf_counter() - start) / len(rows) * 1e9


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--n", type=int, default=1_000_000)
    ap.add_argument("--rounds", type=int, default=7)
    ap.add_argument("--ql-n", type=int, default=20_000)
    args = ap.parse_args()
    flag, *x = inputs(args.n)
    outs = tuple(np.empty(args.n) for _ in range(10))

    def single_pass():
        _ext.bsm_second_order(flag, *x, out=outs)

    def parts():
        for name, out in zip(NAMES, outs):
            fn = getattr(_ext, f"bsm_{name}")
            fn(*((flag, *x) if name in FLAGGED else x), out=out)

    def first_order():
        _ext.bsm_greeks(flag, *x, out=outs[:5])

    def vanna_volga():
        _ext.bsm_vanna(*x, out=outs[0])
        _ext.bsm_volga(*x, out=outs[1])

    cases = {
        "second_order (one pass)": single_pass,
        "ten functions (sum of parts)": parts,
        "greeks (first-order pass)": first_order,
        "vanna + volga": vanna_volga,
    }
    best = dict.fromkeys(cases, float("inf"))
    for _ in range(args.rounds):
        for name, fn in cases.items():
            start = time.perf_counter()
            fn()
            best[name] = min(best[name], time.perf_counter() - start)
    per = {name: best[name] / args.n * 1e9 for name in cases}
    print(f"n = {args.n}, one worker, best of {args.rounds} interleaved rounds, ns per option:")
    for name, ns in per.items():
        print(f"  {name:32s} {ns:8.1f}")
    one, parts_ns, first = (
        per["second_order (one pass)"],
        per["ten functions (sum of parts)"],
        per["greeks (first-order pass)"],
    )
    print(f"  sum of parts / one pass          {parts_ns / one:8.2f}")
    print(f"  one pass / first-order pass      {one / first:8.2f}")
    quantlib = quantlib_vanna_volga(flag, *x, args.ql_n)
    if quantlib is not None:
        print(f"  QuantLib BlackCalculator vanna + volga per option: {quantlib:8.1f} ns")
        print(f"  QuantLib / karvex vanna + volga  {quantlib / per['vanna + volga']:8.1f}")
    assert np.isfinite(outs[0]).all()


if __name__ == "__main__":
    main()
