#include "mini_json.h"

#include <cstdlib>

namespace {

struct Reader {
  std::string_view text;
  size_t at = 0;

  void skip_blanks() {
    while (at < text.size() &&
           (text[at] == ' ' || text[at] == '\n' || text[at] == '\r' || text[at] == '\t')) {
      ++at;
    }
  }
  bool eat(char c) {
    skip_blanks();
    if (at < text.size() && text[at] == c) {
      ++at;
      return true;
    }
    return false;
  }
  bool word(std::string_view w) {
    if (text.substr(at, w.size()) != w) return false;
    at += w.size();
    return true;
  }

  static void put_utf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  bool string(std::string* out) {
    if (!eat('"')) return false;
    while (at < text.size() && text[at] != '"') {
      char c = text[at++];
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (at >= text.size()) return false;
      char e = text[at++];
      switch (e) {
        case 'n':
          *out += '\n';
          break;
        case 't':
          *out += '\t';
          break;
        case 'r':
          *out += '\r';
          break;
        case 'b':
          *out += '\b';
          break;
        case 'f':
          *out += '\f';
          break;
        case 'u': {
          if (at + 4 > text.size()) return false;
          put_utf8(*out, static_cast<unsigned>(
                             std::strtoul(std::string(text.substr(at, 4)).c_str(), nullptr, 16)));
          at += 4;
          break;
        }
        default:
          *out += e;
          break;
      }
    }
    return eat('"');
  }

  bool value(Json* out) {
    skip_blanks();
    if (at >= text.size()) return false;
    char c = text[at];
    if (c == '{') {
      ++at;
      out->kind = Json::Kind::kObject;
      if (eat('}')) return true;
      do {
        std::string key;
        Json member;
        skip_blanks();
        if (!string(&key) || !eat(':') || !value(&member)) return false;
        out->members.emplace_back(std::move(key), std::move(member));
      } while (eat(','));
      return eat('}');
    }
    if (c == '[') {
      ++at;
      out->kind = Json::Kind::kArray;
      if (eat(']')) return true;
      do {
        Json item;
        if (!value(&item)) return false;
        out->items.push_back(std::move(item));
      } while (eat(','));
      return eat(']');
    }
    if (c == '"') {
      out->kind = Json::Kind::kString;
      return string(&out->text);
    }
    if (word("true") || word("false")) {
      out->kind = Json::Kind::kBool;
      out->boolean = text[at - 1] == 'e' && text[at - 2] == 'u';
      return true;
    }
    if (word("null")) return true;
    char* end = nullptr;
    std::string rest(text.substr(at, 40));
    out->number = std::strtod(rest.c_str(), &end);
    if (end == rest.c_str()) return false;
    out->kind = Json::Kind::kNumber;
    at += static_cast<size_t>(end - rest.c_str());
    return true;
  }
};

}  // namespace

const Json& Json::operator[](std::string_view key) const {
  static const Json kNull;
  for (const auto& [name, value] : members) {
    if (name == key) return value;
  }
  return kNull;
}

bool parse_json(std::string_view text, Json* out) {
  Reader reader{text};
  if (!reader.value(out)) return false;
  reader.skip_blanks();
  return reader.at == text.size();
}
