"""Prices from quotes: bid/ask mids and the statuses of faulty quotes, a
price column named by --price-column, and rates and yields from curves."""

import numpy as np
import pytest
from chain_support import ENGINES, EXAMPLE, chain, read_rows, write_chain

from karvex import Curve, bsm

HEADER = "option_type,strike,expiration,quote_date,bid,ask,last,underlying_price\n"


def quotes_chain(tmp_path, rows):
    text = HEADER + "".join(
        f"{kind},{k},2025-06-20,2025-03-14,{bid},{ask},{last},100.0\n"
        for kind, k, bid, ask, last in rows
    )
    return write_chain(tmp_path, text)


ROWS = [
    ("C", 100, "4.10", "4.30", "4.25"),  # a good quote: its mid
    ("P", 100, "3.20", "3.40", "3.35"),
    ("C", 140, "0", "0.05", ""),  # no bid
    ("P", 90, "1.10", "1.00", "1.05"),  # crossed
    ("C", 105, "2.00", "", "2.10"),  # the ask missing
    ("P", 105, "", "6.10", "6.00"),  # the bid missing
]


@pytest.mark.parametrize("engine", ENGINES)
def test_mid_of_bid_and_ask_and_a_status_for_each_faulty_quote(capsys, tmp_path, engine):
    source = quotes_chain(tmp_path, ROWS)
    status, _, err = chain(
        capsys, source, "--rate", "0.04", "--engine", engine, "-o", tmp_path / "out.csv"
    )
    assert status == 0, err
    rows = read_rows(tmp_path / "out.csv")
    assert [r["status"] for r in rows] == [
        "ok",
        "ok",
        "no_bid",
        "crossed_quote",
        "missing_quote",
        "missing_quote",
    ]
    t = (np.datetime64("2025-06-20") - np.datetime64("2025-03-14")).astype(float) / 365.0
    want = bsm.iv(
        [0.5 * (4.10 + 4.30), 0.5 * (3.20 + 3.40)], ["C", "P"], 100.0, 100.0, t, 0.04, 0.0
    )
    assert [float(r["iv"]) for r in rows[:2]] == want.tolist()
    assert all(r["iv"] == "" and r["delta"] == "" for r in rows[2:])  # no made-up volatility
    assert "no bid 1, crossed quote 1, missing bid or ask 2" in err


def test_price_column_named_explicitly_wins_over_the_quotes(capsys, tmp_path):
    source = quotes_chain(tmp_path, ROWS)
    status, _, err = chain(
        capsys, source, "--rate", "0.04", "--price-column", "LAST", "-o", tmp_path / "out.csv"
    )
    assert status == 0, err
    rows = read_rows(tmp_path / "out.csv")
    t = (np.datetime64("2025-06-20") - np.datetime64("2025-03-14")).astype(float) / 365.0
    want = bsm.iv(4.25, "C", 100.0, 100.0, t, 0.04, 0.0)
    assert float(rows[0]["iv"]) == want
    assert [r["status"] for r in rows][
        2
    ] == "invalid_input"  # an empty last: no price, no quote status
    status, _, err = chain(capsys, source, "--rate", "0.04", "--price-column", "mark")
    assert status == 1 and "missing column 'mark' (--price-column)" in err


def test_last_is_never_taken_as_the_price_unless_named(capsys, tmp_path):
    text = "type,strike,expiry,last,spot\nC,100,0.5,4.2,100\n"
    status, _, err = chain(capsys, write_chain(tmp_path, text), "--rate", "0.04")
    assert (
        status == 1 and "missing column 'price' (or 'bid' and 'ask', or --price-column NAME)" in err
    )


def test_rates_in_percent_refused_unless_stated_then_converted_exactly(capsys, tmp_path):
    """A whole column (or --rate) in percent stops the run naming the option;
    with --rate-unit percent the output is that of the decimals, bit for bit."""
    status, _, err = chain(capsys, "--rate", "4.3", "-o", tmp_path / "a.csv")
    assert status == 1 and "--rate-unit percent" in err and not (tmp_path / "a.csv").exists()
    runs = [("--rate", "4.3", "--rate-unit", "percent"), ("--rate", "0.043")]
    for name, options in zip("bc", runs):
        assert chain(capsys, *options, "-o", tmp_path / f"{name}.csv")[0] == 0
    assert (tmp_path / "b.csv").read_bytes() == (tmp_path / "c.csv").read_bytes()


