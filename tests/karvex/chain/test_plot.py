"""The smile plot: what it keeps of the chain is bounded, and the same
however the chain is cut into chunks."""

import re
import sys
import warnings

import numpy as np
import pytest
from chain_support import chain, have, write_chain

import karvex._chain.driver
from karvex import bsm
from karvex._chain.compute import Result
from karvex._chain.plot import LEGEND_EXPIRIES, PlotData, at_minimum_tick, draw, robust_range
from karvex._chain.prices import Inputs
from karvex._chain.statuses import CODES


def many_expiries(rows, expiries, seed=7):
    """Inputs and results of `rows` options over `expiries` times to expiry
    in years (each its own label, as for an expiry column in years)."""
    rng = np.random.default_rng(seed)
    t = rng.choice(rng.uniform(0.01, 3.0, expiries), rows)
    forward = np.full(rows, 100.0)
    strike = forward * np.exp(rng.normal(0.0, 0.4, rows))
    flag = np.where(strike < forward, np.int8(-1), np.int8(1))
    iv = 0.2 + 0.1 * np.log(strike / forward) ** 2
    labels = np.array([f"T = {x:.4g} y" for x in t])
    return options(flag, forward, strike, t, labels), Result(iv, (), np.zeros(rows, np.int8), 0.0)


def options(flag, forward, strike, t, labels):
    zeros = np.zeros(len(t))
    names, rows = np.unique(labels, return_inverse=True)
    return Inputs(
        "bsm", flag, forward, strike, t, zeros, zeros, zeros + 1.0, forward, lambda: (names, rows)
    )


def piece(x, result, rows):
    part = options(x.flag[rows], x.forward[rows], x.strike[rows], x.t[rows], x.expiry_label[rows])
    return part, Result(result.iv[rows], (), result.status[rows], 0.0)


class TestPlotData:
    def test_kept_points_are_bounded_per_expiry_and_in_expiries(self):
        x, result = many_expiries(200_000, 2_000)
        data = PlotData()
        for start in range(0, 200_000, 50_000):
            data.add(*piece(x, result, slice(start, start + 50_000)))
        assert len(data.expiries) == PlotData.MAX_EXPIRIES and data.left_out
        most = 2 * (2 * PlotData.MAX_BIN + 1)
        arrays = data.arrays()
        _, per_expiry = np.unique(arrays["labels"], return_counts=True)
        assert per_expiry.max() <= most
        assert len(set(arrays["labels"].tolist())) == PlotData.MAX_CURVES
        assert len(arrays["iv"]) <= PlotData.MAX_CURVES * most

    def test_same_points_however_the_chain_is_cut(self):
        x, result = many_expiries(30_000, 400, seed=3)
        whole, cut = PlotData(), PlotData()
        whole.add(x, result)
        for start in range(0, 30_000, 777):
            cut.add(*piece(x, result, slice(start, start + 777)))
        a, b = whole.arrays(), cut.arrays()
        assert a.keys() == b.keys()
        for name in a:
            assert np.array_equal(a[name], b[name], equal_nan=name != "labels"), name

    def test_every_point_of_a_sparse_smile_is_kept(self):
        x, result = many_expiries(300, 5, seed=11)
        data = PlotData()
        data.add(x, result)
        arrays = data.arrays()
        with np.errstate(all="ignore"):
            bins = np.floor(np.log(x.strike / x.forward) / PlotData.BIN)
        distinct = set(zip(x.expiry_label.tolist(), bins.tolist(), x.flag.tolist()))
        assert len(arrays["iv"]) == len(distinct)


