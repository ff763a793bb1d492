"""The smile plot."""

import numpy as np
import pytest

from chain_support import chain, have
from karvex._chain.compute import Result
from karvex._chain.plot import LEGEND_EXPIRIES, PlotData, at_minimum_tick, draw
from karvex._chain.prices import Inputs
from karvex._chain.statuses import CODES


class TestPlot:
    @pytest.mark.skipif(not have("matplotlib"), reason="matplotlib not installed")
    def test_plot_writes_a_png(self, capsys, tmp_path):
        status, _, err = chain(capsys, "-o", tmp_path / "out.csv", "--plot", tmp_path / "smile.png")
        assert status == 0 and "(7 expiries)" in err
        assert (tmp_path / "smile.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def smile_data(expiries, points=30, tick_wings=0):
    """Plot data of `expiries` expiries with `points` strikes each, the last
    `tick_wings` calls of each quoted at the minimum tick."""
    rows = []
    for i in range(expiries):
        t = 0.02 * (i + 1)
        for j, m in enumerate(np.linspace(0.8, 1.2, points)):
            bid = 0.05 if j >= points - tick_wings else 1.0 + j
            rows.append((f"2025-{1 + i // 28:02d}-{1 + i % 28:02d}", 100.0 * m, 100.0, t,
                         0.2 + 0.3 * (m - 1.0) ** 2, m < 1.0, bid))
    labels, strike, forward, t, iv, put, bid = map(np.array, zip(*rows))
    return {"labels": labels, "strike": strike, "forward": forward, "t": t, "iv": iv, "put": put, "bid": bid}


@pytest.mark.skipif(not have("matplotlib"), reason="matplotlib not installed")
class TestSmilePicture:
    def test_many_expiries_get_distinct_ordered_colours_and_a_bar_naming_a_few(self):
        from matplotlib.colors import to_hex

        fig, curves = draw(smile_data(20), "t")
        assert curves == 20
        ax, bar = fig.axes
        colours = [to_hex(line.get_color()) for line in ax.get_lines() if line.get_linestyle() == "-"][:20]
        assert len(set(colours)) == 20
        names = [label.get_text() for label in bar.get_yticklabels()]
        assert 2 <= len(names) <= LEGEND_EXPIRIES and names[0].startswith("2025-01-01")

    def test_few_expiries_are_named_in_a_legend(self):
        fig, curves = draw(smile_data(4), "t")
        assert len(fig.axes) == 1
        assert len(fig.axes[0].get_legend().get_texts()) == 4

    def test_quotes_at_the_minimum_tick_are_off_the_curves(self):
        data = smile_data(3, tick_wings=4)
        assert at_minimum_tick(data["bid"]).sum() == 12
        fig, _ = draw(data, "t")
        curves = [line for line in fig.axes[0].get_lines() if line.get_linestyle() == "-"]
        assert all(max(line.get_xdata()) < data["strike"][-4] / 100.0 for line in curves)

    def test_only_inverted_rows_are_kept_for_the_picture(self):
        x = Inputs("bsm", np.array([1, 1, -1, 1], np.int8), np.full(4, 100.0), np.full(4, 100.0),
                   np.full(4, 0.5), np.zeros(4), np.zeros(4), np.full(4, 5.0), np.full(4, 100.0),
                   lambda: np.array(["a"] * 4), bid=np.array([1.0, 0.0, 2.0, 3.0]))
        status = np.array([CODES["ok"], CODES["no_bid"], CODES["below_intrinsic"], CODES["near_intrinsic"]])
        iv = np.array([0.2, np.nan, np.nan, 0.0])
        data = PlotData()
        data.add(x, Result(iv, (iv,) * 5, status, 0.0))
        assert data.arrays()["iv"].tolist() == [0.2] and data.arrays()["bid"].tolist() == [1.0]
