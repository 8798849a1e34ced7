// The vector passes eight lanes wide. This unit alone is compiled for AVX2
// (no FMA: the build never enables it) and runs only where the processor has
// it; the operations are the SSE2 passes', lane for lane.
#include "lanes_avx2.h"
#include "vector_passes.h"

namespace velmora {

uint64_t saturate_avx2(unsigned char *p, uint64_t from, uint64_t count, const SaturationPass &pass) {
    return lanes::saturate<Avx2Lanes>(p, from, count, pass);
}

uint64_t turn_hue_avx2(unsigned char *p, uint64_t from, uint64_t count, const HuePass &pass) {
    return lanes::turn_hue<Avx2Lanes>(p, from, count, pass);
}

uint64_t select_colour_avx2(unsigned char *p, uint64_t from, uint64_t count, const SelectivePass &pass) {
    return lanes::select_colour<Avx2Lanes>(p, from, count, pass);
}

uint64_t replace_avx2(unsigned char *p, uint64_t from, uint64_t count, const ReplacePass &pass) {
    return lanes::replace<Avx2Lanes>(p, from, count, pass);
}

uint64_t darken_avx2(unsigned char *p, uint64_t from, uint64_t count, const VignetteRow &row) {
    return lanes::darken<Avx2Lanes>(p, from, count, row);
}

uint64_t affine_levels_avx2(unsigned char *p, uint64_t from, uint64_t count, const AffinePass &pass) {
    return lanes::affine_levels<Avx2Lanes>(p, from, count, pass);
}

uint64_t shift_levels_avx2(unsigned char *p, uint64_t from, uint64_t count, const ShiftPass &pass) {
    const __m256i up = _mm256_set1_epi32(static_cast<int>(pass.up));
    const __m256i down = _mm256_set1_epi32(static_cast<int>(pass.down));
    uint64_t i = from;
    for (; i + 8 <= count; i += 8) {
        __m256i *px = reinterpret_cast<__m256i *>(p + 4 * i);
        _mm256_storeu_si256(px,
                            _mm256_subs_epu8(_mm256_adds_epu8(_mm256_loadu_si256(px), up), down));
    }
    return i;
}

}  // namespace velmora
