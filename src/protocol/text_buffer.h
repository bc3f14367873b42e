#pragma once

#include <cstddef>
#include <cstdint>

#include "base/slots.h"

// A growable, NUL-terminated byte string in which every JSON message is built. Empty: data null,
// len 0, cap 0. Whenever data is non-null, len + 1 <= cap and data[len] is NUL. Capacities are
// 1024 times a power of two. A buffer is a local of the one reply it builds.
struct TextBuffer {
  char* data;
  uint64_t len;
  uint64_t cap;
};

// Starts `buffer` as a fresh 1024-byte block holding `opening`; when the block can't be had the
// buffer starts empty instead.
void text_seed(TextBuffer& buffer, const char* opening);

// Appends `length` bytes (none of them NUL). When the block cannot grow, this one append is
// dropped and the buffer keeps its old text.
void text_append(TextBuffer& buffer, const char* bytes, size_t length);

// Appends the string literal `text` without its closing NUL, as text_append does.
template <size_t Size>
void text_append_literal(TextBuffer& buffer, const char (&text)[Size]) {
  text_append(buffer, text, Size - 1);
}

// Formats into a 512-byte scratch area and appends the result, cut to its first 511 bytes;
// an empty or failed formatting appends nothing.
[[gnu::format(printf, 2, 3)]] void text_append_format(TextBuffer& buffer, const char* format, ...);

// Appends `text` as a JSON string literal: valid UTF-8 sequences (RFC 3629, so no overlong forms,
// surrogates or code points above U+10FFFF) are copied, quote and backslash are escaped with a
// backslash, and every other byte below 0x20, 0x7F or not part of a valid sequence becomes
// \u00xx. The result is always valid JSON and valid UTF-8.
void text_append_json_string(TextBuffer& buffer, const char* text);

// Appends each byte as two lowercase hexadecimal digits.
void text_append_hex(TextBuffer& buffer, const uint8_t* bytes, size_t length);

// Sends the text as one text frame when a block exists, then releases the block.
void text_send(ConnectionSlot& slot, TextBuffer& buffer);

// Releases the block (a null block is fine) and empties the buffer.
void text_release(TextBuffer& buffer);
