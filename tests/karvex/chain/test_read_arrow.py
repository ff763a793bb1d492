"""The arrow engine's reading: the same table as the builtin reader on every
file, the builtin reader's errors on malformed ones, numbers read by the same
rules, and Parquet in."""

import csv
import datetime as dt
import io

import numpy as np
import pytest
from chain_support import EXAMPLE, HEADER, chain, edit_cell, read_rows, write_chain
from hypothesis import given, settings
from hypothesis import strategies as st

pa = pytest.importorskip("pyarrow")
pq = pytest.importorskip("pyarrow.parquet")

from karvex._chain import cells  # noqa: E402

COMPUTED = ("iv", "delta", "gamma", "vega", "theta", "rho")


def table_of(text):
    """Rows of an output CSV: computed numbers as doubles, the rest as text."""
    rows = list(csv.reader(io.StringIO(text)))
    header = rows[0]
    numeric = [name in COMPUTED for name in header]
    return header, [
        [(float(v) if v else None) if n else v for v, n in zip(r, numeric)] for r in rows[1:]
    ]


def run_engines(capsys, tmp_path, source, *argv, engines=("builtin", "arrow")):
    """{engine: (exit status, output text, standard error)}"""
    runs = {}
    for engine in engines:
        out = tmp_path / f"out-{engine}.csv"
        status, _, err = chain(capsys, source, "--engine", engine, "-o", out, *argv)
        runs[engine] = (status, out.read_text() if out.exists() else None, err)
    return runs


def assert_same_table(runs):
    (status_a, text_a, _), (status_b, text_b, _) = runs.values()
    assert status_a == status_b == 0
    assert table_of(text_a) == table_of(text_b)


# Cells Arrow reads differently from the builtin rules, or not at all: each
# such block goes through the builtin reader.
AWKWARD = [
    ("blanks around numbers", lambda t: edit_cell(t, 5, "strike", " 490 ")),
    ("underscore digits", lambda t: edit_cell(t, 6, "price", "2_9.5")),
    (
        "spelt NaN and infinity",
        lambda t: edit_cell(edit_cell(t, 7, "price", "NaN"), 8, "spot", "Infinity"),
    ),
    ("empty cells", lambda t: edit_cell(edit_cell(t, 9, "price", ""), 10, "rate", "  ")),
    (
        "blank and empty-field lines",
        lambda t: t.replace("\n", "\n\n", 3).replace("\n", "\n,,,,,,,,,\n", 1),
    ),
    ("short row", lambda t: t.replace(",0.043,0.013\n", "\n", 1)),
    ("CRLF line ends", lambda t: t.replace("\n", "\r\n")),
    (
        "quoted fields with commas, quotes and line breaks",
        lambda t: t.replace("KVX250321C00480000", '"KVX,250321\nC00""480000"').replace(
            "KVX250620P00390000", '"KVX250620P00390000"'
        ),
    ),
    ("non-ASCII blank", lambda t: edit_cell(t, 11, "strike", "\u2003495")),
]


class TestSameTableAsBuiltin:
    @pytest.mark.parametrize("model", ["bsm", "black76"])
    def test_example_chain(self, capsys, tmp_path, model):
        source = write_chain(tmp_path, EXAMPLE)
        assert_same_table(run_engines(capsys, tmp_path, source, "--model", model))

    @pytest.mark.parametrize("edit", [e for _, e in AWKWARD], ids=[name for name, _ in AWKWARD])
    @pytest.mark.parametrize("chunk_rows", [7, 100_000])
    def test_cells_arrow_refuses_are_read_by_the_builtin_rules(
        self, capsys, tmp_path, edit, chunk_rows
    ):
        source = write_chain(tmp_path, edit(EXAMPLE))
        runs = run_engines(capsys, tmp_path, source, "--chunk-rows", chunk_rows)
        assert_same_table(runs)
        # Text echoed from the input is byte for byte the builtin writer's.
        text = {
            e: [r[: len(HEADER)] + r[-1:] for r in csv.reader(io.StringIO(o))]
            for e, (_, o, _) in runs.items()
        }
        assert text["arrow"] == text["builtin"]

    def test_small_blocks_cut_only_between_records(self, capsys, tmp_path):
        # Long quoted fields with line breaks, over many blocks of a few rows.
        lines = EXAMPLE.splitlines()
        body = [
            f'"{i}\n{"x" * (i % 50)}\r\n,""q""",{line.split(",", 1)[1]}'
            for i, line in enumerate(lines[1:])
        ]
        source = write_chain(tmp_path, "\n".join([lines[0]] + body) + "\n")
        assert_same_table(run_engines(capsys, tmp_path, source, "--chunk-rows", 3))

    def test_line_numbers_count_from_the_start_of_the_file(self, capsys, tmp_path):
        text = edit_cell(EXAMPLE.replace("\n", "\r\n", 40), 300, "strike", "abc")
        source = write_chain(tmp_path, text)
        runs = run_engines(capsys, tmp_path, source, "--chunk-rows", 20)
        assert runs["arrow"][0] == runs["builtin"][0] == 1
        assert runs["arrow"][2] == runs["builtin"][2]
        assert "line 300, column 3 (strike)" in runs["arrow"][2]


