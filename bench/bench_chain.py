"""`karvex chain` end to end: rows per second and peak memory per engine and format.

Generates option chains of 10^5, 10^6 and 10^7 rows (type, strike, expiry in
years, price, spot, rate: intraday quotes of an index chain, prices from an
equity smile rounded to the 0.05 tick; one quote in a thousand stale at half
its price, many of them then below intrinsic value, one in two thousand
missing) as CSV and as Parquet, once, into a data folder (build/bench-chain,
which git ignores, or --data), then runs the command on each in a fresh
process per engine and format and prints, per run:

- rows per second end to end (the command's own time, from opening the input
  to the last byte written);
- the seconds spent reading (parsing and converting the input; the first chunk
  also pays for importing pyarrow's compute module, and pandas, which pyarrow
  imports when it is installed), computing (the core's implied volatility and
  Greeks, statuses, forwards), writing, and the rest (resolving the columns,
  imports before the first chunk, the summary's call-put pairing);
- the processor time of the run, all threads: on a busy machine the work
  done, which the wall-clock times are not;
- the core's own rate in the same run (implied volatility plus Greeks, per
  second): against `karvex bench` it shows how busy the machine was;
- the process's peak resident memory.

    python bench/bench_chain.py [--data DIR] [--rows 1e5,1e6,1e7] [--engines arrow,builtin]
                                [--runs csv:csv,parquet:parquet,csv:parquet,parquet:csv] [--repeat N]

Generating needs pyarrow.  The 10^7-row files take about 0.35 GB (CSV) and
0.1 GB (Parquet); the builtin and pandas engines take minutes on them.
"""

from __future__ import annotations

import argparse
import json
import os
import resource
import subprocess
import sys
import time

import numpy as np

SEED = 20261206
BLOCK = 1_000_000  # rows generated and written at a time: generation memory stays bounded
ROW_GROUP = 131_072
EXPIRY_DAYS = np.array([1, 2, 3, 7, 14, 21, 30, 45, 60, 91, 182, 273, 365, 547, 730])
RATE = 0.043


def chain_block(rng, n: int) -> dict:
    """n quotes: spot drifting around 5000, strikes on a 5-point grid within
    about three standard deviations, an equity smile, prices at the tick."""
    from karvex import bsm

    spot = np.round(5000.0 * np.exp(0.05 * rng.standard_normal(n)), 2)
    days = rng.choice(EXPIRY_DAYS, n)
    t = np.round(days / 365.0, 6)
    atm = 0.14 + 0.05 * np.exp(-t / 0.1)
    z = rng.uniform(-3.0, 2.0, n)
    strike = np.maximum(np.round(spot * np.exp(z * atm * np.sqrt(t)) / 5.0) * 5.0, 5.0)
    forward = spot * np.exp(RATE * t)
    zk = np.log(strike / forward) / (atm * np.sqrt(t))
    sigma = atm * (1.0 - 0.12 * zk + 0.04 * zk * zk)
    put = rng.random(n) < 0.5
    price = bsm.price(np.where(put, -1, 1).astype(np.int8), spot, strike, t, RATE, 0.0, sigma)
    price = np.maximum(np.round(price / 0.05) * 0.05, 0.05)
    fault = rng.random(n)
    price = np.where(fault < 0.001, 0.5 * price, price)  # stale quotes, some below intrinsic
    price = np.where((fault >= 0.001) & (fault < 0.0015), np.nan, price)  # no quote
    return {
        "type": np.where(put, "P", "C"),
        "strike": strike,
        "expiry": t,
        "price": np.round(price, 2),
        "spot": spot,
        "rate": np.full(n, RATE),
    }


def generate(directory: str, rows: int) -> tuple[str, str]:
    """The CSV and Parquet files of a chain of `rows` rows (made once)."""
    import pyarrow as pa
    import pyarrow.csv as pa_csv
    import pyarrow.parquet as pq

    csv_path = os.path.join(directory, f"chain-{rows}.csv")
    parquet_path = os.path.join(directory, f"chain-{rows}.parquet")
    if os.path.exists(csv_path) and os.path.exists(parquet_path):
        return csv_path, parquet_path
    os.makedirs(directory, exist_ok=True)
    rng = np.random.default_rng(SEED)
    schema = pa.schema(
        [("type", pa.string())]
        + [(c, pa.float64()) for c in ("strike", "expiry", "price", "spot", "rate")]
    )
    with (
        open(csv_path + ".part", "wb") as text,
        pq.ParquetWriter(parquet_path + ".part", schema) as parquet,
    ):
        text.write(b"type,strike,expiry,price,spot,rate\n")
        for start in range(0, rows, BLOCK):
            columns = chain_block(rng, min(BLOCK, rows - start))
            table = pa.Table.from_arrays(
                [pa.array(columns[f.name], f.type, from_pandas=True) for f in schema], schema=schema
            )
            pa_csv.write_csv(
                table, text, pa_csv.WriteOptions(include_header=False, quoting_style="none")
            )
            parquet.write_table(table, row_group_size=ROW_GROUP)
    os.replace(csv_path + ".part", csv_path)
    os.replace(parquet_path + ".part", parquet_path)
    return csv_path, parquet_path


