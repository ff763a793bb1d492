"""Static signatures of the array functions in ``karvex.bsm`` and ``karvex.black76``.

The functions are made at import time from one table (see ``_array``); these
protocols give type checkers what each one accepts and returns:

- all arguments scalars: a ``float`` (``str`` for ``iv_status``, a ``Greeks``
  of floats for ``greeks``);
- arrays, sequences and scalars mixed (no Series): a float64 array (a ``str``
  array for ``iv_status``, a ``Greeks`` of arrays for ``greeks``);
- any argument a pandas Series: a Series (a DataFrame for ``greeks``).

The first two overloads overlap by design: calls match the first that fits.
"""

from __future__ import annotations

import datetime
from collections.abc import Sequence
from typing import (
    TYPE_CHECKING,
    Any,
    Generic,
    Literal,
    NamedTuple,
    Protocol,
    TypeVar,
    Union,
    overload,
)

import numpy as np
import numpy.typing as npt

if TYPE_CHECKING:
    import pandas as pd

    from .curves import RateCurve

F64Array = npt.NDArray[np.float64]
StatusArray = npt.NDArray[np.str_]
#: The arrays ``greeks`` writes into: delta, gamma, vega, theta, rho.
GreeksOut = tuple[F64Array, F64Array, F64Array, F64Array, F64Array]

# A number: ``float`` covers ``int`` and ``bool`` too.
Real = Union[float, np.floating[Any], np.integer[Any]]
# A flag: 'c'/'call'/'p'/'put', a signed integer, a whole float or a bool.
Flag = Union[str, bytes, float, np.integer[Any], np.floating[Any], np.bool_]
Numbers = Union[Real, npt.NDArray[Any], Sequence[Any]]
Flags = Union[Flag, npt.NDArray[Any], Sequence[Any]]
NumbersOrSeries = Union[Numbers, "pd.Series[Any]"]
FlagsOrSeries = Union[Flags, "pd.Series[Any]"]

#: A time to expiry as a duration (pandas' Timedelta is a timedelta).
Duration = Union[datetime.timedelta, np.timedelta64]
Durations = Union[Duration, Sequence[datetime.timedelta]]
#: How durations become years: ``"act/365f"`` or ``"act/360"`` (other
#: spellings as in ``karvex.year_fraction``).
DurationDayCount = str

#: Units of the Greeks: ``"raw"`` (the core's), ``"desk"`` (vega per vol point,
#: theta per calendar day, rho per 1 %), ``"desk252"`` (theta per trading day).
Units = Literal["raw", "desk", "desk252"]
#: Gamma per 1.0 of the underlying (``"unit"``) or per 1 % move of it (``"pct"``).
GammaMove = Literal["unit", "pct"]

_T = TypeVar("_T")

if TYPE_CHECKING:

    class Greeks(NamedTuple, Generic[_T]):
        """The five sensitivities of one option or of arrays of options."""

        delta: _T
        gamma: _T
        vega: _T
        theta: _T
        rho: _T

else:  # a generic NamedTuple needs Python 3.11 at run time

    class Greeks(NamedTuple):
        """The five sensitivities of one option or of arrays of options."""

        delta: Any
        gamma: Any
        vega: Any
        theta: Any
        rho: Any


# fmt: off
class BsmPrice(Protocol):
    """price (Black-Scholes-Merton)."""
    @overload
    def __call__(self, flag: FlagsOrSeries, s: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, q: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, out: F64Array, day_count: DurationDayCount = ...) -> F64Array: ...
    @overload
    def __call__(self, flag: Flag, s: Real, k: Real, t: Real | Duration, r: Real | RateCurve, q: Real | RateCurve, sigma: Real, *, out: None = ..., day_count: DurationDayCount = ...) -> float: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, flag: Flags, s: Numbers, k: Numbers, t: Numbers | Durations, r: Numbers | RateCurve, q: Numbers | RateCurve, sigma: Numbers, *, out: None = ..., day_count: DurationDayCount = ...) -> F64Array: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, flag: FlagsOrSeries, s: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, q: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, out: None = ..., day_count: DurationDayCount = ...) -> pd.Series[float]: ...


