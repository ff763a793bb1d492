"""Write the output table: the input columns, then iv, the five Greeks and
the status of every row."""

from __future__ import annotations

import csv
from collections.abc import Callable, Sequence
from typing import TYPE_CHECKING, Protocol, TextIO, cast

import numpy as np

from .compute import Result
from .read import Chunk

if TYPE_CHECKING:
    import pandas as pd
    import pyarrow as pa  # untyped: see arrow_read

    from .read import AnyChunk


class TableWriter(Protocol):
    """The output table: write(chunk, result) for each chunk, then close()."""

    def write(self, chunk: AnyChunk, result: Result) -> None: ...

    def close(self) -> None: ...


OUTPUT_COLUMNS = ("iv", "delta", "gamma", "vega", "theta", "rho", "status")
FORWARD_COLUMN = "implied_forward"  # before iv, with --forward parity


def computed_names(parity: bool) -> tuple[str, ...]:
    return ((FORWARD_COLUMN,) if parity else ()) + OUTPUT_COLUMNS


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


def kept_columns(header: list[str]) -> list[int]:
    """Positions of the input columns echoed to the output: all but those
    named like a computed column."""
    return [p for p, h in enumerate(header) if h.strip().lower() not in OUTPUT_COLUMNS]


def _format(values: np.ndarray) -> list[str]:
    # repr is the shortest text that reads back as the same double.
    return ["" if v != v else repr(v) for v in values.tolist()]


def write_header(
    out: TextIO, header: list[str], keep: list[int], names: Sequence[str] = OUTPUT_COLUMNS
) -> None:
    csv.writer(out, lineterminator="\n").writerow([header[p] for p in keep] + list(names))


def write_builtin(
    out: TextIO, header: list[str], chunk: Chunk, result: Result, keep: list[int], first: bool
) -> None:
    if first:
        write_header(out, header, keep, computed_names(result.forward is not None))
    writer = csv.writer(out, lineterminator="\n")
    computed = [_format(v) for v in result.values()] + [result.status_names().tolist()]
    records = cast("list[list[str]]", chunk.passthrough)  # the csv module's records
    writer.writerows(
        [record[p] for p in keep] + list(values) for record, values in zip(records, zip(*computed))
    )


def write_pandas(
    out: TextIO, header: list[str], chunk: Chunk, result: Result, keep: list[int], first: bool
) -> None:
    import pandas as pd

    frame = cast("pd.DataFrame", chunk.passthrough)[keep]  # pandas' frame of text cells
    frame.columns = [header[p] for p in keep]
    computed = pd.DataFrame(
        dict(
            zip(
                computed_names(result.forward is not None),
                (*result.values(), result.status_names()),
            )
        ),
        index=frame.index,
    )
    frame = pd.concat([frame, computed], axis=1)
    frame.to_csv(out, header=first, index=False, na_rep="", lineterminator="\n")


WRITERS: dict[str, Callable[[TextIO, list[str], Chunk, Result, list[int], bool], None]] = {
    "builtin": write_builtin,
    "pandas": write_pandas,
}


class TextWriter:
    """The builtin and pandas writers: CSV text through the csv module or pandas."""

    def __init__(
        self,
        out: TextIO,
        header: list[str],
        keep: list[int],
        engine: str,
        names: Sequence[str] = OUTPUT_COLUMNS,
    ):
        self.out, self.header, self.keep, self.names = out, header, keep, names
        self.write_chunk = WRITERS[engine]
        self.first = True

    def write(self, chunk: AnyChunk, result: Result) -> None:
        # The builtin and pandas readers give text chunks only.
        self.write_chunk(self.out, self.header, cast(Chunk, chunk), result, self.keep, self.first)
        self.first = False

    def close(self) -> None:
        if self.first:  # no rows: the header alone
            write_header(self.out, self.header, self.keep, self.names)


def open_writer(
    out: TextIO,
    engine: str,
    output_format: str,
    header: list[str],
    keep: list[int],
    schema: pa.Schema | None = None,
    computed: Sequence[str] = OUTPUT_COLUMNS,
) -> TableWriter:
    """The writer of the output table: write(chunk, result) for each chunk,
    then close()."""
    names = [header[p] for p in keep] + list(computed)
    if output_format == "parquet":
        from .arrow_write import ParquetWriter

        return ParquetWriter(out, header, keep, names, schema)
    if engine == "arrow":
        from .arrow_write import CsvWriter

        return CsvWriter(out, header, keep, names)
    return TextWriter(out, header, keep, engine, computed)
