#!/bin/bash
# verify against lhasa t over the same archives: a generated tree of FILES
# files (default 100,000) in DIRS folders (default 1,000), sizes 0 to 64 KiB,
# half text and half random bytes, backed up once with compression by
# tessel-backupctl; then `tessel-backupctl verify` (every member's size and
# CRC, each archive read once) and `lhasa t` on every archive, each the
# fastest of REPEAT runs. Fails when verify is slower (ratio above 1.0).
#   bench/verify_bench.sh [build folder] [work folder]
set -euo pipefail
source "$(dirname "$0")/bench_lib.sh"

BUILD=$(realpath "${1:-build}")
WORK=${2:-/tmp/tessel-verify-bench}
FILES=${FILES:-100000}
DIRS=${DIRS:-1000}
REPEAT=${REPEAT:-3}
CTL=$BUILD/tessel-backupctl
SHARE=$BUILD/share/tessel-backup
[ -x "$CTL" ] || { echo "build the target tessel-backupctl first ($CTL)" >&2; exit 2; }
command -v lhasa >/dev/null || { echo "lhasa is missing (scripts/install-deps.sh)" >&2; exit 2; }

rm -rf "$WORK"
mkdir -p "$WORK/data" "$WORK/dest"
cp "$SHARE/bkpDEF.mdb" "$SHARE/Bkpdef.def" "$SHARE/JETDB.VER" "$WORK/data/"
echo "generating $FILES files in $DIRS folders under $WORK/src" >&2
bench_tree "$WORK/src" "$FILES" "$DIRS"

ctl() { "$CTL" --data "$WORK/data" "$@"; }
ctl --yes prefix "$WORK/dest" --compress >/dev/null 2>&1
ctl register "$WORK/src" --subdirs >/dev/null
echo "backing up" >&2
ctl backup --title bench >/dev/null

archives() { find "$WORK/dest" -name '*.lzh' -print0 | xargs -0 -n 1 lhasa t; }

ctl verify >/dev/null || { echo "verify found problems on a fresh backup" >&2; exit 1; }
V=$(fastest ctl verify)
L=$(fastest archives)
RATIO=$(python3 -c "import sys; print('%.2f' % (float(sys.argv[1]) / float(sys.argv[2])))" "$V" "$L")
echo "files $FILES  verify ${V}s  lhasa t ${L}s  ratio $RATIO (at most 1.0)"
python3 -c "import sys; sys.exit(0 if float(sys.argv[1]) <= 1.0 else 1)" "$RATIO"
