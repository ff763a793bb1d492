"""``karvex chain``: implied volatilities and Greeks of an option chain in CSV.

The chain is read in chunks of rows, so memory stays bounded however large the
file is.  Each chunk's columns are parsed into float64/int8 arrays (a bad cell
is reported with its file, line and column), the implied volatility of every
row comes from one core call, the five Greeks at that volatility from another,
and the chunk goes out with the input columns followed by iv, delta, gamma,
vega, theta, rho and status.

Two readers produce the same output: pandas (optional, fast C parser) and the
standard library's csv module (used when pandas is missing and for the
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
import time
from importlib import resources
from typing import Iterator

import numpy as np

from . import black76, bsm
from ._files import atomic_file

EXAMPLE_NAME = "example chain"
CHUNK_ROWS = 100_000
OUTPUT_COLUMNS = ("iv", "delta", "gamma", "vega", "theta", "rho", "status")

# Accepted header names of each input, compared after lower-casing and
# trimming.  The first name is the one the documentation uses.
ALIASES = {
    "type": ("type", "flag", "option_type", "cp", "call_put", "right"),
    "strike": ("strike", "k"),
    "expiry": ("expiry", "t", "years", "time_to_expiry"),
    "expiry_date": ("expiry_date", "expiration", "expiration_date", "maturity_date"),
    "valuation_date": ("valuation_date", "quote_date", "trade_date", "date"),
    "price": ("price", "premium", "mid", "target_price"),
    "spot": ("spot", "s", "underlying", "underlying_price"),
    "forward": ("forward", "f"),
    "rate": ("rate", "r"),
    "dividend": ("dividend", "q", "dividend_yield"),
}

# Why a row's price was not inverted, in the order the summary lists them.
STATUS_OK = "ok"
STATUS_INTRINSIC = "intrinsic"
REASONS = {
    "below_intrinsic": "below intrinsic",
    "above_upper_bound": "above upper bound",
    "invalid_input": "invalid inputs",
    "no_solution": "no solution",
}
PRICE_TOLERANCE = 1e-12  # the core's absolute tolerance on the price bounds


class ChainError(Exception):
    """A mistake in the user's input or options: reported in one line."""


@dataclasses.dataclass
class Options:
    model: str = "bsm"
    valuation_date: str | None = None
    rate: float | None = None
    dividend: float | None = None
    chunk_rows: int = CHUNK_ROWS


@dataclasses.dataclass
class Layout:
    """Where each input lives: a column position, or a constant."""

    header: list[str]
    columns: dict[str, int]
    constants: dict[str, float]
    valuation: np.datetime64 | None = None


@dataclasses.dataclass
class Chunk:
    """Raw text cells of some rows, and their line numbers in the file."""

    cells: dict[int, np.ndarray]  # column position -> array of str
    lines: np.ndarray
    passthrough: object  # rows to echo: a list of lists or a DataFrame


@dataclasses.dataclass
class Result:
    iv: np.ndarray
    greeks: tuple
    status: np.ndarray
    forward: np.ndarray
    strike: np.ndarray
    t: np.ndarray
    flag: np.ndarray
    expiry_label: np.ndarray
    core_seconds: float


# --------------------------------------------------------------------------
# columns


def resolve_layout(source: str, header: list[str], options: Options) -> Layout:
    names = [h.strip().lower() for h in header]
    underlying = "spot" if options.model == "bsm" else "forward"

    def find(key):
        for alias in ALIASES[key]:
            if alias in names:
                return names.index(alias)
        return None

    def missing(what):
        listed = ", ".join(header) if header else "none"
        return ChainError(f"{source}, line 1: missing column {what} (columns found: {listed})")

    columns, constants = {}, {}
    for key in ("type", "strike", "price", underlying):
        pos = find(key)
        if pos is None:
            raise missing(f"'{key}'")
        columns[key] = pos

    layout = Layout(header, columns, constants)
    pos = find("expiry")
    if pos is not None:
        columns["expiry"] = pos
    else:
        pos = find("expiry_date")
        if pos is None:
            raise missing("'expiry' (years) or 'expiry_date'")
        columns["expiry_date"] = pos
        if options.valuation_date is not None:
            layout.valuation = parse_date_option(options.valuation_date)
        else:
            pos = find("valuation_date")
            if pos is None:
                raise missing("'valuation_date' (or give --valuation-date)")
            columns["valuation_date"] = pos

    for key, given, default in (("rate", options.rate, None), ("dividend", options.dividend, 0.0)):
        if key == "dividend" and options.model == "black76":
            continue
        if given is not None:
            constants[key] = given
            continue
        pos = find(key)
        if pos is not None:
            columns[key] = pos
        elif default is not None:
            constants[key] = default
        else:
            raise missing(f"'{key}' (or give --{key})")
    return layout


