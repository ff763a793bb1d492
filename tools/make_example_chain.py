#!/usr/bin/env python3
"""Write the example option chain shipped with karvex (python/karvex/data/example_chain.csv).

A fictional equity index KVX at 512.40 on 2025-03-14, seven monthly and
quarterly expiries, calls and puts on strikes from about three standard
deviations below the spot to two above, with the forward to each expiry (so
the chain also runs under Black-76).  Prices follow an equity-style smile
(higher volatility for low strikes, short expiries more skewed) and are quoted
as exchange mid prices rounded to the tick.  A few rows carry the faults real
quotes have: a stale deep in-the-money put below its intrinsic value, a quote
typed into the wrong row (above the upper bound) and a strike with no quote.

Prices come from a plain closed-form Black-Scholes-Merton price written here
with math.erf, independent of karvex.  Run from the repository root:

    python3 tools/make_example_chain.py
"""

import csv
import datetime as dt
import math
import pathlib

VALUATION = dt.date(2025, 3, 14)
SPOT = 512.40
RATE = 0.043
DIVIDEND = 0.013
EXPIRIES = [
    dt.date(2025, 3, 21),
    dt.date(2025, 4, 17),
    dt.date(2025, 5, 16),
    dt.date(2025, 6, 20),
    dt.date(2025, 9, 19),
    dt.date(2025, 12, 19),
    dt.date(2026, 3, 20),
]
OUT = (
    pathlib.Path(__file__).resolve().parent.parent
    / "python"
    / "karvex"
    / "data"
    / "example_chain.csv"
)


def norm_cdf(x):
    return 0.5 * math.erfc(-x / math.sqrt(2.0))


def bsm_price(is_call, s, k, t, r, q, sigma):
    v = sigma * math.sqrt(t)
    d1 = (math.log(s / k) + (r - q) * t) / v + 0.5 * v
    d2 = d1 - v
    if is_call:
        return s * math.exp(-q * t) * norm_cdf(d1) - k * math.exp(-r * t) * norm_cdf(d2)
    return k * math.exp(-r * t) * norm_cdf(-d2) - s * math.exp(-q * t) * norm_cdf(-d1)


def smile(k, t):
    """Volatility at log-moneyness k = ln(K/F) and expiry t (years)."""
    atm = 0.148 + 0.045 * math.exp(-t / 0.12)
    z = k / (atm * math.sqrt(t))  # standardised moneyness
    return atm * (1.0 - 0.125 * z + 0.045 * z * z)


def quote(price):
    """Mid price rounded to the tick: 0.05 from 3.00 up, 0.01 below."""
    tick = 0.05 if price >= 3.0 else 0.01
    return max(round(price / tick) * tick, 0.01)


def strikes(t):
    """Strikes from about 3 standard deviations below the spot to 2.2 above,
    on the finest listed grid (2.5, 5, 10, 20, 25, 50) that gives at most 34."""
    width = SPOT * 0.16 * math.sqrt(t)
    for step in (2.5, 5, 10, 20, 25, 50):
        lo = math.ceil((SPOT - 3.0 * width) / step)
        hi = math.floor((SPOT + 2.2 * width) / step)
        if hi - lo < 34:
            break
    return [i * step for i in range(lo, hi + 1)]


def main():
    rows = []
    for expiry in EXPIRIES:
        t = (expiry - VALUATION).days / 365.0
        forward = SPOT * math.exp((RATE - DIVIDEND) * t)
        for k in strikes(t):
            sigma = smile(math.log(k / forward), t)
            for kind in ("C", "P"):
                price = quote(bsm_price(kind == "C", SPOT, k, t, RATE, DIVIDEND, sigma))
                symbol = f"KVX{expiry:%y%m%d}{kind}{round(k * 1000):08d}"
                rows.append(
                    [
                        symbol,
                        kind,
                        f"{k:g}",
                        expiry.isoformat(),
                        VALUATION.isoformat(),
                        f"{price:.2f}",
                        f"{SPOT:.2f}",
                        f"{forward:.4f}",
                        RATE,
                        DIVIDEND,
                    ]
                )

    def row(expiry, kind, k):
        return next(r for r in rows if r[0] == f"KVX{expiry:%y%m%d}{kind}{round(k * 1000):08d}")

    def strike_list(expiry):
        return strikes((expiry - VALUATION).days / 365.0)

    # A stale deep in-the-money put, quoted below its intrinsic value.
    stale = row(EXPIRIES[0], "P", strike_list(EXPIRIES[0])[-1])
    stale[5] = f"{float(stale[5]) - 1.50:.2f}"
    # The underlying's price typed into an option's row: above the upper bound.
    row(EXPIRIES[2], "C", strike_list(EXPIRIES[2])[-1])[5] = "523.10"
    # No quote at all.
    row(EXPIRIES[3], "P", strike_list(EXPIRIES[3])[0])[5] = ""

    OUT.parent.mkdir(parents=True, exist_ok=True)
    with open(OUT, "w", newline="") as fh:
        out = csv.writer(fh, lineterminator="\n")
        out.writerow(
            [
                "symbol",
                "type",
                "strike",
                "expiry_date",
                "valuation_date",
                "price",
                "spot",
                "forward",
                "rate",
                "dividend",
            ]
        )
        out.writerows(rows)
    print(f"{OUT}: {len(rows)} options, {len(EXPIRIES)} expiries")


if __name__ == "__main__":
    main()
