"""Types of karvex._ext, the second extension module: functions beyond karvex._core.

Vectorised functions take one-dimensional arrays of equal length (float64, int8 for ``flag``) and
return new float64 arrays, or, given ``out``, write into the caller's float64 arrays and return
them; the ``_scalar`` twins take numbers and return floats.
"""

import numpy as np
import numpy.typing as npt

_F64 = npt.NDArray[np.float64]
_I8 = npt.NDArray[np.int8]
_Greeks = tuple[_F64, _F64, _F64, _F64, _F64]
# vanna, volga, charm, veta, speed, zomma, color, dual_delta, dual_gamma[, dividend_rho]
_Second = tuple[_F64, _F64, _F64, _F64, _F64, _F64, _F64, _F64, _F64, _F64]
_Black76Second = tuple[_F64, _F64, _F64, _F64, _F64, _F64, _F64, _F64, _F64]
_ScalarSecond = tuple[float, float, float, float, float, float, float, float, float, float]
_ScalarBlack76Second = tuple[float, float, float, float, float, float, float, float, float]

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
    "bsm_vanna",
    "bsm_volga",
    "bsm_charm",
    "bsm_veta",
    "bsm_speed",
    "bsm_zomma",
    "bsm_color",
    "bsm_dual_delta",
    "bsm_dual_gamma",
    "bsm_dividend_rho",
    "bsm_second_order",
    "black76_vanna",
    "black76_volga",
    "black76_charm",
    "black76_veta",
    "black76_speed",
    "black76_zomma",
    "black76_color",
    "black76_dual_delta",
    "black76_dual_gamma",
    "black76_second_order",
    "bsm_vanna_scalar",
    "bsm_volga_scalar",
    "bsm_charm_scalar",
    "bsm_veta_scalar",
    "bsm_speed_scalar",
    "bsm_zomma_scalar",
    "bsm_color_scalar",
    "bsm_dual_delta_scalar",
    "bsm_dual_gamma_scalar",
    "bsm_dividend_rho_scalar",
    "bsm_second_order_scalar",
    "black76_vanna_scalar",
    "black76_volga_scalar",
    "black76_charm_scalar",
    "black76_veta_scalar",
    "black76_speed_scalar",
    "black76_zomma_scalar",
    "black76_color_scalar",
    "black76_dual_delta_scalar",
    "black76_dual_gamma_scalar",
    "black76_second_order_scalar",
    "american_price",
    "american_greeks",
    "american_iv",
    "american_fast_price",
    "american_fast_greeks",
    "american_fast_iv",
    "american_price_scalar",
    "american_greeks_scalar",
    "american_iv_scalar",
    "american_fast_price_scalar",
    "american_fast_greeks_scalar",
    "american_fast_iv_scalar",
    "american_precise_price",
    "american_precise_greeks",
    "american_precise_iv",
    "american_precise_price_scalar",
    "american_precise_greeks_scalar",
    "american_precise_iv_scalar",
    "normal_price",
    "normal_delta",
    "normal_gamma",
    "normal_vega",
    "normal_theta",
    "normal_rho",
    "normal_greeks",
    "normal_iv",
    "normal_price_scalar",
    "normal_delta_scalar",
    "normal_gamma_scalar",
    "normal_vega_scalar",
    "normal_theta_scalar",
    "normal_rho_scalar",
    "normal_greeks_scalar",
    "normal_iv_scalar",
]

