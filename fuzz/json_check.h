#pragma once

// The fuzz targets read what the helper sends with the test kit's strict JSON reader.

#include <string>
#include <string_view>

#include "support/json_reader.h"

// What the helper's JSON string writer must decode back to for the NUL-free `text`: every
// well-formed UTF-8 sequence as it is, every other byte b as the character U+00b.
inline std::string writer_decoding(std::string_view text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    size_t length = json_utf8_length(text, at);
    if (length > 0) {
      out.append(text.substr(at, length));
      at += length;
    } else {
      unsigned char b = static_cast<unsigned char>(text[at++]);
      out.push_back(static_cast<char>(0xC0 | b >> 6));
      out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
  return out;
}
