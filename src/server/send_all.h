#pragma once

#include <cstddef>

// Writes all `length` bytes to the blocking socket in calls of at most 65536 bytes, continuing
// short writes. Returns false at the first send that returns 0 or less; true when all went out
// (a length of 0 succeeds at once). Every socket write of the helper goes through here.
bool send_all(int fd, const void* bytes, size_t length);
