"""Read the chain with Apache Arrow: CSV in blocks of whole records, Parquet by
row groups, and the conversion of Arrow columns to the core's arrays.

The arrow engine is the fast path of the command, not a second set of rules.
Arrow parses a CSV block and converts its numbers in native code; whatever it
cannot take as the builtin reader would (a field-count mismatch, a blank or
whitespace-only row, text that is not UTF-8, a number spelt in a way Arrow's
parser does not know, a bad cell) makes the block go through the builtin
reader and the builtin conversions instead, which either read it the same way
or report the one-line error that names file, line and column.  Text columns
with few distinct values (option types, dates) are converted by the shared
rules once per distinct value.
"""

from __future__ import annotations

import dataclasses
import io
from collections.abc import Callable, Iterator
from typing import TYPE_CHECKING, cast

import numpy as np

from .options import ChainError
from .read import CELL_LIMIT, Chunk, Source, builtin_chunks, text_of

if TYPE_CHECKING:
    from typing import TypeAlias

    # pyarrow ships no type information: mypy takes it as unchecked
    # (pyproject.toml), so these names document what a value is without
    # checking it.  What leaves this module for the rest of the command is
    # a typed NumPy array.
    import pyarrow as pa
    import pyarrow.csv as pa_csv
    import pyarrow.parquet as pq

    Column: TypeAlias = (
        "pa.Array | pa.ChunkedArray"  # Parquet batches give arrays, CSV tables chunked ones
    )

PARQUET_MAGIC = b"PAR1"
PARQUET_SUFFIXES = (".parquet", ".parq", ".pq")
_FIRST_BLOCK = 1 << 20  # bytes read before the row length is known
_NAN_SPELLINGS = ("nan", "+nan", "-nan")


class Refused(Exception):
    """Arrow cannot take these cells as the builtin rules would."""


def have_arrow() -> bool:
    try:
        import pyarrow  # noqa: F401
        import pyarrow.csv  # noqa: F401
        import pyarrow.parquet  # noqa: F401
    except ImportError:
        return False
    return True


def keep_python_signal_handlers() -> None:
    """Leave Ctrl-C and SIGTERM to Python's handlers during pyarrow's calls.
    pyarrow otherwise swaps in its own SIGINT handler for the length of a long
    call, and a signal that arrives while it is in place can be lost when the
    call does not look for it (the run then goes on as if no one had pressed
    Ctrl-C).  Every pyarrow call here handles one chunk: Python's handler
    raises the interrupt as soon as the call returns."""
    import pyarrow as pa

    pa.enable_signal_handlers(False)


def owned_buffer(data: bytes) -> pa.Buffer:
    """A copy of `data` in memory Arrow allocated.  Arrow's threads may drop
    their last reference to an input after the call that read it has
    returned; a buffer over a Python object would then take the interpreter
    lock on an Arrow thread, and at interpreter exit (Ctrl-C just after a
    read) that ends the process with an abort."""
    import pyarrow as pa

    buffer = pa.allocate_buffer(len(data))
    np.frombuffer(buffer, dtype=np.uint8)[:] = np.frombuffer(data, dtype=np.uint8)
    return buffer


def require_arrow(what: str) -> None:
    if not have_arrow():
        raise ChainError(f"{what} needs pyarrow: pip install 'karvex[arrow]'")


@dataclasses.dataclass
class ArrowChunk:
    """Some rows as Arrow columns: text as read from CSV, or Parquet's own
    types.  ``cells`` maps a column position to its array."""

    cells: dict[int, Column]
    table: pa.Table  # every input column, echoed to the output
    as_text: Callable[[], Chunk]  # the same rows as text cells, for the builtin rules

    def __len__(self) -> int:
        rows: int = self.table.num_rows
        return rows


# --------------------------------------------------------------------------
# CSV


def _line_breaks(data: bytes) -> int:
    """Lines as the csv module counts them: \\n, \\r\\n and a lone \\r."""
    if b"\r" not in data:
        return data.count(b"\n")
    return data.count(b"\n") + data.count(b"\r") - data.count(b"\r\n")


def _record_end(data: bytes) -> int:
    """Length of the longest prefix of `data` made of whole records (0 if
    none): it ends after a line break outside quotes.  A \\r as the last byte
    may be the first half of \\r\\n, so it does not end a record yet."""
    end = len(data)
    while True:
        newline = data.rfind(b"\n", 0, end)
        cut = max(newline, data.rfind(b"\r", newline + 1, min(end, len(data) - 1)))
        if cut < 0:
            return 0
        if data.count(b'"', 0, cut) % 2 == 0:  # quotes balanced: outside a field
            return cut + 1
        end = cut


