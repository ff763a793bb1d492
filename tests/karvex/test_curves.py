"""karvex.Curve: QuantLib's curves, extrapolation, parsing and reading, validation."""

import csv
import pathlib
import pickle
from collections import defaultdict

import numpy as np
import pytest

from karvex.curves import INTERPOLATIONS, Curve, RateCurve, tenor_years

TABLE = pathlib.Path(__file__).parents[1] / "data" / "curves.csv"


def read_table():
    nodes, points = defaultdict(list), defaultdict(list)
    with open(TABLE, newline="") as f:
        f.readline()
        for row in csv.DictReader(f):
            number = {k: float(v) if v else np.nan for k, v in row.items() if k not in
                      ("row", "curve", "interpolation")}  # fmt: skip
            if row["row"] == "node":
                nodes[row["curve"]].append(number)
            else:
                points[row["curve"], row["interpolation"]].append(number)

    def columns(rows):
        return {k: np.array([r[k] for r in rows]) for k in rows[0]}

    return {k: columns(v) for k, v in nodes.items()}, {k: columns(v) for k, v in points.items()}


NODES, POINTS = read_table()


def quantlibs_nodes(name, interpolation):
    """The curve on the nodes QuantLib was given: discount factors for flat
    forwards (QuantLib's DiscountCurve), zero rates for linear zero rates."""
    node = NODES[name]
    if interpolation == "flat_forward":
        return Curve.from_discount_factors(node["t"], node["discount"], interpolation)
    return Curve.from_zero_rates(node["t"], node["zero"], interpolation)


@pytest.mark.parametrize("name,interpolation", sorted(POINTS))
def test_curves_agree_with_quantlib(name, interpolation):
    curve, want = quantlibs_nodes(name, interpolation), POINTS[name, interpolation]
    t, t1 = want["t"], want["t1"]
    # QuantLib derives zero and forward rates from discount factors, so its
    # rates carry an absolute error of a few 1e-16 in z * t (in f * (t - t1)).
    np.testing.assert_allclose(curve.discount(t), want["discount"], rtol=2e-15, atol=0)
    assert np.max(np.abs(curve.zero_rate(t) - want["zero"]) * t) <= 2e-15
    has = ~np.isnan(t1)
    forward = curve.forward_rate(t1[has], t[has])
    assert np.max(np.abs(forward - want["forward"][has]) * (t[has] - t1[has])) <= 2e-15
    far = t >= 1.0
    np.testing.assert_allclose(curve.zero_rate(t[far]), want["zero"][far], rtol=1e-14, atol=2e-16)


@pytest.mark.parametrize("name", sorted(NODES))
def test_flat_forwards_from_zero_rates_are_quantlibs_curve_up_to_the_nodes_rounding(name):
    # -z t and log(exp(-z t)) differ in the last bit; the slope past the last
    # tenor magnifies that by t / (t_n - t_n-1).
    curve = Curve.from_zero_rates(NODES[name]["t"], NODES[name]["zero"])
    want = POINTS[name, "flat_forward"]
    np.testing.assert_allclose(curve.discount(want["t"]), want["discount"], rtol=1e-12)


@pytest.mark.parametrize("interpolation", INTERPOLATIONS)
def test_zero_rates_are_flat_before_the_first_tenor_and_forwards_flat_beyond_the_last(
    interpolation,
):
    curve = Curve.from_zero_rates([0.5, 1.0, 2.0], [0.03, 0.04, 0.035], interpolation)
    assert list(curve.zero_rate([-1.0, 0.0, 0.25, 0.5])) == [0.03] * 4
    assert curve.discount(0.0) == 1.0
    far = curve.forward_rate(2.0, 2.0)  # the instantaneous forward at the last tenor
    assert far == pytest.approx(0.03 if interpolation == "flat_forward" else 0.025, abs=1e-16)
    for t1, t2 in [(2.0, 3.0), (5.0, 40.0), (2.5, 2.5)]:
        assert curve.forward_rate(t1, t2) == pytest.approx(far, abs=1e-15)
    assert curve.zero_rate(np.inf) == pytest.approx(far, abs=1e-16)
    # continuous at the tenors, the given rates at them
    for i, t in enumerate(curve.tenors):
        below, at, above = curve.zero_rate([t * (1 - 1e-12), t, t * (1 + 1e-12)])
        assert at == pytest.approx(curve.zero_rates[i], abs=1e-17)
        assert below == pytest.approx(at, abs=1e-13) and above == pytest.approx(at, abs=1e-13)


@pytest.mark.parametrize("interpolation", INTERPOLATIONS)
def test_forward_rates_are_the_log_ratio_of_discounts_and_their_limit(interpolation):
    curve = Curve.parse("1w=0.05,3m=0.045,1y=0.04,5y=0.043", interpolation)
    t1 = np.array([0.01, 0.1, 0.3, 0.9, 3.0, 7.0])
    t2 = t1 + np.array([0.05, 0.5, 1.0, 0.05, 1.0, 3.0])
    p1, p2 = curve.discount(t1), curve.discount(t2)
    np.testing.assert_allclose(curve.forward_rate(t1, t2), np.log(p1 / p2) / (t2 - t1), rtol=1e-12)
    np.testing.assert_array_equal(curve.forward_rate(t2, t1), curve.forward_rate(t1, t2))
    h = 1e-7  # one-sided numerical derivative of z t against the instantaneous forward
    numerical = (curve.zero_rate(t1 + h) * (t1 + h) - curve.zero_rate(t1) * t1) / h
    np.testing.assert_allclose(curve.forward_rate(t1, t1), numerical, atol=1e-7)


