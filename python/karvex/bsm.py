"""Black-Scholes-Merton on a spot price with a continuous dividend yield.

Each function takes Python numbers, sequences, NumPy arrays of any shape and
numeric dtype, masked arrays or pandas Series, broadcasts them together and
returns a float (all-scalar input), an array in the broadcast shape, or a
Series on the input's index.  Parameters and their order are those of the
``karvex._core.bsm_*`` functions::

    price(flag, s, k, t, r, q, sigma)     gamma(s, k, t, r, q, sigma)
    delta / theta / rho / greeks: like price
    vega(s, k, t, r, q, sigma)            iv(target_price, flag, s, k, t, r, q)
    iv_status: like iv

``flag``: 'c'/'call' or 'p'/'put' (any case), an integer whose sign decides
(negative = put, zero or positive = call), or a bool read as "is a call"
(True = call, False = put).
"""

from typing import cast

from ._array import make_function
from ._types import (
    BsmGamma,
    BsmGreek,
    BsmGreeks,
    BsmIv,
    BsmIvStatus,
    BsmPrice,
    BsmVega,
    Greeks,
)

price: BsmPrice = cast(BsmPrice, make_function("bsm", "price"))
delta: BsmGreek = cast(BsmGreek, make_function("bsm", "delta"))
gamma: BsmGamma = cast(BsmGamma, make_function("bsm", "gamma"))
vega: BsmVega = cast(BsmVega, make_function("bsm", "vega"))
theta: BsmGreek = cast(BsmGreek, make_function("bsm", "theta"))
rho: BsmGreek = cast(BsmGreek, make_function("bsm", "rho"))
greeks: BsmGreeks = cast(BsmGreeks, make_function("bsm", "greeks"))
iv: BsmIv = cast(BsmIv, make_function("bsm", "iv"))
iv_status: BsmIvStatus = cast(BsmIvStatus, make_function("bsm", "iv_status"))

__all__ = ["price", "delta", "gamma", "vega", "theta", "rho", "greeks", "iv", "iv_status", "Greeks"]
