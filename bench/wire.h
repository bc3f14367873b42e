#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The benchmark's side of the wire: blocking loopback sockets, the WebSocket upgrade request and
// the client half of RFC 6455 framing (masked text frames out, unmasked frames in). Nothing here
// allocates per message once a reader has grown to the largest reply.

// Connects to 127.0.0.1:port with TCP_NODELAY and a 20 s receive limit; -1 on failure.
int tcp_connect(int port);

// Retries tcp_connect until it succeeds or `timeout_ms` passes; the socket is closed again.
bool wait_until_listening(int port, int timeout_ms);

// Writes all `length` bytes; false on any failure.
bool write_all(int fd, const void* bytes, size_t length);

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

// The upgrade request a page sends, with the Host and Origin given.
std::string upgrade_request(int port, std::string_view origin);

// Sends the upgrade request and reads the reply head; true only for a 101 reply.
bool ws_upgrade(int fd, Reader& reader, int port, std::string_view origin);

// One masked client frame (FIN set) with `payload`, in the 7- or 16-bit length form.
std::string client_frame(int opcode, std::string_view payload);

// Reads one server frame; its opcode and payload. False on close or a malformed header.
bool read_frame(Reader& reader, int* opcode, std::string* payload);

// Reads one server frame and only checks it (no copy of the payload); its payload length.
bool skip_frame(Reader& reader, int* opcode, uint64_t* length);

// Sends a close frame, waits for the peer's close frame (or its end) and closes the socket.
void ws_close(int fd, Reader& reader);
