"""Shared helpers of the karvex._core tests: function lists, inputs, bit comparison, subprocesses."""

import inspect
import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import karvex._core as core

VECTORISED = list(core.__all__[2:18])
SCALAR = list(core.__all__[18:])
SERIAL_LIMITS = {"iv": 1024, "greeks": 4096, "price": 8192}
DEGENERATE = np.array([0.0, -0.0, -1.0, np.inf, -np.inf, np.nan, 1e-300, 1e300])
RANGES = {
    "t": (0.0, 3.0),
    "r": (-0.02, 0.08),
    "q": (0.0, 0.05),
    "sigma": (0.01, 1.0),
    "target_price": (0.0, 40.0),
}


# Set by tools/run-sanitizers for the run against the sanitized extension, whose runtime reserves
# far more address space than a test that caps it allows.
SANITIZED = os.environ.get("KARVEX_SANITIZED") == "1"
needs_address_space_limit = pytest.mark.skipif(
    SANITIZED, reason="the sanitizer runtime reserves more address space than the cap"
)


def quantity(name):
    return name.split("_")[1]


def serial_limit(name):
    return SERIAL_LIMITS.get(quantity(name), 16384)


def parameters(name):
    return list(inspect.signature(getattr(core, name)).parameters)


def make_inputs(name, n, seed=0, degenerate=0.1):
    """One array per parameter of `name`: plausible market values with a share of degenerate ones
    and flags of every sign."""
    rng = np.random.default_rng(seed)
    columns = []
    for p in parameters(name):
        if p == "flag":
            columns.append(rng.choice(np.array([1, -1, 0, 127, -128], np.int8), n))
            continue
        if p in ("s", "f", "k"):
            col = 100.0 * np.exp(0.3 * rng.standard_normal(n))
        else:
            col = rng.uniform(*RANGES[p], n)
        hit = rng.random(n) < degenerate
        col[hit] = rng.choice(DEGENERATE, int(hit.sum()))
        columns.append(col)
    return columns


def scalar_results(name, columns):
    """The `_scalar` twin of vectorised function `name` applied to every row of `columns`."""
    twin = getattr(core, name + "_scalar")
    values = [twin(*row) for row in zip(*(c.tolist() for c in columns))]
    if quantity(name) == "greeks":
        return tuple(np.array([v[j] for v in values], dtype=np.float64) for j in range(5))
    return np.array(values, dtype=np.float64)


def assert_same_bits(actual, expected):
    """Bit for bit equal; a NaN matches any NaN (its sign and payload follow the operand order the
    compiler picked)."""
    actual = np.ascontiguousarray(actual, dtype=np.float64)
    expected = np.ascontiguousarray(expected, dtype=np.float64)
    assert actual.shape == expected.shape
    nan = np.isnan(actual) & np.isnan(expected)
    differ = np.flatnonzero((actual.view(np.uint64) != expected.view(np.uint64)) & ~nan)
    assert differ.size == 0, (
        f"{differ.size} differ, first at {differ[:5]}: "
        f"{actual[differ[:5]]} vs {expected[differ[:5]]}"
    )


def raises(exc, message, fn, *args, **kwargs):
    """Calls fn, expecting exc with exactly `message`; returns the exception."""
    with pytest.raises(exc) as info:
        fn(*args, **kwargs)
    assert str(info.value) == message
    return info.value


def run_python(code, env=None):
    """Runs `code` in a fresh interpreter that finds karvex as this one does."""
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    environment.update(env or {})
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        env=environment,
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert result.returncode == 0, result.stderr
    return result
