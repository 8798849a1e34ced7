// Reading the input file. Internal.
#ifndef VELMORA_INPUT_FILE_H
#define VELMORA_INPUT_FILE_H

#include <cstdint>

#include "memory.h"

namespace velmora {

// The whole file in one heap buffer, or null. `size` is written only on
// success. Files of 0 bytes or over INT_MAX bytes (the decoder takes an int
// size) are refused.
Buffer read_file(const char *path, uint64_t *size);

}  // namespace velmora

#endif
