"""What a cell means: numbers, option types, dates and times, in one place,
whichever reader read the cell.

The rules are those of text cells, as the builtin reader gives them:

- a number is what Python's float() reads once blanks around it are
  trimmed; an empty cell is a missing value (NaN);
- an option type is C, P, call or put (any case), 1 or -1;
- a date, date-time or instant is what times.py reads (its forms, zones
  and epoch numbers, with --timestamp-unit and --date-format); an empty
  cell is a missing value (NaT);
- a cell longer than CELL_LIMIT is none of these.

A cell that breaks them is an error naming the file, the line (or row), the
column and the value.  Arrow columns are converted in native code where the
result is certain to be the same, and by their type where they have one
(integers, floating point and decimals of any width; dates and timestamps
of any unit, those with a zone as instants).  Where
it is not certain, the column's cells are taken as text (Chunk.as_text) and
the rules above decide, or name the bad cell.

Settings to come plug in here: --decimal C and --delimiter C's numbers
(``text_numbers``).
"""

from __future__ import annotations

from collections.abc import Callable
from typing import TYPE_CHECKING, TypeVar

import numpy as np

from . import times
from .arrow import (
    bool_array,
    int_scalar,
    integers,
    numpy_values,
    text_array,
    text_scalar,
    valid,
)
from .chunk import CELL_LIMIT, Chunk
from .times import StampError, Stamps, stamps_from_arrow, stamps_from_text

if TYPE_CHECKING:
    import pyarrow as pa  # untyped: see arrow.py

    from .chunk import Column

NUMBER = "not a number"
OPTION_TYPE = "not an option type (C, P, call, put, 1, -1)"
_NAN_SPELLINGS = ("nan", "+nan", "-nan")

T = TypeVar("T")


class BadCell(Exception):
    """Row `row` of a column of text cells breaks the rule."""

    def __init__(self, row: int):
        super().__init__(row)
        self.row = row


class Refused(Exception):
    """Arrow cells that may not mean under the text rules what Arrow reads
    them as: the column is taken as text instead."""


# --------------------------------------------------------------------------
# The rules, over NumPy text cells


def _refuse_long(cells: np.ndarray) -> None:
    if cells.dtype == object:  # a cell over CELL_LIMIT (chunk.text_cells)
        raise BadCell(next(i for i, text in enumerate(cells) if len(text) > CELL_LIMIT))


def text_numbers(cells: np.ndarray) -> np.ndarray:
    _refuse_long(cells)
    cells = np.char.strip(cells)
    cells = np.where(cells == "", "nan", cells)  # an empty cell is a missing value
    try:
        return cells.astype(np.float64)
    except ValueError:
        for i, text in enumerate(cells):
            try:
                float(text)
            except ValueError:
                raise BadCell(i) from None
        raise


def text_option_types(cells: np.ndarray) -> np.ndarray:
    _refuse_long(cells)
    words = np.char.lower(np.char.strip(cells))
    is_put = (words == "p") | (words == "put") | (words == "-1")
    is_call = (words == "c") | (words == "call") | (words == "1")
    bad = ~(is_put | is_call)
    if bad.any():
        raise BadCell(int(np.argmax(bad)))
    return np.where(is_put, np.int8(-1), np.int8(1))


# --------------------------------------------------------------------------
# The same rules over a chunk's column, whichever reader gave it


def _apply(
    chunk: Chunk,
    pos: int,
    text_rule: Callable[[np.ndarray], T],
    arrow_rule: Callable[[pa.Array], T],
    what: str,
) -> T:
    column = chunk.cells[pos]
    if is_arrow(column):
        try:
            return arrow_rule(column)
        except Refused:
            chunk = chunk.as_text()
            column = chunk.cells[pos]
    try:
        return text_rule(column)
    except BadCell as bad:
        raise chunk.cell_error(pos, bad.row, what) from None


def numbers(chunk: Chunk, pos: int, what: str = NUMBER) -> np.ndarray:
    """The column's numbers as float64 (NaN where a cell is empty)."""
    if chunk.decimal != ".":
        mark = chunk.decimal
        return _apply(
            chunk,
            pos,
            lambda c: text_numbers(_text_point(c, mark)),
            lambda c: arrow_numbers(_arrow_point(c, mark)),
            what,
        )
    return _apply(chunk, pos, text_numbers, arrow_numbers, what)


