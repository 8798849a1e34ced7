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

}  // namespace velmora
#endif
