#!/usr/bin/env python3
"""Checks that every #include "folder/file.h" of the core points down the layers.

    scripts/check-layers.py [--counts | --self-test] [SOURCE_DIR]

The layers, bottom to top; a file may include headers of its own folder and of the folders
listed for it (LAYERS below). Above the evaluator, code reaches the evaluator through its
API header only (evaluator/evaluator.h), apart from the few files of EVALUATOR_INTERNALS.
The composition root (app/) and the folders outside the product (tests, tools, bench,
fuzz) may include anything. Prints each violation and exits 1 when there is one; with
--counts it prints the number of includes by (from, to) folder instead; --self-test checks
the checker on a small tree of its own.
"""
import os
import re
import sys

# Each folder with the folders below it that it may include.
LAYERS = {
    "runtime-core": [],
    "datatypes": ["runtime-core"],
    "loading": ["runtime-core", "datatypes"],
    "os": ["runtime-core", "datatypes", "loading"],
    "evaluator": ["runtime-core", "datatypes", "loading", "os"],
    "library": ["runtime-core", "datatypes", "loading", "os", "evaluator"],
    "gui-backend": ["runtime-core"],
    "gui-layer": ["runtime-core", "datatypes", "loading", "os", "evaluator", "library",
                  "gui-backend"],
    "console": ["runtime-core", "datatypes", "loading", "os", "evaluator", "library",
                "gui-backend", "gui-layer"],
}
# The composition root and everything outside the product include what they need.
UNCHECKED = ["app", "tests", "tools", "bench", "fuzz"]

# The evaluator's interface to the layers above it.
EVALUATOR_API = "evaluator/evaluator.h"
# Files above the evaluator that may include some of its internal headers, each with its
# reason in a comment: {"library/file.cpp": ("evaluator/frames.h",)}. None needs one today.
EVALUATOR_INTERNALS = {
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def folder_of(path):
    return path.split("/", 1)[0] if "/" in path else ""


def sources(root):
    for top in sorted(set(LAYERS) | set(UNCHECKED)):
        base = os.path.join(root, top)
        for folder, _, files in os.walk(base):
            for name in sorted(files):
                if name.endswith((".h", ".cpp")):
                    full = os.path.join(folder, name)
                    yield os.path.relpath(full, root).replace(os.sep, "/"), full


def includes(full):
    with open(full, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if m and "/" in m.group(1):
                yield number, m.group(1)


def violation(root, source, target):
    layer, to = folder_of(source), folder_of(target)
    if layer in UNCHECKED or to == layer:
        return None
    if to not in LAYERS and to not in UNCHECKED:
        if os.path.isdir(os.path.join(root, to)):
            return f"{to}/ is not a layer: give it its place in LAYERS (scripts/check-layers.py)"
        return None  # a path of another kind (a system or generated header)
    if to not in LAYERS[layer]:
        return f"{layer}/ may not include {to}/ (it may include: " + \
            (", ".join(LAYERS[layer]) or "only itself") + ")"
    if to == "evaluator" and layer != "evaluator" and target != EVALUATOR_API and \
            target not in EVALUATOR_INTERNALS.get(source, ()):
        return f"{layer}/ reaches the evaluator through {EVALUATOR_API} only"
    return None


def self_test():
    """Runs the check over a small tree with one include of each kind it must judge."""
    import tempfile
    files = {
        "runtime-core/a.cpp": ['runtime-core/b.h', 'datatypes/c.h'],  # upward
        "datatypes/c.cpp": ['runtime-core/b.h', 'datatypes/c.h', 'sys/types.h'],
        "os/d.cpp": ['loading/e.h', 'evaluator/f.h'],  # upward
        "gui-backend/g.cpp": ['runtime-core/b.h', 'datatypes/c.h'],  # sideways
        "library/h.cpp": ['evaluator/evaluator.h', 'evaluator/frames.h'],  # past the API
        "console/i.cpp": ['library/h.h', 'app/boot.h'],  # upward
        "app/j.cpp": ['console/i.h', 'evaluator/frames.h'],
        "tests/unit/k.cpp": ['app/boot.h', 'evaluator/frames.h'],
        "evaluator/l.cpp": ['os/m.h', 'debugger/n.h'],  # a folder outside the layers
        "debugger/n.h": [],
    }
    expected = {("runtime-core/a.cpp", 3), ("os/d.cpp", 3), ("gui-backend/g.cpp", 3),
                ("library/h.cpp", 3), ("console/i.cpp", 3),
                ("evaluator/l.cpp", 3)}  # the second include of each
    with tempfile.TemporaryDirectory() as root:
        for name, targets in files.items():
            os.makedirs(os.path.join(root, os.path.dirname(name)), exist_ok=True)
            with open(os.path.join(root, name), "w") as f:
                f.write("// a test file\n")
                f.writelines(f'#include "{t}"\n' for t in targets)
        found = {(source, number) for source, full in sources(root)
                 for number, target in includes(full) if violation(root, source, target)}
    if found != expected:
        print(f"check-layers self-test: found {sorted(found)}, expected {sorted(expected)}")
        return 1
    return 0


def main(argv):
    if "--self-test" in argv:
        return self_test()
    counts = "--counts" in argv
    args = [a for a in argv[1:] if not a.startswith("--")]
    root = args[0] if args else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    found = 0
    table = {}
    for source, full in sources(root):
        for number, target in includes(full):
            if counts:
                key = (folder_of(source), folder_of(target))
                table[key] = table.get(key, 0) + 1
                continue
            why = violation(root, source, target)
            if why:
                print(f"{source}:{number}: #include \"{target}\": {why}")
                found += 1
    if counts:
        for (a, b), n in sorted(table.items()):
            print(f"{a:14} -> {b:14} {n}")
        return 0
    if found:
        print(f"{found} include(s) against the layers (scripts/check-layers.py)")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
