"""The run: each chunk of the chain through the stages, in order."""

from __future__ import annotations

import contextlib
import sys
import time

from . import arrow_read, read
from .columns import resolve
from .compute import compute
from .files import atomic_output
from .options import ChainError, Options
from .plot import PlotData
from .prices import inputs
from .summary import Progress, Summary
from .write import kept_columns, open_writer


def run(path, output, options: Options, engine: str = "auto", plot_data: PlotData | None = None,
        progress_stream=None) -> Summary:
    """Process one chain (None: the example chain, "-": standard input) and
    return the summary.  Raises ChainError for user mistakes, after removing
    any partial output."""
    source = read.open_source(path)
    try:
        parquet = arrow_read.is_parquet(path, source)
        engine = _engine(engine, path, parquet)
        output_format = options.output_format or _format_of(output)
        if output_format == "parquet":
            arrow_read.require_arrow("writing Parquet")
            if output is None and sys.stdout.isatty():
                raise ChainError("Parquet is not for a terminal: give -o FILE or redirect standard output")
        return _run(source, output, options, engine, parquet, output_format, plot_data, progress_stream)
    finally:
        if source.owned:
            source.handle.close()


def _engine(engine: str, path: str | None, parquet: bool) -> str:
    if engine == "auto":
        if parquet or (path is not None and arrow_read.have_arrow()):
            return "arrow"
        return "pandas" if path is not None and read.have_pandas() else "builtin"
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


def _run(source, output, options, engine, parquet, output_format, plot_data, progress_stream) -> Summary:
    summary = Summary(source.name, options.model)
    start = time.perf_counter()  # from the first byte read to the last written
    progress = Progress(source.total_bytes, progress_stream)
    schema = None
    try:
        if parquet:
            parquet_file, header = arrow_read.parquet_header(source)
            schema = parquet_file.schema_arrow
        else:
            header = read.read_header(source)
        columns = resolve(source.name, header, options)
        positions = sorted(set(columns.positions.values()))
        keep = kept_columns(header)
        if parquet:
            reader = contextlib.nullcontext(
                arrow_read.parquet_chunks(source, parquet_file, positions, options.chunk_rows))
        else:
            reader = read.chunks(source, engine, len(header), positions, options.chunk_rows)
        with reader as chunks, atomic_output(output) as out:
            writer = open_writer(out, engine, output_format, header, keep, schema)
            chunks = iter(chunks)
            while True:
                t0 = time.perf_counter()
                chunk = next(chunks, None)
                if chunk is None:
                    summary.read_seconds += time.perf_counter() - t0
                    break
                try:
                    x = inputs(source.name, columns, chunk, options.model)
                except arrow_read.Refused:  # cells Arrow cannot take as the builtin rules do
                    chunk = chunk.as_text()
                    x = inputs(source.name, columns, chunk, options.model)
                t1 = time.perf_counter()
                result = compute(x)
                t2 = time.perf_counter()
                writer.write(chunk, result)
                t3 = time.perf_counter()
                summary.read_seconds += t1 - t0
                summary.compute_seconds += t2 - t1
                summary.write_seconds += t3 - t2
                summary.add(result)
                if plot_data is not None:
                    plot_data.add(x, result)
                progress.update(summary.rows, source.position())
            writer.close()
    finally:
        progress.finish()
    summary.seconds = time.perf_counter() - start
    return summary
