// The loop's queries: each on a lane of its own (one kernel socket kept open, non-blocking), its
// requests sent without waiting and its answers read when the loop's poll finds the socket
// readable.
#include <cstring>

#include "wifi/kernel_port.h"
#include "wifi/wifi.h"
#include "wifi/wifi_query.h"
#include "wifi/wifi_state.h"

namespace {

// The query of each lane; a lane's record in wifi_state holds its request in flight.
WifiQuery lane_queries[kLaneCount];

// Sends the request the lane's query has in place. 0 once it is out, else why it could not go.
int32_t send_request(KernelLane& lane, WifiQuery& query, uint64_t now_ms) {
  if (lane.fd < 0) {
    int fd = kernel_open(0);
    if (fd < 0) return fd;
    lane.fd = fd;
  }
  size_t length = query.request.nlmsg_len < sizeof query.request ? query.request.nlmsg_len
                                                                 : sizeof query.request;
  int sent = kernel_send(lane.fd, reinterpret_cast<const uint8_t*>(&query.request), length);
  if (sent < 0) {
    // The socket may be what failed: the next request starts on a fresh one.
    kernel_close(lane.fd);
    lane.fd = -1;
    return sent;
  }
  lane.seq = query.request.nlmsg_seq;
  lane.due_ms = now_ms + kReceiveTimeoutMs;
  if (query.step == QueryStep::kTrigger) query.answer.scan_requested_ms = now_ms;
  return 0;
}

// Sends the query's next requests until one is out (false) or the query is done (true).
bool go_on(int index, uint64_t now_ms) {
  KernelLane& lane = wifi_state.lanes[index];
  WifiQuery& query = lane_queries[index];
  while (query.step != QueryStep::kDone) {
    int32_t failed = send_request(lane, query, now_ms);
    if (failed == 0) return false;
    query_answered(&query, failed);
  }
  lane.busy = 0;
  return true;
}

bool start(int index, uint64_t now_ms, QueryKind kind, ScanEntry* entries = nullptr,
           int capacity = 0) {
  wifi_state.lanes[index].busy = 1;
  query_start(&lane_queries[index], kind, entries, capacity);
  return go_on(index, now_ms);
}

}  // namespace

bool wifi_start_link(uint64_t now_ms) {
  return start(kLinkLane, now_ms, QueryKind::kLink);
}

bool wifi_start_scan(uint64_t now_ms) {
  return start(kScanLane, now_ms, QueryKind::kScanStart);
}

bool wifi_start_scan_dump(ScanEntry* entries, int capacity, uint64_t now_ms) {
  return start(kScanLane, now_ms, QueryKind::kScanDump, entries, capacity);
}

bool wifi_start_sample(uint64_t now_ms) {
  return start(kSampleLane, now_ms, QueryKind::kSample);
}

bool wifi_lane_busy(int lane) {
  return wifi_state.lanes[lane].busy != 0;
}

const WifiAnswer& wifi_answer(int lane) {
  return lane_queries[lane].answer;
}

bool wifi_scan_request_out() {
  return wifi_state.lanes[kScanLane].busy != 0 &&
         lane_queries[kScanLane].step == QueryStep::kTrigger;
}

int wifi_lane_fd(int lane) {
  const KernelLane& record = wifi_state.lanes[lane];
  return record.busy != 0 && record.seq != 0 ? record.fd : -1;
}

uint64_t wifi_due_ms() {
  uint64_t due = UINT64_MAX;
  for (const KernelLane& lane : wifi_state.lanes) {
    if (lane.busy != 0 && lane.seq != 0 && lane.due_ms < due) due = lane.due_ms;
  }
  return due;
}

uint32_t wifi_pass(uint32_t readable, uint64_t now_ms) {
  uint32_t completed = 0;
  for (int index = 0; index < kLaneCount; ++index) {
    KernelLane& lane = wifi_state.lanes[index];
    WifiQuery& query = lane_queries[index];
    // The kernel mostly answers while the request is being sent, so after each answer the next
    // request's answer is looked for at once rather than in the next pass; the read never waits.
    for (bool look = (readable >> index & 1u) != 0; lane.busy != 0 && lane.seq != 0; look = true) {
      int32_t result = 0;
      bool ended =
          look && netlink_read_reply(lane.fd, lane.seq, query.callback, query.user_data, &result);
      if (!ended && now_ms >= lane.due_ms) {
        // It fails alone: its answer, when it comes, is read and dropped (another sequence
        // number).
        ended = true;
        result = kNoAnswer;
      }
      if (!ended) break;
      lane.seq = 0;
      query_answered(&query, result);
      if (go_on(index, now_ms)) completed |= 1u << index;
    }
  }
  return completed;
}
