"""Prices and forwards: the model's inputs of every row of a chunk.

A row's price is its price column (or the column named by --price-column),
else the mid of its bid and ask; a quote with no bid, a crossed quote or a
missing side gives no price and a status of its own.  The spot is its column,
else the mid of the underlying's bid and ask.  The forward to each expiry is
the spot carried at r - q (BSM), the forward column (Black-76), or the one
implied by put-call parity (--forward parity, see parity.py)."""

from __future__ import annotations

import dataclasses
import functools
from collections.abc import Callable
from typing import TYPE_CHECKING

import numpy as np

from . import cells
from .columns import Columns
from .dates import expiry_groups, year_fractions

if TYPE_CHECKING:
    from .read import AnyChunk
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

    @functools.cached_property
    def expiries(self) -> tuple[np.ndarray, np.ndarray]:
        """The expiries' names as the plot gives them (distinct, sorted) and
        each row's index into them (made only when asked for)."""
        return self.expiries_of()

    @functools.cached_property
    def expiry_label(self) -> np.ndarray:
        """The expiry of each row as the plot names it."""
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


def inputs(
    source: str,
    columns: Columns,
    chunk: AnyChunk,
    model: str,
    forwards: Callable[[np.ndarray, np.ndarray], np.ndarray] | None = None,
) -> Inputs:
    """The chunk's options.  With `forwards` (labels, t -> forward per row)
    the run is Black-76 on those forwards."""
    pos = columns.positions
    flag = cells.option_types(source, columns, chunk, pos["type"])
    k = cells.numbers(source, columns, chunk, pos["strike"])
    quote_status = bid = None
    if "price" in pos:
        price = cells.numbers(source, columns, chunk, pos["price"])
    else:
        bid = cells.numbers(source, columns, chunk, pos["bid"])
        price, quote_status = quote_mids(bid, cells.numbers(source, columns, chunk, pos["ask"]))
    t = year_fractions(source, columns, chunk)
    r = cells.value_of(source, columns, chunk, "rate")
    expiries = functools.cache(functools.partial(expiry_groups, columns, chunk, t))
    spot = None
    if "spot" in pos:
        spot = cells.numbers(source, columns, chunk, pos["spot"])
    elif "underlying_bid" in pos:
        spot = 0.5 * (
            cells.numbers(source, columns, chunk, pos["underlying_bid"])
            + cells.numbers(source, columns, chunk, pos["underlying_ask"])
        )
    if forwards is not None:
        names, rows = expiries()
        forward = forwards(names[rows], t)
        s, q, model = forward, r, "black76"
    elif model == "bsm":
        assert spot is not None  # columns.resolve demands one of a bsm run
        s = spot
        q = cells.value_of(source, columns, chunk, "dividend")
        with np.errstate(all="ignore"):
            forward = s * np.exp((r - q) * t)
    else:
        s = cells.numbers(source, columns, chunk, pos["forward"])
        q = r
        forward = s
    return Inputs(model, flag, s, k, t, r, q, price, forward, expiries, quote_status, bid, spot)
