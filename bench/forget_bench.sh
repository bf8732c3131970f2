#!/bin/bash
# forget against restic forget --prune on the same tree: a generated tree of
# FILES files (default 100,000) in DIRS folders (default 100), every file
# rewritten before each of RUNS runs (default 10), so that the catalog holds
# FILES * RUNS versions (1,000,000); the same runs are backed up by
# tessel-backupctl (compressed) and by restic, dated DAYS days apart. Then
# the same policy is applied by `tessel-backupctl forget` and by
# `restic forget --prune`: wall and CPU seconds, peak RSS and the space each
# gets back, with the ratios tessel/restic. After the forget `verify` must
# be clean. Needs restic (apt-get install restic; only this script uses it).
#   bench/forget_bench.sh [build folder] [work folder]
#   POLICY="--keep-last 2 --keep-weekly 2 --keep-monthly 2" (the default)
set -euo pipefail

BUILD=$(realpath "${1:-build}")
WORK=${2:-/tmp/tessel-forget-bench}
FILES=${FILES:-100000}
DIRS=${DIRS:-100}
RUNS=${RUNS:-10}
DAYS=${DAYS:-4}
POLICY=${POLICY:---keep-last 2 --keep-weekly 2 --keep-monthly 2}
CTL=$BUILD/tessel-backupctl
SHARE=$BUILD/share/tessel-backup
[ -x "$CTL" ] || { echo "build the target tessel-backupctl first ($CTL)" >&2; exit 2; }
command -v restic >/dev/null || { echo "restic is missing (apt-get install restic)" >&2; exit 2; }

rm -rf "$WORK"
mkdir -p "$WORK/data" "$WORK/dest"
cp "$SHARE/bkpDEF.mdb" "$SHARE/Bkpdef.def" "$SHARE/JETDB.VER" "$WORK/data/"
export RESTIC_REPOSITORY=$WORK/restic RESTIC_PASSWORD=bench RESTIC_CACHE_DIR=$WORK/restic-cache
restic init >/dev/null 2>&1

# write RUN: every file gets new contents (0 to 4 KiB of text that differs
# from run to run).
write() {
    python3 - "$WORK/src" "$FILES" "$DIRS" "$1" <<'PY'
import os, random, sys
root, files, dirs, run = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
rng = random.Random(run)
words = [b"backup", b"version", b"catalog", b"archive", b"level", b"folder", b"file", b"data", b"\n"]
text = b" ".join(rng.choice(words) for _ in range(200000))
for d in range(dirs):
    os.makedirs(os.path.join(root, "d%03d" % d), exist_ok=True)
for i in range(files):
    size = rng.randrange(0, 4096)
    at = rng.randrange(0, len(text) - 4096)
    with open(os.path.join(root, "d%03d" % (i % dirs), "f%06d.txt" % i), "wb") as f:
        f.write(b"run %d file %d\n" % (run, i) + text[at:at + size])
PY
}
# started RUN: the run's date and time, DAYS days apart from 2023-11-20.
started() { date -u -d "2023-11-20 21:00:00 UTC + $(( ($1 - 1) * DAYS )) days" '+%Y-%m-%d %H:%M:%S'; }

ctl() { "$CTL" --data "$WORK/data" "$@"; }
ctl --yes prefix "$WORK/dest" --compress >/dev/null 2>&1
mkdir -p "$WORK/src"
ctl register "$WORK/src" --subdirs >/dev/null
for run in $(seq "$RUNS"); do
    echo "run $run of $RUNS: writing $FILES files, backing up" >&2
    write "$run"
    ctl -q backup --title "run $run" >/dev/null
    when=$(started "$run")
    python3 - "$WORK/data/filebkp.mdb" "$run" "$when" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
day, time = sys.argv[3].split(" ")
db.execute("UPDATE BKPNAME SET DAY1 = ?, TIME1 = ? WHERE BKPNO = ?", (day, time, int(sys.argv[2])))
db.commit()
PY
    restic backup -q --time "$when" "$WORK/src" >/dev/null
done
VERSIONS=$(python3 -c "import sqlite3, sys; print(sqlite3.connect(sys.argv[1]).execute('SELECT COUNT(*) FROM FILEKANRI').fetchone()[0])" "$WORK/data/filebkp.mdb")
ctl verify >/dev/null || { echo "verify found problems before the forget" >&2; exit 1; }

# measure NAME COMMAND...: wall seconds, CPU seconds and peak RSS (MB) of
# one run, after a sync.
measure() {
    local name=$1; shift
    sync
    /usr/bin/time -v -o "$WORK/$name.time" "$@" > "$WORK/$name.out" 2> "$WORK/$name.err" || {
        echo "$name failed:" >&2; cat "$WORK/$name.err" >&2; exit 1; }
    local elapsed user sys rss
    elapsed=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$WORK/$name.time")
    user=$(sed -n 's/.*User time (seconds): //p' "$WORK/$name.time")
    sys=$(sed -n 's/.*System time (seconds): //p' "$WORK/$name.time")
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$WORK/$name.time")
    WALL_=$(echo "$elapsed" | awk -F: '{ if (NF == 3) print $1 * 3600 + $2 * 60 + $3; else print $1 * 60 + $2 }')
    CPU_=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
    RSS_=$(awk -v k="$rss" 'BEGIN { printf "%.1f", k / 1024 }')
    printf '%-16s wall %8.2f s  cpu %8.2f s  rss %7s MB\n' "$name" "$WALL_" "$CPU_" "$RSS_"
}
bytes() { du -sb "$1" | cut -f1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "== $FILES files, $RUNS runs, $VERSIONS versions; policy: $POLICY"
D0=$(bytes "$WORK/dest"); R0=$(bytes "$WORK/restic")
# shellcheck disable=SC2086
measure tessel-dry-run "$CTL" --data "$WORK/data" -q forget $POLICY --dry-run
# shellcheck disable=SC2086
measure tessel-forget "$CTL" --data "$WORK/data" -q forget $POLICY
T_WALL=$WALL_; T_CPU=$CPU_; T_RSS=$RSS_
# shellcheck disable=SC2086
measure restic-forget restic forget -q $POLICY --prune
R_WALL=$WALL_; R_CPU=$CPU_; R_RSS=$RSS_
D1=$(bytes "$WORK/dest"); R1=$(bytes "$WORK/restic")
grep -E '^(runs_removed|versions_removed|versions_released|bytes_freed)' "$WORK/tessel-forget.out" | tr '\n' ' '; echo
echo "destination $D0 -> $D1 bytes (freed $((D0 - D1))); restic repository $R0 -> $R1 bytes (freed $((R0 - R1)))"
echo "ratio tessel/restic: wall $(ratio "$T_WALL" "$R_WALL"), cpu $(ratio "$T_CPU" "$R_CPU"), peak rss $(ratio "$T_RSS" "$R_RSS")"
ctl verify >/dev/null || { echo "verify found problems after the forget" >&2; exit 1; }
echo "verify clean after the forget"
