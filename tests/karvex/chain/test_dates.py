"""Expiry and valuation dates."""

import pytest

from chain_support import ENGINES, EXAMPLE, assert_one_line_error, edit_cell


class TestDates:
    @pytest.mark.parametrize("engine", ENGINES)
    def test_impossible_date_is_a_one_line_error(self, capsys, tmp_path, engine):
        text = edit_cell(EXAMPLE, 41, "expiry_date", "2025-02-30")
        assert_one_line_error(capsys, tmp_path, text, "line 41, column 4 (expiry_date): not a date", engine)
