#include "wifi/wifi_query.h"

#include <cerrno>
#include <cstdio>

#include "wifi/link_list.h"
#include "wifi/requests.h"
#include "wifi/scan_events.h"
#include "wifi/wifi_state.h"

namespace {

void ask(WifiQuery* q, QueryStep step, NetlinkCallback callback, void* user_data) {
  q->step = step;
  q->callback = callback;
  q->user_data = user_data;
}

void done(WifiQuery* q) {
  q->step = QueryStep::kDone;
}

void fail(WifiQuery* q, const char* msg) {
  q->answer.result = -1;
  std::snprintf(q->answer.msg, sizeof q->answer.msg, "%s", msg);
  done(q);
}

bool reads_link(const WifiQuery* q) {
  return q->kind == QueryKind::kLink || q->kind == QueryKind::kScanStart;
}

// Choosing the interface afresh: a driver that loads after start-up (an adapter plugged in, a
// late module) registers the family only then, so it is looked up again, once per query, until
// it is known.
void ask_interfaces(WifiQuery* q) {
  build_interface_dump_request(&q->request);
  ask(q, QueryStep::kInterfaces, on_interface, &q->pick);
}

void choose_again(WifiQuery* q) {
  q->pick = fresh_interface_pick();
  if (wifi_state.family_id >= 0) {
    ask_interfaces(q);
    return;
  }
  build_family_request(&q->request);
  ask(q, QueryStep::kFamily, on_family, nullptr);
}

// The scan dump marks the BSS the computer is associated with; only that mark is wanted, so no
// record is kept.
void ask_association(WifiQuery* q) {
  q->collector = ScanCollector{nullptr, 0, 0, {}};
  build_scan_dump_request(&q->request, wifi_state.ifindex);
  ask(q, QueryStep::kAssociation, on_bss, &q->collector);
}

// An interface without a channel is associated with nothing.
void forget_association() {
  wifi_state.assoc = Association{};
  wifi_state.assoc_stale = 0;
}

// A sample asks about the association the memory holds, once it is read.
void ask_station(WifiQuery* q) {
  if (wifi_state.assoc.known != 1) {
    done(q);  // nothing to ask about: answer.result stays -1
    return;
  }
  q->station = StationInfo{};
  build_station_request(&q->request, wifi_state.ifindex, station_address(wifi_state.assoc));
  ask(q, QueryStep::kStation, on_station, &q->station);
}

// The link is read; a scan start now asks for the scan, after reading the ends of earlier scans
// still unread, which must not be taken for the end of this one.
void link_read(WifiQuery* q) {
  if (q->kind == QueryKind::kLink || wifi_state.family_id < 0 || wifi_state.ifindex < 0) {
    done(q);
    return;
  }
  (void)scan_events_read(wifi_state.ifindex);
  build_scan_trigger_request(&q->request, wifi_state.ifindex);
  ask(q, QueryStep::kTrigger, nullptr, nullptr);
}

// No interface could be chosen: the memory is cleared, and left to be read again when the
// kernel did not answer.
void choice_failed(WifiQuery* q, int32_t result) {
  wifi_state.assoc = Association{};
  wifi_state.assoc_stale = wifi_state.family_id < 0 || result < 0 ? 1 : 0;
  if (q->kind == QueryKind::kSample) {
    ask_station(q);
    return;
  }
  // A scan goes on without the link (its report then has none), as it always has.
  if (q->kind == QueryKind::kScanStart) {
    link_read(q);
    return;
  }
  fail(q, result == kNoAnswer ? netlink_error_text(result) : "no WiFi interface found");
}

void interface_ready(WifiQuery* q);

// The interface is chosen (or not); a newly chosen one (start-up, an adapter plugged in) has its
// adapter's capabilities read first.
void interface_answered(WifiQuery* q, int32_t result) {
  q->choice_result = result;
  (void)interface_chosen(q->pick, result);
  if (q->pick.ifindex < 0 || q->pick.ifindex == wifi_state.caps_ifindex) {
    interface_ready(q);
    return;
  }
  q->caps = WiphyCaps{};
  build_wiphy_dump_request(&q->request, q->pick.ifindex);
  ask(q, QueryStep::kWiphy, on_wiphy, &q->caps);
}

void interface_ready(WifiQuery* q) {
  if (q->choice_result < 0 || q->pick.ifindex < 0) {
    choice_failed(q, q->choice_result);
    return;
  }
  if (q->kind == QueryKind::kSample) {
    if (q->pick.has_freq != 0) {
      ask_association(q);
    } else {
      forget_association();
      ask_station(q);
    }
    return;
  }
  LinkInfo* link = &q->answer.link;
  link_from_pick(q->pick, link);
  if (!link->connected) {
    forget_association();
    link_read(q);
    return;
  }
  q->survey = fresh_survey_pick(link->freq_mhz);
  build_survey_dump_request(&q->request, wifi_state.ifindex);
  ask(q, QueryStep::kSurvey, on_survey, &q->survey);
}

// Remembers the association the dump marked (none when no BSS is marked), for the live stream to
// ask about until the kernel tells of a change; a failed dump leaves the memory to be read again.
void association_answered(WifiQuery* q, int32_t result) {
  wifi_state.assoc = q->collector.found;
  wifi_state.assoc_stale = result < 0 && q->collector.found.known == 0 ? 1 : 0;
  if (q->kind == QueryKind::kSample) {
    ask_station(q);
    return;
  }
  if (wifi_state.assoc.known == 0) {
    describe_link(q->pick, wifi_state.assoc, nullptr, &q->answer.link);
    link_read(q);
    return;
  }
  link_from_association(&q->answer.link);
  q->station = StationInfo{};
  build_station_request(&q->request, wifi_state.ifindex, station_address(wifi_state.assoc));
  ask(q, QueryStep::kStation, on_station, &q->station);
}

void station_answered(WifiQuery* q, int32_t result) {
  if (reads_link(q)) {
    link_from_station(q->pick, q->station, result, &q->answer.link);
    link_read(q);
    return;
  }
  // No such station (the access point changed) or no such interface (it went and came back):
  // the association moved under us. Read it once and ask again.
  if ((result == -ENOENT || result == -ENODEV) && !q->probed) {
    q->probed = true;
    choose_again(q);
    return;
  }
  if (result >= 0 && q->station.signal_dbm != 0) {
    q->answer.result = 0;
    q->answer.dbm = q->station.signal_dbm;
  }
  done(q);
}

}  // namespace

