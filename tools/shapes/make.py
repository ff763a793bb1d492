#!/usr/bin/env python3
"""Write the vendor-shaped sample chains of tests/data/shapes and the truth
they were generated from.

Each shape is a small chain laid out the way one kind of data source sends
it, with a smile, several expiries, a listed strike grid, bid/ask markets on
the tick (some at the minimum tick, some with no bid) and a few faulty rows
(a crossed market, a missing side, a stale quote).  Beside each sample,
NAME.truth.csv holds per option its data row (0-based; `side` call or put for
side-by-side rows), the true strike, years to expiry, forward, rate and
volatility, the model price and the mid the chain sees (both in the currency
the chain is computed in), the tick in that currency and the status the
option should get.

    crypto      premiums in coins (BTC) at an index near 97,000, expiries at
                08:00 UTC (one a day away), ISO time stamps with Z
    academic    a research database's extract: strikes x1000 under
                strike_price, date/exdate, best_bid/best_offer, cp_flag,
                forward_price
    wide        one row per strike, call and put markets side by side
    european    semicolons, decimal commas, dd.mm.yyyy dates
    intraday    calls stamped 15:59:00 and puts 15:59:30, a spot column, an
                unstated dividend yield
    multi       three underlyings over two quote dates sharing expiries
    parquet     pandas3.parquet (large_string, timestamp[us, tz=UTC]) and
                polars.parquet (large_string, timestamp[ms|ns, tz=UTC]), times
                as instants, expiries at 16:00 New York
    plain       a plain vendor chain, gzip-compressed (plain.csv.gz)
    mapped      the same chain under column names no alias table knows
    am_settled  morning-settled index options on a date-only file
    epoch_ms    quote and expiry times as integer epoch milliseconds

The data is deterministic (one seed per shape).  From the repository root:

    python3 tools/shapes/make.py [--out DIR] [SHAPE ...]
"""

import argparse
import csv
import datetime as dt
import gzip
import io
import math
import pathlib
import random
import zoneinfo

from quotes import (
    cross,
    crypto_smile,
    drop_ask,
    drop_bid,
    equity_smile,
    make_option,
    stale,
    strike_grid,
    tick_tiers,
    write_csv,
    write_truth,
)

OUT = pathlib.Path(__file__).resolve().parents[2] / "tests" / "data" / "shapes"
UTC = dt.timezone.utc
NEW_YORK = zoneinfo.ZoneInfo("America/New_York")
INDEX = (tick_tiers((3.0, 0.05), (math.inf, 0.10)), 2)  # tick by price, decimals
EQUITY = (tick_tiers((3.0, 0.01), (math.inf, 0.05)), 2)
COIN = (tick_tiers((0.005, 0.0001), (math.inf, 0.0005)), 4)


def years(start: dt.datetime, end: dt.datetime) -> float:
    return (end - start).total_seconds() / (365.0 * 86400.0)


def day_years(start: dt.date, end: dt.date) -> float:
    return (end - start).days / 365.0


HEADERS = {  # the columns of each CSV sample
    "crypto": "instrument_name,timestamp,expiration,strike,option_type,bid_price,ask_price,"
    "mark_price,mark_iv,underlying_price,index_price,open_interest,volume",
    "academic": "secid,date,symbol,exdate,last_date,cp_flag,strike_price,best_bid,best_offer,"
    "volume,open_interest,impl_volatility,delta,optionid,forward_price",
    "wide": "quote_date,expiration,call_bid,call_ask,call_volume,call_open_interest,strike,"
    "put_bid,put_ask,put_volume,put_open_interest,underlying_price",
    "european": "trade_date,expiration,call_put,strike,bid,ask,underlying_price",
    "intraday": "underlying_symbol,quote_datetime,root,expiration,strike,option_type,bid,ask,"
    "bid_size,ask_size,underlying_price",
    "multi": "quote_date,underlying_symbol,expiration,strike,option_type,bid,ask,underlying_price",
    "plain": "quote_datetime,underlying_symbol,expiration,strike,option_type,bid,ask,volume,"
    "underlying_price",
    "mapped": "TradeTime,Ticker,Maturity,StrikePx,PutCall,BidPx,AskPx,Contracts,UndlPx",
    "am_settled": "trade_date,root,expiration,strike,option_type,bid,ask,underlying_price",
    "epoch_ms": "symbol,quote_datetime,expiration,strike,option_type,bid,ask,underlying_price",
}


