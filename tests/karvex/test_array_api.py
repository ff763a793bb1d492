"""karvex.bsm / karvex.black76: conversion, broadcasting and bit-identity with the core."""

import decimal
import fractions

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import karvex
from karvex import _array, _core, black76, bsm

MODELS = {"bsm": bsm, "black76": black76}
FUNCTIONS = [(m, q) for m in MODELS for q in _array.QUANTITIES]

# Realistic values per parameter, used where a test needs valid inputs.
VALUES = {
    "target_price": 7.5,
    "flag": 1,
    "s": 100.0,
    "f": 101.0,
    "k": 95.0,
    "t": 0.75,
    "r": 0.03,
    "q": 0.01,
    "sigma": 0.25,
}


def bits(x):
    """The bit patterns of a float or float array, for exact comparison."""
    return np.asarray(x, dtype=np.float64).view(np.int64)


def core_on(model, quantity, arrays):
    """The core function on independently converted, broadcast, flattened
    copies of the arguments."""
    names = _array.parameters(model, quantity)
    shape = np.broadcast_shapes(*(np.shape(a) for a in arrays))
    flat = []
    for name, a in zip(names, arrays):
        a = np.broadcast_to(np.asarray(a), shape).ravel()
        if name == "flag":
            a = np.where(a < 0, -1, 1).astype(np.int8)
        flat.append(np.ascontiguousarray(a, dtype=np.float64) if name != "flag" else a)
    out = getattr(_core, f"{model}_{quantity}")(*flat)
    if quantity == "greeks":
        return tuple(o.reshape(shape) for o in out)
    return out.reshape(shape)


def assert_same_bits(got, want):
    if isinstance(want, tuple):
        assert len(got) == 5
        for g, w in zip(got, want):
            assert_same_bits(g, w)
    else:
        assert np.shape(got) == np.shape(want)
        assert np.array_equal(bits(got), bits(want))


class TestBitIdentity:
    @pytest.mark.parametrize("model,quantity", FUNCTIONS)
    def test_mixed_shapes_and_dtypes_give_the_core_bits(self, model, quantity):
        rng = np.random.default_rng(abs(hash((model, quantity))) % 2**32)
        names = _array.parameters(model, quantity)
        args = []
        for i, name in enumerate(names):
            if name == "flag":
                args.append(rng.choice(np.array([-3, 0, 2], dtype=np.int64), size=(4, 1)))
            elif i % 3 == 0:
                args.append(np.float32(VALUES[name]))
            elif i % 3 == 1:
                args.append(VALUES[name] * rng.uniform(0.8, 1.2, size=(3,)))
            else:
                args.append([[VALUES[name]]])
        got = getattr(MODELS[model], quantity)(*args)
        assert_same_bits(got, core_on(model, quantity, args))

    @pytest.mark.parametrize("model,quantity", FUNCTIONS)
    def test_all_scalar_input_gives_python_floats(self, model, quantity):
        names = _array.parameters(model, quantity)
        got = getattr(MODELS[model], quantity)(*(VALUES[n] for n in names))
        want = core_on(model, quantity, [np.array([VALUES[n]]) for n in names])
        if quantity == "greeks":
            assert isinstance(got, _array.Greeks)
            assert all(type(g) is float for g in got)
            assert got._fields == ("delta", "gamma", "vega", "theta", "rho")
            assert_same_bits(tuple(np.array([g]) for g in got), want)
        else:
            assert type(got) is float
            assert_same_bits(np.array([got]), want)

    @settings(max_examples=40, deadline=None)
    @given(
        hnp.mutually_broadcastable_shapes(num_shapes=7, max_dims=3, max_side=3),
        st.sampled_from(["float64", "float32", "int32", ">f8"]),
    )
    def test_any_broadcastable_shapes_give_the_broadcast_shape(self, shapes, dtype):
        rng = np.random.default_rng(1)
        names = _array.parameters("bsm", "price")
        args = []
        for name, shape in zip(names, shapes.input_shapes):
            if name == "flag":
                args.append(rng.choice([-1, 1], size=shape))
            else:
                args.append(np.asarray(VALUES[name] * rng.uniform(0.5, 1.5, size=shape)).astype(dtype))
        got = bsm.price(*args)
        if shapes.result_shape == ():
            assert type(got) is float
        else:
            assert got.shape == shapes.result_shape
        assert_same_bits(got, core_on("bsm", "price", args))

    def test_non_contiguous_and_fortran_inputs(self):
        base = np.linspace(80.0, 120.0, 24).reshape(4, 6)
        for k in (base[:, ::2], base.T, np.asfortranarray(base), base[::-1]):
            got = bsm.delta("c", 100.0, k, 0.5, 0.02, 0.0, 0.2)
            assert_same_bits(got, core_on("bsm", "delta", [1, 100.0, k, 0.5, 0.02, 0.0, 0.2]))

    def test_empty_inputs_give_empty_results(self):
        assert bsm.price(1, 100.0, np.empty((0,)), 1.0, 0.0, 0.0, 0.2).shape == (0,)
        assert bsm.greeks(1, 100.0, np.empty((2, 0)), 1.0, 0.0, 0.0, 0.2).delta.shape == (2, 0)


