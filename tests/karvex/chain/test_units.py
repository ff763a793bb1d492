"""Units of a chain's numbers: premiums in units of the underlying, strikes
scaled by a power of ten and rates in percent are refused on the corpus'
samples and never on a sound chain (the samples, the vendor and example
chains, and hand-made chains near each rule's edge); stated units convert
exactly."""

import csv
import decimal
import math
import pathlib

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st
from shapes_support import SHAPES, load_truth

from karvex import black76
from karvex._chain.options import ChainError
from karvex._chain.units import (
    Units,
    check,
    check_rates,
    convert,
    decimal_shift,
    parse_units,
    premiums_in_currency,
)

DATA = pathlib.Path(__file__).resolve().parents[2] / "data"
PACKAGE_DATA = pathlib.Path(__file__).resolve().parents[3] / "python" / "karvex" / "data"

# Each sample: its path, delimiter, and the columns of type, strike, bid,
# ask (None: the price column is the premium) and underlying.
SAMPLES = {
    "crypto": (SHAPES / "crypto.csv", ",", "option_type", "strike", "bid_price", "ask_price",
               "underlying_price"),
    "academic": (SHAPES / "academic.csv", ",", "cp_flag", "strike_price", "best_bid",
                 "best_offer", "forward_price"),
    "european": (SHAPES / "european.csv", ";", "call_put", "strike", "bid", "ask",
                 "underlying_price"),
    "intraday": (SHAPES / "intraday.csv", ",", "option_type", "strike", "bid", "ask",
                 "underlying_price"),
    "multi": (SHAPES / "multi.csv", ",", "option_type", "strike", "bid", "ask",
              "underlying_price"),
    "mapped": (SHAPES / "mapped.csv", ",", "PutCall", "StrikePx", "BidPx", "AskPx", "UndlPx"),
    "am_settled": (SHAPES / "am_settled.csv", ",", "option_type", "strike", "bid", "ask",
                   "underlying_price"),
    "epoch_ms": (SHAPES / "epoch_ms.csv", ",", "option_type", "strike", "bid", "ask",
                 "underlying_price"),
    "wide_calls": (SHAPES / "wide.csv", ",", None, "strike", "call_bid", "call_ask",
                   "underlying_price"),
    "wide_puts": (SHAPES / "wide.csv", ",", None, "strike", "put_bid", "put_ask",
                  "underlying_price"),
    "vendor": (DATA / "vendor_chain.csv", ",", "option_type", "strike", "bid", "ask",
               "underlying_price"),
    "example": (PACKAGE_DATA / "example_chain.csv", ",", "type", "strike", "price", None, "spot"),
}  # fmt: skip


def number(text):
    return float(text.replace(",", ".")) if text else math.nan


def sample(name):
    """(is_call, strike, premium, underlying) of a sample: the premium is the
    mid of a two-sided market (bid above 0, not crossed), else NaN."""
    path, delimiter, kind, strike, bid, ask, underlying = SAMPLES[name]
    with open(path, newline="") as fh:
        rows = list(csv.DictReader(fh, delimiter=delimiter))
    if kind is None:
        is_call = np.full(len(rows), name.endswith("calls"))
    else:
        is_call = np.array([r[kind].lower() in ("c", "call") for r in rows])
    column = {key: np.array([number(r[key]) for r in rows]) for key in (strike, bid, underlying)}
    premium = column[bid]
    if ask is not None:
        b, a = column[bid], np.array([number(r[ask]) for r in rows])
        premium = np.where((b > 0) & (a >= b), 0.5 * (b + a), np.nan)
    return is_call, column[strike], premium, column[underlying]


def refusal(units, *arrays, **kw):
    with pytest.raises(ChainError) as error:
        check(units, *arrays, **kw)
    return str(error.value)


