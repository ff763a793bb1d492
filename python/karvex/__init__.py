"""karvex: European option prices, Greeks and implied volatilities.

Black-Scholes-Merton (spot, dividend yield), Black-76 (forward, optionally
shifted) and normal (Bachelier: forward of any sign, absolute volatility)
models, computed by the C++ core ``karvex._core`` and its second module
``karvex._ext``.

- ``karvex.bsm``, ``karvex.black76`` and ``karvex.normal``: the array API
  (numbers, arrays of any shape, pandas Series; NumPy broadcasting; 'c'/'p'
  flags).
- ``karvex.american``: American prices, Greeks and implied volatilities (BSM),
  the same array API.
- ``karvex._core``: the strict core (equal-length 1-D float64 arrays and int8
  flags, plus ``_scalar`` twins).
- ``karvex.year_fraction`` (``karvex.daycount``): year fractions under
  Act/365F, Act/360, Act/Act ISDA, 30/360 and Business/252.
- ``karvex.Curve`` (``karvex.curves``): zero-rate and dividend-yield curves.
- ``karvex.set_num_threads(n)``: the size of the worker pool, before it starts.
- ``python -m karvex chain`` / ``karvex chain``: implied volatilities and Greeks
  of an option chain in CSV.

Importing karvex is cheap: the submodules (and NumPy) load on first use, also
on first attribute access (``karvex.bsm``, ``karvex._core``).
"""

from __future__ import annotations

import importlib

# Not imported from typing, whose import would cost more than karvex's own;
# type checkers read any name TYPE_CHECKING as true.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any

    from . import _core, american, black76, bsm, curves, daycount, normal  # noqa: F401
    from ._threads import set_num_threads
    from .curves import Curve
    from .daycount import year_fraction

__version__ = "0.1.7"

__all__ = [
    "__version__",
    "bsm",
    "black76",
    "american",
    "normal",
    "curves",
    "daycount",
    "Curve",
    "set_num_threads",
    "year_fraction",
]

# Loaded on first access: the array API (which imports NumPy), the core, and
# the curves and day counts (NumPy too).
_SUBMODULES = ("bsm", "black76", "american", "normal", "_core", "curves", "daycount")
# Names of the submodules, loaded with them on first access.
_FROM_SUBMODULES = {
    "Curve": "curves",
    "year_fraction": "daycount",
    "set_num_threads": "_threads",
}


def __getattr__(name: str) -> Any:
    """Load a submodule, or a name of one (``karvex.Curve``), on first access."""
    if name in _SUBMODULES:
        return importlib.import_module(f"{__name__}.{name}")
    if name in _FROM_SUBMODULES:
        module = importlib.import_module(f"{__name__}.{_FROM_SUBMODULES[name]}")
        return getattr(module, name)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__() -> list[str]:
    """The module's names, the submodules loaded on first access included."""
    return sorted(set(globals()) | set(_SUBMODULES) | set(_FROM_SUBMODULES))
