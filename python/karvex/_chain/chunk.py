"""What every reader hands on: the input (Source) and its rows, a chunk at a
time (Chunk), whichever reader read them."""

from __future__ import annotations

import dataclasses
import io
import os
import sys
from collections.abc import Callable, Sequence
from importlib import resources
from typing import TYPE_CHECKING, Any, BinaryIO

import numpy as np

from .options import ChainError

if TYPE_CHECKING:
    from typing import TypeAlias

    import pyarrow as pa  # untyped: see arrow.py

    # A column of cells: NumPy text (str, or Python strings as objects when
    # one is longer than CELL_LIMIT) from the builtin reader, an Arrow array
    # (text as read from CSV, or Parquet's own types) from the arrow reader.
    Column: TypeAlias = "np.ndarray | pa.Array"

EXAMPLE_NAME = "example chain"
# Cells of the columns the command reads (numbers, types, dates) longer than
# this cannot be valid; kept as Python strings rather than in a fixed-width
# text array, whose every cell would take the longest one's room.
CELL_LIMIT = 1000


@dataclasses.dataclass
class Source:
    """The input: the name errors give it, its bytes and its size if known."""

    name: str
    handle: BinaryIO
    total_bytes: int | None
    owned: bool  # closed by the run (not the example, not standard input)
    header_bytes: bytes = b""  # the header record as read, line end included
    first_line: int = 2  # the line after the header

    def position(self) -> int | None:
        try:
            return self.handle.tell()
        except (OSError, ValueError):
            return None

    def seekable(self) -> bool:
        try:
            return self.handle.seekable()
        except (OSError, ValueError):
            return False

    def rewind(self) -> None:
        self.handle.seek(0)


def open_source(path: str | None) -> Source:
    """The input: None is the example chain, "-" standard input."""
    if path is None:
        data = resources.files("karvex").joinpath("data", "example_chain.csv")
        return Source(EXAMPLE_NAME, io.BytesIO(data.read_bytes()), None, False)
    if path == "-":
        return Source("<stdin>", sys.stdin.buffer, None, False)
    try:
        handle = open(path, "rb")
    except OSError as exc:
        raise ChainError(f"{path}: cannot read: {exc.strerror}") from None
    return Source(path, handle, os.fstat(handle.fileno()).st_size, True)


def seekable(source: Source) -> Source:
    """The source, or a temporary copy of it that can be read twice."""
    if source.handle.seekable():
        return source
    import shutil
    import tempfile

    copy = tempfile.TemporaryFile()
    shutil.copyfileobj(source.handle, copy)
    copy.seek(0)
    return Source(source.name, copy, None, True)


@dataclasses.dataclass
class Chunk:
    """Some rows of the input, as every reader gives them: the cells of the
    columns the run reads, every field to echo, and where each row is."""

    source: str  # the input's name, for errors
    header: list[str]
    cells: dict[int, Column]  # column position -> its cells
    rows: Any  # every field, echoed to the output: a list of records, or an Arrow table
    size: int  # rows
    lines: np.ndarray | None  # where each row starts: None until asked for (Arrow's CSV blocks)
    unit: str = "line"  # what `lines` count: lines of a CSV file, rows of a Parquet file
    # The same rows as text cells for the builtin rules: where the Arrow
    # form of a cell is not certain to mean what its text means.
    text: Callable[[], Chunk] | None = dataclasses.field(default=None, repr=False)
    _text_form: Chunk | None = dataclasses.field(default=None, repr=False)

    def __len__(self) -> int:
        return self.size

    def as_text(self) -> Chunk:
        """The chunk with text cells (itself, if its cells are text)."""
        if self.text is None:
            return self
        if self._text_form is None:
            self._text_form = self.text()
        return self._text_form

    def cell_error(self, pos: int, i: int, what: str) -> ChainError:
        """The error of row i's cell in column pos: file, line, column, value."""
        assert self.lines is not None  # a text chunk knows its lines
        line = int(self.lines[i])
        name = self.header[pos].strip()
        value = str(self.cells[pos][i])
        shown = (
            repr(value) if len(value) <= 60 else f"{value[:60]!r}... ({len(value):,} characters)"
        )
        return ChainError(
            f"{self.source}, {self.unit} {line}, column {pos + 1} ({name}): {what}: {shown}"
        )


def text_cells(values: Sequence[str] | np.ndarray) -> np.ndarray:
    """Cells as a NumPy text array, or as Python strings (object array) if
    one is longer than CELL_LIMIT, which the cell rules then refuse."""
    cells = np.asarray(values, dtype=object)
    if len(cells) and max(map(len, cells)) > CELL_LIMIT:
        return cells
    return cells.astype(str)
