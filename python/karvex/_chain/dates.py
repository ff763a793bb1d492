"""Dates and times: expiry and valuation dates to years to expiry, and the
label of each row's expiry."""

from __future__ import annotations

from typing import TYPE_CHECKING

import numpy as np

from . import arrow_read
from .cells import by_distinct, cell_error, numbers
from .options import ChainError
from .read import Chunk

if TYPE_CHECKING:  # columns.py imports this module
    from .columns import Columns


def parse_date_option(text: str) -> np.datetime64:
    try:
        return np.datetime64(text.strip(), "D")
    except ValueError:
        raise ChainError(f"--valuation-date: not a date (YYYY-MM-DD): {text!r}") from None


def parse_dates(source, columns: Columns, chunk: Chunk, pos: int) -> np.ndarray:
    if arrow_read.is_arrow(chunk.cells[pos]):
        return by_distinct(parse_dates, source, columns, chunk.cells[pos], pos)
    cells = np.char.strip(chunk.cells[pos])
    try:
        return cells.astype("datetime64[D]")
    except ValueError:
        for i, text in enumerate(cells):
            try:
                np.datetime64(text, "D")
            except ValueError:
                raise cell_error(source, columns, chunk, pos, i, "not a date (YYYY-MM-DD)") from None
        raise


def year_fractions(source, columns: Columns, chunk: Chunk) -> np.ndarray:
    """Time to expiry in years: the column, or ACT/365 between the dates."""
    if "expiry" in columns.positions:
        what = "not a number of years (name a date column expiry_date)"
        return numbers(source, columns, chunk, columns.positions["expiry"], what)
    expiry = parse_dates(source, columns, chunk, columns.positions["expiry_date"])
    if columns.valuation is not None:
        valuation = columns.valuation
    else:
        valuation = parse_dates(source, columns, chunk, columns.positions["valuation_date"])
    days = (expiry - valuation).astype(np.float64)  # NaT becomes NaN
    return days / 365.0


def expiry_labels(columns: Columns, chunk: Chunk, t: np.ndarray) -> np.ndarray:
    """The expiry of each row as the plot names it: the date as given, or the
    years (formatted once per distinct value)."""
    if "expiry_date" in columns.positions:
        cells = chunk.cells[columns.positions["expiry_date"]]
        if arrow_read.is_arrow(cells):
            return arrow_read.by_distinct(cells, np.char.strip)
        return np.char.strip(cells)
    years, rows = np.unique(t, return_inverse=True)
    return np.array([f"T = {x:.4g} y" for x in years.tolist()], dtype=str)[rows.reshape(-1)]
