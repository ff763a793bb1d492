"""Read the chain: the header, then chunks of raw text cells.

The readers give the same chunks and the same errors: the standard
library's csv module (the reference, used when neither pandas nor pyarrow is
installed, and for the example chain shipped with the package), pandas
(optional, fast C parser) and Arrow (arrow_read.py).  The rules they follow:

- the first line is the header; a line is a record, quoted fields may hold
  line breaks, and lines may end in LF, CRLF or CR alone;
- a record whose fields are all blank is skipped; a record with fewer fields
  than the header is padded with empty cells, one with more is an error;
- a quoted field still open at the end of the file is an error;
- the text is UTF-8 (a byte order mark before the header is dropped); a
  field that is not is an error naming its line and column;
- a field may be of any length.

Line numbers are those of the line a record starts on.  pandas counts
records rather than lines and reports its faults in its own words; so when
pandas finds a fault, or a bad cell after a quoted field that may have held a
line break, the driver reads the file again through the csv module and
reports the first fault that finds, in its words (driver.reference_error).
"""

from __future__ import annotations

import contextlib
import csv
import dataclasses
import io
import os
import sys
from collections.abc import Iterable, Iterator, Sequence
from importlib import resources
from typing import TYPE_CHECKING, BinaryIO, cast

import numpy as np

from .options import ChainError

if TYPE_CHECKING:
    from typing import TypeAlias

    import pandas as pd
    from typing_extensions import Buffer

    from .arrow_read import ArrowChunk

    # A chunk as the readers give it: text cells, or Arrow columns.
    AnyChunk: TypeAlias = "Chunk | ArrowChunk"

EXAMPLE_NAME = "example chain"
# Cells of the columns the command reads (numbers, types, dates) longer than
# this cannot be valid; kept as Python strings rather than in a fixed-width
# text array, whose every cell would take the longest one's room.
CELL_LIMIT = 1000
_QUOTE = ord('"')


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


@dataclasses.dataclass
class Chunk:
    """Raw text cells of some rows, and their line numbers in the file."""

    cells: dict[int, np.ndarray]  # column position -> array of str
    lines: np.ndarray
    passthrough: object  # rows to echo: a list of lists, a DataFrame or an Arrow table
    unit: str = "line"  # what `lines` count: lines of a CSV file, rows of a Parquet file

    def __len__(self) -> int:
        return len(self.lines)


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


class ReaderFault(ChainError):
    """A fault pandas found, in pandas' words: the driver asks the csv
    module for the same fault in the reference words."""


def _empty(source: str) -> ChainError:
    return ChainError(f"{source}: empty file (expected a header line with column names)")


def _blank(fields: Iterable[str]) -> bool:
    return not any(field.strip() for field in fields)


def _peek(handle: BinaryIO) -> bytes:
    peek = getattr(handle, "peek", None)  # a buffered reader's look ahead
    if peek is not None:
        ahead: bytes = peek(1)[:1]
        return ahead
    where = handle.tell()
    byte = handle.read(1)
    handle.seek(where)
    return byte


def read_header(source: Source) -> list[str]:
    """The header: the first record, read byte by byte up to its line end
    (LF, CRLF or CR outside quotes) so that the rest is left to the reader."""
    handle = source.handle
    raw = bytearray()
    quoted = False
    while True:
        byte = handle.read(1)
        if not byte:
            break
        raw += byte
        if byte == b'"':
            quoted = not quoted
        elif not quoted and byte in b"\r\n":
            if byte == b"\r" and _peek(handle) == b"\n":
                raw += handle.read(1)
            break
    source.header_bytes = bytes(raw)
    text = bytes(raw).decode("utf-8", errors="surrogateescape")
    source.first_line = 1 + _line_breaks(text) + (0 if text.endswith(("\n", "\r")) else 1)
    if text.startswith("\ufeff"):
        text = text[1:]
    record = next(csv.reader([text]), [])
    if not record or _blank(record):
        raise _empty(source.name)
    for column, field in enumerate(record):
        if not _is_utf8(field):
            raise ChainError(f"{source.name}, line 1, column {column + 1}: not UTF-8 text")
    return record


