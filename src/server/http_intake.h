#pragma once

#include <cstddef>

#include "base/slots.h"

// Serves one readable slot in the handshake state: gathers the request until its blank line
// (dropping it without a reply when 8191 bytes come without one), then decides once (Host,
// Upgrade, Origin, key/version) and either replies and closes the slot or sends the 101 response
// and sets `upgraded`. An Origin longer than 159 characters is refused. Logs refused origins and
// accepted pages (cut to 159 characters), every byte outside 0x20..0x7E shown as '?'. Never
// touches other slots.
void http_intake(ConnectionSlot& slot);

// Looks up header `name` (ASCII letters compared case-insensitively, then ':' at once) in the
// NUL-terminated request text, from the line after the request line up to the blank line; copies
// its value, blanks and tabs trimmed, cut to capacity - 1 bytes, into `out` and returns `out`, or
// returns nullptr when the header is absent. The first matching line wins; only CR LF ends a line.
// Never reads past the request's NUL. REQUIRES: capacity >= 1.
char* find_header(const char* request, const char* name, char* out, size_t capacity);
