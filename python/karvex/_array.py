"""The array layer behind ``karvex.bsm``, ``karvex.black76`` and ``karvex.normal``.

The core functions in ``karvex._core`` take equal-length one-dimensional
float64 arrays (int8 for the flag) and nothing else.  This module turns what
users hold -- Python numbers, sequences, NumPy arrays of any shape and numeric
dtype, masked arrays, pandas Series, 'c'/'p' flags -- into exactly those
arrays, broadcasts them together, calls the core function once and gives the
result back in the broadcast shape (a float for all-scalar input, a Series for
Series input, a masked array for masked input).

Two rules differ from the core's, and only here (``_apply_nan_rule``):

- an option with a NaN among its inputs has NaN for every quantity (the core
  prices a NaN ``s``, ``k``, ``t``, ``r`` or ``q`` at 0.0 and a NaN ``sigma``
  at the discounted intrinsic value);
- ``sigma = +inf`` with ``t > 0`` gives each quantity's limit as the
  volatility grows (the core treats it like a NaN ``sigma``).

Every other value is bit for bit what the core function returns for the
broadcast, converted arrays.

Calls whose arguments need no conversion -- ready one-dimensional float64 and
int8 arrays of one length, Python numbers and flag words -- take a fast path
that goes straight to the core (``_fast_call``): no pandas lookup, no dtype
machinery, a handful of microseconds in all.
"""

from __future__ import annotations

import datetime
import inspect
import math
import sys
from collections.abc import Callable, Sequence
from typing import Any, NamedTuple, cast

import numpy as np
import numpy.typing as npt

from . import _core, _ext, _threads
from ._types import Black76SecondOrder, F64Array, Greeks, SecondOrder

QUANTITIES = ("price", "delta", "gamma", "vega", "theta", "rho", "greeks", "iv")
# American exercise (karvex.american): the accurate and the fast mode, in karvex._ext.
AMERICAN_MODELS = ("american", "american_fast", "american_precise")
AMERICAN_QUANTITIES = ("price", "greeks", "iv", "iv_status")
# The models of the generated modules karvex.bsm, karvex.black76 and karvex.normal.
MODELS = ("bsm", "black76", "normal")
FORWARD_MODELS = ("black76", "normal")  # on a forward f, without q
FUNCTIONS = (*QUANTITIES, "iv_status")
GREEK_NAMES = ("delta", "gamma", "vega", "theta", "rho")
# The second-order Greeks (karvex._ext), in the order of SecondOrder's fields, and their single
# pass; Black-76 has no dividend yield and so no dividend rho.
SECOND_ORDER_NAMES = SecondOrder._fields
SECOND_ORDER = (*SECOND_ORDER_NAMES, "second_order")
# Same for calls and puts: no flag.
_NO_FLAG = ("gamma", "vega", "vanna", "volga", "veta", "speed", "zomma", "color", "dual_gamma")


def functions_of(model: str) -> tuple[str, ...]:
    """The functions of ``karvex.<model>`` (the normal model has no second-order Greeks)."""
    if model in AMERICAN_MODELS:
        return AMERICAN_QUANTITIES
    if model == "normal":
        return FUNCTIONS
    second = (
        SECOND_ORDER if model == "bsm" else tuple(q for q in SECOND_ORDER if q != "dividend_rho")
    )
    return (*FUNCTIONS, *second)


# Status of an implied volatility, in the order of their int8 codes (see
# iv_status_codes); the chain command reports the same names.
STATUSES = (
    "ok",
    "intrinsic",
    "below_intrinsic",
    "above_upper_bound",
    "invalid_input",
    "no_solution",
    "two_boundaries",  # American: a second exercise boundary, which the method does not cover
)
PRICE_TOLERANCE = 1e-12  # the core's absolute tolerance on the price bounds

_WORDS = {"c": 1, "call": 1, "p": -1, "put": -1}
_FLAG_FORMS = (
    "expected 'c'/'call' or 'p'/'put' (any case), a signed integer "
    "(negative = put) or a bool (True = call, False = put)"
)
_F64 = np.dtype(np.float64)
_I8 = np.dtype(np.int8)

__all__ = [
    "FUNCTIONS",
    "GREEK_NAMES",
    "SECOND_ORDER",
    "SECOND_ORDER_NAMES",
    "functions_of",
    "Greeks",
    "QUANTITIES",
    "STATUSES",
    "iv_status_codes",
    "american_iv_status_codes",
    "call",
    "docstring",
    "entry_of",
    "evaluate",
    "signed",
    "parameters",
]


def parameters(model: str, quantity: str) -> tuple[str, ...]:
    """Parameter names of a core function, in the core's order."""
    if quantity in _NO_FLAG:
        names: tuple[str, ...] = ("s", "k", "t", "r", "q", "sigma")
    elif quantity in ("iv", "iv_status"):
        names = ("target_price", "flag", "s", "k", "t", "r", "q")
    else:
        names = ("flag", "s", "k", "t", "r", "q", "sigma")
    if model in FORWARD_MODELS:
        # Black-76 and the normal model take the forward in the place of the
        # spot and have no dividend yield (the rate stands in for it inside
        # the core).
        names = tuple("f" if n == "s" else n for n in names if n != "q")
    return names


class _Entry(NamedTuple):
    """What one public function needs: its names and the core functions."""

    fname: str
    model: str
    quantity: str
    names: tuple[str, ...]
    vector: Callable[..., Any]
    scalar: Callable[..., Any]
    into: Callable[..., Any] | None  # the vectorised function that writes into out=
    fields: tuple[str, ...] | None  # the results' names, for several results (None: one)
    record: Any  # the named tuple of several results (Greeks, SecondOrder, ...)
    flag_at: int  # position of the flag, -1 for gamma and vega
    s_at: int  # position of the spot (the forward for Black-76)
    t_at: int  # position of the time to expiry
    rates_at: tuple[int, ...]  # positions of r and q: a curve may stand there
    nan_rule: bool  # price and the Greeks (iv is NaN for NaN inputs already)
    serial_limit: int  # from this many options the core runs on the worker pool
    options: tuple[str, ...]  # the keyword-only options


# --------------------------------------------------------------------------
# argument binding


_MISSING = object()


def _bind(
    fname: str, names: tuple[str, ...], args: tuple[Any, ...], kwargs: dict[str, Any]
) -> list[Any]:
    if len(args) > len(names):
        raise TypeError(
            f"{fname}() takes {len(names)} positional arguments but {len(args)} were given"
        )
    values = list(args) + [_MISSING] * (len(names) - len(args))
    for key, value in kwargs.items():
        if key not in names:
            raise TypeError(f"{fname}() got an unexpected keyword argument '{key}'")
        i = names.index(key)
        if values[i] is not _MISSING:
            raise TypeError(f"{fname}() got multiple values for argument '{key}'")
        values[i] = value
    missing = [n for n, v in zip(names, values) if v is _MISSING]
    if missing:
        listed = ", ".join(f"'{n}'" for n in missing)
        word = "argument" if len(missing) == 1 else "arguments"
        raise TypeError(f"{fname}() missing {len(missing)} required {word}: {listed}")
    return values


# --------------------------------------------------------------------------
# conversion of one argument


class _Refused(Exception):
    """An argument karvex itself refuses; carries the exception to raise."""

    def __init__(self, error: Exception) -> None:
        super().__init__(error)
        self.error = error


def _named(fname: str, name: str, exc: Exception) -> Exception:
    """An exception raised while converting argument ``name`` (by NumPy, by
    pandas or by the user's own ``__float__`` / ``__array__``), restated so
    that it names the argument.  Overflow, type and value errors keep their
    class; anything else becomes a TypeError.  The original is the cause."""
    for cls in (OverflowError, TypeError, ValueError):
        if isinstance(exc, cls):
            break
    else:
        cls = TypeError
    what = str(exc) if cls is type(exc) else f"{type(exc).__name__}: {exc}"
    error = cls(f"{fname}(): argument '{name}' cannot be converted: {what}")
    error.__cause__ = exc
    return error


def _series_type() -> Any:
    # pandas is optional: if it has not been imported, no Series can exist.
    pd = sys.modules.get("pandas")
    return None if pd is None else pd.Series


def _masked_type() -> Any:
    # Likewise numpy.ma: no masked array exists before it is imported.
    ma = sys.modules.get("numpy.ma")
    return None if ma is None else ma.MaskedArray


def _from_series(fname: str, value: Any, is_flag: bool) -> Any:
    """The values of a Series as an ndarray (numeric extension dtypes with
    missing values become float64 with NaN); a categorical or text flag
    column as int8 flags, converted once per category or distinct text."""
    dtype = value.dtype
    if is_flag and dtype.name == "category":
        return _flags_by_code(
            fname, np.asarray(value.cat.codes.to_numpy()), value.cat.categories.to_numpy(), value
        )
    if is_flag and not isinstance(dtype, np.dtype) and getattr(dtype, "kind", "O") in "OSU":
        codes, uniques = value.factorize()
        return _flags_by_code(fname, np.asarray(codes), np.asarray(uniques), value)
    if isinstance(dtype, np.dtype):
        return value.to_numpy()
    if not is_flag and getattr(dtype, "kind", "O") in "biuf":
        return value.to_numpy(dtype=np.float64, na_value=np.nan)
    return value.to_numpy()


