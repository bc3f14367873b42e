#pragma once

// What the hello reply says about the platform. On Linux the location permission does not apply.
inline const char* platform_os_name() {
  return "linux";
}
inline int platform_location_state() {
  return 0;
}
// The help note: how to get fresh scans when the helper cannot ask for them, that there is no
// adapter to scan with when none was found, else that scans are fresh.
inline const char* platform_permission_help(bool can_scan, bool adapter_found) {
  if (can_scan && !adapter_found) {
    return "No WiFi adapter was found when the helper started, so there is nothing to scan with; "
           "the helper may ask for fresh scans once there is one.";
  }
  if (can_scan) {
    return "Fresh scans are on: each scan asks the WiFi adapter to look again, which takes a few "
           "seconds.";
  }
  return "Linux shows what your system scanned most recently. For a fresh scan run the helper with "
         "sudo, or give it the right to scan once (sudo setcap cap_net_admin=ep on the helper's "
         "file), or let NetworkManager rescan (nmcli device wifi rescan).";
}

// 1 granted, 2 denied, 3 ask; anything else is "na".
inline const char* location_word(int state) {
  switch (state) {
    case 1:
      return "granted";
    case 2:
      return "denied";
    case 3:
      return "ask";
    default:
      return "na";
  }
}
