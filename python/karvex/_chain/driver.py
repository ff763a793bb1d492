"""The run: each chunk of the chain through the stages, in one direction,

    read -> columns -> cells -> dates -> prices -> (parity) -> compute
         -> write, summary, plot

then the picture; the output files appear only if all of it succeeds."""

from __future__ import annotations

import sys
import time
from collections.abc import Iterator
from typing import TextIO

from . import interrupts
from .arrow import PARQUET_SUFFIXES, is_parquet, keep_python_signal_handlers, require_arrow
from .chunk import Chunk, Source, open_source, seekable
from .columns import Columns, resolve, settle
from .compute import Sides, compute, computed_names, side_names
from .files import Outputs, same_file
from .options import ChainError, Options
from .parity import ParityForwards
from .plot import PlotData, require_matplotlib, smile
from .prices import Inputs, inputs
from .read import Reader, engine_for, open_reader
from .summary import Progress, Summary
from .write import TableWriter, open_writer, renamed_columns


def run(
    options: Options, progress_stream: TextIO | None = None, plot_data: PlotData | None = None
) -> Summary:
    """Process one chain (options.file: None is the example chain, "-"
    standard input), write the table to options.output (None: standard
    output) and the smile to options.plot (what it shows is collected in
    ``plot_data`` if given), and return the summary.  Raises ChainError for
    user mistakes and OSError for files that cannot be written, leaving every
    existing file as it was."""
    interrupts.finished = False
    if options.plot is not None:
        if options.model == "normal":
            # The picture is a lognormal smile against log(K/F), which has no value where a
            # forward or a strike is zero or negative.
            raise ChainError(
                "--plot: draws lognormal smiles on log(K/F); not available under --model normal"
            )
        require_matplotlib()
        if options.output is not None and same_file(options.output, options.plot):
            raise ChainError(f"-o and --plot name the same file: {options.plot}")
        if plot_data is None:
            plot_data = PlotData(bidask=options.plot_bidask)
    source = open_source(options.file)
    source.delimiter, source.decimal = options.delimiter, options.decimal
    if options.parity:
        if options.second_order:
            raise ChainError(
                "--second-order is by the model's own underlying; with --forward parity the"
                " Greeks are by the spot: use --forward model"
            )
        source = seekable(source)  # read twice: first for the forwards
    try:
        output_format = options.output_format or _format_of(options.output)
        if output_format == "parquet":
            require_arrow("writing Parquet")
            if options.output is None and sys.stdout.isatty():
                raise ChainError(
                    "Parquet is not for a terminal: give -o FILE or redirect standard output"
                )
        parquet = is_parquet(options.file, source.handle)
        engine = engine_for(
            options.engine, options.file, source, parquet, output_format == "parquet"
        )
        if engine == "arrow" or output_format == "parquet":
            keep_python_signal_handlers()
        summary = _Run(options, source, engine, parquet, output_format, plot_data).run(
            progress_stream
        )
    finally:
        if source.owned:
            source.handle.close()
    interrupts.finished = True  # the files are in place: a signal now changes nothing
    return summary


def _format_of(output: str | None) -> str:
    if output is not None and output.lower().endswith(PARQUET_SUFFIXES):
        return "parquet"
    return "csv"


