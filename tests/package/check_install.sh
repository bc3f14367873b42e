#!/usr/bin/env bash
# The install rules put exactly the binary and the compressed manual page under the prefix, and
# the uninstall script removes exactly those again. Installs into a staging DESTDIR, the way
# `make install DESTDIR=...` and `make uninstall DESTDIR=...` do.
# Usage: check_install.sh BUILD_DIR HELPER
set -euo pipefail
build=$1
helper=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

DESTDIR=$stage cmake --install "$build" --prefix /usr/local --strip >/dev/null

installed=$(cd "$stage" && find . -type f -o -type l | sort)
wanted=$'./usr/local/bin/tamberline-tivel-helper\n./usr/local/share/man/man1/tamberline-tivel-helper.1.gz'
if [ "$installed" != "$wanted" ]; then
  echo "FAIL: installed files:"$'\n'"$installed"$'\n'"wanted:"$'\n'"$wanted"
  exit 1
fi
manifest=$(sort "$build/install_manifest.txt")
if [ "$manifest" != "${wanted//.\/usr//usr}" ]; then
  echo "FAIL: install_manifest.txt lists:"$'\n'"$manifest"
  exit 1
fi

binary=$stage/usr/local/bin/tamberline-tivel-helper
[ -x "$binary" ] || { echo "FAIL: installed binary is not executable"; exit 1; }
[ "$("$binary" --version)" = "$("$helper" --version)" ] || { echo "FAIL: installed --version differs"; exit 1; }
if readelf -S "$binary" | grep -qE '\.symtab|\.comment'; then
  echo "FAIL: installed binary is not stripped"
  exit 1
fi
page=$stage/usr/local/share/man/man1/tamberline-tivel-helper.1.gz
gzip -t "$page"
man -l "$page" 2>&1 | grep -q "tamberline-tivel-helper" || { echo "FAIL: installed page does not render"; exit 1; }

DESTDIR=$stage cmake -P "$build/tivel_uninstall.cmake" >/dev/null
left=$(cd "$stage" && find . -type f -o -type l)
if [ -n "$left" ]; then
  echo "FAIL: left behind after uninstall:"$'\n'"$left"
  exit 1
fi
echo "install and uninstall OK"