def _text_point(cells: np.ndarray, mark: str) -> np.ndarray:
    """Text numbers written with a decimal `mark` (a comma) as with a point."""
    if cells.dtype.kind != "U":
        return cells  # cells over CELL_LIMIT: refused as they are
    pointed: np.ndarray = np.char.replace(cells, mark, ".")
    return pointed


def _arrow_point(column: pa.Array, mark: str) -> pa.Array:
    import pyarrow.compute as pc

    t = column.type.value_type if is_dictionary(column) else column.type
    if not _is_text(t):
        return column
    return pc.replace_substring(plain_text(column), mark, ".")


def option_types(chunk: Chunk, pos: int) -> np.ndarray:
    """The column's option types as int8: 1 a call, -1 a put."""
    return _apply(
        chunk, pos, text_option_types, lambda c: _by_distinct(c, text_option_types), OPTION_TYPE
    )


def stamps(
    chunk: Chunk, pos: int, unit: str | None = None, date_format: str | None = None
) -> Stamps:
    """The column's dates, date-times and instants (times.py's rules, with
    --timestamp-unit and --date-format; NaT where a cell is empty)."""
    column = chunk.cells[pos]
    try:
        if is_arrow(column):
            return stamps_from_arrow(column, unit, date_format)
        _refuse_long_stamps(column)
        return stamps_from_text(column, unit, date_format)
    except StampError as error:
        raise chunk.as_text().cell_error(pos, error.row, error.what) from None


def _refuse_long_stamps(cells: np.ndarray) -> None:
    try:
        _refuse_long(cells)
    except BadCell as bad:
        raise StampError("not a date", str(cells[bad.row]), bad.row) from None


def times_of_day(chunk: Chunk, pos: int) -> np.ndarray:
    """A per-row expiry time column as timedelta64[us] (NaT: empty)."""
    column = chunk.cells[pos]
    try:
        if is_arrow(column):
            values, rows = distinct(column)
            spread: np.ndarray = times.times_of_day(values)[rows]
            return spread
        _refuse_long_stamps(column)
        return times.times_of_day(column)
    except StampError as error:
        raise chunk.as_text().cell_error(pos, error.row, error.what) from None


def labels(chunk: Chunk, pos: int) -> np.ndarray:
    """The column's cells as trimmed NumPy text (names such as a ticker)."""
    column = chunk.cells[pos]
    if is_arrow(column):
        values, rows = distinct(column)
        spread: np.ndarray = np.char.strip(values)[rows]
        return spread
    return np.char.strip(np.asarray(column, dtype=str))


def is_numeric(chunk: Chunk, pos: int) -> bool:
    """Whether every cell of the column is a number or empty."""
    column, mark = chunk.cells[pos], chunk.decimal
    if is_arrow(column):
        try:
            arrow_numbers(_arrow_point(column, mark) if mark != "." else column)
            return True
        except Refused:
            column = chunk.as_text().cells[pos]
    try:
        text_numbers(_text_point(column, mark) if mark != "." else column)
    except BadCell:
        return False
    return True


def mostly_numbers(chunk: Chunk, pos: int) -> bool:
    """Whether most of the column's non-empty cells are numbers: a column of
    numbers with a few bad cells (which then get named), not a text column
    such as a ticker."""
    column = chunk.cells[pos]
    if is_arrow(column):
        values, rows = distinct(column)
    else:
        values, rows = np.unique(np.asarray(column, dtype=str), return_inverse=True)
    counts = np.bincount(rows.reshape(-1), minlength=len(values))
    good = bad = 0
    for text, count in zip(np.char.strip(values).tolist(), counts.tolist()):
        if text == "":
            continue
        try:
            float(text)
            good += count
        except ValueError:
            bad += count
    return good > bad


# --------------------------------------------------------------------------
# Arrow columns


def is_arrow(column: Column) -> bool:
    return not isinstance(column, np.ndarray)


def is_dictionary(column: pa.Array) -> bool:
    import pyarrow as pa

    return bool(pa.types.is_dictionary(column.type))


def _is_text(t: pa.DataType) -> bool:
    import pyarrow as pa

    string_view = getattr(pa.types, "is_string_view", lambda t: False)  # pyarrow 16 and later
    return bool(pa.types.is_string(t) or pa.types.is_large_string(t) or string_view(t))


