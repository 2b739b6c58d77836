#!/usr/bin/env python3
"""The parts of the program as CMake builds them, checked against their include lines.

    scripts/layers.py check        # every target links exactly the folders its sources include,
                                   # and the README's picture is the one below
    scripts/layers.py dot          # the picture of the parts (Graphviz dot) on standard output

Each product folder builds one library `morvel_<folder>` (and a program beside it in app/,
cli/ and cli-export/). A target's sources are the .cpp files its add_library/add_executable
names (all of the folder's for a GLOB) and the folder's headers they include. The check fails
(status 1) when a target links a project library none of its sources reaches through its
include lines, or (a product target) includes a folder directly whose library it does not
link itself. Tests and benchmarks are checked for the first; the fuzzers build the core's
sources themselves.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FOLDERS = ["io", "core", "formats", "cli", "widgets", "painter", "measureview", "settings",
           "view", "export", "cli-export", "playback", "player", "chords", "app"]
# Folders of tests, benchmarks and fuzzers: their targets are checked too; their helper headers
# are followed, as they are part of the target that includes them.
HELPERS = ["tests", "bench"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([A-Za-z0-9_-]+)/([^"]+)"', re.M)
TARGET = re.compile(r"add_(library|executable)\(\s*([A-Za-z0-9_-]+)([^)]*)\)", re.S)
LINKS = re.compile(r"target_link_libraries\(\s*([A-Za-z0-9_-]+)([^)]*)\)", re.S)


def library_folder(name):
    if not name.startswith("morvel_"):
        return None
    folder = name[len("morvel_"):].replace("_", "-")
    return folder if folder in FOLDERS else None


def includes_of(folder, start):
    """Folders the files `start` of `folder` include: (directly, reachable). Direct includes
    follow the folder's own headers and the test and benchmark helpers; reachable ones follow
    every header, into other folders too."""
    def walk(into_others):
        seen, found = set(), set()
        todo = [os.path.join(folder, name) for name in start]
        while todo:
            name = todo.pop()
            if name in seen:
                continue
            seen.add(name)
            path = os.path.join(ROOT, name)
            if not os.path.isfile(path):
                continue
            with open(path, encoding="utf-8") as f:
                for part, rest in INCLUDE.findall(f.read()):
                    if part in FOLDERS and part != folder:
                        found.add(part)
                        if into_others:
                            todo.append(os.path.join(part, rest))
                    elif part == folder.split("/")[0] or part in HELPERS:
                        todo.append(os.path.join(part, rest))
        return found - {folder}
    return walk(False), walk(True)


def targets():
    """(target, folder, linked, directly included, reachable folders) for every target."""
    result = []
    checked = list(FOLDERS)
    for helper in HELPERS:
        for top, _, files in os.walk(os.path.join(ROOT, helper)):
            if "CMakeLists.txt" in files:
                checked.append(os.path.relpath(top, ROOT))
    for folder in checked:
        path = os.path.join(ROOT, folder, "CMakeLists.txt")
        if not os.path.isfile(path):
            continue
        with open(path, encoding="utf-8") as f:
            text = re.sub(r"#[^\n]*", "", f.read())
        links = {}
        for name, rest in LINKS.findall(text):
            links.setdefault(name, set()).update(
                filter(None, (library_folder(w) for w in rest.split())))
        for _, name, rest in TARGET.findall(text):
            sources = [os.path.normpath(w) for w in rest.split() if w.endswith((".cpp", ".h"))]
            if "GLOB" in text and not sources:
                sources = [n for n in os.listdir(os.path.join(ROOT, folder)) if n.endswith(".cpp")]
            linked = set(links.get(name, set()))
            # A program beside its folder's library reaches the folder's headers through it.
            own = library_folder(name) == folder
            if not own:
                linked.discard(folder)
            direct, reachable = includes_of(folder, sources)
            result.append((name, folder, linked, direct, reachable))
    return result


def check():
    faults = 0
    for name, folder, linked, included, reachable in targets():
        for extra in sorted(linked - reachable):
            print(f"{folder}/CMakeLists.txt: {name} links morvel_{extra.replace('-', '_')} "
                  f"but includes nothing of {extra}/")
            faults += 1
        if folder.split("/")[0] in HELPERS:
            continue  # a test may reach a library through the one it links
        for missing in sorted(included - linked):
            print(f"{folder}/CMakeLists.txt: {name} includes {missing}/ but does not link "
                  f"morvel_{missing.replace('-', '_')}")
            faults += 1
    if not readme_matches():
        print("README.md: the picture of the parts is not the one the targets give "
              "(scripts/layers.py dot)")
        faults += 1
    if faults == 0:
        print(f"{len(targets())} targets: each links exactly the folders it includes; "
              "the README's picture matches")
    return 1 if faults else 0


def dot_text():
    edges = set()
    for _, folder, linked, _, _ in targets():
        for other in linked:
            if other != folder:
                edges.add((folder, other))
    lines = ["digraph parts {", "    rankdir=BT;", "    node [shape=box];"]
    edges = {(a, b) for a, b in edges if a in FOLDERS}
    for a, b in sorted(edges):
        lines.append(f'    "{a}" -> "{b}";')
    lines.append("}")
    return "\n".join(lines) + "\n"


def dot():
    sys.stdout.write(dot_text())
    return 0


def readme_matches():
    """Whether the picture in the README's layout section is the one the targets give."""
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        text = f.read()
    match = re.search(r"```dot\n(.*?)```", text, re.S)
    return match is not None and match.group(1) == dot_text()


if __name__ == "__main__":
    command = sys.argv[1] if len(sys.argv) > 1 else "check"
    sys.exit({"check": check, "dot": dot}.get(command, lambda: (print(__doc__), 2)[1])())
