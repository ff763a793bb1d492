"""Tests of tools/mutate's choice of mutants (the building and testing it drives is not run here)."""

from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def rewrites(mutate, source):
    return [(m.before, m.after) for m in mutate.mutants_of("x.hpp", source, set())]


def test_each_reassociation_and_the_quotient_product(mutate):
    source = "const D e = (t / h) * (t / h);\nconst V k = ((3.0 * bh) * p) - a * (b * c);\n"
    found = rewrites(mutate, source)
    assert ("(t / h) * (t / h)", "(t * t) / (h * h)") in found
    assert ("(3.0 * bh) * p", "3.0 * (bh * p)") in found
    assert ("a * (b * c)", "(a * b) * c") in found
    # The subtraction's left operand is a product, not a difference: nothing to reassociate there.
    assert not any(before.startswith("((3.0") for before, _ in found)


def test_operands_keep_their_grouping(mutate):
    # a - (b1 - b2 + c): b is the difference b1 - b2, which must stay one operand.
    assert rewrites(mutate, "double y = a - (b1 - b2 + c);") == [
        ("b1 - b2 + c", "b1 - (b2 - c)"),
        ("a - (b1 - b2 + c)", "(a - (b1 - b2)) - c"),
    ]


def test_index_and_pointer_arithmetic_is_left_alone(mutate):
    source = """
    void f(const double* p, std::size_t n, D x) {
      for (std::size_t j = 0; j < n; j += N) L::store(p + j + 1, x * x * x);
      const std::size_t lanes = (n + N - 1) / N * N;
      y[i * 2 * k] = x;
    }
    """
    assert rewrites(mutate, source) == [("x * x * x", "x * (x * x)")]


def test_every_mutant_of_the_tree_replaces_the_text_it_names(mutate):
    mutants = mutate.all_mutants(ROOT)
    assert len(mutants) > 50
    for m in mutants:
        text = (ROOT / m.file).read_text()[m.start : m.end]
        assert " ".join(text.split()) == m.before
        assert m.before != m.after


def test_a_power_of_two_factor_is_flagged_but_not_a_dividend(mutate):
    flagged = {
        m.before: m.power_of_two
        for m in mutate.mutants_of("x.hpp", "y = (e * 0.5) * d; z = 1.0 / (a * a);", set())
    }
    assert flagged == {"(e * 0.5) * d": True, "1.0 / (a * a)": False}


def test_the_time_limit_is_processor_time_not_wall_time(mutate, tmp_path):
    # Test binaries that wait (as a starved process does) or loop; a limit of 1 s of processor time.
    space = mutate.Workspace(tmp_path, jobs=1)
    space.build.mkdir()
    binary = space.build / "kernels_tests"
    binary.write_text("#!/bin/sh\nsleep 1.5\n")
    binary.chmod(0o755)
    assert space.test(["kernels_tests"], timeout=1.0) == ("passed", "")
    binary.write_text("#!/bin/sh\nwhile :; do :; done\n")
    assert space.test(["kernels_tests"], timeout=1.0) == ("timeout", "kernels_tests[1/1]")
