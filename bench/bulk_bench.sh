#!/bin/bash
# Initial bulk backup benchmark (the machine should be otherwise idle): a
# generated tree of FILES files (default 20,000) in DIRS directories, sizes
# 0 to 64 KiB, half text of a few words and half random bytes, backed up by
# `tessel-backupctl initial` into one bulk archive; beside it tar -czf of the
# same tree, and (OLD=path of another tessel-backupctl) the same backup by
# another build. Each figure is the fastest of REPEAT runs (default 3).
#   bench/bulk_bench.sh [build folder] [work folder]
set -euo pipefail
source "$(dirname "$0")/bench_lib.sh"

BUILD=$(realpath "${1:-build}")
WORK=${2:-/tmp/tessel-bulk-bench}
FILES=${FILES:-20000}
DIRS=${DIRS:-200}
REPEAT=${REPEAT:-3}
CTL=$BUILD/tessel-backupctl
[ -x "$CTL" ] || { echo "build tessel-backupctl first ($CTL)" >&2; exit 2; }

rm -rf "$WORK"
mkdir -p "$WORK"
bench_tree "$WORK/src" "$FILES" "$DIRS"

fresh() {  # a data folder with one bulk registration of the tree, nothing backed up
    rm -rf "$WORK/data" "$WORK/bk"
    "$1" init "$WORK/data" >/dev/null 2>&1
    "$1" --data "$WORK/data" --yes prefix "$WORK/bk" --compress >/dev/null 2>&1
    "$1" --data "$WORK/data" register "$WORK/src" --subdirs --kind bulk >/dev/null 2>&1
}

T_TAR=$(BEFORE="rm -f $WORK/t.tgz" fastest tar -czf "$WORK/t.tgz" -C "$WORK" src)
T_NEW=$(BEFORE="fresh $CTL" fastest "$CTL" --data "$WORK/data" initial)
echo "initial bulk backup of $FILES files: ${T_NEW}s; tar -czf ${T_TAR}s; ratio $(python3 -c "print(round($T_NEW/$T_TAR, 2))")"
if [ -n "${OLD:-}" ]; then
    T_OLD=$(BEFORE="fresh $OLD" fastest "$OLD" --data "$WORK/data" initial)
    echo "the other build: ${T_OLD}s; ratio this/other $(python3 -c "print(round($T_NEW/$T_OLD, 2))")"
fi
rm -rf "$WORK"
