#!/bin/bash
# Backup, nothing-changed run, restore and stored size against what a Linux
# user would pick instead: restic (init, backup, restore latest --target),
# tar -czf, tar with pigz, rsync -a --dry-run. Our figures come with 1 job
# and with every core (TESSEL_JOBS), each as a ratio to its peer.
# The tree: DIRS folders of FILES files (default 1,000 x 100), 0 to 64 KiB,
# half text, half random bytes (restore_bench make).
# Every figure comes twice: with everything (peers and ours) held to one
# core by taskset, and with every core. Backups and restores are timed up
# to the data being on the disk: ours sync once at their end, so each
# peer's step is followed by a sync, timed separately and added; the ratios
# to the peer alone are shown as well.
# Trees are never deleted between steps, only moved aside: ext4 makes the
# files of a tree created just after a large deletion many times slower,
# which would charge one step for an earlier one's work.
#   bench/peers_bench.sh [build folder] [work folder]
# Build the targets restore_bench and tessel-lzh first (TESSEL_BUILD_BENCH=ON).
# The machine should be otherwise idle.
set -euo pipefail

BUILD=$(cd "${1:-build}" && pwd)
WORK=${2:-/tmp/tessel-peers-bench}
DIRS=${DIRS:-1000}
FILES=${FILES:-100}
DRIVER=$BUILD/bench/restore_bench
LZH=$BUILD/tessel-lzh
CORES=$(nproc)
for t in "$DRIVER" "$LZH"; do [ -x "$t" ] || { echo "missing $t: build restore_bench and tessel-lzh" >&2; exit 2; }; done

# The peers, installed when missing.
need=()
for p in restic pigz rsync taskset; do command -v "$p" >/dev/null || need+=("$p"); done
if [ "${#need[@]}" -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  need=("${need[@]/taskset/util-linux}")
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

rm -rf "$WORK"
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
TREE=$WORK/tree
"$DRIVER" make "$TREE" "$DIRS" "$FILES" >/dev/null
echo "tree: $DIRS folders x $FILES files, $(du -sh "$TREE" | cut -f1), $CORES cores"
summary() { (cd "$TREE" && find . -type f -printf '%P %s %m\n' | LC_ALL=C sort && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 cat | sha256sum); }
summary > "$WORK/original.sum"
check() { summary | cmp -s - "$WORK/original.sum" || { echo "$1: restored tree differs from the original" >&2; exit 1; }; }

# measure NAME COMMAND...: wall seconds, CPU seconds (user + system) and
# peak RSS (MB) of one run, after a sync so that write-back left by an
# earlier step is not charged to it. On a machine shared with other work the
# CPU seconds are the steadier figure.
measure() {
  local name=$1; shift
  [ -n "${NOSYNC:-}" ] || sync
  /usr/bin/time -v -o "$WORK/$name.time" "$@" > "$WORK/$name.out" 2> "$WORK/$name.err" || {
    echo "$name failed:" >&2; cat "$WORK/$name.err" >&2; exit 1; }
  S[$name]=$(awk -F': ' '/Elapsed/ {n=split($2,p,":"); s=0; for(i=1;i<=n;i++) s=s*60+p[i]; print s}' "$WORK/$name.time")
  M[$name]=$(awk -F': ' '/Maximum resident/ {printf "%.1f", $2/1024}' "$WORK/$name.time")
  C[$name]=$(awk -F': ' '/User time/ {u=$2} /System time/ {s=$2} END {printf "%.2f", u + s}' "$WORK/$name.time")
  printf '%-24s %8.2f s  cpu %8.2f s  peak %7s MB\n' "$name" "${S[$name]}" "${C[$name]}" "${M[$name]}"
}
declare -A S C M
size() { du -sb "$1" | cut -f1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }'; }
# both NAME PEER: the wall and the CPU ratio of two measured steps.
both() { echo "$(ratio "${S[$1]}" "${S[$2]}") wall, $(ratio "${C[$1]}" "${C[$2]}") cpu"; }

# discard PATH: moves a tree out of the way without deleting it.
discard() { mkdir -p "$WORK/trash"; mv "$1" "$WORK/trash/$(date +%s%N)"; }
# plus A B: the sum of two figures.
plus() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a + b }'; }
# fastest NAME COUNT: NAME's figures are those of the fastest of the steps
# NAME-1 .. NAME-COUNT.
fastest() {
  local name=$1 pick=1 r
  for ((r = 2; r <= $2; r++)); do
    awk -v a="${S[$name-$r]}" -v b="${S[$name-$pick]}" 'BEGIN { exit !(a < b) }' && pick=$r
  done
  S[$name]=${S[$name-$pick]}; C[$name]=${C[$name-$pick]}; M[$name]=${M[$name-$pick]}
  printf '%-24s %8.2f s  cpu %8.2f s  peak %7s MB  (fastest of %d)\n' "$name" "${S[$name]}" "${C[$name]}" "${M[$name]}" "$2"
}
# durable NAME: times the sync that follows the step NAME (what it left
# to write), and records NAME-durable as the two together.
durable() {
  NOSYNC=1 measure "$1-sync" sync
  S[$1-durable]=$(plus "${S[$1]}" "${S[$1-sync]}")
  C[$1-durable]=$(plus "${C[$1]}" "${C[$1-sync]}")
}

