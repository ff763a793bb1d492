"""Resolve the header: which column holds each input, or which constant
stands in for it."""

from __future__ import annotations

import dataclasses

import numpy as np

from .dates import parse_date_option
from .options import ChainError, Options

# Accepted header names of each input, compared after lower-casing and
# trimming.  The first name is the one the documentation uses.
ALIASES = {
    "type": ("type", "flag", "option_type", "cp", "call_put", "right"),
    "strike": ("strike", "k"),
    "expiry": ("expiry", "t", "years", "time_to_expiry"),
    "expiry_date": ("expiry_date", "expiration", "expiration_date", "maturity_date"),
    "valuation_date": ("valuation_date", "quote_date", "trade_date", "date"),
    "price": ("price", "premium", "mid", "target_price"),
    "spot": ("spot", "s", "underlying", "underlying_price"),
    "forward": ("forward", "f"),
    "rate": ("rate", "r"),
    "dividend": ("dividend", "q", "dividend_yield"),
}


@dataclasses.dataclass
class Columns:
    """Where each input lives: a column position, or a constant."""

    header: list[str]
    positions: dict[str, int]
    constants: dict[str, float]
    valuation: np.datetime64 | None = None  # --valuation-date, for every row


def resolve(source: str, header: list[str], options: Options) -> Columns:
    names = [h.strip().lower() for h in header]
    underlying = "spot" if options.model == "bsm" else "forward"

    def find(key):
        for alias in ALIASES[key]:
            if alias in names:
                return names.index(alias)
        return None

    def missing(what):
        listed = ", ".join(header) if header else "none"
        return ChainError(f"{source}, line 1: missing column {what} (columns found: {listed})")

    positions, constants = {}, {}
    for key in ("type", "strike", "price", underlying):
        pos = find(key)
        if pos is None:
            raise missing(f"'{key}'")
        positions[key] = pos

    columns = Columns(header, positions, constants)
    pos = find("expiry")
    if pos is not None:
        positions["expiry"] = pos
    else:
        pos = find("expiry_date")
        if pos is None:
            raise missing("'expiry' (years) or 'expiry_date'")
        positions["expiry_date"] = pos
        if options.valuation_date is not None:
            columns.valuation = parse_date_option(options.valuation_date)
        else:
            pos = find("valuation_date")
            if pos is None:
                raise missing("'valuation_date' (or give --valuation-date)")
            positions["valuation_date"] = pos

    for key, given, default in (("rate", options.rate, None), ("dividend", options.dividend, 0.0)):
        if key == "dividend" and options.model == "black76":
            continue
        if given is not None:
            constants[key] = given
            continue
        pos = find(key)
        if pos is not None:
            positions[key] = pos
        elif default is not None:
            constants[key] = default
        else:
            raise missing(f"'{key}' (or give --{key})")
    return columns
