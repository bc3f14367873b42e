#include "protocol/text_buffer.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "protocol/text_allocator.h"
#include "server/websocket.h"

namespace {

constexpr uint64_t kFirstBlock = 1024;

void* real_resize(void* block, size_t size) {
  return std::realloc(block, size);
}

TextResize resize_block = real_resize;

// Makes room for `extra` more bytes plus the NUL by the doubling rule; false when the block
// could not grow (the buffer is then unchanged).
bool reserve(TextBuffer& buffer, uint64_t extra) {
  uint64_t need = buffer.len + extra + 1;
  if (need <= buffer.cap) return true;
  uint64_t cap = buffer.cap == 0 ? kFirstBlock : buffer.cap;
  while (cap < need) cap *= 2;
  void* block = resize_block(buffer.data, cap);
  if (block == nullptr) return false;
  buffer.data = static_cast<char*>(block);
  buffer.cap = cap;
  return true;
}

// Two lowercase digits per byte value, so hex output costs one table load per byte.
constexpr std::array<char, 512> kHexPairs = [] {
  std::array<char, 512> table{};
  const char* digits = "0123456789abcdef";
  for (int i = 0; i < 256; ++i) {
    table[2 * i] = digits[i >> 4];
    table[2 * i + 1] = digits[i & 15];
  }
  return table;
}();

// Length of the valid UTF-8 sequence starting at `s` (RFC 3629), or 0 when the byte there does
// not start one. Stops at the first byte that fails, so it never reads past a NUL.
size_t utf8_sequence_length(const unsigned char* s) {
  unsigned char lead = s[0];
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // below is an overlong form
    if (lead == 0xED) high = 0x9F;  // above are UTF-16 surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    return 0;
  }
  if (s[1] < low || s[1] > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (s[i] < 0x80 || s[i] > 0xBF) return 0;
  }
  return length;
}

bool plain_json_byte(unsigned char b) {
  return b >= 0x20 && b < 0x7F && b != '"' && b != '\\';
}

bool try_append(TextBuffer& buffer, const void* bytes, size_t length) {
  if (!reserve(buffer, length)) return false;
  if (length > 0) std::memcpy(buffer.data + buffer.len, bytes, length);
  buffer.len += length;
  buffer.data[buffer.len] = '\0';
  return true;
}

// A run of copyable bytes that could not be appended whole: each byte or UTF-8 sequence gets its
// own chance, as if appended one by one.
void append_units(TextBuffer& buffer, const unsigned char* run, const unsigned char* end) {
  while (run < end) {
    size_t length = *run >= 0x80 ? utf8_sequence_length(run) : 1;
    try_append(buffer, run, length);
    run += length;
  }
}

}  // namespace

void text_seed(TextBuffer& buffer, const char* opening) {
  buffer = TextBuffer{};
  text_append(buffer, opening, std::strlen(opening));
}

void text_append(TextBuffer& buffer, const char* bytes, size_t length) {
  try_append(buffer, bytes, length);
}

void text_append_format(TextBuffer& buffer, const char* format, ...) {
  char scratch[512];
  va_list args;
  va_start(args, format);
  int written = std::vsnprintf(scratch, sizeof scratch, format, args);
  va_end(args);
  if (written < 1) return;
  text_append(buffer, scratch, written < 511 ? static_cast<size_t>(written) : 511);
}

void text_append_json_string(TextBuffer& buffer, const char* text) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
  text_append_literal(buffer, "\"");
  while (*s != 0) {
    // Copy a run of bytes that need no escaping in one append.
    const unsigned char* run = s;
    for (;;) {
      if (plain_json_byte(*s)) {
        ++s;
      } else if (*s >= 0x80) {
        size_t length = utf8_sequence_length(s);
        if (length == 0) break;
        s += length;
      } else {
        break;
      }
    }
    if (s != run && !try_append(buffer, run, s - run)) append_units(buffer, run, s);
    if (*s == 0) break;
    unsigned char b = *s++;
    if (b == '"' || b == '\\') {
      char escaped[2] = {'\\', static_cast<char>(b)};
      text_append(buffer, escaped, 2);
    } else {
      char escaped[6] = {'\\', 'u', '0', '0', kHexPairs[2 * b], kHexPairs[2 * b + 1]};
      text_append(buffer, escaped, 6);
    }
  }
  text_append_literal(buffer, "\"");
}

void text_append_hex(TextBuffer& buffer, const uint8_t* bytes, size_t length) {
  if (length == 0) return;
  if (!reserve(buffer, 2 * static_cast<uint64_t>(length))) {
    // Without room for the whole run, each pair still gets its own chance to grow the block.
    for (size_t i = 0; i < length; ++i) try_append(buffer, &kHexPairs[2 * bytes[i]], 2);
    return;
  }
  char* out = buffer.data + buffer.len;
  for (size_t i = 0; i < length; ++i) {
    std::memcpy(out + 2 * i, &kHexPairs[2 * bytes[i]], 2);
  }
  buffer.len += 2 * static_cast<uint64_t>(length);
  buffer.data[buffer.len] = '\0';
}

void text_send(ConnectionSlot& slot, TextBuffer& buffer) {
  if (buffer.data != nullptr) send_frame(slot, kOpcodeText, buffer.data, buffer.len);
  text_release(buffer);
}

void text_release(TextBuffer& buffer) {
  std::free(buffer.data);
  buffer = TextBuffer{};
}

void text_use_resize(TextResize resize) {
  resize_block = resize != nullptr ? resize : real_resize;
}
