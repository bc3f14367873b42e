#pragma once

#include <string>

// What a healthy helper answers, byte for byte, for tests to compare against.

// The hello reply of the helper listening on `port` on this machine, which has no WiFi adapter.
std::string hello_reply(int port);

// The same for a helper that does (`scan_right`) or does not hold the right to scan.
std::string hello_reply(int port, bool scan_right);

// The hello reply of the simulator (a WiFi adapter, and "simulated":true) on `port`.
std::string sim_hello_reply(int port);

// The plain HTTP reply with this status and body.
std::string plain_reply(const std::string& status, const std::string& body);
