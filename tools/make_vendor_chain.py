#!/usr/bin/env python3
"""Write a vendor-style option chain (tests/data/vendor_chain.csv): synthetic
data laid out the way brokers and data vendors export end-of-day snapshots.

A fictional index KVXI at 5,638.94 with a continuous dividend yield of 1.3 %
(rate 4.3 %), quoted on Friday 2025-03-14 at 15:45:00; expiries from the same
day (0DTE, expiring at 16:00) through the weeklies, monthlies and quarterlies
to December 2026.  The columns are the vendor's, not karvex's: quote_date
(a date-time), underlying_symbol, root, expiration (a date), strike,
option_type, bid, ask, last, volume, open_interest, underlying_bid,
underlying_ask, underlying_price and the vendor's own implied_volatility.
There is no price column, no rate and no dividend.

Quotes are bid/ask around a model price on an equity-style smile, on the
index's ticks (0.05 below 3.00, 0.10 above), so that the far wings sit at the
minimum tick or have no bid at all, and deep in-the-money mids sit a little
under the intrinsic value.  A few rows carry the faults real files have: a
crossed quote, a missing ask and a stale deep in-the-money quote.

Prices come from the closed-form Black-Scholes-Merton price of
make_example_chain.py (math.erf, independent of karvex); the data is
deterministic (fixed seed).  Run from the repository root:

    python3 tools/make_vendor_chain.py
"""

import csv
import datetime as dt
import math
import pathlib
import random

from make_example_chain import bsm_price, smile

QUOTE = dt.datetime(2025, 3, 14, 15, 45)
EXPIRY_TIME = dt.time(16, 0)
SPOT = 5638.94
RATE = 0.043
DIVIDEND = 0.013
EXPIRIES = [dt.date(2025, 3, d) for d in (14, 17, 19, 21, 24, 26, 28, 31)] + [
    dt.date(2025, 4, 4),
    dt.date(2025, 4, 17),
    dt.date(2025, 5, 16),
    dt.date(2025, 6, 20),
    dt.date(2025, 9, 19),
    dt.date(2025, 12, 19),
    dt.date(2026, 6, 18),
    dt.date(2026, 12, 18),
]
MONTHLIES = {
    dt.date(2025, 3, 21),
    dt.date(2025, 4, 17),
    dt.date(2025, 5, 16),
    dt.date(2025, 6, 20),
    dt.date(2025, 9, 19),
    dt.date(2025, 12, 19),
    dt.date(2026, 6, 18),
    dt.date(2026, 12, 18),
}
OUT = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data" / "vendor_chain.csv"
HEADER = [
    "quote_date",
    "underlying_symbol",
    "root",
    "expiration",
    "strike",
    "option_type",
    "bid",
    "ask",
    "last",
    "volume",
    "open_interest",
    "underlying_bid",
    "underlying_ask",
    "underlying_price",
    "implied_volatility",
]


def years(expiry: dt.date) -> float:
    return (dt.datetime.combine(expiry, EXPIRY_TIME) - QUOTE).total_seconds() / (365.0 * 86400.0)


def strikes(t: float) -> list[float]:
    """Listed strikes: a fine grid near the money, a coarse one in the wings,
    wide enough that the far wings trade at the minimum tick or not at all."""
    width = 0.16 * math.sqrt(max(t, 2.0 / 365.0))
    fine, coarse = (5, 25) if t < 0.1 else (25, 50) if t < 0.5 else (50, 100)
    out = set()
    for step, lo, hi in (
        (fine, 1.0 - 1.2 * width, 1.0 + 0.8 * width),
        (coarse, max(0.3, 1.0 - 6.0 * width), 1.0 + 4.0 * width),
    ):
        out.update(
            i * step for i in range(math.ceil(SPOT * lo / step), math.floor(SPOT * hi / step) + 1)
        )
    return sorted(float(k) for k in out)


def root(expiry: dt.date) -> str:
    """KVXI for the standard monthlies, KVXW for the weeklies."""
    return "KVXI" if expiry in MONTHLIES else "KVXW"


def tick(price: float) -> float:
    return 0.05 if price < 3.0 else 0.10


