"""The `_scalar` functions: the argument parser shared by all 32 functions, conversion, results."""

import math

import mpmath
import numpy as np
import pytest

import karvex._core as core
from core_support import SCALAR, parameters

ARGS = (1, 100.0, 100.0, 1.0, 0.05, 0.0, 0.2)
price = core.bsm_price_scalar


def raises(exc, message, fn, *args, **kwargs):
    with pytest.raises(exc) as info:
        fn(*args, **kwargs)
    assert str(info.value) == message
    return info.value


class TestParser:
    @pytest.mark.parametrize("fn, count", [(price, 7), (core.black76_gamma_scalar, 5),
                                           (core.bsm_price, 7), (core.black76_iv, 6)])
    def test_too_many_positional_arguments(self, fn, count):
        raises(TypeError, f"{fn.__name__}() takes {count} positional arguments but "
               f"{count + 1} were given", fn, *range(count + 1))

    @pytest.mark.parametrize("given, message", [
        (6, "missing 1 required positional argument: 'sigma'"),
        (5, "missing 2 required positional arguments: 'q' and 'sigma'"),
        (4, "missing 3 required positional arguments: 'r', 'q', and 'sigma'"),
        (0, "missing 7 required positional arguments: 'flag', 's', 'k', 't', 'r', 'q', "
            "and 'sigma'"),
    ])
    def test_missing_arguments_are_listed_in_declaration_order(self, given, message):
        raises(TypeError, "bsm_price_scalar() " + message, price, *ARGS[:given])

    def test_missing_arguments_skip_those_given_by_keyword(self):
        raises(TypeError, "bsm_iv() missing 2 required positional arguments: 'flag' and 'q'",
               core.bsm_iv, 1.0, s=1, k=1, t=1, r=1)

    def test_unexpected_and_repeated_keywords(self):
        raises(TypeError, "bsm_price_scalar() got an unexpected keyword argument 'vol'",
               price, *ARGS[:6], vol=0.2)
        raises(TypeError, "bsm_price_scalar() got multiple values for argument 's'",
               price, *ARGS, s=1.0)

    def test_the_first_failing_keyword_ends_the_call(self):
        raises(TypeError, "bsm_price_scalar() got an unexpected keyword argument 'a'",
               price, *ARGS, a=1, s=1)
        raises(TypeError, "bsm_price_scalar() got multiple values for argument 's'",
               price, *ARGS, s=1, a=1)

    def test_keyword_that_is_not_utf8_is_unexpected(self):
        raises(TypeError, "bsm_price_scalar() got an unexpected keyword argument '\udc80'",
               price, **{"\udc80": 1})

    def test_keyword_names_compare_exactly(self):
        raises(TypeError, "bsm_price_scalar() got an unexpected keyword argument 'Sigma'",
               price, *ARGS[:6], Sigma=0.2)

    def test_keyword_given_as_a_str_subclass_is_named_by_its_text(self):
        class Keyword(str):
            def __str__(self):
                return "other"

        raises(TypeError, "bsm_price_scalar() got an unexpected keyword argument 'vol'",
               price, *ARGS[:6], **{Keyword("vol"): 0.2})
        assert price(*ARGS[:6], **{Keyword("sigma"): 0.2}) == price(*ARGS)

    def test_parsing_precedes_conversion(self):
        raises(TypeError, "bsm_price_scalar() missing 1 required positional argument: 'sigma'",
               price, "x", "y", "z", None, None, None)

    def test_keywords_and_positions_give_the_same_result(self):
        names = parameters("bsm_price_scalar")
        by_keyword = price(**dict(zip(names, ARGS)))
        assert by_keyword == price(*ARGS) == price(*ARGS[:3], **dict(zip(names[3:], ARGS[3:])))
        assert price(**dict(reversed(list(zip(names, ARGS))))) == by_keyword


