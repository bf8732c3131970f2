#!/bin/bash
# Backup engine benchmark (the machine should be otherwise idle; each
# figure is the fastest of REPEAT runs where it says so): a generated tree of FILES files (default 100,000)
# in DIRS directories (default 1,000), sizes 0 to 64 KiB, half text and half
# random bytes, backed up through BackupDirectory; each figure beside a
# reference run of tar or rsync on the same tree.
#   bench/backup_bench.sh [build folder] [work folder]
set -euo pipefail

BUILD=$(realpath "${1:-build}")
WORK=${2:-/tmp/tessel-backup-bench}
FILES=${FILES:-100000}
DIRS=${DIRS:-1000}
PAD=${PAD:-1000000}
DRIVER=$BUILD/bench/tessel-backup-bench
TEMPLATE=$BUILD/share/tessel-backup/bkpDEF.mdb
[ -x "$DRIVER" ] || { echo "build the target tessel-backup-bench first ($DRIVER)" >&2; exit 2; }

rm -rf "$WORK"
mkdir -p "$WORK/dest"
SRC=$WORK/src
CAT=$WORK/filebkp.mdb
cp "$TEMPLATE" "$CAT"

echo "generating $FILES files in $DIRS directories under $SRC" >&2
python3 - "$SRC" "$FILES" "$DIRS" <<'PY'
import os, random, sys
root, files, dirs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(2024)
words = ["backup", "version", "catalog", "archive", "level", "folder", "file", "data", "note", "report",
         "テキスト", "ファイル", "保存", "世代", "日付", "更新", "\n"]
text = " ".join(rng.choice(words) for _ in range(400000)).encode()
groups = max(1, dirs // 100)
per_group = dirs // groups
paths = [os.path.join(root, "g%02d" % g, "d%03d" % d) for g in range(groups) for d in range(per_group)]
for p in paths:
    os.makedirs(p, exist_ok=True)
for i in range(files):
    size = rng.randint(0, 65536)
    if i % 2 == 0:
        at = rng.randint(0, len(text) - 65537)
        data = text[at:at + size]
    else:
        data = os.urandom(size)
    with open(os.path.join(paths[i % len(paths)], "file%06d.%s" % (i, "txt" if i % 2 == 0 else "bin")), "wb") as f:
        f.write(data)
PY
du -sh "$SRC" >&2

# measure NAME COMMAND...: runs the command REPEAT times (after a sync, so
# that write-back left by an earlier step is not charged to it) and keeps
# the fastest: wall seconds, CPU seconds (user + system, children
# included) and peak RSS (MB) into globals.
measure() {
    local name=$1; shift
    local best="" i
    for ((i = 1; i <= ${REPEAT:-1}; ++i)); do
        sync
        /usr/bin/time -v -o "$WORK/$name.time" "$@" > "$WORK/$name.out" 2> "$WORK/$name.err" || {
            echo "$name failed:" >&2; cat "$WORK/$name.err" >&2; }
        local elapsed rss user sys wall
        elapsed=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$WORK/$name.time")
        rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$WORK/$name.time")
        user=$(sed -n 's/.*User time (seconds): //p' "$WORK/$name.time")
        sys=$(sed -n 's/.*System time (seconds): //p' "$WORK/$name.time")
        wall=$(echo "$elapsed" | awk -F: '{ if (NF == 3) print $1 * 3600 + $2 * 60 + $3; else print $1 * 60 + $2 }')
        if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$wall
            SECONDS_=$wall
            CPU_=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
            RSS_MB=$(awk -v k="$rss" 'BEGIN { printf "%.1f", k / 1024 }')
        fi
    done
    printf '%-22s wall %8.2f s  cpu %8.2f s  rss %7s MB  %s\n' "$name" "$SECONDS_" "$CPU_" "$RSS_MB" \
        "$(tail -1 "$WORK/$name.out")"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "== initial backup, compression on, against tar -czf"
measure tar-czf tar -czf "$WORK/reference.tgz" -C "$SRC" .
T_TAR=$SECONDS_; C_TAR=$CPU_
measure initial-backup "$DRIVER" run "$CAT" "$SRC" "$WORK/dest" 0 1 1
T_INIT=$SECONDS_; C_INIT=$CPU_; RSS_INIT=$RSS_MB
echo "   ratio initial/tar = $(ratio "$T_INIT" "$T_TAR") wall, $(ratio "$C_INIT" "$C_TAR") cpu  (target <= 1.3)"
echo "   sizes: tar.gz $(du -sh "$WORK/reference.tgz" | cut -f1), version archives $(du -sh "$WORK/dest" | cut -f1)"

echo "== second run, nothing changed, against rsync -a --dry-run onto a copy"
cp -a "$SRC" "$WORK/copy"
REPEAT=3 measure rsync-dry-run rsync -a --dry-run "$SRC/" "$WORK/copy/"
T_RSYNC=$SECONDS_; C_RSYNC=$CPU_
REPEAT=3 measure no-change-run "$DRIVER" run "$CAT" "$SRC" "$WORK/dest" 1 9 1
T_SAME=$SECONDS_; C_SAME=$CPU_; RSS_SAME=$RSS_MB
echo "   ratio no-change/rsync = $(ratio "$T_SAME" "$T_RSYNC") wall, $(ratio "$C_SAME" "$C_RSYNC") cpu  (target <= 1.5)"

echo "== the same no-change run with 20 exclusion patterns (none matches the tree: every file is still examined)"
"$DRIVER" patterns "$CAT" 'node_modules/' '*.tmp' '*.swp' '.cache/' 'build/' 'dist/' 'target/' '__pycache__/' '*.pyc' \
    '*.o' '*.class' '.git/' '*.log' '*~' '/tmp/' '**/cache/**' 'Thumbs.db' '*.bak' 'g*/d*/core.[0-9]' '!keep.log' > /dev/null
REPEAT=3 measure no-change-patterns "$DRIVER" run "$CAT" "$SRC" "$WORK/dest" 1 9 1
T_PAT=$SECONDS_; C_PAT=$CPU_
echo "   ratio patterns/no patterns = $(ratio "$T_PAT" "$T_SAME") wall, $(ratio "$C_PAT" "$C_SAME") cpu  (target <= 1.05)"
"$DRIVER" patterns "$CAT" > /dev/null

echo "== third run, 1% of the files changed"
python3 - "$SRC" "$FILES" <<'PY'
import os, random, sys
root, files = sys.argv[1], int(sys.argv[2])
all_files = sorted(os.path.join(d, f) for d, _, fs in os.walk(root) for f in fs)
rng = random.Random(7)
for p in rng.sample(all_files, max(1, files // 100)):
    with open(p, "ab") as f:
        f.write(b"changed\n")
PY
measure one-percent-changed "$DRIVER" run "$CAT" "$SRC" "$WORK/dest" 2 9 1
RSS_CHG=$RSS_MB

echo "== no-change run with $PAD extra FILEKANRI rows of other directories"
"$DRIVER" pad "$CAT" "$PAD" > /dev/null
REPEAT=3 measure no-change-padded "$DRIVER" run "$CAT" "$SRC" "$WORK/dest" 3 9 1
T_PAD=$SECONDS_; C_PAD=$CPU_; RSS_PAD=$RSS_MB
echo "   per-file time padded/unpadded = $(ratio "$T_PAD" "$T_SAME") wall, $(ratio "$C_PAD" "$C_SAME") cpu  (target <= 1.5)"
echo "== peak RSS (target <= 200 MB): initial $RSS_INIT, no-change $RSS_SAME, 1% changed $RSS_CHG, padded $RSS_PAD"