def _flags_by_code(
    fname: str, codes: npt.NDArray[Any], uniques: npt.NDArray[Any], shown: Any
) -> npt.NDArray[np.int8]:
    """Flags of values given as codes into their distinct values (code -1: a
    missing value, refused); each distinct value converted once.  ``shown``
    holds the values as the user gave them, for the error message."""
    flags = [_flag_of(v) for v in uniques.tolist()]
    bad = np.array([f is None for f in flags] + [True])[codes]
    if bad.any():
        raise _bad_flag(fname, np.asarray(shown, dtype=object).reshape(codes.shape), bad)
    table = np.array([*flags, 1], dtype=np.int8)
    return np.asarray(table[codes])


def to_float64(fname: str, name: str, value: Any) -> npt.NDArray[np.float64]:
    """A number argument as a float64 array (no copy if it already is one)."""
    if type(value) is np.ndarray and value.dtype == np.float64:
        return value
    arr = np.asarray(value)
    kind = arr.dtype.kind
    if kind in "biuf":
        return arr.astype(np.float64, copy=False)
    if kind == "O":
        # Objects that know how to be a float (Decimal, Fraction, None as
        # NaN); text is refused here as it is for NumPy string arrays.
        if any(isinstance(v, (str, bytes)) for v in arr.flat):
            raise _Refused(TypeError(f"{fname}(): argument '{name}' must be numbers, not text"))
        return arr.astype(np.float64)
    if kind in "US":
        raise _Refused(TypeError(f"{fname}(): argument '{name}' must be numbers, not text"))
    raise _Refused(
        TypeError(
            f"{fname}(): argument '{name}' must be real numbers, not an array of dtype {arr.dtype}"
        )
    )


def _flag_from_sign(arr: npt.NDArray[Any]) -> npt.NDArray[np.int8]:
    return np.where(arr < 0, np.int8(-1), np.int8(1))


def _bad_flag(fname: str, arr: npt.NDArray[Any], bad: npt.NDArray[np.bool_]) -> _Refused:
    where = np.argwhere(bad)[0] if bad.any() else np.zeros(arr.ndim, dtype=np.intp)
    value = arr[tuple(where)]
    at = f" at index {tuple(int(i) for i in where)}" if arr.ndim else ""
    return _Refused(ValueError(f"{fname}(): invalid flag {value!r}{at}: {_FLAG_FORMS}"))


# Characters of a flag word as they compare: ASCII letters in lower case,
# other ASCII printing characters as they are, the NUL that pads a shorter
# text as 0; blanks and control characters (which a flag word may have around
# it) as 0xff, which no word has.
_FOLD = np.array(
    [0]
    + [c | 0x20 if 65 <= c <= 90 else 0xFF if c <= 32 or c == 127 else c for c in range(1, 128)],
    dtype=np.uint8,
)


def _word_keys(arr: npt.NDArray[Any]) -> npt.NDArray[np.uint32] | None:
    """Each text of a fixed-width 'U' or 'S' array as one integer key (its
    first four characters folded by _FOLD, one byte each), or None when some
    text cannot be a flag word as it stands (longer than four characters,
    non-ASCII): those go the slow way, as do blanks, which make no word's key."""
    kind = arr.dtype.kind
    width = arr.dtype.itemsize // (4 if kind == "U" else 1)
    if width == 0 or arr.size == 0:
        return None
    chars = cast(
        "npt.NDArray[np.uint32]",
        np.ascontiguousarray(arr)
        .view(np.uint32 if kind == "U" else np.uint8)
        .reshape(arr.size, width),
    )
    if width > 4:
        if chars[:, 4:].any():
            return None
        chars = chars[:, :4]
    if chars.max() >= 128:
        return None
    folded = np.zeros((arr.size, 4), dtype=np.uint8)
    np.take(_FOLD, chars, out=folded[:, : chars.shape[1]])
    keys: npt.NDArray[np.uint32] = folded.view(np.uint32).reshape(arr.size)
    return keys


_WORD_KEYS = _word_keys(np.array(["c", "call", "p", "put"]))


def _flag_from_words(fname: str, arr: npt.NDArray[Any]) -> npt.NDArray[np.int8]:
    keys = _word_keys(arr)
    if keys is not None and _WORD_KEYS is not None:
        c, call, p, put = _WORD_KEYS.tolist()
        is_put = (keys == p) | (keys == put)
        if (is_put | (keys == c) | (keys == call)).all():
            return np.where(is_put, np.int8(-1), np.int8(1)).reshape(arr.shape)
    text = np.char.decode(arr, "ascii", errors="replace") if arr.dtype.kind == "S" else arr
    words = np.char.lower(np.char.strip(text))
    is_call = (words == "c") | (words == "call")
    is_put = (words == "p") | (words == "put")
    bad = ~(is_call | is_put)
    if bad.any():
        raise _bad_flag(fname, arr, bad)
    return np.where(is_put, np.int8(-1), np.int8(1))


def _flag_of(value: Any) -> int | None:
    """The flag of one Python object, or None if it has no flag meaning."""
    if isinstance(value, (bool, np.bool_)):
        return 1 if value else -1
    if isinstance(value, (str, bytes)):
        word = value.decode("ascii", "replace") if isinstance(value, bytes) else value
        return _WORDS.get(word.strip().lower())
    if isinstance(value, (int, np.integer)):
        return -1 if value < 0 else 1
    if isinstance(value, (float, np.floating)) and value == value and float(value).is_integer():
        return -1 if value < 0 else 1
    return None


def _flag_from_objects(fname: str, arr: npt.NDArray[Any]) -> npt.NDArray[np.int8]:
    """Flags of an object array (text columns of pandas): with pandas loaded,
    each distinct value converted once, then spread by its codes."""
    pd = sys.modules.get("pandas")
    flat = arr.reshape(-1)
    if pd is not None:
        try:
            codes, uniques = pd.factorize(flat)
        except TypeError:  # unhashable values
            pass
        else:
            return _flags_by_code(fname, codes, uniques, flat).reshape(arr.shape)
    found = [_flag_of(v) for v in flat]
    if None in found:
        raise _bad_flag(fname, arr, np.array([f is None for f in found]).reshape(arr.shape))
    return np.array(found, dtype=np.int8).reshape(arr.shape)


def to_flag(fname: str, value: Any) -> npt.NDArray[np.int8]:
    """The flag argument as an int8 array of signs (no copy for int8 input).

    Accepted forms: 'c'/'call' and 'p'/'put' in any case; integers, whose
    sign decides (negative = put, zero or positive = call); whole floats the
    same way; booleans, read as "is a call" (True = call, False = put).
    """
    if type(value) is np.ndarray and value.dtype == np.int8:
        return value
    arr = np.asarray(value)
    kind = arr.dtype.kind
    if kind == "i":
        return arr if arr.dtype == np.int8 else _flag_from_sign(arr)
    if kind == "u":
        return np.ones(arr.shape, np.int8)
    if kind == "b":
        return np.where(arr, np.int8(1), np.int8(-1))
    if kind == "f":
        with np.errstate(invalid="ignore"):
            bad = ~(np.isfinite(arr) & (arr == np.trunc(arr)))
        if bad.any():
            raise _bad_flag(fname, arr, bad)
        return _flag_from_sign(arr)
    if kind in "US":
        return _flag_from_words(fname, arr)
    if kind == "O":
        return _flag_from_objects(fname, arr)
    raise _Refused(
        TypeError(f"{fname}(): argument 'flag' must be call/put flags, not dtype {arr.dtype}")
    )


def _convert(entry: _Entry, name: str, value: Any, series: Any) -> npt.NDArray[Any]:
    """One argument converted, with every error naming it."""
    is_flag = name == "flag"
    try:
        if series is not None and isinstance(value, series):
            value = _from_series(entry.fname, value, is_flag)
        if is_flag:
            return to_flag(entry.fname, value)
        return to_float64(entry.fname, name, value)
    except _Refused as refused:
        raise refused.error from None
    except Exception as exc:
        raise _named(entry.fname, name, exc) from exc


# --------------------------------------------------------------------------
# NaN stays NaN; the limits at infinite volatility


def _c_exp(x: float) -> float:
    """The C library's ``exp``, as the core uses it: ``inf`` where the result
    overflows (``math.exp`` raises ``OverflowError`` there instead)."""
    try:
        return math.exp(x)
    except OverflowError:
        return math.inf


