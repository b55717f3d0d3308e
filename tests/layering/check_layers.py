#!/usr/bin/env python3
"""Fails when a source file includes a folder that its floor may not include.

Reads the floors (floors.txt beside this script), then every #include "x/..."
of the C++ and resource sources in the listed folders. Prints one line per
include that points up or sideways, and a cycle in the table itself.
Usage: check_layers.py [source-root]   (default: two folders up)
"""
import pathlib
import re
import sys

here = pathlib.Path(__file__).resolve().parent
root = pathlib.Path(sys.argv[1]).resolve() if len(sys.argv) > 1 else here.parent.parent

floors, allowed, faults = {}, {}, []
for line in (here / "floors.txt").read_text(encoding="utf-8").splitlines():
    if not line.strip() or line.lstrip().startswith("#"):
        continue
    floor, folder, _purpose, includes = (field.strip() for field in line.split("|"))
    floors[folder] = int(floor)
    allowed[folder] = set(includes.split()) - {"-"}
for folder, targets in allowed.items():
    for target in targets - floors.keys():
        faults.append(f"floors.txt: {folder} may include {target}, which is no folder of the table")
    allowed[folder] = targets & floors.keys()

for folder, targets in allowed.items():
    for target in targets:
        if floors[target] >= floors[folder]:
            faults.append(f"floors.txt: {folder} (floor {floors[folder]}) may include {target} "
                          f"(floor {floors[target]}), which is not below it")

include = re.compile(r'^\s*#\s*include\s+"([A-Za-z0-9_]+)/')
suffixes = {".h", ".hpp", ".cpp", ".c", ".rc", ".in"}
checked = 0
for folder in floors:
    base = root / folder
    if not base.is_dir():
        faults.append(f"{folder}/: listed in floors.txt but not in the tree")
        continue
    for path in sorted(base.rglob("*")):
        if path.suffix not in suffixes or not path.is_file():
            continue
        checked += 1
        text = path.read_text(encoding="utf-8", errors="replace")
        for number, line in enumerate(text.splitlines(), 1):
            match = include.match(line)
            if not match:
                continue
            target = match.group(1)
            if target == folder or target not in floors:
                continue
            if target not in allowed[folder]:
                where = path.relative_to(root).as_posix()
                faults.append(f"{where}:{number}: {folder} (floor {floors[folder]}) includes "
                              f"{target}/ (floor {floors[target]}): {line.strip()}")

for fault in faults:
    print(fault)
print(f"layers: {checked} files read, {len(faults)} include(s) against the floors")
sys.exit(1 if faults else 0)
