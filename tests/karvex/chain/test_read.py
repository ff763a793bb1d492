"""Reading the chain: both readers, the file forms they accept, and the
faults they report."""

import csv
import io

import numpy as np
import pytest
from chain_support import (
    ENGINES,
    EXAMPLE,
    assert_one_line_error,
    chain,
    edit_cell,
    read_rows,
    write_chain,
)


class TestReaders:
    def test_readers_and_file_forms_agree(self, capsys, tmp_path):
        # The example in years instead of dates, through each reader, with
        # constants given as options: all the same output.
        reference = tmp_path / "reference.csv"
        chain(capsys, "-o", reference)
        rows = list(csv.reader(io.StringIO(EXAMPLE)))
        years = [["expiry"] + rows[0][:3] + rows[0][5:8]]
        for r in rows[1:]:
            days = (np.datetime64(r[3]) - np.datetime64(r[4])).astype(float)
            years.append([repr(float(days) / 365.0)] + r[:3] + r[5:8])
        text = "\n".join(",".join(r) for r in years) + "\n"
        source = write_chain(tmp_path, text, "years.csv")
        want = {r["symbol"]: r["iv"] for r in read_rows(reference)}
        for engine in ENGINES:
            out = tmp_path / f"{engine}.csv"
            status, _, _ = chain(
                capsys,
                source,
                "--engine",
                engine,
                "--rate",
                "0.043",
                "--dividend",
                "0.013",
                "-o",
                out,
            )
            assert status == 0
            assert {r["symbol"]: r["iv"] for r in read_rows(out)} == want
        # --engine pandas, the name of an engine that wrote what the builtin
        # one writes, is that engine.
        dated = write_chain(tmp_path, EXAMPLE, "dated.csv")
        for engine in ("builtin", "pandas"):
            chain(capsys, dated, "--engine", engine, "-o", tmp_path / f"dated-{engine}.csv")
        assert (tmp_path / "dated-pandas.csv").read_bytes() == (
            tmp_path / "dated-builtin.csv"
        ).read_bytes()
        assert (tmp_path / "dated-builtin.csv").read_bytes() == reference.read_bytes()


# A corpus of malformed and unusual files, as bytes.
_LINES = EXAMPLE.splitlines()
HEAD, ROWS = _LINES[0], _LINES[1:]
BIG = "x" * 140_000


def lines_of(*rows, end="\n"):
    return (end.join(rows) + end).encode()


def with_row(i, row):
    """The example with data row i (line i + 2) replaced."""
    rows = list(ROWS)
    rows[i] = row
    return lines_of(HEAD, *rows)


CORPUS = {
    "first-row-extra-field": with_row(0, ROWS[0] + ",9"),
    "later-row-extra-field": with_row(28, ROWS[28] + ",9"),
    "last-row-extra-field-no-newline": lines_of(HEAD, *ROWS[:-1], ROWS[-1] + ",9")[:-1],
    "short-row": with_row(10, ",".join(ROWS[10].split(",")[:5])),
    "trailing-comma-on-data-rows": lines_of(HEAD, *(r + "," for r in ROWS)),
    "trailing-comma-on-every-row": lines_of(HEAD + ",", *(r + "," for r in ROWS)),
    "unnamed-row-id-column": lines_of("," + HEAD, *(f"{i},{r}" for i, r in enumerate(ROWS))),
    "unterminated-quote": with_row(40, ROWS[40].replace(",", ',"', 1)),
    "unterminated-quote-last-row": lines_of(HEAD, *ROWS[:-1], ROWS[-1].replace(",", ',"', 1)),
    "cr-line-ends": lines_of(HEAD, *ROWS, end="\r"),
    "crlf-line-ends": lines_of(HEAD, *ROWS, end="\r\n"),
    "quoted-multi-line-field": with_row(5, '"KVX\nmulti' + ROWS[5][3:].replace(",", '",', 1)),
    "bad-cell-after-multi-line-field": lines_of(
        HEAD,
        *ROWS[:5],
        '"KVX\n\nmulti' + ROWS[5][3:].replace(",", '",', 1),
        *ROWS[6:40],
        ROWS[40].replace("C", "X", 1).replace("P", "X", 1),
        *ROWS[41:],
    ),
    "whitespace-only-lines": lines_of(HEAD, *ROWS[:3], "   ", "\t", *ROWS[3:9], " \t ", *ROWS[9:]),
    "commas-only-line": lines_of(HEAD, *ROWS[:3], ",,,,,,,,,", " , ,", *ROWS[3:]),
    "blank-lines-at-end": lines_of(HEAD, *ROWS, "", "", ""),
    "non-utf8-in-data-row": with_row(20, ROWS[20]).replace(
        ROWS[20][:5].encode(), b"\xff\xfe" + ROWS[20][2:5].encode(), 1
    ),
    "non-utf8-in-header": lines_of(HEAD, *ROWS).replace(b"symbol", b"symb\xe9l", 1),
    "field-over-131072-characters": with_row(7, BIG + ROWS[7][ROWS[7].index(",") :]),
    "number-over-131072-characters": with_row(
        7, ",".join(ROWS[7].split(",")[:2] + ["1" * 140_000] + ROWS[7].split(",")[3:])
    ),
    "byte-order-mark": b"\xef\xbb\xbf" + lines_of(HEAD, *ROWS),
    "header-only": lines_of(HEAD),
    "empty": b"",
    "blank-lines-only": b"\n\n\n",
    "blank-line-before-header": lines_of("", HEAD, *ROWS),
    "quoted-numbers": with_row(3, ",".join(f'"{c}"' for c in ROWS[3].split(","))),
    "text-after-closing-quote": with_row(3, '"KVX"' + ROWS[3][3:]),
    "quote-inside-unquoted-field": with_row(3, 'K"VX' + ROWS[3][3:]),
    "spaces-around-fields": with_row(3, ",".join(f" {c} " for c in ROWS[3].split(","))),
    "nul-byte": with_row(3, ROWS[3].replace(",", ",\0", 1)),
    # Of two faults, the earlier is reported: a bad cell, then a quote left open.
    "bad-cell-then-unterminated-quote": lines_of(
        HEAD,
        *ROWS[:9],
        ",".join(c if i != 1 else "X" for i, c in enumerate(ROWS[9].split(","))),
        *ROWS[10:-1],
        ROWS[-1].replace(",", ',"', 1),
    ),
}


