#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr size_t kSha1DigestSize = 20;

// SHA-1 of the `length` bytes at `bytes`, as FIPS 180-4 defines it, in one call (no incremental
// interface). `bytes` may be null when `length` is 0.
std::array<uint8_t, kSha1DigestSize> sha1_digest(const void* bytes, uint64_t length);