def _sigma_limits(
    black76: bool, put: bool, s: float, k: float, t: float, r: float, q: float
) -> tuple[float, ...]:
    """Price, delta, gamma, vega, theta and rho, then charm, dual delta and
    dividend rho, as sigma grows without bound (t > 0): the price tends to the
    discounted spot (call) or the discounted strike (put), the density terms
    to zero (so do vanna, volga, veta, speed, zomma, color and dual gamma).
    Discount factors use the same exponential as the core (the C library's
    ``exp``, overflowing to ``inf``), and the rest is IEEE arithmetic, as in
    the core."""
    dr = _c_exp(-(r * t))
    dq = dr if black76 else _c_exp(-(q * t))
    if put:
        price, delta, theta = k * dr, -0.0, (k * r) * dr
        charm, dual_delta, dividend_rho = 0.0, dr, 0.0
    else:
        price, delta, theta = s * dq, dq, (s * q) * dq
        charm, dual_delta, dividend_rho = q * dq, -0.0, -((s * t) * dq)
    if black76:
        rho = -(t * price)
    else:
        rho = -((k * t) * dr) if put else 0.0
    return price, delta, 0.0, 0.0, theta, rho, charm, dual_delta, dividend_rho


_LIMIT_INDEX = {
    "price": (0,),
    "delta": (1,),
    "gamma": (2,),
    "vega": (3,),
    "theta": (4,),
    "rho": (5,),
    "greeks": (1, 2, 3, 4, 5),
    # the second-order Greeks: 2 (zero) but for charm, dual delta and dividend rho
    **{name: (2,) for name in SECOND_ORDER_NAMES},
    "charm": (6,),
    "dual_delta": (7,),
    "dividend_rho": (8,),
}
_LIMIT_INDEX["second_order"] = tuple(_LIMIT_INDEX[n][0] for n in SECOND_ORDER_NAMES)


def _inputs(entry: _Entry, values: Sequence[Any]) -> tuple[Any, Any, Any, Any, Any, Any]:
    """s (or f), k, t, r, q, sigma of a price or Greek call (q = r for Black-76)."""
    named = dict(zip(entry.names, values))
    s = named["f"] if entry.model in FORWARD_MODELS else named["s"]
    r = named["r"]
    q = r if entry.model in FORWARD_MODELS else named["q"]
    return s, named["k"], named["t"], r, q, named["sigma"]


def _american(entry: _Entry) -> bool:
    """Whether the entry is an American function: no sigma = +inf limit (the kernels give NaN)."""
    return entry.model in AMERICAN_MODELS


def _scalar_nan_rule(entry: _Entry, args: list[Any], result: Any) -> Any:
    """The NaN rule for the scalar twins (args converted, result as returned)."""
    s, k, t, r, q, sigma = _inputs(entry, args)
    if any(math.isnan(x) for x in (s, k, t, r, q, sigma)):
        return (math.nan,) * len(entry.fields) if entry.fields else math.nan
    if sigma == math.inf and t > 0 and not _american(entry) and entry.model != "normal":
        put = entry.flag_at >= 0 and args[entry.flag_at] < 0
        limits = _sigma_limits(entry.model == "black76", put, s, k, t, r, q)
        picked = tuple(limits[i] for i in _LIMIT_INDEX[entry.quantity])
        return picked[: len(entry.fields)] if entry.fields else picked[0]
    return result


def _apply_nan_rule(entry: _Entry, flat: list[npt.NDArray[Any]], result: Any) -> None:
    """The NaN rule on the core's result for the flattened arguments, in place.

    The sum of the six inputs is not finite wherever one of them is NaN or
    infinite (and perhaps where large values overflow): only those options
    are looked at one by one."""
    outputs = result if entry.fields else (result,)
    inputs = _inputs(entry, flat)
    with np.errstate(all="ignore"):
        total = inputs[0] + inputs[1]
        for a in inputs[2:]:
            total += a
        rows = np.flatnonzero(~np.isfinite(total))
    if not len(rows):
        return
    s, k, t, r, q, sigma = (a[rows] for a in inputs)
    nan = np.isnan(s) | np.isnan(k) | np.isnan(t) | np.isnan(r) | np.isnan(q) | np.isnan(sigma)
    for out in outputs:
        out[rows[nan]] = np.nan
    # (the normal model's kernels give the limits of sigma = +inf themselves)
    limit = (sigma == np.inf) & (t > 0) & ~nan & (entry.model != "normal")
    if limit.any() and not _american(entry):
        put = (
            flat[entry.flag_at][rows[limit]] < 0
            if entry.flag_at >= 0
            else np.zeros(int(limit.sum()), bool)
        )
        limits = _sigma_limits_of(
            entry.model == "black76", put, s[limit], k[limit], t[limit], r[limit], q[limit]
        )
        for out, pick in zip(outputs, _LIMIT_INDEX[entry.quantity]):
            out[rows[limit]] = limits[pick]


def _exp(x: F64Array) -> F64Array:
    # The C library's exp, as the core uses it, element by element.
    return np.fromiter(map(_c_exp, x.tolist()), np.float64, len(x))


def _sigma_limits_of(
    black76: bool,
    put: npt.NDArray[np.bool_],
    s: F64Array,
    k: F64Array,
    t: F64Array,
    r: F64Array,
    q: F64Array,
) -> list[Any]:
    """_sigma_limits on arrays, operation for operation (the same bits; the
    overflows and invalid products of IEEE arithmetic are no warnings)."""
    with np.errstate(all="ignore"):
        dr = _exp(-(r * t))
        dq = dr if black76 else _exp(-(q * t))
        price = np.where(put, k * dr, s * dq)
        delta = np.where(put, -0.0, dq)
        theta = np.where(put, (k * r) * dr, (s * q) * dq)
        if black76:
            rho = -(t * price)
        else:
            rho = np.where(put, -((k * t) * dr), 0.0)
        charm = np.where(put, 0.0, q * dq)
        dual_delta = np.where(put, dr, -0.0)
        dividend_rho = np.where(put, 0.0, -((s * t) * dq))
    return [price, delta, 0.0, 0.0, theta, rho, charm, dual_delta, dividend_rho]


def _finite_numbers(entry: _Entry, values: Sequence[Any]) -> bool:
    """True when no number argument holds a NaN or an infinity (a quick test
    that may also say False for finite values whose products overflow; the
    exact rule runs then, and finds nothing to change).

    One BLAS dot product reads two whole arrays in one call, the cheapest
    NumPy call that sees every element: any NaN or infinity in either makes
    the sum of the products non-finite.  The floating-point flags it may
    raise on such values are not warnings here."""
    total = 0.0
    by_size: dict[int, list[npt.NDArray[Any]]] = {}
    for i, v in enumerate(values):
        if i == entry.flag_at:
            continue
        if type(v) is float or type(v) is int:
            total += v
        elif v.size == 1:
            total += v.item(0)
        elif v.size:
            by_size.setdefault(v.size, []).append(v if v.ndim == 1 else v.reshape(-1))
    if by_size:
        with np.errstate(all="ignore"):
            for arrays in by_size.values():
                if len(arrays) % 2:
                    arrays.append(arrays[-1])
                for a, b in zip(arrays[::2], arrays[1::2]):
                    total += a.dot(b)
    return math.isfinite(total)


# --------------------------------------------------------------------------
# implied-volatility status


def _settled_statuses(iv: F64Array) -> tuple[npt.NDArray[np.int8], npt.NDArray[np.bool_]]:
    """The codes that follow from iv itself ('ok' for a volatility, 'intrinsic' for 0.0), and
    the mask of the NaNs, whose codes the model's own tests give."""
    status = np.zeros(len(iv), dtype=np.int8)
    status[iv == 0.0] = STATUSES.index("intrinsic")
    return status, np.isnan(iv)


def iv_status_codes(
    iv: F64Array,
    price: F64Array,
    put: npt.NDArray[np.bool_],
    s: F64Array,
    k: F64Array,
    t: F64Array,
    r: F64Array,
    q: F64Array,
) -> npt.NDArray[np.int8]:
    """The status of each implied volatility as an int8 code into STATUSES.

    One-dimensional arrays of one length; ``iv`` is what the core's iv
    returned for the other arguments (Black-76: the forward as ``s``, ``q``
    = ``r``).  ``ok`` and ``intrinsic`` follow from ``iv`` itself (positive,
    0.0); a NaN is explained by the core's own tests in the core's order:
    invalid inputs (a non-finite input, ``s``, ``k`` or ``t`` not positive, a
    negative price), a price below the discounted intrinsic value by more
    than 1e-12 -- that value taken from the core itself, the price at zero
    volatility, so the test is exact -- then at or above the upper bound
    (the discounted spot for a call, the strike for a put; prices within 1e-9
    of it count too, as the core finds no finite volatility there), and
    otherwise no solution.
    """
    status, failed = _settled_statuses(iv)
    if not failed.any():
        return status
    with np.errstate(all="ignore"):
        finite = np.isfinite(s) & np.isfinite(k) & np.isfinite(t) & np.isfinite(r) & np.isfinite(q)
        valid = finite & (s > 0) & (k > 0) & (t > 0) & np.isfinite(price) & (price >= 0)
        status[failed & ~valid] = STATUSES.index("invalid_input")
        rows = np.flatnonzero(failed & valid)
        if len(rows):
            p, is_put = price[rows], put[rows]
            ps, pk, pt, pr, pq = s[rows], k[rows], t[rows], r[rows], q[rows]
            flag = np.where(is_put, np.int8(-1), np.int8(1))
            if len(rows) >= _threads.SERIAL_LIMITS["price"]:
                _threads.pool_used = True
            intrinsic = _core.bsm_price(flag, ps, pk, pt, pr, pq, np.zeros(len(rows)))
            upper = np.where(is_put, pk * np.exp(-(pr * pt)), ps * np.exp(-(pq * pt)))
            code = np.full(len(rows), STATUSES.index("no_solution"), dtype=np.int8)
            code[p > upper - upper * 1e-9 - PRICE_TOLERANCE] = STATUSES.index("above_upper_bound")
            code[p < intrinsic - PRICE_TOLERANCE] = STATUSES.index("below_intrinsic")
            status[rows] = code
    return status


