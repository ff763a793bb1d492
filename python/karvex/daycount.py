"""Year fractions between dates under the market's day-count conventions.

``year_fraction(start, end, day_count)`` takes dates and date-times in any of
the usual Python, NumPy and pandas forms, broadcasts them like NumPy and
returns the fraction of a year between each pair.  The conventions, exactly
(``d`` is a day of the month, ``m`` a month, ``y`` a year; start ``1``, end
``2``):

``act/365f``
    actual days / 365.
``act/360``
    actual days / 360.
``act/act isda``
    the days in each calendar year over that year's length (365 or 366):
    ``(y2 - y1 - 1) + days(start, 1 Jan y1+1) / len(y1) + days(1 Jan y2, end) / len(y2)``,
    evaluated in that order, and 0 for equal dates.
``30/360`` (bond basis, 30A/360, ISDA 2006 4.16(f))
    ``(360 (y2 - y1) + 30 (m2 - m1) + d2 - d1) / 360`` with ``d1 = 30`` if
    it is 31, and ``d2 = 30`` if it is 31 and ``d1`` is now 30.
``30/360 us`` (30/360 US, the Securities Industry Association rule)
    the same sum, the days adjusted in this order: ``d2 = 30`` if both dates
    are the last day of February; ``d1 = 30`` if it is the last day of
    February; ``d2 = 30`` if it is 31 and ``d1`` is 30 or 31; ``d1 = 30`` if
    it is 31.
``30e/360`` (Eurobond basis, ISDA 2006 4.16(g))
    the same sum, with any 31st (start or end) read as the 30th.
``bus/252``
    the business days in ``[start, end)`` / 252: Monday to Friday except the
    ``holidays`` (or the days a ``numpy.busdaycalendar`` opens).

These are QuantLib's ``Actual365Fixed``, ``Actual360``,
``ActualActual(ISDA)``, ``Thirty360(BondBasis)``, ``Thirty360(USA)``,
``Thirty360(European)`` and ``Business252``, and the results are the same
doubles for dates with ``start <= end`` (tested against a QuantLib table).

Time of day.  Date-times are measured in fractional days, so that an option
expiring at 16:00 has its hours counted: under the Act conventions the days
are the exact elapsed time, under Act/Act ISDA each part of it over the
length of its year; a 30/360 count adds the difference of the two times of
day (in days) to the count of the dates; a business-day count adds the part
of the end date that has passed and removes the part of the start date that
has passed, each only if that date is a business day (a business day is one
unit of business time spread evenly over its 24 hours).  Dates alone are
midnight, so for them none of this changes anything.

End before start.  Every convention gives ``year_fraction(b, a) ==
-year_fraction(a, b)``: a negative fraction, as an expired option's time to
expiry is.  For the Act conventions this is what the formulas give by
themselves; for 30/360 and Business/252 it means the rule is applied to the
pair in date order and the result negated (QuantLib applies the 30/360
adjustments in the order given and counts ``(end, start]`` business days
backwards, so reversed pairs may differ from it by a day).

Missing dates (``NaT``, ``None``, ``pandas.NaT``, a float NaN) give NaN.
"""

from __future__ import annotations

import datetime
import math
import re
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any, Union, overload

import numpy as np
import numpy.typing as npt

if TYPE_CHECKING:
    import pandas as pd

__all__ = ["DAY_COUNTS", "year_fraction"]

F64Array = npt.NDArray[np.float64]
# datetime64 arrays of any unit (NumPy's stubs type little of their arithmetic)
Stamps = npt.NDArray[Any]

#: One date: an ISO text (``"2024-02-29"``, ``"2024-02-29T16:00"``), a
#: ``datetime.date`` or ``datetime.datetime`` (pandas' ``Timestamp`` is one) or
#: a ``numpy.datetime64``.
DateLike = str | datetime.date | np.datetime64
#: Dates: one date, a sequence of them, a ``datetime64`` (or object) array or a
#: pandas Series or Index of dates.
Dates = Union[  # noqa: UP007 (quoted names)
    DateLike, npt.NDArray[Any], Sequence[Any], "pd.Series[Any]", "pd.Index[Any]"
]
#: The holidays of a Business/252 count: dates, or a ``numpy.busdaycalendar``
#: that also sets the weekend.
Holidays = Union[Dates, np.busdaycalendar]  # noqa: UP007 (Dates holds quoted names)

