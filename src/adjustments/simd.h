// Four pixels at a time with SSE2, the x86-64 baseline. Every lane performs
// exactly the IEEE single-precision operations of the scalar code, in the same
// order (a division stays a division, a truncation a truncation), and every
// branch of the scalar code becomes a select that picks what the branch would
// have computed. Divisors of lanes that the scalar code would not divide are
// replaced by 1 first, so no lane raises a floating-point exception that the
// scalar code does not raise. Internal.
#ifndef VELMORA_SIMD_H
#define VELMORA_SIMD_H

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define VELMORA_HAVE_SSE2 1
#include <emmintrin.h>

#include <cstring>

// AVX2, chosen at run time where the processor has it: functions marked
// VELMORA_AVX2 are compiled for AVX2 one by one (never a whole file), so
// nothing shared with the baseline code is. No FMA: only "avx2" is enabled.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define VELMORA_HAVE_AVX2 1
#define VELMORA_AVX2 __attribute__((target("avx2")))
#endif

namespace velmora {
namespace simd {

// mask ? a : b, lane by lane (mask lanes all ones or all zeros).
inline __m128 select(__m128 mask, __m128 a, __m128 b) {
    return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}
inline __m128i select(__m128i mask, __m128i a, __m128i b) {
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

inline __m128i load4(const unsigned char *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}
inline void store4(unsigned char *p, __m128i px) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), px);
}

// Four RGBA pixels split into one 32-bit lane per pixel for each channel.
struct Channels {
    __m128i red, green, blue;
};
inline Channels split(__m128i px) {
    const __m128i low = _mm_set1_epi32(0xFF);
    return {_mm_and_si128(px, low), _mm_and_si128(_mm_srli_epi32(px, 8), low),
            _mm_and_si128(_mm_srli_epi32(px, 16), low)};
}

// Four pixels back from their channel values, each clamped to 0..255 as the
// scalar clamp does (the saturating packs clamp every int to 0..255), with
// the alpha bytes of `px`.
inline __m128i join(__m128i red, __m128i green, __m128i blue, __m128i px) {
    const __m128i alpha = _mm_srli_epi32(px, 24);
    // R0..R3 G0..G3 B0..B3 A0..A3 as bytes.
    const __m128i planes =
        _mm_packus_epi16(_mm_packs_epi32(red, green), _mm_packs_epi32(blue, alpha));
    const __m128i rg = _mm_unpacklo_epi8(planes, _mm_srli_si128(planes, 4));
    const __m128i ba = _mm_unpacklo_epi8(_mm_srli_si128(planes, 8), _mm_srli_si128(planes, 12));
    return _mm_unpacklo_epi16(rg, ba);
}

// fmodf(x, 1.0f) for x in [0, 2), the range of h + shift in the hue turn
// (h in [0, 1), shift = degrees / 360 in (0, 359/360]; the rounded sum stays
// far more than an ulp below 2). For 0 <= x < 1 fmodf returns x. For
// 1 <= x < 2 it returns x - 1, which is exactly representable (x and 1 lie
// within a factor of two of each other), so the float subtraction x - 1.0f
// gives it exactly. The result lies in [0, 1) and is never negative, so the
// scalar code's "+ 1 when negative" never applies either.
inline __m128 wrap_turn(__m128 x) {
    const __m128 one = _mm_set1_ps(1.0f);
    return select(_mm_cmpge_ps(x, one), _mm_sub_ps(x, one), x);
}

// join() for levels known to lie in 0..255 already, where the clamp would
// change nothing: each level shifted to its byte, alpha from `px`.
inline __m128i join_levels(__m128i red, __m128i green, __m128i blue, __m128i px) {
    const __m128i alpha = _mm_and_si128(px, _mm_set1_epi32(static_cast<int>(0xFF000000u)));
    return _mm_or_si128(_mm_or_si128(red, _mm_slli_epi32(green, 8)),
                        _mm_or_si128(_mm_slli_epi32(blue, 16), alpha));
}

// round_half_away() for four shifts.
inline __m128i round_half_away4(__m128 shift) {
    const __m128 up = _mm_add_ps(shift, _mm_set1_ps(0.5f));
    const __m128 down = _mm_add_ps(shift, _mm_set1_ps(-0.5f));
    return _mm_cvttps_epi32(select(_mm_cmpge_ps(shift, _mm_setzero_ps()), up, down));
}

struct Hsv4 {
    __m128 h, s, v;
};

