"""Output files: written whole at the end of a successful run, or not at all.

A run's files (the table and the picture) are opened together before any
work and made visible together once every one of them is complete:

- a regular file, new or existing, is written to an unnamed temporary file
  in its folder (O_TMPFILE) that is linked in under its name at the end, so
  that no half-written file is ever visible, even after the process is
  killed.  Where the file system has no unnamed files, a hidden
  ``.NAME.XXXX.part`` file beside it takes their place (and can stay behind
  after SIGKILL).  A replaced file keeps its permission bits, and its owner
  and group as far as the user may set them;
- a symbolic link is followed: its target is written;
- anything else (a device such as /dev/null, a FIFO, /dev/stdout) is
  written in place, as a stream; its write errors are reported like any
  other.

Every error names the path the user gave.
"""

from __future__ import annotations

import contextlib
import errno
import io
import os
import re
import stat
import tempfile
from collections.abc import Callable
from types import TracebackType
from typing import IO, Any, BinaryIO, Literal, TextIO, cast, overload

_MAX_LINKS = 40  # symbolic links followed before giving up, as the kernel does
_NAME_MAX = 255  # bytes in a file name, on the common file systems
_TEMP_EXTRA = 15  # what a temporary name adds to the name it is made of
_FD_PATH = re.compile(r"^/proc/(?:self|thread-self|\d+)/fd/(\d+)$|^/dev/fd/(\d+)$")


def _named(exc: OSError, path: str) -> OSError:
    """The error with the user's path as its file name."""
    return OSError(exc.errno, exc.strerror or str(exc), path)


class _Stream:
    """A file object whose write errors name the user's path."""

    def __init__(self, stream: IO[Any], path: str):  # a text or a byte stream
        self._stream = stream
        self._path = path

    def write(self, data: Any) -> int:
        try:
            return self._stream.write(data)
        except OSError as exc:
            raise _named(exc, self._path) from None

    def flush(self) -> None:
        try:
            self._stream.flush()
        except OSError as exc:
            raise _named(exc, self._path) from None

    @property
    def buffer(self) -> BinaryIO:
        """The byte stream under a text stream, its errors named too."""
        return cast(BinaryIO, _Stream(cast(TextIO, self._stream).buffer, self._path))

    def __getattr__(self, name: str) -> Any:  # everything else is the stream's own
        return getattr(self._stream, name)


def _resolve(path: str) -> tuple[str, int | None]:
    """The file ``path`` names after following symbolic links, and the
    descriptor of this process it stands for, if any (/dev/stdout,
    /dev/fd/N, /proc/self/fd/N: written through that descriptor, so that an
    append or a pipe set up by the shell is honoured)."""
    current = os.path.abspath(path)
    for _ in range(_MAX_LINKS):
        match = _FD_PATH.match(current)
        if match:
            pid = current.split("/")[2]
            if current.startswith("/dev/") or pid in ("self", "thread-self", str(os.getpid())):
                return current, int(match.group(1) or match.group(2))
        folder = os.path.realpath(os.path.dirname(current))
        current = os.path.join(folder, os.path.basename(current))
        if not os.path.islink(current):
            return current, None
        current = os.path.join(folder, os.readlink(current))
    raise OSError(errno.ELOOP, os.strerror(errno.ELOOP), path)


def _short(base: str) -> str:
    """The start of a file name, short enough that a temporary name made of
    it (a dot, 8 random characters and .part around it) stays within the
    longest name a folder takes."""
    return os.fsdecode(os.fsencode(base)[: _NAME_MAX - _TEMP_EXTRA])


def _read_only(path: str) -> bool:
    """Whether the file system that holds `path` is mounted read-only."""
    try:
        return bool(os.statvfs(path).f_flag & os.ST_RDONLY)
    except OSError:
        return False


def same_file(a: str, b: str) -> bool:
    """Whether two output paths name one file (directly or through links)."""
    (first, fd_a), (second, fd_b) = _resolve(a), _resolve(b)
    if first == second or (fd_a is not None and fd_a == fd_b):
        return True
    try:
        one, other = os.stat(first), os.stat(second)
    except OSError:
        return False
    return (one.st_dev, one.st_ino) == (other.st_dev, other.st_ino)


