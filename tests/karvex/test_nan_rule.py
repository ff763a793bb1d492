"""karvex.bsm / karvex.black76: NaN stays NaN, infinite volatility gives the limits, and
everything else stays the core's bits."""

import math

import numpy as np
import pytest

from karvex import _array, _core, black76, bsm

MODELS = {"bsm": bsm, "black76": black76}
NAN_RULE = [
    (m, q) for m in MODELS for q in ("price", "delta", "gamma", "vega", "theta", "rho", "greeks")
]
FIELDS = ("price", "delta", "gamma", "vega", "theta", "rho")


def sample(model, quantity, n=400, seed=7):
    """Arguments over ordinary and degenerate options: expired, zero and negative volatility,
    zero rates, flags of both signs."""
    rng = np.random.default_rng(seed)
    values = {
        "flag": rng.choice(np.array([-1, 1], np.int8), n),
        "s": rng.uniform(50.0, 150.0, n),
        "f": rng.uniform(50.0, 150.0, n),
        "k": rng.uniform(50.0, 150.0, n),
        "t": rng.choice([-0.5, 0.0, 0.25, 1.0, 3.0], n),
        "r": rng.choice([0.0, 0.03, -0.01], n),
        "q": rng.choice([0.0, 0.02], n),
        "sigma": rng.choice([-0.2, 0.0, 0.15, 0.6], n),
        "target_price": rng.uniform(0, 30, n),
    }
    return [values[name] for name in _array.parameters(model, quantity)]


def outputs(result):
    return [np.asarray(r, np.float64) for r in (result if isinstance(result, tuple) else (result,))]


def same_bits(a, b):
    return np.array_equal(
        np.asarray(a, np.float64).view(np.int64), np.asarray(b, np.float64).view(np.int64)
    )


@pytest.mark.parametrize("model,quantity", NAN_RULE)
def test_a_nan_input_makes_every_quantity_nan_and_leaves_the_others_core_bits(model, quantity):
    names = _array.parameters(model, quantity)
    args = sample(model, quantity)
    core = getattr(_core, f"{model}_{quantity}")
    function = getattr(MODELS[model], quantity)
    for at, name in enumerate(names):
        if name == "flag":
            continue
        poisoned = [a.copy() for a in args]
        poisoned[at][::7] = np.nan
        got, want = outputs(function(*poisoned)), outputs(core(*poisoned))
        nan = np.zeros(len(args[0]), bool)
        nan[::7] = True
        for g, w in zip(got, want):
            assert np.isnan(g[nan]).all(), name
            assert same_bits(g[~nan], w[~nan]), name
        # The core itself leaves many of those finite: the rule is the array API's own.
        if quantity == "price":
            assert not np.isnan(want[0][nan]).all()


@pytest.mark.parametrize("model,quantity", NAN_RULE)
def test_scalar_calls_follow_the_same_rule_as_arrays(model, quantity):
    names = _array.parameters(model, quantity)
    function = getattr(MODELS[model], quantity)
    base = {
        "flag": -1,
        "s": 100.0,
        "f": 100.0,
        "k": 90.0,
        "t": 0.0,
        "r": 0.03,
        "q": 0.01,
        "sigma": 0.2,
    }
    for name in names[names[0] == "flag" :]:
        for bad in (math.nan, math.inf) if name == "sigma" else (math.nan,):
            for t in (0.0, 0.5):
                values = {**base, "t": t, name: bad}
                args = [values[n] for n in names]
                scalar = function(*args)
                array = function(
                    *[
                        np.array([v], np.int8 if n == "flag" else np.float64)
                        for n, v in zip(names, args)
                    ]
                )
                for g, w in zip(outputs(scalar), outputs(array)):
                    assert same_bits(np.atleast_1d(g), w)


def limits(model, put, s, k, t, r, q):
    """Price, delta, gamma, vega, theta, rho as the volatility grows, from their formulas."""
    if model == "black76":
        q = r
    dq, dr = math.exp(-q * t), math.exp(-r * t)
    if put:
        price, delta, theta = k * dr, 0.0, r * k * dr
    else:
        price, delta, theta = s * dq, dq, q * s * dq
    if model == "black76":
        rho = -t * price
    else:
        rho = -k * t * dr if put else 0.0
    return dict(zip(FIELDS, (price, delta, 0.0, 0.0, theta, rho)))


@pytest.mark.parametrize("model,quantity", NAN_RULE)
@pytest.mark.parametrize("flag", [1, -1])
def test_infinite_volatility_gives_the_limits(model, quantity, flag):
    names = _array.parameters(model, quantity)
    function = getattr(MODELS[model], quantity)
    core = getattr(_core, f"{model}_{quantity}_scalar")
    rng = np.random.default_rng(11)
    for _ in range(50):
        s, k = rng.uniform(50.0, 150.0, 2)
        t, r, q = rng.uniform(0.05, 3.0), rng.uniform(-0.02, 0.08), rng.uniform(0.0, 0.05)
        values = {"flag": flag, "s": s, "f": s, "k": k, "t": t, "r": r, "q": q}
        got = outputs(function(*[values.get(n, math.inf) for n in names]))
        want = limits(model, flag < 0, s, k, t, r, q)
        # The core at a volatility large enough that every density term has vanished.
        huge = outputs(core(*[values.get(n, 1e4) for n in names]))
        wanted = FIELDS[1:] if quantity == "greeks" else (quantity,)
        for g, h, name in zip(got, huge, wanted):
            assert g == pytest.approx(want[name], rel=1e-14, abs=1e-300), name
            assert g == pytest.approx(float(h), rel=1e-12, abs=1e-300), name


