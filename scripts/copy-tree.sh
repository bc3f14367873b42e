#!/usr/bin/env bash
# Copies the source tree SOURCE to DEST as git sees it: tracked and new files, nothing ignored (so
# no build folders or node_modules). Time stamps are kept, so a build that reads DEST remakes only
# what changed since the last copy. Without git, copies everything but the build folders.
# Usage: copy-tree.sh SOURCE DEST
set -euo pipefail
source=$(cd "$1" && pwd)
dest=$2
rm -rf "$dest"
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)
cd "$source"
if git rev-parse --show-toplevel >/dev/null 2>&1; then
  # A tracked file deleted from the work tree is still listed until it is committed.
  git ls-files -z -co --exclude-standard | while IFS= read -r -d '' file; do
    [ -e "$file" ] && printf '%s\0' "$file"
  done | xargs -0 -r cp -a --parents -t "$dest"
else
  tar -cf - --exclude='./build*' . | tar -xf - -C "$dest"
fi
