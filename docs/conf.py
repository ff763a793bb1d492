"""Sphinx configuration of the karvex reference manual.

Build it from the repository's root, with karvex installed (the core is imported
to read its docstrings and signatures):

    pip install -r docs/requirements.txt
    python -m sphinx -W --keep-going -E -b html docs build/docs

-E reads every page again: Sphinx does not see a changed docstring, and a page
it does not read again repeats none of its warnings.

The API pages come from the docstrings (numpydoc style, read by napoleon); the
user guide pages include sections of README.md, so that text lives in one place.
"""

from __future__ import annotations

import sys
from pathlib import Path

import karvex

sys.path.insert(0, str(Path(__file__).parent / "_ext"))

project = "karvex"
copyright = "the karvex developers"
release = karvex.__version__
version = ".".join(release.split(".")[:2])

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.napoleon",
    "myst_parser",
    "karvex_docs",
]

# The docstrings are numpydoc style only: a Google-style reading would take a
# line such as "Returns:" in prose for a section.
napoleon_google_docstring = False
napoleon_numpy_docstring = True
napoleon_use_rtype = False
# An Attributes section as a field list: as directives it would describe the
# fields of a named tuple a second time, beside autodoc's own.
napoleon_use_ivar = True

# Types are in the docstrings' Parameters and Returns.  Signatures without
# annotations also show an overloaded function once, by its implementation,
# rather than once per overload with the long unions of the array types.
autodoc_typehints = "none"
autodoc_member_order = "bysource"
autodoc_default_options = {"members": True}

source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
exclude_patterns = ["_build", "requirements.txt"]
# The guide includes README.md section by section, under a title of its own: the sections'
# headings start at level 3, which is what they are in the README.
suppress_warnings = ["myst.header"]

html_theme = "alabaster"
html_title = f"karvex {release}"
html_theme_options = {"description": "European options, bit for bit", "fixed_sidebar": True}
