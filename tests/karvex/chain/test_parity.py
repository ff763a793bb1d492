"""Forwards implied by put-call parity (--forward parity)."""

import subprocess
import sys

import numpy as np
import pytest
from chain_support import ENGINES, chain, read_rows, write_chain

from karvex import black76
from karvex._chain.parity import Expiry, ParityForwards

RATE = 0.04
# expiry date -> (years from 2025-03-14, forward)
EXPIRIES = {"2025-04-17": (34 / 365, 101.3), "2025-12-19": (280 / 365, 97.2)}


def parity_chain(tmp_path, bad_quote=True, lonely=False):
    """Calls and puts priced with Black-76 on known forwards and a smile;
    one put near the money quoted 30 % too high; optionally an expiry with
    calls only."""
    lines = ["symbol,type,strike,expiration,quote_date,price,underlying_price"]
    for expiry, (t, f) in EXPIRIES.items():
        for k in np.arange(80.0, 121.0, 2.5):
            sigma = 0.2 - 0.3 * np.log(k / f) + 0.5 * np.log(k / f) ** 2
            for kind in ("C", "P"):
                price = black76.price(kind, f, k, t, RATE, sigma)
                if bad_quote and kind == "P" and k == 100.0:
                    price *= 1.3
                lines.append(f"x,{kind},{k},{expiry},2025-03-14,{price!r},99.5")
    if lonely:
        lines.append("x,C,100,2026-03-20,2025-03-14,9.0,99.5")
    return write_chain(tmp_path, "\n".join(lines) + "\n")


@pytest.mark.parametrize("engine", ENGINES)
def test_forward_per_expiry_from_parity_and_black76_on_it(capsys, tmp_path, engine):
    source = parity_chain(tmp_path, lonely=True)
    status, _, err = chain(
        capsys,
        source,
        "--rate",
        RATE,
        "--forward",
        "parity",
        "--engine",
        engine,
        "-o",
        tmp_path / "out.csv",
    )
    assert status == 0, err
    rows = read_rows(tmp_path / "out.csv")
    assert list(rows[0])[-8:-6] == ["implied_forward", "iv"]
    for expiry, (_t, f) in EXPIRIES.items():
        mine = [r for r in rows if r["expiration"] == expiry]
        # The one bad quote among the strikes nearest the money moves nothing.
        forwards = {float(r["implied_forward"]) for r in mine}
        assert len(forwards) == 1 and forwards.pop() == pytest.approx(f, rel=1e-12)
        good = [r for r in mine if not (r["type"] == "P" and float(r["strike"]) == 100.0)]
        k = np.array([float(r["strike"]) for r in good])
        assert np.allclose(
            [float(r["iv"]) for r in good],
            0.2 - 0.3 * np.log(k / f) + 0.5 * np.log(k / f) ** 2,
            rtol=0,
            atol=1e-9,
        )
        assert f"{expiry}" in err and f"{f:,.2f}" in err
    assert [r["status"] for r in rows if r["expiration"] == "2026-03-20"] == ["no_forward"]
    assert "(black76 on parity forwards)" in err.splitlines()[0]
    # The carry against the file's spot: r - q = ln(F / S) / t.
    t, f = EXPIRIES["2025-12-19"]
    assert f"carry r - q {100 * np.log(f / 99.5) / t:.2f} %" in err


def test_parity_reads_standard_input_twice(tmp_path):
    data = parity_chain(tmp_path).read_bytes()
    done = subprocess.run(
        [sys.executable, "-m", "karvex", "chain", "-", "--rate", str(RATE), "--forward", "parity"],
        input=data,
        capture_output=True,
        cwd=tmp_path,
    )
    assert done.returncode == 0, done.stderr
    assert done.stdout.count(b"\n") == 1 + 2 * 2 * 17 and b",ok\n" in done.stdout


def test_carry_is_not_shown_for_expiries_under_a_week():
    # Over a few hours a cent on the forward is a percent of carry.
    forwards = ParityForwards()
    forwards.expiries = [
        Expiry("2025-03-14", 15 / (60 * 24 * 365), 5638.91, 3, -0.09, 0.043),
        Expiry("2025-03-21", 7 / 365, 5642.2, 5, 0.030, 0.043),
    ]
    lines = forwards.lines()
    assert lines[1].split() == ["2025-03-14", "5,638.91", "(3", "strikes)"]
    assert "carry r - q 3.00 %, dividend yield 1.30 %" in lines[2]


def test_repeated_quotes_are_dropped_on_the_way_with_the_same_forwards(
    capsys, tmp_path, monkeypatch
):
    # The chain three times over: only the first quote of each strike and
    # side counts, so dropping the repeats as they come changes nothing.
    text = parity_chain(tmp_path).read_text()
    source = write_chain(
        tmp_path, text + "".join(text.splitlines(keepends=True)[1:]) * 2, "thrice.csv"
    )
    run = (source, "--rate", RATE, "--forward", "parity", "--engine", "builtin")
    chain(capsys, *run, "-o", tmp_path / "all.csv")
    held = []
    compact = ParityForwards._compact

    def counted(self):
        compact(self)
        held.append(self.held)

    monkeypatch.setattr(ParityForwards, "COMPACT_ROWS", 50)
    monkeypatch.setattr(ParityForwards, "_compact", counted)
    chain(capsys, *run, "--chunk-rows", 30, "-o", tmp_path / "few.csv")
    assert (tmp_path / "few.csv").read_bytes() == (tmp_path / "all.csv").read_bytes()
    assert (
        len(held) > 3 and max(held) <= 2 * 2 * 17
    )  # never more than one quote per strike and side


