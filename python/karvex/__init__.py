"""karvex: European option prices, Greeks and implied volatilities.

Black-Scholes-Merton (spot, dividend yield) and Black-76 (forward) models,
computed by the C++ core ``karvex._core``.
"""

__version__ = "0.1.7"
