"""The array layer behind ``karvex.bsm`` and ``karvex.black76``.

The core functions in ``karvex._core`` take equal-length one-dimensional
float64 arrays (int8 for the flag) and nothing else.  This module turns what
users hold -- Python numbers, sequences, NumPy arrays of any shape and numeric
dtype, pandas Series, 'c'/'p' flags -- into exactly those arrays, broadcasts
them together, calls the core function once and gives the result back in the
broadcast shape (a float for all-scalar input, a Series for Series input).

Values are never touched after conversion: the result is bit for bit what the
core function returns for the broadcast, converted arrays.
"""

from __future__ import annotations

import inspect
import sys
from typing import Any, Callable, NamedTuple

import numpy as np

from . import _core

QUANTITIES = ("price", "delta", "gamma", "vega", "theta", "rho", "greeks", "iv")
GREEK_NAMES = ("delta", "gamma", "vega", "theta", "rho")

_CALL_WORDS = ("c", "call")
_PUT_WORDS = ("p", "put")
_FLAG_FORMS = (
    "expected 'c'/'call' or 'p'/'put' (any case), a signed integer "
    "(negative = put) or a bool (True = call, False = put)"
)


class Greeks(NamedTuple):
    """The five sensitivities of one option or of arrays of options."""

    delta: Any
    gamma: Any
    vega: Any
    theta: Any
    rho: Any


def parameters(model: str, quantity: str) -> tuple[str, ...]:
    """Parameter names of a core function, in the core's order."""
    if quantity in ("gamma", "vega"):
        names = ("s", "k", "t", "r", "q", "sigma")
    elif quantity == "iv":
        names = ("target_price", "flag", "s", "k", "t", "r", "q")
    else:
        names = ("flag", "s", "k", "t", "r", "q", "sigma")
    if model == "black76":
        # Black-76 takes the forward in the place of the spot and has no
        # dividend yield (the rate stands in for it inside the core).
        names = tuple("f" if n == "s" else n for n in names if n != "q")
    return names


# --------------------------------------------------------------------------
# argument binding


_MISSING = object()


def _bind(fname: str, names: tuple[str, ...], args: tuple, kwargs: dict) -> list:
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


def _series_type():
    # pandas is optional: if it has not been imported, no Series can exist.
    pd = sys.modules.get("pandas")
    return None if pd is None else pd.Series


def _from_series(value, numeric: bool):
    """The values of a Series as an ndarray (numeric extension dtypes with
    missing values become float64 with NaN)."""
    dtype = value.dtype
    if isinstance(dtype, np.dtype):
        return value.to_numpy()
    if numeric and getattr(dtype, "kind", "O") in "biuf":
        return value.to_numpy(dtype=np.float64, na_value=np.nan)
    return value.to_numpy()


def _as_array(fname: str, name: str, value) -> np.ndarray:
    try:
        return np.asarray(value)
    except (TypeError, ValueError) as exc:
        raise type(exc)(f"{fname}(): argument '{name}' cannot be converted to an array: {exc}") from None


def to_float64(fname: str, name: str, value) -> np.ndarray:
    """A number argument as a float64 array (no copy if it already is one)."""
    if type(value) is np.ndarray and value.dtype == np.float64:
        return value
    arr = _as_array(fname, name, value)
    kind = arr.dtype.kind
    if kind in "biuf":
        return arr.astype(np.float64, copy=False)
    if kind == "O":
        # Objects that know how to be a float (Decimal, Fraction, None as
        # NaN); text is refused here as it is for NumPy string arrays.
        if any(isinstance(v, (str, bytes)) for v in arr.flat):
            raise TypeError(f"{fname}(): argument '{name}' must be numbers, not text")
        try:
            return arr.astype(np.float64)
        except (TypeError, ValueError) as exc:
            raise TypeError(f"{fname}(): argument '{name}' must be numbers: {exc}") from None
    if kind in "US":
        raise TypeError(f"{fname}(): argument '{name}' must be numbers, not text")
    raise TypeError(
        f"{fname}(): argument '{name}' must be real numbers, not an array of dtype {arr.dtype}"
    )


def _flag_from_sign(arr: np.ndarray) -> np.ndarray:
    return np.where(arr < 0, np.int8(-1), np.int8(1))


