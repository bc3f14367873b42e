#include "server/accept_key.h"

#include <cstdio>
#include <cstring>

#include "server/base64.h"
#include "server/sha1.h"

void make_accept_key(const char* key, char* out) {
  // Keys come from a 128-byte header buffer, so the joined text (at most 163 characters) is
  // never cut in practice.
  char joined[256];
  std::snprintf(joined, sizeof joined, "%s258EAFA5-E914-47DA-95CA-C5AB0DC85B11", key);
  std::array<uint8_t, kSha1DigestSize> digest = sha1_digest(joined, std::strlen(joined));
  base64_encode(digest.data(), digest.size(), out);
}
