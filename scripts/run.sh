#!/usr/bin/env bash
# Installs what is needed, builds, prepares the data folder and starts the
# program in it. The data folder is ~/.local/share/tessel-backup (or
# $TESSEL_DATA); installation files missing there are copied in.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
bash "$here/scripts/install-deps.sh"
bash "$here/scripts/build.sh"
data="${TESSEL_DATA:-$HOME/.local/share/tessel-backup}"
mkdir -p "$data"
for f in bkpDEF.mdb Bkpdef.def JETDB.VER; do
  [ -e "$data/$f" ] || cp "$here/build/share/tessel-backup/$f" "$data/$f"
done
cd "$data"
exec "$here/build/tessel-backup"
