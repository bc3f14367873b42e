#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Test kit: the one WebSocket client of the tests, the benchmark and the kernel probe, over real
// loopback sockets, for talking to the real helper byte by byte. It builds upgrade requests with
// chosen headers, connects and upgrades, sends client frames of any shape (opcode, flag bits,
// masking, length form, declared length, split across writes), and reads and parses the helper's
// frames or its raw bytes. It checks nothing about the helper's answers; the tests do that.
//
// Typical use:
//   WsClient page;
//   ASSERT_TRUE(ws_connect(page, helper.port));             // 101 received
//   std::string reply = ws_command(page, R"({"cmd":"hello"})");
//   ws_send(page, client_frame(0x89, "abc"));                // a ping, masked
//   ServerFrame pong;
//   ASSERT_TRUE(ws_read_frame(page, pong));

// An origin the helper accepts.
inline constexpr const char* kPageOrigin = "https://tamberline.com";
// The Sec-WebSocket-Key of RFC 6455 section 1.3, and the accept value printed there for it.
inline constexpr const char* kSampleKey = "dGhlIHNhbXBsZSBub25jZQ==";
inline constexpr const char* kSampleAccept = "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=";

// ---- Upgrade requests ----

struct HttpHeader {
  std::string name;
  std::string value;
};

// The headers a browser sends to open a WebSocket on 127.0.0.1:port from `origin`, in this
// order: Host 127.0.0.1:port, Upgrade websocket, Connection Upgrade, Sec-WebSocket-Key
// kSampleKey, Sec-WebSocket-Version 13, Origin.
std::vector<HttpHeader> page_headers(int port, const std::string& origin = kPageOrigin);

// Sets the value of the first header whose name equals `name` exactly; appends it when absent.
void set_header(std::vector<HttpHeader>& headers, const std::string& name,
                const std::string& value);

// Removes every header whose name equals `name` exactly.
void remove_header(std::vector<HttpHeader>& headers, const std::string& name);

// page_headers(port) with header `name` set to `value` (appended when absent).
std::vector<HttpHeader> page_headers_with(int port, const std::string& name,
                                          const std::string& value);

// page_headers(port) without header `name`.
std::vector<HttpHeader> page_headers_without(int port, const std::string& name);

// `request_line` CR LF, then "name: value" CR LF for each header in order, then CR LF.
std::string http_request(const std::vector<HttpHeader>& headers,
                         const std::string& request_line = "GET / HTTP/1.1");

// The whole upgrade request of a browser page: http_request(page_headers(port, origin)).
std::string page_request(int port, const std::string& origin = kPageOrigin);

// ---- Connection ----

// One client connection. Closes its socket when destroyed.
struct WsClient {
  int fd = -1;
  std::string handshake;  // the helper's reply to the request, up to and including its blank line
  std::string pending;    // bytes received but not yet returned or parsed

  WsClient() = default;
  WsClient(const WsClient&) = delete;
  WsClient& operator=(const WsClient&) = delete;
  ~WsClient();
};

// Connects to 127.0.0.1:port (TCP_NODELAY set, so each write leaves as its own segment).
// Returns false when the connection failed.
bool ws_open(WsClient& client, int port);

// Sends `request` and reads the reply up to its blank line into client.handshake; bytes after it
// stay in client.pending. True when the reply begins with "HTTP/1.1 101 ".
bool ws_handshake(WsClient& client, const std::string& request, int timeout_ms = 3000);

// ws_open, then ws_handshake with the request of page_headers(port, origin).
bool ws_connect(WsClient& client, int port, const std::string& origin = kPageOrigin,
                int timeout_ms = 3000);

// Closes the TCP connection at once, without a close frame.
void ws_disconnect(WsClient& client);

// ---- Client frames ----

struct FrameShape {
  bool masked = true;
  std::array<uint8_t, 4> mask_key = {0x37, 0xFA, 0x21, 0x3D};
  // Length form: 0 the shortest that fits; 7 the one-byte code (payload must be <= 125 unless
  // declared_length says otherwise); 16 code 126 with a 16-bit length; 64 code 127 with a
  // 64-bit length.
  int length_bits = 0;
  // When not negative, written as the length in place of the payload's size (the payload bytes
  // are still sent as given), to build frames that lie about their length.
  int64_t declared_length = -1;
};

// One frame as a page would send it: `first_byte` (FIN, RSV1-3, opcode) as given, then the
// length in the chosen form, the masking key when masked, and the payload (masked when masked).
std::string client_frame(uint8_t first_byte, std::string_view payload,
                         const FrameShape& shape = {});

// Masked single frames with FIN set: text (opcode 1), ping (9) and close (8). A close frame
// carries the 2-byte status code when `status` is not negative, followed by `reason`.
std::string text_frame(std::string_view text);
std::string ping_frame(std::string_view payload);
std::string close_frame(int status = -1, std::string_view reason = {});

// ---- Sending ----

// Writes all bytes; false when a write failed.
bool ws_send(WsClient& client, std::string_view bytes);

// Writes `bytes` in pieces of the given sizes (whatever remains goes as a last piece), pausing
// `pause_ms` after each piece so the helper reads each one separately.
bool ws_send_split(WsClient& client, std::string_view bytes, const std::vector<size_t>& sizes,
                   int pause_ms = 80);

// ---- Reading ----

// One frame from the helper, as parsed.
struct ServerFrame {
  uint8_t first_byte = 0;  // FIN, RSV1-3, opcode
  bool masked = false;     // the helper must never set it
  size_t header_size = 0;  // 2, 4 or 10 bytes (plus 4 when masked)
  std::string payload;     // unmasked
  std::string raw;         // the whole frame exactly as received

  int opcode() const { return first_byte & 0x0F; }
  bool fin() const { return (first_byte & 0x80) != 0; }
};

// The head of a server frame: what comes before its payload.
struct FrameHead {
  uint8_t first_byte = 0;  // FIN, RSV1-3, opcode
  bool masked = false;
  size_t header_size = 0;  // 2, 4 or 10 bytes (the masking key not counted)
  uint64_t length = 0;     // payload bytes that follow the head
};

// Decodes the frame head at the start of bytes[0, size). Returns the bytes it takes (header plus
// masking key), or 0 when the head is not complete yet.
size_t parse_frame_head(const char* bytes, size_t size, FrameHead& head);

// Parses one complete frame at the start of `bytes` and removes it from there. Returns false and
// leaves `bytes` untouched when the frame is not complete yet.
bool parse_server_frame(std::string& bytes, ServerFrame& frame);

// Reads until one whole frame is held and returns it. False when `timeout_ms` passed or the
// connection closed first (the bytes read so far stay in client.pending).
bool ws_read_frame(WsClient& client, ServerFrame& frame, int timeout_ms = 3000);

// Sends `text` as one text frame and returns the payload of the next frame, which must be a
// text frame; returns "" when none came within `timeout_ms` or another kind came.
std::string ws_command(WsClient& client, std::string_view text, int timeout_ms = 10000);

// Returns client.pending plus whatever arrives within `timeout_ms` (stopping early once `want`
// bytes are held, when want > 0), and empties client.pending. Sets *closed when the helper
// closed or reset the connection.
std::string ws_read_raw(WsClient& client, int timeout_ms, size_t want = 0, bool* closed = nullptr);

// True when the helper closes (or resets) the connection within `timeout_ms` without sending
// anything more; any byte received, pending ones included, makes it false.
bool ws_closed_within(WsClient& client, int timeout_ms);
