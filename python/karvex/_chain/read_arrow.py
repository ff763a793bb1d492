"""The arrow reader: CSV in blocks of whole records, and Parquet by row
groups, through Apache Arrow.

It is the fast path, not a second set of rules.  Arrow parses a CSV block in
native code, on all cores; a block it cannot read exactly as the builtin
reader would (a field-count mismatch, a blank or whitespace-only row, text
that is not UTF-8, a lone CR as a line end, a quote left open) goes through
the builtin reader instead (read_csv.py), which reads it the same way or
reports the error that names file, line and column.  What the cells mean is
cells.py's business, for both.

The delimiter is the source's (read_csv.read_header settles it); the block
cut of ``record_end`` needs only quotes and line ends."""

from __future__ import annotations

import io
from collections.abc import Generator, Iterator
from typing import TYPE_CHECKING

import numpy as np

from . import read_csv
from .arrow import first_line, owned_buffer, text_scalar
from .cells import texts
from .chunk import Chunk, Source
from .options import ChainError

if TYPE_CHECKING:
    import pyarrow as pa  # untyped: see arrow.py
    import pyarrow.csv as pa_csv
    import pyarrow.parquet as pq

_FIRST_BLOCK = 1 << 20  # bytes read before the row length is known


def _line_breaks(data: bytes) -> int:
    """Lines as the csv module counts them: \\n, \\r\\n and a lone \\r."""
    if b"\r" not in data:
        return data.count(b"\n")
    return data.count(b"\n") + data.count(b"\r") - data.count(b"\r\n")


def record_end(data: bytes) -> int:
    """Length of the longest prefix of `data` made of whole records (0 if
    none): it ends after a line break outside quotes.  A \\r as the last byte
    may be the first half of \\r\\n, so it does not end a record yet.  The
    quotes are counted once, from the end back (linear time, however many
    line breaks a quoted field holds)."""
    end = len(data)
    quotes = data.count(b'"')  # quotes before `end`
    while True:
        newline = data.rfind(b"\n", 0, end)
        cut = max(newline, data.rfind(b"\r", newline + 1, min(end, len(data) - 1)))
        if cut < 0:
            return 0
        quotes -= data.count(b'"', cut, end)
        if quotes % 2 == 0:  # quotes balanced: outside a field
            return cut + 1
        end = cut


