#include "server/http_intake.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/clock.h"
#include "base/log.h"
#include "base/settings.h"
#include "server/accept_key.h"
#include "server/origin_policy.h"
#include "server/send_queue.h"

namespace {

constexpr size_t kOriginLimit = 159;  // longest Origin value compared; longer ones are refused

char ascii_lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal_ignoring_ascii_case(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (ascii_lower(*a) != ascii_lower(*b)) return false;
  }
  return *a == *b;
}

// True when `line` begins with `name` (ASCII letters folded) followed at once by ':'. Stops at the
// first differing byte, so it never reads past the NUL that ends `line`.
bool header_name_matches(const char* line, const char* name, size_t name_len) {
  for (size_t i = 0; i < name_len; ++i) {
    if (ascii_lower(line[i]) != ascii_lower(name[i])) return false;
  }
  return line[name_len] == ':';
}

// Copies `text` into `out` (cut to capacity - 1) with every byte outside printable ASCII
// (0x20..0x7E) written as '?', so a value a client chose cannot move the cursor or retitle the
// user's terminal when it is logged: 0x9B alone is a control sequence on terminals that honour
// 8-bit controls. A browser's Origin is ASCII (host names in punycode), so nothing real is lost.
void printable_copy(const char* text, char* out, size_t capacity) {
  size_t i = 0;
  for (; text[i] != '\0' && i + 1 < capacity; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    out[i] = (c < 0x20 || c > 0x7E) ? '?' : text[i];
  }
  out[i] = '\0';
}

bool host_allowed(const char* host) {
  char by_address[64];
  char by_name[64];
  std::snprintf(by_address, sizeof by_address, "127.0.0.1:%d", listen_port);
  std::snprintf(by_name, sizeof by_name, "localhost:%d", listen_port);
  return equal_ignoring_ascii_case(host, by_address) || equal_ignoring_ascii_case(host, by_name);
}

// The last link of the decision chain: the 101 response, then the slot belongs to the frame
// receiver.
void upgrade(ConnectionSlot& slot, const char* key, const char* origin) {
  char accept[40];
  make_accept_key(key, accept);
  char response[300];
  int length = std::snprintf(response, sizeof response,
                             "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                             "Connection: Upgrade\r\nSec-WebSocket-Accept: %s\r\n\r\n",
                             accept);
  if (!send_all(slot.fd, response, static_cast<size_t>(length))) {
    close_slot(slot, "send");
    return;
  }
  slot.upgraded = 1;
  size_t kept = strnlen(origin, sizeof slot.origin - 1);  // cut to 127 characters
  std::memcpy(slot.origin, origin, kept);
  slot.origin[kept] = '\0';
  char shown[kOriginLimit + 1];
  printable_copy(origin, shown, sizeof shown);
  log_format<256>("Connected to %s (slot %d).", shown, slot_number(slot));
}

// Sends one plain-text HTTP/1.1 reply (status, body, `extra_headers` as whole CR LF-ended lines,
// Connection: close), ignoring whether it went out, then closes the slot with `reason`.
void reply_and_close(ConnectionSlot& slot, const char* status, const char* body, const char* reason,
                     const char* extra_headers = "") {
  char reply[600];
  int length = std::snprintf(reply, sizeof reply,
                             "HTTP/1.1 %s\r\nContent-Type: text/plain; charset=utf-8\r\n"
                             "Content-Length: %u\r\n%sConnection: close\r\n\r\n%s",
                             status, static_cast<unsigned>(std::strlen(body)), extra_headers, body);
  if (length > 0) {
    size_t size =
        static_cast<size_t>(length) < sizeof reply ? static_cast<size_t>(length) : sizeof reply - 1;
    (void)send_all(slot.fd, reply, size);
  }
  close_slot(slot, reason);
}

