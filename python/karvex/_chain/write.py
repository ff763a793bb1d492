"""Write the output table: the input columns, then the computed ones (see
compute.computed_names), through the writer of the run's engine and format:

    builtin   CSV through Python's csv module (write_csv.py)
    arrow     CSV joined column-wise in native code, or Parquet (write_arrow.py)

Each writer takes write(chunk, result) per chunk, then close() after the
last, or abort() when the run fails.

Settings to come plug in here: the audit columns (years, the price used,
the forward, the discount factor) join compute.computed_names; a wide
chain's call and put results side by side are a writer's row shape."""

from __future__ import annotations

from collections.abc import Sequence
from typing import TYPE_CHECKING, Protocol, TextIO

from .chunk import Chunk
from .compute import OUTPUT_COLUMNS, Result, Sides

if TYPE_CHECKING:
    import pyarrow as pa  # untyped: see arrow.py


class TableWriter(Protocol):
    def write(self, chunk: Chunk, result: Result | Sides) -> None: ...

    def close(self) -> None: ...

    def abort(self) -> None: ...


RENAMED_PREFIX = "input_"


def output_header(header: list[str], computed: Sequence[str] = OUTPUT_COLUMNS) -> list[str]:
    """The names the input columns take in the output: those named like a
    computed column (in any case) renamed input_NAME, so that both are kept
    (another input_ while the name is taken)."""
    lowered = {name.lower() for name in computed}
    taken = {h.strip().lower() for h in header} | lowered
    names = []
    for name in header:
        if name.strip().lower() in lowered:
            renamed = RENAMED_PREFIX + name.strip()
            while renamed.lower() in taken:
                renamed = RENAMED_PREFIX + renamed
            taken.add(renamed.lower())
            name = renamed
        names.append(name)
    return names


def renamed_columns(
    header: list[str], computed: Sequence[str] = OUTPUT_COLUMNS
) -> list[tuple[str, str]]:
    """(input name, output name) of the input columns output_header renames."""
    return [(a, b) for a, b in zip(header, output_header(header, computed)) if a != b]


def open_writer(
    out: TextIO,
    source: str,
    engine: str,
    output_format: str,
    header: list[str],
    schema: pa.Schema | None,
    computed: Sequence[str],
) -> TableWriter:
    """The writer of the output table, its header written (CSV)."""
    renamed = output_header(header, computed)
    keep = list(range(len(header)))
    names = renamed + list(computed)
    if output_format == "parquet":
        from .write_arrow import ParquetWriter

        return ParquetWriter(out, names, keep, schema)
    if engine == "arrow":
        from .write_arrow import CsvWriter, refuse_untextable

        refuse_untextable(source, renamed, schema, keep)
        return CsvWriter(out, source, names, keep)
    from .write_csv import TextWriter

    return TextWriter(out, names, keep)
