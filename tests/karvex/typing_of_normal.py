"""What type checkers infer for calls of karvex.normal and of shift= on karvex.black76: checked by
`mypy --strict` and pyright in tools/run-tests (not a pytest module; running it also works)."""

from __future__ import annotations

import numpy as np
import numpy.typing as npt
import pandas as pd
from typing_extensions import assert_type

from karvex import black76, normal
from karvex.bsm import Greeks

F64 = npt.NDArray[np.float64]
k = np.array([-0.01, 0.0, 0.01])
strikes = pd.Series([-0.01, 0.0, 0.01])

assert_type(normal.price("c", -0.005, 0.0, 0.5, 0.03, 0.01), float)
assert_type(normal.price("c", -0.005, k, 0.5, 0.03, 0.01), F64)
assert_type(normal.price("p", -0.005, strikes, 0.5, 0.03, 0.01), "pd.Series[float]")
assert_type(normal.gamma(-0.005, k, 0.5, 0.03, 0.01), F64)
assert_type(normal.greeks("p", -0.005, 0.0, 0.5, 0.03, 0.01), Greeks[float])
assert_type(normal.greeks("p", -0.005, k, 0.5, 0.03, 0.01), Greeks[F64])
assert_type(normal.iv(0.002, "c", -0.005, 0.0, 0.5, 0.03), float)
assert_type(normal.iv_status(k, "c", -0.005, k, 0.5, 0.03), npt.NDArray[np.str_])
assert_type(black76.price("c", -0.005, 0.0, 0.5, 0.03, 0.2, shift=0.02), float)
assert_type(black76.iv(k, "c", -0.005, 0.0, 0.5, 0.03, shift=0.02), F64)
