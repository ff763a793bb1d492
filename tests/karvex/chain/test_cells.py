"""Text cells to numbers and option types."""

import pytest
from chain_support import ENGINES, EXAMPLE, assert_one_line_error, chain, edit_cell, write_chain


class TestCells:
    @pytest.mark.parametrize(
        "text,message",
        [
            (
                edit_cell(EXAMPLE, 17, "spot", "51x.40"),
                "line 17, column 7 (spot): not a number: '51x.40'",
            ),
            (edit_cell(EXAMPLE, 40, "type", "X"), "line 40, column 2 (type): not an option type"),
        ],
        ids=["bad-number", "bad-type"],
    )
    @pytest.mark.parametrize("engine", ENGINES)
    def test_bad_cell_is_a_one_line_error(self, capsys, tmp_path, text, message, engine):
        assert_one_line_error(capsys, tmp_path, text, message, engine)

    def test_empty_cells_are_invalid_rows_not_errors(self, capsys, tmp_path):
        source = write_chain(
            tmp_path, edit_cell(edit_cell(EXAMPLE, 5, "strike", ""), 6, "rate", " ")
        )
        status, _, err = chain(capsys, source, "-o", tmp_path / "out.csv")
        assert status == 0 and "invalid inputs 3" in err