def save(out, name, rows, options, sides=None, delimiter=","):
    """NAME.csv (its HEADERS, then `rows`) and NAME.truth.csv of `options`
    (None: it shares another sample's truth)."""
    write_csv(out / f"{name}.csv", HEADERS[name].split(","), rows, delimiter)
    if options is not None:
        write_truth(out / f"{name}.truth.csv", options, sides)


def ladder(rng, expiries, t_of, forward_of, rate, smile, grid, quoting, coin=False, **kw):
    """(expiry, option) for each expiry, strike and side (call, then put).
    t_of(expiry, is_call) gives the option's years to expiry; forward_of(t)
    its forward; grid is (strike steps, strikes per expiry), quoting (tick
    by price, decimals); with `coin`, premiums are quoted in units of the
    forward."""
    steps, count = grid
    tick, decimals = quoting
    out = []
    for expiry in expiries:
        t = t_of(expiry, True)
        vol = smile(0.0, t)
        for k in strike_grid(forward_of(t), t, vol, steps, count):
            for is_call in (True, False):
                t = t_of(expiry, is_call)
                f = forward_of(t)
                sigma = smile(math.log(k / f), t)
                factor = f if coin else 1.0
                option = make_option(
                    rng, is_call, k, t, f, rate, sigma, tick, decimals, factor, **kw
                )
                out.append((expiry, option))
    return out


def pick(chain, expiry, is_call, where):
    """The option of `expiry` and side nearest the money ('atm'), or at the
    lowest ('low') or highest ('high') strike."""
    side = [o for e, o in chain if e == expiry and o.is_call == is_call]
    if where == "atm":
        return min(side, key=lambda o: abs(o.strike - o.forward))
    return side[0] if where == "low" else side[-1]


def carry(spot, rate, dividend):
    return lambda t: spot * math.exp((rate - dividend) * t)


def crypto(out: pathlib.Path) -> None:
    rng = random.Random(20250315)
    quote = dt.datetime(2025, 3, 15, 10, 30, tzinfo=UTC)
    index = 97184.37
    expiries = [dt.date(2025, m, d) for m, d in ((3, 16), (3, 17), (3, 21), (3, 28), (4, 25))]
    expiries.append(dt.date(2025, 6, 27))

    def t_of(expiry, _):
        return years(quote, dt.datetime.combine(expiry, dt.time(8), UTC))

    def forward(t):  # the exchange's underlying for the expiry, as written
        return round(index * math.exp(0.07 * t), 2)

    chain = ladder(
        rng,
        expiries,
        t_of,
        forward,
        0.0,
        crypto_smile,
        ((1000, 2000, 2500, 5000, 10000), 11),
        COIN,
        coin=True,
        spread=0.04,
    )
    cross(pick(chain, expiries[2], True, "atm"))
    drop_ask(pick(chain, expiries[3], False, "atm"))
    drop_bid(pick(chain, expiries[0], False, "low"))
    rows = []
    for expiry, o in chain:
        name = f"BTC-{expiry.day}{expiry:%b%y}".upper() + f"-{o.strike:.0f}-{o.kind}"
        rows.append(
            [
                name,
                quote.strftime("%Y-%m-%dT%H:%M:%S.000Z"),
                expiry.isoformat(),
                f"{o.strike:.0f}",
                "call" if o.is_call else "put",
                o.text(o.bid),
                o.text(o.ask),
                f"{o.price / o.forward:.4f}",
                f"{100.0 * o.sigma:.2f}",
                f"{o.forward:.2f}",
                f"{index:.2f}",
                f"{rng.uniform(0.0, 400.0):.1f}",
                f"{rng.expovariate(0.05):.1f}",
            ]
        )
    save(out, "crypto", rows, [o for _, o in chain])