// Runs once the header block is complete; every outcome but the upgrade replies and closes.
void decide(ConnectionSlot& slot) {
  char host[128];
  if (find_header(slot.request, "Host", host, sizeof host) == nullptr || !host_allowed(host)) {
    reply_and_close(slot, "403 Forbidden", "wrong host\n", "bad host");
    return;
  }

  // An origin of at most 159 characters is compared. The buffer holds one byte more, so a longer
  // value is seen as such instead of being cut to pass for an allowed origin it begins with.
  char origin[kOriginLimit + 2];
  bool has_origin = find_header(slot.request, "Origin", origin, sizeof origin) != nullptr;
  bool allowed =
      has_origin && std::strlen(origin) <= kOriginLimit && origin_allowed(origin, dev_origin);

  char upgrade_value[64];
  if (find_header(slot.request, "Upgrade", upgrade_value, sizeof upgrade_value) == nullptr ||
      !equal_ignoring_ascii_case(upgrade_value, "websocket")) {
    // An allowed page may read this answer, so one fetch tells it the helper runs (an answer)
    // from the browser blocking it (a network error). Any other request gets the same bytes as
    // ever.
    char cors[kOriginLimit + 64] = "";
    if (allowed) {
      std::snprintf(cors, sizeof cors, "Access-Control-Allow-Origin: %s\r\nVary: Origin\r\n",
                    origin);
    }
    reply_and_close(slot, "200 OK",
                    "Tamberline Tivel Helper is running. Go back to the Tamberline page; it "
                    "connects by itself.\n",
                    "plain http", cors);
    return;
  }

  if (!allowed) {
    char shown[kOriginLimit + 1] = "an unknown page";
    if (has_origin) printable_copy(origin, shown, sizeof shown);
    log_format<256>("Refused a connection from %s (only Tamberline pages may connect).", shown);
    reply_and_close(slot, "403 Forbidden", "origin not allowed\n", "origin");
    return;
  }

  char key[128];
  char version[16];
  if (find_header(slot.request, "Sec-WebSocket-Key", key, sizeof key) == nullptr ||
      find_header(slot.request, "Sec-WebSocket-Version", version, sizeof version) == nullptr ||
      std::strcmp(version, "13") != 0) {
    reply_and_close(slot, "400 Bad Request", "bad websocket request\n", "bad ws");
    return;
  }

  upgrade(slot, key, origin);
}

}  // namespace

void http_intake(ConnectionSlot& slot) {
  const size_t limit = kRequestCapacity - 1;
  ssize_t got = recv(slot.fd, slot.request + slot.request_len, limit - slot.request_len, 0);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;  // nothing after all
  if (got <= 0) {
    close_slot(slot, "closed");
    return;
  }
  // The handshake limit runs from here: a browser may hold a connection open, silent, while it
  // asks the user whether the page may reach this computer.
  if (slot.request_len == 0) slot.first_byte_ms = monotonic_ms();
  slot.request_len += static_cast<size_t>(got);
  slot.request[slot.request_len] = '\0';

  // A NUL received early ends the text here, so a request hiding its blank line behind one waits
  // for the size limit or the handshake timeout.
  if (std::strstr(slot.request, "\r\n\r\n") == nullptr) {
    if (slot.request_len >= limit) close_slot(slot, "oversized request");
    return;
  }
  decide(slot);
}

char* find_header(const char* request, const char* name, char* out, size_t capacity) {
  const char* line = std::strstr(request, "\r\n");
  if (line == nullptr) return nullptr;
  line += 2;
  const size_t name_len = std::strlen(name);
  for (;;) {
    if (*line == '\0' || *line == '\r') return nullptr;
    if (header_name_matches(line, name, name_len)) break;
    line = std::strstr(line, "\r\n");
    if (line == nullptr) return nullptr;
    line += 2;
  }

  const char* value = line + name_len + 1;
  while (*value == ' ' || *value == '\t') ++value;
  const char* end = std::strstr(value, "\r\n");
  if (end == nullptr) end = value + std::strlen(value);
  while (end > value && (end[-1] == ' ' || end[-1] == '\t')) --end;

  size_t length = static_cast<size_t>(end - value);
  if (length > capacity - 1) length = capacity - 1;
  std::memcpy(out, value, length);
  out[length] = '\0';
  return out;
}
