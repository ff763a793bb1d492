"""The vectorised functions: array checks and their order, results, agreement with the scalar twins."""

import json

import numpy as np
import pytest
from core_support import (
    VECTORISED,
    assert_same_bits,
    make_inputs,
    needs_address_space_limit,
    parameters,
    quantity,
    raises,
    run_python,
    scalar_results,
    serial_limit,
)

import karvex._core as core

NOT_ARRAY = "'ndarray' object is not an instance of 'ndarray'"
NOT_CONTIGUOUS = "The given array is not contiguous or is misaligned."


def inputs(name, n=5):
    return make_inputs(name, n, degenerate=0.0)


def strided(a):
    return np.ones(10)[::2]


def wrong_type(function, parameter, expected, given):
    """The notes of a one-dimensional array of the wrong element type."""
    return [
        f"while processing '{parameter}'",
        f"{function}(): argument '{parameter}' must be a contiguous one-dimensional {expected} "
        f"array, not an array of {given}",
    ]


# (function, {argument index: replacement or function of the valid array}, error, message, notes)
CHECKS = [
    # The message is the same for every refused object; a second note names the element types.
    *[
        ("bsm_delta", {0: lambda a, d=d: a.astype(d)}, TypeError, NOT_ARRAY, notes)
        for d, notes in (
            (bool, wrong_type("bsm_delta", "flag", "int8", "bool")),
            (np.uint8, wrong_type("bsm_delta", "flag", "int8", "uint8")),
            (np.int16, wrong_type("bsm_delta", "flag", "int8", "int16")),
            (np.int64, wrong_type("bsm_delta", "flag", "int8", "int64")),
            (np.float64, wrong_type("bsm_delta", "flag", "int8", "float64")),
        )
    ],
    *[
        ("bsm_theta", {6: lambda a, d=d: a.astype(d)}, TypeError, NOT_ARRAY, notes)
        for d, notes in (
            (np.float32, wrong_type("bsm_theta", "sigma", "float64", "float32")),
            (np.int64, wrong_type("bsm_theta", "sigma", "float64", "int64")),
            (np.int8, wrong_type("bsm_theta", "sigma", "float64", "int8")),
            (np.uint8, wrong_type("bsm_theta", "sigma", "float64", "uint8")),
            (bool, wrong_type("bsm_theta", "sigma", "float64", "bool")),
            (">f8", wrong_type("bsm_theta", "sigma", "float64", ">f8")),
            (np.longdouble, wrong_type("bsm_theta", "sigma", "float64", "float128")),
        )
    ],
    # The first failing argument is named; the types of all precede any layout check, layouts
    # precede lengths.
    (
        "bsm_vega",
        {1: None, 4: None},
        TypeError,
        "'None' is not an instance of 'ndarray'",
        ["while processing 'k'"],
    ),
    (
        "bsm_price",
        {1: strided, 6: lambda a: a.astype(np.float32)},
        TypeError,
        NOT_ARRAY,
        wrong_type("bsm_price", "sigma", "float64", "float32"),
    ),
    ("bsm_price", {0: lambda a: a[:3], 5: strided}, TypeError, NOT_CONTIGUOUS, None),
    ("black76_price", {2: strided}, TypeError, NOT_CONTIGUOUS, None),
    ("black76_price", {2: lambda a: np.ones(10)[::-2]}, TypeError, NOT_CONTIGUOUS, None),
    (
        "black76_price",
        {2: lambda a: np.zeros(41, np.uint8)[1:].view(np.float64)},
        TypeError,
        NOT_CONTIGUOUS,
        None,
    ),  # misaligned
    (
        "bsm_price",
        {1: lambda a: a[:2]},
        ValueError,
        "input arrays have mismatched lengths: [5, 2, 5, 5, 5, 5, 5]",
        None,
    ),
    (
        "bsm_price",
        {0: lambda a: a[:0]},
        ValueError,
        "input arrays have mismatched lengths: [0, 5, 5, 5, 5, 5, 5]",
        None,
    ),
]


@pytest.mark.parametrize("name, change, exc, message, notes", CHECKS)
def test_array_checks_and_their_order(name, change, exc, message, notes):
    args = inputs(name)
    for i, value in change.items():
        args[i] = value(args[i]) if callable(value) else value
    error = raises(exc, message, getattr(core, name), *args)
    assert getattr(error, "__notes__", None) == notes


@pytest.mark.parametrize("name", ["bsm_price", "bsm_iv", "black76_gamma"])
def test_each_parameter_must_be_a_one_dimensional_array(name):
    args = inputs(name)
    for i, p in enumerate(parameters(name)):
        for value, shown in (
            (args[i].tolist(), "'list' object"),
            (None, "'None'"),
            (args[i].reshape(5, 1), "'ndarray' object"),
            (args[i][:1].reshape(()), "'ndarray' object"),
        ):
            error = raises(
                TypeError,
                f"{shown} is not an instance of 'ndarray'",
                getattr(core, name),
                *args[:i],
                value,
                *args[i + 1 :],
            )
            assert error.__notes__ == [f"while processing '{p}'"]


