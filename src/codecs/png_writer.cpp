// The PNG writer: the filtered rows (png_filters) through the compressor
// (deflate) into the file (png_container). Every decision is the reference
// writer's own, taken the same way for every input; what differs is how the
// same answers are reached. Rows are asked for and filtered as the
// compressor needs them, into its sliding window, instead of filtering the
// whole image first; the compressed blocks go out as they stand, straight to
// an output that can patch the IDAT's length in afterwards: neither the
// picture, the filtered image nor a copy of the file need ever be held.
#include "png_writer.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "checksums.h"
#include "cpu.h"
#include "deflate.h"
#include "memory.h"
#include "png_container.h"
#include "png_filters.h"

namespace velmora {

// Beyond this the reference's int sizes overflow: (width * 4 + 1) * height,
// and the stored size it compares against, data + 2 + 5 bytes per 32767.
const long long kMaxPngStream = 0x7FF00000LL;

namespace {

void put32(unsigned char *p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// A source that cannot go back made one that can: every row handed out is
// kept, and after rewind() the kept rows are handed out again.
class KeptRows final : public RowSource {
public:
    KeptRows(RowSource &source, int width, int height)
        : source_(source), stride_(size_t(width) * 4), height_(height),
          rows_(new unsigned char[stride_ * size_t(height)]) {
        advise_huge_pages(rows_.get(), stride_ * size_t(height));
    }
    const unsigned char *next_rows(int count) override {
        if (count <= 0 || count > height_ - row_) return nullptr;
        if (row_ + count > kept_) {
            // Rows not seen yet (row_ never passes kept_): from the source.
            const int fresh = row_ + count - kept_;
            const unsigned char *p = source_.next_rows(fresh);
            if (p == nullptr) return nullptr;
            for (int r = 0; r < fresh; ++r)
                std::memcpy(rows_.get() + size_t(kept_ + r) * stride_, p + size_t(r) * source_.stride(),
                            stride_);
            kept_ += fresh;
        }
        const unsigned char *rows = rows_.get() + size_t(row_) * stride_;
        row_ += count;
        return rows;
    }
    size_t stride() const override { return stride_; }
    bool rewind() override {
        row_ = 0;
        return true;
    }

private:
    RowSource &source_;
    size_t stride_;
    int height_;
    std::unique_ptr<unsigned char[]> rows_;
    int row_ = 0, kept_ = 0;
};

bool to_chunk(void *chunk, const unsigned char *p, size_t n) {
    return static_cast<ChunkWriter *>(chunk)->data(p, n);
}

// The compressed stream held until its length is known, then written.
int write_held(ChunkWriter &out, int width, int height, RowSource &rows, Isa isa) {
    const long long total = (static_cast<long long>(width) * 4 + 1) * height;
    BlockOutput compressed;
    Adler32 adler;
    bool fits;
    {
        FilteredRows filtered(rows, width, isa);
        fits = deflate_q8(isa, filtered, total, compressed, adler);
        if (filtered.failed()) return 0;
    }
    if (!png_head(out, width, height)) return 0;
    if (fits) {
        if (!png_idat(out, compressed, adler.value())) return 0;
    } else {
        // Compressing does not pay: the rows are filtered again, stored.
        compressed = BlockOutput();
        if (!rows.rewind()) return 0;
        FilteredRows filtered(rows, width, isa);
        if (!png_idat_stored(out, filtered, total)) return 0;
    }
    return png_end(out) ? 1 : 0;
}

// The compressed stream sent out as it is made, into an IDAT whose length is
// patched in once known.
int write_streamed(ChunkWriter &out, int width, int height, RowSource &rows, Isa isa,
                   PatchFn patch, TruncateFn truncate, void *context) {
    const long long total = (static_cast<long long>(width) * 4 + 1) * height;
    if (!png_head(out, width, height)) return 0;
    // The length is not part of the CRC: a placeholder until the end.
    if (!out.begin(0, "IDAT")) return 0;
    BlockOutput compressed(to_chunk, &out);
    Adler32 adler;
    bool fits;
    {
        FilteredRows filtered(rows, width, isa);
        fits = deflate_q8(isa, filtered, total, compressed, adler);
        if (filtered.failed() || compressed.failed()) return 0;
    }
    if (fits) {
        unsigned char bytes[4];
        put32(bytes, adler.value());
        if (!out.data(bytes, 4) || !out.end()) return 0;
        put32(bytes, uint32_t(compressed.size() + 4));
        if (!patch(context, kPngHeadSize, bytes, 4)) return 0;
    } else {
        // Compressing does not pay: back to where the IDAT began, and the
        // rows filtered again, stored.
        if (!rows.rewind() || !truncate(context, kPngHeadSize)) return 0;
        FilteredRows filtered(rows, width, isa);
        if (!png_idat_stored(out, filtered, total)) return 0;
    }
    return png_end(out) ? 1 : 0;
}

}  // namespace

int write_png_rows(WriteFn write, void *context, int width, int height, RowSource &rows, Isa isa,
                   PatchFn patch, TruncateFn truncate) {
    if (width <= 0 || height <= 0 || !write) return 0;
    if ((static_cast<long long>(width) * 4 + 1) * height > kMaxPngStream) return 0;
    if (!isa_available(isa)) return 0;
    try {
        // Asked before the first row: whether the rows can be had again.
        std::unique_ptr<KeptRows> kept;
        RowSource *source = &rows;
        if (!rows.rewind()) {
            kept.reset(new KeptRows(rows, width, height));
            source = kept.get();
        }
        ChunkWriter out(write, context);
        if (patch && truncate)
            return write_streamed(out, width, height, *source, isa, patch, truncate, context);
        return write_held(out, width, height, *source, isa);
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

int write_png_rgba(WriteFn write, void *context, int width, int height,
                   const unsigned char *rgba, Isa isa) {
    if (!rgba) return 0;
    WholeImageRows rows(rgba, width > 0 ? width : 0, height);
    return write_png_rows(write, context, width, height, rows, isa);
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