void query_start(WifiQuery* q, QueryKind kind, ScanEntry* entries, int capacity) {
  q->kind = kind;
  q->probed = false;
  q->answer = WifiAnswer{};
  q->answer.scan_wait = kScanDumpNow;
  switch (kind) {
    case QueryKind::kLink:
    case QueryKind::kScanStart:
      choose_again(q);
      return;
    case QueryKind::kScanDump:
      if (wifi_state.family_id < 0 || wifi_state.ifindex < 0) {
        fail(q, "no WiFi interface found");
        return;
      }
      q->collector = ScanCollector{entries, capacity > 0 ? capacity : 0, 0, {}};
      build_scan_dump_request(&q->request, wifi_state.ifindex);
      ask(q, QueryStep::kDump, on_bss, &q->collector);
      return;
    case QueryKind::kSample:
      // A sample fails until its station request says otherwise.
      q->answer.result = -1;
      // While the kernel tells of every change, the memory is current and a disconnected
      // station costs nothing. Otherwise (no notifications, some lost, nothing read yet) it is
      // read afresh first: at most one probe per sample.
      if (wifi_state.assoc_stale != 0 || (wifi_state.assoc.known == 0 && wifi_state.follows == 0)) {
        q->probed = true;
        choose_again(q);
        return;
      }
      ask_station(q);
      return;
  }
}

void query_answered(WifiQuery* q, int32_t result) {
  if (result == kNoAnswer) ++q->answer.given_up;
  switch (q->step) {
    case QueryStep::kFamily:
      if (wifi_state.family_id >= 0) {
        ask_interfaces(q);
      } else {
        choice_failed(q, result);
      }
      return;
    case QueryStep::kInterfaces:
      interface_answered(q, result);
      return;
    case QueryStep::kWiphy:
      note_wiphy_caps(q->caps, result, q->pick.ifindex);
      interface_ready(q);
      return;
    case QueryStep::kSurvey:
      q->answer.link.noise = survey_noise(q->survey, result);
      ask_association(q);
      return;
    case QueryStep::kAssociation:
      association_answered(q, result);
      return;
    case QueryStep::kStation:
      station_answered(q, result);
      return;
    case QueryStep::kTrigger:
      q->answer.scan_wait = scan_wait_after_trigger(result);
      done(q);
      return;
    case QueryStep::kDump:
      q->answer.count =
          scan_dump_outcome(&q->collector, result, q->answer.msg, sizeof q->answer.msg);
      q->answer.result = q->answer.count < 0 ? -1 : 0;
      done(q);
      return;
    case QueryStep::kDone:
      return;
  }
}

void query_run(WifiQuery* q) {
  while (q->step != QueryStep::kDone) {
    query_answered(q, netlink_exchange(q->request, q->callback, q->user_data));
  }
}

// The blocking forms, for start-up and the in-process callers: the same steps, one exchange after
// another.

int link_query(LinkInfo* link, char* msg, size_t msg_size) {
  static WifiQuery query;
  query_start(&query, QueryKind::kLink);
  query_run(&query);
  *link = query.answer.link;
  if (query.answer.result != 0) std::snprintf(msg, msg_size, "%s", query.answer.msg);
  return query.answer.result;
}

int scan_trigger() {
  if (wifi_state.family_id < 0 || wifi_state.ifindex < 0) return kScanDumpNow;
  (void)scan_events_read(wifi_state.ifindex);
  NetlinkRequest request;
  build_scan_trigger_request(&request, wifi_state.ifindex);
  return scan_wait_after_trigger(netlink_exchange(request, nullptr, nullptr));
}

int scan_dump(ScanEntry* entries, int capacity, char* msg, size_t msg_size) {
  static WifiQuery query;
  query_start(&query, QueryKind::kScanDump, entries, capacity);
  query_run(&query);
  if (query.answer.result != 0) std::snprintf(msg, msg_size, "%s", query.answer.msg);
  return query.answer.result != 0 ? -1 : query.answer.count;
}

int signal_sample(int32_t* out) {
  static WifiQuery query;
  query_start(&query, QueryKind::kSample);
  query_run(&query);
  if (query.answer.result != 0) return -1;
  *out = query.answer.dbm;
  return 0;
}
