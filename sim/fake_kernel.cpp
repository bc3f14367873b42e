#include "fake_kernel.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
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

// A notification waiting to be handed out: due at `due` to members of `group` (0: whoever holds
// the event socket), as `datagram`, or as the receive error `error` when that is not 0.
struct PendingEvent {
  std::chrono::steady_clock::time_point due;
  uint32_t group = 0;
  Bytes datagram;
  int error = 0;
  bool from_reply = false;  // set off by a request; a later one replaces it
};

// A socket whose receives never wait: what its requests set off, in the order it comes.
struct QueuedDatagram {
  std::chrono::steady_clock::time_point due;
  Bytes datagram;
  int error = 0;  // not 0: the receive fails with this instead (0 with no bytes: empty datagram)
};
struct AsyncSocket {
  int fd = -1;  // the timer standing in for it: readable while a datagram is due
  bool open = false;
  std::deque<QueuedDatagram> queue;
};
constexpr int kAsyncSockets = 4;

struct FakeKernel {
  FakeResponder responder;
  int open_error = 0;
  int silence_ms = -1;
  int events_open_error = 0;
  int events_join_error = 0;
  int event_fd = -1;                  // the timer standing in for the event socket
  std::vector<uint32_t> joined;       // the groups the event socket belongs to
  std::vector<PendingEvent> pending;  // in the order they were scheduled
  bool keep_requests = true;
  FakeKernelLog log;
  int open_fd = -1;  // the socket of the exchange in progress
  FakeReply reply;   // its answer
  size_t next_datagram = 0;
  uint8_t* buffer = nullptr;  // the receive buffer last written, poisoned past its datagram
  size_t capacity = 0;
  // Made at reset: once the helper's system call filter is in force no timer can be created.
  AsyncSocket async[kAsyncSockets];
};

FakeKernel& fake() {
  static FakeKernel instance;
  return instance;
}

constexpr int kFirstFakeFd = 1000;

void pause_ms(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool deliverable(const FakeKernel& k, const PendingEvent& event) {
  return event.group == 0 ||
         std::find(k.joined.begin(), k.joined.end(), event.group) != k.joined.end();
}

// The pending notification the socket hands out next: the earliest due one it may receive.
std::vector<PendingEvent>::iterator next_event(FakeKernel& k) {
  auto next = k.pending.end();
  for (auto it = k.pending.begin(); it != k.pending.end(); ++it) {
    if (deliverable(k, *it) && (next == k.pending.end() || it->due < next->due)) next = it;
  }
  return next;
}

// Sets the timer to when `when` falls due (at once when it has), or disarms it when null.
void arm_timer(int fd, const std::chrono::steady_clock::time_point* when) {
  itimerspec due{};
  if (when != nullptr) {
    auto now = std::chrono::steady_clock::now();
    long long ns =
        *when > now ? std::chrono::duration_cast<std::chrono::nanoseconds>(*when - now).count() : 1;
    due.it_value = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  }
  (void)timerfd_settime(fd, 0, &due, nullptr);
}

// Makes the timer fire when the next notification falls due (at once when it already has), or
// disarms it. Setting the timer also clears a readiness it had, which the helper's system call
// filter would not let a read do.
void arm_events(FakeKernel& k) {
  if (k.event_fd < 0) return;
  auto next = next_event(k);
  arm_timer(k.event_fd, next != k.pending.end() ? &next->due : nullptr);
}

void arm_async(const AsyncSocket& socket) {
  arm_timer(socket.fd, socket.queue.empty() ? nullptr : &socket.queue.front().due);
}

AsyncSocket* async_of(FakeKernel& k, int fd) {
  for (AsyncSocket& socket : k.async) {
    if (socket.open && socket.fd == fd && fd >= 0) return &socket;
  }
  return nullptr;
}

void schedule(FakeKernel& k, PendingEvent event, int after_ms) {
  event.due = std::chrono::steady_clock::now() + std::chrono::milliseconds(after_ms);
  k.pending.push_back(std::move(event));
  arm_events(k);
}

}  // namespace

