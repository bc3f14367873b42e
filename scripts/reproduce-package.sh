#!/usr/bin/env bash
# Rebuilds the release twice and compares: two clean clones of the last commit, in folders whose
# paths differ, each run `make package` (the second under another umask); their build/dist
# folders must hold the same bytes.
# Uncommitted changes are not part of it. Prints the checksums of the (identical) artifacts.
# Usage: reproduce-package.sh [WORK_DIR]   (default build/reproduce-package)
set -euo pipefail
cd "$(dirname "$0")/.."
commit=$(git rev-parse HEAD)
work=${1:-build/reproduce-package}
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
clones=("$work/one" "$work/the-second-clone-elsewhere")
umasks=(0022 0027)
for i in 0 1; do
  clone=${clones[$i]}
  umask "${umasks[$i]}"
  git clone -q --no-hardlinks . "$clone"
  git -C "$clone" checkout -q --detach "$commit"
  echo "reproduce: make package in $clone (umask ${umasks[$i]})"
  # A make of its own, not a job of the make that may have started this script.
  if ! env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -C "$clone" package >"$clone.log" 2>&1; then
    tail -20 "$clone.log"
    echo "reproduce: make package failed in $clone (log: $clone.log)" >&2
    exit 1
  fi
done
if ! diff -r "${clones[0]}/build/dist" "${clones[1]}/build/dist"; then
  echo "reproduce: the two builds of $commit differ (diffoscope shows where)" >&2
  exit 1
fi
echo "reproduce: both builds of $commit hold the same bytes:"
cat "${clones[0]}/build/dist/SHA256SUMS"
