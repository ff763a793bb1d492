"""The arrow engine's writing: numbers as shortest round-trip text, CSV
quoting as the csv module's, Parquet out, standard output, and the summary
and plot data as with the other engines."""

import csv
import io
import re
import subprocess
import sys

import numpy as np
import pytest
from chain_support import EXAMPLE, chain, edit_cell, have, read_rows, write_chain

pa = pytest.importorskip("pyarrow")
pq = pytest.importorskip("pyarrow.parquet")

from karvex._chain import Options, PlotData, run  # noqa: E402
from karvex._chain.compute import STATUSES  # noqa: E402

COMPUTED = ("iv", "delta", "gamma", "vega", "theta", "rho")
EXAMPLE_YEARS = "".join(
    f"{r[1]},{r[2]},0.25,{r[5]},{r[6]},0.043\n"
    for r in (line.split(",") for line in EXAMPLE.splitlines()[1:])
)


def digits(text):
    """The significant digits of a number's text, whatever its notation."""
    mantissa = re.split("[eE]", text.lstrip("-"))[0].replace(".", "")
    return mantissa.strip("0") or "0"


def test_numbers_are_the_shortest_text_that_reads_back_as_the_same_double(capsys, tmp_path):
    # Tiny Greeks far from the money, small ones, whole numbers (an
    # out-of-the-money quote of 0: iv and Greeks 0), ordinary ones.
    source = write_chain(
        tmp_path,
        "type,strike,expiry,price,spot,rate\nC,130,0.05,0.0000001,100,0.01\n"
        "P,70,1.0,0,100,0.03\nC,100,0.5,5.5,100,0.02\n" + EXAMPLE_YEARS,
    )
    for engine in ("arrow", "builtin"):
        assert chain(capsys, source, "--engine", engine, "-o", tmp_path / f"{engine}.csv")[0] == 0
    arrow, builtin = (
        [[r[n] for n in COMPUTED] for r in csv.DictReader(open(tmp_path / f"{e}.csv"))]
        for e in ("arrow", "builtin")
    )
    texts = [(a, b) for ra, rb in zip(arrow, builtin) for a, b in zip(ra, rb) if a or b]
    assert ("1.1092069995545077e-7", "1.1092069995545077e-07") in texts  # the spellings differ
    assert ("0.000013296252957483256", "1.3296252957483256e-05") in texts
    assert ("0", "0.0") in texts
    for a, b in texts:
        assert float(a) == float(b) and digits(a) == digits(b), (a, b)


def test_csv_to_parquet_keeps_the_text_and_leaves_failed_rows_missing(capsys, tmp_path):
    source = write_chain(tmp_path, EXAMPLE)
    assert chain(capsys, source, "-o", tmp_path / "out.parquet", "--chunk-rows", 100)[0] == 0
    assert chain(capsys, source, "--engine", "arrow", "-o", tmp_path / "out.csv")[0] == 0
    table = pq.read_table(tmp_path / "out.parquet")
    rows = list(csv.DictReader(io.StringIO((tmp_path / "out.csv").read_text())))
    for name in rows[0]:
        values = table.column(name).to_pylist()
        if name in COMPUTED:
            assert table.schema.field(name).type == pa.float64()
            assert values == [float(r[name]) if r[name] else None for r in rows]
        else:
            assert values == [r[name] for r in rows]
    assert table.schema.field("status").type == pa.dictionary(pa.int8(), pa.string())
    assert table.column("status").chunk(0).dictionary.to_pylist() == list(STATUSES)


@pytest.mark.skipif(not have("pandas"), reason="pandas not installed")
def test_every_engine_writes_the_same_parquet_file(capsys, tmp_path):
    # An echoed text column with a quoted comma and empty cells.
    lines = EXAMPLE.splitlines()
    source = write_chain(
        tmp_path,
        "\n".join([lines[0] + ",note", lines[1] + ',"a, b"'] + [line + "," for line in lines[2:]])
        + "\n",
    )
    for engine in ("builtin", "pandas", "arrow"):
        assert (
            chain(
                capsys,
                source,
                "--engine",
                engine,
                "-o",
                tmp_path / f"{engine}.parquet",
                "--chunk-rows",
                100,
            )[0]
            == 0
        )
    builtin = pq.read_table(tmp_path / "builtin.parquet")
    assert builtin.column("note").to_pylist()[:2] == ["a, b", ""]
    for engine in ("pandas", "arrow"):
        assert pq.read_table(tmp_path / f"{engine}.parquet").equals(builtin), engine


@pytest.mark.parametrize("fmt", ["csv", "parquet"])
def test_a_header_alone_gives_the_columns_alone(capsys, tmp_path, fmt):
    source = write_chain(tmp_path, EXAMPLE.splitlines()[0] + "\n")
    out = tmp_path / f"out.{fmt}"
    status, _, err = chain(capsys, source, "--engine", "arrow", "-o", out)
    assert status == 0 and "0 rows" in err
    header = EXAMPLE.splitlines()[0].split(",") + list(COMPUTED) + ["status"]
    if fmt == "csv":
        assert out.read_text() == ",".join(header) + "\n"
    else:
        table = pq.read_table(out)
        assert table.num_rows == 0 and table.schema.names == header


