// Undoing the PNG row filters as the reader needs them: the scalar code is the
// plain statement and the reference, SSE2 reconstructs a whole pixel at once
// for Sub, Average and Paeth (a pixel depends on the one before it, so the
// lanes are its channels). Internal.
#ifndef VELMORA_PNG_UNFILTER_H
#define VELMORA_PNG_UNFILTER_H

#include <cstddef>
#include <cstdint>

#include "cpu.h"

namespace velmora {

// Reconstructs `row` (n filtered bytes) in place with filter 0-4, `prior` the
// row above already reconstructed (zeros above the first row), `bpp` the
// bytes of a whole pixel (1 below 8 bits). Both rows must have 16 readable
// bytes past n.
using Unfilter = void (*)(int filter, uint8_t *row, const uint8_t *prior, size_t n, int bpp);

void unfilter_row_scalar(int filter, uint8_t *row, const uint8_t *prior, size_t n, int bpp);

// The unfilter `isa` runs (scalar where it has nothing faster).
Unfilter unfilter_for(Isa isa);

}  // namespace velmora

#endif
