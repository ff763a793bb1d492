"""karvex.bsm / karvex.black76 with the caller's containers: polars, pyarrow, xarray, pandas
DataFrames, and frames passed by column names (each skipped where the library is missing)."""

import datetime
import subprocess
import sys

import numpy as np
import pytest

from karvex import black76, bsm

K = [90.0, 100.0, 110.0]
T = [0.25, 0.5, 1.0]


def bits(x):
    return np.asarray(x, np.float64).view(np.int64)


def same(got, want):
    assert np.array_equal(bits(got), bits(want))


def test_polars_series_give_polars_series_and_frames_for_greeks():
    pl = pytest.importorskip("polars")
    k = pl.Series("strike", K)
    got = bsm.price(pl.Series(["c", "p", "C"]), 100.0, k, pl.Series(T), 0.03, 0.0, 0.2)
    assert isinstance(got, pl.Series) and got.name == "price"
    same(got.to_numpy(), bsm.price(["c", "p", "C"], 100.0, K, T, 0.03, 0.0, 0.2))
    greeks = black76.greeks(1, 100.0, k, 0.5, 0.03, 0.2, units="desk")
    assert isinstance(greeks, pl.DataFrame) and greeks.columns == [
        "delta",
        "gamma",
        "vega",
        "theta",
        "rho",
    ]
    same(greeks["vega"].to_numpy(), black76.vega(100.0, K, 0.5, 0.03, 0.2, units="desk"))
    nulls = bsm.price("c", 100.0, pl.Series([90.0, None]), 0.5, 0.03, 0.0, 0.2)
    assert np.isnan(nulls[1])
    durations = pl.Series([datetime.timedelta(days=d) for d in (30, 91)])
    same(
        bsm.price("c", 100.0, 100.0, durations, 0.03, 0.0, 0.2).to_numpy(),
        bsm.price("c", 100.0, 100.0, np.array([30, 91]) / 365.0, 0.03, 0.0, 0.2),
    )


def test_pyarrow_arrays_and_chunked_arrays_come_back_as_such():
    pa = pytest.importorskip("pyarrow")
    got = bsm.vega(100.0, pa.array(K), 0.5, 0.03, 0.0, 0.2)
    assert isinstance(got, pa.Array)
    same(got.to_numpy(), bsm.vega(100.0, K, 0.5, 0.03, 0.0, 0.2))
    chunked = bsm.iv(
        pa.chunked_array([[10.0], [5.0, 2.0]]),
        pa.chunked_array([["c", "p"], ["c"]]),
        100.0,
        K,
        0.5,
        0.03,
        0.0,
    )
    assert isinstance(chunked, pa.ChunkedArray)
    same(chunked.to_numpy(), bsm.iv([10.0, 5.0, 2.0], ["c", "p", "c"], 100.0, K, 0.5, 0.03, 0.0))
    table = bsm.greeks("c", 100.0, pa.array([90.0, None]), 0.5, 0.03, 0.0, 0.2)
    assert isinstance(table, pa.Table) and np.isnan(table["rho"].to_numpy()[1])
    t = pa.array([datetime.timedelta(days=30)], pa.duration("s"))
    assert bsm.price("c", 100.0, 100.0, t, 0.03, 0.0, 0.2, day_count="act/360").to_pylist() == [
        bsm.price("c", 100.0, 100.0, 30 / 360, 0.03, 0.0, 0.2)
    ]


def test_xarray_broadcasts_by_dimension_name_and_keeps_coordinates():
    xr = pytest.importorskip("xarray")
    k = xr.DataArray(K, dims="strike", coords={"strike": K})
    t = xr.DataArray(T[:2], dims="expiry", coords={"expiry": ["3m", "6m"]})
    sigma = xr.DataArray([[0.2, 0.25]] * 3, dims=("strike", "expiry"))
    flipped = sigma.transpose("expiry", "strike")
    for s in (sigma, flipped):
        got = bsm.price("c", 100.0, k, t, 0.03, 0.0, s)
        assert got.dims == ("strike", "expiry") and got.name == "price"
        assert list(got.coords["expiry"].values) == ["3m", "6m"]
        same(
            got.values,
            bsm.price("c", 100.0, np.array(K)[:, None], np.array(T[:2]), 0.03, 0.0, sigma.values),
        )
    greeks = bsm.greeks("c", 100.0, k, t, 0.03, 0.0, 0.2)
    assert isinstance(greeks, xr.Dataset) and greeks["gamma"].dims == ("strike", "expiry")
    with pytest.raises(ValueError, match="DataArrays do not align"):
        bsm.price(
            "c",
            100.0,
            k,
            xr.DataArray(K[:2], dims="strike", coords={"strike": K[:2]}),
            0.03,
            0.0,
            0.2,
        )
    with pytest.raises(TypeError, match="argument 't' has dimensions without names"):
        bsm.price("c", 100.0, k, np.array(T), 0.03, 0.0, 0.2)


