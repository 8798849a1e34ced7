// The PNG writer. Every decision below is the reference writer's own, taken
// the same way for every input: each row's filter is the one with the least
// sum of |signed byte| (the lowest filter number on a tie), and the zlib
// stream is deflate_q8()'s, stored when compressing does not pay. What
// differs is how the same answers are reached: rows are filtered as the
// compressor needs them, into its sliding window, instead of filtering the
// whole image first, filter costs are summed with SIMD, and the compressed
// blocks are sent out as they stand.
#include "png_writer.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "checksums.h"
#include "cpu.h"
#include "deflate.h"
#include "png_filters.h"

namespace velmora {

// Beyond this the reference's int sizes overflow: (width * 4 + 1) * height,
// and the stored size it compares against, data + 2 + 5 bytes per 32767.
const long long kMaxPngStream = 0x7FF00000LL;

namespace {

// ---- the PNG file --------------------------------------------------------------

void put32(unsigned char *p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// Sends bytes to the sink, keeping the CRC of the current chunk.
class ChunkWriter {
public:
    ChunkWriter(WriteFn write, void *context) : write_(write), context_(context) {}
    bool raw(const unsigned char *p, size_t n) { return n == 0 || write_(context_, p, n); }
    // Length and type of a chunk; its CRC starts with the type.
    bool begin(uint32_t length, const char *type) {
        unsigned char h[8];
        put32(h, length);
        std::memcpy(h + 4, type, 4);
        crc_ = crc32_update(0xFFFFFFFFu, h + 4, 4);
        return raw(h, 8);
    }
    bool data(const unsigned char *p, size_t n) {
        crc_ = crc32_update(crc_, p, n);
        return raw(p, n);
    }
    bool end() {
        unsigned char c[4];
        put32(c, ~crc_);
        return raw(c, 4);
    }

private:
    WriteFn write_;
    void *context_;
    uint32_t crc_ = 0;
};

int write_png_checked(WriteFn write, void *context, int width, int height,
                      const unsigned char *rgba, Isa isa) {
    const long long total = (static_cast<long long>(width) * 4 + 1) * height;
    ChunkWriter out(write, context);

    unsigned char head[8 + 25];
    static const unsigned char signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    std::memcpy(head, signature, 8);
    put32(head + 8, 13);
    std::memcpy(head + 12, "IHDR", 4);
    put32(head + 16, uint32_t(width));
    put32(head + 20, uint32_t(height));
    head[24] = 8;  // bits per channel
    head[25] = 6;  // RGBA
    head[26] = head[27] = head[28] = 0;
    put32(head + 29, ~crc32_update(0xFFFFFFFFu, head + 12, 17));

    BlockOutput compressed;
    Adler32 adler;
    bool fits;
    {
        FilteredRows rows(rgba, width, isa);
        fits = deflate_q8(isa, rows, total, compressed, adler);
    }
    if (!out.raw(head, sizeof head)) return 0;
    if (fits) {
        const size_t zlen = compressed.size() + 4;
        if (!out.begin(uint32_t(zlen), "IDAT")) return 0;
        for (const auto &b : compressed.blocks())
            if (!out.data(b.bytes.get(), b.used)) return 0;
        unsigned char sum[4];
        put32(sum, adler.value());
        if (!out.data(sum, 4) || !out.end()) return 0;
    } else {
        // Compressing does not pay: the rows are filtered again, stored.
        compressed = BlockOutput();
        const long long zlen = stored_limit(total) + 4;
        if (!out.begin(uint32_t(zlen), "IDAT")) return 0;
        FilteredRows rows(rgba, width, isa);
        const auto to_idat = [](void *chunk, const unsigned char *p, size_t n) {
            return static_cast<ChunkWriter *>(chunk)->data(p, n);
        };
        if (!emit_stored(rows, total, to_idat, &out)) return 0;
        if (!out.end()) return 0;
    }
    if (!out.begin(0, "IEND") || !out.end()) return 0;
    return 1;
}

}  // namespace

int write_png_rgba(WriteFn write, void *context, int width, int height,
                   const unsigned char *rgba, Isa isa) {
    if (width <= 0 || height <= 0 || !rgba || !write) return 0;
    if ((static_cast<long long>(width) * 4 + 1) * height > kMaxPngStream) return 0;
    if (!isa_available(isa)) return 0;
    try {
        return write_png_checked(write, context, width, height, rgba, isa);
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

bool zlib_compress_q8(const unsigned char *data, size_t size, std::vector<unsigned char> &out) {
    if (static_cast<unsigned long long>(size) > static_cast<unsigned long long>(kMaxPngStream))
        return false;
    try {
        out.clear();
        const long long total = static_cast<long long>(size);
        BlockOutput compressed;
        Adler32 adler;
        ArraySource src(data, size);
        if (deflate_q8(Isa::best, src, total, compressed, adler)) {
            out.reserve(compressed.size() + 4);
            for (const auto &b : compressed.blocks())
                out.insert(out.end(), b.bytes.get(), b.bytes.get() + b.used);
            const uint32_t a = adler.value();
            out.insert(out.end(), {uint8_t(a >> 24), uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a)});
        } else {
            compressed = BlockOutput();
            out.reserve(size_t(stored_limit(total)) + 4);
            ArraySource again(data, size);
            emit_stored(again, total, append_to_vector, &out);
        }
        return true;
    } catch (const std::bad_alloc &) {
        out.clear();
        return false;
    }
}

}  // namespace velmora
