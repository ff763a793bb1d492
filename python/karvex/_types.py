"""Types of the array API in ``karvex.bsm`` and ``karvex.black76``.

The overloads of each function (written out in ``bsm.py`` and ``black76.py``)
give type checkers what it accepts and returns:

- all arguments scalars: a ``float`` (``str`` for ``iv_status``, a ``Greeks``
  of floats for ``greeks``);
- arrays, sequences and scalars mixed: a float64 array (a ``str`` array for
  ``iv_status``, a ``Greeks`` of arrays for ``greeks``);
- a pandas Series among them: a Series (a DataFrame for ``greeks``);
- a pandas DataFrame, a polars Series or expression, or an xarray DataArray
  among them: the same type;
- ``out=``: the array given; ``data=``: a Series on the frame's index.

Texts are no numbers: a ``str`` (a ``Sequence[str]``) matches no number
parameter, only the flag (and, with ``data=``, any parameter).
"""

from __future__ import annotations

import datetime
from collections.abc import Hashable, Sequence
from typing import TYPE_CHECKING, Any, Generic, Literal, NamedTuple, Protocol, TypeVar, Union

import numpy as np
import numpy.typing as npt

if TYPE_CHECKING:
    import pandas as pd

    from .curves import RateCurve

F64Array = npt.NDArray[np.float64]
StatusArray = npt.NDArray[np.str_]
#: The arrays ``greeks`` writes into: delta, gamma, vega, theta, rho.
GreeksOut = tuple[F64Array, F64Array, F64Array, F64Array, F64Array]
#: The arrays ``second_order`` writes into, in the order of SecondOrder's fields (nine for
#: Black-76, without dividend rho).
SecondOrderOut = tuple[F64Array, ...]

#: A number: ``float`` covers ``int`` and ``bool`` too.
Real = Union[float, np.floating[Any], np.integer[Any]]
#: Numbers: one, or nested sequences of them, or an array (not a text).
Numbers = Union[
    Real,
    npt.NDArray[Any],
    Sequence[Real],
    Sequence[Sequence[Real]],
    Sequence[Sequence[Sequence[Real]]],
]
#: A flag: 'c'/'call'/'p'/'put', a signed integer, a whole float or a bool.
Flag = Union[str, bytes, float, np.integer[Any], np.floating[Any], np.bool_]
Flags = Union[Flag, npt.NDArray[Any], Sequence[Flag], Sequence[Sequence[Flag]]]
#: A time to expiry in years, or a duration (pandas' Timedelta is a timedelta).
Time = Union[Real, datetime.timedelta, np.timedelta64]
Times = Union[Numbers, datetime.timedelta, np.timedelta64, Sequence[datetime.timedelta]]
#: A rate or yield: a number, or a curve evaluated at each option's t.
Rate = Union[Real, "RateCurve"]
Rates = Union[Numbers, "RateCurve"]

#: Units of the Greeks: ``"raw"`` (the core's), ``"desk"`` (vega per vol point,
#: theta per calendar day, rho per 1 %), ``"desk252"`` (theta per trading day).
Units = Literal["raw", "desk", "desk252"]
#: Gamma per 1.0 of the underlying (``"unit"``) or per 1 % move of it (``"pct"``).
GammaMove = Literal["unit", "pct"]


class PolarsSeries(Protocol):
    """A polars Series, as far as the array API needs to know one."""

    def to_arrow(self) -> Any:
        """The values as a pyarrow array."""
        ...

    def to_numpy(self) -> Any:
        """The values as a NumPy array."""
        ...


class PolarsFrame(Protocol):
    """A polars DataFrame, as far as ``data=`` needs to know one."""

    def to_arrow(self) -> Any:
        """The frame as a pyarrow table."""
        ...

    @property
    def columns(self) -> list[str]:
        """The names of the columns."""
        ...


class DataArray(Protocol):
    """An xarray DataArray, as far as the array API needs to know one."""

    @property
    def dims(self) -> tuple[Hashable, ...]:
        """The names of the dimensions."""
        ...

    @property
    def coords(self) -> Any:
        """The coordinates."""
        ...


class PolarsExpr(Protocol):
    """A polars expression, as far as the array API needs to know one."""

    @property
    def meta(self) -> Any:
        """What the expression is made of."""
        ...


# A container that comes back as itself (neither library is imported for it).
_C = TypeVar("_C", bound=Union[PolarsSeries, PolarsExpr, DataArray, "pd.DataFrame"])
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


if TYPE_CHECKING:

    class SecondOrder(NamedTuple, Generic[_T]):
        """The ten second-order Greeks of one option or of arrays of options (BSM)."""

        vanna: _T
        volga: _T
        charm: _T
        veta: _T
        speed: _T
        zomma: _T
        color: _T
        dual_delta: _T
        dual_gamma: _T
        dividend_rho: _T

    class Black76SecondOrder(NamedTuple, Generic[_T]):
        """The nine second-order Greeks of Black-76 (no dividend yield, so no dividend rho)."""

        vanna: _T
        volga: _T
        charm: _T
        veta: _T
        speed: _T
        zomma: _T
        color: _T
        dual_delta: _T
        dual_gamma: _T

else:

    class SecondOrder(NamedTuple):
        """The ten second-order Greeks of one option or of arrays of options (BSM)."""

        vanna: Any
        volga: Any
        charm: Any
        veta: Any
        speed: Any
        zomma: Any
        color: Any
        dual_delta: Any
        dual_gamma: Any
        dividend_rho: Any

    class Black76SecondOrder(NamedTuple):
        """The nine second-order Greeks of Black-76 (no dividend yield, so no dividend rho)."""

        vanna: Any
        volga: Any
        charm: Any
        veta: Any
        speed: Any
        zomma: Any
        color: Any
        dual_delta: Any
        dual_gamma: Any
