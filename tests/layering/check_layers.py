#!/usr/bin/env python3
"""The layers of src/ point one way.

Rule: a file may include its own folder and the folders below it, in this
order from the bottom: base, platform, core, download and system, install,
uninstall and ui, app (the program's entry and mode wiring, which alone sees
everything). Folders on the same level do not include each other. Within
the tree no two units (a .h with its .cpp) include each other, directly or
through others. Prints each include that breaks the rule and exits 1.
"""
import os
import re
import sys

LEVELS = {"base": 0, "platform": 1, "core": 2, "download": 3, "system": 3,
          "install": 4, "uninstall": 5, "ui": 5, "app": 6}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def units(src):
    """{unit: set of included units}, a unit being a path without extension."""
    graph = {}
    for root, _, files in os.walk(src):
        for name in files:
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(root, name)
            rel = os.path.relpath(path, src).replace(os.sep, "/")
            unit = os.path.splitext(rel)[0]
            with open(path, encoding="utf-8", errors="replace") as f:
                for inc in INCLUDE.findall(f.read()):
                    graph.setdefault(unit, {}).setdefault(os.path.splitext(inc)[0], rel)
            graph.setdefault(unit, {})
    return graph


def layer_faults(graph):
    faults = []
    for unit, incs in sorted(graph.items()):
        top = unit.split("/")[0]
        if top not in LEVELS:
            faults.append(f"{unit}: folder '{top}' has no level in the layer order")
            continue
        for inc, where in sorted(incs.items()):
            other = inc.split("/")[0]
            if other not in LEVELS or other == top:
                continue
            if LEVELS[other] >= LEVELS[top]:
                faults.append(f"{where} includes \"{inc}\": {top} (level {LEVELS[top]}) "
                              f"may not include {other} (level {LEVELS[other]})")
    return faults


def cycle_faults(graph):
    faults, state, stack = [], {}, []

    def visit(u):
        state[u] = 1
        stack.append(u)
        for v in sorted(graph.get(u, {})):
            if v == u or v not in graph:
                continue
            if state.get(v) == 1:
                faults.append("units include each other: " + " -> ".join(stack[stack.index(v):] + [v]))
            elif v not in state:
                visit(v)
        stack.pop()
        state[u] = 2

    for u in sorted(graph):
        if u not in state:
            visit(u)
    return faults


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..", "src")
    graph = units(src)
    faults = layer_faults(graph) + cycle_faults(graph)
    for f in faults:
        print("layering:", f)
    order = "base < platform < core < download, system < install < uninstall, ui < app"
    print(f"layering: {len(graph)} units checked against {order}: {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
