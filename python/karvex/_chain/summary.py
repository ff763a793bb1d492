"""Summarise: progress lines during a long run, and the closing summary."""

from __future__ import annotations

import dataclasses
import sys
import time
from collections.abc import Callable
from typing import TextIO

import numpy as np

from .compute import Result
from .parity import ParityForwards, Snapshot, group_ids
from .prices import Inputs
from .statuses import REASONS, STATUS_INTRINSIC, STATUS_NEAR_INTRINSIC, STATUSES
from .units import DIVIDEND_BAND, RATE_BAND

# Rows whose values are probably in the wrong unit, once per input, with the
# rows concerned: (input, test, what was probably meant).  A whole column in
# other units stops the run before (units.check); these are the stray rows,
# outside the same bands.
UNIT_CHECKS: tuple[tuple[str, Callable[[Inputs], np.ndarray], str], ...] = (
    (
        "rate",
        lambda x: (x.rate < RATE_BAND[0]) | (x.rate > RATE_BAND[1]),
        f"outside [{RATE_BAND[0]:g}, {RATE_BAND[1]:g}]: percent meant? 0.043 is 4.3 %",
    ),
    (
        "dividend",
        lambda x: (x.dividend < DIVIDEND_BAND[0]) | (x.dividend > DIVIDEND_BAND[1]),
        f"outside [{DIVIDEND_BAND[0]:g}, {DIVIDEND_BAND[1]:g}]: percent meant? 0.013 is 1.3 %",
    ),
    ("expiry", lambda x: x.t > 30.0, "above 30 years: days meant? (years = days / 365)"),
)
# Calls whose volatility is above (or below) that of the put of the same
# strike and expiry by more than this, at more than half of the strikes,
# point at a forward that is off: a missing dividend yield or a wrong rate.
SMILE_JUMP = 0.01
PAIRS_PENDING = 16_384  # unmatched rows carried from chunk to chunk, at most
PAIRS_ALL = 100_000  # rows whose calls and puts are all matched; then a sample
PAIRS_SAMPLE = 16


class Progress:
    """Progress lines on standard error once a run has taken a few seconds."""

    DELAY = 2.0  # quiet for runs shorter than this

    def __init__(self, total_bytes: int | None, stream: TextIO | None = None, quiet: bool = False):
        self.total = total_bytes
        self.quiet = quiet
        self.stream = stream if stream is not None else sys.stderr
        self.start = time.perf_counter()
        self.last = self.start
        self.shown = False
        self.tty = hasattr(self.stream, "isatty") and self.stream.isatty()
        # A terminal line is rewritten in place; a log gets a line now and then.
        self.every = 0.5 if self.tty else 5.0

    def update(self, rows: int, position: int | None) -> None:
        now = time.perf_counter()
        if self.quiet or now - self.start < self.DELAY or now - self.last < self.every:
            return
        self.last = now
        text = f"karvex: {rows:,} rows"
        if self.total and position is not None:
            text += f" ({min(position / self.total, 1.0):.0%})"
        text += f", {rows / (now - self.start):,.0f} options/s"
        self.stream.write(f"\r{text:<60}" if self.tty else text + "\n")
        self.stream.flush()
        self.shown = True

    def finish(self) -> None:
        if self.shown and self.tty:
            self.stream.write("\r" + " " * 60 + "\r")
            self.stream.flush()