def quote(price: float, time_value: float, rng: random.Random) -> tuple[float, float]:
    """Bid and ask on the tick around `price`: no bid where the price is
    under half a tick; wider markets for dearer options.  Deep in the money,
    where the time value is under a tick, the market is centred on the price
    rounded down to the tick, so the mid may sit a little under intrinsic."""
    if price < 0.5 * tick(price):
        return 0.0, 0.05
    half = max(
        tick(price), 0.02 * price * rng.uniform(0.6, 1.4), 0.002 * price + 0.3 * rng.random()
    )
    if time_value < tick(price) < price - time_value:  # in the money
        centre = math.floor(price / tick(price)) * tick(price)
        steps = max(1, round(half / tick(price)))
        return round(centre - steps * tick(price), 2), round(centre + steps * tick(price), 2)
    bid = math.floor((price - half) / tick(price - half)) * tick(price - half)
    ask = math.ceil((price + half) / tick(price + half)) * tick(price + half)
    return round(max(bid, 0.0), 2), round(max(ask, 0.05), 2)


def main() -> None:
    rng = random.Random(20250314)
    rows = []
    for expiry in EXPIRIES:
        t = years(expiry)
        forward = SPOT * math.exp((RATE - DIVIDEND) * t)
        for k in strikes(t):
            sigma = smile(math.log(k / forward), max(t, 1.0 / 365.0))
            near = math.exp(-abs(math.log(k / forward)) / (0.05 + 0.1 * math.sqrt(t)))
            for kind in ("C", "P"):
                price = bsm_price(kind == "C", SPOT, k, t, RATE, DIVIDEND, sigma)
                s_disc, k_disc = SPOT * math.exp(-DIVIDEND * t), k * math.exp(-RATE * t)
                intrinsic = max(s_disc - k_disc if kind == "C" else k_disc - s_disc, 0.0)
                bid, ask = quote(price, price - intrinsic, rng)
                volume = int(rng.expovariate(1.0) * 4000 * near)
                last = (
                    f"{max(0.05, round(price + rng.gauss(0.0, 0.01 * price + 0.02), 2)):.2f}"
                    if volume
                    else ""
                )
                vendor_iv = f"{sigma * rng.uniform(0.99, 1.01):.4f}" if bid > 0 else "0.0000"
                rows.append(
                    [
                        QUOTE.strftime("%Y-%m-%d %H:%M:%S"),
                        "KVXI",
                        root(expiry),
                        expiry.isoformat(),
                        f"{k:.1f}",
                        kind,
                        f"{bid:.2f}",
                        f"{ask:.2f}",
                        last,
                        volume,
                        int(volume * rng.uniform(2.0, 30.0)) + int(200 * near),
                        f"{SPOT - 0.25:.2f}",
                        f"{SPOT + 0.25:.2f}",
                        f"{SPOT:.2f}",
                        vendor_iv,
                    ]
                )

    def row(expiry, kind, k):
        return next(
            r for r in rows if r[3] == expiry.isoformat() and r[5] == kind and float(r[4]) == k
        )

    near_money = [k for k in strikes(years(EXPIRIES[3])) if abs(k - SPOT) < 40]
    crossed = row(EXPIRIES[3], "C", near_money[0])  # bid above ask
    crossed[6], crossed[7] = f"{float(crossed[7]) + 0.4:.2f}", crossed[6]
    row(EXPIRIES[5], "P", near_money[-1])[7] = ""  # the ask side missing
    stale = row(EXPIRIES[9], "P", strikes(years(EXPIRIES[9]))[-1])  # a stale deep in-the-money put
    stale[6], stale[7] = f"{float(stale[6]) - 6.0:.2f}", f"{float(stale[7]) - 5.0:.2f}"

    OUT.parent.mkdir(parents=True, exist_ok=True)
    with open(OUT, "w", newline="") as fh:
        out = csv.writer(fh, lineterminator="\n")
        out.writerow(HEADER)
        out.writerows(rows)
    print(f"{OUT}: {len(rows)} options, {len(EXPIRIES)} expiries")


if __name__ == "__main__":
    main()
