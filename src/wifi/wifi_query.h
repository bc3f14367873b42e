#pragma once

#include <cstdint>

#include "wifi/interface.h"
#include "wifi/netlink.h"
#include "wifi/scan.h"
#include "wifi/station.h"
#include "wifi/survey.h"
#include "wifi/wifi.h"
#include "wifi/wiphy_caps.h"

// A query: the kernel requests one command needs, one after another, each started from the
// answer to the one before. What an answer means is left to the parse callbacks and the link_from_*
// helpers; here is only the order. The same steps run blocking, one exchange after another
// (query_run: start-up, the in-process callers), or on a lane of the loop (lanes.cpp), where
// nothing waits.

enum class QueryKind : uint8_t {
  kLink,       // link_query
  kScanStart,  // the link query, then the scan request (scan_trigger)
  kScanDump,   // scan_dump
  kSample,     // signal_sample
};

enum class QueryStep : uint8_t {
  kDone,  // no request out: the answer is complete
  kFamily,
  kInterfaces,
  kWiphy,  // the capabilities of a newly chosen interface's adapter
  kSurvey,
  kAssociation,  // a scan dump read for the association it marks
  kStation,
  kTrigger,
  kDump,
};

// One query and everything its steps fill. Must stay in place while a request is out: the
// request's user data points into it.
struct WifiQuery {
  QueryKind kind;
  QueryStep step;            // whose request is out, or kDone
  NetlinkRequest request;    // that request, built
  NetlinkCallback callback;  // and what reads its reply messages
  void* user_data;
  bool probed;  // a sample has read the association afresh already
  InterfacePick pick;
  int32_t choice_result;  // of the interface dump, while the adapter's capabilities are read
  WiphyCaps caps;
  SurveyPick survey;
  ScanCollector collector;
  StationInfo station;
  WifiAnswer answer;
};

// Starts `query` afresh as `kind`; a scan dump fills entries[0..capacity). Afterwards its first
// request is in place (step not kDone), or it is already done.
void query_start(WifiQuery* query, QueryKind kind, ScanEntry* entries = nullptr, int capacity = 0);

// Takes the result of the request out (as netlink_exchange gives it, or kNoAnswer); then the
// next request is in place, or the query is done.
void query_answered(WifiQuery* query, int32_t result);

// Runs the query's requests one blocking exchange after another until it is done.
void query_run(WifiQuery* query);