def plain_text(column: pa.Array) -> pa.Array:
    """A text column (of any of Arrow's text types, dictionary-encoded or
    not) as plain `string`, which every Arrow function takes."""
    import pyarrow as pa

    if pa.types.is_dictionary(column.type):
        column = column.dictionary_decode()
    if column.type != pa.string():
        column = column.cast(pa.string())
    return column


def arrow_numbers(column: pa.Array) -> np.ndarray:
    """float64 values of a numeric column, or of text as the text rules read
    it.  Raises Refused where those rules might read the text otherwise."""
    import pyarrow as pa
    import pyarrow.compute as pc

    t = column.type
    if pa.types.is_dictionary(t):
        column, t = column.dictionary_decode(), t.value_type
    if pa.types.is_null(t):
        return np.full(len(column), np.nan)
    if pa.types.is_integer(t) or pa.types.is_floating(t):
        # Integers beyond 2^53 round to the nearest double, as their digits do.
        return _float64(pc.cast(column, pa.float64(), safe=False))
    if pa.types.is_decimal(t):
        # Through the decimal's own digits, so 30.7000 is the double of "30.7".
        return _float64(pc.cast(pc.cast(column, pa.string()), pa.float64()))
    if not _is_text(t):
        raise Refused
    column = plain_text(column)
    longest = pc.max(pc.binary_length(column)).as_py()
    if longest is not None and longest > CELL_LIMIT:  # refused by the text rules
        raise Refused
    try:
        values = pc.cast(column, pa.float64())
    except pa.ArrowInvalid:
        # Blanks around numbers, empty cells: trim (ASCII blanks, which the
        # text rules strip too), then an empty cell is a missing value.
        trimmed = pc.ascii_trim_whitespace(column)
        trimmed = pc.if_else(
            pc.equal(trimmed, text_scalar("")), pa.nulls(len(trimmed), pa.string()), trimmed
        )
        try:
            values = pc.cast(trimmed, pa.float64())
        except pa.ArrowInvalid:
            raise Refused from None
    result = _float64(values)
    spelt_nan = np.isnan(result)
    present = valid(values)
    if present is not None:
        spelt_nan &= present  # missing values are not spelt
    if spelt_nan.any():  # Arrow also reads e.g. "nan(1)" as NaN, the text rules do not
        spelt = pc.utf8_lower(pc.ascii_trim_whitespace(pc.filter(column, bool_array(spelt_nan))))
        if not pc.all(pc.is_in(spelt, value_set=text_array(_NAN_SPELLINGS))).as_py():
            raise Refused
    return result


def _float64(values: pa.Array) -> np.ndarray:
    """A float64 NumPy array (missing values as NaN), writable and contiguous."""
    out = numpy_values(values, np.float64).copy()
    present = valid(values)
    if present is not None:
        out[~present] = np.nan
    return out


def _by_distinct(column: pa.Array, rule: Callable[[np.ndarray], np.ndarray]) -> np.ndarray:
    """A text rule applied once per distinct value, spread over the rows."""
    values, rows = distinct(column)
    try:
        spread: np.ndarray = rule(values)[rows]
    except BadCell:
        raise Refused from None
    return spread


def distinct(column: pa.Array) -> tuple[np.ndarray, np.ndarray]:
    """The column's distinct values as NumPy text (a missing value as "")
    and each row's index into them."""
    import pyarrow as pa
    import pyarrow.compute as pc

    if not pa.types.is_dictionary(column.type):
        if _is_text(column.type):
            column = plain_text(column)
        column = pc.dictionary_encode(column)
    values = column.dictionary
    values = plain_text(values) if _is_text(values.type) else pc.cast(values, pa.string())
    if column.null_count:
        indices = integers(
            pc.fill_null(column.indices, int_scalar(len(values), column.indices.type))
        )
        values = pa.concat_arrays([values, text_array([""])])
    else:
        indices = integers(column.indices)
    return np.array(values.to_pylist(), dtype=str), indices


def texts(column: pa.Array) -> np.ndarray:
    """The column as NumPy text (one Python string per row: for errors and
    the rare cells the fast path refuses)."""
    import pyarrow as pa
    import pyarrow.compute as pc

    column = plain_text(column) if _is_text(column.type) else pc.cast(column, pa.string())
    return np.array(pc.fill_null(column, text_scalar("")).to_pylist(), dtype=str)
