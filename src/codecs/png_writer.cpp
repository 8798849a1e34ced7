// The PNG writer. Every decision below is the reference writer's own, taken
// the same way for every input: each row's filter is the one with the least
// sum of |signed byte| (the lowest filter number on a tie), and the zlib
// stream is deflate_q8()'s, stored when compressing does not pay. What
// differs is how the same answers are reached: rows are filtered as the
// compressor needs them, into its sliding window, instead of filtering the
// whole image first, filter costs are summed with SIMD, and the compressed
// blocks are sent out as they stand.
#include "png_writer.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "checksums.h"
#include "cpu.h"
#include "deflate.h"

#if defined(VELMORA_HAVE_SSE2)
#include <emmintrin.h>
#endif
#if defined(VELMORA_HAVE_AVX2)
#include <immintrin.h>
#endif

namespace velmora {

// Beyond this the reference's int sizes overflow: (width * 4 + 1) * height,
// and the stored size it compares against, data + 2 + 5 bytes per 32767.
const long long kMaxPngStream = 0x7FF00000LL;

namespace {

// ---- row filters -------------------------------------------------------------

inline int paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    if (pb <= pc) return b;
    return c;
}

// Filtered byte of filter f at one position: z the byte, a the one 4 bytes
// to its left, b the one above, c above-left (0 where there is none; the
// reference's first-row mapping amounts to a row of zeros above).
inline uint8_t filter_byte(int f, int z, int a, int b, int c) {
    switch (f) {
    case 0: return uint8_t(z);
    case 1: return uint8_t(z - a);
    case 2: return uint8_t(z - b);
    case 3: return uint8_t(z - ((a + b) >> 1));
    default: return uint8_t(z - paeth(a, b, c));
    }
}

inline int cost_of(uint8_t v) {
    const int s = static_cast<signed char>(v);
    return s < 0 ? -s : s;
}

// Adds the costs of bytes [from, len) of a row for all five filters.
void costs_scalar(const uint8_t *z, const uint8_t *up, size_t from, size_t len, uint64_t est[5]) {
    for (size_t i = from; i < len; ++i) {
        const int a = i >= 4 ? z[i - 4] : 0, c = i >= 4 ? up[i - 4] : 0;
        for (int f = 0; f < 5; ++f) est[f] += cost_of(filter_byte(f, z[i], a, up[i], c));
    }
}

void apply_scalar(int f, const uint8_t *z, const uint8_t *up, size_t from, size_t len,
                  uint8_t *out) {
    for (size_t i = from; i < len; ++i) {
        const int a = i >= 4 ? z[i - 4] : 0, c = i >= 4 ? up[i - 4] : 0;
        out[i] = filter_byte(f, z[i], a, up[i], c);
    }
}

#if defined(VELMORA_HAVE_SSE2)
// Sixteen bytes of each filter at once. Paeth's choice is made on 16-bit
// differences: |p - a| = |b - c|, |p - b| = |a - c|, |p - c| = |a + b - 2c|.
struct Sse2Filters {
    // mask ? a : b, byte by byte (mask bytes all ones or all zeros).
    static __m128i select(__m128i mask, __m128i a, __m128i b) {
        return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
    }
    static __m128i abs16(__m128i x) { return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x)); }
    static __m128i paeth_mask_half(__m128i a, __m128i b, __m128i c, __m128i *use_b) {
        const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
        const __m128i pa = abs16(bc), pb = abs16(ac), pc = abs16(_mm_add_epi16(bc, ac));
        // a when pa <= pb and pa <= pc; else b when pb <= pc; else c.
        const __m128i not_a = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
        *use_b = _mm_cmpgt_epi16(pb, pc);  // set: not b
        return not_a;
    }
    static __m128i paeth(__m128i a, __m128i b, __m128i c) {
        const __m128i zero = _mm_setzero_si128();
        __m128i nb_lo, nb_hi;
        const __m128i na_lo = paeth_mask_half(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero),
                                              _mm_unpacklo_epi8(c, zero), &nb_lo);
        const __m128i na_hi = paeth_mask_half(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero),
                                              _mm_unpackhi_epi8(c, zero), &nb_hi);
        const __m128i not_a = _mm_packs_epi16(na_lo, na_hi);
        const __m128i not_b = _mm_packs_epi16(nb_lo, nb_hi);
        const __m128i bc = select(not_b, c, b);
        return select(not_a, bc, a);
    }
    static __m128i avg_floor(__m128i a, __m128i b) {
        return _mm_sub_epi8(_mm_avg_epu8(a, b),
                            _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
    }
    static __m128i cost(__m128i v) {
        const __m128i m = _mm_min_epu8(v, _mm_sub_epi8(_mm_setzero_si128(), v));
        return _mm_sad_epu8(m, _mm_setzero_si128());
    }
    static __m128i load(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
    // The four inputs of the 16 bytes at i (i a multiple of 16).
    static void inputs(const uint8_t *z, const uint8_t *up, size_t i, __m128i &vz, __m128i &va,
                       __m128i &vb, __m128i &vc) {
        vz = load(z + i);
        vb = load(up + i);
        if (i == 0) {
            va = _mm_slli_si128(vz, 4);
            vc = _mm_slli_si128(vb, 4);
        } else {
            va = load(z + i - 4);
            vc = load(up + i - 4);
        }
    }
    static size_t costs(const uint8_t *z, const uint8_t *up, size_t len, uint64_t est[5]) {
        __m128i acc[5];
        for (auto &x : acc) x = _mm_setzero_si128();
        size_t i = 0;
        for (; i + 16 <= len; i += 16) {
            __m128i vz, va, vb, vc;
            inputs(z, up, i, vz, va, vb, vc);
            acc[0] = _mm_add_epi64(acc[0], cost(vz));
            acc[1] = _mm_add_epi64(acc[1], cost(_mm_sub_epi8(vz, va)));
            acc[2] = _mm_add_epi64(acc[2], cost(_mm_sub_epi8(vz, vb)));
            acc[3] = _mm_add_epi64(acc[3], cost(_mm_sub_epi8(vz, avg_floor(va, vb))));
            acc[4] = _mm_add_epi64(acc[4], cost(_mm_sub_epi8(vz, paeth(va, vb, vc))));
        }
        for (int f = 0; f < 5; ++f) {
            alignas(16) uint64_t l[2];
            _mm_store_si128(reinterpret_cast<__m128i *>(l), acc[f]);
            est[f] += l[0] + l[1];
        }
        return i;
    }
    static size_t apply(int f, const uint8_t *z, const uint8_t *up, size_t len, uint8_t *out) {
        size_t i = 0;
        for (; i + 16 <= len; i += 16) {
            __m128i vz, va, vb, vc, r;
            inputs(z, up, i, vz, va, vb, vc);
            switch (f) {
            case 0: r = vz; break;
            case 1: r = _mm_sub_epi8(vz, va); break;
            case 2: r = _mm_sub_epi8(vz, vb); break;
            case 3: r = _mm_sub_epi8(vz, avg_floor(va, vb)); break;
            default: r = _mm_sub_epi8(vz, paeth(va, vb, vc)); break;
            }
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), r);
        }
        return i;
    }
};
#endif

