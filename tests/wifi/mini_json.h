#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Just enough JSON reading for the recordings' expected.json files.
struct Json {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  bool is_null() const { return kind == Kind::kNull; }
  // The member `key` (a null value when absent).
  const Json& operator[](std::string_view key) const;
  const Json& operator[](size_t index) const { return items.at(index); }
  int as_int() const { return static_cast<int>(number); }
};

// Parses `text`; false on malformed input.
bool parse_json(std::string_view text, Json* out);
