#!/usr/bin/env python3
"""What --plot adds to a karvex chain run: time and peak memory, side by side.

Writes a chain of --rows options whose time to expiry is an `expiry` column
in years with --expiries distinct values (the case where every distinct
value is an expiry of its own), then runs `karvex chain FILE -o OUT` without
and with `--plot`, alternately, --repeat times each, every run in a fresh
process, and prints the best elapsed and CPU times (the process's threads
together: steadier on a busy machine), their ratios and the largest peak
resident memory.

    python bench/bench_chain_plot.py [--rows N] [--expiries E] [--repeat R] [--engine NAME] [--before DIR]
"""

from __future__ import annotations

import argparse
import os
import pathlib
import subprocess
import sys
import tempfile
import time

import numpy as np

RUN = """
import resource, sys
from karvex.__main__ import main
status = main(sys.argv[1:])
usage = resource.getrusage(resource.RUSAGE_SELF)
print(usage.ru_maxrss, usage.ru_utime + usage.ru_stime, file=sys.stderr)
sys.exit(status)
"""


def write_chain(path: pathlib.Path, rows: int, expiries: int):
    rng = np.random.default_rng(1)
    t = rng.choice(rng.uniform(0.02, 2.0, expiries), rows)
    strike = np.round(100.0 * np.exp(rng.normal(0.0, 0.25, rows)), 1)
    put = strike < 100.0
    from karvex import bsm

    price = bsm.price(
        np.where(put, "p", "c"), 100.0, strike, t, 0.03, 0.01, 0.2 + 0.2 * np.log(strike / 100) ** 2
    )
    with open(path, "w") as out:
        out.write("type,strike,expiry,price,spot,rate,dividend\n")
        for start in range(0, rows, 100_000):
            part = slice(start, start + 100_000)
            out.writelines(
                f"{'P' if p else 'C'},{k!r},{x!r},{v!r},100,0.03,0.01\n"
                for p, k, x, v in zip(
                    put[part].tolist(),
                    strike[part].tolist(),
                    t[part].tolist(),
                    price[part].tolist(),
                )
            )


def run(argv: list[str], path: str | None = None) -> tuple[float, int, float]:
    env = dict(os.environ, PYTHONPATH=path) if path else None
    start = time.perf_counter()
    done = subprocess.run(
        [sys.executable, "-c", RUN, *argv], capture_output=True, text=True, env=env
    )
    seconds = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit(done.stderr)
    memory, cpu = done.stderr.splitlines()[-1].split()
    return seconds, int(memory), float(cpu)


def main() -> int:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--expiries", type=int, default=20_000)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--engine", default="auto")
    parser.add_argument(
        "--before",
        metavar="DIR",
        help="also run the karvex package found in DIR (e.g. an older checkout's "
        "python/ folder with its extension built in), alternately with this one",
    )
    args = parser.parse_args()
    packages = {"": None} if args.before is None else {"before": args.before, "after": None}
    with tempfile.TemporaryDirectory() as folder:
        folder = pathlib.Path(folder)
        source = folder / "chain.csv"
        write_chain(source, args.rows, args.expiries)
        base = ["chain", str(source), "-q", "--engine", args.engine, "-o", str(folder / "out.csv")]
        runs = {name: ([], []) for name in packages}
        for _ in range(args.repeat):
            for name, path in packages.items():
                runs[name][0].append(run(base, path))
                runs[name][1].append(run(base + ["--plot", str(folder / "smile.png")], path))
    print(
        f"{args.rows:,} rows, {args.expiries:,} expiries in years, engine {args.engine}, best of {args.repeat}"
    )
    print(f"{'':24}elapsed     CPU (all threads)   peak memory")
    for name, (plain, plotted) in runs.items():
        t0, t1 = min(s for s, _, _ in plain), min(s for s, _, _ in plotted)
        c0, c1 = min(c for _, _, c in plain), min(c for _, _, c in plotted)
        m0, m1 = max(m for _, m, _ in plain), max(m for _, m, _ in plotted)
        print(f"  {name:7}without --plot  {t0:8.2f} s  {c0:8.2f} s  {m0 / 1024:8.0f} MB")
        print(f"  {name:7}with --plot     {t1:8.2f} s  {c1:8.2f} s  {m1 / 1024:8.0f} MB")
        print(f"  {name:7}ratio           {t1 / t0:8.3f}    {c1 / c0:8.3f}    {m1 / m0:8.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
