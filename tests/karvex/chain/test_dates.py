"""Expiry and valuation dates: the forms accepted, exactly, and the time of
day kept."""

import numpy as np
import pytest
from chain_support import (
    ENGINES,
    EXAMPLE,
    assert_one_line_error,
    chain,
    edit_cell,
    have,
    read_rows,
    write_chain,
)

from karvex import bsm, year_fraction
from karvex._chain.chunk import Chunk
from karvex._chain.columns import Columns
from karvex._chain.dates import expiry_groups, expiry_labels
from karvex._chain.times import DayCount, Stamps, parse_expiry_time, years_to_expiry

ONE_OPTION = "type,strike,price,spot,rate,expiry_date,valuation_date\nC,100,2.5,100,0.03,{},{}\n"


def iv_of(capsys, tmp_path, expiry, valuation, *options):
    source = write_chain(tmp_path, ONE_OPTION.format(expiry, valuation))
    status, _, err = chain(capsys, source, "-o", tmp_path / "out.csv", *options)
    assert status == 0, err
    return float(read_rows(tmp_path / "out.csv")[0]["iv"])


class TestDates:
    def test_compact_dates_read_as_dashed_ones(self, capsys, tmp_path):
        reference = tmp_path / "reference.csv"
        chain(capsys, "-o", reference)
        lines = EXAMPLE.splitlines()
        header, rows = lines[0], [line.split(",") for line in lines[1:]]
        for row in rows:
            row[3], row[4] = row[3].replace("-", ""), row[4].replace("-", "")
        source = write_chain(tmp_path, "\n".join([header] + [",".join(r) for r in rows]) + "\n")
        for engine in ENGINES:
            out = tmp_path / f"{engine}.csv"
            assert chain(capsys, source, "--engine", engine, "-o", out)[0] == 0
            assert [r["iv"] for r in read_rows(out)] == [r["iv"] for r in read_rows(reference)]

    @pytest.mark.parametrize(
        "expiry,valuation,days",
        [
            ("2025-03-21T12:00", "2025-03-20", 1.5),
            ("2025-03-21 15:45:30", "20250321", (15 * 3600 + 45 * 60 + 30) / 86400),
            # An expiry date at the expiry time (16:00) when the quote has a time of day.
            ("2025-03-22", "2025-03-21T18:00:00.25", (22 * 3600 - 0.25) / 86400),
        ],
    )
    def test_time_of_day_is_kept(self, capsys, tmp_path, expiry, valuation, days):
        want = bsm.iv(2.5, "c", 100.0, 100.0, days / 365.0, 0.03, 0.0)
        assert iv_of(capsys, tmp_path, expiry, valuation) == pytest.approx(want, rel=1e-12)

    @pytest.mark.parametrize(
        "expiry,valuation,options,days",
        [
            # Dates alone: --expiry-time moves the expiry, the quote stays at the close.
            ("2025-03-21", "2025-03-20", ["--expiry-time", "09:30"], 17.5 / 24),
            # New York in March (EDT, UTC-4): 16:00 there is 20:00 UTC.
            (
                "2025-03-21",
                "2025-03-21T10:00Z",
                ["--expiry-time", "16:00 America/New_York"],
                10 / 24,
            ),
            ("2025-03-21", "2025-03-20T08:00:00+01:00", ["--expiry-time", "08:00Z"], 25 / 24),
            ("1742544000000", "1742457600000", ["--timestamp-unit", "ms"], 1.0),
            ("21/03/2025", "20/03/2025", ["--date-format", "%d/%m/%Y"], 1.0),
        ],
    )
    def test_expiry_time_zones_and_stamp_forms(
        self, capsys, tmp_path, expiry, valuation, options, days
    ):
        want = bsm.iv(2.5, "c", 100.0, 100.0, days / 365.0, 0.03, 0.0)
        got = iv_of(capsys, tmp_path, expiry, valuation, *options)
        assert got == pytest.approx(want, rel=1e-12)

    def test_expiry_time_column_beside_an_expiry_date_gives_each_row_its_time(
        self, capsys, tmp_path
    ):
        """`expiry_time` is the expiry's time of day where another column
        holds its date; alone it is the expiry (date or date-time)."""
        text = ONE_OPTION.replace("valuation_date", "valuation_date,expiry_time")
        source = write_chain(tmp_path, text.format("2025-03-21", "2025-03-20,09:30"))
        status, _, err = chain(capsys, source, "-o", tmp_path / "out.csv")
        assert status == 0 and "the file's expiry time column" in err
        want = bsm.iv(2.5, "c", 100.0, 100.0, 17.5 / 24 / 365.0, 0.03, 0.0)
        assert float(read_rows(tmp_path / "out.csv")[0]["iv"]) == pytest.approx(want, rel=1e-12)
        alone = ONE_OPTION.replace("expiry_date", "expiry_time").format("2025-03-21", "2025-03-20")
        assert chain(capsys, write_chain(tmp_path, alone), "-o", tmp_path / "o.csv")[0] == 0

    def test_instants_against_dates_without_a_zone_ask_for_one(self, capsys, tmp_path):
        source = write_chain(tmp_path, ONE_OPTION.format("2025-03-21", "2025-03-20T10:00Z"))
        status, _, err = chain(capsys, source, "-o", tmp_path / "out.csv")
        assert status == 1 and err.count("\n") == 1
        assert str(source) in err and "'16:00Z'" in err

    def test_valuation_date_option_takes_the_same_forms(self, capsys, tmp_path):
        want = iv_of(capsys, tmp_path, "2025-03-21", "2025-03-20T12:00")
        assert (
            iv_of(capsys, tmp_path, "2025-03-21", "", "--valuation-date", "2025-03-20 12:00")
            == want
        )
        status, _, err = chain(capsys, "--valuation-date", "today")
        assert (status, err) == (
            1,
            "karvex: error: --valuation-date: not a date (YYYY-MM-DD, YYYYMMDD, DD.MM.YYYY or "
            "YYYY-MM-DD HH:MM[:SS[.fraction]] (also with T), with Z or +HH:MM where the time is"
            " an instant): 'today'\n",
        )

    @pytest.mark.parametrize(
        "text",
        [
            "2025-02-30",
            "2025-03",
            "today",
            "now",
            "2025-3-21",
            "21/03/2025",
            "20251301",
            "2025-03-21T10",
            "2025-03-21T24:00",
            "2025-03-21+01:00",
            "+2025-03-21",
            "２０２５-03-21",
        ],
    )
    @pytest.mark.parametrize("engine", ENGINES)
    def test_any_other_form_is_a_one_line_error(self, capsys, tmp_path, engine, text):
        text = edit_cell(EXAMPLE, 41, "expiry_date", text)
        assert_one_line_error(
            capsys, tmp_path, text, "line 41, column 4 (expiry_date): not a date", engine
        )

    def test_labels_in_years_name_each_row_by_its_own_expiry(self):
        columns = Columns(["t"], {"expiry": 0})
        t = np.array([0.5, 0.0191781, 0.5, np.nan, 2.0, 0.0191781])
        labels = expiry_labels(columns, None, t)
        assert labels.tolist() == [
            "T = 0.5 y",
            "T = 0.01918 y",
            "T = 0.5 y",
            "T = nan y",
            "T = 2 y",
            "T = 0.01918 y",
        ]

    def test_expiries_are_grouped_by_their_names(self):
        """Distinct sorted names, each row pointing at its own: cells that
        differ in blanks alone, and years that round to one label, are one
        expiry."""
        years = Columns(["t"], {"expiry": 0})
        t = np.array([0.5, 0.50001, 2.0, 0.5, 0.0191781, np.nan, 0.50004])
        dates = Columns(["d"], {"expiry_date": 0})
        cells = np.array(
            ["2025-03-21", " 2025-03-21", "20250418", "2025-03-21 ", "20250418", "2025-01-02"]
        )
        date_chunk = Chunk("f", ["d"], {0: cells}, None, len(cells), np.arange(len(cells)))
        for columns, chunk, times, labels in [
            (
                years,
                None,
                t,
                [
                    "T = 0.5 y",
                    "T = 0.5 y",
                    "T = 2 y",
                    "T = 0.5 y",
                    "T = 0.01918 y",
                    "T = nan y",
                    "T = 0.5 y",
                ],
            ),
            (dates, date_chunk, np.zeros(len(cells)), [c.strip() for c in cells]),
        ]:
            names, rows = expiry_groups(columns, chunk, times)
            assert names.tolist() == sorted(set(labels))
            assert names[rows].tolist() == labels

    @pytest.mark.skipif(not have("pyarrow"), reason="pyarrow not installed")
    def test_arrow_cells_are_grouped_as_text_cells(self):
        import pyarrow as pa

        dates = Columns(["d"], {"expiry_date": 0})
        cells = [" 2025-03-21", None, "2025-03-21", "20250418", None]
        text = np.array([c or "" for c in cells])
        arrow = pa.array(cells)
        groups = [
            expiry_groups(dates, Chunk("f", ["d"], {0: c}, None, 5, np.arange(5)), np.zeros(5))
            for c in (text, arrow)
        ]
        (a, i), (b, j) = groups
        assert (
            a.tolist() == b.tolist() == ["", "2025-03-21", "20250418"] and i.tolist() == j.tolist()
        )

    def test_empty_date_is_a_missing_value(self, capsys, tmp_path):
        source = write_chain(tmp_path, edit_cell(EXAMPLE, 7, "valuation_date", ""))
        status, _, err = chain(capsys, source, "-o", tmp_path / "out.csv")
        assert status == 0 and "invalid inputs 2" in err
        assert np.isnan(float(read_rows(tmp_path / "out.csv")[5]["iv"] or "nan"))


