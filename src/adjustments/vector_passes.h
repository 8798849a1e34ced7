// The vector steps of the colour-model adjustments (saturation, hue,
// selective colour), of replace and of vignette, written once over a lane type: each
// step takes two sets of O::L pixels side by side, so that the long chains of
// dependent operations of one set overlap with the other's. The kernels run
// them through vector_passes_sse2.cpp, which instantiates them with
// Sse2Lanes, and vector_passes_avx2.cpp, compiled for AVX2 as a whole, which
// instantiates them with Avx2Lanes. This header holds templates only, so
// nothing of the AVX2 unit can be shared with baseline code. Internal.
#ifndef VELMORA_VECTOR_PASSES_H
#define VELMORA_VECTOR_PASSES_H

#include <cstdint>

#include "colour_lanes.h"
#include "cpu.h"

namespace velmora {

// ---- what each pass needs, worked out once per call ----------------------------

struct SaturationPass {
    float factor;  // the saturation scale, above 0
};

struct HuePass {
    float shift;  // a fraction of a turn, in (0, 1)
};

// How selective colour weighs a selected pixel by its saturation: always 1
// (no floor), 0 or 1 (a floor of 100%), or a ramp up from the floor.
enum class Feather { none, step, ramp };

struct SelectivePass {
    int target;     // 0..359
    int sat_min;    // 0..100
    int hue_range;  // 1..180
    float full[3];  // each channel's shift at weight 1
    Feather feather;
    float floor;    // sat_min / 100
    float span;     // 1 - floor
};

struct ReplacePass {
    int from[3];    // R, G, B
    uint32_t to;    // the new R, G and B as the low three bytes of a pixel word
    int tolerance;  // 0..255
};

struct VignettePass {
    float s, r, cx, cy, rim;
};

// A run of one row of the vignette: the row's squared vertical offset, and
// the column of the run's first pixel.
struct VignetteRow {
    const VignettePass *pass;
    float dy2;
    int32_t x;
};

// Per-channel tables that only add a constant to every level, limited to
// 0..255: each byte of a pixel word raised by its byte of `up`, then lowered
// by its byte of `down`, both saturating (A's bytes are 0 in both).
struct ShiftPass {
    uint32_t up, down;
};

// Per-channel levels that are an affine function of the old level, rounded
// as round_clamp() does: round_clamp((v + pre) * mul + post), channel by
// channel (red, green, blue), in single precision in that order.
struct AffinePass {
    float pre[3], mul[3], post[3];
};

// ---- the steps, over lane types ---------------------------------------------------

namespace lanes {

// `step(p + 4 * i, i)` on groups of two sets of O::L pixels from pixel
// `from` of `p` on; returns the index of the first pixel not done.
template <class O, class Step>
inline uint64_t for_groups(unsigned char *p, uint64_t from, uint64_t count, Step step) {
    constexpr uint64_t n = 2 * O::L;
    uint64_t i = from;
    for (; i + n <= count; i += n) step(p + 4 * i, i);
    return i;
}

// Two sets of pixels through the HSV model, step by step for both:
// `change(c)` turns each set's colours into new levels, which lie in 0..255.
template <class O, class Change>
inline void hsv_group(unsigned char *px, Change change) {
    typename O::I in[2];
    Hsv<O> c[2];
    Channels<O> out[2];
    for (int k = 0; k < 2; ++k) in[k] = O::load(px + 4 * O::L * k);
    for (int k = 0; k < 2; ++k) c[k] = rgb_to_hsv<O>(split<O>(in[k]));
    for (int k = 0; k < 2; ++k) out[k] = change(c[k]);
    for (int k = 0; k < 2; ++k)
        O::store(px + 4 * O::L * k, join_levels<O>(out[k].red, out[k].green, out[k].blue, in[k]));
}

template <class O>
inline uint64_t saturate(unsigned char *p, uint64_t from, uint64_t count, const SaturationPass &pass) {
    using F = typename O::F;
    const F factor = O::set(pass.factor), one = O::set(1.0f);
    return for_groups<O>(p, from, count, [&](unsigned char *px, uint64_t) {
        hsv_group<O>(px, [&](const Hsv<O> &c) {
            const F s = O::mul(c.s, factor);
            // h comes from rgb_to_hsv, so it lies in [0, 1); s is at most 1.
            return hsv_to_rgb<O>(c.h, O::select(O::gt(s, one), one, s), c.v);
        });
    });
}

template <class O>
inline uint64_t turn_hue(unsigned char *p, uint64_t from, uint64_t count, const HuePass &pass) {
    const typename O::F turn = O::set(pass.shift);
    // Greys (s = 0), which the scalar code leaves alone, need no select:
    // with s = 0, p, q and t all equal v, and v = k / 255 comes back as k.
    return for_groups<O>(p, from, count, [&](unsigned char *px, uint64_t) {
        hsv_group<O>(px, [&](const Hsv<O> &c) {
            return hsv_to_rgb<O>(wrap_turn<O>(O::add(c.h, turn)), c.s, c.v);
        });
    });
}

// The feather weight of L saturations.
template <class O, class F = typename O::F>
inline F feather(F s, const SelectivePass &pass) {
    const F zero = O::zero(), one = O::set(1.0f);
    if (pass.feather == Feather::none) return one;
    const F above = O::sub(s, O::set(pass.floor));
    if (pass.feather == Feather::step) return O::and_not(O::lt(above, zero), one);
    F w = O::div(above, O::set(pass.span));
    w = O::select(O::lt(w, zero), zero, w);
    return O::select(O::gt(w, one), one, w);
}

template <class O>
inline uint64_t select_colour(unsigned char *p, uint64_t from, uint64_t count, const SelectivePass &pass) {
    using F = typename O::F;
    using I = typename O::I;
    const I target = O::set(pass.target), range = O::set(pass.hue_range);
    const I sat_min = O::set(pass.sat_min);
    const I k180 = O::set(180), k360 = O::set(360);
    const F half = O::set(0.5f);
    const F full[3] = {O::set(pass.full[0]), O::set(pass.full[1]), O::set(pass.full[2])};
    return for_groups<O>(p, from, count, [&](unsigned char *px, uint64_t) {
        I in[2], skip[2];
        Channels<O> ch[2];
        Hsv<O> c[2];
        for (int k = 0; k < 2; ++k) {
            in[k] = O::load(px + 4 * O::L * k);
            ch[k] = split<O>(in[k]);
        }
        for (int k = 0; k < 2; ++k) c[k] = rgb_to_hsv<O>(ch[k]);
        for (int k = 0; k < 2; ++k) {
            const I hue_deg = O::truncate(O::add(O::mul(c[k].h, O::set(360.0f)), half));
            const I d0 = O::abs(O::sub(hue_deg, target));
            const I d = O::select(O::gt(d0, k180), O::sub(k360, d0), d0);
            const I sat_pct = O::truncate(O::add(O::mul(c[k].s, O::set(100.0f)), half));
            skip[k] = O::bit_or(O::gt(d, range), O::gt(sat_min, sat_pct));
        }
        // None of the group is selected: nothing to change.
        if (O::all(O::bit_and(skip[0], skip[1]))) return;
        for (int k = 0; k < 2; ++k) {
            const F w = feather<O>(c[k].s, pass);
            const I r = O::add(ch[k].red, round_half_away<O>(O::mul(full[0], w)));
            const I g = O::add(ch[k].green, round_half_away<O>(O::mul(full[1], w)));
            const I b = O::add(ch[k].blue, round_half_away<O>(O::mul(full[2], w)));
            O::store(px + 4 * O::L * k, O::select(skip[k], in[k], join<O>(r, g, b, in[k])));
        }
    });
}

// A match takes the new colour whole and keeps its alpha; no branch per pixel.
template <class O>
inline uint64_t replace(unsigned char *p, uint64_t from, uint64_t count, const ReplacePass &pass) {
    using I = typename O::I;
    const I red = O::set(pass.from[0]), green = O::set(pass.from[1]), blue = O::set(pass.from[2]);
    const I tolerance = O::set(pass.tolerance);
    const I to = O::set(static_cast<int>(pass.to)), alpha = O::set(static_cast<int>(0xFF000000u));
    return for_groups<O>(p, from, count, [&](unsigned char *px, uint64_t) {
        for (int k = 0; k < 2; ++k) {
            const I in = O::load(px + 4 * O::L * k);
            const Channels<O> c = split<O>(in);
            // City-block distance, 0..765.
            const I d = O::add(O::add(O::abs(O::sub(c.red, red)), O::abs(O::sub(c.green, green))),
                               O::abs(O::sub(c.blue, blue)));
            const I replaced = O::bit_or(to, O::bit_and(in, alpha));
            O::store(px + 4 * O::L * k, O::select(O::gt(d, tolerance), in, replaced));
        }
    });
}

template <class O>
inline uint64_t affine_levels(unsigned char *p, uint64_t from, uint64_t count, const AffinePass &pass) {
    using F = typename O::F;
    using I = typename O::I;
    F pre[3], mul[3], post[3];
    for (int c = 0; c < 3; ++c) {
        pre[c] = O::set(pass.pre[c]);
        mul[c] = O::set(pass.mul[c]);
        post[c] = O::set(pass.post[c]);
    }
    const F half = O::set(0.5f);
    return for_groups<O>(p, from, count, [&](unsigned char *px, uint64_t) {
        for (int k = 0; k < 2; ++k) {
            const I in = O::load(px + 4 * O::L * k);
            const Channels<O> ch = split<O>(in);
            const I levels[3] = {ch.red, ch.green, ch.blue};
            I out[3];
            for (int c = 0; c < 3; ++c) {
                const F x = O::add(O::mul(O::add(O::to_float(levels[c]), pre[c]), mul[c]), post[c]);
                out[c] = O::truncate(O::add(x, half));  // join() clamps to 0..255
            }
            O::store(px + 4 * O::L * k, join<O>(out[0], out[1], out[2], in));
        }
    });
}

// Channel values of L pixels times k, rounded as the scalar vignette does.
// k is 1 - s beyond the radius and 1 - (s * d) * d within it (d <= 1): both
// lie in [0, 1], as rounding keeps products of such numbers there. So
// v * k + 0.5 lies in [0.5, 255.5], and the clamp never applies.
template <class O, class I = typename O::I>
inline I darkened(I level, typename O::F k) {
    return O::truncate(O::add(O::mul(O::to_float(level), k), O::set(0.5f)));
}

template <class O>
inline uint64_t darken(unsigned char *p, uint64_t from, uint64_t count, const VignetteRow &row) {
    using F = typename O::F;
    using I = typename O::I;
    const VignettePass &v = *row.pass;
    const F one = O::set(1.0f), dy2 = O::set(row.dy2);
    const F s = O::set(v.s), r = O::set(v.r), cx = O::set(v.cx), rim = O::set(v.rim);
    return for_groups<O>(p, from, count, [&](unsigned char *px, uint64_t i) {
        I column = O::iota(row.x + static_cast<int32_t>(i));
        F k[2];
        for (int g = 0; g < 2; ++g) {
            const F dx = O::sub(O::to_float(column), cx);
            column = O::add(column, O::set(O::L));
            const F d2 = O::add(O::mul(dx, dx), dy2);
            const F d = O::div(O::sqrt(d2), r);
            const F near = O::sub(one, O::mul(O::mul(s, d), d));
            k[g] = O::select(O::gt(d, one), rim, near);
        }
        for (int g = 0; g < 2; ++g) {
            const I in = O::load(px + 4 * O::L * g);
            const Channels<O> ch = split<O>(in);
            O::store(px + 4 * O::L * g,
                     join_levels<O>(darkened<O>(ch.red, k[g]), darkened<O>(ch.green, k[g]),
                                    darkened<O>(ch.blue, k[g]), in));
        }
    });
}

}  // namespace lanes

// ---- the instantiations ---------------------------------------------------------------

// Four lanes in vector_passes_sse2.cpp, eight in vector_passes_avx2.cpp; call
// an _avx2 one only where resolve() gives Isa::avx2. Each does whole groups
// of pixels of `p` from pixel `from` on, and returns the index of the first
// it did not do.
#define VELMORA_VECTOR_PASSES(suffix)                                                          \
    uint64_t saturate_##suffix(unsigned char *p, uint64_t from, uint64_t count, const SaturationPass &pass); \
    uint64_t turn_hue_##suffix(unsigned char *p, uint64_t from, uint64_t count, const HuePass &pass);        \
    uint64_t select_colour_##suffix(unsigned char *p, uint64_t from, uint64_t count,          \
                                    const SelectivePass &pass);                               \
    uint64_t replace_##suffix(unsigned char *p, uint64_t from, uint64_t count,                \
                              const ReplacePass &pass);                                       \
    uint64_t darken_##suffix(unsigned char *p, uint64_t from, uint64_t count, const VignetteRow &row); \
    uint64_t shift_levels_##suffix(unsigned char *p, uint64_t from, uint64_t count,           \
                                   const ShiftPass &pass);