def text_cells(values: Sequence[str] | np.ndarray) -> np.ndarray:
    """Cells as a NumPy text array, or as Python strings (object array) if
    one is longer than CELL_LIMIT, which cells.py then refuses."""
    cells = np.asarray(values, dtype=object)
    if len(cells) and max(map(len, cells)) > CELL_LIMIT:
        return cells
    return cells.astype(str)


def _line_breaks(text: str) -> int:
    """Lines as the csv module counts them: \n, \r\n and a lone \r."""
    return text.count("\n") + text.count("\r") - text.count("\r\n")


def _is_utf8(text: str) -> bool:
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        return False
    return True


# --------------------------------------------------------------------------
# the csv module


class _Lines:
    """The text's lines for csv.reader, keeping those of the current record
    and noting the end of the text."""

    def __init__(self, text: io.TextIOWrapper):
        self._text = text
        self.record: list[str] = []
        self.ended = False

    def __iter__(self) -> _Lines:
        return self

    def __next__(self) -> str:
        line = self._text.readline()
        if not line:
            self.ended = True
            raise StopIteration
        self.record.append(line)
        return line


def _unclosed_quote(lines: list[str]) -> bool:
    """Whether the text ends inside a quoted field (which csv.reader, being
    lenient, closes silently)."""
    try:
        for _ in csv.reader(lines, strict=True):
            pass
    except csv.Error as exc:
        return "end of data" in str(exc)
    return False


def text_of(handle: BinaryIO) -> io.TextIOWrapper:
    """The text of a binary handle as the csv module reads it: invalid bytes
    become lone surrogates, found per field, so that an error can name the
    line and column of text that is not UTF-8."""
    return io.TextIOWrapper(handle, encoding="utf-8", errors="surrogateescape", newline="")


def builtin_records(
    source: str, text: io.TextIOWrapper, first_line: int = 2
) -> Iterator[tuple[int, list[str]]]:
    """(line, fields) of each record of ``text`` (from text_of), whose first
    line is line ``first_line`` of the file."""
    lines = _Lines(text)
    reader = csv.reader(lines)
    before = first_line - 1
    limit = csv.field_size_limit(sys.maxsize)
    try:
        while True:
            start = reader.line_num + first_line
            lines.record = []
            try:
                record = next(reader)
            except StopIteration:
                return
            except csv.Error as exc:
                raise ChainError(f"{source}, line {reader.line_num + before}: {exc}") from None
            if lines.ended and _unclosed_quote(lines.record):
                raise ChainError(
                    f"{source}, line {start}: a quoted field is still open at the end of the file"
                )
            joined = "".join(record)
            if not joined.isascii() and not _is_utf8(joined):
                column = next(i for i, f in enumerate(record) if not _is_utf8(f))
                raise ChainError(f"{source}, line {start}, column {column + 1}: not UTF-8 text")
            yield start, record
    finally:
        csv.field_size_limit(limit)


def builtin_chunks(
    source: str,
    handle: io.TextIOWrapper,
    header_len: int,
    positions: Sequence[int],
    rows: int,
    first_line: int = 2,
) -> Iterator[Chunk]:
    """Chunks through the csv module: handle is a text file (from text_of)
    after the header, whose first line is line ``first_line`` of the file."""
    records_of = builtin_records(source, handle, first_line)
    while True:
        records: list[list[str]] = []
        lines: list[int] = []
        for line, record in records_of:
            if _blank(record):
                continue
            if len(record) > header_len:
                raise ChainError(
                    f"{source}, line {line}: expected {header_len} fields, found {len(record)}"
                )
            if len(record) < header_len:
                record = record + [""] * (header_len - len(record))
            records.append(record)
            lines.append(line)
            if len(records) == rows:
                break
        if not records:
            return
        cells = {p: text_cells([rec[p] for rec in records]) for p in positions}
        yield Chunk(cells, np.array(lines), records)
        if len(records) < rows:
            return


# --------------------------------------------------------------------------
# pandas