class TestCopies:
    """Contiguous float64 / int8 inputs reach the core without a copy."""

    def spy(self, quantity="price"):
        seen = []

        def vector(*arrays):
            seen.extend(arrays)
            return getattr(_core, f"bsm_{quantity}")(*arrays)

        def call(*args):
            names = _array.parameters("bsm", quantity)
            return _array.evaluate("f", quantity, names, list(args), vector, None)

        return seen, call

    def test_contiguous_float64_and_int8_are_not_copied(self):
        seen, call = self.spy()
        flag = np.array([1, -1, 1], dtype=np.int8)
        k = np.array([90.0, 100.0, 110.0])
        call(flag, k, k, k, k, k, k)
        assert seen[0] is flag or np.shares_memory(seen[0], flag)
        assert all(np.shares_memory(a, k) for a in seen[1:])

    def test_fortran_ordered_arrays_are_not_copied(self):
        seen, call = self.spy()
        k = np.asfortranarray(np.linspace(90.0, 110.0, 6).reshape(2, 3))
        out = call(1, 100.0, k, 1.0, 0.0, 0.0, 0.2)
        assert np.shares_memory(seen[2], k)
        assert_same_bits(out, core_on("bsm", "price", [1, 100.0, k, 1.0, 0.0, 0.0, 0.2]))

    def test_strided_and_other_dtypes_are_converted(self):
        seen, call = self.spy()
        k = np.linspace(90.0, 110.0, 10)[::2]
        call(np.array([1, -1, 1, -1, 1]), k, k.astype(np.float32), 1.0, 0.0, 0.0, 0.2)
        for a in seen:
            assert a.ndim == 1 and a.flags.c_contiguous and a.flags.aligned
        assert seen[0].dtype == np.int8 and seen[1].dtype == np.float64


class TestConversions:
    @pytest.mark.parametrize(
        "k",
        [
            [decimal.Decimal("95"), fractions.Fraction(95, 1)],
            np.array([95, 95], dtype=np.uint16),
            np.array([95.0, 95.0], dtype=np.float16),
            np.array([95.0, 95.0], dtype=">f8"),
            (95, 95.0),
        ],
    )
    def test_numeric_forms_are_accepted_as_float64(self, k):
        got = bsm.price(1, 100.0, k, 1.0, 0.02, 0.0, 0.2)
        want = bsm.price(1, 100.0, np.array([95.0, 95.0]), 1.0, 0.02, 0.0, 0.2)
        assert_same_bits(got, want)

    @pytest.mark.parametrize(
        "value,error",
        [
            ("abc", TypeError),
            (["1.0", "2.0"], TypeError),
            (np.array([1 + 2j]), TypeError),
            (np.array(["2025-01-01"], dtype="datetime64[D]"), TypeError),
            ([object()], TypeError),
            ([[1.0, 2.0], [3.0]], ValueError),
        ],
    )
    def test_unconvertible_argument_names_the_parameter(self, value, error):
        with pytest.raises(error, match="'sigma'"):
            bsm.price(1, 100.0, 100.0, 1.0, 0.0, 0.0, value)

    def test_shapes_that_do_not_broadcast_name_the_parameters(self):
        with pytest.raises(ValueError, match=r"broadcast together: 'f' \(3,\), 'k' \(4,\)$"):
            black76.price(1, np.ones(3), np.ones(4), 1.0, 0.0, 0.2)

    def test_arguments_bind_like_the_core(self):
        by_keyword = bsm.iv(q=0.0, r=0.05, t=1.0, k=100.0, s=100.0, flag="c", target_price=10.45)
        assert by_keyword == bsm.iv(10.45, "c", 100.0, 100.0, 1.0, 0.05, 0.0)
        with pytest.raises(TypeError, match="missing 2 required arguments: 'q', 'sigma'"):
            bsm.price(1, 100.0, 100.0, 1.0, 0.0)
        with pytest.raises(TypeError, match="unexpected keyword argument 'vol'"):
            black76.vega(100.0, 100.0, 1.0, 0.0, vol=0.2)
        with pytest.raises(TypeError, match="multiple values for argument 'f'"):
            black76.gamma(100.0, 100.0, 1.0, 0.0, 0.2, f=1.0)
        with pytest.raises(TypeError, match="takes 6 positional arguments but 7"):
            black76.price(1, 100.0, 100.0, 1.0, 0.0, 0.2, 0.0)