def academic(out: pathlib.Path) -> None:
    rng = random.Random(20250314)
    date = dt.date(2025, 3, 14)
    spot, rate, dividend = 5612.30, 0.043, 0.013
    expiries = [dt.date(2025, m, d) for m, d in ((3, 21), (4, 17), (5, 16), (6, 20), (9, 19))]

    def forward(t):  # the database's forward_price, as written
        return float(f"{spot * math.exp((rate - dividend) * t):.4f}")

    chain = ladder(
        rng,
        expiries,
        lambda e, _: day_years(date, e),
        forward,
        rate,
        equity_smile,
        ((10, 25, 50, 100), 10),
        INDEX,
    )
    cross(pick(chain, expiries[1], False, "atm"))
    drop_bid(pick(chain, expiries[0], False, "low"))
    rows = []
    for n, (expiry, o) in enumerate(chain):
        v = o.sigma * math.sqrt(o.t)
        d1 = math.log(o.forward / o.strike) / v + 0.5 * v
        delta = 0.5 * math.erfc(-d1 / math.sqrt(2.0)) - (0.0 if o.is_call else 1.0)
        traded = rng.random() < 0.6
        rows.append(
            [
                500123,
                date.isoformat(),
                f"KVXW {expiry:%y%m%d}{o.kind}{round(o.strike * 1000)}",
                expiry.isoformat(),
                (date - dt.timedelta(days=rng.choice((0, 0, 1, 3)))).isoformat() if traded else "",
                o.kind,
                round(o.strike * 1000),
                o.text(o.bid),
                o.text(o.ask),
                int(rng.expovariate(0.002)) if traded else 0,
                int(rng.expovariate(0.0002)),
                f"{o.sigma * rng.uniform(0.995, 1.005):.6f}" if o.bid else "",
                f"{delta * math.exp(-rate * o.t):.6f}",
                151000000 + n,
                f"{o.forward:.4f}",
            ]
        )
    save(out, "academic", rows, [o for _, o in chain])


def wide(out: pathlib.Path) -> None:
    rng = random.Random(20250316)
    date = dt.date(2025, 3, 14)
    spot, rate, dividend = 563.21, 0.043, 0.012
    expiries = [dt.date(2025, m, d) for m, d in ((3, 21), (4, 17), (5, 16), (6, 20), (12, 19))]
    chain = ladder(
        rng,
        expiries,
        lambda e, _: day_years(date, e),
        carry(spot, rate, dividend),
        rate,
        lambda k, t: equity_smile(k, t, 0.19),
        ((1, 2, 2.5, 5, 10, 25), 11),
        EQUITY,
    )
    cross(pick(chain, expiries[1], True, "atm"))
    drop_ask(pick(chain, expiries[3], False, "atm"))
    rows, sides = [], []
    for i in range(0, len(chain), 2):
        (expiry, c), (_, p) = chain[i], chain[i + 1]
        row = len(rows)
        sides += [(row, "call"), (row, "put")]
        rows.append(
            [
                date.isoformat(),
                expiry.isoformat(),
                c.text(c.bid),
                c.text(c.ask),
                int(rng.expovariate(0.005)),
                int(rng.expovariate(0.0005)),
                f"{c.strike:g}",
                p.text(p.bid),
                p.text(p.ask),
                int(rng.expovariate(0.005)),
                int(rng.expovariate(0.0005)),
                f"{spot:.2f}",
            ]
        )
    save(out, "wide", rows, [o for _, o in chain], sides)


def european(out: pathlib.Path) -> None:
    rng = random.Random(20250317)
    date = dt.date(2025, 3, 14)
    spot, rate, dividend = 5512.34, 0.025, 0.030
    expiries = [dt.date(2025, m, d) for m, d in ((3, 21), (4, 17), (5, 16), (6, 20), (9, 19))]
    expiries.append(dt.date(2025, 12, 19))
    chain = ladder(
        rng,
        expiries,
        lambda e, _: day_years(date, e),
        carry(spot, rate, dividend),
        rate,
        lambda k, t: equity_smile(k, t, 0.16),
        ((25, 50, 100, 200), 9),
        (tick_tiers((math.inf, 0.1)), 1),
    )
    cross(pick(chain, expiries[2], False, "atm"))
    drop_bid(pick(chain, expiries[0], True, "high"))
    rows = [
        [
            f"{date:%d.%m.%Y}",
            f"{expiry:%d.%m.%Y}",
            o.kind,
            f"{o.strike:.0f}",
            o.text(o.bid, ","),
            o.text(o.ask, ","),
            f"{spot:.2f}".replace(".", ","),
        ]
        for expiry, o in chain
    ]
    save(out, "european", rows, [o for _, o in chain], delimiter=";")


