// HTTP intake under arbitrary bytes: the first input byte chooses how the rest is split into
// writes, the rest is what a client sends on a fresh connection. Each piece goes through the real
// http_intake on a socket pair, called as the loop calls it (once per readable event), until the
// slot is upgraded or closed or the client's bytes run out (then the client shuts its side).
//
// Checked after every call: the slot's request stays NUL-terminated within its 8191 bytes and
// matches what was sent; the slot waits only while no blank line is visible and the buffer has
// room; the decision is taken on the request as it stood when the blank line became visible, and
// the one reply (if any) is exactly one of the five forms, the one the Host/Upgrade/Origin/
// key-version rules pick for that request. find_header is also run over the raw text in
// exact-size heap copies, so any read past the request or write past the value buffer trips ASan.

#include <cstring>
#include <string>
#include <string_view>

#include "base/settings.h"
#include "base/slots.h"
#include "fuzz_support.h"
#include "server/accept_key.h"
#include "server/http_intake.h"

namespace {

constexpr int kPort = 47800;
constexpr const char* kDevOrigin = "http://localhost:5173";
constexpr size_t kRequestLimit = 8191;

constexpr const char* kHeaderNames[] = {"Host", "Upgrade", "Origin", "Sec-WebSocket-Key",
                                        "Sec-WebSocket-Version"};

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string plain_reply(const char* status, const char* body, const std::string& extra = "") {
  return std::string("HTTP/1.1 ") + status +
         "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
         std::to_string(std::strlen(body)) + "\r\n" + extra + "Connection: close\r\n\r\n" + body;
}

// The reply the decision rules give for a complete request `text` (NUL-terminated).
std::string expected_reply(const char* text) {
  char host[128];
  if (find_header(text, "Host", host, sizeof host) == nullptr ||
      !(same_ignoring_case(host, "127.0.0.1:" + std::to_string(kPort)) ||
        same_ignoring_case(host, "localhost:" + std::to_string(kPort))))
    return plain_reply("403 Forbidden", "wrong host\n");

  char origin[161];  // an origin longer than 159 characters is refused, never cut to fit
  static constexpr std::string_view kAllowed[] = {
      "https://tamberline.com", "https://www.tamberline.com", "https://kestrune.com",
      "https://www.kestrune.com", kDevOrigin};
  bool allowed = false;
  if (find_header(text, "Origin", origin, sizeof origin) != nullptr && std::strlen(origin) <= 159) {
    for (std::string_view page : kAllowed) allowed = allowed || page == origin;
  }

  char upgrade[64];
  if (find_header(text, "Upgrade", upgrade, sizeof upgrade) == nullptr ||
      !same_ignoring_case(upgrade, "websocket")) {
    // An allowed page may read the plain answer.
    std::string cors;
    if (allowed)
      cors = std::string("Access-Control-Allow-Origin: ") + origin + "\r\nVary: Origin\r\n";
    return plain_reply("200 OK",
                       "Tamberline Tivel Helper is running. Go back to the Tamberline page; it "
                       "connects by itself.\n",
                       cors);
  }
  if (!allowed) return plain_reply("403 Forbidden", "origin not allowed\n");

  char key[128];
  char version[16];
  if (find_header(text, "Sec-WebSocket-Key", key, sizeof key) == nullptr ||
      find_header(text, "Sec-WebSocket-Version", version, sizeof version) == nullptr ||
      std::string_view(version) != "13")
    return plain_reply("400 Bad Request", "bad websocket request\n");

  char accept[40];
  make_accept_key(key, accept);
  return std::string("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n") +
         "Connection: Upgrade\r\nSec-WebSocket-Accept: " + accept + "\r\n\r\n";
}

// find_header over `text` held in a heap block of exactly its size, with value buffers of exactly
// `capacity` bytes: the value found must be cut to capacity - 1, trimmed, free of line ends
// (unless cut inside one) and a piece of the header block.
void check_find_header(std::string_view raw, size_t capacity) {
  size_t length = raw.find('\0');
  if (length == std::string_view::npos) length = raw.size();
  char* text = static_cast<char*>(std::malloc(length + 1));
  std::memcpy(text, raw.data(), length);
  text[length] = '\0';
  char* out = static_cast<char*>(std::malloc(capacity));
  for (const char* name : kHeaderNames) {
    char* found = find_header(text, name, out, capacity);
    if (found == nullptr) continue;
    FUZZ_CHECK(found == out);
    size_t value_len = std::strlen(out);
    FUZZ_CHECK(value_len <= capacity - 1);
    if (value_len > 0) {
      FUZZ_CHECK(out[0] != ' ' && out[0] != '\t');
      FUZZ_CHECK(std::strstr(text, out) != nullptr);
    }
    if (value_len < capacity - 1) {
      FUZZ_CHECK(std::strstr(out, "\r\n") == nullptr);
      if (value_len > 0) FUZZ_CHECK(out[value_len - 1] != ' ' && out[value_len - 1] != '\t');
    }
  }
  std::free(out);
  std::free(text);
}

ConnectionSlot slot;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silence_stdout();
  listen_port = kPort;
  std::snprintf(dev_origin, sizeof dev_origin, "%s", kDevOrigin);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  SplitPlan plan(data[0]);
  const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
  check_find_header(stream, 1 + data[0] % 170);