class TestPlot:
    @pytest.mark.skipif(not have("matplotlib"), reason="matplotlib not installed")
    def test_plot_writes_a_png(self, capsys, tmp_path):
        status, _, err = chain(capsys, "-o", tmp_path / "out.csv", "--plot", tmp_path / "smile.png")
        assert status == 0 and "(7 expiries)" in err
        assert (tmp_path / "smile.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"

    def test_without_matplotlib_the_run_stops_at_once_and_writes_nothing(
        self, capsys, tmp_path, monkeypatch
    ):
        monkeypatch.setitem(sys.modules, "matplotlib", None)  # as if not installed
        status, _, err = chain(capsys, "-o", tmp_path / "out.csv", "--plot", tmp_path / "smile.png")
        assert status == 1 and "--plot needs matplotlib" in err
        assert list(tmp_path.iterdir()) == []

    @pytest.mark.skipif(not have("matplotlib"), reason="matplotlib not installed")
    def test_expiries_in_years_draw_a_bounded_picture(self, capsys, tmp_path):
        rng = np.random.default_rng(5)
        t = rng.uniform(0.01, 2.0, 3_000)
        lines = ["type,strike,expiry,price,spot,rate"] + [
            f"C,{100 + i % 40},{x!r},5.0,100,0.03" for i, x in enumerate(t.tolist())
        ]
        source = write_chain(tmp_path, "\n".join(lines) + "\n")
        status, _, err = chain(
            capsys, source, "-o", tmp_path / "out.csv", "--plot", tmp_path / "smile.png"
        )
        assert status == 0 and re.search(r"\(30 of \d+\+ expiries drawn\)", err)


def smile_data(expiries, points=30, tick_wings=0):
    """Plot data of `expiries` expiries with `points` strikes each, the last
    `tick_wings` calls of each quoted at the minimum tick; the forward is
    the spot carried at 2 % a year."""
    rows = []
    for i in range(expiries):
        t = 0.02 * (i + 1)
        for j, m in enumerate(np.linspace(0.8, 1.2, points)):
            bid = 0.05 if j >= points - tick_wings else 1.0 + j
            rows.append(
                (
                    f"2025-{1 + i // 28:02d}-{1 + i % 28:02d}",
                    100.0 * m,
                    100.0,
                    t,
                    0.2 + 0.3 * (m - 1.0) ** 2,
                    m < 1.0,
                    bid,
                )
            )
    labels, strike, forward, t, iv, put, bid = map(np.array, zip(*rows))
    return {
        "labels": labels,
        "strike": strike,
        "forward": forward,
        "spot": forward * np.exp(-0.02 * t),
        "t": t,
        "iv": iv,
        "put": put,
        "bid": bid,
    }


@pytest.mark.skipif(not have("matplotlib"), reason="matplotlib not installed")
class TestSmilePicture:
    def test_many_expiries_get_distinct_ordered_colours_and_a_bar_naming_a_few(self):
        from matplotlib.colors import to_hex

        with warnings.catch_warnings():
            warnings.simplefilter("error")  # e.g. a legend with nothing to name
            fig, curves = draw(smile_data(20), "t")
        assert fig.axes[0].get_legend() is None
        assert curves == 20
        ax, bar = fig.axes[:2]
        colours = [
            to_hex(line.get_color()) for line in ax.get_lines() if line.get_linestyle() == "-"
        ][:20]
        assert len(set(colours)) == 20
        names = [label.get_text() for label in bar.get_yticklabels()]
        assert 2 <= len(names) <= LEGEND_EXPIRIES and names[0].startswith("2025-01-01")

    def test_few_expiries_are_named_in_a_legend_off_the_axes(self):
        fig, curves = draw(smile_data(4), "t")
        legend = fig.axes[0].get_legend()
        assert len(legend.get_texts()) == 4
        fig.canvas.draw()  # lay it out
        inside = fig.axes[0].get_window_extent()
        assert legend.get_window_extent().x0 >= inside.x1

    def test_quotes_at_the_minimum_tick_are_off_the_curves(self):
        data = smile_data(3, tick_wings=4)
        assert at_minimum_tick(data["bid"]).sum() == 12
        fig, _ = draw(data, "t", "kf")
        curves = [line for line in fig.axes[0].get_lines() if line.get_linestyle() == "-"]
        assert all(max(line.get_xdata()) < data["strike"][-4] / 100.0 for line in curves)

    @pytest.mark.parametrize(
        "axis, x",
        [
            ("std", [-0.2, 0.0, 0.2]),  # ln(K/F) / sqrt(0.25)
            ("logm", [-0.1, 0.0, 0.1]),
            ("kf", np.exp([-0.1, 0.0, 0.1])),
            ("strike", 200.0 * np.exp([-0.1, 0.0, 0.1])),
        ],
    )
    def test_x_axis_choices_place_known_strikes(self, axis, x):
        data = smile_data(1, points=3)
        data["forward"][:] = 200.0
        data["strike"] = 200.0 * np.exp([-0.1, 0.0, 0.1])
        data["t"][:] = 0.25
        fig, _ = draw(data, "t", axis)
        (curve,) = [line for line in fig.axes[0].get_lines() if line.get_linestyle() == "-"]
        assert np.allclose(curve.get_xdata(), x, rtol=1e-12, atol=1e-15)

    def test_y_axis_fits_the_smiles_not_an_absurd_volatility_nor_zero(self):
        data = smile_data(3)
        data["iv"][40] = 40.0  # 4000 %: a stale quote
        fig, _ = draw(data, "t")
        low, high = fig.axes[0].get_ylim()
        rest = 100.0 * np.delete(data["iv"], 40)
        assert 15.0 < low <= rest.min() and rest.max() <= high < 40.0
        # A smooth wing, however steep, stays on the scale.
        wing = np.array([10, 11, 12, 13, 14, 15, 17, 20, 25, 33, 45, 60.0])
        assert robust_range(wing)[1] >= 60.0 and robust_range(np.append(wing, 900))[1] < 100

    @pytest.mark.parametrize("spot", [True, False])
    def test_panels_below_show_the_at_the_money_volatility_and_the_carry(self, spot):
        data = smile_data(4)
        if not spot:
            data["spot"][:] = np.nan
        fig, _ = draw(data, "t")
        smile, atm, right = fig.axes
        assert atm.get_title() == "at-the-money volatility"
        (marks,) = atm.collections  # one mark per expiry
        assert np.allclose(marks.get_offsets()[:, 1], 20.0, atol=0.01)  # iv 0.2 + 0.3 (K/F - 1)^2
        values = right.collections[0].get_offsets()[:, 1]
        if spot:
            assert right.get_title().startswith("implied carry")
            assert np.allclose(values, 2.0)  # % a year
        else:
            assert right.get_title() == "forward to each expiry" and np.allclose(values, 100.0)
        assert len(values) == 4

    def test_bid_ask_options_reach_the_picture_with_the_volatilities_of_each_side(
        self, capsys, tmp_path, monkeypatch
    ):
        drawn = {}

        def smile(data, out, title, axis):
            drawn.update(data, axis=axis)
            return 1

        monkeypatch.setattr(karvex._chain.driver, "smile", smile)
        lines = ["type,strike,expiry,bid,ask,spot,rate,dividend"] + [
            f"{cp},{k},0.5,{bid},{bid + 0.4},100,0.03,0.01"
            for cp, k, bid in [("P", 90, 1.1), ("P", 95, 2.4), ("C", 100, 5.8), ("C", 105, 3.4)]
        ]
        source = write_chain(tmp_path, "\n".join(lines) + "\n")
        argv = ["-o", tmp_path / "out.csv", "--plot", tmp_path / "s.png", "--plot-x", "logm"]
        status, _, _ = chain(capsys, source, *argv, "--plot-bidask")
        assert status == 0 and drawn["axis"] == "logm"
        flag = np.where(drawn["put"], "p", "c")
        args = (100.0, drawn["strike"], 0.5, 0.03, 0.01)
        assert np.array_equal(drawn["iv_bid"], bsm.iv(drawn["bid"], flag, *args))
        assert np.allclose(drawn["iv_ask"], bsm.iv(drawn["bid"] + 0.4, flag, *args), rtol=1e-12)
        assert (drawn["iv_bid"] < drawn["iv"]).all() and (drawn["iv"] < drawn["iv_ask"]).all()
        with pytest.raises(SystemExit, match="2"):
            chain(capsys, "--plot-x", "delta")  # not a choice

    def test_only_inverted_rows_are_kept_for_the_picture(self):
        x = Inputs(
            "bsm",
            np.array([1, 1, -1, 1], np.int8),
            np.full(4, 100.0),
            np.full(4, 100.0),
            np.full(4, 0.5),
            np.zeros(4),
            np.zeros(4),
            np.full(4, 5.0),
            np.full(4, 100.0),
            lambda: (np.array(["a"]), np.zeros(4, np.intp)),
            bid=np.array([1.0, 0.0, 2.0, 3.0]),
        )
        status = np.array(
            [CODES["ok"], CODES["no_bid"], CODES["below_intrinsic"], CODES["near_intrinsic"]]
        )
        iv = np.array([0.2, np.nan, np.nan, 0.0])
        data = PlotData()
        data.add(x, Result(iv, (iv,) * 5, status, 0.0))
        assert data.arrays()["iv"].tolist() == [0.2] and data.arrays()["bid"].tolist() == [1.0]
