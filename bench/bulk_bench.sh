#!/bin/bash
# Initial bulk backup benchmark (the machine should be otherwise idle): a
# generated tree of FILES files (default 20,000) in DIRS directories, sizes
# 0 to 64 KiB, half text and half random bytes, backed up by
# `tessel-backupctl initial` into one bulk archive; beside it tar -czf of the
# same tree, and (OLD=path of another tessel-backupctl) the same backup by
# another build. Each figure is the fastest of REPEAT runs (default 3).
#   bench/bulk_bench.sh [build folder] [work folder]
set -euo pipefail

BUILD=$(realpath "${1:-build}")
WORK=${2:-/tmp/tessel-bulk-bench}
FILES=${FILES:-20000}
DIRS=${DIRS:-200}
REPEAT=${REPEAT:-3}
CTL=$BUILD/tessel-backupctl
[ -x "$CTL" ] || { echo "build tessel-backupctl first ($CTL)" >&2; exit 2; }

rm -rf "$WORK"
mkdir -p "$WORK"
python3 - "$WORK/src" "$FILES" "$DIRS" <<'PY'
import os, random, sys
root, files, dirs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(2026)
for d in range(dirs):
    os.makedirs(os.path.join(root, f"d{d:04}"), exist_ok=True)
for i in range(files):
    size = rng.randrange(0, 64 * 1024)
    data = rng.randbytes(size) if i % 2 else (b"backup catalog version archive level " * (size // 37 + 1))[:size]
    with open(os.path.join(root, f"d{i % dirs:04}", f"f{i:06}.dat"), "wb") as f:
        f.write(data)
PY

# Fastest wall time of REPEAT runs of "$@" after `prepare`, in seconds.
best() {
    local prepare=$1; shift
    local fastest=""
    for _ in $(seq "$REPEAT"); do
        eval "$prepare"
        sync
        local start end
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s.%N)
        fastest=$(python3 -c "a='$fastest'; b=$end-$start; print(b if not a or b < float(a) else a)")
    done
    echo "$fastest"
}

fresh() {  # a data folder with one bulk registration of the tree, nothing backed up
    rm -rf "$WORK/data" "$WORK/bk"
    "$1" init "$WORK/data" >/dev/null 2>&1
    "$1" --data "$WORK/data" --yes prefix "$WORK/bk" --compress >/dev/null 2>&1
    "$1" --data "$WORK/data" register "$WORK/src" --subdirs --kind bulk >/dev/null 2>&1
}

T_TAR=$(best "rm -f $WORK/t.tgz" tar -czf "$WORK/t.tgz" -C "$WORK" src)
T_NEW=$(best "fresh $CTL" "$CTL" --data "$WORK/data" initial)
echo "initial bulk backup of $FILES files: ${T_NEW}s; tar -czf ${T_TAR}s; ratio $(python3 -c "print(round($T_NEW/$T_TAR, 2))")"
if [ -n "${OLD:-}" ]; then
    T_OLD=$(best "fresh $OLD" "$OLD" --data "$WORK/data" initial)
    echo "the other build: ${T_OLD}s; ratio this/other $(python3 -c "print(round($T_NEW/$T_OLD, 2))")"
fi
rm -rf "$WORK"
