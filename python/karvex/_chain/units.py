"""Units of a chain's numbers: the checks that refuse premiums, strikes,
rates and dividend yields that are almost certainly in other units than the
computation takes, and the conversions once the user states the unit.

Pure functions over NumPy arrays of one chunk; nothing here reads a file or
knows a column.  Where it runs in `karvex chain`, per chunk, in this order:

1. After the cells become numbers (strike, rate, dividend, the underlying's
   price as the row gives it) and before anything is derived from them:
   `convert` applies the stated units (--strike-scale, --rate-unit,
   --dividend-unit).  The underlying is the row's spot column for BSM, its
   forward column for Black-76 (None for a run with neither, e.g. parity
   forwards with no spot column: the checks that need it are skipped).
2. After the price of each row is known (the mid of bid and ask, or the
   price column) and before the core runs: `check` over the chunk, per
   snapshot (`groups`: the row's index into `names`, e.g. one per
   underlying and quote date; None: the chunk is one).  It raises ChainError
   on the first group that fails; the caller has nothing else to do.
3. Right after `check`, with --price-unit underlying: `premiums_in_currency`
   on every premium the run keeps (the mid or price, and the bid where the
   run reports it).

The checks use robust statistics (medians, and a bound that holds for every
row), so a few bad rows neither trigger nor hide a unit error.  A group with
too few rows to tell is let through.  Each check's numbers and margins are
given where it is defined.
"""

from __future__ import annotations

import dataclasses
import decimal
import math
from collections.abc import Sequence

import numpy as np

from .options import ChainError

PRICE_UNITS = ("quote", "underlying")  # --price-unit: currency, or units of the underlying
RATE_UNITS = ("decimal", "percent")  # --rate-unit and --dividend-unit

# Strikes: the median strike over the underlying of a chain lies within
# [0.2, 5] (listed strikes span a few standard deviations around the money;
# the samples' medians are 0.977 to 1.008).  Outside it, the power of ten
# that brings it nearest 1 is the suggested --strike-scale: x1000 gives ~1000.
STRIKE_BAND = (0.2, 5.0)

# Premiums in units of the underlying (a coin's options priced in coins).
# In the money by 5 % or more (|ln K/S| >= 0.05), a premium in currency is at
# least about its intrinsic value |S - K| (the samples' medians of premium /
# intrinsic are 1.01 to 1.08, their 10th percentiles above 0.87); quoted in
# units of the underlying it is that divided by S (1.04e-5 on the coin sample
# at 97,000).  Below MAX_COIN_RATIO the premiums are taken to be in units of
# the underlying: 20 times under the lowest currency median, and any
# underlying above ~30 quoted in its own units falls below it.  The ratio is
# scale-free: penny options on a cheap stock pass, and out-of-the-money
# wings (however cheap) never enter it.
ITM_MONEYNESS = 0.05
MAX_COIN_RATIO = 0.05
# Stated in units of the underlying, the converted premiums are checked the
# other way: a median above MIN_CURRENCY_RATIO (20 times over the intrinsic
# value) means they were in currency already (it gives about S).
MIN_CURRENCY_RATIO = 20.0
# Where fewer than MIN_ROWS options are that far in the money (a file of
# out-of-the-money options), near the money (|ln K/S| <= 0.05) a premium in
# units of the underlying is below 1.05 (a call is worth less than the
# underlying, a put less than its strike).  With the underlying at 1,000 or
# more, every such premium below COIN_PREMIUM_CAP says units of the
# underlying: in currency that would mean an at-the-money value under 0.11 %
# of the underlying for every expiry of the snapshot (sigma sqrt(t) < 0.003:
# only expiries minutes away).  The samples' largest such premiums are 0.11 in
# coins against 17.8 to 739 in currency.
NEAR_MONEYNESS = 0.05
COIN_PREMIUM_CAP = 1.1
COIN_UNDERLYING_FLOOR = 1000.0
MIN_ROWS = 3

# Rates and dividend yields, continuously compounded decimals.  A rate above
# 1 (100 %) or below -0.05 (-5 %) is no currency's: the highest rates with
# listed options are near 0.5 (50 %), the lowest ever about -0.0075.  A yield
# (any carry, e.g. a coin's basis) may be negative, but not beyond -1.  Values
# outside are taken for percent.  Percent values within the band (0.25 for
# 0.25 %) cannot be told from decimals: the unit options exist for them.
RATE_BAND = (-0.05, 1.0)
DIVIDEND_BAND = (-1.0, 1.0)


