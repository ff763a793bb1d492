"""``karvex bench``: options per second of price, greeks and iv on this machine.

The worker pool reads its size once, when it starts, so each pool size is
measured in a child process of its own with "RAYON_NUM_THREADS" set.
"""

from __future__ import annotations

import json
import os
import subprocess
import sys
import time
from collections.abc import Callable
from typing import IO, Any

QUANTITIES = ("price", "greeks", "iv")


def usable_cpus() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


def measure(model: str, size: int, seconds: float) -> dict[str, float]:
    """Best options per second of each quantity over repeated core calls on
    `size` random options (in this process, with its pool)."""
    import numpy as np

    from . import _core

    rng = np.random.default_rng(20250314)
    flag = rng.choice(np.array([-1, 1], dtype=np.int8), size)
    s = np.full(size, 100.0)
    k = rng.uniform(60.0, 150.0, size)
    t = rng.uniform(0.02, 3.0, size)
    r = np.full(size, 0.04)
    q = np.full(size, 0.015)
    sigma = rng.uniform(0.08, 0.7, size)
    args: tuple[Any, ...]
    iv_args: tuple[Any, ...]
    if model == "bsm":
        args = (flag, s, k, t, r, q, sigma)
        iv_args = (_core.bsm_price(*args), flag, s, k, t, r, q)
    else:
        args = (flag, s, k, t, r, sigma)
        iv_args = (_core.black76_price(*args), flag, s, k, t, r)
    calls: dict[str, tuple[Callable[..., Any], tuple[Any, ...]]] = {
        "price": (getattr(_core, f"{model}_price"), args),
        "greeks": (getattr(_core, f"{model}_greeks"), args),
        "iv": (getattr(_core, f"{model}_iv"), iv_args),
    }
    rates = {}
    for name in QUANTITIES:
        function, arguments = calls[name]
        function(*arguments)  # warm-up: starts the pool, touches the memory
        best, spent, runs = float("inf"), 0.0, 0
        while runs < 3 or (spent < seconds and runs < 100):
            start = time.perf_counter()
            function(*arguments)
            elapsed = time.perf_counter() - start
            best, spent, runs = min(best, elapsed), spent + elapsed, runs + 1
        rates[name] = size / best
    return rates


def child_main(model: str, size: int, seconds: float) -> int:
    print(json.dumps(measure(model, size, seconds)))
    return 0


def _run_child(workers: int, model: str, size: int, seconds: float) -> dict[str, float]:
    env = dict(os.environ, RAYON_NUM_THREADS=str(workers))
    command = [
        sys.executable,
        "-m",
        "karvex",
        "bench",
        "--child",
        "--model",
        model,
        "--size",
        str(size),
        "--seconds",
        str(seconds),
    ]
    done = subprocess.run(command, env=env, capture_output=True, text=True)
    if done.returncode != 0:
        last = (done.stderr.strip().splitlines() or ["no message"])[-1]
        raise RuntimeError(f"benchmark with {workers} worker(s) failed: {last}")
    rates: dict[str, float] = json.loads(done.stdout)
    return rates


def _rate(value: float) -> str:
    return f"{value / 1e6:,.2f} M/s" if value >= 1e5 else f"{value:,.0f} /s"


def table(results: dict[int, dict[str, float]]) -> list[str]:
    counts = sorted(results)
    heads = [f"{w} worker" + ("s" if w > 1 else "") for w in counts]
    if len(counts) > 1:
        heads.append("speed-up")
    lines = [f"{'':<8}" + "".join(f"{h:>14}" for h in heads)]
    for name in QUANTITIES:
        cells = [_rate(results[w][name]) for w in counts]
        if len(counts) > 1:
            cells.append(f"{results[counts[-1]][name] / results[counts[0]][name]:.2f}x")
        lines.append(f"{name:<8}" + "".join(f"{c:>14}" for c in cells))
    return lines


def main(model: str, size: int, seconds: float, out: IO[str] | None = None) -> int:
    out = out if out is not None else sys.stdout
    cpus = usable_cpus()
    counts = [1] if cpus == 1 else [1, cpus]
    print(
        f"karvex bench: {model}, {size:,} options per call, best of repeated calls, "
        f"{cpus} CPU{'s' if cpus > 1 else ''}",
        file=out,
    )
    results = {w: _run_child(w, model, size, seconds) for w in counts}
    for line in table(results):
        print(line, file=out)
    return 0