class TestConversion:
    @pytest.mark.parametrize("flag", [0, 1, 127, True, np.int8(1), np.int64(5)])
    def test_flag_zero_or_positive_is_a_call(self, flag):
        assert price(flag, *ARGS[1:]) == price(1, *ARGS[1:])

    @pytest.mark.parametrize("flag", [-1, -128, np.int16(-3)])
    def test_flag_negative_is_a_put(self, flag):
        assert price(flag, *ARGS[1:]) == price(-1, *ARGS[1:]) != price(1, *ARGS[1:])

    @pytest.mark.parametrize("flag, exc, message", [
        (128, OverflowError, "out of range integral type conversion attempted"),
        (-129, OverflowError, "out of range integral type conversion attempted"),
        (2**70, OverflowError, "Python int too large to convert to C long"),
        (1.0, TypeError, "'float' object cannot be interpreted as an integer"),
        ("1", TypeError, "'str' object cannot be interpreted as an integer"),
    ])
    def test_bad_flag_raises_with_a_note(self, flag, exc, message):
        error = raises(exc, message, price, flag, *ARGS[1:])
        assert error.__notes__ == ["while processing 'flag'"]

    def test_doubles_accept_ints_bools_float_likes_and_index_likes(self):
        class FloatLike:
            def __float__(self):
                return 100.0

        class IndexLike:
            def __index__(self):
                return 100

        class Real(float):
            pass

        expected = price(*ARGS)
        for s in (100, FloatLike(), IndexLike(), Real(100.0), np.float64(100.0), np.int32(100)):
            assert price(1, s, *ARGS[2:]) == expected
        assert price(1, True, 1, 1, 0, 0, 0.2) == price(1, 1.0, 1.0, 1.0, 0.0, 0.0, 0.2)

    def test_minus_one_is_a_genuine_value(self):
        value = price(-1, 100.0, 100.0, 1.0, -1.0, -1.0, 0.2)
        assert math.isfinite(value) and value == price(-1, 100, 100, 1, -1, -1, 0.2)

    @pytest.mark.parametrize("value, exc, message", [
        ("100", TypeError, "must be real number, not str"),
        (None, TypeError, "must be real number, not NoneType"),
        (10**400, OverflowError, "int too large to convert to float"),
    ])
    def test_bad_double_raises_the_interpreters_error_with_a_note(self, value, exc, message):
        error = raises(exc, message, price, 1, value, *ARGS[2:])
        assert error.__notes__ == ["while processing 's'"]

    def test_the_error_keeps_its_type_message_and_cause(self):
        class Broken:
            def __float__(self):
                raise KeyError("inner") from ValueError("cause")

        with pytest.raises(KeyError) as info:
            price(*ARGS[:6], Broken())
        assert info.value.args == ("inner",)
        assert isinstance(info.value.__cause__, ValueError)
        assert info.value.__notes__ == ["while processing 'sigma'"]

    def test_conversion_follows_declaration_order(self):
        error = raises(TypeError, "must be real number, not str", core.bsm_iv_scalar,
                       "x", "y", 100.0, 100.0, 1.0, 0.05, 0.0)
        assert error.__notes__ == ["while processing 'target_price'"]
        error = raises(TypeError, "must be real number, not str", price, 1, "s", 100.0, 1.0,
                       0.05, 0.0, "sigma")
        assert error.__notes__ == ["while processing 's'"]


def bsm_reference(flag, s, k, t, r, q, sigma):
    """Price and Greeks from the closed forms, evaluated in 40-digit arithmetic."""
    mpmath.mp.dps = 40
    s, k, t, r, q, sigma = map(mpmath.mpf, (s, k, t, r, q, sigma))
    d1 = (mpmath.log(s / k) + (r - q + sigma**2 / 2) * t) / (sigma * mpmath.sqrt(t))
    d2 = d1 - sigma * mpmath.sqrt(t)
    w = 1 if flag >= 0 else -1
    dq, dr = mpmath.exp(-q * t), mpmath.exp(-r * t)
    cdf, pdf = mpmath.ncdf, mpmath.npdf
    return {
        "price": w * (s * dq * cdf(w * d1) - k * dr * cdf(w * d2)),
        "delta": w * dq * cdf(w * d1),
        "gamma": dq * pdf(d1) / (s * sigma * mpmath.sqrt(t)),
        "vega": s * dq * pdf(d1) * mpmath.sqrt(t),
        "theta": -s * dq * pdf(d1) * sigma / (2 * mpmath.sqrt(t))
                 - w * r * k * dr * cdf(w * d2) + w * q * s * dq * cdf(w * d1),
        "rho": w * k * t * dr * cdf(w * d2),
    }


