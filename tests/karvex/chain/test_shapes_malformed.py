"""Damaged variants of the vendor-shape samples, run with each shape's own
command line: every one ends in one line naming the file and what is wrong
(exit status 1, no output file), never a traceback or rows of numbers."""

import pytest
from shapes_support import SHAPES, assert_one_line_error, pyarrow_or_skip, run
from test_shapes import RUNS


def edit_cell(line, column, new, delimiter=","):
    """A change to a CSV text: the cell of `column` on 1-based `line` set to `new`."""

    def change(text):
        lines = text.split("\n")
        cells = lines[line - 1].split(delimiter)
        cells[lines[0].split(delimiter).index(column)] = new
        lines[line - 1] = delimiter.join(cells)
        return "\n".join(lines)

    return change


def drop_column(name):
    def change(text):
        rows = [line.split(",") for line in text.rstrip("\n").split("\n")]
        at = rows[0].index(name)
        return "\n".join(",".join(r[:at] + r[at + 1 :]) for r in rows) + "\n"

    return change


def truncated_gzip():
    """The compressed sample cut short: its text ends mid-stream."""
    return (SHAPES / "plain.csv.gz").read_bytes()[:-40]


def nested_parquet():
    """The pandas sample with its strikes as lists of one number."""
    pyarrow_or_skip()
    import io

    import pyarrow as pa
    import pyarrow.parquet as pq

    table = pq.read_table(SHAPES / "pandas3.parquet")
    at = table.column_names.index("strike")
    strikes = pa.array([[k] for k in table["strike"].to_pylist()])
    sink = io.BytesIO()
    pq.write_table(table.set_column(at, "strike", strikes), sink)
    return sink.getvalue()


# shape, the damage (a change to a CSV sample's text, or a whole file), and
# the words its error must hold.
CASES = {
    "crypto_offset_out_of_range": (
        "crypto",
        edit_cell(4, "timestamp", "2025-03-15T10:30:00.000+25:00"),
        ["line 4", "timestamp"],
    ),
    "academic_strike_not_a_number": (
        "academic",
        edit_cell(5, "strike_price", "52x0000"),
        ["line 5", "strike_price", "52x0000"],
    ),
    "wide_without_put_asks": ("wide", drop_column("put_ask"), ["put_ask"]),
    "european_31_february": (
        "european",
        edit_cell(2, "expiration", "31.02.2025", ";"),
        ["line 2", "expiration", "31.02.2025"],
    ),
    "intraday_hour_25": (
        "intraday",
        edit_cell(5, "quote_datetime", "2025-03-14 25:59:00"),
        ["line 5", "quote_datetime"],
    ),
    "multi_spot_not_a_number": (
        "multi",
        edit_cell(7, "underlying_price", "n/a"),
        ["line 7", "underlying_price"],
    ),
    "parquet_nested_strikes": ("pandas3", nested_parquet, ["strike"]),
    "gzip_truncated": ("gzip", truncated_gzip, []),
    "mapped_to_a_missing_column": (
        "mapped",
        lambda t: t.replace("StrikePx", "Strike Px", 1),
        ["StrikePx"],
    ),
    "am_settled_31_june": (
        "am_settled",
        lambda t: t.replace("2025-06-20", "2025-06-31", 1),
        ["expiration", "2025-06-31"],
    ),
    "epoch_ms_fraction": (
        "epoch_ms",
        edit_cell(2, "quote_datetime", "1742034612345.5"),
        ["line 2", "quote_datetime"],
    ),
}
# Damage the command already reports in one line with these shapes' options.
HOLDS_TODAY = {"intraday_hour_25", "multi_spot_not_a_number", "am_settled_31_june"}


@pytest.mark.parametrize(
    "case",
    [pytest.param(c, marks=[] if c in HOLDS_TODAY else RUNS[CASES[c][0]][-1]) for c in CASES],
)
def test_damaged_sample_ends_in_one_line(capsys, tmp_path, case):
    shape, damage, words = CASES[case]
    name = RUNS[shape][0]
    if damage in (truncated_gzip, nested_parquet):
        data = damage()
    else:
        data = damage((SHAPES / name).read_text()).encode()
    source = tmp_path / name
    source.write_bytes(data)
    out = tmp_path / "out.csv"
    status, _, err = run(capsys, source, *RUNS[shape][1], "-o", out)
    assert status == 1, err
    assert_one_line_error(err, str(source), *words)
    assert "UTF-8" not in err, err  # a compressed file is not taken for text
    assert not out.exists()
