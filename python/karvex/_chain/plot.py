"""Plot: what the smile picture needs of each chunk, and the picture, one
curve of implied volatility per expiry (matplotlib)."""

from __future__ import annotations

import importlib.util
import threading
from typing import TYPE_CHECKING, BinaryIO

import numpy as np

from .compute import Result
from .options import PlotUnavailable
from .prices import Inputs
from .statuses import CODES, STATUS_OK

if TYPE_CHECKING:
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure

# The picture's points by name: labels, strike, forward, t, iv, put, bid.
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
    expiry.  Nothing depends on how the file is cut into chunks."""

    BIN = 0.0025  # of log(K / F): strikes closer than 0.25 % share a point
    MAX_BIN = 1200  # |log(K / F)| up to 3, beyond it the outermost bins
    MAX_EXPIRIES = 128
    MAX_CURVES = 30
    _FIELDS = ("x", "iv", "t", "bid", "put")

    def __init__(self) -> None:
        self.expiries: dict[str, int] = {}  # label -> number, in the order met
        self.left_out = False  # expiries met after MAX_EXPIRIES
        self._key = np.zeros(0, np.int64)  # expiry number, bin, put: sorted
        self._values = {
            name: np.zeros(0, bool if name == "put" else np.float64) for name in self._FIELDS
        }

    def add(self, inputs: Inputs, result: Result) -> None:
        with np.errstate(all="ignore"):
            moneyness = inputs.strike / inputs.forward
            keep = (
                (result.status == CODES[STATUS_OK])
                & (result.iv > 0)
                & np.isfinite(moneyness)
                & (moneyness > 0)
            )
        if not keep.any():
            return
        names, rows = inputs.expiries
        rows = rows[keep]
        number = self._number(names, rows)[rows]
        kept = number >= 0
        put = inputs.flag[keep][kept] < 0
        bins = np.clip(
            np.floor(np.log(moneyness[keep][kept]) / self.BIN), -self.MAX_BIN, self.MAX_BIN
        )
        key = (
            number[kept] * (2 * self.MAX_BIN + 1) + (bins.astype(np.int64) + self.MAX_BIN)
        ) * 2 + put
        new, where = np.unique(key, return_index=True)  # the first row of each
        fresh = ~np.isin(new, self._key, assume_unique=True)
        if not fresh.any():
            return
        where = where[fresh]
        bid = inputs.bid[keep] if inputs.bid is not None else np.full(int(keep.sum()), np.nan)
        columns = {"x": moneyness[keep], "iv": result.iv[keep], "t": inputs.t[keep], "bid": bid}
        merged = np.concatenate([self._key, new[fresh]])
        order = np.argsort(merged, kind="stable")
        self._key = merged[order]
        for name in self._FIELDS:
            values = put if name == "put" else columns[name][kept]
            self._values[name] = np.concatenate([self._values[name], values[where]])[order]

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
        otm = np.where(v["put"], v["x"] < 1.0, v["x"] >= 1.0)
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
        """The drawn points as the picture takes them (strike over forward
        given as the moneyness over 1), by expiry in the order drawn."""
        names = self.drawn()
        numbers = self._numbers()
        each = [np.flatnonzero(numbers == self.expiries[name]) for name in names]
        rows = np.concatenate(each) if each else np.zeros(0, np.int64)
        v = {name: values[rows] for name, values in self._values.items()}
        return {
            "labels": np.repeat(
                np.array(names, dtype=str),
                [int((numbers == self.expiries[n]).sum()) for n in names],
            ),
            "strike": v["x"],
            "forward": np.ones_like(v["x"]),
            "t": v["t"],
            "iv": v["iv"],
            "put": v["put"],
            "bid": v["bid"],
        }


LEGEND_EXPIRIES = 8  # more expiries than this get a colour bar with some of them named


def at_minimum_tick(bid: np.ndarray) -> np.ndarray:
    """Quotes of the far wings, bid at the minimum tick, where the price says
    little about the volatility: those at the smallest bid of the chain, when
    that bid is tiny (under 1 %) beside the chain's median bid."""
    quoted = bid[np.isfinite(bid) & (bid > 0)]
    if len(quoted) == 0 or quoted.min() > 0.01 * np.median(quoted):
        return np.zeros(len(bid), dtype=bool)
    tick: np.ndarray = bid <= quoted.min()
    return tick


def smile(data: Points, out: BinaryIO, title: str) -> int:
    """Draw the smile picture (see `draw`) as a PNG into the binary stream
    `out`; returns the curve count."""
    fig, curves = draw(data, title)
    fig.savefig(out, format="png")
    return curves


