"""Interest-rate and dividend-yield curves: zero rates at tenors, interpolated.

A ``Curve`` holds continuously compounded zero rates ``z_i`` at tenors
``t_i`` in years (``0 < t_1 < ... < t_n``), that is the discount factors
``P_i = exp(-z_i t_i)``, and evaluates them at any time ``t``:

``flat_forward`` (the default)
    ``log P`` linear in ``t`` between the nodes ``(0, 0), (t_1, log P_1), ...,
    (t_n, log P_n)``: the instantaneous forward rate is constant between two
    tenors.  QuantLib's ``DiscountCurve`` with ``LogLinear`` interpolation.
``linear_zero``
    ``z`` linear in ``t`` between the tenors.  QuantLib's ``ZeroCurve`` with
    ``Linear`` interpolation.

Outside the tenors, as QuantLib extrapolates these curves:

- before the first tenor (``t < t_1``, zero and negative ``t`` included) the
  zero rate is flat at ``z_1`` (under flat forwards this is the first
  segment's forward, so nothing changes at ``t_1``);
- beyond the last tenor the instantaneous forward rate ``F`` at ``t_n`` stays
  flat: ``z(t) = F + (z_n - F) t_n / t``, which tends to ``F``.  ``F`` is the
  last segment's forward under flat forwards, ``z_n + t_n z'`` (``z'`` the
  slope of the last segment) under linear zero rates.  A curve of one tenor is
  flat.

The time ``t`` is in the same years as the tenors: the option's own time to
expiry under whichever day count produced it.
"""

from __future__ import annotations

import csv
import math
import os
import re
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any, Protocol, Union, overload, runtime_checkable

import numpy as np
import numpy.typing as npt

if TYPE_CHECKING:
    import pandas as pd

__all__ = ["INTERPOLATIONS", "Curve", "RateCurve", "tenor_years"]

F64Array = npt.NDArray[np.float64]
#: One time in years.
Real = float | np.floating[Any] | np.integer[Any]
#: Times in years: an array, a sequence of numbers or a pandas Series.
Times = Union[npt.NDArray[Any], Sequence[Real], "pd.Series[Any]"]  # noqa: UP007 (a quoted name)
#: Tenors: years, or tenor texts such as ``"3m"`` (see ``tenor_years``).
Tenors = npt.NDArray[Any] | Sequence[Real | str]

#: The interpolations by name.
INTERPOLATIONS = ("flat_forward", "linear_zero")

_TENOR = re.compile(r"\s*(\d+(?:\.\d*)?|\.\d+)\s*([dwmy]?)\s*", re.ASCII | re.IGNORECASE)
_UNIT_YEARS = {"d": 1.0 / 365.0, "w": 7.0 / 365.0, "m": 1.0 / 12.0, "y": 1.0, "": 1.0}
_DISCOUNT_HEADERS = ("discount", "discount_factor", "discount factor", "df")
_RATE_HEADERS = ("rate", "zero", "zero_rate", "zero rate", "yield")


@runtime_checkable
class RateCurve(Protocol):
    """Anything that gives continuously compounded zero rates at times in years."""

    def zero_rate(self, t: F64Array) -> F64Array:
        """The zero rates at the times ``t`` (an array of the same shape)."""
        ...


def tenor_years(tenor: str | Real) -> float:
    """A tenor in years.

    Parameters
    ----------
    tenor : str or float
        A number of years, or a number followed by a unit: ``d`` (days, 1/365
        of a year), ``w`` (weeks, 7/365), ``m`` (months, 1/12) or ``y``
        (years), in either case; e.g. ``"1d"``, ``"2w"``, ``"18m"``, ``"0.5y"``.

    Returns
    -------
    float
        ``n * 1/365``, ``n * 7/365``, ``n / 12`` or ``n`` (as written; the
        curve checks that it is positive).

    Raises
    ------
    ValueError
        A text in no such form.
    """
    if not isinstance(tenor, str):
        return float(tenor)
    m = _TENOR.fullmatch(tenor)
    if m is None:
        raise ValueError(f"not a tenor (a number of years, or with a unit d/w/m/y): {tenor!r}")
    count, unit = float(m.group(1)), m.group(2).lower()
    if unit == "m":
        return count / 12.0
    if unit in ("d", "w"):
        return count * (7.0 if unit == "w" else 1.0) / 365.0
    return count