def csv_chunks(
    source: Source, header_len: int, positions: list[int], rows: int
) -> Iterator[ArrowChunk | Chunk]:
    """Chunks of about `rows` rows after the header line."""
    import pyarrow as pa
    import pyarrow.csv as pa_csv

    names = [str(i) for i in range(header_len)]
    read_options = pa_csv.ReadOptions(column_names=names, use_threads=True)
    convert = pa_csv.ConvertOptions(
        column_types={n: pa.string() for n in names}, strings_can_be_null=False
    )
    handle = source.handle
    line = source.first_line  # after the header
    pending = b""
    block = _FIRST_BLOCK
    eof = False
    while not eof or pending:
        data = handle.read(block) if not eof else b""
        eof = eof or not data
        pending += data
        cut = len(pending) if eof else _record_end(pending)
        if cut == 0:
            continue  # no whole record yet: read on
        raw, pending = pending[:cut], pending[cut:]
        if block == _FIRST_BLOCK:  # from now on about `rows` rows per read
            block = max(1 << 16, min(rows * max(cut // max(_line_breaks(raw), 1), 1), 1 << 28))

        def reread(raw: bytes = raw, line: int = line) -> Chunk | None:
            text = text_of(io.BytesIO(raw))
            return next(
                builtin_chunks(source.name, text, header_len, positions, 1 << 62, first_line=line),
                None,
            )

        line += _line_breaks(raw)
        chunk = _parse_block(raw, read_options, convert, positions, reread)
        if chunk is not None:
            yield chunk


def _parse_block(
    raw: bytes,
    read_options: pa_csv.ReadOptions,
    convert: pa_csv.ConvertOptions,
    positions: list[int],
    reread: Callable[[], Chunk | None],
) -> ArrowChunk | Chunk | None:
    import pyarrow as pa
    import pyarrow.csv as pa_csv

    if b"\r" in raw and raw.count(b"\r") != raw.count(b"\r\n"):
        return reread()  # a lone \r ends a line for the csv module
    parse = pa_csv.ParseOptions(newlines_in_values=b'"' in raw)
    try:
        table = pa_csv.read_csv(
            owned_buffer(raw),
            read_options=read_options,
            parse_options=parse,
            convert_options=convert,
        )
    except pa.ArrowInvalid:
        return reread()  # a field-count mismatch, bad UTF-8, a quote left open
    if table.num_rows == 0:
        return None
    if _has_blank_rows(table):
        return reread()
    table = table.combine_chunks()
    cells = {p: table.column(p).chunk(0) for p in positions}
    # Rows Arrow read are records to the csv module too: reread gives a chunk.
    return ArrowChunk(cells, table, cast("Callable[[], Chunk]", reread))


def _has_blank_rows(table: pa.Table) -> bool:
    """Rows whose every field is blank (the builtin reader skips them)."""
    import pyarrow.compute as pc

    blank = None
    for column in table.columns:
        empty = pc.equal(pc.ascii_trim_whitespace(column), "")
        blank = empty if blank is None else pc.and_(blank, empty)
        if not pc.any(blank).as_py():
            return False
    return True


# --------------------------------------------------------------------------
# Parquet


def is_parquet(path: str | None, source: Source) -> bool:
    """By the file's extension, else by its first bytes."""
    if path is not None and path.lower().endswith(PARQUET_SUFFIXES):
        return True
    peek = getattr(source.handle, "peek", None)  # a buffered reader's look ahead
    head: bytes = peek(4)[:4] if peek is not None else b""
    return head == PARQUET_MAGIC


def parquet_header(source: Source) -> tuple[pq.ParquetFile, list[str]]:
    """(the file, the column names) of a Parquet source."""
    require_arrow("reading Parquet")
    import pyarrow as pa
    import pyarrow.parquet as pq

    handle = source.handle
    if not handle.seekable():  # standard input: the footer is at the end
        handle = pa.BufferReader(owned_buffer(handle.read()))
    try:
        parquet = pq.ParquetFile(handle)
    except (pa.ArrowException, OSError) as exc:
        raise ChainError(f"{source.name}: not a Parquet file ({_first_line(exc)})") from None
    return parquet, list(parquet.schema_arrow.names)


def parquet_chunks(
    source: Source, parquet: pq.ParquetFile, positions: list[int], rows: int
) -> Iterator[ArrowChunk]:
    import pyarrow as pa

    first = 1
    try:
        for batch in parquet.iter_batches(batch_size=rows, use_threads=True):
            if batch.num_rows == 0:
                continue
            table = pa.Table.from_batches([batch])
            cells = {p: batch.column(p) for p in positions}

            def as_text(
                table: pa.Table = table, cells: dict[int, Column] = cells, first: int = first
            ) -> Chunk:
                lines = np.arange(first, first + table.num_rows)
                return Chunk({p: texts(c) for p, c in cells.items()}, lines, table, unit="row")

            yield ArrowChunk(cells, table, as_text)
            first += batch.num_rows
    except (pa.ArrowException, OSError) as exc:
        raise ChainError(f"{source.name}: cannot read Parquet: {_first_line(exc)}") from None


def _first_line(exc: BaseException) -> str:
    text = str(exc).strip()
    return text.splitlines()[0] if text else type(exc).__name__


# --------------------------------------------------------------------------
# Arrow columns to the core's arrays


def is_arrow(column: np.ndarray | Column) -> bool:
    return not isinstance(column, np.ndarray)


def _is_text(column: Column) -> bool:
    import pyarrow as pa

    t = column.type
    if pa.types.is_dictionary(t):
        t = t.value_type
    text: bool = pa.types.is_string(t) or pa.types.is_large_string(t)
    return text


def numbers(column: Column) -> np.ndarray:
    """float64 values of a numeric column, or of text as the builtin rules
    read it: blanks around a number ignored, an empty cell a missing value
    (NaN).  Raises Refused where those rules might read the text otherwise."""
    import pyarrow as pa
    import pyarrow.compute as pc

    if not _is_text(column):
        t = column.type
        if not (pa.types.is_integer(t) or pa.types.is_floating(t) or pa.types.is_decimal(t)):
            raise Refused
        return _float64(pc.cast(column, pa.float64()))
    if pa.types.is_dictionary(column.type):
        column = column.cast(column.type.value_type)
    longest = pc.max(pc.binary_length(column)).as_py()
    if longest is not None and longest > CELL_LIMIT:  # refused by the builtin rules
        raise Refused
    try:
        values = pc.cast(column, pa.float64())
    except pa.ArrowInvalid:
        # Blanks around numbers, empty cells: trim (ASCII blanks, which the
        # builtin rules strip too), then an empty cell is a missing value.
        trimmed = pc.ascii_trim_whitespace(column)
        trimmed = pc.if_else(pc.equal(trimmed, ""), pa.scalar(None, pa.string()), trimmed)
        try:
            values = pc.cast(trimmed, pa.float64())
        except pa.ArrowInvalid:
            raise Refused from None
    result = _float64(values)
    spelt_nan = np.isnan(result)
    if values.null_count:
        spelt_nan &= np.asarray(values.is_valid())  # missing values are not spelt
    if spelt_nan.any():  # Arrow also reads e.g. "nan(1)" as NaN, the builtin rules do not
        spelt = pc.utf8_lower(pc.ascii_trim_whitespace(pc.filter(column, pa.array(spelt_nan))))
        if not pc.all(pc.is_in(spelt, value_set=pa.array(_NAN_SPELLINGS))).as_py():
            raise Refused
    return result


def _float64(values: Column) -> np.ndarray:
    """A float64 NumPy array (missing values as NaN), writable and contiguous."""
    return np.ascontiguousarray(values.to_numpy(zero_copy_only=False), dtype=np.float64)


def by_distinct(column: Column, convert: Callable[[np.ndarray], np.ndarray]) -> np.ndarray:
    """`convert` applied once per distinct value, spread over the rows:
    `convert` takes and gives NumPy arrays (text as str)."""
    values, indices = distinct(column)
    spread: np.ndarray = convert(values)[indices]
    return spread


def distinct(column: Column) -> tuple[np.ndarray, np.ndarray]:
    """The column's distinct values as NumPy text (a missing value as "")
    and each row's index into them."""
    import pyarrow as pa
    import pyarrow.compute as pc

    if not pa.types.is_dictionary(column.type):
        column = pc.dictionary_encode(column)
    values = column.dictionary
    if not _is_text(values):
        values = pc.cast(values, pa.string())  # dates and times in ISO form, integers as digits
    if column.null_count:
        indices = pc.fill_null(column.indices, len(values)).to_numpy()
        values = pa.concat_arrays([values, pa.array([""], values.type)])
    else:
        indices = column.indices.to_numpy()
    return np.array(values.to_pylist(), dtype=str), indices


def texts(column: Column) -> np.ndarray:
    """The column as NumPy text (one Python string per row: for errors and
    the rare cells the fast path refuses)."""
    import pyarrow as pa
    import pyarrow.compute as pc

    if not _is_text(column):
        column = pc.cast(column, pa.string())
    return np.array(pc.fill_null(column.cast(pa.string()), "").to_pylist(), dtype=str)