class _QuoteWatch(io.RawIOBase):
    """The input as pandas reads it (``prefix`` first), noting whether a
    quote has gone by: until one has, every record is one line and pandas'
    record numbers are line numbers."""

    def __init__(self, handle: BinaryIO, prefix: bytes):
        self._handle = handle
        self._prefix = prefix
        self.quoted = _QUOTE in prefix
        self.failure: BaseException | None = None

    def readable(self) -> bool:
        return True

    def readinto(self, buffer: Buffer) -> int:
        view = cast(memoryview, buffer)  # io hands over a writable memoryview of bytes
        try:
            if self._prefix:
                data, self._prefix = self._prefix[: len(view)], self._prefix[len(view) :]
            else:
                data = self._handle.read(len(view))
            n = len(data)
            view[:n] = data
            if not self.quoted and _QUOTE in data:
                self.quoted = True
            return n
        except BaseException as exc:
            # pandas turns any exception of a read into its own ParserError:
            # kept here to be raised again as it was (Ctrl-C, SIGTERM, EIO).
            self.failure = exc
            raise


class PandasChunks:
    """Chunks through pandas' C parser.  The header is given to pandas again
    as the first record, so that pandas takes the field count from it (given
    as names instead, a longer first data row would become an index)."""

    def __init__(self, source: Source, header_len: int, positions: list[int], rows: int):
        self.name = source.name
        self.header_len = header_len
        self.positions = positions
        self.rows = rows
        self._watch = _QuoteWatch(source.handle, source.header_bytes)
        self._first_line = source.first_line - 1  # of the header

    @property
    def lines_exact(self) -> bool:
        """Whether the line numbers given so far are certain (no quote seen)."""
        return not self._watch.quoted

    def __iter__(self) -> Iterator[Chunk]:
        import pandas as pd

        try:
            frames = pd.read_csv(
                io.BufferedReader(self._watch),
                header=None,
                dtype=str,
                na_filter=False,
                keep_default_na=False,
                skip_blank_lines=False,
                chunksize=self.rows,
                encoding="utf-8",
            )
            with frames:
                skip = 1  # the header
                for frame in frames:
                    if frame.shape[1] != self.header_len:
                        raise ReaderFault(
                            f"{self.name}: the header has {self.header_len} fields, "
                            f"pandas found {frame.shape[1]}"
                        )
                    frame = frame.iloc[skip:].fillna("")
                    skip = 0
                    chunk = self._chunk(frame)
                    if chunk is not None:
                        yield chunk
        except (
            pd.errors.ParserError,
            pd.errors.EmptyDataError,
            UnicodeDecodeError,
            ValueError,
        ) as exc:
            if self._watch.failure is not None:
                raise self._watch.failure from None
            raise ReaderFault(f"{self.name}: {' '.join(str(exc).split())}") from None

    def _chunk(self, frame: pd.DataFrame) -> Chunk | None:
        # Blank records: the first field blank, then every field.
        first = frame[0]
        maybe = (first == "").to_numpy() | first.str.isspace().to_numpy()
        if maybe.any():
            blank = np.zeros(len(frame), dtype=bool)
            blank[maybe] = [_blank(r) for r in frame[maybe].itertuples(index=False)]
            frame = frame[~blank]
        if len(frame) == 0:
            return None
        lines = frame.index.to_numpy() + self._first_line  # the header is record 0
        cells = {p: text_cells(frame[p].to_numpy()) for p in self.positions}
        return Chunk(cells, lines, frame)


@contextlib.contextmanager
def chunks(
    source: Source, engine: str, header_len: int, positions: list[int], rows: int
) -> Iterator[Iterable[AnyChunk]]:
    """The chunks after the header, through the named reader."""
    if engine == "arrow":
        from .arrow_read import csv_chunks

        yield csv_chunks(source, header_len, positions, rows)
        return
    if engine == "pandas":
        yield PandasChunks(source, header_len, positions, rows)
        return
    text = text_of(source.handle)
    try:
        yield builtin_chunks(source.name, text, header_len, positions, rows, source.first_line)
    finally:
        text.detach()  # leave the binary handle to its owner


def have_pandas() -> bool:
    try:
        import pandas  # noqa: F401
    except ImportError:
        return False
    return True
