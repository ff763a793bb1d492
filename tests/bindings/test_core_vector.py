"""The vectorised functions: array checks and their order, results, agreement with the scalar twins."""

import json

import numpy as np
import pytest

import karvex._core as core
from core_support import (VECTORISED, assert_same_bits, make_inputs, parameters, quantity,
                          run_python, scalar_results, serial_limit)


def inputs(name, n=5):
    return make_inputs(name, n, degenerate=0.0)


def raises(exc, message, fn, *args):
    with pytest.raises(exc) as info:
        fn(*args)
    assert str(info.value) == message
    return info.value


NOT_CONTIGUOUS = "The given array is not contiguous or is misaligned."


class TestArrayChecks:
    @pytest.mark.parametrize("name", ["bsm_price", "bsm_iv", "black76_gamma"])
    def test_each_parameter_must_be_a_one_dimensional_array(self, name):
        args = inputs(name)
        for i, p in enumerate(parameters(name)):
            bad = list(args)
            for value, shown in ((args[i].tolist(), "'list' object"), (None, "'None'"),
                                 (args[i].reshape(5, 1), "'ndarray' object"),
                                 (args[i][:1].reshape(()), "'ndarray' object")):
                bad[i] = value
                error = raises(TypeError, f"{shown} is not an instance of 'ndarray'",
                               getattr(core, name), *bad)
                assert error.__notes__ == [f"while processing '{p}'"]

    @pytest.mark.parametrize("dtype", [bool, np.uint8, np.int16, np.int64, np.float64])
    def test_flag_must_be_int8(self, dtype):
        args = inputs("bsm_delta")
        args[0] = args[0].astype(dtype)
        error = raises(TypeError, "'ndarray' object is not an instance of 'ndarray'",
                       core.bsm_delta, *args)
        assert error.__notes__ == ["while processing 'flag'"]

    @pytest.mark.parametrize("dtype", [np.float32, np.int64, np.int8, ">f8", np.longdouble])
    def test_numbers_must_be_native_float64(self, dtype):
        args = inputs("bsm_theta")
        args[6] = args[6].astype(dtype)
        error = raises(TypeError, "'ndarray' object is not an instance of 'ndarray'",
                       core.bsm_theta, *args)
        assert error.__notes__ == ["while processing 'sigma'"]

    def test_the_first_failing_argument_is_named(self):
        args = inputs("bsm_vega")
        args[1], args[4] = None, None
        error = raises(TypeError, "'None' is not an instance of 'ndarray'", core.bsm_vega, *args)
        assert error.__notes__ == ["while processing 'k'"]

    def test_type_checks_of_all_arguments_precede_layout_checks(self):
        args = inputs("bsm_price")
        args[1] = np.ones(10)[::2]
        args[6] = args[6].astype(np.float32)
        error = raises(TypeError, "'ndarray' object is not an instance of 'ndarray'",
                       core.bsm_price, *args)
        assert error.__notes__ == ["while processing 'sigma'"]

    def test_layout_checks_precede_length_checks(self):
        args = inputs("bsm_price")
        args[0] = args[0][:3]
        args[5] = np.ones(10)[::2]
        error = raises(TypeError, NOT_CONTIGUOUS, core.bsm_price, *args)
        assert not hasattr(error, "__notes__")

    @pytest.mark.parametrize("make", [
        lambda: np.ones(10)[::2],
        lambda: np.ones(10)[::-2],
        lambda: np.zeros(41, np.uint8)[1:].view(np.float64),  # misaligned
    ])
    def test_non_empty_arrays_must_be_aligned_and_contiguous(self, make):
        args = inputs("black76_price")
        args[2] = make()
        raises(TypeError, NOT_CONTIGUOUS, core.black76_price, *args)

    def test_lengths_must_agree(self):
        args = inputs("bsm_price", 3)
        args[1] = args[1][:2]
        raises(ValueError, "input arrays have mismatched lengths: [3, 2, 3, 3, 3, 3, 3]",
               core.bsm_price, *args)
        args = inputs("bsm_price", 5)
        args[0] = args[0][:0]
        raises(ValueError, "input arrays have mismatched lengths: [0, 5, 5, 5, 5, 5, 5]",
               core.bsm_price, *args)

    def test_one_element_strided_view_is_accepted(self):
        args = inputs("bsm_price", 1)
        args[1] = np.array([args[1][0], -5.0])[::2]
        assert args[1].strides == (16,)
        assert_same_bits(core.bsm_price(*args), scalar_results("bsm_price", args))

    def test_arrays_of_the_same_data_may_be_passed_for_several_parameters(self):
        x = np.full(4, 0.5)
        assert_same_bits(core.black76_vega(x, x, x, x, x),
                         [core.black76_vega_scalar(0.5, 0.5, 0.5, 0.5, 0.5)] * 4)