class BsmGreek(Protocol):
    """delta, theta, rho (Black-Scholes-Merton)."""
    @overload
    def __call__(self, flag: FlagsOrSeries, s: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, q: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, units: Units = ..., out: F64Array, day_count: DurationDayCount = ...) -> F64Array: ...
    @overload
    def __call__(self, flag: Flag, s: Real, k: Real, t: Real | Duration, r: Real | RateCurve, q: Real | RateCurve, sigma: Real, *, units: Units = ..., out: None = ..., day_count: DurationDayCount = ...) -> float: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, flag: Flags, s: Numbers, k: Numbers, t: Numbers | Durations, r: Numbers | RateCurve, q: Numbers | RateCurve, sigma: Numbers, *, units: Units = ..., out: None = ..., day_count: DurationDayCount = ...) -> F64Array: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, flag: FlagsOrSeries, s: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, q: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, units: Units = ..., out: None = ..., day_count: DurationDayCount = ...) -> pd.Series[float]: ...


class BsmGamma(Protocol):
    """gamma (Black-Scholes-Merton)."""
    @overload
    def __call__(self, s: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, q: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, units: Units = ..., gamma_move: GammaMove = ..., out: F64Array, day_count: DurationDayCount = ...) -> F64Array: ...
    @overload
    def __call__(self, s: Real, k: Real, t: Real | Duration, r: Real | RateCurve, q: Real | RateCurve, sigma: Real, *, units: Units = ..., gamma_move: GammaMove = ..., out: None = ..., day_count: DurationDayCount = ...) -> float: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, s: Numbers, k: Numbers, t: Numbers | Durations, r: Numbers | RateCurve, q: Numbers | RateCurve, sigma: Numbers, *, units: Units = ..., gamma_move: GammaMove = ..., out: None = ..., day_count: DurationDayCount = ...) -> F64Array: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, s: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, q: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, units: Units = ..., gamma_move: GammaMove = ..., out: None = ..., day_count: DurationDayCount = ...) -> pd.Series[float]: ...


class BsmVega(Protocol):
    """vega (Black-Scholes-Merton)."""
    @overload
    def __call__(self, s: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, q: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, units: Units = ..., out: F64Array, day_count: DurationDayCount = ...) -> F64Array: ...
    @overload
    def __call__(self, s: Real, k: Real, t: Real | Duration, r: Real | RateCurve, q: Real | RateCurve, sigma: Real, *, units: Units = ..., out: None = ..., day_count: DurationDayCount = ...) -> float: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, s: Numbers, k: Numbers, t: Numbers | Durations, r: Numbers | RateCurve, q: Numbers | RateCurve, sigma: Numbers, *, units: Units = ..., out: None = ..., day_count: DurationDayCount = ...) -> F64Array: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, s: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, q: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, units: Units = ..., out: None = ..., day_count: DurationDayCount = ...) -> pd.Series[float]: ...


class BsmGreeks(Protocol):
    """greeks (Black-Scholes-Merton)."""
    @overload
    def __call__(self, flag: FlagsOrSeries, s: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, q: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, units: Units = ..., gamma_move: GammaMove = ..., out: GreeksOut, day_count: DurationDayCount = ...) -> Greeks[F64Array]: ...
    @overload
    def __call__(self, flag: Flag, s: Real, k: Real, t: Real | Duration, r: Real | RateCurve, q: Real | RateCurve, sigma: Real, *, units: Units = ..., gamma_move: GammaMove = ..., out: None = ..., day_count: DurationDayCount = ...) -> Greeks[float]: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, flag: Flags, s: Numbers, k: Numbers, t: Numbers | Durations, r: Numbers | RateCurve, q: Numbers | RateCurve, sigma: Numbers, *, units: Units = ..., gamma_move: GammaMove = ..., out: None = ..., day_count: DurationDayCount = ...) -> Greeks[F64Array]: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, flag: FlagsOrSeries, s: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, q: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, units: Units = ..., gamma_move: GammaMove = ..., out: None = ..., day_count: DurationDayCount = ...) -> pd.DataFrame: ...


