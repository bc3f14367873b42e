#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

// Builds netlink messages the way the kernel lays them out (native byte order, attributes padded
// to 4 bytes), for the stand-in kernel and for tests that hand-craft replies.

using Bytes = std::vector<uint8_t>;

struct NlWriter {
  Bytes bytes;  // one or more finished messages: a datagram

  // Starts a message: netlink header and, unless `generic` is false, the generic-netlink header
  // with `cmd` and version 1. Finish it with end_message().
  void begin_message(uint16_t type, uint16_t flags, uint32_t seq, uint8_t cmd, bool generic = true);
  // Sets the open message's nlmsg_len and pads the datagram to 4 bytes.
  void end_message();

  void put(uint16_t type, std::span<const uint8_t> payload);
  void put_u8(uint16_t type, uint8_t value);
  void put_u16(uint16_t type, uint16_t value);
  void put_u32(uint16_t type, uint32_t value);
  void put_s32(uint16_t type, int32_t value);
  void put_u64(uint16_t type, uint64_t value);
  void put_flag(uint16_t type);                           // an attribute without payload
  void put_string(uint16_t type, std::string_view text);  // with its terminating zero

  // Opens a nested attribute (type | NLA_F_NESTED when `flag_nested`); close it with end_nest().
  void begin_nest(uint16_t type, bool flag_nested = false);
  void end_nest();

  // Appends raw bytes (for deliberately broken messages).
  void raw(std::span<const uint8_t> data);

  std::vector<size_t> open_;  // offsets of the open message and nests, innermost last
};

// An NLMSG_DONE message (flags NLM_F_MULTI, payload the s32 `code`) as its own datagram. The
// kernel ends a dump that failed part-way with the negated errno here; 0 for a complete dump.
Bytes done_datagram(uint32_t seq, int32_t code = 0);

// The kernel's NLMSG_ERROR reply to `request`: code 0 (an acknowledgement) echoes only the
// request's header and carries NLM_F_CAPPED; any other code echoes the whole request.
Bytes error_datagram(int32_t code, std::span<const uint8_t> request);
