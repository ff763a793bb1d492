"""Plot: what the smile picture needs of each chunk, and the picture
(matplotlib): one curve of implied volatility per expiry against
standardised moneyness (or another x axis), and below it each expiry's
at-the-money volatility and implied carry against its time to expiry."""

from __future__ import annotations

import importlib.util
import threading
from typing import TYPE_CHECKING, BinaryIO

import numpy as np

from .compute import Result, implied
from .options import PlotUnavailable
from .prices import Inputs
from .statuses import CODES, STATUS_OK

if TYPE_CHECKING:
    from matplotlib.artist import Artist
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure
    from matplotlib.gridspec import GridSpec

# The picture's points by name: labels, strike, forward, spot, t, iv, bid, put, and
# with bid/ask bars iv_bid, iv_ask.
Points = dict[str, np.ndarray]


_UNAVAILABLE = "--plot needs matplotlib: pip install 'karvex[plot]'"
_loading: threading.Thread | None = None


def require_matplotlib() -> None:
    """Fail at once if matplotlib is not installed; otherwise start importing
    what the picture uses (most of a second) in a thread, while the chain is
    computed."""
    global _loading
    if importlib.util.find_spec("matplotlib") is None:
        raise PlotUnavailable(_UNAVAILABLE)
    if _loading is None:
        _loading = threading.Thread(target=_load, name="karvex-matplotlib")
        _loading.start()


def _load() -> None:
    try:
        import matplotlib.backends.backend_agg  # noqa: F401  (PNG is drawn by Agg)
        import matplotlib.cm  # noqa: F401
        import matplotlib.figure  # noqa: F401
    except Exception:  # noqa: S110  told by the import in `draw`, which tries again
        pass


