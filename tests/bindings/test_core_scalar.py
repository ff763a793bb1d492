"""The `_scalar` functions: the argument parser shared by all 32 functions, conversion, results."""

import math

import mpmath
import numpy as np
import pytest
from core_support import SCALAR, parameters

import karvex._core as core

ARGS = (1, 100.0, 100.0, 1.0, 0.05, 0.0, 0.2)
price = core.bsm_price_scalar
P = "bsm_price_scalar() "
MISSING = P + "missing {} required positional argument"
UNEXPECTED = P + "got an unexpected keyword argument '{}'"
MULTIPLE = P + "got multiple values for argument 's'"
NOT_INT = "'{}' object cannot be interpreted as an integer"
OUT_OF_RANGE = "out of range integral type conversion attempted"


class Keyword(str):
    def __str__(self):
        return "other"


class Broken:
    def __float__(self):
        raise KeyError("inner") from ValueError("cause")


# (function, positional, keyword, error, message, the parameter its note names)
ERRORS = [
    (price, range(8), {}, TypeError, P + "takes 7 positional arguments but 8 were given", None),
    (
        core.black76_gamma_scalar,
        range(6),
        {},
        TypeError,
        "black76_gamma_scalar() takes 5 positional arguments but 6 were given",
        None,
    ),
    (
        core.bsm_price,
        range(8),
        {},
        TypeError,
        "bsm_price() takes 7 positional arguments but 8 were given",
        None,
    ),
    (
        core.black76_iv,
        range(7),
        {},
        TypeError,
        "black76_iv() takes 6 positional arguments but 7 were given",
        None,
    ),
    # Missing arguments are listed in declaration order, those given by keyword skipped.
    (price, ARGS[:6], {}, TypeError, MISSING.format(1) + ": 'sigma'", None),
    (price, ARGS[:5], {}, TypeError, MISSING.format(2) + "s: 'q' and 'sigma'", None),
    (price, ARGS[:4], {}, TypeError, MISSING.format(3) + "s: 'r', 'q', and 'sigma'", None),
    (
        price,
        (),
        {},
        TypeError,
        MISSING.format(7) + "s: 'flag', 's', 'k', 't', 'r', 'q', and 'sigma'",
        None,
    ),
    (
        core.bsm_iv,
        (1.0,),
        dict(s=1, k=1, t=1, r=1),
        TypeError,
        "bsm_iv() missing 2 required positional arguments: 'flag' and 'q'",
        None,
    ),
    # Keywords: the first failing one ends the call; names compare exactly as their UTF-8 text.
    (price, ARGS[:6], {"vol": 0.2}, TypeError, UNEXPECTED.format("vol"), None),
    (price, ARGS, {"s": 1.0}, TypeError, MULTIPLE, None),
    (price, ARGS, {"a": 1, "s": 1}, TypeError, UNEXPECTED.format("a"), None),
    (price, ARGS, {"s": 1, "a": 1}, TypeError, MULTIPLE, None),
    (price, (), {"\udc80": 1}, TypeError, UNEXPECTED.format("\udc80"), None),
    (price, ARGS[:6], {"Sigma": 0.2}, TypeError, UNEXPECTED.format("Sigma"), None),
    (price, ARGS[:6], {Keyword("vol"): 0.2}, TypeError, UNEXPECTED.format("vol"), None),
    # Parsing precedes conversion; conversion follows declaration order.
    (
        price,
        ("x", "y", "z", None, None, None),
        {},
        TypeError,
        MISSING.format(1) + ": 'sigma'",
        None,
    ),
    (
        core.bsm_iv_scalar,
        ("x", "y", 100.0, 100.0, 1.0, 0.05, 0.0),
        {},
        TypeError,
        "must be real number, not str",
        "target_price",
    ),
    (
        price,
        (1, "s", 100.0, 1.0, 0.05, 0.0, "sigma"),
        {},
        TypeError,
        "must be real number, not str",
        "s",
    ),
    # A flag is an integer from -128 to 127.
    (price, (128,) + ARGS[1:], {}, OverflowError, OUT_OF_RANGE, "flag"),
    (price, (-129,) + ARGS[1:], {}, OverflowError, OUT_OF_RANGE, "flag"),
    (
        price,
        (2**70,) + ARGS[1:],
        {},
        OverflowError,
        "Python int too large to convert to C long",
        "flag",
    ),
    (price, (1.0,) + ARGS[1:], {}, TypeError, NOT_INT.format("float"), "flag"),
    (price, ("1",) + ARGS[1:], {}, TypeError, NOT_INT.format("str"), "flag"),
    # A double gets the interpreter's own error, kept with its type, message and cause.
    (price, (1, "100") + ARGS[2:], {}, TypeError, "must be real number, not str", "s"),
    (price, (1, None) + ARGS[2:], {}, TypeError, "must be real number, not NoneType", "s"),
    (price, (1, 10**400) + ARGS[2:], {}, OverflowError, "int too large to convert to float", "s"),
    (price, ARGS[:6] + (Broken(),), {}, KeyError, "'inner'", "sigma"),
]


