#include "app/privileges.h"

#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/decimal.h"

namespace {

// The capability sets of this process as the kernel reports them (bit N is capability N).
struct CapabilitySets {
  uint64_t effective;
  uint64_t permitted;
  uint64_t inheritable;
};

constexpr uint64_t kScanRight = uint64_t{1} << CAP_NET_ADMIN;

// capget/capset through the raw calls: two 32-bit words per set in version 3.
int get_sets(__user_cap_data_struct (&data)[2]) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return static_cast<int>(syscall(SYS_capget, &header, data));
}

int set_sets(uint64_t effective, uint64_t permitted) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  for (int word = 0; word < 2; ++word) {
    data[word].effective = static_cast<uint32_t>(effective >> (32 * word));
    data[word].permitted = static_cast<uint32_t>(permitted >> (32 * word));
    data[word].inheritable = 0;
  }
  return static_cast<int>(syscall(SYS_capset, &header, data));
}

int fail(char* reason, size_t capacity, const char* step) {
  std::snprintf(reason, capacity, "%s: %s", step, std::strerror(errno));
  return -1;
}

// Empties the bounding set but for the scan right, capability by capability, until the kernel
// names one past its last. Needs CAP_SETPCAP, which only a root start has.
int clear_bounding_set() {
  for (int cap = 0; cap < 64; ++cap) {
    if (cap == CAP_NET_ADMIN) continue;
    if (prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0) return errno == EINVAL ? 0 : -1;
  }
  return 0;
}

bool started_as_root() {
  uid_t real = 0, effective = 0, saved = 0;
  if (getresuid(&real, &effective, &saved) != 0) return true;
  return real == 0 || effective == 0 || saved == 0;
}

// Reads the three sets through capget. Returns 0, or -1 when the kernel refused.
int read_capabilities(CapabilitySets* sets) {
  __user_cap_data_struct data[2] = {};
  if (get_sets(data) != 0) return -1;
  sets->effective = data[0].effective | uint64_t{data[1].effective} << 32;
  sets->permitted = data[0].permitted | uint64_t{data[1].permitted} << 32;
  sets->inheritable = data[0].inheritable | uint64_t{data[1].inheritable} << 32;
  return 0;
}

// The value of environment variable `name` when it is a decimal user or group id other than 0
// (and other than the -1 that means "no change" to the kernel), else `fallback`.
uint32_t numeric_id(const char* name, uint32_t fallback) {
  const char* text = std::getenv(name);
  uint64_t value = 0;
  if (text == nullptr || !parse_decimal(text, 0xfffffffeu, &value) || value == 0) return fallback;
  return static_cast<uint32_t>(value);
}

}  // namespace

StartingUser find_starting_user() {
  StartingUser user{static_cast<uint32_t>(getuid()), kUnprivilegedId, false};
  if (user.uid != 0) return user;
  uint32_t behind_sudo = numeric_id("SUDO_UID", 0);
  if (behind_sudo == 0) return user;
  return StartingUser{behind_sudo, numeric_id("SUDO_GID", kUnprivilegedId), true};
}

int drop_privileges(const StartingUser& user, char* reason, size_t capacity) {
  CapabilitySets held{};
  if (read_capabilities(&held) != 0) return fail(reason, capacity, "capget");
  if (started_as_root()) {
    if ((held.effective & (uint64_t{1} << CAP_SETPCAP)) != 0 && clear_bounding_set() != 0) {
      return fail(reason, capacity, "PR_CAPBSET_DROP");
    }
    // Without this the change of user below would empty the permitted set as well.
    if (prctl(PR_SET_KEEPCAPS, 1, 0, 0, 0) != 0) return fail(reason, capacity, "PR_SET_KEEPCAPS");
    if (setgroups(0, nullptr) != 0) return fail(reason, capacity, "setgroups");
    // The user behind sudo, not nobody: any other program running as nobody could otherwise
    // signal the helper or lower its limits.
    const uid_t uid = user.behind_sudo ? user.uid : kUnprivilegedId;
    const gid_t gid = user.behind_sudo ? user.gid : kUnprivilegedId;
    if (setresgid(gid, gid, gid) != 0) return fail(reason, capacity, "setresgid");
    if (setresuid(uid, uid, uid) != 0) {
      return fail(reason, capacity, "setresuid");
    }
    (void)prctl(PR_SET_KEEPCAPS, 0, 0, 0, 0);
  }
  uint64_t keep = held.permitted & kScanRight;
  if (set_sets(keep, keep) != 0) return fail(reason, capacity, "capset");
  // Ambient rights would pass to a program started later; the helper starts none. Kernels
  // before 4.3 have no ambient set and refuse the request, which is just as good.
  (void)prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);

  CapabilitySets now{};
  if (read_capabilities(&now) != 0) return fail(reason, capacity, "capget");
  if (now.effective != keep || now.permitted != keep || now.inheritable != 0 || started_as_root()) {
    errno = EPERM;
    return fail(reason, capacity, "rights left after the drop");
  }
  return 0;
}

bool holds_scan_right() {
  CapabilitySets now{};
  return read_capabilities(&now) == 0 && (now.effective & kScanRight) != 0;
}
