# What the package checks share; sourced, not run.

fail() {
  echo "FAIL: $*"
  exit 1
}

# Runs a binary of the build, through TIVEL_EMULATOR when it is another architecture's.
run() { ${TIVEL_EMULATOR:+"$TIVEL_EMULATOR"} "$@"; }

# The version the helper binary $1 reports, as "0.1.1".
helper_version() {
  local line
  line=$(run "$1" --version)
  echo "${line#tamberline-tivel-helper }"
}
