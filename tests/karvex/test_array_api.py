"""karvex.bsm / karvex.black76: conversion, broadcasting, errors and bit-identity with the core."""

import decimal
import fractions
import re
import subprocess
import sys

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

from karvex import _array, _core, black76, bsm

MODELS = {"bsm": bsm, "black76": black76}
FUNCTIONS = [(m, q) for m in MODELS for q in _array.QUANTITIES]
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


def core_on(model, quantity, arrays):
    """The core function on independently converted, broadcast, flattened copies of the
    arguments, reshaped to the broadcast shape."""
    shape = np.broadcast_shapes(*(np.shape(a) for a in arrays))
    flat = []
    for name, a in zip(_array.parameters(model, quantity), arrays):
        a = np.broadcast_to(np.asarray(a), shape).ravel()
        flat.append(
            np.where(a < 0, -1, 1).astype(np.int8)
            if name == "flag"
            else np.ascontiguousarray(a, dtype=np.float64)
        )
    out = getattr(_core, f"{model}_{quantity}")(*flat)
    return tuple(o.reshape(shape) for o in out) if quantity == "greeks" else out.reshape(shape)


def assert_same_bits(got, want):
    if isinstance(want, tuple):
        assert len(got) == 5
        for g, w in zip(got, want):
            assert_same_bits(g, w)
    else:
        assert np.shape(got) == np.shape(want)
        assert np.array_equal(
            np.asarray(got, np.float64).view(np.int64), np.asarray(want, np.float64).view(np.int64)
        )


@pytest.mark.parametrize("model,quantity", FUNCTIONS)
def test_mixed_shapes_and_dtypes_give_the_core_bits(model, quantity):
    rng = np.random.default_rng(abs(hash((model, quantity))) % 2**32)
    args = []
    for i, name in enumerate(_array.parameters(model, quantity)):
        if name == "flag":
            args.append(rng.choice(np.array([-3, 0, 2], dtype=np.int64), size=(4, 1)))
        else:
            args.append(
                [
                    np.float32(VALUES[name]),
                    VALUES[name] * rng.uniform(0.8, 1.2, size=(3,)),
                    [[VALUES[name]]],
                ][i % 3]
            )
    assert_same_bits(getattr(MODELS[model], quantity)(*args), core_on(model, quantity, args))


@pytest.mark.parametrize("model,quantity", FUNCTIONS)
def test_all_scalar_input_gives_python_floats(model, quantity):
    names = _array.parameters(model, quantity)
    got = getattr(MODELS[model], quantity)(*(VALUES[n] for n in names))
    want = core_on(model, quantity, [np.array([VALUES[n]]) for n in names])
    if quantity == "greeks":
        assert isinstance(got, _array.Greeks) and all(type(g) is float for g in got)
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
def test_any_broadcastable_shapes_give_the_broadcast_shape(shapes, dtype):
    rng = np.random.default_rng(1)
    args = [
        rng.choice([-1, 1], size=shape)
        if name == "flag"
        else np.asarray(VALUES[name] * rng.uniform(0.5, 1.5, size=shape)).astype(dtype)
        for name, shape in zip(_array.parameters("bsm", "price"), shapes.input_shapes)
    ]
    got = bsm.price(*args)
    if shapes.result_shape == ():
        assert type(got) is float
    else:
        assert got.shape == shapes.result_shape
    assert_same_bits(got, core_on("bsm", "price", args))


def test_empty_inputs_give_empty_results():
    assert bsm.price(1, 100.0, np.empty((0,)), 1.0, 0.0, 0.0, 0.2).shape == (0,)
    assert bsm.greeks(1, 100.0, np.empty((2, 0)), 1.0, 0.0, 0.0, 0.2).delta.shape == (2, 0)


def spy():
    """A bsm.price that records the arrays it hands to the core."""
    seen = []

    def vector(*arrays):
        seen.extend(arrays)
        return _core.bsm_price(*arrays)

    entry = _array.entry_of("bsm", "price")._replace(vector=vector)
    return seen, lambda *args: _array.evaluate(entry, list(args))