@dataclasses.dataclass(frozen=True)
class Units:
    """The units the user stated; None: not stated, the data is checked."""

    price: str | None = None  # --price-unit: "quote" (currency) or "underlying"
    strike_scale: float | None = None  # --strike-scale: each strike is multiplied by it
    rate: str | None = None  # --rate-unit: "decimal" or "percent"
    dividend: str | None = None  # --dividend-unit: "decimal" or "percent"


def parse_units(
    price: str | None = None,
    strike_scale: str | float | None = None,
    rate: str | None = None,
    dividend: str | None = None,
) -> Units:
    """The options' texts as Units; a value that is not one is a ChainError
    naming the option."""
    for option, value, allowed in (
        ("--price-unit", price, PRICE_UNITS),
        ("--rate-unit", rate, RATE_UNITS),
        ("--dividend-unit", dividend, RATE_UNITS),
    ):
        if value is not None and value not in allowed:
            raise ChainError(f"{option}: not one of {', '.join(allowed)}: {value!r}")
    scale = None
    if strike_scale is not None:
        try:
            scale = float(strike_scale)
        except ValueError:
            scale = math.nan
        if not (math.isfinite(scale) and scale > 0.0):
            raise ChainError(f"--strike-scale: not a positive number: {strike_scale!r}")
    return Units(price, scale, rate, dividend)


# --- Conversions: each exact in the sense given. ---


def decimal_shift(values: np.ndarray, places: int) -> np.ndarray:
    """`values` times 10**places, each the double nearest the decimal result
    of the number as written (its shortest form): 4.3 shifted by -2 is 0.043
    and 5612500 by -3 is 5612.5, where a multiplication by 0.01 or 0.001 (not
    exact in binary) may be off by a unit in the last place."""
    values = np.asarray(values, dtype=np.float64)
    factor = 10.0 ** abs(places)
    whole = np.isfinite(values) & (values == np.round(values)) & (np.abs(values) < 2.0**53)
    with np.errstate(invalid="ignore"):  # integers: one correctly rounded operation
        out = values * factor if places >= 0 else values / factor
    rest = np.flatnonzero(~whole & np.isfinite(values))
    if len(rest):
        distinct, index = np.unique(values[rest], return_inverse=True)
        shifted = [float(decimal.Decimal(repr(x)).scaleb(places)) for x in distinct.tolist()]
        out[rest] = np.array(shifted, dtype=np.float64)[index.reshape(-1)]
    return out


def scale_strikes(strike: np.ndarray, scale: float) -> np.ndarray:
    """Strikes times --strike-scale: a power of ten moves the decimal point
    (see `decimal_shift`), any other scale is one multiplication."""
    places = round(math.log10(scale))
    if 10.0**places == scale or (places < 0 and 1.0 / 10.0 ** (-places) == scale):
        return decimal_shift(strike, places)
    return np.asarray(strike, dtype=np.float64) * scale


def from_percent(values: np.ndarray) -> np.ndarray:
    """Percent to decimal: 4.3 -> 0.043 (see `decimal_shift`)."""
    return decimal_shift(values, -2)


def premiums_in_currency(premium: np.ndarray, underlying: np.ndarray | None) -> np.ndarray:
    """Premiums quoted in units of the underlying, in currency: each times its
    row's underlying price as the file gives it (the coin's index or the
    future for the expiry, whichever column the run takes as the underlying),
    one multiplication.  Convert the mid, not the bid and ask before it."""
    if underlying is None:
        raise ChainError(
            "--price-unit underlying: premiums in units of the underlying need the underlying's"
            " price on each row (a spot or forward column)"
        )
    return np.asarray(premium, dtype=np.float64) * np.asarray(underlying, dtype=np.float64)


