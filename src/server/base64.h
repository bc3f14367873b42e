#pragma once

#include <cstddef>

// Bytes `base64_encode` writes for `length` input bytes, the closing NUL included.
constexpr size_t base64_encoded_size(size_t length) {
  return (length + 2) / 3 * 4 + 1;
}

// Writes the RFC 4648 Base64 text of the `length` bytes at `bytes` (standard alphabet, '='
// padding, no line breaks) followed by a NUL into `out`.
// REQUIRES: `out` holds at least base64_encoded_size(length) bytes.
void base64_encode(const void* bytes, size_t length, char* out);