COMPUTED = ("iv", "delta", "gamma", "vega", "theta", "rho")


def values_of(output: bytes):
    """An output table with its computed numbers as doubles (the arrow
    engine spells some numbers otherwise, e.g. 2500 for 2500.0)."""
    limit = csv.field_size_limit(1 << 30)
    try:
        rows = list(csv.reader(io.StringIO(output.decode("utf-8", "surrogateescape"), newline="")))
    finally:
        csv.field_size_limit(limit)
    computed = [name in COMPUTED for name in rows[0]]
    return rows[0], [
        [(float(v) if v else None) if c else v for v, c in zip(r, computed)] for r in rows[1:]
    ]


class TestReadersAgree:
    @pytest.mark.parametrize("name", list(CORPUS))
    def test_same_output_or_same_one_line_error(self, capsys, tmp_path, name):
        source = tmp_path / "chain.csv"
        source.write_bytes(CORPUS[name])
        runs = {}
        for engine in ENGINES:
            out = tmp_path / f"{engine}.out"
            status, stdout, err = chain(capsys, source, "--engine", engine, "-q", "-o", out)
            runs[engine] = (status, out.read_bytes() if out.exists() else None, err)
        status, output, err = runs["builtin"]
        if status == 0:
            assert err == "" and output.count(b"\n") > (name != "header-only")
        else:
            # One line naming the file (and the line where there is one), no output.
            assert status == 1 and output is None and err.count("\n") == 1
            assert err.startswith(f"karvex: error: {source}") and "Traceback" not in err
            assert ", line " in err or "empty file" in err
        for engine, (other_status, other_output, other_err) in runs.items():
            assert (other_status, other_err) == (status, err), engine
            if engine == "arrow" and output is not None:
                assert values_of(other_output) == values_of(output)
            else:
                assert other_output == output, engine


class TestMalformedFiles:
    @pytest.mark.parametrize(
        "text,message",
        [
            ("", "empty file"),
            (
                edit_cell(EXAMPLE, 30, "dividend", "0.013,9"),
                "line 30: expected 10 fields, found 11",
            ),
        ],
        ids=["empty", "extra-field"],
    )
    @pytest.mark.parametrize("engine", ENGINES)
    def test_one_line_error_and_no_output(self, capsys, tmp_path, text, message, engine):
        assert_one_line_error(capsys, tmp_path, text, message, engine)

    def test_missing_file(self, capsys, tmp_path):
        status, _, err = chain(capsys, tmp_path / "nowhere.csv")
        assert status == 1 and "nowhere.csv: cannot read" in err


class TestDialectSniffing:
    """The delimiter from the header, the decimal comma from the first lines."""

    @pytest.mark.parametrize(
        "header, delimiter",
        [
            ("type;strike;bid;ask", ";"),
            ("type\tstrike\tbid", "\t"),
            ("type|strike|bid", "|"),
            ('type,strike,"a;b;c;d"', ","),  # delimiters inside a quoted name do not count
            ("type", ","),
        ],
    )
    def test_delimiter_is_the_most_frequent_outside_quotes(self, header, delimiter):
        from karvex._chain.read_csv import sniff_delimiter

        assert sniff_delimiter(header) == delimiter

    @pytest.mark.parametrize(
        "data, delimiter, decimal",
        [
            (b"C;5100;404,9;425,5\n", ";", ","),
            (b"14.03.2025;C;5100;404.9\n", ";", "."),  # dates with points are no decimals
            (b'C,5100,"404,9"\n', ",", "."),  # a comma delimiter leaves no room to sniff
            (b"C;KVX,A;5100\n", ";", "."),  # a comma in text is no decimal
        ],
    )
    def test_decimal_comma_only_in_numbers_and_only_off_comma_files(self, data, delimiter, decimal):
        from karvex._chain.read_csv import sniff_decimal

        assert sniff_decimal(data, delimiter) == decimal
