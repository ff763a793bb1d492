"""Black-76 on a forward price (futures options, caps/floors, swaptions).

Each function takes Python numbers, sequences, NumPy arrays of any shape and
numeric dtype, masked arrays, pandas Series and DataFrames, polars Series,
pyarrow arrays or xarray DataArrays, broadcasts them together and returns a
float (all-scalar input), an array in the broadcast shape, or the caller's
container.  Parameters and their order are those of the
``karvex._core.black76_*`` functions::

    price(flag, f, k, t, r, sigma)        gamma(f, k, t, r, sigma)
    delta / theta / rho / greeks: like price
    vega(f, k, t, r, sigma)               iv(target_price, flag, f, k, t, r)
    iv_status: like iv
    vanna, volga, veta, speed, zomma, color, dual_gamma: like gamma
    charm, dual_delta, second_order: like price

``flag``: 'c'/'call' or 'p'/'put' (any case), an integer whose sign decides
(negative = put, zero or positive = call), or a bool read as "is a call"
(True = call, False = put).

This file is written by tools/gen_array_api.py.
"""

# fmt: off
from __future__ import annotations

from typing import TYPE_CHECKING, Any, overload

from ._array import call as _call
from ._array import entry_of as _entry_of
from ._array import evaluate as _evaluate
from ._array import signed as _signed
from ._types import Black76SecondOrder, Greeks

if TYPE_CHECKING:
    import pandas as pd

    from ._types import (
        _C,
        F64Array,
        Flag,
        Flags,
        GammaMove,
        GreeksOut,
        Numbers,
        PolarsFrame,
        Rate,
        Rates,
        Real,
        SecondOrderOut,
        StatusArray,
        Time,
        Times,
        Units,
    )

__all__ = ["price", "delta", "gamma", "vega", "theta", "rho", "greeks", "iv", "iv_status", "vanna", "volga", "charm", "veta", "speed", "zomma", "color", "dual_delta", "dual_gamma", "second_order", "Greeks", "Black76SecondOrder"]

_PRICE = _entry_of("black76", "price")
_DELTA = _entry_of("black76", "delta")
_GAMMA = _entry_of("black76", "gamma")
_VEGA = _entry_of("black76", "vega")
_THETA = _entry_of("black76", "theta")
_RHO = _entry_of("black76", "rho")
_GREEKS = _entry_of("black76", "greeks")
_IV = _entry_of("black76", "iv")
_IV_STATUS = _entry_of("black76", "iv_status")
_VANNA = _entry_of("black76", "vanna")
_VOLGA = _entry_of("black76", "volga")
_CHARM = _entry_of("black76", "charm")
_VETA = _entry_of("black76", "veta")
_SPEED = _entry_of("black76", "speed")
_ZOMMA = _entry_of("black76", "zomma")
_COLOR = _entry_of("black76", "color")
_DUAL_DELTA = _entry_of("black76", "dual_delta")
_DUAL_GAMMA = _entry_of("black76", "dual_gamma")
_SECOND_ORDER = _entry_of("black76", "second_order")


