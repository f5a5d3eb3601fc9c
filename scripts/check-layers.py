#!/usr/bin/env python3
"""Checks that includes under src/ point down the layers only.

    core folders (plain C++, no Qt) <- Qt folders below the kit <- widget kit
    <- Qt halves of the parts the features share <- features <- shell

A core file is one that its folder's CMakeLists.txt does not name as Qt code (UI files, and the
sources of a module that links Qt). Features stand side by side: no file of one includes a file
of another, nor does a part they share include one of theirs. Within a folder, no files
include each other in a circle (a header and its .cpp count as one). Prints every such include
and exits 1 if there is any.
Usage: check-layers.py [src folder]
"""
import pathlib
import re
import sys

# Folders with a core library: those below everything Qt, the parts the features share (whose Qt
# halves stand above the kit), and the features.
BELOW_KIT = {"model", "process", "probe", "engine"}
SHARED = {"preview", "planning"}
FEATURES = {"joinsplit", "remux", "rename", "transcription"}
CORE_FOLDERS = BELOW_KIT | SHARED | (FEATURES - {"remux"})
QT_ONLY = {"queue": "lower-qt", "widgets": "kit", "remux": "feature", "shell": "shell"}

# What each role may not include, and what to do instead.
FORBIDDEN = {
    "core": {"qt", "lower-qt", "kit", "shared", "feature", "shell"},
    "lower-qt": {"kit", "shared", "feature", "shell"},
    "kit": {"shared", "feature", "shell"},
    "shared": {"feature", "shell"},
    "feature": {"shell"},
    "shell": set(),
}
NAMES = {
    "core": "a core file (no Qt)",
    "lower-qt": "a Qt file below the widget kit",
    "kit": "the widget kit",
    "shared": "the Qt half of a part the features share",
    "feature": "a feature",
    "shell": "the shell",
    "qt": "Qt",
}
ADVICE = {
    "core": "Move the Qt piece into the folder's UI files",
    "lower-qt": "Move the piece it needs down into its own folder",
    "kit": "Move the piece it needs down into src/widgets or a core folder",
    "shared": "Move the piece it needs down into its own folder or src/widgets",
    "feature": "Move the piece it needs down into src/widgets",
}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
SOURCE_SUFFIXES = {".h", ".cpp"}


def cmake_blocks(text, command):
    """The words inside each `command(...)` call of a CMakeLists text."""
    for match in re.finditer(re.escape(command) + r"\((.*?)\)", text, re.S):
        body = re.sub(r"#[^\n]*", "", match.group(1))
        yield body.split()


def qt_files(folder):
    """Names that the folder's CMakeLists.txt builds as Qt code."""
    lists = folder / "CMakeLists.txt"
    if not lists.exists():
        return set()
    text = lists.read_text(encoding="utf-8")
    names = set()
    keywords = {"CORE", "UI", "LINKS"}
    for words in cmake_blocks(text, "tavrolin_folder"):
        section = None
        for word in words[1:]:
            if word in keywords:
                section = word
            elif section == "UI":
                names.add(word)
    for words in cmake_blocks(text, "tavrolin_module"):
        if any(word.startswith("Qt6::") for word in words):
            section = None
            for word in words[1:]:
                if word in {"SOURCES", "LINKS"}:
                    section = word
                elif section == "SOURCES":
                    names.add(word)
    return names


