#include <cstdlib>

#include "protocol/text_buffer.h"

void* text_resize_block(void* block, size_t size) {
  return std::realloc(block, size);
}
