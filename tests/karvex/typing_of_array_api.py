"""What type checkers infer for calls of the array API: checked by `mypy --strict` and pyright
in tools/run-tests (not a pytest module; running it also works)."""

from __future__ import annotations

import datetime
from typing import Any

import numpy as np
import numpy.typing as npt
import pandas as pd
import polars as pl
import xarray as xr
from typing_extensions import assert_type

import karvex
from karvex import _core, _ext, black76, bsm
from karvex.bsm import Greeks, SecondOrder

F64 = npt.NDArray[np.float64]
k = np.array([90.0, 100.0, 110.0])
flags = np.array([1, -1, 1], dtype=np.int8)
strikes = pd.Series([90.0, 100.0, 110.0])

assert_type(bsm.price("c", 100.0, 95.0, 0.5, 0.03, 0.0, 0.2), float)
assert_type(bsm.price(1, 100, np.float32(95.0), 1, 0, 0, 0.2), float)
assert_type(bsm.price("c", 100.0, k, 0.5, 0.03, 0.0, 0.2), F64)
assert_type(bsm.price(flags, 100.0, [90.0, 100.0, 110.0], 0.5, 0.03, 0.0, 0.2), F64)
assert_type(bsm.price("c", 100.0, strikes, 0.5, 0.03, 0.0, 0.2), "pd.Series[float]")
assert_type(bsm.gamma(100.0, k, 0.5, 0.03, 0.0, 0.2), F64)
assert_type(bsm.greeks("p", 100.0, 95.0, 0.5, 0.03, 0.0, 0.2), Greeks[float])
assert_type(bsm.greeks("p", 100.0, k, 0.5, 0.03, 0.0, 0.2), Greeks[F64])
assert_type(bsm.greeks("p", 100.0, strikes, 0.5, 0.03, 0.0, 0.2), pd.DataFrame)
assert_type(bsm.iv(10.45, "c", 100.0, 100.0, 1.0, 0.05, 0.0), float)
assert_type(bsm.iv(k, "c", 100.0, k, t=1.0, r=0.05, q=0.0), F64)
assert_type(bsm.iv_status(10.45, "c", 100.0, 100.0, 1.0, 0.05, 0.0), str)
assert_type(bsm.iv_status(k, flags, 100.0, k, 1.0, 0.05, 0.0), npt.NDArray[np.str_])
assert_type(black76.price("call", 100.0, 95.0, 0.5, 0.03, 0.2), float)
assert_type(black76.vega(100.0, k, 0.5, 0.03, 0.2), F64)
assert_type(black76.iv(strikes, "p", 100.0, 95.0, 0.5, 0.03), "pd.Series[float]")
assert_type(black76.greeks(True, 100.0, k, 0.5, 0.03, 0.2).vega, F64)
assert_type(bsm.vanna(100.0, 95.0, 0.5, 0.03, 0.0, 0.2), float)
assert_type(bsm.charm(flags, 100.0, k, 0.5, 0.03, 0.0, 0.2), F64)
assert_type(bsm.second_order("c", 100.0, k, 0.5, 0.03, 0.0, 0.2).dividend_rho, F64)
assert_type(bsm.second_order("c", 100.0, 95.0, 0.5, 0.03, 0.0, 0.2), SecondOrder[float])
assert_type(bsm.second_order("c", 100.0, strikes, 0.5, 0.03, 0.0, 0.2), pd.DataFrame)
assert_type(black76.second_order("p", 100.0, k, 0.5, 0.03, 0.2).dual_gamma, F64)
assert_type(black76.dual_gamma(100.0, k, 0.5, 0.03, 0.2), F64)
assert_type(_ext.bsm_vanna(k, k, k, k, k, k, out=k), F64)
assert_type(_core.bsm_price(flags, k, k, k, k, k, k), F64)
assert_type(
    _core.black76_greeks_scalar(1, 100.0, 95.0, 0.5, 0.03, 0.2),
    tuple[float, float, float, float, float],
)


def user_code(df: pd.DataFrame) -> Any:
    return bsm.iv(df["price"], df["type"], 100.0, df["strike"], 0.5, 0.04, 0.01)


assert_type(bsm.vega(100.0, 100.0, 1.0, 0.05, 0.0, 0.2, units="desk"), float)
assert_type(
    bsm.greeks("c", 100.0, k, 0.5, 0.03, 0.0, 0.2, units="desk252", gamma_move="pct"), Greeks[F64]
)
assert_type(black76.theta("p", 100.0, k, 0.5, 0.03, 0.2, units="desk"), F64)


def mistakes() -> None:
    """Each line is refused by both checkers."""
    bsm.vega(100.0, 100.0, 1.0, 0.05, 0.0, 0.2, units="per_day")  # type: ignore[call-overload]
    bsm.price("c", 100.0, 100.0, 1.0, 0.05, 0.0, 0.2, units="desk")  # type: ignore[call-overload]
    bsm.vega(100.0, 100.0, 1.0, 0.05, 0.0, 0.2, gamma_move="pct")  # type: ignore[call-overload]
    bsm.vanna("c", 100.0, 100.0, 1.0, 0.05, 0.0, 0.2)  # type: ignore[call-overload]
    _ = black76.dividend_rho  # type: ignore[attr-defined]
    _ = bsm.second_order("c", 100.0, 100.0, 1.0, 0.05, 0.0, 0.2).rho  # type: ignore[attr-defined]


