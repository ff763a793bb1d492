"""Resolve the header: which column holds each input, or which constant
stands in for it."""

from __future__ import annotations

import dataclasses
from typing import TYPE_CHECKING

import numpy as np

from .cells import is_numeric
from .dates import parse_date_option, parse_expiry_time, timed
from .options import ChainError, Options

if TYPE_CHECKING:
    from .read import AnyChunk

# Accepted header names of each input, compared after lower-casing and
# trimming.  The first name is the one the documentation uses; where several
# are present, the first that holds numbers is taken (a ticker in
# `underlying` never wins over `underlying_price`).
ALIASES = {
    "type": ("type", "flag", "option_type", "cp", "call_put", "right", "put_call"),
    "strike": ("strike", "k", "strike_price"),
    "expiry": ("expiry", "t", "years", "time_to_expiry"),
    "expiry_date": ("expiry_date", "expiration", "expiration_date", "maturity_date", "expiry_time"),
    "valuation_date": ("valuation_date", "quote_date", "quote_datetime", "trade_date", "date"),
    "price": ("price", "premium", "mid", "target_price", "option_price"),
    "bid": ("bid", "bid_price"),
    "ask": ("ask", "ask_price", "offer"),
    "spot": ("spot", "s", "underlying_price", "underlying", "underlying_last", "spot_price"),
    "underlying_bid": ("underlying_bid", "spot_bid"),
    "underlying_ask": ("underlying_ask", "spot_ask"),
    "forward": ("forward", "f"),
    "rate": ("rate", "r", "risk_free_rate"),
    "dividend": ("dividend", "q", "dividend_yield"),
}
# Inputs read as numbers: where several of their names are present, the
# first chunk decides which column holds numbers.
NUMERIC = (
    "strike",
    "expiry",
    "price",
    "bid",
    "ask",
    "spot",
    "underlying_bid",
    "underlying_ask",
    "forward",
    "rate",
    "dividend",
)
# What a missing input may be made of instead: the mid of two quote columns.
MIDS = {"price": ("bid", "ask"), "spot": ("underlying_bid", "underlying_ask")}


@dataclasses.dataclass
class Columns:
    """Where each input lives: a column position, or a constant."""

    header: list[str]
    positions: dict[str, int]
    constants: dict[str, float]
    valuation: np.datetime64 | None = None  # --valuation-date, for every row
    valuation_timed: bool = False  # --valuation-date gives a time of day
    expiry_time: np.timedelta64 = np.timedelta64(16 * 3600 * 10**6, "us")  # --expiry-time
    # Inputs named by several columns: their positions, in order of
    # preference, and the spot's own fallback, the underlying's bid and ask
    # (settled on the first chunk by `settle`).
    candidates: dict[str, list[int]] = dataclasses.field(default_factory=dict)
    spot_quotes: dict[str, int] = dataclasses.field(default_factory=dict)

    def read_positions(self) -> list[int]:
        """Every column the readers must hand over as cells."""
        chosen = set(self.positions.values()) | set(self.spot_quotes.values())
        return sorted(chosen.union(*self.candidates.values()))


def resolve(source: str, header: list[str], options: Options) -> Columns:
    names = [h.strip().lower() for h in header]
    parity = options.forward == "parity"
    # Black-76 takes the forward; so does a run on the forwards implied by
    # parity, which needs no underlying at all (it only reports the carry).
    underlying = "forward" if options.model == "black76" and not parity else "spot"

    def present(key: str) -> list[int]:
        return [names.index(alias) for alias in ALIASES[key] if alias in names]

    def missing(what: str) -> ChainError:
        listed = ", ".join(header) if header else "none"
        return ChainError(f"{source}, line 1: missing column {what} (columns found: {listed})")

    positions: dict[str, int] = {}
    constants: dict[str, float] = {}
    columns = Columns(header, positions, constants)

    def take(key: str) -> bool:
        found = present(key)
        if not found:
            return False
        positions[key] = found[0]
        if len(found) > 1 and key in NUMERIC:
            columns.candidates[key] = found
        return True

    for key in ("type", "strike"):
        if not take(key):
            raise missing(f"'{key}'")
    if options.price_column is not None:
        wanted = options.price_column.strip().lower()
        if wanted not in names:
            raise missing(f"'{options.price_column}' (--price-column)")
        positions["price"] = names.index(wanted)
    elif not take("price") and not (take("bid") and take("ask")):
        raise missing("'price' (or 'bid' and 'ask', or --price-column NAME)")
    quotes = {key: present(key)[0] for key in MIDS["spot"] if present(key)}
    if len(quotes) == 2 and underlying == "spot":
        columns.spot_quotes = quotes
    if not take(underlying):
        if columns.spot_quotes:
            positions.update(columns.spot_quotes)
            columns.spot_quotes = {}
        elif underlying == "forward":
            raise missing("'forward' (or use --forward parity)")
        elif not parity:
            raise missing("'spot' (or 'underlying_bid' and 'underlying_ask')")
    elif columns.spot_quotes:
        columns.candidates.setdefault("spot", [positions["spot"]])

    if not take("expiry"):
        if not take("expiry_date"):
            raise missing("'expiry' (years) or 'expiry_date'")
        columns.expiry_time = parse_expiry_time(options.expiry_time)
        if options.valuation_date is not None:
            columns.valuation = parse_date_option(options.valuation_date)
            columns.valuation_timed = bool(timed(np.array([options.valuation_date]))[0])
        elif not take("valuation_date"):
            raise missing("'valuation_date' (or give --valuation-date)")

    for key, given, default in (("rate", options.rate, None), ("dividend", options.dividend, 0.0)):
        if key == "dividend" and (options.model == "black76" or parity):
            continue
        if given is not None:
            constants[key] = given
        elif not take(key) and default is not None:
            constants[key] = default
        elif key not in positions and default is None:
            raise missing(f"'{key}' (or give --{key})")
    return columns


def settle(columns: Columns, chunk: AnyChunk) -> None:
    """Choose, from the first chunk, among columns that could each hold an
    input: the first whose cells are all numbers (or empty).  A spot named
    only by text columns comes from the underlying's bid and ask instead."""
    for key, found in columns.candidates.items():
        numeric = [p for p in found if is_numeric(chunk, p)]
        if numeric:
            columns.positions[key] = numeric[0]
        elif key == "spot" and columns.spot_quotes:
            del columns.positions["spot"]
            columns.positions.update(columns.spot_quotes)
    columns.candidates, columns.spot_quotes = {}, {}
