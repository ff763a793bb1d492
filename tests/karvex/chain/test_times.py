"""Times of day, zones and time stamps: every form read to the same instant,
zones right across DST changes, the corpus' times to expiry to the last bit
of a reference computed with datetime, and each bad form named."""

import csv
import datetime as dt
import zoneinfo

import numpy as np
import pytest
from chain_support import have
from hypothesis import given
from hypothesis import strategies as st
from shapes_support import SHAPES, load_truth

from karvex._chain.options import ChainError
from karvex._chain.times import (
    StampError,
    Stamps,
    describe,
    parse_expiry_time,
    parse_stamp_option,
    stamps_from_arrow,
    stamps_from_text,
    times_of_day,
    wall_to_utc,
    years_to_expiry,
)

UTC = dt.timezone.utc
NEW_YORK = zoneinfo.ZoneInfo("America/New_York")
needs_arrow = pytest.mark.skipif(not have("pyarrow"), reason="pyarrow not installed")


def years(end, start):
    """The reference: datetime's exact microseconds over days of 24 hours, / 365."""
    return (end - start) / dt.timedelta(days=1) / 365.0


def instants(stamps):
    return [None if np.isnat(x) else x.astype(dt.datetime) for x in stamps.at]


def text(*cells):
    return stamps_from_text(np.array(cells))


class TestExpiryTime:
    @pytest.mark.parametrize(
        "given, seconds, described",
        [
            ("16:00", 57600, "16:00 (no zone: the file's own clock)"),
            ("9:30:15", 34215, "09:30:15 (no zone: the file's own clock)"),
            ("08:00Z", 28800, "08:00 UTC"),
            ("08:00 UTC", 28800, "08:00 UTC"),
            ("09:30+05:30", 34200, "09:30 UTC+05:30"),
            ("16:00 -0400", 57600, "16:00 UTC-04:00"),
            (" 16:00 America/New_York ", 57600, "16:00 America/New_York"),
        ],
    )
    def test_forms(self, given, seconds, described):
        parsed = parse_expiry_time(given)
        assert parsed.time_of_day == np.timedelta64(seconds * 10**6, "us")
        assert parsed.describe() == described

    @pytest.mark.parametrize(
        "given, words",
        [
            ("24:00", "not a time of day"),
            ("16", "not a time of day"),
            ("16:00pm", "not a time of day"),
            ("16:00+25:00", "not a UTC offset"),
            ("16:00 Mars/Olympus_Mons", "not a time zone"),
            ("16:00 ../../etc/passwd", "not a time zone"),
        ],
    )
    def test_bad_forms_name_the_value(self, given, words):
        with pytest.raises(ChainError, match=words) as error:
            parse_expiry_time(given)
        assert str(error.value).startswith("--expiry-time: ") and "\n" not in str(error.value)