class TestCorpus:
    def test_crypto_premiums_in_coins_are_refused_with_the_numbers_and_the_option(self):
        message = refusal(Units(), *sample("crypto"))
        assert "units of the underlying" in message and "--price-unit underlying" in message
        assert "1.038e-05" in message and "97,359.67" in message  # the median ratio and spot
        assert "\n" not in message

    def test_crypto_stated_in_coins_converts_to_the_truths_mids_and_vols(self):
        is_call, strike, premium, underlying = sample("crypto")
        check(Units(price="underlying"), is_call, strike, premium, underlying)
        mids = premiums_in_currency(premium, underlying)
        truth = load_truth("crypto")
        ok = truth["expect"] == "ok"
        np.testing.assert_allclose(mids[truth["row"][ok]], truth["mid"][ok], rtol=1e-12)
        # At the true times, the converted mids give back the true vols
        # wherever 0.002 of vol moves the price by half a cent or more.
        iv = black76.iv(mids[truth["row"]], truth["type"], truth["forward"], truth["strike"],
                        truth["years"], 0.0)  # fmt: skip
        vega = black76.vega(truth["forward"], truth["strike"], truth["years"], 0.0, truth["sigma"])
        pinned = ok & (vega * 0.002 >= 0.005)
        assert pinned.sum() > 50
        error = np.abs(iv - truth["sigma"])[pinned]
        allowed = 2 * np.abs(truth["mid"] - truth["price"])[pinned] / vega[pinned] + 1e-4
        assert np.all(error <= allowed)

    def test_academic_strikes_x1000_are_refused_before_the_premiums_are_judged(self):
        message = refusal(Units(), *sample("academic"))
        assert "--strike-scale 0.001" in message and "scaled by 1000" in message
        assert "991.2" in message  # the median strike / forward

    def test_academic_with_the_scale_stated_has_the_truths_strikes_exactly(self):
        is_call, strike, premium, forward = sample("academic")
        strike, _, _ = convert(parse_units(strike_scale="0.001"), strike)
        check(Units(strike_scale=0.001), is_call, strike, premium, forward)
        truth = load_truth("academic")
        assert list(strike[truth["row"]]) == list(truth["strike"])

    def test_a_wrong_scale_stated_is_refused_with_the_right_one(self):
        is_call, strike, premium, forward = sample("academic")
        units = Units(strike_scale=0.01)
        message = refusal(units, is_call, convert(units, strike)[0], premium, forward)
        assert "after --strike-scale 0.01" in message and "state --strike-scale 0.001" in message

    @pytest.mark.parametrize("name", [n for n in SAMPLES if n not in ("crypto", "academic")])
    def test_sound_chains_pass(self, name):
        check(Units(), *sample(name))


def chain(spot, strikes, premium_of, expiries=(7, 30, 91)):
    """A chain of calls and puts at every strike and expiry (days), priced by
    premium_of(is_call, strike, years)."""
    rows = [(c, k, premium_of(c, k, d / 365.0)) for d in expiries for k in strikes for c in (1, 0)]
    is_call, strike, premium = (np.array(x) for x in zip(*rows))
    return is_call.astype(bool), strike.astype(float), premium, np.full(len(rows), float(spot))


def market(spot, vol, tick):
    """Black-76 prices at `vol`, on the tick; under half a tick: no bid (NaN)."""

    def premium(is_call, strike, t):
        price = float(black76.price("c" if is_call else "p", spot, strike, t, 0.0, vol))
        quoted = round(price / tick) * tick
        return quoted if quoted > 0 else math.nan

    return premium


class TestCounterexamples:
    def test_penny_options_on_a_cheap_stock_pass(self):
        check(Units(), *chain(2.37, np.arange(1.0, 5.5, 0.5), market(2.37, 0.9, 0.01)))

    def test_deep_wings_of_an_index_quoted_at_the_minimum_pass_alone_and_in_a_chain(self):
        """Out of the money far out, calls above 6,000 and puts below 4,000
        at 0.05 (their in-the-money sides unquoted, or at their value)."""
        wings = np.r_[np.arange(3000.0, 4000.0, 100.0), np.arange(6000.0, 7000.0, 100.0)]

        def wing(is_call, strike, t):
            return 0.05 if is_call == (strike > 5000.0) else math.nan

        check(Units(), *chain(5000.0, wings, wing))
        prices = market(5000.0, 0.15, 0.05)

        def wing_or_market(is_call, strike, t):
            return wing(is_call, strike, t) if strike in wings else prices(is_call, strike, t)

        check(
            Units(), *chain(5000.0, np.r_[wings, np.arange(4500.0, 5600.0, 25.0)], wing_or_market)
        )

    def test_out_of_the_money_options_on_an_index_expiring_within_the_hour_pass(self):
        """Near the money the premiums are a few points (2.5 at the money):
        over the 1.1 a premium in units of the underlying stays under."""
        prices = market(5000.0, 0.12, 0.05)

        def otm(is_call, strike, t):
            return prices(is_call, strike, t) if is_call == (strike >= 5000.0) else math.nan

        strikes = np.arange(4950.0, 5055.0, 5.0)
        check(Units(), *chain(5000.0, strikes, otm, expiries=(1 / 24,)))

    def test_a_few_bad_rows_neither_hide_nor_raise_a_unit_error(self):
        is_call, strike, premium, spot = sample("crypto")
        premium = premium.copy()
        itm = np.flatnonzero(np.where(is_call, strike < 0.9 * spot, strike > 1.1 * spot))
        premium[itm[:5]] *= spot[itm[:5]]  # five rows in currency among coins
        assert "--price-unit underlying" in refusal(Units(), is_call, strike, premium, spot)
        is_call, strike, premium, spot = sample("vendor")
        premium = premium.copy()
        premium[:40] = 0.001  # forty junk rows
        check(Units(), is_call, strike, premium, spot)

    def test_out_of_the_money_coin_quotes_are_refused_by_their_bound(self):
        """No option in the money: near the money, every premium under 1.1
        at an underlying of 1,000 or more says units of the underlying."""
        is_call, strike, premium, spot = sample("crypto")
        otm = np.where(is_call, strike >= spot, strike <= spot)
        message = refusal(Units(), is_call[otm], strike[otm], premium[otm], spot[otm])
        assert "near the money" in message and "--price-unit underlying" in message

    def test_currency_premiums_stated_in_coins_are_refused(self):
        message = refusal(Units(price="underlying"), *sample("epoch_ms"))
        assert "look quoted in currency" in message

    def test_quote_unit_insists_on_currency(self):
        check(Units(price="quote"), *sample("crypto"))

    def test_a_bad_group_is_named(self):
        crypto, vendor = sample("crypto"), sample("vendor")
        arrays = [np.r_[a, b] for a, b in zip(vendor, crypto)]
        groups = np.r_[np.zeros(len(vendor[0]), int), np.ones(len(crypto[0]), int)]
        message = refusal(Units(), *arrays, groups=groups, names=["KVXI", "BTC 2025-03-15"])
        assert message.startswith("BTC 2025-03-15: premiums look quoted in units")


