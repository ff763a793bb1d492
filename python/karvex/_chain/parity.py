"""Forwards implied by put-call parity (--forward parity).

For European options on the same expiry and strike, C - P = e^(-rT) (F - K),
so each strike quoted on both sides gives a forward F = K + e^(rT) (C - P).
Per expiry, the forward is the median of those given by the NEAREST strikes
nearest the money (smallest |C - P|) whose forward is a positive finite
number, so that one bad quote among them does not move it.  Only rows with a
usable price (no faulty quote) count, and the expiry's rate is the median
of its rows' rates.  The run then inverts every
option with Black-76 on its expiry's forward; with a spot in the file the
summary also gives the carry r - q = ln(F / S) / T.

Calls and puts pair within a snapshot: the same underlying (where the file
names it in a ticker or underlying_symbol column) and expiry, quoted on the same
day, whatever the time of day each quote carries (their years to expiry
differ by that; the expiry's are the median of its quotes').  A file of
several underlyings or quote days gets a forward per snapshot."""

from __future__ import annotations

import dataclasses

import numpy as np

from .dates import factorise
from .prices import Inputs

NEAREST = 5
# The carry ln(F / S) / T of expiries nearer than this is not shown: over a
# few days a cent on the forward is a percent of carry.
CARRY_YEARS = 7.0 / 365.0
NO_PAIR = "no strike quoted on both sides"
NO_RATE = "no rate"
NO_FORWARD = "no positive finite forward"


@dataclasses.dataclass
class Expiry:
    label: str
    t: float
    forward: float  # NaN: none found, see `why`
    strikes: int  # strikes whose forwards gave the median
    carry: float  # r - q implied by the forward and the spot (NaN without a spot)
    rate: float
    day: str = ""  # the day quoted, where the file has dates
    why: str = NO_PAIR  # why there is no forward
    symbol: str = ""  # the underlying, where the file names it


Snapshot = tuple[str, str, str]  # (underlying, expiry label, day quoted)


def group_ids(keys: dict[Snapshot, int], x: Inputs, rows: np.ndarray | None = None) -> np.ndarray:
    """The snapshot of each of `x`'s rows (all, or those `rows` selects) as
    a number, the same across chunks: `keys` maps each snapshot seen so far
    to its number.  A snapshot is one underlying's expiry quoted on one day
    (whatever the time of day): its calls and puts pair by strike."""
    names, by_label = x.expiries  # each row's expiry as a number: no text compared here
    days = _days(x)
    symbols = x.symbol if x.symbol is not None else np.full(len(days), "", str)
    if rows is not None:
        by_label, days, symbols = by_label[rows], days[rows], symbols[rows]
    if len(days) == 0:
        return np.zeros(0, dtype=np.int64)
    tickers, _, by_symbol = factorise(symbols)
    dates, by_day = np.unique(days, return_inverse=True)
    combined = (by_symbol * len(names) + by_label) * len(dates) + by_day.reshape(-1)
    _, first, spread_rows = np.unique(combined, return_index=True, return_inverse=True)
    ids = np.array(
        [
            keys.setdefault(
                (str(tickers[by_symbol[i]]), str(names[by_label[i]]), str(days[i])), len(keys)
            )
            for i in first.tolist()
        ],
        dtype=np.int64,
    )
    spread: np.ndarray = ids[spread_rows.reshape(-1)]
    return spread


def _days(x: Inputs) -> np.ndarray:
    days: np.ndarray = x.quote_day if x.quote_day is not None else np.full(len(x.t), "", str)
    return days


