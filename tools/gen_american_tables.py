#!/usr/bin/env python3
"""Writes core/kernels/american_tables.hpp: the Gauss-Legendre rules and the Chebyshev tables of
the American kernels, each constant the double nearest to its exact value (mpmath, 50 digits).

    python3 tools/gen_american_tables.py       (from the project root; needs numpy and mpmath)
    python3 tools/gen_american_tables.py --rules 5,7,15 10,15,31 --output FILE

The rule sizes are those the accuracy modes in core/kernels/american.hpp name (RULES); add one
and re-run to offer a new mode. With --rules and --output it writes other sizes elsewhere (the
accuracy/time frontier in bench/frontier/american_frontier.cpp reads such a file, of sizes not in
RULES, which share the namespace).
"""

import argparse
import pathlib

import mpmath as mp
import numpy as np

# (n, l, p): n + 1 Chebyshev nodes for the boundary, l Gauss-Legendre points for its integrals,
# p for the price's.
RULES = ((6, 5, 15), (12, 11, 41), (16, 15, 51))
MAP, PRICE_MAP = "sine", "cubic"  # the points of the boundary's and the price's rules
POWER = 2  # xi = 2 (tau/T)^(1/POWER) - 1
OUT = pathlib.Path(__file__).resolve().parent.parent / "core" / "kernels" / "american_tables.hpp"


def hexd(v):
    return float(v).hex() if v != 0 else "0.0"


def derivative(n, x):
    """P_n'(x) = n (x P_n(x) - P_{n-1}(x))/(x^2 - 1)."""
    return n * (x * mp.legendre(n, x) - mp.legendre(n - 1, x)) / (x * x - 1)


def legendre(n):
    """Nodes (ascending) and weights of the n-point rule on [-1, 1]."""
    mp.mp.dps = 50
    nodes, weights = [], []
    for x0 in np.polynomial.legendre.leggauss(n)[0]:
        x = mp.mpf(x0)
        for _ in range(100):
            p, dp = mp.legendre(n, x), derivative(n, x)
            step = p / dp
            x -= step
            if abs(step) < mp.mpf(10) ** -45:
                break
        dp = derivative(n, x)
        nodes.append(x)
        weights.append(2 / ((1 - x * x) * dp * dp))
    return nodes, weights


def chebyshev_weights(n, x):
    """w[j] with sum_j w[j] H_j the Chebyshev interpolant on the n + 1 nodes -cos(j pi/n) at x
    (the barycentric form: weights (-1)^j, halved at both ends)."""
    nodes = [-mp.cos(j * mp.pi / n) for j in range(n + 1)]
    for j, node in enumerate(nodes):
        if x == node:
            return [mp.mpf(int(i == j)) for i in range(n + 1)]
    terms = [
        (-1) ** j * (mp.mpf(0.5) if j in (0, n) else 1) / (x - node) for j, node in enumerate(nodes)
    ]
    total = sum(terms)
    return [t / total for t in terms]


def points_of(y, w, kind):
    """The points c_k in [0, 1] and weights wc_k of a Gauss-Legendre rule (y, w) on [-1, 1] for
    int_0^1 g 2c dc = sum wc_k g(c_k), through a map c(u), u = (1 + y)/2: wc = w c c'(u).
    The integrands behave as a square root of the time at both ends: of c at c = 0, and of
    sqrt(1 - c^2) at c = 1 (the boundary near expiry), which a map with c'(1) = 0 makes smooth.
    linear: c = u. sine: c = sin(pi u/2). cubic: c = 1 - (1 - u)^2 (1 + 3u/2), which also puts
    the points twice as densely as u near c = 0, where the premium's integrand steepens as the
    spot nears the boundary."""
    maps = {
        "linear": (lambda u: u, lambda u: mp.mpf(1)),
        "sine": (lambda u: mp.sin(mp.pi * u / 2), lambda u: mp.pi / 2 * mp.cos(mp.pi * u / 2)),
        "cubic": (
            lambda u: 1 - (1 - u) ** 2 * (1 + mp.mpf(3) / 2 * u),
            lambda u: (1 - u) * (mp.mpf(1) / 2 + mp.mpf(9) / 2 * u),
        ),
    }
    c_of, dc_of = maps[kind]
    u = [(1 + v) / 2 for v in y]
    return [c_of(x) for x in u], [a * c_of(x) * dc_of(x) for a, x in zip(w, u)]


