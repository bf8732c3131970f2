#!/usr/bin/env bash
# Builds the Debian package as a user would (the deb target: a Release tree
# of its own, stripped) and checks what it holds and depends on, that its
# programs run from it, and that lintian finds no error.
set -euo pipefail
build="$1"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
failed=0
fail() { echo "$*"; failed=1; }

cmake --build "$build" --target deb >"$out/build.log" 2>&1 || { tail -40 "$out/build.log"; exit 1; }
deb=$(ls -t "$build"/tessel-backup_*.deb | head -1)
[ "$(dpkg-deb -f "$deb" Version)" = "$(sed -n 's/^tessel-backup (\(.*\)).*/\1/p' "$build/debian/changelog")" ] ||
  fail "the package version is not the changelog's"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/tessel-backup ./usr/bin/tessel-backupctl ./usr/bin/tessel-lzh ./usr/bin/tessel-backup-start \
         ./usr/share/tessel-backup/bkpDEF.mdb ./usr/share/tessel-backup/Bkpdef.def ./usr/share/tessel-backup/JETDB.VER \
         ./usr/share/tessel-backup/help/index.html ./usr/share/tessel-backup/help/help.css \
         ./usr/share/tessel-backup/help/MAINF.html ./usr/share/tessel-backup/help/ENGINEWAIT.html \
         ./usr/share/applications/tessel-backup.desktop ./usr/share/icons/hicolor/scalable/apps/tessel-backup.svg \
         ./usr/lib/systemd/user/tessel-backup.service ./usr/lib/systemd/user/tessel-backup.timer \
         ./usr/share/man/man1/tessel-backup.1.gz ./usr/share/man/man1/tessel-backupctl.1.gz ./usr/share/man/man1/tessel-lzh.1.gz \
         ./usr/share/man/man1/tessel-backup-start.1.gz \
         ./usr/share/doc/tessel-backup/copyright ./usr/share/doc/tessel-backup/changelog.Debian.gz; do
  grep -qxF "$f" <<<"$contents" || fail "missing from the package: $f"
done
# Nothing of the build itself (tests, build tools), and no example to copy by hand.
if grep -E 'test|make-template|share/tessel-backup/systemd' <<<"$contents"; then fail "build files in the package"; fi
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 libsqlite3-0 qt6-qpa-plugins libqt6svg6 qt6-translations-l10n fonts-noto-cjk; do
  grep -q "$d" <<<"$depends" || fail "missing dependency $d in: $depends"
done

dpkg-deb -x "$deb" "$out/root"
root="$out/root"
for p in tessel-backup tessel-backupctl tessel-lzh; do
  info=$(file -b "$root/usr/bin/$p")
  grep -q ', stripped' <<<"$info" || fail "$p is not stripped: $info"
  size=$(stat -c %s "$root/usr/bin/$p")
  [ "$size" -lt 8000000 ] || fail "$p takes $size bytes"
done
grep -qx 'ExecStart=/usr/bin/tessel-backup-start --auto' "$root/usr/lib/systemd/user/tessel-backup.service" ||
  fail "the service does not start the installed starter"
[ "$(readlink "$root/usr/share/man/man1/tessel-backup-start.1.gz")" = tessel-backup.1.gz ] || fail "tessel-backup-start has no page"

# The packaged programs run from where they lie: a data folder made from the
# packaged files, and the timer's automatic backup in it.
export TESSEL_DATA="$out/data" XDG_RUNTIME_DIR="$out"
"$root/usr/bin/tessel-backupctl" --version | grep -qx "tessel-backupctl (Tesselバックアップ管理) $(dpkg-deb -f "$deb" Version | cut -d- -f1)" ||
  fail "tessel-backupctl --version"
"$root/usr/bin/tessel-backupctl" -q init "$TESSEL_DATA" >/dev/null || fail "init from the package failed"
cmp -s "$TESSEL_DATA/bkpDEF.mdb" "$root/usr/share/tessel-backup/bkpDEF.mdb" || fail "init did not copy the packaged template"
auto=$("$root/usr/bin/tessel-backup-start" --auto 2>&1) || fail "tessel-backup-start --auto: $auto"
[ "$(printf '%s' "$auto" | head -1)" = "$(printf 'run\t1')" ] || fail "tessel-backup-start --auto said: $auto"
printf '%s\n' "$auto" | grep -qx "$(printf 'failed\t0')" || fail "tessel-backup-start --auto gave no counts: $auto"
"$root/usr/bin/tessel-backupctl" --data "$TESSEL_DATA" log --run 1 | grep -q ' 終了 ディレクトリー 0、' ||
  fail "the automatic backup left no run log"
"$root/usr/bin/tessel-backup" --help | head -1 | grep -q '^使い方: tessel-backup ' || fail "tessel-backup --help"

lintian --fail-on error --tag-display-limit 0 "$deb" >"$out/lintian.txt" 2>&1 || { cat "$out/lintian.txt"; fail "lintian found errors"; }
sed 's/^/lintian: /' "$out/lintian.txt"
[ "$failed" -eq 0 ] && echo "1 passed, 0 failed"
exit "$failed"