def child(engine: str, source: str, output: str, output_format: str) -> None:
    """One run in this process; prints its figures as JSON."""
    import inspect

    from karvex import _chain

    start, cpu = time.perf_counter(), time.process_time()
    if next(iter(inspect.signature(_chain.run).parameters)) == "options":
        options = _chain.Options(source, output, engine=engine, output_format=output_format)
        summary = _chain.run(options)
    else:  # a package before the run's settings became one object (--before comparisons)
        options = _chain.Options(output_format=output_format)
        summary = _chain.run(source, output, options, engine=engine)
    seconds, cpu = time.perf_counter() - start, time.process_time() - cpu
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    print(
        json.dumps(
            {
                "rows": summary.rows,
                "seconds": seconds,
                "read": summary.read_seconds,
                "compute": summary.compute_seconds,
                "write": summary.write_seconds,
                "core": summary.core_seconds,
                "cpu": cpu,
                "peak": peak,
            }
        )
    )


def measure(engine, source, output, output_format, repeat):
    """Best of `repeat` runs, each in a fresh process."""
    best = None
    for _ in range(repeat):
        done = subprocess.run(
            [sys.executable, __file__, "--child", engine, source, output, output_format],
            capture_output=True,
            text=True,
        )
        if done.returncode != 0:
            return {
                "error": done.stderr.strip().splitlines()[-1] if done.stderr.strip() else "failed"
            }
        figures = json.loads(done.stdout)
        if best is None or figures["seconds"] < best["seconds"]:
            best = figures
    return best


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument(
        "--data",
        default=os.path.join(
            os.path.dirname(os.path.abspath(__file__)), "..", "build", "bench-chain"
        ),
    )
    parser.add_argument("--rows", default="1e5,1e6")
    parser.add_argument("--engines", default="arrow,builtin")
    parser.add_argument("--runs", default="csv:csv,parquet:parquet,csv:parquet,parquet:csv")
    parser.add_argument("--repeat", type=int, default=1)
    parser.add_argument("--child", nargs=4, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(*args.child)
        return

    print(
        f"{'rows':>10} {'engine':>8} {'in:out':>16} {'rows/s':>11} {'total s':>8} "
        f"{'read s':>7} {'compute s':>9} {'write s':>7} {'other s':>7} {'cpu s':>7} {'core M/s':>8} "
        f"{'peak MB':>8}"
    )
    for rows in (int(float(r)) for r in args.rows.split(",")):
        csv_path, parquet_path = generate(args.data, rows)
        for run in args.runs.split(","):
            fmt_in, fmt_out = run.split(":")
            source = csv_path if fmt_in == "csv" else parquet_path
            output = os.path.join(args.data, f"out.{fmt_out}")
            for engine in args.engines.split(","):
                if engine != "arrow" and "parquet" in (fmt_in, fmt_out):
                    continue  # Parquet is read and written by the arrow engine only
                f = measure(engine, source, output, fmt_out, args.repeat)
                if "error" in f:
                    print(f"{rows:>10,} {engine:>8} {run:>16}  {f['error']}")
                    continue
                other = f["seconds"] - f["read"] - f["compute"] - f["write"]
                print(
                    f"{rows:>10,} {engine:>8} {run:>16} {rows / f['seconds']:>11,.0f} {f['seconds']:>8.2f} "
                    f"{f['read']:>7.2f} {f['compute']:>9.2f} {f['write']:>7.2f} {other:>7.2f} {f['cpu']:>7.2f} "
                    f"{rows / f['core'] / 1e6:>8.2f} {f['peak'] / 2**20:>8.0f}",
                    flush=True,
                )
        if os.path.exists(os.path.join(args.data, "out.csv")):
            os.unlink(os.path.join(args.data, "out.csv"))


if __name__ == "__main__":
    main()
