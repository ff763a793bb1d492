"""The builtin writer: the output table as CSV text through Python's csv
module, numbers as Python's repr (the shortest text that reads back as the
same double).

A field is quoted when it holds a comma, a quote or a line break (LF, or CR
alone, which the csv module leaves bare under an LF line end); the arrow
writer quotes the same fields."""

from __future__ import annotations

import csv
import io
from collections.abc import Callable, Iterable, Iterator, Sequence
from typing import TextIO

import numpy as np

from .chunk import Chunk
from .compute import Result, Sides
from .statuses import STATUSES


def _format(values: np.ndarray) -> list[str]:
    # repr is the shortest text that reads back as the same double.
    return ["" if v != v else repr(v) for v in values.tolist()]


def _quoted(field: str) -> str:
    if any(c in field for c in ',"\r\n'):
        return '"' + field.replace('"', '""') + '"'
    return field


def csv_lines(rows: Callable[[], Iterable[Sequence[str]]]) -> str:
    """The rows (given by a function that yields them) as CSV lines, each
    ending in LF."""
    text = io.StringIO()
    csv.writer(text, lineterminator="\n").writerows(rows())
    lines = text.getvalue()
    if "\r" in lines:  # a field holding a CR alone: quoted here by hand
        lines = "".join(",".join(map(_quoted, row)) + "\n" for row in rows())
    return lines


class TextWriter:
    """CSV text through the csv module, from the records of the builtin
    reader."""

    def __init__(self, out: TextIO, names: list[str], keep: list[int]):
        self.out, self.keep = out, keep
        self.out.write(csv_lines(lambda: [names]))

    def write(self, chunk: Chunk, result: Result | Sides) -> None:
        names = np.array(STATUSES, dtype=object)
        computed = [names[v].tolist() if status else _format(v) for v, status in result.parts()]
        keep = self.keep
        records: list[list[str]] = chunk.rows  # the builtin reader's records

        def rows() -> Iterator[list[str]]:
            return (
                [record[p] for p in keep] + list(values)
                for record, values in zip(records, zip(*computed))
            )

        self.out.write(csv_lines(rows))

    def close(self) -> None:
        pass

    def abort(self) -> None:
        pass