class TestRates:
    @pytest.mark.parametrize(
        "what, values",
        [
            ("rate", [0.043, 0.05]),
            ("rate", [0.405] * 3),  # 50 % simple, continuously compounded
            ("rate", [-0.0075] * 3),  # the lowest policy rate there was
            ("rate", [1.0] * 3),
            ("rate", [4.3, 4.3]),  # too few to judge: the per-row warning's
            ("dividend", [-0.07] * 3),  # a coin's basis as a negative yield
            ("dividend", [0.013, math.nan, 0.013, 0.013]),
        ],
    )
    def test_decimals_pass(self, what, values):
        check_rates(np.array(values), what, None)

    @pytest.mark.parametrize(
        "what, values, shown",
        [
            ("rate", [4.3, 4.3, 0.043], "median 4.3"),  # robust to a decimal among percents
            ("rate", [-0.5] * 3, "median -0.5"),
            ("dividend", [1.3] * 3, "median 1.3"),
            ("dividend", [-2.0] * 3, "median -2"),
        ],
    )
    def test_percent_is_refused_naming_the_option(self, what, values, shown):
        with pytest.raises(ChainError) as error:
            check_rates(np.array(values), what, None)
        assert f"--{what}-unit percent" in str(error.value)
        with pytest.raises(ChainError) as error:  # the option's one value
            check_rates(np.array(values[:1]), what, None, min_rows=1)
        assert shown in str(error.value) and f"--{what}-unit percent" in str(error.value)

    def test_stated_percent_converts_to_the_decimal_written(self):
        units = Units(rate="percent", dividend="percent")
        _, r, q = convert(units, np.array([5100.0]), np.array([4.3, 0.25]), np.array([1.3]))
        assert list(r) == [0.043, 0.0025] and list(q) == [0.013]
        check(units, np.array([True]), np.array([100.0]), np.array([5.0]), np.array([100.0]), r, q)

    def test_rates_are_checked_in_check(self):
        args = sample("example")
        with pytest.raises(ChainError, match="--rate-unit percent"):
            check(Units(), *args, rate=np.full(len(args[0]), 4.3))


@given(st.decimals(min_value=-(10**9), max_value=10**9, places=6, allow_nan=False))
def test_decimal_shift_is_the_decimal_result_rounded_once(value):
    x = float(str(value))
    for places in (-3, -2, 2, 3):
        want = float(decimal.Decimal(repr(x)).scaleb(places))
        assert decimal_shift(np.array([x]), places)[0] == want


def test_strike_scale_moves_the_decimal_point():
    strikes = np.array([5612500.0, 5100000.0, 1234567.0, math.nan])
    scaled, _, _ = convert(Units(strike_scale=0.001), strikes)
    np.testing.assert_array_equal(scaled, [5612.5, 5100.0, 1234.567, math.nan])
    assert convert(Units(strike_scale=0.5), strikes)[0][0] == 2806250.0


@pytest.mark.parametrize(
    "kw, option",
    [
        ({"price": "coins"}, "--price-unit"),
        ({"strike_scale": "0"}, "--strike-scale"),
        ({"strike_scale": "x"}, "--strike-scale"),
        ({"rate": "pct"}, "--rate-unit"),
        ({"dividend": "bp"}, "--dividend-unit"),
    ],
)
def test_bad_unit_options_name_the_option(kw, option):
    with pytest.raises(ChainError, match=option):
        parse_units(**kw)


def test_premiums_in_units_of_a_missing_underlying_are_an_error():
    with pytest.raises(ChainError, match="spot or forward column"):
        premiums_in_currency(np.array([0.1]), None)
