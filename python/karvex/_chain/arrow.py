"""pyarrow, where the run uses it: whether it is installed, how it is called
safely, and how a Parquet file is recognised.  Nothing here imports pyarrow
until it is needed (nor pandas, ever)."""

from __future__ import annotations

import importlib.util
from collections.abc import Sequence
from typing import TYPE_CHECKING, BinaryIO

import numpy as np

from .options import ChainError

if TYPE_CHECKING:
    # pyarrow ships no type information: mypy takes it as unchecked
    # (pyproject.toml), so its names document what a value is without
    # checking it.
    import pyarrow as pa

PARQUET_MAGIC = b"PAR1"
PARQUET_SUFFIXES = (".parquet", ".parq", ".pq")


def have_arrow() -> bool:
    return importlib.util.find_spec("pyarrow") is not None


def require_arrow(what: str) -> None:
    if not have_arrow():
        raise ChainError(f"{what} needs pyarrow: pip install 'karvex[arrow]'")


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


def is_parquet(path: str | None, handle: BinaryIO) -> bool:
    """By the file's extension, else by its first bytes."""
    if path is not None and path.lower().endswith(PARQUET_SUFFIXES):
        return True
    peek = getattr(handle, "peek", None)  # a buffered reader's look ahead
    head: bytes = peek(4)[:4] if peek is not None else b""
    return head == PARQUET_MAGIC


def first_line(exc: BaseException) -> str:
    """An Arrow error's first line (they run on over several)."""
    text = str(exc).strip()
    return text.splitlines()[0] if text else type(exc).__name__


# Arrow arrays to NumPy and back through their buffers: pyarrow's own
# conversions (to_numpy, pa.array, pa.scalar) import pandas when it is
# installed, which costs a small run more than all its work.


def numpy_values(array: pa.Array, dtype: np.dtype | type) -> np.ndarray:
    """The values of a fixed-width array as NumPy, without a copy (whatever
    stands in a missing value's place)."""
    data = array.buffers()[1]
    if data is None:
        return np.zeros(len(array), dtype)
    values: np.ndarray = np.frombuffer(data, dtype=dtype)[array.offset : array.offset + len(array)]
    return values


def valid(array: pa.Array) -> np.ndarray | None:
    """Which values are present (None: all of them)."""
    bitmap = array.buffers()[0]
    if bitmap is None or array.null_count == 0:
        return None
    bits = np.unpackbits(np.frombuffer(bitmap, dtype=np.uint8), bitorder="little")
    present: np.ndarray = bits[array.offset : array.offset + len(array)].astype(bool)
    return present


def integers(array: pa.Array) -> np.ndarray:
    """An integer array without missing values as NumPy."""
    import pyarrow as pa

    t = array.type
    sign = "u" if pa.types.is_unsigned_integer(t) else ""
    return numpy_values(array, np.dtype(f"{sign}int{t.bit_width}"))


def bool_array(mask: np.ndarray) -> pa.Array:
    import pyarrow as pa

    bits = np.packbits(np.asarray(mask, dtype=bool), bitorder="little")
    return pa.Array.from_buffers(pa.bool_(), len(mask), [None, pa.py_buffer(bits)])


def text_array(texts: Sequence[str]) -> pa.Array:
    """Python strings as an Arrow text array."""
    import pyarrow as pa

    data = [t.encode("utf-8") for t in texts]
    offsets = np.zeros(len(data) + 1, dtype=np.int32)
    np.cumsum([len(d) for d in data], out=offsets[1:])
    return pa.Array.from_buffers(
        pa.string(), len(data), [None, pa.py_buffer(offsets), pa.py_buffer(b"".join(data))]
    )


def text_scalar(text: str) -> pa.Scalar:
    """An Arrow text scalar, for the compute functions (given a Python
    value, they make one through pa.scalar, which imports pandas)."""
    return text_array([text])[0]


def int_scalar(value: int, type: pa.DataType) -> pa.Scalar:
    import pyarrow as pa

    data = pa.py_buffer(np.array([value], dtype=np.int64))
    return pa.Array.from_buffers(pa.int64(), 1, [None, data]).cast(type)[0]
