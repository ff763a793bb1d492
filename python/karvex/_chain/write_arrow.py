"""Write the output table with Apache Arrow: CSV lines built column-wise in
native code, or Parquet, one row group per chunk.

CSV.  Every output line is the input's fields as they were read, then the
computed values and the status, joined by commas in one Arrow call over the
whole chunk; the joined text is written straight from Arrow's buffer.  Numbers
are formatted by Arrow (the shortest text that reads back as the same double,
spelt as Arrow spells it: ``0`` and ``2500`` for whole numbers, positional
notation from 1e-6 to below 1e10, exponents without a leading zero, ``1e-7``,
``1.234e+10``), the columns in parallel.  Fields that hold a comma, a quote or a line
break (LF, or CR alone) are quoted as the builtin writer quotes them.  Text of
any of Arrow's text types (large, view, dictionary-encoded) and numbers of
any type are written as text; a column that has no text form (lists,
structs, maps, or bytes that are not UTF-8) is an error naming it.

Parquet.  The input's columns keep their types (text when the input is CSV),
the results are float64 columns with missing values where the CSV has empty
cells, and the status is a dictionary-encoded text column.  The file's
footer, which makes it readable, is written only by a run that succeeds: a
failed run leaves no readable Parquet behind, even on a stream.
"""

from __future__ import annotations

import concurrent.futures
import os
from typing import TYPE_CHECKING, BinaryIO, TextIO, cast

import numpy as np

from .arrow import text_array, text_scalar
from .cells import plain_text
from .chunk import Chunk
from .compute import Result, Sides, is_status
from .options import ChainError
from .statuses import STATUSES
from .write_csv import csv_lines

if TYPE_CHECKING:
    # Untyped (see arrow.py): these names say what a value is.
    import pyarrow as pa
    import pyarrow.parquet as pq

_JOIN_BYTES = 1 << 30  # text joined per Arrow call: well inside its 2 GiB string limit


_QUOTED = ',"\r\n'  # a field holding one of these is quoted (as write_csv does)
_FORMAT_THREADS: concurrent.futures.ThreadPoolExecutor | None = None


def _pool() -> concurrent.futures.ThreadPoolExecutor:
    global _FORMAT_THREADS
    if _FORMAT_THREADS is None:
        _FORMAT_THREADS = concurrent.futures.ThreadPoolExecutor(max(1, min(os.cpu_count() or 1, 6)))
    return _FORMAT_THREADS


def binary_stream(out: TextIO | BinaryIO) -> BinaryIO:
    """The byte stream under a text stream (flushed first), or `out` itself."""
    buffer: BinaryIO | None = getattr(out, "buffer", None)
    if buffer is None:
        return cast(BinaryIO, out)  # no text layer: a byte stream already
    out.flush()
    return buffer


def results(result: Result | Sides) -> list[tuple[pa.Array, bool]]:
    """The computed columns as Arrow arrays, each with whether it is a
    status: numbers as float64, missing where NaN, statuses as int8 codes."""
    return [
        (int8_array(values) if status else float64_array(values), status)
        for values, status in result.parts()
    ]


# Arrow arrays made from NumPy's buffers, without the copy and the scan for
# Python objects of pa.array().


def float64_array(values: np.ndarray) -> pa.Array:
    """The values without a copy, missing where NaN."""
    import pyarrow as pa

    values = np.ascontiguousarray(values, dtype=np.float64)
    valid = ~np.isnan(values)
    bitmap = None if valid.all() else pa.py_buffer(np.packbits(valid, bitorder="little"))
    return pa.Array.from_buffers(pa.float64(), len(values), [bitmap, pa.py_buffer(values)])


def int8_array(values: np.ndarray) -> pa.Array:
    import pyarrow as pa

    values = np.ascontiguousarray(values, dtype=np.int8)
    return pa.Array.from_buffers(pa.int8(), len(values), [None, pa.py_buffer(values)])