def convert(
    units: Units,
    strike: np.ndarray,
    rate: np.ndarray | None = None,
    dividend: np.ndarray | None = None,
) -> tuple[np.ndarray, np.ndarray | None, np.ndarray | None]:
    """(strike, rate, dividend) in the computation's units, as stated (stage
    1 of the module's note); an input not stated is returned as it is."""
    if units.strike_scale is not None:
        strike = scale_strikes(strike, units.strike_scale)
    if rate is not None and units.rate == "percent":
        rate = from_percent(rate)
    if dividend is not None and units.dividend == "percent":
        dividend = from_percent(dividend)
    return strike, rate, dividend


# --- Checks. ---


def _fmt(x: float) -> str:
    """A number as the messages show it: 4 significant digits, thousands
    separated."""
    if not math.isfinite(x):
        return str(x)
    if abs(x) >= 1000.0:
        return f"{x:,.2f}".rstrip("0").rstrip(".")
    return f"{x:.4g}"


def strike_ratio(strike: np.ndarray, underlying: np.ndarray) -> float:
    """Median strike / underlying over the rows where both are positive; NaN
    with fewer than MIN_ROWS."""
    with np.errstate(invalid="ignore", divide="ignore"):
        ok = (strike > 0.0) & (underlying > 0.0) & np.isfinite(strike) & np.isfinite(underlying)
    if ok.sum() < MIN_ROWS:
        return math.nan
    return float(np.median(strike[ok] / underlying[ok]))