class TestTimeToExpiry:
    RATE = 0.04

    def run(self, capsys, tmp_path, quote, expiry, *options):
        text = f"type,strike,expiration,quote_date,price,spot\nC,100,{expiry},{quote},0.9,100\n"
        status, _, err = chain(
            capsys,
            write_chain(tmp_path, text),
            "--rate",
            self.RATE,
            *options,
            "-o",
            tmp_path / "out.csv",
        )
        assert status == 0, err
        return read_rows(tmp_path / "out.csv")[0]

    def iv_at(self, minutes):
        t = np.timedelta64(minutes, "m") / np.timedelta64(1, "D") / 365.0
        return bsm.iv(0.9, "C", 100.0, 100.0, t, self.RATE, 0.0)

    def test_same_day_expiry_before_its_expiry_time_is_a_valid_option(self, capsys, tmp_path):
        row = self.run(capsys, tmp_path, "2025-03-14 15:45:00", "2025-03-14")
        assert row["status"] == "ok" and float(row["iv"]) == self.iv_at(15)  # to 16:00
        row = self.run(capsys, tmp_path, "2025-03-14T09:30", "20250314", "--expiry-time", "11:30")
        assert float(row["iv"]) == self.iv_at(120)
        row = self.run(
            capsys, tmp_path, "2025-03-14 15:45", "2025-03-21 12:00"
        )  # a date-time as given
        assert float(row["iv"]) == self.iv_at(7 * 1440 - 225)

    def test_dates_alone_count_whole_days(self, capsys, tmp_path):
        row = self.run(capsys, tmp_path, "2025-03-14", "2025-03-15")
        assert float(row["iv"]) == self.iv_at(1440)

    @pytest.mark.parametrize(
        "quote,expiry,options",
        [
            ("2025-03-14 16:00:00", "2025-03-14", ()),  # at the expiry time
            ("2025-03-14 15:45:00", "2025-03-14", ("--expiry-time", "9:30")),
            ("2025-03-14", "2025-03-14", ()),  # dates alone: the same day
            ("2025-03-17", "2025-03-14", ()),  # after expiry
        ],
    )
    def test_quotes_at_or_after_expiry_are_expired(self, capsys, tmp_path, quote, expiry, options):
        row = self.run(capsys, tmp_path, quote, expiry, *options)
        assert row["status"] == "expired" and row["iv"] == ""

    @pytest.mark.parametrize("value", ["24:00", "16", "4pm", "16:60", "16:00:00.5"])
    def test_expiry_time_must_be_a_time_of_day(self, capsys, value):
        status, _, err = chain(capsys, "--expiry-time", value)
        assert (
            status == 1
            and f"--expiry-time: not a time of day (HH:MM or HH:MM:SS): {value!r}" in err
        )


