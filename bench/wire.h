#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/sockets.h"
#include "support/ws_client.h"

// The benchmark's side of the wire: the test kit's upgrade request, client frames and frame-head
// decoding, over a receive buffer of its own so that a measured exchange costs as few reads and
// copies as the kernel allows. Nothing here allocates per message once a reader has grown to the
// largest reply.

// Connects to 127.0.0.1:port with TCP_NODELAY and a 20 s receive limit; -1 on failure.
int tcp_connect(int port);

// A receive buffer over one socket, so replies are taken in as few reads as the kernel allows.
struct Reader {
  int fd = -1;
  std::string buffer;  // bytes [start, end) are received and not yet consumed
  size_t start = 0;
  size_t end = 0;
};

// Starts reading from `fd` with an empty buffer.
void reader_reset(Reader& reader, int fd);

// Consumes exactly `length` bytes (into `out` when non-null); false when the peer closed first.
bool read_exact(Reader& reader, size_t length, std::string* out = nullptr);

// Reads up to and including the blank line that ends an HTTP head; false on close or when the
// head passes 16 KiB.
bool read_http_head(Reader& reader, std::string* head);

// Sends the kit's upgrade request and reads the reply head; true only for a 101 reply.
bool ws_upgrade(int fd, Reader& reader, int port, std::string_view origin);

// Reads one server frame; its opcode and payload. False on close or a malformed header.
bool read_frame(Reader& reader, int* opcode, std::string* payload);

// Reads one server frame and only checks it (no copy of the payload); its payload length.
bool skip_frame(Reader& reader, int* opcode, uint64_t* length);

// Sends a close frame, waits for the peer's close frame (or its end) and closes the socket.
void ws_close(int fd, Reader& reader);
