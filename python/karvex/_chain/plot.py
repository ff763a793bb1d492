"""Plot: what the smile picture needs of each chunk, and the picture, one
curve of implied volatility per expiry (matplotlib)."""

from __future__ import annotations

import dataclasses

import numpy as np

from .compute import Result
from .files import atomic_file
from .prices import Inputs


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
    """The rows the picture draws: those with a volatility above zero."""

    labels: list = dataclasses.field(default_factory=list)
    strike: list = dataclasses.field(default_factory=list)
    forward: list = dataclasses.field(default_factory=list)
    t: list = dataclasses.field(default_factory=list)
    iv: list = dataclasses.field(default_factory=list)
    put: list = dataclasses.field(default_factory=list)

    def add(self, inputs: Inputs, result: Result):
        keep = np.isfinite(result.iv) & (result.iv > 0)
        self.labels.append(inputs.expiry_label[keep])
        self.strike.append(inputs.strike[keep])
        self.forward.append(inputs.forward[keep])
        self.t.append(inputs.t[keep])
        self.iv.append(result.iv[keep])
        self.put.append(inputs.flag[keep] < 0)

    def arrays(self) -> dict:
        return {
            f.name: (np.concatenate(getattr(self, f.name)) if getattr(self, f.name) else np.array([]))
            for f in dataclasses.fields(self)
        }


def smile(data: dict, path: str, title: str) -> int:
    """Draw the smile of out-of-the-money options (puts below the forward,
    calls at and above it) against moneyness K/F; returns the curve count."""
    from matplotlib.figure import Figure

    labels = data["labels"].astype(str)
    moneyness = data["strike"] / data["forward"]
    otm = np.where(data["put"], moneyness < 1.0, moneyness >= 1.0)
    expiries = sorted(set(labels[otm].tolist()), key=lambda e: float(np.min(data["t"][labels == e])))

    fig = Figure(figsize=(10, 6.2), dpi=120, layout="constrained")
    ax = fig.add_subplot()
    colours = _colours(len(expiries))
    for colour, expiry in zip(colours, expiries):
        sel = otm & (labels == expiry)
        order = np.argsort(moneyness[sel])
        x = moneyness[sel][order]
        y = 100.0 * data["iv"][sel][order]
        days = float(np.median(data["t"][sel])) * 365.0
        ax.plot(x, y, "-", color=colour, linewidth=1.6, alpha=0.9,
                label=f"{expiry}  ({days:.0f} d)" if "T =" not in expiry else expiry)
        ax.plot(x, y, "o", color=colour, markersize=3.2)
    ax.axvline(1.0, color="0.55", linewidth=0.8, linestyle="--")
    ax.text(1.0, 1.0, " forward", transform=ax.get_xaxis_transform(), va="top", ha="left",
            fontsize=9, color="0.4")
    ax.set_xlabel("moneyness K / F (strike over the forward to each expiry)")
    ax.set_ylabel("implied volatility (%)")
    ax.set_title(title, fontsize=12)
    ax.grid(True, color="0.9", linewidth=0.8)
    ax.set_axisbelow(True)
    for side in ("top", "right"):
        ax.spines[side].set_visible(False)
    if expiries:
        ax.legend(title="expiry", frameon=False, fontsize=9, title_fontsize=9,
                  loc="upper right", ncol=1 if len(expiries) <= 10 else 2)
    ax.annotate("out-of-the-money options: puts below the forward, calls above",
                xy=(0.0, -0.11), xycoords="axes fraction", fontsize=8, color="0.45")
    _save(fig, path)
    return len(expiries)


def _colours(n: int):
    from matplotlib import colormaps

    cmap = colormaps["viridis"]
    return [cmap(0.9 * i / max(n - 1, 1)) for i in range(n)]


def _save(fig, path: str):
    with atomic_file(path, binary=True) as out:
        fig.savefig(out, format="png")
