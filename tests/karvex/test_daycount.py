"""karvex.year_fraction: QuantLib's day counters to the bit, input forms, time of day, errors."""

import csv
import datetime
import pathlib
import subprocess
import sys

import numpy as np
import pytest

import karvex
from karvex.daycount import DAY_COUNTS, year_fraction

TABLE = pathlib.Path(__file__).parents[1] / "data" / "daycount.csv"


def read_table():
    with open(TABLE, newline="") as f:
        f.readline()
        holidays = f.readline().split(":", 1)[1].split()
        rows = list(csv.reader(f))
    header, rows = rows[0], rows[1:]
    columns = {name: np.array([float(r[j]) for r in rows]) for j, name in enumerate(header)
               if j >= 2}  # fmt: skip
    start = np.array([r[0] for r in rows], dtype="datetime64[D]")
    end = np.array([r[1] for r in rows], dtype="datetime64[D]")
    return start, end, columns, holidays


START, END, QUANTLIB, HOLIDAYS = read_table()


def holidays_of(name):
    return HOLIDAYS if name == "bus/252" else None


@pytest.mark.parametrize("name", DAY_COUNTS)
def test_every_convention_gives_quantlibs_doubles_and_the_negative_backwards(name):
    assert set(QUANTLIB) == set(DAY_COUNTS)
    got = year_fraction(START, END, name, holidays=holidays_of(name))
    want = QUANTLIB[name]
    bad = np.flatnonzero(got.view(np.int64) != want.view(np.int64))
    assert bad.size == 0, [(str(START[i]), str(END[i]), got[i], want[i]) for i in bad[:5]]
    back = year_fraction(END, START, name, holidays=holidays_of(name))
    assert np.array_equal(back, -want)


def test_every_form_of_a_date_gives_the_same_fraction():
    forms = [
        "2024-02-29",
        " 2024-02-29 ",
        datetime.date(2024, 2, 29),
        datetime.datetime(2024, 2, 29),
        np.datetime64("2024-02-29"),
        np.datetime64("2024-02-29T00:00:00.000000000"),
        np.array(["2024-02-29"], dtype=object)[0],
    ]
    for name in DAY_COUNTS:
        want = year_fraction("2023-03-31", "2024-02-29", name)
        for form in forms:
            got = year_fraction(datetime.date(2023, 3, 31), form, name)
            assert type(got) is float and got == want, (name, form)
    mixed = np.array(["2024-02-29", datetime.date(2024, 2, 29), np.datetime64("2024-02-29"), None])
    got = year_fraction("2023-03-31", mixed, "30/360")
    assert np.array_equal(got[:3], np.full(3, year_fraction("2023-03-31", "2024-02-29", "30/360")))
    assert np.isnan(got[3])


def test_pandas_timestamps_and_series_are_dates():
    pd = pytest.importorskip("pandas")
    want = year_fraction("2023-12-31", ["2024-01-31", "2024-02-29"], "act/act")
    assert year_fraction("2023-12-31", pd.Timestamp("2024-02-29"), "act/act") == want[1]
    series = pd.Series(pd.to_datetime(["2024-01-31", "2024-02-29"]))
    assert np.array_equal(year_fraction("2023-12-31", series, "act/act"), want)
    mixed = np.array([pd.Timestamp("2024-01-31"), pd.NaT, np.nan], dtype=object)
    got = year_fraction("2023-12-31", mixed, "act/act")
    assert got[0] == want[0] and np.isnan(got[1:]).all()
    with pytest.raises(ValueError, match="time-zone-aware"):
        year_fraction(series.dt.tz_localize("UTC"), "2025-01-01")


def test_dates_broadcast_like_numpy_arrays():
    start = np.array(["2024-01-31", "2024-02-29", "2024-03-31"], dtype="datetime64[D]")[:, None]
    end = ["2024-06-30", "2024-12-31"]
    got = year_fraction(start, end, "30e/360")
    assert got.shape == (3, 2) and got.dtype == np.float64
    assert got[2, 1] == year_fraction("2024-03-31", "2024-12-31", "30e/360")
    assert year_fraction([], [], "act/360").shape == (0,)
    with pytest.raises(ValueError, match="do not broadcast"):
        year_fraction(["2024-01-01"] * 2, ["2024-01-01"] * 3)


def test_a_time_of_day_counts_as_a_fraction_of_its_day():
    # Act: the exact elapsed time, as the chain's days of 24 hours over 365
    quote, expiry = np.datetime64("2024-03-15T09:30"), np.datetime64("2024-03-15T16:00")
    assert year_fraction(quote, expiry) == ((expiry - quote) / np.timedelta64(1, "D")) / 365.0
    # Act/Act ISDA: each part over its year's length
    got = year_fraction("2023-12-31T12:00", "2024-01-01T12:00", "act/act isda")
    assert got == pytest.approx(0.5 / 365 + 0.5 / 366, rel=1e-15)
    # 30/360: the dates' count plus the difference of the times of day
    assert year_fraction("2024-01-31T18:00", "2024-03-31T06:00", "30/360") == pytest.approx(
        (60 - 0.5) / 360, rel=1e-15
    )
    # Business/252: only business days' hours count (2024-03-29 is a holiday)
    bus = [
        ("2024-03-14T10:00", "2024-03-14T16:00", 0.25),  # Thursday
        ("2024-03-15T16:00", "2024-03-18T10:00", 1 / 3 + 10 / 24),  # Friday to Monday
        ("2024-03-16T10:00", "2024-03-17T16:00", 0.0),  # a weekend
        ("2024-03-28T12:00", "2024-04-01T12:00", 1.0),  # over the holiday and weekend
    ]
    for a, b, days in bus:
        got = year_fraction(a, b, "bus/252", holidays=HOLIDAYS)
        assert got == pytest.approx(days / 252, rel=1e-14, abs=1e-17), (a, b)