class PlotData:
    """What the picture needs of the chain, bounded however long it is.

    Per expiry (its label), the options inverted with a volatility above
    zero (status ok; rows with no bid, below intrinsic value or otherwise
    faulty are left out), one call and one put per bin of log-moneyness (the
    first in the file): an expiry keeps at most 2 * (2 * MAX_BIN + 1)
    points.  At most MAX_EXPIRIES expiries are kept (the first met); of
    those, at most MAX_CURVES are drawn, spread evenly over the times to
    expiry.  With `bidask`, the volatilities of each kept point's bid and
    ask are computed as it is kept (a few thousand at most).  Nothing
    depends on how the file is cut into chunks."""

    BIN = 0.0025  # of log(K / F): strikes closer than 0.25 % share a point
    MAX_BIN = 1200  # |log(K / F)| up to 3, beyond it the outermost bins
    MAX_EXPIRIES = 128
    MAX_CURVES = 30

    def __init__(self, bidask: bool = False) -> None:
        self.bidask = bidask
        self.expiries: dict[str, int] = {}  # label -> number, in the order met
        self.left_out = False  # expiries met after MAX_EXPIRIES
        self._key = np.zeros(0, np.int64)  # expiry number, bin, put: sorted
        fields: tuple[str, ...] = ("strike", "forward", "spot", "t", "iv", "bid", "put")
        fields += ("iv_bid", "iv_ask") if bidask else ()
        self._values = {name: np.zeros(0, bool if name == "put" else np.float64) for name in fields}

    def add(self, inputs: Inputs, result: Result) -> None:
        with np.errstate(all="ignore"):
            moneyness = inputs.strike / inputs.forward
            keep = (
                (result.status == CODES[STATUS_OK])
                & (result.iv > 0)
                & np.isfinite(moneyness)
                & (moneyness > 0)
            )
        rows = np.flatnonzero(keep)
        if len(rows) == 0:
            return
        names, expiry = inputs.expiries
        number = self._number(names, expiry[rows])[expiry[rows]]
        rows, number = rows[number >= 0], number[number >= 0]
        bins = np.clip(np.floor(np.log(moneyness[rows]) / self.BIN), -self.MAX_BIN, self.MAX_BIN)
        key = (number * (2 * self.MAX_BIN + 1) + (bins.astype(np.int64) + self.MAX_BIN)) * 2 + (
            inputs.flag[rows] < 0
        )
        new, where = np.unique(key, return_index=True)  # the first row of each
        fresh = ~np.isin(new, self._key, assume_unique=True)
        if not fresh.any():
            return
        columns = self._columns(inputs, result, rows[where[fresh]])
        merged = np.concatenate([self._key, new[fresh]])
        order = np.argsort(merged, kind="stable")
        self._key = merged[order]
        for name, values in columns.items():
            self._values[name] = np.concatenate([self._values[name], values])[order]

    def _columns(self, x: Inputs, result: Result, rows: np.ndarray) -> Points:
        """The kept fields of the chunk's `rows`."""
        missing = np.full(len(rows), np.nan)
        columns = {
            "strike": x.strike[rows],
            "forward": x.forward[rows],
            "spot": x.spot[rows] if x.spot is not None else missing,
            "t": x.t[rows],
            "iv": result.iv[rows],
            "bid": x.bid[rows] if x.bid is not None else missing,
            "put": x.flag[rows] < 0,
        }
        if self.bidask:
            columns["iv_bid"], columns["iv_ask"] = quote_ivs(x, rows)
        return columns

    def _number(self, names: np.ndarray, rows: np.ndarray) -> np.ndarray:
        """The number of each expiry of the chunk (names, rows' indices into
        them), -1 for those not kept; new ones are numbered in the order the
        file meets them, up to MAX_EXPIRIES."""
        first = np.full(len(names), len(rows))
        np.minimum.at(first, rows, np.arange(len(rows)))
        present = np.flatnonzero(first < len(rows))
        present = present[np.argsort(first[present])]
        number = np.full(len(names), -1, np.int64)
        for g in present.tolist():
            if len(self.expiries) >= self.MAX_EXPIRIES:
                break
            number[g] = self.expiries.setdefault(str(names[g]), len(self.expiries))
        # The others are looked up in the sorted names, not one by one: a
        # chain may have thousands of expiries per chunk.
        known = np.array(list(self.expiries), dtype=str)
        at = np.minimum(np.searchsorted(names, known), len(names) - 1)
        found = names[at] == known
        number[at[found]] = np.array(list(self.expiries.values()), np.int64)[found]
        self.left_out |= bool((number[present] < 0).any())
        return number

    def note(self, curves: int) -> str:
        """How many expiries the picture shows, of how many."""
        shown = len(self._shown())
        if curves < shown or self.left_out:
            return f"{curves} of {shown}{'+' if self.left_out else ''} expiries drawn"
        return f"{curves} expiries"

    def _numbers(self) -> np.ndarray:
        return self._key // (2 * (2 * self.MAX_BIN + 1))

    def _shown(self) -> list[str]:
        """The expiries with out-of-the-money points (what the picture draws),
        nearest first."""
        v = self._values
        otm = out_of_the_money(v)
        numbers = self._numbers()
        shown = set(np.unique(numbers[otm]).tolist())
        nearest: dict[int, float] = {}  # expiry number -> its nearest time to expiry
        for n, t in zip(numbers.tolist(), v["t"].tolist()):
            nearest[n] = min(t, nearest.get(n, t))
        names = [name for name, n in self.expiries.items() if n in shown]
        return sorted(names, key=lambda name: nearest[self.expiries[name]])

    def drawn(self) -> list[str]:
        """The expiries drawn: all shown, or MAX_CURVES of them spread evenly
        by time to expiry."""
        names = self._shown()
        if len(names) <= self.MAX_CURVES:
            return names
        picks = np.unique(np.round(np.linspace(0, len(names) - 1, self.MAX_CURVES)).astype(int))
        return [names[i] for i in picks.tolist()]

    def arrays(self) -> Points:
        """The drawn points as the picture takes them, by expiry in the order
        drawn."""
        names = self.drawn()
        numbers = self._numbers()
        each = [np.flatnonzero(numbers == self.expiries[name]) for name in names]
        rows = np.concatenate(each) if each else np.zeros(0, np.int64)
        points = {name: values[rows] for name, values in self._values.items()}
        points["labels"] = np.repeat(np.array(names, dtype=str), [len(e) for e in each])
        return points


