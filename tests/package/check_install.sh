#!/usr/bin/env bash
# `make install` puts exactly the binary, the compressed manual page and the two user units under
# the prefix (the service naming the installed binary), and `make uninstall` removes exactly those
# again, with no build folder at all. Runs the make targets on this build tree (without rebuilding
# it), installing into a staging DESTDIR.
# Usage: check_install.sh SOURCE_DIR BUILD_DIR HELPER
set -euo pipefail
source=$1
build=$2
helper=$3
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
# A make of our own, not a job of whichever make may have started the test run.
run_make() {
  env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make --no-print-directory -C "$source" PACKAGE_DIR="$build" "$@"
}

run_make install-files DESTDIR="$stage" >/dev/null

installed=$(cd "$stage" && find . -type f -o -type l | sort)
wanted=$(printf './usr/local/%s\n' bin/tamberline-tivel-helper \
  lib/systemd/user/tamberline-tivel-helper.service lib/systemd/user/tamberline-tivel-helper.socket \
  share/man/man1/tamberline-tivel-helper.1.gz)
if [ "$installed" != "$wanted" ]; then
  echo "FAIL: installed files:"$'\n'"$installed"$'\n'"wanted:"$'\n'"$wanted"
  exit 1
fi
units=$stage/usr/local/lib/systemd/user
grep -qx 'ExecStart=/usr/local/bin/tamberline-tivel-helper' "$units/tamberline-tivel-helper.service" ||
  { echo "FAIL: the service does not start the installed binary"; exit 1; }
for unit in "$units"/*; do
  [ "$(stat -c %a "$unit")" = 644 ] || { echo "FAIL: $unit has mode $(stat -c %a "$unit")"; exit 1; }
done
bash "$(dirname "$0")/check_units.sh" "$stage" /usr/local || [ $? = 77 ] || exit 1

binary=$stage/usr/local/bin/tamberline-tivel-helper
[ -x "$binary" ] || { echo "FAIL: installed binary is not executable"; exit 1; }
[ "$("$binary" --version)" = "$("$helper" --version)" ] || { echo "FAIL: installed --version differs"; exit 1; }
if readelf -S "$binary" | grep -qE '\.symtab|\.comment'; then
  echo "FAIL: installed binary is not stripped"
  exit 1
fi
# SETCAP=1 gives the installed binary the scan right as a file capability (setting one needs root).
if [ "$(id -u)" -eq 0 ] && command -v setcap >/dev/null; then
  run_make install-files DESTDIR="$stage" SETCAP=1 >/dev/null
  caps=$(getcap "$binary")
  [ "$caps" = "$binary cap_net_admin=ep" ] || { echo "FAIL: SETCAP=1 left '$caps'"; exit 1; }
fi
page=$stage/usr/local/share/man/man1/tamberline-tivel-helper.1.gz
gzip -t "$page"
man -l "$page" 2>&1 | grep -q "tamberline-tivel-helper" || { echo "FAIL: installed page does not render"; exit 1; }

# Uninstall needs no build folder (it follows no list kept in one), and
# leaves alone what it did not install.
touch "$stage/usr/local/bin/not-ours"
run_make uninstall DESTDIR="$stage" PACKAGE_DIR="$stage/no-such-build" >/dev/null
left=$(cd "$stage" && find . \( -type f -o -type l \) ! -name not-ours)
[ -f "$stage/usr/local/bin/not-ours" ] || { echo "FAIL: uninstall removed a file it did not install"; exit 1; }
if [ -n "$left" ]; then
  echo "FAIL: left behind after uninstall:"$'\n'"$left"
  exit 1
fi
if run_make uninstall DESTDIR="$stage" >/dev/null 2>&1; then
  echo "FAIL: a second uninstall claimed to remove something"
  exit 1
fi
echo "install and uninstall OK"