#: The conventions by their canonical names.
DAY_COUNTS = ("act/365f", "act/360", "act/act isda", "30/360", "30/360 us", "30e/360", "bus/252")

# Every accepted spelling, folded (lower case; blanks, '_' and '-' removed;
# 'actual' read as 'act', 'business' as 'bus'), to its canonical name.
_NAMES = {name.replace(" ", ""): name for name in DAY_COUNTS} | {
    "act/365fixed": "act/365f",
    "act/act": "act/act isda",
    "30/360bondbasis": "30/360",
    "30a/360": "30/360",
    "30u/360": "30/360 us",
    "30/360usa": "30/360 us",
    "30/360eurobondbasis": "30e/360",
}
_BLANKS = re.compile(r"[\s_\-]+")

# ISO dates and date-times as NumPy reads them; anything else ('today',
# 'now', a time zone, a month alone) is refused rather than read some other way.
_ISO = re.compile(r"\d{4}-\d{2}-\d{2}(?:[T ]\d{2}:\d{2}(?::\d{2}(?:\.\d{1,9})?)?)?|NaT", re.ASCII)

_DAY = np.timedelta64(1, "D")


def _convention(day_count: str) -> str:
    """The canonical name of ``day_count``, or ValueError listing the known ones."""
    if not isinstance(day_count, str):
        raise TypeError(f"day_count must be a str, not {type(day_count).__name__}")
    folded = _BLANKS.sub("", day_count.lower()).replace("actual", "act").replace("business", "bus")
    name = _NAMES.get(folded)
    if name is None:
        raise ValueError(
            f"unknown day count {day_count!r}; known: {', '.join(DAY_COUNTS)}"
            " (also 'act/365 fixed', 'act/act', '30/360 bond basis', '30u/360', 'business/252')"
        )
    return name


def _is_missing(value: object) -> bool:
    """None, pandas' NaT or a float NaN (pandas' missing value in object columns)."""
    if isinstance(value, float):
        return math.isnan(value)
    return value is None or type(value).__name__ == "NaTType"


def _check_text(name: str, text: str) -> None:
    if _ISO.fullmatch(text.strip()) is None:
        raise ValueError(
            f"{name}: not an ISO date or date-time (YYYY-MM-DD[THH:MM[:SS[.f]]]): {text!r}"
        )


def _check_object(name: str, value: object) -> None:
    """One element of an object array (or a scalar): a date, a text or missing."""
    if isinstance(value, str):
        _check_text(name, value)
    elif isinstance(value, datetime.datetime):
        if value.tzinfo is not None:
            raise ValueError(
                f"{name}: time-zone-aware date-times are not supported;"
                f" convert them to naive ones first: {value!r}"
            )
    elif not isinstance(value, (datetime.date, np.datetime64)) and not _is_missing(value):
        raise TypeError(f"{name}: expected dates, got {type(value).__name__}: {value!r}")


def _parse_texts(name: str, texts: npt.NDArray[np.str_]) -> Stamps:
    """ISO texts as datetime64, each distinct text parsed once."""
    distinct, inverse = np.unique(texts, return_inverse=True)
    for text in distinct.tolist():
        _check_text(name, text)
        try:
            np.datetime64(text.strip())
        except ValueError:  # 2023-02-29, 25:00
            raise ValueError(f"{name}: not a real day or time: {text!r}") from None
    stamps = np.char.strip(distinct).astype("datetime64")
    return stamps[inverse.reshape(texts.shape)]


def to_datetime64(name: str, value: Any) -> Stamps:
    """``value`` as a ``datetime64`` array of days or a finer unit.

    Parameters
    ----------
    name : str
        The argument's name, for error messages.
    value : Dates
        Dates in any accepted form.

    Returns
    -------
    numpy.ndarray
        ``datetime64`` with the unit of the input (days at the coarsest; a
        month or a year means its first day); missing dates are NaT.

    Raises
    ------
    TypeError
        Numbers, booleans or other objects that are not dates.
    ValueError
        Texts that are not ISO dates, impossible dates, time-zone-aware
        date-times.
    """
    if isinstance(value, np.ndarray) and value.dtype.kind == "M":
        arr = value
    elif isinstance(value, str):
        arr = _parse_texts(name, np.asarray(value))
    else:
        if isinstance(value, datetime.date) or _is_missing(value):
            _check_object(name, value)
            value = np.array([value], dtype=object).reshape(())
        arr = np.asarray(value)
        kind = arr.dtype.kind
        if kind in "US":
            arr = _parse_texts(name, arr.astype(str))
        elif kind == "O":
            elements = arr.ravel().tolist()
            for element in elements:
                _check_object(name, element)
            arr = np.array([None if _is_missing(x) else x for x in elements], dtype=object).reshape(
                arr.shape
            )  # NumPy reads None as NaT, not pandas' NaT or NaN
            try:
                arr = arr.astype("datetime64")
            except ValueError as exc:  # a text naming no real day
                raise ValueError(f"{name}: {exc}") from None
        elif arr.size == 0:  # [] is float64 to NumPy
            arr = arr.astype("datetime64[D]")
        elif kind != "M":
            raise TypeError(f"{name}: expected dates, got an array of dtype {arr.dtype}")
    unit = np.datetime_data(arr.dtype)[0]
    if unit in ("Y", "M", "W", "generic"):
        arr = arr.astype("datetime64[D]")
    return arr


