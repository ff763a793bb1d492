"""karvex.bsm / karvex.black76 keyword options: units of the Greeks."""

import datetime
import re

import numpy as np
import pytest

try:
    import pandas as pd
except ImportError:  # the tests without pandas
    pd = None

from karvex import Curve, _array, black76, bsm, year_fraction

MODELS = {"bsm": bsm, "black76": black76}
RNG = np.random.default_rng(19)
N = 7
ARRAYS = {
    "flag": RNG.choice(np.array([1, -1], np.int8), N),
    "s": RNG.uniform(50.0, 150.0, N),
    "f": RNG.uniform(50.0, 150.0, N),
    "k": RNG.uniform(50.0, 150.0, N),
    "t": RNG.uniform(0.01, 3.0, N),
    "r": RNG.uniform(-0.01, 0.08, N),
    "q": RNG.uniform(0.0, 0.05, N),
    "sigma": np.r_[RNG.uniform(0.05, 0.9, N - 2), np.nan, np.inf],
}
GREEKS = [(m, q) for m in MODELS for q in (*_array.GREEK_NAMES, "greeks")]


def bits(x):
    return np.asarray(x, np.float64).view(np.int64)


def args_of(model, quantity, scalar=False):
    names = _array.parameters(model, quantity)
    return [ARRAYS[n][0].item() if scalar else ARRAYS[n] for n in names]


def expected(model, name, raw, units, move, spot):
    factor = {"vega": 0.01, "rho": 0.01, "theta": {"desk": 1 / 365, "desk252": 1 / 252}}
    if name == "gamma":
        return raw * (spot * 0.01) if move == "pct" else raw
    f = factor.get(name)
    f = f.get(units) if isinstance(f, dict) else f
    return raw if units == "raw" or f is None else raw * f


@pytest.mark.parametrize("model,quantity", GREEKS)
@pytest.mark.parametrize("units", _array.UNITS)
@pytest.mark.parametrize("scalar", [False, True])
def test_units_are_one_multiplication_of_the_raw_value(model, quantity, units, scalar):
    fn = getattr(MODELS[model], quantity)
    args = args_of(model, quantity, scalar)
    spot = args[_array.entry_of(model, quantity).s_at]
    moves = ("unit", "pct") if quantity in ("gamma", "greeks") else (None,)
    for move in moves:
        options = {"units": units} | ({"gamma_move": move} if move else {})
        raw, got = fn(*args), fn(*args, **options)
        names = _array.GREEK_NAMES if quantity == "greeks" else (quantity,)
        for name, r, g in zip(
            names, raw if quantity == "greeks" else (raw,), got if quantity == "greeks" else (got,)
        ):
            assert type(g) is type(r)
            assert np.array_equal(bits(g), bits(expected(model, name, r, units, move, spot)))


def test_units_reach_series_results_and_the_general_path():
    if pd is None:
        pytest.skip("pandas is not installed")
    k = pd.Series([90.0, 100.0], index=["a", "b"])
    got = bsm.greeks("c", 100, k, 0.5, 0.03, 0.0, 0.2, units="desk", gamma_move="pct")
    raw = bsm.greeks("c", 100, k, 0.5, 0.03, 0.0, 0.2)
    assert list(got.index) == ["a", "b"]
    assert np.array_equal(bits(got.theta), bits(raw.theta * (1 / 365)))
    assert np.array_equal(bits(got.gamma), bits(raw.gamma * (100 * 0.01)))
    f32 = bsm.vega(np.float32(100), [[90], [110]], 0.5, 0.03, 0, 0.2, units="desk")
    assert f32.shape == (2, 1)


def test_default_units_are_the_core_bits_and_unknown_units_are_refused():
    args = args_of("bsm", "theta")
    assert np.array_equal(bits(bsm.theta(*args, units="raw")), bits(bsm.theta(*args)))
    with pytest.raises(
        ValueError,
        match=r"karvex.bsm.vega\(\): units must be one of 'raw', 'desk', 'desk252', not 'day'",
    ):
        bsm.vega(100, 100, 1, 0, 0, 0.2, units="day")
    for _ in range(2):  # checked once, then known; a list is no units
        assert (
            bsm.vega(100, 100, 1, 0, 0, 0.2, units="desk")
            == bsm.vega(100, 100, 1, 0, 0, 0.2) * 0.01
        )
        with pytest.raises(ValueError, match=r"units must be one of .*, not \['desk'\]"):
            bsm.vega(100, 100, 1, 0, 0, 0.2, units=["desk"])
    with pytest.raises(ValueError, match="gamma_move must be one of 'unit', 'pct'"):
        black76.gamma(100, 100, 1, 0, 0.2, gamma_move="1%")
    for call in (
        lambda: bsm.price("c", 100, 100, 1, 0, 0, 0.2, units="desk"),
        lambda: bsm.vega(100, 100, 1, 0, 0, 0.2, gamma_move="pct"),
    ):
        with pytest.raises(TypeError, match="unexpected keyword argument"):
            call()


