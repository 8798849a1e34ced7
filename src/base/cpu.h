// The instruction sets the library's fast code is written for, and the one
// probe that says which this processor has. Kernels and writers alike take an
// Isa: the scalar code is the plain statement of the arithmetic and stays as
// the reference that every other choice is tested against, byte for byte.
// Internal.
#ifndef VELMORA_CPU_H
#define VELMORA_CPU_H

#include <vector>

// SSE2 is the x86-64 baseline: code for it is compiled everywhere on x86-64.
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define VELMORA_HAVE_SSE2 1
#endif

// AVX2 code is compiled only into functions marked VELMORA_AVX2 or units
// built with -mavx2, and runs only where the probe finds AVX2. Only "avx2" is
// enabled, never FMA: a fused multiply-add would round differently.
#if defined(VELMORA_HAVE_SSE2) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define VELMORA_HAVE_AVX2 1
#define VELMORA_AVX2 __attribute__((target("avx2")))
#endif

namespace velmora {

// `best` is the default: the widest set this processor has (the scalar
// reference in a build with VELMORA_SCALAR_KERNELS). `sse2` is the fast code
// for the x86-64 baseline: tables, word tricks and SSE2 where they help.
enum class Isa { scalar, sse2, avx2, best };

// Whether this build and this processor run `isa` as itself.
bool isa_available(Isa isa);

// What `isa` runs as here: `best` becomes the widest available set, and a set
// the processor lacks falls back to the widest it has. Never `best`.
Isa resolve(Isa isa);

// Every set this build and processor can run, scalar first.
std::vector<Isa> available_isas();

// "scalar", "sse2", "avx2" or "best", as tests and benchmarks name them.
const char *isa_name(Isa isa);

}  // namespace velmora

#endif