class _Run:
    """One run's state: what it reads, how, and what it has found so far."""

    def __init__(
        self,
        options: Options,
        source: Source,
        engine: str,
        parquet: bool,
        output_format: str,
        plot_data: PlotData | None,
    ):
        self.options, self.source, self.engine, self.parquet = options, source, engine, parquet
        self.output_format, self.plot_data = output_format, plot_data
        self.summary = Summary(source.name, options.model_name())

    def run(self, progress_stream: TextIO | None) -> Summary:
        options, summary = self.options, self.summary
        start = time.perf_counter()  # from the first byte read to the last written
        progress = Progress(self.source.total_bytes, progress_stream, options.quiet)
        with Outputs() as outputs:
            out = outputs.open(options.output) if options.output is not None else sys.stdout
            picture = outputs.open(options.plot, binary=True) if options.plot else None
            try:
                self._table(out, progress)
            finally:
                progress.finish()
            if options.output is None and self.output_format != "parquet":
                sys.stdout.flush()
            summary.seconds = time.perf_counter() - start
            if picture is not None:
                assert self.plot_data is not None  # run() gives every plot its data
                shown = "BLACK76 on parity forwards" if options.parity else options.model.upper()
                summary.curves = smile(
                    self.plot_data.arrays(),
                    picture,
                    f"Implied volatility smile: {summary.source} ({shown})",
                    options.plot_x,
                )
                summary.plot_note = self.plot_data.note(summary.curves)
            interrupts.check()  # an interrupted run replaces no file
        return summary

    def _reader(self) -> tuple[Reader, Columns]:
        t0 = time.perf_counter()
        reader = open_reader(self.source, self.engine, self.parquet)
        columns = resolve(self.source.name, reader.header, self.options)
        self.summary.read_seconds += time.perf_counter() - t0
        return reader, columns

    def _inputs(
        self, reader: Reader, columns: Columns, parity: ParityForwards | None
    ) -> Iterator[tuple[Chunk, list[Inputs]]]:
        """Each chunk with its options: read, columns settled, cells to
        numbers, dates to years, prices (and the parity forwards); a wide
        chain's calls and puts apart."""
        chunks = reader.chunks(columns.read_positions(), self.options.chunk_rows)
        try:
            while True:
                t0 = time.perf_counter()
                chunk = next(chunks, None)
                if chunk is None:
                    self.summary.read_seconds += time.perf_counter() - t0
                    return
                chunk.decimal = self.source.decimal or "."
                if columns.candidates:
                    settle(columns, chunk)
                xs = [inputs(side, chunk, self.options.model) for side in columns.per_side()]
                if parity is not None:
                    xs = [parity.apply(x) for x in xs]
                self.summary.read_seconds += time.perf_counter() - t0
                yield chunk, xs
        finally:
            chunks.close()  # the reader lets go of the input now, not when collected

    def _forwards(self) -> ParityForwards:
        """The first pass of --forward parity: the forward of each expiry."""
        parity = ParityForwards()
        reader, columns = self._reader()
        for _, xs in self._inputs(reader, columns, None):
            for x in xs:
                parity.add(x)
            interrupts.check()
        parity.finish()
        self.source.rewind()
        return parity

    def _table(self, out: TextIO, progress: Progress) -> None:
        """The output table, chunk by chunk."""
        options, summary = self.options, self.summary
        parity = self._forwards() if options.parity else None
        summary.parity = parity
        reader, columns = self._reader()
        if columns.day_count is not None:
            summary.day_count = columns.day_count.describe()
        summary.rate_curves = [
            (key, f"{curve.pairs()} ({curve.interpolation.replace('_', ' ')})")
            for key, curve in columns.curves.items()
        ]
        second = options.model if options.second_order else None
        computed = computed_names(parity is not None, options.audit, options.units, second)
        if columns.sides:  # a wide chain: each side's results on the input's row
            computed = side_names(list(columns.sides), computed)
            summary.sides = len(columns.sides)
        summary.renamed = renamed_columns(reader.header, computed)
        writer: TableWriter | None = None
        try:
            for chunk, xs in self._inputs(reader, columns, parity):
                if writer is None:  # once the first chunk has been read without fault
                    writer = self._writer(out, reader, computed)
                t1 = time.perf_counter()
                results = [
                    compute(
                        x,
                        options.intrinsic_tolerance,
                        parity is not None,
                        options.audit,
                        options.units,
                        options.second_order,
                        options.american_mode or "accurate"
                        if options.exercise == "american"
                        else None,
                    )
                    for x in xs
                ]
                t2 = time.perf_counter()
                writer.write(chunk, results[0] if len(results) == 1 else Sides(results))
                t3 = time.perf_counter()
                summary.compute_seconds += t2 - t1
                summary.write_seconds += t3 - t2
                for x, result in zip(xs, results):
                    summary.add(result, x)
                    if self.plot_data is not None:
                        self.plot_data.add(x, result)
                progress.update(summary.rows, self.source.position())
                interrupts.check()
            if writer is None:  # no rows: the header alone
                writer = self._writer(out, reader, computed)
            writer.close()
        except BaseException:
            if writer is not None:
                writer.abort()
            raise

    def _writer(self, out: TextIO, reader: Reader, computed: tuple[str, ...]) -> TableWriter:
        return open_writer(
            out,
            self.source.name,
            self.engine,
            self.output_format,
            reader.header,
            reader.schema,
            computed,
        )