def _bad_flag(fname: str, arr: np.ndarray, bad: np.ndarray) -> ValueError:
    where = np.argwhere(bad)[0]
    value = arr[tuple(where)]
    at = f" at index {tuple(int(i) for i in where)}" if arr.ndim else ""
    return ValueError(f"{fname}(): invalid flag {value!r}{at}: {_FLAG_FORMS}")


def _flag_from_words(fname: str, arr: np.ndarray) -> np.ndarray:
    if arr.dtype.kind == "S":
        arr = np.char.decode(arr, "ascii", errors="replace")
    words = np.char.lower(np.char.strip(arr))
    is_call = (words == _CALL_WORDS[0]) | (words == _CALL_WORDS[1])
    is_put = (words == _PUT_WORDS[0]) | (words == _PUT_WORDS[1])
    bad = ~(is_call | is_put)
    if bad.any():
        raise _bad_flag(fname, arr, bad)
    return np.where(is_put, np.int8(-1), np.int8(1))


def _flag_from_object(value) -> int | None:
    """The flag of one Python object, or None if it has no flag meaning."""
    if isinstance(value, (bool, np.bool_)):
        return 1 if value else -1
    if isinstance(value, (str, bytes)):
        word = (value.decode("ascii", "replace") if isinstance(value, bytes) else value)
        word = word.strip().lower()
        if word in _CALL_WORDS:
            return 1
        if word in _PUT_WORDS:
            return -1
        return None
    if isinstance(value, (int, np.integer)):
        return -1 if value < 0 else 1
    if isinstance(value, (float, np.floating)) and value == value and float(value).is_integer():
        return -1 if value < 0 else 1
    return None


def to_flag(fname: str, value) -> np.ndarray:
    """The flag argument as an int8 array of signs (no copy for int8 input).

    Accepted forms: 'c'/'call' and 'p'/'put' in any case; integers, whose
    sign decides (negative = put, zero or positive = call); whole floats the
    same way; booleans, read as "is a call" (True = call, False = put).
    """
    if type(value) is np.ndarray and value.dtype == np.int8:
        return value
    arr = _as_array(fname, "flag", value)
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
        flags = [_flag_from_object(v) for v in arr.flat]
        if None in flags:
            raise _bad_flag(fname, arr, np.array([f is None for f in flags]).reshape(arr.shape))
        return np.array(flags, dtype=np.int8).reshape(arr.shape)
    raise TypeError(f"{fname}(): argument 'flag' must be call/put flags, not dtype {arr.dtype}")


# --------------------------------------------------------------------------
# broadcasting and the one core call


def _broadcast_shape(fname: str, names, arrays) -> tuple[int, ...]:
    try:
        return np.broadcast_shapes(*(a.shape for a in arrays))
    except ValueError:
        shapes = ", ".join(f"'{n}' {a.shape}" for n, a in zip(names, arrays) if a.ndim)
        raise ValueError(f"{fname}(): arguments do not broadcast together: {shapes}") from None


def _layout(arrays, shape) -> str:
    """'F' when every full-size argument is Fortran-ordered only, so that
    flattening in that order needs no copy; 'C' otherwise."""
    full = [a for a in arrays if a.shape == shape and a.size > 1]
    if full and all(a.flags.f_contiguous and not a.flags.c_contiguous for a in full):
        return "F"
    return "C"


def _flat(arr: np.ndarray, shape, order: str) -> np.ndarray:
    """``arr`` broadcast to ``shape`` as the aligned, contiguous 1-D array the
    core reads; a view whenever the input already is one."""
    if arr.shape != shape:
        arr = np.broadcast_to(arr, shape)
    flat = arr.reshape(-1, order=order)
    if not (flat.flags.c_contiguous and flat.flags.aligned and flat.dtype.isnative):
        flat = np.require(flat, requirements=("C", "A"))
    return flat


def _common_index(fname: str, names, values):
    """The index of the Series arguments, which must all be the same."""
    series = _series_type()
    if series is None:
        return None
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


def _wrap_series(quantity: str, index, result):
    import pandas as pd

    if quantity == "greeks":
        return pd.DataFrame(dict(zip(GREEK_NAMES, result)), index=index, copy=False)
    return pd.Series(result, index=index, name=quantity, copy=False)


