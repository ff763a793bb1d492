"""The ``karvex`` command (also ``python -m karvex``).

karvex chain [FILE]   implied volatility and Greeks of every option in a CSV
                      chain (without FILE: the example chain shipped with karvex)
karvex bench          options per second at one worker and at all workers
"""

from __future__ import annotations

import argparse
import os
import signal
import sys
import threading
from typing import TYPE_CHECKING, Any

from . import __version__

if TYPE_CHECKING:
    from ._chain.options import Exit, Options

# What each input column means, in the order --help lists them; the names
# accepted for each come from the command's own table.
COLUMN_HELP = {
    "type": "C / P / call / put (or 1 / -1)",
    "strike": "strike price",
    "expiry": "time to expiry in years, or instead:",
    "expiry_date": "expiry date (at --expiry-time), date-time or instant (Z, +HH:MM, epoch)",
    "expiry_clock": "with expiry_date: the expiry's time of day on each row (else --expiry-time)",
    "valuation_date": "with expiry_date: the quote's date or date-time (or --valuation-date)",
    "price": "market price of the option, or instead (or --price-column NAME):",
    "bid": "bid and ask: the price is their mid; no bid (0), a crossed quote or",
    "ask": "a missing side is a status of its own, with no volatility",
    "spot": "bsm: price of the underlying (a column of text, e.g. a ticker, is skipped)",
    "underlying_bid": "instead of spot: the mid of the underlying's bid",
    "underlying_ask": "and ask",
    "forward": "black76: forward price of the underlying",
    "rate": "continuously compounded rate, 0.05 = 5% (or --rate)",
    "dividend": "continuous dividend yield (bsm; or --dividend; default 0)",
    "ticker": "the underlying's name: a file of several is grouped by it",
}

CHAIN_FOOTER = """\
Time to expiry: (expiry date at --expiry-time, default 16:00, minus the
quote's date-time) / 365 days; with dates alone, whole days / 365 (a date-only
quote is taken at the 16:00 close).  Dates: YYYY-MM-DD, YYYYMMDD or
YYYY-MM-DD HH:MM[:SS[.fraction]], with Z or +HH:MM for instants, epoch numbers
(--timestamp-unit) or --date-format; Parquet dates and timestamps by their
type.  Instants need a zone on --expiry-time (e.g. 08:00Z).  A quote at or
after its expiry has the status expired.

Output: the input columns, then iv, delta, gamma, vega, theta, rho and status
(ok; intrinsic: no time value, iv 0; near_intrinsic: below intrinsic by at
most --intrinsic-tolerance, iv 0; below_intrinsic, above_upper_bound,
invalid_input, no_solution, no_bid, crossed_quote, missing_quote, expired,
no_forward: iv and Greeks left empty).  With --forward parity, the column
implied_forward comes before iv, and the Greeks are by the spot through the
carry the forward implies (by the forward, Black-76's, when the file has no
spot).  --audit adds t_years, price_used, forward_used and discount_factor
before status.  A wide chain (each row a call and a put: call_bid, put_ask,
...) gets call_iv ... call_status, then put_iv ... put_status.  Vega is per 1.0 of volatility, theta per
year, rho per 1.0 of rate.  Input columns named like one of these are kept
as input_NAME.  A summary goes to standard error.

Output files (-o, --plot) appear only when the whole run succeeds; a symbolic
link is followed, a device or FIFO is written in place.

Parquet (needs pyarrow: pip install 'karvex[arrow]'): a FILE ending in
.parquet, .parq or .pq, or starting with Parquet's magic bytes, is read as
Parquet; -o FILE with such an ending, or --format parquet, writes Parquet."""


