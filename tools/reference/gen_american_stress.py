#!/usr/bin/env python3
"""American puts off the benchmark portfolio, priced by QuantLib's QdFp high-precision scheme.

Usage (from the project root; needs QuantLib):

    python3 tools/reference/gen_american_stress.py > tests/data/american_stress.csv

The portfolio of tests/data/american.csv has q - r >= 0.02 wherever r < q, no spot between 50
and 80 and no expiry beyond a year; these three sets (K = 100, t = days/365) reach where the
collocation's iteration is least stable:

- `rates`: S in {70, 90, 100, 120}, 29 days to 3 years, sigma in {0.1, 0.3, 0.6},
  r in {0.01, 0.04, 0.1}, q - r from -0.04 to 0.04 (0 included);
- `yield_above_rate`: r < q with q - r from 0.001 to 0.2, a week to 5 years, sigma from 0.05
  to 0.8;
- `near_equal_rates`: 1 to 14 days, |q - r| from 1e-5 to 1e-3 on both sides, sigma up to 1.5;
- `low_rate`: r from 0 to 0.03 with q from 0.0012 to 0.08 below it (negative where r is small),
  sigma up to 1.2: the boundary of a put lies deep, and the value-matching form degenerates;
- `long_dated`: 3 to 10 years, sigma from 0.05 to 3, r up to 0.25, q from -0.07 to 0.3.

QuantLib's high-precision values agree with the finite-difference table to 1.4e-8 RMSE on the
portfolio, and with the kernels' collocation at 25 and 33 nodes where the two differ (README,
"American exercise"): an independent check of the modes at the 1e-7 level. About 2.5 min of CPU.
"""

import itertools
import sys

import QuantLib as ql

# Per set: spots, days to expiry, volatilities, rates, and either q - r or q itself.
SETS = {
    "rates": dict(
        s=(70, 90, 100, 120),
        days=(29, 91, 365, 1095),
        sigma=(0.1, 0.3, 0.6),
        r=(0.01, 0.04, 0.1),
        q_minus_r=(-0.04, -0.02, -0.01, -0.005, -0.002, 0, 0.002, 0.005, 0.01, 0.02, 0.04),
    ),
    "yield_above_rate": dict(
        s=(60, 80, 95, 100, 105),
        days=(7, 29, 182, 730, 1825),
        sigma=(0.05, 0.15, 0.4, 0.8),
        r=(0.005, 0.03, 0.08),
        q_minus_r=(0.001, 0.01, 0.03, 0.08, 0.2),
    ),
    "near_equal_rates": dict(
        s=(90, 97, 100, 103),
        days=(1, 2, 7, 14),
        sigma=(0.05, 0.15, 0.5, 1.5),
        r=(0.001, 0.03, 0.2),
        q_minus_r=(1e-5, 1e-4, 1e-3, -1e-4, -1e-3),
    ),
    "low_rate": dict(
        s=(70, 93, 100, 110),
        days=(7, 91, 300, 730),
        sigma=(0.1, 0.4, 0.8, 1.2),
        r=(0.0, 0.0002, 0.0005, 0.001, 0.003, 0.01, 0.03),
        q_minus_r=(-0.08, -0.04, -0.013, -0.003, -0.0012),
    ),
    "long_dated": dict(
        s=(60, 90, 100, 130),
        days=(1095, 1825, 2555, 3650),
        sigma=(0.05, 0.1, 0.3, 1.0, 2.0, 3.0),
        r=(0.001, 0.04, 0.1, 0.25),
        q=(-0.07, -0.02, 0.0, 0.05, 0.15, 0.3),
    ),
}


def main():
    today = ql.Date(1, 1, 2025)
    ql.Settings.instance().evaluationDate = today
    dc = ql.Actual365Fixed()
    out = sys.stdout
    out.write("# written by tools/reference/gen_american_stress.py: QuantLib QdFp high precision\n")
    out.write("set,kind,s,k,t,r,q,sigma,price\n")
    for name, axes in SETS.items():
        yields = axes.get("q", axes.get("q_minus_r"))
        for s, days, sigma, r, y in itertools.product(
            axes["s"], axes["days"], axes["sigma"], axes["r"], yields
        ):
            q = y if "q" in axes else r + y
            spot = ql.QuoteHandle(ql.SimpleQuote(s))
            rates = ql.YieldTermStructureHandle(ql.FlatForward(today, r, dc))
            dividends = ql.YieldTermStructureHandle(ql.FlatForward(today, q, dc))
            vol = ql.BlackVolTermStructureHandle(
                ql.BlackConstantVol(today, ql.NullCalendar(), sigma, dc)
            )
            process = ql.BlackScholesMertonProcess(spot, dividends, rates, vol)
            option = ql.VanillaOption(
                ql.PlainVanillaPayoff(ql.Option.Put, 100.0),
                ql.AmericanExercise(today, today + days),
            )
            scheme = ql.QdFpAmericanEngine.highPrecisionScheme()
            option.setPricingEngine(ql.QdFpAmericanEngine(process, scheme))
            row = (s, 100.0, days / 365.0, r, q, sigma, option.NPV())
            out.write(f"{name},put," + ",".join(repr(float(x)) for x in row) + "\n")


if __name__ == "__main__":
    main()
