"""The computation: implied volatility of every row from one core call, the
five Greeks at that volatility from another, and why a row failed."""

from __future__ import annotations

import dataclasses
import time

import numpy as np

from .. import black76, bsm
from .prices import Inputs

# Why a row's price was not inverted, in the order the summary lists them.
STATUS_OK = "ok"
STATUS_INTRINSIC = "intrinsic"
REASONS = {
    "below_intrinsic": "below intrinsic",
    "above_upper_bound": "above upper bound",
    "invalid_input": "invalid inputs",
    "no_solution": "no solution",
}
PRICE_TOLERANCE = 1e-12  # the core's absolute tolerance on the price bounds


# Every status, in the order of their codes in Result.status.
STATUSES = (STATUS_OK, STATUS_INTRINSIC, *REASONS)
_CODE = {name: np.int8(code) for code, name in enumerate(STATUSES)}


@dataclasses.dataclass
class Result:
    iv: np.ndarray
    greeks: tuple  # delta, gamma, vega, theta, rho
    status: np.ndarray  # int8 codes: STATUSES[code] is the status of the row
    core_seconds: float

    def status_names(self) -> np.ndarray:
        return np.array(STATUSES, dtype=object)[self.status]


def classify(iv, price, put, s, k, t, r, q) -> np.ndarray:
    """Status code of each row: ok, intrinsic (iv 0: no time value) or why
    the price could not be inverted, checked in the order the core checks."""
    status = np.zeros(len(iv), dtype=np.int8)
    status[iv == 0.0] = _CODE[STATUS_INTRINSIC]
    failed = np.isnan(iv)
    if not failed.any():
        return status
    with np.errstate(all="ignore"):
        finite = np.isfinite(s) & np.isfinite(k) & np.isfinite(t) & np.isfinite(r) & np.isfinite(q)
        invalid = ~(finite & (s > 0) & (k > 0) & (t > 0) & np.isfinite(price) & (price >= 0))
        s_disc = s * np.exp(-q * t)
        k_disc = k * np.exp(-r * t)
        intrinsic = np.maximum(np.where(put, k_disc - s_disc, s_disc - k_disc), 0.0)
        upper = np.where(put, k_disc, s_disc)
        below = price < intrinsic - PRICE_TOLERANCE
        # The core also refuses prices so close to the bound that no finite
        # volatility reaches them: they count as at the upper bound.
        above = price > upper - upper * 1e-9 - PRICE_TOLERANCE
    status[failed] = _CODE["no_solution"]
    status[failed & above] = _CODE["above_upper_bound"]
    status[failed & below] = _CODE["below_intrinsic"]
    status[failed & invalid] = _CODE["invalid_input"]
    return status


def compute(x: Inputs) -> Result:
    flag, s, k, t, r, q = x.flag, x.underlying, x.strike, x.t, x.rate, x.dividend
    start = time.perf_counter()
    if x.model == "bsm":
        iv = bsm.iv(x.price, flag, s, k, t, r, q)
        greeks = bsm.greeks(flag, s, k, t, r, q, iv)
    else:
        iv = black76.iv(x.price, flag, s, k, t, r)
        greeks = black76.greeks(flag, s, k, t, r, iv)
    core_seconds = time.perf_counter() - start
    # Greeks at a volatility that does not exist are left empty.
    failed = np.isnan(iv)
    if failed.any():
        greeks = tuple(np.where(failed, np.nan, g) for g in greeks)
    status = classify(iv, x.price, flag < 0, s, k, t, r, q)
    return Result(iv, tuple(greeks), status, core_seconds)
