"""What the user asked for, and the one error type for the user's mistakes."""

from __future__ import annotations

import dataclasses

CHUNK_ROWS = 100_000


class ChainError(Exception):
    """A mistake in the user's input or options: reported in one line."""


@dataclasses.dataclass
class Options:
    model: str = "bsm"
    valuation_date: str | None = None
    rate: float | None = None
    dividend: float | None = None
    chunk_rows: int = CHUNK_ROWS
    output_format: str | None = None  # csv or parquet; None: by the output's extension
    expiry_time: str = "16:00"  # the time of day options expire on their expiry date
    price_column: str | None = None  # the header name of the price, e.g. last or mark
    forward: str = "model"  # model: from the spot (bsm) or the forward column; parity: from quotes
    intrinsic_tolerance: float = 0.0  # price units a quote may sit below intrinsic and read as iv 0
