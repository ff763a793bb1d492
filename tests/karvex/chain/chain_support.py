"""Helpers of the karvex chain tests: the example chain, running the
command, and editing a chain's text."""

import csv
import importlib.util
import os
from importlib import resources

from karvex.__main__ import main

EXAMPLE = resources.files("karvex").joinpath("data", "example_chain.csv").read_text()
HEADER = EXAMPLE.splitlines()[0].split(",")


def have(module):
    return importlib.util.find_spec(module) is not None


ENGINES = ["builtin"] + (["arrow"] if have("pyarrow") else [])


def read_rows(path):
    with open(path, newline="") as fh:
        return list(csv.DictReader(fh))


def chain(capsys, *argv):
    """Run `karvex chain ...`; returns (exit status, stdout, stderr)."""
    status = main(["chain", *map(str, argv)])
    out, err = capsys.readouterr()
    return status, out, err


def write_chain(tmp_path, text, name="chain.csv"):
    path = tmp_path / name
    path.write_text(text)
    return path


def edit_cell(text, line, column, value):
    """The CSV text with one cell (1-based line, column name) replaced."""
    lines = text.splitlines()
    cells = lines[line - 1].split(",")
    cells[HEADER.index(column)] = value
    lines[line - 1] = ",".join(cells)
    return "\n".join(lines) + "\n"


def assert_one_line_error(capsys, tmp_path, text, message, engine):
    """The chain `text` fails with exit status 1, one line on standard error
    that names the file and says `message`, and no output file."""
    source = write_chain(tmp_path, text)
    out = tmp_path / "out.csv"
    status, stdout, err = chain(capsys, source, "--engine", engine, "-o", out)
    assert status == 1
    assert err.startswith(f"karvex: error: {source}") and message in err
    assert err.count("\n") == 1 and "Traceback" not in err
    assert sorted(os.listdir(tmp_path)) == ["chain.csv"]
