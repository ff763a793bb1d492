"""The vendor-shape samples themselves: their truth agrees with karvex's
prices, the generator makes them again byte for byte, and each sample
rewritten by hand into a layout the chain command has always read gives back
its truth, so a shape test that fails points at the command, not the corpus."""

import csv
import datetime as dt
import gzip
import io
import pathlib
import subprocess
import sys

import numpy as np
import pytest
from chain_support import have
from shapes_support import SHAPES, assert_recovers, load_truth, model_price, run

TRUTHS = [p.name.removesuffix(".truth.csv") for p in sorted(SHAPES.glob("*.truth.csv"))]
MAKE = pathlib.Path(__file__).resolve().parents[3] / "tools" / "shapes" / "make.py"
TEXT_SHAPES = ["crypto", "academic", "wide", "european", "intraday", "multi", "plain", "mapped"]
TEXT_SHAPES += ["am_settled", "epoch_ms"]


@pytest.mark.parametrize("name", TRUTHS)
def test_truth_prices_are_karvex_prices(name):
    """The generator's closed form (math.erf) and karvex agree on every
    option's price at its true volatility, and each truth is complete."""
    truth = load_truth(name)
    price = model_price(truth, truth["sigma"])
    np.testing.assert_allclose(price, truth["price"], rtol=1e-9, atol=1e-12)
    ok = truth["expect"] == "ok"
    assert not np.isnan(truth["mid"][ok]).any() and np.isnan(truth["mid"][~ok]).all()
    assert 0 < (~ok).sum() < 10  # a few faulty rows, as real files have


def test_generator_makes_the_samples_again(tmp_path):
    subprocess.run([sys.executable, MAKE, "--out", tmp_path, *TEXT_SHAPES], check=True)
    for path in sorted(SHAPES.iterdir()):
        if path.suffix == ".parquet" or path.name == "parquet.truth.csv":
            continue  # written by pandas and polars, whose bytes vary with their versions
        made = (tmp_path / path.name).read_bytes()
        if path.suffix == ".gz":  # compressed bytes may differ between zlib versions
            assert gzip.decompress(made) == gzip.decompress(path.read_bytes())
        else:
            assert made == path.read_bytes(), path.name


def read_sample(name, delimiter=","):
    path = SHAPES / name
    text = gzip.decompress(path.read_bytes()).decode() if name.endswith(".gz") else None
    with open(path, newline="") if text is None else io.StringIO(text) as fh:
        return list(csv.DictReader(fh, delimiter=delimiter))


def utc_text(ms):
    return dt.datetime.fromtimestamp(int(ms) / 1000, dt.timezone.utc).strftime(
        "%Y-%m-%d %H:%M:%S.%f"
    )


def coin(row, key):
    cell = row[key]
    return cell and repr(float(cell) * float(row["underlying_price"]))


def with_cells(row, **cells):
    """A plain long row: the given cells over the row's own."""
    return {**row, **cells}


# Each sample as a plain chain in the layout the command has always read:
# (rows, options, how the truth's rows map to them).
REWRITES = {
    "crypto": lambda: (
        [
            {
                "valuation_date": r["timestamp"][:19].replace("T", " "),
                "expiry_date": r["expiration"] + " 08:00:00",
                "type": r["option_type"],
                "strike": r["strike"],
                "bid": coin(r, "bid_price"),
                "ask": coin(r, "ask_price"),
                "spot": r["underlying_price"],
            }
            for r in read_sample("crypto.csv")
        ],
        ["--rate", "0"],
    ),
    "academic": lambda: (
        [
            {
                "valuation_date": r["date"],
                "expiry_date": r["exdate"],
                "type": r["cp_flag"],
                "strike": repr(int(r["strike_price"]) / 1000),
                "bid": r["best_bid"],
                "ask": r["best_offer"],
                "forward": r["forward_price"],
            }
            for r in read_sample("academic.csv")
        ],
        ["--model", "black76", "--rate", "0.043"],
    ),
    "wide": lambda: (
        [
            {
                "valuation_date": r["quote_date"],
                "expiry_date": r["expiration"],
                "type": side[0],
                "strike": r["strike"],
                "bid": r[f"{side}_bid"],
                "ask": r[f"{side}_ask"],
                "spot": r["underlying_price"],
            }
            for r in read_sample("wide.csv")
            for side in ("call", "put")
        ],
        ["--rate", "0.043", "--dividend", "0.012"],
    ),
    "european": lambda: (
        [
            {
                "valuation_date": dt.datetime.strptime(r["trade_date"], "%d.%m.%Y").date(),
                "expiry_date": dt.datetime.strptime(r["expiration"], "%d.%m.%Y").date(),
                "type": r["call_put"],
                "strike": r["strike"],
                "bid": r["bid"].replace(",", "."),
                "ask": r["ask"].replace(",", "."),
                "spot": r["underlying_price"].replace(",", "."),
            }
            for r in read_sample("european.csv", ";")
        ],
        ["--rate", "0.025", "--dividend", "0.03"],
    ),
    # One stamp for the snapshot: the puts' 30 seconds are 1e-6 years.
    "intraday": lambda: (
        [with_cells(r, quote_datetime="2025-03-14 15:59:00") for r in read_sample("intraday.csv")],
        ["--rate", "0.043", "--forward", "parity"],
    ),
    "plain": lambda: (read_sample("plain.csv.gz"), ["--rate", "0.043", "--dividend", "0.005"]),
    "am_settled": lambda: (
        [
            with_cells(
                r,
                trade_date=r["trade_date"] + " 16:00:00",
                expiration=r["expiration"] + " 09:30:00",
            )
            for r in read_sample("am_settled.csv")
        ],
        ["--rate", "0.043", "--dividend", "0.013"],
    ),
    "epoch_ms": lambda: (
        [
            with_cells(
                r,
                quote_datetime=utc_text(r["quote_datetime"]),
                expiration=utc_text(r["expiration"]),
            )
            for r in read_sample("epoch_ms.csv")
        ],
        ["--rate", "0"],
    ),
}


def parquet_rewrite():
    import pyarrow.parquet as pq

    rows = pq.read_table(SHAPES / "pandas3.parquet").to_pylist()
    for r in rows:
        for key in ("quote_datetime", "expiration"):
            r[key] = r[key].strftime("%Y-%m-%d %H:%M:%S")
        r["ask"] = "" if r["ask"] is None else r["ask"]
    return rows, ["--rate", "0.043", "--dividend", "0.012"]


@pytest.mark.parametrize("name", [*REWRITES, "parquet"])
def test_sample_rewritten_by_hand_gives_back_its_truth(capsys, tmp_path, name):
    if name == "parquet" and not have("pyarrow"):
        pytest.skip("pyarrow not installed")
    rows, options = parquet_rewrite() if name == "parquet" else REWRITES[name]()
    source = tmp_path / "chain.csv"
    with open(source, "w", newline="") as fh:
        out = csv.DictWriter(fh, list(rows[0]))
        out.writeheader()
        out.writerows(rows)
    status, _, err = run(capsys, source, *options, "-o", tmp_path / "out.csv")
    assert status == 0, err
    truth = load_truth(name)
    if name == "wide":  # a row per option: the call, then the put
        truth["row"] = 2 * truth["row"] + (truth["side"] == "put")
        truth["side"][:] = ""
    assert_recovers(tmp_path / "out.csv", truth, parity="--forward" in options)