@dataclasses.dataclass
class Summary:
    source: str
    model: str
    rows: int = 0
    counts: dict[str, int] = dataclasses.field(default_factory=dict)
    seconds: float = 0.0
    core_seconds: float = 0.0
    units: dict[str, int] = dataclasses.field(
        default_factory=dict
    )  # input -> rows in a probably wrong unit
    high_iv: int = 0  # rows whose volatility came out above 5 (500 %)
    pairs: int = 0  # strikes with a call and a put both inverted
    calls_above: int = 0  # of which the call's volatility exceeds the put's by SMILE_JUMP
    calls_below: int = 0  # of which the put's exceeds the call's by SMILE_JUMP
    # Inverted rows not yet matched with the other side of their strike: key,
    # snapshot, strike, is a put, iv.
    pending: tuple[np.ndarray, ...] = dataclasses.field(
        repr=False,
        default=(
            np.zeros(0, dtype=np.int64),
            np.zeros(0, dtype=np.int64),
            np.zeros(0),
            np.zeros(0, dtype=bool),
            np.zeros(0),
        ),
    )
    parity: ParityForwards | None = None  # the ParityForwards of a --forward parity run
    snapshots: dict[Snapshot, int] = dataclasses.field(default_factory=dict, repr=False)
    read_seconds: float = 0.0  # reading and converting the input
    compute_seconds: float = 0.0  # the core, statuses and forwards
    write_seconds: float = 0.0
    renamed: list[tuple[str, str]] = dataclasses.field(
        default_factory=list
    )  # (input name, output name)
    curves: int = 0  # expiries drawn by --plot
    sides: int = 1  # options per row: 2 in a wide chain (rows counts options)
    expiry_note: str | None = None  # the expiry time and zone used (times.describe)
    day_count: str | None = None  # --day-count (times.DayCount.describe); None: act/365f
    # --rate-curve, --dividend-curve: ("rate"/"dividend", the curve as said)
    # and the rate and yield each expiry's first row used.
    rate_curves: list[tuple[str, str]] = dataclasses.field(default_factory=list)
    curve_rates: dict[str, tuple[float, float]] = dataclasses.field(default_factory=dict)
    plot_note: str = ""  # how many of how many

    def add(self, result: Result, x: Inputs | None = None) -> None:
        if x is not None and self.expiry_note is None:
            self.expiry_note = x.expiry_note
        if x is not None and self.rate_curves:
            self._curve_rates(x)
        if x is not None:
            self._check_units(result, x)
            if self.parity is None and x.model == "bsm":
                self._pair_calls_and_puts(result, x)
        status = result.status
        self.rows += len(status)
        self.core_seconds += result.core_seconds
        counts = np.bincount(status, minlength=len(STATUSES))
        for name, count in zip(STATUSES, counts.tolist()):
            if count:
                self.counts[name] = self.counts.get(name, 0) + count

    def _curve_rates(self, x: Inputs) -> None:
        names, rows = x.expiries
        found, first = np.unique(rows, return_index=True)
        for i, j in zip(found.tolist(), first.tolist()):
            self.curve_rates.setdefault(str(names[i]), (float(x.rate[j]), float(x.dividend[j])))

    def _curve_lines(self) -> list[str]:
        labels = {"rate": "rate curve:", "dividend": "yield curve:"}
        out = [f"  {labels[key]:<14}{said}" for key, said in self.rate_curves]
        yields = any(key == "dividend" for key, _ in self.rate_curves)
        label = "rates used:"
        width = max(map(len, self.curve_rates), default=0)
        for name, (r, q) in sorted(self.curve_rates.items()):
            line = f"  {label:<14}{name:<{width}}  r {r:.4%}" + (f", q {q:.4%}" if yields else "")
            out.append(line)
            label = ""
        return out

    def _check_units(self, result: Result, x: Inputs) -> None:
        with np.errstate(invalid="ignore"):
            for name, test, _ in UNIT_CHECKS:
                if name == "dividend" and x.model != "bsm":
                    continue  # Black-76 carries the rate in that slot
                count = int(np.count_nonzero(test(x)))
                if count:
                    self.units[name] = self.units.get(name, 0) + count
            self.high_iv += int(np.count_nonzero(result.iv > 5.0))

    def _pair_calls_and_puts(self, result: Result, x: Inputs) -> None:
        """Match each inverted call with the put of its strike in its snapshot
        (parity.group_ids: whatever each quote's time of day), within the chunk and among the rows the chunks
        before it left unmatched, by sorting.  The latest PAIRS_PENDING
        unmatched rows are carried on, so memory stays bounded; past the
        first PAIRS_ALL rows only one strike-and-expiry in PAIRS_SAMPLE is
        matched (chosen by its numbers, so both sides of a pair are), which
        is plenty for the verdict and keeps this check cheap."""
        with np.errstate(invalid="ignore"):
            inverted = result.iv > 0.0
        # A 64-bit mix of the bits of both numbers: one sort, puts after
        # calls; equal keys of different numbers only cost a missed pair, as
        # the match below compares the numbers themselves.
        snapshot = group_ids(self.snapshots, x)
        with np.errstate(over="ignore"):
            key = snapshot * np.int64(0x9E3779B97F4A7C15 - (1 << 64)) + x.strike.view(np.int64)
        if self.rows >= PAIRS_ALL:
            inverted &= (key >> 17) % PAIRS_SAMPLE == 0
        rows = np.flatnonzero(inverted)
        given = [
            np.concatenate([old, new])
            for old, new in zip(
                self.pending,
                (key[rows], snapshot[rows], x.strike[rows], x.flag[rows] < 0, result.iv[rows]),
            )
        ]
        key, snap, strike, put, iv = given
        order = np.argsort(key * 2 + put)
        snap, strike, put, iv = snap[order], strike[order], put[order], iv[order]
        pair = (snap[1:] == snap[:-1]) & (strike[1:] == strike[:-1]) & ~put[:-1] & put[1:]
        self._count_pairs(iv[:-1][pair] - iv[1:][pair])
        paired = np.zeros(len(snap), dtype=bool)
        paired[:-1] |= pair
        paired[1:] |= pair
        latest = np.sort(order[~paired])[-PAIRS_PENDING:]
        self.pending = tuple(a[latest] for a in given)

    def _count_pairs(self, call_minus_put: np.ndarray) -> None:
        self.pairs += len(call_minus_put)
        self.calls_above += int(np.count_nonzero(call_minus_put > SMILE_JUMP))
        self.calls_below += int(np.count_nonzero(call_minus_put < -SMILE_JUMP))

    def warnings(self) -> list[str]:
        out = []
        for name, _, meant in UNIT_CHECKS:
            if self.units.get(name):
                out.append(f"  warning:      {name} {meant} ({self.units[name]:,} rows)")
        if self.high_iv:
            out.append(
                f"  warning:      iv above 5 (500 %) in {self.high_iv:,} rows: prices, strikes and "
                "spot in different units?"
            )
        jumps = max(self.calls_above, self.calls_below)
        if self.pairs >= 5 and jumps > self.pairs / 2:
            side = "below" if self.calls_below > self.calls_above else "above"
            out.append(
                f"  warning:      calls {side} puts of the same strike by more than {100 * SMILE_JUMP:.0f} "
                f"volatility point at {jumps:,} of {self.pairs:,} strikes: a dividend yield is likely "
                f"missing or the rate is wrong (give --dividend, or use --forward parity)"
            )
        return out

    def lines(self) -> list[str]:
        failed = sum(self.counts.get(r, 0) for r in REASONS)
        out = [f"karvex chain: {self.source} ({self.model}): {self.rows // self.sides:,} rows"]
        if self.sides > 1:
            out[0] += f" ({self.rows:,} options: a call and a put on each)"
        inverted = self.rows - failed
        line = f"  inverted:     {inverted:,}"
        if self.counts.get(STATUS_INTRINSIC):
            line += f" (of which {self.counts[STATUS_INTRINSIC]:,} at intrinsic value: iv 0)"
        if self.counts.get(STATUS_NEAR_INTRINSIC):
            line += (
                f" (of which {self.counts[STATUS_NEAR_INTRINSIC]:,} within --intrinsic-tolerance "
                "below intrinsic value: iv 0)"
            )
        out.append(line)
        reasons = ", ".join(
            f"{text} {self.counts[r]:,}" for r, text in REASONS.items() if self.counts.get(r)
        )
        out.append(f"  not inverted: {failed:,}" + (f" ({reasons})" if reasons else ""))
        if self.expiry_note:
            label, _, said = self.expiry_note.partition(": ")
            out.append(f"  {label + ':':<14}{said}")
        if self.day_count:
            out.append(f"  day count:    {self.day_count}")
        out += self._curve_lines()
        if self.parity is not None:
            out += self.parity.lines()
        out += self.warnings()
        out.append(
            f"  time:         {_duration(self.seconds)}, {_rate(self.rows, self.seconds)} "
            f"(in the core: {_duration(self.core_seconds)}, {_rate(self.rows, self.core_seconds)})"
        )
        if self.renamed:
            names = ", ".join(f"{a} -> {b}" for a, b in self.renamed)
            out.append(f"  renamed:      {names} (input columns named like a computed one)")
        return out


def _duration(seconds: float) -> str:
    return f"{seconds:.2f} s" if seconds >= 1.0 else f"{seconds * 1000:.1f} ms"


def _rate(rows: int, seconds: float) -> str:
    if rows == 0 or seconds <= 0:
        return "- options/s"
    return f"{rows / seconds:,.0f} options/s"
