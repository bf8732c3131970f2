#!/bin/sh
# What resolving every write below its root costs: the same tree backed up
# with plain copies and restored, in place, with paths resolved by openat2
# (RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS) and by the component-by-component
# O_NOFOLLOW walk used where the kernel lacks it (TESSEL_RESOLVE=walk),
# turn about, RUNS times each; user+sys CPU seconds and wall seconds of
# every restore, then the medians and their ratio.
#   bench/resolve_bench.sh [BUILD_DIR] [WORK_DIR] [COMPRESSION 1|0]
# DIRS, FILES (per folder) and RUNS make it smaller or steadier.
set -eu
BUILD=$(cd "${1:-build}" && pwd)
WORK=${2:-/tmp/tessel-resolve-bench}
COMP=${3:-0}
DIRS=${DIRS:-400}
FILES=${FILES:-100}
RUNS=${RUNS:-5}
B="$BUILD/bench/restore_bench"

rm -rf "$WORK"
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
echo "tree: $DIRS folders x $FILES files, compression $COMP, $RUNS runs each"
"$B" make "$WORK/tree" "$DIRS" "$FILES" >/dev/null
"$B" backup "$WORK/data" "$WORK/tree" "$WORK/dest" "$COMP" >/dev/null

one() {  # $1: openat2 or walk
    rm -rf "$WORK/tree"; sync
    if [ "$1" = walk ]; then export TESSEL_RESOLVE=walk; else unset TESSEL_RESOLVE; fi
    /usr/bin/time -f "%U %S %e" -o "$WORK/t" "$B" restore "$WORK/data" 1 >/dev/null
    awk -v how="$1" '{ printf "%s %.2f %.2f\n", how, $1 + $2, $3 }' "$WORK/t" >> "$WORK/all"
}
: > "$WORK/all"
i=0
while [ $i -lt "$RUNS" ]; do one openat2; one walk; i=$((i + 1)); done
median() { grep "^$1 " "$WORK/all" | awk -v c="$2" '{print $c}' | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
for how in openat2 walk; do echo "$how: cpu $(median $how 2) s, wall $(median $how 3) s (medians)"; done
awk -v a="$(median openat2 2)" -v b="$(median walk 2)" 'BEGIN { printf "cpu ratio openat2/walk: %.3f\n", a / b }'
