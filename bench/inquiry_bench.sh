#!/bin/sh
# Builds and runs the inquiry benchmark: a catalog of 1,000,000 FILEKANRI
# rows (made once, kept in the temporary folder), then open and click times
# of the three inquiry windows, offscreen.
# Usage: bench/inquiry_bench.sh [build folder]
set -e
build=${1:-build}
cmake --build "$build" --target inquiry_bench
catalog=${TMPDIR:-/tmp}/inquiry_bench.mdb
XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp} QT_QPA_PLATFORM=offscreen "$build/bench/inquiry_bench" "$catalog"