def parse_date_option(text: str) -> np.datetime64:
    try:
        return np.datetime64(text.strip(), "D")
    except ValueError:
        raise ChainError(f"--valuation-date: not a date (YYYY-MM-DD): {text!r}") from None


# --------------------------------------------------------------------------
# cells to arrays


def _cell_error(source, layout, chunk, pos, i, what):
    line = int(chunk.lines[i])
    name = layout.header[pos].strip()
    value = str(chunk.cells[pos][i])
    return ChainError(f"{source}, line {line}, column {pos + 1} ({name}): {what}: {value!r}")


def parse_numbers(source, layout, chunk, pos, what="not a number") -> np.ndarray:
    cells = np.char.strip(chunk.cells[pos])
    cells = np.where(cells == "", "nan", cells)  # an empty cell is a missing value
    try:
        return cells.astype(np.float64)
    except ValueError:
        for i, text in enumerate(cells):
            try:
                float(text)
            except ValueError:
                raise _cell_error(source, layout, chunk, pos, i, what) from None
        raise


def parse_dates(source, layout, chunk, pos) -> np.ndarray:
    cells = np.char.strip(chunk.cells[pos])
    try:
        return cells.astype("datetime64[D]")
    except ValueError:
        for i, text in enumerate(cells):
            try:
                np.datetime64(text, "D")
            except ValueError:
                raise _cell_error(source, layout, chunk, pos, i, "not a date (YYYY-MM-DD)") from None
        raise


def parse_types(source, layout, chunk, pos) -> np.ndarray:
    words = np.char.lower(np.char.strip(chunk.cells[pos]))
    is_put = (words == "p") | (words == "put") | (words == "-1")
    is_call = (words == "c") | (words == "call") | (words == "1")
    bad = ~(is_put | is_call)
    if bad.any():
        i = int(np.argmax(bad))
        raise _cell_error(source, layout, chunk, pos, i, "not an option type (C, P, call, put, 1, -1)")
    return np.where(is_put, np.int8(-1), np.int8(1))


def year_fractions(source, layout, chunk) -> np.ndarray:
    """Time to expiry in years: the column, or ACT/365 between the dates."""
    if "expiry" in layout.columns:
        what = "not a number of years (name a date column expiry_date)"
        return parse_numbers(source, layout, chunk, layout.columns["expiry"], what)
    expiry = parse_dates(source, layout, chunk, layout.columns["expiry_date"])
    if layout.valuation is not None:
        valuation = layout.valuation
    else:
        valuation = parse_dates(source, layout, chunk, layout.columns["valuation_date"])
    days = (expiry - valuation).astype(np.float64)  # NaT becomes NaN
    return days / 365.0


def expiry_labels(layout, chunk, t) -> np.ndarray:
    if "expiry_date" in layout.columns:
        return np.char.strip(chunk.cells[layout.columns["expiry_date"]])
    return np.array([f"T = {x:.4g} y" for x in t]) if len(t) else np.array([], dtype=str)


def value_of(source, layout, chunk, key, n) -> np.ndarray:
    if key in layout.constants:
        return np.full(n, layout.constants[key])
    return parse_numbers(source, layout, chunk, layout.columns[key])


# --------------------------------------------------------------------------
# the computation


def classify(iv, price, put, s, k, t, r, q) -> np.ndarray:
    """Status of each row: ok, intrinsic (iv 0: no time value) or why the
    price could not be inverted, checked in the order the core checks."""
    status = np.full(len(iv), STATUS_OK, dtype=object)
    status[iv == 0.0] = STATUS_INTRINSIC
    failed = np.isnan(iv)
    if not failed.any():
        return status
    with np.errstate(all="ignore"):
        finite = np.isfinite(s) & np.isfinite(k) & np.isfinite(t) & np.isfinite(r) & np.isfinite(q)
        invalid = ~(finite & (s > 0) & (k > 0) & (t > 0) & np.isfinite(price) & (price >= 0))
        s_disc = s * np.exp(-q * t)
        k_disc = k * np.exp(-r * t)
        intrinsic = np.maximum(np.where(put, k_disc - s_disc, s_disc - k_disc), 0.0)
        upper = np.where(put, k_disc, s_disc)
        below = price < intrinsic - PRICE_TOLERANCE
        # The core also refuses prices so close to the bound that no finite
        # volatility reaches them: they count as at the upper bound.
        above = price > upper - upper * 1e-9 - PRICE_TOLERANCE
    status[failed] = "no_solution"
    status[failed & above] = "above_upper_bound"
    status[failed & below] = "below_intrinsic"
    status[failed & invalid] = "invalid_input"
    return status


