"""The status of a row, as int8 codes: STATUSES[code] is its name."""

from __future__ import annotations

import numpy as np

from .. import _array

STATUS_OK = "ok"
STATUS_INTRINSIC = "intrinsic"
# Inverted, with a volatility of 0.0: the price sits below the intrinsic
# value by no more than --intrinsic-tolerance.
STATUS_NEAR_INTRINSIC = "near_intrinsic"
# Why a row's price was not inverted, in the order the summary lists them.
REASONS = {
    "below_intrinsic": "below intrinsic",
    "above_upper_bound": "above upper bound",
    "invalid_input": "invalid inputs",
    "no_solution": "no solution",
    "no_bid": "no bid",
    "crossed_quote": "crossed quote",
    "missing_quote": "missing bid or ask",
    "expired": "expired",
    "no_forward": "no parity forward",
    "two_boundaries": "two exercise boundaries (American, not covered)",
}

# Every status, in the order of their codes: first those of the array API's
# iv_status (the core's own reasons), then the command's, added at the end.
STATUSES = (
    *_array.STATUSES,
    "no_bid",
    "crossed_quote",
    "missing_quote",
    "expired",
    STATUS_NEAR_INTRINSIC,
    "no_forward",
)
CODES = {name: np.int8(code) for code, name in enumerate(STATUSES)}
QUOTE_CODES = {name: CODES[name] for name in ("no_bid", "crossed_quote", "missing_quote")}
