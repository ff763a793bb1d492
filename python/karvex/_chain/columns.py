"""Resolve the header: which column holds each input, or which constant
stands in for it.

Settings to come plug in here: --column INPUT=NAME (names looked up before
the aliases, in ``_Header.present``), and one error that lists every
missing column (``resolve`` collects what ``_Header.missing`` reports)."""

from __future__ import annotations

import dataclasses

import numpy as np

from .aliases import ALIASES
from .cells import is_numeric, parse_date_option, parse_expiry_time
from .chunk import Chunk
from .options import ChainError, Options

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
# A wide chain's sides: the words its column names start or end with, and
# the type each side's options take.
WIDE_SIDES = {"call": ("call", "calls", "c"), "put": ("put", "puts", "p")}
WIDE_FLAGS = {"call": 1.0, "put": -1.0}
# What a missing input may be made of instead: the mid of two quote columns.
MIDS = {"price": ("bid", "ask"), "spot": ("underlying_bid", "underlying_ask")}


@dataclasses.dataclass
class Columns:
    """Where each input lives: a column position, or a constant."""

    header: list[str]
    positions: dict[str, int] = dataclasses.field(default_factory=dict)
    constants: dict[str, float] = dataclasses.field(default_factory=dict)
    valuation: np.datetime64 | None = None  # --valuation-date, for every row
    valuation_timed: bool = False  # --valuation-date gives a time of day
    expiry_time: np.timedelta64 = np.timedelta64(16 * 3600 * 10**6, "us")  # --expiry-time
    # Inputs named by several columns: their positions, in order of
    # preference, and the spot's own fallback, the underlying's bid and ask
    # (settled on the first chunk by `settle`).
    candidates: dict[str, list[int]] = dataclasses.field(default_factory=dict)
    spot_quotes: dict[str, int] = dataclasses.field(default_factory=dict)
    optional: set[str] = dataclasses.field(default_factory=set)  # dropped if not numbers
    # A wide chain: each side's quote columns (side -> input -> position).
    sides: dict[str, dict[str, int]] = dataclasses.field(default_factory=dict)

    def read_positions(self) -> list[int]:
        """Every column the readers must hand over as cells."""
        chosen = set(self.positions.values()) | set(self.spot_quotes.values())
        chosen = chosen.union(*(side.values() for side in self.sides.values()))
        return sorted(chosen.union(*self.candidates.values()))

    def per_side(self) -> list[Columns]:
        """The columns of each option a row holds: itself, or in a wide chain
        the call's and the put's (their quotes, their type a constant)."""
        if not self.sides:
            return [self]
        return [
            dataclasses.replace(
                self,
                positions={**self.positions, **quotes},
                constants={**self.constants, "type": WIDE_FLAGS[side]},
                sides={},
            )
            for side, quotes in self.sides.items()
        ]


class _Header:
    """The header's names, looked up by input."""

    def __init__(self, source: str, header: list[str]):
        self.source = source
        self.header = header
        self.names = [h.strip().lower() for h in header]

    def present(self, key: str) -> list[int]:
        return [self.names.index(alias) for alias in ALIASES[key] if alias in self.names]

    def missing(self, what: str) -> ChainError:
        listed = ", ".join(self.header) if self.header else "none"
        return ChainError(f"{self.source}, line 1: missing column {what} (columns found: {listed})")


def resolve(source: str, header: list[str], options: Options) -> Columns:
    names = _Header(source, header)
    columns = Columns(header)
    wide = not names.present("type") and _wide(names, columns)
    for key in ("strike",) if wide else ("type", "strike"):
        if not _take(names, columns, key):
            raise names.missing(f"'{key}'")
    if not wide:
        _price(names, columns, options)
    _underlying(names, columns, options)
    _times(names, columns, options)
    _rates(names, columns, options)
    _take(names, columns, "ticker")  # optional: snapshots are grouped by it
    return columns


def _take(names: _Header, columns: Columns, key: str) -> bool:
    found = names.present(key)
    if not found:
        return False
    columns.positions[key] = found[0]
    if len(found) > 1 and key in NUMERIC:
        columns.candidates[key] = found
    return True


def _price(names: _Header, columns: Columns, options: Options) -> None:
    if options.price_column is not None:
        wanted = options.price_column.strip().lower()
        if wanted not in names.names:
            raise names.missing(f"'{options.price_column}' (--price-column)")
        columns.positions["price"] = names.names.index(wanted)
    elif not _take(names, columns, "price") and not (
        _take(names, columns, "bid") and _take(names, columns, "ask")
    ):
        raise names.missing("'price' (or 'bid' and 'ask', or --price-column NAME)")