def test_one_element_strided_view_and_shared_arrays_are_accepted():
    args = inputs("bsm_price", 1)
    args[1] = np.array([args[1][0], -5.0])[::2]
    assert_same_bits(core.bsm_price(*args), scalar_results("bsm_price", args))
    x = np.full(4, 0.5)
    assert_same_bits(
        core.black76_vega(x, x, x, x, x), [core.black76_vega_scalar(0.5, 0.5, 0.5, 0.5, 0.5)] * 4
    )


@pytest.mark.parametrize("name", VECTORISED)
def test_all_empty_gives_empty_float64_results(name):
    result = getattr(core, name)(*inputs(name, 0))
    for array in result if quantity(name) == "greeks" else [result]:
        assert array.dtype == np.float64 and array.shape == (0,)


def test_empty_arrays_with_any_stride_or_alignment_are_accepted():
    args = inputs("bsm_price", 0)
    args[1] = np.lib.stride_tricks.as_strided(np.ones(1), shape=(0,), strides=(0,))
    args[2] = np.zeros(9, np.uint8)[1:1].view(np.float64)
    assert core.bsm_price(*args).shape == (0,)


def test_result_is_a_new_writeable_float64_array_owning_its_buffer():
    args = inputs("bsm_price", 7)
    result = core.bsm_price(*args)
    assert type(result) is np.ndarray and result.dtype == np.float64
    assert result.shape == (7,) and result.strides == (8,)
    assert result.flags.writeable and result.flags.c_contiguous and result.flags.aligned
    assert type(result.base).__name__ == "PySliceContainer"
    result[:] = 1.0
    assert not any(np.shares_memory(result, a) for a in args)


def test_inputs_are_read_in_place_unchanged_and_masked_arrays_through_their_data():
    args = inputs("bsm_iv", 50)
    for a in args:
        a.flags.writeable = False
    before = [a.copy() for a in args]
    core.bsm_iv(*args)
    for a, b in zip(args, before):
        assert_same_bits(a.view(np.uint8), b.view(np.uint8))
    args = inputs("bsm_delta", 6)
    masked = args[:1] + [np.ma.masked_array(args[1], mask=[1, 0, 1, 0, 0, 1])] + args[2:]
    assert_same_bits(core.bsm_delta(*masked), core.bsm_delta(*args))


@pytest.mark.parametrize("name", ["bsm_greeks", "black76_greeks"])
def test_greeks_are_five_distinct_arrays(name):
    result = getattr(core, name)(*inputs(name, 9))
    assert type(result) is tuple and len(result) == 5
    assert len({id(a) for a in result}) == 5 and len({id(a.base) for a in result}) == 5
    assert all(a.shape == (9,) and a.dtype == np.float64 for a in result)


@pytest.mark.parametrize("name", VECTORISED)
def test_each_element_equals_its_scalar_twin_on_both_sides_of_the_serial_limit(name):
    limit = serial_limit(name)
    large = 3 * limit + 17
    args = make_inputs(name, large, seed=len(name))
    expected = scalar_results(name, args)
    fn = getattr(core, name)
    for n in (limit - 1, limit, large):
        result = fn(*[a[:n] for a in args])
        if quantity(name) == "greeks":
            for got, want in zip(result, expected):
                assert_same_bits(got, want[:n])
        else:
            assert_same_bits(result, expected[:n])


@needs_address_space_limit
def test_result_buffer_that_cannot_be_allocated_raises_memory_error():
    # The address space is capped 48 MiB above what is in use: one result of n = 4e6 (32 MiB)
    # fits, two do not; a failed call leaves nothing behind.
    out = run_python("""
        import json, resource, sys, time
        import numpy as np
        import karvex._core as core

        def attempt(fn, *args):
            try:
                return fn(*args).shape[0]
            except MemoryError:
                return "MemoryError"

        n = 4_000_000
        x, flag = np.full(n, 0.5), np.ones(n, np.int8)
        x2, flag2 = np.full(2 * n, 0.5), np.ones(2 * n, np.int8)
        # The pool started, and settled: a worker's first allocation may create its own malloc
        # arena (64 MiB of address space) just after a call returns, which must not fall between
        # the measure below and the cap.
        for _ in range(2):
            core.black76_price(np.ones(20000, np.int8), *[np.full(20000, 0.5)] * 5)
            time.sleep(0.2)
        with open("/proc/self/statm") as f:
            used = int(f.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (used + 48 * 2**20, resource.RLIM_INFINITY))
        counts = lambda: [sys.getrefcount(a) for a in (x, flag, x2, flag2)]
        before = counts()
        report = [
            attempt(core.black76_price, flag2, *[x2] * 5),   # its one buffer is too large
            attempt(core.black76_greeks, flag, *[x] * 5),    # the second of five fails
            attempt(core.black76_price, flag, *[x] * 5),     # fits: nothing was left behind
            attempt(core.black76_gamma, *[x2] * 5),
            attempt(core.black76_greeks, flag, *[x] * 5),
            attempt(core.black76_price, flag, *[x] * 5),
        ]
        print(json.dumps({"report": report, "same_counts": counts() == before}))
        """)
    result = json.loads(out.stdout)
    assert result["report"] == ["MemoryError", "MemoryError", 4_000_000] * 2
    assert result["same_counts"]
