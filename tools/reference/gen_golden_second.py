#!/usr/bin/env python3
"""The golden table of the second-order Greeks: exact output bits from second_order.py.

Usage (from the project root; Python 3.11 or later, no third-party package; a few seconds, on a
platform whose exp, log and cbrt give the bits the table's fingerprint holds, the same table):

    python3 tools/reference/gen_golden_second.py            # writes tests/data/golden_second.bin
    python3 tools/reference/gen_golden_second.py -o FILE    # writes FILE instead

Every row is one set of inputs (flag, s, k, t, r, q, sigma), evaluated by the ten BSM Greeks and
the nine of Black-76 (the forward f = s, q replaced by r). The rows are those of the main golden
table's generator (gen_golden.py) that matter here: the listed edge cases, every degenerate class,
d1 and d2 on and beside every switch of the normal distribution function, a desk's book and wide
random options; then options where a factor of a formula vanishes (d2 = 0 for vanna, d1*d2 = 1 for
zomma and color, d1 = -v for speed) and very short and very long times. The file has the main
table's layout (gen_golden.write_header), so the same readers serve both.
"""

import argparse
import math
import os
import random
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import gen_golden as gg  # noqa: E402
import second_order as so  # noqa: E402

INPUTS = ("flag", "s", "k", "t", "r", "q", "sigma")
OUTPUTS = tuple(f"bsm_{n}" for n in so.NAMES) + tuple(f"black76_{n}" for n in so.BLACK76_NAMES)


def evaluate(row):
    flag, s, k, t, r, q, sigma = row
    put = flag < 0
    out = list(so.second_order(put, s, k, t, r, q, sigma))
    out += so.second_order(put, s, k, t, r, r, sigma)[: len(so.BLACK76_NAMES)]
    return [math.nan if x != x else x for x in out]


def vanishing_factors(rows, n):
    """Options where d2 = 0, d1*d2 = 1 or d1 = -v, exactly or nearly (t = 1, r = q = 0, k = 1:
    d1 = ln(s)/sigma + sigma/2)."""
    for _ in range(n):
        sigma = rows.log_uniform(1e-3, 3.0)
        for d1 in (sigma, (sigma + math.sqrt(sigma * sigma + 4.0)) / 2.0, -sigma):
            d = rows.near(d1, 1e-9)
            rows.add(rows.flag(), math.exp((d - sigma / 2.0) * sigma), 1.0, 1.0, 0.0, 0.0, sigma)


def times(rows, n):
    """A second to a century, at and around the money, rates and yields of either sign."""
    rng = rows.rng
    for _ in range(n):
        t = rows.log_uniform(1.0 / (365.0 * 86400.0), 100.0)
        k = 100.0 * math.exp(rng.uniform(-0.3, 0.3))
        rows.add(
            rows.flag(),
            100.0,
            k,
            t,
            rng.uniform(-0.05, 0.1),
            rng.uniform(-0.05, 0.1),
            rows.log_uniform(1e-3, 5.0),
        )


def build(seed=20261208):
    rows = gg.Rows(random.Random(seed))
    gg.listed_edges(rows)
    gg.degenerate_classes(rows, 12)
    gg.normal_ranges(rows, 12)
    gg.realistic(rows, 3000)
    gg.wide_random(rows, 8000)
    vanishing_factors(rows, 500)
    times(rows, 2000)
    return [row[: len(INPUTS)] for row in rows.rows]


def write(path, rows, fingerprint):
    with open(path, "wb") as f:
        f.write(gg.write_header(fingerprint, len(rows), INPUTS, OUTPUTS).encode("ascii"))
        gg.write_fingerprint(f, fingerprint)
        for row in rows:
            f.write(struct.pack(f"<{len(INPUTS)}d", *row))
            f.write(struct.pack(f"<{len(OUTPUTS)}d", *evaluate(row)))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("-o", "--output", default=os.path.join(gg.HERE, "golden_second.bin"))
    args = ap.parse_args()
    start = time.monotonic()
    rows = build()
    write(args.output, rows, gg.fingerprint_arguments(random.Random(20261209)))
    print(f"{len(rows)} rows, {len(rows) * len(OUTPUTS)} results, {time.monotonic() - start:.1f} s")


if __name__ == "__main__":
    main()
