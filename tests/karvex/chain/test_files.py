"""Output files: written whole or not at all, to what the path names."""

import os
import signal
import stat
import subprocess
import sys
import threading
import time

import pytest
from chain_support import ENGINES, EXAMPLE, chain, edit_cell, have, read_rows, write_chain

KARVEX = [sys.executable, "-m", "karvex", "chain"]


class EndlessChain:
    """A chain command reading the example's rows from standard input over
    and over, from a thread that stops only when the test is done: the run
    is still reading (and computing) whenever the test signals it."""

    def __init__(self, *args, **popen):
        self.process = subprocess.Popen(
            KARVEX + ["-", *map(str, args)], stdin=subprocess.PIPE, **popen
        )
        self.stop = threading.Event()
        self.feeder = threading.Thread(target=self._feed)
        self.feeder.start()

    def _feed(self):
        lines = EXAMPLE.splitlines(keepends=True)
        rows = "".join(lines[1:]).encode()
        try:
            self.process.stdin.write(lines[0].encode())
            while not self.stop.is_set():
                self.process.stdin.write(rows)
        except (BrokenPipeError, ValueError):
            pass  # the run has ended

    def __enter__(self):
        return self.process

    def __exit__(self, *exc):
        self.stop.set()
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.feeder.join()
        try:
            self.process.stdin.close()
        except BrokenPipeError:
            pass