MALFORMED = {
    "extra field": edit_cell(EXAMPLE, 30, "dividend", "0.013,9"),
    "bad number": edit_cell(EXAMPLE, 17, "spot", "51x.40"),
    "NaN with a payload": edit_cell(EXAMPLE, 18, "price", "nan(1)"),
    "bad type": edit_cell(EXAMPLE, 40, "type", "X"),
    "bad date": edit_cell(EXAMPLE, 41, "expiry_date", "2025-02-30"),
    "quote left open": EXAMPLE.replace("KVX250516C00580000", '"KVX250516C00580000'),
}


@pytest.mark.parametrize("text", MALFORMED.values(), ids=MALFORMED.keys())
def test_malformed_file_gives_the_builtin_error(capsys, tmp_path, text):
    source = write_chain(tmp_path, text)
    runs = run_engines(capsys, tmp_path, source, "--chunk-rows", 50)
    assert runs["arrow"] == runs["builtin"]
    status, output, err = runs["arrow"]
    assert status == 1 and output is None and err.count("\n") == 1


def test_bytes_that_are_not_utf8_give_the_builtin_error(capsys, tmp_path):
    source = tmp_path / "chain.csv"
    source.write_bytes(
        edit_cell(EXAMPLE, 200, "symbol", "KVX").encode().replace(b"KVX,", b"KV\xff,")
    )
    runs = run_engines(capsys, tmp_path, source)
    assert runs["arrow"] == runs["builtin"] and runs["arrow"][0] == 1


class TestNumbers:
    """Arrow's number parsing either agrees with the builtin rules on a cell
    or refuses it (and the builtin rules then decide)."""

    @staticmethod
    def builtin(texts):
        return cells.text_numbers(np.array(texts, dtype=str))

    @settings(max_examples=400, deadline=None)
    @given(
        st.lists(
            st.text(alphabet="0123456789.eE+-_ infatyINFATY()\t\u00a0", max_size=8),
            min_size=1,
            max_size=6,
        )
    )
    def test_arrow_reads_a_cell_as_the_builtin_rules_do_or_refuses(self, texts):
        try:
            fast = cells.arrow_numbers(pa.array(texts))
        except cells.Refused:
            return
        assert np.array_equal(fast, self.builtin(texts), equal_nan=True), texts

    def test_typed_columns(self):
        for column in (
            pa.array([1, None, -3], pa.int64()),
            pa.array([1.5, None], pa.float32()),
            pa.array(["2.5", None]).dictionary_encode(),
        ):
            values = cells.arrow_numbers(column)
            assert values.dtype == np.float64 and values.flags.c_contiguous
            assert np.array_equal(
                values,
                np.array(
                    column.cast(pa.float64())
                    if not pa.types.is_dictionary(column.type)
                    else [2.5, np.nan],
                    dtype=float,
                ),
                equal_nan=True,
            )
        with pytest.raises(cells.Refused):
            cells.arrow_numbers(pa.array([True]))

    def test_distinct_values_are_converted_once_and_spread_over_the_rows(self):
        values, rows = cells.distinct(pa.array(["c", "p", None, "c", "p", "c"]))
        assert sorted(values.tolist()) == ["", "c", "p"]
        assert values[rows].tolist() == ["c", "p", "", "c", "p", "c"]


def parquet_example(tmp_path, name="chain.parquet", **changes):
    """The example chain as Parquet with typed columns: dates as date32, the
    type dictionary-encoded, and an int64 volume column."""
    rows = list(csv.DictReader(io.StringIO(EXAMPLE)))
    columns = {
        "symbol": pa.array([r["symbol"] for r in rows]),
        "type": pa.array([r["type"] for r in rows]).dictionary_encode(),
        "strike": pa.array([float(r["strike"]) for r in rows]),
        "expiry_date": pa.array([dt.date.fromisoformat(r["expiry_date"]) for r in rows]),
        "valuation_date": pa.array([dt.date.fromisoformat(r["valuation_date"]) for r in rows]),
        "price": pa.array([float(r["price"]) if r["price"] else None for r in rows]),
        "spot": pa.array([float(r["spot"]) for r in rows]),
        "forward": pa.array([float(r["forward"]) for r in rows]),
        "rate": pa.array([float(r["rate"]) for r in rows]),
        "dividend": pa.array([float(r["dividend"]) for r in rows]),
        "volume": pa.array(range(len(rows)), pa.int64()),
    }
    columns.update(changes)
    path = tmp_path / name
    pq.write_table(pa.table(columns), path, row_group_size=100)
    return path


