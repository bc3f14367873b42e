#include "server/websocket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "base/settings.h"
#include "server/send_queue.h"

namespace {

constexpr int kOpcodeClose = 8;
constexpr int kOpcodePing = 9;
constexpr int kOpcodePong = 10;
constexpr uint64_t kLargestControlPayload = 125;

// The unmasked payload of the frame being handled, NUL-terminated for the caller of ws_next_text;
// also the source of a pong's payload.
char command_text[kFramesCapacity];

void drop(ConnectionSlot& slot) {
  close_slot(slot, "closed");
}

// Acts on one consumed frame that is not a whole text message: ping, pong and close are served,
// anything else ends the connection. Returns false when the slot was closed.
bool handle_other_frame(ConnectionSlot& slot, uint8_t first_byte, uint64_t length) {
  // A control frame is never fragmented and carries at most 125 bytes; answering one that breaks
  // that would send a pong the page's side has to reject.
  const bool control = (first_byte & 0x08) != 0;
  if (control && (length > kLargestControlPayload || (first_byte & 0x80) == 0)) {
    drop(slot);
    return false;
  }
  switch (first_byte & 0x0F) {
    case kOpcodePing:
      send_frame(slot, kOpcodePong, command_text, length);
      return true;
    case kOpcodePong:
      return true;
    case kOpcodeClose: {
      // An empty close frame: the page's status code and reason are not echoed.
      // Queued bytes still unsent when the slot closes go with it.
      send_frame(slot, kOpcodeClose, nullptr, 0);
      slot_flush(slot);
      if (slot.fd != -1) drop(slot);
      return false;
    }
    default:
      drop(slot);
      return false;
  }
}

void set_cork(int fd, int on) {
  (void)setsockopt(fd, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
}

}  // namespace

bool ws_receive(ConnectionSlot& slot) {
  if (slot.frames_len == kFramesCapacity) return true;  // whole frames held: serve them first
  ssize_t got = recv(slot.fd, slot.frames + slot.frames_len, kFramesCapacity - slot.frames_len, 0);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return false;  // nothing after all
  if (got <= 0) {
    drop(slot);
    return false;
  }
  slot.frames_len += static_cast<size_t>(got);
  return true;
}

const char* ws_next_text(ConnectionSlot& slot, FrameWalk& walk) {
  // A slot waiting on the kernel (its link or scan) reads nothing more: replies on one connection
  // keep their order. Nor does one whose page has more than kSendReadLimit unread: a page that
  // sends commands faster than it reads their replies is served at its reading pace, not closed
  // for a full queue.
  while (slot.frames_len >= 2 && stop_flag == 0 && slot.kernel_waiting == 0 &&
         send_queued(slot) <= kSendReadLimit) {
    const uint8_t* frame = slot.frames;
    if ((frame[1] & 0x80) == 0) {  // the page must mask every frame
      drop(slot);
      return nullptr;
    }
    uint64_t length = frame[1] & 0x7F;
    size_t header = 2;
    if (length == 127) {  // never needed below 4081 bytes: refused before its length arrives
      drop(slot);
      return nullptr;
    }
    if (length == 126) {
      if (slot.frames_len < 4) return nullptr;
      length = uint64_t{frame[2]} << 8 | frame[3];
      if (length > kLargestPayload) {
        drop(slot);
        return nullptr;
      }
      header = 4;
    }
    const size_t size = header + 4 + static_cast<size_t>(length);
    if (slot.frames_len < size) return nullptr;

    const uint8_t* mask = frame + header;
    const uint8_t* payload = mask + 4;
    for (size_t i = 0; i < length; ++i)
      command_text[i] = static_cast<char>(payload[i] ^ mask[i % 4]);
    command_text[length] = '\0';

    // Consume before acting, so a handler that closes the slot leaves nothing half-read behind.
    const uint8_t first_byte = frame[0];
    std::memmove(slot.frames, slot.frames + size, slot.frames_len - size);
    slot.frames_len -= size;
    if (!walk.corked && slot.frames_len >= 2) {
      set_cork(slot.fd, 1);
      walk.corked = true;
    }
    // Only a whole message in one text frame is data; RSV bits are ignored, not refused.
    if ((first_byte & 0x8F) == (0x80 | kOpcodeText)) return command_text;
    if (!handle_other_frame(slot, first_byte, length)) return nullptr;
  }
  return nullptr;
}

void ws_uncork(ConnectionSlot& slot, FrameWalk& walk) {
  if (walk.corked && slot.fd != -1) set_cork(slot.fd, 0);
  walk.corked = false;
}

void send_frame(ConnectionSlot& slot, int opcode, const void* payload, uint64_t length) {
  uint8_t header[10];
  size_t header_len;
  header[0] = static_cast<uint8_t>(0x80 | (opcode & 0x0F));
  if (length <= 125) {
    header[1] = static_cast<uint8_t>(length);
    header_len = 2;
  } else if (length <= 65535) {
    header[1] = 126;
    header[2] = static_cast<uint8_t>(length >> 8);
    header[3] = static_cast<uint8_t>(length);
    header_len = 4;
  } else {
    header[1] = 127;
    for (int i = 0; i < 8; ++i) header[2 + i] = static_cast<uint8_t>(length >> (56 - 8 * i));
    header_len = 10;
  }
  // A small frame leaves in one write: the page gets it in one segment and is woken once.
  uint8_t whole[1024];
  iovec pieces[2];
  int count = 1;
  if (length <= sizeof whole - header_len) {
    std::memcpy(whole, header, header_len);
    if (length > 0) std::memcpy(whole + header_len, payload, static_cast<size_t>(length));
    pieces[0] = {whole, header_len + static_cast<size_t>(length)};
  } else {
    pieces[0] = {header, header_len};
    pieces[1] = {const_cast<void*>(payload), static_cast<size_t>(length)};
    count = 2;
  }
  // A page that has not taken what it was sent, so much that this frame would not fit behind it,
  // has stopped reading.
  if (!slot_send(slot, pieces, count)) close_slot(slot, "send");
}
