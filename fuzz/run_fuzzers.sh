#!/usr/bin/env bash
# Builds the libFuzzer targets in a clang build folder and runs each for a while.
#
#   fuzz/run_fuzzers.sh SECONDS [TARGET...]     (targets: the fuzz/*_fuzz.cpp names without _fuzz)
#
# Each target starts from its seed corpus (fuzz/corpus/<target>/, kept small in git) plus its
# working corpus ($FUZZ_DIR/corpus/<target>/, which grows from run to run), with its dictionary
# (fuzz/<target>.dict) and options (fuzz/<target>.options) when present. Prints one line per
# target with its executions and findings; a finding's input is saved under
# $FUZZ_DIR/findings/<target>/ and the full log under $FUZZ_DIR/logs/. Exits 1 when any target
# found something.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
dir=${FUZZ_DIR:-build/fuzz}
cxx=${FUZZ_CXX:-clang++}

if ! command -v "$cxx" >/dev/null; then
  echo "run_fuzzers: $cxx not found (scripts/deps/harden.apt lists it)" >&2
  exit 1
fi
mkdir -p "$dir"
cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTIVEL_FUZZ=ON -DTIVEL_TESTS=OFF >"$dir/configure.log" 2>&1 ||
  { cat "$dir/configure.log" >&2; exit 1; }
if ! cmake --build "$dir" -j "${JOBS:-2}" --target fuzzers >"$dir/build.log" 2>&1; then
  grep -E 'error|undefined' "$dir/build.log" | head -40 >&2
  exit 1
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/*_fuzz.cpp; do
    name=$(basename "$source" .cpp)
    targets+=("${name%_fuzz}")
  done
fi

mkdir -p "$dir/logs"
status=0
for target in "${targets[@]}"; do
  work="$dir/corpus/$target"
  findings="$dir/findings/$target"
  mkdir -p "$work" "$findings"
  options=(-max_total_time="$seconds" -print_final_stats=1 -timeout=10
           -artifact_prefix="$findings/")
  [ -f "fuzz/$target.dict" ] && options+=(-dict="fuzz/$target.dict")
  if [ -f "fuzz/$target.options" ]; then
    # shellcheck disable=SC2207
    options+=($(sed 's/#.*//' "fuzz/$target.options"))
  fi
  seeds=()
  [ -d "fuzz/corpus/$target" ] && seeds+=("fuzz/corpus/$target")
  before=$(ls "$findings" | wc -l)
  log="$dir/logs/$target.log"
  result=ok
  "$dir/${target}_fuzz" "${options[@]}" "$work" "${seeds[@]}" >"$log" 2>&1 || result=failed
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  found=$(($(ls "$findings" | wc -l) - before))
  if [ "$result" = failed ] || [ "$found" -gt 0 ]; then
    status=1
    printf '%-14s %12s executions  FINDING (%d new in %s; log %s)\n' "$target" "${runs:-?}" \
      "$found" "$findings" "$log"
    grep -E 'ERROR|check failed|SUMMARY' "$log" | head -5 | sed 's/^/    /'
  else
    printf '%-14s %12s executions in %ss, no findings\n' "$target" "${runs:-?}" "$seconds"
  fi
done
exit $status