  SocketPair pair = open_pair();
  clear_slot(slot);
  slot.fd = pair.helper;

  std::string seen;      // what the helper has read so far, as its request buffer holds it
  std::string expected;  // the reply the rules call for, once decided
  bool decided = false;  // a reply (or the upgrade) is due
  size_t fed = 0;
  bool client_done = false;
  while (slot.fd != -1 && slot.upgraded == 0) {
    if (fed < stream.size()) {
      size_t piece = plan.next(stream.size() - fed);
      FUZZ_CHECK(feed(pair.page, data + 1 + fed, piece));
      fed += piece;
    } else if (!client_done) {
      shutdown(pair.page, SHUT_WR);
      client_done = true;
    } else {
      break;
    }
    while (slot.fd != -1 && slot.upgraded == 0 && readable(pair.helper)) {
      size_t waiting = pending_bytes(pair.helper);
      size_t take = std::min(waiting, kRequestLimit - seen.size());
      std::string text = seen + std::string(stream.substr(seen.size(), take));
      // The rules look only at the text up to the first NUL.
      bool complete = std::strstr(text.c_str(), "\r\n\r\n") != nullptr;
      http_intake(slot);
      seen = text;
      if (take == 0) {  // end of stream: closed quietly
        FUZZ_CHECK(slot.fd == -1);
      } else if (complete) {
        decided = true;
        expected = expected_reply(text.c_str());
        bool upgrade = expected.compare(0, 12, "HTTP/1.1 101") == 0;
        FUZZ_CHECK(upgrade ? (slot.fd != -1 && slot.upgraded == 1) : slot.fd == -1);
        if (upgrade) FUZZ_CHECK(slot.request_len == text.size());
      } else if (text.size() >= kRequestLimit) {  // full without a blank line: dropped
        FUZZ_CHECK(slot.fd == -1);
      } else {
        FUZZ_CHECK(slot.fd != -1 && slot.upgraded == 0);
        FUZZ_CHECK(slot.request_len == text.size());
        FUZZ_CHECK(slot.request[slot.request_len] == '\0');
        FUZZ_CHECK(std::memcmp(slot.request, text.data(), text.size()) == 0);
      }
    }
  }

  std::string reply;
  drain(pair.page, reply);
  FUZZ_CHECK(reply == (decided ? expected : std::string()));
  if (decided) check_find_header(seen, 1 + (data[0] * 7) % 170);
  if (slot.fd != -1) close_slot(slot, "exit");
  close(pair.page);
  return 0;
}
