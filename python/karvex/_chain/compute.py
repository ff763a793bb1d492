"""The computation: implied volatility of every row from one core call, the
five Greeks at that volatility from another, and why a row failed."""

from __future__ import annotations

import dataclasses
import time

import numpy as np

from .. import black76, bsm
from .prices import Inputs
from .statuses import CODES, REASONS, STATUS_INTRINSIC, STATUS_OK, STATUSES  # noqa: F401

PRICE_TOLERANCE = 1e-12  # the core's absolute tolerance on the price bounds


@dataclasses.dataclass
class Result:
    iv: np.ndarray
    greeks: tuple  # delta, gamma, vega, theta, rho
    status: np.ndarray  # int8 codes: STATUSES[code] is the status of the row
    core_seconds: float
    forward: np.ndarray | None = None  # the parity forward of each row (--forward parity)

    def values(self) -> tuple:
        """The computed float columns, in the order they are written."""
        head = () if self.forward is None else (self.forward,)
        return (*head, self.iv, *self.greeks)

    def status_names(self) -> np.ndarray:
        return np.array(STATUSES, dtype=object)[self.status]


def bounds(put, s, k, t, r, q) -> tuple[np.ndarray, np.ndarray]:
    """The price bounds as the core checks them: the discounted intrinsic
    value, and the discounted underlying (call) or strike (put)."""
    s_disc = s * np.exp(-q * t)
    k_disc = k * np.exp(-r * t)
    return np.maximum(np.where(put, k_disc - s_disc, s_disc - k_disc), 0.0), np.where(put, k_disc, s_disc)


def classify(iv, price, put, s, k, t, r, q) -> np.ndarray:
    """Status code of each row: ok, intrinsic (iv 0: no time value) or why
    the price could not be inverted, checked in the order the core checks."""
    status = np.zeros(len(iv), dtype=np.int8)
    status[iv == 0.0] = CODES[STATUS_INTRINSIC]
    failed = np.isnan(iv)
    if not failed.any():
        return status
    with np.errstate(all="ignore"):
        finite = np.isfinite(s) & np.isfinite(k) & np.isfinite(t) & np.isfinite(r) & np.isfinite(q)
        invalid = ~(finite & (s > 0) & (k > 0) & (t > 0) & np.isfinite(price) & (price >= 0))
        intrinsic, upper = bounds(put, s, k, t, r, q)
        below = price < intrinsic - PRICE_TOLERANCE
        # The core also refuses prices so close to the bound that no finite
        # volatility reaches them: they count as at the upper bound.
        above = price > upper - upper * 1e-9 - PRICE_TOLERANCE
    status[failed] = CODES["no_solution"]
    status[failed & above] = CODES["above_upper_bound"]
    status[failed & below] = CODES["below_intrinsic"]
    status[failed & invalid] = CODES["invalid_input"]
    return status


def compute(x: Inputs, intrinsic_tolerance: float = 0.0, parity: bool = False) -> Result:
    """Volatility, Greeks and status of a chunk's options; with `parity`,
    x.forward holds the parity forwards and is returned beside them."""
    flag, s, k, t, r, q = x.flag, x.underlying, x.strike, x.t, x.rate, x.dividend
    start = time.perf_counter()
    if x.model == "bsm":
        iv = bsm.iv(x.price, flag, s, k, t, r, q)
    else:
        iv = black76.iv(x.price, flag, s, k, t, r)
    core_seconds = time.perf_counter() - start
    status = classify(iv, x.price, flag < 0, s, k, t, r, q)
    if intrinsic_tolerance > 0.0:
        near = near_intrinsic(status, x, intrinsic_tolerance)
        if near.any():
            iv = np.where(near, 0.0, iv)
            status[near] = CODES["near_intrinsic"]
    failed = np.isnan(iv)
    if x.quote_status is not None:
        status = np.where(x.quote_status != 0, x.quote_status, status)
    with np.errstate(invalid="ignore"):
        status[failed & (t <= 0.0)] = CODES["expired"]
    if parity:
        status[(status == CODES["invalid_input"]) & np.isnan(x.forward)] = CODES["no_forward"]
    start = time.perf_counter()
    if x.model == "bsm":
        greeks = bsm.greeks(flag, s, k, t, r, q, iv)
    else:
        greeks = black76.greeks(flag, s, k, t, r, iv)
    core_seconds += time.perf_counter() - start
    # Greeks at a volatility that does not exist are left empty.
    if failed.any():
        greeks = tuple(np.where(failed, np.nan, g) for g in greeks)
    return Result(iv, tuple(greeks), status, core_seconds, x.forward if parity else None)


def near_intrinsic(status: np.ndarray, x: Inputs, tolerance: float) -> np.ndarray:
    """Rows below the intrinsic value by at most `tolerance` (price units),
    as the core bounds the price: the discounted spot and strike."""
    with np.errstate(all="ignore"):
        intrinsic, _ = bounds(x.flag < 0, x.underlying, x.strike, x.t, x.rate, x.dividend)
        return (status == CODES["below_intrinsic"]) & (x.price >= intrinsic - tolerance)
