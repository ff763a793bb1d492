"""Years to expiry from the expiry and valuation dates, and the name of each
row's expiry.

Time to expiry = (expiry - valuation) / 365 days of 24 hours (or the year
fraction under --day-count), by times.py's rules: a date-only expiry at --expiry-time (or the row's expiry time
column) in --expiry-time's zone, a date-only quote at the close against a
date-only expiry (whole days), instants in UTC.  A quote at or after its
expiry gives t <= 0: the status `expired`."""

from __future__ import annotations

import dataclasses

import numpy as np

from . import times as clock
from .cells import distinct, is_arrow, numbers, stamps, times_of_day
from .chunk import Chunk
from .columns import Columns
from .options import ChainError


@dataclasses.dataclass
class Times:
    """A chunk's years to expiry, and the day each row was quoted on (the
    snapshot it belongs to; None without dates)."""

    t: np.ndarray
    quote_day: np.ndarray | None
    expiry_note: str | None = None  # the summary's line on the expiry time used


def times(columns: Columns, chunk: Chunk) -> Times:
    """Time to expiry in years: the column, or the time between the dates in
    days of 24 hours over 365 (see the module's note on the expiry time)."""
    pos = columns.positions
    if "expiry" in pos:
        what = "not a number of years (name a date column expiry_date)"
        return Times(numbers(chunk, pos["expiry"], what), None)
    unit, form = columns.timestamp_unit, columns.date_format
    expiry = stamps(chunk, pos["expiry_date"], unit, form)
    quote = columns.valuation
    if quote is None:
        quote = stamps(chunk, pos["valuation_date"], unit, form)
    tod = times_of_day(chunk, pos["expiry_clock"]) if "expiry_clock" in pos else None
    try:
        t = clock.years_to_expiry(
            expiry, quote, columns.expiry_time, tod, day_count=columns.day_count
        )
    except ChainError as error:  # instants against times with no zone
        raise ChainError(f"{chunk.source}: {error}") from None
    quote_day = np.broadcast_to(quote.at.astype("datetime64[D]"), (len(chunk),))
    note = clock.describe(columns.expiry_time, expiry, quote)
    if tod is not None and not np.isnat(tod).all():
        note = "expiry times: the file's expiry time column, else " + columns.expiry_time.describe()
    return Times(t, quote_day, note)


def expiry_groups(columns: Columns, chunk: Chunk, t: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """The chunk's expiries by name: the date as given, or the years
    (formatted once per distinct value); the distinct names, sorted, and each
    row's index into them.  Each distinct cell or number of years is named
    once; rows are never compared as text."""
    if "expiry_date" in columns.positions:
        cells = chunk.cells[columns.positions["expiry_date"]]
        if is_arrow(cells):
            values, rows = distinct(cells)
        else:
            values, _, rows = factorise(cells)
        texts = np.char.strip(values)
    else:
        years, rows = np.unique(t, return_inverse=True)
        texts = np.array([f"T = {x:.4g} y" for x in years.tolist()], dtype=str)
    names, index = np.unique(texts, return_inverse=True)  # cells that differ in blanks alone, years
    return names, index.reshape(-1)[rows.reshape(-1)]  # that round alike: one expiry


def expiry_labels(columns: Columns, chunk: Chunk, t: np.ndarray) -> np.ndarray:
    """The expiry of each row by name (see `expiry_groups`)."""
    names, rows = expiry_groups(columns, chunk, t)
    labels: np.ndarray = names[rows]
    return labels


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
