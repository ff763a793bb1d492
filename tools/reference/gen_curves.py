#!/usr/bin/env python3
"""Reference year fractions and curve values from QuantLib, written to
tests/data/daycount.csv and tests/data/curves.csv.

Usage (from the project root; needs the QuantLib package from PyPI, which
karvex never needs at run time; takes a few seconds):

    python3 tools/reference/gen_curves.py             # writes both tables
    python3 tools/reference/gen_curves.py -o DIR      # writes them into DIR

daycount.csv: one row per pair of dates, start <= end: the year fraction
under each convention by QuantLib's day counters:

    act/365f      Actual365Fixed
    act/360       Actual360
    act/act isda  ActualActual(ISDA)
    30/360        Thirty360(BondBasis)
    30/360 us     Thirty360(USA)
    30e/360       Thirty360(European)
    bus/252       Business252 on a bespoke calendar: Saturdays, Sundays and
                  the HOLIDAYS below (NYSE's of 2023 to 2025, plus two that
                  fall on a Sunday)

The pairs are every ordered pair of a set of awkward dates (month ends,
February 28 and 29 of leap and other years, 2000 and 2100, year ends,
holidays and the days around them, weekends) and random pairs (fixed seed),
half of them month ends.  For the Act conventions the script checks that
QuantLib gives -f(a, b) for the reversed pair (b, a), the rule karvex applies
to every convention; it prints how many reversed pairs QuantLib counts
otherwise under 30/360 and Business/252, where karvex differs by design.

curves.csv: rows `node` give each test curve's tenors (days / 365, as
Actual365Fixed makes times of dates), continuously compounded zero rates and
the discount factors exp(-z t); rows `point` give, at times t, QuantLib's
zero rate (continuous), discount factor and the forward rate (continuous)
from the previous point's time t1 to t:

    flat_forward  DiscountCurve on the discount factors (LogLinear),
                  extrapolation enabled
    linear_zero   ZeroCurve on the zero rates (Linear, Continuous), the first
                  rate repeated at the reference date, extrapolation enabled

The times cover the span before the first tenor, every tenor, points between
them and beyond the last tenor out to 100 years.

Every number is written in shortest round-trip form (the same double back).
"""

import argparse
import csv
import datetime
import math
import os
import random

import QuantLib as ql

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "data")

DAY_COUNTS = ("act/365f", "act/360", "act/act isda", "30/360", "30/360 us", "30e/360", "bus/252")

HOLIDAYS = [
    # 2023
    "2023-01-02", "2023-01-16", "2023-02-20", "2023-04-07", "2023-05-29", "2023-06-19",
    "2023-07-04", "2023-09-04", "2023-11-23", "2023-12-25",
    # 2024
    "2024-01-01", "2024-01-15", "2024-02-19", "2024-03-29", "2024-05-27", "2024-06-19",
    "2024-07-04", "2024-09-02", "2024-11-28", "2024-12-25",
    # 2025
    "2025-01-01", "2025-01-20", "2025-02-17", "2025-04-18", "2025-05-26", "2025-06-19",
    "2025-07-04", "2025-09-01", "2025-11-27", "2025-12-25",
    # on a Sunday: no business day lost
    "2022-12-25", "2021-07-04",
]  # fmt: skip

DATES = [
    "1999-12-31", "2000-01-31", "2000-02-28", "2000-02-29", "2000-03-31",
    "2019-02-28", "2019-03-01", "2019-12-31", "2020-01-01", "2020-01-31",
    "2020-02-28", "2020-02-29", "2020-03-01", "2020-03-30", "2020-03-31",
    "2020-04-30", "2020-08-31", "2020-12-31", "2021-02-28", "2021-03-31",
    "2022-12-23", "2022-12-26", "2023-01-02", "2023-01-13", "2023-01-16",
    "2023-02-28", "2023-04-06", "2023-04-07", "2023-07-03", "2023-07-04",
    "2023-11-24", "2023-12-25", "2023-12-29", "2023-12-30", "2023-12-31",
    "2024-01-01", "2024-01-02", "2024-01-31", "2024-02-28", "2024-02-29",
    "2024-03-29", "2024-03-31", "2024-04-30", "2024-06-30", "2024-08-31",
    "2024-12-31", "2025-02-28", "2025-03-31", "2025-12-31", "2028-02-29",
    "2100-02-28", "2100-03-01",
]  # fmt: skip


def ql_date(text):
    d = datetime.date.fromisoformat(text)
    return ql.Date(d.day, d.month, d.year)


def day_counters():
    calendar = ql.BespokeCalendar("karvex reference")
    calendar.addWeekend(ql.Saturday)
    calendar.addWeekend(ql.Sunday)
    for day in HOLIDAYS:
        calendar.addHoliday(ql_date(day))
    return {
        "act/365f": ql.Actual365Fixed(),
        "act/360": ql.Actual360(),
        "act/act isda": ql.ActualActual(ql.ActualActual.ISDA),
        "30/360": ql.Thirty360(ql.Thirty360.BondBasis),
        "30/360 us": ql.Thirty360(ql.Thirty360.USA),
        "30e/360": ql.Thirty360(ql.Thirty360.European),
        "bus/252": ql.Business252(calendar),
    }