class TestEmptyInputs:
    @pytest.mark.parametrize("name", VECTORISED)
    def test_all_empty_gives_empty_float64_results(self, name):
        result = getattr(core, name)(*inputs(name, 0))
        for array in result if quantity(name) == "greeks" else [result]:
            assert array.dtype == np.float64 and array.shape == (0,)

    def test_empty_arrays_with_any_stride_or_alignment_are_accepted(self):
        args = inputs("bsm_price", 0)
        args[1] = np.lib.stride_tricks.as_strided(np.ones(1), shape=(0,), strides=(0,))
        args[2] = np.zeros(9, np.uint8)[1:1].view(np.float64)
        assert core.bsm_price(*args).shape == (0,)


class TestResults:
    def test_result_is_a_new_writeable_float64_array_owning_its_buffer(self):
        args = inputs("bsm_price", 7)
        result = core.bsm_price(*args)
        assert type(result) is np.ndarray and result.dtype == np.float64
        assert result.shape == (7,) and result.strides == (8,)
        assert result.flags.writeable and result.flags.c_contiguous and result.flags.aligned
        assert type(result.base).__name__ == "PySliceContainer"
        result[:] = 1.0  # the buffer is ours to write
        assert not any(np.shares_memory(result, a) for a in args)

    def test_inputs_are_read_in_place_and_left_unchanged(self):
        args = inputs("bsm_iv", 50)
        for a in args:
            a.flags.writeable = False
        before = [a.copy() for a in args]
        core.bsm_iv(*args)
        for a, b in zip(args, before):
            assert_same_bits(a.view(np.uint8), b.view(np.uint8))

    def test_masked_array_is_used_through_its_data(self):
        args = inputs("bsm_delta", 6)
        masked = list(args)
        masked[1] = np.ma.masked_array(args[1], mask=[1, 0, 1, 0, 0, 1])
        assert_same_bits(core.bsm_delta(*masked), core.bsm_delta(*args))

    def test_int8_flag_selects_calls_and_puts_by_sign(self):
        args = inputs("black76_price", 4)
        args[0] = np.array([1, -1, 0, -128], np.int8)
        assert_same_bits(core.black76_price(*args), scalar_results("black76_price", args))

    @pytest.mark.parametrize("name", ["bsm_greeks", "black76_greeks"])
    def test_greeks_are_five_distinct_arrays(self, name):
        result = getattr(core, name)(*inputs(name, 9))
        assert type(result) is tuple and len(result) == 5
        assert len({id(a) for a in result}) == 5
        assert len({id(a.base) for a in result}) == 5
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


def test_result_buffer_that_cannot_be_allocated_raises_memory_error():
    # The address space is capped 48 MiB above what the inputs use: one result of n = 4e6
    # (32 MiB) fits, two do not.
    out = run_python("""
        import json, resource, sys
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
        core.black76_price(np.ones(20000, np.int8), *[np.full(20000, 0.5)] * 5)  # pool started
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
    n = 4_000_000
    assert result["report"] == ["MemoryError", "MemoryError", n] * 2
    assert result["same_counts"]