class BsmIv(Protocol):
    """iv (Black-Scholes-Merton)."""
    @overload
    def __call__(self, target_price: NumbersOrSeries, flag: FlagsOrSeries, s: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, q: NumbersOrSeries | RateCurve, *, out: F64Array, day_count: DurationDayCount = ...) -> F64Array: ...
    @overload
    def __call__(self, target_price: Real, flag: Flag, s: Real, k: Real, t: Real | Duration, r: Real | RateCurve, q: Real | RateCurve, *, out: None = ..., day_count: DurationDayCount = ...) -> float: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, target_price: Numbers, flag: Flags, s: Numbers, k: Numbers, t: Numbers | Durations, r: Numbers | RateCurve, q: Numbers | RateCurve, *, out: None = ..., day_count: DurationDayCount = ...) -> F64Array: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, target_price: NumbersOrSeries, flag: FlagsOrSeries, s: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, q: NumbersOrSeries | RateCurve, *, out: None = ..., day_count: DurationDayCount = ...) -> pd.Series[float]: ...


class BsmIvStatus(Protocol):
    """iv_status (Black-Scholes-Merton)."""
    @overload
    def __call__(self, target_price: Real, flag: Flag, s: Real, k: Real, t: Real | Duration, r: Real | RateCurve, q: Real | RateCurve, *, day_count: DurationDayCount = ...) -> str: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, target_price: Numbers, flag: Flags, s: Numbers, k: Numbers, t: Numbers | Durations, r: Numbers | RateCurve, q: Numbers | RateCurve, *, day_count: DurationDayCount = ...) -> StatusArray: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, target_price: NumbersOrSeries, flag: FlagsOrSeries, s: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, q: NumbersOrSeries | RateCurve, *, day_count: DurationDayCount = ...) -> pd.Series[str]: ...


class Black76Price(Protocol):
    """price (Black-76)."""
    @overload
    def __call__(self, flag: FlagsOrSeries, f: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, out: F64Array, day_count: DurationDayCount = ...) -> F64Array: ...
    @overload
    def __call__(self, flag: Flag, f: Real, k: Real, t: Real | Duration, r: Real | RateCurve, sigma: Real, *, out: None = ..., day_count: DurationDayCount = ...) -> float: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, flag: Flags, f: Numbers, k: Numbers, t: Numbers | Durations, r: Numbers | RateCurve, sigma: Numbers, *, out: None = ..., day_count: DurationDayCount = ...) -> F64Array: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, flag: FlagsOrSeries, f: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, out: None = ..., day_count: DurationDayCount = ...) -> pd.Series[float]: ...


class Black76Greek(Protocol):
    """delta, theta, rho (Black-76)."""
    @overload
    def __call__(self, flag: FlagsOrSeries, f: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, units: Units = ..., out: F64Array, day_count: DurationDayCount = ...) -> F64Array: ...
    @overload
    def __call__(self, flag: Flag, f: Real, k: Real, t: Real | Duration, r: Real | RateCurve, sigma: Real, *, units: Units = ..., out: None = ..., day_count: DurationDayCount = ...) -> float: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, flag: Flags, f: Numbers, k: Numbers, t: Numbers | Durations, r: Numbers | RateCurve, sigma: Numbers, *, units: Units = ..., out: None = ..., day_count: DurationDayCount = ...) -> F64Array: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, flag: FlagsOrSeries, f: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, units: Units = ..., out: None = ..., day_count: DurationDayCount = ...) -> pd.Series[float]: ...


class Black76Gamma(Protocol):
    """gamma (Black-76)."""
    @overload
    def __call__(self, f: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, units: Units = ..., gamma_move: GammaMove = ..., out: F64Array, day_count: DurationDayCount = ...) -> F64Array: ...
    @overload
    def __call__(self, f: Real, k: Real, t: Real | Duration, r: Real | RateCurve, sigma: Real, *, units: Units = ..., gamma_move: GammaMove = ..., out: None = ..., day_count: DurationDayCount = ...) -> float: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, f: Numbers, k: Numbers, t: Numbers | Durations, r: Numbers | RateCurve, sigma: Numbers, *, units: Units = ..., gamma_move: GammaMove = ..., out: None = ..., day_count: DurationDayCount = ...) -> F64Array: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, f: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, units: Units = ..., gamma_move: GammaMove = ..., out: None = ..., day_count: DurationDayCount = ...) -> pd.Series[float]: ...


