"""Resolving the header: aliases, constants from options, missing columns."""

import pytest

from chain_support import ENGINES, EXAMPLE, assert_one_line_error
from karvex._chain.columns import resolve
from karvex._chain.options import ChainError, Options


class TestResolve:
    def test_aliases_in_any_case_and_options_replace_columns(self):
        header = ["Option_Type", " K ", "Expiration", "Quote_Date", "Mid", "Underlying_Price", "R", "Q"]
        columns = resolve("f.csv", header, Options(dividend=0.01))
        assert columns.positions == {"type": 0, "strike": 1, "price": 4, "spot": 5, "expiry_date": 2,
                                     "valuation_date": 3, "rate": 6}
        assert columns.constants == {"dividend": 0.01}

    def test_years_column_is_preferred_and_black76_needs_no_dividend(self):
        header = ["type", "strike", "price", "forward", "t", "expiry_date"]
        columns = resolve("f.csv", header, Options(model="black76", rate=0.03))
        assert columns.positions == {"type": 0, "strike": 1, "price": 2, "forward": 3, "expiry": 4}
        assert columns.constants == {"rate": 0.03}

    def test_missing_rate_names_the_option_that_replaces_it(self):
        with pytest.raises(ChainError, match=r"line 1: missing column 'rate' \(or give --rate\)"):
            resolve("f.csv", ["type", "strike", "price", "spot", "expiry"], Options())

    @pytest.mark.parametrize("engine", ENGINES)
    def test_missing_column_is_a_one_line_error(self, capsys, tmp_path, engine):
        text = EXAMPLE.replace(",strike,", ",strik,", 1)
        assert_one_line_error(capsys, tmp_path, text, "line 1: missing column 'strike'", engine)