class TestParquetIn:
    def test_same_results_as_the_csv_and_input_types_kept(self, capsys, tmp_path):
        source = parquet_example(tmp_path)
        assert chain(capsys, source, "-o", tmp_path / "out.parquet", "--chunk-rows", 50)[0] == 0
        assert (
            chain(
                capsys,
                write_chain(tmp_path, EXAMPLE),
                "--engine",
                "builtin",
                "-o",
                tmp_path / "out.csv",
            )[0]
            == 0
        )
        out = pq.read_table(tmp_path / "out.parquet")
        given = pq.read_table(source)
        assert out.schema.names == given.schema.names + list(COMPUTED) + ["status"]
        for name in given.schema.names:
            assert out.column(name).equals(given.column(name))
        assert out.schema.field("status").type == pa.dictionary(pa.int8(), pa.string())
        want = list(csv.DictReader(io.StringIO((tmp_path / "out.csv").read_text())))
        for name in COMPUTED:
            assert out.column(name).type == pa.float64()
            assert out.column(name).to_pylist() == [
                float(r[name]) if r[name] else None for r in want
            ]
        assert out.column("status").to_pylist() == [r["status"] for r in want]
        assert (
            pq.ParquetFile(tmp_path / "out.parquet").metadata.num_row_groups == 7
        )  # 318 rows by 50

    def test_recognised_by_content_whatever_the_name(self, capsys, tmp_path):
        source = parquet_example(tmp_path, "chain.data")
        status, out, _ = chain(capsys, source, "--format", "csv")
        assert status == 0 and len(out.splitlines()) == 319

    def test_text_cells_in_parquet_follow_the_csv_rules_and_errors_name_the_row(
        self, capsys, tmp_path
    ):
        prices = [r.split(",")[5] for r in EXAMPLE.splitlines()[1:]]
        good = parquet_example(tmp_path, price=pa.array([f" {p} " for p in prices]))
        assert chain(capsys, good, "-o", tmp_path / "out.parquet")[0] == 0
        prices[99] = "9..5"
        bad = parquet_example(tmp_path, "bad.parquet", price=pa.array(prices))
        status, _, err = chain(capsys, bad, "-o", tmp_path / "bad-out.parquet")
        assert status == 1
        assert err == f"karvex: error: {bad}, row 100, column 6 (price): not a number: '9..5'\n"

    def test_refused_with_one_line_errors(self, capsys, tmp_path):
        fake = write_chain(tmp_path, EXAMPLE, "fake.parquet")
        status, _, err = chain(capsys, fake)
        assert (
            status == 1
            and err.startswith(f"karvex: error: {fake}: not a Parquet file")
            and err.count("\n") == 1
        )
        source = parquet_example(tmp_path)
        status, _, err = chain(capsys, source, "--engine", "builtin")
        assert status == 1 and "Parquet is read by the arrow engine" in err


