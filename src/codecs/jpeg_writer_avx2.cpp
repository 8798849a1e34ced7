// The JPEG writer's block transform on eight blocks at a time, on the
// library's AVX2 lanes. This unit is compiled for AVX2 and runs only where
// the processor has it; the operations are the SSE2 path's, eight lanes wide
// (no fused multiply-add: the build never enables it).
#include "jpeg_blocks.h"
#include "lanes_avx2.h"

namespace velmora {
namespace jpeg {
namespace {

struct Avx2Ops : Avx2Lanes {
    static F load(const float *p) { return _mm256_load_ps(p); }
    static void store(float *p, F v) { _mm256_store_ps(p, v); }
    // Pixel j of each block's four (blocks 32 bytes apart), one block a lane:
    // blocks 0-3 in the low half, 4-7 in the high half, transposed in place.
    static void pixels(const unsigned char *p, I px[4]) {
        I a[4];
        for (int b = 0; b < 4; ++b) {
            const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 32 * b));
            const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 32 * (b + 4)));
            a[b] = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
        }
        const I t0 = _mm256_unpacklo_epi32(a[0], a[1]), t1 = _mm256_unpacklo_epi32(a[2], a[3]);
        const I t2 = _mm256_unpackhi_epi32(a[0], a[1]), t3 = _mm256_unpackhi_epi32(a[2], a[3]);
        px[0] = _mm256_unpacklo_epi64(t0, t1);
        px[1] = _mm256_unpackhi_epi64(t0, t1);
        px[2] = _mm256_unpacklo_epi64(t2, t3);
        px[3] = _mm256_unpackhi_epi64(t2, t3);
    }
    template <int Shift>
    static F channel(I px) {
        return _mm256_cvtepi32_ps(
            _mm256_and_si256(_mm256_srli_epi32(px, Shift), _mm256_set1_epi32(0xFF)));
    }
    // As the SSE2 path: v + 0.5 with the sign of v, then truncation.
    static I round(F v) {
        const F half = _mm256_or_ps(_mm256_and_ps(v, _mm256_set1_ps(-0.0f)), _mm256_set1_ps(0.5f));
        return _mm256_cvttps_epi32(_mm256_add_ps(v, half));
    }
    static void store_int(int32_t *p, I v) { _mm256_store_si256(reinterpret_cast<__m256i *>(p), v); }
    static unsigned nonzero(I v) {
        const I zero = _mm256_cmpeq_epi32(v, _mm256_setzero_si256());
        return 0xFFu & ~static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(zero)));
    }
};

}  // namespace

void transform_blocks_avx2(const unsigned char *const *rows, size_t offset,
                           const float (*divisors)[64], Group &out) {
    transform_blocks<Avx2Ops>(rows, offset, divisors, out);
}

}  // namespace jpeg
}  // namespace velmora
