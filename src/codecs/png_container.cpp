// Chunks are sent as they are framed, the compressed stream block by block
// as deflate_q8() left it: the file is never assembled in memory.
#include "png_container.h"

#include <algorithm>
#include <cstring>

#include "checksums.h"

namespace velmora {

namespace {

void put32(unsigned char *p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

}  // namespace

// The CRC starts with the type.
bool ChunkWriter::begin(uint32_t length, const char *type) {
    unsigned char h[8];
    put32(h, length);
    std::memcpy(h + 4, type, 4);
    crc_ = crc32_update(0xFFFFFFFFu, h + 4, 4);
    return raw(h, 8);
}

bool ChunkWriter::data(const unsigned char *p, size_t n) {
    crc_ = crc32_update(crc_, p, n);
    return raw(p, n);
}

bool ChunkWriter::end() {
    unsigned char c[4];
    put32(c, ~crc_);
    return raw(c, 4);
}

void png_chunk(std::vector<unsigned char> &out, const char *type, const unsigned char *data,
               size_t n) {
    ChunkWriter(append_to_vector, &out).chunk(type, data, n);
}

bool png_head(ChunkWriter &out, int width, int height) {
    static const unsigned char signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    unsigned char ihdr[13];
    put32(ihdr, uint32_t(width));
    put32(ihdr + 4, uint32_t(height));
    ihdr[8] = 8;  // bits per channel
    ihdr[9] = 6;  // RGBA
    ihdr[10] = ihdr[11] = ihdr[12] = 0;
    // The signature and IHDR reach the sink as one piece.
    std::vector<unsigned char> head(signature, signature + 8);
    png_chunk(head, "IHDR", ihdr, sizeof ihdr);
    return out.raw(head.data(), head.size());
}

bool png_idat(ChunkWriter &out, const BlockOutput &zlib, uint32_t adler) {
    if (!out.begin(uint32_t(zlib.size() + 4), "IDAT")) return false;
    for (const auto &b : zlib.blocks())
        if (!out.data(b.bytes.get(), b.used)) return false;
    unsigned char sum[4];
    put32(sum, adler);
    return out.data(sum, 4) && out.end();
}

bool png_idat_stored(ChunkWriter &out, PieceSource &src, long long total) {
    if (!out.begin(uint32_t(stored_limit(total) + 4), "IDAT")) return false;
    const auto to_idat = [](void *chunk, const unsigned char *p, size_t n) {
        return static_cast<ChunkWriter *>(chunk)->data(p, n);
    };
    return emit_stored(src, total, to_idat, &out) && out.end();
}

bool png_end(ChunkWriter &out) { return out.chunk("IEND", nullptr, 0); }

// ---- reading ------------------------------------------------------------------

namespace {
uint32_t be32(const unsigned char *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
}  // namespace

bool png_chunk_crc_ok(const unsigned char *chunk, uint32_t length) {
    const uint32_t crc = ~crc32_update(0xFFFFFFFFu, chunk + 4, size_t(length) + 4);
    return crc == be32(chunk + 8 + length);
}

bool png_pixel_chunks_damaged(const unsigned char *bytes, size_t size) {
    return png_pixel_chunks_damaged(*InputSource::of_memory(bytes, size));
}

bool png_chunk_crc_ok(InputSource &src, uint64_t at, uint32_t length) {
    if (const unsigned char *whole = src.memory()) return png_chunk_crc_ok(whole + at, length);
    // The type and data a piece at a time, then the stored CRC.
    std::vector<unsigned char> piece(size_t(std::min<uint64_t>(uint64_t(length) + 4, 65536)));
    uint32_t crc = 0xFFFFFFFFu;
    uint64_t pos = at + 4;
    for (uint64_t left = uint64_t(length) + 4; left;) {
        const size_t n = size_t(std::min<uint64_t>(left, piece.size()));
        if (!src.read_at(pos, piece.data(), n)) return false;
        crc = crc32_update(crc, piece.data(), n);
        pos += n;
        left -= n;
    }
    unsigned char stored[4];
    return src.read_at(pos, stored, 4) && ~crc == be32(stored);
}

bool png_pixel_chunks_damaged(InputSource &src) {
    static const unsigned char signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    const uint64_t size = src.size();
    unsigned char head[8];
    if (size < 8 || !src.read_at(0, head, 8) || std::memcmp(head, signature, 8) != 0) return false;
    for (uint64_t at = 8; size - at >= 12;) {
        if (!src.read_at(at, head, 8)) return false;
        const uint32_t length = be32(head);
        if (length > size - at - 12) break;  // a cut chunk: the decoder says what it makes of it
        const unsigned char *type = head + 4;
        const bool decides_pixels = std::memcmp(type, "IHDR", 4) == 0 ||
                                    std::memcmp(type, "PLTE", 4) == 0 ||
                                    std::memcmp(type, "tRNS", 4) == 0 ||
                                    std::memcmp(type, "IDAT", 4) == 0 ||
                                    std::memcmp(type, "IEND", 4) == 0;
        if (decides_pixels && !png_chunk_crc_ok(src, at, length)) return !src.failed();
        if (std::memcmp(type, "IEND", 4) == 0) break;
        at += 12 + uint64_t(length);
    }
    return false;
}

}  // namespace velmora
