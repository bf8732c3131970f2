#!/bin/bash
# Backup engine benchmark: a generated tree of FILES files (default 100,000)
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

# measure NAME COMMAND...: wall seconds and peak RSS (MB) into globals.
measure() {
    local name=$1; shift
    /usr/bin/time -v -o "$WORK/$name.time" "$@" > "$WORK/$name.out" 2> "$WORK/$name.err" || {
        echo "$name failed:" >&2; cat "$WORK/$name.err" >&2; }
    local elapsed rss
    elapsed=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$WORK/$name.time")
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$WORK/$name.time")
    SECONDS_=$(echo "$elapsed" | awk -F: '{ if (NF == 3) print $1 * 3600 + $2 * 60 + $3; else print $1 * 60 + $2 }')
    RSS_MB=$(awk -v k="$rss" 'BEGIN { printf "%.1f", k / 1024 }')
    printf '%-34s %9.2f s  %8s MB  %s\n' "$name" "$SECONDS_" "$RSS_MB" "$(cat "$WORK/$name.out" | tail -1)"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

sync
echo "== initial backup, compression on, against tar -czf"
measure tar-czf tar -czf "$WORK/reference.tgz" -C "$SRC" .
T_TAR=$SECONDS_
measure initial-backup "$DRIVER" run "$CAT" "$SRC" "$WORK/dest" 0 1 1
T_INIT=$SECONDS_; RSS_INIT=$RSS_MB
echo "   ratio initial/tar = $(ratio "$T_INIT" "$T_TAR")  (target <= 1.3)"
echo "   sizes: tar.gz $(du -sh "$WORK/reference.tgz" | cut -f1), version archives $(du -sh "$WORK/dest" | cut -f1)"

echo "== second run, nothing changed, against rsync -a --dry-run onto a copy"
cp -a "$SRC" "$WORK/copy"
measure rsync-dry-run rsync -a --dry-run "$SRC/" "$WORK/copy/"
T_RSYNC=$SECONDS_
measure no-change-run "$DRIVER" run "$CAT" "$SRC" "$WORK/dest" 1 9 1
T_SAME=$SECONDS_; RSS_SAME=$RSS_MB
echo "   ratio no-change/rsync = $(ratio "$T_SAME" "$T_RSYNC")  (target <= 1.5)"

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
measure no-change-padded "$DRIVER" run "$CAT" "$SRC" "$WORK/dest" 3 9 1
T_PAD=$SECONDS_; RSS_PAD=$RSS_MB
echo "   per-file time padded/unpadded = $(ratio "$T_PAD" "$T_SAME")  (target <= 1.5)"
echo "== peak RSS (target <= 200 MB): initial $RSS_INIT, no-change $RSS_SAME, 1% changed $RSS_CHG, padded $RSS_PAD"
