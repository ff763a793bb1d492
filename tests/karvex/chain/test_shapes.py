"""Vendor-shaped chains (tests/data/shapes, made by tools/shapes/make.py)
straight through `karvex chain`, each with the command line its shape needs:
every option gets the status it should, and where its quote pins the
volatility down (0.002 of volatility moves the price by half a cent or more)
the recovered volatility is the one the file was generated from, within what
the quote's tick allows (shapes_support.tolerance).

xfail(strict) marks a feature the chain command does not have yet: each mark
goes when its feature lands (a test that starts passing fails the run)."""

import bz2
import gzip
import lzma
import shutil
import subprocess

import pytest
from chain_support import have
from shapes_support import (
    SHAPES,
    assert_one_line_error,
    assert_recovers,
    load_truth,
    pyarrow_or_skip,
    read_output,
    run,
)


def needs(feature):
    return pytest.mark.xfail(strict=True, reason=f"not built yet: {feature}")


BUILT = ()  # the feature is there: no mark

MAPPED = [
    f"--column={column}"
    for column in (
        "valuation_date=TradeTime",
        "expiry_date=Maturity",
        "type=PutCall",
        "strike=StrikePx",
        "bid=BidPx",
        "ask=AskPx",
        "spot=UndlPx",
    )
]
# Per shape: the sample, its options (after the file), its truth, whether the
# forwards come from parity, what the summary must say, and the feature.
RUNS = {
    "crypto": (
        "crypto.csv",
        ["--price-unit", "underlying", "--expiry-time", "08:00Z", "--rate", "0"],
        "crypto",
        False,
        ["08:00"],
        (),
    ),
    "academic": (
        "academic.csv",
        ["--model", "black76", "--column", "forward=forward_price"]
        + ["--strike-scale", "0.001", "--rate", "0.043"],
        "academic",
        False,
        [],
        (),
    ),
    "wide": ("wide.csv", ["--rate", "0.043", "--dividend", "0.012"], "wide", False, [], BUILT),
    "european": (
        "european.csv",
        ["--delimiter", ";", "--decimal", ",", "--date-format", "%d.%m.%Y"]
        + ["--rate", "0.025", "--dividend", "0.03"],
        "european",
        False,
        [],
        BUILT,
    ),
    "intraday": (
        "intraday.csv",
        ["--rate", "0.043", "--forward", "parity"],
        "intraday",
        True,
        [],
        BUILT,
    ),
    "multi": ("multi.csv", ["--rate", "0.043", "--forward", "parity"], "multi", True, [], BUILT),
    "pandas3": (
        "pandas3.parquet",
        ["--rate", "0.043", "--dividend", "0.012"],
        "parquet",
        False,
        [],
        (),
    ),
    "polars": (
        "polars.parquet",
        ["--rate", "0.043", "--dividend", "0.012"],
        "parquet",
        False,
        [],
        (),
    ),
    "gzip": (
        "plain.csv.gz",
        ["--rate", "0.043", "--dividend", "0.005"],
        "plain",
        False,
        [],
        BUILT,
    ),
    "mapped": (
        "mapped.csv",
        [*MAPPED, "--rate", "0.043", "--dividend", "0.005"],
        "plain",
        False,
        [],
        (),
    ),
    "am_settled": (
        "am_settled.csv",
        ["--expiry-time", "09:30", "--rate", "0.043", "--dividend", "0.013"],
        "am_settled",
        False,
        ["09:30"],
        (),
    ),
    "epoch_ms": (
        "epoch_ms.csv",
        ["--timestamp-unit", "ms", "--rate", "0"],
        "epoch_ms",
        False,
        [],
        (),
    ),
}


def shape_run(capsys, tmp_path, shape, source=None, output="out.csv"):
    """Run the shape's command line on its sample (or `source`) into
    tmp_path/`output`; asserts success, returns (output path, stderr)."""
    name, options, _, _, _, _ = RUNS[shape]
    if name.endswith(".parquet") or output.endswith(".parquet"):
        pyarrow_or_skip()
    out = tmp_path / output
    status, _, err = run(capsys, source or SHAPES / name, *options, "-o", out)
    assert status == 0, err
    return out, err


@pytest.mark.parametrize(
    "shape", [pytest.param(shape, marks=entry[-1]) for shape, entry in RUNS.items()]
)
def test_shape_recovers_the_true_vols(capsys, tmp_path, shape):
    _, _, truth, parity, said, _ = RUNS[shape]
    out, err = shape_run(capsys, tmp_path, shape)
    assert_recovers(out, load_truth(truth), parity)
    assert "warning" not in err
    for words in said:
        assert words in err


