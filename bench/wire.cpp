#include "wire.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {

constexpr size_t kReadChunk = 256 * 1024;
constexpr size_t kLongestHead = 14;  // 2 + 8 length bytes + a masking key

// Makes room behind `end` and reads once; false when the peer closed or the read failed.
bool fill(Reader& reader) {
  if (reader.start == reader.end) reader.start = reader.end = 0;
  if (reader.buffer.size() < kReadChunk) reader.buffer.resize(kReadChunk);
  if (reader.end == reader.buffer.size()) {
    std::memmove(reader.buffer.data(), reader.buffer.data() + reader.start,
                 reader.end - reader.start);
    reader.end -= reader.start;
    reader.start = 0;
  }
  ssize_t got =
      recv(reader.fd, reader.buffer.data() + reader.end, reader.buffer.size() - reader.end, 0);
  if (got <= 0) return false;
  reader.end += static_cast<size_t>(got);
  return true;
}

// Reads a frame head with the kit's decoder; the payload length follows in `length`.
bool read_frame_header(Reader& reader, int* opcode, uint64_t* length) {
  FrameHead head;
  size_t taken;
  while ((taken = parse_frame_head(reader.buffer.data() + reader.start, reader.end - reader.start,
                                   head)) == 0) {
    if (reader.start > 0 && reader.buffer.size() - reader.start < kLongestHead) {
      std::memmove(reader.buffer.data(), reader.buffer.data() + reader.start,
                   reader.end - reader.start);
      reader.end -= reader.start;
      reader.start = 0;
    }
    if (!fill(reader)) return false;
  }
  if (head.masked) return false;  // servers never mask
  *opcode = head.first_byte & 0x0F;
  *length = head.length;
  reader.start += taken;
  return true;
}

}  // namespace

int tcp_connect(int port) {
  int fd = connect_loopback(port);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  // No exchange may hang the run: a server that stops answering fails the measure instead.
  timeval limit{20, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  return fd;
}

void reader_reset(Reader& reader, int fd) {
  reader.fd = fd;
  reader.start = reader.end = 0;
}

bool read_exact(Reader& reader, size_t length, std::string* out) {
  if (out != nullptr) out->clear();
  while (length > 0) {
    if (reader.start == reader.end && !fill(reader)) return false;
    size_t take = std::min(length, reader.end - reader.start);
    if (out != nullptr) out->append(reader.buffer.data() + reader.start, take);
    reader.start += take;
    length -= take;
  }
  return true;
}

bool read_http_head(Reader& reader, std::string* head) {
  head->clear();
  for (;;) {
    if (reader.start == reader.end && !fill(reader)) return false;
    // Byte by byte through what is buffered, so nothing after the head is consumed.
    while (reader.start < reader.end) {
      head->push_back(reader.buffer[reader.start++]);
      if (head->size() >= 4 && head->compare(head->size() - 4, 4, "\r\n\r\n") == 0) return true;
    }
    if (head->size() > 16 * 1024) return false;
  }
}

bool ws_upgrade(int fd, Reader& reader, int port, std::string_view origin) {
  if (!send_bytes(fd, page_request(port, std::string(origin)))) return false;
  std::string head;
  if (!read_http_head(reader, &head)) return false;
  return head.compare(0, 12, "HTTP/1.1 101") == 0;
}

bool read_frame(Reader& reader, int* opcode, std::string* payload) {
  uint64_t length = 0;
  if (!read_frame_header(reader, opcode, &length)) return false;
  return read_exact(reader, length, payload);
}

bool skip_frame(Reader& reader, int* opcode, uint64_t* length) {
  if (!read_frame_header(reader, opcode, length)) return false;
  return read_exact(reader, *length, nullptr);
}

void ws_close(int fd, Reader& reader) {
  if (send_bytes(fd, close_frame())) {
    int opcode = 0;
    uint64_t length = 0;
    while (skip_frame(reader, &opcode, &length) && opcode != 8) {
    }
  }
  close(fd);
}
