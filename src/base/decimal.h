#pragma once

#include <cstddef>
#include <cstdint>

// Reads the decimal digits at the start of `text` (no sign, no blanks). Returns how many there
// are, 0 when `text` does not start with one; *value gets their value, held at `ceiling` when
// larger (later digits cannot bring it back).
size_t read_decimal(const char* text, uint64_t ceiling, uint64_t* value);

// True when `text` is one or more decimal digits and nothing else, and their value is at most
// `largest` (below UINT64_MAX); *value gets it then and is left alone otherwise.
bool parse_decimal(const char* text, uint64_t largest, uint64_t* value);
