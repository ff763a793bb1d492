"""The size of the worker pool, set in code.

The core's pool starts at its first parallel call and reads its size from the
environment then, once: ``RAYON_NUM_THREADS``, else ``RAYON_RS_NUM_CPUS``,
else the number of online processors.  ``set_num_threads`` sets the first of
these for the process before that moment; the core's own rules stay as they
are.  The array API notes the calls that reach the pool (``pool_used``), so
that a size set too late is an error rather than silently ignored.
"""

from __future__ import annotations

import os

__all__ = ["MAX_THREADS", "set_num_threads"]

#: The most workers a pool has.
MAX_THREADS = 1024

# Whether a call through karvex.bsm / karvex.black76 has been large enough to
# start the pool (calls made on karvex._core directly are not seen).
pool_used = False

# The serial limits of the core's vectorised functions: from this many
# elements a call runs on the pool.
SERIAL_LIMITS = {"iv": 1024, "greeks": 4096, "second_order": 4096, "price": 8192}
SERIAL_LIMIT = 16384  # delta, gamma, vega, theta, rho, each second-order Greek


def set_num_threads(n: int) -> None:
    """Set the number of worker threads of the pool, before it starts.

    Parameters
    ----------
    n : int
        Workers, from 1 to ``MAX_THREADS`` (1024); 0 selects the default (one
        per online processor, unless ``RAYON_RS_NUM_CPUS`` says otherwise).

    Raises
    ------
    TypeError
        ``n`` is not an integer.
    ValueError
        ``n`` is negative or more than ``MAX_THREADS``.
    RuntimeError
        The pool has started already (a call of ``karvex.bsm`` or
        ``karvex.black76`` ran on it): it keeps its size for the life of the
        process.

    Notes
    -----
    The size goes to the environment variable ``RAYON_NUM_THREADS`` of this
    process (child processes inherit it), which the pool reads once, at its
    first parallel call; setting that variable before starting Python works
    as before.  Calls made on ``karvex._core`` directly are not seen: after a
    large one of those, a later ``set_num_threads`` has no effect.  There is
    no context manager, because a running pool cannot change its size.

    Examples
    --------
    >>> import karvex
    >>> karvex.set_num_threads(4)  # before the first large call
    """
    if isinstance(n, bool) or not isinstance(n, int):
        raise TypeError(f"set_num_threads(): n must be an int, not {type(n).__name__}")
    if not 0 <= n <= MAX_THREADS:
        raise ValueError(f"set_num_threads(): n must be from 0 to {MAX_THREADS}, not {n}")
    if pool_used:
        raise RuntimeError(
            "set_num_threads(): the worker pool has started and keeps its size; "
            "set the size before the first large call (or RAYON_NUM_THREADS before "
            "starting Python)"
        )
    os.environ["RAYON_NUM_THREADS"] = str(n)
