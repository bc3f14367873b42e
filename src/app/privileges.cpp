#include "app/privileges.h"

#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
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

constexpr uint32_t kNoId = 0xffffffffu;  // also the kernel's "no change" and "unset login uid"

// `text` as a user or group id; kNoId when it is missing or not one.
uint32_t id_of(const char* text) {
  uint64_t value = 0;
  if (text == nullptr || !parse_decimal(text, kNoId - 1, &value)) return kNoId;
  return static_cast<uint32_t>(value);
}

// The value of environment variable `name` when it is a decimal id other than 0, else kNoId.
uint32_t numeric_id(const char* name) {
  const uint32_t id = id_of(std::getenv(name));
  return id == 0 ? kNoId : id;
}

// The user and group of the `passwd` line whose name is `name` (or, when `name` is null, whose
// uid is *uid); false when there is none. Parsed by hand: a static binary has no user database.
bool passwd_entry(const char* passwd, const char* name, uint32_t* uid, uint32_t* gid) {
  FILE* file = std::fopen(passwd, "re");
  if (file == nullptr) return false;
  char line[1024];
  bool found = false;
  bool line_start = true;  // a line longer than the buffer is skipped, not read in pieces
  while (!found && std::fgets(line, sizeof line, file) != nullptr) {
    const bool whole = line_start;
    line_start = std::strchr(line, '\n') != nullptr;
    if (!whole) continue;
    char* fields[4] = {line};
    int count = 1;
    for (char* c = line; *c != '\0' && count < 4; ++c) {
      if (*c == ':') {
        *c = '\0';
        fields[count++] = c + 1;
      }
    }
    if (count < 4) continue;
    fields[3][std::strcspn(fields[3], ":\n")] = '\0';
    const uint32_t line_uid = id_of(fields[2]);
    found = line_uid != kNoId &&
            (name != nullptr ? std::strcmp(fields[0], name) == 0 : line_uid == *uid);
    if (found) {
      *uid = line_uid;
      *gid = id_of(fields[3]);
    }
  }
  std::fclose(file);
  return found;
}

// The first line of `proc_self`/`name` into `text`, without its newline; false when unreadable.
bool first_line(const char* proc_self, const char* name, char* text, int capacity) {
  char path[256];
  std::snprintf(path, sizeof path, "%s/%s", proc_self, name);
  FILE* file = std::fopen(path, "re");
  if (file == nullptr) return false;
  const bool read = std::fgets(text, capacity, file) != nullptr;
  std::fclose(file);
  if (read) text[std::strcspn(text, "\n")] = '\0';
  return read;
}

// The login uid the kernel keeps for the session (kNoId when unset).
uint32_t login_uid(const char* proc_self) {
  char text[16];
  return first_line(proc_self, "loginuid", text, sizeof text) ? id_of(text) : kNoId;
}

// The owner of the controlling terminal (kNoId when there is none): one of standard input, output
// or error when it is that terminal, else its /dev/pts entry.
uint32_t terminal_owner(const char* proc_self) {
  char path[256], stat_line[512];
  // "pid (name) state ppid pgrp session tty_nr ...": the name may hold anything but ends at the
  // last parenthesis.
  const bool read = first_line(proc_self, "stat", stat_line, sizeof stat_line);
  const char* after_name = read ? std::strrchr(stat_line, ')') : nullptr;
  int tty = 0;
  if (after_name == nullptr || std::sscanf(after_name, ") %*c %*d %*d %*d %d", &tty) != 1 ||
      tty == 0) {
    return kNoId;
  }
  const unsigned major = (static_cast<unsigned>(tty) >> 8) & 0xfff;
  const unsigned minor =
      (static_cast<unsigned>(tty) & 0xff) | ((static_cast<unsigned>(tty) >> 12) & 0xfff00);
  struct stat seen {};
  for (int fd = 0; fd <= 2; ++fd) {
    std::snprintf(path, sizeof path, "%s/fd/%d", proc_self, fd);
    if (stat(path, &seen) == 0 && S_ISCHR(seen.st_mode) && seen.st_rdev == makedev(major, minor))
      return seen.st_uid;
  }
  // Pseudo-terminals 136 to 143 number their entries in /dev/pts across all eight majors.
  if (major < 136 || major > 143) return kNoId;
  std::snprintf(path, sizeof path, "/dev/pts/%u", (major - 136) * 256 + minor);
  if (stat(path, &seen) != 0 || seen.st_rdev != makedev(major, minor)) return kNoId;
  return seen.st_uid;
}

}  // namespace

StartingUser find_starting_user(const char* proc_self, const char* passwd) {
  StartingUser user{static_cast<uint32_t>(getuid()), kUnprivilegedId, true};
  if (user.uid != 0) return user;
  uint32_t uid = numeric_id("SUDO_UID");
  if (uid != kNoId) {
    const uint32_t gid = numeric_id("SUDO_GID");
    return StartingUser{uid, gid == kNoId ? kUnprivilegedId : gid, true};
  }
  uint32_t gid = kNoId;
  uid = numeric_id("PKEXEC_UID");
  const char* doas_user = std::getenv("DOAS_USER");
  if (uid == kNoId && doas_user != nullptr) (void)passwd_entry(passwd, doas_user, &uid, &gid);
  if (uid == kNoId) uid = login_uid(proc_self);
  if (uid == kNoId) uid = terminal_owner(proc_self);
  if (uid == kNoId) return StartingUser{0, kUnprivilegedId, false};
  if (gid == kNoId) (void)passwd_entry(passwd, nullptr, &uid, &gid);
  return StartingUser{uid, gid == kNoId ? kUnprivilegedId : gid, true};
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
    // The user behind root, not nobody: any other program running as nobody could otherwise
    // signal the helper or lower its limits.
    const bool as_user = user.known && user.uid != 0;
    const uid_t uid = as_user ? user.uid : kUnprivilegedId;
    const gid_t gid = as_user ? user.gid : kUnprivilegedId;
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
