"""``karvex chain``: implied volatilities and Greeks of an option chain in CSV or Parquet.

The command runs in stages, one module each, and a chunk of the chain goes
through them in one direction:

    read      the readers, peers behind one interface     -> Chunk
              (read_csv: the csv module; read_arrow: CSV and Parquet by Arrow)
    columns   header names to the inputs they hold         -> Columns
    cells     what a cell means: numbers, option types, dates (for every reader)
    dates     expiry and valuation dates to years          -> Times
    prices    the model's inputs of each row                -> Inputs
    parity    forwards from put-call parity (--forward parity)
    compute   volatility, Greeks and a status per row      -> Result
    write     the output table (write_csv, write_arrow), files that appear whole (files)
    summary   progress lines and the closing summary       -> Summary
    plot      what the smile picture needs, and the picture -> PlotData

Below them: options (the run's settings as one object, ChainError, the exit
statuses), chunk (Source, Chunk), arrow (pyarrow, imported only when used),
aliases, statuses, interrupts.  ``driver.run`` strings the stages together
chunk by chunk, so memory stays bounded however large the file is.

Nothing is imported here until it is asked for: the help text needs neither
NumPy nor the stages.
"""

from __future__ import annotations

import importlib
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    from .driver import run
    from .options import ChainError, Exit, Options, PlotUnavailable
    from .plot import PlotData

__all__ = ["ChainError", "Exit", "Options", "PlotData", "PlotUnavailable", "run"]

_WHERE = {
    "run": "driver",
    "ChainError": "options",
    "Exit": "options",
    "Options": "options",
    "PlotUnavailable": "options",
    "PlotData": "plot",
}


def __getattr__(name: str) -> Any:
    if name in _WHERE:
        return getattr(importlib.import_module(f"{__name__}.{_WHERE[name]}"), name)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