def _status_names(codes: npt.NDArray[np.int8]) -> npt.NDArray[np.str_]:
    return np.array(STATUSES)[codes]


def normal_iv_status_codes(
    iv: F64Array,
    price: F64Array,
    put: npt.NDArray[np.bool_],
    f: F64Array,
    k: F64Array,
    t: F64Array,
    r: F64Array,
) -> npt.NDArray[np.int8]:
    """The status of each implied normal volatility, as iv_status_codes: the kernel's own tests
    in its order (invalid inputs: a non-finite f, k, t or r, t not positive, a price not finite
    or negative; a price below the discounted intrinsic value by more than 1e-12, that value the
    kernel's own price at zero volatility), and otherwise no solution (a volatility that is not
    finite). The normal model has no upper bound."""
    status, failed = _settled_statuses(iv)
    if not failed.any():
        return status
    with np.errstate(all="ignore"):
        finite = np.isfinite(f) & np.isfinite(k) & np.isfinite(t) & np.isfinite(r)
        valid = finite & (t > 0) & np.isfinite(price) & (price >= 0)
        status[failed & ~valid] = STATUSES.index("invalid_input")
        rows = np.flatnonzero(failed & valid)
        if len(rows):
            flag = np.where(put[rows], np.int8(-1), np.int8(1))
            intrinsic = _ext.normal_price(
                flag, f[rows], k[rows], t[rows], r[rows], np.zeros(len(rows))
            )
            code = np.full(len(rows), STATUSES.index("no_solution"), dtype=np.int8)
            code[price[rows] < intrinsic - PRICE_TOLERANCE] = STATUSES.index("below_intrinsic")
            status[rows] = code
    return status


def american_iv_status_codes(
    iv: F64Array,
    price: F64Array,
    put: npt.NDArray[np.bool_],
    s: F64Array,
    k: F64Array,
    t: F64Array,
    r: F64Array,
    q: F64Array,
) -> npt.NDArray[np.int8]:
    """The status of each American implied volatility, as iv_status_codes but from the American
    bounds: below the undiscounted intrinsic value by more than 1e-12, at or above k (a put) or
    s (a call). A put with r < 0 and q < r (a call with q < 0 and r < q) has two exercise
    boundaries, which the kernels do not cover: two_boundaries, whatever the price. Invalid
    inputs come first."""
    status, failed = _settled_statuses(iv)
    with np.errstate(invalid="ignore"):
        intrinsic = np.where(put, np.maximum(k - s, 0.0), np.maximum(s - k, 0.0))
        bound = np.where(put, k, s)
        finite = np.logical_and.reduce([np.isfinite(a) for a in (price, s, k, t, r, q)])
        invalid = ~finite | ~(s > 0) | ~(k > 0) | ~(t > 0) | ~(price >= 0)
        pr, pq = np.where(put, r, q), np.where(put, q, r)
        two = ~invalid & (pr < 0) & (pq < pr)
        status[failed] = STATUSES.index("no_solution")
        status[failed & (price >= bound)] = STATUSES.index("above_upper_bound")
        status[failed & (price < intrinsic - PRICE_TOLERANCE)] = STATUSES.index("below_intrinsic")
        status[two] = STATUSES.index("two_boundaries")
        status[invalid] = STATUSES.index("invalid_input")
    return status


def _iv_status(entry: _Entry, flat: list[npt.NDArray[Any]], iv: F64Array) -> npt.NDArray[np.str_]:
    named = dict(zip(entry.names, flat))
    price, put = named.pop("target_price"), named.pop("flag") < 0
    if entry.model in AMERICAN_MODELS:
        codes = american_iv_status_codes(iv, price, put, **named)
    elif entry.model == "normal":
        codes = normal_iv_status_codes(iv, price, put, **named)
    elif entry.model == "black76":  # BSM on the forward with q = r
        f, r = named["f"], named["r"]
        codes = iv_status_codes(iv, price, put, f, named["k"], named["t"], r, r)
    else:
        codes = iv_status_codes(iv, price, put, **named)
    return _status_names(codes)


# --------------------------------------------------------------------------
# the fast path


def _scalar_flag(v: Any) -> int | None:
    tv = type(v)
    if tv is str:
        return _WORDS.get(v) or _WORDS.get(v.strip().lower())
    if tv is bool:
        return 1 if v else -1
    if tv is int:
        return -1 if v < 0 else 1
    return None


def _filled(n: int, value: Any, dtype: np.dtype[Any]) -> npt.NDArray[Any]:
    out = np.empty(n, dtype)
    out.fill(value)
    return out


def _fast_call(entry: _Entry, values: Sequence[Any]) -> Any:
    """The result for arguments that need no conversion (Python numbers and
    flag words, one-dimensional float64 / int8 arrays of one length), or
    _MISSING for anything else."""
    n = -1
    scalars = False
    flag_at = entry.flag_at
    for i, v in enumerate(values):
        if type(v) is np.ndarray:
            if v.ndim != 1 or v.dtype is not (_I8 if i == flag_at else _F64):
                return _MISSING
            if n < 0:
                n = len(v)
            elif len(v) != n:
                return _MISSING
        elif i == flag_at:
            if _scalar_flag(v) is None:
                return _MISSING
            scalars = True
        elif type(v) is float or type(v) is int:
            scalars = True
        else:
            return _MISSING
    args: Sequence[Any] = values
    if scalars:
        try:
            if n < 0:
                args = [_scalar_flag(v) if i == flag_at else float(v) for i, v in enumerate(values)]
            else:
                args = [
                    v
                    if type(v) is np.ndarray
                    else _filled(n, _scalar_flag(v), _I8)
                    if i == flag_at
                    else _filled(n, float(v), _F64)
                    for i, v in enumerate(values)
                ]
        except OverflowError:  # a Python int beyond float: the general path names it
            return _MISSING

    if n < 0:
        if entry.quantity == "iv_status":
            iv = np.array([entry.scalar(*args)])
            return str(_iv_status(entry, [np.array([a]) for a in args], iv)[0])
        result = entry.scalar(*args)
        if entry.nan_rule and not math.isfinite(sum(args)):
            result = _scalar_nan_rule(entry, list(args), result)
        return entry.record(*result) if entry.fields else result

    if n >= entry.serial_limit:
        _threads.pool_used = True
    try:
        result = entry.vector(*args)
    except TypeError:  # not contiguous or not aligned: the general path copies
        return _MISSING
    if entry.quantity == "iv_status":
        return _iv_status(entry, list(args), result)
    if entry.nan_rule and not _finite_numbers(entry, values):
        _apply_nan_rule(entry, list(args), result)
    return entry.record(*result) if entry.fields else result


# --------------------------------------------------------------------------
# the caller's containers: polars, pyarrow, xarray, pandas DataFrames
#
# Each library is looked for in sys.modules only: none of them is imported
# unless the caller has imported it (and so may hold its objects).  pandas
# Series take their own way (_from_series, _common_index, _wrap_series).


Wrap = Callable[[Any], Any]


def _unwrapped(entry: _Entry, values: list[Any]) -> tuple[list[Any], Wrap | None]:
    """The arguments with polars Series, pyarrow arrays, xarray DataArrays
    and pandas DataFrames replaced by NumPy arrays, and the function that
    puts a result of the broadcast shape back into the first one's kind
    (None when there is none)."""
    modules = sys.modules
    pl, pa, xr, pd = (modules.get(m) for m in ("polars", "pyarrow", "xarray", "pandas"))
    if pl is None and pa is None and xr is None and pd is None:
        return values, None
    if xr is not None and any(isinstance(v, xr.DataArray) for v in values):
        return _from_xarray(entry, values, xr)
    if pl is not None and any(isinstance(v, pl.Expr) for v in values):
        raise _Expression(values)
    wrap: Wrap | None = None
    frame, frame_at = None, -1
    out = list(values)
    for i, v in enumerate(values):
        if pl is not None and isinstance(v, pl.Series):
            out[i] = v.to_numpy()
            wrap = wrap or _polars_wrap(entry, pl, len(v))
        elif pa is not None and isinstance(v, (pa.Array, pa.ChunkedArray)):
            out[i] = v.to_numpy(zero_copy_only=False)
            wrap = wrap or _arrow_wrap(entry, pa, len(v), isinstance(v, pa.ChunkedArray))
        elif pd is not None and isinstance(v, pd.DataFrame):
            if frame is None:
                frame, frame_at = v, i
                wrap = wrap or _frame_wrap(entry, pd, v)
            elif not (v.index.equals(frame.index) and v.columns.equals(frame.columns)):
                raise ValueError(
                    f"{entry.fname}(): DataFrames '{entry.names[frame_at]}' and "
                    f"'{entry.names[i]}' have different indexes or columns (align them first)"
                )
            out[i] = v.to_numpy()
    return (out, wrap) if wrap is not None else (values, None)


