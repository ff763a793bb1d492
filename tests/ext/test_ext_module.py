"""karvex._ext as a module: its table, writing into the caller's arrays (out=), and the one worker
pool it shares with karvex._core."""

import inspect
import os
import pathlib

import numpy as np
import pytest
from core_support import VECTORISED, assert_same_bits, make_inputs, raises, run_python

import karvex
import karvex._core as core
import karvex._ext as ext

LARGE = 40_000  # above every serial limit
EXT_VECTORISED = [n for n in ext.__all__[2:] if not n.endswith("_scalar")]
# (the American functions, which have no out= twins, are test_ext_american's; the normal model's
# functions have tests of their own: test_ext_normal.py)
SECOND_ORDER = [
    n for n in EXT_VECTORISED if n not in VECTORISED and not n.startswith(("american_", "normal_"))
]
COUNTS = {"greeks": 5, "bsm_second_order": 10, "black76_second_order": 9}


def count_of(name):
    return COUNTS.get(name, COUNTS.get(name.split("_", 1)[1], 1))


def outputs_of(name, n):
    count = count_of(name)
    arrays = tuple(np.full(n, -7.0) for _ in range(count))
    return arrays if count > 1 else arrays[0]


def ext_inputs(name, n, seed=0):
    """make_inputs for a function of _ext: the core function with the same parameters."""
    model = name.split("_")[0]
    flag = "flag" in inspect.signature(getattr(ext, name)).parameters
    return make_inputs(f"{model}_{'price' if flag else 'gamma'}", n, seed=seed)


def scalar_twin_results(name, args):
    twin = getattr(ext, name + "_scalar")
    values = [twin(*row) for row in zip(*(a.tolist() for a in args))]
    if count_of(name) == 1:
        return (np.array(values, dtype=np.float64),)
    return tuple(np.array([v[j] for v in values]) for j in range(count_of(name)))


def test_the_core_keeps_its_32_functions_and_ext_adds_an_out_twin_of_each_vectorised_one():
    assert len(core.__all__) == 34
    for name in VECTORISED:
        twin = getattr(ext, name)
        assert name in ext.__all__ and twin.__module__ == "karvex._ext"
        params = inspect.signature(twin).parameters
        assert list(params)[:-1] == list(inspect.signature(getattr(core, name)).parameters)
        assert params["out"].kind is inspect.Parameter.KEYWORD_ONLY
        assert params["out"].default is None


def test_the_stub_lists_what_the_module_registers():
    stub = pathlib.Path(karvex.__file__).with_name("_ext.pyi").read_text()
    # the core's 16 with out=, the second-order Greeks and their twins, the American three in
    # three modes with their twins, and the normal model's 8 with their twins
    assert len(ext.__all__) == 2 + 16 + 2 * (10 + 9 + 2) + 2 * 9 + 2 * 8
    for name in ext.__all__[2:]:
        assert f"def {name}(" in stub


@pytest.mark.parametrize("n", [0, 1, 1000, LARGE])
@pytest.mark.parametrize("name", VECTORISED)
def test_out_gets_the_bits_of_a_call_without_out_and_is_returned(name, n):
    args = make_inputs(name, n, seed=n)
    expected = getattr(core, name)(*args)
    out = outputs_of(name, n)
    got = getattr(ext, name)(*args, out=out)
    assert got is out
    for g, e in zip(*((got, expected) if isinstance(out, tuple) else ((got,), (expected,)))):
        assert_same_bits(g, e)
    assert_same_bits(getattr(ext, name)(*args, out=None), expected)


@pytest.mark.parametrize("n", [3, LARGE])
@pytest.mark.parametrize("name", SECOND_ORDER)
def test_second_order_functions_give_their_scalar_twins_bits_serially_on_the_pool_and_in_out(
    name, n
):
    args = ext_inputs(name, n, seed=n)
    expected = scalar_twin_results(name, args)
    got = getattr(ext, name)(*args)
    out = outputs_of(name, n)
    into = getattr(ext, name)(*args, out=out)
    assert into is out
    got, into = (got, into) if isinstance(got, tuple) else ((got,), (into,))
    assert len(got) == len(expected)
    for g, i, e in zip(got, into, expected):
        assert_same_bits(g, e)
        assert_same_bits(i, e)


def test_the_single_passes_have_one_result_per_greek_black76_without_dividend_rho():
    args = ext_inputs("bsm_second_order", 4)
    assert len(ext.bsm_second_order(*args)) == 10
    assert len(ext.black76_second_order(args[0], *args[1:5], args[6])) == 9
    assert len(ext.bsm_second_order_scalar(1, 100.0, 90.0, 1.0, 0.05, 0.01, 0.2)) == 10
    assert not hasattr(ext, "black76_dividend_rho")


def test_without_out_ext_returns_new_arrays_as_the_core_does():
    args = make_inputs("bsm_greeks", 100)
    for g, e in zip(ext.bsm_greeks(*args), core.bsm_greeks(*args)):
        assert_same_bits(g, e)


def refused(exc, message, name, args, out):
    """The call is refused with `message` and writes nothing."""
    before = [np.array(o, copy=True) for o in (out if isinstance(out, tuple) else (out,))]
    raises(exc, message, getattr(ext, name), *args, out=out)
    for o, b in zip(out if isinstance(out, tuple) else (out,), before):
        if isinstance(o, np.ndarray) and o.dtype == np.float64:
            assert_same_bits(o.ravel(), b.ravel())


