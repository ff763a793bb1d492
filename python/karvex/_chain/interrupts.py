"""Ctrl-C and SIGTERM during a run: handlers that raise where the run is, and
a record of the signal for the places where the run may stop safely.

A handler's exception is raised wherever the interpreter happens to be.  When
that is inside a weakref callback or a finalizer (an import's module lock, an
object the garbage collector frees), the interpreter reports the exception as
unraisable and drops it, and the run would go on as if nothing had happened.
So the handlers also record the signal here, and the run raises it again
(``check``) after each chunk and before any file is replaced."""

from __future__ import annotations

import signal
from types import FrameType
from typing import NoReturn


class Terminated(BaseException):
    """SIGTERM, raised where the program is so that it cleans up on its way
    out as after Ctrl-C."""


received: int | None = None  # the last signal a handler saw in this run
finished = False  # the run's files are in place: what is left cannot be undone


def _raise(signum: int) -> NoReturn:
    if signum == signal.SIGTERM:
        raise Terminated
    raise KeyboardInterrupt


def on_signal(signum: int, frame: FrameType | None) -> None:
    """The handler of SIGINT and SIGTERM: records the signal and raises it,
    unless the run has finished (its files replaced): then it is too late to
    stop, and the run ends as it succeeded."""
    global received
    if finished:
        return
    received = signum
    _raise(signum)


def forget_unhandled_interrupt() -> None:
    """Lets a caught Ctrl-C end the process with the exit status given.  The
    interpreter notes a KeyboardInterrupt that leaves code it runs from a text
    (``exec`` of a string, as the standard library does to build classes) as
    unhandled even when a caller catches it further up, and then ends the
    process by SIGINT at exit, whatever its exit status; running any text
    clears that note."""
    exec("None")  # noqa: S102  a constant text


def check() -> None:
    """Raises the signal a handler saw, if any (its first raise may have been
    dropped)."""
    if received is not None:
        _raise(received)