// Rows of the image, each filtered as the reference filters it, one piece
// per row: the filter number, then the filtered bytes.
class FilteredRows final : public PieceSource {
public:
    FilteredRows(const unsigned char *rgba, int width, Isa isa)
        : px_(rgba), stride_(size_t(width) * 4), isa_(resolve(isa)),
          zeros_(new unsigned char[stride_ + 16]()) {}
    size_t piece_max() const override { return stride_ + 1; }
    size_t next_size() const override { return stride_ + 1; }
    void produce(unsigned char *dst) override {
        const unsigned char *z = px_ + stride_ * size_t(row_);
        const unsigned char *up = row_ > 0 ? z - stride_ : zeros_.get();
        uint64_t est[5] = {0, 0, 0, 0, 0};
        size_t done = 0;
#if defined(VELMORA_HAVE_SSE2)
        if (isa_ != Isa::scalar) done = Sse2Filters::costs(z, up, stride_, est);
#endif
        costs_scalar(z, up, done, stride_, est);
        int best = 0;
        for (int f = 1; f < 5; ++f)
            if (est[f] < est[best]) best = f;
        dst[0] = uint8_t(best);
        done = 0;
#if defined(VELMORA_HAVE_SSE2)
        if (isa_ != Isa::scalar) done = Sse2Filters::apply(best, z, up, stride_, dst + 1);
#endif
        apply_scalar(best, z, up, done, stride_, dst + 1);
        ++row_;
    }

private:
    const unsigned char *px_;
    size_t stride_;
    int row_ = 0;
    Isa isa_;  // resolved
    std::unique_ptr<unsigned char[]> zeros_;
};

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
