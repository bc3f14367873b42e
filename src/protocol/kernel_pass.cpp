#include "protocol/kernel_pass.h"

#include "base/clock.h"
#include "base/log.h"
#include "protocol/dispatch.h"
#include "protocol/live_stream.h"
#include "protocol/scan_command.h"
#include "wifi/wifi.h"

namespace {

// One line per request the driver left unanswered; a driver that keeps failing gets its lines
// summarised like any other repeat.
void log_given_up(int lane) {
  for (int32_t n = wifi_answer(lane).given_up; n > 0; --n) {
    log_line("A WiFi request went unanswered: the WiFi driver did not answer within 3 s.");
  }
}

}  // namespace

int kernel_lane_fd(int lane) {
  return wifi_lane_fd(lane);
}

uint64_t kernel_due_ms() {
  const uint64_t wifi = wifi_due_ms();
  const uint64_t scan = scan_due_ms();
  return wifi < scan ? wifi : scan;
}

uint32_t kernel_pass(uint32_t readable_lanes, bool events_ready) {
  const uint32_t completed = wifi_pass(readable_lanes, monotonic_ms());
  uint32_t answered = 0;
  if ((completed >> kLinkLane & 1u) != 0) {
    log_given_up(kLinkLane);
    answered |= link_answered();
  }
  if ((completed >> kScanLane & 1u) != 0) {
    log_given_up(kScanLane);
    answered |= scan_answered();
  }
  if ((completed >> kSampleLane & 1u) != 0) {
    log_given_up(kSampleLane);
    live_sample_answered();
  }
  return answered | scan_pass(events_ready);
}
