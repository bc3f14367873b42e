#pragma once

#include <cstddef>

// Characters of the Sec-WebSocket-Accept value (Base64 of a 20-byte digest), without the NUL.
inline constexpr size_t kAcceptKeyLength = 28;

// Writes the Sec-WebSocket-Accept value for the page's Sec-WebSocket-Key text `key` into `out`:
// Base64 of the SHA-1 of the key followed by the fixed WebSocket GUID, 28 characters and a NUL.
// The key is used as given (not decoded, any length; the empty text included); a key longer than
// 219 characters is cut to fit the join buffer. Never fails.
// REQUIRES: `out` holds at least kAcceptKeyLength + 1 bytes.
void make_accept_key(const char* key, char* out);
