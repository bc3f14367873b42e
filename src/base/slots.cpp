#include "base/slots.h"

#include <unistd.h>

#include <cstring>

#include "base/log.h"

std::array<ConnectionSlot, kSlotCount> slots;

int slot_number(const ConnectionSlot& slot) {
  for (size_t i = 0; i < kSlotCount; ++i) {
    if (&slots[i] == &slot) return static_cast<int>(i) + 1;
  }
  return 0;
}

void clear_slot(ConnectionSlot& slot) {
  std::memset(&slot, 0, sizeof slot);
  slot.fd = -1;
}

void close_slot(ConnectionSlot& slot, const char* reason) {
  if (slot.fd != -1) close(slot.fd);
  if (slot.upgraded != 0) {
    log_format<200>("Page disconnected (%s): %s, slot %d.", reason, slot.origin, slot_number(slot));
  }
  clear_slot(slot);
}