def test_contiguous_float64_int8_and_fortran_arrays_reach_the_core_without_a_copy():
    seen, call = spy()
    flag, k = np.array([1, -1, 1], dtype=np.int8), np.array([90.0, 100.0, 110.0])
    call(flag, k, k, k, k, k, k)
    assert np.shares_memory(seen[0], flag) and all(np.shares_memory(a, k) for a in seen[1:])
    seen, call = spy()
    k = np.asfortranarray(np.linspace(90.0, 110.0, 6).reshape(2, 3))
    out = call(1, 100.0, k, 1.0, 0.0, 0.0, 0.2)
    assert np.shares_memory(seen[2], k)
    assert_same_bits(out, core_on("bsm", "price", [1, 100.0, k, 1.0, 0.0, 0.0, 0.2]))


def test_strided_transposed_reversed_and_other_dtypes_are_converted():
    seen, call = spy()
    k = np.linspace(90.0, 110.0, 10)[::2]
    call(np.array([1, -1, 1, -1, 1]), k, k.astype(np.float32), 1.0, 0.0, 0.0, 0.2)
    assert all(a.ndim == 1 and a.flags.c_contiguous and a.flags.aligned for a in seen)
    assert seen[0].dtype == np.int8 and seen[1].dtype == np.float64
    base = np.linspace(80.0, 120.0, 24).reshape(4, 6)
    for k in (base[:, ::2], base.T, np.asfortranarray(base), base[::-1]):
        assert_same_bits(
            bsm.delta("c", 100.0, k, 0.5, 0.02, 0.0, 0.2),
            core_on("bsm", "delta", [1, 100.0, k, 0.5, 0.02, 0.0, 0.2]),
        )


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
def test_numeric_forms_are_accepted_as_float64(k):
    assert_same_bits(
        bsm.price(1, 100.0, k, 1.0, 0.02, 0.0, 0.2),
        bsm.price(1, 100.0, np.array([95.0, 95.0]), 1.0, 0.02, 0.0, 0.2),
    )


def test_arguments_bind_like_the_core():
    by_keyword = bsm.iv(q=0.0, r=0.05, t=1.0, k=100.0, s=100.0, flag="c", target_price=10.45)
    assert by_keyword == bsm.iv(10.45, "c", 100.0, 100.0, 1.0, 0.05, 0.0)


SIGMA = "karvex.bsm.price(): argument 'sigma' "
FLAG = (
    r"karvex.bsm.price\(\): invalid flag .*: expected 'c'/'call' or 'p'/'put' \(any case\), "
    r"a signed integer \(negative = put\) or a bool \(True = call, False = put\)$"
)
# (call, error, message pattern): exact where the text is karvex's own.
ERRORS = [
    (
        lambda: bsm.price(1, 100.0, 100.0, 1.0, 0.0),
        TypeError,
        re.escape("karvex.bsm.price() missing 2 required arguments: 'q', 'sigma'") + "$",
    ),
    (
        lambda: black76.vega(100.0, 100.0, 1.0, 0.0, vol=0.2),
        TypeError,
        re.escape("karvex.black76.vega() got an unexpected keyword argument 'vol'") + "$",
    ),
    (
        lambda: black76.gamma(100.0, 100.0, 1.0, 0.0, 0.2, f=1.0),
        TypeError,
        re.escape("karvex.black76.gamma() got multiple values for argument 'f'") + "$",
    ),
    (
        lambda: black76.price(1, 100.0, 100.0, 1.0, 0.0, 0.2, 0.0),
        TypeError,
        re.escape("karvex.black76.price() takes 6 positional arguments but 7 were given") + "$",
    ),
    (
        lambda: black76.price(1, np.ones(3), np.ones(4), 1.0, 0.0, 0.2),
        ValueError,
        re.escape("karvex.black76.price(): arguments do not broadcast together: 'f' (3,), 'k' (4,)")
        + "$",
    ),
    *[
        (
            lambda v=v: bsm.price(1, 100.0, 100.0, 1.0, 0.0, 0.0, v),
            TypeError,
            re.escape(SIGMA + m) + "$",
        )
        for v, m in [
            ("abc", "must be numbers, not text"),
            (["1.0", "2.0"], "must be numbers, not text"),
            (np.array([1 + 2j]), "must be real numbers, not an array of dtype complex128"),
            (
                np.array(["2025-01-01"], dtype="datetime64[D]"),
                "must be real numbers, not an array of dtype datetime64[D]",
            ),
        ]
    ],
    (
        lambda: bsm.price(1, 100.0, 100.0, 1.0, 0.0, 0.0, [object()]),
        TypeError,
        re.escape(SIGMA + "cannot be converted: "),
    ),
    (
        lambda: bsm.price(1, 100.0, 100.0, 1.0, 0.0, 0.0, [[1.0, 2.0], [3.0]]),
        ValueError,
        re.escape(SIGMA + "cannot be converted: "),
    ),
    *[
        (lambda f=f: bsm.price(f, 100.0, 90.0, 1.0, 0.0, 0.0, 0.2), ValueError, FLAG)
        for f in ["x", "calls", "", 1.5, float("nan"), [1, "q"], None, np.array([1.0, 0.5])]
    ],
]


