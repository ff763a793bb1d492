"""What type checkers infer for the curves and day counts, and mistakes they must catch: checked
by `mypy --strict` (an ignore that is no longer needed is an error) and pyright (not a pytest
module; running it also works)."""

from __future__ import annotations

import datetime

import numpy as np
import numpy.typing as npt
import pandas as pd
from typing_extensions import assert_type

import karvex
from karvex import Curve, year_fraction
from karvex.curves import RateCurve

F64 = npt.NDArray[np.float64]
t = np.array([0.1, 1.0, 5.0])
curve = Curve.parse("1m=0.043,3m=0.044,1y=0.045,2y=0.041")

assert_type(curve.zero_rate(1.0), float)
assert_type(curve.zero_rate(np.float64(1.0)), float)
assert_type(curve.zero_rate(t), F64)
assert_type(curve.zero_rate([0.5, 1.0]), F64)
assert_type(curve.zero_rate(pd.Series([0.5, 1.0])), F64)
assert_type(curve.discount(2), float)
assert_type(curve.forward_rate(1.0, 2.0), float)
assert_type(curve.forward_rate(t, 2.0), F64)
assert_type(curve.tenors, F64)
assert_type(Curve.from_discount_factors(["6m", 1.0], [0.98, 0.95]), Curve)
assert_type(karvex.Curve.flat(0.05), Curve)
assert_type(year_fraction("2024-01-31", "2024-07-31", "act/360"), float)
assert_type(year_fraction(datetime.date(2024, 1, 31), np.datetime64("2024-07-31")), float)
assert_type(year_fraction(pd.Timestamp("2024-01-31"), "2024-07-31"), float)
assert_type(year_fraction("2024-01-31", ["2024-07-31", "2025-01-31"]), F64)
assert_type(year_fraction(pd.Series(pd.to_datetime(["2024-01-31"])), "2024-07-31"), F64)
assert_type(karvex.year_fraction("2024-01-31", "2024-07-31"), float)
rates: RateCurve = curve


def one_number(x: float) -> float:
    return x


def mistakes() -> None:
    """Each line is refused by both checkers."""
    curve.zero_rate("1y")  # type: ignore[arg-type]
    year_fraction(20240131, "2024-07-31")  # type: ignore[call-overload]
    year_fraction("2024-01-31", "2024-07-31", day_count=365)  # type: ignore[call-overload]
    Curve.parse(0.05)  # type: ignore[arg-type]
    curve.tenors = t  # type: ignore[misc]
    one_number(curve.zero_rate(t))  # type: ignore[arg-type]
