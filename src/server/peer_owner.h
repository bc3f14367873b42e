#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

// Which user's program holds the other end of a loopback TCP connection, asked of the kernel's
// socket diagnostics (NETLINK_SOCK_DIAG, one exact inet_diag look-up per connection): any local
// program can send any Origin, but only the user who started the helper (and root) may read
// what it hands out.

inline constexpr uint32_t kUnknownUid = 0xffffffffu;  // no owner could be found

struct PeerOwnerCheck {
  int diag_fd = -1;        // the diagnostics socket; -1 when connections are not checked
  uint32_t owner_uid = 0;  // the user whose programs may connect; root always may
};

// Opens the diagnostics socket and tries it once on `listen_fd` (bound to 127.0.0.1): the kernel
// must find that very socket (its inode) by its address. Returns the socket,
// or -1 with the reason in `reason` (cut to `capacity` bytes) when this kernel cannot answer; the
// caller then accepts connections unchecked.
int peer_owner_open(int listen_fd, char* reason, size_t capacity);

// The owner of the peer's socket of a connection accepted on `local` from `peer` (both
// 127.0.0.1), through `diag_fd`. Returns 0 with *uid set; -1 when the kernel does not know the
// socket or it has no owning program any more (its program closed it or ended). Never blocks:
// the kernel answers within the request.
int peer_owner_uid(int diag_fd, const sockaddr_in& peer, const sockaddr_in& local, uint32_t* uid);

// True when a connection from `peer` to `local` may be served under `check`: the check is off,
// or the peer's socket belongs to check.owner_uid or to root. Sets *uid to the owner found, or to
// kUnknownUid.
bool peer_owner_allowed(const PeerOwnerCheck& check, const sockaddr_in& peer,
                        const sockaddr_in& local, uint32_t* uid);
