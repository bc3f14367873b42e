#include "server/peer_owner.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

struct DiagRequest {
  nlmsghdr header;
  inet_diag_req_v2 body;
};

uint32_t last_sequence = 0;

// One exact look-up of the TCP socket whose own end is `self` and whose other end is `other`
// (0.0.0.0:0 for a listening socket). The kernel handles the request inside sendto, so its answer
// is already queued when recv runs. Returns 0 with the record in *answer, or a negated errno.
int look_up(int diag_fd, const sockaddr_in& self, const sockaddr_in& other, inet_diag_msg* answer) {
  DiagRequest request{};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  request.header.nlmsg_flags = NLM_F_REQUEST;
  request.header.nlmsg_seq = ++last_sequence;
  request.body.sdiag_family = AF_INET;
  request.body.sdiag_protocol = IPPROTO_TCP;
  request.body.idiag_states = ~0u;
  request.body.id.idiag_sport = self.sin_port;
  request.body.id.idiag_dport = other.sin_port;
  request.body.id.idiag_src[0] = self.sin_addr.s_addr;
  request.body.id.idiag_dst[0] = other.sin_addr.s_addr;
  request.body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  request.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(diag_fd, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
             sizeof kernel) < 0) {
    return -errno;
  }
  alignas(nlmsghdr) char buffer[4096];
  for (;;) {
    ssize_t got = recv(diag_fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -errno;
    auto left = static_cast<unsigned>(got);
    for (auto* message = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(message, left);
         message = NLMSG_NEXT(message, left)) {
      // An answer to an earlier look-up that gave up before it came: not this one.
      if (message->nlmsg_seq != request.header.nlmsg_seq) continue;
      if (message->nlmsg_type == NLMSG_ERROR &&
          message->nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr))) {
        int error = static_cast<const nlmsgerr*>(NLMSG_DATA(message))->error;
        return error < 0 ? error : -EPROTO;
      }
      if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
          message->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
        return -EPROTO;
      }
      std::memcpy(answer, NLMSG_DATA(message), sizeof *answer);
      return 0;
    }
  }
}

int fail(char* reason, size_t capacity, const char* step, int error) {
  std::snprintf(reason, capacity, "%s: %s", step, std::strerror(error));
  return -1;
}

}  // namespace

int peer_owner_open(int listen_fd, char* reason, size_t capacity) {
  sockaddr_in self{};
  socklen_t self_len = sizeof self;
  struct stat listening {};
  if (getsockname(listen_fd, reinterpret_cast<sockaddr*>(&self), &self_len) != 0 ||
      fstat(listen_fd, &listening) != 0) {
    return fail(reason, capacity, "listening socket", errno);
  }
  int diag_fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (diag_fd < 0) return fail(reason, capacity, "socket diagnostics", errno);
  inet_diag_msg answer{};
  int error = look_up(diag_fd, self, sockaddr_in{}, &answer);
  // The inode names the very socket; its owner may be another user's (a service manager's socket
  // handed over), which says nothing about the look-up.
  if (error == 0 && answer.idiag_inode != listening.st_ino) {
    error = -EPROTO;  // the kernel named another socket: not to be relied on
  }
  if (error != 0) {
    close(diag_fd);
    return fail(reason, capacity, "socket diagnostics", -error);
  }
  return diag_fd;
}

int peer_owner_uid(int diag_fd, const sockaddr_in& peer, const sockaddr_in& local, uint32_t* uid) {
  inet_diag_msg answer{};
  // A socket its program has closed (or left by ending) has no inode, and the kernel reports
  // such orphans as root's: nobody is left to serve.
  if (look_up(diag_fd, peer, local, &answer) != 0 || answer.idiag_inode == 0) return -1;
  *uid = answer.idiag_uid;
  return 0;
}

bool peer_owner_allowed(const PeerOwnerCheck& check, const sockaddr_in& peer,
                        const sockaddr_in& local, uint32_t* uid) {
  *uid = kUnknownUid;
  if (check.diag_fd < 0) return true;
  if (peer_owner_uid(check.diag_fd, peer, local, uid) != 0) return false;
  return *uid == check.owner_uid || *uid == 0;
}
