// tivel-ws-probe: a minimal WebSocket client that plays the page inside the test VM.
//
//   tivel-ws-probe PORT [--stop-when FILE] JSON...
//   tivel-ws-probe --clock
//   tivel-ws-probe --clocks
//   tivel-ws-probe --stalls FILE
//
// Connects to 127.0.0.1:PORT the way the page does (Host 127.0.0.1:PORT, Origin of the maker's
// site), then for each JSON argument sends one masked text frame and reads the reply: one frame,
// or for a watch command every frame up to {"type":"stopped"}. With --stop-when, a watching page
// sends {"cmd":"stop"} one second after FILE appears: the test streams on one page while another
// scans, and the samples of that second after the scan's reply show the stream outlived the scan
// however late the file was noticed. Output, one record per line:
//
//   SEND <json>
//   AT <CLOCK_MONOTONIC ms of the send>
//   FRAME <ms since the send> <1 when the payload is valid UTF-8, else 0> <payload>
//   SEEN <ms since the send>         (FILE was there)
//   STOP <ms since the send>         (the stop command left)
//   DONE <ms since the send>
//   ERROR <what went wrong>          (then exit status 1)
//
// --clock prints CLOCK_REALTIME as seconds with six decimals, the stamps `iw event -t` puts on
// the kernel's events, so the guest can time iw's steps against them. --clocks prints
// "REALTIME <seconds> MONOTONIC <ms>", both read together, which puts the events and the frames'
// arrival times on one time line.
//
// --stalls wakes every 5 ms until FILE exists and prints each wake-up that came late:
//
//   STALL <CLOCK_MONOTONIC ms of the last wake-up> <ms until this one>
//
// The guest's CPU is emulated and stands still whenever the host does not run it; every process
// in the guest then misses its time alike. These records let the judge tell such a stall from a
// helper that held up its own loop.
//
// Built on the test kit, which uses plain sockets and the standard library only, so it links
// fully static for the guest.
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "support/json_reader.h"
#include "support/ws_client.h"

