"""``karvex chain``: implied volatilities and Greeks of an option chain in CSV or Parquet.

The command runs in stages, one module each, with the data handed from one to
the next spelled out as small dataclasses:

    read      the file, as chunks of raw text cells           -> Chunk
              (arrow_read: CSV or Parquet as Arrow columns    -> ArrowChunk)
    columns   header names to the inputs they hold             -> Columns
    cells     text cells to float64 / int8 arrays (shared by the stages below)
    dates     expiry dates and valuation dates to years        -> t, labels
    prices    the model's inputs of each row                   -> Inputs
    compute   volatility, Greeks and a status per row          -> Result
    write     the output table, and files that appear whole
              (arrow_write: CSV or Parquet through Arrow)
    summary   progress lines and the closing summary           -> Summary
    plot      what the smile picture needs, and the picture    -> PlotData

``driver.run`` strings them together chunk by chunk, so memory stays bounded
however large the file is.
"""

from .driver import run
from .options import ChainError, Options
from .plot import PlotData, PlotUnavailable

__all__ = ["ChainError", "Options", "PlotData", "PlotUnavailable", "run"]