def passthrough(chunk: Chunk, keep: list[int]) -> list[pa.Array]:
    """The echoed input columns as Arrow arrays, as they were read."""
    import pyarrow as pa

    if isinstance(chunk.rows, pa.Table):
        return [chunk.rows.column(p).combine_chunks() for p in keep]
    records: list[list[str]] = chunk.rows  # the builtin reader's (also a block Arrow refused)
    return [text_array([record[p] for record in records]) for p in keep]


def refuse_untextable(
    source: str, names: list[str], schema: pa.Schema | None, keep: list[int]
) -> None:
    """A column with no text form (a list, struct or map) cannot go to CSV:
    said before any work."""
    import pyarrow as pa

    for p, name in zip(keep, names):
        t = schema.field(p).type if schema is not None else pa.string()
        if pa.types.is_nested(t):
            raise ChainError(
                f"{source}, column {p + 1} ({name}): {t} values have no CSV form "
                "(write Parquet: -o FILE.parquet)"
            )


class CsvWriter:
    def __init__(self, out: TextIO | BinaryIO, source: str, names: list[str], keep: list[int]):
        self.out = binary_stream(out)
        self.source = source
        self.names = names
        self.keep = keep
        self.out.write(csv_lines(lambda: [names]).encode("utf-8"))
        self.status_lines = text_array([name + "\n" for name in STATUSES])
        self.status_texts = text_array(list(STATUSES))

    def write(self, chunk: Chunk, result: Result | Sides) -> None:
        import pyarrow as pa
        import pyarrow.compute as pc

        columns = [self._text(c, i) for i, c in enumerate(passthrough(chunk, self.keep))]
        parts = results(result)
        last = len(parts) - 1  # a status: its texts end the line

        def text(i: int) -> pa.Array:
            values, status = parts[i]
            if status:
                return pc.take(self.status_lines if i == last else self.status_texts, values)
            return pc.cast(values, pa.string())

        columns += list(_pool().map(text, range(len(parts))))
        rows = len(parts[0][0])
        size = sum(c.nbytes for c in columns)
        step = max(1, rows * _JOIN_BYTES // max(size, 1))
        comma = text_scalar(",")
        for start in range(0, rows, step):
            part = [c.slice(start, step) for c in columns]
            lines = pc.binary_join_element_wise(
                *part, comma, null_handling="replace", null_replacement=""
            )
            self.out.write(_text_bytes(lines))

    def _text(self, column: pa.Array, i: int) -> pa.Array:
        import pyarrow as pa

        try:
            return _csv_text(column)
        except (pa.ArrowInvalid, pa.ArrowNotImplementedError) as exc:
            p = self.keep[i]
            raise ChainError(
                f"{self.source}, column {p + 1} ({self.names[i]}): {column.type} values "
                f"have no CSV text form ({str(exc).splitlines()[0]})"
            ) from None

    def close(self) -> None:
        self.out.flush()

    def abort(self) -> None:
        pass


def _csv_text(column: pa.Array) -> pa.Array:
    """A column as CSV fields: text as it is (quoted where it must be), other
    types in Arrow's text form."""
    import pyarrow as pa
    import pyarrow.compute as pc

    t = column.type.value_type if pa.types.is_dictionary(column.type) else column.type
    if pa.types.is_binary(t) or pa.types.is_large_binary(t) or pa.types.is_fixed_size_binary(t):
        column = pc.cast(column, pa.string())  # bytes that are UTF-8 text: as text
    elif not (pa.types.is_string(t) or pa.types.is_large_string(t) or _is_view(t)):
        return pc.cast(column, pa.string())
    column = plain_text(column)
    data = column.buffers()[2]
    if data is None:
        return column
    text = data.to_pybytes()  # all values at once: a quick look for the characters that need quotes
    if not any(c.encode() in text for c in _QUOTED):
        return column
    special = pc.match_substring_regex(
        column, "[" + "".join(_REGEX_ESCAPE.get(c, c) for c in _QUOTED) + "]"
    )
    quote = text_scalar('"')
    escaped = pc.binary_join_element_wise(
        quote, pc.replace_substring(column, '"', '""'), quote, text_scalar("")
    )
    return pc.if_else(special, escaped, column)


def _is_view(t: pa.DataType) -> bool:
    import pyarrow as pa

    return bool(getattr(pa.types, "is_string_view", lambda t: False)(t))


_REGEX_ESCAPE = {"\r": "\\r", "\n": "\\n"}


def _text_bytes(array: pa.Array) -> memoryview:
    """The concatenated values of an Arrow text array, without a copy."""
    offsets = np.frombuffer(array.buffers()[1], dtype=np.int32)[
        array.offset : array.offset + len(array) + 1
    ]
    data = array.buffers()[2]
    if data is None:
        return memoryview(b"")
    return memoryview(data)[int(offsets[0]) : int(offsets[-1])]


class _Sink:
    """The stream under a Parquet writer, until the run fails: from then on
    nothing more reaches it (the footer that would make the rows written so
    far a readable file above all)."""

    def __init__(self, out: BinaryIO):
        self.out = out
        self.closed = False
        self.failed = False
        self.position = 0

    def write(self, data: bytes) -> int:
        self.position += len(data)
        if self.failed:
            return len(data)
        self.out.write(data)
        return len(data)

    def flush(self) -> None:
        if not self.failed:
            self.out.flush()

    def close(self) -> None:
        self.closed = True

    def tell(self) -> int:
        return self.position

    def seekable(self) -> bool:
        return False

    def writable(self) -> bool:
        return True


class ParquetWriter:
    def __init__(
        self,
        out: TextIO | BinaryIO,
        names: list[str],
        keep: list[int],
        schema: pa.Schema | None = None,
    ):
        self.sink = _Sink(binary_stream(out))
        self.keep = keep
        self.names = names
        self.schema = schema  # of the input's columns, when known (Parquet)
        self.writer: pq.ParquetWriter | None = None

    def _table(self, columns: list[pa.Array], computed: list[tuple[pa.Array, bool]]) -> pa.Table:
        import pyarrow as pa

        statuses = text_array(STATUSES)
        columns = columns + [
            pa.DictionaryArray.from_arrays(values, statuses) if status else values
            for values, status in computed
        ]
        return pa.Table.from_arrays(columns, names=self.names)

    def write(self, chunk: Chunk, result: Result | Sides) -> None:
        table = self._table(passthrough(chunk, self.keep), results(result))
        if self.writer is None:
            self.writer = self._open(table.schema)
        self.writer.write_table(table)

    def _open(self, schema: pa.Schema) -> pq.ParquetWriter:
        import pyarrow.parquet as pq

        # Dictionary pages for the input's columns and the status; not for the
        # results, whose values are almost all distinct (the writer would build
        # a dictionary for each page only to give it up).
        computed = self.names[len(self.keep) :]
        dictionary = self.names[: len(self.keep)] + [n for n in computed if is_status(n)]
        return pq.ParquetWriter(self.sink, schema, use_dictionary=dictionary)

    def close(self) -> None:
        import pyarrow as pa

        if self.writer is None:  # no rows: the columns alone
            inputs = [
                pa.nulls(0, self.schema.field(p).type if self.schema is not None else pa.string())
                for p in self.keep
            ]
            computed = [
                (int8_array(np.zeros(0, np.int8)), True)
                if is_status(name)
                else (pa.nulls(0, pa.float64()), False)
                for name in self.names[len(self.keep) :]
            ]
            table = self._table(inputs, computed)
            self.writer = self._open(table.schema)
            self.writer.write_table(table)
        self.writer.close()
        self.sink.flush()

    def abort(self) -> None:
        """The run failed: the file is left without its footer, and the
        writer is let go without a word at the interpreter's exit."""
        self.sink.failed = True
        if self.writer is not None:
            self.writer.is_open = False  # its __del__ would close it: nothing to say
            self.writer = None
