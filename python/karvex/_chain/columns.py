"""Resolve the header: which column holds each input, or which constant
stands in for it.  Names given by --column INPUT=NAME are looked up before
the aliases; every input missing is named in one error, with the names it
would accept."""

from __future__ import annotations

import dataclasses
import os

from ..curves import Curve
from .aliases import ALIASES
from .cells import is_numeric, mostly_numbers
from .chunk import Chunk
from .options import ChainError, Options
from .times import (
    DayCount,
    ExpiryTime,
    Stamps,
    parse_day_count,
    parse_expiry_time,
    parse_stamp_option,
)
from .units import Units, parse_units

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
    valuation: Stamps | None = None  # --valuation-date, for every row
    expiry_time: ExpiryTime = dataclasses.field(default_factory=lambda: parse_expiry_time("16:00"))
    day_count: DayCount | None = None  # --day-count, --holidays (None: Act/365F)
    timestamp_unit: str | None = None  # --timestamp-unit
    date_format: str | None = None  # --date-format
    # Inputs named by several columns: their positions, in order of
    # preference, and the spot's own fallback, the underlying's bid and ask
    # (settled on the first chunk by `settle`).
    candidates: dict[str, list[int]] = dataclasses.field(default_factory=dict)
    spot_quotes: dict[str, int] = dataclasses.field(default_factory=dict)
    optional: set[str] = dataclasses.field(default_factory=set)  # dropped if not numbers
    # A wide chain: each side's quote columns (side -> input -> position).
    sides: dict[str, dict[str, int]] = dataclasses.field(default_factory=dict)
    units: Units = dataclasses.field(default_factory=Units)  # as stated by the options
    # --rate-curve, --dividend-curve: the input ("rate", "dividend") each gives
    # at every row's years to expiry (prices.inputs).
    curves: dict[str, Curve] = dataclasses.field(default_factory=dict)

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
    """The header's names, looked up by input: the column --column maps to
    it, else its aliases (among the columns not mapped to another input).
    The inputs found missing are collected for one error."""

    def __init__(self, source: str, header: list[str], mapping: list[str] | None = None):
        self.source = source
        self.header = header
        self.names = [h.strip().lower() for h in header]
        self.mapped: dict[str, int] = {}
        for given in mapping or ():
            key, _, name = given.partition("=")
            key, name = key.strip().lower(), name.strip()
            if key not in ALIASES or not name:
                raise ChainError(
                    f"--column {given}: not INPUT=NAME with INPUT one of {', '.join(ALIASES)}"
                )
            if name.lower() not in self.names:
                raise ChainError(
                    f"{source}, line 1: --column {given}: no column {name!r}"
                    f" (columns found: {self.listed()})"
                )
            self.mapped[key] = self.names.index(name.lower())
        self.absent: list[str] = []

    def listed(self) -> str:
        return ", ".join(self.header) if self.header else "none"

    def present(self, key: str) -> list[int]:
        if key in self.mapped:
            return [self.mapped[key]]
        taken = set(self.mapped.values())
        found = [self.names.index(alias) for alias in ALIASES[key] if alias in self.names]
        return [p for p in found if p not in taken]

    def missing(self, what: str) -> None:
        self.absent.append(what)

    def error(self) -> ChainError:
        return ChainError(
            f"{self.source}, line 1: missing column {'; missing column '.join(self.absent)}"
            f" (columns found: {self.listed()}; other names: --column INPUT=NAME)"
        )


def _named(key: str, *instead: str) -> str:
    """An input, the other names it is accepted by and what may stand in
    for it."""
    return f"'{key}' (or {', '.join(ALIASES[key][1:] + instead)})"


def resolve(source: str, header: list[str], options: Options) -> Columns:
    names = _Header(source, header, options.columns)
    columns = Columns(header)
    columns.units = parse_units(
        options.price_unit, options.strike_scale, options.rate_unit, options.dividend_unit
    )
    wide = not names.present("type") and _wide(names, columns)
    for key in ("strike",) if wide else ("type", "strike"):
        if not _take(names, columns, key):
            names.missing(_named(key))
    if not wide:
        _price(names, columns, options)
    _underlying(names, columns, options)
    _times(names, columns, options)
    _rates(names, columns, options)
    _take(names, columns, "ticker")  # optional: snapshots are grouped by it
    if names.absent:
        raise names.error()
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
            names.missing(f"'{options.price_column}' (--price-column)")
        else:
            columns.positions["price"] = names.names.index(wanted)
    elif not _take(names, columns, "price") and not (
        _take(names, columns, "bid") and _take(names, columns, "ask")
    ):
        names.missing("'price' (or 'bid' and 'ask', or --price-column NAME)")


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
        names.missing(" and ".join(lacking) + " (a wide chain: each side's bid and ask)")
        return True
    if len(sides) < 2:
        return False
    columns.sides = sides
    return True


def _underlying(names: _Header, columns: Columns, options: Options) -> None:
    """The spot (bsm) or the forward (black76, normal).  A parity run needs neither:
    a spot, if the file has one in numbers, only gives the carry."""
    if options.model == "normal" and options.second_order:
        raise ChainError("--second-order: the normal model has no second-order Greeks")
    if options.model == "normal" and options.parity:
        raise ChainError(
            "--forward parity: parity forwards price under Black-76; "
            "--model normal takes a forward column"
        )
    if options.model in ("black76", "normal") and not options.parity:
        if not _take(names, columns, "forward"):
            names.missing(_named("forward", "use --forward parity"))
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
        names.missing(_named("spot", "'underlying_bid' and 'underlying_ask'"))


