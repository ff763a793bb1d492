"""The computation: implied volatility of every row from one core call, the
five Greeks at that volatility from another, and why a row failed."""

from __future__ import annotations

import dataclasses
import time

import numpy as np

from .. import _core
from .._array import iv_status_codes
from .prices import Inputs
from .statuses import CODES, REASONS, STATUS_INTRINSIC, STATUS_OK, STATUSES  # noqa: F401

OUTPUT_COLUMNS = ("iv", "delta", "gamma", "vega", "theta", "rho", "status")
FORWARD_COLUMN = "implied_forward"  # before iv, with --forward parity


def computed_names(parity: bool) -> tuple[str, ...]:
    """The columns the run adds to the input's, in order."""
    return ((FORWARD_COLUMN,) if parity else ()) + OUTPUT_COLUMNS


@dataclasses.dataclass
class Result:
    iv: np.ndarray
    greeks: tuple[np.ndarray, ...]  # delta, gamma, vega, theta, rho
    status: np.ndarray  # int8 codes: STATUSES[code] is the status of the row
    core_seconds: float
    forward: np.ndarray | None = None  # the parity forward of each row (--forward parity)

    def values(self) -> tuple[np.ndarray, ...]:
        """The computed float columns, in the order they are written."""
        head = () if self.forward is None else (self.forward,)
        return (*head, self.iv, *self.greeks)

    def status_names(self) -> np.ndarray:
        names: np.ndarray = np.array(STATUSES, dtype=object)[self.status]
        return names


def compute(x: Inputs, intrinsic_tolerance: float = 0.0, parity: bool = False) -> Result:
    """Volatility, Greeks and status of a chunk's options; with `parity`,
    x.forward holds the parity forwards and is returned beside them."""
    # The core itself, once per chunk: the arrays are already what it reads
    # (contiguous float64, int8 flags), and its results are the array API's
    # bit for bit wherever the volatility exists -- the only rows whose
    # Greeks are kept.
    flag = np.ascontiguousarray(x.flag, dtype=np.int8)
    price, s, k, t, r, q = (
        np.ascontiguousarray(a, dtype=np.float64)
        for a in (x.price, x.underlying, x.strike, x.t, x.rate, x.dividend)
    )
    start = time.perf_counter()
    if x.model == "bsm":
        iv = _core.bsm_iv(price, flag, s, k, t, r, q)
    else:
        iv = _core.black76_iv(price, flag, s, k, t, r)
    core_seconds = time.perf_counter() - start
    # The array API's statuses, from the core's own bounds; their codes are
    # the first of STATUSES.
    status = iv_status_codes(iv, price, flag < 0, s, k, t, r, q)
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
        greeks = _core.bsm_greeks(flag, s, k, t, r, q, iv)
    else:
        greeks = _core.black76_greeks(flag, s, k, t, r, iv)
    core_seconds += time.perf_counter() - start
    # Greeks at a volatility that does not exist are left empty.
    kept: tuple[np.ndarray, ...] = greeks
    if failed.any():
        kept = tuple(np.where(failed, np.nan, g) for g in greeks)
    return Result(iv, tuple(kept), status, core_seconds, x.forward if parity else None)


def near_intrinsic(status: np.ndarray, x: Inputs, tolerance: float) -> np.ndarray:
    """Rows below the intrinsic value by at most `tolerance` (price units).
    Black-76 rows hold the forward as the spot and the rate as the yield,
    whose price at zero volatility is the same discounted intrinsic value."""
    below = np.flatnonzero(status == CODES["below_intrinsic"])
    near = np.zeros(len(status), dtype=bool)
    if len(below):
        # The intrinsic value as the core bounds the price: its price at zero volatility.
        flag, s, k, t, r, q = (
            np.ascontiguousarray(a[below])
            for a in (x.flag, x.underlying, x.strike, x.t, x.rate, x.dividend)
        )
        intrinsic = _core.bsm_price(flag, s, k, t, r, q, np.zeros(len(below)))
        near[below] = x.price[below] >= intrinsic - tolerance
    return near
