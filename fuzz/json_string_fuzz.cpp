// JSON string writer under arbitrary bytes. The first input byte chooses the mode, the rest (up to
// its first NUL) is the text, held in a heap block of exactly its size so a read past the NUL
// trips ASan.
//
// Every input: text_append_json_string into an empty or a seeded buffer (bit 1 of the first
// byte). The appended part must be one JSON string literal that is valid UTF-8, uses only the
// escapes \" \\ and \u00xx (lowercase, and only for bytes that need one), and decodes to the
// text with every valid UTF-8 sequence kept and every other byte b turned into U+00b.
//
// First byte ending in the bits 001, also: the same with resizes of the block failing on a
// pattern drawn from the first byte. The text may then come out shorter, but only by whole
// pieces (a quote, an escape, a character): what is there is still valid UTF-8 and a subsequence
// of the full result, and the buffer keeps its invariants.

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "json_check.h"
#include "protocol/text_allocator.h"
#include "protocol/text_buffer.h"

namespace {

uint32_t failure_pattern = 0;  // bit i set: the i-th resize of this run fails
int resize_calls = 0;

// Length of the well-formed UTF-8 sequence at `s` (RFC 3629 by code point value), or 0.
size_t valid_sequence(const unsigned char* s, size_t available) {
  unsigned char b = s[0];
  size_t length;
  uint32_t code;
  if (b < 0x80) return 1;
  if ((b & 0xE0) == 0xC0) {
    length = 2;
    code = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    length = 3;
    code = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    length = 4;
    code = b & 0x07;
  } else {
    return 0;
  }
  if (length > available) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    code = code << 6 | (s[i] & 0x3F);
  }
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || code > 0x10FFFF) return 0;
  if (code >= 0xD800 && code <= 0xDFFF) return 0;
  return length;
}