class ParityForwards:
    """Collects the usable quotes of every expiry (first pass), then gives
    the forward of each expiry and puts it in each row (second pass).

    Only the first quote of each expiry, strike and side counts, so once
    COMPACT_ROWS quotes are held the later repeats are dropped: memory is
    bounded by the distinct strikes of the chain, not by its rows."""

    COMPACT_ROWS = 1_000_000

    def __init__(self) -> None:
        self.keys: dict[Snapshot, int] = {}  # snapshot -> group id
        # Per chunk: group id, strike, is a put, price, rate, spot, t.
        self.parts: list[tuple[np.ndarray, ...]] = []
        self.held = 0
        self.expiries: list[Expiry] = []
        self.forward_of: np.ndarray = np.zeros(0)
        self.spot = False  # the file gives a spot: Greeks by the spot (compute.spot_greeks)

    def add(self, x: Inputs) -> None:
        with np.errstate(invalid="ignore"):
            usable = np.isfinite(x.price) & (x.price >= 0.0) & np.isfinite(x.strike) & (x.t > 0.0)
        if x.quote_status is not None:
            usable &= x.quote_status == 0
        ids = group_ids(self.keys, x, usable)
        self.spot |= x.spot is not None
        spot = x.spot[usable] if x.spot is not None else np.full(len(ids), np.nan)
        self.parts.append(
            (
                ids,
                x.strike[usable],
                x.flag[usable] < 0,
                x.price[usable],
                x.rate[usable],
                spot,
                x.t[usable],
            )
        )
        self.held += len(ids)
        if self.held > self.COMPACT_ROWS:
            self._compact()

    def _columns(self) -> list[np.ndarray]:
        return [np.concatenate(c) for c in zip(*self.parts)] if self.parts else [np.zeros(0)] * 7

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
        columns = self._columns()
        order = np.argsort(columns[0], kind="stable")
        ids, strike, put, price, rate, spot, t = (c[order] for c in columns)
        starts = np.searchsorted(ids, np.arange(len(self.keys) + 1))
        self.forward_of = np.full(len(self.keys), np.nan)
        for (symbol, label, day), g in self.keys.items():
            part = slice(starts[g], starts[g + 1])
            years = float(np.median(t[part]))
            rates = rate[part][np.isfinite(rate[part])]  # a row's missing rate voids no expiry
            r = float(np.median(rates)) if len(rates) else np.nan
            forward, used, why = _forward(strike[part], put[part], price[part], r, years)
            with np.errstate(all="ignore"):
                carry = (
                    float(np.log(forward / np.nanmedian(spot[part])) / years)
                    if np.isfinite(spot[part]).any()
                    else np.nan
                )
            self.forward_of[g] = forward
            self.expiries.append(Expiry(label, years, forward, used, carry, r, day, why, symbol))
        self.expiries.sort(key=lambda e: (e.symbol, e.day, e.t, e.label))
        self.parts = []

    def apply(self, x: Inputs) -> Inputs:
        """The chunk on its expiries' forwards (NaN where none was found),
        under Black-76."""
        keys = dict(self.keys)
        ids = group_ids(keys, x)
        known = np.append(self.forward_of, np.full(len(keys) - len(self.keys), np.nan))
        forward = known[ids] if len(ids) else np.zeros(0)
        return dataclasses.replace(
            x, model="black76", underlying=forward, dividend=x.rate, forward=forward
        )

    def lines(self) -> list[str]:
        out = [
            f"  forwards:     put-call parity, median of the {NEAREST} strikes nearest the money"
        ]
        several_days = len({e.day for e in self.expiries}) > 1
        several_symbols = len({e.symbol for e in self.expiries}) > 1
        for e in self.expiries:
            label = f"{e.symbol} {e.label}" if several_symbols else e.label
            label = f"{label} (quoted {e.day})" if several_days else label
            if not np.isfinite(e.forward):
                out.append(f"    {label:<20} none: {e.why}")
                continue
            line = f"    {label:<20} {e.forward:>12,.2f}  ({e.strikes} strikes"
            if np.isfinite(e.carry) and e.t >= CARRY_YEARS:
                line += f"; carry r - q {100 * e.carry:.2f} %, dividend yield {100 * (e.rate - e.carry):.2f} %"
            out.append(line + ")")
        if self.spot:
            out.append(
                "  greeks:       by the spot, through the carry each forward implies"
                " (theta at a fixed spot, rho at a fixed q = r - carry)"
            )
        else:
            out.append(
                "  greeks:       Black-76's, by the forward (theta at a fixed forward):"
                " the file gives no spot"
            )
        return out


def _forward(
    strike: np.ndarray, put: np.ndarray, price: np.ndarray, rate: float, t: float
) -> tuple[float, int, str]:
    """(the forward, the strikes it is the median of, why there is none)."""
    calls, puts = ~put, put
    call_k, call_i = np.unique(strike[calls], return_index=True)
    put_k, put_i = np.unique(strike[puts], return_index=True)
    common, ci, pi = np.intersect1d(call_k, put_k, assume_unique=True, return_indices=True)
    if len(common) == 0:
        return np.nan, 0, NO_PAIR
    if not np.isfinite(rate):
        return np.nan, 0, NO_RATE
    difference = price[calls][call_i][ci] - price[puts][put_i][pi]
    with np.errstate(all="ignore"):
        forwards = common + np.exp(rate * t) * difference
    good = np.flatnonzero(np.isfinite(forwards) & (forwards > 0.0))
    if len(good) == 0:
        return np.nan, 0, NO_FORWARD
    nearest = good[np.argsort(np.abs(difference[good]), kind="stable")[:NEAREST]]
    return float(np.median(forwards[nearest])), len(nearest), ""
