#!/usr/bin/env bash
# Installs what is needed, builds and runs every test.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
bash "$here/scripts/install-deps.sh"
bash "$here/scripts/build.sh"
# Tests never touch the user's own runtime folder or display.
runtime="$(mktemp -d)"
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=offscreen
ctest --test-dir "$here/build" --output-on-failure -j2
