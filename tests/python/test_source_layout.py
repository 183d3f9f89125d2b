"""The sources' include structure: no header/source pair depends on itself
through the others (the headers compiling on their own is checked by the
build), and the core routines never reach the interpreter's headers."""

import pathlib
import re

import pytest

SRC = pathlib.Path(__file__).resolve().parents[2] / "src"
INCLUDE = re.compile(r'^#include "([^"]+)"', re.MULTILINE)

pytestmark = pytest.mark.skipif(not SRC.is_dir(), reason="no source tree beside the tests")


def unit_graph():
    """Edges between units: a unit is a header and its source (lib/frame)."""
    graph = {}
    for path in SRC.glob("*/*.[hc]*"):
        if path.suffix not in (".h", ".cpp"):
            continue
        unit = str(path.relative_to(SRC).with_suffix(""))
        targets = graph.setdefault(unit, set())
        for included in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if (SRC / included).is_file():
                target = str(pathlib.PurePosixPath(included).with_suffix(""))
                if target != unit:
                    targets.add(target)
    return graph


def test_no_include_cycles_between_units():
    graph = unit_graph()
    assert "lib/pending_error" in graph and "codecs/lzrw1" in graph
    state = {}
    cycles = []

    def visit(unit, path):
        state[unit] = "open"
        for target in sorted(graph.get(unit, ())):
            if state.get(target) == "open":
                cycles.append(path[path.index(target):] + [unit, target]
                              if target in path else path + [unit, target])
            elif target not in state:
                visit(target, path + [unit])
        state[unit] = "done"

    for unit in sorted(graph):
        if unit not in state:
            visit(unit, [])
    assert cycles == []


def test_core_routines_include_no_interpreter_header():
    for path in sorted((SRC / "codecs").iterdir()):
        text = path.read_text(encoding="utf-8")
        assert "Python.h" not in text and '"lib/' not in text, path.name
