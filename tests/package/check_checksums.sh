#!/usr/bin/env bash
# The release folder's SHA256SUMS, written by the script `make package` uses, lists every artifact
# and nothing else, `sha256sum -c` accepts it, and rejects a copy with one byte changed.
# Usage: check_checksums.sh MAKE_DIST ARTIFACT...
set -euo pipefail
make_dist=$1
shift
source "$(dirname "$0")/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dist=$work/dist
bash "$make_dist" "$dist" "$@"

listed=$(sed 's/^[0-9a-f]\{64\}  //' "$dist/SHA256SUMS")
wanted=$(for artifact in "$@"; do basename "$artifact"; done | LC_ALL=C sort)
[ "$listed" = "$wanted" ] || fail "SHA256SUMS lists:"$'\n'"$listed"$'\n'"wanted:"$'\n'"$wanted"
(cd "$dist" && sha256sum -c SHA256SUMS) || fail "sha256sum -c rejects the fresh release folder"

# One byte changed in the middle of one artifact: the check must name it.
victim=$(basename "$1")
size=$(stat -c %s "$dist/$victim")
printf '\xa5' | dd of="$dist/$victim" bs=1 seek=$((size / 2)) conv=notrunc status=none
if out=$(cd "$dist" && sha256sum -c SHA256SUMS 2>&1); then
  fail "sha256sum -c accepts a changed $victim"
fi
grep -qx "$victim: FAILED" <<<"$out" || fail "sha256sum -c did not name $victim: $out"
echo "SHA256SUMS lists and verifies all $# artifacts; a changed byte is caught"