class CsvReader:
    """CSV through Arrow, in blocks of about `rows` records."""

    schema = None  # the input's column types: text alone

    def __init__(self, source: Source):
        self.source = source
        self.header = read_csv.read_header(source)

    def chunks(self, positions: list[int], rows: int) -> Generator[Chunk, None, None]:
        import pyarrow as pa
        import pyarrow.csv as pa_csv

        names = [str(i) for i in range(len(self.header))]
        read_options = pa_csv.ReadOptions(column_names=names, use_threads=True)
        convert = pa_csv.ConvertOptions(
            column_types={n: pa.string() for n in names}, strings_can_be_null=False
        )
        handle = self.source.handle
        line = self.source.first_line  # after the header
        pending = b""
        block = _FIRST_BLOCK
        eof = False
        while not eof or pending:
            data = handle.read(block) if not eof else b""
            eof = eof or not data
            pending += data
            cut = len(pending) if eof else record_end(pending)
            if cut == 0:
                block *= 2  # a record longer than the block: read on, in ever larger blocks
                continue
            raw, pending = pending[:cut], pending[cut:]
            if block == _FIRST_BLOCK:  # from now on about `rows` rows per read
                block = max(1 << 16, min(rows * max(cut // max(_line_breaks(raw), 1), 1), 1 << 28))
            yield from self._block(raw, line, read_options, convert, positions)
            line += _line_breaks(raw)

    def _builtin(self, raw: bytes, line: int, positions: list[int]) -> Iterator[Chunk]:
        text = read_csv.text_of(io.BytesIO(raw))
        return read_csv.chunks(
            self.source.name,
            self.header,
            text,
            positions,
            1 << 62,
            line,
            self.source.delimiter or ",",
        )

    def _block(
        self,
        raw: bytes,
        line: int,
        read_options: pa_csv.ReadOptions,
        convert: pa_csv.ConvertOptions,
        positions: list[int],
    ) -> Iterator[Chunk]:
        import pyarrow as pa
        import pyarrow.csv as pa_csv

        if b"\r" in raw and raw.count(b"\r") != raw.count(b"\r\n"):
            yield from self._builtin(raw, line, positions)  # a lone \r ends a line there
            return
        parse = pa_csv.ParseOptions(
            delimiter=self.source.delimiter or ",", newlines_in_values=b'"' in raw
        )
        try:
            table = pa_csv.read_csv(
                owned_buffer(raw),
                read_options=read_options,
                parse_options=parse,
                convert_options=convert,
            )
        except pa.ArrowInvalid:  # a field-count mismatch, bad UTF-8, a quote left open
            yield from self._builtin(raw, line, positions)
            return
        if table.num_rows == 0:
            return
        if _has_blank_rows(table):
            yield from self._builtin(raw, line, positions)
            return
        table = table.combine_chunks()
        cells = {p: table.column(p).chunk(0) for p in positions}

        def as_text() -> Chunk:
            # Rows Arrow read are the builtin reader's records too: one chunk.
            return next(self._builtin(raw, line, positions))

        yield Chunk(self.source.name, self.header, cells, table, table.num_rows, None, text=as_text)


def _has_blank_rows(table: pa.Table) -> bool:
    """Rows whose every field is blank (the builtin reader skips them)."""
    import pyarrow.compute as pc

    blank = None
    nothing = text_scalar("")
    for column in table.columns:
        empty = pc.equal(pc.ascii_trim_whitespace(column), nothing)
        blank = empty if blank is None else pc.and_(blank, empty)
        if not pc.any(blank).as_py():
            return False
    return True


class ParquetReader:
    """Parquet by row groups, in batches of `rows` rows; its columns keep
    their types."""

    def __init__(self, source: Source):
        import pyarrow as pa
        import pyarrow.parquet as pq

        self.source = source
        handle = source.handle
        if not handle.seekable():  # standard input: the footer is at the end
            handle = pa.BufferReader(owned_buffer(handle.read()))
        try:
            self.file: pq.ParquetFile = pq.ParquetFile(handle)
        except (pa.ArrowException, OSError) as exc:
            raise ChainError(f"{source.name}: not a Parquet file ({first_line(exc)})") from None
        self.schema: pa.Schema = self.file.schema_arrow
        self.header = list(self.schema.names)

    def chunks(self, positions: list[int], rows: int) -> Generator[Chunk, None, None]:
        import pyarrow as pa

        for p in positions:
            t = self.schema.field(p).type
            if pa.types.is_nested(t):
                raise ChainError(
                    f"{self.source.name}, column {p + 1} ({self.header[p]}): "
                    f"holds {t} values, not numbers, text or dates"
                )
        first = 1
        try:
            for batch in self.file.iter_batches(batch_size=rows, use_threads=True):
                if batch.num_rows == 0:
                    continue
                yield self._chunk(pa.Table.from_batches([batch]), positions, first)
                first += batch.num_rows
        except (pa.ArrowException, OSError) as exc:
            raise ChainError(
                f"{self.source.name}: cannot read Parquet: {first_line(exc)}"
            ) from None

    def _chunk(self, table: pa.Table, positions: list[int], first: int) -> Chunk:
        cells = {p: table.column(p).combine_chunks() for p in positions}
        lines = np.arange(first, first + table.num_rows)
        name, header = self.source.name, self.header

        def as_text() -> Chunk:
            text = {p: texts(c) for p, c in cells.items()}
            return Chunk(name, header, text, table, table.num_rows, lines, unit="row")

        return Chunk(name, header, cells, table, table.num_rows, lines, unit="row", text=as_text)
