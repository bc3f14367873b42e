#include "server/http_intake.h"

#include <sys/socket.h>

// Placeholder until the page server lands: readable bytes are consumed and ignored.
void http_intake(ConnectionSlot& slot) {
  char sink[512];
  if (recv(slot.fd, sink, sizeof sink, 0) <= 0) close_slot(slot, "closed");
}

char* find_header(const char*, const char*, char*, size_t) {
  return nullptr;
}

void reply_and_close(ConnectionSlot& slot, const char*, const char*, const char* reason) {
  close_slot(slot, reason);
}