@pytest.mark.parametrize(
    "shape", [pytest.param(s, marks=RUNS[s][-1]) for s in ("pandas3", "polars", "wide")]
)
def test_parquet_output_of_the_same_shapes(capsys, tmp_path, shape):
    out, _ = shape_run(capsys, tmp_path, shape, output="out.parquet")
    assert_recovers(out, load_truth(RUNS[shape][2]), RUNS[shape][3])


def test_string_view_text_from_polars(capsys, tmp_path):
    pyarrow_or_skip()
    import pyarrow as pa
    import pyarrow.parquet as pq

    table = pq.read_table(SHAPES / "polars.parquet")
    types = [pa.string_view() if pa.types.is_large_string(f.type) else f.type for f in table.schema]
    pq.write_table(table.cast(pa.schema(list(zip(table.column_names, types)))), tmp_path / "v.pq")
    out, _ = shape_run(capsys, tmp_path, "polars", tmp_path / "v.pq")
    assert_recovers(out, load_truth("parquet"))


def compress(codec, data, path):
    if codec == "zst":
        if have("pyarrow"):
            import pyarrow as pa

            with pa.CompressedOutputStream(str(path), "zstd") as fh:
                fh.write(data)
            return
        if not shutil.which("zstd"):
            pytest.skip("no zstd compressor")
        subprocess.run(["zstd", "-q", "-o", str(path)], input=data, check=True)
        return
    path.write_bytes({"gz": gzip.compress, "bz2": bz2.compress, "xz": lzma.compress}[codec](data))


@pytest.mark.parametrize("codec", ["gz", "bz2", "xz", "zst"])
@pytest.mark.parametrize("named", [True, False], ids=["by_extension", "by_magic_bytes"])
def test_compressed_input(capsys, tmp_path, codec, named):
    data = gzip.decompress((SHAPES / "plain.csv.gz").read_bytes())
    source = tmp_path / (f"plain.csv.{codec}" if named else "plain.csv")
    compress(codec, data, source)
    if codec == "zst" and not (have("zstandard") or have("pyarrow")):
        # Without a zstd decoder the run stops and says what to install.
        status, _, err = run(capsys, source, "-o", tmp_path / "out.csv")
        assert status == 1
        assert_one_line_error(err, "zstd", "pip install zstandard")
        return
    out, _ = shape_run(capsys, tmp_path, "gzip", source)
    assert_recovers(out, load_truth("plain"))


@pytest.mark.parametrize(
    "name, options, option",
    [
        ("crypto.csv", ["--rate", "0"], "--price-unit"),
        (
            "academic.csv",
            ["--model", "black76", "--column", "forward=forward_price", "--rate", "0.043"],
            "--strike-scale",
        ),
    ],
)
def test_units_left_unstated_end_in_an_error_naming_the_option(
    capsys, tmp_path, name, options, option
):
    """Premiums in coins or strikes x1000 never come out `ok`: the run stops
    and says which option states the unit."""
    out = tmp_path / "out.csv"
    status, _, err = run(capsys, SHAPES / name, *options, "-o", out)
    assert status == 1
    assert_one_line_error(err, str(SHAPES / name), option)
    assert not out.exists()


def test_intraday_stamps_keep_the_parity_summary_and_the_dividend_warning(capsys, tmp_path):
    """Calls stamped 15:59:00 and puts 15:59:30 are one snapshot: each expiry
    gets one forward line with the implied dividend yield (1.3 %), and a BSM
    run without the yield still warns."""
    _, err = shape_run(capsys, tmp_path, "intraday")
    assert "no strike quoted on both sides" not in err
    yields = [
        float(line.split("dividend yield ")[1].split(" %")[0])
        for line in err.splitlines()
        if "dividend yield" in line
    ]
    assert len(yields) == 4 and all(abs(y - 1.3) < 0.1 for y in yields)  # all but 3 days out
    status, _, err = run(capsys, SHAPES / "intraday.csv", "--rate", "0.043", "-o", tmp_path / "b")
    assert status == 0 and "calls below puts of the same strike" in err


def test_multi_underlying_summary_has_a_group_per_underlying_and_date(capsys, tmp_path):
    _, err = shape_run(capsys, tmp_path, "multi")
    lines = err.splitlines()
    assert len(lines) == len(set(lines)), "a summary line repeats"
    for word in ("KVXI", "KVXB", "KVXQ", "2025-03-13", "2025-03-14"):
        assert word in err
    # Three expiries, a forward each, in each of the six groups.
    assert sum("dividend yield" in line for line in lines) == 6 * 3


