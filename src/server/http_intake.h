#pragma once

#include <cstddef>

#include "app/slots.h"

// Serves one readable slot in the handshake state: gathers the request until its blank line,
// then decides once (Host, Upgrade, Origin, key/version) and either replies and closes the slot
// or sends the 101 response and sets `upgraded`. May log lines. Never touches other slots.
void http_intake(ConnectionSlot& slot);

// Looks up header `name` (ASCII letters compared case-insensitively) in the NUL-terminated
// request text; copies its trimmed value, cut to capacity - 1 bytes, into `out` and returns
// `out`, or returns nullptr when the header is absent. The first matching line wins.
char* find_header(const char* request, const char* name, char* out, size_t capacity);

// Sends one plain-text HTTP/1.1 reply (status, body, Connection: close), ignoring whether it went
// out, then closes the slot with `reason`.
void reply_and_close(ConnectionSlot& slot, const char* status, const char* body,
                     const char* reason);
