#include "server/base64.h"

#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

void base64_encode(const void* bytes, size_t length, char* out) {
  const uint8_t* in = static_cast<const uint8_t*>(bytes);
  for (; length >= 3; in += 3, length -= 3) {
    uint32_t group = uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | in[2];
    *out++ = kAlphabet[group >> 18];
    *out++ = kAlphabet[(group >> 12) & 63];
    *out++ = kAlphabet[(group >> 6) & 63];
    *out++ = kAlphabet[group & 63];
  }
  if (length > 0) {
    uint32_t group = uint32_t{in[0]} << 16 | (length == 2 ? uint32_t{in[1]} << 8 : 0);
    *out++ = kAlphabet[group >> 18];
    *out++ = kAlphabet[(group >> 12) & 63];
    *out++ = length == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    *out++ = '=';
  }
  *out = '\0';
}
