#pragma once

#include <string>
#include <vector>

// Checks every text the way a browser treats a text frame it hands to JSON.parse: valid UTF-8,
// then exactly one valid JSON value (the kit's strict reader). Returns "" when all pass, else a
// description of the first that does not.
std::string check_json_texts(const std::vector<std::string>& texts);
