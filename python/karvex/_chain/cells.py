"""Text cells of a chunk to float64 / int8 arrays; a bad cell is reported
with its file, line and column."""

from __future__ import annotations

from collections.abc import Callable
from typing import TYPE_CHECKING, cast

import numpy as np

from . import arrow_read
from .options import ChainError
from .read import CELL_LIMIT, Chunk

if TYPE_CHECKING:  # columns.py imports dates.py, which imports this module
    from .columns import Columns
    from .read import AnyChunk

    # A rule over a chunk's text cells: (source, columns, chunk, position) to values.
    Rule = Callable[[str, Columns, Chunk, int], np.ndarray]


def cell_error(
    source: str, columns: Columns, chunk: Chunk, pos: int, i: int, what: str
) -> ChainError:
    line = int(chunk.lines[i])
    name = columns.header[pos].strip()
    value = str(chunk.cells[pos][i])
    shown = repr(value) if len(value) <= 60 else f"{value[:60]!r}... ({len(value):,} characters)"
    return ChainError(f"{source}, {chunk.unit} {line}, column {pos + 1} ({name}): {what}: {shown}")


def refuse_long(source: str, columns: Columns, chunk: Chunk, pos: int, what: str) -> None:
    """A cell too long to be a number, a type or a date (read.CELL_LIMIT) is
    an error."""
    cells = chunk.cells[pos]
    if cells.dtype == object:
        i = next(i for i, text in enumerate(cells) if len(text) > CELL_LIMIT)
        raise cell_error(source, columns, chunk, pos, i, what)


def by_distinct(
    rule: Rule, source: str, columns: Columns, column: arrow_read.Column, pos: int
) -> np.ndarray:
    """A rule over text cells applied to an Arrow column once per distinct
    value; a value the rule refuses makes the chunk go through the builtin
    rules (arrow_read.Refused), which name its line."""

    def apply(text: np.ndarray) -> np.ndarray:
        try:
            return rule(
                source, columns, Chunk({pos: text}, np.zeros(len(text), np.int64), None), pos
            )
        except ChainError:
            raise arrow_read.Refused from None

    return arrow_read.by_distinct(column, apply)


def numbers(
    source: str, columns: Columns, chunk: AnyChunk, pos: int, what: str = "not a number"
) -> np.ndarray:
    if arrow_read.is_arrow(chunk.cells[pos]):
        return arrow_read.numbers(chunk.cells[pos])
    chunk = cast(Chunk, chunk)  # text cells: a text chunk
    refuse_long(source, columns, chunk, pos, what)
    cells = np.char.strip(chunk.cells[pos])
    cells = np.where(cells == "", "nan", cells)  # an empty cell is a missing value
    try:
        return cells.astype(np.float64)
    except ValueError:
        for i, text in enumerate(cells):
            try:
                float(text)
            except ValueError:
                raise cell_error(source, columns, chunk, pos, i, what) from None
        raise


def is_numeric(chunk: AnyChunk, pos: int) -> bool:
    """Whether every cell of the column is a number or empty."""
    column = chunk.cells[pos]
    if arrow_read.is_arrow(column):
        try:
            arrow_read.numbers(column)
            return True
        except arrow_read.Refused:
            column = arrow_read.texts(column)
    cells = np.char.strip(np.asarray(column, dtype=str))
    try:
        cells[cells != ""].astype(np.float64)
    except ValueError:
        return False
    return True


def option_types(source: str, columns: Columns, chunk: AnyChunk, pos: int) -> np.ndarray:
    if arrow_read.is_arrow(chunk.cells[pos]):
        return by_distinct(option_types, source, columns, chunk.cells[pos], pos)
    chunk = cast(Chunk, chunk)  # text cells: a text chunk
    what = "not an option type (C, P, call, put, 1, -1)"
    refuse_long(source, columns, chunk, pos, what)
    words = np.char.lower(np.char.strip(chunk.cells[pos]))
    is_put = (words == "p") | (words == "put") | (words == "-1")
    is_call = (words == "c") | (words == "call") | (words == "1")
    bad = ~(is_put | is_call)
    if bad.any():
        i = int(np.argmax(bad))
        raise cell_error(source, columns, chunk, pos, i, what)
    return np.where(is_put, np.int8(-1), np.int8(1))


def value_of(source: str, columns: Columns, chunk: AnyChunk, key: str) -> np.ndarray:
    """An input of every row: its column, or the constant that replaces it."""
    if key in columns.constants:
        return np.full(len(chunk), columns.constants[key])
    return numbers(source, columns, chunk, columns.positions[key])
