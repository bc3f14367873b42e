#!/usr/bin/env bash
# lintian finds no error and no warning in the package. Informational and pedantic tags are shown
# too, so a new one is noticed, but they do not fail the check; nor do overridden tags, shown as
# "O:" (lintian's own --fail-on counts those when they are shown, so the verdict is read here).
# Usage: check_lintian.sh DEB_DIR
set -euo pipefail
debs=("$1"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: expected one .deb in $1"; exit 1; }
# lintian warns on stderr when run as root; that note is not about the package.
report=$(lintian --fail-on none --display-info --pedantic --show-overrides "${debs[0]}" 2> >(grep -v 'running with root privileges' >&2))
[ -z "$report" ] || echo "$report"
if grep -qE '^[EW]: ' <<<"$report"; then
  echo "FAIL: lintian reports errors or warnings in $(basename "${debs[0]}")"
  exit 1
fi
echo "lintian: no errors or warnings in $(basename "${debs[0]}")"
