#!/usr/bin/env python3
"""Throughput of the Dask example (examples/dask_chain.py) against one process.

Writes a table of random options as Parquet partitions, then times, side by
side and best of --repeat runs:

  file to file   read the Parquet, iv and the five Greeks, write Parquet:
                 one process (pandas, the karvex pool on every core) against
                 a LocalCluster of --workers processes, each with one task
                 thread and a pool of cores / workers threads;
  in memory      the same computation on a frame already in memory (one
                 process) or persisted on the workers (cluster), the
                 results left where they were computed.

    python bench/bench_dask.py [--rows N] [--partitions P] [--workers W]

Needs dask[dataframe,distributed] and pyarrow.
"""

from __future__ import annotations

import argparse
import pathlib
import sys
import tempfile
import time

import pandas as pd

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "examples"))
import dask_chain  # noqa: E402


def best(repeat: int, run) -> float:
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def main() -> int:
    import dask.dataframe as dd
    from distributed import Client, wait

    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rows", type=int, default=2_000_000)
    parser.add_argument("--partitions", type=int, default=16)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as tmp:
        source, target = f"{tmp}/options.parquet", f"{tmp}/out"
        table = dask_chain.sample_options(args.rows)
        dd.from_pandas(table, npartitions=args.partitions).to_parquet(source)

        def one_file():
            dask_chain.volatilities_and_greeks(pd.read_parquet(source)).to_parquet(
                f"{target}-1.parquet"
            )

        def one_memory():
            dask_chain.volatilities_and_greeks(table)

        one_process = {"file": best(args.repeat, one_file), "memory": best(args.repeat, one_memory)}

        started = time.perf_counter()
        with (
            dask_chain.local_cluster(args.workers, dashboard_address=None) as cluster,
            Client(cluster),
        ):
            startup = time.perf_counter() - started
            persisted = dask_chain.read_options(source).persist()
            wait(persisted)

            def cluster_file():
                dask_chain.with_results(dask_chain.read_options(source)).to_parquet(
                    f"{target}-dask"
                )

            def cluster_memory():
                # Only the row counts come back: the results stay on the workers.
                dask_chain.with_results(persisted).map_partitions(len).compute()

            cluster_memory()  # warm-up: imports karvex and starts the pools on the workers
            on_cluster = {
                "file": best(args.repeat, cluster_file),
                "memory": best(args.repeat, cluster_memory),
            }

    threads = dask_chain.pool_threads(args.workers)
    print(
        f"{args.rows:,} options in {args.partitions} partitions; {dask_chain.available_cores()} cores; "
        f"cluster: {args.workers} processes x {threads} pool thread(s), started in {startup:.1f} s"
    )
    print(f"{'':16}{'one process':>16}{'cluster':>16}{'cluster / one':>16}")
    for what, label in (("file", "file to file"), ("memory", "in memory")):
        one, many = args.rows / one_process[what], args.rows / on_cluster[what]
        print(f"{label:16}{one / 1e6:>12.2f} M/s{many / 1e6:>12.2f} M/s{many / one:>15.2f}x")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
