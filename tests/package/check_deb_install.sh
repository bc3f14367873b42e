#!/usr/bin/env bash
# The package installs with dpkg into a throwaway root, its postinst gives the binary its file
# capability, its binary runs from there, its version (control field, --version, manual page) is
# the one the build's binary reports, its architecture and dependencies are the binary's, and
# removing it leaves nothing behind. A package for another architecture installs with dpkg's
# consent and its binary runs through TIVEL_EMULATOR.
# Usage: check_deb_install.sh DEB_DIR HELPER
set -euo pipefail
debs=("$1"/*.deb)
helper=$2
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: expected one .deb in $1"; exit 1; }
deb=${debs[0]}
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: dpkg --root needs root"
  exit 77
fi
source "$(dirname "$0")/common.sh"
version=$(helper_version "$helper")
expected="tamberline-tivel-helper $version"

[ "$(dpkg-deb -f "$deb" Package)" = tamberline-tivel-helper ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "control Version $(dpkg-deb -f "$deb" Version) is not $version"
# Dependencies are computed from the binary: the C library for a dynamic one, nothing for a
# static one.
depends=$(dpkg-deb -f "$deb" Depends)
if readelf -lW "$helper" | grep -qE '^\s+INTERP\s'; then
  grep -q 'libc6 (>= ' <<<"$depends" || fail "Depends '$depends' was not computed from the binary"
else
  [ -z "$depends" ] || fail "a static binary's package depends on '$depends'"
fi
case $(readelf -hW "$helper" | sed -n 's/^ *Machine: *//p') in
  "Advanced Micro Devices X86-64") arch=amd64 ;;
  AArch64) arch=arm64 ;;
  *) fail "no Debian architecture known for $helper" ;;
esac
[ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "control Architecture $(dpkg-deb -f "$deb" Architecture) is not $arch"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no Maintainer"
[ "$(basename "$deb")" = "tamberline-tivel-helper_${version}_${arch}.deb" ] ||
  fail "file name $(basename "$deb")"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# The throwaway root has no libc6 registered; the host's libraries run the binary. It has no
# shell either, so the postinst runs outside it, told where the root is by DPKG_ROOT.
dpkg=(dpkg --root="$root" --log=/dev/null --force-depends --force-script-chrootless)
[ "$arch" = "$(dpkg --print-architecture)" ] || dpkg+=(--force-architecture)
out=$("${dpkg[@]}" -i "$deb" 2>&1) || fail "dpkg -i: $out"
# The postinst gave the binary the scan right, so fresh scans need no sudo.
if command -v setcap >/dev/null; then
  caps=$(getcap "$root/usr/bin/tamberline-tivel-helper")
  [ "$caps" = "$root/usr/bin/tamberline-tivel-helper cap_net_admin=ep" ] ||
    fail "postinst left the capabilities '$caps'"
fi
[ "$(dpkg-deb -f "$deb" Recommends)" = libcap2-bin ] || fail "does not recommend libcap2-bin"

listed=$("${dpkg[@]}" -L tamberline-tivel-helper | sort)
for path in /usr/bin/tamberline-tivel-helper /usr/share/man/man1/tamberline-tivel-helper.1.gz \
  /usr/share/doc/tamberline-tivel-helper/copyright /usr/share/doc/tamberline-tivel-helper/changelog.gz \
  /usr/lib/systemd/user/tamberline-tivel-helper.socket \
  /usr/lib/systemd/user/tamberline-tivel-helper.service; do
  grep -qx "$path" <<<"$listed" || fail "package does not hold $path"
  [ -f "$root$path" ] || fail "$path was not installed"
done
# The user units start the packaged binary; nothing enables them (no user's socket listens until
# that user runs systemctl --user enable).
grep -qx 'ExecStart=/usr/bin/tamberline-tivel-helper' "$root/usr/lib/systemd/user/tamberline-tivel-helper.service" ||
  fail "the packaged service does not start /usr/bin/tamberline-tivel-helper"
[ -z "$(find "$root" -path '*.wants/*' -print -quit)" ] || fail "the package enabled a unit"
bash "$(dirname "$0")/check_units.sh" "$root" /usr || [ $? = 77 ] || exit 1
[ "$("${dpkg[@]}" -s tamberline-tivel-helper | sed -n 's/^Version: //p')" = "$version" ] || fail "installed version"

installed=$(run "$root/usr/bin/tamberline-tivel-helper" --version)
[ "$installed" = "$expected" ] || fail "installed binary says '$installed', build says '$expected'"
page_version=$(zcat "$root/usr/share/man/man1/tamberline-tivel-helper.1.gz" |
  sed -n 's/^\.TH [^ ]* [^ ]* "[^"]*" "\([^"]*\)".*/\1/p')
[ "$page_version" = "$expected" ] || fail "installed manual page says '$page_version'"
zcat "$root/usr/share/doc/tamberline-tivel-helper/changelog.gz" | head -1 | grep -qF "($version)" ||
  fail "changelog's first entry is not $version"

out=$("${dpkg[@]}" -r tamberline-tivel-helper 2>&1) || fail "dpkg -r: $out"
left=$(cd "$root" && find usr -type f 2>/dev/null || true)
[ -z "$left" ] || fail "left behind after dpkg -r: $left"
echo "package $version installs, runs and removes cleanly"