for cores in 1 "$CORES"; do
  PIN=(); [ "$cores" -lt "$CORES" ] && PIN=(taskset -c "0-$((cores - 1))")
  c=$cores
  echo "== peers on $cores core(s)"
  measure "tar-czf-$c" "${PIN[@]}" tar -czf "$WORK/tree.tar.gz" -C "$WORK" tree
  durable "tar-czf-$c"
  measure "tar-pigz-$c" "${PIN[@]}" sh -c "tar -cf - -C '$WORK' tree | pigz > '$WORK/tree.pigz.tar.gz'"
  durable "tar-pigz-$c"
  export RESTIC_REPOSITORY=$WORK/restic-$c RESTIC_PASSWORD=bench RESTIC_CACHE_DIR=$WORK/restic-cache-$c
  restic init -q
  measure "restic-backup-$c" "${PIN[@]}" restic backup -q "$TREE"
  durable "restic-backup-$c"
  measure "restic-unchanged-$c" "${PIN[@]}" restic backup -q "$TREE"
  mv "$TREE" "$WORK/kept"
  measure "restic-restore-$c" "${PIN[@]}" restic restore latest -q --target /
  durable "restic-restore-$c"
  check restic
  discard "$TREE"
  measure "tar-xzf-$c" "${PIN[@]}" tar -xzf "$WORK/tree.tar.gz" -C "$WORK"
  durable "tar-xzf-$c"
  check tar
  discard "$TREE"
  mv "$WORK/kept" "$TREE"
  Z_TGZ=$(size "$WORK/tree.tar.gz"); Z_RESTIC=$(size "$WORK/restic-$c")

  echo "== ours on $cores core(s), TESSEL_JOBS=$cores"
  export TESSEL_JOBS=$cores
  rm -rf "$WORK/data" "$WORK/dest" "$WORK/bulk.lzh"
  measure "first-$c" "${PIN[@]}" "$DRIVER" backup "$WORK/data" "$TREE" "$WORK/dest" 1
  # Under a second each, so taken turn about with rsync, the fastest of five.
  cp -a "$TREE" "$WORK/copy"
  # The same run as the automatic backup makes it, with its run log, turn about.
  for r in 1 2 3 4 5; do
    measure "unchanged-$c-$r" "${PIN[@]}" "$DRIVER" again "$WORK/data" "$TREE" "$WORK/dest"
    measure "rsync-dry-run-$c-$r" "${PIN[@]}" rsync -a --dry-run "$TREE/" "$WORK/copy/"
    measure "unchanged-logged-$c-$r" "${PIN[@]}" "$DRIVER" auto "$WORK/data"
  done
  fastest "unchanged-$c" 5
  fastest "unchanged-logged-$c" 5
  fastest "rsync-dry-run-$c" 5
  discard "$WORK/copy"
  mv "$TREE" "$WORK/kept"
  measure "restore-$c" "${PIN[@]}" "$DRIVER" restore "$WORK/data" 1
  check "restore-$c"
  discard "$TREE"
  mv "$WORK/kept" "$TREE"
  Z_OURS=$(size "$WORK/dest")
  # The archiver alone: the whole tree in one add call (the bulk form).
  measure "bulk-add-$c" "${PIN[@]}" sh -c "find '$TREE' -type f | sort | xargs '$LZH' a --jobs $cores '$WORK/bulk.lzh'"
  Z_BULK=$(size "$WORK/bulk.lzh")
  echo "   (each peer with its sync; alone in brackets)"
  echo "   first backup / restic backup   $(both "first-$c" "restic-backup-$c-durable")  (target <= 1.5) [$(both "first-$c" "restic-backup-$c")]"
  echo "   first backup / tar -czf        $(both "first-$c" "tar-czf-$c-durable")  (target <= 0.5) [$(both "first-$c" "tar-czf-$c")]"
  echo "   first backup / tar | pigz      $(both "first-$c" "tar-pigz-$c-durable") [$(both "first-$c" "tar-pigz-$c")]"
  echo "   bulk add / tar -czf            $(both "bulk-add-$c" "tar-czf-$c-durable") [$(both "bulk-add-$c" "tar-czf-$c")]"
  echo "   nothing changed / rsync -n     $(both "unchanged-$c" "rsync-dry-run-$c")  (target <= 1.0)"
  echo "   nothing changed / restic       $(both "unchanged-$c" "restic-unchanged-$c")"
  echo "   with run log / without         $(both "unchanged-logged-$c" "unchanged-$c")  (target ~ 1.0)"
  echo "   restore / restic restore       $(both "restore-$c" "restic-restore-$c-durable")  (target <= 1.2) [$(both "restore-$c" "restic-restore-$c")]"
  echo "   restore / tar -xzf             $(both "restore-$c" "tar-xzf-$c-durable") [$(both "restore-$c" "tar-xzf-$c")]"
  echo "   stored / .tar.gz               $(ratio "$Z_OURS" "$Z_TGZ")  (target <= 1.0); bulk archive $(ratio "$Z_BULK" "$Z_TGZ"); restic $(ratio "$Z_RESTIC" "$Z_TGZ")"
  echo "   peak RSS MB: first ${M[first-$c]}, unchanged ${M[unchanged-$c]}, restore ${M[restore-$c]}, bulk ${M[bulk-add-$c]}  (target <= 200)"
  echo "sizes: tar.gz $Z_TGZ, restic repository $Z_RESTIC, version archives $Z_OURS, one bulk archive $Z_BULK bytes"
done
rm -rf "$WORK/trash"
