#include "protocol/replies.h"

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
}
