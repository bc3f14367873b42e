#!/usr/bin/env bash
# The release tarball holds one folder, named for the version and architecture, with the static binary, the manual page and the README;
# the binary is fully static and stripped, built for the architecture the tarball's name says,
# reports the build's version, and serves a page from an empty chroot that holds nothing but
# itself (and the emulator, for another architecture's binary: TIVEL_EMULATOR runs the binaries).
# Usage: check_static.sh TARBALL HELPER MAN_PAGE CHROOT_CLIENT
set -euo pipefail
tarball=$1
helper=$2
man_page=$3
client=$4
source "$(dirname "$0")/common.sh"

version=$(helper_version "$helper")
expected="tamberline-tivel-helper $version"
[[ $(basename "$tarball") == tamberline-tivel-helper-"$version"-linux-*-static.tar.gz ]] || fail "tarball name $(basename "$tarball")"
arch=${tarball##*-linux-}
arch=${arch%-static.tar.gz}
# The folder names the architecture, so both tarballs unpacked side by side keep both binaries.
folder=tamberline-tivel-helper-$version-linux-$arch
case $arch in
  x86_64) machine="Advanced Micro Devices X86-64" ;;
  aarch64) machine=AArch64 ;;
  *) fail "unknown architecture $arch in the tarball's name" ;;
esac

listing=$(tar tzf "$tarball" | sort)
wanted="$folder/"$'\n'"$folder/README.md"$'\n'"$folder/tamberline-tivel-helper"$'\n'"$folder/tamberline-tivel-helper.1"
[ "$listing" = "$wanted" ] || fail "tarball holds:"$'\n'"$listing"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tar xzf "$tarball" -C "$work"
binary=$work/$folder/tamberline-tivel-helper
cmp -s "$work/$folder/tamberline-tivel-helper.1" "$man_page" || fail "tarball's manual page differs from the build's"

# ldd refuses a static binary; the ELF headers agree: no interpreter, no dynamic section.
ldd_out=$(ldd "$binary" 2>&1 || true)
grep -q "not a dynamic executable" <<<"$ldd_out" || fail "ldd says: $ldd_out"
program_headers=$(readelf -lW "$binary")
grep -qE '^\s+(INTERP|DYNAMIC)\s' <<<"$program_headers" && fail "binary has INTERP or DYNAMIC segments"
readelf -SW "$binary" | grep -q '\.symtab' && fail "binary is not stripped"
readelf -hW "$binary" | grep -qE "^\s+Machine:\s+$machine\$" || fail "binary is not built for $arch"

[ "$(run "$binary" --version)" = "$expected" ] || fail "static --version says '$(run "$binary" --version)'"
echo "static binary: $(stat -c %s "$binary") bytes, $arch, not dynamic, stripped, $expected"

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: the chroot check needs root"
  exit 77
fi
node "$client" "$binary" "$version"