CURVE = Curve.parse("1m=0.043,3m=0.044,1y=0.045,2y=0.041")
DIVIDENDS = Curve.from_zero_rates([0.5, 2.0], [0.01, 0.02], interpolation="linear_zero")


@pytest.mark.parametrize("model,quantity", [(m, q) for m in MODELS for q in _array.QUANTITIES])
def test_curves_give_the_bits_of_their_zero_rates_at_each_t(model, quantity):
    fn = getattr(MODELS[model], quantity)
    names = _array.parameters(model, quantity)
    price = bsm.price(ARRAYS["flag"], ARRAYS["s"], ARRAYS["k"], ARRAYS["t"], 0.04, 0.01, 0.3)
    t_forms = [ARRAYS["t"], ARRAYS["t"][:, None], list(ARRAYS["t"]), 0.75]
    for t in t_forms:
        given = {n: price if n == "target_price" else ARRAYS[n] for n in names} | {"t": t}
        by_hand = given | {"r": CURVE.zero_rate(t)}
        given["r"] = CURVE
        if "q" in names:
            given["q"], by_hand["q"] = DIVIDENDS, DIVIDENDS.zero_rate(t)
        got, want = fn(**given), fn(**by_hand)
        assert np.array_equal(bits(got), bits(want))


def test_curves_with_series_keep_the_index_and_bad_times_name_t():
    if pd is None:
        pytest.skip("pandas is not installed")
    t = pd.Series([0.25, 1.5], index=["x", "y"])
    got = bsm.price("c", 100.0, 100.0, t, CURVE, 0.0, 0.2)
    assert list(got.index) == ["x", "y"]
    assert np.array_equal(
        bits(got), bits(bsm.price("c", 100.0, 100.0, t, CURVE.zero_rate(t), 0.0, 0.2))
    )
    labelled = pd.Series([0.01, 0.02], index=["zero_rate", "other"])  # a rate, not a curve
    assert np.array_equal(
        bits(bsm.price("c", 100.0, 100.0, 1.0, labelled, 0.0, 0.2)),
        bits(bsm.price("c", 100.0, 100.0, 1.0, [0.01, 0.02], 0.0, 0.2)),
    )
    with pytest.raises(TypeError, match=r"karvex.bsm.price\(\): argument 't' must be numbers"):
        bsm.price("c", 100.0, 100.0, "1y", CURVE, 0.0, 0.2)


START = np.array(["2024-01-31T09:30", "2024-02-28", "2024-12-31T16:00"], "M8[m]")
EXPIRY = np.array(["2024-03-15T16:00", "2025-02-28", "2026-01-02"], "M8[s]")


@pytest.mark.parametrize("day_count", ["act/365f", "Actual/360"])
def test_durations_are_the_act_year_fractions_of_their_dates(day_count):
    years = year_fraction(START, EXPIRY, day_count)
    want = bsm.price("c", 100.0, 100.0, years, 0.03, 0.0, 0.2)
    kw = {} if day_count == "act/365f" else {"day_count": day_count}
    durations = EXPIRY - START
    forms = [
        durations,
        durations.astype("m8[ns]"),
        list(durations.astype(datetime.timedelta)),
    ]
    if pd is not None:
        forms.append(pd.Series(durations, index=list("abc")))
    for t in forms:
        got = bsm.price("c", 100.0, 100.0, t, 0.03, 0.0, 0.2, **kw)
        assert np.array_equal(bits(got), bits(want))
    if pd is not None:
        assert list(got.index) == list("abc")
    one = bsm.iv(5.0, "c", 100.0, 100.0, datetime.timedelta(days=30), 0.03, 0.0, **kw)
    assert one == bsm.iv(
        5.0,
        "c",
        100.0,
        100.0,
        year_fraction(START[1], START[1] + np.timedelta64(30, "D"), day_count),
        0.03,
        0.0,
    )
    if pd is not None:
        assert bsm.price("c", 100, 100, pd.Timedelta(days=30), 0.03, 0, 0.2, **kw) == bsm.price(
            "c", 100, 100, np.timedelta64(30, "D"), 0.03, 0, 0.2, **kw
        )


def test_durations_meet_curves_and_missing_durations_give_nan():
    t = np.array([7, 400, "NaT"], "m8[D]")
    got = bsm.rho("p", 100.0, 95.0, t, CURVE, 0.0, 0.2, units="desk")
    years = (t / np.timedelta64(1, "D")) / 365.0
    assert np.array_equal(
        bits(got), bits(bsm.rho("p", 100.0, 95.0, years, CURVE.zero_rate(years), 0.0, 0.2) * 0.01)
    )
    assert np.isnan(got[2])