def array(name, values):
    return f"  static constexpr double {name}[{len(values)}] = {{{', '.join(hexd(v) for v in values)}}};"


def main():
    parser = argparse.ArgumentParser(description="the American kernels' constant tables")
    parser.add_argument("--rules", nargs="+", help="n,l,p triples (default: RULES)")
    parser.add_argument("--output", type=pathlib.Path, default=OUT)
    parser.add_argument("--map", choices=("sine", "linear", "cubic"), default=MAP)
    parser.add_argument("--price-map", choices=("sine", "linear", "cubic"), default=PRICE_MAP)
    args = parser.parse_args()
    rules = [tuple(int(x) for x in r.split(",")) for r in args.rules] if args.rules else RULES
    mp.mp.dps = 50
    lines = [
        "// Written by tools/gen_american_tables.py: do not edit. Each constant is the double",
        "// nearest to its exact value. (One line per table: not for clang-format to rewrap.)",
        "#pragma once",
        "",
        "// clang-format off",
        "namespace karvex::american_tables {",
        "",
        "// The collocation of the exercise boundary on n + 1 Chebyshev nodes in xi = 2 sqrt(tau/T) - 1,",
        "// xi_j = -cos(j pi/n) (node 0 at tau = 0), with l Gauss-Legendre points (y_k, w_k) for the",
        "// integrals over [0, tau_i] and p for the price's over [0, T]. On both, a point is",
        "// s = tau c^2 before tau with c = c(u), u = (1 + y)/2, weighted w c c'(u) (the integral is",
        f"// tau sum wc g); c(u) is {args.map} for the boundary's rule, {args.price_map} for the price's",
        "// (tools/gen_american_tables.py: points_of).",
        "//   f[j]        sqrt(tau_j/T) = (1 + xi_j)/2",
        "//   c, wc       c_k and w_k c_k c'(u_k) of the boundary rule; pc, pwc those of the price rule",
        "//   boundary    H(xi) at the point k before node i (i = 1..n) as sum_j boundary[.][j] H_j,",
        "//               row (i - 1) l + k, columns j = 1..n (H_0 = 0 is left out)",
        "//   price       the same at the price rule's points before T, row k",
        "template <int n, int l, int p>",
        "struct Rule;",
        "",
    ]
    for n, points, p in rules:
        y, w = legendre(points)
        py, pw = legendre(p)
        mp.mp.dps = 50
        f = [((1 - mp.cos(j * mp.pi / n)) / 2) ** (mp.mpf(POWER) / 2) for j in range(n + 1)]
        c, wc = points_of(y, w, args.map)
        pc, pwc = points_of(py, pw, args.price_map)
        boundary = []
        for i in range(1, n + 1):
            for k in range(points):
                x = (
                    2
                    * f[i] ** (mp.mpf(2) / POWER)
                    * ((1 - c[k]) * (1 + c[k])) ** (mp.mpf(1) / POWER)
                    - 1
                )
                boundary += chebyshev_weights(n, x)[1:]
        price = []
        for k in range(p):
            x = 2 * ((1 - pc[k]) * (1 + pc[k])) ** (mp.mpf(1) / POWER) - 1
            price += chebyshev_weights(n, x)[1:]
        lines.append(f"template <>\nstruct Rule<{n}, {points}, {p}> {{")
        lines += [
            array("f", f),
            array("c", c),
            array("wc", wc),
            array("pc", pc),
            array("pwc", pwc),
            array("boundary", boundary),
            array("price", price),
            "};",
            "",
        ]
    lines += ["}  // namespace karvex::american_tables", "// clang-format on", ""]
    args.output.write_text("\n".join(lines))


if __name__ == "__main__":
    main()
