#!/usr/bin/env python3
"""Checks that the folders of src/ depend one way.

Every '#include "folder/..."' between two folders of src/ is an edge; program entries (*_main.cpp)
sit above every folder and are left out. The check fails when an edge points up the order below
or when the folder graph has a cycle. Usage: scripts/check-layers.py [--graph]
"""
import pathlib
import re
import sys

# Lowest first: a folder may include only itself and folders before it.
ORDER = ["platform", "sockets", "config", "protection", "settings", "tunnel", "dialogs", "gui", "updater"]
# Built as its own module; it may use only the platform layer.
SEPARATE = {"cipherhub": {"platform"}}

ROOT = pathlib.Path(__file__).resolve().parent.parent
SRC = ROOT / "src"
INCLUDE = re.compile(r'^\s*#\s*include\s+"(([A-Za-z0-9_]+)/[^"]+)"', re.M)


def folder_graph():
    edges = {}
    for path in sorted(SRC.rglob("*")):
        if path.suffix not in (".h", ".cpp") or path.name.endswith("_main.cpp"):
            continue
        source = path.relative_to(SRC).parts[0]
        for included, target in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
            # Public headers under include/ (the crypto library's C interface) belong to no layer.
            if not (SRC / included).exists():
                continue
            if target != source:
                edges.setdefault(source, {}).setdefault(target, []).append(str(path.relative_to(ROOT)))
    return edges


def find_cycle(edges):
    state = {}

    def visit(node, trail):
        state[node] = 1
        for nxt in edges.get(node, {}):
            if state.get(nxt) == 1:
                return trail[trail.index(nxt):] + [nxt] if nxt in trail else trail + [nxt]
            if nxt not in state:
                found = visit(nxt, trail + [nxt])
                if found:
                    return found
        state[node] = 2
        return None

    for node in sorted(edges):
        if node not in state:
            found = visit(node, [node])
            if found:
                return found
    return None


def main():
    edges = folder_graph()
    if "--graph" in sys.argv:
        for source in sorted(edges):
            print(f"{source} -> {', '.join(sorted(edges[source]))}")
    faults = []
    for source, targets in sorted(edges.items()):
        for target, files in sorted(targets.items()):
            if source in SEPARATE:
                allowed = target in SEPARATE[source]
            elif source in ORDER and target in ORDER:
                allowed = ORDER.index(target) < ORDER.index(source)
            else:
                allowed = target not in SEPARATE
            if not allowed:
                faults.append(f"{source} -> {target}: {files[0]}" + (f" (+{len(files) - 1})" if len(files) > 1 else ""))
    cycle = find_cycle(edges)
    if cycle:
        faults.append("cycle: " + " -> ".join(cycle))
    for fault in faults:
        print("layer fault:", fault, file=sys.stderr)
    if not faults:
        print("folders depend one way: " + " -> ".join(ORDER) + " (cipherhub on platform only)")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
