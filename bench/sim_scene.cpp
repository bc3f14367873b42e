#include "sim_scene.h"

std::string scene_text(int nets, int ie_bytes) {
  std::string ies = " ie-bytes=" + std::to_string(ie_bytes) + "\n";
  std::string text =
      "# Written by the benchmark: one associated network and its neighbours, each with a fixed\n"
      "# number of information-element bytes.\n"
      "name bench\n"
      "trigger refuse\n"
      "interface ifindex=3 name=wlan0 type=station wiphy=0 freq=5180 width=3 cf1=5210 "
      "ssid=Bench-Home\n";
  if (nets > 0) {
    text += "bss bssid=0a:00:00:02:00:00 freq=5180 signal=-4000 status=associated ssid=Bench-Home" +
            ies;
  }
  if (nets > 1) {
    text +=
        "generate count=" + std::to_string(nets - 1) + " signal-start=-4050 signal-step=50" + ies;
  }
  text +=
      "station signal=-40 swing=6 tx-bitrate=8667 tx-vht-mcs=9 tx-vht-nss=2 tx-width=80 tx-sgi "
      "rx-bitrate=7800 rx-vht-mcs=8 rx-vht-nss=2 rx-width=80\n";
  return text;
}
