"""The computation: implied volatility of every row from one core call, the
five Greeks at that volatility from another, and why a row failed."""

from __future__ import annotations

import dataclasses
import time
from collections.abc import Sequence

import numpy as np

from .. import _core, _ext
from .._array import (
    UNIT_FACTORS,
    american_iv_status_codes,
    iv_status_codes,
    normal_iv_status_codes,
)
from .._types import Black76SecondOrder, SecondOrder
from .prices import Inputs
from .statuses import CODES, REASONS, STATUS_INTRINSIC, STATUS_OK, STATUSES  # noqa: F401

OUTPUT_COLUMNS = ("iv", "delta", "gamma", "vega", "theta", "rho", "status")
UNITS = tuple(UNIT_FACTORS)  # --units: raw, desk, desk252
# The Greeks' columns in each unit: desk units name their unit and add gamma
# per 1 % move of the underlying (gamma_pct) after gamma; each is the raw
# value times the array API's factor (karvex._array.UNIT_FACTORS).
GREEK_COLUMNS = {
    "raw": OUTPUT_COLUMNS[1:-1],
    "desk": ("delta", "gamma", "gamma_pct", "vega_per_pt", "theta_per_day", "rho_per_pct"),
    "desk252": ("delta", "gamma", "gamma_pct", "vega_per_pt", "theta_per_252d", "rho_per_pct"),
}
# With --second-order, after the Greeks: the second-order Greeks in raw units (karvex._ext), by
# the model's own underlying; Black-76 has no dividend rho.
SECOND_ORDER_COLUMNS = {"bsm": SecondOrder._fields, "black76": Black76SecondOrder._fields}
FORWARD_COLUMN = "implied_forward"  # before iv, with --forward parity
# With --audit, before the status: what each row was computed from (its
# years to expiry, its price -- the mid of a bid/ask quote --, the forward
# its model carried the spot to, or the file's or parity's, and e^(-rT)).
AUDIT_COLUMNS = ("t_years", "price_used", "forward_used", "discount_factor")


def computed_names(
    parity: bool, audit: bool = False, units: str = "raw", second_order: str | None = None
) -> tuple[str, ...]:
    """The columns the run adds to the input's, in order; `second_order` is
    the model whose second-order Greeks follow the Greeks (None: none)."""
    head = (FORWARD_COLUMN,) if parity else ()
    second = SECOND_ORDER_COLUMNS[second_order] if second_order else ()
    tail = AUDIT_COLUMNS if audit else ()
    return head + ("iv", *GREEK_COLUMNS[units], *second) + tail + OUTPUT_COLUMNS[-1:]


@dataclasses.dataclass
class Result:
    iv: np.ndarray
    greeks: tuple[np.ndarray, ...]  # GREEK_COLUMNS' values in the run's units
    status: np.ndarray  # int8 codes: STATUSES[code] is the status of the row
    core_seconds: float
    forward: np.ndarray | None = None  # the parity forward of each row (--forward parity)
    audit: tuple[np.ndarray, ...] = ()  # AUDIT_COLUMNS' values (--audit)
    second: tuple[np.ndarray, ...] = ()  # SECOND_ORDER_COLUMNS' values (--second-order)

    def values(self) -> tuple[np.ndarray, ...]:
        """The computed float columns, in the order they are written."""
        head = () if self.forward is None else (self.forward,)
        return (*head, self.iv, *self.greeks, *self.second, *self.audit)

    def status_names(self) -> np.ndarray:
        names: np.ndarray = np.array(STATUSES, dtype=object)[self.status]
        return names

    def parts(self) -> list[tuple[np.ndarray, bool]]:
        """The computed columns in the order they are written, each with
        whether it is a status (int8 codes) rather than numbers."""
        return [(v, False) for v in self.values()] + [(self.status, True)]


@dataclasses.dataclass
class Sides:
    """A wide chain's results: the call's columns, then the put's, on the
    input's own rows (see side_names)."""

    sides: list[Result]

    def parts(self) -> list[tuple[np.ndarray, bool]]:
        return [part for result in self.sides for part in result.parts()]


def side_names(sides: Sequence[str], computed: Sequence[str]) -> tuple[str, ...]:
    """The computed columns of a wide chain: call_iv ... call_status, put_iv ..."""
    return tuple(f"{side}_{name}" for side in sides for name in computed)


def is_status(name: str) -> bool:
    return name == "status" or name.endswith("_status")


