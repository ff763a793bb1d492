"""Black-76 on a forward price (futures options, caps/floors, swaptions).

Each function takes Python numbers, sequences, NumPy arrays of any shape and
numeric dtype, masked arrays or pandas Series, broadcasts them together and
returns a float (all-scalar input), an array in the broadcast shape, or a
Series on the input's index.  Parameters and their order are those of the
``karvex._core.black76_*`` functions::

    price(flag, f, k, t, r, sigma)        gamma(f, k, t, r, sigma)
    delta / theta / rho / greeks: like price
    vega(f, k, t, r, sigma)               iv(target_price, flag, f, k, t, r)
    iv_status: like iv

``flag``: 'c'/'call' or 'p'/'put' (any case), an integer whose sign decides
(negative = put, zero or positive = call), or a bool read as "is a call"
(True = call, False = put).
"""

from typing import cast

from ._array import make_function
from ._types import (
    Black76Gamma,
    Black76Greek,
    Black76Greeks,
    Black76Iv,
    Black76IvStatus,
    Black76Price,
    Black76Vega,
    Greeks,
)

price: Black76Price = cast(Black76Price, make_function("black76", "price"))
delta: Black76Greek = cast(Black76Greek, make_function("black76", "delta"))
gamma: Black76Gamma = cast(Black76Gamma, make_function("black76", "gamma"))
vega: Black76Vega = cast(Black76Vega, make_function("black76", "vega"))
theta: Black76Greek = cast(Black76Greek, make_function("black76", "theta"))
rho: Black76Greek = cast(Black76Greek, make_function("black76", "rho"))
greeks: Black76Greeks = cast(Black76Greeks, make_function("black76", "greeks"))
iv: Black76Iv = cast(Black76Iv, make_function("black76", "iv"))
iv_status: Black76IvStatus = cast(Black76IvStatus, make_function("black76", "iv_status"))

__all__ = ["price", "delta", "gamma", "vega", "theta", "rho", "greeks", "iv", "iv_status", "Greeks"]
