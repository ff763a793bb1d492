"""The smile plot."""

import pytest

from chain_support import chain, have


class TestPlot:
    @pytest.mark.skipif(not have("matplotlib"), reason="matplotlib not installed")
    def test_plot_writes_a_png(self, capsys, tmp_path):
        status, _, err = chain(capsys, "-o", tmp_path / "out.csv", "--plot", tmp_path / "smile.png")
        assert status == 0 and "(7 expiries)" in err
        assert (tmp_path / "smile.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