def _columns(entry: _Entry, values: list[Any], data: Any) -> list[Any]:
    """Arguments given as texts replaced by those columns of ``data`` (a
    pandas or polars DataFrame).  A text that is no column stays what it is
    only in the place of the flag, where it may be a flag word."""
    pd, pl = sys.modules.get("pandas"), sys.modules.get("polars")
    if not (
        (pd is not None and isinstance(data, pd.DataFrame))
        or (pl is not None and isinstance(data, pl.DataFrame))
    ):
        raise TypeError(
            f"{entry.fname}(): data must be a pandas or polars DataFrame, not {type(data).__name__}"
        )
    out = list(values)
    for i, (name, v) in enumerate(zip(entry.names, values)):
        if type(v) is str:
            if v in data.columns:
                out[i] = data[v]
            elif i != entry.flag_at or _scalar_flag(v) is None:
                raise ValueError(f"{entry.fname}(): argument '{name}': data has no column {v!r}")
    return out


class _Expression(Exception):
    """Arguments with polars expressions among them: the call becomes one."""

    def __init__(self, values: list[Any]) -> None:
        super().__init__()
        self.values = values


def _polars_expression(entry: _Entry, values: list[Any], options: Options | None) -> Any:
    """A polars expression that evaluates the function on the batches of its
    expression arguments (the others as given), named after the quantity;
    for greeks a struct of the five."""
    import polars as pl

    if options is not None and options.out is not None:
        raise TypeError(f"{entry.fname}(): out= takes no polars expressions")
    at = [i for i, v in enumerate(values) if isinstance(v, pl.Expr)]

    def batch(columns: Any) -> Any:
        frame = columns.struct.unnest()
        given = list(values)
        for j, i in enumerate(at):
            given[i] = frame.to_series(j)
        result = evaluate(entry, given, options)
        return result.to_struct(entry.quantity) if entry.fields else result

    if entry.fields:
        dtype: Any = pl.Struct({name: pl.Float64 for name in entry.fields})
    else:
        dtype = pl.String if entry.quantity == "iv_status" else pl.Float64
    inputs = pl.struct([values[i].alias(f"_{i}") for i in at])
    return inputs.map_batches(batch, return_dtype=dtype, is_elementwise=True).alias(entry.quantity)


def _polars_wrap(entry: _Entry, pl: Any, n: int) -> Wrap:
    def wrap(result: Any) -> Any:
        if entry.fields:
            return pl.DataFrame(dict(zip(entry.fields, result)))
        return pl.Series(entry.quantity, result)

    return _if_shape(entry, (n,), wrap)


def _arrow_wrap(entry: _Entry, pa: Any, n: int, chunked: bool) -> Wrap:
    def wrap(result: Any) -> Any:
        if entry.fields:
            return pa.table(dict(zip(entry.fields, result)))
        return pa.chunked_array([result]) if chunked else pa.array(result)

    return _if_shape(entry, (n,), wrap)


def _frame_wrap(entry: _Entry, pd: Any, frame: Any) -> Wrap:
    def wrap(result: Any) -> Any:
        def one(r: Any) -> Any:
            return pd.DataFrame(r, index=frame.index, columns=frame.columns, copy=False)

        return entry.record(*map(one, result)) if entry.fields else one(result)

    return _if_shape(entry, frame.shape, wrap)


def _if_shape(entry: _Entry, shape: tuple[int, ...], wrap: Wrap) -> Wrap:
    """``wrap`` for results of ``shape``; other results stay arrays (a
    container broadcast against arrays of more dimensions)."""

    def checked(result: Any) -> Any:
        first = result[0] if entry.fields else result
        return wrap(result) if np.shape(first) == shape else result

    return checked


def _from_xarray(entry: _Entry, values: list[Any], xr: Any) -> tuple[list[Any], Wrap]:
    """DataArrays aligned exactly and broadcast by dimension name; the other
    arguments must be scalars (or curves), which have no dimensions to match."""
    at = [i for i, v in enumerate(values) if isinstance(v, xr.DataArray)]
    for i, v in enumerate(values):
        if i not in at and not _is_curve(v) and np.ndim(v) != 0:
            raise TypeError(
                f"{entry.fname}(): argument '{entry.names[i]}' has dimensions without names; "
                "with DataArrays give it as a DataArray too (xarray.DataArray(a, dims=...))"
            )
    try:
        aligned = xr.align(*(values[i] for i in at), join="exact")
    except ValueError as exc:
        raise ValueError(f"{entry.fname}(): DataArrays do not align: {exc}") from None
    arrays = xr.broadcast(*aligned)
    template = arrays[0]
    out = list(values)
    for i, a in zip(at, arrays):
        out[i] = np.asarray(a.transpose(*template.dims).data)

    def wrap(result: Any) -> Any:
        def one(r: Any, name: str) -> Any:
            return xr.DataArray(r, dims=template.dims, coords=template.coords, name=name)

        if entry.fields:
            return xr.Dataset({n: one(r, n) for n, r in zip(entry.fields, result)})
        return one(result, entry.quantity)

    return out, wrap


# --------------------------------------------------------------------------
# out=


def _outs(entry: _Entry, out: Any, shape: tuple[int, ...]) -> tuple[F64Array, ...]:
    """The arrays given as ``out``, checked: float64, writeable, of the
    broadcast shape; one per result (a tuple or the named tuple) for
    ``greeks`` and ``second_order``."""
    fname = entry.fname
    if entry.fields:
        if not isinstance(out, tuple) or len(out) != len(entry.fields):
            count = "five" if len(entry.fields) == 5 else str(len(entry.fields))
            raise TypeError(
                f"{fname}(): out must be a tuple of {count} float64 arrays "
                f"({', '.join(entry.fields)})"
            )
        outs: tuple[Any, ...] = out
    else:
        outs = (out,)
    for o in outs:
        if type(o) is not np.ndarray or o.dtype != _F64:
            what = f"dtype {o.dtype}" if isinstance(o, np.ndarray) else type(o).__name__
            raise TypeError(f"{fname}(): out must be a float64 NumPy array, not {what}")
        if o.shape != shape:
            raise ValueError(
                f"{fname}(): out has shape {o.shape}, the arguments broadcast to {shape}"
            )
        if not o.flags.writeable:
            raise ValueError(f"{fname}(): out is read-only")
    return outs


def _flat_outs(
    outs: tuple[F64Array, ...], flat: Sequence[npt.NDArray[Any]], order: str
) -> tuple[F64Array, ...] | None:
    """The out arrays as the one-dimensional views the core writes into, in
    the order the inputs were flattened, or None when one of them is not such a
    view (another layout) or may share memory with an input or another out:
    the core then computes into arrays of its own, which are copied."""
    views = []
    for o in outs:
        contiguous = o.flags.f_contiguous if order == "F" else o.flags.c_contiguous
        if not (contiguous and o.flags.aligned and o.dtype.isnative):
            return None
        views.append(o.reshape(-1, order="F" if order == "F" else "C"))
    for i, v in enumerate(views):
        if any(np.may_share_memory(v, a) for a in flat) or any(
            np.may_share_memory(v, w) for w in views[:i]
        ):
            return None
    return tuple(views)


# --------------------------------------------------------------------------
# rate curves


def _is_curve(value: Any) -> bool:
    """A rate curve: anything with a ``zero_rate(t)`` method (karvex.Curve)."""
    # Looked up on the type: a pandas Series answers any attribute that is
    # one of its index labels.
    return type(value) not in (float, int, np.ndarray) and hasattr(type(value), "zero_rate")


def _prepared(entry: _Entry, values: list[Any], day_count: str) -> list[Any]:
    """The arguments with durations in the place of ``t`` turned into years
    and each curve in the place of ``r`` or ``q`` replaced by its zero rates
    at each option's ``t`` (``values`` itself when nothing changes)."""
    t = values[entry.t_at]
    years = _years(entry.fname, t, day_count)
    curves = [i for i in entry.rates_at if _is_curve(values[i])]
    if years is t and not curves:
        return values
    values = list(values)
    values[entry.t_at] = years
    if curves:
        t = _convert(entry, "t", years, _series_type())
        for i in curves:
            try:
                values[i] = values[i].zero_rate(t if t.ndim else float(t))
            except Exception as exc:
                raise _named(entry.fname, entry.names[i], exc) from exc
    return values


# --------------------------------------------------------------------------
# times to expiry as durations


_DURATION_DAYS = {"act/365f": 365.0, "act/360": 360.0}
_DAY = np.timedelta64(1, "D")


def _duration_day_count(fname: str, day_count: Any) -> str:
    """The canonical name of a day count that applies to durations."""
    if day_count == "act/365f":
        return "act/365f"
    from .daycount import _convention

    try:
        name = _convention(day_count)
    except (TypeError, ValueError) as exc:
        raise type(exc)(f"{fname}(): {exc}") from None
    if name not in _DURATION_DAYS:
        raise ValueError(
            f"{fname}(): day_count {name!r} counts calendar dates, and a duration has "
            f"none; give t in years, e.g. karvex.year_fraction(today, expiry, {name!r})"
        )
    return name


