#!/usr/bin/env python3
"""Fails when a file of src/ includes a folder above its own.

Folders are layers: each includes only itself and the folders below it, so
that the contract stays at the bottom and the programs at the top. A folder
missing from the table fails too, so that a new one gets its place.

usage: layers.py SRC_DIR
"""
import pathlib
import re
import sys

# Bottom to top; folders on one line are peers and include none of each other.
LAYERS = [
    ["platform"],
    ["texts"],
    ["paths"],
    ["registry", "files", "sysini"],
    ["app"],
    ["hosted", "win32"],
    ["session"],
    ["hosted_program", "windows_program"],
]
RANK = {folder: rank for rank, peers in enumerate(LAYERS) for folder in peers}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]*"', re.MULTILINE)


def main(src):
    src = pathlib.Path(src)
    faults = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".inc") or not path.is_file():
            continue
        own = path.relative_to(src).parts[0]
        if own not in RANK:
            faults.append(f"{path}: folder {own}/ has no layer")
            continue
        text = path.read_text(encoding="latin-1")
        for match in INCLUDE.finditer(text):
            folder = match.group(1)
            line = text.count("\n", 0, match.start()) + 1
            if folder == own:
                continue
            if folder not in RANK:
                faults.append(f"{path}:{line}: includes {folder}/, which has no layer")
            elif RANK[folder] >= RANK[own]:
                faults.append(f"{path}:{line}: {own}/ includes {folder}/, which is not below it")
    for fault in faults:
        print(fault)
    print(f"{len(faults)} upward includes" if faults else "every include runs down")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