def bsm_price(
    flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def bsm_delta(
    flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def bsm_gamma(
    s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def bsm_vega(
    s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def bsm_theta(
    flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def bsm_rho(
    flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def bsm_greeks(
    flag: _I8,
    s: _F64,
    k: _F64,
    t: _F64,
    r: _F64,
    q: _F64,
    sigma: _F64,
    *,
    out: _Greeks | None = None,
) -> _Greeks: ...
def bsm_iv(
    target_price: _F64,
    flag: _I8,
    s: _F64,
    k: _F64,
    t: _F64,
    r: _F64,
    q: _F64,
    *,
    out: _F64 | None = None,
) -> _F64: ...
def black76_price(
    flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def black76_delta(
    flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def black76_gamma(
    f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def black76_vega(
    f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def black76_theta(
    flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def black76_rho(
    flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def black76_greeks(
    flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _Greeks | None = None
) -> _Greeks: ...
def black76_iv(
    target_price: _F64, flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, *, out: _F64 | None = None
) -> _F64: ...
def bsm_vanna(
    s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def bsm_volga(
    s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def bsm_charm(
    flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def bsm_veta(
    s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def bsm_speed(
    s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def bsm_zomma(
    s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def bsm_color(
    s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def bsm_dual_delta(
    flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def bsm_dual_gamma(
    s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def bsm_dividend_rho(
    flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def bsm_second_order(
    flag: _I8,
    s: _F64,
    k: _F64,
    t: _F64,
    r: _F64,
    q: _F64,
    sigma: _F64,
    *,
    out: _Second | None = None,
) -> _Second: ...
def black76_vanna(
    f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def black76_volga(
    f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def black76_charm(
    flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def black76_veta(
    f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def black76_speed(
    f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def black76_zomma(
    f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def black76_color(
    f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def black76_dual_delta(
    flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def black76_dual_gamma(
    f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def black76_second_order(
    flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _Black76Second | None = None
) -> _Black76Second: ...
def bsm_vanna_scalar(s: float, k: float, t: float, r: float, q: float, sigma: float) -> float: ...
def bsm_volga_scalar(s: float, k: float, t: float, r: float, q: float, sigma: float) -> float: ...
def bsm_charm_scalar(
    flag: int, s: float, k: float, t: float, r: float, q: float, sigma: float
) -> float: ...
def bsm_veta_scalar(s: float, k: float, t: float, r: float, q: float, sigma: float) -> float: ...
def bsm_speed_scalar(s: float, k: float, t: float, r: float, q: float, sigma: float) -> float: ...
def bsm_zomma_scalar(s: float, k: float, t: float, r: float, q: float, sigma: float) -> float: ...
def bsm_color_scalar(s: float, k: float, t: float, r: float, q: float, sigma: float) -> float: ...
def bsm_dual_delta_scalar(
    flag: int, s: float, k: float, t: float, r: float, q: float, sigma: float
) -> float: ...
def bsm_dual_gamma_scalar(
    s: float, k: float, t: float, r: float, q: float, sigma: float
) -> float: ...
def bsm_dividend_rho_scalar(
    flag: int, s: float, k: float, t: float, r: float, q: float, sigma: float
) -> float: ...
def bsm_second_order_scalar(
    flag: int, s: float, k: float, t: float, r: float, q: float, sigma: float
) -> _ScalarSecond: ...
def black76_vanna_scalar(f: float, k: float, t: float, r: float, sigma: float) -> float: ...
def black76_volga_scalar(f: float, k: float, t: float, r: float, sigma: float) -> float: ...
def black76_charm_scalar(
    flag: int, f: float, k: float, t: float, r: float, sigma: float
) -> float: ...
def black76_veta_scalar(f: float, k: float, t: float, r: float, sigma: float) -> float: ...
def black76_speed_scalar(f: float, k: float, t: float, r: float, sigma: float) -> float: ...
def black76_zomma_scalar(f: float, k: float, t: float, r: float, sigma: float) -> float: ...
def black76_color_scalar(f: float, k: float, t: float, r: float, sigma: float) -> float: ...
def black76_dual_delta_scalar(
    flag: int, f: float, k: float, t: float, r: float, sigma: float
) -> float: ...
def black76_dual_gamma_scalar(f: float, k: float, t: float, r: float, sigma: float) -> float: ...
def black76_second_order_scalar(
    flag: int, f: float, k: float, t: float, r: float, sigma: float
) -> _ScalarBlack76Second: ...

# American exercise: american_* in the accurate mode, american_fast_* in the fast one,
# american_precise_* in the precise one.
def american_price(flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64) -> _F64: ...
def american_greeks(
    flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64
) -> _Greeks: ...
def american_iv(
    target_price: _F64, flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64
) -> _F64: ...
def american_fast_price(
    flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64
) -> _F64: ...
def american_fast_greeks(
    flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64
) -> _Greeks: ...
def american_fast_iv(
    target_price: _F64, flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64
) -> _F64: ...
def american_price_scalar(
    flag: int, s: float, k: float, t: float, r: float, q: float, sigma: float
) -> float: ...
def american_greeks_scalar(
    flag: int, s: float, k: float, t: float, r: float, q: float, sigma: float
) -> tuple[float, float, float, float, float]: ...
def american_iv_scalar(
    target_price: float, flag: int, s: float, k: float, t: float, r: float, q: float
) -> float: ...
def american_fast_price_scalar(
    flag: int, s: float, k: float, t: float, r: float, q: float, sigma: float
) -> float: ...
def american_fast_greeks_scalar(
    flag: int, s: float, k: float, t: float, r: float, q: float, sigma: float
) -> tuple[float, float, float, float, float]: ...
def american_fast_iv_scalar(
    target_price: float, flag: int, s: float, k: float, t: float, r: float, q: float
) -> float: ...
def american_precise_price(
    flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64
) -> _F64: ...
def american_precise_greeks(
    flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64, sigma: _F64
) -> _Greeks: ...
def american_precise_iv(
    target_price: _F64, flag: _I8, s: _F64, k: _F64, t: _F64, r: _F64, q: _F64
) -> _F64: ...
def american_precise_price_scalar(
    flag: int, s: float, k: float, t: float, r: float, q: float, sigma: float
) -> float: ...
def american_precise_greeks_scalar(
    flag: int, s: float, k: float, t: float, r: float, q: float, sigma: float
) -> tuple[float, float, float, float, float]: ...
def american_precise_iv_scalar(
    target_price: float, flag: int, s: float, k: float, t: float, r: float, q: float
) -> float: ...

# The normal (Bachelier) model: forwards and strikes may be zero or negative, sigma is absolute.
def normal_price(
    flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def normal_delta(
    flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def normal_gamma(
    f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def normal_vega(
    f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def normal_theta(
    flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def normal_rho(
    flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _F64 | None = None
) -> _F64: ...
def normal_greeks(
    flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, sigma: _F64, *, out: _Greeks | None = None
) -> _Greeks: ...
def normal_iv(
    target_price: _F64, flag: _I8, f: _F64, k: _F64, t: _F64, r: _F64, *, out: _F64 | None = None
) -> _F64: ...
def normal_price_scalar(
    flag: int, f: float, k: float, t: float, r: float, sigma: float
) -> float: ...
def normal_delta_scalar(
    flag: int, f: float, k: float, t: float, r: float, sigma: float
) -> float: ...
def normal_gamma_scalar(f: float, k: float, t: float, r: float, sigma: float) -> float: ...
def normal_vega_scalar(f: float, k: float, t: float, r: float, sigma: float) -> float: ...
def normal_theta_scalar(
    flag: int, f: float, k: float, t: float, r: float, sigma: float
) -> float: ...
def normal_rho_scalar(flag: int, f: float, k: float, t: float, r: float, sigma: float) -> float: ...
def normal_greeks_scalar(
    flag: int, f: float, k: float, t: float, r: float, sigma: float
) -> tuple[float, float, float, float, float]: ...
def normal_iv_scalar(
    target_price: float, flag: int, f: float, k: float, t: float, r: float
) -> float: ...