class TestFlags:
    CALLS = ["c", "C", "call", " Call ", "CALL", b"c", True, 1, 0, 127, 1000, 2**70, 1.0, np.int64(5)]
    PUTS = ["p", "P", "put", "Put", b"P", False, -1, -128, -1000, -(2**70), -1.0, np.int16(-300)]

    @pytest.mark.parametrize("flag", CALLS)
    def test_call_forms(self, flag):
        assert bsm.price(flag, 100.0, 90.0, 1.0, 0.0, 0.0, 0.2) == _core.bsm_price_scalar(
            1, 100.0, 90.0, 1.0, 0.0, 0.0, 0.2
        )

    @pytest.mark.parametrize("flag", PUTS)
    def test_put_forms(self, flag):
        assert bsm.price(flag, 100.0, 90.0, 1.0, 0.0, 0.0, 0.2) == _core.bsm_price_scalar(
            -1, 100.0, 90.0, 1.0, 0.0, 0.0, 0.2
        )

    def test_flag_arrays_of_every_kind_agree(self):
        want = np.array([1, -1, 1, -1], dtype=np.int8)
        forms = [
            ["c", "P", "Call", "put"],
            np.array(["c", "p", "C", "P"]),
            np.array([b"call", b"put", b"c", b"p"]),
            np.array([True, False, True, False]),
            np.array([200, -200, 0, -1], dtype=np.int64),  # the sign, never a wrap to int8
            np.array([1.0, -1.0, 0.0, -2.0]),
            np.array(["c", -1, True, False], dtype=object),
        ]
        k = np.array([90.0, 95.0, 100.0, 105.0])
        expected = bsm.rho(want, 100.0, k, 1.0, 0.03, 0.0, 0.2)
        for form in forms:
            assert_same_bits(bsm.rho(form, 100.0, k, 1.0, 0.03, 0.0, 0.2), expected)
        # Unsigned integers are never negative: all calls.
        assert_same_bits(
            bsm.rho(np.array([1, 0, 255, 7], dtype=np.uint8), 100.0, k, 1.0, 0.03, 0.0, 0.2),
            bsm.rho(np.ones(4, np.int8), 100.0, k, 1.0, 0.03, 0.0, 0.2),
        )

    @pytest.mark.parametrize("flag", ["x", "calls", "", 1.5, float("nan"), [1, "q"], None, np.array([1.0, 0.5])])
    def test_invalid_flag_raises_naming_flag(self, flag):
        with pytest.raises((ValueError, TypeError), match="flag"):
            bsm.price(flag, 100.0, 90.0, 1.0, 0.0, 0.0, 0.2)


class TestSeries:
    @pytest.fixture(autouse=True)
    def pandas(self):
        self.pd = pytest.importorskip("pandas")

    def test_series_in_series_out_on_the_same_index(self):
        pd = self.pd
        k = pd.Series([90.0, 100.0, 110.0], index=["a", "b", "c"])
        got = bsm.price("c", 100.0, k, 1.0, 0.02, 0.0, 0.2)
        assert isinstance(got, pd.Series) and got.name == "price"
        assert list(got.index) == ["a", "b", "c"]
        assert_same_bits(got.to_numpy(), bsm.price("c", 100.0, k.to_numpy(), 1.0, 0.02, 0.0, 0.2))

    def test_greeks_of_series_are_a_dataframe(self):
        pd = self.pd
        frame = pd.DataFrame(
            {"type": ["C", "p", "call"], "k": [90.0, 100.0, 110.0], "sigma": pd.array([0.2, None, 0.3], dtype="Float64")},
            index=[10, 20, 30],
        )
        got = black76.greeks(frame["type"], 100.0, frame["k"], 0.5, 0.01, frame["sigma"])
        assert isinstance(got, pd.DataFrame)
        assert list(got.columns) == ["delta", "gamma", "vega", "theta", "rho"]
        assert list(got.index) == [10, 20, 30]
        want = black76.greeks([1, -1, 1], 100.0, [90.0, 100.0, 110.0], 0.5, 0.01, [0.2, np.nan, 0.3])
        for name, column in zip(got.columns, want):
            assert_same_bits(got[name].to_numpy(), column)

    def test_series_with_different_indexes_are_refused(self):
        pd = self.pd
        with pytest.raises(ValueError, match="different indexes"):
            bsm.vega(pd.Series([100.0, 100.0]), pd.Series([90.0, 95.0], index=[1, 2]), 1.0, 0.0, 0.0, 0.2)

    def test_series_broadcast_to_more_dimensions_gives_an_array(self):
        pd = self.pd
        got = bsm.vega(pd.Series([100.0, 110.0]), np.array([[90.0], [95.0], [99.0]]), 1.0, 0.0, 0.0, 0.2)
        assert isinstance(got, np.ndarray) and got.shape == (3, 2)


def test_importing_karvex_does_not_import_numpy(tmp_path):
    import subprocess
    import sys

    code = (
        "import sys, karvex\n"
        "assert 'numpy' not in sys.modules, 'numpy imported at import karvex'\n"
        "assert karvex.black76.price('c', 100.0, 100.0, 1.0, 0.0, 0.2) > 0\n"
        "assert 'numpy' in sys.modules\n"
    )
    subprocess.run([sys.executable, "-c", code], check=True, cwd=tmp_path)
    assert "bsm" in dir(karvex)
