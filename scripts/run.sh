#!/usr/bin/env bash
# Installs what is needed, builds, prepares the data folder and starts the
# program in it. The data folder is $TESSEL_DATA, else
# $XDG_DATA_HOME/tessel-backup (~/.local/share/tessel-backup), made with
# tessel-backupctl init at the first start.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
bash "$here/scripts/install-deps.sh"
bash "$here/scripts/build.sh"
# The same starter as the menu entry's, beside the built programs.
exec "$here/build/tessel-backup-start"