def compute(
    x: Inputs,
    intrinsic_tolerance: float = 0.0,
    parity: bool = False,
    audit: bool = False,
    units: str = "raw",
    second_order: bool = False,
    american: str | None = None,
) -> Result:
    """Volatility, Greeks and status of a chunk's options; with `parity`,
    x.forward holds the parity forwards and is returned beside them; the
    Greeks in `units` (GREEK_COLUMNS); with `second_order`, the second-order
    Greeks too (SECOND_ORDER_COLUMNS); with `american` (a mode of
    karvex.american: fast, accurate or precise), under American exercise, BSM."""
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
    # the _ext functions of the American mode: american_, american_fast_, american_precise_
    american_prefix = "american_" if american == "accurate" else f"american_{american}_"
    if american:
        iv = getattr(_ext, american_prefix + "iv")(price, flag, s, k, t, r, q)
    else:
        iv = implied(x.model, price, flag, s, k, t, r, q)
    core_seconds = time.perf_counter() - start
    # The array API's statuses, from the core's own bounds; their codes are
    # the first of STATUSES.
    if american:
        status = american_iv_status_codes(iv, price, flag < 0, s, k, t, r, q)
    elif x.model == "normal":
        status = normal_iv_status_codes(iv, price, flag < 0, s, k, t, r)
    else:
        status = iv_status_codes(iv, price, flag < 0, s, k, t, r, q)
    if intrinsic_tolerance > 0.0 and not american:
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
    if american:
        greeks = getattr(_ext, american_prefix + "greeks")(flag, s, k, t, r, q, iv)
    elif x.model == "bsm":
        greeks = _core.bsm_greeks(flag, s, k, t, r, q, iv)
    elif x.model == "normal":
        greeks = _ext.normal_greeks(flag, s, k, t, r, iv)
    else:
        greeks = _core.black76_greeks(flag, s, k, t, r, iv)
    core_seconds += time.perf_counter() - start
    kept: tuple[np.ndarray, ...] = greeks
    underlying = x.underlying
    if parity and x.spot is not None:
        kept = spot_greeks(greeks, x)
        underlying = x.spot
    if units != "raw":
        kept = in_units(kept, units, underlying)
    # Greeks at a volatility that does not exist are left empty.
    if failed.any():
        kept = tuple(np.where(failed, np.nan, g) for g in kept)
    result = Result(iv, tuple(kept), status, core_seconds, x.forward if parity else None)
    if second_order:
        start = time.perf_counter()
        second: tuple[np.ndarray, ...]
        if x.model == "bsm":
            second = _ext.bsm_second_order(flag, s, k, t, r, q, iv)
        else:
            second = _ext.black76_second_order(flag, s, k, t, r, iv)
        result.core_seconds += time.perf_counter() - start
        result.second = (
            tuple(np.where(failed, np.nan, g) for g in second) if failed.any() else second
        )
    if audit:
        with np.errstate(all="ignore"):
            result.audit = (t, price, x.forward, np.exp(-r * t))
    return result


def implied(
    model: str,
    price: np.ndarray,
    flag: np.ndarray,
    s: np.ndarray,
    k: np.ndarray,
    t: np.ndarray,
    r: np.ndarray,
    q: np.ndarray,
) -> np.ndarray:
    """The implied volatilities of `model` (Black-76 and normal: the forward as s, q unused)."""
    if model == "bsm":
        return _core.bsm_iv(price, flag, s, k, t, r, q)
    if model == "normal":
        return _ext.normal_iv(price, flag, s, k, t, r)
    return _core.black76_iv(price, flag, s, k, t, r)


def in_units(greeks: tuple[np.ndarray, ...], units: str, s: np.ndarray) -> tuple[np.ndarray, ...]:
    """The raw Greeks (delta, gamma, vega, theta, rho) in desk units, as the
    array API gives them: each the raw value times its factor, and gamma per
    1 % move of the underlying `s` the raw gamma times (s * 0.01)."""
    delta, gamma, vega, theta, rho = greeks
    factor = UNIT_FACTORS[units]
    with np.errstate(all="ignore"):
        return (
            delta,
            gamma,
            gamma * (s * 0.01),
            vega * factor["vega"],
            theta * factor["theta"],
            rho * factor["rho"],
        )


def spot_greeks(greeks: tuple[np.ndarray, ...], x: Inputs) -> tuple[np.ndarray, ...]:
    """Black-76's Greeks on the parity forward F made the Greeks of a hedge
    in the spot S, through the carry b the forward implies.

    The option's value is V(S, t) = B(F(S, t), t) with F = S e^(bT), where
    b = ln(F / S) / T is the carry read off the quotes (the forward and the
    spot of the row, T its years to expiry), and the rate r and the yield
    q = r - b are the quantities held fixed.  So, exactly:

        delta_S = dV/dS = B_F dF/dS = delta_F e^(bT) = delta_F F / S
        gamma_S = d2V/dS2 = gamma_F (F / S)^2          (dF/dS does not depend on S)
        vega_S  = vega_F                               (F does not depend on sigma)
        theta_S = dV/dt at fixed S = theta_F + delta_F dF/dt,  dF/dt = -b F
                  (time passing shortens T: dF/dt = -dF/dT = -b F)
        rho_S   = dV/dr at fixed S and q = rho_F + delta_F dF/dr,  dF/dr = T F

    which are BSM's Greeks at the spot S and yield q, computed without
    rounding F through ln and exp.  A row without a spot has none."""
    delta, gamma, vega, theta, rho = greeks
    f, s, t = x.forward, x.spot, x.t
    with np.errstate(all="ignore"):
        ratio = f / s
        carry = np.log(ratio) / t
        return (
            delta * ratio,
            gamma * (ratio * ratio),
            np.where(np.isfinite(ratio), vega, np.nan),
            theta - carry * f * delta,
            rho + t * f * delta,
        )


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
        if x.model == "normal":
            intrinsic = _ext.normal_price(flag, s, k, t, r, np.zeros(len(below)))
        else:
            intrinsic = _core.bsm_price(flag, s, k, t, r, q, np.zeros(len(below)))
        near[below] = x.price[below] >= intrinsic - tolerance
    return near
