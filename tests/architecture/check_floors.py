#!/usr/bin/env python3
"""Fails when a source file includes a file of its own floor's neighbours or
of a higher floor, or when a file below the windows' floor includes Qt.
Usage: check_floors.py <src folder>     check the tree
       check_floors.py --self-test      plant each kind of fault and expect it found"""
import glob, os, pathlib, re, sys, tempfile

# Each folder's floor. Folders on one floor are neighbours: none includes
# another (engine/ is below the three engines, which stand side by side).
FLOORS = {"platform": 0, "core": 1, "catalog": 2, "archiver": 2,
          "engine": 3, "backup": 4, "restore": 4, "registration": 4, "retention": 4,
          "ui": 5, "windows": 6, "inquiry": 6, "utility": 6,
          "app": 7, "companion": 8, "tools": 8}
QT_FLOOR = 5
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def qt_headers():
    """The names of the installed Qt headers (QWidget, QtCore/QString, ...)."""
    names = set()
    for root in glob.glob("/usr/include/*/qt6") + glob.glob("/usr/include/qt6"):
        for module in glob.glob(os.path.join(root, "Qt*")):
            names.add(os.path.basename(module))
            for header in os.listdir(module):
                names.add(header)
                names.add(os.path.basename(module) + "/" + header)
    return names


QT = qt_headers()


def is_qt(target):
    if target in QT or target.split("/")[0] in QT and target.split("/")[0].startswith("Qt"):
        return True
    # Without the headers installed: Qt's naming.
    return re.match(r"(Qt[A-Za-z]*/)?Q[A-Z][A-Za-z]*$|q[a-z0-9_]+\.h$", target) is not None


def check(src):
    src = pathlib.Path(src)
    faults = []
    for path in sorted(p for p in src.rglob("*") if p.suffix in (".h", ".cpp")):
        rel = path.relative_to(src)
        own_folder = rel.parts[0]
        own = FLOORS.get(own_folder)
        if own is None:
            faults.append(f"{rel}: folder {own_folder}/ has no floor")
            continue
        for n, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            target = m.group(2)
            folder = target.split("/")[0]
            if folder in FLOORS and "/" in target:
                floor = FLOORS[folder]
                if floor > own:
                    faults.append(f"{rel}:{n}: includes {target} from a higher floor")
                elif floor == own and folder != own_folder:
                    faults.append(f"{rel}:{n}: includes {target} from a neighbour on its own floor")
            elif own < QT_FLOOR and is_qt(target):
                faults.append(f"{rel}:{n}: Qt header {target} below the windows' floor")
    return faults


def self_test():
    planted = {
        "engine/a.cpp": '#include "backup/x.h"',
        "backup/a.cpp": '#include "restore/x.h"',
        "restore/a.cpp": '#include <registration/x.h>',
        "retention/a.cpp": '#include "restore/x.h"',
        "backup/c.cpp": '#include "retention/x.h"',
        "platform/a.cpp": "#include <backup/x.h>",
        "catalog/a.cpp": '#include "archiver/x.h"',
        "windows/a.cpp": '#include "inquiry/x.h"',
        "companion/a.cpp": '#include "tools/x.h"',
        "core/a.cpp": "#include <QtCore/QString>",
        "engine/b.cpp": "#include <qglobal.h>",
        "backup/b.cpp": "#include <QFileInfo>",
        "nowhere/a.cpp": '#include "platform/x.h"',
    }
    allowed = {
        "backup/ok.cpp": '#include "engine/x.h"\n#include "backup/y.h"\n#include <vector>\n#include <sqlite3.h>',
        "windows/ok.cpp": '#include <QWidget>\n#include "ui/x.h"\n#include "backup/y.h"',
        "utility/ok.cpp": '#include "retention/x.h"',
        "retention/ok.cpp": '#include "engine/x.h"\n#include "archiver/y.h"',
        "app/ok.cpp": '#include "windows/x.h"\n#include "inquiry/y.h"',
    }
    failed = False
    for name, text in list(planted.items()) + [(None, None)]:
        with tempfile.TemporaryDirectory() as tree:
            files = dict(allowed)
            if name:
                files[name] = text
            for f, body in files.items():
                p = pathlib.Path(tree, f)
                p.parent.mkdir(parents=True, exist_ok=True)
                p.write_text(body + "\n", encoding="utf-8")
            faults = check(tree)
            if name is None and faults:
                print("a clean tree was faulted:", faults)
                failed = True
            if name is not None and len(faults) != 1:
                print(f"planted {name} ({text}) gave {faults}")
                failed = True
    print("every planted fault was found" if not failed else "the check missed a planted fault")
    return 1 if failed else 0


if len(sys.argv) == 2 and sys.argv[1] == "--self-test":
    sys.exit(self_test())
faults = check(sys.argv[1])
print("\n".join(faults) or "every include points down")
sys.exit(1 if faults else 0)
