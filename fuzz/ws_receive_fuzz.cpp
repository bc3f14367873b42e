// WebSocket receiver under arbitrary byte streams: the first input byte chooses how the rest is
// split into writes, the rest is what a page sends on an upgraded connection. The real ws_receive
// runs on a socket pair, once per readable event as the loop calls it, and the text frames
// ws_next_text hands back are recorded in place of the dispatcher (which has its own target), so
// this target sees exactly which texts the receiver hands up.
//
// A small reference reading of the framing rules (masked frames only, length code 127 refused,
// 16-bit lengths up to 4080, control frames only with FIN and at most 125 bytes, ping answered,
// pong ignored, close answered with 88 00 then dropped, only FIN text frames dispatched) predicts,
// from the whole stream, every pong, the close reply, every dispatched text and whether the
// connection ends; how the stream was split must make no difference. After every call `frames_len`
// stays within its array.

#include <cstring>
#include <string>
#include <vector>

#include "base/slots.h"
#include "fuzz_support.h"
#include "server/websocket.h"

namespace {

struct Expectation {
  std::string written;                  // pongs and the close reply, in order
  std::vector<std::string> dispatched;  // texts handed to the dispatcher
  bool dropped = false;
  size_t left_over = 0;  // bytes of an incomplete frame still held when not dropped
};

Expectation read_stream(const uint8_t* bytes, size_t size) {
  Expectation e;
  size_t at = 0;
  while (size - at >= 2) {
    const uint8_t* frame = bytes + at;
    size_t held = size - at;
    if ((frame[1] & 0x80) == 0 || (frame[1] & 0x7F) == 127) {
      e.dropped = true;
      return e;
    }
    size_t length = frame[1] & 0x7F;
    size_t header = 2;
    if (length == 126) {
      if (held < 4) break;
      length = frame[2] * 256u + frame[3];
      if (length > 4080) {
        e.dropped = true;
        return e;
      }
      header = 4;
    }
    if (held < header + 4 + length) break;
    std::string payload(length, '\0');
    for (size_t i = 0; i < length; ++i)
      payload[i] = static_cast<char>(frame[header + 4 + i] ^ frame[header + i % 4]);
    at += header + 4 + length;
    // A control frame above 125 bytes or without FIN is a bad frame.
    if ((frame[0] & 0x08) != 0 && (length > 125 || (frame[0] & 0x80) == 0)) {
      e.dropped = true;
      return e;
    }
    switch (frame[0] & 0x0F) {
      case 9:
        e.written += {static_cast<char>(0x8A), static_cast<char>(length)};
        e.written += payload;
        break;
      case 10:
        break;
      case 8:
        e.written += {static_cast<char>(0x88), 0};
        e.dropped = true;
        return e;
      default:
        if ((frame[0] & 0x8F) != 0x81) {
          e.dropped = true;
          return e;
        }
        e.dispatched.push_back(payload.substr(0, payload.find('\0')));
    }
  }
  e.left_over = size - at;
  return e;
}

std::vector<std::string> dispatched;
ConnectionSlot& slot = slots[0];  // a slot of the table, which has a send queue

// What the loop does with a readable page: one read, then every whole text message in order.
void receive_and_record() {
  if (!ws_receive(slot)) return;
  FrameWalk walk{};
  while (const char* text = ws_next_text(slot, walk)) {
    FUZZ_CHECK(slot.fd != -1 && slot.upgraded == 1);
    dispatched.emplace_back(text);
  }
  ws_uncork(slot, walk);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silence_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  SplitPlan plan(data[0]);
  const uint8_t* stream = data + 1;
  const size_t stream_size = size - 1;
  Expectation expected = read_stream(stream, stream_size);

  SocketPair pair = open_pair();
  clear_slot(slot);
  slot.fd = pair.helper;
  slot.upgraded = 1;
  dispatched.clear();

  std::string written;
  size_t fed = 0;
  while (slot.fd != -1 && fed < stream_size) {
    size_t piece = plan.next(stream_size - fed);
    FUZZ_CHECK(feed(pair.page, stream + fed, piece));
    fed += piece;
    while (slot.fd != -1 && readable(pair.helper)) {
      receive_and_record();
      FUZZ_CHECK(slot.fd == -1 || slot.frames_len <= sizeof slot.frames);
      drain(pair.page, written);
    }
  }

  if (slot.fd != -1) {
    // Everything was read: what is held is the start of one incomplete frame, nothing else.
    FUZZ_CHECK(!expected.dropped);
    FUZZ_CHECK(slot.frames_len == expected.left_over);
    FUZZ_CHECK(std::memcmp(slot.frames, stream + stream_size - expected.left_over,
                           expected.left_over) == 0);
    shutdown(pair.page, SHUT_WR);  // the page goes away: the next read ends the connection
    receive_and_record();
    FUZZ_CHECK(slot.fd == -1);
  } else {
    FUZZ_CHECK(expected.dropped);
  }
  drain(pair.page, written);
  FUZZ_CHECK(written == expected.written);
  FUZZ_CHECK(dispatched == expected.dispatched);
  close(pair.page);
  return 0;
}
