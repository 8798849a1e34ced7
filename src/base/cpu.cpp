// The one processor probe.
#include "cpu.h"

namespace velmora {

static bool processor_has_avx2() {
#if defined(VELMORA_HAVE_AVX2)
    // Asked once: the answer cannot change while the program runs.
    static const bool avx2 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return avx2;
#else
    return false;
#endif
}

bool isa_available(Isa isa) {
    switch (isa) {
    case Isa::scalar:
    case Isa::best: return true;
    case Isa::sse2:
#if defined(VELMORA_HAVE_SSE2)
        return true;
#else
        return false;
#endif
    case Isa::avx2: return processor_has_avx2();
    }
    return false;
}

Isa resolve(Isa isa) {
#if defined(VELMORA_SCALAR_KERNELS)
    if (isa == Isa::best) return Isa::scalar;
#endif
    if (isa == Isa::best || isa == Isa::avx2) {
        if (isa_available(Isa::avx2)) return Isa::avx2;
        isa = Isa::sse2;
    }
    if (isa == Isa::sse2 && !isa_available(Isa::sse2)) return Isa::scalar;
    return isa;
}

std::vector<Isa> available_isas() {
    std::vector<Isa> isas;
    for (Isa isa : {Isa::scalar, Isa::sse2, Isa::avx2})
        if (isa_available(isa)) isas.push_back(isa);
    return isas;
}

const char *isa_name(Isa isa) {
    switch (isa) {
    case Isa::scalar: return "scalar";
    case Isa::sse2: return "sse2";
    case Isa::avx2: return "avx2";
    case Isa::best: return "best";
    }
    return "?";
}

}  // namespace velmora
