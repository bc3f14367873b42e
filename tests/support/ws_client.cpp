#include "support/ws_client.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/sockets.h"

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Waits up to `timeout_ms` for bytes and appends one read of them to client.pending. Returns 1
// when bytes came, 0 on time-out, -1 when the connection closed or failed.
int receive_some(WsClient& client, int timeout_ms) {
  if (client.fd < 0) return -1;
  pollfd p{client.fd, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return 0;
  char chunk[65536];
  ssize_t got = recv(client.fd, chunk, sizeof chunk, 0);
  if (got <= 0) return -1;
  client.pending.append(chunk, static_cast<size_t>(got));
  return 1;
}

void append_big_endian(std::string& out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>(value >> (8 * i)));
}

}  // namespace

WsClient::~WsClient() {
  if (fd >= 0) close(fd);
}

std::vector<HttpHeader> page_headers(int port, const std::string& origin) {
  return {
      {"Host", "127.0.0.1:" + std::to_string(port)},
      {"Upgrade", "websocket"},
      {"Connection", "Upgrade"},
      {"Sec-WebSocket-Key", kSampleKey},
      {"Sec-WebSocket-Version", "13"},
      {"Origin", origin},
  };
}

void set_header(std::vector<HttpHeader>& headers, const std::string& name,
                const std::string& value) {
  for (HttpHeader& header : headers) {
    if (header.name == name) {
      header.value = value;
      return;
    }
  }
  headers.push_back({name, value});
}

void remove_header(std::vector<HttpHeader>& headers, const std::string& name) {
  std::erase_if(headers, [&](const HttpHeader& header) { return header.name == name; });
}

std::vector<HttpHeader> page_headers_with(int port, const std::string& name,
                                          const std::string& value) {
  std::vector<HttpHeader> headers = page_headers(port);
  set_header(headers, name, value);
  return headers;
}

std::vector<HttpHeader> page_headers_without(int port, const std::string& name) {
  std::vector<HttpHeader> headers = page_headers(port);
  remove_header(headers, name);
  return headers;
}

std::string http_request(const std::vector<HttpHeader>& headers, const std::string& request_line) {
  std::string text = request_line + "\r\n";
  for (const HttpHeader& header : headers) text += header.name + ": " + header.value + "\r\n";
  return text + "\r\n";
}

std::string page_request(int port, const std::string& origin) {
  return http_request(page_headers(port, origin));
}

