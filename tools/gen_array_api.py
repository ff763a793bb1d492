"""Writes python/karvex/bsm.py, black76.py and normal.py: one def per function of the array
API, with the overloads type checkers read and the docstring editors show.

The functions' behaviour lives in karvex._array (one table: parameters, keywords, docstrings);
this script only spells it out as Python source, so that hover, help() and Sphinx see real
functions.  Run it after changing a parameter, keyword or docstring there, then `ruff format`:

    python tools/gen_array_api.py
"""

from __future__ import annotations

import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "python"))

from karvex import _array  # noqa: E402

# What every module's docstring says of the containers and of the flag.
_CONTAINERS = """Each function takes Python numbers, sequences, NumPy arrays of any shape and
numeric dtype, masked arrays, pandas Series and DataFrames, polars Series,
pyarrow arrays or xarray DataArrays, broadcasts them together and returns a
float (all-scalar input), an array in the broadcast shape, or the caller's
container.  Parameters and their order are those of the
"""
_FLAG = '''``flag``: 'c'/'call' or 'p'/'put' (any case), an integer whose sign decides
(negative = put, zero or positive = call), or a bool read as "is a call"
(True = call, False = put).

This file is written by tools/gen_array_api.py.
"""'''

MODULE_DOC = {
    "bsm": '''"""Black-Scholes-Merton on a spot price with a continuous dividend yield.

{containers}``karvex._core.bsm_*`` functions::

    price(flag, s, k, t, r, q, sigma)     gamma(s, k, t, r, q, sigma)
    delta / theta / rho / greeks: like price
    vega(s, k, t, r, q, sigma)            iv(target_price, flag, s, k, t, r, q)
    iv_status: like iv
    vanna, volga, veta, speed, zomma, color, dual_gamma: like gamma
    charm, dual_delta, dividend_rho, second_order: like price

{flag}''',
    "black76": '''"""Black-76 on a forward price (futures options, caps/floors, swaptions).

{containers}``karvex._core.black76_*`` functions::

    price(flag, f, k, t, r, sigma)        gamma(f, k, t, r, sigma)
    delta / theta / rho / greeks: like price
    vega(f, k, t, r, sigma)               iv(target_price, flag, f, k, t, r)
    iv_status: like iv
    vanna, volga, veta, speed, zomma, color, dual_gamma: like gamma
    charm, dual_delta, second_order: like price

{flag}''',
    "normal": '''"""The normal (Bachelier) model on a forward that may be zero or negative.

Rates desks quote caps, floors, swaptions and SOFR options in it: the
forward f and the strike k may have any sign, and sigma is an absolute
(normal) volatility in units of f per square root of a year.  Prices are
discounted with exp(-r*t); the Greeks follow Black-76's conventions: vega
per 1.0 of absolute volatility, theta per year of elapsed time (-dV/dt),
rho dV/dr with f held fixed (-t times the price).

{containers}``karvex._ext.normal_*`` functions::

    price(flag, f, k, t, r, sigma)        gamma(f, k, t, r, sigma)
    delta / theta / rho / greeks: like price
    vega(f, k, t, r, sigma)               iv(target_price, flag, f, k, t, r)
    iv_status: like iv

{flag}''',
}

# Results: all scalars, arrays, pandas Series, another container (_C), with out=.
RESULTS = {
    "greeks": ("Greeks[float]", "Greeks[F64Array]", "pd.DataFrame", "Any", "Greeks[F64Array]"),
    "iv_status": ("str", "StatusArray", "pd.Series[str]", "_C", None),
}
DEFAULT_RESULTS = ("float", "F64Array", "pd.Series[float]", "_C", "F64Array")
# The record of each model's second-order single pass (the normal model has none).
RECORDS = {"bsm": ("SecondOrder",), "black76": ("Black76SecondOrder",)}

SCALAR = {"flag": "Flag", "t": "Time", "r": "Rate", "q": "Rate"}
ARRAY = {"flag": "Flags", "t": "Times", "r": "Rates", "q": "Rates"}


def param_types(names, level, at=-1):
    """Each parameter's type at a level: 'scalar', 'array', 'series' (pandas Series at `at`),
    'container' (another container at `at`), 'data' (texts naming columns)."""
    types = []
    for i, n in enumerate(names):
        if level == "scalar":
            types.append(SCALAR.get(n, "Real"))
            continue
        base = ARRAY.get(n, "Numbers")
        if level == "series":
            types.append("pd.Series[Any]" if i == at else f"{base} | pd.Series[Any]")
        elif level == "container":
            types.append("_C" if i == at else f"{base} | _C")
        elif level == "data":
            types.append(f"{base} | pd.Series[Any] | str")
        elif level == "out":
            types.append(f"{base} | pd.Series[Any]")
        else:
            types.append(base)
    return types


