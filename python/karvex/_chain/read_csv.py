"""The builtin reader: CSV through Python's csv module.  It needs nothing
beyond NumPy, and its reading of a file is the reference the arrow reader
follows (read_arrow.py hands it whatever it cannot read the same way).

- the first line is the header; a line is a record, quoted fields may hold
  line breaks, and lines may end in LF, CRLF or CR alone;
- a record whose fields are all blank is skipped; a record with fewer fields
  than the header is padded with empty cells, one with more is an error;
- a quoted field still open at the end of the file is an error;
- the text is UTF-8 (a byte order mark before the header is dropped); a
  field that is not is an error naming its line and column;
- a field may be of any length.

Line numbers are those of the line a record starts on.  The rows before a
fault are handed on before the fault is raised, so that of several faults
the first in the file is the one reported, whichever reader finds them.

The delimiter is --delimiter's, else sniffed from the header: the most
frequent of , ; TAB | in it.  The decimal mark is --decimal's, else a comma
where the delimiter is not one and the first lines hold numbers written
with one (12,5), else a point."""

from __future__ import annotations

import csv
import io
import re
import sys
from collections.abc import Generator, Iterable, Iterator
from typing import BinaryIO

import numpy as np

from .chunk import Chunk, Source, text_cells
from .options import ChainError


def empty(source: str) -> ChainError:
    return ChainError(f"{source}: empty file (expected a header line with column names)")


def blank(fields: Iterable[str]) -> bool:
    return not any(field.strip() for field in fields)


def _peek(handle: BinaryIO, size: int = 1) -> bytes:
    """Up to `size` bytes ahead (a buffered reader's: what it holds), not read."""
    peek = getattr(handle, "peek", None)  # a buffered reader's look ahead
    if peek is not None:
        ahead: bytes = peek(size)[:size]
        return ahead
    where = handle.tell()
    data = handle.read(size)
    handle.seek(where)
    return data


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
    source.first_line = 1 + line_breaks(text) + (0 if text.endswith(("\n", "\r")) else 1)
    if text.startswith("\ufeff"):
        text = text[1:]
    if source.delimiter is None:
        source.delimiter = sniff_delimiter(text)
    if source.decimal is None:
        source.decimal = sniff_decimal(_peek(handle, 1 << 16), source.delimiter)
    record = next(csv.reader([text], delimiter=source.delimiter), [])
    if not record or blank(record):
        raise empty(source.name)
    for column, field in enumerate(record):
        if not _is_utf8(field):
            raise ChainError(f"{source.name}, line 1, column {column + 1}: not UTF-8 text")
    return record


DELIMITERS = (",", ";", "\t", "|")
_DECIMAL_COMMA = re.compile(r"^\s*[-+]?\d+,\d+\s*$")


def sniff_delimiter(header: str) -> str:
    """The most frequent candidate in the header line outside quoted names
    (a comma on a tie)."""
    header = re.sub(r'"[^"]*"', "", header)
    counts = [header.count(c) for c in DELIMITERS]
    return DELIMITERS[counts.index(max(counts))] if max(counts) > 0 else ","


def sniff_decimal(data: bytes, delimiter: str) -> str:
    """A comma where the delimiter is not one and a field of the first
    lines is a number written with one; else a point."""
    if delimiter == ",":
        return "."
    text = data.decode("utf-8", errors="replace")
    lines = text.splitlines()[:50]
    fields = (f.strip('"') for line in lines for f in line.split(delimiter))
    return "," if any(_DECIMAL_COMMA.match(f) for f in fields) else "."


def line_breaks(text: str) -> int:
    """Lines as the csv module counts them: \\n, \\r\\n and a lone \\r."""
    return text.count("\n") + text.count("\r") - text.count("\r\n")


def _is_utf8(text: str) -> bool:
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        return False
    return True


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


def records(
    source: str, text: io.TextIOWrapper, first_line: int, delimiter: str = ","
) -> Iterator[tuple[int, list[str]]]:
    """(line, fields) of each record of ``text`` (from text_of), whose first
    line is line ``first_line`` of the file."""
    lines = _Lines(text)
    reader = csv.reader(lines, delimiter=delimiter)
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


def chunks(
    source: str,
    header: list[str],
    text: io.TextIOWrapper,
    positions: list[int],
    rows: int,
    first_line: int,
    delimiter: str = ",",
) -> Iterator[Chunk]:
    """Chunks of `rows` records of ``text`` (from text_of, after the header),
    whose first line is line ``first_line`` of the file.  The records before
    a fault come as a chunk of their own, then the fault."""
    width = len(header)
    each = records(source, text, first_line, delimiter)
    fault: ChainError | None = None
    while fault is None:
        kept: list[list[str]] = []
        lines: list[int] = []
        try:
            for line, record in each:
                if blank(record):
                    continue
                if len(record) > width:
                    raise ChainError(
                        f"{source}, line {line}: expected {width} fields, found {len(record)}"
                    )
                if len(record) < width:
                    record = record + [""] * (width - len(record))
                kept.append(record)
                lines.append(line)
                if len(kept) == rows:
                    break
        except ChainError as exc:
            fault = exc
        if kept:
            cells = {p: text_cells([rec[p] for rec in kept]) for p in positions}
            yield Chunk(source, header, cells, kept, len(kept), np.array(lines))
        if fault is None and len(kept) < rows:
            return
    raise fault


class BuiltinReader:
    """The chain's header and its chunks through the csv module."""

    schema = None  # the input's column types: text alone

    def __init__(self, source: Source):
        self.source = source
        self.header = read_header(source)

    def chunks(self, positions: list[int], rows: int) -> Generator[Chunk, None, None]:
        text = text_of(self.source.handle)
        try:
            yield from chunks(
                self.source.name,
                self.header,
                text,
                positions,
                rows,
                self.source.first_line,
                self.source.delimiter or ",",
            )
        finally:
            text.detach()  # leave the binary handle to its owner
