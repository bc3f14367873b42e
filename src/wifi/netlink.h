#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

// Generic-netlink exchange with the kernel: one request on a fresh socket, every reply message
// walked into an attribute table and handed to a callback. Single-threaded and not reentrant.

// A request as sent: netlink header, generic-netlink header, then attributes back to back, each
// padded to 4 bytes. Zero-filled before use; requests.h fills in the forms the helper sends.
struct NetlinkRequest {
  uint32_t nlmsg_len;  // bytes to send, header included
  uint16_t nlmsg_type;
  uint16_t nlmsg_flags;
  uint32_t nlmsg_seq;
  uint32_t nlmsg_pid;
  uint8_t cmd;
  uint8_t version;
  uint16_t reserved;
  uint8_t attributes[256];
};

// An attribute header (u16 nla_len, u16 nla_type) inside received bytes. Only a handle: read it
// with the functions below, which never look past nla_len.
struct NlAttr;

inline constexpr size_t kMsgHeaderSize = 16;   // the netlink message header
inline constexpr size_t kGenlHeaderEnd = 20;   // that header plus the 4-byte generic-netlink header
inline constexpr int kAttrTableMaxType = 320;  // up to the multi-link attributes (312..314)
inline constexpr int kReceiveTimeoutMs = 3000;
inline constexpr size_t kReceiveBufferSize = 65536;

// The per-message callback: `table[t]` is the last attribute of type t (0..max_type) in the
// message, or null. Pointers are valid only during the call. Must not start another exchange.
using NetlinkCallback = void (*)(const NlAttr* const* table, int max_type, void* user_data);

// One whole message inside received bytes; `bytes` points at its header.
struct NetlinkMessage {
  const uint8_t* bytes;
  uint32_t len;  // header included, at least kMsgHeaderSize
  uint16_t type;
  uint16_t flags;
};

// Reads the message at the start of bytes[0..remaining) into *message. Returns how far the next
// message starts (the length rounded up to 4, at most `remaining`), or 0 when no whole message
// starts there: fewer bytes than a header, or a length below a header or past `remaining`.
size_t next_message(const uint8_t* bytes, size_t remaining, NetlinkMessage* message);

// Sends the first nlmsg_len bytes of `request` on a fresh socket and hands every reply message to
// `callback` (may be null) until the exchange ends. Returns 0 (end of dump, acknowledgement, or a
// datagram holding a message without NLM_F_MULTI), the kernel's negative error code (of an error
// message, or the negative s32 an end-of-dump message carries), -errno of a failed
// socket/send/receive (-EAGAIN after 3 s of silence), or -EIO for an empty datagram or an error
// message that carries no valid code.
int32_t netlink_exchange(const NetlinkRequest& request, NetlinkCallback callback, void* user_data);

// The result of a request given up after kReceiveTimeoutMs without a complete answer, on a lane
// (wifi.h). An errno value no nl80211 request returns, so it reads as its own reason.
inline constexpr int32_t kNoAnswer = -ETIME;

// Why a request failed, in words for a page and the log: "the WiFi driver did not answer within
// 3 s" for kNoAnswer, else the system's text for the negated errno `code`.
const char* netlink_error_text(int32_t code);

// Reads, without waiting, every datagram that waits on the non-blocking socket `fd` (opened with
// kernel_open(0)), dropping those that answer a request other than `seq` (one given up), and
// hands each message of the answer to `seq` to `callback`, as netlink_exchange does. True once
// that answer ended, with *result as netlink_exchange would return it; false while it has not.
bool netlink_read_reply(int fd, uint32_t seq, NetlinkCallback callback, void* user_data,
                        int32_t* result);

// Clears table[0..max_type], then stores each attribute of `bytes[0..length)` whose type (flags
// cleared) is at most max_type; the walk stops at an attribute shorter than its header or longer
// than what remains. A later attribute of a type replaces an earlier one.
void parse_attributes(const uint8_t* bytes, size_t length, const NlAttr** table, int max_type);

// parse_attributes over the payload of a nested `attribute` (null or fewer than 4 payload bytes:
// an empty table).
void parse_nested(const NlAttr* attribute, const NlAttr** table, int max_type);

// Attribute readers. Each fixed-width read succeeds only when the payload holds at least that many
// bytes; a null or shorter attribute counts as absent (false, `out` untouched).
uint16_t attr_len(const NlAttr* attribute);
uint16_t attr_type(const NlAttr* attribute);  // without the nested and byte-order flags
const uint8_t* attr_payload(const NlAttr* attribute);
size_t attr_payload_len(const NlAttr* attribute);
bool attr_u8(const NlAttr* attribute, uint8_t* out);
bool attr_u16(const NlAttr* attribute, uint16_t* out);
bool attr_u32(const NlAttr* attribute, uint32_t* out);
bool attr_s32(const NlAttr* attribute, int32_t* out);
bool attr_mac(const NlAttr* attribute, uint8_t out[6]);

// Copies the payload as text into `out`: stops at a zero byte, at the payload's end, or at
// out_size - 1 bytes, and always terminates (out_size > 0). A null attribute gives "".
void attr_text(const NlAttr* attribute, char* out, size_t out_size);
