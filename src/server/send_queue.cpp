#include "server/send_queue.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "base/clock.h"

namespace {

constexpr int kSendFlags = MSG_DONTWAIT | MSG_NOSIGNAL;

// Untouched pages cost no memory: a queue becomes resident only as far as it was ever filled.
uint8_t send_queues[kSlotCount][kSendQueueCapacity];

// The queue of the table's slot `slot`; null for any other slot.
uint8_t* queue_of(const ConnectionSlot& slot) {
  const int number = slot_number(slot);
  return number == 0 ? nullptr : send_queues[number - 1];
}

// Part of a message may already be on the wire, so nothing sent later could be read correctly:
// end the connection both ways. The next receive on it then returns the end of the stream and
// the slot is closed the usual way.
void break_connection(ConnectionSlot& slot) {
  shutdown(slot.fd, SHUT_RDWR);
  slot.send_broken = 1;
  slot.send_start = slot.send_end = 0;
}

// True for the errors that mean "no room now", as opposed to a failed connection.
bool would_wait(int error) {
  return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

}  // namespace

bool send_all(int fd, const void* bytes, size_t length) {
  const char* next = static_cast<const char*>(bytes);
  while (length > 0) {
    ssize_t sent = send(fd, next, length, kSendFlags);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) {
      shutdown(fd, SHUT_RDWR);
      return false;
    }
    next += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

bool slot_send(ConnectionSlot& slot, const iovec* pieces, int count) {
  if (slot.fd == -1 || slot.send_broken != 0) return true;
  // Piece by piece while the socket takes them whole; from the first it does not, the rest waits.
  int next = 0;
  size_t taken = 0;  // bytes of pieces[next] already sent
  while (next < count && send_queued(slot) == 0) {
    const iovec& piece = pieces[next];
    if (taken == piece.iov_len) {
      ++next;
      taken = 0;
      continue;
    }
    ssize_t sent = send(slot.fd, static_cast<const char*>(piece.iov_base) + taken,
                        piece.iov_len - taken, kSendFlags);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && !would_wait(errno)) {
      break_connection(slot);
      return true;
    }
    if (sent <= 0) break;
    taken += static_cast<size_t>(sent);
  }
  if (next == count) return true;
  size_t rest = pieces[next].iov_len - taken;
  for (int i = next + 1; i < count; ++i) rest += pieces[i].iov_len;
  uint8_t* queue = queue_of(slot);
  if (queue == nullptr || rest > kSendQueueCapacity - send_queued(slot)) return false;
  if (send_queued(slot) == 0) {
    slot.send_start = slot.send_end = 0;
    slot.send_progress_ms = monotonic_ms();
  } else if (slot.send_end + rest > kSendQueueCapacity) {
    std::memmove(queue, queue + slot.send_start, send_queued(slot));
    slot.send_end -= slot.send_start;
    slot.send_start = 0;
  }
  for (int i = next; i < count; ++i) {
    const size_t skip = i == next ? taken : 0;
    std::memcpy(queue + slot.send_end, static_cast<const uint8_t*>(pieces[i].iov_base) + skip,
                pieces[i].iov_len - skip);
    slot.send_end += pieces[i].iov_len - skip;
  }
  return true;
}

void slot_flush(ConnectionSlot& slot) {
  const uint8_t* queue = queue_of(slot);
  while (slot.fd != -1 && slot.send_broken == 0 && send_queued(slot) > 0) {
    ssize_t sent = send(slot.fd, queue + slot.send_start, send_queued(slot), kSendFlags);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (!would_wait(errno)) break_connection(slot);
      return;
    }
    slot.send_start += static_cast<size_t>(sent);
    slot.send_progress_ms = monotonic_ms();
  }
  // An empty queue starts again from the front: only its front pages are ever touched.
  if (send_queued(slot) == 0) slot.send_start = slot.send_end = 0;
}

uint64_t send_stall_due_ms(const ConnectionSlot& slot) {
  if (slot.fd == -1 || send_queued(slot) == 0) return UINT64_MAX;
  return slot.send_progress_ms + kSendTimeoutMs + 1;
}
