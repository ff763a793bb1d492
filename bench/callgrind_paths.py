"""Instructions per option of each vectorised function on each path valgrind runs, for two builds of
bench_paths side by side: a repeatable proxy for speed when wall time on a shared machine is noise.

Each function and path runs under callgrind (bench_paths --benchmark_filter=^NAME/PATH$); the cost
counted is what the benchmark's loop calls, inclusive, divided by the number of calls, over the
4,096 options of the book. Valgrind does not run AVX-512, so the paths are the scalar loop and AVX2.

    python bench/callgrind_paths.py OLD/bench_paths NEW/bench_paths [FUNCTION ...] [--paths scalar]
"""

import argparse
import subprocess
import tempfile
from pathlib import Path

FUNCTIONS = (
    "bsm_price", "black76_price", "bsm_delta", "bsm_gamma", "bsm_vega", "bsm_theta", "bsm_rho",
    "black76_rho", "bsm_greeks", "black76_greeks", "bsm_iv", "black76_iv",
)  # fmt: skip
BATCH = 4096


def per_call(out: Path) -> float:
    """Inclusive instructions per call of what the benchmark's loop calls (not benchmark's own)."""
    function = None
    callee = None
    total = calls = 0
    lines = out.read_text().splitlines()
    for i, line in enumerate(lines):
        if line.startswith("fn="):
            function = line[3:]
        elif line.startswith("cfn="):
            callee = line[4:]
        elif line.startswith("calls=") and function and "lambda(benchmark::State&)" in function:
            # the loop (inlined into LambdaBenchmark::Run) calls the book's range function, a
            # function of bench_paths' anonymous namespace
            if callee and "(anonymous namespace)::" in callee:
                calls += int(line.split("=")[1].split()[0])
                total += int(lines[i + 1].split()[1])
    if not calls:
        raise SystemExit(f"no calls found in {out}")
    return total / calls


def measure(binary: str, name: str, path: str) -> float:
    with tempfile.TemporaryDirectory() as tmp:
        out = Path(tmp) / "callgrind.out"
        subprocess.run(
            ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}",
             "--compress-strings=no", "--compress-pos=no", binary,
             f"--benchmark_filter=^{name}/{path}/"],
            check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        )  # fmt: skip
        return per_call(out) / BATCH


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("functions", nargs="*")
    parser.add_argument("--paths", nargs="+", default=["scalar", "avx2"])
    args = parser.parse_intermixed_args()
    print(f"{'function/path':24s} {'old':>9s} {'new':>9s}  new/old (instructions per option)")
    for name in args.functions or FUNCTIONS:
        for path in args.paths:
            old, new = measure(args.old, name, path), measure(args.new, name, path)
            print(f"{name + '/' + path:24s} {old:9.1f} {new:9.1f}  {new / old:.3f}", flush=True)


if __name__ == "__main__":
    main()