def _times(names: _Header, columns: Columns, options: Options) -> None:
    columns.day_count = parse_day_count(options.day_count, options.holidays)
    if _take(names, columns, "expiry"):
        if columns.day_count is not None:
            given = columns.header[columns.positions["expiry"]]
            raise ChainError(
                f"--day-count: the file gives years to expiry (column {given!r}), not the dates"
                " a day count counts; leave --day-count out or give expiry and valuation dates"
            )
        return
    if not _take(names, columns, "expiry_date"):
        names.missing(f"'expiry' (years) or {_named('expiry_date')}")
        return
    columns.expiry_time = parse_expiry_time(options.expiry_time)
    columns.timestamp_unit, columns.date_format = options.timestamp_unit, options.date_format
    clock = [p for p in names.present("expiry_clock") if p != columns.positions["expiry_date"]]
    if clock:  # a time of day per row, beside the expiry date
        columns.positions["expiry_clock"] = clock[0]
    if options.valuation_date is not None:
        columns.valuation = parse_stamp_option(options.valuation_date)
    elif not _take(names, columns, "valuation_date"):
        names.missing(_named("valuation_date", "give --valuation-date"))


def parse_curve(option: str, text: str) -> Curve:
    """A curve option: tenor=rate pairs (1m=0.043,3m=0.044), else a CSV file
    of tenors and zero rates or discount factors (karvex.Curve)."""
    try:
        if "=" in text and not os.path.exists(text):
            return Curve.parse(text)
        return Curve.read_csv(text)
    except (OSError, ValueError, UnicodeDecodeError) as error:
        reason = error.strerror if isinstance(error, OSError) and error.strerror else error
        raise ChainError(f"{option} {text}: {reason}") from None


def _curve(
    names: _Header, columns: Columns, key: str, text: str | None, flat: object, unit: str | None
) -> bool:
    """Whether the input `key` comes from its curve option (`text`): refused
    beside its constant option (`flat`), a column of the file, or a unit
    option (`unit`), which would otherwise be silently ignored."""
    if text is None:
        return False
    option = f"--{key}-curve"
    if flat is not None:
        raise ChainError(f"{option} and --{key}: give one of them")
    if unit is not None:
        raise ChainError(
            f"{option} and --{key}-unit: a curve states its own unit (decimals,"
            f" or a rate with % such as 1y=4.5%); leave out --{key}-unit"
        )
    present = names.present(key)
    if present:
        raise ChainError(
            f"{option}: the file has a {key} column ({columns.header[present[0]]!r});"
            f" give the curve or use the column, not both"
        )
    columns.curves[key] = parse_curve(option, text)
    return True


def _rates(names: _Header, columns: Columns, options: Options) -> None:
    if options.american_mode is not None and options.exercise != "american":
        raise ChainError("--american-mode: takes --exercise american")
    if options.exercise == "american":
        if options.parity:
            raise ChainError(
                "--exercise american: put-call parity does not hold for American options, so"
                " --forward parity cannot imply the forward; give the rate and the dividend"
                " yield (columns, --rate/--dividend or their curves)"
            )
        if options.model != "bsm":
            raise ChainError("--exercise american: takes --model bsm (a spot and its yield)")
        if options.second_order:
            raise ChainError("--exercise american: has no second-order Greeks (--second-order)")
    if options.dividend_curve is not None and (options.model != "bsm" or options.parity):
        raise ChainError(
            "--dividend-curve: Black-76 has no dividend yield, nor has the normal model"
            " (parity forwards imply it)"
        )
    if _curve(names, columns, "rate", options.rate_curve, options.rate, options.rate_unit):
        pass
    elif options.rate is not None:
        columns.constants["rate"] = options.rate
    elif not _take(names, columns, "rate"):
        names.missing("'rate' (or give --rate)")
    if options.model != "bsm" or options.parity:
        return  # Black-76 and the normal model have no dividend yield
    if _curve(
        names, columns, "dividend", options.dividend_curve, options.dividend, options.dividend_unit
    ):
        return
    if options.dividend is not None:
        columns.constants["dividend"] = options.dividend
    elif not _take(names, columns, "dividend"):
        if options.exercise == "american":  # early exercise turns on it: no silent default
            names.missing("'dividend' (or give --dividend; American exercise needs the yield)")
        columns.constants["dividend"] = 0.0


def settle(columns: Columns, chunk: Chunk) -> None:
    """Choose, from the first chunk, among columns that could each hold an
    input: the first whose cells are all numbers (or empty), else the first
    whose cells are mostly numbers (its bad cells are then errors).  A spot
    named only by text columns comes from the underlying's bid and ask
    instead, or where it is optional is left out."""
    for key, found in columns.candidates.items():
        numeric = [p for p in found if is_numeric(chunk, p)]
        numeric = numeric or [p for p in found if mostly_numbers(chunk, p)]
        if numeric:
            columns.positions[key] = numeric[0]
        elif key == "spot" and columns.spot_quotes:
            del columns.positions["spot"]
            columns.positions.update(columns.spot_quotes)
        elif key in columns.optional:
            del columns.positions[key]
    columns.candidates, columns.spot_quotes = {}, {}
