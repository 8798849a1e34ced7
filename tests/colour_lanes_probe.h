// The colour model of colour_lanes.h on arrays, one O::L-lane block at a
// time, so that a test can check every lane against the scalar model. A
// template over the lane type: test_pixel_kernels.cpp instantiates it with
// Sse2Lanes, colour_lanes_avx2.cpp (compiled for AVX2) with Avx2Lanes.
#ifndef VELMORA_COLOUR_LANES_PROBE_H
#define VELMORA_COLOUR_LANES_PROBE_H

#include "colour_lanes.h"

namespace vk {

// The functions a test calls for one instruction set; `count` is a multiple
// of eight.
struct LaneProbe {
    void (*rgb_to_hsv)(const int *r, const int *g, const int *b, float *h, float *s, float *v,
                       int count);
    void (*hsv_to_rgb)(const float *h, const float *s, const float *v, int *r, int *g, int *b,
                       int count);
    void (*wrap_turn)(const float *x, float *wrapped, int count);
};

template <class O>
struct ProbeOf {
    static typename O::I ints(const int *p) {
        return O::load(reinterpret_cast<const unsigned char *>(p));
    }
    static void put(int *p, typename O::I v) { O::store(reinterpret_cast<unsigned char *>(p), v); }
    static typename O::F floats(const float *p) { return O::as_float(ints(reinterpret_cast<const int *>(p))); }
    static void put(float *p, typename O::F v) {
        float lanes[O::L];
        static_assert(sizeof v == sizeof lanes, "one float per lane");
        __builtin_memcpy(lanes, &v, sizeof lanes);
        for (int k = 0; k < O::L; ++k) p[k] = lanes[k];
    }

    static void rgb_to_hsv(const int *r, const int *g, const int *b, float *h, float *s, float *v,
                           int count) {
        for (int k = 0; k < count; k += O::L) {
            const velmora::lanes::Hsv<O> c =
                velmora::lanes::rgb_to_hsv<O>({ints(r + k), ints(g + k), ints(b + k)});
            put(h + k, c.h);
            put(s + k, c.s);
            put(v + k, c.v);
        }
    }
    static void hsv_to_rgb(const float *h, const float *s, const float *v, int *r, int *g, int *b,
                           int count) {
        for (int k = 0; k < count; k += O::L) {
            const velmora::lanes::Channels<O> c =
                velmora::lanes::hsv_to_rgb<O>(floats(h + k), floats(s + k), floats(v + k));
            put(r + k, c.red);
            put(g + k, c.green);
            put(b + k, c.blue);
        }
    }
    static void wrap_turn(const float *x, float *wrapped, int count) {
        for (int k = 0; k < count; k += O::L)
            put(wrapped + k, velmora::lanes::wrap_turn<O>(floats(x + k)));
    }
    static constexpr LaneProbe probe{rgb_to_hsv, hsv_to_rgb, wrap_turn};
};

// In colour_lanes_avx2.cpp; call only where the processor has AVX2.
const LaneProbe &avx2_lane_probe();

}  // namespace vk

#endif