def compute(source: str, layout: Layout, chunk: Chunk, model: str) -> Result:
    n = len(chunk.lines)
    flag = parse_types(source, layout, chunk, layout.columns["type"])
    k = parse_numbers(source, layout, chunk, layout.columns["strike"])
    price = parse_numbers(source, layout, chunk, layout.columns["price"])
    t = year_fractions(source, layout, chunk)
    r = value_of(source, layout, chunk, "rate", n)
    if model == "bsm":
        s = parse_numbers(source, layout, chunk, layout.columns["spot"])
        q = value_of(source, layout, chunk, "dividend", n)
        start = time.perf_counter()
        iv = bsm.iv(price, flag, s, k, t, r, q)
        greeks = bsm.greeks(flag, s, k, t, r, q, iv)
        core_seconds = time.perf_counter() - start
        with np.errstate(all="ignore"):
            forward = s * np.exp((r - q) * t)
    else:
        s = parse_numbers(source, layout, chunk, layout.columns["forward"])
        q = r
        start = time.perf_counter()
        iv = black76.iv(price, flag, s, k, t, r)
        greeks = black76.greeks(flag, s, k, t, r, iv)
        core_seconds = time.perf_counter() - start
        forward = s
    # Greeks at a volatility that does not exist are left empty.
    failed = np.isnan(iv)
    if failed.any():
        greeks = tuple(np.where(failed, np.nan, g) for g in greeks)
    status = classify(iv, price, flag < 0, s, k, t, r, q)
    labels = expiry_labels(layout, chunk, t)
    return Result(iv, greeks, status, forward, k, t, flag, labels, core_seconds)


# --------------------------------------------------------------------------
# readers


def _strip_bom(text: str) -> str:
    return text[1:] if text.startswith("\ufeff") else text


def _header_of(source: str, first_line: str) -> list[str]:
    if not first_line.strip():
        raise ChainError(f"{source}: empty file (expected a header line with column names)")
    return next(csv.reader([_strip_bom(first_line)]))


def builtin_chunks(source, handle, header_len, positions, rows) -> Iterator[Chunk]:
    """Chunks through the csv module: handle is a text file after the header."""
    reader = csv.reader(handle)
    while True:
        records, lines = [], []
        try:
            for record in reader:
                if not record or not any(field.strip() for field in record):
                    continue  # blank line
                if len(record) > header_len:
                    raise ChainError(
                        f"{source}, line {reader.line_num + 1}: expected {header_len} fields, "
                        f"found {len(record)}"
                    )
                if len(record) < header_len:
                    record = record + [""] * (header_len - len(record))
                records.append(record)
                lines.append(reader.line_num + 1)  # the header is line 1
                if len(records) == rows:
                    break
        except csv.Error as exc:
            raise ChainError(f"{source}, line {reader.line_num + 1}: {exc}") from None
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


# --------------------------------------------------------------------------
# writers


def _format(values: np.ndarray) -> list[str]:
    # repr is the shortest text that reads back as the same double.
    return ["" if v != v else repr(v) for v in values.tolist()]


def write_builtin(out, header, chunk: Chunk, result: Result, keep, first: bool):
    writer = csv.writer(out, lineterminator="\n")
    if first:
        writer.writerow([header[p] for p in keep] + list(OUTPUT_COLUMNS))
    computed = [_format(result.iv)] + [_format(g) for g in result.greeks] + [result.status.tolist()]
    writer.writerows(
        [record[p] for p in keep] + list(values)
        for record, values in zip(chunk.passthrough, zip(*computed))
    )


def write_pandas(out, header, chunk: Chunk, result: Result, keep, first: bool):
    import pandas as pd

    frame = chunk.passthrough[keep]
    frame.columns = [header[p] for p in keep]
    computed = pd.DataFrame(
        dict(zip(OUTPUT_COLUMNS, (result.iv, *result.greeks, result.status))),
        index=frame.index,
    )
    frame = pd.concat([frame, computed], axis=1)
    frame.to_csv(out, header=first, index=False, na_rep="", lineterminator="\n")


@contextlib.contextmanager
def atomic_output(path: str | None):
    """Standard output, or a file that appears only once fully written."""
    if path is None:
        yield sys.stdout
        sys.stdout.flush()
        return
    with atomic_file(path) as out:
        yield out