def _years(fname: str, t: Any, day_count: str) -> Any:
    """``t`` in years when it holds durations (``timedelta``, ``timedelta64``,
    a pandas Series of them, on its index), else ``t`` itself.  A duration of
    ``d`` days is ``d / 365`` years under act/365f, ``d / 360`` under act/360,
    the days counted with their fraction (the Act counts of year_fraction)."""
    tt = type(t)
    if tt is float or tt is int:
        return t
    series = _series_type()
    index = None
    if series is not None and isinstance(t, series):
        if t.dtype.kind not in "mM":
            return t
        index, arr = t.index, t.to_numpy()
    elif isinstance(t, datetime.timedelta):
        arr = np.asarray(
            np.timedelta64(t) if tt is datetime.timedelta else cast(Any, t).to_timedelta64()
        )
    elif isinstance(t, (np.ndarray, np.generic, list, tuple)):
        arr = np.asarray(t)
        if arr.dtype.kind == "O" and arr.size and isinstance(arr.flat[0], datetime.timedelta):
            arr = np.array([np.timedelta64(v) for v in arr.flat], "m8[us]").reshape(arr.shape)
    else:
        return t
    if arr.dtype.kind == "M":
        raise TypeError(
            f"{fname}(): argument 't' is a time to expiry, not a date (dtype {arr.dtype}); "
            "give years, a duration, or karvex.year_fraction(today, expiry, day_count)"
        )
    if arr.dtype.kind != "m":
        return t
    years = (arr / _DAY) / _DURATION_DAYS[day_count]
    if index is not None:
        return series(years, index=index, name=t.name, copy=False)
    return years


# --------------------------------------------------------------------------
# broadcasting and the one core call


def _broadcast_shape(
    fname: str, names: Sequence[str], arrays: Sequence[npt.NDArray[Any]]
) -> tuple[int, ...]:
    try:
        return np.broadcast_shapes(*(a.shape for a in arrays))
    except ValueError:
        shapes = ", ".join(f"'{n}' {a.shape}" for n, a in zip(names, arrays) if a.ndim)
        raise ValueError(f"{fname}(): arguments do not broadcast together: {shapes}") from None


def _layout(arrays: Sequence[npt.NDArray[Any]], shape: tuple[int, ...]) -> str:
    """'F' when every full-size argument is Fortran-ordered only, so that
    flattening in that order needs no copy; 'C' otherwise."""
    full = [a for a in arrays if a.shape == shape and a.size > 1]
    if full and all(a.flags.f_contiguous and not a.flags.c_contiguous for a in full):
        return "F"
    return "C"


def _flat(arr: npt.NDArray[Any], shape: tuple[int, ...], order: str) -> npt.NDArray[Any]:
    """``arr`` broadcast to ``shape`` as the aligned, contiguous 1-D array the
    core reads; a view whenever the input already is one."""
    if arr.shape != shape:
        arr = np.broadcast_to(arr, shape)
    flat: npt.NDArray[Any] = arr.reshape(-1, order="F" if order == "F" else "C")
    if not (flat.flags.c_contiguous and flat.flags.aligned and flat.dtype.isnative):
        flat = np.require(flat, requirements=("C", "A"))
    return flat


def _common_index(fname: str, names: Sequence[str], values: Sequence[Any], series: Any) -> Any:
    """The index of the Series arguments, which must all be the same."""
    index = first = None
    for name, value in zip(names, values):
        if isinstance(value, series):
            if index is None:
                index, first = value.index, name
            elif not value.index.equals(index):
                raise ValueError(
                    f"{fname}(): Series '{first}' and '{name}' have different indexes "
                    "(align them first, e.g. with DataFrame columns)"
                )
    return index


def _unmask(entry: _Entry, values: list[Any], masked: Any) -> list[npt.NDArray[np.bool_]]:
    """Masked arrays replaced by their data (masked flags and objects by a
    harmless value, never read back); their masks returned."""
    masks = []
    for i, (name, v) in enumerate(zip(entry.names, values)):
        if isinstance(v, masked):
            masks.append(np.ma.getmaskarray(v))
            if v.dtype.kind in "OUS":
                values[i] = v.filled("c" if name == "flag" and v.dtype.kind != "O" else 1)
            else:
                values[i] = np.ma.getdata(v)
    return masks


def _shaped(entry: _Entry, result: Any, shape: tuple[int, ...], order: str) -> Any:
    if entry.fields:
        return entry.record(*(g.reshape(shape, order=order) for g in result))
    return result.reshape(shape, order=order)


def evaluate(entry: _Entry, values: list[Any], options: Options | None = None) -> Any:
    """Convert, broadcast, call the core once, shape the result."""
    if options is not None and options.data is not None:
        values = _columns(entry, values, options.data)
        options = options._replace(data=None)
    if options is None or (options.out is None and options.shift is None):
        fast = _fast_call(entry, values)
        if fast is not _MISSING:
            if options is None or not options.scaled:
                return fast
            return _in_units(entry, fast, values[entry.s_at], options.factors)
    try:
        values, wrap = _unwrapped(entry, values)
    except _Expression:
        return _polars_expression(entry, values, options)
    prepared = _prepared(entry, values, "act/365f" if options is None else options.day_count)
    if wrap is not None:
        if options is not None and options.out is not None:
            return evaluate(entry, prepared, options)
        return wrap(evaluate(entry, prepared, options))
    if prepared is not values:
        return evaluate(entry, prepared, options)

    series = _series_type()
    index = None if series is None else _common_index(entry.fname, entry.names, values, series)
    masked = _masked_type()
    masks = _unmask(entry, values, masked) if masked is not None else []
    arrays = [
        _convert(entry, name, value, series if index is not None else None)
        for name, value in zip(entry.names, values)
    ]
    shape = _broadcast_shape(entry.fname, entry.names, arrays)

    outs = None if options is None or options.out is None else _outs(entry, options.out, shape)
    order = _layout(arrays, shape)
    flat = [_flat(a, shape, order) for a in arrays]
    unshiftable = None
    if options is not None and options.shift is not None:
        unshiftable = _shifted(entry, flat, options.shift)
    if flat[0].size >= entry.serial_limit:
        _threads.pool_used = True
    into = None if outs is None else _flat_outs(outs, flat, order)
    if into is not None and entry.into is not None:
        # The core writes into the caller's arrays; the NaN rule and the units then work there.
        result = entry.into(*flat, out=into if entry.fields else into[0])
    else:
        result = entry.vector(*flat)
    if entry.quantity == "iv_status":
        result = _iv_status(entry, flat, result)
    elif entry.nan_rule and not _finite_numbers(entry, arrays):
        _apply_nan_rule(entry, flat, result)
    if unshiftable is not None and unshiftable.any():
        if entry.quantity == "iv_status":
            result[unshiftable] = "invalid_input"
        else:
            for r in result if entry.quantity == "greeks" else (result,):
                r[unshiftable] = np.nan
    if options is not None and options.scaled:
        result = _in_units(entry, result, flat[entry.s_at], options.factors)
    if outs is not None:
        if into is None or entry.into is None:  # (no out= twin: computed, then copied)
            for o, r in zip(outs, result if entry.fields else (result,)):
                np.copyto(o, r.reshape(shape, order=order))
        return entry.record(*outs) if entry.fields else outs[0]

    if shape == ():
        # All scalars in some converted form: Python values, as the scalar
        # twin gives them (the same bits).
        if entry.fields:
            scalar: Any = entry.record(*(float(g[0]) for g in result))
        else:
            scalar = str(result[0]) if entry.quantity == "iv_status" else float(result[0])
        if masks and any(m.any() for m in masks):
            return np.ma.masked
        return scalar

    result = _shaped(entry, result, shape, order)
    if masks:
        mask = np.zeros(shape, dtype=bool)
        for m in masks:
            mask |= m
        if entry.fields:
            return entry.record(*(np.ma.MaskedArray(g, mask=mask) for g in result))
        return np.ma.MaskedArray(result, mask=mask)
    if index is not None and shape == (len(index),):
        return _wrap_series(entry, index, result)
    return result


def _wrap_series(entry: _Entry, index: Any, result: Any) -> Any:
    import pandas as pd

    if entry.fields:
        return pd.DataFrame(dict(zip(entry.fields, result)), index=index, copy=False)
    return pd.Series(result, index=index, name=entry.quantity, copy=False)


# --------------------------------------------------------------------------
# keyword options: units of the Greeks, out=, the day count of durations


UNITS = ("raw", "desk", "desk252")
GAMMA_MOVES = ("unit", "pct")
# Desk units: the raw value times one factor (vega per vol point, theta per
# calendar day or per trading day of 252 a year, rho per 1 % of rate).
UNIT_FACTORS: dict[str, dict[str, float]] = {
    "raw": {},
    "desk": {"vega": 0.01, "theta": 1.0 / 365.0, "rho": 0.01},
    "desk252": {"vega": 0.01, "theta": 1.0 / 252.0, "rho": 0.01},
}
# Gamma per 1 % move of the underlying: the raw gamma times (s * 0.01).
_PER_MOVE = object()
_OPTION_DEFAULTS: dict[str, Any] = {
    "units": "raw",
    "gamma_move": "unit",
    "out": None,
    "shift": None,
    "day_count": "act/365f",
    "data": None,
}


