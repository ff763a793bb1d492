"""Dates and times: expiry and valuation dates to years to expiry, and the
label of each row's expiry.

Time to expiry = (expiry - valuation) / 365 days of 24 hours.  An option
expires on its expiry date at --expiry-time (default 16:00) when the quote
carries a time of day and the expiry does not; with dates alone on both
sides it is whole days / 365; a date-time given for the expiry is used as it
is.  A quote at or after its expiry gives t <= 0: the status `expired`."""

from __future__ import annotations

import datetime
import re
from typing import TYPE_CHECKING, cast

import numpy as np

from . import arrow_read
from .cells import by_distinct, cell_error, numbers, refuse_long
from .options import ChainError
from .read import Chunk

if TYPE_CHECKING:  # columns.py imports this module
    from .columns import Columns
    from .read import AnyChunk


DATE_FORMS = "YYYY-MM-DD, YYYYMMDD or YYYY-MM-DD HH:MM[:SS[.ffffff]] (also with T)"

# The accepted forms, exactly: a calendar date with or without dashes, or an
# ISO date-time whose time of day is kept to the microsecond.  Anything else
# (a month alone, a time zone, words like "today") is refused rather than
# read some other way.
_STAMP = re.compile(
    r"(\d{4})-(\d{2})-(\d{2})(?:[T ](\d{2}):(\d{2})(?::(\d{2})(?:\.(\d{1,6}))?)?)?"
    r"|(\d{4})(\d{2})(\d{2})",
    re.ASCII,
)


def parse_stamp(text: str) -> np.datetime64 | None:
    """The date or date-time ``text`` names (microseconds), NaT for an empty
    text, None if it is not one of the accepted forms or not a real day or
    time."""
    if text == "":
        return np.datetime64("NaT", "us")
    m = _STAMP.fullmatch(text)
    if m is None:
        return None
    year, month, day, hour, minute, second, fraction = (
        m.group(1, 2, 3, 4, 5, 6, 7) if m.group(1) else m.group(8, 9, 10) + (None,) * 4
    )
    try:
        stamp = datetime.datetime(
            int(year),
            int(month),
            int(day),
            int(hour or 0),
            int(minute or 0),
            int(second or 0),
            int((fraction or "0").ljust(6, "0")),
        )
    except ValueError:  # February 30th, 25:00, year 0
        return None
    return np.datetime64(stamp, "us")


def parse_date_option(text: str) -> np.datetime64:
    stamp = parse_stamp(text.strip())
    if stamp is None or np.isnat(stamp):
        raise ChainError(f"--valuation-date: not a date ({DATE_FORMS}): {text!r}")
    return stamp


def parse_expiry_time(text: str) -> np.timedelta64:
    """--expiry-time HH:MM or HH:MM:SS as a time of day in microseconds."""
    m = re.fullmatch(r"(\d{1,2}):(\d{2})(?::(\d{2}))?", text.strip(), re.ASCII)
    hours, minutes, seconds = (int(g or 0) for g in m.groups()) if m else (99, 0, 0)
    if hours > 23 or minutes > 59 or seconds > 59:
        raise ChainError(f"--expiry-time: not a time of day (HH:MM or HH:MM:SS): {text!r}")
    return np.timedelta64(((hours * 60 + minutes) * 60 + seconds) * 10**6, "us")


def timed(text: np.ndarray) -> np.ndarray:
    """Whether each date text gives a time of day: the date forms alone have
    8 or 10 characters, a date-time more."""
    return np.char.str_len(np.char.strip(np.asarray(text, dtype=str))) > 10


def _timed_cells(chunk: AnyChunk, pos: int) -> np.ndarray:
    cells = chunk.cells[pos]
    if arrow_read.is_arrow(cells):
        return arrow_read.by_distinct(cells, timed)
    return timed(cells)


