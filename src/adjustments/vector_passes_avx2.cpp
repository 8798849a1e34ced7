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

uint64_t map_tables_avx2(unsigned char *p, uint64_t from, uint64_t count, const TablePass &pass) {
    const __m256i low = _mm256_set1_epi32(0xFF);
    const __m256i alpha = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    const int *red = reinterpret_cast<const int *>(pass.red);
    const int *green = reinterpret_cast<const int *>(pass.green);
    const int *blue = reinterpret_cast<const int *>(pass.blue);
    uint64_t i = from;
    for (; i + 8 <= count; i += 8) {
        unsigned char *px = p + 4 * i;
        const __m256i in = Avx2Lanes::load(px);
        const __m256i r = _mm256_i32gather_epi32(red, _mm256_and_si256(in, low), 4);
        const __m256i g =
            _mm256_i32gather_epi32(green, _mm256_and_si256(_mm256_srli_epi32(in, 8), low), 4);
        const __m256i b =
            _mm256_i32gather_epi32(blue, _mm256_and_si256(_mm256_srli_epi32(in, 16), low), 4);
        Avx2Lanes::store(px, _mm256_or_si256(_mm256_or_si256(r, g),
                                              _mm256_or_si256(b, _mm256_and_si256(in, alpha))));
    }
    return i;
}

}  // namespace velmora
