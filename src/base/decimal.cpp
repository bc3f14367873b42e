#include "base/decimal.h"

size_t read_decimal(const char* text, uint64_t ceiling, uint64_t* value) {
  uint64_t total = 0;
  size_t count = 0;
  for (; text[count] >= '0' && text[count] <= '9'; ++count) {
    const uint64_t digit = static_cast<uint64_t>(text[count] - '0');
    const bool over = digit > ceiling || total > (ceiling - digit) / 10;
    total = over ? ceiling : total * 10 + digit;
  }
  *value = total;
  return count;
}

bool parse_decimal(const char* text, uint64_t largest, uint64_t* value) {
  uint64_t read = 0;
  const size_t count = read_decimal(text, largest + 1, &read);
  if (count == 0 || text[count] != '\0' || read > largest) return false;
  *value = read;
  return true;
}