def quote_ivs(x: Inputs, rows: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """The volatilities of the bid and of the ask of the chunk's `rows`: NaN
    where the price is not the mid of a quote, or where a side has none (a
    bid under the intrinsic value)."""
    if x.bid is None:
        return np.full(len(rows), np.nan), np.full(len(rows), np.nan)
    bid = np.ascontiguousarray(x.bid[rows], dtype=np.float64)
    ask = 2.0 * x.price[rows] - bid  # the price is the quote's mid
    flag = np.ascontiguousarray(x.flag[rows], dtype=np.int8)
    s, k, t, r, q = (
        np.ascontiguousarray(a[rows], dtype=np.float64)
        for a in (x.underlying, x.strike, x.t, x.rate, x.dividend)
    )
    return implied(x.model, bid, flag, s, k, t, r, q), implied(x.model, ask, flag, s, k, t, r, q)


def out_of_the_money(points: Points) -> np.ndarray:
    """Puts below the forward, calls at and above it."""
    moneyness = points["strike"] / points["forward"]
    otm: np.ndarray = np.where(points["put"], moneyness < 1.0, moneyness >= 1.0)
    return otm


LEGEND_EXPIRIES = 8  # more expiries than this get a colour bar with some of them named

# The smile's x axes (--plot-x): what each shows, and where the forward is.
X_AXES = {
    "std": ("standardised moneyness  ln(K/F) / √t  (t in years)", 0.0),
    "logm": ("log-moneyness  ln(K/F)", 0.0),
    "kf": ("moneyness  K/F", 1.0),
    "strike": ("strike  K", None),
}


def coordinates(points: Points, axis: str) -> np.ndarray:
    """The points' x coordinates on the smile's `axis` (a key of X_AXES)."""
    moneyness = points["strike"] / points["forward"]
    if axis == "kf":
        return moneyness
    if axis == "strike":
        strike: np.ndarray = points["strike"]
        return strike
    log = np.log(moneyness)
    return log if axis == "logm" else log / np.sqrt(points["t"])


def at_minimum_tick(bid: np.ndarray) -> np.ndarray:
    """Quotes of the far wings, bid at the minimum tick, where the price says
    little about the volatility: those at the smallest bid of the chain, when
    that bid is tiny (under 1 %) beside the chain's median bid."""
    quoted = bid[np.isfinite(bid) & (bid > 0)]
    if len(quoted) == 0 or quoted.min() > 0.01 * np.median(quoted):
        return np.zeros(len(bid), dtype=bool)
    tick: np.ndarray = bid <= quoted.min()
    return tick


def robust_range(
    values: np.ndarray, margin: float = 0.06, least: float = 0.0
) -> tuple[float, float] | None:
    """Limits that show the bulk of `values` with a margin: the values within
    one spread (of those left after dropping the extreme 1 % at each end,
    and at least one when there are 8 or more) of that spread's ends.  A
    smooth wing stays inside; an absurd volatility (a stale quote) falls out
    rather than squash the rest.  The range is at least `least` wide, so
    that rounding noise on a flat line is not magnified (and never empty).
    None when nothing is finite."""
    v = np.sort(values[np.isfinite(values)])
    if len(v) == 0:
        return None
    cut = max(1, len(v) // 100) if len(v) >= 8 else 0
    low, high = float(v[cut]), float(v[len(v) - 1 - cut])
    spread = high - low
    inside = v[(v >= low - spread) & (v <= high + spread)]
    low, high = float(inside[0]), float(inside[-1])
    pad = margin * (high - low)
    width = max(high - low + 2 * pad, least) or 0.2 * abs(high) or 1.0
    middle = (low + high) / 2
    return middle - width / 2, middle + width / 2


def smile(data: Points, out: BinaryIO, title: str, axis: str = "std") -> int:
    """Draw the smile picture (see `draw`) as a PNG into the binary stream
    `out`; returns the curve count."""
    fig, curves = draw(data, title, axis)
    fig.savefig(out, format="png")
    return curves


def draw(data: Points, title: str, axis: str = "std") -> tuple[Figure, int]:
    """Draw the smile of out-of-the-money options (puts below the forward,
    calls at and above it) against `axis` (see X_AXES), one curve per expiry
    coloured from near (dark) to far (light); quotes at the minimum tick
    are drawn as open circles off the curves, and with iv_bid / iv_ask in
    the data each point gets a bar from its bid's volatility to its ask's.
    Below it, the at-the-money volatility and the implied carry (or the
    forward, without a spot) of each expiry against its time to expiry.
    Returns the figure and the curve count."""
    if _loading is not None:
        _loading.join()
    try:
        from matplotlib.figure import Figure
    except ImportError as exc:
        raise PlotUnavailable(f"{_UNAVAILABLE} ({exc})") from None

    labels = data["labels"].astype(str)
    otm = out_of_the_money(data)
    tick = at_minimum_tick(data["bid"])
    expiries = sorted(
        set(labels[otm].tolist()), key=lambda e: float(np.min(data["t"][labels == e]))
    )
    x = coordinates(data, axis)
    iv = 100.0 * data["iv"]
    bars = "iv_bid" in data and bool(np.isfinite(data["iv_bid"][otm]).any())

    fig = Figure(figsize=(10, 8.6), dpi=110, layout="constrained")
    grid = fig.add_gridspec(2, 2, height_ratios=(2.4, 1.0))
    ax = fig.add_subplot(grid[0, :])
    fig.suptitle(title, fontsize=12)
    curve = otm & ~tick
    x_range = x_window(x[curve])
    seen = curve if x_range is None else curve & (x >= x_range[0]) & (x <= x_range[1])
    y_range = robust_range(iv[seen], least=2.0)
    colours = _colours(len(expiries))
    many = len(expiries) > LEGEND_EXPIRIES
    names = []
    for colour, expiry in zip(colours, expiries):
        sel = otm & (labels == expiry)
        days = float(np.median(data["t"][sel])) * 365.0
        names.append(expiry if "T =" in expiry else f"{expiry}  ({_days(days)})")
        on = sel & ~tick
        order = np.flatnonzero(on)[np.argsort(x[on])]
        if bars:
            bottom = 0.0 if y_range is None else y_range[0]
            bid = np.where(np.isfinite(data["iv_bid"][order]), 100 * data["iv_bid"][order], bottom)
            ax.vlines(
                x[order], bid, 100 * data["iv_ask"][order], color=colour, linewidth=1, alpha=0.45
            )
        ax.plot(
            x[order],
            iv[order],
            "-o",
            color=colour,
            linewidth=1.4 if many else 1.6,
            markersize=2.6 if many else 3.2,
            alpha=0.9,
            label=None if many else names[-1],
        )
        wing = sel & tick
        if wing.any():
            ax.plot(x[wing], iv[wing], "o", mfc="none", mec=colour, markersize=4, alpha=0.7)
    forward, spot = X_AXES[axis][1], data["spot"][np.isfinite(data["spot"])]
    if forward is not None:
        _line(ax, forward, "forward")
    elif len(spot):  # the forwards differ by expiry: the spot instead
        _line(ax, float(np.median(spot)), "spot")
    if x_range is not None:
        ax.set_xlim(*x_range)
    footnote = "out-of-the-money options: puts below the forward, calls above"
    if y_range is not None:
        low, high = max(y_range[0], 0.0), y_range[1]
        ax.set_ylim(low, high)
        off = iv[seen][(iv[seen] < low) | (iv[seen] > high)]
        if len(off):
            footnote += f"; {len(off)} off the scale ({', '.join(f'{v:.0f} %' for v in off[:3])}"
            footnote += ", ...)" if len(off) > 3 else ")"
    beyond = int(curve.sum() - seen.sum())
    if beyond:
        footnote += f"; {beyond} beyond the ends of the x axis"
    ax.set_xlabel(X_AXES[axis][0])
    ax.set_ylabel("implied volatility (%)")
    _style(ax)
    if many:
        _colour_bar(fig, ax, names)
    elif expiries:
        ax.legend(
            title="expiry",
            frameon=False,
            fontsize=9,
            title_fontsize=9,
            loc="upper left",
            bbox_to_anchor=(1.01, 1.0),
        )
    _keys(ax, tick[otm].any(), float(np.min(data["bid"][tick], initial=np.inf)), bars)
    ax.annotate(footnote, xy=(0.0, -0.13), xycoords="axes fraction", fontsize=8, color="0.45")
    _term(fig, grid, data, expiries, colours, curve, bars)
    return fig, len(expiries)


def _line(ax: Axes, at: float, name: str) -> None:
    ax.axvline(at, color="0.55", linewidth=0.8, linestyle="--")
    ax.text(
        at, 1.0, f" {name}", transform=ax.get_xaxis_transform(), va="top", fontsize=9, color="0.4"
    )


def _keys(ax: Axes, tick: bool, bid: float, bars: bool) -> None:
    """What the marks mean, above the smile's top left corner (the expiries'
    legend stays the axes' own)."""
    from matplotlib.legend import Legend

    handles: list[Artist] = []
    names: list[str] = []
    if tick:
        handles += ax.plot([], [], "o", mfc="none", mec="0.4", markersize=4)
        names.append(f"bid at the minimum tick ({bid:g}): not on the curves")
    if bars:
        handles.append(ax.vlines([], [], [], color="0.4", linewidth=1))
        names.append("bars: from the volatility of the bid to that of the ask")
    if handles:
        key = Legend(
            ax,
            handles,
            names,
            loc="lower left",
            bbox_to_anchor=(0.0, 1.0),
            ncols=2,
            frameon=False,
            fontsize=8,
            borderaxespad=0.2,
        )
        # Unclipped, as the axes' own legend: drawn off the axes, and
        # given room by the layout.
        ax.add_artist(key).set_clip_on(False)


def _style(ax: Axes) -> None:
    ax.grid(True, color="0.9", linewidth=0.8)
    ax.set_axisbelow(True)
    for side in ("top", "right"):
        ax.spines[side].set_visible(False)


def x_window(x: np.ndarray) -> tuple[float, float] | None:
    """An x axis that shows the bulk of the smiles: a few extreme points (a
    same-day expiry's far wing) may fall outside rather than squeeze every
    curve.  None (matplotlib's own) for fewer than 20 points."""
    if len(x) < 20:
        return None
    lo, hi = np.percentile(x, [0.5, 99.5])
    pad = 0.03 * (hi - lo)
    return float(lo - pad), float(hi + pad)


def at_the_money(log_moneyness: np.ndarray, values: np.ndarray) -> float:
    """The value at the forward, interpolated linearly in ln(K/F) between the
    nearest points on each side of it; NaN unless there are points on both."""
    below, above = log_moneyness < 0.0, log_moneyness >= 0.0
    if not below.any() or not above.any():
        return float("nan")
    i = int(np.argmax(np.where(below, log_moneyness, -np.inf)))
    j = int(np.argmin(np.where(above, log_moneyness, np.inf)))
    w = -log_moneyness[i] / (log_moneyness[j] - log_moneyness[i])
    return float(values[i] + w * (values[j] - values[i]))


def term_structure(data: Points, expiries: list[str], curve: np.ndarray) -> Points:
    """Per expiry (in the order given): its time to expiry in days, the
    at-the-money volatility (%) of its curve's points, that of the bid and
    of the ask (NaN without them), its carry ln(F/S)/t (% a year; NaN
    without a spot) and its forward (medians over its points)."""
    labels = data["labels"].astype(str)
    fields: dict[str, list[float]] = {
        k: [] for k in ("days", "atm", "atm_bid", "atm_ask", "carry", "forward")
    }
    with np.errstate(all="ignore"):
        log = np.log(data["strike"] / data["forward"])
        carry = np.log(data["forward"] / data["spot"]) / data["t"]
    for expiry in expiries:
        mine = labels == expiry
        on = mine & curve
        fields["days"].append(365.0 * float(np.median(data["t"][mine])))
        for name, key in (("atm", "iv"), ("atm_bid", "iv_bid"), ("atm_ask", "iv_ask")):
            values = data[key][on] if key in data else np.full(int(on.sum()), np.nan)
            fields[name].append(100.0 * at_the_money(log[on], values))
        finite = carry[mine][np.isfinite(carry[mine])]
        fields["carry"].append(100.0 * float(np.median(finite)) if len(finite) else np.nan)
        fields["forward"].append(float(np.median(data["forward"][mine])))
    return {k: np.array(v, dtype=np.float64) for k, v in fields.items()}


def _term(
    fig: Figure,
    grid: GridSpec,
    data: Points,
    expiries: list[str],
    colours: list[tuple[float, float, float, float]],
    curve: np.ndarray,
    bars: bool,
) -> None:
    """The panels below the smile: at-the-money volatility, and implied
    carry (or the forward), against the time to expiry."""
    term = term_structure(data, expiries, curve)
    days = term["days"]
    atm = (term["atm"], "at-the-money volatility", "implied volatility (%)", 2.0, bars)
    if np.isfinite(term["carry"]).any():
        right = (term["carry"], "implied carry  r − q = ln(F/S) / t", "% a year", 0.5, False)
    else:  # no spot: the forwards themselves
        right = (term["forward"], "forward to each expiry", "forward F", 0.0, False)
    first = None
    for cell, (y, title, unit, least, spread) in zip((grid[1, 0], grid[1, 1]), (atm, right)):
        ax = fig.add_subplot(cell, sharex=first)
        ax.set_title(title, fontsize=10)
        ax.set_ylabel(unit, fontsize=9)
        ax.set_xlabel("time to expiry", fontsize=9)
        ax.tick_params(labelsize=8)
        _style(ax)
        shown = np.flatnonzero(np.isfinite(y))
        if len(shown) == 0:
            ax.text(0.5, 0.5, "none", transform=ax.transAxes, ha="center", color="0.5")
            continue
        ends = y[shown]
        if spread:
            ax.vlines(days, term["atm_bid"], term["atm_ask"], color="0.6", linewidth=1)
            ends = np.concatenate([ends, term["atm_bid"], term["atm_ask"]])
        low, high = robust_range(ends, margin=0.12, least=least) or (0.0, 1.0)
        ax.set_ylim(low, high)
        drawn = np.clip(y, low, high)  # off the scale: at the edge, as a triangle
        ax.plot(days[shown], drawn[shown], "-", color="0.7", linewidth=1, zorder=1)
        for mark, where in (("o", y == drawn), ("^", y > high), ("v", y < low)):
            at = np.flatnonzero(where)
            if len(at):
                ax.scatter(
                    days[at], drawn[at], 25, [colours[i] for i in at], marker=mark, clip_on=False
                )
        if first is None:
            first = ax
            _days_axis(ax, days[shown])


def _days_axis(ax: Axes, days: np.ndarray) -> None:
    """Times to expiry on a log scale when they span more than a factor of
    30, with ticks named in minutes, hours or days."""
    from matplotlib.ticker import FixedLocator, FuncFormatter, NullLocator

    lo, hi = float(days.min()), float(days.max())
    if lo > 0 and hi > 30 * lo:
        ax.set_xscale("log")
        ticks: list[float] = []
        for d in (1 / 96, 1 / 24, 1, 7, 30, 91, 182, 365, 730, 1825, 3650):
            # at least a seventh of the axis apart
            if lo / 2 <= d <= hi * 2 and (not ticks or d / ticks[-1] >= (hi / lo) ** (1 / 7)):
                ticks.append(d)
        ax.xaxis.set_major_locator(FixedLocator(ticks))
        ax.xaxis.set_minor_locator(NullLocator())  # a tick costs as much as a curve
    ax.xaxis.set_major_formatter(FuncFormatter(lambda d, _: _days(d) if d > 0 else "0"))


def _days(days: float) -> str:
    if days < 1.0 / 24.0:
        return f"{days * 1440:.0f} min"
    return f"{days * 24:.3g} h" if days < 1.0 else f"{days:.0f} d"


def _colour_bar(fig: Figure, ax: Axes, names: list[str]) -> None:
    """A colour bar of the expiries, near to far, naming at most
    LEGEND_EXPIRIES of them (the nearest, the farthest, evenly between)."""
    from matplotlib.cm import ScalarMappable
    from matplotlib.colors import BoundaryNorm, ListedColormap

    n = len(names)
    cmap = ListedColormap(_colours(n))
    norm = BoundaryNorm(np.arange(n + 1) - 0.5, n)
    bar = fig.colorbar(ScalarMappable(norm=norm, cmap=cmap), ax=ax, fraction=0.04, pad=0.01)
    shown = np.unique(np.round(np.linspace(0, n - 1, LEGEND_EXPIRIES)).astype(int))
    bar.set_ticks(shown.tolist())
    bar.set_ticklabels([names[i] for i in shown], fontsize=8)
    bar.ax.invert_yaxis()  # the nearest expiry at the top
    bar.set_label(f"expiry ({n}, near to far)", fontsize=9)


def _colours(n: int) -> list[tuple[float, float, float, float]]:
    from matplotlib import colormaps

    cmap = colormaps["viridis"]
    return [cmap(0.9 * i / max(n - 1, 1)) for i in range(n)]
