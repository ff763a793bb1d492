"""Output files that appear complete or not at all."""

from __future__ import annotations

import contextlib
import os
import sys
import tempfile


@contextlib.contextmanager
def atomic_file(path: str, binary: bool = False):
    """A stream to a temporary file beside ``path`` that takes its name only
    once the block has finished; on any failure it is removed, and an older
    file of that name is left as it was."""
    directory = os.path.dirname(os.path.abspath(path))
    try:
        fd, tmp = tempfile.mkstemp(dir=directory, prefix=f".{os.path.basename(path)}.", suffix=".part")
    except OSError as exc:  # report the name the user gave, not the temporary one
        raise OSError(exc.errno, exc.strerror, path) from None
    try:
        if binary:
            stream = os.fdopen(fd, "wb")
        else:
            stream = os.fdopen(fd, "w", encoding="utf-8", newline="")
        with stream:
            yield stream
        # mkstemp creates the file for the owner only; give it the
        # permissions any new file of this user would have.
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(tmp, 0o666 & ~umask)
        os.replace(tmp, path)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(tmp)
        raise


@contextlib.contextmanager
def atomic_output(path: str | None):
    """Standard output, or a file that appears only once fully written."""
    if path is None:
        yield sys.stdout
        sys.stdout.flush()
        return
    with atomic_file(path) as out:
        yield out
