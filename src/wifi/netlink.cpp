#include "wifi/netlink.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "wifi/kernel_port.h"
#include "wifi/nl80211_codes.h"

namespace {

// Every reply datagram lands here.
alignas(8) uint8_t nl_rx_buffer[kReceiveBufferSize];

constexpr size_t kAttrHeaderSize = 4;
constexpr int32_t kLargestErrno = 4095;

// One table serves every message of every exchange; cleared before each message is walked.
const NlAttr* attr_table[kAttrTableMaxType + 1];

size_t align4(size_t length) {
  return (length + 3) & ~size_t{3};
}

const uint8_t* bytes_of(const NlAttr* attribute) {
  return reinterpret_cast<const uint8_t*>(attribute);
}

// A code the kernel sent: 0 or a negated errno. A value no kernel sends ends the exchange as an
// I/O error rather than being taken for success or handed to strerror.
int32_t checked_code(int32_t code) {
  return code > 0 || code < -kLargestErrno ? -EIO : code;
}

// The code of an NLMSG_ERROR message; one too short to hold it is an I/O error.
int32_t error_code(const uint8_t* message, uint32_t length) {
  if (length < kMsgHeaderSize + 4) return -EIO;
  int32_t code = 0;
  std::memcpy(&code, message + kMsgHeaderSize, 4);
  return checked_code(code);
}

// The result of an NLMSG_DONE message: a dump that failed part-way (an interface gone with its
// adapter) ends with the negated errno as the s32 payload. A payload that is absent or not
// negative means the dump is complete.
int32_t done_code(const uint8_t* message, uint32_t length) {
  if (length < kMsgHeaderSize + 4) return 0;
  int32_t code = 0;
  std::memcpy(&code, message + kMsgHeaderSize, 4);
  return code < 0 ? checked_code(code) : 0;
}

enum class DatagramEnd { kWaitForMore, kFinal, kExchangeOver };

// Walks the messages of one datagram. kExchangeOver with *result set on NLMSG_DONE or
// NLMSG_ERROR; kFinal when a message lacked NLM_F_MULTI.
DatagramEnd walk_datagram(const uint8_t* bytes, size_t remaining, NetlinkCallback callback,
                          void* user_data, int32_t* result) {
  bool final = false;
  NetlinkMessage message;
  for (size_t step; (step = next_message(bytes, remaining, &message)) > 0;
       bytes += step, remaining -= step) {
    if (message.type == nl::kMsgDone) {
      *result = done_code(bytes, message.len);
      return DatagramEnd::kExchangeOver;
    }
    if (message.type == nl::kMsgError) {
      *result = error_code(bytes, message.len);
      return DatagramEnd::kExchangeOver;
    }
    if ((message.flags & nl::kFlagMulti) == 0) final = true;
    // A message shorter than both headers has no attributes (and its walk starts at its end).
    size_t headers = std::min<size_t>(message.len, kGenlHeaderEnd);
    parse_attributes(bytes + headers, message.len - headers, attr_table, kAttrTableMaxType);
    if (callback != nullptr) callback(attr_table, kAttrTableMaxType, user_data);
  }
  return final ? DatagramEnd::kFinal : DatagramEnd::kWaitForMore;
}

}  // namespace

size_t next_message(const uint8_t* bytes, size_t remaining, NetlinkMessage* message) {
  if (remaining < kMsgHeaderSize) return 0;
  message->bytes = bytes;
  std::memcpy(&message->len, bytes, 4);
  std::memcpy(&message->type, bytes + 4, 2);
  std::memcpy(&message->flags, bytes + 6, 2);
  if (message->len < kMsgHeaderSize || message->len > remaining) return 0;
  return std::min(align4(message->len), remaining);
}

int32_t netlink_exchange(const NetlinkRequest& request, NetlinkCallback callback, void* user_data) {
  int fd = kernel_open(kReceiveTimeoutMs);
  if (fd < 0) return fd;
  size_t length = std::min<size_t>(request.nlmsg_len, sizeof request);
  int sent = kernel_send(fd, reinterpret_cast<const uint8_t*>(&request), length);
  if (sent < 0) {
    kernel_close(fd);
    return sent;
  }
  for (;;) {
    long got = kernel_recv(fd, nl_rx_buffer, sizeof nl_rx_buffer);
    if (got <= 0) {
      kernel_close(fd);
      return got == 0 ? -EIO : static_cast<int32_t>(std::max<long>(got, -kLargestErrno));
    }
    size_t size = std::min<size_t>(static_cast<size_t>(got), sizeof nl_rx_buffer);
    if (size < kMsgHeaderSize) continue;  // too short to be a message: keep waiting
    int32_t result = 0;
    DatagramEnd end = walk_datagram(nl_rx_buffer, size, callback, user_data, &result);
    if (end != DatagramEnd::kWaitForMore) {
      kernel_close(fd);
      return result;
    }
  }
}