@pytest.mark.parametrize("fn, args, kwargs, exc, message, note", ERRORS)
def test_error_type_message_and_note_are_exact(fn, args, kwargs, exc, message, note):
    with pytest.raises(exc) as info:
        fn(*args, **kwargs)
    assert str(info.value) == message
    assert getattr(info.value, "__notes__", None) == (note and [f"while processing '{note}'"])
    if exc is KeyError:
        assert isinstance(info.value.__cause__, ValueError)


def test_keywords_and_positions_give_the_same_result():
    names = parameters("bsm_price_scalar")
    by_keyword = price(**dict(zip(names, ARGS)))
    assert by_keyword == price(*ARGS) == price(*ARGS[:3], **dict(zip(names[3:], ARGS[3:])))
    assert price(**dict(reversed(list(zip(names, ARGS))))) == by_keyword
    assert price(*ARGS[:6], **{Keyword("sigma"): 0.2}) == by_keyword


@pytest.mark.parametrize(
    "flag, kind",
    [
        (0, 1),
        (1, 1),
        (127, 1),
        (True, 1),
        (np.int8(1), 1),
        (np.int64(5), 1),
        (-1, -1),
        (-128, -1),
        (np.int16(-3), -1),
    ],
)
def test_flag_sign_selects_call_or_put(flag, kind):
    assert price(flag, *ARGS[1:]) == price(kind, *ARGS[1:])


def test_doubles_accept_ints_bools_float_likes_and_index_likes_and_minus_one():
    class FloatLike:
        def __float__(self):
            return 100.0

    class IndexLike:
        def __index__(self):
            return 100

    class Real(float):
        pass

    for s in (100, FloatLike(), IndexLike(), Real(100.0), np.float64(100.0), np.int32(100)):
        assert price(1, s, *ARGS[2:]) == price(*ARGS)
    assert price(1, True, 1, 1, 0, 0, 0.2) == price(1, 1.0, 1.0, 1.0, 0.0, 0.0, 0.2)
    # -1.0 is a genuine value, not the error marker of the conversion.
    value = price(-1, 100.0, 100.0, 1.0, -1.0, -1.0, 0.2)
    assert math.isfinite(value) and value == price(-1, 100, 100, 1, -1, -1, 0.2)