def _link_unnamed(fd: int, name: str) -> None:
    """Give the unnamed file open as ``fd`` the name ``name`` (linkat through
    /proc with AT_SYMLINK_FOLLOW, which unlike AT_EMPTY_PATH needs no
    privilege).  A directory descriptor makes os.link call linkat rather
    than link, which would not follow the /proc link."""
    folder = os.open(os.path.dirname(name), os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
    try:
        os.link(
            f"/proc/self/fd/{fd}", os.path.basename(name), dst_dir_fd=folder, follow_symlinks=True
        )
    finally:
        os.close(folder)


class _Pending:
    """One output of the run, until it is made visible or discarded."""

    def __init__(self, path: str, binary: bool):
        self.path = path  # as the user gave it
        self.fd = -1
        self.temp_name: str | None = None  # the .part file when there is no O_TMPFILE
        self.old: os.stat_result | None = None  # the file replaced, if any
        self.streaming = False
        target, own_fd = _resolve(path)
        self.target = target
        if own_fd is not None:
            self.fd = os.dup(own_fd)
            self.streaming = True
        else:
            try:
                info = os.stat(target)
            except FileNotFoundError:
                info = None
            if info is not None and stat.S_ISDIR(info.st_mode):
                raise OSError(errno.EISDIR, os.strerror(errno.EISDIR), path)
            if info is not None and not stat.S_ISREG(info.st_mode):
                self.fd = os.open(target, os.O_WRONLY | os.O_CLOEXEC)
                self.streaming = True
            else:
                if info is not None and not os.access(target, os.W_OK):
                    code = errno.EROFS if _read_only(target) else errno.EACCES
                    raise OSError(code, os.strerror(code), path)
                self.old = info
                self._open_temporary()
        raw = os.fdopen(self.fd, "wb", closefd=False)
        self.stream = _Stream(
            raw if binary else io.TextIOWrapper(raw, encoding="utf-8", newline=""), path
        )

    def _open_temporary(self) -> None:
        folder = os.path.dirname(self.target)
        tmpfile = getattr(os, "O_TMPFILE", 0)
        if tmpfile and os.path.isdir("/proc/self/fd"):
            try:
                self.fd = os.open(folder, tmpfile | os.O_WRONLY | os.O_CLOEXEC, 0o666)
                return
            except OSError as exc:
                if exc.errno not in (errno.EOPNOTSUPP, errno.EISDIR, errno.EINVAL):
                    raise
        # No unnamed files here: a hidden temporary name beside the target,
        # with the permissions any new file of this user gets.
        self.fd, self.temp_name = tempfile.mkstemp(
            dir=folder, prefix=f".{_short(os.path.basename(self.target))}.", suffix=".part"
        )
        umask = os.umask(0)
        os.umask(umask)
        os.fchmod(self.fd, 0o666 & ~umask)

    def finish(self) -> None:
        """Write out what is buffered: the last chance for a write error."""
        self.stream.flush()
        if not self.streaming:
            os.fsync(self.fd)

    def publish(self) -> None:
        """Give the complete file its name."""
        if self.streaming:
            return
        if self.old is not None:
            os.fchmod(self.fd, stat.S_IMODE(self.old.st_mode))
            uid = self.old.st_uid if os.geteuid() == 0 else -1
            with contextlib.suppress(PermissionError):  # a group the user is not in
                os.fchown(self.fd, uid, self.old.st_gid)
        if self.temp_name is not None:
            os.replace(self.temp_name, self.target)
            self.temp_name = None
            return
        if self.old is None:
            try:
                _link_unnamed(self.fd, self.target)
                return
            except FileExistsError:
                pass  # created meanwhile: replaced like any existing file
        folder, base = os.path.split(self.target)
        for _ in range(100):
            name = os.path.join(folder, f".{_short(base)}.{os.urandom(4).hex()}.part")
            try:
                _link_unnamed(self.fd, name)
                break
            except FileExistsError:
                continue
        else:
            raise OSError(errno.EEXIST, os.strerror(errno.EEXIST), self.path)
        try:
            os.replace(name, self.target)
        except BaseException:
            with contextlib.suppress(OSError):
                os.unlink(name)
            raise

    def close(self) -> None:
        with contextlib.suppress(OSError, ValueError):
            self.stream._stream.close()
        if self.fd >= 0:
            with contextlib.suppress(OSError):
                os.close(self.fd)
            self.fd = -1
        if self.temp_name is not None:
            with contextlib.suppress(OSError):
                os.unlink(self.temp_name)
            self.temp_name = None


class Outputs:
    """The files of one run.  ``open`` them first; on leaving the block
    normally they all appear (or the first error is raised and none of the
    regular files changes); on an exception none of them does."""

    def __init__(self) -> None:
        self._pending: list[_Pending] = []

    @overload
    def open(self, path: str, binary: Literal[False] = False) -> TextIO: ...

    @overload
    def open(self, path: str, binary: Literal[True]) -> BinaryIO: ...

    def open(self, path: str, binary: bool = False) -> TextIO | BinaryIO:
        """The file as a stream that stands for the file object itself
        (every write error names ``path``)."""
        try:
            pending = _Pending(path, binary)
        except OSError as exc:
            raise _named(exc, path) from None
        self._pending.append(pending)
        return cast("TextIO | BinaryIO", pending.stream)

    def __enter__(self) -> Outputs:
        return self

    def __exit__(
        self,
        kind: type[BaseException] | None,
        value: BaseException | None,
        traceback: TracebackType | None,
    ) -> Literal[False]:
        try:
            if kind is None:
                for pending in self._pending:
                    self._step(pending.finish, pending.path)
                for pending in self._pending:
                    self._step(pending.publish, pending.path)
        finally:
            for pending in self._pending:
                pending.close()
        return False

    @staticmethod
    def _step(action: Callable[[], None], path: str) -> None:
        try:
            action()
        except OSError as exc:
            raise _named(exc, path) from None