def test_pandas_frames_keep_index_and_columns_and_columns_are_named_with_data():
    pd = pytest.importorskip("pandas")
    strikes = pd.DataFrame({"jun": K, "sep": [95.0, 105.0, 115.0]}, index=list("abc"))
    got = bsm.price("c", 100.0, strikes, 0.5, 0.03, 0.0, 0.2)
    assert list(got.index) == list("abc") and list(got.columns) == ["jun", "sep"]
    same(got.to_numpy(), bsm.price("c", 100.0, strikes.to_numpy(), 0.5, 0.03, 0.0, 0.2))
    with pytest.raises(ValueError, match="different indexes or columns"):
        bsm.price("c", 100.0, strikes, strikes.iloc[::-1], 0.03, 0.0, 0.2)

    quotes = pd.DataFrame(
        {"mid": [10.0, 3.0, 1.0], "cp": ["c", "p", "c"], "spot": 100.0, "strike": K, "t": T},
        index=[7, 8, 9],
    )
    iv = bsm.iv(
        target_price="mid", flag="cp", s="spot", k="strike", t="t", r=0.04, q=0.0, data=quotes
    )
    assert isinstance(iv, pd.Series) and list(iv.index) == [7, 8, 9] and iv.name == "iv"
    same(iv, bsm.iv(quotes["mid"], quotes["cp"], 100.0, quotes["strike"], quotes["t"], 0.04, 0.0))
    words = bsm.price("c", "spot", "strike", "t", 0.04, 0.0, 0.2, data=quotes)
    same(words, bsm.price("c", 100.0, K, T, 0.04, 0.0, 0.2))
    with pytest.raises(ValueError, match=r"argument 'k': data has no column 'strikes'"):
        bsm.price("c", "spot", "strikes", "t", 0.04, 0.0, 0.2, data=quotes)
    with pytest.raises(TypeError, match="data must be a pandas or polars DataFrame, not dict"):
        bsm.price("c", "spot", "strike", "t", 0.04, 0.0, 0.2, data={"spot": 1.0})
    pl = pytest.importorskip("polars")
    polars_iv = bsm.iv(
        target_price="mid",
        flag="cp",
        s="spot",
        k="strike",
        t="t",
        r=0.04,
        q=0.0,
        data=pl.from_pandas(quotes),
    )
    assert isinstance(polars_iv, pl.Series)
    same(polars_iv.to_numpy(), iv.to_numpy())


def test_containers_are_looked_for_only_when_their_library_is_loaded():
    code = (
        "import sys, karvex.bsm as b; b.vega(100.0, [90.0], 0.5, 0.03, 0.0, 0.2, units='desk'); "
        "b.price('c', 100.0, 90.0, 0.5, 0.03, 0.0, 0.2, day_count='act/360'); "
        "print(sorted(m for m in ('polars', 'pyarrow', 'xarray', 'pandas') if m in sys.modules))"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "[]"


def test_polars_expressions_become_one_expression_of_the_same_values():
    pl = pytest.importorskip("polars")
    frame = pl.DataFrame({"cp": ["c", "p", "c"], "k": K, "t": T})
    got = frame.with_columns(
        bsm.price(pl.col("cp"), 100.0, pl.col("k"), pl.col("t"), 0.03, 0.0, 0.2),
        bsm.greeks("c", 100.0, pl.col("k"), 0.5, 0.03, 0.0, 0.2, units="desk"),
        bsm.iv_status(5.0, "c", 100.0, pl.col("k"), pl.col("t"), 0.03, 0.0),
    )
    same(got["price"].to_numpy(), bsm.price(["c", "p", "c"], 100.0, K, T, 0.03, 0.0, 0.2))
    same(
        got["greeks"].struct.field("theta").to_numpy(),
        bsm.theta("c", 100.0, K, 0.5, 0.03, 0.0, 0.2, units="desk"),
    )
    assert got["iv_status"].to_list() == list(bsm.iv_status(5.0, "c", 100.0, K, T, 0.03, 0.0))
    with pytest.raises(TypeError, match="out= takes no polars expressions"):
        bsm.price("c", 100.0, pl.col("k"), 0.5, 0.03, 0.0, 0.2, out=np.empty(3))
