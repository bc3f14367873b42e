#include "protocol/replies.h"

#include <cstdio>

void send_error_reply(ConnectionSlot& slot, const char* cmd, const char* msg) {
  TextBuffer buffer;
  text_seed(buffer, "{\"type\":\"error\",\"cmd\":");
  text_append_json_string(buffer, cmd);
  text_append_literal(buffer, ",\"msg\":");
  text_append_json_string(buffer, msg);
  text_append_literal(buffer, "}");
  text_send(slot, buffer);
}

void send_stopped(ConnectionSlot& slot) {
  TextBuffer buffer;
  text_seed(buffer, "{\"type\":\"stopped\"}");
  text_send(slot, buffer);
}

void write_link_object(TextBuffer& buffer, const LinkInfo& link) {
  text_append_format(buffer, "\"connected\":%s,\"iface\":", link.connected != 0 ? "true" : "false");
  text_append_json_string(buffer, link.iface);
  text_append_literal(buffer, ",\"ssid\":");
  text_append_json_string(buffer, link.ssid);
  text_append_format(buffer,
                     ",\"rssi\":%d,\"noise\":%d,\"txMbps\":%.1f,\"rxMbps\":%.1f,\"channel\":%d,"
                     "\"freqMHz\":%d,\"widthMHz\":%d,\"nss\":%d,\"phy\":",
                     link.rssi, link.noise, link.tx_mbps, link.rx_mbps, link.channel, link.freq_mhz,
                     link.width_mhz, link.nss);
  text_append_json_string(buffer, link.phy);
  if (link.link_count <= 0) return;
  text_append_literal(buffer, ",\"links\":[");
  for (int32_t i = 0; i < link.link_count && i < kMaxLinks; ++i) {
    const LinkEntry& entry = link.links[i];
    char bssid[18] = "";
    if (entry.has_bssid != 0) {
      std::snprintf(bssid, sizeof bssid, "%02x:%02x:%02x:%02x:%02x:%02x", entry.bssid[0],
                    entry.bssid[1], entry.bssid[2], entry.bssid[3], entry.bssid[4], entry.bssid[5]);
    }
    text_append_format(buffer,
                       "%s{\"linkId\":%d,\"bssid\":\"%s\",\"freqMHz\":%d,\"channel\":%d,"
                       "\"widthMHz\":%d,\"rssi\":%d}",
                       i > 0 ? "," : "", entry.link_id, bssid, entry.freq_mhz, entry.channel,
                       entry.width_mhz, entry.rssi);
  }
  text_append_literal(buffer, "]");
}