def chain_help() -> str:
    """The columns part of `karvex chain --help`: every accepted name."""
    from ._chain.aliases import ALIASES

    lines = ["Columns (header names, any case; other columns are copied to the output):"]
    for key, text in COLUMN_HELP.items():
        lines.append(f"  {key:<16}{text}")
        others = ALIASES[key][1:]
        if others:
            lines.append(f"  {'':<16}also: {', '.join(others)}")
    return "\n".join(lines) + "\n\n" + CHAIN_FOOTER


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="karvex",
        description="European option prices, Greeks and implied volatilities (BSM and Black-76).",
    )
    parser.add_argument("--version", action="version", version=f"karvex {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True

    chain = commands.add_parser(
        "chain",
        help="implied volatility and Greeks of an option chain (CSV or Parquet)",
        description="Implied volatility and the five Greeks of every option of a CSV or Parquet chain.",
        epilog=chain_help(),
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    chain.add_argument(
        "file",
        nargs="?",
        metavar="FILE",
        help="CSV or Parquet option chain ('-' for standard input; default: the example chain)",
    )
    chain.add_argument(
        "--model",
        choices=("bsm", "black76", "normal"),
        default="bsm",
        help="bsm: spot with dividend yield (default); black76: forward; normal: forward and "
        "strikes of any sign, absolute (Bachelier) volatilities",
    )
    chain.add_argument(
        "--exercise",
        choices=("european", "american"),
        default="european",
        help="american: American exercise (bsm; needs the rate and the dividend yield, as "
        "columns, --rate/--dividend or curves: put-call parity does not hold)",
    )
    chain.add_argument(
        "--american-mode",
        choices=("fast", "accurate", "precise"),
        help="karvex.american's accuracy mode under --exercise american (default: accurate)",
    )
    chain.add_argument(
        "-o", "--output", metavar="FILE", help="write the result to FILE (default: standard output)"
    )
    chain.add_argument(
        "--plot", metavar="FILE.png", help="draw the volatility smile per expiry (needs matplotlib)"
    )
    chain.add_argument(
        "--plot-x",
        choices=("std", "logm", "kf", "strike"),
        default="std",
        help="the smile's x axis: std, ln(K/F) / sqrt(t) (default); logm, ln(K/F); kf, K/F; "
        "strike, K",
    )
    chain.add_argument(
        "--plot-bidask", action="store_true", help="bars from the bid's volatility to the ask's"
    )
    chain.add_argument(
        "--valuation-date", metavar="YYYY-MM-DD", help="valuation date for an expiry_date column"
    )
    chain.add_argument(
        "--expiry-time",
        metavar="HH:MM[ZONE]",
        default="16:00",
        help="time of day options expire on their expiry date (default 16:00), with a zone "
        "where times are instants: 08:00Z, '16:00 America/New_York'",
    )
    chain.add_argument(
        "--price-column",
        metavar="NAME",
        help="the column that holds the option's price (e.g. last or mark)",
    )
    chain.add_argument(
        "--forward",
        choices=("model", "parity"),
        default="model",
        help="model: the spot carried at r - q, or the forward column (default); "
        "parity: per expiry from call and put prices, then Black-76 on it",
    )
    chain.add_argument(
        "--intrinsic-tolerance",
        type=_tolerance,
        default=0.0,
        metavar="X",
        help="a price at most X below intrinsic value gives iv 0 (status near_intrinsic); "
        "default 0",
    )
    chain.add_argument(
        "--rate", type=float, metavar="R", help="rate for every row (replaces the column)"
    )
    chain.add_argument(
        "--dividend",
        type=float,
        metavar="Q",
        help="dividend yield for every row (replaces the column)",
    )
    chain.add_argument(
        "--rate-curve",
        metavar="CURVE",
        help="each row's rate: the zero rate at its years to expiry of tenor=rate pairs"
        " (1m=0.043,3m=0.044,1y=4.5%%) or of a CSV file of tenors and zero rates or discount"
        " factors",
    )
    chain.add_argument(
        "--dividend-curve", metavar="CURVE", help="each row's dividend yield, as --rate-curve"
    )
    chain.add_argument(
        "--engine",
        choices=("auto", "arrow", "builtin", "pandas"),
        default="auto",
        help="reader and writer: auto (default) takes Python's csv module for small CSV "
        "files and pyarrow, when installed, for the rest; pandas is the builtin engine",
    )
    chain.add_argument(
        "--format",
        choices=("csv", "parquet"),
        dest="output_format",
        help="output format (default: by the extension of -o FILE, else csv)",
    )
    chain.add_argument(
        "--chunk-rows",
        type=_positive,
        default=100_000,
        metavar="N",
        help="rows per chunk; memory grows with it (default 100000)",
    )
    chain.add_argument(
        "--column",
        action="append",
        dest="columns",
        metavar="INPUT=NAME",
        help="the column NAME holds INPUT (e.g. strike=StrikePx), before the names listed "
        "below; repeatable",
    )
    stamps = chain.add_argument_group("time stamps")
    stamps.add_argument(
        "--timestamp-unit",
        choices=("s", "ms", "us", "ns"),
        help="whole numbers in date columns are epoch times in this unit",
    )
    stamps.add_argument(
        "--day-count",
        metavar="NAME",
        help="years to expiry under act/365f (default), act/360, act/act, 30/360, 30e/360,"
        " 30/360us or bus/252",
    )
    stamps.add_argument(
        "--holidays", metavar="FILE", help="bus/252's holidays: one YYYY-MM-DD a line"
    )
    stamps.add_argument(
        "--date-format", metavar="FMT", help="dates as strptime reads them, e.g. %%d/%%m/%%Y"
    )
    units = chain.add_argument_group(
        "units (stated where the file's numbers are not in the usual ones)"
    )
    units.add_argument(
        "--price-unit",
        choices=("quote", "underlying"),
        help="premiums in currency (quote) or in units of the underlying, e.g. coins: then "
        "each is converted at its row's underlying price",
    )
    units.add_argument("--strike-scale", metavar="X", help="each strike times X, e.g. 0.001")
    units.add_argument("--rate-unit", choices=("decimal", "percent"), help="rates: 0.043 or 4.3")
    units.add_argument(
        "--dividend-unit", choices=("decimal", "percent"), help="dividend yields: 0.013 or 1.3"
    )
    chain.add_argument(
        "-q",
        "--quiet",
        action="store_true",
        help="no summary and no progress on standard error: errors and warnings only",
    )
    chain.add_argument(
        "--units",
        choices=("raw", "desk", "desk252"),
        default="raw",
        help="the Greeks' units: raw (per 1.0 of vol and rate, theta per year), desk (vega_per_pt,"
        " theta_per_day, rho_per_pct, and gamma_pct: per 1 %% move) or desk252 (theta_per_252d)",
    )
    chain.add_argument(
        "--second-order",
        action="store_true",
        help="add the second-order Greeks after the Greeks, raw units: vanna, volga, charm, veta,"
        " speed, zomma, color, dual_delta, dual_gamma and (bsm) dividend_rho",
    )
    chain.add_argument(
        "--audit",
        action="store_true",
        help="add t_years, price_used, forward_used and discount_factor before status",
    )
    chain.add_argument(
        "--delimiter",
        type=_character,
        metavar="C",
        help="CSV field delimiter, e.g. ';' or '\\t' (default: sniffed from the header)",
    )
    chain.add_argument(
        "--decimal",
        type=_character,
        metavar="C",
        help="decimal mark of numbers: . or , (default: sniffed from the first lines)",
    )

    bench = commands.add_parser(
        "bench",
        help="options per second of price, greeks and iv on this machine",
        description="Throughput of the vectorised core at one worker and at all workers.",
    )
    bench.add_argument("--model", choices=("bsm", "black76"), default="bsm")
    bench.add_argument(
        "--size",
        type=_positive,
        default=500_000,
        metavar="N",
        help="options per call (default 500000)",
    )
    bench.add_argument(
        "--seconds",
        type=float,
        default=0.5,
        metavar="S",
        help="time spent per measurement, at least (default 0.5)",
    )
    bench.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    return parser


def _positive(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1: {text}")
    return value


def _character(text: str) -> str:
    text = {"\\t": "\t", "tab": "\t"}.get(text, text)
    if len(text) != 1 or text in '"\r\n':
        raise argparse.ArgumentTypeError(f"one character (not a quote or line end): {text!r}")
    return text


def _tolerance(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not value >= 0.0 or value == float("inf"):
        raise argparse.ArgumentTypeError(f"must be a finite number, 0 or more: {text}")
    return value


def _options(args: argparse.Namespace) -> Options:
    from ._chain.options import Options

    return Options(
        file=args.file,
        output=args.output,
        plot=args.plot,
        plot_x=args.plot_x,
        plot_bidask=args.plot_bidask,
        engine=args.engine,
        quiet=args.quiet,
        model=args.model,
        exercise=args.exercise,
        american_mode=args.american_mode,
        valuation_date=args.valuation_date,
        rate=args.rate,
        dividend=args.dividend,
        rate_curve=args.rate_curve,
        dividend_curve=args.dividend_curve,
        chunk_rows=args.chunk_rows,
        output_format=args.output_format,
        price_column=args.price_column,
        forward=args.forward,
        intrinsic_tolerance=args.intrinsic_tolerance,
        expiry_time=args.expiry_time,
        audit=args.audit,
        second_order=args.second_order,
        units=args.units,
        delimiter=args.delimiter,
        decimal=args.decimal,
        columns=args.columns,
        price_unit=args.price_unit,
        strike_scale=args.strike_scale,
        rate_unit=args.rate_unit,
        dividend_unit=args.dividend_unit,
        timestamp_unit=args.timestamp_unit,
        date_format=args.date_format,
        day_count=args.day_count,
        holidays=args.holidays,
    )


def _chain(options: Options) -> Exit:
    from ._chain.driver import run
    from ._chain.options import Exit

    summary = run(options)
    if options.quiet:
        lines = [" ".join(f"karvex: {line.strip()}".split(None, 2)) for line in summary.warnings()]
    else:
        lines = summary.lines()
        if options.output:
            lines.append(f"  output:       {options.output}")
        if options.plot:
            lines.append(f"  plot:         {options.plot} ({summary.plot_note})")
    if lines:
        print("\n".join(lines), file=sys.stderr)
    return Exit.OK


def _command(argv: list[str] | None) -> int:
    args = _parser().parse_args(argv)
    if args.command == "bench":
        from . import _bench

        if args.child:
            return _bench.child_main(args.model, args.size, args.seconds)
        return _bench.main(args.model, args.size, args.seconds)
    return _chain(_options(args))


def main(argv: list[str] | None = None) -> int:
    """The command; `argv` None is this process's own command line, which
    ends when this returns."""
    from ._chain import interrupts
    from ._chain.options import ChainError, Exit

    # Our own handlers of SIGTERM and (unless it is ignored, as in a background job) SIGINT,
    # which record the signal besides raising it: see interrupts.  They are in place before
    # anything else, the help text included.
    previous: dict[signal.Signals, Any] = {}
    if threading.current_thread() is threading.main_thread():
        for signum in (signal.SIGTERM, signal.SIGINT):
            if (
                signum == signal.SIGINT
                and signal.getsignal(signum) is not signal.default_int_handler
            ):
                continue
            previous[signum] = signal.signal(signum, interrupts.on_signal)
    interrupts.received = None
    interrupts.finished = False
    status: int = Exit.ERROR
    try:
        status = _command(argv)
        return status
    except (ChainError, RuntimeError) as exc:
        print(f"karvex: error: {exc}", file=sys.stderr)
        return Exit.ERROR
    except OSError as exc:
        if isinstance(exc, BrokenPipeError) and exc.filename is None:
            # The reader of standard output went away (e.g. `| head`).
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(devnull, sys.stdout.fileno())
            return Exit.ERROR
        where = f"{exc.filename}: " if exc.filename else ""
        print(f"karvex: error: {where}{exc.strerror or exc}", file=sys.stderr)
        return Exit.ERROR
    except KeyboardInterrupt:
        print("karvex: interrupted", file=sys.stderr)
        interrupts.forget_unhandled_interrupt()
        return Exit.INTERRUPTED
    except interrupts.Terminated:
        print("karvex: terminated", file=sys.stderr)
        return Exit.TERMINATED
    finally:
        if argv is None and status == Exit.OK and previous:
            # The run is done and the process ends now: a signal during the
            # interpreter's exit would only turn a success into a failure.
            for number in previous:
                signal.signal(number, signal.SIG_IGN)
        else:
            for number, handler in previous.items():
                signal.signal(number, handler)
        interrupts.received = None
        interrupts.finished = False


if __name__ == "__main__":
    sys.exit(main())
