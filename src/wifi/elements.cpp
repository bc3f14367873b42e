#include "wifi/elements.h"

#include <algorithm>
#include <cstring>

bool next_element(const uint8_t* ies, size_t length, size_t* at, Element* element) {
  if (*at > length || length - *at < 2) return false;
  size_t size = ies[*at + 1];
  if (size > length - *at - 2) return false;
  *element = Element{ies[*at], ies + *at + 2, size};
  *at += 2 + size;
  return true;
}

bool ssid_from_elements(const uint8_t* ies, size_t length, char* out, size_t out_size) {
  size_t at = 0;
  Element element;
  while (next_element(ies, length, &at, &element)) {
    if (element.id != kSsidElement) continue;
    size_t size = std::min({element.size, kMaxSsid, out_size - 1});
    const void* zero = std::memchr(element.body, 0, size);
    if (zero != nullptr)
      size = static_cast<size_t>(static_cast<const uint8_t*>(zero) - element.body);
    std::memcpy(out, element.body, size);
    out[size] = '\0';
    return true;
  }
  return false;
}
