"""Resolving the header: aliases, constants from options, missing columns."""

import pytest
from chain_support import ENGINES, EXAMPLE, assert_one_line_error, chain, read_rows, write_chain

from karvex import bsm
from karvex.__main__ import main
from karvex._chain.columns import ALIASES, resolve
from karvex._chain.options import ChainError, Options


class TestResolve:
    def test_aliases_in_any_case_and_options_replace_columns(self):
        header = [
            "Option_Type",
            " K ",
            "Expiration",
            "Quote_Date",
            "Mid",
            "Underlying_Price",
            "R",
            "Q",
        ]
        columns = resolve("f.csv", header, Options(dividend=0.01))
        assert columns.positions == {
            "type": 0,
            "strike": 1,
            "price": 4,
            "spot": 5,
            "expiry_date": 2,
            "valuation_date": 3,
            "rate": 6,
        }
        assert columns.constants == {"dividend": 0.01}

    def test_years_column_is_preferred_and_black76_needs_no_dividend(self):
        header = ["type", "strike", "price", "forward", "t", "expiry_date"]
        columns = resolve("f.csv", header, Options(model="black76", rate=0.03))
        assert columns.positions == {"type": 0, "strike": 1, "price": 2, "forward": 3, "expiry": 4}
        assert columns.constants == {"rate": 0.03}

    def test_missing_rate_names_the_option_that_replaces_it(self):
        with pytest.raises(ChainError, match=r"line 1: missing column 'rate' \(or give --rate\)"):
            resolve("f.csv", ["type", "strike", "price", "spot", "expiry"], Options())

    def test_column_map_comes_before_the_aliases_and_takes_its_column_from_them(self):
        header = ["type", "strike", "k", "price", "spot", "t", "Fwd"]
        mapping = ["strike=K", "spot=fwd"]
        columns = resolve("f.csv", header, Options(rate=0.03, columns=mapping))
        assert columns.positions["strike"] == 2 and columns.positions["spot"] == 6
        with pytest.raises(ChainError, match=r"--column strike=x: no column 'x'"):
            resolve("f.csv", header, Options(rate=0.03, columns=["strike=x"]))
        with pytest.raises(ChainError, match=r"--column bogus=k: not INPUT=NAME"):
            resolve("f.csv", header, Options(rate=0.03, columns=["bogus=k"]))

    @pytest.mark.parametrize("engine", ENGINES)
    def test_missing_column_is_a_one_line_error(self, capsys, tmp_path, engine):
        text = EXAMPLE.replace(",strike,", ",strik,", 1)
        assert_one_line_error(capsys, tmp_path, text, "line 1: missing column 'strike'", engine)


class TestColumnChoice:
    TEXT = (
        "type,strike,expiry,price,underlying,underlying_bid,underlying_ask{}\n"
        "C,100,0.5,6.0,KVX,99.9,100.1{}\nP,100,0.5,5.0,KVX,99.9,100.1{}\n"
    )

    @pytest.mark.parametrize("engine", ENGINES)
    def test_a_ticker_column_is_never_the_spot(self, capsys, tmp_path, engine):
        # With underlying_price: that column; without it: the underlying's mid.
        for extra, spot in ((",underlying_price", 100.5), ("", 0.5 * (99.9 + 100.1))):
            text = self.TEXT.format(extra, ",100.5" if extra else "", ",100.5" if extra else "")
            out = tmp_path / "out.csv"
            status, _, err = chain(
                capsys, write_chain(tmp_path, text), "--rate", "0.03", "--engine", engine, "-o", out
            )
            assert status == 0, err
            iv = [float(r["iv"]) for r in read_rows(out)]
            assert iv == bsm.iv([6.0, 5.0], ["C", "P"], spot, 100.0, 0.5, 0.03, 0.0).tolist()

    def test_a_text_spot_with_nothing_else_is_still_a_one_line_error(self, capsys, tmp_path):
        text = "type,strike,expiry,price,underlying\nC,100,0.5,6.0,KVX\n"
        status, _, err = chain(capsys, write_chain(tmp_path, text), "--rate", "0.03")
        assert status == 1 and "line 2, column 5 (underlying): not a number: 'KVX'" in err

    def test_help_lists_every_accepted_name(self, capsys):
        with pytest.raises(SystemExit):
            main(["chain", "--help"])
        text = capsys.readouterr().out
        listed = set()
        for line in text.splitlines():
            words = line.replace(",", " ").split()
            listed.update(words[1:] if words[:1] == ["also:"] else words[:1])
        assert {name for names in ALIASES.values() for name in names} <= listed