curve = karvex.Curve.parse("1m=0.043,1y=0.045")
assert_type(bsm.price("c", 100.0, 100.0, 1.0, curve, 0.0, 0.2), float)
assert_type(bsm.iv(k, "c", 100.0, k, 1.0, curve, curve), F64)
assert_type(black76.price("c", 100.0, k, 1.0, curve, 0.2), F64)


def curve_mistakes() -> None:
    """Each line is refused by both checkers."""
    bsm.price("c", 100.0, 100.0, 1.0, 0.05, 0.0, curve)  # type: ignore[call-overload]


assert_type(bsm.price("c", 100.0, 100.0, datetime.timedelta(days=30), 0.04, 0.0, 0.2), float)
assert_type(
    bsm.price("c", 100.0, 100.0, np.timedelta64(30, "D"), 0.04, 0.0, 0.2, day_count="act/360"),
    float,
)
assert_type(bsm.vega(100.0, k, [datetime.timedelta(days=30)], 0.04, 0.0, 0.2), F64)


def duration_mistakes() -> None:
    """Each line is refused by both checkers."""
    bsm.price("c", 100.0, 100.0, 1.0, 0.05, 0.0, 0.2, day_count=365)  # type: ignore[call-overload]
    bsm.price("c", 100.0, 100.0, 1.0, datetime.timedelta(days=1), 0.0, 0.2)  # type: ignore[call-overload]


buffer = np.empty(3)
assert_type(bsm.price("c", 100.0, k, 1.0, 0.04, 0.0, 0.2, out=buffer), F64)
assert_type(bsm.price("c", 100.0, 100.0, 1.0, 0.04, 0.0, 0.2, out=np.empty(())), F64)
assert_type(
    bsm.greeks("c", 100.0, k, 1.0, 0.04, 0.0, 0.2, out=(buffer, buffer, buffer, buffer, buffer)),
    Greeks[F64],
)


def out_mistakes() -> None:
    """Each line is refused by both checkers."""
    bsm.greeks("c", 100.0, k, 1.0, 0.04, 0.0, 0.2, out=buffer)  # type: ignore[call-overload]
    bsm.iv_status(10.0, "c", 100.0, k, 1.0, 0.04, 0.0, out=buffer)  # type: ignore[call-overload]


prices = pl.Series("k", [90.0, 100.0])
assert_type(bsm.price("c", 100.0, prices, 1.0, 0.04, 0.0, 0.2), pl.Series)
assert_type(black76.iv_status(prices, "c", 100.0, 100.0, 1.0, 0.04), pl.Series)
strikes_x = xr.DataArray([90.0, 100.0], dims="strike")
assert_type(bsm.vega(100.0, strikes_x, 1.0, 0.04, 0.0, 0.2, units="desk"), xr.DataArray)
quotes = pd.DataFrame({"mid": [10.0], "k": [100.0]})
assert_type(bsm.iv("mid", "c", 100.0, "k", 1.0, 0.04, 0.0, data=quotes), "pd.Series[float]")
assert_type(bsm.greeks("c", 100.0, "k", 1.0, 0.04, 0.0, 0.2, data=quotes), pd.DataFrame)


def annotated(x: float, a: F64, g: Greeks[F64]) -> None:
    """Results keep their types through user code."""


annotated(
    bsm.price("c", 100.0, 100.0, 1.0, 0.04, 0.0, 0.2),
    bsm.price("c", 100.0, k, 1.0, 0.04, 0.0, 0.2),
    bsm.greeks("c", 100.0, k, 1.0, 0.04, 0.0, 0.2),
)


def str_mistakes() -> None:
    """Each line is refused by both checkers: a str where a number belongs, an array result
    taken for a float, a misspelt field of Greeks."""
    bsm.price("c", 100.0, 100.0, 1.0, 0.05, 0.0, "0.2")  # type: ignore[arg-type]
    bsm.price("c", 100.0, ["90", "100"], 1.0, 0.05, 0.0, 0.2)  # type: ignore[arg-type]
    bsm.iv(10.0, "c", "100", 100.0, 1.0, 0.05, 0.0)  # type: ignore[arg-type]
    one: float = bsm.price("c", 100.0, k, 1.0, 0.04, 0.0, 0.2)  # type: ignore[assignment]
    vega = bsm.greeks("c", 100.0, k, 1.0, 0.04, 0.0, 0.2).veg  # type: ignore[attr-defined]
    del one, vega


assert_type(bsm.price("c", 100.0, pl.col("k"), 1.0, 0.04, 0.0, 0.2), pl.Expr)
assert_type(bsm.price("c", 100.0, pd.DataFrame({"jun": [90.0]}), 1.0, 0.04, 0.0, 0.2), pd.DataFrame)
