#include "wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr size_t kReadChunk = 256 * 1024;

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

// Makes at least `length` bytes available at `start` (length at most the chunk size).
bool want(Reader& reader, size_t length) {
  while (reader.end - reader.start < length) {
    if (reader.start > 0 && reader.buffer.size() - reader.start < length) {
      std::memmove(reader.buffer.data(), reader.buffer.data() + reader.start,
                   reader.end - reader.start);
      reader.end -= reader.start;
      reader.start = 0;
    }
    if (!fill(reader)) return false;
  }
  return true;
}

// Reads a frame header; the payload length follows in `length`.
bool read_frame_header(Reader& reader, int* opcode, uint64_t* length) {
  if (!want(reader, 2)) return false;
  const auto* b = reinterpret_cast<const unsigned char*>(reader.buffer.data() + reader.start);
  *opcode = b[0] & 0x0F;
  if ((b[1] & 0x80) != 0) return false;  // servers never mask
  uint64_t code = b[1] & 0x7F;
  size_t header = 2;
  if (code == 126) header = 4;
  if (code == 127) header = 10;
  if (!want(reader, header)) return false;
  b = reinterpret_cast<const unsigned char*>(reader.buffer.data() + reader.start);
  if (code < 126) {
    *length = code;
  } else {
    *length = 0;
    for (size_t i = 2; i < header; ++i) *length = *length << 8 | b[i];
  }
  reader.start += header;
  return true;
}

}  // namespace

int tcp_connect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  // No exchange may hang the run: a server that stops answering fails the measure instead.
  timeval limit{20, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool wait_until_listening(int port, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    int fd = tcp_connect(port);
    if (fd >= 0) {
      close(fd);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

bool write_all(int fd, const void* bytes, size_t length) {
  const char* next = static_cast<const char*>(bytes);
  while (length > 0) {
    ssize_t sent = send(fd, next, length, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    next += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
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

std::string upgrade_request(int port, std::string_view origin) {
  std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                        "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                        "Sec-WebSocket-Version: 13\r\nOrigin: ";
  request.append(origin);
  request += "\r\n\r\n";
  return request;
}

bool ws_upgrade(int fd, Reader& reader, int port, std::string_view origin) {
  std::string request = upgrade_request(port, origin);
  if (!write_all(fd, request.data(), request.size())) return false;
  std::string head;
  if (!read_http_head(reader, &head)) return false;
  return head.compare(0, 12, "HTTP/1.1 101") == 0;
}

std::string client_frame(int opcode, std::string_view payload) {
  static constexpr unsigned char kMask[4] = {0x37, 0xfa, 0x21, 0x3d};
  std::string frame;
  frame.push_back(static_cast<char>(0x80 | opcode));
  if (payload.size() < 126) {
    frame.push_back(static_cast<char>(0x80 | payload.size()));
  } else {
    frame.push_back(static_cast<char>(0x80 | 126));
    frame.push_back(static_cast<char>(payload.size() >> 8));
    frame.push_back(static_cast<char>(payload.size() & 0xFF));
  }
  frame.append(reinterpret_cast<const char*>(kMask), 4);
  for (size_t i = 0; i < payload.size(); ++i) {
    frame.push_back(static_cast<char>(payload[i] ^ kMask[i % 4]));
  }
  return frame;
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
  std::string frame = client_frame(8, "");
  if (write_all(fd, frame.data(), frame.size())) {
    int opcode = 0;
    uint64_t length = 0;
    while (skip_frame(reader, &opcode, &length) && opcode != 8) {
    }
  }
  close(fd);
}
