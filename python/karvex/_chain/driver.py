"""The run: each chunk of the chain through the stages, in order, then the
picture; the output files appear only if all of it succeeds."""

from __future__ import annotations

import contextlib
import sys
import time
from collections.abc import Callable, Iterable, Iterator
from typing import TYPE_CHECKING, TextIO, cast

import numpy as np

from . import arrow_read, interrupts, read
from .columns import resolve, settle
from .compute import compute
from .files import Outputs
from .options import ChainError, Options
from .parity import ParityForwards
from .plot import PlotData, require_matplotlib, smile
from .prices import inputs
from .summary import Progress, Summary
from .write import (
    TableWriter,
    computed_names,
    kept_columns,
    open_writer,
    output_header,
    renamed_columns,
)

if TYPE_CHECKING:
    import pyarrow as pa  # untyped: see arrow_read

    from .arrow_read import ArrowChunk
    from .columns import Columns
    from .prices import Inputs
    from .read import AnyChunk

# The forward of each row from its expiry's label and years (--forward parity).
Forwards = Callable[[np.ndarray, np.ndarray], np.ndarray]


def run(
    path: str | None,
    output: str | None,
    options: Options,
    engine: str = "auto",
    plot: str | None = None,
    progress_stream: TextIO | None = None,
    plot_data: PlotData | None = None,
) -> Summary:
    """Process one chain (None: the example chain, "-": standard input),
    write the table to ``output`` (None: standard output) and the smile to
    ``plot`` (what it shows is collected in ``plot_data`` if given), and
    return the summary.  Raises ChainError for user mistakes and OSError for
    files that cannot be written, leaving every existing file as it was."""
    if plot is not None:
        require_matplotlib()
        if plot_data is None:
            plot_data = PlotData()
    source = read.open_source(path)
    if options.forward == "parity":
        source = read.seekable(source)  # read twice: first for the forwards
    try:
        parquet = arrow_read.is_parquet(path, source)
        engine = _engine(engine, path, parquet, source.seekable())
        output_format = options.output_format or _format_of(output)
        if output_format == "parquet":
            arrow_read.require_arrow("writing Parquet")
            if output is None and sys.stdout.isatty():
                raise ChainError(
                    "Parquet is not for a terminal: give -o FILE or redirect standard output"
                )
        if engine == "arrow" or output_format == "parquet":
            arrow_read.keep_python_signal_handlers()
        return _run(
            source,
            output,
            options,
            engine,
            parquet,
            output_format,
            plot,
            plot_data,
            progress_stream,
        )
    finally:
        if source.owned:
            source.handle.close()


def _engine(engine: str, path: str | None, parquet: bool, seekable: bool) -> str:
    if engine == "auto":
        if parquet or (path is not None and arrow_read.have_arrow()):
            return "arrow"
        # pandas where its faults can be told in the csv module's words,
        # which takes a second reading: not from a pipe.
        return "pandas" if path is not None and seekable and read.have_pandas() else "builtin"
    if engine == "arrow":
        arrow_read.require_arrow("--engine arrow")
    if engine == "pandas" and not read.have_pandas():
        raise ChainError("--engine pandas: pandas is not installed (pip install 'karvex[pandas]')")
    if parquet and engine != "arrow":
        raise ChainError(f"--engine {engine} reads CSV only: Parquet is read by the arrow engine")
    return engine


def _format_of(output: str | None) -> str:
    if output is not None and output.lower().endswith(arrow_read.PARQUET_SUFFIXES):
        return "parquet"
    return "csv"


def _run(
    source: read.Source,
    output: str | None,
    options: Options,
    engine: str,
    parquet: bool,
    output_format: str,
    plot: str | None,
    plot_data: PlotData | None,
    progress_stream: TextIO | None,
) -> Summary:
    model = "black76 on parity forwards" if options.forward == "parity" else options.model
    summary = Summary(source.name, model)
    start = time.perf_counter()  # from the first byte read to the last written
    progress = Progress(source.total_bytes, progress_stream)
    with Outputs() as outputs:
        out = outputs.open(output) if output is not None else sys.stdout
        picture = outputs.open(plot, binary=True) if plot is not None else None
        try:
            _table(
                source, out, options, engine, parquet, output_format, summary, progress, plot_data
            )
        finally:
            progress.finish()
        if output is None and output_format != "parquet":
            sys.stdout.flush()
        summary.seconds = time.perf_counter() - start
        if picture is not None:
            assert plot_data is not None  # run() gives every plot its data
            shown = (
                "BLACK76 on parity forwards"
                if options.forward == "parity"
                else options.model.upper()
            )
            summary.curves = smile(
                plot_data.arrays(), picture, f"Implied volatility smile: {summary.source} ({shown})"
            )
            summary.plot_note = plot_data.note(summary.curves)
        interrupts.check()  # an interrupted run replaces no file
    return summary