def options_of(quantity: str, model: str = "bsm") -> tuple[str, ...]:
    """The keyword-only options of ``karvex.<model>.<quantity>``."""
    keys = []
    if quantity in GREEK_NAMES or quantity == "greeks":
        keys.append("units")
    if quantity in ("gamma", "greeks"):
        keys.append("gamma_move")
    if quantity != "iv_status":
        keys.append("out")
    if model == "black76":
        keys.append("shift")
    keys += ["day_count", "data"]
    return tuple(keys)


class Options(NamedTuple):
    """The keyword options of one call, checked."""

    factors: tuple[Any, ...]  # per output: None (unchanged), a float or _PER_MOVE
    scaled: bool
    out: Any
    day_count: str  # of durations: 'act/365f' or 'act/360'
    data: Any  # a DataFrame whose columns texts name
    shift: float | None = None  # Black-76: the displacement of the forward and the strike


def _shift(fname: str, value: Any) -> float | None:
    """The displacement of a shifted Black-76 call: None, or a finite real number."""
    if value is None:
        return None
    if isinstance(value, bool) or not isinstance(value, (int, float, np.integer, np.floating)):
        raise TypeError(f"{fname}(): shift must be a real number or None, not {value!r}")
    shift = float(value)
    if not math.isfinite(shift):
        raise ValueError(f"{fname}(): shift must be finite, not {shift!r}")
    return shift


def _shifted(entry: _Entry, flat: list[Any], shift: float) -> npt.NDArray[np.bool_]:
    """Shifted Black-76: the forward and the strike moved by `shift` in place of the given
    ones (new arrays, f + shift and k + shift rounded once each), and where either is not
    positive (NaN included) the mask of the options that have no shifted lognormal price."""
    f_at, k_at = entry.names.index("f"), entry.names.index("k")
    flat[f_at] = np.add(flat[f_at], shift)
    flat[k_at] = np.add(flat[k_at], shift)
    unshiftable: npt.NDArray[np.bool_] = ~((flat[f_at] > 0.0) & (flat[k_at] > 0.0))
    return unshiftable


def _choice(fname: str, key: str, value: Any, allowed: tuple[str, ...]) -> str:
    if not isinstance(value, str) or value not in allowed:
        listed = ", ".join(repr(a) for a in allowed)
        raise ValueError(f"{fname}(): {key} must be one of {listed}, not {value!r}")
    return value


# Checked options by function and keyword values (without out= and data=,
# which are objects of the call), so that a repeated call checks nothing.
_CHECKED: dict[tuple[Any, ...], Options] = {}


def _options(entry: _Entry, given: dict[str, Any]) -> Options:
    key = None
    if "out" not in given and "data" not in given:
        key = (entry.fname, *(given.get(k) for k in ("units", "gamma_move", "day_count", "shift")))
        try:
            return _CHECKED[key]
        except (KeyError, TypeError):  # new, or an unhashable value (refused below)
            pass
    units = _choice(entry.fname, "units", given.get("units", "raw"), UNITS)
    move = _choice(entry.fname, "gamma_move", given.get("gamma_move", "unit"), GAMMA_MOVES)
    outputs = entry.fields or (entry.quantity,)
    factors = tuple(
        _PER_MOVE if name == "gamma" and move == "pct" else UNIT_FACTORS[units].get(name)
        for name in outputs
    )
    options = Options(
        factors=factors,
        scaled=any(f is not None for f in factors),
        out=given.get("out"),
        day_count=_duration_day_count(entry.fname, given.get("day_count", "act/365f")),
        data=given.get("data"),
        shift=_shift(entry.fname, given.get("shift")),
    )
    if key is not None:
        _CHECKED[key] = options
    return options


def _scale(x: Any, factor: Any, s: Any) -> Any:
    if factor is None:
        return x
    if factor is _PER_MOVE:
        factor = s * 0.01
    if type(x) is np.ndarray:
        return np.multiply(x, factor, out=x)
    return x * factor


def _in_units(entry: _Entry, result: Any, s: Any, factors: tuple[Any, ...]) -> Any:
    """The raw result in the units asked for: each Greek multiplied once by
    its factor (in place for arrays)."""
    if entry.fields:
        return entry.record(*(_scale(g, f, s) for g, f in zip(result, factors)))
    return _scale(result, factors[0], s)


# --------------------------------------------------------------------------
# the public functions


_SUMMARY = {
    "price": "Option price.",
    "delta": "Delta: change of the price per 1.0 of the underlying.",
    "gamma": "Gamma: change of delta per 1.0 of the underlying (the same for calls and puts).",
    "vega": "Vega: change of the price per 1.0 of volatility (not per 1%).",
    "theta": "Theta: change of the price per year of elapsed time (not per day).",
    "rho": "Rho: change of the price per 1.0 of rate (not per 1%).",
    "greeks": "All five Greeks in one pass, equal bit for bit to the single functions.",
    "vanna": "Vanna d2V/(ds dsigma): change of delta per 1.0 of volatility (calls and puts alike).",
    "volga": "Volga (vomma) d2V/dsigma2: change of vega per 1.0 of volatility.",
    "charm": "Charm: change of delta per year of elapsed time, -d(delta)/dt (t to expiry).",
    "veta": "Veta: change of vega per year of elapsed time, -d(vega)/dt (t to expiry).",
    "speed": "Speed d(gamma)/ds: change of gamma per 1.0 of the underlying.",
    "zomma": "Zomma d(gamma)/dsigma: change of gamma per 1.0 of volatility.",
    "color": "Color: change of gamma per year of elapsed time, -d(gamma)/dt (t to expiry).",
    "dual_delta": "Dual delta dV/dk: change of the price per 1.0 of strike.",
    "dual_gamma": "Dual gamma d2V/dk2: the discounted risk-neutral density at the strike.",
    "dividend_rho": "Dividend rho dV/dq: change of the price per 1.0 of dividend yield.",
    "second_order": "All second-order Greeks in one pass, equal bit for bit to the single "
    "functions.",
    "iv": "Implied volatility: the sigma whose price is target_price.",
    "iv_status": "Why iv gives what it gives: one status per option.",
}

_PARAMETER_DOC = {
    "target_price": "market price of the option to invert",
    "flag": "'c'/'call' or 'p'/'put' (any case); integers by sign (negative = put); "
    "booleans as is-a-call (True = call, False = put)",
    "s": "spot price of the underlying",
    "f": "forward price of the underlying",
    "k": "strike",
    "t": "time to expiry in years, or durations (timedelta, timedelta64, pandas,\n"
    "    polars or pyarrow durations) counted under day_count",
    "r": "continuously compounded interest rate (0.05 for 5%), or a rate curve\n"
    "    (karvex.Curve) evaluated at each option's t",
    "q": "continuous dividend yield (0.02 for 2%), or a yield curve (karvex.Curve)\n"
    "    evaluated at each option's t",
    "sigma": "volatility per square root of a year (0.2 for 20%)",
}

_MODEL_NAMES = {
    "bsm": "Black-Scholes-Merton",
    "black76": "Black-76",
    "american": "American exercise, Black-Scholes-Merton, accurate mode",
    "american_fast": "American exercise, Black-Scholes-Merton, fast mode",
    "american_precise": "American exercise, Black-Scholes-Merton, precise mode",
    "normal": "normal model",
}

# The normal model's own parameter texts: forwards and strikes of any sign, an absolute sigma.
_NORMAL_PARAMETER_DOC = {
    "f": "forward price or rate of the underlying; zero and negative values allowed",
    "k": "strike; zero and negative values allowed",
    "sigma": "absolute (normal, Bachelier) volatility, in units of f per square root of\n"
    "    a year (0.01 for 100 basis points a year on a rate)",
}

_RETURNS = {
    "greeks": "Greeks(delta, gamma, vega, theta, rho): floats for scalar input, arrays in the\n"
    "broadcast shape otherwise; a DataFrame with those columns for Series input.",
    "iv": "float for scalar input, float64 array in the broadcast shape otherwise, Series\n"
    "for Series input.  NaN where the price cannot be inverted (invalid inputs,\n"
    "price below the intrinsic value or at/above the upper bound); 0.0 where the\n"
    "price has no time value.  iv_status tells which.",
    "second_order": "SecondOrder(vanna, volga, charm, veta, speed, zomma, color, dual_delta,\n"
    "dual_gamma, dividend_rho) (Black76SecondOrder, without dividend_rho, for black76):\n"
    "floats for scalar input, arrays in the broadcast shape otherwise; a DataFrame with\n"
    "those columns for Series input.  Raw units: per 1.0 of s, sigma, k, q; time Greeks per\n"
    "year of elapsed time.",
    "iv_status": "str for scalar input, str array in the broadcast shape otherwise, Series\n"
    "for Series input: 'ok', 'intrinsic' (iv 0.0), or why iv is NaN:\n"
    "'below_intrinsic', 'above_upper_bound', 'invalid_input', 'no_solution'.\n"
    "Agrees with iv on every element (the statuses of `karvex chain`).",
}

