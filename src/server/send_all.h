#pragma once

#include <cstddef>

// Longest wait of one send on a page's connection (set on every accepted socket). A page that
// takes nothing for that long, or still has not taken a whole message after that long, has
// stopped reading.
inline constexpr int kSendTimeoutMs = 2000;

// Writes all `length` bytes to the blocking socket in calls of at most 65536 bytes, continuing
// short writes until kSendTimeoutMs have passed. Returns true when all went out (a length of 0
// succeeds at once); false at the first send that returns 0 or less, or that comes back short
// after that time, having shut the socket down both ways. Every socket write of the helper goes
// through here.
bool send_all(int fd, const void* bytes, size_t length);