def parse_dates(source: str, columns: Columns, chunk: AnyChunk, pos: int) -> np.ndarray:
    """The column's dates and date-times as datetime64[us] (an empty cell is
    NaT); a cell in any other form is an error naming the first such row."""
    if arrow_read.is_arrow(chunk.cells[pos]):
        return by_distinct(parse_dates, source, columns, chunk.cells[pos], pos)
    chunk = cast(Chunk, chunk)  # text cells: a text chunk
    refuse_long(source, columns, chunk, pos, f"not a date ({DATE_FORMS})")
    cells = np.char.strip(chunk.cells[pos])
    # A chain has few distinct dates: each is parsed once.
    texts, inverse = np.unique(cells, return_inverse=True)
    stamps = [parse_stamp(text) for text in texts.tolist()]
    bad = np.array([stamp is None for stamp in stamps], dtype=bool)
    if bad.any():
        i = int(np.argmax(bad[inverse.reshape(-1)]))
        raise cell_error(source, columns, chunk, pos, i, f"not a date ({DATE_FORMS})")
    values = (
        np.array(stamps, dtype="datetime64[us]") if stamps else np.array([], dtype="datetime64[us]")
    )
    return values[inverse.reshape(-1)]


def year_fractions(source: str, columns: Columns, chunk: AnyChunk) -> np.ndarray:
    """Time to expiry in years: the column, or the time between the dates in
    days of 24 hours over 365 (see the module's note on the expiry time)."""
    if "expiry" in columns.positions:
        what = "not a number of years (name a date column expiry_date)"
        return numbers(source, columns, chunk, columns.positions["expiry"], what)
    pos = columns.positions
    expiry = parse_dates(source, columns, chunk, pos["expiry_date"]).astype("datetime64[us]")
    valuation: np.datetime64 | np.ndarray  # --valuation-date, or the column's
    quote_timed: bool | np.ndarray
    if columns.valuation is not None:
        valuation, quote_timed = columns.valuation, columns.valuation_timed
    else:
        valuation = parse_dates(source, columns, chunk, pos["valuation_date"])
        quote_timed = _timed_cells(chunk, pos["valuation_date"])
    at_expiry_time = quote_timed & ~_timed_cells(chunk, pos["expiry_date"])
    expiry = np.where(at_expiry_time, expiry + columns.expiry_time, expiry)
    days = (expiry - valuation) / np.timedelta64(1, "D")  # NaT becomes NaN
    return days / 365.0


def expiry_labels(columns: Columns, chunk: AnyChunk, t: np.ndarray) -> np.ndarray:
    """The expiry of each row as the plot names it: the date as given, or the
    years (formatted once per distinct value)."""
    names, rows = expiry_groups(columns, chunk, t)
    labels: np.ndarray = names[rows]
    return labels


def expiry_groups(
    columns: Columns, chunk: AnyChunk, t: np.ndarray
) -> tuple[np.ndarray, np.ndarray]:
    """The chunk's expiries by name (see `expiry_labels`): the distinct names,
    sorted, and each row's index into them.  Each distinct cell or number of
    years is named once; rows are never compared as text."""
    if "expiry_date" in columns.positions:
        cells = chunk.cells[columns.positions["expiry_date"]]
        if arrow_read.is_arrow(cells):
            values, rows = arrow_read.distinct(cells)
        else:
            values, _, rows = factorise(cells)
        texts = np.char.strip(values)
    else:
        years, rows = np.unique(t, return_inverse=True)
        texts = np.array([f"T = {x:.4g} y" for x in years.tolist()], dtype=str)
    names, index = np.unique(texts, return_inverse=True)  # cells that differ in blanks alone, years
    return names, index.reshape(-1)[rows.reshape(-1)]  # that round alike: one expiry


_WEIGHTS = np.random.default_rng(0x6B61).integers(1, 2**63, 64, dtype=np.uint64) | np.uint64(1)


def factorise(labels: np.ndarray) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    """(distinct labels, the first row of each, each row's index into them),
    as np.unique gives them but without sorting the text: rows are grouped by
    a 64-bit hash of their characters, checked against the text."""
    labels = np.asarray(labels, dtype=str)
    width = labels.dtype.itemsize // 4
    if len(labels) == 0 or width > len(_WEIGHTS):
        names, first, group = np.unique(labels, return_index=True, return_inverse=True)
        return names, first, group.reshape(-1)
    codes = (
        np.ascontiguousarray(labels).view(np.uint32).reshape(len(labels), width).astype(np.uint64)
    )
    with np.errstate(over="ignore"):
        hashes = codes @ _WEIGHTS[:width]
    _, first, group = np.unique(hashes, return_index=True, return_inverse=True)
    group = group.reshape(-1)
    names = labels[first]
    if not np.array_equal(names[group], labels):  # two labels with one hash
        names, first, group = np.unique(labels, return_index=True, return_inverse=True)
        group = group.reshape(-1)
    return names, first, group
