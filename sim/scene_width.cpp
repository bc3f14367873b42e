#include "scene_width.h"

#include "wifi/ie_width.h"

namespace {

void add(Bytes& out, uint8_t id, const Bytes& body) {
  out.push_back(id);
  out.push_back(static_cast<uint8_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
}

// First channel number of the `width_mhz` block holding `channel`, in a band whose blocks start
// at channel `base` (channels are 4 numbers apart).
int block_start(int channel, int base, int width_mhz) {
  int span = 4 * (width_mhz / 20);
  return base + ((channel - base) / span) * span;
}

// Centre channel of the `width_mhz` block holding `channel`.
uint8_t centre(int channel, int base, int width_mhz) {
  return static_cast<uint8_t>(block_start(channel, base, width_mhz) + 2 * (width_mhz / 20 - 1));
}

// Primary channel, then the secondary channel offset (1 above, 3 below) with the STA channel
// width bit (any width) for 40 MHz; operation mode, STBC and the basic MCS set stay zero.
Bytes ht_operation(int channel, int secondary) {
  Bytes body(22, 0);
  body[0] = static_cast<uint8_t>(channel);
  if (secondary != 0) body[1] = static_cast<uint8_t>(secondary | 0x04);
  return body;
}

}  // namespace

std::optional<Bytes> width_elements(uint32_t freq, int width_mhz) {
  Bytes out;
  if (freq >= 2412 && freq <= 2484) {
    if (width_mhz != 20 && width_mhz != 40) return std::nullopt;
    int channel = freq == 2484 ? 14 : (static_cast<int>(freq) - 2407) / 5;
    int secondary = width_mhz == 40 ? (channel <= 7 ? 1 : 3) : 0;
    add(out, 45, Bytes(26, 0));  // an access point announcing a width has HT capabilities too
    add(out, kHtOperation, ht_operation(channel, secondary));
    return out;
  }
  if (freq >= 5150 && freq <= 5925) {
    if (width_mhz != 20 && width_mhz != 40 && width_mhz != 80 && width_mhz != 160) {
      return std::nullopt;
    }
    int channel = (static_cast<int>(freq) - 5000) / 5;
    int base = channel >= 149 ? 149 : 36;
    int secondary = 0;
    if (width_mhz >= 40) secondary = block_start(channel, base, 40) == channel ? 1 : 3;
    add(out, 45, Bytes(26, 0));   // HT and VHT capabilities (all zero: none of their options)
    add(out, 191, Bytes(12, 0));  // come with the operation elements
    add(out, kHtOperation, ht_operation(channel, secondary));
    // VHT width 0 leaves 20/40 to the HT element; 160 is written the current way: width 1 with
    // segment 0 the centre of the primary 80 MHz and segment 1 the centre of the 160 MHz.
    Bytes vht{0, 0, 0, 0xfc, 0xff};
    if (width_mhz >= 80) {
      vht[0] = 1;
      vht[1] = centre(channel, base, 80);
      if (width_mhz == 160) vht[2] = centre(channel, base, 160);
    }
    add(out, kVhtOperation, vht);
    return out;
  }
  if (freq >= 5955 && freq <= 7115) {
    int channel = (static_cast<int>(freq) - 5950) / 5;
    int he_width = width_mhz == 320 ? 160 : width_mhz;
    static constexpr int kControl[] = {20, 40, 80, 160};
    int control = -1;
    for (int i = 0; i < 4; ++i) control = kControl[i] == he_width ? i : control;
    if (control < 0) return std::nullopt;
    // Parameters with "6 GHz operation information present" (bit 17), BSS colour 1, basic
    // HE-MCS set; then primary channel, control, centre segments 0 and 1, minimum rate.
    Bytes he{kExtHeOperation,
             0x00,
             0x00,
             0x02,
             0x01,
             0xfc,
             0xff,
             static_cast<uint8_t>(channel),
             static_cast<uint8_t>(control),
             0,
             0,
             6};
    if (he_width == 160) {
      he[9] = centre(channel, 1, 80);
      he[10] = centre(channel, 1, 160);
    } else {
      he[9] = centre(channel, 1, he_width);
    }
    Bytes he_caps(22, 0);  // HE (and for 320 MHz EHT) capabilities come with the operation
    he_caps[0] = 35;
    add(out, kExtension, he_caps);
    add(out, kExtension, he);
    if (width_mhz == 320) {
      // Parameters with "operation information present", basic EHT-MCS set, then control
      // (width 4: 320 MHz) and centre segments 0 (the primary 160) and 1 (the 320).
      Bytes eht{kExtEhtOperation,       0x01, 0x44, 0x44, 0x44, 0x44, 4, centre(channel, 1, 160),
                centre(channel, 1, 320)};
      he_caps[0] = 108;
      add(out, kExtension, Bytes(he_caps.begin(), he_caps.begin() + 16));
      add(out, kExtension, eht);
    }
    return out;
  }
  return std::nullopt;
}
