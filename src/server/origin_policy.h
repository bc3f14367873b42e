#pragma once

// True when `origin` is one of the maker's four page origins (https://tamberline.com,
// https://www.tamberline.com, https://kestrune.com, https://www.kestrune.com), or equals
// `dev_origin` when that is not empty. Whole texts compared byte for byte: letter case, a
// trailing slash or a port all make a difference.
bool origin_allowed(const char* origin, const char* dev_origin);
