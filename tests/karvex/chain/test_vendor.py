"""A vendor-style chain (tests/data/vendor_chain.csv, made by
tools/make_vendor_chain.py) straight through `karvex chain`: the vendor's
column names, bid/ask quotes, quote times, same-day expiries, an index with a
dividend yield nobody typed in."""

import csv
import math
import pathlib

import numpy as np
import pytest
from chain_support import ENGINES, chain, have, read_rows

VENDOR = pathlib.Path(__file__).resolve().parents[2] / "data" / "vendor_chain.csv"
# What the generator priced the chain with.
SPOT, RATE, DIVIDEND = 5638.94, 0.043, 0.013


def vendor_rows():
    with open(VENDOR, newline="") as fh:
        return list(csv.DictReader(fh))


def years(row):
    quote = np.datetime64(row["quote_date"].replace(" ", "T"))
    expiry = np.datetime64(row["expiration"] + "T16:00")
    return (expiry - quote) / np.timedelta64(1, "D") / 365.0


@pytest.mark.parametrize("engine", ENGINES)
def test_parity_run_needs_only_the_rate(capsys, tmp_path, engine):
    out = tmp_path / "out.csv"
    status, _, err = chain(
        capsys,
        VENDOR,
        "--rate",
        RATE,
        "--forward",
        "parity",
        "--intrinsic-tolerance",
        "0.1",
        "--engine",
        engine,
        "-o",
        out,
    )
    assert status == 0, err
    rows, given = read_rows(out), vendor_rows()
    assert len(rows) == len(given)
    statuses = [r["status"] for r in rows]
    # Each faulty quote has its own status; nothing else fails.
    assert statuses.count("no_bid") == sum(float(r["bid"]) == 0 for r in given)
    assert statuses.count("crossed_quote") == 1 and statuses.count("missing_quote") == 1
    assert set(statuses) <= {
        "ok",
        "no_bid",
        "crossed_quote",
        "missing_quote",
        "near_intrinsic",
        "below_intrinsic",
    }
    assert statuses.count("below_intrinsic") <= 1  # the stale quote
    # Same-day expiries, quoted at 15:45 before their 16:00 expiry, are valid.
    same_day = [r for r in rows if r["expiration"] == "2025-03-14"]
    assert same_day and any(r["status"] == "ok" for r in same_day)
    # The forward of every expiry is the one the chain was priced on.
    for r in rows[::37]:
        t = years(r)
        assert float(r["implied_forward"]) == pytest.approx(
            SPOT * math.exp((RATE - DIVIDEND) * t), rel=2e-5
        )
    # The dividend yield nobody typed in, from the expiries a week or more away.
    yields = [
        float(line.split("dividend yield ")[1].split(" %")[0])
        for line in err.splitlines()
        if "dividend yield" in line
    ]
    assert len(yields) == 13 and all(abs(y - 100 * DIVIDEND) < 0.06 for y in yields)


def test_bsm_run_with_the_yield_and_a_tolerance_keeps_deep_in_the_money_quotes(capsys, tmp_path):
    out = tmp_path / "out.csv"
    status, _, err = chain(capsys, VENDOR, "--rate", RATE, "--dividend", DIVIDEND, "-o", out)
    plain = [r["status"] for r in read_rows(out)].count("below_intrinsic")
    status, _, err = chain(
        capsys,
        VENDOR,
        "--rate",
        RATE,
        "--dividend",
        DIVIDEND,
        "--intrinsic-tolerance",
        "0.1",
        "-o",
        out,
    )
    statuses = [r["status"] for r in read_rows(out)]
    assert status == 0 and plain > 3
    assert statuses.count("near_intrinsic") == plain - 1 and statuses.count("below_intrinsic") == 1
    assert "warning" not in err
    status, _, err = chain(capsys, VENDOR, "--rate", RATE, "-o", out)  # the yield forgotten
    assert "calls below puts of the same strike" in err


@pytest.mark.skipif(not have("matplotlib"), reason="matplotlib not installed")
def test_smile_of_every_expiry(capsys, tmp_path):
    status, _, err = chain(
        capsys,
        VENDOR,
        "--rate",
        RATE,
        "--forward",
        "parity",
        "-o",
        tmp_path / "out.csv",
        "--plot",
        tmp_path / "smile.png",
    )
    assert status == 0 and "(16 expiries)" in err
    assert (tmp_path / "smile.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