@pytest.mark.parametrize(
    "separator",
    [".", "/"],
)
def test_european_file_sniffed_or_with_slashed_dates(capsys, tmp_path, separator):
    """Without --delimiter and --decimal the file reads the same; dd.mm.yyyy
    dates need no option, dd/mm/yyyy are read with --date-format %d/%m/%Y (and
    would be ambiguous without it)."""
    text = (SHAPES / "european.csv").read_text()
    source = tmp_path / "eu.csv"
    source.write_text(text.replace(".", separator))
    options = ["--date-format", f"%d{separator}%m{separator}%Y"] if separator == "/" else []
    out = tmp_path / "out.csv"
    status, _, err = run(
        capsys, source, *options, "--rate", "0.025", "--dividend", "0.03", "-o", out
    )
    assert status == 0, err
    assert_recovers(out, load_truth("european"))


def test_foreign_names_without_a_map_are_one_error_listing_every_missing_column(capsys):
    status, _, err = run(capsys, SHAPES / "mapped.csv", "--rate", "0.043")
    assert status == 1
    # Each missing input with a name it would accept, in one line.
    assert_one_line_error(err, "type", "option_type", "strike", "bid", "ask", "spot", "--column")


def test_wide_output_keeps_the_rows_and_columns_of_the_input(capsys, tmp_path):
    out, _ = shape_run(capsys, tmp_path, "wide")
    given = read_output(SHAPES / "wide.csv")
    rows = read_output(out)
    assert len(rows) == len(given)
    assert list(rows[0])[: len(given[0])] == list(given[0])
    assert all(r[k] == g[k] for r, g in zip(rows, given) for k in g)


@pytest.mark.parametrize("engine", ["builtin", "arrow"])
def test_wide_columns_named_other_ways_give_the_same_results(capsys, tmp_path, engine):
    """C_Bid / P_Ask, bid_c / ask_p: the same chain, the same numbers, with
    parity forwards from each row's call and put too."""
    if engine == "arrow":
        pyarrow_or_skip()
    text = (SHAPES / "wide.csv").read_text()
    outputs = []
    for names in (
        ("call_bid", "call_ask", "put_bid", "put_ask"),
        ("C_Bid", "C_Ask", "bid_p", "ask_p"),
    ):
        header, rest = text.split("\n", 1)
        for old, new in zip(("call_bid", "call_ask", "put_bid", "put_ask"), names):
            header = header.replace(old, new)
        source = tmp_path / f"{names[0]}.csv"
        source.write_text(header + "\n" + rest)
        out = tmp_path / f"{names[0]}.out.csv"
        options = ["--rate", "0.043", "--forward", "parity", "--engine", engine, "-o", out]
        status, _, err = run(capsys, source, *options)
        assert status == 0, err
        rows = read_output(out)
        outputs.append([[r[k] for k in list(r)[12:]] for r in rows])
    assert outputs[0] == outputs[1]
    assert_recovers(tmp_path / "call_bid.out.csv", load_truth("wide"), True)


@pytest.mark.parametrize("codec", ["bz2", "xz"])
def test_damaged_archives_end_in_one_line(capsys, tmp_path, codec):
    data = gzip.decompress((SHAPES / "plain.csv.gz").read_bytes())
    whole = tmp_path / f"whole.{codec}"
    compress(codec, data, whole)
    packed = whole.read_bytes()
    for name, damaged in (("cut", packed[: len(packed) // 2]), ("bad", packed[:60] + bytes(40))):
        source = tmp_path / f"{name}.csv.{codec}"
        source.write_bytes(damaged + packed[100:] if name == "bad" else damaged)
        status, _, err = run(capsys, source, "--rate", "0.043", "-o", tmp_path / "o.csv")
        assert status == 1
        assert_one_line_error(err, str(source))


def test_compressed_standard_input(capsys, tmp_path, monkeypatch):
    import io
    import sys

    packed = (SHAPES / "plain.csv.gz").read_bytes()
    monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BufferedReader(io.BytesIO(packed))))
    out, _ = shape_run(capsys, tmp_path, "gzip", "-")
    assert_recovers(out, load_truth("plain"))


@pytest.mark.parametrize("engine", ["builtin", "arrow"])
@pytest.mark.parametrize("stated", [True, False], ids=["stated", "sniffed"])
def test_semicolons_and_decimal_commas_stated_or_sniffed(capsys, tmp_path, engine, stated):
    """The European sample with its dates written as ISO dates (dd.mm.yyyy
    needs --date-format): ';' and ',' stated or sniffed read the same."""
    if engine == "arrow":
        pyarrow_or_skip()
    import re

    text = (SHAPES / "european.csv").read_text()
    source = tmp_path / "eu.csv"
    source.write_text(re.sub(r"(\d\d)\.(\d\d)\.(\d{4})", r"\3-\2-\1", text))
    options = ["--delimiter", ";", "--decimal", ","] if stated else []
    out = tmp_path / "out.csv"
    status, _, err = run(
        capsys,
        source,
        *options,
        "--rate",
        "0.025",
        "--dividend",
        "0.03",
        "--engine",
        engine,
        "-o",
        out,
    )
    assert status == 0, err
    assert_recovers(out, load_truth("european"))
