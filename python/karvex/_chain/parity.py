"""Forwards implied by put-call parity (--forward parity).

For European options on the same expiry and strike, C - P = e^(-rT) (F - K),
so each strike quoted on both sides gives a forward F = K + e^(rT) (C - P).
Per expiry, the forward is the median of those given by the NEAREST strikes
nearest the money (smallest |C - P|), so that one bad quote among them does
not move it.  Only rows with a usable price (and no faulty quote) count.  The
run then inverts every option with Black-76 on its expiry's forward; with a
spot in the file the summary also gives the carry r - q = ln(F / S) / T.
"""

from __future__ import annotations

import dataclasses

import numpy as np

from .prices import Inputs

NEAREST = 5
# The carry ln(F / S) / T of expiries nearer than this is not shown: over a
# few days a cent on the forward is a percent of carry.
CARRY_YEARS = 7.0 / 365.0


@dataclasses.dataclass
class Expiry:
    label: str
    t: float
    forward: float  # NaN: no strike quoted on both sides
    strikes: int  # strikes whose forwards gave the median
    carry: float  # r - q implied by the forward and the spot (NaN without a spot)
    rate: float


def group_ids(keys: dict[tuple[str, float], int], labels: np.ndarray, t: np.ndarray) -> np.ndarray:
    """A number per (expiry label, years) pair, the same across chunks:
    `keys` maps each pair seen so far to its number."""
    if len(t) == 0:
        return np.zeros(0, dtype=np.int64)
    labels = labels.astype(str)
    years, by_years = np.unique(t, return_inverse=True)
    by_years = by_years.reshape(-1)
    first = np.zeros(len(years), dtype=np.int64)
    first[by_years[::-1]] = np.arange(len(t))[::-1]
    if np.array_equal(labels, labels[first][by_years]):  # as usual: one label per expiry
        pairs, rows = first, by_years
    else:
        names, by_name = np.unique(labels, return_inverse=True)
        _, pairs, rows = np.unique(
            by_name.reshape(-1) * len(years) + by_years, return_index=True, return_inverse=True
        )
    ids = np.array(
        [keys.setdefault((str(labels[i]), float(t[i])), len(keys)) for i in pairs.tolist()],
        dtype=np.int64,
    )
    return ids[rows.reshape(-1)]


class ParityForwards:
    """Collects the usable quotes of every expiry (first pass), then gives
    the forward of each expiry and the per-row lookup (second pass).

    Only the first quote of each expiry, strike and side counts, so once
    COMPACT_ROWS quotes are held the later repeats are dropped: memory is
    bounded by the distinct strikes of the chain, not by its rows."""

    COMPACT_ROWS = 1_000_000

    def __init__(self) -> None:
        self.keys: dict[tuple[str, float], int] = {}  # (expiry label, years) -> group id
        # Per chunk: group id, strike, is a put, price, rate, spot.
        self.parts: list[tuple[np.ndarray, ...]] = []
        self.held = 0
        self.expiries: list[Expiry] = []
        self.forward_of: np.ndarray = np.zeros(0)

    def add(self, x: Inputs) -> None:
        with np.errstate(invalid="ignore"):
            usable = np.isfinite(x.price) & (x.price >= 0.0) & np.isfinite(x.strike) & (x.t > 0.0)
        if x.quote_status is not None:
            usable &= x.quote_status == 0
        ids = group_ids(self.keys, x.expiry_label[usable], x.t[usable])
        spot = x.spot[usable] if x.spot is not None else np.full(len(ids), np.nan)
        self.parts.append(
            (ids, x.strike[usable], x.flag[usable] < 0, x.price[usable], x.rate[usable], spot)
        )
        self.held += len(ids)
        if self.held > self.COMPACT_ROWS:
            self._compact()

    def _columns(self) -> list[np.ndarray]:
        return [np.concatenate(c) for c in zip(*self.parts)] if self.parts else [np.zeros(0)] * 6

    def _compact(self) -> None:
        """Keep the first quote of each expiry, strike and side, in order."""
        columns = self._columns()
        ids, strike, put = columns[:3]
        order = np.lexsort((put, strike, ids))  # stable: the first quote leads each key
        first = np.r_[
            True,
            (np.diff(ids[order]) != 0)
            | (np.diff(strike[order]) != 0)
            | (put[order][1:] != put[order][:-1]),
        ]
        keep = np.sort(order[first])
        self.parts = [tuple(c[keep] for c in columns)]
        self.held = len(keep)

    def finish(self) -> None:
        ids, strike, put, price, rate, spot = self._columns()
        order = np.argsort(ids, kind="stable")
        ids, strike, put, price, rate, spot = (
            c[order] for c in (ids, strike, put, price, rate, spot)
        )
        starts = np.searchsorted(ids, np.arange(len(self.keys) + 1))
        self.forward_of = np.full(len(self.keys), np.nan)
        for (label, t), g in self.keys.items():
            part = slice(starts[g], starts[g + 1])
            r = float(np.median(rate[part])) if starts[g + 1] > starts[g] else np.nan
            forward, used = _forward(strike[part], put[part], price[part], r, t)
            with np.errstate(all="ignore"):
                carry = (
                    float(np.log(forward / np.nanmedian(spot[part])) / t)
                    if np.isfinite(spot[part]).any()
                    else np.nan
                )
            self.forward_of[g] = forward
            self.expiries.append(Expiry(label, t, forward, used, carry, r))
        self.expiries.sort(key=lambda e: (e.t, e.label))
        self.parts = []

    def lookup(self, labels: np.ndarray, t: np.ndarray) -> np.ndarray:
        """The forward of each row's expiry (NaN where none was found)."""
        keys = dict(self.keys)
        ids = group_ids(keys, labels, t)
        known = np.append(self.forward_of, np.full(len(keys) - len(self.keys), np.nan))
        return known[ids] if len(ids) else np.zeros(0)

    def lines(self) -> list[str]:
        out = [
            f"  forwards:     put-call parity, median of the {NEAREST} strikes nearest the money"
        ]
        for e in self.expiries:
            if not np.isfinite(e.forward):
                out.append(f"    {e.label:<20} none: no strike quoted on both sides")
                continue
            line = f"    {e.label:<20} {e.forward:>12,.2f}  ({e.strikes} strikes"
            if np.isfinite(e.carry) and e.t >= CARRY_YEARS:
                line += f"; carry r - q {100 * e.carry:.2f} %, dividend yield {100 * (e.rate - e.carry):.2f} %"
            out.append(line + ")")
        return out


def _forward(
    strike: np.ndarray, put: np.ndarray, price: np.ndarray, rate: float, t: float
) -> tuple[float, int]:
    calls, puts = ~put, put
    call_k, call_i = np.unique(strike[calls], return_index=True)
    put_k, put_i = np.unique(strike[puts], return_index=True)
    common, ci, pi = np.intersect1d(call_k, put_k, assume_unique=True, return_indices=True)
    if len(common) == 0 or not np.isfinite(rate):
        return np.nan, 0
    difference = price[calls][call_i][ci] - price[puts][put_i][pi]
    nearest = np.argsort(np.abs(difference), kind="stable")[:NEAREST]
    forwards = common[nearest] + np.exp(rate * t) * difference[nearest]
    return float(np.median(forwards)), len(nearest)
