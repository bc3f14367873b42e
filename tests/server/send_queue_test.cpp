// The send queue over a socket pair with a small send buffer: no timing, the test reads when the
// page would.
#include "server/send_queue.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <string>

#include "base/clock.h"

namespace {

std::string pattern(size_t length, int seed) {
  std::string out(length, '\0');
  for (size_t i = 0; i < length; ++i) out[i] = static_cast<char>(i * 7 + seed);
  return out;
}

// Slot 1 of the table on one end of a fresh pair whose other end is `page`.
ConnectionSlot& paired_slot(int* page) {
  int ends[2];
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends), 0);
  int small = 4096;
  EXPECT_EQ(setsockopt(ends[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
  clear_slot(slots[0]);
  slots[0].fd = ends[0];
  *page = ends[1];
  return slots[0];
}

bool send_text(ConnectionSlot& slot, const std::string& text) {
  const iovec piece{const_cast<char*>(text.data()), text.size()};
  return slot_send(slot, &piece, 1);
}

// The page reads until `wanted` bytes came or the queue is empty, the helper flushing between.
std::string page_reads(ConnectionSlot& slot, int page, size_t wanted) {
  std::string got;
  char chunk[4096];
  while (got.size() < wanted) {
    ssize_t n = read(page, chunk, std::min(sizeof chunk, wanted - got.size()));
    if (n > 0) got.append(chunk, static_cast<size_t>(n));
    slot_flush(slot);
    if (n <= 0 && send_queued(slot) == 0) break;
  }
  return got;
}

}  // namespace

TEST(SendQueue, PartialWritesQueueCompactOverflowStallAndBreak) {
  signal(SIGPIPE, SIG_IGN);
  int page = -1;
  ConnectionSlot& slot = paired_slot(&page);
  const std::string first = pattern(600 * 1024, 1), second = pattern(600 * 1024, 2);
  ASSERT_TRUE(send_text(slot, first));
  EXPECT_GT(send_queued(slot), 0u);  // the socket took part, the rest waits
  EXPECT_LT(send_queued(slot), first.size());
  EXPECT_EQ(send_stall_due_ms(slot), slot.send_progress_ms + kSendTimeoutMs + 1);
  // The page reads most of it; the second message then fits only once the queue is compacted.
  std::string got = page_reads(slot, page, 500 * 1024);
  EXPECT_GT(slot.send_end + second.size(), kSendQueueCapacity);
  ASSERT_TRUE(send_text(slot, second));
  EXPECT_EQ(slot.send_start, 0u);
  // More than the rest of the capacity is refused whole.
  const uint64_t queued = send_queued(slot);
  EXPECT_FALSE(send_text(slot, pattern(kSendQueueCapacity - queued + 1, 3)));
  EXPECT_EQ(send_queued(slot), queued);
  // A page that read everything after a long pass elsewhere is not stalled once the flush ran.
  slot.send_progress_ms = monotonic_ms() - 10 * kSendTimeoutMs;
  got += page_reads(slot, page, SIZE_MAX);
  EXPECT_EQ(got, first + second);
  EXPECT_EQ(send_stall_due_ms(slot), UINT64_MAX);
  ASSERT_TRUE(send_text(slot, first));
  ConnectionSlot outside{};  // a slot outside the table has no queue: the full socket overflows it
  outside.fd = slot.fd;
  EXPECT_FALSE(send_text(outside, "x"));
  slot.send_progress_ms = monotonic_ms() - 10 * kSendTimeoutMs;
  EXPECT_EQ(page_reads(slot, page, 64 * 1024).size(), 64 * 1024u);
  EXPECT_GT(send_stall_due_ms(slot), monotonic_ms());
  // The page goes away: the connection breaks and its queue is dropped; later sends do nothing.
  close(page);
  slot_flush(slot);
  EXPECT_EQ(slot.send_broken, 1);
  EXPECT_EQ(send_queued(slot), 0u);
  EXPECT_TRUE(send_text(slot, second));
  EXPECT_EQ(send_queued(slot), 0u);
  close_slot(slot, "test");
}
