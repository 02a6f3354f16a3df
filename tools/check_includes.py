#!/usr/bin/env python3
"""Checks the include graph between the program's folders.

  check_includes.py [project folder]

Fails, naming every include at fault, when
  - two or more folders include one another, directly or round a loop;
  - a core file (plain C++, no window) includes Qt, or anything outside the core.

Only the program's own folders count: tests, benchmarks, fuzzers and tools may
include whatever they test. Generated headers (ui_*.h) and system headers in
<...> other than Qt's are not edges.
"""

import os
import re
import sys

FOLDERS = ("app", "dialogs", "files", "pictures", "platform", "raster", "resources", "settings", "sound", "swing")
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc")

# The core: every file of these folders, and these files of the folders that
# also hold windows. Everything else in FOLDERS may use Qt.
CORE_FOLDERS = ("files", "raster", "resources", "settings", "sound")
CORE_FILES_ELSEWHERE = ("pictures/DibImage.", "swing/FigureFrames.", "swing/PendulumMotion.",
                        "swing/DropAction.", "swing/FigurePresence.", "swing/AppShell.")

LOCAL_INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SYSTEM_INCLUDE = re.compile(r'^\s*#\s*include\s*<([^>]+)>')
QT_HEADER = re.compile(r"^(Q[A-Za-z0-9_]*|Qt[A-Za-z0-9_]*/.*)$")


def is_core(path):
    folder = path.split("/", 1)[0]
    return folder in CORE_FOLDERS or path.startswith(CORE_FILES_ELSEWHERE)


def scan(root):
    """Yields (file, line number, text, kind, target) for every include of
    the program's folders; kind is "local" or "system"."""
    for folder in FOLDERS:
        base = os.path.join(root, folder)
        for dirpath, dirnames, filenames in os.walk(base):
            dirnames.sort()
            for name in sorted(filenames):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                full = os.path.join(dirpath, name)
                rel = os.path.relpath(full, root).replace(os.sep, "/")
                with open(full, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = LOCAL_INCLUDE.match(line)
                        if m:
                            yield rel, number, line.strip(), "local", m.group(1)
                            continue
                        m = SYSTEM_INCLUDE.match(line)
                        if m:
                            yield rel, number, line.strip(), "system", m.group(1)


def strongly_connected(graph):
    """Tarjan's algorithm: the components of two or more folders."""
    index, low, on_stack, stack, out = {}, {}, set(), [], []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in sorted(graph.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                out.append(sorted(component))

    for v in sorted(graph):
        if v not in index:
            visit(v)
    return out


def check(root):
    """Returns the list of problems, each a block of text."""
    edges = {}  # (from folder, to folder) -> ["file:line text", ...]
    problems = []
    for rel, number, text, kind, target in scan(root):
        where = f"{rel}:{number}: {text}"
        source_folder = rel.split("/", 1)[0]
        if kind == "system":
            if is_core(rel) and QT_HEADER.match(target):
                problems.append(f"Qt in the core: {where}")
            continue
        if "/" not in target:
            continue  # same folder, or a generated header such as ui_*.h
        target_folder = target.split("/", 1)[0]
        if target_folder not in FOLDERS:
            continue
        if is_core(rel) and not is_core(target):
            problems.append(f"the core includes a file outside it: {where}")
        if target_folder != source_folder:
            edges.setdefault((source_folder, target_folder), []).append(where)

    graph = {}
    for a, b in edges:
        graph.setdefault(a, set()).add(b)
    for component in strongly_connected(graph):
        lines = [f"folders that include one another: {' <-> '.join(component)}"]
        for a in component:
            for b in component:
                for where in edges.get((a, b), ()):
                    lines.append(f"  {a} -> {b}  {where}")
        problems.append("\n".join(lines))
    return problems, edges


def main(argv):
    root = os.path.abspath(argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    problems, edges = check(root)
    if problems:
        print("\n".join(problems))
        print(f"{len(problems)} problem(s) in the include graph")
        return 1
    pairs = sorted({f"{a} -> {b}" for a, b in edges})
    print("include graph without cycles; folder edges: " + ", ".join(pairs))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
