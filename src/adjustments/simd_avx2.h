// The helpers of simd.h eight lanes wide, with AVX2: the same operations in
// the same order as the four-lane forms (see there for why each step gives
// the scalar code's result), on __m256 and __m256i. Every function is
// compiled for AVX2 on its own and is local to the file that includes this,
// so no baseline caller can ever be linked to an AVX2 copy; only code that
// has checked the processor (for_pixels_by_sixteen) may call them. Internal.
#ifndef VELMORA_SIMD_AVX2_H
#define VELMORA_SIMD_AVX2_H

#include "simd.h"

#if defined(VELMORA_HAVE_AVX2)
#include <immintrin.h>

namespace velmora {
namespace simd8 {
namespace {

// mask ? a : b, lane by lane (mask lanes all ones or all zeros, so the
// blend, which looks at the top bit of each byte, picks whole lanes).
VELMORA_AVX2 inline __m256 select(__m256 mask, __m256 a, __m256 b) {
    return _mm256_blendv_ps(b, a, mask);
}
VELMORA_AVX2 inline __m256i select(__m256i mask, __m256i a, __m256i b) {
    return _mm256_blendv_epi8(b, a, mask);
}

// The comparisons of the four-lane code, with the same predicates
// (cmplt/cmple/cmpgt/cmpge signal on NaN, cmpeq is quiet).
VELMORA_AVX2 inline __m256 cmpgt(__m256 a, __m256 b) { return _mm256_cmp_ps(a, b, _CMP_GT_OS); }
VELMORA_AVX2 inline __m256 cmpge(__m256 a, __m256 b) { return _mm256_cmp_ps(a, b, _CMP_GE_OS); }
VELMORA_AVX2 inline __m256 cmplt(__m256 a, __m256 b) { return _mm256_cmp_ps(a, b, _CMP_LT_OS); }
VELMORA_AVX2 inline __m256 cmpeq(__m256 a, __m256 b) { return _mm256_cmp_ps(a, b, _CMP_EQ_OQ); }

VELMORA_AVX2 inline __m256i load8(const unsigned char *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}
VELMORA_AVX2 inline void store8(unsigned char *p, __m256i px) {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), px);
}

// Eight RGBA pixels split into one 32-bit lane per pixel for each channel.
struct Channels {
    __m256i red, green, blue;
};
VELMORA_AVX2 inline Channels split(__m256i px) {
    const __m256i low = _mm256_set1_epi32(0xFF);
    return {_mm256_and_si256(px, low), _mm256_and_si256(_mm256_srli_epi32(px, 8), low),
            _mm256_and_si256(_mm256_srli_epi32(px, 16), low)};
}

// simd::join() for eight pixels. The packs and unpacks work within each
// 128-bit half, which holds four whole pixels, so each half is joined just
// as the four-lane code joins its pixels.
VELMORA_AVX2 inline __m256i join(__m256i red, __m256i green, __m256i blue, __m256i px) {
    const __m256i alpha = _mm256_srli_epi32(px, 24);
    const __m256i planes = _mm256_packus_epi16(_mm256_packs_epi32(red, green),
                                               _mm256_packs_epi32(blue, alpha));
    const __m256i rg = _mm256_unpacklo_epi8(planes, _mm256_srli_si256(planes, 4));
    const __m256i ba =
        _mm256_unpacklo_epi8(_mm256_srli_si256(planes, 8), _mm256_srli_si256(planes, 12));
    return _mm256_unpacklo_epi16(rg, ba);
}

// simd::join_levels() for eight pixels.
VELMORA_AVX2 inline __m256i join_levels(__m256i red, __m256i green, __m256i blue, __m256i px) {
    const __m256i alpha = _mm256_and_si256(px, _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
    return _mm256_or_si256(_mm256_or_si256(red, _mm256_slli_epi32(green, 8)),
                           _mm256_or_si256(_mm256_slli_epi32(blue, 16), alpha));
}

// simd::wrap_turn() for eight.
VELMORA_AVX2 inline __m256 wrap_turn(__m256 x) {
    const __m256 one = _mm256_set1_ps(1.0f);
    return select(cmpge(x, one), _mm256_sub_ps(x, one), x);
}

// simd::round_half_away4() for eight.
VELMORA_AVX2 inline __m256i round_half_away8(__m256 shift) {
    const __m256 up = _mm256_add_ps(shift, _mm256_set1_ps(0.5f));
    const __m256 down = _mm256_add_ps(shift, _mm256_set1_ps(-0.5f));
    return _mm256_cvttps_epi32(select(cmpge(shift, _mm256_setzero_ps()), up, down));
}

struct Hsv8 {
    __m256 h, s, v;
};

// simd::rgb_to_hsv4() for eight colours.
VELMORA_AVX2 inline Hsv8 rgb_to_hsv8(const Channels &c) {
    const __m256 k255 = _mm256_set1_ps(255.0f);
    const __m256 tiny = _mm256_set1_ps(1.17549435e-38f);
    const __m256 r = _mm256_div_ps(_mm256_cvtepi32_ps(c.red), k255);
    const __m256 g = _mm256_div_ps(_mm256_cvtepi32_ps(c.green), k255);
    const __m256 b = _mm256_div_ps(_mm256_cvtepi32_ps(c.blue), k255);

    const __m256 max = _mm256_max_ps(_mm256_max_ps(r, g), b);
    const __m256 min = _mm256_min_ps(_mm256_min_ps(r, g), b);
    const __m256 d = _mm256_sub_ps(max, min);

    Hsv8 out;
    out.v = max;
    out.s = _mm256_div_ps(d, _mm256_max_ps(max, tiny));

    const __m256 red_max = cmpeq(max, r);
    const __m256 green_max = _mm256_andnot_ps(red_max, cmpeq(max, g));
    const __m256 numerator = select(red_max, _mm256_sub_ps(g, b),
                                    select(green_max, _mm256_sub_ps(b, r), _mm256_sub_ps(r, g)));
    const __m256 q = _mm256_div_ps(numerator, _mm256_max_ps(d, tiny));
    const __m256 exponent_bit = _mm256_castsi256_ps(_mm256_set1_epi32(0x00800000));
    const __m256 two_or_four =
        _mm256_xor_ps(_mm256_set1_ps(4.0f), _mm256_and_ps(green_max, exponent_bit));
    const __m256 six_or_zero = _mm256_and_ps(cmpgt(b, g), _mm256_set1_ps(6.0f));
    const __m256 sector = _mm256_add_ps(q, select(red_max, six_or_zero, two_or_four));
    out.h = _mm256_div_ps(sector, _mm256_set1_ps(6.0f));
    return out;
}

// Lanes set in m or in n, as a float mask.
VELMORA_AVX2 inline __m256 either(__m256i m, __m256i n) {
    return _mm256_castsi256_ps(_mm256_or_si256(m, n));
}

// simd::hsv_to_rgb4() for eight colours whose h lies in [0, 1).
VELMORA_AVX2 inline Channels hsv_to_rgb8(__m256 h, __m256 s, __m256 v) {
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 sector = _mm256_mul_ps(h, _mm256_set1_ps(6.0f));
    const __m256i i = _mm256_cvttps_epi32(sector);
    const __m256 frac = _mm256_sub_ps(sector, _mm256_cvtepi32_ps(i));

    const __m256i e1 = _mm256_cmpeq_epi32(i, _mm256_set1_epi32(1));
    const __m256i e2 = _mm256_cmpeq_epi32(i, _mm256_set1_epi32(2));
    const __m256i e3 = _mm256_cmpeq_epi32(i, _mm256_set1_epi32(3));
    const __m256i e4 = _mm256_cmpeq_epi32(i, _mm256_set1_epi32(4));
    const __m256i e5 = _mm256_cmpeq_epi32(i, _mm256_set1_epi32(5));
    const __m256 odd = _mm256_castsi256_ps(_mm256_or_si256(_mm256_or_si256(e1, e3), e5));
    const __m256 a = select(odd, frac, _mm256_sub_ps(one, frac));
    const __m256 x = _mm256_mul_ps(_mm256_sub_ps(one, _mm256_mul_ps(s, a)), v);
    const __m256 p = _mm256_mul_ps(_mm256_sub_ps(one, s), v);
    const __m256 r = select(either(e2, e3), p, select(either(e1, e4), x, v));
    const __m256 g = select(either(e1, e2), v, select(either(e4, e5), p, x));
    const __m256 b = select(either(e3, e4), v, select(either(e2, e5), x, p));

    const __m256 k255 = _mm256_set1_ps(255.0f), half = _mm256_set1_ps(0.5f);
    return {_mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(r, k255), half)),
            _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(g, k255), half)),
            _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(b, k255), half))};
}

}  // namespace
}  // namespace simd8
}  // namespace velmora

#endif
#endif
