#!/bin/bash
# One file restored into another folder (restore --run N --to DIR PATH)
# from a catalog whose directory holds OTHER (default 1,000,000) other rows,
# against the same from a catalog holding that file alone. The rows are
# made with SQL (their copies are not needed: only the one file is read).
# Both are timed over RUNS runs each, turn about; the target is a ratio near 1.
#   bench/restore_one_bench.sh [BUILD_DIR] [WORK_DIR]
set -euo pipefail
BUILD=$(cd "${1:-build}" && pwd)
WORK=${2:-/tmp/tessel-restore-one-bench}
OTHER=${OTHER:-1000000}
RUNS=${RUNS:-5}
CTL="$BUILD/tessel-backupctl"

rm -rf "$WORK"
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
make_folder() {  # $1: name; a data folder with the one file backed up
    local d="$WORK/$1"
    mkdir -p "$d/src/docs" "$d/pre"
    echo "the file asked for" > "$d/src/docs/wanted.txt"
    "$CTL" -q init "$d/data" >/dev/null
    "$CTL" -q --data "$d/data" --yes prefix "$d/pre" --compress >/dev/null
    "$CTL" -q --data "$d/data" register "$d/src" --subdirs >/dev/null
    "$CTL" -q --data "$d/data" initial >/dev/null
    "$CTL" -q --data "$d/data" backup --title one >/dev/null
}
make_folder small
make_folder large
sqlite3 "$WORK/large/data/filebkp.mdb" <<SQL
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $OTHER)
INSERT INTO FILEKANRI (BKPNO, DIRNO, LVL, DIR, FILENM, KBN1, CHK1, FSIZE)
SELECT 0, 1, 0, '$WORK/large/src/d' || (i % 1000) || '/', 'f' || i || '.txt', '0', '1', 10 FROM n;
SQL
echo "catalog rows: small $(sqlite3 "$WORK/small/data/filebkp.mdb" 'SELECT count(*) FROM FILEKANRI'), large $(sqlite3 "$WORK/large/data/filebkp.mdb" 'SELECT count(*) FROM FILEKANRI')"

one() {  # $1: small or large
    rm -rf "$WORK/$1/out"
    /usr/bin/time -f "%e" -o "$WORK/t" "$CTL" -q --data "$WORK/$1/data" restore --run 1 --to "$WORK/$1/out" \
        "$WORK/$1/src/docs/wanted.txt" >/dev/null
    [ -f "$WORK/$1/out$WORK/$1/src/docs/wanted.txt" ] || { echo "not restored from $1" >&2; exit 1; }
    echo "$1 $(cat "$WORK/t")" >> "$WORK/all"
}
: > "$WORK/all"
for i in $(seq "$RUNS"); do one small; one large; done
median() { grep "^$1 " "$WORK/all" | awk '{print $2}' | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
s=$(median small); l=$(median large)
echo "one file, small catalog: $s s; beside $OTHER other rows: $l s (medians of $RUNS)"
awk -v s="$s" -v l="$l" 'BEGIN { printf "ratio large / small: %.2f\n", (s > 0 ? l / s : 1) }'