// rgb_to_hsv for four colours (channel values 0..255 in 32-bit lanes).
inline Hsv4 rgb_to_hsv4(const Channels &c) {
    const __m128 k255 = _mm_set1_ps(255.0f);
    // The smallest normal float: below every non-zero max and d (at least
    // 1/255), so it stands in as the divisor exactly where the scalar code
    // does not divide; there the dividend is 0 and so is the quotient.
    const __m128 tiny = _mm_set1_ps(1.17549435e-38f);
    const __m128 r = _mm_div_ps(_mm_cvtepi32_ps(c.red), k255);
    const __m128 g = _mm_div_ps(_mm_cvtepi32_ps(c.green), k255);
    const __m128 b = _mm_div_ps(_mm_cvtepi32_ps(c.blue), k255);

    // The scalar code keeps the first of equal candidates; equal values are
    // equal bits here (none is -0 or NaN), so max and min give the same.
    const __m128 max = _mm_max_ps(_mm_max_ps(r, g), b);
    const __m128 min = _mm_min_ps(_mm_min_ps(r, g), b);
    const __m128 d = _mm_sub_ps(max, min);

    Hsv4 out;
    out.v = max;
    out.s = _mm_div_ps(d, _mm_max_ps(max, tiny));  // max > 0 ? d / max : 0

    // The formula of the largest channel, red winning every tie, then green;
    // one division by d serves all three. For a grey (d = 0) the red formula
    // applies with a numerator of 0, which gives the scalar h = 0.
    const __m128 red_max = _mm_cmpeq_ps(max, r);
    const __m128 green_max = _mm_andnot_ps(red_max, _mm_cmpeq_ps(max, g));
    const __m128 numerator =
        select(red_max, _mm_sub_ps(g, b), select(green_max, _mm_sub_ps(b, r), _mm_sub_ps(r, g)));
    const __m128 q = _mm_div_ps(numerator, _mm_max_ps(d, tiny));
    // Each formula adds a constant to q: red 6 when B > G (strictly) and
    // otherwise 0 (q + 0 is q, as q is never -0), green 2, blue 4. (An IEEE
    // sum does not depend on the order of its terms.) 2.0f is 4.0f with one
    // exponent bit cleared.
    const __m128 exponent_bit = _mm_castsi128_ps(_mm_set1_epi32(0x00800000));
    const __m128 two_or_four = _mm_xor_ps(_mm_set1_ps(4.0f), _mm_and_ps(green_max, exponent_bit));
    const __m128 six_or_zero = _mm_and_ps(_mm_cmpgt_ps(b, g), _mm_set1_ps(6.0f));
    const __m128 sector = _mm_add_ps(q, select(red_max, six_or_zero, two_or_four));
    out.h = _mm_div_ps(sector, _mm_set1_ps(6.0f));
    return out;
}

// hsv_to_rgb for four colours whose h lies in [0, 1). There the scalar wrap
// of h (fmodf(h, 1), plus 1 if negative) returns h itself: fmodf returns its
// first argument whenever that is smaller in magnitude than the second. With
// s and v in [0, 1], p, q, t and v lie in [0, 1] (frac lies in [0, 1)), so the
// levels lie in 0..255 and join_levels() can put them together.
inline Channels hsv_to_rgb4(__m128 h, __m128 s, __m128 v) {
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 sector = _mm_mul_ps(h, _mm_set1_ps(6.0f));
    const __m128i i = _mm_cvttps_epi32(sector);
    const __m128 frac = _mm_sub_ps(sector, _mm_cvtepi32_ps(i));

    // The scalar table, by sector:      0  1  2  3  4  5
    //                              red   v  q  p  p  t  v
    //                              green t  v  v  q  p  p
    //                              blue  p  p  t  v  v  q
    // Sector 6 (h * 6 rounded up to 6) is sector 0, and frac is 0 there.
    // Odd sectors use q = (1 - frac * s) * v, even ones t = (1 - s * (1 - frac)) * v:
    // both are x = (1 - s * a) * v (a product does not depend on the order of
    // its factors), so each channel picks one of v, p and x.
    const __m128i e1 = _mm_cmpeq_epi32(i, _mm_set1_epi32(1));
    const __m128i e2 = _mm_cmpeq_epi32(i, _mm_set1_epi32(2));
    const __m128i e3 = _mm_cmpeq_epi32(i, _mm_set1_epi32(3));
    const __m128i e4 = _mm_cmpeq_epi32(i, _mm_set1_epi32(4));
    const __m128i e5 = _mm_cmpeq_epi32(i, _mm_set1_epi32(5));
    const __m128 odd = _mm_castsi128_ps(_mm_or_si128(_mm_or_si128(e1, e3), e5));
    const __m128 a = select(odd, frac, _mm_sub_ps(one, frac));
    const __m128 x = _mm_mul_ps(_mm_sub_ps(one, _mm_mul_ps(s, a)), v);
    const __m128 p = _mm_mul_ps(_mm_sub_ps(one, s), v);
    const auto either = [](__m128i m, __m128i n) { return _mm_castsi128_ps(_mm_or_si128(m, n)); };
    const __m128 r = select(either(e2, e3), p, select(either(e1, e4), x, v));
    const __m128 g = select(either(e1, e2), v, select(either(e4, e5), p, x));
    const __m128 b = select(either(e3, e4), v, select(either(e2, e5), x, p));

    const __m128 k255 = _mm_set1_ps(255.0f), half = _mm_set1_ps(0.5f);
    return {_mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(r, k255), half)),
            _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(g, k255), half)),
            _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(b, k255), half))};
}

}  // namespace simd
}  // namespace velmora

#endif
#endif
