// Our own PNG reader: the reference decoder's pixels and refusals, faster.
// Internal.
#ifndef VELMORA_PNG_READER_H
#define VELMORA_PNG_READER_H

#include <cstddef>
#include <memory>

#include "input_file.h"
#include "row_reader.h"

namespace velmora {

// Reads the header of `bytes` (which must outlive the reader). Returns the
// reader; or null with `*reason` set when the file is refused; or null with
// `*reason` null for a file this reader leaves to the reference decoder.
// With `verify_adler`, a zlib stream whose Adler-32 (the four bytes after
// its last block) is missing or wrong ends in "bad zlib checksum" once
// everything else has decoded (a CgBI file's bare deflate stream carries
// none, and is not tested); without, the outcome is the reference's own.
// Reasons are the reference's raw texts (a chunk's name comes in raw).
std::unique_ptr<RowReader> open_png_reader(const unsigned char *bytes, size_t size,
                                           const char **reason, bool verify_adler = true);

// The same reader on a source read in pieces: the chunk headers and the small
// chunks as the walk meets them, the image data in order as it is inflated;
// the file is never held whole. `src` must outlive the reader. With
// `verify`, the CRC of every chunk that decides the pixels is tested too
// ("bad CRC", which wins over every other reason, whenever it is found: at
// open, or at the end of the rows for the image data) and the Adler-32 as
// above. A read that fails part-way refuses the file with kInputReadFailed.
std::unique_ptr<RowReader> open_png_reader(InputSource &src, const char **reason, bool verify);

// For a file the reference decoded: whether its image data's zlib stream
// fails its Adler-32, as open_png_reader with `verify_adler` would find.
bool png_zlib_checksum_wrong(const unsigned char *bytes, size_t size);

}  // namespace velmora

#endif
