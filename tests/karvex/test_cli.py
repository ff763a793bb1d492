"""The karvex command: chain on the example and on malformed files, bench."""

import csv
import importlib.util
import io
import os
import subprocess
import sys
from importlib import resources

import numpy as np
import pytest

from karvex import _bench, bsm, black76
from karvex.__main__ import main

EXAMPLE = resources.files("karvex").joinpath("data", "example_chain.csv").read_text()
HEADER = EXAMPLE.splitlines()[0].split(",")


def have(module):
    return importlib.util.find_spec(module) is not None


ENGINES = ["builtin"] + (["pandas"] if have("pandas") else [])


def read_rows(path):
    with open(path, newline="") as fh:
        return list(csv.DictReader(fh))


def chain(capsys, *argv):
    """Run `karvex chain ...`; returns (exit status, stdout, stderr)."""
    status = main(["chain", *map(str, argv)])
    out, err = capsys.readouterr()
    return status, out, err


def write_chain(tmp_path, text, name="chain.csv"):
    path = tmp_path / name
    path.write_text(text)
    return path


def edit_cell(text, line, column, value):
    """The CSV text with one cell (1-based line, column name) replaced."""
    lines = text.splitlines()
    cells = lines[line - 1].split(",")
    cells[HEADER.index(column)] = value
    lines[line - 1] = ",".join(cells)
    return "\n".join(lines) + "\n"