def _table(
    source: read.Source,
    out: TextIO,
    options: Options,
    engine: str,
    parquet: bool,
    output_format: str,
    summary: Summary,
    progress: Progress,
    plot_data: PlotData | None,
) -> None:
    """The output table, chunk by chunk."""
    parity = None
    if options.forward == "parity":
        # A first pass over the file finds the forward of each expiry.
        parity = ParityForwards()
        for _, x in _stages(source, options, engine, parquet, summary, nan_forwards):
            parity.add(x)
            interrupts.check()
        parity.finish()
        summary.parity = parity
        source.handle.seek(0)
    stages = _stages(source, options, engine, parquet, summary, parity.lookup if parity else None)
    writer: TableWriter | None = None
    for chunk, x in stages:
        if writer is None:
            writer = _open_writer(out, engine, output_format, stages, parity)
        t1 = time.perf_counter()
        result = compute(x, options.intrinsic_tolerance, parity is not None)
        t2 = time.perf_counter()
        writer.write(chunk, result)
        t3 = time.perf_counter()
        summary.compute_seconds += t2 - t1
        summary.write_seconds += t3 - t2
        summary.add(result, x)
        if plot_data is not None:
            plot_data.add(x, result)
        progress.update(summary.rows, source.position())
        interrupts.check()
    if writer is None:  # no rows: the header alone
        writer = _open_writer(out, engine, output_format, stages, parity)
    writer.close()


def nan_forwards(labels: np.ndarray, t: np.ndarray) -> np.ndarray:
    return np.full(len(t), np.nan)


class _Stages:
    """The chain read chunk by chunk, each chunk with its inputs: (chunk,
    Inputs) pairs.  The header and the columns are known once iteration
    has started."""

    def __init__(
        self,
        source: read.Source,
        options: Options,
        engine: str,
        parquet: bool,
        summary: Summary,
        forwards: Forwards | None,
    ):
        self.source, self.options, self.engine, self.parquet = source, options, engine, parquet
        self.summary, self.forwards = summary, forwards
        self.header: list[str] | None = None
        self.columns: Columns | None = None
        self.schema: pa.Schema | None = None  # of a Parquet input

    def __iter__(self) -> Iterator[tuple[AnyChunk, Inputs]]:
        source, options, summary = self.source, self.options, self.summary
        t0 = time.perf_counter()
        if self.parquet:
            parquet_file, header = arrow_read.parquet_header(source)
            self.schema = parquet_file.schema_arrow
        else:
            header = read.read_header(source)
        self.header = header
        self.columns = columns = resolve(source.name, header, options)
        positions = columns.read_positions()
        reader: contextlib.AbstractContextManager[Iterable[AnyChunk]]
        if self.parquet:
            reader = contextlib.nullcontext(
                arrow_read.parquet_chunks(source, parquet_file, positions, options.chunk_rows)
            )
        else:
            reader = read.chunks(source, self.engine, len(header), positions, options.chunk_rows)
        summary.read_seconds += time.perf_counter() - t0
        with reader as chunks:
            try:
                yield from self._each(chunks, columns)
            except ChainError as exc:
                # pandas' faults, and its line numbers once a quoted field
                # may have held a line break, are told as the csv module
                # tells them: the file is read again.
                if (
                    isinstance(chunks, read.PandasChunks)
                    and source.seekable()
                    and (isinstance(exc, read.ReaderFault) or not chunks.lines_exact)
                ):
                    raise self.reference_error() or exc from None
                raise

    def _each(
        self, chunks: Iterable[AnyChunk], columns: Columns
    ) -> Iterator[tuple[AnyChunk, Inputs]]:
        source, options, summary = self.source, self.options, self.summary
        each = iter(chunks)
        while True:
            t0 = time.perf_counter()
            chunk = next(each, None)
            if chunk is None:
                summary.read_seconds += time.perf_counter() - t0
                return
            if columns.candidates or columns.spot_quotes:
                settle(columns, chunk)
            try:
                x = inputs(source.name, columns, chunk, options.model, self.forwards)
            except arrow_read.Refused:  # cells Arrow cannot take as the builtin rules do
                chunk = cast("ArrowChunk", chunk).as_text()
                x = inputs(source.name, columns, chunk, options.model, self.forwards)
            summary.read_seconds += time.perf_counter() - t0
            yield chunk, x

    def reference_error(self) -> ChainError | None:
        """The first fault of the input as the builtin engine finds it (None
        if it finds none), read again from the start."""
        self.source.rewind()
        again = _Stages(
            self.source,
            self.options,
            "builtin",
            False,
            Summary(self.source.name, ""),
            self.forwards,
        )
        try:
            for _ in again:
                pass
        except ChainError as exc:
            return exc
        return None


def _stages(
    source: read.Source,
    options: Options,
    engine: str,
    parquet: bool,
    summary: Summary,
    forwards: Forwards | None,
) -> _Stages:
    return _Stages(source, options, engine, parquet, summary, forwards)


def _open_writer(
    out: TextIO, engine: str, output_format: str, stages: _Stages, parity: ParityForwards | None
) -> TableWriter:
    assert stages.header is not None  # read with the first chunk
    computed = computed_names(parity is not None)
    header = output_header(stages.header, computed)  # input columns named like ours renamed
    stages.summary.renamed = renamed_columns(stages.header, computed)
    return open_writer(
        out, engine, output_format, header, kept_columns(header), stages.schema, computed
    )
