#!/usr/bin/env python3
"""Fails when a source file includes a file of a higher floor, or when a file
below the windows' floor includes Qt. Usage: check_floors.py <src folder>"""
import pathlib, re, sys

FLOORS = {"platform": 0, "core": 1, "catalog": 2, "archiver": 2,
          "engine": 3, "backup": 3, "restore": 3, "registration": 3,
          "ui": 4, "windows": 4, "inquiry": 4, "utility": 4,
          "app": 5, "companion": 5, "tools": 5}
QT_FLOOR = 4
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')

src = pathlib.Path(sys.argv[1])
faults = []
for path in sorted(p for p in src.rglob("*") if p.suffix in (".h", ".cpp")):
    rel = path.relative_to(src)
    own = FLOORS.get(rel.parts[0])
    if own is None:
        faults.append(f"{rel}: folder {rel.parts[0]}/ has no floor")
        continue
    for n, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        m = INCLUDE.match(line)
        if not m:
            continue
        kind, target = m.groups()
        if kind == "<":
            if own < QT_FLOOR and re.match(r"Q[A-Za-z]*(/|$)", target):
                faults.append(f"{rel}:{n}: Qt header <{target}> below the windows' floor")
            continue
        floor = FLOORS.get(target.split("/")[0])
        if floor is not None and floor > own:
            faults.append(f"{rel}:{n}: includes {target} from a higher floor")
print("\n".join(faults) or "every include points down")
sys.exit(1 if faults else 0)
