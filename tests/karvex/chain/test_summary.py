"""The summary's warnings: units that are probably wrong, and calls and puts
that disagree on volatility (a missing dividend)."""

from types import SimpleNamespace

import numpy as np
import pytest
from chain_support import ENGINES, EXAMPLE, chain, edit_cell, write_chain

from karvex._chain.summary import PAIRS_PENDING, Summary


def warnings(err):
    return [line.strip() for line in err.splitlines() if line.strip().startswith("warning:")]


class TestWarnings:
    def test_a_missing_dividend_shows_as_calls_below_puts_and_parity_or_the_yield_clears_it(
        self, capsys, tmp_path
    ):
        _, _, err = chain(capsys, "--dividend", "0", "-o", tmp_path / "out.csv")
        assert len(warnings(err)) == 1
        assert "calls below puts of the same strike by more than 1 volatility point at" in err
        assert "a dividend yield is likely missing or the rate is wrong" in err
        for options in ((), ("--forward", "parity")):
            _, _, err = chain(capsys, *options, "-o", tmp_path / "out.csv")
            assert warnings(err) == []

    @pytest.mark.parametrize("engine", ENGINES)
    def test_units_probably_wrong_warn_once_per_column_with_the_rows_concerned(
        self, capsys, tmp_path, engine
    ):
        text = EXAMPLE
        for line in (2, 3, 4):
            text = edit_cell(text, line, "rate", "4.3")
        text = edit_cell(text, 5, "dividend", "1.3")
        status, _, err = chain(
            capsys,
            write_chain(tmp_path, text),
            "--engine",
            engine,
            "--chunk-rows",
            2,
            "-o",
            tmp_path / "out.csv",
        )
        assert status == 0
        assert warnings(err) == [
            "warning:      rate outside [-0.05, 1]: percent meant? 0.043 is 4.3 % (3 rows)",
            "warning:      dividend outside [-1, 1]: percent meant? 0.013 is 1.3 % (1 rows)",
        ]

    def test_years_above_30_and_volatilities_above_5_warn(self, capsys, tmp_path):
        text = "type,strike,expiry,price,spot\nC,100,90,5,100\nC,100,0.5,95,100\nC,100,0.5,6,100\n"
        status, _, err = chain(
            capsys, write_chain(tmp_path, text), "--rate", "0.03", "-o", tmp_path / "o.csv"
        )
        assert status == 0
        assert warnings(err) == [
            "warning:      expiry above 30 years: days meant? (years = days / 365) (1 rows)",
            "warning:      iv above 5 (500 %) in 1 rows: prices, strikes and spot in different units?",
        ]


class TestCallPutPairs:
    @staticmethod
    def add(summary, t, strike, put, iv):
        n = len(t)
        x = SimpleNamespace(
            t=np.asarray(t, float),
            strike=np.asarray(strike, float),
            flag=np.where(np.asarray(put), -1, 1).astype(np.int8),
            model="bsm",
            expiries=np.unique([f"T = {v}" for v in t], return_inverse=True),
            quote_day=None,
            symbol=None,
        )
        summary._pair_calls_and_puts(SimpleNamespace(iv=np.asarray(iv, float)), x)
        summary.rows += n

    def test_pairs_are_found_across_chunks_and_only_on_the_same_strike_and_expiry(self):
        summary = Summary("f", "bsm")
        self.add(
            summary, [0.5, 0.5, 0.25], [100, 105, 100], [False, False, False], [0.20, 0.21, 0.30]
        )
        self.add(
            summary,
            [0.25, 0.5, 0.5, 0.5],
            [100, 100, 110, 105],
            [True, True, True, False],
            [0.25, 0.22, 0.2, 0.19],
        )
        # (0.5, 100): 0.20 - 0.22; (0.25, 100): 0.30 - 0.25; (0.5, 105) has two calls and no put.
        assert (summary.pairs, summary.calls_above, summary.calls_below) == (2, 1, 1)

    def test_rows_left_unmatched_are_bounded(self):
        summary = Summary("f", "bsm")
        n = 3 * PAIRS_PENDING
        for _ in range(3):
            self.add(summary, np.full(n, 0.5), np.arange(n), np.zeros(n, bool), np.full(n, 0.2))
        assert all(len(a) <= PAIRS_PENDING for a in summary.pending)

    def test_missing_dividend_seen_whatever_the_chunks(self, capsys, tmp_path):
        status, _, err = chain(
            capsys, "--dividend", "0", "--chunk-rows", 7, "-o", tmp_path / "out.csv"
        )
        assert status == 0 and "a dividend yield is likely missing" in err
