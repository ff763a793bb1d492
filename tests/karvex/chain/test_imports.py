"""The layout of karvex._chain: its modules import one another in one
direction only (no circles), counting every import, also those inside
functions and those for type checking alone.

Run as a script, it prints the graph, its circles and its depth."""

import ast
import pathlib
import sys

import karvex._chain

PACKAGE = pathlib.Path(karvex._chain.__file__).parent


def import_graph(folder=PACKAGE):
    """module -> the modules of the package it imports (anywhere in it)."""
    modules = {p.stem for p in folder.glob("*.py") if p.stem != "__init__"}
    graph = {}
    for name in sorted(modules):
        tree = ast.parse((folder / f"{name}.py").read_text())
        found = set()
        for node in ast.walk(tree):
            if isinstance(node, ast.ImportFrom):
                if node.level == 1 and node.module:
                    found.add(node.module.split(".")[0])
                elif node.level == 1:
                    found.update(alias.name for alias in node.names)
                elif node.level == 0 and (node.module or "").startswith("karvex._chain."):
                    found.add(node.module.split(".")[2])
            elif isinstance(node, ast.Import):
                for alias in node.names:
                    if alias.name.startswith("karvex._chain."):
                        found.add(alias.name.split(".")[2])
        graph[name] = sorted((found & modules) - {name})
    return graph


def circles(graph):
    """The strongly connected components of more than one module (Tarjan)."""
    index, low, stack, on, out = {}, {}, [], set(), []

    def visit(v):
        index[v] = low[v] = len(index)
        stack.append(v)
        on.add(v)
        for w in graph[v]:
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            part = []
            while True:
                w = stack.pop()
                on.discard(w)
                part.append(w)
                if w == v:
                    break
            if len(part) > 1:
                out.append(sorted(part))

    for v in graph:
        if v not in index:
            visit(v)
    return out


def depth(graph):
    """Levels of the graph: modules on its longest chain of imports, a circle
    counted as one module."""
    part = {v: v for v in graph}
    for group in circles(graph):
        for v in group:
            part[v] = group[0]
    memo = {}

    def longest(c):
        if c not in memo:
            memo[c] = 0  # a guard while this component is on the path
            below = {part[w] for v in graph if part[v] == c for w in graph[v]} - {c}
            memo[c] = 1 + max((longest(w) for w in below), default=0)
        return memo[c]

    return max((longest(c) for c in set(part.values())), default=0)


def test_no_import_circles():
    assert circles(import_graph()) == []


def test_every_module_is_reached_from_the_driver():
    graph = import_graph()
    reached, todo = set(), ["driver"]
    while todo:
        v = todo.pop()
        if v not in reached:
            reached.add(v)
            todo += graph[v]
    assert reached == set(graph)


if __name__ == "__main__":
    folder = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else PACKAGE
    graph = import_graph(folder)
    for name, used in graph.items():
        print(f"{name:<12} -> {', '.join(used)}")
    print("circles:", circles(graph) or "none")
    print("depth:", depth(graph), "modules")
