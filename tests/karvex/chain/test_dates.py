"""Expiry and valuation dates."""

import numpy as np
import pytest

from karvex._chain.columns import Columns
from karvex._chain.dates import expiry_labels
from chain_support import ENGINES, EXAMPLE, assert_one_line_error, edit_cell


class TestDates:
    @pytest.mark.parametrize("engine", ENGINES)
    def test_impossible_date_is_a_one_line_error(self, capsys, tmp_path, engine):
        text = edit_cell(EXAMPLE, 41, "expiry_date", "2025-02-30")
        assert_one_line_error(capsys, tmp_path, text, "line 41, column 4 (expiry_date): not a date", engine)

    def test_labels_in_years_name_each_row_by_its_own_expiry(self):
        columns = Columns(["t"], {"expiry": 0}, {})
        t = np.array([0.5, 0.0191781, 0.5, np.nan, 2.0, 0.0191781])
        labels = expiry_labels(columns, None, t)
        assert labels.tolist() == ["T = 0.5 y", "T = 0.01918 y", "T = 0.5 y", "T = nan y", "T = 2 y",
                                   "T = 0.01918 y"]
