"""Prices and forwards: the model's inputs of every row of a chunk."""

from __future__ import annotations

import dataclasses
import functools
from typing import Callable

import numpy as np

from . import cells
from .columns import Columns
from .dates import expiry_labels, year_fractions
from .read import Chunk


@dataclasses.dataclass
class Inputs:
    """One chunk's options, ready for the core (float64 / int8 arrays)."""

    model: str
    flag: np.ndarray  # 1 call, -1 put
    underlying: np.ndarray  # spot (bsm) or forward (black76)
    strike: np.ndarray
    t: np.ndarray  # years to expiry
    rate: np.ndarray
    dividend: np.ndarray  # bsm: the yield; black76: the rate (no carry)
    price: np.ndarray
    forward: np.ndarray  # the forward to each expiry
    labels_of: Callable[[], np.ndarray] = dataclasses.field(repr=False)

    @functools.cached_property
    def expiry_label(self) -> np.ndarray:
        """The expiry of each row as the plot names it (made only when asked for)."""
        return self.labels_of()


def inputs(source: str, columns: Columns, chunk: Chunk, model: str) -> Inputs:
    pos = columns.positions
    flag = cells.option_types(source, columns, chunk, pos["type"])
    k = cells.numbers(source, columns, chunk, pos["strike"])
    price = cells.numbers(source, columns, chunk, pos["price"])
    t = year_fractions(source, columns, chunk)
    r = cells.value_of(source, columns, chunk, "rate")
    if model == "bsm":
        s = cells.numbers(source, columns, chunk, pos["spot"])
        q = cells.value_of(source, columns, chunk, "dividend")
        with np.errstate(all="ignore"):
            forward = s * np.exp((r - q) * t)
    else:
        s = cells.numbers(source, columns, chunk, pos["forward"])
        q = r
        forward = s
    labels = functools.partial(expiry_labels, columns, chunk, t)
    return Inputs(model, flag, s, k, t, r, q, price, forward, labels)
