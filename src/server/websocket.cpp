#include "server/websocket.h"

// Placeholder until the page server lands.
void ws_receive(ConnectionSlot& slot) {
  close_slot(slot, "closed");
}

void send_frame(ConnectionSlot&, int, const void*, uint64_t) {}
