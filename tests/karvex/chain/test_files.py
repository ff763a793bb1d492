"""Output files: written whole or not at all."""

import os

from chain_support import ENGINES, EXAMPLE, chain, edit_cell, write_chain


class TestOutputFile:
    def test_late_error_leaves_an_older_output_untouched(self, capsys, tmp_path):
        source = write_chain(tmp_path, edit_cell(EXAMPLE, 300, "strike", "abc"))
        out = tmp_path / "out.csv"
        out.write_text("previous result\n")
        for engine in ENGINES:
            status, _, err = chain(capsys, source, "--engine", engine, "--chunk-rows", 50, "-o", out)
            assert status == 1 and "line 300, column 3 (strike)" in err
            assert out.read_text() == "previous result\n"
            assert sorted(os.listdir(tmp_path)) == ["chain.csv", "out.csv"]

    def test_unwritable_output(self, capsys, tmp_path):
        status, _, err = chain(capsys, "-o", tmp_path / "no" / "dir.csv")
        assert status == 1 and err.startswith("karvex: error: ") and err.count("\n") == 1