bool ws_open(WsClient& client, int port) {
  if (client.fd >= 0) close(client.fd);
  client.handshake.clear();
  client.pending.clear();
  client.fd = connect_loopback(port);
  if (client.fd < 0) return false;
  int one = 1;
  setsockopt(client.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return true;
}

bool ws_handshake(WsClient& client, const std::string& request, int timeout_ms) {
  if (!ws_send(client, request)) return false;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  size_t end;
  while ((end = client.pending.find("\r\n\r\n")) == std::string::npos) {
    int left = remaining_ms(deadline);
    if (left == 0 || receive_some(client, left) < 0) return false;
  }
  client.handshake = client.pending.substr(0, end + 4);
  client.pending.erase(0, end + 4);
  return client.handshake.starts_with("HTTP/1.1 101 ");
}

bool ws_connect(WsClient& client, int port, const std::string& origin, int timeout_ms) {
  return ws_open(client, port) && ws_handshake(client, page_request(port, origin), timeout_ms);
}

void ws_disconnect(WsClient& client) {
  if (client.fd >= 0) close(client.fd);
  client.fd = -1;
}

std::string client_frame(uint8_t first_byte, std::string_view payload, const FrameShape& shape) {
  uint64_t length =
      shape.declared_length >= 0 ? static_cast<uint64_t>(shape.declared_length) : payload.size();
  int bits = shape.length_bits;
  if (bits == 0) bits = length <= 125 ? 7 : length <= 65535 ? 16 : 64;
  std::string frame(1, static_cast<char>(first_byte));
  const char mask_bit = shape.masked ? static_cast<char>(0x80) : 0;
  if (bits == 7) {
    frame.push_back(static_cast<char>(mask_bit | (length & 0x7F)));
  } else if (bits == 16) {
    frame.push_back(static_cast<char>(mask_bit | 126));
    append_big_endian(frame, length, 2);
  } else {
    frame.push_back(static_cast<char>(mask_bit | 127));
    append_big_endian(frame, length, 8);
  }
  if (shape.masked) frame.append(shape.mask_key.begin(), shape.mask_key.end());
  for (size_t i = 0; i < payload.size(); ++i) {
    char key = shape.masked ? static_cast<char>(shape.mask_key[i % 4]) : 0;
    frame.push_back(static_cast<char>(payload[i] ^ key));
  }
  return frame;
}

std::string text_frame(std::string_view text) {
  return client_frame(0x81, text);
}

std::string ping_frame(std::string_view payload) {
  return client_frame(0x89, payload);
}

std::string close_frame(int status, std::string_view reason) {
  std::string payload;
  if (status >= 0) append_big_endian(payload, static_cast<uint64_t>(status), 2);
  payload += reason;
  return client_frame(0x88, payload);
}

bool ws_send(WsClient& client, std::string_view bytes) {
  return client.fd >= 0 && send_bytes(client.fd, bytes);
}

bool ws_send_split(WsClient& client, std::string_view bytes, const std::vector<size_t>& sizes,
                   int pause_ms) {
  for (size_t size : sizes) {
    size = std::min(size, bytes.size());
    if (!ws_send(client, bytes.substr(0, size))) return false;
    bytes.remove_prefix(size);
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
  }
  return bytes.empty() || ws_send(client, bytes);
}

size_t parse_frame_head(const char* bytes, size_t size, FrameHead& head) {
  if (size < 2) return 0;
  auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  head.first_byte = byte(0);
  head.masked = (byte(1) & 0x80) != 0;
  head.length = byte(1) & 0x7F;
  head.header_size = 2;
  if (head.length >= 126) {
    size_t count = head.length == 126 ? 2 : 8;
    if (size < 2 + count) return 0;
    head.length = 0;
    for (size_t i = 0; i < count; ++i) head.length = head.length << 8 | byte(2 + i);
    head.header_size += count;
  }
  size_t taken = head.header_size + (head.masked ? 4 : 0);
  return size < taken ? 0 : taken;
}

bool parse_server_frame(std::string& bytes, ServerFrame& frame) {
  FrameHead head;
  size_t taken = parse_frame_head(bytes.data(), bytes.size(), head);
  if (taken == 0 || bytes.size() - taken < head.length) return false;
  frame.first_byte = head.first_byte;
  frame.masked = head.masked;
  frame.header_size = head.header_size;
  frame.payload = bytes.substr(taken, head.length);
  for (size_t i = 0; head.masked && i < frame.payload.size(); ++i)
    frame.payload[i] = static_cast<char>(frame.payload[i] ^ bytes[head.header_size + i % 4]);
  frame.raw = bytes.substr(0, taken + head.length);
  bytes.erase(0, frame.raw.size());
  return true;
}

bool ws_read_frame(WsClient& client, ServerFrame& frame, int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!parse_server_frame(client.pending, frame)) {
    int left = remaining_ms(deadline);
    if (left == 0 || receive_some(client, left) < 0) return false;
  }
  return true;
}

std::string ws_command(WsClient& client, std::string_view text, int timeout_ms) {
  ServerFrame frame;
  if (!ws_send(client, text_frame(text)) || !ws_read_frame(client, frame, timeout_ms)) return "";
  return frame.opcode() == 1 ? frame.payload : "";
}

std::string ws_read_raw(WsClient& client, int timeout_ms, size_t want, bool* closed) {
  if (closed != nullptr) *closed = false;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (want == 0 || client.pending.size() < want) {
    int left = remaining_ms(deadline);
    if (left == 0) break;
    int got = receive_some(client, left);
    if (got < 0 && closed != nullptr) *closed = true;
    if (got <= 0) break;
  }
  std::string bytes;
  bytes.swap(client.pending);
  return bytes;
}

bool ws_closed_within(WsClient& client, int timeout_ms) {
  bool closed = false;
  std::string bytes = ws_read_raw(client, timeout_ms, 0, &closed);
  return closed && bytes.empty();
}
