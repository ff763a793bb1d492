"""Plot: what the smile picture needs of each chunk, and the picture, one
curve of implied volatility per expiry (matplotlib)."""

from __future__ import annotations

import dataclasses

import numpy as np

from .compute import Result
from .prices import Inputs
from .statuses import CODES, STATUS_OK


class PlotUnavailable(Exception):
    pass


def require_matplotlib():
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise PlotUnavailable(
            "--plot needs matplotlib: pip install 'karvex[plot]'"
        ) from None


@dataclasses.dataclass
class PlotData:
    """The rows the picture draws: those inverted with a volatility above
    zero (status ok); rows with no bid, below intrinsic value or otherwise
    faulty are left out."""

    labels: list = dataclasses.field(default_factory=list)
    strike: list = dataclasses.field(default_factory=list)
    forward: list = dataclasses.field(default_factory=list)
    t: list = dataclasses.field(default_factory=list)
    iv: list = dataclasses.field(default_factory=list)
    put: list = dataclasses.field(default_factory=list)
    bid: list = dataclasses.field(default_factory=list)  # NaN where the price is not a mid

    def add(self, inputs: Inputs, result: Result):
        keep = (result.status == CODES[STATUS_OK]) & (result.iv > 0)
        self.labels.append(inputs.expiry_label[keep])
        self.strike.append(inputs.strike[keep])
        self.forward.append(inputs.forward[keep])
        self.t.append(inputs.t[keep])
        self.iv.append(result.iv[keep])
        self.put.append(inputs.flag[keep] < 0)
        self.bid.append(inputs.bid[keep] if inputs.bid is not None else np.full(int(keep.sum()), np.nan))

    def arrays(self) -> dict:
        return {
            f.name: (np.concatenate(getattr(self, f.name)) if getattr(self, f.name) else np.array([]))
            for f in dataclasses.fields(self)
        }


LEGEND_EXPIRIES = 8  # more expiries than this get a colour bar with some of them named


def at_minimum_tick(bid: np.ndarray) -> np.ndarray:
    """Quotes of the far wings, bid at the minimum tick, where the price says
    little about the volatility: those at the smallest bid of the chain, when
    that bid is tiny (under 1 %) beside the chain's median bid."""
    quoted = bid[np.isfinite(bid) & (bid > 0)]
    if len(quoted) == 0 or quoted.min() > 0.01 * np.median(quoted):
        return np.zeros(len(bid), dtype=bool)
    return bid <= quoted.min()


def smile(data: dict, out, title: str) -> int:
    """Draw the smile picture (see `draw`) as a PNG into the binary stream
    `out`; returns the curve count."""
    fig, curves = draw(data, title)
    fig.savefig(out, format="png")
    return curves


def draw(data: dict, title: str):
    """Draw the smile of out-of-the-money options (puts below the forward,
    calls at and above it) against moneyness K/F, one curve per expiry
    coloured from near (dark) to far (light); quotes at the minimum tick
    are drawn as open circles off the curves.  Returns the figure and the
    curve count."""
    from matplotlib.figure import Figure

    labels = data["labels"].astype(str)
    moneyness = data["strike"] / data["forward"]
    otm = np.where(data["put"], moneyness < 1.0, moneyness >= 1.0)
    tick = at_minimum_tick(data["bid"])
    expiries = sorted(set(labels[otm].tolist()), key=lambda e: float(np.min(data["t"][labels == e])))

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
        ax.plot(x, y, "-", color=colour, linewidth=1.4 if many else 1.6, alpha=0.9,
                label=None if many else name)
        ax.plot(x, y, "o", color=colour, markersize=2.6 if many else 3.2)
        wing = sel & tick
        if wing.any():
            ax.plot(moneyness[wing], 100.0 * data["iv"][wing], "o", markerfacecolor="none",
                    markeredgecolor=colour, markersize=4, alpha=0.7)
    if tick[otm].any():
        ax.plot([], [], "o", markerfacecolor="none", markeredgecolor="0.4", markersize=4,
                label=f"bid at the minimum tick ({float(data['bid'][tick].min()):g}): not on the curves")
    ax.axvline(1.0, color="0.55", linewidth=0.8, linestyle="--")
    ax.text(1.0, 1.0, " forward", transform=ax.get_xaxis_transform(), va="top", ha="left",
            fontsize=9, color="0.4")
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
    if expiries:
        ax.legend(title=None if many else "expiry", frameon=False, fontsize=9, title_fontsize=9,
                  loc="upper right")
    ax.annotate("out-of-the-money options: puts below the forward, calls above",
                xy=(0.0, -0.11), xycoords="axes fraction", fontsize=8, color="0.45")
    return fig, len(expiries)


def _days(days: float) -> str:
    if days < 1.0 / 24.0:
        return f"{days * 1440:.0f} min"
    return f"{days * 24:.1f} h" if days < 1.0 else f"{days:.0f} d"


def _limits(ax, x: np.ndarray, y: np.ndarray):
    """Axes that show the bulk of the smiles: a few extreme points (a same-day
    expiry's far wing) may fall outside rather than flatten every curve."""
    if len(y) < 20:
        return
    lo, hi = np.percentile(x, [0.5, 99.5])
    pad = 0.03 * (hi - lo)
    ax.set_xlim(lo - pad, hi + pad)
    inside = (x >= lo) & (x <= hi)
    ax.set_ylim(0.0, 1.08 * np.percentile(y[inside], 99.5))


def _colour_bar(fig, ax, names: list[str]):
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


def _colours(n: int):
    from matplotlib import colormaps

    cmap = colormaps["viridis"]
    return [cmap(0.9 * i / max(n - 1, 1)) for i in range(n)]
