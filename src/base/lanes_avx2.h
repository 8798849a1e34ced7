// The lane operations of lanes.h eight lanes wide, with AVX2: the same
// operations with the same predicates on __m256 and __m256i. Only units
// compiled for AVX2 as a whole include this, and everything here is local to
// such a unit, so no baseline code can ever be linked to it; they run only
// where the processor has AVX2. Internal.
#ifndef VELMORA_LANES_AVX2_H
#define VELMORA_LANES_AVX2_H

#include <immintrin.h>

namespace velmora {
namespace {

struct Avx2Lanes {
    static constexpr int L = 8;
    using F = __m256;
    using I = __m256i;

    static F set(float v) { return _mm256_set1_ps(v); }
    static I set(int v) { return _mm256_set1_epi32(v); }
    static F zero() { return _mm256_setzero_ps(); }
    static I iota(int x) {
        return _mm256_add_epi32(_mm256_set1_epi32(x), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    }

    static F add(F a, F b) { return _mm256_add_ps(a, b); }
    static F sub(F a, F b) { return _mm256_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm256_mul_ps(a, b); }
    static F div(F a, F b) { return _mm256_div_ps(a, b); }
    static F sqrt(F a) { return _mm256_sqrt_ps(a); }
    static F max(F a, F b) { return _mm256_max_ps(a, b); }
    static F min(F a, F b) { return _mm256_min_ps(a, b); }
    static I add(I a, I b) { return _mm256_add_epi32(a, b); }
    static I sub(I a, I b) { return _mm256_sub_epi32(a, b); }
    static I abs(I a) { return _mm256_abs_epi32(a); }

    static F eq(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_EQ_OQ); }
    static F gt(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GT_OS); }
    static F ge(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GE_OS); }
    static F lt(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_LT_OS); }
    static I eq(I a, I b) { return _mm256_cmpeq_epi32(a, b); }
    static I gt(I a, I b) { return _mm256_cmpgt_epi32(a, b); }

    static F bit_and(F a, F b) { return _mm256_and_ps(a, b); }
    static F and_not(F mask, F a) { return _mm256_andnot_ps(mask, a); }
    static F bit_xor(F a, F b) { return _mm256_xor_ps(a, b); }
    static I bit_and(I a, I b) { return _mm256_and_si256(a, b); }
    static I bit_or(I a, I b) { return _mm256_or_si256(a, b); }
    static I shift_left(I a, int n) { return _mm256_slli_epi32(a, n); }
    static I shift_right(I a, int n) { return _mm256_srli_epi32(a, n); }
    static F as_float(I a) { return _mm256_castsi256_ps(a); }

    // The blend looks at the top bit of each byte, so whole-lane masks pick
    // whole lanes.
    static F select(F mask, F a, F b) { return _mm256_blendv_ps(b, a, mask); }
    static I select(I mask, I a, I b) { return _mm256_blendv_epi8(b, a, mask); }
    static bool all(I mask) { return _mm256_movemask_epi8(mask) == -1; }

    static F to_float(I a) { return _mm256_cvtepi32_ps(a); }
    static I truncate(F a) { return _mm256_cvttps_epi32(a); }

    static I load(const unsigned char *p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
    }
    static void store(unsigned char *p, I px) {
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), px);
    }

    // The packs and unpacks work within each 128-bit half, which holds four
    // whole pixels, so each half is packed just as the four-lane code packs.
    static I pack(I red, I green, I blue, I alpha) {
        const I planes = _mm256_packus_epi16(_mm256_packs_epi32(red, green),
                                             _mm256_packs_epi32(blue, alpha));
        const I rg = _mm256_unpacklo_epi8(planes, _mm256_srli_si256(planes, 4));
        const I ba =
            _mm256_unpacklo_epi8(_mm256_srli_si256(planes, 8), _mm256_srli_si256(planes, 12));
        return _mm256_unpacklo_epi16(rg, ba);
    }
};

}  // namespace
}  // namespace velmora

#endif
