#!/usr/bin/env bash
# The integration suite with every helper process under valgrind memcheck (make valgrind).
#
# Builds a plain (unsanitized) tree in $VALGRIND_DIR, replaces the helper and the simulator there
# by small scripts that run the real executables under memcheck, runs the suite against them, and
# sums up every helper process's memcheck report. Left out: the package, fuzz and benchmark tests
# (they do not run the helper as a program, or time it) and the real-kernel test (its static
# helper runs inside a virtual machine). The soak runs without its memory comparison
# (TIVEL_MEMCHECK), since memcheck's own memory grows as it translates more of the program. Exits 1 when a test failed or memcheck reported any error or
# definite leak.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
dir=${VALGRIND_DIR:-build/valgrind}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
logs="$dir/memcheck"

# The release build as shipped, with debug information so memcheck's reports name lines, but
# without the system call filter: memcheck makes calls of its own from inside the process.
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g -DTIVEL_TESTS=ON \
  -DTIVEL_SYSCALL_FILTER=OFF >/dev/null
cmake --build "$dir" -j "${JOBS:-2}" >"$dir/build.log" 2>&1 ||
  { grep -E 'error' "$dir/build.log" | head -20 >&2; exit 1; }

# A rebuild writes a fresh executable over the script; wrap whatever is an executable again.
for program in tamberline-tivel-helper tamberline-tivel-helper-sim; do
  path="$dir/$program"
  [ -f "$path" ] || continue
  if [ "$(head -c 2 "$path")" != "#!" ]; then
    mv -f "$path" "$path.memcheck"
    cat >"$path" <<EOF
#!/bin/sh
exec valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \\
  --errors-for-leak-kinds=definite --track-fds=yes --log-file="$logs/$program.%p.log" \\
  "$path.memcheck" "\$@"
EOF
    chmod +x "$path"
  fi
done

rm -rf "$logs"
mkdir -p "$logs"
status=0
skip='^(package\.|hardening\.fuzz_smoke$|bench_|kernel_wifi_vm$)'
(cd "$dir" && TIVEL_MEMCHECK=1 ctest -j "${JOBS:-2}" -E "$skip" --timeout 300 \
  --output-on-failure) >"$dir/ctest.log" 2>&1 || status=1
tail -n 3 "$dir/ctest.log" | sed '/^$/d'
[ $status -eq 0 ] || grep -E '^\s*[0-9]+ - ' "$dir/ctest.log" | sed 's/^/  failed: /' || true

processes=0
finished=0
errors=0
dirty=()
for log in "$logs"/*.log; do
  [ -e "$log" ] || continue
  processes=$((processes + 1))
  # A helper killed outright (tests end their helpers with SIGKILL when done) leaves no summary
  # and no leak check; its errors are counted from their reports.
  count=$(sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$log" | tail -1)
  if [ -n "$count" ]; then
    finished=$((finished + 1))
  else
    count=$(grep -cE '^==[0-9]+== (Invalid|Conditional|Syscall param|Mismatched|Source and destination|Use of uninitialised)' "$log" || true)
  fi
  if [ "${count:-0}" -gt 0 ]; then
    dirty+=("$log")
    errors=$((errors + count))
  fi
done
echo "memcheck: $processes helper processes ($finished ran to their end), $errors errors" \
  "in ${#dirty[@]} of them; logs in ${logs#"$root"/}"
for log in "${dirty[@]}"; do
  echo "  $log"
  grep -E '^==[0-9]+== +(Invalid|Conditional|Syscall|Mismatched|[0-9,]+ bytes in)' "$log" | head -5
done
[ ${#dirty[@]} -eq 0 ] || status=1
exit $status