def intraday(out: pathlib.Path) -> None:
    rng = random.Random(20250318)
    stamps = {
        True: dt.datetime(2025, 3, 14, 15, 59, 0),
        False: dt.datetime(2025, 3, 14, 15, 59, 30),
    }
    spot, rate, dividend = 5638.94, 0.043, 0.013
    expiries = [dt.date(2025, m, d) for m, d in ((3, 17), (3, 21), (4, 17), (6, 20), (12, 19))]

    def t_of(expiry, is_call):
        return years(stamps[is_call], dt.datetime.combine(expiry, dt.time(16)))

    chain = ladder(
        rng,
        expiries,
        t_of,
        carry(spot, rate, dividend),
        rate,
        equity_smile,
        ((5, 10, 25, 50, 100), 12),
        INDEX,
    )
    stale(pick(chain, expiries[2], False, "high"))
    drop_ask(pick(chain, expiries[3], True, "low"))
    rows = [
        [
            "KVXI",
            stamps[o.is_call].strftime("%Y-%m-%d %H:%M:%S"),
            "KVXI" if expiry.day > 14 and expiry.weekday() == 4 else "KVXW",
            expiry.isoformat(),
            f"{o.strike:.1f}",
            o.kind,
            o.text(o.bid),
            o.text(o.ask),
            rng.randint(1, 300),
            rng.randint(1, 300),
            f"{spot:.2f}",
        ]
        for expiry, o in chain
    ]
    save(out, "intraday", rows, [o for _, o in chain])


MULTI = (  # symbol, spots on the two dates, dividend yield, at-the-money vol, steps, quoting
    ("KVXI", (5612.77, 5638.94), 0.013, 0.17, (25, 50, 100), INDEX),
    ("KVXB", (180.92, 182.35), 0.005, 0.28, (1, 2.5, 5, 10), EQUITY),
    ("KVXQ", (559.87, 563.21), 0.012, 0.19, (2, 5, 10, 20), EQUITY),
)


def multi(out: pathlib.Path) -> None:
    rng = random.Random(20250319)
    rate = 0.043
    dates = (dt.date(2025, 3, 13), dt.date(2025, 3, 14))
    expiries = [dt.date(2025, 3, 21), dt.date(2025, 4, 17), dt.date(2025, 6, 20)]
    options, rows = [], []
    for n, date in enumerate(dates):
        for symbol, spots, dividend, atm, steps, quoting in MULTI:
            chain = ladder(
                rng,
                expiries,
                lambda e, _: day_years(date, e),
                carry(spots[n], rate, dividend),
                rate,
                lambda k, t: equity_smile(k, t, atm),
                (steps, 7),
                quoting,
            )
            if n == 1 and symbol == "KVXB":
                cross(pick(chain, expiries[1], False, "atm"))
            if n == 0 and symbol == "KVXQ":
                drop_ask(pick(chain, expiries[2], True, "atm"))
            options += [o for _, o in chain]
            rows += [
                [
                    date.isoformat(),
                    symbol,
                    expiry.isoformat(),
                    f"{o.strike:g}",
                    o.kind,
                    o.text(o.bid),
                    o.text(o.ask),
                    f"{spots[n]:.2f}",
                ]
                for expiry, o in chain
            ]
    save(out, "multi", rows, options)


