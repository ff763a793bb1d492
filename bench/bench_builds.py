"""Two builds of the module side by side in one process, call by call: the 15 option functions
and the BSM implied volatility on 10^6 options of a desk's book, each call alternating between the
builds (best of 7 each, or --repeat), with the results checked equal bit for bit (NaNs equal to NaNs). For
before/after figures on a shared machine: both builds see the same load at the same moments.

    RAYON_NUM_THREADS=1 python bench/bench_builds.py OLD_core.so NEW_core.so [FUNCTION ...]
"""

import argparse
import importlib.util
import time

import numpy as np


def load(path):
    entry = importlib.util.spec_from_file_location("_core", path)
    module = importlib.util.module_from_spec(entry)
    entry.loader.exec_module(module)
    return module


def book(n, seed=1):
    rng = np.random.default_rng(seed)
    flag = rng.choice(np.array([-1, 1], np.int8), n)
    s = np.full(n, 100.0)
    k = 100.0 * np.exp(rng.uniform(-0.5, 0.5, n))
    t = np.exp(rng.uniform(np.log(7 / 365), np.log(5.0), n))
    r = rng.uniform(-0.01, 0.08, n)
    q = rng.uniform(0.0, 0.05, n)
    sigma = rng.uniform(0.05, 0.9, n)
    return flag, s, k, t, r, q, sigma


def calls(flag, s, k, t, r, q, sigma, price):
    option = {"bsm": (flag, s, k, t, r, q, sigma), "black76": (flag, s, k, t, r, sigma)}
    plain = {"bsm": (s, k, t, r, q, sigma), "black76": (s, k, t, r, sigma)}
    table = {}
    for model in ("bsm", "black76"):
        for quantity in ("price", "delta", "gamma", "vega", "theta", "rho", "greeks"):
            args = plain[model] if quantity in ("gamma", "vega") else option[model]
            table[f"{model}_{quantity}"] = (f"{model}_{quantity}", args)
    table["bsm_iv"] = ("bsm_iv", (price, flag, s, k, t, r, q))
    return table


def same_bits(a, b):
    a = a if isinstance(a, tuple) else (a,)
    b = b if isinstance(b, tuple) else (b,)
    return all(np.array_equal(x, y, equal_nan=True) for x, y in zip(a, b))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("functions", nargs="*")
    parser.add_argument("--n", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=7, help="calls of each build, alternating")
    parser.add_argument(
        "--clock",
        choices=("wall", "process"),
        default="wall",
        help="process: the processor time of this process, which the waits for a processor on a "
        "loaded machine leave out (with one worker only)",
    )
    args = parser.parse_intermixed_args()
    clock = time.perf_counter if args.clock == "wall" else time.process_time
    old, new = load(args.old), load(args.new)
    inputs = book(args.n)
    table = calls(*inputs, new.bsm_price(*inputs))
    for name in args.functions or table:
        function, call_args = table[name]
        if not same_bits(getattr(old, function)(*call_args), getattr(new, function)(*call_args)):
            raise SystemExit(f"{name}: the two builds differ")
        best = {"old": float("inf"), "new": float("inf")}
        for _ in range(args.repeat):
            for key, module in (("old", old), ("new", new)):
                start = clock()
                getattr(module, function)(*call_args)
                best[key] = min(best[key], clock() - start)
        ns = {key: value * 1e9 / args.n for key, value in best.items()}
        print(
            f"{name:16s} old {ns['old']:7.1f} ns  new {ns['new']:7.1f} ns  "
            f"new is {best['old'] / best['new']:.2f}x as fast",
            flush=True,
        )


if __name__ == "__main__":
    main()
