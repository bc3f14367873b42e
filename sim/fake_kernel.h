#pragma once

#include <cerrno>
#include <functional>
#include <vector>

#include "nl_writer.h"

struct KernelPort;

// A stand-in for the kernel's generic-netlink sockets, used in place of the real ones by the
// tests and the simulator. Each request the helper sends goes to a responder, which decides
// the datagrams that the following receives return. Single-threaded, like the helper.

// What the stand-in does with one request.
struct FakeReply {
  std::vector<Bytes> datagrams;  // returned one per receive, in order
  int after = -EAGAIN;  // once they are used up, each receive returns this: -EAGAIN is silence
                        // (returned after the receive time-out), 0 an empty datagram, else -errno
  int send_error = 0;   // negative: the send itself fails with this code
  int delay_ms = 0;     // the datagrams come this long after the request (a blocking receive
                        // waits for them, and meets silence when that is past its time-out)
  // A notification the request sets off (the end of a scan it started): sent to the event socket
  // `event_after_ms` after the request; negative: none. It replaces one still pending.
  Bytes event;
  int event_after_ms = -1;
  int event_error = 0;  // not 0: the event socket's receive fails with this instead (-ENOBUFS)
};

using FakeResponder = std::function<FakeReply(const Bytes& request)>;

// Everything the stand-in saw since the last reset.
struct FakeKernelLog {
  std::vector<Bytes> requests;         // each request's bytes, as sent
  std::vector<uint32_t> event_groups;  // each group an event socket was opened for or joined
  int opens = 0;                       // sockets handed out
  int closes = 0;
  int receive_timeout_ms = 0;  // the time-out asked for by the last open
};

// Sockets opened with receive time-out 0 (kernel_open(0): the loop's, kept open) never wait: a
// receive gets the next datagram once it is due, else -EAGAIN. Each is a real descriptor (a timer)
// that turns readable when its next datagram falls due, so the helper's loop can wait on it; a
// few of them exist at once.

// Back to the start: no responder (every request meets silence), opens succeed, silence lasts
// the asked time-out, event sockets open, no notification pending, log cleared. Makes the
// stand-in the kernel port in use.
void fake_kernel_reset();

// The stand-in as a kernel port, for the simulator's start-up.
const KernelPort& fake_kernel_port();

// Sets who answers the requests from now on.
void fake_kernel_respond(FakeResponder responder);

// Makes every open fail with `code` (a negated errno); 0 lets them succeed again.
void fake_kernel_fail_open(int code);

// How long a silent receive waits before -EAGAIN: `ms`, or the asked time-out when negative.
void fake_kernel_set_silence_ms(int ms);

// Makes every event-socket open fail with `code` (a negated errno); 0 lets them succeed again.
void fake_kernel_fail_events_open(int code);

// Makes every join of a further group fail with `code` (as for a group the process may not
// join); 0 lets them succeed again.
void fake_kernel_fail_events_join(int code);

// The event socket is a real descriptor (a timer) so that the helper's loop can wait on it: it
// turns readable when a pending notification falls due, and its receive then returns it.
// Notifications scheduled below reach it only when it belongs to their `group` by the time they
// are received; they may be scheduled before it is opened.

// Sends `datagram` to the multicast `group` `after_ms` from now.
void fake_kernel_schedule_event(uint32_t group, Bytes datagram, int after_ms);

// Makes the socket report, `after_ms` from now, that notifications to `group` were lost for
// lack of room (the receive fails with -ENOBUFS once).
void fake_kernel_schedule_loss(uint32_t group, int after_ms);

// Whether requests are kept in the log (the simulator turns this off for long runs).
void fake_kernel_keep_requests(bool keep);

const FakeKernelLog& fake_kernel_log();
