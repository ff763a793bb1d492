"""pyarrow, where the run uses it: whether it is installed, how it is called
safely, and how a Parquet file is recognised.  Nothing here imports pyarrow
until it is needed (nor pandas, ever)."""

from __future__ import annotations

import importlib.util
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