def _tenor_label(t: float) -> str:
    """The shortest text that ``tenor_years`` reads back as exactly ``t``."""
    for unit, per_year in (("y", 1.0), ("m", 12.0), ("w", 365.0 / 7.0), ("d", 365.0)):
        count = round(t * per_year)
        if count > 0 and tenor_years(f"{count}{unit}") == t:
            return f"{count}{unit}"
    return repr(t)


def _rate_value(text: str) -> float:
    """A rate or discount factor: a decimal, or a percentage with ``%``."""
    text = text.strip()
    if not text.endswith("%"):
        return float(text)
    number = text[:-1].strip()
    value = float(number)
    if "e" in number.lower() or not math.isfinite(value):
        return value / 100.0
    return float(f"{number}e-2")  # 4.4% as 4.4e-2: the double nearest 0.044 (4.4 / 100 is not)


def _interpolation(name: str) -> str:
    if name not in INTERPOLATIONS:
        raise ValueError(
            f"unknown interpolation {name!r}; known: {', '.join(map(repr, INTERPOLATIONS))}"
        )
    return name


def _vector(what: str, values: Any) -> F64Array:
    """A 1-D float64 copy of ``values``, every element finite."""
    if isinstance(values, (str, bytes)):
        raise TypeError(f"{what}: expected a sequence of numbers, not {type(values).__name__}")
    arr = np.array(values, dtype=np.float64)  # a copy the caller cannot change
    if arr.ndim != 1 or arr.size == 0:
        raise ValueError(f"{what}: expected a non-empty 1-D sequence, got shape {arr.shape}")
    bad = ~np.isfinite(arr)
    if bad.any():
        i = int(np.argmax(bad))
        raise ValueError(f"{what}: not finite at position {i} ({arr[i].item()!r})")
    return arr


def _tenor_vector(tenors: Tenors) -> F64Array:
    if isinstance(tenors, np.ndarray) and tenors.dtype.kind in "biuf":
        t = _vector("tenors", tenors)
    else:
        if isinstance(tenors, (str, bytes)):
            raise TypeError("tenors: expected a sequence of tenors, not one text")
        t = _vector("tenors", [tenor_years(x) for x in tenors])
    if t[0] <= 0.0:
        raise ValueError(f"tenors: must be positive (years), got {t[0].item()!r} at position 0")
    step = np.diff(t) <= 0.0
    if step.any():
        i = int(np.argmax(step)) + 1
        now, before = t[i].item(), t[i - 1].item()
        raise ValueError(
            f"tenors: must increase strictly, got {now!r} at position {i} after {before!r}"
        )
    return t


def _same_length(t: F64Array, values: F64Array) -> None:
    if len(t) != len(values):
        raise ValueError(f"tenors and values differ in length: {len(t)} and {len(values)}")


def _frozen(arr: F64Array) -> F64Array:
    arr.flags.writeable = False
    return arr


