"""karvex chain end to end on the example chain: the summary, the values,
chunking, and `python -m karvex`."""

import io
import subprocess
import sys

import numpy as np
import pytest
from chain_support import ENGINES, EXAMPLE, HEADER, chain, have, read_rows, write_chain

from karvex import black76, bsm


class TestExampleChain:
    def test_summary_counts_each_reason_and_statuses_name_the_faulty_quotes(self, capsys, tmp_path):
        status, out, err = chain(capsys, "-o", tmp_path / "out.csv")
        assert status == 0 and out == ""
        lines = err.splitlines()
        assert lines[0] == "karvex chain: example chain (bsm): 318 rows"
        assert lines[1].split() == ["inverted:", "315"]
        assert (
            lines[2]
            == "  not inverted: 3 (below intrinsic 1, above upper bound 1, invalid inputs 1)"
        )
        assert lines[3] == (
            "  expiry time:  16:00 (no zone: the file's own clock) on expiry dates;"
            " date-only quotes at the close, 16:00"
        )
        assert "options/s" in lines[4]
        bad = {
            r["symbol"]: r["status"] for r in read_rows(tmp_path / "out.csv") if r["status"] != "ok"
        }
        assert bad == {
            "KVX250321P00535000": "below_intrinsic",
            "KVX250516C00580000": "above_upper_bound",
            "KVX250620P00390000": "invalid_input",
        }

    @pytest.mark.parametrize("model", ["bsm", "black76"])
    def test_output_values_are_the_array_api_values(self, capsys, tmp_path, model):
        assert chain(capsys, "--model", model, "-o", tmp_path / "out.csv")[0] == 0
        rows = read_rows(tmp_path / "out.csv")
        assert list(rows[0])[: len(HEADER)] == HEADER
        assert list(rows[0])[len(HEADER) :] == [
            "iv",
            "delta",
            "gamma",
            "vega",
            "theta",
            "rho",
            "status",
        ]

        def col(name):
            return np.array([float(r[name]) if r[name] else np.nan for r in rows])

        t = (
            np.array(
                [
                    (np.datetime64(r["expiry_date"]) - np.datetime64(r["valuation_date"])).astype(
                        float
                    )
                    for r in rows
                ]
            )
            / 365.0
        )
        flag = [r["type"] for r in rows]
        if model == "bsm":
            iv = bsm.iv(
                col("price"), flag, col("spot"), col("strike"), t, col("rate"), col("dividend")
            )
            greeks = bsm.greeks(
                flag, col("spot"), col("strike"), t, col("rate"), col("dividend"), iv
            )
        else:
            iv = black76.iv(col("price"), flag, col("forward"), col("strike"), t, col("rate"))
            greeks = black76.greeks(flag, col("forward"), col("strike"), t, col("rate"), iv)
        # The CSV holds shortest round-trip texts: the same doubles come back.
        assert np.array_equal(col("iv"), iv, equal_nan=True)
        ok = ~np.isnan(iv)
        for name, values in zip(greeks._fields, greeks):
            assert np.array_equal(col(name)[ok], values[ok])
            assert np.isnan(col(name)[~ok]).all()
        assert 0.1 < iv[ok].min() and iv[ok].max() < 0.5  # a realistic smile

    def test_small_chunks_give_the_same_output(self, capsys, tmp_path):
        source = write_chain(tmp_path, EXAMPLE)
        for engine in ENGINES:
            chain(
                capsys,
                source,
                "--engine",
                engine,
                "--chunk-rows",
                7,
                "-o",
                tmp_path / f"{engine}.csv",
            )
            chain(capsys, source, "--engine", engine, "-o", tmp_path / f"{engine}-one.csv")
            assert (tmp_path / f"{engine}.csv").read_bytes() == (
                tmp_path / f"{engine}-one.csv"
            ).read_bytes()

    def test_python_dash_m_prints_the_chain(self, tmp_path):
        done = subprocess.run(
            [sys.executable, "-m", "karvex", "chain"], capture_output=True, text=True, cwd=tmp_path
        )
        assert done.returncode == 0
        assert len(done.stdout.splitlines()) == 319
        assert "318 rows" in done.stderr


@pytest.mark.skipif(have("pyarrow"), reason="pyarrow installed")
def test_without_pyarrow_arrow_and_parquet_say_what_to_install(capsys, tmp_path):
    source = write_chain(tmp_path, EXAMPLE)
    for argv in (["--engine", "arrow"], ["-o", tmp_path / "out.parquet"]):
        status, _, err = chain(capsys, source, *argv)
        assert status == 1 and "needs pyarrow: pip install 'karvex[arrow]'" in err


class TestSmallFilesAndQuiet:
    @pytest.mark.skipif(not have("pyarrow"), reason="pyarrow not installed")
    def test_auto_reads_small_csv_without_pyarrow_and_arrow_never_imports_pandas(self, tmp_path):
        source = write_chain(tmp_path, EXAMPLE)
        script = (
            "import sys\n"
            "from karvex.__main__ import main\n"
            f"main(['chain', {str(source)!r}, '-q', '-o', 'small.csv'])\n"
            "print('pyarrow' in sys.modules)\n"
            f"main(['chain', {str(source)!r}, '-q', '--engine', 'arrow', '-o', 'out.parquet'])\n"
            "main(['chain', 'out.parquet', '-q', '-o', 'out.csv'])\n"
            "print('pandas' in sys.modules)\n"
        )
        done = subprocess.run(
            [sys.executable, "-c", script], capture_output=True, text=True, cwd=tmp_path
        )
        assert done.returncode == 0, done.stderr
        assert done.stdout.split() == ["False", "False"] and done.stderr == ""

    def test_quiet_prints_warnings_alone_and_no_progress(self, capsys, tmp_path, monkeypatch):
        from karvex._chain.summary import Progress

        monkeypatch.setattr(Progress, "DELAY", 0.0)
        source = write_chain(tmp_path, EXAMPLE.replace(",0.043,", ",4.3,"))
        status, _, err = chain(
            capsys,
            source,
            "-q",
            "--rate-unit",
            "decimal",
            "--chunk-rows",
            "10",
            "-o",
            tmp_path / "o.csv",
        )
        assert status == 0
        assert err.startswith(
            "karvex: warning: rate outside [-0.05, 1]: percent meant? 0.043 is 4.3 % (318 rows)\n"
        )
        assert all(line.startswith("karvex: warning: ") for line in err.splitlines())
        for quiet in (True, False):
            stream = io.StringIO()
            progress = Progress(None, stream, quiet)
            progress.every = 0.0
            progress.update(10, None)
            assert (stream.getvalue() == "") == quiet


class TestHelp:
    def test_help_loads_no_numpy(self):
        script = (
            "import sys\n"
            "from karvex.__main__ import main\n"
            "try:\n    main(['chain', '--help'])\nexcept SystemExit:\n    pass\n"
            "print('numpy' in sys.modules, file=sys.stderr)\n"
        )
        done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
        assert "--forward" in done.stdout and done.stderr == "False\n"

    def test_ctrl_c_while_the_help_is_made_is_an_interruption(self, capsys, monkeypatch):
        import karvex.__main__ as command

        def interrupted():
            raise KeyboardInterrupt

        monkeypatch.setattr(command, "chain_help", interrupted)
        assert command.main(["chain", "--help"]) == 130
        assert capsys.readouterr().err == "karvex: interrupted\n"