class Layers:
    def __init__(self, src):
        self.src = src
        self.qt = {}
        self.unknown = []
        for folder in sorted(p for p in src.iterdir() if p.is_dir()):
            if folder.name in CORE_FOLDERS:
                self.qt[folder.name] = qt_files(folder)
            elif folder.name not in QT_ONLY:
                self.unknown.append(folder.name)

    def role(self, folder, name):
        if folder in QT_ONLY:
            return QT_ONLY[folder]
        if folder not in CORE_FOLDERS:
            return None
        if name not in self.qt[folder]:
            return "core"
        if folder in BELOW_KIT:
            return "lower-qt"
        return "shared" if folder in SHARED else "feature"

    def included_file(self, here, target):
        """The (folder, name) of a quoted include under src/, if it names one."""
        parts = target.split("/")
        if len(parts) == 1:
            parts = [here, target]
        folder, name = parts[0], "/".join(parts[1:])
        if not name or not (self.src / folder / name).is_file():
            return None
        return folder, name

    def included_role(self, here, bracket, target):
        if bracket == "<":
            return "qt" if re.match(r"Q[A-Za-z]", target) else None
        found = self.included_file(here, target)
        return self.role(*found) if found else None

    def includes(self):
        """Each (path, line number, folder, role, bracket, target) under src/."""
        for folder in sorted(p for p in self.src.iterdir() if p.is_dir()):
            for path in sorted(folder.rglob("*")):
                if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
                    continue
                role = self.role(folder.name, path.relative_to(folder).as_posix())
                if role is None:
                    continue
                lines = path.read_text(encoding="utf-8", errors="replace").splitlines()
                for number, line in enumerate(lines, 1):
                    match = INCLUDE.match(line)
                    if match:
                        yield path, number, folder.name, role, *match.groups()

    def violations(self):
        found = []
        for path, number, here, role, bracket, target in self.includes():
            where = f"{path.relative_to(self.src.parent)}:{number}"
            target_role = self.included_role(here, bracket, target)
            if target_role in FORBIDDEN[role]:
                found.append(
                    f"{where}: {NAMES[role]} includes “{target}”, which is "
                    f"{NAMES[target_role]}, but includes may point only down the layers. "
                    f"{ADVICE[role]}.")
                continue
            other = self.included_file(here, target) if bracket == '"' else None
            if not other or other[0] not in FEATURES or other[0] == here:
                continue
            if here in FEATURES:
                found.append(
                    f"{where}: a feature includes “{target}”, which belongs to another "
                    f"feature (src/{other[0]}), but features never include each other. Move "
                    f"what both need into a folder of their own below them.")
            elif here in SHARED:
                found.append(
                    f"{where}: {NAMES[role]} in src/{here}, a part the features share, includes "
                    f"“{target}”, which belongs to a feature (src/{other[0]}), but includes "
                    f"may point only down the layers. Move the piece it needs into src/{here}.")
        return found

    def cycles(self):
        """Files of one folder that include each other in a circle, a header and its .cpp as one."""
        edges = {}
        for path, _, here, _, bracket, target in self.includes():
            other = self.included_file(here, target) if bracket == '"' else None
            if other and other[0] == here:
                unit, included = path.stem, pathlib.Path(other[1]).stem
                if included != unit:
                    edges.setdefault((here, unit), set()).add((here, included))
        found = []
        for circle in strongly_connected(edges):
            folder = circle[0][0]
            names = ", ".join(unit for _, unit in circle)
            found.append(
                f"src/{folder}: {names} include each other in a circle. Move what they share "
                f"into a file of its own that includes none of them.")
        return found


def strongly_connected(edges):
    """The groups of more than one node that reach each other (Tarjan), each sorted."""
    index, low, stack, on_stack, groups = {}, {}, [], set(), []

    def visit(node):
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for after in sorted(edges.get(node, ())):
            if after not in index:
                visit(after)
                low[node] = min(low[node], low[after])
            elif after in on_stack:
                low[node] = min(low[node], index[after])
        if low[node] == index[node]:
            group = []
            while True:
                member = stack.pop()
                on_stack.discard(member)
                group.append(member)
                if member == node:
                    break
            if len(group) > 1:
                groups.append(sorted(group))

    for node in sorted(edges):
        if node not in index:
            visit(node)
    return sorted(groups)


def main(argv):
    src = pathlib.Path(argv[1] if len(argv) > 1 else "src").resolve()
    if not src.is_dir():
        print(f"There is no source folder “{src}”. Name the project's src folder.",
              file=sys.stderr)
        return 2
    layers = Layers(src)
    if layers.unknown:
        for name in layers.unknown:
            print(f"The folder “src/{name}” has no layer. Name it in scripts/check-layers.py.",
                  file=sys.stderr)
        return 1
    found = layers.violations()
    for message in found:
        print(message, file=sys.stderr)
    if found:
        print(f"{len(found)} include(s) point up the layers or across the features.",
              file=sys.stderr)
    circles = layers.cycles()
    for message in circles:
        print(message, file=sys.stderr)
    if found or circles:
        return 1
    print("Every include points down the layers, and none go round in a circle.")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
