#!/usr/bin/env python3
"""Checks the include graph between the program's folders.

  check_includes.py [project folder] [--links FILE]

Fails, naming every include at fault, when
  - a folder includes one that LAYERS does not put below it;
  - two or more folders include one another, directly or round a loop;
  - a core file (plain C++, no window) includes Qt, or anything outside the core.

LAYERS is also what the folders' CMake libraries link: each folder's library
links the libraries of the folders listed for it, and a folder's headers are on
the include path only of the targets that link it, so the compiler refuses an
include against the layers too. With --links (the file the build writes, one
"tassio_<folder>: <linked>;<linked>..." line a library) it fails, too, when a
library links a folder that LAYERS does not list for it, or does not link one
that it does.

Only the program's own folders count: tests, benchmarks, fuzzers and tools may
include whatever they test. Generated headers (ui_*.h) and system headers in
<...> other than Qt's are not edges.
"""

import os
import re
import sys

# Each folder and the folders it may include directly; what those may include
# is allowed too, as the targets link one another publicly.
LAYERS = {
    "files": (),
    "resources": (),
    "raster": ("files",),
    "settings": ("files",),
    "sound": ("files",),
    "platform": ("files", "raster", "settings", "sound"),
    "swing": ("files", "platform", "raster", "resources", "settings"),
    "viewers": ("files", "platform", "raster"),
    "dialogs": ("platform", "raster", "resources", "settings", "swing"),
    "app": ("dialogs", "platform", "resources", "settings", "swing", "viewers"),
}
FOLDERS = tuple(sorted(LAYERS))
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc")

# The core: every file of these folders, and these files of the folders that
# also hold windows. Everything else in FOLDERS may use Qt.
CORE_FOLDERS = ("files", "raster", "resources", "settings", "sound")
CORE_FILES_ELSEWHERE = ("swing/FigureFrames.", "swing/PendulumMotion.",
                        "swing/DropAction.", "swing/FigurePresence.", "swing/AppShell.")

LOCAL_INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SYSTEM_INCLUDE = re.compile(r'^\s*#\s*include\s*<([^>]+)>')
QT_HEADER = re.compile(r"^(Q[A-Za-z0-9_]*|Qt[A-Za-z0-9_]*/.*)$")


def below(folder, layers=LAYERS):
    """Every folder that folder may include: the ones it lists and theirs."""
    seen, todo = set(), list(layers.get(folder, ()))
    while todo:
        f = todo.pop()
        if f not in seen:
            seen.add(f)
            todo.extend(layers.get(f, ()))
    return seen


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
        if target_folder != source_folder and target_folder not in below(source_folder):
            problems.append(f"{source_folder}/ may not include {target_folder}/: {where}")
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


def folder_of_library(name, layers=LAYERS):
    """The folder a library of the build belongs to: tassio_swing_core and
    tassio_swing are both swing's; None for libraries of no folder."""
    if not name.startswith("tassio_"):
        return None
    folder = name[len("tassio_"):]
    if folder.endswith("_core"):
        folder = folder[:-len("_core")]
    return folder if folder in layers else None


def check_links(text, layers=LAYERS):
    """Holds the libraries' links (the --links file's text) against layers."""
    problems, linked = [], {}
    for line in text.splitlines():
        if not line.strip():
            continue
        library, _, links = line.partition(":")
        folder = folder_of_library(library.strip(), layers)
        if folder is None:
            problems.append(f"a library of no folder in LAYERS: {line.strip()}")
            continue
        found = linked.setdefault(folder, set())
        for item in links.split(";"):
            target = folder_of_library(item.strip(), layers)
            if target is None or target == folder:
                continue
            found.add(target)
            if target not in layers[folder]:
                problems.append(f"{library.strip()} links {item.strip()}, which LAYERS does not allow for {folder}/")
    for folder in sorted(linked):
        for missing in sorted(set(layers[folder]) - linked[folder]):
            problems.append(f"{folder}/ may include {missing}/ by LAYERS, but no library of {folder}/ links it")
    return problems


def main(argv):
    args = list(argv[1:])
    links = None
    if "--links" in args:
        i = args.index("--links")
        if i + 1 >= len(args):
            print("--links needs a file")
            return 2
        links = args[i + 1]
        del args[i:i + 2]
    root = os.path.abspath(args[0] if args else os.path.join(os.path.dirname(__file__), ".."))
    problems, edges = check(root)
    if links is not None:
        with open(links, encoding="utf-8") as f:
            problems += check_links(f.read())
    if problems:
        print("\n".join(problems))
        print(f"{len(problems)} problem(s) in the include graph")
        return 1
    pairs = sorted({f"{a} -> {b}" for a, b in edges})
    print("include graph without cycles; folder edges: " + ", ".join(pairs))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
