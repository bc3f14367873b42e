#pragma once

#include <cstddef>

// How text blocks grow: std::realloc, unless a test or fuzzer chose a resizer that can fail, to
// see every allocation failure handled. The helper itself never chooses.
using TextResize = void* (*)(void* block, size_t size);

// Makes `resize` (realloc's contract) the one every later growth uses; null restores realloc.
void text_use_resize(TextResize resize);