def month_end(year, month):
    following = datetime.date(year + month // 12, month % 12 + 1, 1)
    return following - datetime.timedelta(days=1)


def date_pairs(rng):
    pairs = [(a, b) for a in DATES for b in DATES if a <= b]
    first, last = datetime.date(1999, 1, 1).toordinal(), datetime.date(2031, 12, 31).toordinal()
    for i in range(600):
        if i % 2:
            a, b = (
                month_end(rng.randrange(1999, 2032), rng.randrange(1, 13)),
                month_end(rng.randrange(1999, 2032), rng.randrange(1, 13)),
            )
        else:
            a = datetime.date.fromordinal(rng.randrange(first, last))
            b = datetime.date.fromordinal(rng.randrange(first, last))
        a, b = sorted((a, b))
        pairs.append((a.isoformat(), b.isoformat()))
    return pairs


def write_day_counts(path, rng):
    counters = day_counters()
    differ = dict.fromkeys(DAY_COUNTS, 0)
    rows = []
    for a, b in date_pairs(rng):
        da, db = ql_date(a), ql_date(b)
        row = [a, b]
        for name in DAY_COUNTS:
            forward = counters[name].yearFraction(da, db)
            backward = counters[name].yearFraction(db, da)
            if backward != -forward:
                assert name not in ("act/365f", "act/360", "act/act isda"), (name, a, b)
                differ[name] += 1
            row.append(repr(forward))
        rows.append(row)
    with open(path, "w", newline="") as f:
        f.write(f"# written by gen_curves.py from QuantLib {ql.__version__}; see its docstring\n")
        f.write(f"# bus/252 holidays: {' '.join(HOLIDAYS)}\n")
        out = csv.writer(f, lineterminator="\n")
        out.writerow(["start", "end", *DAY_COUNTS])
        out.writerows(rows)
    print(f"{path}: {len(rows)} pairs")
    for name, count in differ.items():
        if count:
            print(f"  {name}: QuantLib gives other than -f(a, b) for {count} reversed pairs")


# name: (tenors in days, continuously compounded zero rates)
CURVES = {
    "usd": (
        [30, 91, 182, 365, 730, 1826, 3652, 10957],
        [0.053, 0.0535, 0.052, 0.049, 0.045, 0.042, 0.043, 0.044],
    ),
    "negative": ([7, 30, 90, 365, 1095, 3650], [-0.005, -0.0045, -0.003, 0.0, 0.002, 0.006]),
    "humped": ([14, 180, 700, 2500], [0.02, 0.035, 0.05, 0.04]),
    "single": ([365], [0.03]),
    "steep": ([1, 7, 31], [0.10, 0.08, 0.05]),
}


def times_for(tenors, rng):
    """Times before, at, between and beyond the tenors, increasing."""
    t = {tenors[0] * f for f in (0.001, 0.25, 0.5, 0.999)}
    t.update(tenors)
    for lo, hi in zip(tenors, tenors[1:]):
        t.update(lo + (hi - lo) * f for f in (1e-9, 0.3, 0.5, 0.77, 1 - 1e-9))
    t.update(rng.uniform(0.0, 1.5 * tenors[-1]) for _ in range(12))
    t.update(tenors[-1] * f for f in (1.000001, 1.1, 2.0, 3.5))
    t.update((100.0, tenors[-1] + 100.0))
    return sorted(x for x in t if x > 0.0)


def ql_curve(interpolation, days, rates, times, discounts):
    reference = ql.Date(15, 1, 2024)
    ql.Settings.instance().evaluationDate = reference
    dates = [reference] + [reference + d for d in days]
    day_count = ql.Actual365Fixed()
    if interpolation == "flat_forward":
        curve = ql.DiscountCurve(dates, [1.0, *discounts], day_count)
    else:
        curve = ql.ZeroCurve(dates, [rates[0], *rates], day_count, ql.NullCalendar(), ql.Linear())
    curve.enableExtrapolation()
    assert list(curve.times())[1:] == times
    return curve


def write_curves(path, rng):
    rows = []
    for name, (days, rates) in CURVES.items():
        tenors = [d / 365.0 for d in days]
        discounts = [math.exp(-(z * t)) for z, t in zip(rates, tenors)]
        for t, z, p in zip(tenors, rates, discounts):
            rows.append(["node", name, "", repr(t), repr(z), repr(p), "", ""])
        points = times_for(tenors, rng)
        for interpolation in ("flat_forward", "linear_zero"):
            curve = ql_curve(interpolation, days, rates, tenors, discounts)
            previous = None
            for t in points:
                zero = curve.zeroRate(t, ql.Continuous).rate()
                row = [repr(t), repr(zero), repr(curve.discount(t)), "", ""]
                if previous is not None:
                    forward = curve.forwardRate(previous, t, ql.Continuous).rate()
                    row[3:] = [repr(previous), repr(forward)]
                rows.append(["point", name, interpolation, *row])
                previous = t
    with open(path, "w", newline="") as f:
        f.write(f"# written by gen_curves.py from QuantLib {ql.__version__}; see its docstring\n")
        out = csv.writer(f, lineterminator="\n")
        out.writerow(["row", "curve", "interpolation", "t", "zero", "discount", "t1", "forward"])
        out.writerows(rows)
    print(f"{path}: {len(rows)} rows")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("-o", "--output", default=HERE, help="directory (default tests/data)")
    args = parser.parse_args()
    write_day_counts(os.path.join(args.output, "daycount.csv"), random.Random(19))
    write_curves(os.path.join(args.output, "curves.csv"), random.Random(1919))


if __name__ == "__main__":
    main()
