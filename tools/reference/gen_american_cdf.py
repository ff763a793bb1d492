#!/usr/bin/env python3
"""Reference values of the normal distribution function Phi on [-37, 37], the range of the
American kernels' cdf (kernels/american_cdf.hpp), in high precision.

Usage (from the project root; needs mpmath, takes a few seconds):

    python3 tools/reference/gen_american_cdf.py              # writes tests/data/american_cdf.csv
    python3 tools/reference/gen_american_cdf.py -d DIR       # writes it into DIR

Rows `z,value`: a uniform random sample of [-37, 37], a denser one of [-3, 3], log-spaced
magnitudes from 1e-3 to 37 on both sides, the doubles around each switch of the evaluation
(|z|/sqrt(2) at 0.25, 0.84375, 1.25 and 1/0.35, |z|/sqrt(2) formed with the rounded
1/sqrt(2) as the kernel forms it), and the ends +-37. Inputs are hex-floats; each value is
Phi at that double at 60 digits, checked against 80 digits, rounded once to the nearest
double. The seed is fixed, so a re-run writes the same file.
"""

import argparse
import math
import os
import random

import mpmath as mp

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "data")
ONE_OVER_SQRT2 = 0.7071067811865476  # as the kernel rounds it
SWITCHES = (0.25, 0.84375, 1.25, 1 / 0.35)


def phi(z):
    """Phi(z) rounded once to the nearest double, checked at a higher precision."""
    with mp.workdps(60):
        a = mp.ncdf(mp.mpf(z))
    with mp.workdps(80):
        b = mp.ncdf(mp.mpf(z))
        assert abs(a - b) <= abs(b) * mp.mpf(10) ** -45, (z, a, b)
        return float(b)


def arguments():
    rng = random.Random(21)
    zs = [rng.uniform(-37.0, 37.0) for _ in range(400)]
    zs += [rng.uniform(-3.0, 3.0) for _ in range(200)]
    for _ in range(100):
        m = math.exp(rng.uniform(math.log(1e-3), math.log(37.0)))
        zs += [m, -m]
    for b in SWITCHES:
        z = b / ONE_OVER_SQRT2
        for _ in range(4):  # down to doubles whose product still rounds below the switch
            z = math.nextafter(z, 0.0)
        for _ in range(9):
            zs += [z, -z]
            z = math.nextafter(z, math.inf)
    return zs + [37.0, -37.0]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-d", "--directory", default=HERE)
    directory = parser.parse_args().directory
    lines = ["# written by gen_american_cdf.py: Phi rounded once; see its docstring", "z,value"]
    lines += [f"{z.hex()},{phi(z).hex()}" for z in arguments()]
    with open(os.path.join(directory, "american_cdf.csv"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
