"""--exercise american: the American kernels' volatilities and Greeks with their own statuses,
in the mode --american-mode names, and the settings it refuses (parity forwards, Black-76, a
yield left unsaid, a mode without American exercise)."""

import pytest
from chain_support import chain, read_rows, write_chain

from karvex import american


def rows_of(tmp_path, rows, s=100.0, t=0.5, r=0.05, q=0.01):
    text = "type,strike,expiry,price,spot,rate,dividend\n" + "".join(
        f"{kind},{k},{t},{p!r},{s},{r},{q}\n" for kind, k, p in rows
    )
    return write_chain(tmp_path, text)


def test_volatilities_invert_american_prices_with_american_statuses(capsys, tmp_path):
    s, t, r, q = 100.0, 0.5, 0.05, 0.01
    deep_put = american.price("p", s, 130, t, r, q, 0.3)
    rows = [
        ("P", 130, deep_put),  # in the money, where early exercise matters most
        ("C", 110, american.price("c", s, 110, t, r, q, 0.25)),
        ("P", 120, 20.0),  # at the intrinsic value: iv 0
        ("P", 120, 19.0),  # below it
        ("P", 90, 95.0),  # above the bound k
    ]
    out = tmp_path / "out.csv"
    status, _, err = chain(capsys, rows_of(tmp_path, rows), "--exercise", "american", "-o", out)
    assert status == 0, err
    got = read_rows(out)
    assert float(got[0]["iv"]) == pytest.approx(0.3, abs=1e-8)
    assert float(got[1]["iv"]) == pytest.approx(0.25, abs=1e-8)
    assert [row["status"] for row in got] == [
        "ok",
        "ok",
        "intrinsic",
        "below_intrinsic",
        "above_upper_bound",
    ]
    greeks = american.greeks("p", s, 130, t, r, q, float(got[0]["iv"]))
    assert float(got[0]["delta"]) == greeks.delta
    assert "American exercise (accurate mode)" in err


@pytest.mark.parametrize("mode", ["fast", "precise"])
def test_the_mode_named_is_the_one_inverted(capsys, tmp_path, mode):
    s, t, r, q = 100.0, 0.5, 0.05, 0.01
    price = american.price("p", s, 130, t, r, q, 0.3, mode=mode)
    out = tmp_path / "out.csv"
    argv = ("--exercise", "american", "--american-mode", mode, "-o", out)
    status, _, err = chain(capsys, rows_of(tmp_path, [("P", 130, price)]), *argv)
    assert status == 0, err
    row = read_rows(out)[0]
    assert float(row["iv"]) == american.iv(price, "p", s, 130, t, r, q, mode=mode)
    assert (
        float(row["rho"]) == american.greeks("p", s, 130, t, r, q, float(row["iv"]), mode=mode).rho
    )
    assert f"American exercise ({mode} mode)" in err


def test_two_boundaries_have_their_own_status(capsys, tmp_path):
    source = rows_of(tmp_path, [("P", 110, 12.0)], r=-0.01, q=-0.03)
    out = tmp_path / "out.csv"
    status, _, _ = chain(capsys, source, "--exercise", "american", "-o", out)
    row = read_rows(out)[0]
    assert status == 0 and row["status"] == "two_boundaries" and row["iv"] == ""


@pytest.mark.parametrize(
    ("argv", "message"),
    [
        (("--forward", "parity"), "put-call parity does not hold for American options"),
        (("--model", "black76"), "takes --model bsm"),
        (("--exercise", "european", "--american-mode", "fast"), "takes --exercise american"),
    ],
)
def test_refused_settings_say_why(capsys, tmp_path, argv, message):
    source = rows_of(tmp_path, [("P", 100, 5.0), ("C", 100, 5.0)])
    status, _, err = chain(capsys, source, "--exercise", "american", *argv)
    assert status == 1 and message in err


def test_a_yield_left_unsaid_is_refused(capsys, tmp_path):
    source = write_chain(tmp_path, "type,strike,expiry,price,spot,rate\nP,100,0.5,5.0,100,0.05\n")
    status, _, err = chain(capsys, source, "--exercise", "american")
    assert status == 1 and "American exercise needs the yield" in err
    status, _, _ = chain(capsys, source, "--exercise", "american", "--dividend", "0.0")
    assert status == 0