def _wide(names: _Header, columns: Columns) -> bool:
    """A wide chain: a call and a put per row, each with its own quote
    columns, named like call_bid, bid_call, C_Bid, c bid or callbid (and
    ask, or a price, under any of their names).  Each side takes its price
    or else its bid and ask, as a row of a long chain does."""
    sides: dict[str, dict[str, int]] = {}
    partial: dict[str, dict[str, int]] = {}
    for side, words in WIDE_SIDES.items():
        found: dict[str, int] = {}
        for key in ("price", "bid", "ask"):
            spellings = [
                name
                for alias in ALIASES[key]
                for word in words
                for name in (f"{word}_{alias}", f"{alias}_{word}", f"{word} {alias}", word + alias)
            ]
            at = [names.names.index(n) for n in spellings if n in names.names]
            if at:
                found[key] = at[0]
        if "price" in found:
            sides[side] = {"price": found["price"]}
        elif "bid" in found and "ask" in found:
            sides[side] = {"bid": found["bid"], "ask": found["ask"]}
        else:
            partial[side] = found
    if len(sides) == 1:  # one side complete: the other's quotes are missing
        (side,) = set(WIDE_SIDES) - set(sides)
        lacking = [f"'{side}_{key}'" for key in ("bid", "ask") if key not in partial[side]]
        raise names.missing(" and ".join(lacking) + " (a wide chain: each side's bid and ask)")
    if len(sides) < 2:
        return False
    columns.sides = sides
    return True


def _underlying(names: _Header, columns: Columns, options: Options) -> None:
    """The spot (bsm) or the forward (black76).  A parity run needs neither:
    a spot, if the file has one in numbers, only gives the carry."""
    if options.model == "black76" and not options.parity:
        if not _take(names, columns, "forward"):
            raise names.missing("'forward' (or use --forward parity)")
        return
    quotes = {key: names.present(key)[0] for key in MIDS["spot"] if names.present(key)}
    if len(quotes) == 2:
        columns.spot_quotes = quotes
    if _take(names, columns, "spot"):
        if columns.spot_quotes or options.parity:
            columns.candidates.setdefault("spot", [columns.positions["spot"]])
        if options.parity:
            columns.optional.add("spot")
    elif columns.spot_quotes:
        columns.positions.update(columns.spot_quotes)
        columns.spot_quotes = {}
    elif not options.parity:
        raise names.missing("'spot' (or 'underlying_bid' and 'underlying_ask')")


def _times(names: _Header, columns: Columns, options: Options) -> None:
    if _take(names, columns, "expiry"):
        return
    if not _take(names, columns, "expiry_date"):
        raise names.missing("'expiry' (years) or 'expiry_date'")
    columns.expiry_time = parse_expiry_time(options.expiry_time)
    if options.valuation_date is not None:
        columns.valuation, columns.valuation_timed = parse_date_option(options.valuation_date)
    elif not _take(names, columns, "valuation_date"):
        raise names.missing("'valuation_date' (or give --valuation-date)")


def _rates(names: _Header, columns: Columns, options: Options) -> None:
    if options.rate is not None:
        columns.constants["rate"] = options.rate
    elif not _take(names, columns, "rate"):
        raise names.missing("'rate' (or give --rate)")
    if options.model == "black76" or options.parity:
        return  # Black-76 has no dividend yield
    if options.dividend is not None:
        columns.constants["dividend"] = options.dividend
    elif not _take(names, columns, "dividend"):
        columns.constants["dividend"] = 0.0


def settle(columns: Columns, chunk: Chunk) -> None:
    """Choose, from the first chunk, among columns that could each hold an
    input: the first whose cells are all numbers (or empty).  A spot named
    only by text columns comes from the underlying's bid and ask instead, or
    where it is optional is left out."""
    for key, found in columns.candidates.items():
        numeric = [p for p in found if is_numeric(chunk, p)]
        if numeric:
            columns.positions[key] = numeric[0]
        elif key == "spot" and columns.spot_quotes:
            del columns.positions["spot"]
            columns.positions.update(columns.spot_quotes)
        elif key in columns.optional:
            del columns.positions[key]
    columns.candidates, columns.spot_quotes = {}, {}