def draw(data: Points, title: str) -> tuple[Figure, int]:
    """Draw the smile of out-of-the-money options (puts below the forward,
    calls at and above it) against moneyness K/F, one curve per expiry
    coloured from near (dark) to far (light); quotes at the minimum tick
    are drawn as open circles off the curves.  Returns the figure and the
    curve count."""
    if _loading is not None:
        _loading.join()
    try:
        from matplotlib.figure import Figure
    except ImportError as exc:
        raise PlotUnavailable(f"{_UNAVAILABLE} ({exc})") from None

    labels = data["labels"].astype(str)
    moneyness = data["strike"] / data["forward"]
    otm = np.where(data["put"], moneyness < 1.0, moneyness >= 1.0)
    tick = at_minimum_tick(data["bid"])
    expiries = sorted(
        set(labels[otm].tolist()), key=lambda e: float(np.min(data["t"][labels == e]))
    )

    fig = Figure(figsize=(10, 6.2), dpi=120, layout="constrained")
    ax = fig.add_subplot()
    colours = _colours(len(expiries))
    many = len(expiries) > LEGEND_EXPIRIES
    names = []
    for colour, expiry in zip(colours, expiries):
        sel = otm & (labels == expiry)
        days = float(np.median(data["t"][sel])) * 365.0
        name = expiry if "T =" in expiry else f"{expiry}  ({_days(days)})"
        names.append(name)
        curve = sel & ~tick
        order = np.argsort(moneyness[curve])
        x = moneyness[curve][order]
        y = 100.0 * data["iv"][curve][order]
        ax.plot(
            x,
            y,
            "-",
            color=colour,
            linewidth=1.4 if many else 1.6,
            alpha=0.9,
            label=None if many else name,
        )
        ax.plot(x, y, "o", color=colour, markersize=2.6 if many else 3.2)
        wing = sel & tick
        if wing.any():
            ax.plot(
                moneyness[wing],
                100.0 * data["iv"][wing],
                "o",
                markerfacecolor="none",
                markeredgecolor=colour,
                markersize=4,
                alpha=0.7,
            )
    if tick[otm].any():
        ax.plot(
            [],
            [],
            "o",
            markerfacecolor="none",
            markeredgecolor="0.4",
            markersize=4,
            label=f"bid at the minimum tick ({float(data['bid'][tick].min()):g}): not on the curves",
        )
    ax.axvline(1.0, color="0.55", linewidth=0.8, linestyle="--")
    ax.text(
        1.0,
        1.0,
        " forward",
        transform=ax.get_xaxis_transform(),
        va="top",
        ha="left",
        fontsize=9,
        color="0.4",
    )
    _limits(ax, moneyness[otm & ~tick], 100.0 * data["iv"][otm & ~tick])
    ax.set_xlabel("moneyness K / F (strike over the forward to each expiry)")
    ax.set_ylabel("implied volatility (%)")
    ax.set_title(title, fontsize=12)
    ax.grid(True, color="0.9", linewidth=0.8)
    ax.set_axisbelow(True)
    for side in ("top", "right"):
        ax.spines[side].set_visible(False)
    if many:
        _colour_bar(fig, ax, names)
    if ax.get_legend_handles_labels()[0]:  # the expiries' names, or the minimum tick's mark
        ax.legend(
            title=None if many else "expiry",
            frameon=False,
            fontsize=9,
            title_fontsize=9,
            loc="upper right",
        )
    ax.annotate(
        "out-of-the-money options: puts below the forward, calls above",
        xy=(0.0, -0.11),
        xycoords="axes fraction",
        fontsize=8,
        color="0.45",
    )
    return fig, len(expiries)


def _days(days: float) -> str:
    if days < 1.0 / 24.0:
        return f"{days * 1440:.0f} min"
    return f"{days * 24:.1f} h" if days < 1.0 else f"{days:.0f} d"


def _limits(ax: Axes, x: np.ndarray, y: np.ndarray) -> None:
    """Axes that show the bulk of the smiles: a few extreme points (a same-day
    expiry's far wing) may fall outside rather than flatten every curve."""
    if len(y) < 20:
        return
    lo, hi = np.percentile(x, [0.5, 99.5])
    pad = 0.03 * (hi - lo)
    ax.set_xlim(lo - pad, hi + pad)
    inside = (x >= lo) & (x <= hi)
    ax.set_ylim(0.0, 1.08 * np.percentile(y[inside], 99.5))


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
