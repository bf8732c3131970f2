#!/bin/sh
# Restore benchmark: a tree of 100,000 files (1,000 folders, 0-64 KiB, half
# text, half random) is backed up as run 1, deleted, and restored through
# RestoreDirectory; then deleted again and unpacked with tar -xzf from a
# tarball of the same tree. Both results are checked against the original.
#   bench/restore_bench.sh [BUILD_DIR] [WORK_DIR] [COMPRESSION 1|0]
# DIRS and FILES (per folder) make the tree smaller for a quick run.
set -eu
BUILD=$(cd "${1:-build}" && pwd)
WORK=${2:-/tmp/tessel-restore-bench}
COMP=${3:-1}
DIRS=${DIRS:-1000}
FILES=${FILES:-100}
B="$BUILD/bench/restore_bench"

rm -rf "$WORK"
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
echo "tree: $DIRS folders x $FILES files, compression $COMP"
"$B" make "$WORK/tree" "$DIRS" "$FILES"
"$B" backup "$WORK/data" "$WORK/tree" "$WORK/dest" "$COMP"
(cd "$WORK" && tar -czf tree.tar.gz tree)
summary() { (cd "$WORK/tree" && find . -type f -printf '%P %s %T@ %m\n' | LC_ALL=C sort && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 cat | sha256sum); }
summary > "$WORK/original.sum"
# The archive keeps whole seconds of the last-write time, tar keeps them too.
seconds() { sed -E 's/ ([0-9]+)\.[0-9]+ / \1 /' "$1"; }

rm -rf "$WORK/tree"; sync
/usr/bin/time -v "$B" restore "$WORK/data" 1 2> "$WORK/restore.time"
summary > "$WORK/restored.sum"
rm -rf "$WORK/tree"; sync
/usr/bin/time -v tar -xzf "$WORK/tree.tar.gz" -C "$WORK" 2> "$WORK/tar.time"
summary > "$WORK/tar.sum"

status=0
seconds "$WORK/original.sum" > "$WORK/o"; seconds "$WORK/restored.sum" > "$WORK/r"; seconds "$WORK/tar.sum" > "$WORK/t"
cmp -s "$WORK/o" "$WORK/r" || { echo "restored tree differs from the original"; status=1; }
cmp -s "$WORK/o" "$WORK/t" || { echo "tar tree differs from the original"; status=1; }

wall() { awk -F': ' '/Elapsed/ {n=split($2,p,":"); s=0; for(i=1;i<=n;i++) s=s*60+p[i]; print s}' "$1"; }
rss() { awk -F': ' '/Maximum resident/ {printf "%.1f", $2/1024}' "$1"; }
r=$(wall "$WORK/restore.time"); t=$(wall "$WORK/tar.time")
echo "RestoreDirectory: ${r} s, peak ${r:+$(rss "$WORK/restore.time")} MB"
echo "tar -xzf:         ${t} s, peak $(rss "$WORK/tar.time") MB"
awk -v r="$r" -v t="$t" 'BEGIN { printf "ratio restore/tar: %.2f (target <= 1.3)\n", r / t }'
du -sh "$WORK/dest" "$WORK/tree.tar.gz" | sed 's/^/size: /'
exit $status
