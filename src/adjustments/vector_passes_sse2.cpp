// The vector passes four lanes wide, with SSE2, the x86-64 baseline.
#include "lanes.h"
#include "vector_passes.h"

#if defined(VELMORA_HAVE_SSE2)
namespace velmora {

uint64_t saturate_sse2(unsigned char *p, uint64_t from, uint64_t count, const SaturationPass &pass) {
    return lanes::saturate<Sse2Lanes>(p, from, count, pass);
}

uint64_t turn_hue_sse2(unsigned char *p, uint64_t from, uint64_t count, const HuePass &pass) {
    return lanes::turn_hue<Sse2Lanes>(p, from, count, pass);
}

uint64_t select_colour_sse2(unsigned char *p, uint64_t from, uint64_t count, const SelectivePass &pass) {
    return lanes::select_colour<Sse2Lanes>(p, from, count, pass);
}

uint64_t replace_sse2(unsigned char *p, uint64_t from, uint64_t count, const ReplacePass &pass) {
    return lanes::replace<Sse2Lanes>(p, from, count, pass);
}

uint64_t darken_sse2(unsigned char *p, uint64_t from, uint64_t count, const VignetteRow &row) {
    return lanes::darken<Sse2Lanes>(p, from, count, row);
}

// Sixteen levels per saturating byte operation; no lane type needed.
uint64_t shift_levels_sse2(unsigned char *p, uint64_t from, uint64_t count, const ShiftPass &pass) {
    const __m128i up = _mm_set1_epi32(static_cast<int>(pass.up));
    const __m128i down = _mm_set1_epi32(static_cast<int>(pass.down));
    uint64_t i = from;
    for (; i + 4 <= count; i += 4) {
        __m128i *px = reinterpret_cast<__m128i *>(p + 4 * i);
        _mm_storeu_si128(px, _mm_subs_epu8(_mm_adds_epu8(_mm_loadu_si128(px), up), down));
    }
    return i;
}

}  // namespace velmora
#endif
