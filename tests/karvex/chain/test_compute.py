"""The computation's own rules: quotes a little below intrinsic value under
--intrinsic-tolerance."""

import os

import numpy as np
import pytest
from chain_support import chain, read_rows, write_chain

from karvex import black76, bsm


@pytest.mark.parametrize("model", ["bsm", "black76"])
def test_quotes_within_the_tolerance_below_intrinsic_give_iv_zero_with_their_own_status(
    capsys, tmp_path, model
):
    s, t, r = 100.0, 0.25, 0.05
    # A deep in-the-money call: its discounted intrinsic value on a spot or a forward.
    intrinsic = (
        float(s - 60.0 * np.exp(-r * t)) if model == "bsm" else float((s - 60.0) * np.exp(-r * t))
    )
    rows = [("C", 60, intrinsic - 0.01), ("C", 60, intrinsic - 0.03), ("C", 100, 4.0)]
    text = "type,strike,expiry,price,spot,forward\n" + "".join(
        f"{k},{K},{t},{p!r},{s},{s}\n" for k, K, p in rows
    )
    source = write_chain(tmp_path, text)
    kernels = bsm if model == "bsm" else black76
    args = (s, 60.0, t, r, 0.0) if model == "bsm" else (s, 60.0, t, r)

    status, _, err = chain(
        capsys, source, "--model", model, "--rate", r, "-o", tmp_path / "plain.csv"
    )
    assert [row["status"] for row in read_rows(tmp_path / "plain.csv")][:2] == [
        "below_intrinsic"
    ] * 2

    status, _, err = chain(
        capsys,
        source,
        "--model",
        model,
        "--rate",
        r,
        "--intrinsic-tolerance",
        "0.02",
        "-o",
        tmp_path / "out.csv",
    )
    assert status == 0
    out = read_rows(tmp_path / "out.csv")
    assert [row["status"] for row in out] == ["near_intrinsic", "below_intrinsic", "ok"]
    assert float(out[0]["iv"]) == 0.0 and out[1]["iv"] == ""
    # The Greeks of a volatility of zero, as the core gives them.
    assert float(out[0]["delta"]) == kernels.delta("C", *args, 0.0)
    assert float(out[2]["iv"]) == kernels.iv(4.0, "C", s, 100.0, *args[2:])  # the others untouched
    assert "(of which 1 within --intrinsic-tolerance below intrinsic value: iv 0)" in err


@pytest.mark.parametrize("value", ["-0.01", "nan", "inf", "x"])
def test_tolerance_must_be_a_finite_price_of_zero_or_more(capsys, value):
    with pytest.raises(SystemExit) as exit:
        chain(capsys, "--intrinsic-tolerance", value)
    assert exit.value.code == 2 and "--intrinsic-tolerance" in capsys.readouterr().err


# --- --units: the Greeks in desk units. ---

SHAPES = os.path.join(os.path.dirname(__file__), "..", "..", "data", "shapes")
VENDOR = os.path.join(os.path.dirname(__file__), "..", "..", "data", "vendor_chain.csv")
UNIT_RUNS = {  # a long chain, a wide chain, Black-76, parity's spot Greeks
    "example": [],
    "wide": [os.path.join(SHAPES, "wide.csv"), "--rate", "0.043", "--dividend", "0.012"],
    "black76": ["--model", "black76"],
    "parity": [VENDOR, "--rate", "0.045", "--forward", "parity"],
}
DESK = {"vega_per_pt": "vega", "rho_per_pct": "rho"}


def _columns(capsys, tmp_path, argv, units):
    out = tmp_path / f"{units}.csv"
    status, _, err = chain(capsys, *argv, "--units", units, "-q", "-o", out)
    assert status == 0, err
    rows = read_rows(out)
    return {name: _numbers([r[name] for r in rows]) for name in rows[0]}, rows


def _numbers(cells):
    try:
        return np.array([float(c or "nan") for c in cells])
    except ValueError:
        return np.array(cells)


