#!/bin/sh
# Runs "$@" in a private network namespace with loopback up, so a test may use the helper's default
# ports 47800-47809 without meeting any other process on this machine (and so nothing it starts
# can reach beyond loopback). Where no namespace can be made (not root), runs "$@" as it is and
# the cases that need one skip.
if unshare --net ip link set lo up 2>/dev/null; then
  exec unshare --net -- sh -c 'ip link set lo up && TIVEL_E2E_NETNS=1 exec "$@"' sh "$@"
fi
echo "# note: no private network namespace here (needs root); the default-port case is skipped"
exec "$@"
