"""Reading the chain: both readers, the file forms they accept, and the
faults they report."""

import csv
import io

import numpy as np
import pytest

from chain_support import (ENGINES, EXAMPLE, assert_one_line_error, chain, edit_cell, read_rows,
                           write_chain)


class TestReaders:
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


class TestMalformedFiles:
    @pytest.mark.parametrize(
        "text,message",
        [
            ("", "empty file"),
            (edit_cell(EXAMPLE, 30, "dividend", "0.013,9"), "line 30: expected 10 fields, found 11"),
        ],
        ids=["empty", "extra-field"],
    )
    @pytest.mark.parametrize("engine", ENGINES)
    def test_one_line_error_and_no_output(self, capsys, tmp_path, text, message, engine):
        assert_one_line_error(capsys, tmp_path, text, message, engine)

    def test_missing_file(self, capsys, tmp_path):
        status, _, err = chain(capsys, tmp_path / "nowhere.csv")
        assert status == 1 and "nowhere.csv: cannot read" in err