def check_strikes(strike: np.ndarray, underlying: np.ndarray, units: Units) -> None:
    """Strikes (after --strike-scale) against the underlying: the median
    ratio within STRIKE_BAND, or a ChainError naming the scale that would
    bring it there."""
    ratio = strike_ratio(strike, underlying)
    if math.isnan(ratio) or STRIKE_BAND[0] <= ratio <= STRIKE_BAND[1]:
        return
    places = -round(math.log10(ratio))
    suggested = units.strike_scale or 1.0
    suggested = float(decimal.Decimal(repr(suggested)).scaleb(places))
    stated = "" if units.strike_scale is None else f" after --strike-scale {units.strike_scale:g}"
    at = np.flatnonzero(np.isfinite(strike) & np.isfinite(underlying))
    middle = at[np.argsort(strike[at] / underlying[at])[len(at) // 2]]
    raise ChainError(
        f"strikes look scaled by {10.0**-places:g}{stated}: median strike/underlying"
        f" {_fmt(ratio)} (e.g. strike {_fmt(float(strike[middle]))} against an underlying of"
        f" {_fmt(float(underlying[middle]))}); state --strike-scale {suggested:g}"
    )


def premium_ratio(
    premium: np.ndarray, is_call: np.ndarray, strike: np.ndarray, underlying: np.ndarray
) -> tuple[float, int]:
    """(median premium / intrinsic value, rows) over the options in the money
    by ITM_MONEYNESS or more with a premium; NaN with fewer than MIN_ROWS."""
    with np.errstate(invalid="ignore", divide="ignore"):
        m = np.log(strike / underlying)
        itm = np.where(is_call, m <= -ITM_MONEYNESS, m >= ITM_MONEYNESS) & np.isfinite(premium)
        rows = int(itm.sum())
        if rows < MIN_ROWS:
            return math.nan, rows
        return float(np.median(premium[itm] / np.abs(underlying[itm] - strike[itm]))), rows


def near_money_premiums(
    premium: np.ndarray, strike: np.ndarray, underlying: np.ndarray
) -> tuple[float, float, int]:
    """(largest premium, median underlying, rows) of the options within
    NEAR_MONEYNESS of the money with a premium; NaNs with fewer than
    MIN_ROWS."""
    with np.errstate(invalid="ignore", divide="ignore"):
        near = (np.abs(np.log(strike / underlying)) <= NEAR_MONEYNESS) & np.isfinite(premium)
    rows = int(near.sum())
    if rows < MIN_ROWS:
        return math.nan, math.nan, rows
    return float(np.max(premium[near])), float(np.median(underlying[near])), rows


def check_premiums(
    premium: np.ndarray,
    is_call: np.ndarray,
    strike: np.ndarray,
    underlying: np.ndarray,
    units: Units,
) -> None:
    """Premiums as quoted (before any conversion) against the unit stated or
    assumed (currency); see the constants for the tests and their margins."""
    if units.price == "quote":  # insisted on: no check
        return
    coins = units.price == "underlying"
    ratio, rows = premium_ratio(premium, is_call, strike, underlying)
    if not math.isnan(ratio):
        spot = float(np.nanmedian(underlying))
        if not coins and ratio < MAX_COIN_RATIO:
            raise ChainError(
                f"premiums look quoted in units of the underlying: {rows} options in the money"
                f" are priced at a median {_fmt(ratio)} of their intrinsic value (median"
                f" premium {_fmt(float(np.nanmedian(premium)))} against an underlying of"
                f" {_fmt(spot)}); state --price-unit underlying (or --price-unit quote if"
                " they are in currency)"
            )
        if coins and ratio * spot > MIN_CURRENCY_RATIO:
            raise ChainError(
                f"--price-unit underlying, but the premiums look quoted in currency: {rows}"
                f" options in the money are priced at a median {_fmt(ratio)} of their intrinsic"
                f" value as they stand, {_fmt(ratio * spot)} times it converted at an"
                f" underlying of {_fmt(spot)}; drop --price-unit underlying"
            )
        return
    if coins:
        return
    largest, spot, rows = near_money_premiums(premium, strike, underlying)
    if spot >= COIN_UNDERLYING_FLOOR and largest < COIN_PREMIUM_CAP:
        raise ChainError(
            f"premiums look quoted in units of the underlying: the {rows} options near the"
            f" money are all priced under {_fmt(COIN_PREMIUM_CAP)} (at most {_fmt(largest)})"
            f" against an underlying of {_fmt(spot)}; state --price-unit underlying (or"
            " --price-unit quote if they are in currency)"
        )


def check_rates(values: np.ndarray, what: str, unit: str | None, min_rows: int = MIN_ROWS) -> None:
    """Rates ('rate', --rate-unit) or dividend yields ('dividend',
    --dividend-unit), after any conversion: refused when their median lies
    outside the decimal band (RATE_BAND, DIVIDEND_BAND) and no unit is
    stated.  A column needs MIN_ROWS values to be judged (a stray row is the
    per-row warning's); --rate or --dividend is judged alone (min_rows 1)."""
    if unit is not None:
        return
    values = np.asarray(values, dtype=np.float64)
    values = values[np.isfinite(values)]
    if len(values) < max(min_rows, 1):
        return
    low, high = RATE_BAND if what == "rate" else DIVIDEND_BAND
    median = float(np.median(values))
    if low <= median <= high:
        return
    name = "rates" if what == "rate" else "dividend yields"
    raise ChainError(
        f"{name} look given in percent: median {_fmt(median)} (a decimal {what} lies within"
        f" [{low:g}, {high:g}]); state --{what}-unit percent (or give {_fmt(median / 100.0)})"
    )


def check(
    units: Units,
    is_call: np.ndarray,
    strike: np.ndarray,
    premium: np.ndarray,
    underlying: np.ndarray | None,
    rate: np.ndarray | None = None,
    dividend: np.ndarray | None = None,
    groups: np.ndarray | None = None,
    names: Sequence[str] = (),
) -> None:
    """Stage 2 of the module's note, on a chunk: strikes, premiums, rates and
    dividend yields in the units the computation takes, per group.

    `strike`, `rate` and `dividend` are converted (`convert`); `premium` is
    the price of each row as quoted (NaN: none), `underlying` the row's spot
    or forward (None: the file has neither).  The strikes are checked first:
    strikes x1000 would make every put look deep in the money.  A failure is
    a ChainError whose message starts with the group's name, if any."""
    is_call = np.asarray(is_call) > 0
    if groups is None:
        groups = np.zeros(len(strike), dtype=np.intp)
        names = names or ("",)
    order = np.argsort(groups, kind="stable")
    bounds = np.flatnonzero(np.diff(groups[order])) + 1
    for rows in np.split(order, bounds) if len(order) else []:
        name = names[int(groups[rows[0]])] if names else ""
        try:
            if underlying is not None:
                check_strikes(strike[rows], underlying[rows], units)
                check_premiums(premium[rows], is_call[rows], strike[rows], underlying[rows], units)
            if rate is not None:
                check_rates(rate[rows], "rate", units.rate)
            if dividend is not None:
                check_rates(dividend[rows], "dividend", units.dividend)
        except ChainError as error:
            raise ChainError(f"{name}: {error}" if name else str(error)) from None
