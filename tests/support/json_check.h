#pragma once

#include <string>
#include <vector>

// Hands every text to a real JSON parser (Node's JSON.parse after a fatal UTF-8 decode, the same
// checks a browser applies to a text frame) in one run. Returns "" when all are valid JSON in
// valid UTF-8, else a description of the first that is not. Requires node on the PATH.
std::string check_json_texts(const std::vector<std::string>& texts);
