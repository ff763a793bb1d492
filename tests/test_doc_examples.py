"""The examples in README.md and in the public docstrings print what they show.

README.md's ```python blocks with ``>>>`` prompts run in order in one namespace, as a reader
would type them; a block that imports a package that is not installed (pandas in the NumPy 1.x
run) is skipped, and the blocks after it do not depend on it.  Each public docstring's examples
run on their own, with NumPy imported as ``np`` (the numpydoc convention).
"""

import doctest
import importlib.util
import pathlib
import re
import subprocess
import sys

import numpy as np
import pytest

import karvex

README = pathlib.Path(__file__).parents[1] / "README.md"
BLOCK = re.compile(r"^```python\n(.*?)^```", re.DOTALL | re.MULTILINE)
IMPORT = re.compile(r"^>>> (?:import|from) (\w+)", re.MULTILINE)
PUBLIC_MODULES = ("bsm", "black76", "curves", "daycount")


def readme_blocks():
    """(line number, source) of each ```python block with a ``>>>`` prompt."""
    text = README.read_text(encoding="utf-8")
    for match in BLOCK.finditer(text):
        if ">>> " in match.group(1):
            yield text.count("\n", 0, match.start(1)), match.group(1)


def run(tests):
    """Failures of the doctests, as doctest reports them ("" if none)."""
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    report = []
    for test in tests:
        runner.run(test, out=report.append, clear_globs=False)
    return "".join(report)


def readme_failures():
    """The README's doctest failures ("" if none), run in this interpreter."""
    parser = doctest.DocTestParser()
    globs = {"__name__": "README"}
    blocks = list(readme_blocks())
    assert len(blocks) >= 8, "README.md's python examples were not found"
    tests = [
        parser.get_doctest(source, globs, "README.md", str(README), line)
        for line, source in blocks
        if all(importlib.util.find_spec(name) for name in IMPORT.findall(source))
    ]
    for test in tests:
        test.globs = globs  # one namespace: each block sees the names of those before it
    return run(tests)


def test_readme_examples_print_what_they_show():
    # In a fresh interpreter, as a reader starts: the README sets the pool size, which a
    # process whose pool has already started (as this one's may have) refuses.
    done = subprocess.run(
        [sys.executable, __file__], capture_output=True, text=True, timeout=600, check=False
    )
    assert done.returncode == 0, done.stdout + done.stderr


@pytest.mark.parametrize("module", PUBLIC_MODULES)
def test_docstring_examples_print_what_they_show(module):
    namespace = getattr(karvex, module)
    finder = doctest.DocTestFinder()
    tests = finder.find(namespace, f"karvex.{module}", globs={"np": np})
    for name in getattr(namespace, "__all__", ()):
        value = getattr(namespace, name)
        if callable(value) and getattr(value, "__module__", "").startswith("karvex"):
            tests += finder.find(value, f"karvex.{module}.{name}", module=False, globs={"np": np})
    # A module's own functions are found twice (from the module and by name): run them once.
    unique = {(test.filename, test.lineno, test.docstring): test for test in tests if test.examples}
    failures = run(unique.values())
    assert not failures, failures


if __name__ == "__main__":
    failures = readme_failures()
    print(failures, end="")
    sys.exit(1 if failures else 0)
