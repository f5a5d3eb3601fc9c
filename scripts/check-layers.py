#!/usr/bin/env python3
"""Checks that includes under src/ point down the layers only.

    core folders (plain C++, no Qt) <- Qt halves of the folders below the kit <- widget kit
    <- features <- shell

A core file is one that its folder's CMakeLists.txt does not name as Qt code (UI files, and the
sources of a module that links Qt). Prints every include that points up and exits 1 if any does.
Usage: check-layers.py [src folder]
"""
import pathlib
import re
import sys

# Folders with a core library, the Qt halves of the first four sit below the kit.
BELOW_KIT = {"model", "process", "probe", "engine"}
CORE_FOLDERS = BELOW_KIT | {"preview", "planning", "joinsplit", "rename", "transcription"}
QT_ONLY = {"queue": "lower-qt", "widgets": "kit", "remux": "feature", "shell": "shell"}

# What each role may not include, and what to do instead.
FORBIDDEN = {
    "core": {"qt", "lower-qt", "kit", "feature", "shell"},
    "lower-qt": {"kit", "feature", "shell"},
    "kit": {"feature", "shell"},
    "feature": {"shell"},
    "shell": set(),
}
NAMES = {
    "core": "a core file (no Qt)",
    "lower-qt": "the Qt half of a folder below the widget kit",
    "kit": "the widget kit",
    "feature": "a feature",
    "shell": "the shell",
    "qt": "Qt",
}
ADVICE = {
    "core": "Move the Qt piece into the folder's UI files",
    "lower-qt": "Move the piece it needs down into its own folder",
    "kit": "Move the piece it needs down into src/widgets or a core folder",
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
        return "lower-qt" if folder in BELOW_KIT else "feature"

    def included_role(self, here, bracket, target):
        if bracket == "<":
            return "qt" if re.match(r"Q[A-Za-z]", target) else None
        parts = target.split("/")
        if len(parts) == 1:
            parts = [here, target]
        if len(parts) != 2 or not (self.src / parts[0] / parts[1]).is_file():
            return None
        return self.role(parts[0], parts[1])

    def violations(self):
        found = []
        for folder in sorted(p for p in self.src.iterdir() if p.is_dir()):
            for path in sorted(folder.rglob("*")):
                if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
                    continue
                role = self.role(folder.name, path.name)
                if role is None:
                    continue
                lines = path.read_text(encoding="utf-8", errors="replace").splitlines()
                for number, line in enumerate(lines, 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    target_role = self.included_role(folder.name, *match.groups())
                    if target_role in FORBIDDEN[role]:
                        where = path.relative_to(self.src.parent)
                        found.append(
                            f"{where}:{number}: {NAMES[role]} includes “{match.group(2)}”, "
                            f"which is {NAMES[target_role]}, but includes may point only "
                            f"down the layers. {ADVICE[role]}.")
        return found


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
        print(f"{len(found)} include(s) point up the layers.", file=sys.stderr)
        return 1
    print("Every include points down the layers.")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
