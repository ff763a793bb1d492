"""Reading the chain: the readers are peers behind one interface, each
giving the header and then the rows as Chunks.

    builtin   CSV through Python's csv module (read_csv.py): no dependency
              beyond NumPy; the reference the other follows
    arrow     CSV and Parquet through Apache Arrow (read_arrow.py)

`--engine auto` reads Parquet, large CSV files and standard input with Arrow
when pyarrow is installed, and small CSV files (and the example chain) with
the csv module, which is done with them before pyarrow would be imported.
The engine formerly named pandas is the builtin one: it wrote the same
bytes, and the builtin engine reads every file it read."""

from __future__ import annotations

from collections.abc import Generator
from typing import TYPE_CHECKING, Protocol

from .arrow import have_arrow, require_arrow
from .chunk import Chunk, Source
from .options import ChainError

if TYPE_CHECKING:
    import pyarrow as pa  # untyped: see arrow.py

# CSV files smaller than this are read by the csv module under --engine
# auto: it reads them before pyarrow would have been imported.
SMALL_CSV_BYTES = 4 << 20


class Reader(Protocol):
    """A reader: the header is known once it is made; chunks() gives the
    rows, each chunk with the cells of the columns at `positions`."""

    header: list[str]
    schema: pa.Schema | None  # the input's column types, when it has them (Parquet)

    def chunks(self, positions: list[int], rows: int) -> Generator[Chunk, None, None]: ...


def engine_for(
    engine: str, path: str | None, source: Source, parquet: bool, parquet_out: bool
) -> str:
    """The engine that reads `source` (Parquet or not): the one asked for,
    or under auto the quickest for it."""
    if engine == "pandas":
        engine = "builtin"
    if engine == "auto":
        if parquet:
            engine = "arrow"
        elif not have_arrow() or path is None:
            engine = "builtin"
        elif parquet_out:  # pyarrow is imported anyway
            engine = "arrow"
        else:
            small = source.total_bytes is not None and source.total_bytes < SMALL_CSV_BYTES
            engine = "builtin" if small else "arrow"
    if engine == "arrow":
        require_arrow("reading Parquet" if parquet else "--engine arrow")
    elif parquet:
        raise ChainError(f"--engine {engine} reads CSV only: Parquet is read by the arrow engine")
    return engine


def open_reader(source: Source, engine: str, parquet: bool) -> Reader:
    """The reader of `source`, its header read."""
    if engine == "builtin":
        from .read_csv import BuiltinReader

        return BuiltinReader(source)
    from .read_arrow import CsvReader, ParquetReader

    return ParquetReader(source) if parquet else CsvReader(source)
