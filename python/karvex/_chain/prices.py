"""Prices and forwards: the model's inputs of every row of a chunk.

A row's price is its price column (or the column named by --price-column),
else the mid of its bid and ask; a quote with no bid, a crossed quote or a
missing side gives no price and a status of its own.  The spot is its column,
else the mid of the underlying's bid and ask.  The forward to each expiry is
the spot carried at r - q (BSM) or the forward column (Black-76); with
--forward parity, parity.py then puts the forward implied by the quotes in
its place.

With --rate-curve (--dividend-curve), a row's rate (yield) is the curve's
zero rate at its years to expiry.

The units the user states (units.py) apply right after the cells are read,
before any forward: strikes, rates and dividend yields are converted, then
checked against the underlying with the premiums as quoted (a unit left
unstated that the data gives away stops the run), and with --price-unit
underlying the premiums are converted at the row's underlying price."""

from __future__ import annotations

import dataclasses
import functools
from collections.abc import Callable

import numpy as np

from . import cells, units
from .chunk import Chunk
from .columns import Columns
from .dates import expiry_groups, times
from .options import ChainError
from .statuses import QUOTE_CODES


@dataclasses.dataclass
class Inputs:
    """One chunk's options, ready for the core (float64 / int8 arrays)."""

    model: str
    flag: np.ndarray  # 1 call, -1 put
    underlying: np.ndarray  # spot (bsm) or forward (black76)
    strike: np.ndarray
    t: np.ndarray  # years to expiry
    rate: np.ndarray
    dividend: np.ndarray  # bsm: the yield; black76: the rate (no carry)
    price: np.ndarray
    forward: np.ndarray  # the forward to each expiry
    expiries_of: Callable[[], tuple[np.ndarray, np.ndarray]] = dataclasses.field(repr=False)
    quote_status: np.ndarray | None = None  # status codes of faulty bid/ask quotes (0: none)
    bid: np.ndarray | None = None  # the bid, where the price is a mid
    spot: np.ndarray | None = None  # the underlying's price, where the file gives it
    quote_day: np.ndarray | None = None  # the day of each quote (datetime64[D]), with dates
    symbol: np.ndarray | None = None  # the underlying's name, where the file gives it
    expiry_note: str | None = None  # the expiry time used, as the summary says it

    @functools.cached_property
    def expiries(self) -> tuple[np.ndarray, np.ndarray]:
        """The expiries' names (distinct, sorted) and each row's index into
        them (made only when asked for)."""
        return self.expiries_of()

    @functools.cached_property
    def expiry_label(self) -> np.ndarray:
        """The expiry of each row by name."""
        names, rows = self.expiries
        labels: np.ndarray = names[rows]
        return labels


def quote_mids(bid: np.ndarray, ask: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """Mids of bid/ask quotes, and the status code of each quote that gives
    none: a missing side, no bid (0 or less), or a crossed quote (bid > ask)."""
    status = np.zeros(len(bid), dtype=np.int8)
    with np.errstate(invalid="ignore"):
        status[bid > ask] = QUOTE_CODES["crossed_quote"]
        status[bid <= 0.0] = QUOTE_CODES["no_bid"]
        status[np.isnan(bid) | np.isnan(ask)] = QUOTE_CODES["missing_quote"]
        mid = np.where(status == 0, 0.5 * (bid + ask), np.nan)
    return mid, status


def value_of(columns: Columns, chunk: Chunk, key: str) -> np.ndarray:
    """An input of every row: its column, or the constant that replaces it."""
    if key in columns.constants:
        return np.full(len(chunk), columns.constants[key])
    return cells.numbers(chunk, columns.positions[key])


def inputs(columns: Columns, chunk: Chunk, model: str) -> Inputs:
    """The chunk's options under `model` (bsm, black76 or normal)."""
    pos = columns.positions
    if "type" in pos:
        flag = cells.option_types(chunk, pos["type"])
    else:  # one side of a wide chain
        flag = np.full(len(chunk), columns.constants["type"], dtype=np.int8)
    k = cells.numbers(chunk, pos["strike"])
    quote_status = bid = None
    if "price" in pos:
        price = cells.numbers(chunk, pos["price"])
    else:
        bid = cells.numbers(chunk, pos["bid"])
        price, quote_status = quote_mids(bid, cells.numbers(chunk, pos["ask"]))
    curves = columns.curves
    r = None if "rate" in curves else value_of(columns, chunk, "rate")
    spot = None
    if "spot" in pos:
        spot = cells.numbers(chunk, pos["spot"])
    elif "underlying_bid" in pos:
        spot = 0.5 * (
            cells.numbers(chunk, pos["underlying_bid"])
            + cells.numbers(chunk, pos["underlying_ask"])
        )
    given_forward = cells.numbers(chunk, pos["forward"]) if "forward" in pos else None
    has_dividend = "dividend" in pos or "dividend" in columns.constants
    dividend = value_of(columns, chunk, "dividend") if has_dividend else None
    k, rate, dividend = units.convert(columns.units, k, r, dividend)
    r = r if rate is None else rate
    underlying = given_forward if given_forward is not None else spot
    try:
        units.check(columns.units, flag, k, price, underlying, r, dividend)
        if columns.units.price == "underlying":
            price = units.premiums_in_currency(price, underlying)
            if bid is not None:
                bid = units.premiums_in_currency(bid, underlying)
    except ChainError as error:
        raise ChainError(f"{chunk.source}: {error}") from None
    when = times(columns, chunk)  # after the units: their error says more
    t = when.t
    if "rate" in curves:  # each row's zero rate at its years to expiry
        r = curves["rate"].zero_rate(t)
    if "dividend" in curves:
        dividend = curves["dividend"].zero_rate(t)
    assert r is not None
    expiries = functools.cache(functools.partial(expiry_groups, columns, chunk, t))
    if given_forward is not None:  # Black-76 on the file's forwards
        s = forward = given_forward
        q = r
    elif spot is not None and dividend is not None:  # BSM
        s = spot
        q = dividend
        with np.errstate(all="ignore"):
            forward = s * np.exp((r - q) * t)
    else:  # --forward parity: parity.py gives the forwards
        s = forward = np.full(len(chunk), np.nan)
        q = r
    return Inputs(
        model,
        flag,
        s,
        k,
        t,
        r,
        q,
        price,
        forward,
        expiries,
        quote_status,
        bid,
        spot,
        when.quote_day,
        cells.labels(chunk, pos["ticker"]) if "ticker" in pos else None,
        when.expiry_note,
    )
