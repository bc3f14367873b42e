#include "wifi/kernel_port.h"

#include <cerrno>

namespace {

// Before start-up chose a kernel, nothing opens, so nothing else is ever called with a
// descriptor of ours.
int no_open(int) {
  return -ENOSYS;
}
int no_send(int, const uint8_t*, size_t) {
  return -EBADF;
}
long no_recv(int, uint8_t*, size_t) {
  return -EBADF;
}
void no_close(int) {}
int no_events_open(uint32_t) {
  return -ENOSYS;
}
int no_events_join(int, uint32_t) {
  return -EBADF;
}

constexpr KernelPort kNoKernel = {no_open,        no_send,        no_recv, no_close,
                                  no_events_open, no_events_join, no_recv};

const KernelPort* chosen = &kNoKernel;

}  // namespace

void kernel_use(const KernelPort& port) {
  chosen = &port;
}

int kernel_open(int receive_timeout_ms) {
  return chosen->open(receive_timeout_ms);
}

int kernel_send(int fd, const uint8_t* bytes, size_t length) {
  return chosen->send(fd, bytes, length);
}

long kernel_recv(int fd, uint8_t* buffer, size_t capacity) {
  return chosen->recv(fd, buffer, capacity);
}

void kernel_close(int fd) {
  chosen->close(fd);
}

int kernel_events_open(uint32_t group) {
  return chosen->events_open(group);
}

int kernel_events_join(int fd, uint32_t group) {
  return chosen->events_join(fd, group);
}

long kernel_events_recv(int fd, uint8_t* buffer, size_t capacity) {
  return chosen->events_recv(fd, buffer, capacity);
}

int kernel_sender_start() {
  return chosen->sender_start != nullptr ? chosen->sender_start() : -ENOSYS;
}