_OPTION_DOC = {
    "units": "units : {'raw', 'desk', 'desk252'}, default 'raw'\n"
    "    'raw': the core's values (per 1.0 of volatility, per year, per 1.0 of rate).\n"
    "    'desk': vega per vol point (x 0.01), theta per calendar day (x 1/365), rho\n"
    "    per 1 % of rate (x 0.01); 'desk252': theta per trading day (x 1/252).\n"
    "    Delta and gamma are unchanged.  Each is one multiplication of the raw\n"
    "    value by that double.",
    "out": "out : float64 ndarray of the broadcast shape, optional\n"
    "    Where to write the result, which is then returned (Series indexes and\n"
    "    masks are not applied).  The core writes into out without a copy when\n"
    "    out is contiguous in the inputs' order and shares no memory with them;\n"
    "    otherwise it computes into an array of its own, which is copied.",
    "out_second_order": "out : tuple of float64 ndarrays of the broadcast shape, optional\n"
    "    Where to write the results, one array per field (ten for bsm, nine for black76),\n"
    "    returned as the named tuple (Series indexes and masks are not applied).",
    "out_greeks": "out : tuple of five float64 ndarrays of the broadcast shape, optional\n"
    "    Where to write delta, gamma, vega, theta and rho, which are returned as\n"
    "    a Greeks (Series indexes and masks are not applied).",
    "data": "data : pandas or polars DataFrame, optional\n"
    "    With data, an argument given as a str is that column of data (the flag\n"
    "    may still be a flag word such as 'c' where no column has that name); the\n"
    "    result is a Series (polars: a Series named after the quantity) on the\n"
    "    frame's index.",
    "day_count": "day_count : {'act/365f', 'act/360'}, default 'act/365f'\n"
    "    How durations given as t become years: their days (with the fraction of\n"
    "    a day) / 365 or / 360.  Calendar conventions (act/act, 30/360, bus/252)\n"
    "    need dates: give t = karvex.year_fraction(start, end, day_count) instead.",
    "shift": "shift : float, optional\n"
    "    Shifted (displaced) lognormal Black-76: the Black-76 function of\n"
    "    f + shift and k + shift (each sum rounded once), bit for bit, for\n"
    "    forwards and strikes down to -shift.  Options whose f + shift or\n"
    "    k + shift is not positive give NaN (iv_status: 'invalid_input').\n"
    "    None (the default): plain Black-76, with no such check.",
    "gamma_move": "gamma_move : {'unit', 'pct'}, default 'unit'\n"
    "    Gamma per 1.0 of the underlying, or per 1 % move of it: the change of\n"
    "    delta when the underlying moves by 1 %, raw gamma x (s x 0.01).",
}

_NAN_RULE = (
    "\n\nAn option with a NaN input gives NaN; sigma = +inf (t > 0) gives the limit\n"
    "as the volatility grows (price: the discounted spot for a call, the\n"
    "discounted strike for a put)."
)


_AMERICAN_NAN_RULE = (
    "\n\nAn option with a NaN input gives NaN, and so do an infinite input, a put with\n"
    "r < 0 and q < r and a call with q < 0 and r < q (two exercise boundaries)."
)


_NORMAL_NAN_RULE = (
    "\n\nAn option with a NaN input gives NaN; sigma = +inf (t > 0) gives the kernels'\n"
    "own values there (price +inf, delta +-DF/2, gamma 0)."
)


def docstring(model: str, quantity: str, names: Sequence[str]) -> str:
    """The docstring of ``karvex.<model>.<quantity>`` (numpydoc)."""
    model_name = _MODEL_NAMES[model]
    lines = [f"{_SUMMARY[quantity]} ({model_name})", "", "Parameters", "----------"]
    for n in names:
        kinds = "float, array_like or Series" + (", or Curve" if n in ("r", "q") else "")
        lines.append(f"{n} : {kinds}")
        text = (_NORMAL_PARAMETER_DOC.get(n) if model == "normal" else None) or _PARAMETER_DOC[n]
        lines.append(f"    {text}")
    for key in options_of(quantity, model):
        if key == "out" and quantity in ("greeks", "second_order"):
            key = f"out_{quantity}"
        lines += _OPTION_DOC[key].splitlines()
    result_type = {
        "greeks": "Greeks",
        "second_order": "SecondOrder" if model == "bsm" else "Black76SecondOrder",
        "iv_status": "str, ndarray of str, or the container of the input",
    }.get(quantity, "float, ndarray of float64, or the container of the input")
    lines += ["", "Returns", "-------", result_type]
    returns = _RETURNS.get(
        quantity,
        "float for scalar input, float64 array in the broadcast shape otherwise,\n"
        "Series for Series input (see the README for the other containers)."
        + (
            _AMERICAN_NAN_RULE
            if model in AMERICAN_MODELS
            else _NORMAL_NAN_RULE
            if model == "normal"
            else _NAN_RULE
        ),
    )
    if model == "normal":
        returns = returns.replace(
            "price below the intrinsic value or at/above the upper bound",
            "price below the intrinsic value, a volatility beyond the largest double;\n"
            "the normal model has no upper bound",
        )
    lines += [f"    {line}".rstrip() for line in returns.splitlines()]
    core = "iv" if quantity == "iv_status" else quantity
    lines += [
        "",
        "Notes",
        "-----",
        "All arguments broadcast together as in NumPy; masked arrays give masked results.",
        f"Values are those of karvex.{_module_of(quantity, model)}.{model}_{core} on the"
        " broadcast float64/int8 arrays.",
    ]
    return "\n".join(lines)


def _module_of(quantity: str, model: str = "bsm") -> str:
    """The extension module of a function: the core's 32 functions, or _ext beyond them (the
    second-order Greeks, American exercise, the normal model)."""
    beyond = quantity in SECOND_ORDER or model in AMERICAN_MODELS or model == "normal"
    return "_ext" if beyond else "_core"


def _fields(model: str, quantity: str) -> tuple[str, ...] | None:
    if quantity == "greeks":
        return GREEK_NAMES
    if quantity == "second_order":
        return SecondOrder._fields if model == "bsm" else Black76SecondOrder._fields
    return None


def entry_of(model: str, quantity: str) -> _Entry:
    """What ``karvex.<model>.<quantity>`` needs, from the core's table."""
    if quantity not in functions_of(model):
        raise ValueError(f"karvex.{model} has no function {quantity!r}")
    names = parameters(model, quantity)
    core = "iv" if quantity == "iv_status" else quantity
    american = model in AMERICAN_MODELS
    module = _ext if _module_of(quantity, model) == "_ext" else _core
    record = {"greeks": Greeks, "second_order": SecondOrder}.get(quantity)
    if quantity == "second_order" and model == "black76":
        record = Black76SecondOrder
    return _Entry(
        fname=f"karvex.american.{quantity}" if american else f"karvex.{model}.{quantity}",
        model=model,
        quantity=quantity,
        names=names,
        vector=getattr(module, f"{model}_{core}"),
        scalar=getattr(module, f"{model}_{core}_scalar"),
        into=None if quantity == "iv_status" or american else getattr(_ext, f"{model}_{core}"),
        fields=_fields(model, quantity),
        record=record,
        flag_at=names.index("flag") if "flag" in names else -1,
        s_at=names.index("f" if model in FORWARD_MODELS else "s"),
        t_at=names.index("t"),
        rates_at=tuple(i for i, n in enumerate(names) if n in ("r", "q")),
        nan_rule=quantity not in ("iv", "iv_status"),
        serial_limit=(
            _threads.AMERICAN_SERIAL_LIMITS[core]
            if american
            else _threads.SERIAL_LIMITS.get(core, _threads.SERIAL_LIMIT)
        ),
        options=options_of(quantity, model),
    )


def call(entry: _Entry, args: tuple[Any, ...], kwargs: dict[str, Any]) -> Any:
    """A call with keywords or an unusual number of arguments, bound like
    the core's functions (errors name the function and the argument)."""
    given = {key: kwargs.pop(key) for key in [k for k in kwargs if k in entry.options]}
    if kwargs or len(args) != len(entry.names):
        values = _bind(entry.fname, entry.names, args, kwargs)
    else:
        values = list(args)
    if given:
        return evaluate(entry, values, _options(entry, given))
    return evaluate(entry, values)


def signature(entry: _Entry) -> inspect.Signature:
    """The signature of ``karvex.<model>.<quantity>``."""
    return inspect.Signature(
        [inspect.Parameter(n, inspect.Parameter.POSITIONAL_OR_KEYWORD) for n in entry.names]
        + [
            inspect.Parameter(n, inspect.Parameter.KEYWORD_ONLY, default=_OPTION_DEFAULTS[n])
            for n in entry.options
        ]
    )


def signed(function: Callable[..., Any], entry: _Entry) -> None:
    """Give ``function`` the signature of its parameters (its source takes
    ``*args, **kwargs``, which bind as the core's functions do)."""
    function.__signature__ = signature(entry)  # type: ignore[attr-defined]
