#!/usr/bin/env python3
"""Checks that every include of the sources points down the layers.

The folders of src/ are ranked from the bottom, in the order of src/README.md:
symbols, expo, bdd, the model core, the state-space solvers, the
combinatorial solvers (which use some chain solvers), the interpreter. A file
may include its own folder and the folders ranked below it. Includes that
still point upward are listed in upward_includes.txt ("file -> include" per
line); the list may only shrink: an upward include missing from it fails, and
so does a line of it that no longer matches an include in the sources.

Usage: include_check.py SRC_DIR [ALLOW_LIST]
"""
import os
import re
import sys

RANKS = {
    "symbols": 0,
    "expo": 1,
    "bdd": 2,
    "model": 3,
    "statespace": 4,
    "combinatorial": 5,
    "interp": 6,
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def upward_includes(src):
    """Yields (file, included) for every include into a higher folder, and
    reports folders and included paths the ranking does not know."""
    found = []
    unknown = []
    for folder in sorted(os.listdir(src)):
        path = os.path.join(src, folder)
        if not os.path.isdir(path):
            continue
        if folder not in RANKS:
            unknown.append(f"folder src/{folder} has no rank")
            continue
        for root, _, files in os.walk(path):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp")):
                    continue
                file = os.path.relpath(os.path.join(root, name), src)
                with open(os.path.join(root, name), encoding="utf-8", errors="replace") as f:
                    for line in f:
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        target = m.group(1)
                        top = target.split("/", 1)[0]
                        if "/" not in target:
                            unknown.append(f"{file}: include \"{target}\" names no folder")
                        elif top not in RANKS:
                            unknown.append(f"{file}: include \"{target}\" is in no ranked folder")
                        elif RANKS[top] > RANKS[folder]:
                            found.append((file, target))
    return found, unknown


def read_allow_list(path):
    allowed = []
    if path is None or not os.path.exists(path):
        return allowed
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            parts = [p.strip() for p in line.split("->")]
            if len(parts) != 2 or not all(parts):
                sys.exit(f"{path}:{number}: expected 'file -> include'")
            allowed.append((parts[0], parts[1]))
    return allowed


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    src = sys.argv[1]
    allow_path = sys.argv[2] if len(sys.argv) == 3 else None
    found, problems = upward_includes(src)
    allowed = read_allow_list(allow_path)
    allowed_set = set(allowed)
    found_set = set(found)
    for file, target in found:
        if (file, target) not in allowed_set:
            problems.append(f"{file}: include \"{target}\" points to a higher layer")
    for file, target in allowed:
        if (file, target) not in found_set:
            problems.append(f"allowed '{file} -> {target}' is gone: remove it from the list")
    if len(allowed) != len(allowed_set):
        problems.append("the allow-list names an include twice")
    for p in problems:
        print(p)
    print(f"{len(found)} upward includes, {len(allowed)} allowed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
