#!/usr/bin/env bash
# Two builds of the same sources in different folders, from copies at different paths, gave the
# same bytes: the static binary, the release tarball and the .deb (packed here from the second
# build and compared with the first build's).
# Usage: check_reproducible.sh FIRST_BUILD SECOND_BUILD FIRST_DEB_DIR
set -euo pipefail
first=$1
second=$2
first_debs=("$3"/*.deb)
[ ${#first_debs[@]} -eq 1 ] && [ -f "${first_debs[0]}" ] || { echo "FAIL: expected one .deb in $3"; exit 1; }
[ "$first" != "$second" ] || { echo "FAIL: both builds are $first"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack -G DEB --config "$second/CPackConfig.cmake" -B "$work" >/dev/null
second_debs=("$work"/*.deb)

failures=0
compare() {
  if [ ! -f "$1" ] || [ ! -f "$2" ]; then
    echo "FAIL: missing $1 or $2"
    failures=$((failures + 1))
  elif cmp -s "$1" "$2"; then
    echo "same bytes: $(basename "$1") ($(stat -c %s "$1") bytes, sha256 $(sha256sum "$1" | cut -c1-16)...)"
  else
    echo "FAIL: $(basename "$1") differs between the two builds: $(cmp "$1" "$2" 2>&1 | head -1)"
    echo "  (diffoscope $1 $2 shows where)"
    failures=$((failures + 1))
  fi
}
compare "$first/tamberline-tivel-helper" "$second/tamberline-tivel-helper"
tarballs=("$first"/*-static.tar.gz)
compare "${tarballs[0]}" "$second/$(basename "${tarballs[0]}")"
compare "${first_debs[0]}" "${second_debs[0]}"
[ "$failures" -eq 0 ] || exit 1
