import pathlib
import sys

# The helpers of the core's tests (inputs, bit comparison, subprocesses) serve these too.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "bindings"))
