// Four 32-bit lanes with SSE2, the x86-64 baseline: the lane operations that
// the colour model and the vector passes are written over (lanes_avx2.h has
// the same operations eight lanes wide). Each is one IEEE single-precision or
// integer operation, so a template over the lane type runs exactly the same
// arithmetic at either width. Internal.
#ifndef VELMORA_LANES_H
#define VELMORA_LANES_H

#include "cpu.h"

#if defined(VELMORA_HAVE_SSE2)
#include <emmintrin.h>

namespace velmora {

struct Sse2Lanes {
    static constexpr int L = 4;
    using F = __m128;
    using I = __m128i;

    static F set(float v) { return _mm_set1_ps(v); }
    static I set(int v) { return _mm_set1_epi32(v); }
    static F zero() { return _mm_setzero_ps(); }
    // x, x + 1, ..., x + L - 1.
    static I iota(int x) { return _mm_add_epi32(_mm_set1_epi32(x), _mm_setr_epi32(0, 1, 2, 3)); }

    static F add(F a, F b) { return _mm_add_ps(a, b); }
    static F sub(F a, F b) { return _mm_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm_mul_ps(a, b); }
    static F div(F a, F b) { return _mm_div_ps(a, b); }
    static F sqrt(F a) { return _mm_sqrt_ps(a); }
    static F max(F a, F b) { return _mm_max_ps(a, b); }
    static F min(F a, F b) { return _mm_min_ps(a, b); }
    static I add(I a, I b) { return _mm_add_epi32(a, b); }
    static I sub(I a, I b) { return _mm_sub_epi32(a, b); }
    static I abs(I a) {
        const I sign = _mm_srai_epi32(a, 31);
        return _mm_sub_epi32(_mm_xor_si128(a, sign), sign);
    }

    // Comparisons give all-ones lanes where true. lt/le/gt/ge signal on NaN,
    // eq is quiet, as the scalar comparisons are.
    static F eq(F a, F b) { return _mm_cmpeq_ps(a, b); }
    static F gt(F a, F b) { return _mm_cmpgt_ps(a, b); }
    static F ge(F a, F b) { return _mm_cmpge_ps(a, b); }
    static F lt(F a, F b) { return _mm_cmplt_ps(a, b); }
    static I eq(I a, I b) { return _mm_cmpeq_epi32(a, b); }
    static I gt(I a, I b) { return _mm_cmpgt_epi32(a, b); }

    static F bit_and(F a, F b) { return _mm_and_ps(a, b); }
    static F and_not(F mask, F a) { return _mm_andnot_ps(mask, a); }  // ~mask & a
    static F bit_xor(F a, F b) { return _mm_xor_ps(a, b); }
    static I bit_and(I a, I b) { return _mm_and_si128(a, b); }
    static I bit_or(I a, I b) { return _mm_or_si128(a, b); }
    static I shift_left(I a, int n) { return _mm_slli_epi32(a, n); }
    static I shift_right(I a, int n) { return _mm_srli_epi32(a, n); }
    static F as_float(I a) { return _mm_castsi128_ps(a); }

    // mask ? a : b, lane by lane (mask lanes all ones or all zeros).
    static F select(F mask, F a, F b) {
        return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
    }
    static I select(I mask, I a, I b) {
        return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
    }
    // Whether every lane of the mask is set.
    static bool all(I mask) { return _mm_movemask_epi8(mask) == 0xFFFF; }

    static F to_float(I a) { return _mm_cvtepi32_ps(a); }
    static I truncate(F a) { return _mm_cvttps_epi32(a); }

    // L RGBA pixels, one 32-bit lane each.
    static I load(const unsigned char *p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    }
    static void store(unsigned char *p, I px) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p), px);
    }

    // The lanes' R, G, B and A as bytes of L pixels, each level clamped to
    // 0..255 by the saturating packs (every int to 0..255).
    static I pack(I red, I green, I blue, I alpha) {
        // R0..R3 G0..G3 B0..B3 A0..A3 as bytes.
        const I planes =
            _mm_packus_epi16(_mm_packs_epi32(red, green), _mm_packs_epi32(blue, alpha));
        const I rg = _mm_unpacklo_epi8(planes, _mm_srli_si128(planes, 4));
        const I ba = _mm_unpacklo_epi8(_mm_srli_si128(planes, 8), _mm_srli_si128(planes, 12));
        return _mm_unpacklo_epi16(rg, ba);
    }
};

}  // namespace velmora

#endif
#endif
