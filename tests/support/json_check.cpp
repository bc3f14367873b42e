#include "support/json_check.h"

#include "support/json_reader.h"

std::string check_json_texts(const std::vector<std::string>& texts) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < texts.size(); ++i) {
    JsonValue value;
    if (read_json(texts[i], value)) continue;
    std::string hex;
    for (size_t k = 0; k < texts[i].size() && k < 100; ++k) {
      auto b = static_cast<unsigned char>(texts[i][k]);
      hex += kDigits[b >> 4];
      hex += kDigits[b & 15];
    }
    return "text " + std::to_string(i) + (valid_utf8(texts[i]) ? "" : " (not UTF-8)") +
           " is not one valid JSON value: " + hex;
  }
  return "";
}