void put_code_point(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else {
    out.push_back(static_cast<char>(0xC0 | code >> 6));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// What the JSON text must decode to: valid sequences kept, any other byte b as U+00b.
std::string expected_decoding(const std::string& text) {
  std::string out;
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t at = 0; at < text.size();) {
    size_t length = valid_sequence(s + at, text.size() - at);
    if (length > 0) {
      out.append(text, at, length);
      at += length;
    } else {
      put_code_point(out, s[at]);
      ++at;
    }
  }
  return out;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Length of the piece of JSON string output at `at` (a quote, an escape, a plain character or a
// UTF-8 sequence), checking that it is one the writer may produce.
size_t piece_length(std::string_view json, size_t at) {
  const auto* s = reinterpret_cast<const unsigned char*>(json.data());
  if (s[at] != '\\') {
    size_t length = valid_sequence(s + at, json.size() - at);
    FUZZ_CHECK(length > 0);  // the output is valid UTF-8
    if (length == 1) FUZZ_CHECK(s[at] >= 0x20 && s[at] != 0x7F);
    return length;
  }
  FUZZ_CHECK(at + 1 < json.size());
  if (s[at + 1] == '"' || s[at + 1] == '\\') return 2;
  FUZZ_CHECK(s[at + 1] == 'u' && at + 6 <= json.size());
  FUZZ_CHECK(s[at + 2] == '0' && s[at + 3] == '0');
  int high = hex_digit(static_cast<char>(s[at + 4]));
  int low = hex_digit(static_cast<char>(s[at + 5]));
  FUZZ_CHECK(high >= 0 && low >= 0);
  // Only bytes that cannot stand as they are get this form.
  FUZZ_CHECK(high * 16 + low < 0x20 || high * 16 + low >= 0x7F);
  return 6;
}

std::vector<std::string_view> pieces_of(std::string_view json) {
  std::vector<std::string_view> pieces;
  for (size_t at = 0; at < json.size();) {
    size_t length = piece_length(json, at);
    pieces.push_back(json.substr(at, length));
    at += length;
  }
  return pieces;
}

// Decodes a complete JSON string literal as the writer produces it.
std::string decode_literal(std::string_view json) {
  FUZZ_CHECK(json.size() >= 2 && json.front() == '"' && json.back() == '"');
  std::string out;
  size_t at = 1;
  for (;;) {
    size_t length = piece_length(json, at);
    std::string_view piece = json.substr(at, length);
    at += length;
    if (piece == "\"") break;  // a bare quote only closes
    if (piece.size() == 2 && piece[0] == '\\') {
      out.push_back(piece[1]);
    } else if (piece.size() == 6 && piece[0] == '\\') {
      put_code_point(out, static_cast<uint32_t>(hex_digit(piece[4]) * 16 + hex_digit(piece[5])));
    } else {
      out += piece;
    }
    FUZZ_CHECK(at < json.size());
  }
  FUZZ_CHECK(at == json.size());
  return out;
}

void check_invariants(const TextBuffer& buffer) {
  if (buffer.data == nullptr) {
    FUZZ_CHECK(buffer.len == 0 && buffer.cap == 0);
    return;
  }
  FUZZ_CHECK(buffer.len + 1 <= buffer.cap && buffer.data[buffer.len] == '\0');
  FUZZ_CHECK(buffer.cap >= 1024 && buffer.cap % 1024 == 0);
  uint64_t multiple = buffer.cap / 1024;
  FUZZ_CHECK((multiple & (multiple - 1)) == 0);
}

// The opening text of a seeded buffer, when the mode asks for one: long enough that the string
// append crosses the first block's end at a point the input chooses.
std::string opening_for(uint8_t mode) {
  if ((mode & 2) == 0) return {};
  return std::string(1000 + (mode >> 2) % 24, 'x');
}

std::string append_string(const char* text, const std::string& opening) {
  TextBuffer buffer{};
  if (!opening.empty()) text_seed(buffer, opening.c_str());
  size_t before = buffer.len;
  std::string kept(buffer.data == nullptr ? "" : buffer.data, before);
  text_append_json_string(buffer, text);
  check_invariants(buffer);
  std::string all(buffer.data == nullptr ? "" : buffer.data, buffer.len);
  FUZZ_CHECK(all.compare(0, before, kept) == 0);  // what was there stays
  text_release(buffer);
  return all.substr(before);
}

// Resizing with a failure schedule; the writer must cope with each failure on its own.
void* failing_resize(void* block, size_t size) {
  int call = resize_calls++;
  if (call < 32 && (failure_pattern >> call & 1) != 0) return nullptr;
  return std::realloc(block, size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  size_t length = strnlen(reinterpret_cast<const char*>(data + 1), size - 1);
  char* text = static_cast<char*>(std::malloc(length + 1));
  std::memcpy(text, data + 1, length);
  text[length] = '\0';
  const std::string opening = opening_for(mode);

  text_use_resize(failing_resize);
  failure_pattern = 0;
  resize_calls = 0;
  std::string json = append_string(text, opening);
  const std::string decoded = expected_decoding(std::string(text, length));
  FUZZ_CHECK(decode_literal(json) == decoded);
  JsonValue value;  // and a general JSON reader agrees
  FUZZ_CHECK(JsonReader(json).read(value) && value.kind == JsonValue::kString);
  FUZZ_CHECK(value.text == decoded);

  if ((mode & 7) == 1) {
    // Spread the pattern over the first resizes: the seed's (if any) and the string's.
    failure_pattern = (mode * 0x01010101u) & 0x2D4B69A5u;
    resize_calls = 0;
    std::string shortened = append_string(text, opening);
    std::vector<std::string_view> full = pieces_of(json);
    std::vector<std::string_view> kept = pieces_of(shortened);
    size_t next = 0;
    for (std::string_view piece : kept) {
      while (next < full.size() && full[next] != piece) ++next;
      FUZZ_CHECK(next < full.size());  // a piece of the full result, in order
      ++next;
    }
  }
  std::free(text);
  return 0;
}
