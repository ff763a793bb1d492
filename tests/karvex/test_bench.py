"""karvex bench: the table and a run end to end."""

import subprocess
import sys

from karvex import _bench


class TestBench:
    def test_table_lists_each_quantity_with_its_speed_up(self):
        lines = _bench.table(
            {
                1: {"price": 2e7, "greeks": 5e6, "iv": 1.5e6},
                2: {"price": 4e7, "greeks": 9e6, "iv": 3e6},
            }
        )
        assert lines[0].split() == ["1", "worker", "2", "workers", "speed-up"]
        assert lines[1].split() == ["price", "20.00", "M/s", "40.00", "M/s", "2.00x"]
        assert lines[3].split() == ["iv", "1.50", "M/s", "3.00", "M/s", "2.00x"]

    def test_bench_runs_end_to_end(self, tmp_path):
        done = subprocess.run(
            [sys.executable, "-m", "karvex", "bench", "--size", "2000", "--seconds", "0"],
            capture_output=True,
            text=True,
            cwd=tmp_path,
        )
        assert done.returncode == 0, done.stderr
        names = [line.split()[0] for line in done.stdout.splitlines()[2:]]
        assert names == ["price", "greeks", "iv"]