def _ymd(days: Stamps) -> tuple[npt.NDArray[np.int64], ...]:
    """Year, month (1-12) and day of the month of dates (NaT gives garbage)."""
    months = days.astype("datetime64[M]")
    year = days.astype("datetime64[Y]").astype(np.int64) + 1970
    month = months.astype(np.int64) % 12 + 1
    day = (days - months.astype("datetime64[D]")).astype(np.int64) + 1
    return year, month, day


def _is_leap(year: npt.NDArray[np.int64]) -> npt.NDArray[np.bool_]:
    leap: npt.NDArray[np.bool_] = (year % 4 == 0) & ((year % 100 != 0) | (year % 400 == 0))
    return leap


def _act_act_isda(a: Stamps, b: Stamps) -> F64Array:
    """Act/Act ISDA for a <= b, in QuantLib's order of operations."""
    year_a = a.astype("datetime64[Y]")
    year_b = b.astype("datetime64[Y]")
    y1 = year_a.astype(np.int64)
    y2 = year_b.astype(np.int64)
    length1 = np.where(_is_leap(y1 + 1970), 366.0, 365.0)
    length2 = np.where(_is_leap(y2 + 1970), 366.0, 365.0)
    head = ((year_a + 1).astype("datetime64[D]") - a) / _DAY
    tail = (b - year_b.astype("datetime64[D]")) / _DAY
    total: F64Array = (y2 - y1 - 1).astype(np.float64) + head / length1 + tail / length2
    return np.where(a == b, 0.0, total)


def _last_of_february(days: Stamps, month: npt.NDArray[np.int64]) -> npt.NDArray[np.bool_]:
    last: npt.NDArray[np.bool_] = (month == 2) & (
        (days + 1).astype("datetime64[M]") != days.astype("datetime64[M]")
    )
    return last


def _thirty_360(name: str, a: Stamps, b: Stamps) -> F64Array:
    """A 30/360 count for a <= b (times of day as a fraction of a day)."""
    da = a.astype("datetime64[D]")
    db = b.astype("datetime64[D]")
    y1, m1, d1 = _ymd(da)
    y2, m2, d2 = _ymd(db)
    if name == "30/360 us":  # in the rule's order: February first
        feb1 = _last_of_february(da, m1)
        d2 = np.where(feb1 & _last_of_february(db, m2), 30, d2)
        d1 = np.where(feb1, 30, d1)
        d2 = np.where((d2 == 31) & (d1 >= 30), 30, d2)
    d1 = np.where(d1 == 31, 30, d1)
    if name == "30e/360":
        d2 = np.where(d2 == 31, 30, d2)
    elif name == "30/360":
        d2 = np.where((d2 == 31) & (d1 == 30), 30, d2)
    count = (360 * (y2 - y1) + 30 * (m2 - m1) + (d2 - d1)).astype(np.float64)
    clock = ((b - db) - (a - da)) / _DAY
    result: F64Array = (count + clock) / 360.0
    return result


def _calendar(holidays: Holidays | None) -> np.busdaycalendar:
    if isinstance(holidays, np.busdaycalendar):
        return holidays
    if holidays is None:
        return np.busdaycalendar()
    days = to_datetime64("holidays", holidays).astype("datetime64[D]").ravel()
    return np.busdaycalendar(holidays=days[~np.isnat(days)])