class TestExampleChain:
    def test_summary_counts_each_reason_and_statuses_name_the_faulty_quotes(self, capsys, tmp_path):
        status, out, err = chain(capsys, "-o", tmp_path / "out.csv")
        assert status == 0 and out == ""
        lines = err.splitlines()
        assert lines[0] == "karvex chain: example chain (bsm): 318 rows"
        assert lines[1].split() == ["inverted:", "315"]
        assert lines[2] == "  not inverted: 3 (below intrinsic 1, above upper bound 1, invalid inputs 1)"
        assert "options/s" in lines[3]
        bad = {r["symbol"]: r["status"] for r in read_rows(tmp_path / "out.csv") if r["status"] != "ok"}
        assert bad == {"KVX250321P00535000": "below_intrinsic", "KVX250516C00580000": "above_upper_bound",
                       "KVX250620P00390000": "invalid_input"}

    @pytest.mark.parametrize("model", ["bsm", "black76"])
    def test_output_values_are_the_array_api_values(self, capsys, tmp_path, model):
        assert chain(capsys, "--model", model, "-o", tmp_path / "out.csv")[0] == 0
        rows = read_rows(tmp_path / "out.csv")
        assert list(rows[0])[: len(HEADER)] == HEADER
        assert list(rows[0])[len(HEADER):] == ["iv", "delta", "gamma", "vega", "theta", "rho", "status"]

        def col(name):
            return np.array([float(r[name]) if r[name] else np.nan for r in rows])

        t = np.array([(np.datetime64(r["expiry_date"]) - np.datetime64(r["valuation_date"])).astype(float)
                      for r in rows]) / 365.0
        flag = [r["type"] for r in rows]
        if model == "bsm":
            iv = bsm.iv(col("price"), flag, col("spot"), col("strike"), t, col("rate"), col("dividend"))
            greeks = bsm.greeks(flag, col("spot"), col("strike"), t, col("rate"), col("dividend"), iv)
        else:
            iv = black76.iv(col("price"), flag, col("forward"), col("strike"), t, col("rate"))
            greeks = black76.greeks(flag, col("forward"), col("strike"), t, col("rate"), iv)
        # The CSV holds shortest round-trip texts: the same doubles come back.
        assert np.array_equal(col("iv"), iv, equal_nan=True)
        ok = ~np.isnan(iv)
        for name, values in zip(greeks._fields, greeks):
            assert np.array_equal(col(name)[ok], values[ok])
            assert np.isnan(col(name)[~ok]).all()
        assert 0.1 < iv[ok].min() and iv[ok].max() < 0.5  # a realistic smile

    def test_readers_and_file_forms_agree(self, capsys, tmp_path):
        # The example in years instead of dates, through each reader, with
        # constants given as options: all the same output.
        reference = tmp_path / "reference.csv"
        chain(capsys, "-o", reference)
        rows = list(csv.reader(io.StringIO(EXAMPLE)))
        years = [["expiry"] + rows[0][:3] + rows[0][5:8]]
        for r in rows[1:]:
            days = (np.datetime64(r[3]) - np.datetime64(r[4])).astype(float)
            years.append([repr(float(days) / 365.0)] + r[:3] + r[5:8])
        text = "\n".join(",".join(r) for r in years) + "\n"
        source = write_chain(tmp_path, text, "years.csv")
        want = {r["symbol"]: r["iv"] for r in read_rows(reference)}
        for engine in ENGINES:
            out = tmp_path / f"{engine}.csv"
            status, _, _ = chain(capsys, source, "--engine", engine, "--rate", "0.043",
                                 "--dividend", "0.013", "-o", out)
            assert status == 0
            assert {r["symbol"]: r["iv"] for r in read_rows(out)} == want
        if "pandas" in ENGINES:
            dated = write_chain(tmp_path, EXAMPLE, "dated.csv")
            for engine in ENGINES:
                chain(capsys, dated, "--engine", engine, "-o", tmp_path / f"dated-{engine}.csv")
            assert (tmp_path / "dated-pandas.csv").read_bytes() == (tmp_path / "dated-builtin.csv").read_bytes()
            assert (tmp_path / "dated-builtin.csv").read_bytes() == reference.read_bytes()

    def test_small_chunks_give_the_same_output(self, capsys, tmp_path):
        source = write_chain(tmp_path, EXAMPLE)
        for engine in ENGINES:
            chain(capsys, source, "--engine", engine, "--chunk-rows", 7, "-o", tmp_path / f"{engine}.csv")
            chain(capsys, source, "--engine", engine, "-o", tmp_path / f"{engine}-one.csv")
            assert (tmp_path / f"{engine}.csv").read_bytes() == (tmp_path / f"{engine}-one.csv").read_bytes()

    @pytest.mark.skipif(not have("matplotlib"), reason="matplotlib not installed")
    def test_plot_writes_a_png(self, capsys, tmp_path):
        status, _, err = chain(capsys, "-o", tmp_path / "out.csv", "--plot", tmp_path / "smile.png")
        assert status == 0 and "(7 expiries)" in err
        assert (tmp_path / "smile.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"

    def test_python_dash_m_prints_the_chain(self, tmp_path):
        done = subprocess.run([sys.executable, "-m", "karvex", "chain"], capture_output=True, text=True,
                              cwd=tmp_path)
        assert done.returncode == 0
        assert len(done.stdout.splitlines()) == 319
        assert "318 rows" in done.stderr


class TestMalformedInput:
    @pytest.mark.parametrize(
        "text,message",
        [
            ("", "empty file"),
            (EXAMPLE.replace(",strike,", ",strik,", 1), "line 1: missing column 'strike'"),
            (edit_cell(EXAMPLE, 17, "spot", "51x.40"), "line 17, column 7 (spot): not a number: '51x.40'"),
            (edit_cell(EXAMPLE, 40, "type", "X"), "line 40, column 2 (type): not an option type"),
            (edit_cell(EXAMPLE, 41, "expiry_date", "2025-02-30"), "line 41, column 4 (expiry_date): not a date"),
            (edit_cell(EXAMPLE, 30, "dividend", "0.013,9"), "line 30: expected 10 fields, found 11"),
        ],
        ids=["empty", "missing-column", "bad-number", "bad-type", "bad-date", "extra-field"],
    )
    @pytest.mark.parametrize("engine", ENGINES)
    def test_one_line_error_and_no_output(self, capsys, tmp_path, text, message, engine):
        source = write_chain(tmp_path, text)
        out = tmp_path / "out.csv"
        status, stdout, err = chain(capsys, source, "--engine", engine, "-o", out)
        assert status == 1
        assert err.startswith(f"karvex: error: {source}") and message in err and err.count("\n") == 1 and "Traceback" not in err
        assert sorted(os.listdir(tmp_path)) == ["chain.csv"]

    def test_late_error_leaves_an_older_output_untouched(self, capsys, tmp_path):
        source = write_chain(tmp_path, edit_cell(EXAMPLE, 300, "strike", "abc"))
        out = tmp_path / "out.csv"
        out.write_text("previous result\n")
        for engine in ENGINES:
            status, _, err = chain(capsys, source, "--engine", engine, "--chunk-rows", 50, "-o", out)
            assert status == 1 and "line 300, column 3 (strike)" in err
            assert out.read_text() == "previous result\n"
            assert sorted(os.listdir(tmp_path)) == ["chain.csv", "out.csv"]

    def test_missing_file_and_unwritable_output(self, capsys, tmp_path):
        status, _, err = chain(capsys, tmp_path / "nowhere.csv")
        assert status == 1 and "nowhere.csv: cannot read" in err
        status, _, err = chain(capsys, "-o", tmp_path / "no" / "dir.csv")
        assert status == 1 and err.startswith("karvex: error: ") and err.count("\n") == 1

    def test_empty_cells_are_invalid_rows_not_errors(self, capsys, tmp_path):
        source = write_chain(tmp_path, edit_cell(edit_cell(EXAMPLE, 5, "strike", ""), 6, "rate", " "))
        status, _, err = chain(capsys, source, "-o", tmp_path / "out.csv")
        assert status == 0 and "invalid inputs 3" in err


class TestBench:
    def test_table_lists_each_quantity_with_its_speed_up(self):
        lines = _bench.table({1: {"price": 2e7, "greeks": 5e6, "iv": 1.5e6},
                              2: {"price": 4e7, "greeks": 9e6, "iv": 3e6}})
        assert lines[0].split() == ["1", "worker", "2", "workers", "speed-up"]
        assert lines[1].split() == ["price", "20.00", "M/s", "40.00", "M/s", "2.00x"]
        assert lines[3].split() == ["iv", "1.50", "M/s", "3.00", "M/s", "2.00x"]

    def test_bench_runs_end_to_end(self, tmp_path):
        done = subprocess.run(
            [sys.executable, "-m", "karvex", "bench", "--size", "2000", "--seconds", "0"],
            capture_output=True, text=True, cwd=tmp_path,
        )
        assert done.returncode == 0, done.stderr
        names = [line.split()[0] for line in done.stdout.splitlines()[2:]]
        assert names == ["price", "greeks", "iv"]
