#include "png_unfilter.h"

#include <cstdlib>
#include <cstring>

#if defined(VELMORA_HAVE_SSE2)
#include <emmintrin.h>
#endif

namespace velmora {

namespace {

inline int paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    if (pb <= pc) return b;
    return c;
}

}  // namespace

void unfilter_row_scalar(int filter, uint8_t *row, const uint8_t *prior, size_t n, int bpp) {
    const size_t step = size_t(bpp);
    switch (filter) {
    case 1:
        for (size_t k = step; k < n; ++k) row[k] = uint8_t(row[k] + row[k - step]);
        break;
    case 2:
        for (size_t k = 0; k < n; ++k) row[k] = uint8_t(row[k] + prior[k]);
        break;
    case 3:
        for (size_t k = 0; k < n && k < step; ++k) row[k] = uint8_t(row[k] + (prior[k] >> 1));
        for (size_t k = step; k < n; ++k)
            row[k] = uint8_t(row[k] + ((prior[k] + row[k - step]) >> 1));
        break;
    case 4:
        for (size_t k = 0; k < n && k < step; ++k) row[k] = uint8_t(row[k] + prior[k]);
        for (size_t k = step; k < n; ++k)
            row[k] = uint8_t(row[k] + paeth(row[k - step], prior[k], prior[k - step]));
        break;
    default: break;
    }
}

#if defined(VELMORA_HAVE_SSE2)
namespace {

// One pixel of `bpp` bytes as 16-bit lanes; the load may read past the
// pixel (the rows have room), the store writes only the pixel.
template <int bpp>
inline __m128i load_px(const uint8_t *p) {
    const __m128i zero = _mm_setzero_si128();
    if (bpp <= 4) {
        int32_t v;
        std::memcpy(&v, p, 4);
        return _mm_unpacklo_epi8(_mm_cvtsi32_si128(v), zero);
    }
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)), zero);
}

template <int bpp>
inline void store_px(uint8_t *p, __m128i v) {
    const __m128i packed = _mm_packus_epi16(v, v);
    uint8_t tmp[16];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(tmp), packed);
    std::memcpy(p, tmp, bpp);
}

inline __m128i abs16(__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }

template <int bpp>
void unfilter_pixels(int filter, uint8_t *row, const uint8_t *prior, size_t n) {
    const __m128i mask = _mm_set1_epi16(0xff);
    __m128i a = _mm_setzero_si128(), c = _mm_setzero_si128();
    for (size_t i = 0; i + bpp <= n; i += bpp) {
        const __m128i x = load_px<bpp>(row + i);
        __m128i pred;
        if (filter == 1) {
            pred = a;
        } else if (filter == 3) {
            pred = _mm_srli_epi16(_mm_add_epi16(a, load_px<bpp>(prior + i)), 1);
        } else {
            const __m128i b = load_px<bpp>(prior + i);
            const __m128i pa = abs16(_mm_sub_epi16(b, c));
            const __m128i pb = abs16(_mm_sub_epi16(a, c));
            const __m128i pc = abs16(_mm_sub_epi16(_mm_add_epi16(a, b), _mm_add_epi16(c, c)));
            const __m128i not_a = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
            const __m128i take_c = _mm_cmpgt_epi16(pb, pc);
            const __m128i bc = _mm_or_si128(_mm_and_si128(take_c, c), _mm_andnot_si128(take_c, b));
            pred = _mm_or_si128(_mm_and_si128(not_a, bc), _mm_andnot_si128(not_a, a));
            c = b;
        }
        a = _mm_and_si128(_mm_add_epi16(x, pred), mask);
        store_px<bpp>(row + i, a);
    }
}

void unfilter_row_sse2(int filter, uint8_t *row, const uint8_t *prior, size_t n, int bpp) {
    if (filter == 1 || filter == 3 || filter == 4) {
        // Whole pixels only: a row of whole pixels is every row with 3 or
        // more bytes per pixel.
        switch (bpp) {
        case 3: return unfilter_pixels<3>(filter, row, prior, n);
        case 4: return unfilter_pixels<4>(filter, row, prior, n);
        case 6: return unfilter_pixels<6>(filter, row, prior, n);
        case 8: return unfilter_pixels<8>(filter, row, prior, n);
        default: break;
        }
    }
    unfilter_row_scalar(filter, row, prior, n, bpp);
}

}  // namespace
#endif

Unfilter unfilter_for(Isa isa) {
#if defined(VELMORA_HAVE_SSE2)
    if (resolve(isa) != Isa::scalar) return unfilter_row_sse2;
#else
    (void)isa;
#endif
    return unfilter_row_scalar;
}

}  // namespace velmora
