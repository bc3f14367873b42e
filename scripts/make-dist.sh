#!/usr/bin/env bash
# Gathers the release artifacts into DIST_DIR (emptied first) and writes SHA256SUMS over them,
# one line each, sorted by name, as `sha256sum -c` reads it; then checks the list once.
# Usage: make-dist.sh DIST_DIR ARTIFACT...
set -euo pipefail
dist=$1
shift
[ $# -gt 0 ] || { echo "make-dist: no artifacts given" >&2; exit 1; }
rm -rf "$dist"
mkdir -p "$dist"
cp "$@" "$dist"/
cd "$dist"
find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%f\n' | LC_ALL=C sort |
  xargs -d '\n' sha256sum >SHA256SUMS
sha256sum --quiet --strict -c SHA256SUMS