class TestAttackFaults:
    """Faults an attack on --forward parity found."""

    @staticmethod
    def forwards(err):
        return [line for line in err.splitlines() if line.startswith("    20")]

    def test_an_empty_rate_cell_voids_no_expiry(self, capsys, tmp_path):
        text = parity_chain(tmp_path).read_text().replace(",99.5\n", ",99.5,0.04\n")
        lines = text.splitlines()
        lines[0] += ",rate"
        lines[5] = lines[5].rsplit(",", 1)[0] + ","  # one row without its rate
        source = write_chain(tmp_path, "\n".join(lines) + "\n")
        status, _, err = chain(capsys, source, "--forward", "parity", "-o", tmp_path / "o.csv")
        assert status == 0 and "none" not in err and len(self.forwards(err)) == 2

    def test_calls_and_puts_stamped_apart_pair_and_a_ticker_underlying_is_skipped(
        self, capsys, tmp_path
    ):
        text = parity_chain(tmp_path, bad_quote=False).read_text()
        text = text.replace("underlying_price", "underlying")
        text = text.replace(",99.5\n", ",KVX\n")  # a ticker
        text = text.replace(",C,", ",C,").replace(",2025-03-14,", ",{stamp},")
        lines = text.splitlines()
        for i, line in enumerate(lines[1:], 1):
            lines[i] = line.format(
                stamp="2025-03-14 15:59:00" if ",C," in line else "2025-03-14 15:59:30"
            )
        source = write_chain(tmp_path, "\n".join(lines) + "\n")
        status, _, err = chain(
            capsys, source, "--forward", "parity", "--rate", RATE, "-o", tmp_path / "o.csv"
        )
        assert status == 0, err
        found = self.forwards(err)
        assert len(found) == 2 and all("none" not in line for line in found)
        for (_, f), line in zip(EXPIRIES.values(), found):
            assert abs(float(line.split()[1].replace(",", "")) - f) < 0.01
        assert {r["status"] for r in read_rows(tmp_path / "o.csv")} == {"ok"}

    def test_forwards_that_are_not_positive_finite_numbers_are_none(self, capsys, tmp_path):
        lines = ["type,strike,expiry,price,rate"]
        lines += ["C,100,1,1,800", "P,100,1,5,800", "C,100,2,1,0.04", "P,100,2,150,0.04"]
        source = write_chain(tmp_path, "\n".join(lines) + "\n")
        done = subprocess.run(
            [
                sys.executable,
                "-W",
                "error",
                "-m",
                "karvex",
                "chain",
                str(source),
                "--forward",
                "parity",
                "--rate-unit",
                "decimal",  # 800: stated, not percent
            ],
            capture_output=True,
            text=True,
        )
        assert done.returncode == 0, done.stderr
        assert done.stderr.count("none: no positive finite forward") == 2
        assert done.stdout.count("no_forward") == 4


GREEKS = ("delta", "gamma", "vega", "theta", "rho")


def test_greeks_are_by_the_spot_through_the_implied_carry_and_audited(capsys, tmp_path):
    """With a spot in the file, a parity run's Greeks are BSM's at that spot
    and the yield the forward implies (q = r - ln(F / S) / T): a hedge in the
    spot, theta at a fixed spot; the audit columns give what each row used."""
    from karvex import _core

    out = tmp_path / "out.csv"
    source = parity_chain(tmp_path, bad_quote=False)
    status, _, err = chain(
        capsys, source, "--rate", RATE, "--forward", "parity", "--audit", "-o", out
    )
    assert status == 0, err
    assert "greeks:       by the spot" in err
    rows = read_rows(out)
    assert list(rows[0])[-5:] == [
        "t_years",
        "price_used",
        "forward_used",
        "discount_factor",
        "status",
    ]
    f, t, iv = (np.array([float(r[c]) for r in rows]) for c in ("implied_forward", "t_years", "iv"))
    assert np.array_equal(f, [float(r["forward_used"]) for r in rows])
    assert np.array_equal([float(r["discount_factor"]) for r in rows], np.exp(-RATE * t))
    assert [float(r["price_used"]) for r in rows] == [float(r["price"]) for r in rows]
    flag = np.array([1 if r["type"] == "C" else -1 for r in rows], np.int8)
    k, s = np.array([float(r["strike"]) for r in rows]), np.full(len(rows), 99.5)
    r = np.full(len(rows), RATE)
    want = _core.bsm_greeks(flag, s, k, t, r, r - np.log(f / s) / t, iv)
    for name, values in zip(GREEKS, want):
        assert np.allclose([float(row[name]) for row in rows], values, rtol=1e-12, atol=1e-12)


def test_without_a_spot_the_greeks_are_black76s_and_the_summary_says_so(capsys, tmp_path):
    text = parity_chain(tmp_path, bad_quote=False).read_text().replace(",underlying_price", "")
    source = write_chain(tmp_path, text.replace(",99.5\n", "\n"), "nospot.csv")
    status, _, err = chain(
        capsys, source, "--rate", RATE, "--forward", "parity", "-o", tmp_path / "o"
    )
    assert status == 0 and "greeks:       Black-76's, by the forward" in err