namespace {

constexpr int kReadTimeoutMs = 20000;  // longer than a scan with its 4-second wait
constexpr int kWatchLimitMs = 60000;
constexpr size_t kLargestReply = 16u << 20;
constexpr uint64_t kStreamAfterFileMs = 1000;

uint64_t now_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

[[noreturn]] void fail(const std::string& what) {
  std::printf("ERROR %s\n", what.c_str());
  std::fflush(stdout);
  std::exit(1);
}

void connect_page(WsClient& page, int port) {
  if (!ws_open(page, port)) fail("connect");
  if (!ws_handshake(page, page_request(port), 5000)) {
    if (page.handshake.empty()) fail("no upgrade response");
    fail("upgrade refused: " + page.handshake.substr(0, page.handshake.find('\r')));
  }
  if (page.handshake.find(std::string("Sec-WebSocket-Accept: ") + kSampleAccept) ==
      std::string::npos)
    fail("wrong Sec-WebSocket-Accept");
}

// A fresh masking key for each frame, as a browser draws one.
FrameShape fresh_mask() {
  FrameShape shape;
  uint32_t r = static_cast<uint32_t>(now_ms() * 2654435761u) ^ static_cast<uint32_t>(getpid());
  std::memcpy(shape.mask_key.data(), &r, 4);
  return shape;
}

// Reads one server frame; only unmasked, final text frames are acceptable replies.
std::string read_text_frame(WsClient& page, uint64_t deadline_ms) {
  uint64_t now = now_ms();
  ServerFrame frame;
  if (now >= deadline_ms || !ws_read_frame(page, frame, static_cast<int>(deadline_ms - now)))
    fail("no reply frame (time-out or connection closed)");
  if (frame.masked) fail("server frame is masked");
  if (frame.payload.size() > kLargestReply) fail("frame too large");
  if (frame.first_byte == 0x88) fail("server sent a close frame");
  if (frame.first_byte != 0x81) fail("server frame is not a single text frame");
  return frame.payload;
}

bool file_exists(const char* path) {
  struct stat st {};
  return path != nullptr && stat(path, &st) == 0;
}

constexpr uint64_t kTickMs = 5;
constexpr uint64_t kStallMs = 20;  // a wake-up this much later than asked for is recorded

int print_stalls(const char* until_file) {
  uint64_t last = now_ms();
  while (!file_exists(until_file)) {
    timespec pause{0, static_cast<long>(kTickMs * 1000000u)};
    nanosleep(&pause, nullptr);
    uint64_t now = now_ms();
    if (now - last > kTickMs + kStallMs) {
      std::printf("STALL %llu %llu\n", static_cast<unsigned long long>(last),
                  static_cast<unsigned long long>(now - last));
      std::fflush(stdout);
    }
    last = now;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--clock") == 0) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::printf("%lld.%06ld\n", static_cast<long long>(ts.tv_sec), ts.tv_nsec / 1000);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--clocks") == 0) {
    timespec real{};
    clock_gettime(CLOCK_REALTIME, &real);
    std::printf("REALTIME %lld.%06ld MONOTONIC %llu\n", static_cast<long long>(real.tv_sec),
                real.tv_nsec / 1000, static_cast<unsigned long long>(now_ms()));
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "--stalls") == 0) return print_stalls(argv[2]);
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: %s PORT [--stop-when FILE] JSON...\n       %s --clock\n"
                 "       %s --stalls FILE\n",
                 argv[0], argv[0], argv[0]);
    return 2;
  }
  int port = std::atoi(argv[1]);
  int first = 2;
  const char* stop_file = nullptr;
  if (argc >= 4 && std::strcmp(argv[2], "--stop-when") == 0) {
    stop_file = argv[3];
    first = 4;
  }
  WsClient page;
  connect_page(page, port);
  for (int i = first; i < argc; ++i) {
    std::string_view command = argv[i];
    bool watch = command.find("\"watch\"") != std::string_view::npos;
    std::printf("SEND %s\n", argv[i]);
    std::fflush(stdout);
    uint64_t sent = now_ms();
    if (!ws_send(page, client_frame(0x81, command, fresh_mask()))) fail("send frame");
    std::printf("AT %llu\n", static_cast<unsigned long long>(sent));
    uint64_t limit = sent + (watch ? kWatchLimitMs : kReadTimeoutMs);
    bool stop_sent = false;
    uint64_t seen_ms = 0;  // when FILE was first found; 0 while it is not there
    for (;;) {
      std::string payload = read_text_frame(page, limit);
      std::printf("FRAME %llu %d ", static_cast<unsigned long long>(now_ms() - sent),
                  valid_utf8(payload) ? 1 : 0);
      std::fwrite(payload.data(), 1, payload.size(), stdout);
      std::fputc('\n', stdout);
      std::fflush(stdout);
      if (!watch || payload == R"({"type":"stopped"})") break;
      // Checked after each frame: a stream at 20 Hz brings one every 50 ms.
      if (seen_ms == 0 && file_exists(stop_file)) {
        seen_ms = now_ms();
        std::printf("SEEN %llu\n", static_cast<unsigned long long>(seen_ms - sent));
        std::fflush(stdout);
      }
      if (!stop_sent && seen_ms != 0 && now_ms() - seen_ms >= kStreamAfterFileMs) {
        if (!ws_send(page, client_frame(0x81, R"({"cmd":"stop"})", fresh_mask())))
          fail("send stop frame");
        stop_sent = true;
        std::printf("STOP %llu\n", static_cast<unsigned long long>(now_ms() - sent));
        std::fflush(stdout);
      }
    }
    std::printf("DONE %llu\n", static_cast<unsigned long long>(now_ms() - sent));
    std::fflush(stdout);
  }
  FrameShape zero_mask;
  zero_mask.mask_key = {0, 0, 0, 0};
  ws_send(page, client_frame(0x88, "", zero_mask));
  return 0;
}