def parquet_chain():
    """The chain of the Parquet samples: (columns as Python values, options)."""
    rng = random.Random(20250320)
    quote = dt.datetime(2025, 3, 14, 15, 45, tzinfo=NEW_YORK).astimezone(UTC)
    spot, rate, dividend = 512.40, 0.043, 0.012
    expiries = [dt.date(2025, m, d) for m, d in ((3, 21), (4, 17), (6, 20), (9, 19), (12, 19))]

    def close(expiry):  # 16:00 in New York, 20:00 or 21:00 UTC
        return dt.datetime.combine(expiry, dt.time(16), NEW_YORK).astimezone(UTC)

    chain = ladder(
        rng,
        expiries,
        lambda e, _: years(quote, close(e)),
        carry(spot, rate, dividend),
        rate,
        equity_smile,
        ((1, 2.5, 5, 10, 25), 10),
        EQUITY,
    )
    cross(pick(chain, expiries[1], True, "atm"))
    drop_ask(pick(chain, expiries[2], False, "atm"))
    columns = {
        "symbol": [f"KVXT{e:%y%m%d}{o.kind}{round(o.strike * 1000):08d}" for e, o in chain],
        "underlying_symbol": ["KVXT"] * len(chain),
        "quote_datetime": [quote] * len(chain),
        "expiration": [close(e) for e, _ in chain],
        "strike": [o.strike for _, o in chain],
        "option_type": ["call" if o.is_call else "put" for _, o in chain],
        "bid": [o.bid for _, o in chain],
        "ask": [o.ask for _, o in chain],
        "volume": [int(rng.expovariate(0.004)) for _ in chain],
        "underlying_price": [spot] * len(chain),
    }
    return columns, [o for _, o in chain]


def arrow_table(columns, time_units):
    """The columns as the Arrow types a writer gives them: text as
    large_string, times as UTC timestamps in the given units."""
    import pyarrow as pa

    types = {"strike": pa.float64(), "bid": pa.float64(), "ask": pa.float64()}
    types |= {"volume": pa.int64(), "underlying_price": pa.float64()}
    types |= {name: pa.timestamp(unit, tz="UTC") for name, unit in time_units.items()}
    return pa.table({k: pa.array(v, types.get(k, pa.large_string())) for k, v in columns.items()})


def parquet(out: pathlib.Path) -> None:
    """pandas3.parquet as pandas 3 writes it, polars.parquet as polars does;
    where either is missing (or pandas is older), pyarrow writes the same
    types."""
    import pyarrow.parquet as pq

    columns, options = parquet_chain()
    out.mkdir(parents=True, exist_ok=True)
    try:
        import pandas as pd

        if int(pd.__version__.split(".")[0]) < 3:
            raise ImportError("pandas 3 writes text as large_string")
        frame = pd.DataFrame({k: v for k, v in columns.items()})
        for name in ("quote_datetime", "expiration"):
            frame[name] = pd.to_datetime(frame[name], utc=True).astype("datetime64[us, UTC]")
        frame.to_parquet(out / "pandas3.parquet", index=False)
    except ImportError:
        units = {"quote_datetime": "us", "expiration": "us"}
        pq.write_table(arrow_table(columns, units), out / "pandas3.parquet")
    try:
        import polars as pl

        frame = pl.DataFrame(
            columns,
            schema_overrides={
                "quote_datetime": pl.Datetime("ms", "UTC"),
                "expiration": pl.Datetime("ns", "UTC"),
            },
        )
        frame.write_parquet(out / "polars.parquet")
    except ImportError:
        units = {"quote_datetime": "ms", "expiration": "ns"}
        pq.write_table(arrow_table(columns, units), out / "polars.parquet", compression="zstd")
    write_truth(out / "parquet.truth.csv", options)


def plain_chain():
    """A stock's chain quoted at 15:45 (options, expiry of each)."""
    rng = random.Random(20250321)
    quote = dt.datetime(2025, 3, 14, 15, 45)
    spot, rate, dividend = 182.35, 0.043, 0.005
    expiries = [dt.date(2025, m, d) for m, d in ((3, 21), (4, 17), (5, 16), (6, 20), (9, 19))]
    chain = ladder(
        rng,
        expiries,
        lambda e, _: years(quote, dt.datetime.combine(e, dt.time(16))),
        carry(spot, rate, dividend),
        rate,
        lambda k, t: equity_smile(k, t, 0.28),
        ((1, 2.5, 5, 10), 10),
        EQUITY,
    )
    cross(pick(chain, expiries[2], True, "atm"))
    drop_bid(pick(chain, expiries[0], True, "high"))
    rows = [
        [
            quote.strftime("%Y-%m-%d %H:%M:%S"),
            "KVXB",
            e.isoformat(),
            f"{o.strike:g}",
            o.kind,
            o.text(o.bid),
            o.text(o.ask),
            int(rng.expovariate(0.004)),
            f"{spot:.2f}",
        ]
        for e, o in chain
    ]
    return rows, [o for _, o in chain]