# --- --rate-curve, --dividend-curve. ---

RATES = "1w=0.041,1m=0.043,3m=4.4%,1y=0.045,2y=0.041"
YIELDS = "1m=0.011,1y=0.014"


def _without_rates(tmp_path, rates=None, yields=None):
    """The example chain with its rate and dividend columns replaced by
    the given values of each row (or by columns no alias names)."""
    rows = [line.split(",") for line in EXAMPLE.splitlines()]
    rows[0][8:10] = ["r_given", "q_given"] if rates is None else ["rate", "dividend"]
    for i, row in enumerate(rows[1:]):
        if rates is not None:
            row[8:10] = [repr(float(rates[i])), repr(float(yields[i]))]
    return write_chain(tmp_path, "\n".join(",".join(r) for r in rows) + "\n", "rates.csv")


def test_a_curve_run_equals_a_run_with_each_rows_zero_rate_in_its_columns(capsys, tmp_path):
    curve_file = tmp_path / "curve.csv"
    curve_file.write_text("tenor,rate\n" + "\n".join(p.replace("=", ",") for p in RATES.split(",")))
    out = tmp_path / "curve_out.csv"
    argv = ["--rate-curve", curve_file, "--dividend-curve", YIELDS, "--audit", "-o", out]
    status, _, err = chain(capsys, _without_rates(tmp_path), *argv)
    assert status == 0, err
    t = np.array([float(r["t_years"]) for r in read_rows(out)])
    rates, yields = Curve.parse(RATES).zero_rate(t), Curve.parse(YIELDS).zero_rate(t)
    assert rates.min() < 0.0415 and yields.max() > 0.0135  # the curves do vary
    reference = tmp_path / "column_out.csv"
    status, _, why = chain(
        capsys, _without_rates(tmp_path, rates, yields), "--audit", "-o", reference
    )
    assert status == 0, why
    computed = ["iv", "delta", "gamma", "vega", "theta", "rho", "forward_used", "status"]
    for got, want in zip(read_rows(out), read_rows(reference)):
        assert [got[c] for c in computed] == [want[c] for c in computed]
    assert f"rate curve:   {Curve.parse(RATES).pairs()} (flat forward)" in err
    assert "yield curve:  1m=0.011,1y=0.014 (flat forward)" in err
    first = f"rates used:   2025-03-21  r {rates[0]:.4%}, q {yields[0]:.4%}"
    assert first in err and err.count("r 4.") + err.count("r 5.") == len(set(t.tolist()))


@pytest.mark.parametrize(
    "options,message",
    [
        (["--rate-curve", "1m=0.04"], "--rate-curve: the file has a rate column ('rate')"),
        (["{plain}", "--rate-curve", "1m=0.04", "--rate", "0.04"], "--rate-curve and --rate"),
        (["{plain}", "--rate-curve", "1m=x"], "not a tenor=rate pair"),
        (["{plain}", "--rate-curve", "{plain}x"], "No such file or directory"),
        (["{plain}", "--rate-curve", "1m=0.04,1w=0.03"], "--rate-curve 1m=0.04,1w=0.03: "),
        (
            ["{plain}", "--rate-curve", "1m=4.0", "--rate-unit", "percent"],
            "--rate-curve and --rate-unit: a curve states its own unit",
        ),
        (
            ["{plain}", "--rate-curve", "1m=0.04", "--dividend-curve", "1m=1"]
            + ["--dividend-unit", "percent"],
            "--dividend-curve and --dividend-unit",
        ),
        (
            [
                "{plain}",
                "--rate-curve",
                "1m=0.04",
                "--dividend-curve",
                "1m=0.01",
                "--model",
                "black76",
            ],
            "--dividend-curve: Black-76 has no dividend yield",
        ),
    ],
)
def test_curve_mistakes_are_one_line_errors(capsys, tmp_path, options, message):
    plain = _without_rates(tmp_path)
    status, out, err = chain(
        capsys, *(o.format(plain=plain) for o in options), "-o", tmp_path / "o"
    )
    assert status == 1 and out == ""
    assert err.startswith("karvex: error: ") and message in err and err.count("\n") == 1
