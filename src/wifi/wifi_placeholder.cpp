#include <cstdio>

#include "wifi/wifi.h"

// Placeholder until the WiFi source lands.
int wifi_open(char* msg, size_t msg_size) {
  std::snprintf(msg, msg_size, "nl80211 not available (not built yet)");
  return -1;
}
int link_query(LinkInfo*, char* msg, size_t msg_size) {
  std::snprintf(msg, msg_size, "no WiFi interface found");
  return -1;
}
int scan_dump(ScanEntry*, int, char* msg, size_t msg_size) {
  std::snprintf(msg, msg_size, "no WiFi interface found");
  return -1;
}
int signal_sample(int32_t*) {
  return -1;
}
