#pragma once

#include <string>

// What a healthy helper answers, byte for byte, for tests to compare against.

// The hello reply of a helper listening on `port`.
std::string hello_reply(int port);

// The same for a helper that does (`fresh_scans`) or does not hold the right to scan.
std::string hello_reply(int port, bool fresh_scans);

// The plain HTTP reply with this status and body.
std::string plain_reply(const std::string& status, const std::string& body);