#if defined(VELMORA_HAVE_SSE2)
VELMORA_VECTOR_PASSES(sse2)
#endif
#if defined(VELMORA_HAVE_AVX2)
VELMORA_VECTOR_PASSES(avx2)
#endif
#undef VELMORA_VECTOR_PASSES
#if defined(VELMORA_HAVE_AVX2)
// Four lanes of this arithmetic are no faster than the table look-ups: AVX2 only.
uint64_t affine_levels_avx2(unsigned char *p, uint64_t from, uint64_t count, const AffinePass &pass);
#endif

// A pass's functions for each instruction set, null where the build has none.
template <class Pass>
struct VectorPass {
    using Fn = uint64_t (*)(unsigned char *p, uint64_t from, uint64_t count, const Pass &pass);
    Fn sse2, avx2;
};
#if defined(VELMORA_HAVE_SSE2)
#define VELMORA_SSE2_PASS(name) name##_sse2
#else
#define VELMORA_SSE2_PASS(name) nullptr
#endif
#if defined(VELMORA_HAVE_AVX2)
#define VELMORA_AVX2_PASS(name) name##_avx2
#else
#define VELMORA_AVX2_PASS(name) nullptr
#endif
inline constexpr VectorPass<SaturationPass> kSaturate{VELMORA_SSE2_PASS(saturate),
                                                      VELMORA_AVX2_PASS(saturate)};
inline constexpr VectorPass<HuePass> kTurnHue{VELMORA_SSE2_PASS(turn_hue),
                                              VELMORA_AVX2_PASS(turn_hue)};
inline constexpr VectorPass<SelectivePass> kSelectColour{VELMORA_SSE2_PASS(select_colour),
                                                         VELMORA_AVX2_PASS(select_colour)};
inline constexpr VectorPass<ReplacePass> kReplace{VELMORA_SSE2_PASS(replace),
                                                  VELMORA_AVX2_PASS(replace)};
inline constexpr VectorPass<VignetteRow> kDarken{VELMORA_SSE2_PASS(darken),
                                                 VELMORA_AVX2_PASS(darken)};
inline constexpr VectorPass<ShiftPass> kShiftLevels{VELMORA_SSE2_PASS(shift_levels),
                                                    VELMORA_AVX2_PASS(shift_levels)};
inline constexpr VectorPass<AffinePass> kAffineLevels{nullptr, VELMORA_AVX2_PASS(affine_levels)};
#undef VELMORA_SSE2_PASS
#undef VELMORA_AVX2_PASS

}  // namespace velmora

#endif