def test_standard_output_in_either_format(capsys, tmp_path):
    source = write_chain(tmp_path, EXAMPLE)
    status, out, _ = chain(capsys, source, "--engine", "arrow")
    assert chain(capsys, source, "--engine", "arrow", "-o", tmp_path / "out.csv")[0] == 0
    assert status == 0 and out == (tmp_path / "out.csv").read_text()
    done = subprocess.run(
        [sys.executable, "-m", "karvex", "chain", str(source), "--format", "parquet"],
        capture_output=True,
    )
    assert done.returncode == 0, done.stderr
    assert pq.read_table(pa.BufferReader(done.stdout)).num_rows == 318


def test_summary_and_plot_data_are_those_of_the_builtin_engine(tmp_path):
    source = write_chain(tmp_path, EXAMPLE)
    seen = {}
    for engine in ("builtin", "arrow"):
        plot = PlotData()
        options = Options(
            str(source), str(tmp_path / f"{engine}.csv"), engine=engine, chunk_rows=40
        )
        summary = run(options, plot_data=plot)
        seen[engine] = summary.counts, plot.arrays()
    (counts_b, plot_b), (counts_a, plot_a) = seen["builtin"], seen["arrow"]
    assert counts_a == counts_b
    assert plot_a.keys() == plot_b.keys()
    for name in plot_b:
        assert np.array_equal(
            plot_a[name], plot_b[name], equal_nan=plot_b[name].dtype.kind == "f"
        ), name


@pytest.mark.skipif(not have("matplotlib"), reason="matplotlib not installed")
def test_plot_with_the_arrow_engine(capsys, tmp_path):
    source = write_chain(tmp_path, EXAMPLE)
    status, _, err = chain(
        capsys,
        source,
        "--engine",
        "arrow",
        "-o",
        tmp_path / "out.parquet",
        "--plot",
        tmp_path / "smile.png",
    )
    assert status == 0 and "(7 expiries)" in err


class TestAttackFaults:
    """Faults an attack on the Parquet output found."""

    def test_a_failed_run_leaves_no_readable_parquet_and_says_one_line(self, tmp_path):
        source = write_chain(tmp_path, edit_cell(EXAMPLE, 300, "price", "x"))
        for output in (["-o", str(tmp_path / "out.parquet")], ["--format", "parquet"]):
            done = subprocess.run(
                [
                    sys.executable,
                    "-m",
                    "karvex",
                    "chain",
                    str(source),
                    "--chunk-rows",
                    "40",
                    "--engine",
                    "builtin",
                ]
                + output,
                capture_output=True,
            )
            assert done.returncode == 1
            assert done.stderr.decode().count("\n") == 1, done.stderr.decode()
            if output[0] == "--format":  # what reached standard output is not a Parquet file
                assert len(done.stdout) > 1000
                with pytest.raises(pa.ArrowInvalid):
                    pq.read_table(pa.BufferReader(done.stdout))
        assert not (tmp_path / "out.parquet").exists()

    def test_text_of_every_arrow_type_and_numbers_of_every_width(self, capsys, tmp_path):
        from test_read_arrow import parquet_example

        symbols = [r.split(",")[0] for r in EXAMPLE.splitlines()[1:]]
        symbols[0] = "KVX,\r\n"
        prices = [
            float(r.split(",")[5]) if r.split(",")[5] else None for r in EXAMPLE.splitlines()[1:]
        ]
        variants = {
            "large": {"symbol": pa.array(symbols, pa.large_string())},
            "view": {"symbol": pa.array(symbols, pa.string()).cast(pa.string_view())},
            "dict": {"symbol": pa.array(symbols, pa.large_string()).dictionary_encode()},
            "f32": {"price": pa.array(prices, pa.float32())},
            "f16": {"price": pa.array(prices, pa.float32()).cast(pa.float16())},
            "i8": {"volume": pa.array(range(318), pa.int16()).cast(pa.int8(), safe=False)},
            "u64": {"volume": pa.array(range(318), pa.uint64())},
        }
        for name, change in variants.items():
            source = parquet_example(tmp_path, f"{name}.parquet", **change)
            for out in (tmp_path / f"{name}.csv", tmp_path / f"{name}-out.parquet"):
                status, _, err = chain(capsys, source, "-o", out)
                assert status == 0, (name, err)
            rows = read_rows(tmp_path / f"{name}.csv")
            assert len(rows) == 318
            assert rows[0]["symbol"] == (symbols[0] if "symbol" in change else "KVX250321C00480000")
            assert pq.read_table(tmp_path / f"{name}-out.parquet").num_rows == 318
