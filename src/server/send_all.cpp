#include "server/send_all.h"

#include <sys/socket.h>

#include <algorithm>

#include "base/clock.h"

bool send_all(int fd, const void* bytes, size_t length) {
  const char* next = static_cast<const char*>(bytes);
  const uint64_t start = monotonic_ms();
  while (length > 0) {
    const size_t offered = std::min<size_t>(length, 65536);
    ssize_t sent = send(fd, next, offered, 0);
    // A blocking send comes back short only when its time-out or a signal cut it off; one more
    // try is fine, but a peer that takes so little for so long has stopped reading.
    bool stalled = sent > 0 && static_cast<size_t>(sent) < offered &&
                   monotonic_ms() - start >= static_cast<uint64_t>(kSendTimeoutMs);
    if (sent <= 0 || stalled) {
      // Part of a message may already be on the wire, so nothing sent later could be read
      // correctly: end the connection both ways. The next receive on it then returns the end of
      // the stream and the slot is closed the usual way.
      shutdown(fd, SHUT_RDWR);
      return false;
    }
    next += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}
