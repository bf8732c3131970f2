#!/usr/bin/env bash
# Builds the Debian package from the build folder and checks what it holds
# and what it depends on.
set -euo pipefail
build="$1"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/tessel-backup_*.deb)
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
missing=0
for f in ./usr/bin/tessel-backup ./usr/bin/tessel-backupctl ./usr/bin/tessel-lzh ./usr/bin/tessel-backup-start \
         ./usr/share/tessel-backup/bkpDEF.mdb ./usr/share/tessel-backup/Bkpdef.def ./usr/share/tessel-backup/JETDB.VER ./usr/share/tessel-backup/help/index.html \
         ./usr/share/applications/tessel-backup.desktop ./usr/share/icons/hicolor/scalable/apps/tessel-backup.svg \
         ./usr/share/tessel-backup/systemd/tessel-backup-auto.timer; do
  if ! grep -qxF "$f" <<<"$contents"; then echo "missing from the package: $f"; missing=1; fi
done
# Nothing of the build itself (tests, build tools) goes into the package.
if grep -E 'test|make-template' <<<"$contents"; then echo "build files in the package"; missing=1; fi
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 libsqlite3-0 qt6-qpa-plugins libqt6svg6 qt6-translations-l10n fonts-noto-cjk; do
  if ! grep -q "$d" <<<"$depends"; then echo "missing dependency $d in: $depends"; missing=1; fi
done
[ "$missing" -eq 0 ] && echo "1 passed, 0 failed"
exit "$missing"
