#!/usr/bin/env bash
# The manual page renders without a single warning, carries the binary's version, and documents
# every option of the help text, the port range, the page origins and the exit codes.
# Usage: check_man_page.sh PAGE HELPER
set -euo pipefail
page=$1
helper=$2
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# groff's own warnings (all of them), then man-db's run as lintian does it.
warnings=$(groff -man -ww -z "$page" 2>&1) || fail "groff exited with $?"
[ -z "$warnings" ] || fail "groff warnings:"$'\n'"$warnings"
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) ||
  fail "man exited with $?"
[ -z "$warnings" ] || fail "man warnings:"$'\n'"$warnings"

# The version of the page is the binary's version.
binary_version=$("$helper" --version)
page_version=$(sed -n 's/^\.TH [^ ]* [^ ]* "[^"]*" "\([^"]*\)".*/\1/p' "$page")
[ "$page_version" = "$binary_version" ] ||
  fail "page says '$page_version', binary says '$binary_version'"

# Rendered as the reader sees it: options must come out with real minus signs.
text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$page" 2>/dev/null | col -b)
expect() {
  grep -qF -- "$1" <<<"$text" || fail "the page does not say: $1"
}

# Every option line of the help text, e.g. "  --port N   listen on ...", names an option the
# page documents with the same argument.
help=$("$helper" --help)
while read -r option argument _; do
  case $argument in
    [A-Z]*) expect "$option $argument" ;;
    *) expect "$option" ;;
  esac
done < <(grep -E '^  --' <<<"$help")
expect "-h"

expect "47800 to 47809"
expect "1 to 65535"
for origin in https://tamberline.com https://www.tamberline.com https://kestrune.com https://www.kestrune.com; do
  expect "$origin"
done
expect "127.0.0.1:PORT"
expect "localhost:PORT"
for section in SYNOPSIS OPTIONS "EXIT STATUS" EXAMPLES LOG QUITTING; do
  grep -qx "$section" <<<"$text" || fail "no $section section"
done
expect "sudo tamberline-tivel-helper"
expect "tamberline-tivel-helper --port"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed for $page"
  exit 1
fi
echo "manual page OK: $page_version, no warnings"
