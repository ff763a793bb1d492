"""The array API's own costs, each as a ratio or a difference measured side
by side in one run (the machine is shared: read ratios, not absolute times).

1. Small calls: karvex.bsm.price with ready float64 arrays and int8 flags, and
   karvex.bsm.iv with an array price, a 'c' flag, scalars and an array of
   strikes, against the core call on the arrays it needs, at n = 1, 100 and
   10^4.  The overhead is the difference of the best times.
2. Flags as text: prices of 2 * 10^6 options with int8, bool, text Series
   and categorical flags (options per second, conversion included).
3. The NaN rule on 10^6 options: its quick test (every call pays it) and its
   exact rule (with NaNs and infinite sigmas in 1 % of the options), each
   beside the core call of price and greeks.

Times are the CPU time of this process (all its threads), not wall-clock time, so that the
other processes of a busy machine do not count; for the parallel calls of section 3 set
RAYON_NUM_THREADS=1 to compare like with like (the NaN rule's own work is serial).

    python bench/bench_array_api.py [--quick]
"""

from __future__ import annotations

import argparse
import time
from collections.abc import Callable
from typing import Any

import numpy as np

from karvex import _core, bsm

clock = time.process_time


def _block(fn: Callable[[], Any]) -> int:
    """Calls per timed block: enough for about 20 ms."""
    fn()
    number = 1
    while True:
        start = clock()
        for _ in range(number):
            fn()
        if clock() - start > 0.02:
            return number
        number *= 2


def best(fns: list[Callable[[], Any]], seconds: float) -> list[float]:
    """Best time of one call of each function, the functions timed in turn, block after block,
    for about ``seconds``: side by side, so that a busy spell of the machine hits all alike."""
    numbers = [_block(fn) for fn in fns]
    times: list[list[float]] = [[] for _ in fns]
    deadline = clock() + seconds
    while clock() < deadline or len(times[0]) < 5:
        for fn, number, spent in zip(fns, numbers, times):
            start = clock()
            for _ in range(number):
                fn()
            spent.append((clock() - start) / number)
    return [min(t) for t in times]


def small_calls(seconds: float) -> None:
    print("small calls: best time per call (us); overhead = API - core")
    print(f"{'':34}{'n':>7}{'core':>10}{'API':>10}{'overhead':>10}")
    for n in (1, 100, 10_000):
        rng = np.random.default_rng(n)
        flag = np.where(rng.random(n) < 0.5, 1, -1).astype(np.int8)
        k = rng.uniform(80.0, 120.0, n)
        s, t, r, q, sig = (np.full(n, v) for v in (100.0, 0.5, 0.03, 0.0, 0.2))
        price = _core.bsm_price(flag, s, k, t, r, q, sig)
        calls = flag.copy()
        calls[:] = 1
        cprice = _core.bsm_price(calls, s, k, t, r, q, sig)
        cases = [
            (
                "price, ready arrays",
                lambda: _core.bsm_price(flag, s, k, t, r, q, sig),
                lambda: bsm.price(flag, s, k, t, r, q, sig),
            ),
            (
                "iv(price, 'c', 100.0, k, 0.5, ..)",
                lambda: _core.bsm_iv(cprice, calls, s, k, t, r, q),
                lambda: bsm.iv(cprice, "c", 100.0, k, 0.5, 0.03, 0.0),
            ),
            (
                "iv, ready arrays",
                lambda: _core.bsm_iv(price, flag, s, k, t, r, q),
                lambda: bsm.iv(price, flag, s, k, t, r, q),
            ),
        ]
        for label, core, api in cases:
            c, a = best([core, api], seconds)
            print(f"{label:34}{n:>7}{c * 1e6:>10.2f}{a * 1e6:>10.2f}{(a - c) * 1e6:>10.2f}")


def flags_as_text(seconds: float) -> None:
    import pandas as pd

    n = 2_000_000
    rng = np.random.default_rng(2)
    is_call = rng.random(n) < 0.5
    k = pd.Series(rng.uniform(80.0, 120.0, n))
    forms = {
        "int8": pd.Series(np.where(is_call, 1, -1).astype(np.int8)),
        "bool": pd.Series(is_call),
        "text Series": pd.Series(np.where(is_call, "C", "P")).astype(object),
        "categorical": pd.Series(np.where(is_call, "C", "P")).astype("category"),
        "NumPy text array": np.where(is_call, "call", "put"),
    }
    print(f"\nflags: options per second of bsm.price on {n:,} rows (conversion included)")
    calls = [
        lambda flag=flag: bsm.price(flag, 100.0, k, 0.5, 0.03, 0.0, 0.2) for flag in forms.values()
    ]
    times = best(calls, seconds * len(calls))
    for label, spent in zip(forms, times):
        print(f"  {label:18} {n / spent / 1e6:7.1f} M/s   {times[0] / spent:5.2f} x int8")


def nan_rule(seconds: float) -> None:
    """The rule's own work beside the core call it follows: the quick test every call pays, and
    the exact rule that runs when the quick test finds a NaN or an infinity."""
    from karvex import _array

    n = 1_000_000
    rng = np.random.default_rng(3)
    flag = np.where(rng.random(n) < 0.5, 1, -1).astype(np.int8)
    s, k = np.full(n, 100.0), rng.uniform(60.0, 140.0, n)
    t, r, q = rng.uniform(0.05, 2.0, n), np.full(n, 0.03), np.full(n, 0.01)
    sig = rng.uniform(0.05, 0.8, n)
    bad = sig.copy()
    bad[rng.choice(n, n // 200, replace=False)] = np.nan
    bad[rng.choice(n, n // 200, replace=False)] = np.inf
    print(f"\nNaN rule: best time per call on {n:,} options (ms), beside the core call")
    print(f"{'':34}{'core':>9}{'rule':>9}{'cost':>9}")
    for name in ("price", "greeks"):
        entry = _array.entry_of("bsm", name)
        core = getattr(_core, f"bsm_{name}")
        for label, sigma in (("quick test (no NaN)", sig), ("exact rule (1% NaN/inf)", bad)):
            args = [flag, s, k, t, r, q, sigma]
            result = core(*args)
            if sigma is sig:

                def rule() -> Any:
                    return _array._finite_numbers(entry, args)
            else:

                def rule() -> None:
                    _array._finite_numbers(entry, args)
                    _array._apply_nan_rule(entry, args, result)

            c, a = best([lambda: core(*args), rule], seconds * 2)
            print(f"  {name + ', ' + label:32}{c * 1e3:>9.2f}{a * 1e3:>9.2f}{a / c * 100:>8.1f}%")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="shorter repeats")
    seconds = 0.2 if parser.parse_args().quick else 1.0
    small_calls(seconds)
    flags_as_text(seconds)
    nan_rule(seconds)


if __name__ == "__main__":
    main()
