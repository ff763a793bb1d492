#!/usr/bin/env python3
"""Implied volatilities and Greeks of an option table too large for one
process, on a Dask cluster of worker processes.

    python examples/dask_chain.py OPTIONS OUTPUT.parquet [--workers N]
    python examples/dask_chain.py --sample ROWS OPTIONS.parquet    # random options to try it on

OPTIONS is a Parquet file or folder, or CSV files (a glob such as
'chains/*.csv'), with the columns type, spot, strike, t, rate, dividend and
price (t in years).  Each partition goes through karvex in one call per
quantity, inside a worker process; the result has the input columns followed
by iv, delta, gamma, vega, theta and rho.

Every worker process has its own karvex pool, which would by default start one
thread per processor: with several processes on one machine that
oversubscribes the cores.  The cluster therefore gives each worker process
one task thread and passes RAYON_NUM_THREADS = cores / worker processes
through its environment, so that processes x pool threads = cores.

Needs dask[dataframe,distributed] and pyarrow.
"""

from __future__ import annotations

import argparse
import os

import numpy as np
import pandas as pd

import karvex

INPUT_COLUMNS = ("type", "spot", "strike", "t", "rate", "dividend", "price")
OUTPUT_COLUMNS = ("iv", "delta", "gamma", "vega", "theta", "rho")


def available_cores() -> int:
    """Processors this process may run on: its CPU affinity, and no more than
    a container's CPU quota (cgroup v2 cpu.max, rounded up)."""
    cores = (
        len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count() or 1
    )
    try:
        with open("/sys/fs/cgroup/cpu.max") as fh:
            quota, period = fh.read().split()
        if quota != "max":
            cores = min(cores, max(1, -(-int(quota) // int(period))))
    except (OSError, ValueError):
        pass
    return cores


def pool_threads(workers: int, cores: int | None = None) -> int:
    """karvex pool threads per worker process: the cores shared out, at least one."""
    return max(1, (available_cores() if cores is None else cores) // workers)


def local_cluster(workers: int, cores: int | None = None, **kwargs):
    """A LocalCluster of `workers` processes, each with one task thread and a
    karvex pool of cores / workers threads."""
    from distributed import LocalCluster

    env = {"RAYON_NUM_THREADS": str(pool_threads(workers, cores))}
    return LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, env=env, **kwargs)


def volatilities_and_greeks(part: pd.DataFrame) -> pd.DataFrame:
    """One partition: the input columns, then iv and the five Greeks."""
    flag, s, k, t, r, q, price = (part[name] for name in INPUT_COLUMNS)
    iv = karvex.bsm.iv(price, flag, s, k, t, r, q)
    greeks = karvex.bsm.greeks(flag, s, k, t, r, q, iv)
    return pd.concat([part, iv, greeks], axis=1)


def with_results(options):
    """The Dask DataFrame of options with iv and the Greeks, lazily."""
    meta = options._meta.assign(**{name: np.float64() for name in OUTPUT_COLUMNS})
    return options.map_partitions(volatilities_and_greeks, meta=meta)


def sample_options(rows: int, seed: int = 0) -> pd.DataFrame:
    """Random options priced on random volatilities, about 2 % of them with
    the faults real quotes have (no quote, half the price, a price typo)."""
    rng = np.random.default_rng(seed)
    s = rng.uniform(50.0, 150.0, rows)
    k = s * np.exp(rng.normal(0.0, 0.25, rows))
    t = rng.uniform(1.0 / 365.0, 3.0, rows)
    r, q = rng.uniform(0.0, 0.06, rows), rng.uniform(0.0, 0.03, rows)
    flag = np.where(rng.random(rows) < 0.5, "C", "P")
    price = karvex.bsm.price(flag, s, k, t, r, q, rng.uniform(0.05, 0.9, rows))
    faulty = rng.random(rows) < 0.02
    price[faulty] *= rng.choice([np.nan, 0.5, 50.0], faulty.sum())
    return pd.DataFrame(
        {"type": flag, "spot": s, "strike": k, "t": t, "rate": r, "dividend": q, "price": price}
    )


def read_options(path: str):
    import dask.dataframe as dd

    if path.endswith(".csv"):
        return dd.read_csv(path, dtype={"type": str})
    return dd.read_parquet(path)


def main(argv: list[str] | None = None) -> int:
    from distributed import Client

    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("options", help="Parquet file or folder, or CSV files (glob)")
    parser.add_argument("output", nargs="?", help="Parquet folder to write")
    parser.add_argument("--workers", type=int, default=2, help="worker processes (default 2)")
    parser.add_argument(
        "--sample",
        type=int,
        metavar="ROWS",
        help="write ROWS random options to OPTIONS (Parquet) instead",
    )
    args = parser.parse_args(argv)
    if args.sample is not None:
        sample_options(args.sample).to_parquet(args.options)
        return 0
    if args.output is None:
        parser.error("the output folder is required")
    with local_cluster(args.workers) as cluster, Client(cluster):
        with_results(read_options(args.options)).to_parquet(args.output)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