@pytest.mark.parametrize("call, exc, pattern", ERRORS)
def test_errors_name_the_function_and_the_argument(call, exc, pattern):
    with pytest.raises(exc, match="^" + pattern):
        call()


CALLS = ["c", "C", "call", " Call ", "CALL", b"c", True, 1, 0, 127, 1000, 2**70, 1.0, np.int64(5)]
PUTS = ["p", "P", "put", "Put", b"P", False, -1, -128, -1000, -(2**70), -1.0, np.int16(-300)]


@pytest.mark.parametrize("flag, kind", [(f, 1) for f in CALLS] + [(f, -1) for f in PUTS])
def test_flag_forms(flag, kind):
    assert bsm.price(flag, 100.0, 90.0, 1.0, 0.0, 0.0, 0.2) == _core.bsm_price_scalar(
        kind, 100.0, 90.0, 1.0, 0.0, 0.0, 0.2
    )


def test_flag_arrays_of_every_kind_agree():
    k = np.array([90.0, 95.0, 100.0, 105.0])
    expected = bsm.rho(np.array([1, -1, 1, -1], dtype=np.int8), 100.0, k, 1.0, 0.03, 0.0, 0.2)
    for form in [
        ["c", "P", "Call", "put"],
        np.array(["c", "p", "C", "P"]),
        np.array([b"call", b"put", b"c", b"p"]),
        np.array([True, False, True, False]),
        np.array([200, -200, 0, -1], dtype=np.int64),  # the sign, never a wrap to int8
        np.array([1.0, -1.0, 0.0, -2.0]),
        np.array(["c", -1, True, False], dtype=object),
    ]:
        assert_same_bits(bsm.rho(form, 100.0, k, 1.0, 0.03, 0.0, 0.2), expected)
    # Unsigned integers are never negative: all calls.
    assert_same_bits(
        bsm.rho(np.array([1, 0, 255, 7], np.uint8), 100.0, k, 1.0, 0.03, 0.0, 0.2),
        bsm.rho(np.ones(4, np.int8), 100.0, k, 1.0, 0.03, 0.0, 0.2),
    )


def test_series_in_series_out_on_the_same_index_and_greeks_as_a_dataframe():
    pd = pytest.importorskip("pandas")
    k = pd.Series([90.0, 100.0, 110.0], index=["a", "b", "c"])
    got = bsm.price("c", 100.0, k, 1.0, 0.02, 0.0, 0.2)
    assert isinstance(got, pd.Series) and got.name == "price" and list(got.index) == ["a", "b", "c"]
    assert_same_bits(got.to_numpy(), bsm.price("c", 100.0, k.to_numpy(), 1.0, 0.02, 0.0, 0.2))
    frame = pd.DataFrame(
        {
            "type": ["C", "p", "call"],
            "k": [90.0, 100.0, 110.0],
            "sigma": pd.array([0.2, None, 0.3], dtype="Float64"),
        },
        index=[10, 20, 30],
    )
    got = black76.greeks(frame["type"], 100.0, frame["k"], 0.5, 0.01, frame["sigma"])
    assert isinstance(got, pd.DataFrame) and list(got.index) == [10, 20, 30]
    assert list(got.columns) == ["delta", "gamma", "vega", "theta", "rho"]
    want = black76.greeks([1, -1, 1], 100.0, [90.0, 100.0, 110.0], 0.5, 0.01, [0.2, np.nan, 0.3])
    for name, column in zip(got.columns, want):
        assert_same_bits(got[name].to_numpy(), column)


def test_series_with_different_indexes_are_refused_and_more_dimensions_give_an_array():
    pd = pytest.importorskip("pandas")
    with pytest.raises(ValueError, match="different indexes"):
        bsm.vega(
            pd.Series([100.0, 100.0]), pd.Series([90.0, 95.0], index=[1, 2]), 1.0, 0.0, 0.0, 0.2
        )
    got = bsm.vega(
        pd.Series([100.0, 110.0]), np.array([[90.0], [95.0], [99.0]]), 1.0, 0.0, 0.0, 0.2
    )
    assert isinstance(got, np.ndarray) and got.shape == (3, 2)


