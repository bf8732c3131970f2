#!/bin/bash
# The backup run after a killed one, against the same run without the kill.
# A tree of DIRS x FILES files (0-64 KiB, half text, half random) is backed
# up, then every file is touched, so that the next run stores every file
# again, at level 2. Two copies of that state are made: on the first the
# next run is timed as it is (clean); on the second the next run is killed
# at KILL_AT (default 0.6) of the clean run's time, after it has stored a
# good part of the files, and the run after it is timed (after kill). The
# target is a ratio after kill / clean of at most 1.5.
#   bench/recovery_bench.sh [BUILD_DIR] [WORK_DIR] [COMPRESSION 1|0]
set -euo pipefail
BUILD=$(cd "${1:-build}" && pwd)
WORK=${2:-/tmp/tessel-recovery-bench}
COMP=${3:-1}
DIRS=${DIRS:-20}
FILES=${FILES:-50}
KILL_AT=${KILL_AT:-0.6}
B="$BUILD/bench/restore_bench"

rm -rf "$WORK"
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
echo "tree: $DIRS folders x $FILES files, compression $COMP"
"$B" make "$WORK/tree" "$DIRS" "$FILES" >/dev/null
"$B" backup "$WORK/base/data" "$WORK/tree" "$WORK/base/dest" "$COMP" >/dev/null
sleep 1.1
find "$WORK/tree" -type f -exec touch {} +

twin() {  # $1: name; a copy of the base state with its own destination
    cp -a "$WORK/base" "$WORK/$1"
    sqlite3 "$WORK/$1/data/filebkp.mdb" "UPDATE BKPDIR SET DIR = '$WORK/$1/dest' WHERE DIRNO = 0;
                                          UPDATE BKPDIR SET BKPDIR = '$WORK/$1/dest' WHERE DIRNO = 1;"
}
twin clean
twin killed
sync

seconds() { /usr/bin/time -f "%e" -o "$WORK/t" "$@" >/dev/null; cat "$WORK/t"; }
clean=$(seconds "$B" again "$WORK/clean/data" "$WORK/tree" "$WORK/clean/dest")
kill_after=$(awk -v c="$clean" -v k="$KILL_AT" 'BEGIN { printf "%.2f", c * k }')
"$B" again "$WORK/killed/data" "$WORK/tree" "$WORK/killed/dest" >/dev/null &
pid=$!
sleep "$kill_after"
kill -9 "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
left=$(du -sb "$WORK/killed/dest" | cut -f1)
after=$(seconds "$B" again "$WORK/killed/data" "$WORK/tree" "$WORK/killed/dest")
echo "clean run:           ${clean} s"
echo "killed after:        ${kill_after} s (destination then $left bytes)"
echo "run after the kill:  ${after} s"
awk -v a="$after" -v c="$clean" 'BEGIN { printf "ratio after kill / clean: %.2f (target <= 1.5)\n", a / c }'
du -sb "$WORK/clean/dest" "$WORK/killed/dest" | sed 's/^/size: /'