class Black76Vega(Protocol):
    """vega (Black-76)."""
    @overload
    def __call__(self, f: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, units: Units = ..., out: F64Array, day_count: DurationDayCount = ...) -> F64Array: ...
    @overload
    def __call__(self, f: Real, k: Real, t: Real | Duration, r: Real | RateCurve, sigma: Real, *, units: Units = ..., out: None = ..., day_count: DurationDayCount = ...) -> float: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, f: Numbers, k: Numbers, t: Numbers | Durations, r: Numbers | RateCurve, sigma: Numbers, *, units: Units = ..., out: None = ..., day_count: DurationDayCount = ...) -> F64Array: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, f: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, units: Units = ..., out: None = ..., day_count: DurationDayCount = ...) -> pd.Series[float]: ...


class Black76Greeks(Protocol):
    """greeks (Black-76)."""
    @overload
    def __call__(self, flag: FlagsOrSeries, f: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, units: Units = ..., gamma_move: GammaMove = ..., out: GreeksOut, day_count: DurationDayCount = ...) -> Greeks[F64Array]: ...
    @overload
    def __call__(self, flag: Flag, f: Real, k: Real, t: Real | Duration, r: Real | RateCurve, sigma: Real, *, units: Units = ..., gamma_move: GammaMove = ..., out: None = ..., day_count: DurationDayCount = ...) -> Greeks[float]: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, flag: Flags, f: Numbers, k: Numbers, t: Numbers | Durations, r: Numbers | RateCurve, sigma: Numbers, *, units: Units = ..., gamma_move: GammaMove = ..., out: None = ..., day_count: DurationDayCount = ...) -> Greeks[F64Array]: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, flag: FlagsOrSeries, f: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, sigma: NumbersOrSeries, *, units: Units = ..., gamma_move: GammaMove = ..., out: None = ..., day_count: DurationDayCount = ...) -> pd.DataFrame: ...


class Black76Iv(Protocol):
    """iv (Black-76)."""
    @overload
    def __call__(self, target_price: NumbersOrSeries, flag: FlagsOrSeries, f: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, *, out: F64Array, day_count: DurationDayCount = ...) -> F64Array: ...
    @overload
    def __call__(self, target_price: Real, flag: Flag, f: Real, k: Real, t: Real | Duration, r: Real | RateCurve, *, out: None = ..., day_count: DurationDayCount = ...) -> float: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, target_price: Numbers, flag: Flags, f: Numbers, k: Numbers, t: Numbers | Durations, r: Numbers | RateCurve, *, out: None = ..., day_count: DurationDayCount = ...) -> F64Array: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, target_price: NumbersOrSeries, flag: FlagsOrSeries, f: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, *, out: None = ..., day_count: DurationDayCount = ...) -> pd.Series[float]: ...


class Black76IvStatus(Protocol):
    """iv_status (Black-76)."""
    @overload
    def __call__(self, target_price: Real, flag: Flag, f: Real, k: Real, t: Real | Duration, r: Real | RateCurve, *, day_count: DurationDayCount = ...) -> str: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, target_price: Numbers, flag: Flags, f: Numbers, k: Numbers, t: Numbers | Durations, r: Numbers | RateCurve, *, day_count: DurationDayCount = ...) -> StatusArray: ...  # type: ignore[overload-overlap]
    @overload
    def __call__(self, target_price: NumbersOrSeries, flag: FlagsOrSeries, f: NumbersOrSeries, k: NumbersOrSeries, t: NumbersOrSeries | Durations, r: NumbersOrSeries | RateCurve, *, day_count: DurationDayCount = ...) -> pd.Series[str]: ...
# fmt: on
