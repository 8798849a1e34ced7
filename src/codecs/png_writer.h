// The PNG writer: the exact bytes of stb_image_write's PNG writer at its
// defaults (compression level 8, each row's filter chosen by its own rule),
// made several times faster and without holding the picture, the filtered
// image or a copy of the file. Internal.
#ifndef VELMORA_PNG_WRITER_H
#define VELMORA_PNG_WRITER_H

#include <cstddef>
#include <vector>

#include "byte_sink.h"
#include "cpu.h"
#include "row_source.h"

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

// The same file from rows handed out by `rows`, one at a time, top first
// (the source may reuse its buffer from one call to the next). Returns 0 as
// well when `rows` gives none (what was written by then is not a file).
//
// With `patch` and `truncate` (an output that can change what it has taken)
// the compressed stream goes out as it is made, the IDAT's length patched in
// at the end; where compressing turns out not to pay, the output is cut back
// to the IDAT and the rows are made again, from rows.rewind(), to be stored.
// Without them the compressed stream is held until its length is known, as
// write_png_rgba() does. The writer calls rows.rewind() once before the first
// row to learn whether the source can go back; when it cannot, every row is
// kept as it goes by (an image's worth of memory) in case it is needed again.
int write_png_rows(WriteFn write, void *context, int width, int height, RowSource &rows,
                   Isa isa = Isa::best, PatchFn patch = nullptr, TruncateFn truncate = nullptr);

// The largest filtered stream ((width * 4 + 1) * height bytes) the writer takes.
extern const long long kMaxPngStream;

// The zlib stream of `data` alone, byte for byte that of
// stbi_zlib_compress(data, size, &len, 8). Replaces `out`; false when memory
// runs out or `size` exceeds kMaxPngStream.
bool zlib_compress_q8(const unsigned char *data, size_t size, std::vector<unsigned char> &out);

}  // namespace velmora

#endif