# --------------------------------------------------------------------------
# progress and summary


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

    def add(self, result: Result):
        status = result.status
        self.rows += len(status)
        self.core_seconds += result.core_seconds
        names, counts = np.unique(status.astype(str), return_counts=True)
        for name, count in zip(names.tolist(), counts.tolist()):
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


# --------------------------------------------------------------------------
# the run


@dataclasses.dataclass
class PlotData:
    labels: list = dataclasses.field(default_factory=list)
    strike: list = dataclasses.field(default_factory=list)
    forward: list = dataclasses.field(default_factory=list)
    t: list = dataclasses.field(default_factory=list)
    iv: list = dataclasses.field(default_factory=list)
    put: list = dataclasses.field(default_factory=list)

    def add(self, result: Result):
        keep = np.isfinite(result.iv) & (result.iv > 0)
        self.labels.append(result.expiry_label[keep])
        self.strike.append(result.strike[keep])
        self.forward.append(result.forward[keep])
        self.t.append(result.t[keep])
        self.iv.append(result.iv[keep])
        self.put.append(result.flag[keep] < 0)

    def arrays(self) -> dict:
        return {
            f.name: (np.concatenate(getattr(self, f.name)) if getattr(self, f.name) else np.array([]))
            for f in dataclasses.fields(self)
        }


def _open_source(path: str | None):
    """(display name, binary handle, total bytes) of the input."""
    if path is None:
        data = resources.files("karvex").joinpath("data", "example_chain.csv")
        return EXAMPLE_NAME, io.BytesIO(data.read_bytes()), None
    if path == "-":
        return "<stdin>", sys.stdin.buffer, None
    try:
        handle = open(path, "rb")
    except OSError as exc:
        raise ChainError(f"{path}: cannot read: {exc.strerror}") from None
    return path, handle, os.fstat(handle.fileno()).st_size


def run(path, output, options: Options, engine: str = "auto", plot_data: PlotData | None = None,
        progress_stream=None) -> Summary:
    """Process one chain (None: the example chain, "-": standard input) and
    return the summary.  Raises ChainError for user mistakes, after removing
    any partial output."""
    if engine == "auto":
        engine = "pandas" if path is not None and _have_pandas() else "builtin"
    if engine == "pandas" and not _have_pandas():
        raise ChainError("--engine pandas: pandas is not installed (pip install 'karvex[pandas]')")
    source, handle, total = _open_source(path)
    summary = Summary(source, options.model)
    start = time.perf_counter()  # from the first byte read to the last written
    progress = Progress(total, progress_stream)
    text = None
    try:
        try:
            first_line = handle.readline().decode("utf-8")
        except UnicodeDecodeError as exc:
            raise ChainError(f"{source}, line 1: not UTF-8 text ({exc.reason})") from None
        header = _header_of(source, first_line)
        layout = resolve_layout(source, header, options)
        positions = sorted(set(layout.columns.values()))
        keep = [p for p, h in enumerate(header) if h.strip().lower() not in OUTPUT_COLUMNS]
        if engine == "pandas":
            chunks = pandas_chunks(source, handle, len(header), positions, options.chunk_rows)
            write = write_pandas
        else:
            text = io.TextIOWrapper(handle, encoding="utf-8", newline="")
            chunks = builtin_chunks(source, text, len(header), positions, options.chunk_rows)
            write = write_builtin
        with atomic_output(output) as out:
            first = True
            try:
                for chunk in chunks:
                    result = compute(source, layout, chunk, options.model)
                    write(out, header, chunk, result, keep, first)
                    first = False
                    summary.add(result)
                    if plot_data is not None:
                        plot_data.add(result)
                    progress.update(summary.rows, _position(handle))
            except UnicodeDecodeError as exc:
                raise ChainError(f"{source}: not UTF-8 text ({exc.reason})") from None
            if first:  # no rows: the header alone
                csv.writer(out, lineterminator="\n").writerow(
                    [header[p] for p in keep] + list(OUTPUT_COLUMNS)
                )
    finally:
        progress.finish()
        if text is not None:
            text.detach()  # leave the binary handle to its owner
        if path not in (None, "-"):
            handle.close()
    summary.seconds = time.perf_counter() - start
    return summary


def _position(handle) -> int | None:
    try:
        return handle.tell()
    except (OSError, ValueError):
        return None


def _have_pandas() -> bool:
    try:
        import pandas  # noqa: F401
    except ImportError:
        return False
    return True