class TestDayCount:
    """--day-count and --holidays: karvex.year_fraction from the quote's
    instant to the expiry's."""

    @pytest.mark.parametrize(
        "name", ["act/365f", "act/360", "act/act", "30/360", "30e/360", "30/360us", "bus/252"]
    )
    def test_years_are_the_array_functions_year_fractions(self, capsys, tmp_path, name):
        holidays = tmp_path / "holidays.txt"
        holidays.write_text("# exchange holidays\n2025-03-17\n\n2025-12-25\n")
        more = ["--holidays", holidays] if name == "bus/252" else []
        out = tmp_path / "out.csv"
        status, _, err = chain(capsys, "--day-count", name, *more, "--audit", "-o", out)
        assert status == 0, err
        assert "day count:    " in err
        rows = read_rows(out)
        start = np.array([r["valuation_date"] + "T16:00" for r in rows], dtype="datetime64[us]")
        end = np.array([r["expiry_date"] + "T16:00" for r in rows], dtype="datetime64[us]")
        days = ["2025-03-17", "2025-12-25"] if name == "bus/252" else None
        want = year_fraction(start, end, name, days)
        np.testing.assert_array_equal(np.array([float(r["t_years"]) for r in rows]), want)

    def test_other_counts_run_on_the_wall_clock_of_the_expiry_zone(self):
        # 08:00 in Tokyo is 23:00 UTC the day before: 30/360 counts Tokyo's dates.
        zone = parse_expiry_time("08:00 Asia/Tokyo")
        expiry = Stamps(np.array(["2025-03-31"], "datetime64[us]"), np.array([False]))
        quote = Stamps(np.array(["2025-02-28T09:00"], "datetime64[us]"), np.array([True]))
        t = years_to_expiry(expiry, quote, zone, day_count=DayCount("30/360"))
        want = year_fraction("2025-02-28T09:00", "2025-03-31T08:00", "30/360")
        assert t.tolist() == [want]
        act = years_to_expiry(expiry, quote, zone, day_count=DayCount("act/360"))
        assert act.tolist() == [year_fraction("2025-02-28T09:00", "2025-03-31T08:00", "act/360")]

    @pytest.mark.parametrize(
        "options,message",
        [
            (["--day-count", "act/364"], "--day-count: unknown day count 'act/364'"),
            (["--holidays", "{h}"], "--holidays: only with --day-count bus/252, not act/365f"),
            (["--day-count", "bus/252", "--holidays", "{h}x"], "--holidays: cannot read"),
            (["--day-count", "bus/252", "--holidays", "{bad}"], "line 2: not a date"),
            (["{years}", "--day-count", "act/360"], "the file gives years to expiry"),
        ],
    )
    def test_mistakes_are_one_line_errors(self, capsys, tmp_path, options, message):
        paths = {"h": tmp_path / "h.txt", "bad": tmp_path / "bad.txt", "years": tmp_path / "y.csv"}
        paths["h"].write_text("2025-03-17\n")
        paths["bad"].write_text("2025-03-17\n2025-02-29\n")
        paths["years"].write_text("type,strike,expiry,price,spot,rate\nC,100,0.5,10,100,0.04\n")
        argv = [o.format(**paths) for o in options]
        status, out, err = chain(capsys, *argv, "-o", tmp_path / "out.csv")
        assert status == 1 and out == ""
        assert err.startswith("karvex: error: ") and message in err and err.count("\n") == 1
