"""The computation's own rules: quotes a little below intrinsic value under
--intrinsic-tolerance."""

import numpy as np
import pytest
from chain_support import chain, read_rows, write_chain

from karvex import black76, bsm


@pytest.mark.parametrize("model", ["bsm", "black76"])
def test_quotes_within_the_tolerance_below_intrinsic_give_iv_zero_with_their_own_status(
    capsys, tmp_path, model
):
    s, t, r = 100.0, 0.25, 0.05
    # A deep in-the-money call: its discounted intrinsic value on a spot or a forward.
    intrinsic = (
        float(s - 60.0 * np.exp(-r * t)) if model == "bsm" else float((s - 60.0) * np.exp(-r * t))
    )
    rows = [("C", 60, intrinsic - 0.01), ("C", 60, intrinsic - 0.03), ("C", 100, 4.0)]
    text = "type,strike,expiry,price,spot,forward\n" + "".join(
        f"{k},{K},{t},{p!r},{s},{s}\n" for k, K, p in rows
    )
    source = write_chain(tmp_path, text)
    kernels = bsm if model == "bsm" else black76
    args = (s, 60.0, t, r, 0.0) if model == "bsm" else (s, 60.0, t, r)

    status, _, err = chain(
        capsys, source, "--model", model, "--rate", r, "-o", tmp_path / "plain.csv"
    )
    assert [row["status"] for row in read_rows(tmp_path / "plain.csv")][:2] == [
        "below_intrinsic"
    ] * 2

    status, _, err = chain(
        capsys,
        source,
        "--model",
        model,
        "--rate",
        r,
        "--intrinsic-tolerance",
        "0.02",
        "-o",
        tmp_path / "out.csv",
    )
    assert status == 0
    out = read_rows(tmp_path / "out.csv")
    assert [row["status"] for row in out] == ["near_intrinsic", "below_intrinsic", "ok"]
    assert float(out[0]["iv"]) == 0.0 and out[1]["iv"] == ""
    # The Greeks of a volatility of zero, as the core gives them.
    assert float(out[0]["delta"]) == kernels.delta("C", *args, 0.0)
    assert float(out[2]["iv"]) == kernels.iv(4.0, "C", s, 100.0, *args[2:])  # the others untouched
    assert "(of which 1 within --intrinsic-tolerance below intrinsic value: iv 0)" in err


@pytest.mark.parametrize("value", ["-0.01", "nan", "inf", "x"])
def test_tolerance_must_be_a_finite_price_of_zero_or_more(capsys, value):
    with pytest.raises(SystemExit) as exit:
        chain(capsys, "--intrinsic-tolerance", value)
    assert exit.value.code == 2 and "--intrinsic-tolerance" in capsys.readouterr().err
