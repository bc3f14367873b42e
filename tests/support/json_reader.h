#pragma once

// Test kit: the one strict JSON reader (RFC 8259) of the tests, the fuzzers and the benchmark. It
// accepts exactly one value with nothing around it, keeps object members in their order, and
// gives up on anything malformed, invalid UTF-8 (RFC 3629) included. Small and slow on purpose.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct JsonMember;

struct JsonValue {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  double number = 0;  // a number's value
  std::string text;   // a string's decoded UTF-8, or a number as written
  std::vector<JsonValue> items;
  std::vector<JsonMember> members;

  // The first member named `key`, or null.
  const JsonValue* find(std::string_view key) const;
  // The first member named `key`, or a null value when there is none.
  const JsonValue& operator[](std::string_view key) const;
  // Item `index` of an array (which must hold it).
  const JsonValue& operator[](size_t index) const { return items.at(index); }
  bool is_null() const { return kind == kNull; }
  int as_int() const { return static_cast<int>(number); }
};

struct JsonMember {
  std::string first;  // the name
  JsonValue second;   // the value
};

// Length of the well-formed UTF-8 sequence (RFC 3629) at `text[at]` (at < text.size()), or 0.
size_t json_utf8_length(std::string_view text, size_t at);

// True when all of `text` is well-formed UTF-8.
bool valid_utf8(std::string_view text);

// Parses all of `text` as one JSON value into `out` (default-constructed); false when it is not
// exactly one valid JSON value in valid UTF-8, nesting at most 64 deep.
bool read_json(std::string_view text, JsonValue& out);

// The same, as the fuzzers spell it: JsonReader(text).read(out).
struct JsonReader {
  std::string_view text;
  explicit JsonReader(std::string_view t) : text(t) {}
  bool read(JsonValue& out) const { return read_json(text, out); }
};
