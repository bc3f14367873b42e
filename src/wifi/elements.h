#pragma once

#include <cstddef>
#include <cstdint>

// 802.11 information elements as the kernel hands them over: an ID byte, a length byte and that
// many bytes of body, back to back.

constexpr uint8_t kSsidElement = 0;
constexpr size_t kMaxSsid = 32;  // bytes of a network name

// One element inside a block of elements.
struct Element {
  uint8_t id;
  const uint8_t* body;
  size_t size;
};

// Reads the element at ies[*at] of ies[0..length) and moves *at past it. False at the end and at
// an element whose body runs past `length`: nothing after it can be trusted.
bool next_element(const uint8_t* ies, size_t length, size_t* at, Element* element);

// Copies the network name of the first complete SSID element in ies[0..length) as text into
// `out`: at most 32 bytes, ending at a zero byte, always terminated (out_size > 0). False,
// leaving `out` alone, when the elements hold no complete SSID element.
bool ssid_from_elements(const uint8_t* ies, size_t length, char* out, size_t out_size);
