#include "wifi/ie_width.h"

#include <algorithm>

namespace {

// HT operation: primary channel, then secondary channel offset (bits 0-1: 1 above, 3 below) and
// STA channel width (bit 2: any width allowed).
int32_t ht_width(const uint8_t* body, size_t size) {
  if (size < 2) return 0;
  uint8_t offset = body[1] & 0x03;
  bool any_width = (body[1] & 0x04) != 0;
  return (offset == 1 || offset == 3) && any_width ? 40 : 20;
}

// VHT operation information: channel width, centre segments 0 and 1. Width 0 leaves the width to
// the HT operation; 1 is 80, or 160 (and 80+80) when segment 1 is set; 2 and 3 are the older ways
// of writing 160 and 80+80.
int32_t vht_width(const uint8_t* body, size_t size) {
  if (size < 3) return 0;
  switch (body[0]) {
    case 1:
      return body[2] != 0 ? 160 : 80;
    case 2:
    case 3:
      return 160;
    default:
      return 0;
  }
}

// HE operation (after its extension ID): 3 bytes of parameters, BSS colour, 2 bytes of basic
// HE-MCS set; then VHT operation information (3 bytes, parameter bit 14), the co-hosted BSSID
// indicator (1 byte, bit 15) and the 6 GHz operation information (5 bytes, bit 17): primary
// channel, control (bits 0-1: 20, 40, 80, 160 or 80+80), centre segments, minimum rate.
int32_t he_width(const uint8_t* body, size_t size) {
  constexpr size_t kFixed = 6;
  if (size < kFixed) return 0;
  uint32_t params = body[0] | (body[1] << 8) | (body[2] << 16);
  size_t at = kFixed;
  int32_t width = 0;
  if ((params & 0x004000) != 0) {
    width = vht_width(body + at, size - at);
    at += 3;
  }
  if ((params & 0x008000) != 0) at += 1;
  if ((params & 0x020000) != 0 && at + 2 <= size) {
    static constexpr int32_t kSixGhz[4] = {20, 40, 80, 160};
    width = std::max(width, kSixGhz[body[at + 1] & 0x03]);
  }
  return width;
}

// EHT operation (after its extension ID): parameters (bit 0: operation information present),
// 4 bytes of basic EHT-MCS set, then the information: control (bits 0-2: 20, 40, 80, 160, 320)
// and centre segments. Without the information the width is the HE operation's.
int32_t eht_width(const uint8_t* body, size_t size) {
  constexpr size_t kInfo = 5;
  if (size < kInfo + 1 || (body[0] & 0x01) == 0) return 0;
  static constexpr int32_t kWidths[8] = {20, 40, 80, 160, 320, 0, 0, 0};
  return kWidths[body[kInfo] & 0x07];
}

}  // namespace

int32_t width_from_ies(const uint8_t* ies, size_t length) {
  if (length == 0) return 0;
  int32_t width = 20;
  size_t at = 0;
  Element element;
  while (next_element(ies, length, &at, &element)) {
    const uint8_t* body = element.body;
    const size_t size = element.size;
    if (element.id == kHtOperation) {
      width = std::max(width, ht_width(body, size));
    } else if (element.id == kVhtOperation) {
      width = std::max(width, vht_width(body, size));
    } else if (element.id == kExtension && size >= 1 && body[0] == kExtHeOperation) {
      width = std::max(width, he_width(body + 1, size - 1));
    } else if (element.id == kExtension && size >= 1 && body[0] == kExtEhtOperation) {
      width = std::max(width, eht_width(body + 1, size - 1));
    }
  }
  return width;
}
