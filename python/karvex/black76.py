"""Black-76 on a forward price (futures options, caps/floors, swaptions).

Each function takes Python numbers, sequences, NumPy arrays of any shape and
numeric dtype or pandas Series, broadcasts them together and returns a float
(all-scalar input), an array in the broadcast shape, or a Series on the input's
index.  Parameters and their order are those of the ``karvex._core.black76_*``
functions::

    price(flag, f, k, t, r, sigma)        gamma(f, k, t, r, sigma)
    delta / theta / rho / greeks: like price
    vega(f, k, t, r, sigma)               iv(target_price, flag, f, k, t, r)

``flag``: 'c'/'call' or 'p'/'put' (any case), an integer whose sign decides
(negative = put, zero or positive = call), or a bool read as "is a call"
(True = call, False = put).
"""

from ._array import Greeks, make_functions

price, delta, gamma, vega, theta, rho, greeks, iv = make_functions("black76")

__all__ = ["price", "delta", "gamma", "vega", "theta", "rho", "greeks", "iv", "Greeks"]