class Curve:
    """An immutable curve of continuously compounded zero rates by time in years.

    Build one with ``Curve.from_zero_rates``, ``Curve.from_discount_factors``,
    ``Curve.flat``, ``Curve.parse`` or ``Curve.read_csv`` (``Curve(tenors,
    rates)`` is ``from_zero_rates``).  The module's docstring defines the
    interpolations and the extrapolation.

    Parameters
    ----------
    tenors : sequence of float or str
        Times in years, positive and strictly increasing; tenor texts such as
        ``"3m"`` are read by ``tenor_years``.
    zero_rates : sequence of float
        The continuously compounded zero rate at each tenor, finite.
    interpolation : {"flat_forward", "linear_zero"}, default "flat_forward"
        Flat forwards (``log P`` linear in ``t``) or zero rates linear in ``t``.

    Raises
    ------
    ValueError
        Empty or unequal sequences, a NaN or infinite value, a tenor that is
        not positive or does not exceed the one before it, an unknown
        interpolation.

    Examples
    --------
    >>> from karvex import Curve
    >>> curve = Curve.parse("1m=0.043,3m=0.044,1y=0.045,2y=0.041")
    >>> curve.zero_rate([0.02, 0.5, 3.0])
    array([0.043     , 0.04466667, 0.03966667])
    >>> curve.discount(2.0)
    0.9212719586963486
    """

    __slots__ = ("_tenors", "_zero", "_log_discount", "_interpolation", "_knots", "_values")

    _tenors: F64Array
    _zero: F64Array
    _log_discount: F64Array
    _interpolation: str
    _knots: F64Array  # 0 and the tenors
    _values: F64Array  # log P (flat forwards) or z (linear zero) at the knots

    def __init__(
        self,
        tenors: Tenors,
        zero_rates: Sequence[Real] | F64Array,
        interpolation: str = "flat_forward",
    ) -> None:
        t = _tenor_vector(tenors)
        z = _vector("zero_rates", zero_rates)
        _same_length(t, z)
        self._setup(t, z, -(z * t), interpolation)

    def _setup(self, t: F64Array, z: F64Array, log_p: F64Array, interpolation: str) -> None:
        if hasattr(self, "_tenors"):
            raise AttributeError("Curve is immutable: it cannot be initialised again")
        kind = _interpolation(interpolation)
        knots = np.concatenate(([0.0], t))
        values = np.concatenate(([0.0], log_p) if kind == "flat_forward" else (z[:1], z))
        for name, value in (
            ("_tenors", t),
            ("_zero", z),
            ("_log_discount", log_p),
            ("_knots", knots),
            ("_values", values),
        ):
            object.__setattr__(self, name, _frozen(value))
        object.__setattr__(self, "_interpolation", kind)

    # ---------------------------------------------------------------- builders

    @classmethod
    def from_zero_rates(
        cls,
        tenors: Tenors,
        zero_rates: Sequence[Real] | F64Array,
        interpolation: str = "flat_forward",
    ) -> Curve:
        """A curve of continuously compounded zero rates at tenors.

        Parameters
        ----------
        tenors : sequence of float or str
            Times in years (or tenor texts, see ``tenor_years``), positive and
            strictly increasing.
        zero_rates : sequence of float
            The zero rate at each tenor (``0.045`` is 4.5 %), finite.
        interpolation : {"flat_forward", "linear_zero"}, default "flat_forward"

        Returns
        -------
        Curve

        Raises
        ------
        ValueError
            As for ``Curve``.
        """
        return cls(tenors, zero_rates, interpolation)

    @classmethod
    def from_discount_factors(
        cls,
        tenors: Tenors,
        discount_factors: Sequence[Real] | F64Array,
        interpolation: str = "flat_forward",
    ) -> Curve:
        """A curve of discount factors at tenors.

        Parameters
        ----------
        tenors : sequence of float or str
            Times in years (or tenor texts), positive and strictly increasing.
        discount_factors : sequence of float
            The discount factor ``P_i`` at each tenor: finite and positive.
            The zero rates are ``-log(P_i) / t_i``.
        interpolation : {"flat_forward", "linear_zero"}, default "flat_forward"

        Returns
        -------
        Curve

        Raises
        ------
        ValueError
            As for ``Curve``, and a discount factor that is not positive.
        """
        t = _tenor_vector(tenors)
        p = _vector("discount_factors", discount_factors)
        bad = p <= 0.0
        if bad.any():
            i = int(np.argmax(bad))
            raise ValueError(
                f"discount_factors: must be positive, got {p[i].item()!r} at position {i}"
            )
        _same_length(t, p)
        log_p = np.log(p)
        curve = cls.__new__(cls)
        curve._setup(t, -log_p / t, log_p, interpolation)
        return curve

    @classmethod
    def flat(cls, rate: float) -> Curve:
        """A curve with the same zero rate (and forward rate) at every time.

        Parameters
        ----------
        rate : float
            The continuously compounded rate, finite.

        Returns
        -------
        Curve
        """
        return cls([1.0], [rate])

    @classmethod
    def parse(cls, text: str, interpolation: str = "flat_forward") -> Curve:
        """A curve from ``tenor=rate`` pairs, such as ``"1m=0.043,3m=0.044,1y=0.045"``.

        Parameters
        ----------
        text : str
            Pairs separated by commas, semicolons or blanks.  A tenor is a
            number of years or a number with a unit ``d`` (1/365 of a year),
            ``w`` (7/365), ``m`` (1/12) or ``y``; a rate is a continuously
            compounded decimal (``0.043``) or a percentage (``4.3%``).
        interpolation : {"flat_forward", "linear_zero"}, default "flat_forward"

        Returns
        -------
        Curve

        Raises
        ------
        ValueError
            A pair that is not ``tenor=rate``, and the errors of ``Curve``.
        """
        tenors: list[float] = []
        rates: list[float] = []
        for item in re.split(r"[,;\s]+", text.strip()):
            tenor, sep, rate = item.partition("=")
            try:
                if not sep:
                    raise ValueError
                tenors.append(tenor_years(tenor))
                rates.append(_rate_value(rate))
            except ValueError:
                raise ValueError(
                    f"not a tenor=rate pair (e.g. 3m=0.044 or 1y=4.5%): {item!r} in {text!r}"
                ) from None
        return cls(tenors, rates, interpolation)

    @classmethod
    def read_csv(cls, path: str | os.PathLike[str], interpolation: str = "flat_forward") -> Curve:
        """A curve from a two-column CSV file: tenor, then zero rate or discount factor.

        Parameters
        ----------
        path : str or os.PathLike
            The file.  Each row holds a tenor (as in ``Curve.parse``) and a
            value; blank rows and rows starting with ``#`` are skipped.  An
            optional header row names the columns: a second column named
            ``discount``, ``discount_factor`` or ``df`` holds discount factors,
            one named ``rate``, ``zero``, ``zero_rate`` or ``yield`` (or no
            header) zero rates.
        interpolation : {"flat_forward", "linear_zero"}, default "flat_forward"

        Returns
        -------
        Curve

        Raises
        ------
        ValueError
            A row without exactly two cells, a cell that is not a tenor or a
            number, an unknown header, and the errors of ``Curve``; each
            names the file and line.
        OSError
            The file cannot be read.
        """
        tenors: list[float] = []
        values: list[float] = []
        discount = False
        with open(path, newline="", encoding="utf-8-sig") as f:
            for line, row in enumerate(csv.reader(f), start=1):
                cells = [cell.strip() for cell in row]
                if not any(cells) or cells[0].startswith("#"):
                    continue
                where = f"{os.fspath(path)}, line {line}"
                if len(cells) != 2:
                    raise ValueError(f"{where}: expected 2 cells (tenor, value), got {len(cells)}")
                if not tenors and not values and _is_header(cells[1]):
                    discount = _header_kind(where, cells[1])
                    continue
                try:
                    tenors.append(tenor_years(cells[0]))
                    values.append(_rate_value(cells[1]))
                except ValueError:
                    raise ValueError(f"{where}: not a tenor and a number: {row!r}") from None
        if not tenors:
            raise ValueError(f"{os.fspath(path)}: no curve points")
        build = cls.from_discount_factors if discount else cls.from_zero_rates
        try:
            return build(tenors, values, interpolation)
        except ValueError as exc:
            raise ValueError(f"{os.fspath(path)}: {exc}") from None

    # ------------------------------------------------------------ the nodes

    @property
    def tenors(self) -> F64Array:
        """The tenors in years (read-only)."""
        return self._tenors

    @property
    def zero_rates(self) -> F64Array:
        """The continuously compounded zero rate at each tenor (read-only)."""
        return self._zero

    @property
    def discount_factors(self) -> F64Array:
        """The discount factor at each tenor (a new array)."""
        return np.exp(self._log_discount)

    @property
    def interpolation(self) -> str:
        """``"flat_forward"`` or ``"linear_zero"``."""
        return self._interpolation

    # ------------------------------------------------------------ evaluation

    def _located(self, t: F64Array) -> tuple[F64Array, F64Array]:
        """The interpolated knot values at ``t`` (log P or z, extended linearly
        past the last tenor) and the slope of the segment each ``t`` falls in
        (the first segment before it, the last beyond)."""
        i = np.clip(np.searchsorted(self._knots, t, side="right") - 1, 0, len(self._knots) - 2)
        x0, y0 = self._knots[i], self._values[i]
        slope = (self._values[i + 1] - y0) / (self._knots[i + 1] - x0)
        return y0 + (t - x0) * slope, slope

    def _far_forward(self) -> float:
        """The instantaneous forward rate at the last tenor, kept flat beyond it."""
        (x0, x1), (y0, y1) = self._knots[-2:], self._values[-2:]
        slope = float((y1 - y0) / (x1 - x0))
        if self._interpolation == "flat_forward":
            return -slope
        return float(self._zero[-1] + self._tenors[-1] * slope)

    def _zero_at(self, t: F64Array) -> F64Array:
        value, _ = self._located(t)
        with np.errstate(divide="ignore", invalid="ignore"):
            z = -value / t if self._interpolation == "flat_forward" else value
            far = self._far_forward()
            beyond = far + (self._zero[-1] - far) * self._tenors[-1] / t
        z = np.where(t < self._tenors[0], self._zero[0], z)
        result: F64Array = np.where(t > self._tenors[-1], beyond, z)
        return result

    def _log_discount_at(self, t: F64Array) -> F64Array:
        if self._interpolation == "flat_forward":
            return self._located(t)[0]
        return -(self._zero_at(t) * t)

    def _instantaneous_forward(self, t: F64Array) -> F64Array:
        value, slope = self._located(t)
        if self._interpolation == "flat_forward":
            forward = -slope
        else:
            forward = np.where(t > self._tenors[-1], self._far_forward(), value + t * slope)
        return forward

    @overload
    def zero_rate(self, t: Real) -> float: ...
    @overload
    def zero_rate(self, t: Times) -> F64Array: ...
    def zero_rate(self, t: Real | Times) -> float | F64Array:
        """The continuously compounded zero rate at times ``t``.

        Parameters
        ----------
        t : float or array-like of float
            Times in years; any shape.

        Returns
        -------
        float or numpy.ndarray of float64
            A ``float`` for a single time, else an array of ``t``'s shape;
            ``-log(discount(t)) / t``, ``z_1`` for ``t`` at or before the first
            tenor (zero and negative ``t`` too), NaN for a NaN ``t``.
        """
        return _shaped(t, self._zero_at(_times(t)))

    @overload
    def discount(self, t: Real) -> float: ...
    @overload
    def discount(self, t: Times) -> F64Array: ...
    def discount(self, t: Real | Times) -> float | F64Array:
        """The discount factor ``exp(-z(t) t)`` at times ``t``.

        Parameters
        ----------
        t : float or array-like of float
            Times in years; any shape.

        Returns
        -------
        float or numpy.ndarray of float64
            A ``float`` for a single time, else an array of ``t``'s shape
            (1.0 at ``t = 0``).
        """
        return _shaped(t, np.exp(self._log_discount_at(_times(t))))

    @overload
    def forward_rate(self, t1: Real, t2: Real) -> float: ...  # type: ignore[overload-overlap]
    @overload
    def forward_rate(self, t1: Real | Times, t2: Real | Times) -> F64Array: ...
    def forward_rate(self, t1: Real | Times, t2: Real | Times) -> float | F64Array:
        """The continuously compounded forward rate from ``t1`` to ``t2``.

        Parameters
        ----------
        t1, t2 : float or array-like of float
            Times in years; they broadcast against each other.

        Returns
        -------
        float or numpy.ndarray of float64
            ``log(P(t1) / P(t2)) / (t2 - t1)`` (the same for ``t1 > t2``); where
            ``t1 == t2`` the instantaneous forward rate at ``t1`` (from the
            right at a tenor).
        """
        a, b = np.broadcast_arrays(_times(t1), _times(t2))
        with np.errstate(divide="ignore", invalid="ignore"):
            average = (self._log_discount_at(a) - self._log_discount_at(b)) / (b - a)
        result = np.where(a == b, self._instantaneous_forward(a), average)
        return result.item() if result.ndim == 0 else np.asarray(result)

    # ------------------------------------------------------------- the object

    def pairs(self) -> str:
        """The nodes as ``tenor=rate`` pairs that ``Curve.parse`` reads back.

        Returns
        -------
        str
            E.g. ``"1m=0.043,3m=0.044"``: each tenor in the shortest unit that
            gives back the same double, each zero rate in full precision.
        """
        return ",".join(
            f"{_tenor_label(t)}={z!r}" for t, z in zip(self._tenors.tolist(), self._zero.tolist())
        )

    def __repr__(self) -> str:
        return f"Curve.parse({self.pairs()!r}, interpolation={self._interpolation!r})"

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Curve):
            return NotImplemented
        return (
            self._interpolation == other._interpolation
            and np.array_equal(self._tenors, other._tenors)
            and np.array_equal(self._zero, other._zero)
            and np.array_equal(self._log_discount, other._log_discount)
        )

    def __hash__(self) -> int:
        return hash((self._interpolation, self._tenors.tobytes(), self._log_discount.tobytes()))

    def __setattr__(self, name: str, value: object) -> None:
        raise AttributeError(f"Curve is immutable: cannot set {name!r}")

    def __delattr__(self, name: str) -> None:
        raise AttributeError(f"Curve is immutable: cannot delete {name!r}")

    def __reduce__(self) -> tuple[Any, tuple[Any, ...]]:
        return _restore, (self._tenors, self._zero, self._log_discount, self._interpolation)


