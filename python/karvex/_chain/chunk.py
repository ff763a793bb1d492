"""What every reader hands on: the input (Source) and its rows, a chunk at a
time (Chunk), whichever reader read them."""

from __future__ import annotations

import dataclasses
import io
import os
import sys
from collections.abc import Callable, Sequence
from importlib import resources
from typing import TYPE_CHECKING, Any, BinaryIO

import numpy as np

from .options import ChainError

if TYPE_CHECKING:
    from typing import TypeAlias

    import pyarrow as pa  # untyped: see arrow.py

    # A column of cells: NumPy text (str, or Python strings as objects when
    # one is longer than CELL_LIMIT) from the builtin reader, an Arrow array
    # (text as read from CSV, or Parquet's own types) from the arrow reader.
    Column: TypeAlias = "np.ndarray | pa.Array"

EXAMPLE_NAME = "example chain"
# Cells of the columns the command reads (numbers, types, dates) longer than
# this cannot be valid; kept as Python strings rather than in a fixed-width
# text array, whose every cell would take the longest one's room.
CELL_LIMIT = 1000


@dataclasses.dataclass
class Source:
    """The input: the name errors give it, its bytes and its size if known."""

    name: str
    handle: BinaryIO
    total_bytes: int | None
    owned: bool  # closed by the run (not the example, not standard input)
    header_bytes: bytes = b""  # the header record as read, line end included
    first_line: int = 2  # the line after the header
    compressed: BinaryIO | None = None  # the file under a decompressed handle
    # The CSV dialect: given (--delimiter, --decimal) or, while None, sniffed
    # by read_csv.read_header.
    delimiter: str | None = None
    decimal: str | None = None

    def position(self) -> int | None:
        """How far the reading is, in the bytes total_bytes counts."""
        try:
            return (self.compressed or self.handle).tell()
        except (OSError, ValueError):
            return None

    def seekable(self) -> bool:
        try:
            return self.handle.seekable()
        except (OSError, ValueError):
            return False

    def rewind(self) -> None:
        self.handle.seek(0)


def open_source(path: str | None) -> Source:
    """The input: None is the example chain, "-" standard input."""
    if path is None:
        data = resources.files("karvex").joinpath("data", "example_chain.csv")
        return Source(EXAMPLE_NAME, io.BytesIO(data.read_bytes()), None, False)
    if path == "-":
        stdin = sys.stdin.buffer
        codec = _codec(None, stdin)
        if codec is None:
            return Source("<stdin>", stdin, None, False)
        return Source("<stdin>", decompressed("<stdin>", codec, stdin), None, True)
    try:
        handle = open(path, "rb")
    except OSError as exc:
        raise ChainError(f"{path}: cannot read: {exc.strerror}") from None
    size = os.fstat(handle.fileno()).st_size
    codec = _codec(path, handle)
    if codec is None:
        return Source(path, handle, size, True)
    return Source(path, decompressed(path, codec, handle), size, True, compressed=handle)


# Compressed input: by the file's extension, else by its first bytes.
CODECS = {
    "gzip": ((".gz", ".gzip"), b"\x1f\x8b"),
    "bz2": ((".bz2",), b"BZh"),
    "xz": ((".xz", ".lzma"), b"\xfd7zXZ\x00"),
    "zstd": ((".zst", ".zstd"), b"\x28\xb5\x2f\xfd"),
}


def _codec(path: str | None, handle: BinaryIO) -> str | None:
    if path is not None:
        for codec, (suffixes, _) in CODECS.items():
            if path.lower().endswith(suffixes):
                return codec
    peek = getattr(handle, "peek", None)  # a buffered reader's look ahead
    head: bytes = peek(6)[:6] if peek is not None else b""
    for codec, (_, magic) in CODECS.items():
        if head.startswith(magic):
            return codec
    return None


