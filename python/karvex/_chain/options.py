"""The run's settings as one object, the one error type for the user's
mistakes, and the exit statuses.

Where a setting the user gives takes effect:

    file, engine                  read (which reader, on what)
    price_column                  columns (which column holds the price)
    columns                       columns (--column INPUT=NAME, before the aliases)
    valuation_date, expiry_time   columns (parsed once, times.py) and dates (years)
    day_count, holidays           columns (parsed once, times.py) and dates (years)
    timestamp_unit, date_format   cells (stamps, by times.py's rules)
    rate, dividend                columns (a constant replaces the column)
    rate_curve, dividend_curve    columns (parsed once), prices (at each row's t), summary
    price_unit, strike_scale,     columns (parsed once), prices (converted and checked,
      rate_unit, dividend_unit      right after the cells are read)
    model, forward                columns (what is needed), prices, parity
    exercise                      columns (refuses parity forwards), compute (the kernels)
    intrinsic_tolerance           compute
    output, output_format, plot   write, files and plot
    chunk_rows                    read (rows per chunk)
    quiet                         summary (no summary, no progress line)
    audit                         compute (computed_names, Result.audit)
    units                         compute (computed_names, in_units)
    second_order                  compute (computed_names, SECOND_ORDER_COLUMNS)
    delimiter, decimal            chunk.Source, settled by read_csv.read_header (sniffed
                                  when not given); the readers' parsers, cells.numbers
"""

from __future__ import annotations

import dataclasses
import enum

CHUNK_ROWS = 100_000


class ChainError(Exception):
    """A mistake in the user's input or options: reported in one line."""


class PlotUnavailable(ChainError):
    """--plot without matplotlib."""


class Exit(enum.IntEnum):
    """The command's exit statuses."""

    OK = 0
    ERROR = 1  # a mistake in the input or the options, a file that cannot be written
    INTERRUPTED = 130  # Ctrl-C (128 + SIGINT)
    TERMINATED = 143  # SIGTERM (128 + SIGTERM)


@dataclasses.dataclass
class Options:
    file: str | None = None  # the chain: None is the example chain, "-" standard input
    output: str | None = None  # None: standard output
    plot: str | None = None  # the smile picture (PNG)
    plot_x: str = "std"  # its x axis: std, logm, kf or strike (see plot.py)
    plot_bidask: bool = False  # bid/ask volatility bars on the smile
    engine: str = "auto"  # auto, arrow or builtin: who reads and writes the table
    quiet: bool = False  # errors and warnings only
    model: str = "bsm"
    exercise: str = "european"  # or american: karvex.american (bsm only)
    american_mode: str | None = None  # karvex.american's mode: None is accurate; fast, precise
    valuation_date: str | None = None
    rate: float | None = None
    dividend: float | None = None
    rate_curve: str | None = None  # tenor=rate pairs or a curve file (karvex.Curve)
    dividend_curve: str | None = None  # the same, of dividend yields
    chunk_rows: int = CHUNK_ROWS
    output_format: str | None = None  # csv or parquet; None: by the output's extension
    day_count: str | None = None  # karvex.daycount's conventions; None: act/365f
    holidays: str | None = None  # a file of bus/252's holidays, one ISO date a line
    expiry_time: str = "16:00"  # the time of day options expire on their expiry date
    price_column: str | None = None  # the header name of the price, e.g. last or mark
    forward: str = "model"  # model: from the spot (bsm) or the forward column; parity: from quotes
    intrinsic_tolerance: float = 0.0  # price units a quote may sit below intrinsic and read as iv 0
    units: str = "raw"  # the Greeks' units: raw, desk or desk252 (compute.GREEK_COLUMNS)
    audit: bool = False  # add what each row was computed from (compute.AUDIT_COLUMNS)
    second_order: bool = False  # add the second-order Greeks (compute.SECOND_ORDER_COLUMNS)
    delimiter: str | None = None  # CSV field delimiter; None: sniffed from the header
    decimal: str | None = None  # decimal mark of numbers; None: sniffed from the first lines
    columns: list[str] | None = None  # --column INPUT=NAME: names outside the alias table
    # The units of the file's numbers (units.py); None: not stated, the data is checked.
    price_unit: str | None = None  # quote (currency) or underlying
    strike_scale: str | None = None  # each strike times this
    rate_unit: str | None = None  # decimal or percent
    dividend_unit: str | None = None  # decimal or percent
    timestamp_unit: str | None = None  # s, ms, us or ns: whole numbers in date columns
    date_format: str | None = None  # strptime's format of the dates, tried first

    @property
    def parity(self) -> bool:
        return self.forward == "parity"

    def model_name(self) -> str:
        """The model as the summary names it."""
        if self.exercise == "american":
            return f"{self.model}, American exercise ({self.american_mode or 'accurate'} mode)"
        return "black76 on parity forwards" if self.parity else self.model