def test_importing_karvex_does_not_import_numpy(tmp_path):
    code = (
        "import sys\n"
        "had_typing = 'typing' in sys.modules\n"
        "import karvex\n"
        "assert 'numpy' not in sys.modules, 'numpy imported at import karvex'\n"
        "assert had_typing or 'typing' not in sys.modules, 'typing imported'\n"
        "assert 'bsm' in dir(karvex)\n"
        "assert karvex.black76.price('c', 100.0, 100.0, 1.0, 0.0, 0.2) > 0\n"
        "assert 'numpy' in sys.modules\n"
    )
    subprocess.run([sys.executable, "-c", code], check=True, cwd=tmp_path)


def test_karvex_core_is_reachable_after_import_karvex_without_loading_numpy(tmp_path):
    code = (
        "import sys, karvex\n"
        "assert karvex._core.bsm_price_scalar(1, 100.0, 100.0, 1.0, 0.05, 0.0, 0.2) > 0\n"
        "assert 'numpy' not in sys.modules, 'numpy imported by karvex._core'\n"
        "assert '_core' in dir(karvex)\n"
    )
    subprocess.run([sys.executable, "-c", code], check=True, cwd=tmp_path)


class RaisingFloat:
    def __float__(self):
        raise ZeroDivisionError("no float here")


class RaisingArray:
    def __array__(self, dtype=None, copy=None):
        raise RuntimeError("no array here")


@pytest.mark.parametrize(
    "value, exc, text",
    [
        (10**400, OverflowError, "int too large to convert to float"),
        ([1.0, -(10**400)], OverflowError, "int too large to convert to float"),
        ([RaisingFloat()], TypeError, "ZeroDivisionError: no float here"),
        (RaisingArray(), TypeError, "RuntimeError: no array here"),
    ],
)
def test_conversion_errors_name_the_argument_and_keep_the_cause(value, exc, text):
    for at, name in ((1, "s"), (6, "sigma")):
        args = ["c", 100.0, 100.0, 1.0, 0.0, 0.0, 0.2]
        args[at] = value
        with pytest.raises(
            exc,
            match=re.escape(f"karvex.bsm.price(): argument '{name}' cannot be converted: {text}"),
        ) as info:
            bsm.price(*args)
        assert info.value.__cause__ is not None


def test_masked_arrays_give_masked_results_and_masked_values_are_never_read():
    k = np.ma.array([90.0, 1e300, 110.0, -5.0], mask=[0, 1, 0, 1])
    sigma = np.ma.array([0.2, 0.3, 0.25, 0.2], mask=[0, 0, 1, 0])
    flag = np.ma.array(["c", "x", "p", "p"], mask=[0, 1, 0, 0])
    got = bsm.price(flag, 100.0, k, 1.0, 0.02, 0.0, sigma)
    assert isinstance(got, np.ma.MaskedArray)
    assert got.mask.tolist() == [False, True, True, True]
    assert_same_bits(got.data[:1], bsm.price("c", 100.0, [90.0], 1.0, 0.02, 0.0, 0.2))
    g = bsm.greeks("c", 100.0, k, 1.0, 0.02, 0.0, 0.2)
    assert all(isinstance(x, np.ma.MaskedArray) and x.mask.tolist() == [0, 1, 0, 1] for x in g)
    assert bsm.iv_status(np.ma.masked, "c", 100.0, 100.0, 1.0, 0.0, 0.0) is np.ma.masked
    assert bsm.price("c", 100.0, np.ma.array(95.0), 1.0, 0.0, 0.0, 0.2) == bsm.price(
        "c", 100.0, 95.0, 1.0, 0.0, 0.0, 0.2
    )


def counting_flag_of(monkeypatch):
    seen = []
    original = _array._flag_of

    def flag_of(value):
        seen.append(value)
        return original(value)

    monkeypatch.setattr(_array, "_flag_of", flag_of)
    return seen