@overload
def price(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: F64Array, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def price(flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: pd.DataFrame) -> pd.Series[float]: ...

@overload
def price(flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: PolarsFrame) -> Any: ...

@overload
def price(flag: Flag, f: Real, k: Real, t: Time, r: Rate, sigma: Real, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> float: ...  # type: ignore[overload-overlap]

@overload
def price(flag: Flags, f: Numbers, k: Numbers, t: Times, r: Rates, sigma: Numbers, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def price(flag: pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def price(flag: Flags | pd.Series[Any], f: pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def price(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def price(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def price(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def price(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def price(flag: _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def price(flag: Flags | _C, f: _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def price(flag: Flags | _C, f: Numbers | _C, k: _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def price(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def price(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def price(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

def price(*args: Any, **kwargs: Any) -> Any:
    """Option price. (Black-76)

    Parameters
    ----------
    flag : float, array_like or Series
        'c'/'call' or 'p'/'put' (any case); integers by sign (negative = put); booleans as is-a-call (True = call, False = put)
    f : float, array_like or Series
        forward price of the underlying
    k : float, array_like or Series
        strike
    t : float, array_like or Series
        time to expiry in years, or durations (timedelta, timedelta64, pandas,
        polars or pyarrow durations) counted under day_count
    r : float, array_like or Series, or Curve
        continuously compounded interest rate (0.05 for 5%), or a rate curve
        (karvex.Curve) evaluated at each option's t
    sigma : float, array_like or Series
        volatility per square root of a year (0.2 for 20%)
    out : float64 ndarray of the broadcast shape, optional
        Where to write the result, which is then returned (Series indexes and
        masks are not applied).  The core writes into out without a copy when
        out is contiguous in the inputs' order and shares no memory with them;
        otherwise it computes into an array of its own, which is copied.
    shift : float, optional
        Shifted (displaced) lognormal Black-76: the Black-76 function of
        f + shift and k + shift (each sum rounded once), bit for bit, for
        forwards and strikes down to -shift.  Options whose f + shift or
        k + shift is not positive give NaN (iv_status: 'invalid_input').
        None (the default): plain Black-76, with no such check.
    day_count : {'act/365f', 'act/360'}, default 'act/365f'
        How durations given as t become years: their days (with the fraction of
        a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)
        need dates: give t = karvex.year_fraction(start, end, day_count) instead.
    data : pandas or polars DataFrame, optional
        With data, an argument given as a str is that column of data (the flag
        may still be a flag word such as 'c' where no column has that name); the
        result is a Series (polars: a Series named after the quantity) on the
        frame's index.

    Returns
    -------
    float, ndarray of float64, or the container of the input
        float for scalar input, float64 array in the broadcast shape otherwise,
        Series for Series input (see the README for the other containers).

        An option with a NaN input gives NaN; sigma = +inf (t > 0) gives the limit
        as the volatility grows (price: the discounted spot for a call, the
        discounted strike for a put).

    Notes
    -----
    All arguments broadcast together as in NumPy; masked arrays give masked results.
    Values are those of karvex._core.black76_price on the broadcast float64/int8 arrays.
    """
    if kwargs or len(args) != 6:
        return _call(_PRICE, args, kwargs)
    return _evaluate(_PRICE, list(args))


@overload
def delta(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: F64Array, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def delta(flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: pd.DataFrame) -> pd.Series[float]: ...

@overload
def delta(flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: PolarsFrame) -> Any: ...

@overload
def delta(flag: Flag, f: Real, k: Real, t: Time, r: Rate, sigma: Real, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> float: ...  # type: ignore[overload-overlap]

@overload
def delta(flag: Flags, f: Numbers, k: Numbers, t: Times, r: Rates, sigma: Numbers, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def delta(flag: pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def delta(flag: Flags | pd.Series[Any], f: pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def delta(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def delta(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def delta(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def delta(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def delta(flag: _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def delta(flag: Flags | _C, f: _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def delta(flag: Flags | _C, f: Numbers | _C, k: _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def delta(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def delta(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: _C, sigma: Numbers | _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def delta(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

def delta(*args: Any, **kwargs: Any) -> Any:
    """Delta: change of the price per 1.0 of the underlying. (Black-76)

    Parameters
    ----------
    flag : float, array_like or Series
        'c'/'call' or 'p'/'put' (any case); integers by sign (negative = put); booleans as is-a-call (True = call, False = put)
    f : float, array_like or Series
        forward price of the underlying
    k : float, array_like or Series
        strike
    t : float, array_like or Series
        time to expiry in years, or durations (timedelta, timedelta64, pandas,
        polars or pyarrow durations) counted under day_count
    r : float, array_like or Series, or Curve
        continuously compounded interest rate (0.05 for 5%), or a rate curve
        (karvex.Curve) evaluated at each option's t
    sigma : float, array_like or Series
        volatility per square root of a year (0.2 for 20%)
    units : {'raw', 'desk', 'desk252'}, default 'raw'
        'raw': the core's values (per 1.0 of volatility, per year, per 1.0 of rate).
        'desk': vega per vol point (x 0.01), theta per calendar day (x 1/365), rho
        per 1 % of rate (x 0.01); 'desk252': theta per trading day (x 1/252).
        Delta and gamma are unchanged.  Each is one multiplication of the raw
        value by that double.
    out : float64 ndarray of the broadcast shape, optional
        Where to write the result, which is then returned (Series indexes and
        masks are not applied).  The core writes into out without a copy when
        out is contiguous in the inputs' order and shares no memory with them;
        otherwise it computes into an array of its own, which is copied.
    shift : float, optional
        Shifted (displaced) lognormal Black-76: the Black-76 function of
        f + shift and k + shift (each sum rounded once), bit for bit, for
        forwards and strikes down to -shift.  Options whose f + shift or
        k + shift is not positive give NaN (iv_status: 'invalid_input').
        None (the default): plain Black-76, with no such check.
    day_count : {'act/365f', 'act/360'}, default 'act/365f'
        How durations given as t become years: their days (with the fraction of
        a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)
        need dates: give t = karvex.year_fraction(start, end, day_count) instead.
    data : pandas or polars DataFrame, optional
        With data, an argument given as a str is that column of data (the flag
        may still be a flag word such as 'c' where no column has that name); the
        result is a Series (polars: a Series named after the quantity) on the
        frame's index.

    Returns
    -------
    float, ndarray of float64, or the container of the input
        float for scalar input, float64 array in the broadcast shape otherwise,
        Series for Series input (see the README for the other containers).

        An option with a NaN input gives NaN; sigma = +inf (t > 0) gives the limit
        as the volatility grows (price: the discounted spot for a call, the
        discounted strike for a put).

    Notes
    -----
    All arguments broadcast together as in NumPy; masked arrays give masked results.
    Values are those of karvex._core.black76_delta on the broadcast float64/int8 arrays.
    """
    if kwargs or len(args) != 6:
        return _call(_DELTA, args, kwargs)
    return _evaluate(_DELTA, list(args))


@overload
def gamma(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", gamma_move: GammaMove = "unit", out: F64Array, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def gamma(f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: pd.DataFrame) -> pd.Series[float]: ...

@overload
def gamma(f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: PolarsFrame) -> Any: ...

@overload
def gamma(f: Real, k: Real, t: Time, r: Rate, sigma: Real, *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> float: ...  # type: ignore[overload-overlap]

@overload
def gamma(f: Numbers, k: Numbers, t: Times, r: Rates, sigma: Numbers, *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def gamma(f: pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def gamma(f: Numbers | pd.Series[Any], k: pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def gamma(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def gamma(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def gamma(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: pd.Series[Any], *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def gamma(f: _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def gamma(f: Numbers | _C, k: _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def gamma(f: Numbers | _C, k: Numbers | _C, t: _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def gamma(f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: _C, sigma: Numbers | _C, *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def gamma(f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: _C, *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

def gamma(*args: Any, **kwargs: Any) -> Any:
    """Gamma: change of delta per 1.0 of the underlying (the same for calls and puts). (Black-76)

    Parameters
    ----------
    f : float, array_like or Series
        forward price of the underlying
    k : float, array_like or Series
        strike
    t : float, array_like or Series
        time to expiry in years, or durations (timedelta, timedelta64, pandas,
        polars or pyarrow durations) counted under day_count
    r : float, array_like or Series, or Curve
        continuously compounded interest rate (0.05 for 5%), or a rate curve
        (karvex.Curve) evaluated at each option's t
    sigma : float, array_like or Series
        volatility per square root of a year (0.2 for 20%)
    units : {'raw', 'desk', 'desk252'}, default 'raw'
        'raw': the core's values (per 1.0 of volatility, per year, per 1.0 of rate).
        'desk': vega per vol point (x 0.01), theta per calendar day (x 1/365), rho
        per 1 % of rate (x 0.01); 'desk252': theta per trading day (x 1/252).
        Delta and gamma are unchanged.  Each is one multiplication of the raw
        value by that double.
    gamma_move : {'unit', 'pct'}, default 'unit'
        Gamma per 1.0 of the underlying, or per 1 % move of it: the change of
        delta when the underlying moves by 1 %, raw gamma x (s x 0.01).
    out : float64 ndarray of the broadcast shape, optional
        Where to write the result, which is then returned (Series indexes and
        masks are not applied).  The core writes into out without a copy when
        out is contiguous in the inputs' order and shares no memory with them;
        otherwise it computes into an array of its own, which is copied.
    shift : float, optional
        Shifted (displaced) lognormal Black-76: the Black-76 function of
        f + shift and k + shift (each sum rounded once), bit for bit, for
        forwards and strikes down to -shift.  Options whose f + shift or
        k + shift is not positive give NaN (iv_status: 'invalid_input').
        None (the default): plain Black-76, with no such check.
    day_count : {'act/365f', 'act/360'}, default 'act/365f'
        How durations given as t become years: their days (with the fraction of
        a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)
        need dates: give t = karvex.year_fraction(start, end, day_count) instead.
    data : pandas or polars DataFrame, optional
        With data, an argument given as a str is that column of data (the flag
        may still be a flag word such as 'c' where no column has that name); the
        result is a Series (polars: a Series named after the quantity) on the
        frame's index.

    Returns
    -------
    float, ndarray of float64, or the container of the input
        float for scalar input, float64 array in the broadcast shape otherwise,
        Series for Series input (see the README for the other containers).

        An option with a NaN input gives NaN; sigma = +inf (t > 0) gives the limit
        as the volatility grows (price: the discounted spot for a call, the
        discounted strike for a put).

    Notes
    -----
    All arguments broadcast together as in NumPy; masked arrays give masked results.
    Values are those of karvex._core.black76_gamma on the broadcast float64/int8 arrays.
    """
    if kwargs or len(args) != 5:
        return _call(_GAMMA, args, kwargs)
    return _evaluate(_GAMMA, list(args))


@overload
def vega(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: F64Array, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def vega(f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: pd.DataFrame) -> pd.Series[float]: ...

@overload
def vega(f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: PolarsFrame) -> Any: ...

@overload
def vega(f: Real, k: Real, t: Time, r: Rate, sigma: Real, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> float: ...  # type: ignore[overload-overlap]

@overload
def vega(f: Numbers, k: Numbers, t: Times, r: Rates, sigma: Numbers, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def vega(f: pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def vega(f: Numbers | pd.Series[Any], k: pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def vega(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def vega(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def vega(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def vega(f: _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def vega(f: Numbers | _C, k: _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def vega(f: Numbers | _C, k: Numbers | _C, t: _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def vega(f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: _C, sigma: Numbers | _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def vega(f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

def vega(*args: Any, **kwargs: Any) -> Any:
    """Vega: change of the price per 1.0 of volatility (not per 1%). (Black-76)

    Parameters
    ----------
    f : float, array_like or Series
        forward price of the underlying
    k : float, array_like or Series
        strike
    t : float, array_like or Series
        time to expiry in years, or durations (timedelta, timedelta64, pandas,
        polars or pyarrow durations) counted under day_count
    r : float, array_like or Series, or Curve
        continuously compounded interest rate (0.05 for 5%), or a rate curve
        (karvex.Curve) evaluated at each option's t
    sigma : float, array_like or Series
        volatility per square root of a year (0.2 for 20%)
    units : {'raw', 'desk', 'desk252'}, default 'raw'
        'raw': the core's values (per 1.0 of volatility, per year, per 1.0 of rate).
        'desk': vega per vol point (x 0.01), theta per calendar day (x 1/365), rho
        per 1 % of rate (x 0.01); 'desk252': theta per trading day (x 1/252).
        Delta and gamma are unchanged.  Each is one multiplication of the raw
        value by that double.
    out : float64 ndarray of the broadcast shape, optional
        Where to write the result, which is then returned (Series indexes and
        masks are not applied).  The core writes into out without a copy when
        out is contiguous in the inputs' order and shares no memory with them;
        otherwise it computes into an array of its own, which is copied.
    shift : float, optional
        Shifted (displaced) lognormal Black-76: the Black-76 function of
        f + shift and k + shift (each sum rounded once), bit for bit, for
        forwards and strikes down to -shift.  Options whose f + shift or
        k + shift is not positive give NaN (iv_status: 'invalid_input').
        None (the default): plain Black-76, with no such check.
    day_count : {'act/365f', 'act/360'}, default 'act/365f'
        How durations given as t become years: their days (with the fraction of
        a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)
        need dates: give t = karvex.year_fraction(start, end, day_count) instead.
    data : pandas or polars DataFrame, optional
        With data, an argument given as a str is that column of data (the flag
        may still be a flag word such as 'c' where no column has that name); the
        result is a Series (polars: a Series named after the quantity) on the
        frame's index.

    Returns
    -------
    float, ndarray of float64, or the container of the input
        float for scalar input, float64 array in the broadcast shape otherwise,
        Series for Series input (see the README for the other containers).

        An option with a NaN input gives NaN; sigma = +inf (t > 0) gives the limit
        as the volatility grows (price: the discounted spot for a call, the
        discounted strike for a put).

    Notes
    -----
    All arguments broadcast together as in NumPy; masked arrays give masked results.
    Values are those of karvex._core.black76_vega on the broadcast float64/int8 arrays.
    """
    if kwargs or len(args) != 5:
        return _call(_VEGA, args, kwargs)
    return _evaluate(_VEGA, list(args))


@overload
def theta(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: F64Array, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def theta(flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: pd.DataFrame) -> pd.Series[float]: ...

@overload
def theta(flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: PolarsFrame) -> Any: ...

@overload
def theta(flag: Flag, f: Real, k: Real, t: Time, r: Rate, sigma: Real, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> float: ...  # type: ignore[overload-overlap]

@overload
def theta(flag: Flags, f: Numbers, k: Numbers, t: Times, r: Rates, sigma: Numbers, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def theta(flag: pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def theta(flag: Flags | pd.Series[Any], f: pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def theta(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def theta(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def theta(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def theta(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def theta(flag: _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def theta(flag: Flags | _C, f: _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def theta(flag: Flags | _C, f: Numbers | _C, k: _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def theta(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def theta(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: _C, sigma: Numbers | _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def theta(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

def theta(*args: Any, **kwargs: Any) -> Any:
    """Theta: change of the price per year of elapsed time (not per day). (Black-76)

    Parameters
    ----------
    flag : float, array_like or Series
        'c'/'call' or 'p'/'put' (any case); integers by sign (negative = put); booleans as is-a-call (True = call, False = put)
    f : float, array_like or Series
        forward price of the underlying
    k : float, array_like or Series
        strike
    t : float, array_like or Series
        time to expiry in years, or durations (timedelta, timedelta64, pandas,
        polars or pyarrow durations) counted under day_count
    r : float, array_like or Series, or Curve
        continuously compounded interest rate (0.05 for 5%), or a rate curve
        (karvex.Curve) evaluated at each option's t
    sigma : float, array_like or Series
        volatility per square root of a year (0.2 for 20%)
    units : {'raw', 'desk', 'desk252'}, default 'raw'
        'raw': the core's values (per 1.0 of volatility, per year, per 1.0 of rate).
        'desk': vega per vol point (x 0.01), theta per calendar day (x 1/365), rho
        per 1 % of rate (x 0.01); 'desk252': theta per trading day (x 1/252).
        Delta and gamma are unchanged.  Each is one multiplication of the raw
        value by that double.
    out : float64 ndarray of the broadcast shape, optional
        Where to write the result, which is then returned (Series indexes and
        masks are not applied).  The core writes into out without a copy when
        out is contiguous in the inputs' order and shares no memory with them;
        otherwise it computes into an array of its own, which is copied.
    shift : float, optional
        Shifted (displaced) lognormal Black-76: the Black-76 function of
        f + shift and k + shift (each sum rounded once), bit for bit, for
        forwards and strikes down to -shift.  Options whose f + shift or
        k + shift is not positive give NaN (iv_status: 'invalid_input').
        None (the default): plain Black-76, with no such check.
    day_count : {'act/365f', 'act/360'}, default 'act/365f'
        How durations given as t become years: their days (with the fraction of
        a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)
        need dates: give t = karvex.year_fraction(start, end, day_count) instead.
    data : pandas or polars DataFrame, optional
        With data, an argument given as a str is that column of data (the flag
        may still be a flag word such as 'c' where no column has that name); the
        result is a Series (polars: a Series named after the quantity) on the
        frame's index.

    Returns
    -------
    float, ndarray of float64, or the container of the input
        float for scalar input, float64 array in the broadcast shape otherwise,
        Series for Series input (see the README for the other containers).

        An option with a NaN input gives NaN; sigma = +inf (t > 0) gives the limit
        as the volatility grows (price: the discounted spot for a call, the
        discounted strike for a put).

    Notes
    -----
    All arguments broadcast together as in NumPy; masked arrays give masked results.
    Values are those of karvex._core.black76_theta on the broadcast float64/int8 arrays.
    """
    if kwargs or len(args) != 6:
        return _call(_THETA, args, kwargs)
    return _evaluate(_THETA, list(args))


@overload
def rho(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: F64Array, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def rho(flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: pd.DataFrame) -> pd.Series[float]: ...

@overload
def rho(flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: PolarsFrame) -> Any: ...

@overload
def rho(flag: Flag, f: Real, k: Real, t: Time, r: Rate, sigma: Real, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> float: ...  # type: ignore[overload-overlap]

@overload
def rho(flag: Flags, f: Numbers, k: Numbers, t: Times, r: Rates, sigma: Numbers, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def rho(flag: pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def rho(flag: Flags | pd.Series[Any], f: pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def rho(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def rho(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def rho(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def rho(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: pd.Series[Any], *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def rho(flag: _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def rho(flag: Flags | _C, f: _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def rho(flag: Flags | _C, f: Numbers | _C, k: _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def rho(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def rho(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: _C, sigma: Numbers | _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def rho(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: _C, *, units: Units = "raw", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

def rho(*args: Any, **kwargs: Any) -> Any:
    """Rho: change of the price per 1.0 of rate (not per 1%). (Black-76)

    Parameters
    ----------
    flag : float, array_like or Series
        'c'/'call' or 'p'/'put' (any case); integers by sign (negative = put); booleans as is-a-call (True = call, False = put)
    f : float, array_like or Series
        forward price of the underlying
    k : float, array_like or Series
        strike
    t : float, array_like or Series
        time to expiry in years, or durations (timedelta, timedelta64, pandas,
        polars or pyarrow durations) counted under day_count
    r : float, array_like or Series, or Curve
        continuously compounded interest rate (0.05 for 5%), or a rate curve
        (karvex.Curve) evaluated at each option's t
    sigma : float, array_like or Series
        volatility per square root of a year (0.2 for 20%)
    units : {'raw', 'desk', 'desk252'}, default 'raw'
        'raw': the core's values (per 1.0 of volatility, per year, per 1.0 of rate).
        'desk': vega per vol point (x 0.01), theta per calendar day (x 1/365), rho
        per 1 % of rate (x 0.01); 'desk252': theta per trading day (x 1/252).
        Delta and gamma are unchanged.  Each is one multiplication of the raw
        value by that double.
    out : float64 ndarray of the broadcast shape, optional
        Where to write the result, which is then returned (Series indexes and
        masks are not applied).  The core writes into out without a copy when
        out is contiguous in the inputs' order and shares no memory with them;
        otherwise it computes into an array of its own, which is copied.
    shift : float, optional
        Shifted (displaced) lognormal Black-76: the Black-76 function of
        f + shift and k + shift (each sum rounded once), bit for bit, for
        forwards and strikes down to -shift.  Options whose f + shift or
        k + shift is not positive give NaN (iv_status: 'invalid_input').
        None (the default): plain Black-76, with no such check.
    day_count : {'act/365f', 'act/360'}, default 'act/365f'
        How durations given as t become years: their days (with the fraction of
        a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)
        need dates: give t = karvex.year_fraction(start, end, day_count) instead.
    data : pandas or polars DataFrame, optional
        With data, an argument given as a str is that column of data (the flag
        may still be a flag word such as 'c' where no column has that name); the
        result is a Series (polars: a Series named after the quantity) on the
        frame's index.

    Returns
    -------
    float, ndarray of float64, or the container of the input
        float for scalar input, float64 array in the broadcast shape otherwise,
        Series for Series input (see the README for the other containers).

        An option with a NaN input gives NaN; sigma = +inf (t > 0) gives the limit
        as the volatility grows (price: the discounted spot for a call, the
        discounted strike for a put).

    Notes
    -----
    All arguments broadcast together as in NumPy; masked arrays give masked results.
    Values are those of karvex._core.black76_rho on the broadcast float64/int8 arrays.
    """
    if kwargs or len(args) != 6:
        return _call(_RHO, args, kwargs)
    return _evaluate(_RHO, list(args))


@overload
def greeks(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", gamma_move: GammaMove = "unit", out: GreeksOut, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> Greeks[F64Array]: ...

@overload
def greeks(flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: pd.DataFrame) -> pd.DataFrame: ...

@overload
def greeks(flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: PolarsFrame) -> Any: ...

@overload
def greeks(flag: Flag, f: Real, k: Real, t: Time, r: Rate, sigma: Real, *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> Greeks[float]: ...  # type: ignore[overload-overlap]

@overload
def greeks(flag: Flags, f: Numbers, k: Numbers, t: Times, r: Rates, sigma: Numbers, *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> Greeks[F64Array]: ...

@overload
def greeks(flag: pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.DataFrame: ...

@overload
def greeks(flag: Flags | pd.Series[Any], f: pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.DataFrame: ...

@overload
def greeks(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.DataFrame: ...

@overload
def greeks(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.DataFrame: ...

@overload
def greeks(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: pd.Series[Any], sigma: Numbers | pd.Series[Any], *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.DataFrame: ...

@overload
def greeks(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: pd.Series[Any], *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.DataFrame: ...

@overload
def greeks(flag: _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> Any: ...

@overload
def greeks(flag: Flags | _C, f: _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> Any: ...

@overload
def greeks(flag: Flags | _C, f: Numbers | _C, k: _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> Any: ...

@overload
def greeks(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: _C, r: Rates | _C, sigma: Numbers | _C, *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> Any: ...

@overload
def greeks(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: _C, sigma: Numbers | _C, *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> Any: ...

@overload
def greeks(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: _C, *, units: Units = "raw", gamma_move: GammaMove = "unit", out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> Any: ...

def greeks(*args: Any, **kwargs: Any) -> Any:
    """All five Greeks in one pass, equal bit for bit to the single functions. (Black-76)

    Parameters
    ----------
    flag : float, array_like or Series
        'c'/'call' or 'p'/'put' (any case); integers by sign (negative = put); booleans as is-a-call (True = call, False = put)
    f : float, array_like or Series
        forward price of the underlying
    k : float, array_like or Series
        strike
    t : float, array_like or Series
        time to expiry in years, or durations (timedelta, timedelta64, pandas,
        polars or pyarrow durations) counted under day_count
    r : float, array_like or Series, or Curve
        continuously compounded interest rate (0.05 for 5%), or a rate curve
        (karvex.Curve) evaluated at each option's t
    sigma : float, array_like or Series
        volatility per square root of a year (0.2 for 20%)
    units : {'raw', 'desk', 'desk252'}, default 'raw'
        'raw': the core's values (per 1.0 of volatility, per year, per 1.0 of rate).
        'desk': vega per vol point (x 0.01), theta per calendar day (x 1/365), rho
        per 1 % of rate (x 0.01); 'desk252': theta per trading day (x 1/252).
        Delta and gamma are unchanged.  Each is one multiplication of the raw
        value by that double.
    gamma_move : {'unit', 'pct'}, default 'unit'
        Gamma per 1.0 of the underlying, or per 1 % move of it: the change of
        delta when the underlying moves by 1 %, raw gamma x (s x 0.01).
    out : tuple of five float64 ndarrays of the broadcast shape, optional
        Where to write delta, gamma, vega, theta and rho, which are returned as
        a Greeks (Series indexes and masks are not applied).
    shift : float, optional
        Shifted (displaced) lognormal Black-76: the Black-76 function of
        f + shift and k + shift (each sum rounded once), bit for bit, for
        forwards and strikes down to -shift.  Options whose f + shift or
        k + shift is not positive give NaN (iv_status: 'invalid_input').
        None (the default): plain Black-76, with no such check.
    day_count : {'act/365f', 'act/360'}, default 'act/365f'
        How durations given as t become years: their days (with the fraction of
        a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)
        need dates: give t = karvex.year_fraction(start, end, day_count) instead.
    data : pandas or polars DataFrame, optional
        With data, an argument given as a str is that column of data (the flag
        may still be a flag word such as 'c' where no column has that name); the
        result is a Series (polars: a Series named after the quantity) on the
        frame's index.

    Returns
    -------
    Greeks
        Greeks(delta, gamma, vega, theta, rho): floats for scalar input, arrays in the
        broadcast shape otherwise; a DataFrame with those columns for Series input.

    Notes
    -----
    All arguments broadcast together as in NumPy; masked arrays give masked results.
    Values are those of karvex._core.black76_greeks on the broadcast float64/int8 arrays.
    """
    if kwargs or len(args) != 6:
        return _call(_GREEKS, args, kwargs)
    return _evaluate(_GREEKS, list(args))


@overload
def iv(target_price: Numbers | pd.Series[Any], flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], *, out: F64Array, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def iv(target_price: Numbers | pd.Series[Any] | str, flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: pd.DataFrame) -> pd.Series[float]: ...

@overload
def iv(target_price: Numbers | pd.Series[Any] | str, flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: PolarsFrame) -> Any: ...

@overload
def iv(target_price: Real, flag: Flag, f: Real, k: Real, t: Time, r: Rate, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> float: ...  # type: ignore[overload-overlap]

@overload
def iv(target_price: Numbers, flag: Flags, f: Numbers, k: Numbers, t: Times, r: Rates, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def iv(target_price: pd.Series[Any], flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def iv(target_price: Numbers | pd.Series[Any], flag: pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def iv(target_price: Numbers | pd.Series[Any], flag: Flags | pd.Series[Any], f: pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def iv(target_price: Numbers | pd.Series[Any], flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def iv(target_price: Numbers | pd.Series[Any], flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: pd.Series[Any], r: Rates | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def iv(target_price: Numbers | pd.Series[Any], flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def iv(target_price: _C, flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def iv(target_price: Numbers | _C, flag: _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def iv(target_price: Numbers | _C, flag: Flags | _C, f: _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def iv(target_price: Numbers | _C, flag: Flags | _C, f: Numbers | _C, k: _C, t: Times | _C, r: Rates | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def iv(target_price: Numbers | _C, flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: _C, r: Rates | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def iv(target_price: Numbers | _C, flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

def iv(*args: Any, **kwargs: Any) -> Any:
    """Implied volatility: the sigma whose price is target_price. (Black-76)

    Parameters
    ----------
    target_price : float, array_like or Series
        market price of the option to invert
    flag : float, array_like or Series
        'c'/'call' or 'p'/'put' (any case); integers by sign (negative = put); booleans as is-a-call (True = call, False = put)
    f : float, array_like or Series
        forward price of the underlying
    k : float, array_like or Series
        strike
    t : float, array_like or Series
        time to expiry in years, or durations (timedelta, timedelta64, pandas,
        polars or pyarrow durations) counted under day_count
    r : float, array_like or Series, or Curve
        continuously compounded interest rate (0.05 for 5%), or a rate curve
        (karvex.Curve) evaluated at each option's t
    out : float64 ndarray of the broadcast shape, optional
        Where to write the result, which is then returned (Series indexes and
        masks are not applied).  The core writes into out without a copy when
        out is contiguous in the inputs' order and shares no memory with them;
        otherwise it computes into an array of its own, which is copied.
    shift : float, optional
        Shifted (displaced) lognormal Black-76: the Black-76 function of
        f + shift and k + shift (each sum rounded once), bit for bit, for
        forwards and strikes down to -shift.  Options whose f + shift or
        k + shift is not positive give NaN (iv_status: 'invalid_input').
        None (the default): plain Black-76, with no such check.
    day_count : {'act/365f', 'act/360'}, default 'act/365f'
        How durations given as t become years: their days (with the fraction of
        a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)
        need dates: give t = karvex.year_fraction(start, end, day_count) instead.
    data : pandas or polars DataFrame, optional
        With data, an argument given as a str is that column of data (the flag
        may still be a flag word such as 'c' where no column has that name); the
        result is a Series (polars: a Series named after the quantity) on the
        frame's index.

    Returns
    -------
    float, ndarray of float64, or the container of the input
        float for scalar input, float64 array in the broadcast shape otherwise, Series
        for Series input.  NaN where the price cannot be inverted (invalid inputs,
        price below the intrinsic value or at/above the upper bound); 0.0 where the
        price has no time value.  iv_status tells which.

    Notes
    -----
    All arguments broadcast together as in NumPy; masked arrays give masked results.
    Values are those of karvex._core.black76_iv on the broadcast float64/int8 arrays.
    """
    if kwargs or len(args) != 6:
        return _call(_IV, args, kwargs)
    return _evaluate(_IV, list(args))


@overload
def iv_status(target_price: Numbers | pd.Series[Any] | str, flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, *, shift: float | None = None, day_count: str = "act/365f", data: pd.DataFrame) -> pd.Series[str]: ...

@overload
def iv_status(target_price: Numbers | pd.Series[Any] | str, flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, *, shift: float | None = None, day_count: str = "act/365f", data: PolarsFrame) -> Any: ...

@overload
def iv_status(target_price: Real, flag: Flag, f: Real, k: Real, t: Time, r: Rate, *, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> str: ...  # type: ignore[overload-overlap]

@overload
def iv_status(target_price: Numbers, flag: Flags, f: Numbers, k: Numbers, t: Times, r: Rates, *, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> StatusArray: ...

@overload
def iv_status(target_price: pd.Series[Any], flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], *, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[str]: ...

@overload
def iv_status(target_price: Numbers | pd.Series[Any], flag: pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], *, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[str]: ...

@overload
def iv_status(target_price: Numbers | pd.Series[Any], flag: Flags | pd.Series[Any], f: pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], *, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[str]: ...

@overload
def iv_status(target_price: Numbers | pd.Series[Any], flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], *, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[str]: ...

@overload
def iv_status(target_price: Numbers | pd.Series[Any], flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: pd.Series[Any], r: Rates | pd.Series[Any], *, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[str]: ...

@overload
def iv_status(target_price: Numbers | pd.Series[Any], flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: pd.Series[Any], *, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[str]: ...

@overload
def iv_status(target_price: _C, flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, *, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def iv_status(target_price: Numbers | _C, flag: _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, *, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def iv_status(target_price: Numbers | _C, flag: Flags | _C, f: _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, *, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def iv_status(target_price: Numbers | _C, flag: Flags | _C, f: Numbers | _C, k: _C, t: Times | _C, r: Rates | _C, *, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def iv_status(target_price: Numbers | _C, flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: _C, r: Rates | _C, *, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def iv_status(target_price: Numbers | _C, flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: _C, *, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

def iv_status(*args: Any, **kwargs: Any) -> Any:
    """Why iv gives what it gives: one status per option. (Black-76)

    Parameters
    ----------
    target_price : float, array_like or Series
        market price of the option to invert
    flag : float, array_like or Series
        'c'/'call' or 'p'/'put' (any case); integers by sign (negative = put); booleans as is-a-call (True = call, False = put)
    f : float, array_like or Series
        forward price of the underlying
    k : float, array_like or Series
        strike
    t : float, array_like or Series
        time to expiry in years, or durations (timedelta, timedelta64, pandas,
        polars or pyarrow durations) counted under day_count
    r : float, array_like or Series, or Curve
        continuously compounded interest rate (0.05 for 5%), or a rate curve
        (karvex.Curve) evaluated at each option's t
    shift : float, optional
        Shifted (displaced) lognormal Black-76: the Black-76 function of
        f + shift and k + shift (each sum rounded once), bit for bit, for
        forwards and strikes down to -shift.  Options whose f + shift or
        k + shift is not positive give NaN (iv_status: 'invalid_input').
        None (the default): plain Black-76, with no such check.
    day_count : {'act/365f', 'act/360'}, default 'act/365f'
        How durations given as t become years: their days (with the fraction of
        a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)
        need dates: give t = karvex.year_fraction(start, end, day_count) instead.
    data : pandas or polars DataFrame, optional
        With data, an argument given as a str is that column of data (the flag
        may still be a flag word such as 'c' where no column has that name); the
        result is a Series (polars: a Series named after the quantity) on the
        frame's index.

    Returns
    -------
    str, ndarray of str, or the container of the input
        str for scalar input, str array in the broadcast shape otherwise, Series
        for Series input: 'ok', 'intrinsic' (iv 0.0), or why iv is NaN:
        'below_intrinsic', 'above_upper_bound', 'invalid_input', 'no_solution'.
        Agrees with iv on every element (the statuses of `karvex chain`).

    Notes
    -----
    All arguments broadcast together as in NumPy; masked arrays give masked results.
    Values are those of karvex._core.black76_iv on the broadcast float64/int8 arrays.
    """
    if kwargs or len(args) != 6:
        return _call(_IV_STATUS, args, kwargs)
    return _evaluate(_IV_STATUS, list(args))


@overload
def vanna(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: F64Array, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def vanna(f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: pd.DataFrame) -> pd.Series[float]: ...

@overload
def vanna(f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: PolarsFrame) -> Any: ...

@overload
def vanna(f: Real, k: Real, t: Time, r: Rate, sigma: Real, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> float: ...  # type: ignore[overload-overlap]

@overload
def vanna(f: Numbers, k: Numbers, t: Times, r: Rates, sigma: Numbers, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def vanna(f: pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def vanna(f: Numbers | pd.Series[Any], k: pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def vanna(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def vanna(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def vanna(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def vanna(f: _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def vanna(f: Numbers | _C, k: _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def vanna(f: Numbers | _C, k: Numbers | _C, t: _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def vanna(f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def vanna(f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

def vanna(*args: Any, **kwargs: Any) -> Any:
    """Vanna d2V/(ds dsigma): change of delta per 1.0 of volatility (calls and puts alike). (Black-76)

    Parameters
    ----------
    f : float, array_like or Series
        forward price of the underlying
    k : float, array_like or Series
        strike
    t : float, array_like or Series
        time to expiry in years, or durations (timedelta, timedelta64, pandas,
        polars or pyarrow durations) counted under day_count
    r : float, array_like or Series, or Curve
        continuously compounded interest rate (0.05 for 5%), or a rate curve
        (karvex.Curve) evaluated at each option's t
    sigma : float, array_like or Series
        volatility per square root of a year (0.2 for 20%)
    out : float64 ndarray of the broadcast shape, optional
        Where to write the result, which is then returned (Series indexes and
        masks are not applied).  The core writes into out without a copy when
        out is contiguous in the inputs' order and shares no memory with them;
        otherwise it computes into an array of its own, which is copied.
    shift : float, optional
        Shifted (displaced) lognormal Black-76: the Black-76 function of
        f + shift and k + shift (each sum rounded once), bit for bit, for
        forwards and strikes down to -shift.  Options whose f + shift or
        k + shift is not positive give NaN (iv_status: 'invalid_input').
        None (the default): plain Black-76, with no such check.
    day_count : {'act/365f', 'act/360'}, default 'act/365f'
        How durations given as t become years: their days (with the fraction of
        a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)
        need dates: give t = karvex.year_fraction(start, end, day_count) instead.
    data : pandas or polars DataFrame, optional
        With data, an argument given as a str is that column of data (the flag
        may still be a flag word such as 'c' where no column has that name); the
        result is a Series (polars: a Series named after the quantity) on the
        frame's index.

    Returns
    -------
    float, ndarray of float64, or the container of the input
        float for scalar input, float64 array in the broadcast shape otherwise,
        Series for Series input (see the README for the other containers).

        An option with a NaN input gives NaN; sigma = +inf (t > 0) gives the limit
        as the volatility grows (price: the discounted spot for a call, the
        discounted strike for a put).

    Notes
    -----
    All arguments broadcast together as in NumPy; masked arrays give masked results.
    Values are those of karvex._ext.black76_vanna on the broadcast float64/int8 arrays.
    """
    if kwargs or len(args) != 5:
        return _call(_VANNA, args, kwargs)
    return _evaluate(_VANNA, list(args))


@overload
def volga(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: F64Array, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def volga(f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: pd.DataFrame) -> pd.Series[float]: ...

@overload
def volga(f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: PolarsFrame) -> Any: ...

@overload
def volga(f: Real, k: Real, t: Time, r: Rate, sigma: Real, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> float: ...  # type: ignore[overload-overlap]

@overload
def volga(f: Numbers, k: Numbers, t: Times, r: Rates, sigma: Numbers, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def volga(f: pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def volga(f: Numbers | pd.Series[Any], k: pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def volga(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def volga(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def volga(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def volga(f: _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def volga(f: Numbers | _C, k: _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def volga(f: Numbers | _C, k: Numbers | _C, t: _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def volga(f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def volga(f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

def volga(*args: Any, **kwargs: Any) -> Any:
    """Volga (vomma) d2V/dsigma2: change of vega per 1.0 of volatility. (Black-76)

    Parameters
    ----------
    f : float, array_like or Series
        forward price of the underlying
    k : float, array_like or Series
        strike
    t : float, array_like or Series
        time to expiry in years, or durations (timedelta, timedelta64, pandas,
        polars or pyarrow durations) counted under day_count
    r : float, array_like or Series, or Curve
        continuously compounded interest rate (0.05 for 5%), or a rate curve
        (karvex.Curve) evaluated at each option's t
    sigma : float, array_like or Series
        volatility per square root of a year (0.2 for 20%)
    out : float64 ndarray of the broadcast shape, optional
        Where to write the result, which is then returned (Series indexes and
        masks are not applied).  The core writes into out without a copy when
        out is contiguous in the inputs' order and shares no memory with them;
        otherwise it computes into an array of its own, which is copied.
    shift : float, optional
        Shifted (displaced) lognormal Black-76: the Black-76 function of
        f + shift and k + shift (each sum rounded once), bit for bit, for
        forwards and strikes down to -shift.  Options whose f + shift or
        k + shift is not positive give NaN (iv_status: 'invalid_input').
        None (the default): plain Black-76, with no such check.
    day_count : {'act/365f', 'act/360'}, default 'act/365f'
        How durations given as t become years: their days (with the fraction of
        a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)
        need dates: give t = karvex.year_fraction(start, end, day_count) instead.
    data : pandas or polars DataFrame, optional
        With data, an argument given as a str is that column of data (the flag
        may still be a flag word such as 'c' where no column has that name); the
        result is a Series (polars: a Series named after the quantity) on the
        frame's index.

    Returns
    -------
    float, ndarray of float64, or the container of the input
        float for scalar input, float64 array in the broadcast shape otherwise,
        Series for Series input (see the README for the other containers).

        An option with a NaN input gives NaN; sigma = +inf (t > 0) gives the limit
        as the volatility grows (price: the discounted spot for a call, the
        discounted strike for a put).

    Notes
    -----
    All arguments broadcast together as in NumPy; masked arrays give masked results.
    Values are those of karvex._ext.black76_volga on the broadcast float64/int8 arrays.
    """
    if kwargs or len(args) != 5:
        return _call(_VOLGA, args, kwargs)
    return _evaluate(_VOLGA, list(args))


@overload
def charm(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: F64Array, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def charm(flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: pd.DataFrame) -> pd.Series[float]: ...

@overload
def charm(flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: PolarsFrame) -> Any: ...

@overload
def charm(flag: Flag, f: Real, k: Real, t: Time, r: Rate, sigma: Real, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> float: ...  # type: ignore[overload-overlap]

@overload
def charm(flag: Flags, f: Numbers, k: Numbers, t: Times, r: Rates, sigma: Numbers, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def charm(flag: pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def charm(flag: Flags | pd.Series[Any], f: pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def charm(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def charm(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def charm(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def charm(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def charm(flag: _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def charm(flag: Flags | _C, f: _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def charm(flag: Flags | _C, f: Numbers | _C, k: _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def charm(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def charm(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def charm(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

def charm(*args: Any, **kwargs: Any) -> Any:
    """Charm: change of delta per year of elapsed time, -d(delta)/dt (t to expiry). (Black-76)

    Parameters
    ----------
    flag : float, array_like or Series
        'c'/'call' or 'p'/'put' (any case); integers by sign (negative = put); booleans as is-a-call (True = call, False = put)
    f : float, array_like or Series
        forward price of the underlying
    k : float, array_like or Series
        strike
    t : float, array_like or Series
        time to expiry in years, or durations (timedelta, timedelta64, pandas,
        polars or pyarrow durations) counted under day_count
    r : float, array_like or Series, or Curve
        continuously compounded interest rate (0.05 for 5%), or a rate curve
        (karvex.Curve) evaluated at each option's t
    sigma : float, array_like or Series
        volatility per square root of a year (0.2 for 20%)
    out : float64 ndarray of the broadcast shape, optional
        Where to write the result, which is then returned (Series indexes and
        masks are not applied).  The core writes into out without a copy when
        out is contiguous in the inputs' order and shares no memory with them;
        otherwise it computes into an array of its own, which is copied.
    shift : float, optional
        Shifted (displaced) lognormal Black-76: the Black-76 function of
        f + shift and k + shift (each sum rounded once), bit for bit, for
        forwards and strikes down to -shift.  Options whose f + shift or
        k + shift is not positive give NaN (iv_status: 'invalid_input').
        None (the default): plain Black-76, with no such check.
    day_count : {'act/365f', 'act/360'}, default 'act/365f'
        How durations given as t become years: their days (with the fraction of
        a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)
        need dates: give t = karvex.year_fraction(start, end, day_count) instead.
    data : pandas or polars DataFrame, optional
        With data, an argument given as a str is that column of data (the flag
        may still be a flag word such as 'c' where no column has that name); the
        result is a Series (polars: a Series named after the quantity) on the
        frame's index.

    Returns
    -------
    float, ndarray of float64, or the container of the input
        float for scalar input, float64 array in the broadcast shape otherwise,
        Series for Series input (see the README for the other containers).

        An option with a NaN input gives NaN; sigma = +inf (t > 0) gives the limit
        as the volatility grows (price: the discounted spot for a call, the
        discounted strike for a put).

    Notes
    -----
    All arguments broadcast together as in NumPy; masked arrays give masked results.
    Values are those of karvex._ext.black76_charm on the broadcast float64/int8 arrays.
    """
    if kwargs or len(args) != 6:
        return _call(_CHARM, args, kwargs)
    return _evaluate(_CHARM, list(args))


@overload
def veta(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: F64Array, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def veta(f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: pd.DataFrame) -> pd.Series[float]: ...

@overload
def veta(f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: PolarsFrame) -> Any: ...

@overload
def veta(f: Real, k: Real, t: Time, r: Rate, sigma: Real, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> float: ...  # type: ignore[overload-overlap]

@overload
def veta(f: Numbers, k: Numbers, t: Times, r: Rates, sigma: Numbers, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def veta(f: pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def veta(f: Numbers | pd.Series[Any], k: pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def veta(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def veta(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def veta(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def veta(f: _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def veta(f: Numbers | _C, k: _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def veta(f: Numbers | _C, k: Numbers | _C, t: _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def veta(f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def veta(f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

def veta(*args: Any, **kwargs: Any) -> Any:
    """Veta: change of vega per year of elapsed time, -d(vega)/dt (t to expiry). (Black-76)

    Parameters
    ----------
    f : float, array_like or Series
        forward price of the underlying
    k : float, array_like or Series
        strike
    t : float, array_like or Series
        time to expiry in years, or durations (timedelta, timedelta64, pandas,
        polars or pyarrow durations) counted under day_count
    r : float, array_like or Series, or Curve
        continuously compounded interest rate (0.05 for 5%), or a rate curve
        (karvex.Curve) evaluated at each option's t
    sigma : float, array_like or Series
        volatility per square root of a year (0.2 for 20%)
    out : float64 ndarray of the broadcast shape, optional
        Where to write the result, which is then returned (Series indexes and
        masks are not applied).  The core writes into out without a copy when
        out is contiguous in the inputs' order and shares no memory with them;
        otherwise it computes into an array of its own, which is copied.
    shift : float, optional
        Shifted (displaced) lognormal Black-76: the Black-76 function of
        f + shift and k + shift (each sum rounded once), bit for bit, for
        forwards and strikes down to -shift.  Options whose f + shift or
        k + shift is not positive give NaN (iv_status: 'invalid_input').
        None (the default): plain Black-76, with no such check.
    day_count : {'act/365f', 'act/360'}, default 'act/365f'
        How durations given as t become years: their days (with the fraction of
        a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)
        need dates: give t = karvex.year_fraction(start, end, day_count) instead.
    data : pandas or polars DataFrame, optional
        With data, an argument given as a str is that column of data (the flag
        may still be a flag word such as 'c' where no column has that name); the
        result is a Series (polars: a Series named after the quantity) on the
        frame's index.

    Returns
    -------
    float, ndarray of float64, or the container of the input
        float for scalar input, float64 array in the broadcast shape otherwise,
        Series for Series input (see the README for the other containers).

        An option with a NaN input gives NaN; sigma = +inf (t > 0) gives the limit
        as the volatility grows (price: the discounted spot for a call, the
        discounted strike for a put).

    Notes
    -----
    All arguments broadcast together as in NumPy; masked arrays give masked results.
    Values are those of karvex._ext.black76_veta on the broadcast float64/int8 arrays.
    """
    if kwargs or len(args) != 5:
        return _call(_VETA, args, kwargs)
    return _evaluate(_VETA, list(args))


@overload
def speed(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: F64Array, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def speed(f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: pd.DataFrame) -> pd.Series[float]: ...

@overload
def speed(f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: PolarsFrame) -> Any: ...

@overload
def speed(f: Real, k: Real, t: Time, r: Rate, sigma: Real, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> float: ...  # type: ignore[overload-overlap]

@overload
def speed(f: Numbers, k: Numbers, t: Times, r: Rates, sigma: Numbers, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def speed(f: pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def speed(f: Numbers | pd.Series[Any], k: pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def speed(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def speed(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def speed(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def speed(f: _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def speed(f: Numbers | _C, k: _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def speed(f: Numbers | _C, k: Numbers | _C, t: _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def speed(f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def speed(f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

def speed(*args: Any, **kwargs: Any) -> Any:
    """Speed d(gamma)/ds: change of gamma per 1.0 of the underlying. (Black-76)

    Parameters
    ----------
    f : float, array_like or Series
        forward price of the underlying
    k : float, array_like or Series
        strike
    t : float, array_like or Series
        time to expiry in years, or durations (timedelta, timedelta64, pandas,
        polars or pyarrow durations) counted under day_count
    r : float, array_like or Series, or Curve
        continuously compounded interest rate (0.05 for 5%), or a rate curve
        (karvex.Curve) evaluated at each option's t
    sigma : float, array_like or Series
        volatility per square root of a year (0.2 for 20%)
    out : float64 ndarray of the broadcast shape, optional
        Where to write the result, which is then returned (Series indexes and
        masks are not applied).  The core writes into out without a copy when
        out is contiguous in the inputs' order and shares no memory with them;
        otherwise it computes into an array of its own, which is copied.
    shift : float, optional
        Shifted (displaced) lognormal Black-76: the Black-76 function of
        f + shift and k + shift (each sum rounded once), bit for bit, for
        forwards and strikes down to -shift.  Options whose f + shift or
        k + shift is not positive give NaN (iv_status: 'invalid_input').
        None (the default): plain Black-76, with no such check.
    day_count : {'act/365f', 'act/360'}, default 'act/365f'
        How durations given as t become years: their days (with the fraction of
        a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)
        need dates: give t = karvex.year_fraction(start, end, day_count) instead.
    data : pandas or polars DataFrame, optional
        With data, an argument given as a str is that column of data (the flag
        may still be a flag word such as 'c' where no column has that name); the
        result is a Series (polars: a Series named after the quantity) on the
        frame's index.

    Returns
    -------
    float, ndarray of float64, or the container of the input
        float for scalar input, float64 array in the broadcast shape otherwise,
        Series for Series input (see the README for the other containers).

        An option with a NaN input gives NaN; sigma = +inf (t > 0) gives the limit
        as the volatility grows (price: the discounted spot for a call, the
        discounted strike for a put).

    Notes
    -----
    All arguments broadcast together as in NumPy; masked arrays give masked results.
    Values are those of karvex._ext.black76_speed on the broadcast float64/int8 arrays.
    """
    if kwargs or len(args) != 5:
        return _call(_SPEED, args, kwargs)
    return _evaluate(_SPEED, list(args))


@overload
def zomma(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: F64Array, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def zomma(f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: pd.DataFrame) -> pd.Series[float]: ...

@overload
def zomma(f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: PolarsFrame) -> Any: ...

@overload
def zomma(f: Real, k: Real, t: Time, r: Rate, sigma: Real, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> float: ...  # type: ignore[overload-overlap]

@overload
def zomma(f: Numbers, k: Numbers, t: Times, r: Rates, sigma: Numbers, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def zomma(f: pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def zomma(f: Numbers | pd.Series[Any], k: pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def zomma(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def zomma(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def zomma(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def zomma(f: _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def zomma(f: Numbers | _C, k: _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def zomma(f: Numbers | _C, k: Numbers | _C, t: _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def zomma(f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def zomma(f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

def zomma(*args: Any, **kwargs: Any) -> Any:
    """Zomma d(gamma)/dsigma: change of gamma per 1.0 of volatility. (Black-76)

    Parameters
    ----------
    f : float, array_like or Series
        forward price of the underlying
    k : float, array_like or Series
        strike
    t : float, array_like or Series
        time to expiry in years, or durations (timedelta, timedelta64, pandas,
        polars or pyarrow durations) counted under day_count
    r : float, array_like or Series, or Curve
        continuously compounded interest rate (0.05 for 5%), or a rate curve
        (karvex.Curve) evaluated at each option's t
    sigma : float, array_like or Series
        volatility per square root of a year (0.2 for 20%)
    out : float64 ndarray of the broadcast shape, optional
        Where to write the result, which is then returned (Series indexes and
        masks are not applied).  The core writes into out without a copy when
        out is contiguous in the inputs' order and shares no memory with them;
        otherwise it computes into an array of its own, which is copied.
    shift : float, optional
        Shifted (displaced) lognormal Black-76: the Black-76 function of
        f + shift and k + shift (each sum rounded once), bit for bit, for
        forwards and strikes down to -shift.  Options whose f + shift or
        k + shift is not positive give NaN (iv_status: 'invalid_input').
        None (the default): plain Black-76, with no such check.
    day_count : {'act/365f', 'act/360'}, default 'act/365f'
        How durations given as t become years: their days (with the fraction of
        a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)
        need dates: give t = karvex.year_fraction(start, end, day_count) instead.
    data : pandas or polars DataFrame, optional
        With data, an argument given as a str is that column of data (the flag
        may still be a flag word such as 'c' where no column has that name); the
        result is a Series (polars: a Series named after the quantity) on the
        frame's index.

    Returns
    -------
    float, ndarray of float64, or the container of the input
        float for scalar input, float64 array in the broadcast shape otherwise,
        Series for Series input (see the README for the other containers).

        An option with a NaN input gives NaN; sigma = +inf (t > 0) gives the limit
        as the volatility grows (price: the discounted spot for a call, the
        discounted strike for a put).

    Notes
    -----
    All arguments broadcast together as in NumPy; masked arrays give masked results.
    Values are those of karvex._ext.black76_zomma on the broadcast float64/int8 arrays.
    """
    if kwargs or len(args) != 5:
        return _call(_ZOMMA, args, kwargs)
    return _evaluate(_ZOMMA, list(args))


@overload
def color(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: F64Array, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def color(f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: pd.DataFrame) -> pd.Series[float]: ...

@overload
def color(f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: PolarsFrame) -> Any: ...

@overload
def color(f: Real, k: Real, t: Time, r: Rate, sigma: Real, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> float: ...  # type: ignore[overload-overlap]

@overload
def color(f: Numbers, k: Numbers, t: Times, r: Rates, sigma: Numbers, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def color(f: pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def color(f: Numbers | pd.Series[Any], k: pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def color(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def color(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def color(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def color(f: _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def color(f: Numbers | _C, k: _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def color(f: Numbers | _C, k: Numbers | _C, t: _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def color(f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def color(f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

def color(*args: Any, **kwargs: Any) -> Any:
    """Color: change of gamma per year of elapsed time, -d(gamma)/dt (t to expiry). (Black-76)

    Parameters
    ----------
    f : float, array_like or Series
        forward price of the underlying
    k : float, array_like or Series
        strike
    t : float, array_like or Series
        time to expiry in years, or durations (timedelta, timedelta64, pandas,
        polars or pyarrow durations) counted under day_count
    r : float, array_like or Series, or Curve
        continuously compounded interest rate (0.05 for 5%), or a rate curve
        (karvex.Curve) evaluated at each option's t
    sigma : float, array_like or Series
        volatility per square root of a year (0.2 for 20%)
    out : float64 ndarray of the broadcast shape, optional
        Where to write the result, which is then returned (Series indexes and
        masks are not applied).  The core writes into out without a copy when
        out is contiguous in the inputs' order and shares no memory with them;
        otherwise it computes into an array of its own, which is copied.
    shift : float, optional
        Shifted (displaced) lognormal Black-76: the Black-76 function of
        f + shift and k + shift (each sum rounded once), bit for bit, for
        forwards and strikes down to -shift.  Options whose f + shift or
        k + shift is not positive give NaN (iv_status: 'invalid_input').
        None (the default): plain Black-76, with no such check.
    day_count : {'act/365f', 'act/360'}, default 'act/365f'
        How durations given as t become years: their days (with the fraction of
        a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)
        need dates: give t = karvex.year_fraction(start, end, day_count) instead.
    data : pandas or polars DataFrame, optional
        With data, an argument given as a str is that column of data (the flag
        may still be a flag word such as 'c' where no column has that name); the
        result is a Series (polars: a Series named after the quantity) on the
        frame's index.

    Returns
    -------
    float, ndarray of float64, or the container of the input
        float for scalar input, float64 array in the broadcast shape otherwise,
        Series for Series input (see the README for the other containers).

        An option with a NaN input gives NaN; sigma = +inf (t > 0) gives the limit
        as the volatility grows (price: the discounted spot for a call, the
        discounted strike for a put).

    Notes
    -----
    All arguments broadcast together as in NumPy; masked arrays give masked results.
    Values are those of karvex._ext.black76_color on the broadcast float64/int8 arrays.
    """
    if kwargs or len(args) != 5:
        return _call(_COLOR, args, kwargs)
    return _evaluate(_COLOR, list(args))


@overload
def dual_delta(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: F64Array, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def dual_delta(flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: pd.DataFrame) -> pd.Series[float]: ...

@overload
def dual_delta(flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: PolarsFrame) -> Any: ...

@overload
def dual_delta(flag: Flag, f: Real, k: Real, t: Time, r: Rate, sigma: Real, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> float: ...  # type: ignore[overload-overlap]

@overload
def dual_delta(flag: Flags, f: Numbers, k: Numbers, t: Times, r: Rates, sigma: Numbers, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def dual_delta(flag: pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def dual_delta(flag: Flags | pd.Series[Any], f: pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def dual_delta(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def dual_delta(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def dual_delta(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def dual_delta(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def dual_delta(flag: _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def dual_delta(flag: Flags | _C, f: _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def dual_delta(flag: Flags | _C, f: Numbers | _C, k: _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def dual_delta(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def dual_delta(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def dual_delta(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

def dual_delta(*args: Any, **kwargs: Any) -> Any:
    """Dual delta dV/dk: change of the price per 1.0 of strike. (Black-76)

    Parameters
    ----------
    flag : float, array_like or Series
        'c'/'call' or 'p'/'put' (any case); integers by sign (negative = put); booleans as is-a-call (True = call, False = put)
    f : float, array_like or Series
        forward price of the underlying
    k : float, array_like or Series
        strike
    t : float, array_like or Series
        time to expiry in years, or durations (timedelta, timedelta64, pandas,
        polars or pyarrow durations) counted under day_count
    r : float, array_like or Series, or Curve
        continuously compounded interest rate (0.05 for 5%), or a rate curve
        (karvex.Curve) evaluated at each option's t
    sigma : float, array_like or Series
        volatility per square root of a year (0.2 for 20%)
    out : float64 ndarray of the broadcast shape, optional
        Where to write the result, which is then returned (Series indexes and
        masks are not applied).  The core writes into out without a copy when
        out is contiguous in the inputs' order and shares no memory with them;
        otherwise it computes into an array of its own, which is copied.
    shift : float, optional
        Shifted (displaced) lognormal Black-76: the Black-76 function of
        f + shift and k + shift (each sum rounded once), bit for bit, for
        forwards and strikes down to -shift.  Options whose f + shift or
        k + shift is not positive give NaN (iv_status: 'invalid_input').
        None (the default): plain Black-76, with no such check.
    day_count : {'act/365f', 'act/360'}, default 'act/365f'
        How durations given as t become years: their days (with the fraction of
        a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)
        need dates: give t = karvex.year_fraction(start, end, day_count) instead.
    data : pandas or polars DataFrame, optional
        With data, an argument given as a str is that column of data (the flag
        may still be a flag word such as 'c' where no column has that name); the
        result is a Series (polars: a Series named after the quantity) on the
        frame's index.

    Returns
    -------
    float, ndarray of float64, or the container of the input
        float for scalar input, float64 array in the broadcast shape otherwise,
        Series for Series input (see the README for the other containers).

        An option with a NaN input gives NaN; sigma = +inf (t > 0) gives the limit
        as the volatility grows (price: the discounted spot for a call, the
        discounted strike for a put).

    Notes
    -----
    All arguments broadcast together as in NumPy; masked arrays give masked results.
    Values are those of karvex._ext.black76_dual_delta on the broadcast float64/int8 arrays.
    """
    if kwargs or len(args) != 6:
        return _call(_DUAL_DELTA, args, kwargs)
    return _evaluate(_DUAL_DELTA, list(args))


@overload
def dual_gamma(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: F64Array, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def dual_gamma(f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: pd.DataFrame) -> pd.Series[float]: ...

@overload
def dual_gamma(f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: PolarsFrame) -> Any: ...

@overload
def dual_gamma(f: Real, k: Real, t: Time, r: Rate, sigma: Real, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> float: ...  # type: ignore[overload-overlap]

@overload
def dual_gamma(f: Numbers, k: Numbers, t: Times, r: Rates, sigma: Numbers, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> F64Array: ...

@overload
def dual_gamma(f: pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def dual_gamma(f: Numbers | pd.Series[Any], k: pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def dual_gamma(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def dual_gamma(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def dual_gamma(f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.Series[float]: ...

@overload
def dual_gamma(f: _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def dual_gamma(f: Numbers | _C, k: _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def dual_gamma(f: Numbers | _C, k: Numbers | _C, t: _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def dual_gamma(f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

@overload
def dual_gamma(f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> _C: ...

def dual_gamma(*args: Any, **kwargs: Any) -> Any:
    """Dual gamma d2V/dk2: the discounted risk-neutral density at the strike. (Black-76)

    Parameters
    ----------
    f : float, array_like or Series
        forward price of the underlying
    k : float, array_like or Series
        strike
    t : float, array_like or Series
        time to expiry in years, or durations (timedelta, timedelta64, pandas,
        polars or pyarrow durations) counted under day_count
    r : float, array_like or Series, or Curve
        continuously compounded interest rate (0.05 for 5%), or a rate curve
        (karvex.Curve) evaluated at each option's t
    sigma : float, array_like or Series
        volatility per square root of a year (0.2 for 20%)
    out : float64 ndarray of the broadcast shape, optional
        Where to write the result, which is then returned (Series indexes and
        masks are not applied).  The core writes into out without a copy when
        out is contiguous in the inputs' order and shares no memory with them;
        otherwise it computes into an array of its own, which is copied.
    shift : float, optional
        Shifted (displaced) lognormal Black-76: the Black-76 function of
        f + shift and k + shift (each sum rounded once), bit for bit, for
        forwards and strikes down to -shift.  Options whose f + shift or
        k + shift is not positive give NaN (iv_status: 'invalid_input').
        None (the default): plain Black-76, with no such check.
    day_count : {'act/365f', 'act/360'}, default 'act/365f'
        How durations given as t become years: their days (with the fraction of
        a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)
        need dates: give t = karvex.year_fraction(start, end, day_count) instead.
    data : pandas or polars DataFrame, optional
        With data, an argument given as a str is that column of data (the flag
        may still be a flag word such as 'c' where no column has that name); the
        result is a Series (polars: a Series named after the quantity) on the
        frame's index.

    Returns
    -------
    float, ndarray of float64, or the container of the input
        float for scalar input, float64 array in the broadcast shape otherwise,
        Series for Series input (see the README for the other containers).

        An option with a NaN input gives NaN; sigma = +inf (t > 0) gives the limit
        as the volatility grows (price: the discounted spot for a call, the
        discounted strike for a put).

    Notes
    -----
    All arguments broadcast together as in NumPy; masked arrays give masked results.
    Values are those of karvex._ext.black76_dual_gamma on the broadcast float64/int8 arrays.
    """
    if kwargs or len(args) != 5:
        return _call(_DUAL_GAMMA, args, kwargs)
    return _evaluate(_DUAL_GAMMA, list(args))


@overload
def second_order(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: SecondOrderOut, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> Black76SecondOrder[F64Array]: ...

@overload
def second_order(flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: pd.DataFrame) -> pd.DataFrame: ...

@overload
def second_order(flag: Flags | pd.Series[Any] | str, f: Numbers | pd.Series[Any] | str, k: Numbers | pd.Series[Any] | str, t: Times | pd.Series[Any] | str, r: Rates | pd.Series[Any] | str, sigma: Numbers | pd.Series[Any] | str, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: PolarsFrame) -> Any: ...

@overload
def second_order(flag: Flag, f: Real, k: Real, t: Time, r: Rate, sigma: Real, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> Black76SecondOrder[float]: ...  # type: ignore[overload-overlap]

@overload
def second_order(flag: Flags, f: Numbers, k: Numbers, t: Times, r: Rates, sigma: Numbers, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> Black76SecondOrder[F64Array]: ...

@overload
def second_order(flag: pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.DataFrame: ...

@overload
def second_order(flag: Flags | pd.Series[Any], f: pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.DataFrame: ...

@overload
def second_order(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.DataFrame: ...

@overload
def second_order(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: pd.Series[Any], r: Rates | pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.DataFrame: ...

@overload
def second_order(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: pd.Series[Any], sigma: Numbers | pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.DataFrame: ...

@overload
def second_order(flag: Flags | pd.Series[Any], f: Numbers | pd.Series[Any], k: Numbers | pd.Series[Any], t: Times | pd.Series[Any], r: Rates | pd.Series[Any], sigma: pd.Series[Any], *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> pd.DataFrame: ...

@overload
def second_order(flag: _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> Any: ...

@overload
def second_order(flag: Flags | _C, f: _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> Any: ...

@overload
def second_order(flag: Flags | _C, f: Numbers | _C, k: _C, t: Times | _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> Any: ...

@overload
def second_order(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: _C, r: Rates | _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> Any: ...

@overload
def second_order(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: _C, sigma: Numbers | _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> Any: ...

@overload
def second_order(flag: Flags | _C, f: Numbers | _C, k: Numbers | _C, t: Times | _C, r: Rates | _C, sigma: _C, *, out: None = None, shift: float | None = None, day_count: str = "act/365f", data: None = None) -> Any: ...

def second_order(*args: Any, **kwargs: Any) -> Any:
    """All second-order Greeks in one pass, equal bit for bit to the single functions. (Black-76)

    Parameters
    ----------
    flag : float, array_like or Series
        'c'/'call' or 'p'/'put' (any case); integers by sign (negative = put); booleans as is-a-call (True = call, False = put)
    f : float, array_like or Series
        forward price of the underlying
    k : float, array_like or Series
        strike
    t : float, array_like or Series
        time to expiry in years, or durations (timedelta, timedelta64, pandas,
        polars or pyarrow durations) counted under day_count
    r : float, array_like or Series, or Curve
        continuously compounded interest rate (0.05 for 5%), or a rate curve
        (karvex.Curve) evaluated at each option's t
    sigma : float, array_like or Series
        volatility per square root of a year (0.2 for 20%)
    out : tuple of float64 ndarrays of the broadcast shape, optional
        Where to write the results, one array per field (ten for bsm, nine for black76),
        returned as the named tuple (Series indexes and masks are not applied).
    shift : float, optional
        Shifted (displaced) lognormal Black-76: the Black-76 function of
        f + shift and k + shift (each sum rounded once), bit for bit, for
        forwards and strikes down to -shift.  Options whose f + shift or
        k + shift is not positive give NaN (iv_status: 'invalid_input').
        None (the default): plain Black-76, with no such check.
    day_count : {'act/365f', 'act/360'}, default 'act/365f'
        How durations given as t become years: their days (with the fraction of
        a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)
        need dates: give t = karvex.year_fraction(start, end, day_count) instead.
    data : pandas or polars DataFrame, optional
        With data, an argument given as a str is that column of data (the flag
        may still be a flag word such as 'c' where no column has that name); the
        result is a Series (polars: a Series named after the quantity) on the
        frame's index.

    Returns
    -------
    Black76SecondOrder
        SecondOrder(vanna, volga, charm, veta, speed, zomma, color, dual_delta,
        dual_gamma, dividend_rho) (Black76SecondOrder, without dividend_rho, for black76):
        floats for scalar input, arrays in the broadcast shape otherwise; a DataFrame with
        those columns for Series input.  Raw units: per 1.0 of s, sigma, k, q; time Greeks per
        year of elapsed time.

    Notes
    -----
    All arguments broadcast together as in NumPy; masked arrays give masked results.
    Values are those of karvex._ext.black76_second_order on the broadcast float64/int8 arrays.
    """
    if kwargs or len(args) != 6:
        return _call(_SECOND_ORDER, args, kwargs)
    return _evaluate(_SECOND_ORDER, list(args))


for _function, _entry in (
    (price, _PRICE),
    (delta, _DELTA),
    (gamma, _GAMMA),
    (vega, _VEGA),
    (theta, _THETA),
    (rho, _RHO),
    (greeks, _GREEKS),
    (iv, _IV),
    (iv_status, _IV_STATUS),
    (vanna, _VANNA),
    (volga, _VOLGA),
    (charm, _CHARM),
    (veta, _VETA),
    (speed, _SPEED),
    (zomma, _ZOMMA),
    (color, _COLOR),
    (dual_delta, _DUAL_DELTA),
    (dual_gamma, _DUAL_GAMMA),
    (second_order, _SECOND_ORDER),
):
    _signed(_function, _entry)
# fmt: on