def test_out_arrays_of_the_wrong_kind_are_refused_with_a_type_error():
    args = make_inputs("bsm_price", 8)
    bad = {
        "out must be a float64 array, not an array of int64": np.zeros(8, np.int64),
        "out must be a float64 array, not an array of >f8": np.zeros(8, ">f8"),
        "out must have one dimension, not 2": np.zeros((2, 4)),
        "out must be C-contiguous and aligned": np.zeros(16)[::2],
    }
    for message, out in bad.items():
        refused(TypeError, f"bsm_price(): {message}", "bsm_price", args, out)
    with pytest.raises(TypeError, match="'list' object is not an instance of 'ndarray'"):
        ext.bsm_price(*args, out=[0.0] * 8)
    greeks_args = make_inputs("bsm_greeks", 8)
    for out in (np.zeros(8), (np.zeros(8),) * 4, [np.zeros(8) for _ in range(5)]):
        message = "bsm_greeks(): out must be a tuple of 5 float64 arrays"
        raises(TypeError, message, ext.bsm_greeks, *greeks_args, out=out)
    outs = tuple(np.zeros(8) for _ in range(4)) + (np.zeros(8, np.float32),)
    refused(
        TypeError,
        "bsm_greeks(): out[4] must be a float64 array, not an array of float32",
        "bsm_greeks",
        greeks_args,
        outs,
    )


def test_read_only_or_short_out_arrays_are_refused_with_a_value_error():
    args = make_inputs("black76_iv", 8)
    frozen = np.zeros(8)
    frozen.flags.writeable = False
    refused(ValueError, "black76_iv(): out is read-only", "black76_iv", args, frozen)
    refused(
        ValueError, "black76_iv(): out has length 9, the inputs 8", "black76_iv", args, np.zeros(9)
    )


def test_out_sharing_memory_with_an_input_or_another_out_is_refused():
    # The block loops read inputs again after writing results (the lanes that take the scalar
    # kernel), so even out = an input would change bits: every overlap is refused.
    args = make_inputs("bsm_delta", 8)
    message = "bsm_delta(): out shares memory with an input array"
    refused(ValueError, message, "bsm_delta", args, args[3])  # exactly t
    backing = np.zeros(12)
    partial = [*args[:6], backing[:8]]
    refused(ValueError, message, "bsm_delta", partial, backing[4:12])
    backing = np.zeros(8)  # the int8 flags are the first 8 bytes of out
    refused(ValueError, message, "bsm_delta", [backing.view(np.int8)[:8], *args[1:]], backing)
    greeks_args = make_inputs("bsm_greeks", 8)
    block = np.zeros(16)
    outs = (np.zeros(8), block[:8], np.zeros(8), block[4:12], np.zeros(8))
    refused(
        ValueError,
        "bsm_greeks(): out[3] shares memory with out[1]",
        "bsm_greeks",
        greeks_args,
        outs,
    )
    same = np.zeros(8)
    refused(
        ValueError,
        "bsm_greeks(): out[1] shares memory with out[0]",
        "bsm_greeks",
        greeks_args,
        (same, same, np.zeros(8), np.zeros(8), np.zeros(8)),
    )


def test_adjacent_out_and_input_arrays_in_one_buffer_are_accepted():
    args = make_inputs("bsm_vega", 8)
    backing = np.empty(16)
    backing[:8] = args[0]
    got = ext.bsm_vega(backing[:8], *args[1:], out=backing[8:])
    assert_same_bits(got, core.bsm_vega(*args))


POOL_THREADS = """
import os
import numpy as np
import karvex
import karvex._core as core, karvex._ext as ext
{setup}
n = 40_000
x = np.full(n, 100.0)
before = len(os.listdir("/proc/self/task"))
core.bsm_vega(x, x, x / 100, x / 2000, x / 5000, x / 500)
after_core = len(os.listdir("/proc/self/task"))
ext.bsm_vega(x, x, x / 100, x / 2000, x / 5000, x / 500, out=np.empty(n))
karvex.bsm.vega(x, x, x / 100, x / 2000, x / 5000, x / 500)
print(after_core - before, len(os.listdir("/proc/self/task")) - before)
"""


@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="counts threads in /proc")
@pytest.mark.parametrize(
    "setup, env, workers",
    [("", {"RAYON_NUM_THREADS": "3"}, 3), ("karvex.set_num_threads(2)", {}, 2)],
)
def test_both_modules_run_on_one_worker_pool_of_the_size_asked_for(setup, env, workers):
    # One pool per process: the second module's large call starts no thread of its own.
    environment = {"RAYON_NUM_THREADS": "", **env}
    # the karvex this process runs, whatever other tests put first on sys.path
    environment["PYTHONPATH"] = str(pathlib.Path(karvex.__file__).parents[1])
    out = run_python(POOL_THREADS.format(setup=setup), env=environment).stdout.split()
    assert out == [str(workers), str(workers)]


def test_the_pool_is_one_shared_library_beside_the_modules():
    here = pathlib.Path(ext.__file__).resolve().parent
    assert pathlib.Path(core.__file__).resolve().parent == here
    assert any(p.name.startswith("libkarvex_pool") for p in here.iterdir())