@pytest.mark.parametrize("name", ["act/365f", "act/360", "act/act isda", "bus/252"])
def test_measures_of_elapsed_time_add_up_over_consecutive_periods(name):
    rng = np.random.default_rng(7)
    base = np.datetime64("2022-06-01T00:00", "m")
    stamps = np.sort(base + rng.integers(0, 3 * 366 * 1440, size=(500, 3)), axis=1)
    a, b, c = stamps.T
    parts = year_fraction(a, b, name, HOLIDAYS if name == "bus/252" else None)
    rest = year_fraction(b, c, name, HOLIDAYS if name == "bus/252" else None)
    whole = year_fraction(a, c, name, HOLIDAYS if name == "bus/252" else None)
    np.testing.assert_allclose(parts + rest, whole, rtol=1e-13, atol=1e-15)


def test_a_busday_calendar_sets_the_weekend():
    friday_to_friday = ("2024-03-08", "2024-03-15")
    calendar = np.busdaycalendar(weekmask="1111110")  # Saturday is a business day
    assert year_fraction(*friday_to_friday, "bus/252") == 5 / 252
    assert year_fraction(*friday_to_friday, "bus/252", holidays=calendar) == 6 / 252


def test_missing_dates_give_nan_and_leave_the_others_alone():
    end = np.array(["2024-06-30", "NaT"], dtype="datetime64[D]")
    for name in DAY_COUNTS:
        got = year_fraction("2024-01-01", end, name)
        assert np.isnan(got[1]) and got[0] > 0, name
    assert np.isnan(year_fraction(None, "2024-01-01"))


@pytest.mark.parametrize(
    "spelling,name",
    [
        ("ACT/365F", "act/365f"),
        ("Actual/365 Fixed", "act/365f"),
        ("actual_360", None),
        ("Act/Act", "act/act isda"),
        ("30/360 Bond Basis", "30/360"),
        ("30U/360", "30/360 us"),
        ("30E/360", "30e/360"),
        ("Business/252", "bus/252"),
    ],
)
def test_conventions_are_named_in_the_usual_spellings(spelling, name):
    if name is None:
        with pytest.raises(ValueError, match="unknown day count 'actual_360'"):
            year_fraction("2024-01-01", "2024-02-01", spelling)
        return
    assert year_fraction("2024-01-31", "2024-03-31", spelling) == year_fraction(
        "2024-01-31", "2024-03-31", name
    )


@pytest.mark.parametrize(
    "start,end,kwargs,error,match",
    [
        ("2024-01-01", "2024-02-01", {"day_count": "act/364"}, ValueError, "known: act/365f"),
        ("2024-01-01", "2024-02-01", {"holidays": ["2024-01-15"]}, ValueError, "bus/252 only"),
        ("today", "2024-02-01", {}, ValueError, "start: not an ISO date"),
        ("2024-01-01", "2024-02-01+01:00", {}, ValueError, "end: not an ISO date"),
        ("2023-02-29", "2024-02-01", {}, ValueError, "start: not a real day"),
        ("2024-01-01", 45000, {}, TypeError, "end: expected dates"),
        ([1.5], "2024-01-01", {}, TypeError, "start: expected dates"),
        ([datetime.date(2024, 1, 1), 3], "2024-01-01", {}, TypeError, "got int"),
        (
            datetime.datetime(2024, 1, 1, tzinfo=datetime.timezone.utc),
            "2024-02-01",
            {},
            ValueError,
            "time-zone-aware",
        ),
    ],
)
def test_mistakes_are_refused_naming_the_argument(start, end, kwargs, error, match):
    with pytest.raises(error, match=match):
        year_fraction(start, end, **kwargs)


def test_karvex_exports_curves_and_day_counts_without_importing_numpy_first(tmp_path):
    code = (
        "import sys, karvex\n"
        "assert 'numpy' not in sys.modules\n"
        "assert {'Curve', 'year_fraction', 'curves', 'daycount'} <= set(dir(karvex))\n"
        "assert karvex.year_fraction('2024-01-01', '2025-01-01', 'act/360') == 366 / 360\n"
        "assert karvex.Curve.flat(0.05).zero_rate(2.0) == 0.05\n"
    )
    subprocess.run([sys.executable, "-c", code], check=True, cwd=tmp_path)
    assert karvex.year_fraction is year_fraction
