"""Types of karvex._core, the C++ core: BSM and Black-76 prices, Greeks, implied volatilities.

Vectorised functions take one-dimensional arrays of equal length (float64, int8 for ``flag``)
and return new float64 arrays; the ``_scalar`` twins take numbers and return floats.
"""

import numpy as np
import numpy.typing as npt

_F64 = npt.NDArray[np.float64]
_I8 = npt.NDArray[np.int8]
_Greeks = tuple[_F64, _F64, _F64, _F64, _F64]
_ScalarGreeks = tuple[float, float, float, float, float]

__version__: str
__all__ = [
    "__doc__",
    "__version__",
    "bsm_price",
    "bsm_delta",
    "bsm_gamma",
    "bsm_vega",
    "bsm_theta",
    "bsm_rho",
    "bsm_greeks",
    "bsm_iv",
    "black76_price",
    "black76_delta",
    "black76_gamma",
    "black76_vega",
    "black76_theta",
    "black76_rho",
    "black76_greeks",
    "black76_iv",
    "bsm_price_scalar",
    "bsm_delta_scalar",
    "bsm_gamma_scalar",
    "bsm_vega_scalar",
    "bsm_theta_scalar",
    "bsm_rho_scalar",
    "bsm_greeks_scalar",
    "bsm_iv_scalar",
    "black76_price_scalar",
    "black76_delta_scalar",
    "black76_gamma_scalar",
    "black76_vega_scalar",
    "black76_theta_scalar",
    "black76_rho_scalar",
    "black76_greeks_scalar",
    "black76_iv_scalar",
]

def bsm_price(flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64) -> _F64: ...
def bsm_delta(flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64) -> _F64: ...
def bsm_gamma(s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64) -> _F64: ...
def bsm_vega(s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64) -> _F64: ...
def bsm_theta(flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64) -> _F64: ...
def bsm_rho(flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64) -> _F64: ...
def bsm_greeks(flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64) -> _Greeks: ...
def bsm_iv(target_price: _F64, flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64) -> _F64: ...
def black76_price(flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64) -> _F64: ...
def black76_delta(flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64) -> _F64: ...
def black76_gamma(f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64) -> _F64: ...
def black76_vega(f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64) -> _F64: ...
def black76_theta(flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64) -> _F64: ...
def black76_rho(flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64) -> _F64: ...
def black76_greeks(flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64) -> _Greeks: ...
def black76_iv(target_price: _F64, flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64) -> _F64: ...
def bsm_price_scalar(
    flag: int, s: float, k: float, t: float, r: float, q: float, sigma: float
) -> float: ...
def bsm_delta_scalar(
    flag: int, s: float, k: float, t: float, r: float, q: float, sigma: float
) -> float: ...
def bsm_gamma_scalar(s: float, k: float, t: float, r: float, q: float, sigma: float) -> float: ...
def bsm_vega_scalar(s: float, k: float, t: float, r: float, q: float, sigma: float) -> float: ...
def bsm_theta_scalar(
    flag: int, s: float, k: float, t: float, r: float, q: float, sigma: float
) -> float: ...
def bsm_rho_scalar(
    flag: int, s: float, k: float, t: float, r: float, q: float, sigma: float
) -> float: ...
def bsm_greeks_scalar(
    flag: int, s: float, k: float, t: float, r: float, q: float, sigma: float
) -> _ScalarGreeks: ...
def bsm_iv_scalar(
    target_price: float, flag: int, s: float, k: float, t: float, r: float, q: float
) -> float: ...
def black76_price_scalar(
    flag: int, f: float, k: float, t: float, r: float, sigma: float
) -> float: ...
def black76_delta_scalar(
    flag: int, f: float, k: float, t: float, r: float, sigma: float
) -> float: ...
def black76_gamma_scalar(f: float, k: float, t: float, r: float, sigma: float) -> float: ...
def black76_vega_scalar(f: float, k: float, t: float, r: float, sigma: float) -> float: ...
def black76_theta_scalar(
    flag: int, f: float, k: float, t: float, r: float, sigma: float
) -> float: ...
def black76_rho_scalar(
    flag: int, f: float, k: float, t: float, r: float, sigma: float
) -> float: ...
def black76_greeks_scalar(
    flag: int, f: float, k: float, t: float, r: float, sigma: float
) -> _ScalarGreeks: ...
def black76_iv_scalar(
    target_price: float, flag: int, f: float, k: float, t: float, r: float
) -> float: ...