@pytest.mark.parametrize("run", UNIT_RUNS)
def test_desk_columns_are_the_raw_greeks_times_the_array_apis_factors(capsys, tmp_path, run):
    raw, raw_rows = _columns(capsys, tmp_path, UNIT_RUNS[run], "raw")
    for units, theta, per in (
        ("desk", "theta_per_day", 365.0),
        ("desk252", "theta_per_252d", 252.0),
    ):
        desk, rows = _columns(capsys, tmp_path, UNIT_RUNS[run], units)
        prefixes = ["call_", "put_"] if run == "wide" else [""]
        for p in prefixes:
            assert {p + "vega", p + "theta", p + "rho"}.isdisjoint(desk)
            pairs = {**DESK, theta: "theta", "delta": "delta", "gamma": "gamma", "iv": "iv"}
            for name, raw_name in pairs.items():
                factor = {"vega": 0.01, "rho": 0.01, "theta": 1.0 / per}.get(raw_name)
                want = raw[p + raw_name] if factor is None else raw[p + raw_name] * factor
                np.testing.assert_array_equal(desk[p + name], want, strict=True)
            s = raw["spot" if "spot" in raw else "underlying_price"]
            if run == "black76":
                s = raw["forward"]
            np.testing.assert_array_equal(desk[p + "gamma_pct"], raw[p + "gamma"] * (s * 0.01))
        assert [r["status"] for r in rows if "status" in r] == [
            r["status"] for r in raw_rows if "status" in r
        ]


def test_desk_greeks_are_the_array_apis_in_desk_units(capsys, tmp_path):
    desk, rows = _columns(capsys, tmp_path, ["--audit"], "desk")
    ok = ~np.isnan(desk["iv"])
    flag = np.array([r["type"].lower() for r in rows])[ok]
    args = [desk[n][ok] for n in ("spot", "strike", "t_years", "rate", "dividend", "iv")]
    greeks = bsm.greeks(flag, *args, units="desk")
    pct = bsm.gamma(*args, units="desk", gamma_move="pct")
    for name, value in zip(
        ("delta", "gamma", "vega_per_pt", "theta_per_day", "rho_per_pct"), greeks
    ):
        np.testing.assert_array_equal(desk[name][ok], value)
    np.testing.assert_array_equal(desk["gamma_pct"][ok], pct)


@pytest.mark.parametrize("model", ["bsm", "black76"])
def test_second_order_columns_follow_the_greeks_with_the_array_apis_values(capsys, tmp_path, model):
    s, t, r = 100.0, 0.25, 0.05
    rows = [("C", 95, 7.5), ("P", 105, 7.0), ("C", 100, 0.0)]  # the last has no volatility
    text = "type,strike,expiry,price,spot,forward\n" + "".join(
        f"{k},{K},{t},{p!r},{s},{s}\n" for k, K, p in rows
    )
    source = write_chain(tmp_path, text)
    status, _, _ = chain(
        capsys, source, "--model", model, "--rate", r, "--second-order", "-o", tmp_path / "o.csv"
    )
    assert status == 0
    out = read_rows(tmp_path / "o.csv")
    kernels = bsm if model == "bsm" else black76
    names = list(
        kernels.second_order("c", s, 100.0, t, r, *([0.0] if model == "bsm" else []), 0.2)._fields
    )
    header = list(out[0])
    assert header[header.index("rho") + 1 : header.index("status")] == names
    for (kind, strike, _), row in zip(rows, out):
        if row["iv"] == "":
            assert all(row[n] == "" for n in names)
            continue
        rates = (r, 0.0) if model == "bsm" else (r,)
        want = kernels.second_order(kind, s, float(strike), t, *rates, float(row["iv"]))
        assert [float(row[n]) for n in names] == list(want)


def test_second_order_is_refused_with_parity_forwards(capsys, tmp_path):
    source = write_chain(tmp_path, "type,strike,expiry,price,spot\nC,100,0.25,4.0,100\n")
    status, _, err = chain(capsys, source, "--forward", "parity", "--second-order")
    assert status == 1 and "--second-order" in err
