"""Read the chain: the header, then chunks of raw text cells.

Two readers produce the same chunks: pandas (optional, fast C parser) and
the standard library's csv module (used when pandas is missing and for the
example chain shipped with the package).
"""

from __future__ import annotations

import contextlib
import csv
import dataclasses
import io
import os
import re
import sys
from importlib import resources
from typing import BinaryIO, Iterator

import numpy as np

from .options import ChainError

EXAMPLE_NAME = "example chain"


@dataclasses.dataclass
class Source:
    """The input: the name errors give it, its bytes and its size if known."""

    name: str
    handle: BinaryIO
    total_bytes: int | None
    owned: bool  # closed by the run (not the example, not standard input)

    def position(self) -> int | None:
        try:
            return self.handle.tell()
        except (OSError, ValueError):
            return None


@dataclasses.dataclass
class Chunk:
    """Raw text cells of some rows, and their line numbers in the file."""

    cells: dict[int, np.ndarray]  # column position -> array of str
    lines: np.ndarray
    passthrough: object  # rows to echo: a list of lists, a DataFrame or an Arrow table
    unit: str = "line"  # what `lines` count: lines of a CSV file, rows of a Parquet file

    def __len__(self) -> int:
        return len(self.lines)


def open_source(path: str | None) -> Source:
    """The input: None is the example chain, "-" standard input."""
    if path is None:
        data = resources.files("karvex").joinpath("data", "example_chain.csv")
        return Source(EXAMPLE_NAME, io.BytesIO(data.read_bytes()), None, False)
    if path == "-":
        return Source("<stdin>", sys.stdin.buffer, None, False)
    try:
        handle = open(path, "rb")
    except OSError as exc:
        raise ChainError(f"{path}: cannot read: {exc.strerror}") from None
    return Source(path, handle, os.fstat(handle.fileno()).st_size, True)


def seekable(source: Source) -> Source:
    """The source, or a temporary copy of it that can be read twice."""
    if source.handle.seekable():
        return source
    import shutil
    import tempfile

    copy = tempfile.TemporaryFile()
    shutil.copyfileobj(source.handle, copy)
    copy.seek(0)
    return Source(source.name, copy, None, True)


def read_header(source: Source) -> list[str]:
    try:
        first_line = source.handle.readline().decode("utf-8")
    except UnicodeDecodeError as exc:
        raise ChainError(f"{source.name}, line 1: not UTF-8 text ({exc.reason})") from None
    if not first_line.strip():
        raise ChainError(f"{source.name}: empty file (expected a header line with column names)")
    if first_line.startswith("\ufeff"):
        first_line = first_line[1:]
    return next(csv.reader([first_line]))


def builtin_chunks(source, handle, header_len, positions, rows, first_line=2) -> Iterator[Chunk]:
    """Chunks through the csv module: handle is a text file after the header,
    whose first line is line `first_line` of the file."""
    reader = csv.reader(handle)
    before = first_line - 1  # lines before the handle's first
    while True:
        records, lines = [], []
        try:
            for record in reader:
                if not record or not any(field.strip() for field in record):
                    continue  # blank line
                if len(record) > header_len:
                    raise ChainError(
                        f"{source}, line {reader.line_num + before}: expected {header_len} fields, "
                        f"found {len(record)}"
                    )
                if len(record) < header_len:
                    record = record + [""] * (header_len - len(record))
                records.append(record)
                lines.append(reader.line_num + before)
                if len(records) == rows:
                    break
        except csv.Error as exc:
            raise ChainError(f"{source}, line {reader.line_num + before}: {exc}") from None
        except UnicodeDecodeError as exc:
            raise ChainError(f"{source}: not UTF-8 text ({exc.reason})") from None
        if not records:
            return
        cells = {p: np.array([rec[p] for rec in records], dtype=str) for p in positions}
        yield Chunk(cells, np.array(lines), records)
        if len(records) < rows:
            return


_PANDAS_FIELDS = re.compile(r"Expected (\d+) fields in line (\d+), saw (\d+)")


def pandas_chunks(source, handle, header_len, positions, rows) -> Iterator[Chunk]:
    """Chunks through pandas: handle is a binary file after the header."""
    import pandas as pd

    reader = pd.read_csv(
        handle,
        header=None,
        names=list(range(header_len)),
        dtype=str,
        na_filter=False,
        keep_default_na=False,
        skip_blank_lines=False,
        chunksize=rows,
        encoding="utf-8",
    )
    first_line = 2
    try:
        for frame in reader:
            frame = frame.fillna("")
            lines = np.arange(first_line, first_line + len(frame))
            first_line += len(frame)
            blank = (frame == "").all(axis=1).to_numpy()
            if blank.any():
                frame, lines = frame[~blank], lines[~blank]
            if len(frame) == 0:
                continue
            cells = {p: frame[p].to_numpy(dtype=str) for p in positions}
            yield Chunk(cells, lines, frame)
    except pd.errors.ParserError as exc:
        m = _PANDAS_FIELDS.search(str(exc))
        if m:
            raise ChainError(
                f"{source}, line {int(m.group(2)) + 1}: expected {m.group(1)} fields, "
                f"found {m.group(3)}"
            ) from None
        raise ChainError(f"{source}: {str(exc).strip()}") from None
    except UnicodeDecodeError as exc:
        raise ChainError(f"{source}: not UTF-8 text ({exc.reason} at byte {exc.start})") from None


@contextlib.contextmanager
def chunks(source: Source, engine: str, header_len: int, positions: list[int],
           rows: int) -> Iterator[Iterator[Chunk]]:
    """The chunks after the header, through the named reader."""
    if engine == "arrow":
        from .arrow_read import csv_chunks

        yield csv_chunks(source, header_len, positions, rows)
        return
    if engine == "pandas":
        yield pandas_chunks(source.name, source.handle, header_len, positions, rows)
        return
    text = io.TextIOWrapper(source.handle, encoding="utf-8", newline="")
    try:
        yield builtin_chunks(source.name, text, header_len, positions, rows)
    finally:
        text.detach()  # leave the binary handle to its owner


def have_pandas() -> bool:
    try:
        import pandas  # noqa: F401
    except ImportError:
        return False
    return True