def _restore(t: F64Array, z: F64Array, log_p: F64Array, interpolation: str) -> Curve:
    """A pickled curve, rebuilt with the same doubles."""
    curve = Curve.__new__(Curve)
    curve._setup(np.array(t), np.array(z), np.array(log_p), interpolation)
    return curve


def _is_header(cell: str) -> bool:
    try:
        _rate_value(cell)
    except ValueError:
        return True
    return False


def _header_kind(where: str, name: str) -> bool:
    """Whether a header's second column holds discount factors (else zero rates)."""
    folded = name.strip().lower()
    if folded in _DISCOUNT_HEADERS:
        return True
    if folded in _RATE_HEADERS:
        return False
    known = ", ".join(_RATE_HEADERS + _DISCOUNT_HEADERS)
    raise ValueError(f"{where}: unknown column {name!r}; the second column is one of: {known}")


def _times(t: Any) -> F64Array:
    """Times as a float64 array (numbers only: texts and dates are refused)."""
    arr = np.asarray(t)
    if arr.dtype.kind not in "biuf":
        if arr.dtype.kind != "O":
            raise TypeError(f"t: expected times in years (numbers), got dtype {arr.dtype}")
        if any(isinstance(x, (str, bytes)) for x in arr.ravel().tolist()):
            raise TypeError("t: expected times in years (numbers), got text")
    return np.asarray(arr, dtype=np.float64)


def _shaped(t: Any, result: F64Array) -> float | F64Array:
    if np.ndim(t) == 0:
        return float(result)
    return result
