#include "nl_writer.h"

#include <linux/genetlink.h>
#include <linux/netlink.h>

#include <algorithm>
#include <cstring>

namespace {

void append(Bytes& bytes, const void* data, size_t size) {
  const uint8_t* from = static_cast<const uint8_t*>(data);
  bytes.insert(bytes.end(), from, from + size);
}

void pad4(Bytes& bytes) {
  while (bytes.size() % 4 != 0) bytes.push_back(0);
}

template <typename T>
void patch(Bytes& bytes, size_t offset, T value) {
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}

}  // namespace

void NlWriter::begin_message(uint16_t type, uint16_t flags, uint32_t seq, uint8_t cmd,
                             bool generic) {
  pad4(bytes);
  open_.push_back(bytes.size());
  nlmsghdr header{};
  header.nlmsg_type = type;
  header.nlmsg_flags = flags;
  header.nlmsg_seq = seq;
  header.nlmsg_pid = 4242;  // the kernel echoes the requester's port id; the helper ignores it
  append(bytes, &header, sizeof header);
  if (generic) {
    genlmsghdr genl{};
    genl.cmd = cmd;
    genl.version = 1;
    append(bytes, &genl, sizeof genl);
  }
}

void NlWriter::end_message() {
  size_t start = open_.back();
  open_.pop_back();
  patch<uint32_t>(bytes, start, static_cast<uint32_t>(bytes.size() - start));
  pad4(bytes);
}

void NlWriter::put(uint16_t type, std::span<const uint8_t> payload) {
  nlattr header{};
  header.nla_len = static_cast<uint16_t>(NLA_HDRLEN + payload.size());
  header.nla_type = type;
  append(bytes, &header, sizeof header);
  append(bytes, payload.data(), payload.size());
  pad4(bytes);
}

void NlWriter::put_u8(uint16_t type, uint8_t value) {
  put(type, {&value, 1});
}
void NlWriter::put_u16(uint16_t type, uint16_t value) {
  put(type, {reinterpret_cast<const uint8_t*>(&value), sizeof value});
}
void NlWriter::put_u32(uint16_t type, uint32_t value) {
  put(type, {reinterpret_cast<const uint8_t*>(&value), sizeof value});
}
void NlWriter::put_s32(uint16_t type, int32_t value) {
  put(type, {reinterpret_cast<const uint8_t*>(&value), sizeof value});
}
void NlWriter::put_u64(uint16_t type, uint64_t value) {
  put(type, {reinterpret_cast<const uint8_t*>(&value), sizeof value});
}
void NlWriter::put_flag(uint16_t type) {
  put(type, {});
}
void NlWriter::put_string(uint16_t type, std::string_view text) {
  Bytes payload(text.begin(), text.end());
  payload.push_back(0);
  put(type, payload);
}

void NlWriter::begin_nest(uint16_t type, bool flag_nested) {
  open_.push_back(bytes.size());
  nlattr header{};
  header.nla_type = static_cast<uint16_t>(type | (flag_nested ? NLA_F_NESTED : 0));
  append(bytes, &header, sizeof header);
}

void NlWriter::end_nest() {
  size_t start = open_.back();
  open_.pop_back();
  patch<uint16_t>(bytes, start, static_cast<uint16_t>(bytes.size() - start));
  pad4(bytes);
}

void NlWriter::raw(std::span<const uint8_t> data) {
  append(bytes, data.data(), data.size());
}

Bytes done_datagram(uint32_t seq, int32_t code) {
  NlWriter writer;
  writer.begin_message(NLMSG_DONE, NLM_F_MULTI, seq, 0, false);
  writer.raw({reinterpret_cast<const uint8_t*>(&code), sizeof code});
  writer.end_message();
  return writer.bytes;
}

Bytes error_datagram(int32_t code, std::span<const uint8_t> request) {
  nlmsghdr echoed{};
  std::memcpy(&echoed, request.data(), std::min(request.size(), sizeof echoed));
  NlWriter writer;
  writer.begin_message(NLMSG_ERROR, code == 0 ? NLM_F_CAPPED : 0, echoed.nlmsg_seq, 0, false);
  writer.raw({reinterpret_cast<const uint8_t*>(&code), sizeof code});
  writer.raw(code == 0 ? request.first(std::min(request.size(), sizeof echoed)) : request);
  writer.end_message();
  return writer.bytes;
}
