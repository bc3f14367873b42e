#include "support/json_reader.h"

#include <cstdlib>
#include <utility>

namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  // Parses the whole text as one value; false when it is not exactly one valid JSON value.
  bool read(JsonValue& out) {
    if (!value(out, 0)) return false;
    blanks();
    return at_ == s_.size();
  }

 private:
  bool value(JsonValue& out, int depth) {
    if (depth > 64) return false;
    blanks();
    if (at_ >= s_.size()) return false;
    char c = s_[at_];
    if (c == '{') return object(out, depth);
    if (c == '[') return array(out, depth);
    if (c == '"') {
      out.kind = JsonValue::kString;
      return string(out.text);
    }
    if (word("true")) {
      out.kind = JsonValue::kBool;
      out.boolean = true;
      return true;
    }
    if (word("false")) {
      out.kind = JsonValue::kBool;
      return true;
    }
    if (word("null")) return true;
    return number(out);
  }

  bool object(JsonValue& out, int depth) {
    out.kind = JsonValue::kObject;
    ++at_;
    blanks();
    if (take('}')) return true;
    for (;;) {
      blanks();
      std::string key;
      if (at_ >= s_.size() || s_[at_] != '"' || !string(key)) return false;
      blanks();
      if (!take(':')) return false;
      JsonValue member;
      if (!value(member, depth + 1)) return false;
      out.members.push_back({std::move(key), std::move(member)});
      blanks();
      if (take('}')) return true;
      if (!take(',')) return false;
    }
  }

  bool array(JsonValue& out, int depth) {
    out.kind = JsonValue::kArray;
    ++at_;
    blanks();
    if (take(']')) return true;
    for (;;) {
      JsonValue item;
      if (!value(item, depth + 1)) return false;
      out.items.push_back(std::move(item));
      blanks();
      if (take(']')) return true;
      if (!take(',')) return false;
    }
  }

  bool number(JsonValue& out) {
    size_t start = at_;
    take('-');
    if (take('0')) {
    } else if (digits() == 0) {
      return false;
    }
    if (take('.') && digits() == 0) return false;
    if (take('e') || take('E')) {
      if (!take('+')) take('-');
      if (digits() == 0) return false;
    }
    out.kind = JsonValue::kNumber;
    out.text.assign(s_.substr(start, at_ - start));
    out.number = std::strtod(out.text.c_str(), nullptr);
    return true;
  }

  bool string(std::string& out) {
    ++at_;  // opening quote
    while (at_ < s_.size()) {
      unsigned char c = static_cast<unsigned char>(s_[at_]);
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c < 0x20) return false;
      if (c == '\\') {
        if (++at_ >= s_.size()) return false;
        char e = s_[at_++];
        switch (e) {
          case '"':
          case '\\':
          case '/':
            out.push_back(e);
            break;
          case 'b':
            out.push_back('\b');
            break;
          case 'f':
            out.push_back('\f');
            break;
          case 'n':
            out.push_back('\n');
            break;
          case 'r':
            out.push_back('\r');
            break;
          case 't':
            out.push_back('\t');
            break;
          case 'u': {
            uint32_t code;
            if (!hex4(code)) return false;
            if (code >= 0xD800 && code <= 0xDBFF) {
              uint32_t low;
              if (!take('\\') || !take('u') || !hex4(low) || low < 0xDC00 || low > 0xDFFF)
                return false;
              code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            } else if (code >= 0xDC00 && code <= 0xDFFF) {
              return false;
            }
            put_utf8(out, code);
            break;
          }
          default:
            return false;
        }
        continue;
      }
      size_t length = utf8_length(at_);
      if (length == 0) return false;
      out.append(s_.substr(at_, length));
      at_ += length;
    }
    return false;
  }

  size_t utf8_length(size_t at) const { return json_utf8_length(s_, at); }

  static void put_utf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | code >> 6));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | code >> 12));
      out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | code >> 18));
      out.push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }

  bool hex4(uint32_t& code) {
    code = 0;
    for (int i = 0; i < 4; ++i) {
      if (at_ >= s_.size()) return false;
      char c = s_[at_++];
      int digit = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
      if (digit < 0) return false;
      code = code * 16 + static_cast<uint32_t>(digit);
    }
    return true;
  }

  size_t digits() {
    size_t start = at_;
    while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
    return at_ - start;
  }

  bool word(std::string_view w) {
    if (s_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }

  bool take(char c) {
    if (at_ < s_.size() && s_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }

  void blanks() {
    while (at_ < s_.size() &&
           (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\n' || s_[at_] == '\r'))
      ++at_;
  }

  std::string_view s_;
  size_t at_ = 0;
};

}  // namespace

const JsonValue* JsonValue::find(std::string_view key) const {
  for (const JsonMember& member : members) {
    if (member.first == key) return &member.second;
  }
  return nullptr;
}

const JsonValue& JsonValue::operator[](std::string_view key) const {
  static const JsonValue kAbsent;
  const JsonValue* found = find(key);
  return found != nullptr ? *found : kAbsent;
}

size_t json_utf8_length(std::string_view text, size_t at) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char b = byte(at);
  if (b < 0x80) return 1;
  size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
  if (length == 0 || b > 0xF4 || at + length > text.size()) return 0;
  uint32_t code = b & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(at + i) & 0x3F);
  }
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

bool valid_utf8(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    size_t length = json_utf8_length(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

bool read_json(std::string_view text, JsonValue& out) {
  return Parser(text).read(out);
}
