"""Cost of the Python module around the kernels, measured side by side in one run.

For each vectorised function at n = 10**6 (valid options, calls and puts mixed):
  - ns per option through Python with one worker (RAYON_NUM_THREADS=1, in a subprocess)
    against the plain C++ loop over the same kernel (bench_kernel_loop), which writes into fresh
    output memory as the module must: the binding overhead (the loop into a reused output is
    shown too: the difference is the first touch of fresh pages);
  - ns per option with all workers: the speedup over one worker.
For the scalar twins: ns per call of bsm_price_scalar and bsm_iv_scalar against math.hypot
with seven float arguments (a builtin doing almost nothing): the call overhead.

    python bench/bench_bindings.py [--kernel-loop PATH] [--n N]

PATH defaults to the first bench_kernel_loop found under build/ (cmake -DKARVEX_BUILD_BENCH=ON).
"""

import argparse
import glob
import json
import math
import os
import pathlib
import subprocess
import sys
import tempfile
import timeit

import numpy as np

import karvex._core as core

ROOT = pathlib.Path(__file__).resolve().parent.parent
PARAMETER_FILES = ["flag", "s", "k", "t", "r", "q", "sigma", "bsm_target", "black76_target"]


def write_inputs(directory, n):
    rng = np.random.default_rng(20240607)
    columns = {
        "flag": rng.choice(np.array([1, -1], np.int8), n),
        "s": 100.0 * np.exp(0.25 * rng.standard_normal(n)),
        "k": np.full(n, 100.0),
        "t": rng.uniform(0.02, 3.0, n),
        "r": rng.uniform(-0.01, 0.08, n),
        "q": rng.uniform(0.0, 0.05, n),
        "sigma": rng.uniform(0.05, 0.9, n),
    }
    c = columns
    columns["bsm_target"] = core.bsm_price(
        c["flag"], c["s"], c["k"], c["t"], c["r"], c["q"], c["sigma"]
    )
    columns["black76_target"] = core.black76_price(
        c["flag"], c["s"], c["k"], c["t"], c["r"], c["sigma"]
    )
    for name, values in columns.items():
        values.tofile(os.path.join(directory, name + (".i8" if name == "flag" else ".f64")))


def read_inputs(directory):
    return {
        name: np.fromfile(
            os.path.join(directory, name + (".i8" if name == "flag" else ".f64")),
            dtype=np.int8 if name == "flag" else np.float64,
        )
        for name in PARAMETER_FILES
    }


def arguments(name, c):
    """The module's arguments for function `name`; Black-76 takes `s` as the forward."""
    model, quantity = name.split("_")
    rate = c["r"]
    if model == "bsm":
        numbers = [c["s"], c["k"], c["t"], rate, c["q"]]
    else:
        numbers = [c["s"], c["k"], c["t"], rate]
    if quantity == "iv":
        return [c[model + "_target"], c["flag"]] + numbers
    numbers.append(c["sigma"])
    return numbers if quantity in ("gamma", "vega") else [c["flag"]] + numbers


def time_module(directory):
    """ns per option of every vectorised function, best of five calls."""
    c = read_inputs(directory)
    n = len(c["s"])
    out = {}
    for name in core.__all__[2:18]:
        fn, args = getattr(core, name), arguments(name, c)
        fn(*args)
        out[name] = min(timeit.repeat(lambda: fn(*args), number=1, repeat=5)) * 1e9 / n
    return out


def time_module_in_subprocess(directory, threads):
    env = dict(os.environ)
    env.pop("RAYON_RS_NUM_CPUS", None)
    if threads is None:
        env.pop("RAYON_NUM_THREADS", None)
    else:
        env["RAYON_NUM_THREADS"] = str(threads)
    code = (
        "import json, sys; sys.path.insert(0, {!r}); import bench_bindings as b; "
        "print(json.dumps(b.time_module({!r})))".format(str(ROOT / "bench"), directory)
    )
    out = subprocess.run(
        [sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True
    )
    return json.loads(out.stdout)


def time_kernel_loop(executable, directory):
    out = subprocess.run([executable, directory], capture_output=True, text=True, check=True)
    lines = (line.split() for line in out.stdout.splitlines())
    return {name: (float(reused), float(fresh)) for name, reused, fresh in lines}


def ns_per_call(fn, args, number=200_000):
    return min(timeit.repeat(lambda: fn(*args), number=number, repeat=5)) * 1e9 / number


def find_kernel_loop():
    found = sorted(
        glob.glob(str(ROOT / "build" / "**" / "bench_kernel_loop"), recursive=True),
        key=os.path.getmtime,
        reverse=True,
    )
    return found[0] if found else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kernel-loop", default=find_kernel_loop())
    parser.add_argument("--n", type=int, default=10**6)
    options = parser.parse_args()
    if not options.kernel_loop:
        sys.exit("bench_kernel_loop not found: build with -DKARVEX_BUILD_BENCH=ON, or pass it")

    with tempfile.TemporaryDirectory() as directory:
        write_inputs(directory, options.n)
        plain = time_kernel_loop(options.kernel_loop, directory)
        one = time_module_in_subprocess(directory, 1)
        every = time_module_in_subprocess(directory, None)
    workers = subprocess.run(
        [sys.executable, "-c", "import os; print(os.cpu_count())"], capture_output=True, text=True
    ).stdout.strip()

    print(
        f"vectorised functions, n = {options.n}, ns per option; C++ loop into a reused output "
        f"and into fresh output memory (as the module must); overhead of the module with one "
        f"worker against the fresh loop; all workers: default pool on {workers} processors"
    )
    print(
        f"{'function':16} {'reused':>8} {'fresh':>8} {'1 worker':>9} {'overhead':>9} "
        f"{'all':>8} {'speedup':>8}"
    )
    for name in core.__all__[2:18]:
        reused, fresh = plain[name]
        overhead = (one[name] / fresh - 1.0) * 100.0
        print(
            f"{name:16} {reused:8.2f} {fresh:8.2f} {one[name]:9.2f} {overhead:8.1f}% "
            f"{every[name]:8.2f} {one[name] / every[name]:7.2f}x"
        )

    args = (1, 105.0, 100.0, 0.75, 0.03, 0.01, 0.25)
    target = core.bsm_price_scalar(*args)
    hypot = ns_per_call(math.hypot, (1.0, 105.0, 100.0, 0.75, 0.03, 0.01, 0.25))
    price = ns_per_call(core.bsm_price_scalar, args)
    iv = ns_per_call(core.bsm_iv_scalar, (target,) + args[:6], number=100_000)
    print("\nscalar twins, ns per call (math.hypot with seven floats for the bare call)")
    print(f"{'math.hypot':16} {hypot:9.1f}")
    print(
        f"{'bsm_price_scalar':16} {price:9.1f}  ({price / hypot:.2f}x hypot; "
        f"C++ price loop {plain['bsm_price'][0]:.1f} per option)"
    )
    print(
        f"{'bsm_iv_scalar':16} {iv:9.1f}  ({iv / hypot:.2f}x hypot; "
        f"C++ iv loop {plain['bsm_iv'][0]:.1f} per option)"
    )


if __name__ == "__main__":
    main()