# Over t = 40,000 years, r = q = -0.02 makes the discount factors exp(800), which overflow to inf;
# r = q = 0.02 makes them underflow to 0. The limits are then the IEEE values of their formulas.
INF = math.inf
EXTREME_LIMITS = {
    # (model, flag, r and q): price, delta, gamma, vega, theta, rho
    ("bsm", 1, -0.02): (INF, INF, 0.0, 0.0, -INF, 0.0),
    ("bsm", -1, -0.02): (INF, -0.0, 0.0, 0.0, -INF, -INF),
    ("black76", 1, -0.02): (INF, INF, 0.0, 0.0, -INF, -INF),
    ("black76", -1, -0.02): (INF, -0.0, 0.0, 0.0, -INF, -INF),
    ("bsm", 1, 0.02): (0.0, 0.0, 0.0, 0.0, 0.0, 0.0),
    ("bsm", -1, 0.02): (0.0, -0.0, 0.0, 0.0, 0.0, -0.0),
    ("black76", 1, 0.02): (0.0, 0.0, 0.0, 0.0, 0.0, -0.0),
    ("black76", -1, 0.02): (0.0, -0.0, 0.0, 0.0, 0.0, -0.0),
}


@pytest.mark.filterwarnings("error")
@pytest.mark.parametrize("model,flag,rate", list(EXTREME_LIMITS))
def test_limits_with_discount_factors_beyond_the_double_range_are_ieee_values(model, flag, rate):
    want = dict(zip(FIELDS, EXTREME_LIMITS[model, flag, rate]))
    values = {"flag": flag, "s": 100.0, "f": 100.0, "k": 100.0, "t": 40000.0, "r": rate, "q": rate}
    for quantity in ("price", "delta", "theta", "rho", "greeks"):
        names = _array.parameters(model, quantity)
        function = getattr(MODELS[model], quantity)
        wanted = [want[n] for n in (FIELDS[1:] if quantity == "greeks" else (quantity,))]
        scalar = function(*[values.get(n, math.inf) for n in names])
        # The array path, with an ordinary option beside, whose bits stay the core's.
        arrays = [
            np.array([values[n], values[n]], np.int8)
            if n == "flag"
            else np.array([values.get(n, math.inf), values.get(n, 0.2)])
            for n in names
        ]
        array = function(*arrays)
        core = outputs(getattr(_core, f"{model}_{quantity}")(*arrays))
        for s, a, c, w in zip(outputs(scalar), outputs(array), core, wanted):
            assert same_bits(s, w) and same_bits(a[0], w), (quantity, s, a[0], w)
            assert same_bits(a[1], c[1]), quantity


def test_infinite_volatility_limit_is_the_upper_bound_of_the_inversion():
    # The call's limit is the discounted spot: the inversion has no finite volatility there.
    price = bsm.price("c", 100.0, 95.0, 1.0, 0.03, 0.02, math.inf)
    assert math.isnan(bsm.iv(price, "c", 100.0, 95.0, 1.0, 0.03, 0.02))
    assert bsm.iv_status(price, "c", 100.0, 95.0, 1.0, 0.03, 0.02) == "above_upper_bound"


def test_non_positive_volatility_and_expired_options_keep_the_core_values():
    for sigma, t in [(-math.inf, 1.0), (0.0, 1.0), (-0.3, 1.0), (math.inf, 0.0), (math.inf, -1.0)]:
        for quantity in ("price", "delta", "theta", "rho"):
            got = getattr(bsm, quantity)("p", 100.0, 110.0, t, 0.03, 0.01, sigma)
            want = getattr(_core, f"bsm_{quantity}_scalar")(-1, 100.0, 110.0, t, 0.03, 0.01, sigma)
            assert same_bits(got, want)


def test_inversion_needs_no_rule_of_its_own():
    args = sample("bsm", "iv")
    args[4][::5] = np.nan
    assert same_bits(bsm.iv(*args), _core.bsm_iv(*args))


def test_huge_finite_inputs_keep_the_core_bits():
    # Sums and products of such inputs overflow: the rule must still change nothing.
    args = sample("bsm", "greeks")
    args[1][::3], args[2][::3], args[6][1::3] = 1e308, 1.5e308, 1e200
    got = bsm.greeks(*args)
    for g, w in zip(got, _core.bsm_greeks(*args)):
        assert same_bits(g, w)