def wait_for_output(process, folder, timeout=60.0):
    """Wait until the child has a file of ``folder`` open for its output."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        assert process.poll() is None, "the run ended before it was signalled"
        for fd in os.listdir(f"/proc/{process.pid}/fd"):
            try:
                target = os.readlink(f"/proc/{process.pid}/fd/{fd}")
            except OSError:
                continue
            if target.startswith(str(folder)):
                return
        time.sleep(0.01)
    pytest.fail("the run never opened its output")


def device_like_dev_full(tmp_path):
    """A character device that fails every write with ENOSPC: a node of
    /dev/full's device in tmp_path as root (so that a fault can never
    replace the real one), /dev/full itself otherwise."""
    if os.geteuid() != 0:
        return "/dev/full"
    path = tmp_path / "full"
    try:
        os.mknod(path, 0o666 | stat.S_IFCHR, os.stat("/dev/full").st_rdev)
        open(path, "w").close()
    except OSError:
        pytest.skip("cannot make a device node here")
    return path


class TestOutputFile:
    def test_late_error_leaves_an_older_output_untouched(self, capsys, tmp_path):
        source = write_chain(tmp_path, edit_cell(EXAMPLE, 300, "strike", "abc"))
        out = tmp_path / "out.csv"
        out.write_text("previous result\n")
        for engine in ENGINES:
            status, _, err = chain(
                capsys, source, "--engine", engine, "--chunk-rows", 50, "-o", out
            )
            assert status == 1 and "line 300, column 3 (strike)" in err
            assert out.read_text() == "previous result\n"
            assert sorted(os.listdir(tmp_path)) == ["chain.csv", "out.csv"]

    def test_unwritable_output_names_the_path_given(self, capsys, tmp_path):
        status, _, err = chain(capsys, "-o", tmp_path / "no" / "dir.csv")
        assert (status, err) == (
            1,
            f"karvex: error: {tmp_path / 'no' / 'dir.csv'}: No such file or directory\n",
        )
        status, _, err = chain(capsys, "-o", tmp_path)
        assert (status, err) == (1, f"karvex: error: {tmp_path}: Is a directory\n")
        assert os.listdir(tmp_path) == []

    @pytest.mark.skipif(os.geteuid() == 0, reason="root may write any file")
    def test_read_only_file_is_refused_not_replaced(self, capsys, tmp_path):
        out = tmp_path / "out.csv"
        out.write_text("previous result\n")
        out.chmod(0o444)
        status, _, err = chain(capsys, "-o", out)
        assert (status, err) == (1, f"karvex: error: {out}: Permission denied\n")
        assert out.read_text() == "previous result\n"


class TestWhatThePathNames:
    def test_symlink_is_followed_and_kept(self, capsys, tmp_path):
        (tmp_path / "real").mkdir()
        target = tmp_path / "real" / "result.csv"
        target.write_text("previous result\n")
        link = tmp_path / "link.csv"
        link.symlink_to(os.path.join("real", "result.csv"))
        dangling = tmp_path / "dangling.csv"
        dangling.symlink_to(os.path.join("real", "new.csv"))
        assert chain(capsys, "-o", link)[0] == 0
        assert chain(capsys, "-o", dangling)[0] == 0
        assert link.is_symlink() and dangling.is_symlink()
        assert len(read_rows(target)) == len(read_rows(tmp_path / "real" / "new.csv")) == 318

    def test_fifo_is_written_in_place_as_a_stream(self, capsys, tmp_path):
        fifo = tmp_path / "fifo"
        os.mkfifo(fifo)
        received = []
        reader = threading.Thread(target=lambda: received.append(fifo.read_bytes()), daemon=True)
        reader.start()
        status, _, _ = chain(capsys, "-o", fifo)
        reader.join(timeout=30)
        assert status == 0 and stat.S_ISFIFO(os.lstat(fifo).st_mode)
        assert received and received[0].count(b"\n") == 319

    def test_device_write_errors_are_reported(self, capsys, tmp_path):
        device = device_like_dev_full(tmp_path)
        status, _, err = chain(capsys, "-o", device)
        assert (status, err) == (1, f"karvex: error: {device}: No space left on device\n")
        assert stat.S_ISCHR(os.stat(device).st_mode)

    def test_own_descriptor_is_written_through_with_its_append_mode(self, tmp_path):
        out = tmp_path / "out.csv"
        out.write_text("kept\n")
        with open(out, "ab") as stdout:
            done = subprocess.run(
                KARVEX + ["-o", "/proc/self/fd/1"],
                stdout=stdout,
                stderr=subprocess.PIPE,
                text=True,
                cwd=tmp_path,
            )
        assert done.returncode == 0, done.stderr
        lines = out.read_text().splitlines()
        assert lines[0] == "kept" and len(lines) == 320
        assert os.listdir(tmp_path) == ["out.csv"]

    def test_replaced_file_keeps_its_permission_bits_and_owner(self, capsys, tmp_path):
        out = tmp_path / "out.csv"
        out.write_text("previous result\n")
        out.chmod(0o640)
        owner = (os.getuid(), os.getgid())
        if os.geteuid() == 0:
            owner = (12345, 23456)
            os.chown(out, *owner)
        assert chain(capsys, "-o", out)[0] == 0
        info = os.stat(out)
        assert stat.S_IMODE(info.st_mode) == 0o640 and (info.st_uid, info.st_gid) == owner
        assert len(read_rows(out)) == 318

    def test_new_file_gets_the_permissions_of_the_umask(self, capsys, tmp_path):
        umask = os.umask(0o027)
        try:
            assert chain(capsys, "-o", tmp_path / "out.csv")[0] == 0
        finally:
            os.umask(umask)
        assert stat.S_IMODE(os.stat(tmp_path / "out.csv").st_mode) == 0o640


class TestAllOrNothing:
    @pytest.mark.skipif(not have("matplotlib"), reason="matplotlib not installed")
    @pytest.mark.parametrize("plot", ["nodir/smile.png", "folder"])
    def test_failed_plot_changes_no_file(self, capsys, tmp_path, plot):
        (tmp_path / "folder").mkdir()
        keep = tmp_path / "keep.csv"
        keep.write_text("previous result\n")
        status, _, err = chain(capsys, "-o", keep, "--plot", tmp_path / plot)
        assert status == 1 and err.startswith(f"karvex: error: {tmp_path / plot}: ")
        assert keep.read_text() == "previous result\n"
        assert sorted(os.listdir(tmp_path)) == ["folder", "keep.csv"]

    @pytest.mark.parametrize(
        "signum,status,message",
        [(signal.SIGTERM, 143, "terminated"), (signal.SIGINT, 130, "interrupted")],
    )
    def test_signal_leaves_no_trace(self, tmp_path, signum, status, message):
        out = tmp_path / "out.csv"
        out.write_text("previous result\n")
        # The command keeps SIGINT ignored when it starts so (as in a background job without job
        # control); the user pressing Ctrl-C has it at its default.
        with EndlessChain(
            "-o",
            out,
            stderr=subprocess.PIPE,
            preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
        ) as process:
            wait_for_output(process, tmp_path)
            process.send_signal(signum)
            # (communicate closes the input: a run that lost the signal ends, and fails below)
            _, err = process.communicate(timeout=60)
        assert (process.returncode, err.decode()) == (status, f"karvex: {message}\n")
        assert out.read_text() == "previous result\n"
        assert os.listdir(tmp_path) == ["out.csv"]

    @pytest.mark.parametrize("signum", [signal.SIGINT, signal.SIGTERM])
    def test_a_signal_whose_exception_was_dropped_still_stops_the_run(
        self, tmp_path, monkeypatch, signum
    ):
        # As when the handler raised inside a weakref callback, where the exception is dropped.
        from karvex._chain import Options, interrupts, run

        out = tmp_path / "out.csv"
        out.write_text("previous result\n")
        monkeypatch.setattr(interrupts, "received", signum)
        with pytest.raises(KeyboardInterrupt if signum == signal.SIGINT else interrupts.Terminated):
            run(Options(output=str(out)))
        assert out.read_text() == "previous result\n"
        assert os.listdir(tmp_path) == ["out.csv"]

    def test_sigkill_leaves_no_visible_temporary_file(self, tmp_path):
        try:
            os.close(os.open(tmp_path, os.O_TMPFILE | os.O_WRONLY))
        except OSError:
            pytest.skip("no unnamed temporary files on this file system")
        with EndlessChain("-o", tmp_path / "out.csv", stderr=subprocess.DEVNULL) as process:
            wait_for_output(process, tmp_path)
            process.kill()
            process.wait()
        assert os.listdir(tmp_path) == []


class TestAttackFaults:
    """Faults an attack on the output files found."""

    @pytest.mark.skipif(not have("matplotlib"), reason="matplotlib not installed")
    def test_table_and_plot_on_one_file_are_refused_up_front(self, capsys, tmp_path):
        out = tmp_path / "out.png"
        (tmp_path / "link.png").symlink_to(out)
        out.write_text("older\n")
        for plot in (out, tmp_path / "link.png"):
            status, _, err = chain(capsys, "-o", out, "--plot", plot)
            assert (
                status == 1 and err == f"karvex: error: -o and --plot name the same file: {plot}\n"
            )
        assert out.read_text() == "older\n"

    def test_longest_names_are_replaced_too(self, capsys, tmp_path):
        for length in (241, 255):
            out = tmp_path / ("x" * (length - 4) + ".csv")
            out.write_text("older\n")
            status, _, err = chain(capsys, "-o", out)
            assert status == 0, err
            assert out.read_text().startswith("symbol,")
        assert all(not name.startswith(".") for name in os.listdir(tmp_path))

    def test_read_only_file_system_is_named_as_such(self, capsys, tmp_path, monkeypatch):
        out = tmp_path / "out.csv"
        out.write_text("older\n")
        real = os.statvfs

        class ReadOnly:
            f_flag = os.ST_RDONLY

        monkeypatch.setattr(os, "access", lambda *a, **k: False)
        monkeypatch.setattr(os, "statvfs", lambda p: ReadOnly() if str(p) == str(out) else real(p))
        status, _, err = chain(capsys, "-o", out)
        assert status == 1 and err == f"karvex: error: {out}: Read-only file system\n"

    def test_a_signal_after_the_output_is_replaced_changes_nothing(self, tmp_path):
        out = tmp_path / "out.csv"
        script = (
            "import os, signal, sys\n"
            "from karvex.__main__ import main\n"
            f"sys.argv = ['karvex', 'chain', '-q', '-o', {str(out)!r}]\n"
            "status = main()\n"
            "os.kill(os.getpid(), signal.SIGINT)\n"  # as a Ctrl-C during the interpreter's exit
            "os.kill(os.getpid(), signal.SIGTERM)\n"
            "sys.exit(status)\n"
        )
        done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
        assert (done.returncode, done.stderr) == (0, "")
        assert out.read_text().startswith("symbol,")
