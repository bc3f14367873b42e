#include <linux/netlink.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "wifi/kernel_port.h"

namespace {

// The kernel runs a generic-netlink request's handler inside the sender's sendto, and a driver
// may wait there for its firmware for seconds. The sockets the loop polls (opened with receive
// timeout 0) therefore hand their requests to one sender thread through a datagram socket pair
// and return at once; the answers still come back on the socket itself. Start-up's blocking
// exchanges send inline.

// A request is far smaller; a longer one is sent inline.
constexpr size_t kMaxQueuedRequest = 1024;

// One queued request (length from the datagram's size), or with no bytes: close `fd`, which
// keeps a descriptor number from being reused while requests for it still wait in the queue.
struct QueuedRequest {
  int fd;
  uint8_t bytes[kMaxQueuedRequest];
};

// The loop's end of the queue (-1 while there is no sender thread), the thread's end, and the
// sockets whose requests go through it (-1 where free). Touched by the loop's thread only, apart
// from queue_in, which the sender thread alone reads after it started.
int queue_out = -1;
int queue_in = -1;
constexpr int kMaxQueuedSockets = 8;
int queued_sockets[kMaxQueuedSockets] = {-1, -1, -1, -1, -1, -1, -1, -1};

int* queued_slot(int fd) {
  for (int& slot : queued_sockets) {
    if (slot == fd) return &slot;
  }
  return nullptr;
}

int send_now(int fd, const uint8_t* bytes, size_t length) {
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;  // nl_pid 0 is the kernel; nl_groups 0: no multicast
  if (sendto(fd, bytes, length, 0, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) < 0) {
    return -errno;
  }
  return 0;
}

// The sender thread. A failed send is dropped: the kernel returns its handler's refusals (EPERM
// included) as an error message on the socket, so only local shortages (ENOBUFS, ENOMEM) are
// lost here, and the lane gives that request up after its time-out like an unanswered one.
void* send_queued(void*) {
  // The C library's own start of a thread (signal mask, robust list, restartable sequences) is
  // over once this runs; the starter waits for it, as the filter it installs next forbids those
  // calls.
  static constexpr char kReady = 1;
  (void)send(queue_in, &kReady, 1, 0);
  QueuedRequest request;
  for (;;) {
    ssize_t got = recv(queue_in, &request, sizeof request, 0);
    if (got < static_cast<ssize_t>(sizeof request.fd)) continue;  // EINTR; nothing else comes
    size_t length = static_cast<size_t>(got) - sizeof request.fd;
    if (length == 0) {
      close(request.fd);
    } else {
      (void)send_now(request.fd, request.bytes, length);
    }
  }
  return nullptr;
}

int linux_open(int receive_timeout_ms) {
  const int nonblocking = receive_timeout_ms == 0 ? SOCK_NONBLOCK : 0;
  int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | nonblocking, NETLINK_GENERIC);
  if (fd < 0) return -errno;
  if (nonblocking != 0) {
    int* free_slot = queue_out >= 0 ? queued_slot(-1) : nullptr;
    if (free_slot != nullptr) *free_slot = fd;  // else its sends stay inline
    return fd;
  }
  timeval timeout{};
  timeout.tv_sec = receive_timeout_ms / 1000;
  timeout.tv_usec = (receive_timeout_ms % 1000) * 1000;
  (void)setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  return fd;
}

int linux_send(int fd, const uint8_t* bytes, size_t length) {
  if (length == 0 || length > kMaxQueuedRequest || queued_slot(fd) == nullptr) {
    return send_now(fd, bytes, length);
  }
  QueuedRequest request;
  request.fd = fd;
  std::memcpy(request.bytes, bytes, length);
  if (send(queue_out, &request, sizeof request.fd + length, MSG_DONTWAIT) < 0) return -errno;
  return 0;
}

long linux_recv(int fd, uint8_t* buffer, size_t capacity) {
  ssize_t got = recv(fd, buffer, capacity, 0);
  return got < 0 ? -errno : static_cast<long>(got);
}

void linux_close(int fd) {
  int* slot = queued_slot(fd);
  if (slot == nullptr) {
    close(fd);
    return;
  }
  *slot = -1;
  // Closed behind its queued requests. With the queue full (the thread stuck in a driver) the
  // descriptor stays open: closing it here could let a new socket, or a page's connection, take
  // its number and receive a stale request.
  QueuedRequest request;
  request.fd = fd;
  (void)send(queue_out, &request, sizeof request.fd, MSG_DONTWAIT);
}

int linux_sender_start() {
  if (queue_out >= 0) return 0;
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, ends) != 0) return -errno;
  // Every signal stays with the loop's thread (its stop handler wakes the poll); the new thread
  // takes the mask it is created with.
  sigset_t all;
  sigset_t before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  queue_in = ends[0];
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  int failed = pthread_create(&thread, &attributes, send_queued, nullptr);
  pthread_attr_destroy(&attributes);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (failed != 0) {
    close(ends[0]);
    close(ends[1]);
    queue_in = -1;
    return -failed;
  }
  char ready = 0;
  while (recv(ends[1], &ready, 1, 0) < 0 && errno == EINTR) {
  }
  queue_out = ends[1];
  return 0;
}

int linux_events_open(uint32_t group) {
  int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_GENERIC);
  if (fd < 0) return -errno;
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;  // nl_pid 0: the kernel assigns the port id
  if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      setsockopt(fd, SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group, sizeof group) != 0) {
    int code = -errno;
    close(fd);
    return code;
  }
  return fd;
}

int linux_events_join(int fd, uint32_t group) {
  if (setsockopt(fd, SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group, sizeof group) != 0) return -errno;
  return 0;
}

long linux_events_recv(int fd, uint8_t* buffer, size_t capacity) {
  ssize_t got = recv(fd, buffer, capacity, MSG_DONTWAIT);
  return got < 0 ? -errno : static_cast<long>(got);
}

}  // namespace

const KernelPort kLinuxKernelPort = {linux_open,        linux_send,        linux_recv,
                                     linux_close,       linux_events_open, linux_events_join,
                                     linux_events_recv, linux_sender_start};
