"""Summarise: progress lines during a long run, and the closing summary."""

from __future__ import annotations

import dataclasses
import sys
import time

import numpy as np

from .compute import REASONS, STATUS_INTRINSIC, STATUSES, Result


class Progress:
    """Progress lines on standard error once a run has taken a few seconds."""

    DELAY = 2.0  # quiet for runs shorter than this

    def __init__(self, total_bytes: int | None, stream=None):
        self.total = total_bytes
        self.stream = stream if stream is not None else sys.stderr
        self.start = time.perf_counter()
        self.last = self.start
        self.shown = False
        self.tty = hasattr(self.stream, "isatty") and self.stream.isatty()
        # A terminal line is rewritten in place; a log gets a line now and then.
        self.every = 0.5 if self.tty else 5.0

    def update(self, rows: int, position: int | None):
        now = time.perf_counter()
        if now - self.start < self.DELAY or now - self.last < self.every:
            return
        self.last = now
        text = f"karvex: {rows:,} rows"
        if self.total and position is not None:
            text += f" ({min(position / self.total, 1.0):.0%})"
        text += f", {rows / (now - self.start):,.0f} options/s"
        self.stream.write(f"\r{text:<60}" if self.tty else text + "\n")
        self.stream.flush()
        self.shown = True

    def finish(self):
        if self.shown and self.tty:
            self.stream.write("\r" + " " * 60 + "\r")
            self.stream.flush()


@dataclasses.dataclass
class Summary:
    source: str
    model: str
    rows: int = 0
    counts: dict = dataclasses.field(default_factory=dict)
    seconds: float = 0.0
    core_seconds: float = 0.0
    read_seconds: float = 0.0  # reading and converting the input
    compute_seconds: float = 0.0  # the core, statuses and forwards
    write_seconds: float = 0.0

    def add(self, result: Result):
        status = result.status
        self.rows += len(status)
        self.core_seconds += result.core_seconds
        counts = np.bincount(status, minlength=len(STATUSES))
        for name, count in zip(STATUSES, counts.tolist()):
            if count:
                self.counts[name] = self.counts.get(name, 0) + count

    def lines(self) -> list[str]:
        failed = sum(self.counts.get(r, 0) for r in REASONS)
        out = [f"karvex chain: {self.source} ({self.model}): {self.rows:,} rows"]
        inverted = self.rows - failed
        line = f"  inverted:     {inverted:,}"
        if self.counts.get(STATUS_INTRINSIC):
            line += f" (of which {self.counts[STATUS_INTRINSIC]:,} at intrinsic value: iv 0)"
        out.append(line)
        reasons = ", ".join(f"{text} {self.counts[r]:,}" for r, text in REASONS.items() if self.counts.get(r))
        out.append(f"  not inverted: {failed:,}" + (f" ({reasons})" if reasons else ""))
        out.append(
            f"  time:         {_duration(self.seconds)}, {_rate(self.rows, self.seconds)} "
            f"(in the core: {_duration(self.core_seconds)}, {_rate(self.rows, self.core_seconds)})"
        )
        return out


def _duration(seconds: float) -> str:
    return f"{seconds:.2f} s" if seconds >= 1.0 else f"{seconds * 1000:.1f} ms"


def _rate(rows: int, seconds: float) -> str:
    if rows == 0 or seconds <= 0:
        return "- options/s"
    return f"{rows / seconds:,.0f} options/s"
