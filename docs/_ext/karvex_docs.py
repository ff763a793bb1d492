"""Sphinx helpers of the karvex manual.

- ``.. karvex-help:: chain`` renders the help text of ``karvex chain`` (or any
  other command) as the command prints it, by running its own parser.
- The functions of ``karvex._core`` carry only argument names at run time; their
  signatures are shown with the types of the package's stub, ``_core.pyi``.
"""

from __future__ import annotations

import ast
import contextlib
import functools
import io
import os
import re
from pathlib import Path
from typing import Any

from docutils import nodes
from docutils.parsers.rst import directives
from sphinx.application import Sphinx
from sphinx.util.docutils import SphinxDirective

import karvex
from karvex.__main__ import main

HELP_WIDTH = 88


def command_help(argv: list[str]) -> str:
    """What ``karvex ARGV --help`` prints, HELP_WIDTH columns wide and without colour."""
    settings = {"COLUMNS": str(HELP_WIDTH), "PYTHON_COLORS": "0", "NO_COLOR": "1"}
    saved = {name: os.environ.get(name) for name in settings}
    os.environ.update(settings)
    out = io.StringIO()
    try:
        with contextlib.redirect_stdout(out), contextlib.suppress(SystemExit):
            main([*argv, "--help"])
    finally:
        for name, value in saved.items():
            if value is None:
                del os.environ[name]
            else:
                os.environ[name] = value
    text = out.getvalue()
    if not text.startswith("usage: karvex"):
        raise RuntimeError(f"karvex {' '.join(argv)} --help printed no help: {text[:200]!r}")
    return text


class KarvexHelp(SphinxDirective):
    """``.. karvex-help:: chain``: the command's ``--help`` text, verbatim."""

    optional_arguments = 1
    option_spec = {"caption": directives.unchanged}

    def run(self) -> list[nodes.Node]:
        argv = self.arguments[0].split() if self.arguments else []
        text = command_help(argv)
        block = nodes.literal_block(text, text, language="text")
        self.env.note_dependency(str(Path(karvex.__file__).parent / "__main__.py"))
        return [block]


@functools.cache
def stub_signatures() -> dict[str, str]:
    """``name -> "(parameters) -> result"`` for each function of ``_core.pyi``."""
    stub = Path(karvex.__file__).parent / "_core.pyi"
    tree = ast.parse(stub.read_text(encoding="utf-8"))
    aliases = {
        node.targets[0].id: ast.unparse(node.value)
        for node in tree.body
        if isinstance(node, ast.Assign) and isinstance(node.targets[0], ast.Name)
    }
    alias = re.compile(r"\b(" + "|".join(map(re.escape, aliases)) + r")\b")
    signatures = {}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            text = f"({ast.unparse(node.args)}) -> {ast.unparse(node.returns)}"
            while alias.search(text):
                text = alias.sub(lambda m: aliases[m.group(1)], text)
            signatures[node.name] = re.sub(r"\bnpt?\.", "", text)
    return signatures


def core_signature(
    app: Sphinx, what: str, name: str, obj: Any, options: Any, signature: str, annotation: str
) -> tuple[str, str] | None:
    module, _, function = name.rpartition(".")
    if what != "function" or module != "karvex._core":
        return None
    signatures = stub_signatures()
    if function not in signatures:
        raise ValueError(f"karvex._core.{function} is not in the stub _core.pyi")
    params, _, result = signatures[function].partition(" -> ")
    return params, result


def setup(app: Sphinx) -> dict[str, Any]:
    app.add_directive("karvex-help", KarvexHelp)
    app.connect("autodoc-process-signature", core_signature)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
