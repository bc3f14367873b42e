#pragma once

#include <cstddef>
#include <cstdint>

// Giving up every right the helper does not need once its port is bound and its WiFi source is
// open. The scan request alone needs a right (CAP_NET_ADMIN); everything else the helper does any
// user may do.

// The user and group a helper started as root continues as: the kernel's overflow id ("nobody"
// and "nogroup" on Debian), numeric so that no user database is read.
inline constexpr uint32_t kUnprivilegedId = 65534;

// Who started the helper: the real user, or for a root start the user behind root. That user's
// programs may connect, and a root start continues as that user.
struct StartingUser {
  uint32_t uid;
  uint32_t gid;  // kUnprivilegedId when not known
  bool known;    // false for a root start that names no user: every user's programs may connect
};

// The real user; for a root start the first of: a numeric SUDO_UID (SUDO_GID as group when
// numeric), PKEXEC_UID, DOAS_USER (a name in `passwd`), the login uid (`proc_self`/loginuid, kept
// across su, sudo and doas), the owner of the controlling terminal. A group not given comes from
// the user's `passwd` line. Reads only; call before the drop. The paths are for tests.
StartingUser find_starting_user(const char* proc_self = "/proc/self",
                                const char* passwd = "/etc/passwd");

// A process started as root (real, effective or saved user id 0) becomes the starting user when
// `user` names one other than root, else kUnprivilegedId (user and group), with no supplementary
// groups. Every
// process then keeps CAP_NET_ADMIN alone, and only when it held it: in the permitted and effective
// sets, none inheritable or ambient; the bounding set is emptied to match when the process may do
// so. Returns 0, or -1 with the reason in `reason` (cut to `capacity` bytes) when a step failed;
// the process must then not go on.
int drop_privileges(const StartingUser& user, char* reason, size_t capacity);

// True when the scan right (CAP_NET_ADMIN) is in the effective set now.
bool holds_scan_right();