@pytest.mark.parametrize(
    "call, pattern",
    [
        (
            lambda: bsm.price(
                "c", 100, 100, np.timedelta64(30, "D"), 0, 0, 0.2, day_count="30/360"
            ),
            "day_count '30/360' counts calendar dates",
        ),
        (
            lambda: bsm.price("c", 100, 100, 0.5, 0, 0, 0.2, day_count="bus/252"),
            "day_count 'bus/252' counts calendar dates",
        ),
        (
            lambda: bsm.price("c", 100, 100, 0.5, 0, 0, 0.2, day_count="act/364"),
            "unknown day count 'act/364'",
        ),
        (
            lambda: bsm.price("c", 100, 100, np.datetime64("2025-01-01"), 0, 0, 0.2),
            "argument 't' is a time to expiry, not a date",
        ),
    ],
)
def test_durations_refuse_calendar_conventions_and_dates(call, pattern):
    with pytest.raises(
        (ValueError, TypeError), match=r"^karvex.bsm.price\(\): .*" + re.escape(pattern)
    ):
        call()


def test_out_receives_the_result_in_every_layout_and_is_returned():
    k = np.array([[90.0, 100.0, 110.0]] * 2)
    want = bsm.theta("c", 100.0, k, 0.5, 0.03, 0.0, 0.2, units="desk")
    for out in (np.empty((2, 3)), np.empty((2, 3), order="F"), np.empty((2, 6))[:, ::2]):
        got = bsm.theta("c", 100.0, k, 0.5, 0.03, 0.0, 0.2, units="desk", out=out)
        assert got is out and np.array_equal(bits(out), bits(want))
    inplace = k.copy()  # out may be an argument: the core reads it before it is written
    bsm.price("c", 100.0, inplace, 0.5, 0.03, 0.0, 0.2, out=inplace)
    assert np.array_equal(bits(inplace), bits(bsm.price("c", 100.0, k, 0.5, 0.03, 0.0, 0.2)))
    outs = tuple(np.empty(3) for _ in range(5))
    got = black76.greeks("p", 100.0, k[0], 0.5, 0.03, [0.2, np.nan, np.inf], out=outs)
    assert all(g is o for g, o in zip(got, outs))
    for g, w in zip(got, black76.greeks("p", 100.0, k[0], 0.5, 0.03, [0.2, np.nan, np.inf])):
        assert np.array_equal(bits(g), bits(w))
    zero_d = np.empty(())
    assert bsm.iv(10.45, "c", 100.0, 100.0, 1.0, 0.05, 0.0, out=zero_d) is zero_d
    assert zero_d == bsm.iv(10.45, "c", 100.0, 100.0, 1.0, 0.05, 0.0)


def test_out_in_the_inputs_layout_is_written_by_the_core_without_a_copy(monkeypatch):
    k = np.array([[90.0, 100.0, 110.0]] * 2)
    want = bsm.greeks("c", 100.0, k, 0.5, 0.03, 0.0, [0.2, np.nan, np.inf], units="desk")
    copies = []
    monkeypatch.setattr(np, "copyto", lambda *a, **kw: copies.append(a))
    outs = tuple(np.empty((2, 3)) for _ in range(5))
    got = bsm.greeks("c", 100.0, k, 0.5, 0.03, 0.0, [0.2, np.nan, np.inf], units="desk", out=outs)
    assert copies == [] and all(g is o for g, o in zip(got, outs))
    for g, w in zip(got, want):  # the NaN rule, the limits and the units applied in out
        assert np.array_equal(bits(g), bits(w))
    fortran = np.asfortranarray(k)
    out = np.empty((2, 3), order="F")
    assert bsm.price("p", 100.0, fortran, 0.5, 0.03, 0.0, 0.2, out=out) is out
    assert copies == []
    assert np.array_equal(bits(out), bits(bsm.price("p", 100.0, k, 0.5, 0.03, 0.0, 0.2)))


@pytest.mark.parametrize(
    "out, exc, pattern",
    [
        (
            np.empty(3, np.float32),
            TypeError,
            "out must be a float64 NumPy array, not dtype float32",
        ),
        ([0.0, 0.0, 0.0], TypeError, "out must be a float64 NumPy array, not list"),
        (np.empty(4), ValueError, r"out has shape \(4,\), the arguments broadcast to \(3,\)"),
        (np.empty((1, 3)), ValueError, r"out has shape \(1, 3\)"),
        (np.broadcast_to(np.empty(1), (3,)), ValueError, "out is read-only"),
    ],
)
def test_out_of_the_wrong_kind_is_refused_before_any_work(out, exc, pattern):
    with pytest.raises(exc, match=r"^karvex.bsm.price\(\): " + pattern):
        bsm.price("c", 100.0, [90.0, 100.0, 110.0], 0.5, 0.03, 0.0, 0.2, out=out)
    with pytest.raises(TypeError, match="out must be a tuple of five float64 arrays"):
        bsm.greeks("c", 100.0, [90.0, 100.0, 110.0], 0.5, 0.03, 0.0, 0.2, out=np.empty(3))
    with pytest.raises(TypeError, match="unexpected keyword argument 'out'"):
        bsm.iv_status(10.0, "c", 100.0, 100.0, 1.0, 0.05, 0.0, out=np.empty(()))
