// tivel-ws-probe: a minimal WebSocket client that plays the page inside the test VM.
//
//   tivel-ws-probe PORT JSON...
//
// Connects to 127.0.0.1:PORT the way the page does (Host 127.0.0.1:PORT, Origin of the maker's
// site), then for each JSON argument sends one masked text frame and reads the reply: one frame,
// or for a watch command every frame up to {"type":"stopped"}. Output, one record per line:
//
//   SEND <json>
//   FRAME <ms since the send> <1 when the payload is valid UTF-8, else 0> <payload>
//   DONE <ms since the send>
//   ERROR <what went wrong>          (then exit status 1)
//
// Plain sockets and the standard library only, so it links fully static for the guest.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr int kReadTimeoutMs = 20000;  // longer than a scan with its 4-second wait
constexpr int kWatchLimitMs = 60000;

// RFC 6455's sample key and the accept value a correct server derives from it.
constexpr std::string_view kKey = "dGhlIHNhbXBsZSBub25jZQ==";
constexpr std::string_view kAccept = "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=";

uint64_t now_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

[[noreturn]] void fail(const char* what) {
  std::printf("ERROR %s\n", what);
  std::fflush(stdout);
  std::exit(1);
}

bool send_all(int fd, const void* data, size_t len) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (len > 0) {
    ssize_t n = send(fd, p, len, MSG_NOSIGNAL);
    if (n <= 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

// Reads exactly `len` bytes, waiting at most until `deadline_ms`.
bool recv_exact(int fd, uint8_t* out, size_t len, uint64_t deadline_ms) {
  while (len > 0) {
    uint64_t now = now_ms();
    if (now >= deadline_ms) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(deadline_ms - now)) <= 0) return false;
    ssize_t n = recv(fd, out, len, 0);
    if (n <= 0) return false;
    out += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

// Strict UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing above U+10FFFF.
bool valid_utf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    auto b = static_cast<uint8_t>(s[i]);
    size_t extra;
    uint32_t cp;
    if (b < 0x80) {
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      extra = 1;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2;
      cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3;
      cp = b & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      auto c = static_cast<uint8_t>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000)) return false;
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return false;
    i += extra + 1;
  }
  return true;
}

int connect_helper(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) fail("socket");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) fail("connect");
  return fd;
}

void handshake(int fd, int port) {
  char request[512];
  int n = std::snprintf(request, sizeof request,
                        "GET / HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nUpgrade: websocket\r\n"
                        "Connection: Upgrade\r\nSec-WebSocket-Key: %.*s\r\n"
                        "Sec-WebSocket-Version: 13\r\nOrigin: https://tamberline.com\r\n\r\n",
                        port, static_cast<int>(kKey.size()), kKey.data());
  if (!send_all(fd, request, static_cast<size_t>(n))) fail("send upgrade");
  // Byte by byte, so that no frame byte after the header is swallowed.
  std::string head;
  uint64_t deadline = now_ms() + 5000;
  while (head.size() < 4096 && head.find("\r\n\r\n") == std::string::npos) {
    uint8_t c;
    if (!recv_exact(fd, &c, 1, deadline)) fail("no upgrade response");
    head.push_back(static_cast<char>(c));
  }
  if (head.rfind("HTTP/1.1 101 ", 0) != 0) {
    std::string line = head.substr(0, head.find('\r'));
    std::printf("ERROR upgrade refused: %s\n", line.c_str());
    std::exit(1);
  }
  if (head.find(std::string("Sec-WebSocket-Accept: ") + std::string(kAccept)) == std::string::npos)
    fail("wrong Sec-WebSocket-Accept");
}

void send_text(int fd, std::string_view text) {
  std::string frame;
  frame.push_back(static_cast<char>(0x81));
  if (text.size() < 126) {
    frame.push_back(static_cast<char>(0x80 | text.size()));
  } else {
    frame.push_back(static_cast<char>(0x80 | 126));
    frame.push_back(static_cast<char>(text.size() >> 8));
    frame.push_back(static_cast<char>(text.size() & 0xFF));
  }
  uint8_t mask[4];
  uint32_t r = static_cast<uint32_t>(now_ms() * 2654435761u) ^ static_cast<uint32_t>(getpid());
  std::memcpy(mask, &r, 4);
  frame.append(reinterpret_cast<const char*>(mask), 4);
  for (size_t i = 0; i < text.size(); ++i)
    frame.push_back(static_cast<char>(text[i] ^ mask[i % 4]));
  if (!send_all(fd, frame.data(), frame.size())) fail("send frame");
}

// Reads one server frame; only unmasked, final text frames are acceptable replies.
std::string read_text_frame(int fd, uint64_t deadline_ms) {
  uint8_t h[2];
  if (!recv_exact(fd, h, 2, deadline_ms)) fail("no reply frame (time-out or connection closed)");
  if (h[1] & 0x80) fail("server frame is masked");
  uint64_t len = h[1] & 0x7F;
  if (len == 126) {
    uint8_t e[2];
    if (!recv_exact(fd, e, 2, deadline_ms)) fail("short frame header");
    len = (uint64_t{e[0]} << 8) | e[1];
  } else if (len == 127) {
    uint8_t e[8];
    if (!recv_exact(fd, e, 8, deadline_ms)) fail("short frame header");
    len = 0;
    for (uint8_t b : e) len = (len << 8) | b;
  }
  if (len > (16u << 20)) fail("frame too large");
  std::string payload(static_cast<size_t>(len), '\0');
  if (len > 0 &&
      !recv_exact(fd, reinterpret_cast<uint8_t*>(payload.data()), payload.size(), deadline_ms))
    fail("short frame payload");
  if (h[0] == 0x88) fail("server sent a close frame");
  if (h[0] != 0x81) fail("server frame is not a single text frame");
  return payload;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PORT JSON...\n", argv[0]);
    return 2;
  }
  int port = std::atoi(argv[1]);
  int fd = connect_helper(port);
  handshake(fd, port);
  for (int i = 2; i < argc; ++i) {
    std::string_view command = argv[i];
    bool watch = command.find("\"watch\"") != std::string_view::npos;
    std::printf("SEND %s\n", argv[i]);
    std::fflush(stdout);
    uint64_t sent = now_ms();
    send_text(fd, command);
    uint64_t limit = sent + (watch ? kWatchLimitMs : kReadTimeoutMs);
    for (;;) {
      std::string payload = read_text_frame(fd, limit);
      std::printf("FRAME %llu %d ", static_cast<unsigned long long>(now_ms() - sent),
                  valid_utf8(payload) ? 1 : 0);
      std::fwrite(payload.data(), 1, payload.size(), stdout);
      std::fputc('\n', stdout);
      std::fflush(stdout);
      if (!watch || payload == R"({"type":"stopped"})") break;
    }
    std::printf("DONE %llu\n", static_cast<unsigned long long>(now_ms() - sent));
    std::fflush(stdout);
  }
  const uint8_t close_frame[6] = {0x88, 0x80, 0, 0, 0, 0};
  send_all(fd, close_frame, sizeof close_frame);
  close(fd);
  return 0;
}