def keywords(quantity, out, data, model="bsm"):
    kw = []
    options = _array.options_of(quantity, model)
    if "units" in options:
        kw.append('units: Units = "raw"')
    if "gamma_move" in options:
        kw.append('gamma_move: GammaMove = "unit"')
    if "out" in options:
        kw.append(f"out: {out}" if out else "out: None = None")
    if "shift" in options:
        kw.append("shift: float | None = None")
    kw.append('day_count: str = "act/365f"')
    kw.append(f"data: {data}" if data else "data: None = None")
    return kw


def overload(name, names, types, kw, result, ignore=False):
    params = ", ".join(f"{n}: {t}" for n, t in zip(names, types))
    tail = "  # type: ignore[overload-overlap]" if ignore else ""
    return f"@overload\ndef {name}({params}, *, {', '.join(kw)}) -> {result}: ...{tail}\n"


def results(model, quantity):
    if quantity == "second_order":
        record = "SecondOrder" if model == "bsm" else "Black76SecondOrder"
        return (
            f"{record}[float]",
            f"{record}[F64Array]",
            "pd.DataFrame",
            "Any",
            f"{record}[F64Array]",
        )
    return RESULTS.get(quantity, DEFAULT_RESULTS)


def function(model, quantity):
    entry = _array.entry_of(model, quantity)
    names = entry.names
    scalar, array, series, container, with_out = results(model, quantity)
    frame_result = "pd.DataFrame" if entry.fields else series
    parts = []
    if with_out:
        out_type = {"greeks": "GreeksOut", "second_order": "SecondOrderOut"}.get(
            quantity, "F64Array"
        )
        parts.append(
            overload(
                quantity,
                names,
                param_types(names, "out"),
                keywords(quantity, out_type, None, model),
                with_out,
            )
        )
    parts.append(
        overload(
            quantity,
            names,
            param_types(names, "data"),
            keywords(quantity, None, "pd.DataFrame", model),
            frame_result,
        )
    )
    parts.append(
        overload(
            quantity,
            names,
            param_types(names, "data"),
            keywords(quantity, None, "PolarsFrame", model),
            "Any",
        )
    )
    parts.append(
        overload(
            quantity,
            names,
            param_types(names, "scalar"),
            keywords(quantity, None, None, model),
            scalar,
            ignore=True,
        )
    )
    parts.append(
        overload(
            quantity,
            names,
            param_types(names, "array"),
            keywords(quantity, None, None, model),
            array,
        )
    )
    # One overload per position a container may take (pandas Series, then polars Series and
    # xarray DataArrays), so that calls without one match the array overload alone.
    for level, result in (("series", series), ("container", container)):
        for i in range(len(names)):
            types = param_types(names, level, i)
            parts.append(
                overload(quantity, names, types, keywords(quantity, None, None, model), result)
            )
    lines = _array.docstring(model, quantity, names).splitlines()
    doc = "\n".join([lines[0]] + [f"    {line}".rstrip() for line in lines[1:]])
    const = f"_{quantity.upper()}"
    parts.append(
        f"def {quantity}(*args: Any, **kwargs: Any) -> Any:\n"
        f'    """{doc}\n    """\n'
        f"    if kwargs or len(args) != {len(names)}:\n"
        f"        return _call({const}, args, kwargs)\n"
        f"    return _evaluate({const}, list(args))\n"
    )
    return "\n".join(parts)


def module(model):
    lines = [
        MODULE_DOC[model].format(containers=_CONTAINERS, flag=_FLAG),
        "",
        "# fmt: off",
        "from __future__ import annotations",
        "",
        "from typing import TYPE_CHECKING, Any, overload",
        "",
        "from ._array import call as _call",
        "from ._array import entry_of as _entry_of",
        "from ._array import evaluate as _evaluate",
        "from ._array import signed as _signed",
        f"from ._types import {', '.join(sorted(['Greeks', *RECORDS.get(model, ())]))}",
        "",
        "if TYPE_CHECKING:",
        "    import pandas as pd",
        "",
        "    from ._types import (",
        "        _C,",
        "        F64Array,",
        "        Flag,",
        "        Flags,",
        "        GammaMove,",
        "        GreeksOut,",
        "        Numbers,",
        "        PolarsFrame,",
        "        Rate,",
        "        Rates,",
        "        Real,",
        *(["        SecondOrderOut,"] if model in RECORDS else []),
        "        StatusArray,",
        "        Time,",
        "        Times,",
        "        Units,",
        "    )",
        "",
        "__all__ = "
        + repr([*_array.functions_of(model), "Greeks", *RECORDS.get(model, ())]).replace("'", '"'),
        "",
    ]
    for q in _array.functions_of(model):
        lines.append(f'_{q.upper()} = _entry_of("{model}", "{q}")')
    lines.append("")
    for q in _array.functions_of(model):
        lines.append("")
        lines.append(function(model, q))
    lines.append("")
    lines.append("for _function, _entry in (")
    for q in _array.functions_of(model):
        lines.append(f"    ({q}, _{q.upper()}),")
    lines.append("):")
    lines.append("    _signed(_function, _entry)")
    lines.append("# fmt: on")
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    for model in _array.MODELS:
        (ROOT / "python" / "karvex" / f"{model}.py").write_text(module(model))