const char* netlink_error_text(int32_t code) {
  if (code == kNoAnswer) return "the WiFi driver did not answer within 3 s";
  return std::strerror(-code);
}

bool netlink_read_reply(int fd, uint32_t seq, NetlinkCallback callback, void* user_data,
                        int32_t* result) {
  for (;;) {
    long got = kernel_recv(fd, nl_rx_buffer, sizeof nl_rx_buffer);
    if (got == -EAGAIN || got == -EINTR) return false;
    if (got <= 0) {
      *result = got == 0 ? -EIO : static_cast<int32_t>(std::max<long>(got, -kLargestErrno));
      return true;
    }
    size_t size = std::min<size_t>(static_cast<size_t>(got), sizeof nl_rx_buffer);
    if (size < kMsgHeaderSize) continue;
    // Every message of a reply carries its request's sequence number.
    uint32_t answers = 0;
    std::memcpy(&answers, nl_rx_buffer + 8, 4);
    if (answers != seq) continue;  // the late answer to a request given up
    if (walk_datagram(nl_rx_buffer, size, callback, user_data, result) != DatagramEnd::kWaitForMore)
      return true;
  }
}

void parse_attributes(const uint8_t* bytes, size_t length, const NlAttr** table, int max_type) {
  std::fill(table, table + max_type + 1, nullptr);
  while (length >= kAttrHeaderSize) {
    const NlAttr* attribute = reinterpret_cast<const NlAttr*>(bytes);
    uint16_t len = attr_len(attribute);
    if (len < kAttrHeaderSize || len > length) return;
    uint16_t type = attr_type(attribute);
    if (type <= max_type) table[type] = attribute;
    size_t step = align4(len);
    if (step >= length) return;
    bytes += step;
    length -= step;
  }
}

void parse_nested(const NlAttr* attribute, const NlAttr** table, int max_type) {
  size_t payload = attr_payload_len(attribute);
  if (payload < kAttrHeaderSize) {
    std::fill(table, table + max_type + 1, nullptr);
    return;
  }
  parse_attributes(attr_payload(attribute), payload, table, max_type);
}

uint16_t attr_len(const NlAttr* attribute) {
  uint16_t len = 0;
  std::memcpy(&len, bytes_of(attribute), 2);
  return len;
}

uint16_t attr_type(const NlAttr* attribute) {
  uint16_t type = 0;
  std::memcpy(&type, bytes_of(attribute) + 2, 2);
  return type & 0x3FFF;  // clears NLA_F_NESTED and NLA_F_NET_BYTEORDER
}

const uint8_t* attr_payload(const NlAttr* attribute) {
  return bytes_of(attribute) + kAttrHeaderSize;
}

size_t attr_payload_len(const NlAttr* attribute) {
  if (attribute == nullptr) return 0;
  uint16_t len = attr_len(attribute);
  return len > kAttrHeaderSize ? len - kAttrHeaderSize : 0;
}

namespace {

bool read_fixed(const NlAttr* attribute, void* out, size_t width) {
  if (attr_payload_len(attribute) < width) return false;
  std::memcpy(out, attr_payload(attribute), width);
  return true;
}

}  // namespace

bool attr_u8(const NlAttr* attribute, uint8_t* out) {
  return read_fixed(attribute, out, 1);
}
bool attr_u16(const NlAttr* attribute, uint16_t* out) {
  return read_fixed(attribute, out, 2);
}
bool attr_u32(const NlAttr* attribute, uint32_t* out) {
  return read_fixed(attribute, out, 4);
}
bool attr_s32(const NlAttr* attribute, int32_t* out) {
  return read_fixed(attribute, out, 4);
}
bool attr_mac(const NlAttr* attribute, uint8_t out[6]) {
  return read_fixed(attribute, out, 6);
}

void attr_text(const NlAttr* attribute, char* out, size_t out_size) {
  size_t limit = std::min(attr_payload_len(attribute), out_size - 1);
  const uint8_t* payload = limit > 0 ? attr_payload(attribute) : nullptr;
  size_t n = 0;
  while (n < limit && payload[n] != 0) {
    out[n] = static_cast<char>(payload[n]);
    ++n;
  }
  out[n] = '\0';
}
