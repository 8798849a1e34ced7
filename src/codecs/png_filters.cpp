// The five filters' costs and the chosen filter's bytes, 16 bytes at a time
// with SSE2 and the rest by the scalar code, which states the arithmetic.
#include "png_filters.h"

#include <cstdlib>
#include <cstring>

#if defined(VELMORA_HAVE_SSE2)
#include <emmintrin.h>
#endif

namespace velmora {

namespace {

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

// No vector code: the scalar code does the whole row.
struct NoSimd {
    static size_t costs(const uint8_t *, const uint8_t *, size_t, uint64_t *) { return 0; }
    static size_t apply(int, const uint8_t *, const uint8_t *, size_t, uint8_t *) { return 0; }
};

// Each filter's cost over the row, the cheapest filter's bytes: Simd does
// what it can from the start of the row, the scalar code the rest.
template <class Simd>
void filter_row(const uint8_t *z, const uint8_t *up, size_t len, uint8_t *dst) {
    uint64_t est[5] = {0, 0, 0, 0, 0};
    costs_scalar(z, up, Simd::costs(z, up, len, est), len, est);
    int best = 0;
    for (int f = 1; f < 5; ++f)
        if (est[f] < est[best]) best = f;
    dst[0] = uint8_t(best);
    apply_scalar(best, z, up, Simd::apply(best, z, up, len, dst + 1), len, dst + 1);
}

#if defined(VELMORA_HAVE_AVX2)
// The SSE2 filters compiled for AVX2 as a whole, for the AVX2 writer: the
// same operations in the shorter VEX forms.
VELMORA_AVX2 __attribute__((flatten)) void filter_row_avx2(const uint8_t *z, const uint8_t *up,
                                                          size_t len, uint8_t *dst) {
    filter_row<Sse2Filters>(z, up, len, dst);
}
#endif

FilteredRows::RowFilter row_filter(Isa isa) {
    isa = resolve(isa);
#if defined(VELMORA_HAVE_AVX2)
    if (isa == Isa::avx2) return filter_row_avx2;
#endif
#if defined(VELMORA_HAVE_SSE2)
    if (isa != Isa::scalar) return filter_row<Sse2Filters>;
#endif
    return filter_row<NoSimd>;
}

}  // namespace

FilteredRows::FilteredRows(RowSource &rows, int width, Isa isa)
    : rows_(rows), len_(size_t(width) * 4), filter_(row_filter(isa)),
      up_(new unsigned char[len_ + 16]()) {}

void FilteredRows::produce(unsigned char *dst) {
    const unsigned char *z = failed_ ? nullptr : rows_.next_rows(1);
    if (z == nullptr) {
        failed_ = true;
        std::memset(dst, 0, len_ + 1);
        return;
    }
    filter_(z, up_.get(), len_, dst);
    std::memcpy(up_.get(), z, len_);
}

}  // namespace velmora
