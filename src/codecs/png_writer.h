// The PNG writer: the exact bytes of stb_image_write's PNG writer at its
// defaults (compression level 8, each row's filter chosen by its own rule),
// made several times faster and without holding the filtered image or a copy
// of the file. Internal.
#ifndef VELMORA_PNG_WRITER_H
#define VELMORA_PNG_WRITER_H

#include <cstddef>
#include <vector>

#include "byte_sink.h"
#include "cpu.h"

namespace velmora {

// Writes an 8-bit RGBA PNG of width x height pixels (rows of width * 4 bytes,
// top row first): exactly the bytes of stbi_write_png_to_func(..., width,
// height, 4, rgba, width * 4), delivered to `write` in one or more pieces.
// `isa` chooses the instructions of the filters and the match search; every
// choice gives the same bytes. Returns 1, or 0 when the sink refuses bytes,
// memory runs out, `isa` is not available here, or the sizes are not
// positive or make more than kMaxPngStream filtered bytes (where the
// reference's int arithmetic ends).
int write_png_rgba(WriteFn write, void *context, int width, int height,
                   const unsigned char *rgba, Isa isa = Isa::best);

// The largest filtered stream ((width * 4 + 1) * height bytes) the writer takes.
extern const long long kMaxPngStream;

// The zlib stream of `data` alone, byte for byte that of
// stbi_zlib_compress(data, size, &len, 8). Replaces `out`; false when memory
// runs out or `size` exceeds kMaxPngStream.
bool zlib_compress_q8(const unsigned char *data, size_t size, std::vector<unsigned char> &out);

}  // namespace velmora

#endif
