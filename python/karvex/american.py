"""American exercise under Black-Scholes-Merton with a continuous dividend yield.

The functions take what ``karvex.bsm``'s take (numbers, arrays of any shape,
pandas Series and DataFrames, polars, pyarrow, xarray; 'c'/'p' flags; curves
for r and q; durations for t) and broadcast them the same way::

    price(flag, s, k, t, r, q, sigma, *, mode="accurate")
    greeks(flag, s, k, t, r, q, sigma, *, mode="accurate", units=..., gamma_move=...)
    iv(target_price, flag, s, k, t, r, q, *, mode="accurate")
    iv_status(target_price, flag, s, k, t, r, q, *, mode="accurate")

The price solves the integral equation of the exercise boundary (Andersen,
Lake and Offengenden, 2016) with a fixed amount of work per option:
``mode="accurate"``, ``mode="fast"`` or ``mode="precise"`` (README, "American
exercise", for their measured accuracy and speed).  Delta, gamma and theta come from the method,
vega and rho from central differences of the price.  Where early exercise never
pays (a call with q <= 0 <= r, a put with r <= 0 <= q, ...) the values are
those of ``karvex.bsm`` to the bit.  A put with r < 0 and q < r, or a call with
q < 0 and r < q, has two exercise boundaries, which the method does not cover:
NaN.  ``iv`` is NaN below the intrinsic value, at or above the bound (k for a
put, s for a call) and where no volatility reprices the target; 0.0 for a price
without time value.  ``iv_status`` names the reason of each: ``ok``,
``intrinsic``, ``below_intrinsic``, ``above_upper_bound``, ``invalid_input``,
``no_solution`` or ``two_boundaries`` (the regime above, where ``price`` and
``greeks`` are NaN as well).
"""

from __future__ import annotations

from typing import Any

from ._array import AMERICAN_QUANTITIES
from ._array import call as _call
from ._array import docstring as _docstring
from ._array import entry_of as _entry_of

MODES = {"accurate": "american", "fast": "american_fast", "precise": "american_precise"}

_ENTRIES = {
    (mode, quantity): _entry_of(model, quantity)
    for mode, model in MODES.items()
    for quantity in AMERICAN_QUANTITIES
}


def _entry(quantity: str, mode: Any) -> Any:
    try:
        return _ENTRIES[(mode, quantity)]
    except (KeyError, TypeError):
        raise ValueError(
            f"karvex.american.{quantity}(): mode must be 'accurate', 'fast' or 'precise', "
            f"not {mode!r}"
        ) from None


def price(*args: Any, mode: str = "accurate", **kwargs: Any) -> Any:
    """American option price; see the module's docstring and karvex.bsm.price."""
    return _call(_entry("price", mode), args, kwargs)


def greeks(*args: Any, mode: str = "accurate", **kwargs: Any) -> Any:
    """American delta, gamma, vega, theta and rho (a Greeks); see karvex.bsm.greeks."""
    return _call(_entry("greeks", mode), args, kwargs)


def iv(*args: Any, mode: str = "accurate", **kwargs: Any) -> Any:
    """The volatility whose American price is target_price; see karvex.bsm.iv."""
    return _call(_entry("iv", mode), args, kwargs)


def iv_status(*args: Any, mode: str = "accurate", **kwargs: Any) -> Any:
    """Why each American implied volatility is what it is; see the module's docstring."""
    return _call(_entry("iv_status", mode), args, kwargs)


for _name, _function in (
    ("price", price),
    ("greeks", greeks),
    ("iv", iv),
    ("iv_status", iv_status),
):
    _names = _ENTRIES[("accurate", _name)].names
    _function.__doc__ = f"{_function.__doc__}\n\n{_docstring('american', _name, _names)}"

__all__ = ["MODES", "price", "greeks", "iv", "iv_status"]
