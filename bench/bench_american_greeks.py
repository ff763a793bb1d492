"""The American Greeks' accuracy: karvex.american's delta, gamma, vega, theta and rho in each mode
against Greeks from QuantLib's QdFp high-precision prices, on every --stride-th put of the
benchmark portfolio (tests/data/american.csv), as RMSE and maximum error.

    python bench/bench_american_greeks.py [--stride N]

The reference Greeks are central differences of high-precision prices, a method independent of
karvex's (which takes delta, gamma and theta from the boundary and vega and rho from its own
prices): spot moved by 2e-4 S (delta, gamma), sigma by 2e-4 and the rate by 2e-5 (vega, rho;
small, so that a put near its exercise boundary does not cross it), and theta from the pricing
equation r V - (r - q) S delta - sigma^2 S^2 gamma/2 off the exercise region (0 in it, as
karvex's: where the difference delta is -1, for QuantLib leaves up to 1e-6 above the payoff
there). The high-precision prices are good to about 1e-10, so the differences resolve errors
down to about 1e-5 (rho), 1e-6 (vega) and 1e-7 (delta, gamma).
Needs QuantLib (pip install QuantLib); about 7 high-precision prices per option, some 30 ms.
"""

import argparse

import numpy as np
import QuantLib as ql

import karvex
from bench_american import QuantLibPricer, errors, portfolio

NAMES = ("delta", "gamma", "vega", "theta", "rho")


class Reference(QuantLibPricer):
    """High-precision prices of a put, with the pricer's quotes moved in place."""

    def __init__(self):
        super().__init__()
        self.engine = ql.QdFpAmericanEngine(
            self.process, ql.QdFpAmericanEngine.highPrecisionScheme()
        )

    def greeks(self, s, k, t, r, q, sigma):
        option = ql.VanillaOption(
            ql.PlainVanillaPayoff(ql.Option.Put, k),
            ql.AmericanExercise(self.today, self.today + round(t * 365)),
        )
        option.setPricingEngine(self.engine)

        def price(s_=s, r_=r, sigma_=sigma):
            self.spot.setValue(s_)
            self.r.setValue(r_)
            self.q.setValue(q)
            self.vol.setValue(sigma_)
            return option.NPV()

        v, hs, hv, hr = price(), 2e-4 * s, 2e-4, 2e-5
        up, down = price(s_=s + hs), price(s_=s - hs)
        delta, gamma = (up - down) / (2 * hs), (up - 2 * v + down) / (hs * hs)
        vega = (price(sigma_=sigma + hv) - price(sigma_=sigma - hv)) / (2 * hv)
        rho = (price(r_=r + hr) - price(r_=r - hr)) / (2 * hr)
        exercised = abs(delta + 1.0) <= 1e-6  # (the price above the payoff by a constant)
        theta = 0.0 if exercised else r * v - (r - q) * s * delta - 0.5 * sigma**2 * s * s * gamma
        if exercised:
            delta, gamma, vega, rho = -1.0, 0.0, 0.0, 0.0
        return delta, gamma, vega, theta, rho


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--stride", type=int, default=10, help="every N-th put of the portfolio")
    args = parser.parse_args()
    _, columns, _ = portfolio(0)
    c = {name: column[:: args.stride] for name, column in columns.items()}
    n = len(c["s"])
    reference = Reference()
    want = np.array(
        [reference.greeks(*(c[x][i] for x in ("s", "k", "t", "r", "q", "sigma"))) for i in range(n)]
    )
    print(f"{n} puts (every {args.stride}-th of the portfolio); RMSE / max error against QuantLib")
    print("| mode | " + " | ".join(NAMES) + " |")
    print("|---|" + "---|" * len(NAMES))
    for mode in ("fast", "accurate", "precise"):
        got = karvex.american.greeks(
            "p", c["s"], c["k"], c["t"], c["r"], c["q"], c["sigma"], mode=mode
        )
        cells = []
        for j, name in enumerate(NAMES):
            rmse, worst = errors(np.asarray(getattr(got, name)), want[:, j])
            cells.append(f"{rmse:.1e} / {worst:.1e}")
        print(f"| {mode} | " + " | ".join(cells) + " |")


if __name__ == "__main__":
    main()