void fake_kernel_reset() {
  FakeKernel& k = fake();
  if (k.buffer != nullptr) FAKE_UNPOISON(k.buffer, k.capacity);
  if (k.event_fd >= 0) close(k.event_fd);
  for (AsyncSocket& socket : k.async) {
    if (socket.fd >= 0) close(socket.fd);
  }
  k = FakeKernel{};
  for (AsyncSocket& socket : k.async) {
    socket.fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  }
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
void fake_kernel_fail_events_join(int code) {
  fake().events_join_error = code;
}
void fake_kernel_schedule_event(uint32_t group, Bytes datagram, int after_ms) {
  PendingEvent event;
  event.group = group;
  event.datagram = std::move(datagram);
  schedule(fake(), std::move(event), after_ms);
}
void fake_kernel_schedule_loss(uint32_t group, int after_ms) {
  PendingEvent event;
  event.group = group;
  event.error = -ENOBUFS;
  schedule(fake(), std::move(event), after_ms);
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
  if (receive_timeout_ms == 0) {
    for (AsyncSocket& socket : k.async) {
      if (socket.open || socket.fd < 0) continue;
      socket.open = true;
      socket.queue.clear();
      arm_async(socket);
      ++k.log.opens;
      return socket.fd;
    }
    return -EMFILE;
  }
  k.log.receive_timeout_ms = receive_timeout_ms;
  k.open_fd = kFirstFakeFd + k.log.opens++;
  k.reply = FakeReply{};
  k.next_datagram = 0;
  return k.open_fd;
}

// Queues what a request on a socket that never waits sets off, each datagram due after the
// reply's delay, and then its closing receive error (silence queues nothing).
void queue_reply(AsyncSocket& socket, const FakeReply& reply) {
  auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(reply.delay_ms);
  for (const Bytes& datagram : reply.datagrams) socket.queue.push_back({due, datagram, 0});
  if (reply.after != -EAGAIN) socket.queue.push_back({due, Bytes{}, reply.after});
  arm_async(socket);
}

int fake_send(int fd, const uint8_t* bytes, size_t length) {
  FakeKernel& k = fake();
  AsyncSocket* async = async_of(k, fd);
  if (fd != k.open_fd && async == nullptr) return -EBADF;
  Bytes request(bytes, bytes + length);
  if (k.keep_requests) k.log.requests.push_back(request);
  FakeReply reply = k.responder ? k.responder(request) : FakeReply{};
  if (async != nullptr) {
    if (reply.send_error == 0) queue_reply(*async, reply);
  } else {
    k.reply = reply;
    k.next_datagram = 0;
  }
  if (reply.event_after_ms >= 0 && k.event_fd >= 0) {
    std::erase_if(k.pending, [](const PendingEvent& event) { return event.from_reply; });
    PendingEvent event;
    event.datagram = reply.event;
    event.error = reply.event_error;
    event.from_reply = true;
    schedule(k, std::move(event), reply.event_after_ms);
  }
  return reply.send_error;
}

// Hands `datagram` to the receive buffer as recv would.
long deliver(FakeKernel& k, const Bytes& datagram, uint8_t* buffer, size_t capacity) {
  size_t size = std::min(datagram.size(), capacity);  // a datagram too long is cut, as recv does
  FAKE_UNPOISON(buffer, capacity);
  if (size > 0) std::memcpy(buffer, datagram.data(), size);
  // Under AddressSanitizer, any read past the datagram (stale bytes of an earlier one) is caught.
  FAKE_POISON(buffer + size, capacity - size);
  k.buffer = buffer;
  k.capacity = capacity;
  return static_cast<long>(size);
}

long async_recv(FakeKernel& k, AsyncSocket& socket, uint8_t* buffer, size_t capacity) {
  if (socket.queue.empty() || std::chrono::steady_clock::now() < socket.queue.front().due) {
    arm_async(socket);
    return -EAGAIN;
  }
  QueuedDatagram next = std::move(socket.queue.front());
  socket.queue.pop_front();
  arm_async(socket);  // also clears the readiness of the datagram just taken
  if (next.error != 0) return next.error;
  return deliver(k, next.datagram, buffer, capacity);
}

long fake_recv(int fd, uint8_t* buffer, size_t capacity) {
  FakeKernel& k = fake();
  if (AsyncSocket* async = async_of(k, fd)) return async_recv(k, *async, buffer, capacity);
  if (fd != k.open_fd) return -EBADF;
  if (k.next_datagram == 0 && k.reply.delay_ms > 0) {
    // A late answer: a blocking receive waits for it, up to its time-out.
    if (k.reply.delay_ms >= k.log.receive_timeout_ms) {
      pause_ms(k.silence_ms >= 0 ? k.silence_ms : k.log.receive_timeout_ms);
      return -EAGAIN;
    }
    pause_ms(k.reply.delay_ms);
    k.reply.delay_ms = 0;
  }
  if (k.next_datagram < k.reply.datagrams.size()) {
    return deliver(k, k.reply.datagrams[k.next_datagram++], buffer, capacity);
  }
  if (k.reply.after == -EAGAIN)
    pause_ms(k.silence_ms >= 0 ? k.silence_ms : k.log.receive_timeout_ms);
  return k.reply.after;
}

void fake_close(int fd) {
  FakeKernel& k = fake();
  if (AsyncSocket* async = async_of(k, fd)) {
    async->open = false;
    async->queue.clear();
    arm_async(*async);
  }
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
  if (k.event_fd < 0) return -errno;
  k.joined.assign(1, group);
  arm_events(k);
  return k.event_fd;
}

int fake_events_join(int fd, uint32_t group) {
  FakeKernel& k = fake();
  if (fd != k.event_fd || fd < 0) return -EBADF;
  if (k.events_join_error != 0) return k.events_join_error;
  k.log.event_groups.push_back(group);
  k.joined.push_back(group);
  arm_events(k);
  return 0;
}

long fake_events_recv(int fd, uint8_t* buffer, size_t capacity) {
  FakeKernel& k = fake();
  if (fd != k.event_fd || fd < 0) return -EBADF;
  // Notifications for groups the socket never joined are not its to see.
  std::erase_if(k.pending, [&k](const PendingEvent& event) { return !deliverable(k, event); });
  auto next = next_event(k);
  if (next == k.pending.end() || std::chrono::steady_clock::now() < next->due) {
    arm_events(k);
    return -EAGAIN;
  }
  PendingEvent event = std::move(*next);
  k.pending.erase(next);
  arm_events(k);
  if (event.error != 0) return event.error;
  size_t size = std::min(event.datagram.size(), capacity);
  std::memcpy(buffer, event.datagram.data(), size);
  return static_cast<long>(size);
}

constexpr KernelPort kFakeKernelPort = {fake_open,       fake_send,        fake_recv,
                                        fake_close,      fake_events_open, fake_events_join,
                                        fake_events_recv};

}  // namespace

const KernelPort& fake_kernel_port() {
  return kFakeKernelPort;
}
