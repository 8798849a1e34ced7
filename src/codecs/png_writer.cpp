// The PNG writer: the filtered rows (png_filters) through the compressor
// (deflate) into the file (png_container). Every decision is the reference
// writer's own, taken the same way for every input; what differs is how the
// same answers are reached. Rows are filtered as the compressor needs them,
// into its sliding window, instead of filtering the whole image first, and
// the compressed blocks are sent out as they stand: neither the filtered
// image nor a copy of the file is ever held.
#include "png_writer.h"

#include <cstdint>
#include <new>

#include "checksums.h"
#include "cpu.h"
#include "deflate.h"
#include "png_container.h"
#include "png_filters.h"

namespace velmora {

// Beyond this the reference's int sizes overflow: (width * 4 + 1) * height,
// and the stored size it compares against, data + 2 + 5 bytes per 32767.
const long long kMaxPngStream = 0x7FF00000LL;

namespace {

int write_png_checked(WriteFn write, void *context, int width, int height,
                      const unsigned char *rgba, Isa isa) {
    const long long total = (static_cast<long long>(width) * 4 + 1) * height;
    BlockOutput compressed;
    Adler32 adler;
    bool fits;
    {
        FilteredRows rows(rgba, width, isa);
        fits = deflate_q8(isa, rows, total, compressed, adler);
    }
    ChunkWriter out(write, context);
    if (!png_head(out, width, height)) return 0;
    if (fits) {
        if (!png_idat(out, compressed, adler.value())) return 0;
    } else {
        // Compressing does not pay: the rows are filtered again, stored.
        compressed = BlockOutput();
        FilteredRows rows(rgba, width, isa);
        if (!png_idat_stored(out, rows, total)) return 0;
    }
    return png_end(out) ? 1 : 0;
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
