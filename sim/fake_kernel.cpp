#include "fake_kernel.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "wifi/kernel_port.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define FAKE_POISON(at, size) ASAN_POISON_MEMORY_REGION(at, size)
#define FAKE_UNPOISON(at, size) ASAN_UNPOISON_MEMORY_REGION(at, size)
#else
#define FAKE_POISON(at, size) ((void)(at), (void)(size))
#define FAKE_UNPOISON(at, size) ((void)(at), (void)(size))
#endif

namespace {

struct FakeKernel {
  FakeResponder responder;
  int open_error = 0;
  int silence_ms = -1;
  int events_open_error = 0;
  int event_fd = -1;  // the timer standing in for the event socket
  Bytes event;        // the notification it hands out when it fires; empty: none
  std::chrono::steady_clock::time_point event_due;
  bool keep_requests = true;
  FakeKernelLog log;
  int open_fd = -1;  // the socket of the exchange in progress
  FakeReply reply;   // its answer
  size_t next_datagram = 0;
  uint8_t* buffer = nullptr;  // the receive buffer last written, poisoned past its datagram
  size_t capacity = 0;
};

FakeKernel& fake() {
  static FakeKernel instance;
  return instance;
}

constexpr int kFirstFakeFd = 1000;

void pause_ms(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

void fake_kernel_reset() {
  FakeKernel& k = fake();
  if (k.buffer != nullptr) FAKE_UNPOISON(k.buffer, k.capacity);
  if (k.event_fd >= 0) close(k.event_fd);
  k = FakeKernel{};
  kernel_use(fake_kernel_port());
}
void fake_kernel_respond(FakeResponder responder) {
  fake().responder = std::move(responder);
}
void fake_kernel_fail_open(int code) {
  fake().open_error = code;
}
void fake_kernel_set_silence_ms(int ms) {
  fake().silence_ms = ms;
}
void fake_kernel_fail_events_open(int code) {
  fake().events_open_error = code;
}
void fake_kernel_keep_requests(bool keep) {
  fake().keep_requests = keep;
}
const FakeKernelLog& fake_kernel_log() {
  return fake().log;
}

namespace {

int fake_open(int receive_timeout_ms) {
  FakeKernel& k = fake();
  if (k.open_error != 0) return k.open_error;
  k.log.receive_timeout_ms = receive_timeout_ms;
  k.open_fd = kFirstFakeFd + k.log.opens++;
  k.reply = FakeReply{};
  k.next_datagram = 0;
  return k.open_fd;
}

int fake_send(int fd, const uint8_t* bytes, size_t length) {
  FakeKernel& k = fake();
  if (fd != k.open_fd) return -EBADF;
  Bytes request(bytes, bytes + length);
  if (k.keep_requests) k.log.requests.push_back(request);
  k.reply = k.responder ? k.responder(request) : FakeReply{};
  k.next_datagram = 0;
  if (k.reply.event_after_ms >= 0 && k.event_fd >= 0) {
    k.event = k.reply.event;
    k.event_due =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(k.reply.event_after_ms);
    // A zero it_value would disarm the timer: "at once" is one nanosecond.
    long ns = k.reply.event_after_ms > 0 ? 0 : 1;
    itimerspec when{
        {0, 0}, {k.reply.event_after_ms / 1000, (k.reply.event_after_ms % 1000) * 1000000L + ns}};
    (void)timerfd_settime(k.event_fd, 0, &when, nullptr);
  }
  return k.reply.send_error;
}

long fake_recv(int fd, uint8_t* buffer, size_t capacity) {
  FakeKernel& k = fake();
  if (fd != k.open_fd) return -EBADF;
  if (k.next_datagram < k.reply.datagrams.size()) {
    const Bytes& datagram = k.reply.datagrams[k.next_datagram++];
    size_t size = std::min(datagram.size(), capacity);  // a datagram too long is cut, as recv does
    FAKE_UNPOISON(buffer, capacity);
    if (size > 0) std::memcpy(buffer, datagram.data(), size);
    // Under AddressSanitizer, any read past the datagram (stale bytes of an earlier one) is caught.
    FAKE_POISON(buffer + size, capacity - size);
    k.buffer = buffer;
    k.capacity = capacity;
    return static_cast<long>(size);
  }
  if (k.reply.after == -EAGAIN)
    pause_ms(k.silence_ms >= 0 ? k.silence_ms : k.log.receive_timeout_ms);
  return k.reply.after;
}

void fake_close(int fd) {
  FakeKernel& k = fake();
  if (fd == k.open_fd) k.open_fd = -1;
  ++k.log.closes;
  if (k.buffer != nullptr) FAKE_UNPOISON(k.buffer, k.capacity);
  k.buffer = nullptr;
}

int fake_events_open(uint32_t group) {
  FakeKernel& k = fake();
  if (k.events_open_error != 0) return k.events_open_error;
  k.log.event_groups.push_back(group);
  if (k.event_fd >= 0) close(k.event_fd);
  k.event_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  return k.event_fd >= 0 ? k.event_fd : -errno;
}

long fake_events_recv(int fd, uint8_t* buffer, size_t capacity) {
  FakeKernel& k = fake();
  if (fd != k.event_fd || fd < 0) return -EBADF;
  if (k.event.empty() || std::chrono::steady_clock::now() < k.event_due) return -EAGAIN;
  // Disarming clears the timer's readiness without a read, which the helper's system call
  // filter does not allow.
  itimerspec off{};
  (void)timerfd_settime(fd, 0, &off, nullptr);
  size_t size = std::min(k.event.size(), capacity);
  std::memcpy(buffer, k.event.data(), size);
  k.event.clear();
  return static_cast<long>(size);
}

constexpr KernelPort kFakeKernelPort = {fake_open,  fake_send,        fake_recv,
                                        fake_close, fake_events_open, fake_events_recv};

}  // namespace

const KernelPort& fake_kernel_port() {
  return kFakeKernelPort;
}
