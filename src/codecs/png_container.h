// The PNG file around the compressed rows: the signature, IHDR, one IDAT
// holding the whole zlib stream, IEND; the chunk framing that the metadata
// chunks share; and the CRC checks of a file read. Internal.
#ifndef VELMORA_PNG_CONTAINER_H
#define VELMORA_PNG_CONTAINER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "byte_sink.h"
#include "deflate.h"
#include "input_file.h"

namespace velmora {

// Frames chunks for a sink: the length, the type, the data, then the CRC of
// type and data, kept as the data goes by so that no chunk is ever held.
class ChunkWriter {
public:
    ChunkWriter(WriteFn write, void *context) : write_(write), context_(context) {}
    // Bytes outside any chunk.
    bool raw(const unsigned char *p, size_t n) { return n == 0 || write_(context_, p, n); }
    // A chunk of `length` bytes, given by data() in as many pieces as suit,
    // then closed by end().
    bool begin(uint32_t length, const char *type);
    bool data(const unsigned char *p, size_t n);
    bool end();
    // A whole chunk at once.
    bool chunk(const char *type, const unsigned char *p, size_t n) {
        return begin(uint32_t(n), type) && data(p, n) && end();
    }

private:
    WriteFn write_;
    void *context_;
    uint32_t crc_ = 0;
};

// A whole chunk appended to `out`.
void png_chunk(std::vector<unsigned char> &out, const char *type, const unsigned char *data,
               size_t n);

// The bytes png_head() writes: the IDAT's length field comes next.
constexpr size_t kPngHeadSize = 8 + 25;

// The parts of an 8-bit RGBA file, in order; each false as soon as the sink
// refuses bytes.
bool png_head(ChunkWriter &out, int width, int height);  // signature and IHDR
// IDAT with the compressed stream, its Adler-32 checksum last.
bool png_idat(ChunkWriter &out, const BlockOutput &zlib, uint32_t adler);
// IDAT with the `total` bytes `src` makes in stored blocks, for when
// compressing does not pay.
bool png_idat_stored(ChunkWriter &out, PieceSource &src, long long total);
bool png_end(ChunkWriter &out);  // IEND

// Reading: whether the CRC closing a chunk matches; `chunk` points at its
// length field and the whole chunk (12 + length bytes) is there.
bool png_chunk_crc_ok(const unsigned char *chunk, uint32_t length);

// Whether a chunk that decides the pixels (IHDR, PLTE, tRNS, IDAT, IEND)
// fails its CRC, walking from the signature as far as whole chunks go: the
// decoder checks none, and a damaged file would decode to garbage.
bool png_pixel_chunks_damaged(const unsigned char *bytes, size_t size);

// The same two read in pieces: the chunk at `at` (its length field; the
// whole chunk is in the source), and the walk over the whole source. A read
// that fails gives false; src.failed() tells it apart.
bool png_chunk_crc_ok(InputSource &src, uint64_t at, uint32_t length);
bool png_pixel_chunks_damaged(InputSource &src);

}  // namespace velmora

#endif