class TestAttackFaults:
    """Faults an attack on the command found in the arrow engine."""

    def test_record_end_reads_a_long_multi_line_field_once(self):
        from karvex._chain.read_arrow import record_end

        scanned = []

        class Counted(bytes):
            def count(self, sub, start=0, end=None):
                end = len(self) if end is None else end
                scanned.append(end - start)
                return bytes.count(self, sub, start, end)

        field = b'"' + b"x\n" * 20_000  # a quoted field still open: no record ends in it
        data = Counted(b"a,b\n1," + field)
        assert record_end(data) == 4
        assert sum(scanned) <= 4 * len(data)  # was one pass per line break

    def test_integers_beyond_2_53_read_as_their_digits_do(self, capsys, tmp_path):
        big = 2**53 + 1
        source = parquet_example(tmp_path, volume=pa.array([big] * 318, pa.uint64()))
        source2 = parquet_example(tmp_path, "two.parquet", strike=pa.array([big] * 318, pa.int64()))
        assert chain(capsys, source, "-o", tmp_path / "a.csv", "--price-column", "volume")[0] == 0
        status, _, err = chain(capsys, source2, "-o", tmp_path / "b.csv")
        assert status == 1 and "strikes look scaled" in err and "Traceback" not in err

    def test_nested_and_binary_columns_are_one_line_errors_naming_file_and_column(
        self, capsys, tmp_path
    ):
        nested = parquet_example(tmp_path, "nested.parquet", rate=pa.array([[0.04]] * 318))
        status, _, err = chain(capsys, nested, "-o", tmp_path / "out.csv")
        assert status == 1 and err.count("\n") == 1
        assert err.startswith(f"karvex: error: {nested}, column 9 (rate): holds list")
        echoed = parquet_example(tmp_path, "echo.parquet", symbol=pa.array([[1]] * 318))
        status, _, err = chain(capsys, echoed, "-o", tmp_path / "out.csv")
        assert status == 1 and err.count("\n") == 1 and "column 1 (symbol)" in err
        assert chain(capsys, echoed, "-o", tmp_path / "out.parquet")[0] == 0  # Parquet keeps it
        binary = parquet_example(tmp_path, "bin.parquet", symbol=pa.array([b"\xff"] * 318))
        status, _, err = chain(capsys, binary, "-o", tmp_path / "out.csv")
        assert status == 1 and err.count("\n") == 1 and "column 1 (symbol)" in err

    def test_decimal_and_timestamp_columns_give_the_csv_results(self, capsys, tmp_path):
        import decimal

        rows = list(csv.DictReader(io.StringIO(EXAMPLE)))
        stamps = [dt.datetime.fromisoformat(r["valuation_date"]) for r in rows]
        variants = {
            "decimal": {
                "price": pa.array(
                    [decimal.Decimal(r["price"] or "NaN") if r["price"] else None for r in rows],
                    pa.decimal128(12, 4),
                )
            },
            "ns": {"valuation_date": pa.array(stamps, pa.timestamp("ns"))},
            "utc": {"valuation_date": pa.array(stamps, pa.timestamp("us", tz="UTC"))},
            "zone": {
                "valuation_date": pa.array(
                    [s.replace(tzinfo=dt.timezone.utc) for s in stamps],
                    pa.timestamp("s", tz="UTC"),
                ).cast(pa.timestamp("ms", tz="Asia/Tokyo"))
            },
        }

        def ivs(name, clock=None):
            text = EXAMPLE
            if clock is not None:  # the quotes at that time of day
                text = "\n".join(
                    line.replace(",2025-03-14,", f",2025-03-14 {clock},")
                    for line in EXAMPLE.splitlines()
                )
            chain(capsys, write_chain(tmp_path, text, f"{name}.csv"), "-o", tmp_path / "w.csv")
            return [float(r["iv"]) if r["iv"] else None for r in read_rows(tmp_path / "w.csv")]

        # Naive midnights are dates (pandas writes dates so); instants need
        # the expiry time's zone: midnight UTC is 09:00 in Tokyo.
        want = {
            "decimal": ivs("dates"),
            "ns": ivs("dates"),
            "utc": ivs("midnight", "00:00"),
            "zone": ivs("nine", "09:00"),
        }
        zones = {"utc": ["--expiry-time", "16:00Z"], "zone": ["--expiry-time", "16:00 Asia/Tokyo"]}
        for name, change in variants.items():
            source = parquet_example(tmp_path, f"{name}.parquet", **change)
            out = tmp_path / f"{name}.csv"
            status, _, err = chain(capsys, source, *zones.get(name, []), "-o", out)
            assert status == 0, err
            got = [float(r["iv"]) if r["iv"] else None for r in read_rows(tmp_path / f"{name}.csv")]
            assert got == want[name], name


@pytest.mark.parametrize("writer", ["pandas", "polars"])
def test_parquet_from_dataframe_libraries_to_csv_and_parquet(capsys, tmp_path, writer):
    """pandas 3 and polars write text as large_string (polars also its
    categoricals as dictionaries of uint32); pandas its dates as timestamps,
    here one with a zone."""
    library = pytest.importorskip(writer)
    source = tmp_path / f"{writer}.parquet"
    if writer == "pandas":
        frame = library.read_csv(io.StringIO(EXAMPLE), dtype={"price": float})
        frame["expiry_date"] = library.to_datetime(frame["expiry_date"]).dt.date
        frame["valuation_date"] = library.to_datetime(frame["valuation_date"]).dt.date
        frame.to_parquet(source)
    else:
        frame = library.read_csv(io.StringIO(EXAMPLE))
        frame.with_columns(library.col("type").cast(library.Categorical)).write_parquet(source)
    chain(capsys, write_chain(tmp_path, EXAMPLE), "-o", tmp_path / "want.csv")
    want = [
        (r["symbol"], float(r["iv"]) if r["iv"] else None) for r in read_rows(tmp_path / "want.csv")
    ]
    status, _, err = chain(capsys, source, "-o", tmp_path / "out.csv")
    assert status == 0, err
    got = [
        (r["symbol"], float(r["iv"]) if r["iv"] else None) for r in read_rows(tmp_path / "out.csv")
    ]
    assert got == want
    status, _, err = chain(capsys, source, "-o", tmp_path / "out.parquet")
    assert status == 0, err
    table = pq.read_table(tmp_path / "out.parquet")
    assert list(zip(table.column("symbol").to_pylist(), table.column("iv").to_pylist())) == want
