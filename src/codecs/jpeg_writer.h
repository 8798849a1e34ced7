// The JPEG writer: our own encoder of exactly the file stb_image_write makes
// from RGBA pixels at quality 92 (baseline, 4:4:4, alpha ignored), only much
// faster. The bytes are part of the contract, so every step repeats stb's
// arithmetic: the same tables, the same single-precision operations in the
// same order, the same rounding, the same edge blocks. Internal.
#ifndef VELMORA_JPEG_WRITER_H
#define VELMORA_JPEG_WRITER_H

#include "byte_sink.h"
#include "cpu.h"
#include "row_source.h"

namespace velmora {

// Writes exactly the bytes of stbi_write_jpg_to_func(..., w, h, 4, rgba, 92),
// handed to `write` in large pieces; 1 on success. 0 when width or height is
// 0, negative or above 65535 (the file holds 16-bit sizes), when the pixels
// are missing, when the staging buffer cannot be had, or when the sink
// returned false (nothing more is written after that). `isa` chooses how the
// block transform (colour conversion, DCT, quantisation) runs: one block at a
// time, four neighbouring blocks with SSE2 or eight with AVX2; a set the
// processor lacks falls back to the widest it has. Every choice gives the
// same bytes.
int write_jpeg_q92(WriteFn write, void *context, int width, int height, const unsigned char *rgba,
                   Isa isa = Isa::best);

// The same file from rows handed out by `rows`: 8 at a time, top first, the
// last strip only what remains. Returns 0 as soon as `rows` gives none (what
// was written by then is not a file). Only one strip is read at a time, so
// the source may reuse its buffer from one call to the next.
int write_jpeg_q92_rows(WriteFn write, void *context, int width, int height, RowSource &rows,
                        Isa isa = Isa::best);

}  // namespace velmora

#endif