class TestText:
    def test_offsets_and_epochs_of_every_unit_are_one_instant(self):
        at = dt.datetime(2025, 3, 15, 8, 0, 0, 123456)
        forms = ["2025-03-15T08:00:00.123456Z", "2025-03-15 08:00:00.123456 UTC",
                 "2025-03-15T13:30:00.123456+05:30", "2025-03-15T13:30:00.123456+0530",
                 "2025-03-15 04:00:00.123456-04:00", "2025-03-15T04:00:00.123456789-04"]  # fmt: skip
        stamps = text(*forms)
        assert stamps.aware and stamps.timed.all() and instants(stamps) == [at] * len(forms)
        us = (at - dt.datetime(1970, 1, 1)) // dt.timedelta(microseconds=1)
        for unit, value, want in (
            ("s", us // 10**6, at.replace(microsecond=0)),
            ("ms", us // 1000, at.replace(microsecond=123000)),
            ("us", us, at),
            ("ns", us * 1000 + 999, at),  # floored to the microsecond
        ):
            got = stamps_from_text(np.array([str(value)]), unit)
            assert got.aware and got.timed.all() and instants(got) == [want]

    def test_naive_dates_and_date_times_keep_their_forms(self):
        stamps = text("2025-03-21", "20250321", "2025-03-21 15:45:30", "2025-03-21T15:45", "")
        assert not stamps.aware
        assert list(stamps.timed) == [False, False, True, True, False]
        assert instants(stamps)[2] == dt.datetime(2025, 3, 21, 15, 45, 30)
        assert instants(stamps)[4] is None

    def test_date_format_first_then_the_standard_forms(self):
        stamps = stamps_from_text(np.array(["21.03.2025", "2025-03-14 15:45"]), None, "%d.%m.%Y")
        assert instants(stamps) == [dt.datetime(2025, 3, 21), dt.datetime(2025, 3, 14, 15, 45)]
        assert list(stamps.timed) == [False, True]
        stamps = stamps_from_text(np.array(["21/03/2025 10:00 +0100"]), None, "%d/%m/%Y %H:%M %z")
        assert stamps.aware and instants(stamps) == [dt.datetime(2025, 3, 21, 9)]

    @pytest.mark.parametrize(
        "cells, unit, fmt, row, words",
        [
            (["2025-03-15", "2025-03-15T10:30:00.000+25:00"], None, None, 1, "not a UTC offset"),
            (["2025-02-30"], None, None, 0, "not a date"),
            (["2025-03-14 24:00"], None, None, 0, "not a date"),
            (["1742034612345", "1742034612345.5"], "ms", None, 1, "not a date"),
            (["1742034612345"], None, None, 0, "as ms its 13 digits give 2025-03-15 10:30:12"),
            (["1742034612"], "ms", None, 0, "not an epoch time in ms (it would be 1970-01-21"),
            (["1742034612345"], "s", None, 0, "not an epoch time in s (it would be out of range"),
            (["2025-03-15T08:00Z", "2025-03-15 09:00"], None, None, 1, "no zone in a column"),
            (["31.02.2025"], None, "%d.%m.%Y", 0, "%d.%m.%Y or YYYY-MM-DD"),
            (["today"], None, None, 0, "not a date"),
        ],
    )
    def test_bad_cells_are_named_with_their_row(self, cells, unit, fmt, row, words):
        with pytest.raises(StampError) as error:
            stamps_from_text(np.array(cells), unit, fmt)
        assert error.value.row == row and error.value.value == cells[row]
        assert words in str(error.value)

    def test_option_takes_the_same_forms(self):
        assert instants(parse_stamp_option("2025-03-20T12:00Z")) == [dt.datetime(2025, 3, 20, 12)]
        with pytest.raises(ChainError, match="^--valuation-date: not a date"):
            parse_stamp_option("today")
        with pytest.raises(ChainError, match="^--valuation-date: not a date"):
            parse_stamp_option(" ")

    def test_times_of_day_column(self):
        got = times_of_day(np.array(["09:30", "", "16:00:30"]))
        assert got[0] == np.timedelta64(34200, "s") and np.isnat(got[1])
        assert got[2] == np.timedelta64(57630, "s")
        with pytest.raises(StampError) as error:
            times_of_day(np.array(["09:30", "9h30"]))
        assert error.value.row == 1


@needs_arrow
class TestArrow:
    @pytest.mark.parametrize("unit", ["s", "ms", "us", "ns"])
    @pytest.mark.parametrize("zone", ["UTC", "America/New_York", "Asia/Kolkata", "+05:45"])
    def test_timestamps_with_a_zone_are_their_instants(self, unit, zone):
        import pyarrow as pa

        at = dt.datetime(2025, 3, 9, 6, 59, 59, tzinfo=UTC)  # 01:59:59 in New York, DST at 02:00
        array = pa.array([at, None, at + dt.timedelta(hours=1)], pa.timestamp(unit, tz=zone))
        stamps = stamps_from_arrow(pa.chunked_array([array[:1], array[1:]]))
        assert stamps.aware and list(stamps.timed) == [True, False, True]
        naive = at.replace(tzinfo=None)
        assert instants(stamps) == [naive, None, naive + dt.timedelta(hours=1)]

    def test_dates_naive_timestamps_integers_and_text(self):
        import pyarrow as pa

        day = dt.date(2025, 3, 21)
        for kind in (pa.date32(), pa.date64()):
            stamps = stamps_from_arrow(pa.array([day, None], kind))
            assert not stamps.timed.any() and instants(stamps) == [dt.datetime(2025, 3, 21), None]
        naive = pa.array(
            [dt.datetime(2025, 3, 21), dt.datetime(2025, 3, 21, 16)], pa.timestamp("ns")
        )
        stamps = stamps_from_arrow(naive)
        assert not stamps.aware and list(stamps.timed) == [False, True]  # a midnight is a date
        ms = pa.array([1742034612345, 20250321, None], pa.int64())
        stamps = stamps_from_arrow(ms, "ms")
        assert instants(stamps) == [
            dt.datetime(2025, 3, 15, 10, 30, 12, 345000),
            dt.datetime(2025, 3, 21),
            None,
        ]  # noqa: E501
        assert list(stamps.timed) == [True, False, False]
        with pytest.raises(StampError, match="--timestamp-unit") as error:
            stamps_from_arrow(pa.array([None, 1742034612345]))
        assert error.value.row == 1
        with pytest.raises(StampError, match="whole numbers"):
            stamps_from_arrow(pa.array([1742034612.5]))
        words = pa.array(["2025-03-15T10:30:00Z", None])
        for array in (words, words.cast(pa.large_string()), words.dictionary_encode()):
            stamps = stamps_from_arrow(array)
            assert stamps.aware and instants(stamps) == [dt.datetime(2025, 3, 15, 10, 30), None]
        if hasattr(pa, "string_view"):
            assert instants(stamps_from_arrow(words.cast(pa.string_view())))[0].hour == 10

    def test_values_out_of_range_or_not_text_are_refused_not_wrapped(self):
        import pyarrow as pa

        ns = 1742034612345678901
        with pytest.raises(StampError, match="not an epoch time in s") as error:
            stamps_from_arrow(pa.array([1742034612, ns]), "s")  # would overflow as microseconds
        assert error.value.row == 1
        with pytest.raises(StampError, match="out of range"):
            stamps_from_arrow(pa.array([0, ns], pa.timestamp("s", tz="UTC")))
        words = pa.array(["2025-03-15", None, "2025-03-15", "2025-02-30"])
        for array in (words, words.dictionary_encode()):
            with pytest.raises(StampError, match="not a date") as error:
                stamps_from_arrow(array)
            assert error.value.row == 3 and error.value.value == "2025-02-30"
        with pytest.raises(StampError, match="not a date"):
            stamps_from_arrow(pa.array([b"\xff\xfe"], pa.binary()))
        with pytest.raises(StampError, match="not a date"):
            stamps_from_arrow(pa.array([[1]]))

    @pytest.mark.parametrize("name", ["pandas3", "polars"])
    def test_parquet_samples_give_the_truths_years(self, name):
        import pyarrow.parquet as pq

        table = pq.read_table(SHAPES / f"{name}.parquet")
        quote, expiry = (stamps_from_arrow(table[c]) for c in ("quote_datetime", "expiration"))
        got = years_to_expiry(expiry, quote, parse_expiry_time("16:00"))
        want = [years(e, q) for e, q in zip(instants(expiry), instants(quote))]
        assert list(got) == want
        np.testing.assert_allclose(got, load_truth("parquet")["years"], rtol=1e-11)


def column(name, key):
    with open(SHAPES / name, newline="") as fh:
        return np.array([row[key] for row in csv.DictReader(fh)])


class TestYears:
    @pytest.mark.parametrize(
        "name, quote, expiry, expiry_time, unit, start, end",
        [
            # Quoted 10:30Z, expiring 08:00 UTC: the first expiry a day away.
            ("crypto", "timestamp", "expiration", "08:00Z", None,
             lambda q: q, lambda e: dt.datetime.combine(e, dt.time(8))),
            # Date-only quotes at the 16:00 close, expiries at the 09:30 open.
            ("am_settled", "trade_date", "expiration", "09:30", None,
             lambda q: dt.datetime.combine(q, dt.time(16)),
             lambda e: dt.datetime.combine(e, dt.time(9, 30))),
            ("epoch_ms", "quote_datetime", "expiration", "16:00", "ms", lambda q: q, lambda e: e),
        ],
    )  # fmt: skip
    def test_corpus_years_to_the_last_bit(self, name, quote, expiry, expiry_time, unit, start, end):
        q = stamps_from_text(column(f"{name}.csv", quote), unit)
        e = stamps_from_text(column(f"{name}.csv", expiry), unit)
        got = years_to_expiry(e, q, parse_expiry_time(expiry_time))
        dated = {False: lambda x: x.date(), True: lambda x: x}
        want = [
            years(end(dated[bool(te)](x)), start(dated[bool(tq)](y)))
            for x, y, te, tq in zip(instants(e), instants(q), e.timed, q.timed)
        ]
        assert list(got) == want
        np.testing.assert_allclose(got, load_truth(name)["years"], rtol=1e-11)

    def test_naive_arithmetic_is_as_before(self):
        """Without a zone: an expiry date-time as given against a quote date
        at midnight, a date-only expiry at the expiry time against a timed
        quote, and whole days between dates under the default."""
        expiry = text("2025-03-21T12:00", "2025-03-22", "2025-03-22", "2025-03-22", "")
        quote = text("2025-03-20", "2025-03-21T18:00:00.25", "2025-03-21", "", "2025-03-21")
        got = years_to_expiry(expiry, quote, parse_expiry_time("16:00"))
        assert list(got[:3]) == [1.5 / 365.0, (22 * 3600 - 0.25) / 86400 / 365.0, 1 / 365.0]
        assert np.isnan(got[3:]).all()

    def test_one_valuation_date_serves_every_row(self):
        expiry = text("2025-03-21", "2025-04-17")
        got = years_to_expiry(expiry, parse_stamp_option("2025-03-14"), parse_expiry_time("09:30"))
        assert list(got) == [(7 - 6.5 / 24) / 365.0, (34 - 6.5 / 24) / 365.0]

    @pytest.mark.parametrize(
        "quote, expiry, hours",
        [
            ("2025-03-07", "2025-03-10", 71),  # spring forward: a day of 23 hours
            ("2025-10-31", "2025-11-03", 73),  # fall back: 25 hours
            ("2025-03-10", "2025-03-14", 96),
        ],
    )
    def test_a_zone_counts_the_hours_across_dst(self, quote, expiry, hours):
        got = years_to_expiry(
            text(expiry), text(quote), parse_expiry_time("16:00 America/New_York")
        )
        assert got[0] == hours / 24 / 365.0
        naive = years_to_expiry(text(expiry), text(quote), parse_expiry_time("16:00"))
        assert naive[0] == round(hours / 24) / 365.0

    def test_wall_clock_stamps_take_the_zone_against_instants(self):
        quote = text("2025-03-14T19:45:00Z")  # 15:45 in New York
        expiry = text("2025-03-21", "2025-03-21 16:00")
        got = years_to_expiry(expiry, quote, parse_expiry_time("16:00 America/New_York"))
        assert (
            list(got) == [years(dt.datetime(2025, 3, 21, 20), dt.datetime(2025, 3, 14, 19, 45))] * 2
        )
        got = years_to_expiry(expiry, quote, parse_expiry_time("08:00Z"))
        assert got[0] == years(dt.datetime(2025, 3, 21, 8), dt.datetime(2025, 3, 14, 19, 45))

    def test_instants_against_times_without_a_zone_are_an_error(self):
        with pytest.raises(ChainError, match="--expiry-time 16:00 has no zone") as error:
            years_to_expiry(
                text("2025-03-16"), text("2025-03-15T10:30Z"), parse_expiry_time("16:00")
            )
        assert "'16:00 America/New_York'" in str(error.value) and "\n" not in str(error.value)

    def test_per_row_expiry_times(self):
        expiry = text("2025-03-21", "2025-03-21")
        tod = times_of_day(np.array(["09:30", ""]))
        got = years_to_expiry(expiry, text("2025-03-20 16:00"), parse_expiry_time("16:00"), tod)
        assert list(got) == [17.5 / 24 / 365.0, 1 / 365.0]


@given(st.datetimes(min_value=dt.datetime(2024, 1, 1), max_value=dt.datetime(2026, 12, 31)))
def test_wall_to_utc_agrees_with_zoneinfo(wall):
    """Per-day offsets, per value on DST days: as zoneinfo gives each time."""
    got = wall_to_utc(np.array([np.datetime64(wall, "us"), np.datetime64("NaT")]), NEW_YORK)
    want = wall.replace(tzinfo=NEW_YORK).astimezone(UTC).replace(tzinfo=None)
    assert got[0].astype(dt.datetime) == want and np.isnat(got[1])


def test_summary_line_names_the_time_and_zone_used():
    dated, timed = text("2025-03-21"), text("2025-03-21 09:30")
    am = parse_expiry_time("09:30")
    assert describe(am, dated, text("2025-03-20")) == (
        "expiry time: 09:30 (no zone: the file's own clock) on expiry dates;"
        " date-only quotes at the close, 16:00"
    )
    assert describe(parse_expiry_time("08:00Z"), dated, text("2025-03-20T10:30Z")) == (
        "expiry time: 08:00 UTC on expiry dates"
    )
    assert describe(am, timed, text("2025-03-20")) == "expiry times: as the file gives them"
    assert isinstance(timed, Stamps) and describe(am).startswith("expiry time: 09:30")
