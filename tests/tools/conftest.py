"""The tools under test are scripts without a .py suffix: each test module runs one's file as a
module of that name."""

import contextlib
import sys
import types
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


@contextlib.contextmanager
def tool_module(name):
    """tools/NAME run as the module NAME while the block runs (dataclasses look it up by name)."""
    path = ROOT / "tools" / name
    module = types.ModuleType(name)
    module.__file__ = str(path)
    before = set(sys.modules)
    sys.modules[name] = module
    exec(compile(path.read_text(), str(path), "exec"), module.__dict__)
    try:
        yield module
    finally:
        for added in set(sys.modules) - before:
            del sys.modules[added]


@pytest.fixture(scope="module")
def mutate():
    with tool_module("mutate") as module:
        yield module


@pytest.fixture(scope="module")
def equivalence():
    with tool_module("equivalence") as module:
        yield module
