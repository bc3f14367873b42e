#include "server/send_all.h"

#include <sys/socket.h>

#include <algorithm>

bool send_all(int fd, const void* bytes, size_t length) {
  const char* next = static_cast<const char*>(bytes);
  while (length > 0) {
    ssize_t sent = send(fd, next, std::min<size_t>(length, 65536), 0);
    if (sent <= 0) return false;
    next += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}
