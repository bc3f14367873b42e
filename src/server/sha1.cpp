#include "server/sha1.h"

#include <cstring>

namespace {

uint32_t rotate_left(uint32_t value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

// One 64-byte block into the five state words.
void sha1_block(std::array<uint32_t, 5>& state, const uint8_t* block) {
  uint32_t w[80];
  for (int t = 0; t < 16; ++t) {
    w[t] = uint32_t{block[4 * t]} << 24 | uint32_t{block[4 * t + 1]} << 16 |
           uint32_t{block[4 * t + 2]} << 8 | uint32_t{block[4 * t + 3]};
  }
  for (int t = 16; t < 80; ++t) w[t] = rotate_left(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (int t = 0; t < 80; ++t) {
    uint32_t f, k;
    if (t < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    uint32_t next = rotate_left(a, 5) + f + e + k + w[t];
    e = d;
    d = c;
    c = rotate_left(b, 30);
    b = a;
    a = next;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

}  // namespace

std::array<uint8_t, kSha1DigestSize> sha1_digest(const void* bytes, uint64_t length) {
  std::array<uint32_t, 5> state{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  const uint8_t* input = static_cast<const uint8_t*>(bytes);

  // Full blocks straight from the input; only the tail is copied.
  uint64_t full = length / 64;
  for (uint64_t i = 0; i < full; ++i) sha1_block(state, input + i * 64);

  uint8_t block[64];
  size_t rest = static_cast<size_t>(length % 64);
  if (rest > 0) std::memcpy(block, input + full * 64, rest);
  block[rest] = 0x80;
  // The 8 length bytes need room after the 0x80 byte; 56 or more remaining bytes take a second
  // final block.
  if (rest >= 56) {
    std::memset(block + rest + 1, 0, 64 - rest - 1);
    sha1_block(state, block);
    std::memset(block, 0, 56);
  } else {
    std::memset(block + rest + 1, 0, 56 - rest - 1);
  }
  uint64_t bits = length * 8;
  for (int i = 0; i < 8; ++i) block[56 + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  sha1_block(state, block);

  std::array<uint8_t, kSha1DigestSize> digest;
  for (size_t i = 0; i < 5; ++i) {
    digest[4 * i] = static_cast<uint8_t>(state[i] >> 24);
    digest[4 * i + 1] = static_cast<uint8_t>(state[i] >> 16);
    digest[4 * i + 2] = static_cast<uint8_t>(state[i] >> 8);
    digest[4 * i + 3] = static_cast<uint8_t>(state[i]);
  }
  return digest;
}
