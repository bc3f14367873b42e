#include "base/slots.h"

#include <unistd.h>

#include <cstring>

#include "base/log.h"

std::array<ConnectionSlot, kSlotCount> slots;

void clear_slot(ConnectionSlot& slot) {
  std::memset(&slot, 0, sizeof slot);
  slot.fd = -1;
}

void close_slot(ConnectionSlot& slot, const char* reason) {
  if (slot.fd != -1) close(slot.fd);
  if (slot.upgraded != 0) log_format<200>("Page disconnected (%s).", reason);
  clear_slot(slot);
}