def plain(out: pathlib.Path) -> None:
    rows, options = plain_chain()
    text = io.StringIO()
    writer = csv.writer(text, lineterminator="\n")
    writer.writerow(HEADERS["plain"].split(","))
    writer.writerows(rows)
    write_truth(out / "plain.truth.csv", options)
    with open(out / "plain.csv.gz", "wb") as fh:  # no name and no time: the same bytes each run
        with gzip.GzipFile(fileobj=fh, mode="wb", filename="", mtime=0) as gz:
            gz.write(text.getvalue().encode())


def mapped(out: pathlib.Path) -> None:
    rows, _ = plain_chain()
    for row in rows:
        row[4] = "Call" if row[4] == "C" else "Put"
    save(out, "mapped", rows, None)


def am_settled(out: pathlib.Path) -> None:
    """Index options settled at the opening (09:30) of their expiry date,
    quoted at the close (16:00) of a date-only trade date."""
    rng = random.Random(20250322)
    date = dt.date(2025, 3, 20)
    spot, rate, dividend = 5662.89, 0.043, 0.013
    expiries = [dt.date(2025, 3, 21), dt.date(2025, 4, 17), dt.date(2025, 5, 16)]
    expiries.append(dt.date(2025, 6, 20))
    close = dt.datetime.combine(date, dt.time(16))
    chain = ladder(
        rng,
        expiries,
        lambda e, _: years(close, dt.datetime.combine(e, dt.time(9, 30))),
        carry(spot, rate, dividend),
        rate,
        equity_smile,
        ((5, 10, 25, 50, 100), 10),
        INDEX,
    )
    drop_ask(pick(chain, expiries[1], True, "atm"))
    rows = [
        [
            date.isoformat(),
            "KVX",
            e.isoformat(),
            f"{o.strike:.0f}",
            o.kind,
            o.text(o.bid),
            o.text(o.ask),
            f"{spot:.2f}",
        ]
        for e, o in chain
    ]
    save(out, "am_settled", rows, [o for _, o in chain])


def epoch_ms(out: pathlib.Path) -> None:
    """A coin's options quoted in dollars, as an exchange's API dumps them:
    times as integer milliseconds since 1970 (UTC), expiries at 08:00."""
    rng = random.Random(20250323)
    quote = dt.datetime(2025, 3, 15, 10, 30, 12, 345000, tzinfo=UTC)
    index = 1912.45
    expiries = [dt.date(2025, 3, 16), dt.date(2025, 3, 21), dt.date(2025, 3, 28)]
    expiries.append(dt.date(2025, 4, 25))

    def settle(expiry):
        return dt.datetime.combine(expiry, dt.time(8), UTC)

    chain = ladder(
        rng,
        expiries,
        lambda e, _: years(quote, settle(e)),
        lambda t: round(index * math.exp(0.06 * t), 2),
        0.0,
        crypto_smile,
        ((10, 20, 25, 50, 100), 10),
        (tick_tiers((math.inf, 0.1)), 1),
        spread=0.04,
    )
    cross(pick(chain, expiries[1], False, "atm"))

    def ms(when):
        return round(when.timestamp() * 1000)

    rows = [
        [
            f"ETH-{e:%Y%m%d}-{o.strike:.0f}-{o.kind}",
            ms(quote),
            ms(settle(e)),
            f"{o.strike:.0f}",
            "call" if o.is_call else "put",
            o.text(o.bid),
            o.text(o.ask),
            f"{o.forward:.2f}",
        ]
        for e, o in chain
    ]
    save(out, "epoch_ms", rows, [o for _, o in chain])


SHAPES = {
    f.__name__: f
    for f in (
        crypto,
        academic,
        wide,
        european,
        intraday,
        multi,
        parquet,
        plain,
        mapped,
        am_settled,
        epoch_ms,
    )
}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", type=pathlib.Path, default=OUT, help=f"folder (default {OUT})")
    parser.add_argument("shapes", nargs="*", metavar="SHAPE", help=", ".join(SHAPES))
    args = parser.parse_args()
    unknown = set(args.shapes) - set(SHAPES)
    if unknown:
        parser.error(f"unknown shape {', '.join(sorted(unknown))}")
    for name in args.shapes or SHAPES:
        SHAPES[name](args.out)
        print(f"{args.out / name}: written")


if __name__ == "__main__":
    main()
