"""The output table."""

import pytest
from chain_support import ENGINES, EXAMPLE, chain, read_rows, write_chain

from karvex._chain.write import output_header


class TestOutputColumns:
    def test_input_columns_named_like_computed_ones_are_kept_renamed(self, capsys, tmp_path):
        lines = EXAMPLE.splitlines()
        text = "\n".join([lines[0] + ",IV,status"] + [f"{line},0.25,quoted" for line in lines[1:]])
        source = write_chain(tmp_path, text + "\n")
        outputs = []
        for engine in ENGINES:
            out = tmp_path / f"{engine}.csv"
            status, _, err = chain(capsys, source, "--engine", engine, "-o", out)
            assert status == 0
            assert (
                "renamed:      IV -> input_IV, status -> input_status (input columns named" in err
            )
            rows = read_rows(out)
            assert list(rows[0])[-9:-7] == ["input_IV", "input_status"]
            assert {(r["input_IV"], r["input_status"]) for r in rows} == {("0.25", "quoted")}
            assert {r["status"] for r in rows} == {
                "ok",
                "below_intrinsic",
                "above_upper_bound",
                "invalid_input",
            }
            outputs.append(out.read_bytes())
        assert len(set(outputs)) == 1

    @pytest.mark.parametrize(
        "header,want",
        [
            (["type", "iv"], ["type", "input_iv"]),
            (
                ["iv", "input_iv", "INPUT_INPUT_IV"],
                ["input_input_input_iv", "input_iv", "INPUT_INPUT_IV"],
            ),
            ([" Delta "], ["input_Delta"]),
        ],
    )
    def test_renamed_names_never_clash(self, header, want):
        assert output_header(header) == want


@pytest.mark.parametrize("engine", ENGINES)
def test_a_field_holding_a_lone_cr_is_quoted_and_reads_back(capsys, tmp_path, engine):
    lines = EXAMPLE.splitlines()
    lines[1] = '"KVX\rA"' + lines[1][lines[1].index(",") :]
    source = tmp_path / "chain.csv"
    source.write_bytes(("\n".join(lines) + "\n").encode())
    out = tmp_path / "out.csv"
    assert chain(capsys, source, "--engine", engine, "-o", out)[0] == 0
    assert out.read_bytes().split(b"\n")[1].startswith(b'"KVX\rA",')
    assert read_rows(out)[0]["symbol"] == "KVX\rA" and len(read_rows(out)) == 318