def bsm_reference(flag, s, k, t, r, q, sigma):
    """Price and Greeks from the closed forms in 40-digit arithmetic."""
    mpmath.mp.dps = 40
    s, k, t, r, q, sigma = map(mpmath.mpf, (s, k, t, r, q, sigma))
    v = sigma * mpmath.sqrt(t)
    d1 = (mpmath.log(s / k) + (r - q + sigma**2 / 2) * t) / v
    w, dq, dr, cdf, pdf = (
        (1 if flag >= 0 else -1),
        mpmath.exp(-q * t),
        mpmath.exp(-r * t),
        mpmath.ncdf,
        mpmath.npdf,
    )
    return {
        "price": w * (s * dq * cdf(w * d1) - k * dr * cdf(w * (d1 - v))),
        "delta": w * dq * cdf(w * d1),
        "gamma": dq * pdf(d1) / (s * v),
        "vega": s * dq * pdf(d1) * mpmath.sqrt(t),
        "theta": -s * dq * pdf(d1) * sigma / (2 * mpmath.sqrt(t))
        - w * r * k * dr * cdf(w * (d1 - v))
        + w * q * s * dq * cdf(w * d1),
        "rho": w * k * t * dr * cdf(w * (d1 - v)),
    }


CASES = [(1, 100.0, 95.0, 0.75, 0.03, 0.01, 0.25), (-1, 80.0, 100.0, 2.0, 0.05, 0.02, 0.4)]


@pytest.mark.parametrize("case", CASES)
def test_each_bsm_quantity_reaches_its_kernel_with_its_arguments(case):
    ref = bsm_reference(*case)
    for quantity, expected in ref.items():
        fn = getattr(core, f"bsm_{quantity}_scalar")
        got = fn(*case[1:]) if quantity in ("gamma", "vega") else fn(*case)
        assert got == pytest.approx(float(expected), rel=1e-11, abs=1e-13), quantity
    iv = core.bsm_iv_scalar(float(ref["price"]), case[0], *case[1:6])
    assert iv == pytest.approx(case[6], rel=1e-11)


@pytest.mark.parametrize("case", CASES)
def test_black76_is_bsm_on_the_forward_with_the_rate_for_the_yield(case):
    flag, f, k, t, r, _, sigma = case
    for quantity in ("price", "delta", "theta", "gamma", "vega"):
        args = (f, k, t, r, sigma) if quantity in ("gamma", "vega") else (flag, f, k, t, r, sigma)
        assert getattr(core, f"black76_{quantity}_scalar")(*args) == getattr(
            core, f"bsm_{quantity}_scalar"
        )(*args[:-1], r, sigma)
    target = core.black76_price_scalar(flag, f, k, t, r, sigma)
    assert core.black76_iv_scalar(target, flag, f, k, t, r) == core.bsm_iv_scalar(
        target, flag, f, k, t, r, r
    )
    assert core.black76_rho_scalar(flag, f, k, t, r, sigma) == pytest.approx(-t * target, rel=1e-15)


@pytest.mark.parametrize("model", ["bsm", "black76"])
@pytest.mark.parametrize("case", CASES + [(1, 100.0, 100.0, 0.0, 0.05, 0.0, 0.2)])
def test_greeks_tuple_is_the_five_greeks_bit_for_bit(model, case):
    args = case if model == "bsm" else case[:5] + case[6:]
    greeks = getattr(core, f"{model}_greeks_scalar")(*args)
    assert type(greeks) is tuple and len(greeks) == 5 and all(type(g) is float for g in greeks)
    singles = [
        getattr(core, f"{model}_{q}_scalar")(*(args[1:] if q in ("gamma", "vega") else args))
        for q in ("delta", "gamma", "vega", "theta", "rho")
    ]
    assert np.array(greeks).view(np.uint64).tolist() == np.array(singles).view(np.uint64).tolist()


def test_kernel_nan_comes_back_as_a_float():
    assert math.isnan(core.bsm_iv_scalar(float("nan"), 1, 100.0, 100.0, 1.0, 0.05, 0.0))
    assert math.isnan(core.bsm_gamma_scalar(0.0, 100.0, 1.0, 0.05, 0.0, 0.2))
    for name in SCALAR:
        result = getattr(core, name)(
            *[float("nan") if p != "flag" else 1 for p in parameters(name)]
        )
        assert isinstance(result, (float, tuple))