class _Decompressing(io.RawIOBase):
    """The decompressed bytes of a compressed stream, whose damage (a
    truncated or corrupt archive) is a ChainError of one line."""

    def __init__(self, name: str, codec: str, stream: Any):
        self.name, self.codec, self.stream = name, codec, stream

    def readable(self) -> bool:
        return True

    def readinto(self, buffer: Any) -> int:
        try:
            data = self.stream.read(len(buffer))
        except Exception as exc:  # EOFError, OSError, lzma.LZMAError, zlib.error, Arrow's
            what = str(exc).strip().splitlines()[0] if str(exc).strip() else type(exc).__name__
            raise ChainError(f"{self.name}: damaged {self.codec} data: {what}") from None
        buffer[: len(data)] = data
        return len(data)

    def seekable(self) -> bool:
        return bool(self.stream.seekable())

    def seek(self, offset: int, whence: int = 0) -> int:
        return int(self.stream.seek(offset, whence))

    def tell(self) -> int:
        return int(self.stream.tell())

    def close(self) -> None:
        self.stream.close()
        super().close()


def decompressed(name: str, codec: str, handle: BinaryIO) -> BinaryIO:
    """The decompressed bytes of `handle` (zstd: through the zstandard
    module, else pyarrow's codec)."""
    stream: Any
    if codec == "gzip":
        import gzip

        stream = gzip.GzipFile(fileobj=handle, mode="rb")
    elif codec == "bz2":
        import bz2

        stream = bz2.BZ2File(handle, "rb")
    elif codec == "xz":
        import lzma

        stream = lzma.LZMAFile(handle, "rb")
    else:
        stream = _zstd(name, handle)
    return io.BufferedReader(_Decompressing(name, codec, stream))


def _zstd(name: str, handle: BinaryIO) -> Any:
    try:
        import zstandard  # type: ignore[import-not-found, unused-ignore]

        return zstandard.ZstdDecompressor().stream_reader(handle)
    except ImportError:
        pass
    try:
        import pyarrow as pa
    except ImportError:
        raise ChainError(
            f"{name}: zstd data needs the zstandard module or pyarrow: pip install zstandard"
        ) from None
    return pa.CompressedInputStream(pa.PythonFile(handle, mode="r"), "zstd")


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


@dataclasses.dataclass
class Chunk:
    """Some rows of the input, as every reader gives them: the cells of the
    columns the run reads, every field to echo, and where each row is."""

    source: str  # the input's name, for errors
    header: list[str]
    cells: dict[int, Column]  # column position -> its cells
    rows: Any  # every field, echoed to the output: a list of records, or an Arrow table
    size: int  # rows
    lines: np.ndarray | None  # where each row starts: None until asked for (Arrow's CSV blocks)
    unit: str = "line"  # what `lines` count: lines of a CSV file, rows of a Parquet file
    decimal: str = "."  # the decimal mark of the numbers' text
    # The same rows as text cells for the builtin rules: where the Arrow
    # form of a cell is not certain to mean what its text means.
    text: Callable[[], Chunk] | None = dataclasses.field(default=None, repr=False)
    _text_form: Chunk | None = dataclasses.field(default=None, repr=False)

    def __len__(self) -> int:
        return self.size

    def as_text(self) -> Chunk:
        """The chunk with text cells (itself, if its cells are text)."""
        if self.text is None:
            return self
        if self._text_form is None:
            self._text_form = self.text()
        return self._text_form

    def cell_error(self, pos: int, i: int, what: str) -> ChainError:
        """The error of row i's cell in column pos: file, line, column, value."""
        assert self.lines is not None  # a text chunk knows its lines
        line = int(self.lines[i])
        name = self.header[pos].strip()
        value = str(self.cells[pos][i])
        shown = (
            repr(value) if len(value) <= 60 else f"{value[:60]!r}... ({len(value):,} characters)"
        )
        return ChainError(
            f"{self.source}, {self.unit} {line}, column {pos + 1} ({name}): {what}: {shown}"
        )


def text_cells(values: Sequence[str] | np.ndarray) -> np.ndarray:
    """Cells as a NumPy text array, or as Python strings (object array) if
    one is longer than CELL_LIMIT, which the cell rules then refuse."""
    cells = np.asarray(values, dtype=object)
    if len(cells) and max(map(len, cells)) > CELL_LIMIT:
        return cells
    return cells.astype(str)