def _business_252(a: Stamps, b: Stamps, calendar: np.busdaycalendar) -> F64Array:
    """Business days in [a, b) / 252 for a <= b, the times of day on business days counted."""
    missing = np.isnat(a) | np.isnat(b)
    epoch = np.datetime64(0, "D")
    da = np.where(missing, epoch, a.astype("datetime64[D]"))
    db = np.where(missing, epoch, b.astype("datetime64[D]"))
    count = np.busday_count(da, db, busdaycal=calendar).astype(np.float64)
    clock_a = np.where(np.is_busday(da, busdaycal=calendar), (a - da) / _DAY, 0.0)
    clock_b = np.where(np.is_busday(db, busdaycal=calendar), (b - db) / _DAY, 0.0)
    result: F64Array = (count - clock_a + clock_b) / 252.0
    return np.where(missing, np.nan, result)


@overload
def year_fraction(  # type: ignore[overload-overlap]
    start: DateLike, end: DateLike, day_count: str = ..., holidays: Holidays | None = ...
) -> float: ...
@overload
def year_fraction(
    start: Dates, end: Dates, day_count: str = ..., holidays: Holidays | None = ...
) -> F64Array: ...


def year_fraction(
    start: Dates, end: Dates, day_count: str = "act/365f", holidays: Holidays | None = None
) -> float | F64Array:
    """The fraction of a year from ``start`` to ``end`` under a day count.

    Parameters
    ----------
    start, end : date-like or array-like of dates
        ISO texts (``"2024-02-29"``, ``"2024-02-29T16:00"``, also with a
        blank for the ``T``), ``datetime.date``, ``datetime.datetime``,
        ``numpy.datetime64``, pandas ``Timestamp``; or sequences, NumPy arrays
        (``datetime64``, text or object) and pandas Series or Index of them.
        The two broadcast against each other like NumPy arrays.  Date-times
        must be naive (no time zone).
    day_count : str, default ``"act/365f"``
        One of ``DAY_COUNTS``: ``"act/365f"``, ``"act/360"``,
        ``"act/act isda"``, ``"30/360"`` (bond basis), ``"30/360 us"``,
        ``"30e/360"``, ``"bus/252"``.  Case, blanks, ``_`` and ``-`` do not
        matter; ``actual`` and ``business`` may be written out.
    holidays : dates or numpy.busdaycalendar, optional
        Business/252 only: the days, besides Saturdays and Sundays, that are
        not business days; or a ``numpy.busdaycalendar`` that also names the
        weekend.  A time of day in a holiday is ignored.

    Returns
    -------
    float or numpy.ndarray of float64
        A ``float`` when both dates are single values, else an array of the
        broadcast shape.  Negative when ``end`` is before ``start``
        (``year_fraction(b, a) == -year_fraction(a, b)`` under every
        convention); NaN where a date is missing.

    Raises
    ------
    ValueError
        An unknown day count, holidays with a convention other than
        Business/252, a text that is not an ISO date, an impossible date, a
        time-zone-aware date-time, shapes that do not broadcast.
    TypeError
        Something that is not a date (numbers included).

    Notes
    -----
    The module's docstring gives each convention's definition and how a
    time of day counts.

    Examples
    --------
    >>> import karvex
    >>> karvex.year_fraction("2024-01-31", "2024-07-31", "act/360")
    0.5055555555555555
    >>> karvex.year_fraction("2024-02-29", ["2024-03-31", "2025-02-28"], "30/360")
    array([0.08888889, 0.99722222])
    """
    name = _convention(day_count)
    if holidays is not None and name != "bus/252":
        raise ValueError(f"holidays apply to bus/252 only, not to {name}")
    a = to_datetime64("start", start)
    b = to_datetime64("end", end)
    try:
        a, b = np.broadcast_arrays(a, b)
    except ValueError:
        raise ValueError(
            f"start and end do not broadcast: shapes {a.shape} and {b.shape}"
        ) from None
    if name in ("act/365f", "act/360"):
        days = (b - a) / _DAY
        result = days / (365.0 if name == "act/365f" else 360.0)
    else:
        backwards = b < a
        lo, hi = np.where(backwards, b, a), np.where(backwards, a, b)
        if name == "act/act isda":
            forward = _act_act_isda(lo, hi)
        elif name == "bus/252":
            forward = _business_252(lo, hi, _calendar(holidays))
        else:
            forward = _thirty_360(name, lo, hi)
        result = np.where(backwards, -forward, forward)
    if result.ndim == 0:
        return float(result)
    return np.asarray(result, dtype=np.float64)