def evaluate(fname, quantity, names, values, vector, scalar):
    """Convert, broadcast, call the core once, shape the result."""
    index = _common_index(fname, names, values)
    series = _series_type() if index is not None else None
    arrays = []
    for name, value in zip(names, values):
        if series is not None and isinstance(value, series):
            value = _from_series(value, numeric=name != "flag")
        arrays.append(to_flag(fname, value) if name == "flag" else to_float64(fname, name, value))
    shape = _broadcast_shape(fname, names, arrays)

    if shape == ():
        # All scalars: the scalar twin computes the same bits without arrays.
        args = [int(a) if n == "flag" else float(a) for n, a in zip(names, arrays)]
        result = scalar(*args)
        return Greeks(*result) if quantity == "greeks" else result

    order = _layout(arrays, shape)
    result = vector(*(_flat(a, shape, order) for a in arrays))
    if quantity == "greeks":
        result = Greeks(*(g.reshape(shape, order=order) for g in result))
    else:
        result = result.reshape(shape, order=order)
    if index is not None and shape == (len(index),):
        return _wrap_series(quantity, index, result)
    return result


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
    "iv": "Implied volatility: the sigma whose price is target_price.",
}

_PARAMETER_DOC = {
    "target_price": "market price of the option to invert",
    "flag": "'c'/'call' or 'p'/'put' (any case); integers by sign (negative = put); "
    "booleans as is-a-call (True = call, False = put)",
    "s": "spot price of the underlying",
    "f": "forward price of the underlying",
    "k": "strike",
    "t": "time to expiry in years",
    "r": "continuously compounded interest rate (0.05 for 5%)",
    "q": "continuous dividend yield (0.02 for 2%)",
    "sigma": "volatility per square root of a year (0.2 for 20%)",
}

_RETURNS = {
    "greeks": "Greeks(delta, gamma, vega, theta, rho): floats for scalar input, arrays in the\n"
    "broadcast shape otherwise; a DataFrame with those columns for Series input.",
    "iv": "float for scalar input, float64 array in the broadcast shape otherwise, Series\n"
    "for Series input.  NaN where the price cannot be inverted (invalid inputs,\n"
    "price below the intrinsic value or at/above the upper bound); 0.0 where the\n"
    "price has no time value.",
}


def _docstring(model: str, quantity: str, names) -> str:
    model_name = "Black-Scholes-Merton" if model == "bsm" else "Black-76"
    lines = [f"{_SUMMARY[quantity]} ({model_name})", "", "Parameters", "----------"]
    for n in names:
        lines.append(f"{n} : number, sequence, ndarray or Series")
        lines.append(f"    {_PARAMETER_DOC[n]}")
    lines += ["", "Returns", "-------"]
    returns = _RETURNS.get(
        quantity,
        "float for scalar input, float64 array in the broadcast shape otherwise,\n"
        "Series for Series input.",
    )
    lines += ["    " + line for line in returns.splitlines()]
    lines += [
        "",
        "All arguments broadcast together as in NumPy.  The values are exactly those",
        f"of karvex._core.{model}_{quantity} on the broadcast float64/int8 arrays.",
    ]
    return "\n".join(lines)


def make_function(model: str, quantity: str) -> Callable[..., Any]:
    names = parameters(model, quantity)
    vector = getattr(_core, f"{model}_{quantity}")
    scalar = getattr(_core, f"{model}_{quantity}_scalar")
    fname = f"karvex.{model}.{quantity}"

    def function(*args, **kwargs):
        values = _bind(fname, names, args, kwargs)
        return evaluate(fname, quantity, names, values, vector, scalar)

    function.__name__ = function.__qualname__ = quantity
    function.__module__ = f"karvex.{model}"
    function.__doc__ = _docstring(model, quantity, names)
    function.__signature__ = inspect.Signature(
        [inspect.Parameter(n, inspect.Parameter.POSITIONAL_OR_KEYWORD) for n in names]
    )
    return function


def make_functions(model: str) -> tuple[Callable[..., Any], ...]:
    """The eight functions of one model, in the order of QUANTITIES."""
    return tuple(make_function(model, q) for q in QUANTITIES)
