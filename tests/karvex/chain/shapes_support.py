"""Helpers of the vendor-shape tests: the samples of tests/data/shapes (made
by tools/shapes/make.py) and the truth they were generated from, the quotes
whose price says something about the volatility, and the command's output
read back whatever its layout."""

import csv
import math
import pathlib
from collections import Counter

import numpy as np
from chain_support import have

from karvex import black76
from karvex.__main__ import main

SHAPES = pathlib.Path(__file__).resolve().parents[2] / "data" / "shapes"
STEP = 0.002  # a change of volatility ...
VISIBLE = 0.005  # ... that moves the price by at least half a cent


def load_truth(name):
    """The truth of sample `name` as arrays, one element per option."""
    with open(SHAPES / f"{name}.truth.csv", newline="") as fh:
        rows = list(csv.DictReader(fh))
    truth = {key: np.array([r[key] for r in rows]) for key in ("side", "type", "expect")}
    truth["row"] = np.array([int(r["row"]) for r in rows])
    for key in ("strike", "years", "forward", "rate", "sigma", "price", "mid", "tick"):
        truth[key] = np.array([float(r[key]) if r[key] else math.nan for r in rows])
    return truth


def model_price(truth, sigma):
    f, k, t, r = truth["forward"], truth["strike"], truth["years"], truth["rate"]
    return black76.price(truth["type"], f, k, t, r, sigma)


def sensitivity(truth):
    """The price change of each option for a volatility STEP higher, by
    karvex's own price function (a finite-difference vega)."""
    return model_price(truth, truth["sigma"] + STEP) - model_price(truth, truth["sigma"])


def visible(truth):
    """The options whose price moves by at least half a cent for STEP of
    volatility: where the quote pins the volatility down."""
    return (truth["expect"] == "ok") & (sensitivity(truth) >= VISIBLE)


def tolerance(truth, parity=False):
    """How far the recovered volatility may be from the true one.

    The quotes are on the tick: the mid is off the model price by what
    `mid - price` says (a quarter of a tick, more deep in the money where the
    market keeps the mid a tick above intrinsic value), which moves the
    volatility by that over the vega.  With parity forwards, each forward
    comes from mids of a call and a put, off by a quarter of a tick each, so
    the forward is off by up to half a tick (carried), which moves a
    discounted price by at most half a tick (the chain's largest).  Twice the first-order error
    covers the vega's change over the step; 1e-4 the rest."""
    forward = 0.5 * np.max(truth["tick"]) if parity else 0.0
    error = np.abs(truth["mid"] - truth["price"]) + forward
    return 2.0 * error / (sensitivity(truth) / STEP) + 1e-4


def run(capsys, *argv):
    """`karvex chain ARGV`: (exit status, stdout, stderr); a usage error
    (an option this version does not know) is status 2, not an exception."""
    try:
        status = main(["chain", *map(str, argv)])
    except SystemExit as stop:
        status = stop.code
    out, err = capsys.readouterr()
    return status, out, err


def read_output(path):
    """The output table as a list of dicts of text: Parquet, or CSV with
    whatever delimiter and decimal mark it was written in."""
    path = pathlib.Path(path)
    if path.suffix == ".parquet":
        import pyarrow.parquet as pq

        return [
            {k: "" if v is None else str(v) for k, v in row.items()}
            for row in pq.read_table(path).to_pylist()
        ]
    with open(path, newline="") as fh:
        header = fh.readline()
        fh.seek(0)
        delimiter = ";" if header.count(";") > header.count(",") else ","
        rows = list(csv.DictReader(fh, delimiter=delimiter))
    if delimiter == ";":  # numbers with a decimal comma
        rows = [{k: v.replace(",", ".") for k, v in row.items()} for row in rows]
    return rows


def column(rows, side, name):
    """Column `name` (iv, status) of one side of a side-by-side output
    (call_iv, iv_call or call iv), or of a one-option-per-row output."""
    if not side:
        return [r[name] for r in rows]
    keys = {k.lower(): k for k in rows[0]}
    for key in (f"{side}_{name}", f"{name}_{side}", f"{side} {name}", f"{side}{name}"):
        if key in keys:
            return [r[keys[key]] for r in rows]
    raise AssertionError(f"no {name} column for the {side}s among {list(rows[0])}")


def results(rows, truth):
    """(iv, status) of each option of the truth, from the output rows."""
    iv, status = np.full(len(truth["row"]), math.nan), np.empty(len(truth["row"]), object)
    for side in sorted(set(truth["side"])):
        at = truth["side"] == side
        ivs, statuses = column(rows, side, "iv"), column(rows, side, "status")
        iv[at] = [float(ivs[i]) if ivs[i] else math.nan for i in truth["row"][at]]
        status[at] = [statuses[i] for i in truth["row"][at]]
    return iv, status


def assert_recovers(path, truth, parity=False):
    """The output at `path` gives every option the status it should have and,
    where its quote pins the volatility down, the true volatility."""
    rows = read_output(path)
    assert len(rows) == max(truth["row"]) + 1
    iv, status = results(rows, truth)
    assert Counter(status) == Counter(truth["expect"])
    assert list(status == "ok") == list(truth["expect"] == "ok")
    mask = visible(truth)
    assert mask.sum() > 0.6 * (truth["expect"] == "ok").sum()
    error = np.abs(iv - truth["sigma"])[mask]
    worst = np.argmax(error / tolerance(truth, parity)[mask])
    assert np.all(error <= tolerance(truth, parity)[mask]), (
        f"{np.sum(error > tolerance(truth, parity)[mask])} of {mask.sum()} vols off; worst:"
        f" row {truth['row'][mask][worst]} iv {iv[mask][worst]} true {truth['sigma'][mask][worst]}"
    )
    if parity and "implied_forward" in rows[0]:
        forward = np.array([float(rows[i]["implied_forward"] or "nan") for i in truth["row"]])
        ok = truth["expect"] == "ok"
        assert np.all(np.abs(forward - truth["forward"])[ok] <= np.max(truth["tick"]))
    return rows


def assert_one_line_error(err, *words):
    """Standard error is one line, karvex's error naming each of `words`."""
    assert err.startswith("karvex: error: ") and err.count("\n") == 1, err
    assert "Traceback" not in err
    for word in words:
        assert word in err, (word, err)


def pyarrow_or_skip():
    import pytest

    if not have("pyarrow"):
        pytest.skip("pyarrow not installed")
