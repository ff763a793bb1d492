"""karvex chain --model normal: a rates chain with negative forwards and strikes gives the values
of karvex.normal, with the statuses of its inversion."""

import numpy as np
import pytest
from chain_support import chain, read_rows, write_chain

from karvex import normal


def rates_chain(tmp_path):
    """Caps and floors on a forward of -0.3% and +0.5%, strikes from -1% to 1.5%, priced at 60
    basis points of normal volatility; one quote below intrinsic value, one with a negative
    price."""
    rows = []
    for f in (-0.003, 0.005):
        for k in np.linspace(-0.01, 0.015, 11).tolist():
            for kind in ("C", "P"):
                price = normal.price(kind, f, k, 1.5, 0.02, 0.006)
                rows.append((kind, k, f, price))
    rows.append(("C", -0.01, 0.005, 0.001))  # below intrinsic (0.015 discounted)
    rows.append(("P", 0.0, 0.005, -0.001))
    text = "type,strike,expiry,price,forward\n" + "".join(
        f"{kind},{k!r},1.5,{price!r},{f!r}\n" for kind, k, f, price in rows
    )
    return write_chain(tmp_path, text), rows


def test_the_chain_gives_karvex_normal_values_and_its_statuses(capsys, tmp_path):
    source, rows = rates_chain(tmp_path)
    status, _, err = chain(
        capsys, source, "--model", "normal", "--rate", 0.02, "-o", tmp_path / "out.csv"
    )
    assert status == 0, err
    out = read_rows(tmp_path / "out.csv")
    kind = [r[0] for r in rows]
    k, f, price = (np.array([r[i] for r in rows]) for i in (1, 2, 3))
    iv = normal.iv(price, kind, f, k, 1.5, 0.02)
    got = np.array([float(r["iv"]) if r["iv"] else np.nan for r in out])
    assert np.array_equal(got, iv, equal_nan=True)
    assert np.allclose(got[:-2], 0.006, rtol=1e-12)
    greeks = normal.greeks(kind, f, k, 1.5, 0.02, iv)
    for name, values in zip(greeks._fields, greeks):
        col = np.array([float(r[name]) if r[name] else np.nan for r in out])
        assert np.array_equal(col, values, equal_nan=True)
    assert [r["status"] for r in out[-2:]] == ["below_intrinsic", "invalid_input"]
    assert "(normal)" in err


@pytest.mark.parametrize(
    "option", [["--forward", "parity"], ["--second-order"], ["--plot", "smile.png"]]
)
def test_options_of_the_lognormal_models_are_refused_under_the_normal_model(
    capsys, tmp_path, option
):
    source, _ = rates_chain(tmp_path)
    status, out, err = chain(capsys, source, "--model", "normal", *option, "-o", tmp_path / "o")
    assert status == 1 and out == ""
    assert option[0] in err and err.count("\n") == 1