def test_text_and_categorical_flag_columns_are_converted_once_per_distinct_value(monkeypatch):
    pd = pytest.importorskip("pandas")
    words = np.array(["C", "p", "Call", "PUT"] * 500)
    want = np.tile(np.array([1, -1, 1, -1], np.int8), 500)
    k = np.full(len(words), 100.0)
    expected = bsm.price(want, 100.0, k, 1.0, 0.02, 0.0, 0.2)
    seen = counting_flag_of(monkeypatch)
    for form in (
        pd.Series(words, dtype=object),
        pd.Series(words).astype("category"),
        pd.Series(words, dtype="string"),
    ):
        seen.clear()
        assert_same_bits(bsm.price(form, 100.0, k, 1.0, 0.02, 0.0, 0.2), expected)
        assert len(seen) <= 4
    with pytest.raises(ValueError, match=r"invalid flag .* at index \(3,\)"):
        bsm.price(
            pd.Series(["c", "p", "c", None]).astype("category"), 100.0, 100.0, 1.0, 0.0, 0.0, 0.2
        )
    with pytest.raises(ValueError, match=r"invalid flag 'x' at index \(2,\)"):
        bsm.price(pd.Series(["c", "p", "x"], dtype=object), 100.0, 100.0, 1.0, 0.0, 0.0, 0.2)


@pytest.mark.parametrize(
    "words",
    [
        ["c", "p", "C", "P"],
        ["call", "put", "CALL", "Put"],
        [" call", "put ", "\tc", "P\n"],
        [b"c", b"PUT", b" Call ", b"p"],
        ["c", "put", "cALl", "p"],
    ],
)
def test_flag_words_of_every_width_and_case_read_the_same(words):
    got = bsm.rho(np.array(words), 100.0, 100.0, 1.0, 0.03, 0.0, 0.2)
    want = bsm.rho(np.array([1, -1, 1, -1]), 100.0, 100.0, 1.0, 0.03, 0.0, 0.2)
    assert_same_bits(got, want)


@pytest.mark.parametrize(
    "bad", [["c", "calls"], ["c", "pút"], ["c", ""], ["ca", "p"], ["c", "c p"]]
)
def test_flag_words_that_only_look_like_flags_are_refused(bad):
    with pytest.raises(ValueError, match=re.escape(f"invalid flag {bad[1]!r}") + "|invalid flag"):
        bsm.price(np.array(bad), 100.0, 100.0, 1.0, 0.0, 0.0, 0.2)


def test_ready_arrays_and_plain_numbers_go_straight_to_the_core(monkeypatch):
    def no_conversion(*args):
        raise AssertionError("converted")

    monkeypatch.setattr(_array, "_convert", no_conversion)
    flag, k = np.array([1, -1], np.int8), np.array([95.0, 105.0])
    got = bsm.price(flag, k, k, k, k, k, k)
    assert_same_bits(got, _core.bsm_price(flag, k, k, k, k, k, k))
    price = bsm.price("c", 100.0, k, 0.5, 0.03, 0, 0.2)
    assert_same_bits(
        bsm.iv(price, "c", 100.0, k, 0.5, 0.03, 0),
        core_on("bsm", "iv", [price, 1, 100.0, k, 0.5, 0.03, 0.0]),
    )
    assert bsm.price("p", 100.0, 95.0, 0.5, 0.03, 0, 0.2) == _core.bsm_price_scalar(
        -1, 100.0, 95.0, 0.5, 0.03, 0.0, 0.2
    )
    assert black76.greeks(True, 100.0, 95.0, 0.5, 0.03, 0.2) == _core.black76_greeks_scalar(
        1, 100.0, 95.0, 0.5, 0.03, 0.2
    )


def test_functions_are_written_out_as_the_table_says():
    """bsm.py and black76.py are what tools/gen_array_api.py writes from the table in _array:
    real functions with its parameters, keywords and docstrings."""
    import inspect
    import pathlib
    import runpy

    root = pathlib.Path(__file__).resolve().parents[2]
    gen = runpy.run_path(str(root / "tools/gen_array_api.py"), run_name="gen_array_api")
    for model, module in MODELS.items():
        assert (root / f"python/karvex/{model}.py").read_text() == gen["module"](model)
        for quantity in _array.FUNCTIONS:
            fn = getattr(module, quantity)
            entry = _array.entry_of(model, quantity)
            assert inspect.isfunction(fn) and fn.__module__ == f"karvex.{model}"
            assert inspect.signature(fn) == _array.signature(entry)
            assert inspect.getdoc(fn) == inspect.cleandoc(
                _array.docstring(model, quantity, entry.names)
            )
