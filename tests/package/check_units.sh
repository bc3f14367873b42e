#!/usr/bin/env bash
# The user units installed under ROOT/PREFIX pass systemd-analyze verify as a user manager reads
# them (the service's binary looked for where it was installed in ROOT), the socket listens on
# 127.0.0.1:47800 only, and the service keeps clear of every setting that, in a user manager,
# would take away the binary's file capability: NoNewPrivileges= itself, the settings that imply
# it there (the seccomp-based ones), and PrivateUsers= with the settings that need it there (the
# mount-namespace ones), since CAP_NET_ADMIN inside a user namespace is useless for nl80211.
# Usage: check_units.sh ROOT PREFIX
set -euo pipefail
root=$1
prefix=$2
source "$(dirname "$0")/common.sh"
command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze is missing (package systemd)"; exit 77; }
units=$root$prefix/lib/systemd/user
socket=$units/tamberline-tivel-helper.socket
service=$units/tamberline-tivel-helper.service
[ -f "$socket" ] && [ -f "$service" ] || fail "no units in $units"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/run"
cp "$socket" "$work/"
sed "s|^ExecStart=$prefix/bin/|ExecStart=$root$prefix/bin/|" "$service" >"$work/tamberline-tivel-helper.service"
out=$(cd "$work" && XDG_RUNTIME_DIR="$work/run" MANPATH="$root$prefix/share/man" \
  systemd-analyze verify --user --generators=no tamberline-tivel-helper.socket \
  tamberline-tivel-helper.service 2>&1) || fail "systemd-analyze verify: $out"
[ -z "$out" ] || fail "systemd-analyze verify says: $out"

listen=$(grep -E '^Listen[A-Za-z]*=' "$socket")
[ "$listen" = "ListenStream=127.0.0.1:47800" ] || fail "the socket listens on: $listen"
grep -qx 'Accept=no' "$socket" || fail "the socket must hand over the listening socket itself"
grep -q '^WantedBy=sockets.target$' "$socket" || fail "the socket cannot be enabled"
grep -q '^\[Install\]' "$service" && fail "the service must be started by its socket only"

taking=(NoNewPrivileges SystemCallFilter SystemCallArchitectures SystemCallLog RestrictAddressFamilies
  RestrictNamespaces RestrictRealtime RestrictSUIDSGID LockPersonality MemoryDenyWriteExecute
  ProtectClock ProtectKernelTunables ProtectKernelModules ProtectKernelLogs PrivateDevices
  DynamicUser PrivateUsers ProtectHome ProtectSystem ProtectControlGroups ProtectHostname
  ProtectProc ProcSubset PrivateTmp PrivateMounts PrivateIPC PrivateNetwork ReadOnlyPaths
  ReadWritePaths InaccessiblePaths TemporaryFileSystem BindPaths BindReadOnlyPaths
  CapabilityBoundingSet AmbientCapabilities SecureBits User Group)
for setting in "${taking[@]}"; do
  if grep -q "^$setting=" "$service"; then
    fail "$setting= in a user unit would cost the helper its file capability (fresh scans)"
  fi
done
echo "units verify and keep the file capability"
