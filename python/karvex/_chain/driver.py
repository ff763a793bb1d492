"""The run: each chunk of the chain through the stages, in order."""

from __future__ import annotations

import time

from . import read
from .columns import resolve
from .compute import compute
from .files import atomic_output
from .options import ChainError, Options
from .plot import PlotData
from .prices import inputs
from .summary import Progress, Summary
from .write import WRITERS, kept_columns, write_header


def run(path, output, options: Options, engine: str = "auto", plot_data: PlotData | None = None,
        progress_stream=None) -> Summary:
    """Process one chain (None: the example chain, "-": standard input) and
    return the summary.  Raises ChainError for user mistakes, after removing
    any partial output."""
    if engine == "auto":
        engine = "pandas" if path is not None and read.have_pandas() else "builtin"
    if engine == "pandas" and not read.have_pandas():
        raise ChainError("--engine pandas: pandas is not installed (pip install 'karvex[pandas]')")
    source = read.open_source(path)
    summary = Summary(source.name, options.model)
    start = time.perf_counter()  # from the first byte read to the last written
    progress = Progress(source.total_bytes, progress_stream)
    try:
        header = read.read_header(source)
        columns = resolve(source.name, header, options)
        positions = sorted(set(columns.positions.values()))
        keep = kept_columns(header)
        write = WRITERS[engine]
        with read.chunks(source, engine, len(header), positions, options.chunk_rows) as chunks, \
                atomic_output(output) as out:
            first = True
            for chunk in chunks:
                x = inputs(source.name, columns, chunk, options.model)
                result = compute(x)
                write(out, header, chunk, result, keep, first)
                first = False
                summary.add(result)
                if plot_data is not None:
                    plot_data.add(x, result)
                progress.update(summary.rows, source.position())
            if first:  # no rows: the header alone
                write_header(out, header, keep)
    finally:
        progress.finish()
        if source.owned:
            source.handle.close()
    summary.seconds = time.perf_counter() - start
    return summary