CASES = [(1, 100.0, 95.0, 0.75, 0.03, 0.01, 0.25), (-1, 80.0, 100.0, 2.0, 0.05, 0.02, 0.4)]


class TestResults:
    @pytest.mark.parametrize("case", CASES)
    def test_each_bsm_quantity_reaches_its_kernel_with_its_arguments(self, case):
        ref = bsm_reference(*case)
        for quantity, expected in ref.items():
            fn = getattr(core, f"bsm_{quantity}_scalar")
            got = fn(*case[1:]) if quantity in ("gamma", "vega") else fn(*case)
            assert got == pytest.approx(float(expected), rel=1e-11, abs=1e-13), quantity
        iv = core.bsm_iv_scalar(float(ref["price"]), case[0], *case[1:6])
        assert iv == pytest.approx(case[6], rel=1e-11)

    @pytest.mark.parametrize("case", CASES)
    def test_black76_is_bsm_on_the_forward_with_the_rate_for_the_yield(self, case):
        flag, f, k, t, r, _, sigma = case
        for quantity in ("price", "delta", "theta"):
            assert getattr(core, f"black76_{quantity}_scalar")(flag, f, k, t, r, sigma) == \
                getattr(core, f"bsm_{quantity}_scalar")(flag, f, k, t, r, r, sigma)
        for quantity in ("gamma", "vega"):
            assert getattr(core, f"black76_{quantity}_scalar")(f, k, t, r, sigma) == \
                getattr(core, f"bsm_{quantity}_scalar")(f, k, t, r, r, sigma)
        target = core.black76_price_scalar(flag, f, k, t, r, sigma)
        assert core.black76_iv_scalar(target, flag, f, k, t, r) == \
            core.bsm_iv_scalar(target, flag, f, k, t, r, r)
        assert core.black76_rho_scalar(flag, f, k, t, r, sigma) == pytest.approx(
            -t * core.black76_price_scalar(flag, f, k, t, r, sigma), rel=1e-15)

    @pytest.mark.parametrize("model", ["bsm", "black76"])
    @pytest.mark.parametrize("case", CASES + [(1, 100.0, 100.0, 0.0, 0.05, 0.0, 0.2)])
    def test_greeks_tuple_is_the_five_greeks_bit_for_bit(self, model, case):
        args = case if model == "bsm" else case[:5] + case[6:]
        greeks = getattr(core, f"{model}_greeks_scalar")(*args)
        assert type(greeks) is tuple and len(greeks) == 5
        assert all(type(g) is float for g in greeks)
        singles = []
        for quantity in ("delta", "gamma", "vega", "theta", "rho"):
            fn = getattr(core, f"{model}_{quantity}_scalar")
            singles.append(fn(*args[1:]) if quantity in ("gamma", "vega") else fn(*args))
        assert np.array(greeks).view(np.uint64).tolist() == \
            np.array(singles).view(np.uint64).tolist()

    def test_kernel_nan_and_infinity_come_back_as_floats(self):
        assert math.isnan(core.bsm_iv_scalar(float("nan"), 1, 100.0, 100.0, 1.0, 0.05, 0.0))
        assert math.isnan(core.bsm_gamma_scalar(0.0, 100.0, 1.0, 0.05, 0.0, 0.2))
        for name in SCALAR:
            result = getattr(core, name)(*[float("nan") if p != "flag" else 1
                                           for p in parameters(name)])
            assert isinstance(result, (float, tuple))

    def test_put_call_parity(self):
        for flag, s, k, t, r, q, sigma in CASES:
            call = price(1, s, k, t, r, q, sigma)
            put = price(-1, s, k, t, r, q, sigma)
            assert call - put == pytest.approx(s * math.exp(-q * t) - k * math.exp(-r * t),
                                               rel=1e-12, abs=1e-12)