def test_times_of_any_shape_give_arrays_of_that_shape_and_scalars_floats():
    curve = Curve.parse("3m=0.04,2y=0.05")
    t = np.linspace(0.0, 5.0, 12).reshape(3, 4)
    for method in (curve.zero_rate, curve.discount):
        got = method(t)
        assert got.shape == (3, 4) and got.dtype == np.float64
        assert [method(float(x)) for x in t.ravel()] == list(got.ravel())
        assert type(method(1)) is float and np.isnan(method(np.nan))
    assert curve.forward_rate(np.array([[0.5], [1.0]]), [1.0, 2.0, 3.0]).shape == (2, 3)
    with pytest.raises(TypeError, match="numbers"):
        curve.zero_rate(["1y"])


def test_tenor_texts_are_years_days_weeks_months():
    assert [tenor_years(x) for x in ("1d", "2W", "18m", "0.5y", "2", ".25")] == [
        1 / 365,
        14 / 365,
        1.5,
        0.5,
        2.0,
        0.25,
    ]
    curve = Curve.parse("1m=0.043, 3m=4.4%;1y=0.045\t2y=0.041")
    assert list(curve.tenors) == [1 / 12, 0.25, 1.0, 2.0]
    mixed = np.array(["1m", 0.25, "1y", "2y"], dtype=object)
    assert Curve(mixed, curve.zero_rates) == curve
    assert curve.zero_rates[1] == 0.044
    assert Curve.parse(curve.pairs()) == curve
    assert curve.pairs() == "1m=0.043,3m=0.044,1y=0.045,2y=0.041"
    assert eval(repr(curve), {"Curve": Curve}) == curve
    assert Curve([10 / 365, 0.123], [0.01, 0.02]).pairs() == "10d=0.01,0.123=0.02"


def test_a_csv_file_gives_zero_rates_or_discount_factors(tmp_path):
    path = tmp_path / "curve.csv"
    path.write_text("# usd\ntenor,rate\n1m,0.043\n\n3m,4.4%\n1y,0.045\n")
    assert Curve.read_csv(path) == Curve.parse("1m=0.043,3m=0.044,1y=0.045")
    path.write_text("0.5,0.04\n1,0.05\n")
    assert Curve.read_csv(str(path), "linear_zero") == Curve(
        [0.5, 1.0], [0.04, 0.05], "linear_zero"
    )
    path.write_text("tenor,discount_factor\n6m,0.98\n1y,0.95\n")
    assert Curve.read_csv(path) == Curve.from_discount_factors([0.5, 1.0], [0.98, 0.95])
    for text, match in [
        ("tenor,price\n1y,0.9\n", "line 1: unknown column 'price'"),
        ("1y,0.04,x\n", "line 1: expected 2 cells"),
        ("tenor,rate\n1y,0.04\nsoon,0.05\n", "line 3: not a tenor and a number"),
        ("1y,0.05\n6m,0.04\n", "must increase strictly"),
        ("tenor,rate\n", "no curve points"),
    ]:
        path.write_text(text)
        with pytest.raises(ValueError, match=match):
            Curve.read_csv(path)


@pytest.mark.parametrize(
    "build,match",
    [
        (lambda: Curve([], []), "non-empty 1-D"),
        (lambda: Curve([1.0, 2.0], [0.01]), "differ in length"),
        (lambda: Curve([0.0, 1.0], [0.01, 0.02]), r"positive \(years\), got 0.0"),
        (lambda: Curve([-1.0], [0.01]), "positive"),
        (lambda: Curve([1.0, 1.0], [0.01, 0.02]), "increase strictly, got 1.0 at position 1"),
        (lambda: Curve([1.0, np.nan], [0.01, 0.02]), "tenors: not finite at position 1"),
        (lambda: Curve([1.0, 2.0], [0.01, np.inf]), "zero_rates: not finite at position 1"),
        (lambda: Curve([1.0], [[0.01]]), "1-D"),
        (lambda: Curve([1.0], [0.01], "cubic"), "unknown interpolation 'cubic'"),
        (lambda: Curve.from_discount_factors([1.0, 2.0], [0.9, 0.0]), "must be positive, got 0.0"),
        (lambda: Curve.from_discount_factors([1.0], [-0.5]), "must be positive"),
        (lambda: Curve.parse("1m=0.04,3x=0.05"), "not a tenor=rate pair .*'3x=0.05'"),
        (lambda: Curve.parse("1m:0.04"), "not a tenor=rate pair"),
        (lambda: Curve.parse(""), "not a tenor=rate pair"),
    ],
)
def test_bad_curves_are_refused_with_the_reason(build, match):
    with pytest.raises(ValueError, match=match):
        build()


def test_a_curve_is_immutable_hashable_and_pickles_to_the_same_doubles():
    curve = Curve.from_discount_factors(["6m", "1y"], [0.98, 0.95], "linear_zero")
    with pytest.raises(ValueError, match="read-only"):
        curve.tenors[0] = 2.0
    with pytest.raises(AttributeError, match="immutable"):
        curve.interpolation = "flat_forward"
    copy = pickle.loads(pickle.dumps(curve))
    assert copy == curve and hash(copy) == hash(curve) and copy.interpolation == "linear_zero"
    t = np.linspace(0, 3, 31)
    assert np.array_equal(copy.discount(t), curve.discount(t))
    assert curve != Curve.from_discount_factors(["6m", "1y"], [0.98, 0.95])
    assert isinstance(curve, RateCurve) and not isinstance(0.05, RateCurve)
    np.testing.assert_allclose(curve.discount_factors, [0.98, 0.95], rtol=1e-15)
