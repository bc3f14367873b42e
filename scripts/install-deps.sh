#!/usr/bin/env bash
# Installs the test tools a fresh machine lacks: Debian packages listed in scripts/deps/*.apt and
# npm packages of every folder listed in scripts/deps/*.npm. Installs only as root, only what is
# missing, and says nothing when everything is there.
set -euo pipefail
cd "$(dirname "$0")/.."

wanted=$(cat scripts/deps/*.apt 2>/dev/null | sed 's/#.*//' | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
missing=()
for package in $wanted; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing ${missing[*]} (run as root to install them)" >&2
  else
    echo "install-deps: installing ${missing[*]}"
    apt-get -o DPkg::Lock::Timeout=600 update -qq
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
      --no-install-recommends "${missing[@]}"
  fi
fi

for dir in $(cat scripts/deps/*.npm 2>/dev/null | sed 's/#.*//' | sed '/^$/d'); do
  # Also when the lock file changed since the last install (npm keeps its copy in node_modules).
  if [ -f "$dir/package.json" ] && { [ ! -d "$dir/node_modules" ] ||
    [ "$dir/package-lock.json" -nt "$dir/node_modules/.package-lock.json" ]; }; then
    echo "install-deps: npm packages in $dir"
    (cd "$dir" && if [ -f package-lock.json ]; then npm ci --no-audit --no-fund --silent; \
      else npm install --no-audit --no-fund --silent; fi)
  fi
done
