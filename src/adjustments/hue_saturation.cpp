// Saturation and hue: scale or rotate every pixel in the HSV model.
#include <cmath>

#include "hsv.h"
#include "kernels.h"
#include "simd_avx2.h"

namespace velmora {

// One pixel through the HSV model: `change(h, s, v)` edits the colour and
// returns false to leave the pixel as it was.
template <class Change>
inline void hsv_pixel(unsigned char *px, Change change) {
    float h, s, v;
    rgb_to_hsv(px[0], px[1], px[2], h, s, v);
    if (!change(h, s, v)) return;
    int r, g, b;
    hsv_to_rgb(h, s, v, r, g, b);
    px[0] = clamp_byte(r);
    px[1] = clamp_byte(g);
    px[2] = clamp_byte(b);
}

#if defined(VELMORA_HAVE_SSE2)
// Eight pixels through the HSV model, step by step for both sets of four:
// `change(c)` turns each set's colours into new levels, which lie in 0..255.
template <class Change>
inline void hsv_eight(unsigned char *px, Change change) {
    __m128i in[2];
    simd::Hsv4 c[2];
    simd::Channels out[2];
    for (int k = 0; k < 2; ++k) in[k] = simd::load4(px + 16 * k);
    for (int k = 0; k < 2; ++k) c[k] = simd::rgb_to_hsv4(simd::split(in[k]));
    for (int k = 0; k < 2; ++k) out[k] = change(c[k]);
    for (int k = 0; k < 2; ++k)
        simd::store4(px + 16 * k, simd::join_levels(out[k].red, out[k].green, out[k].blue, in[k]));
}
#endif

#if defined(VELMORA_HAVE_AVX2)
// hsv_eight() with AVX2: sixteen pixels as two sets of eight.
template <class Change>
VELMORA_AVX2 inline void hsv_sixteen(unsigned char *px, Change change) {
    __m256i in[2];
    simd8::Hsv8 c[2];
    simd8::Channels out[2];
    for (int k = 0; k < 2; ++k) in[k] = simd8::load8(px + 32 * k);
    for (int k = 0; k < 2; ++k) c[k] = simd8::rgb_to_hsv8(simd8::split(in[k]));
    for (int k = 0; k < 2; ++k) out[k] = change(c[k]);
    for (int k = 0; k < 2; ++k)
        simd8::store8(px + 32 * k,
                      simd8::join_levels(out[k].red, out[k].green, out[k].blue, in[k]));
}
#endif

// value in -100..+100, a percentage added to the saturation scale.
int op_saturation(Image &img, int value, Isa isa) {
    if (value < -100 || value > 100)
        return fail("saturation: value %d out of range -100..+100", value);
    if (value == 0) return 1;

    const float factor = static_cast<float>(value) / 100.0f + 1.0f;
    // Full desaturation is the luma grey, the grayscale adjustment exactly,
    // not HSV with s = 0.
    if (factor <= 0.0f) return op_grayscale(img, isa);
#if defined(VELMORA_HAVE_SSE2)
    const __m128 f = _mm_set1_ps(factor), one = _mm_set1_ps(1.0f);
    const auto eight = [&](unsigned char *px) {
        hsv_eight(px, [&](const simd::Hsv4 &c) {
            const __m128 s = _mm_mul_ps(c.s, f);
            // h comes from rgb_to_hsv, so it lies in [0, 1); s is at most 1.
            return simd::hsv_to_rgb4(c.h, simd::select(_mm_cmpgt_ps(s, one), one, s), c.v);
        });
    };
#else
    const auto eight = [](unsigned char *) {};
#endif
#if defined(VELMORA_HAVE_AVX2)
    const auto sixteen = [=](unsigned char *px) VELMORA_AVX2 {
        const __m256 f = _mm256_set1_ps(factor), one = _mm256_set1_ps(1.0f);
        hsv_sixteen(px, [&](const simd8::Hsv8 &c) VELMORA_AVX2 {
            const __m256 s = _mm256_mul_ps(c.s, f);
            return simd8::hsv_to_rgb8(c.h, simd8::select(simd8::cmpgt(s, one), one, s), c.v);
        });
    };
#else
    const auto sixteen = [](unsigned char *) {};
#endif
    const auto single = [=](unsigned char *px) {
        hsv_pixel(px, [=](float &, float &s, float &) {
            s = s * factor;
            if (s > 1.0f) s = 1.0f;
            return true;
        });
    };
    for_pixels_by_sixteen(img.pixels, pixel_count(img), isa, sixteen, eight, single);
    return 1;
}

// degrees, any int; positive turns red towards yellow and green.
int op_hue(Image &img, int degrees, Isa isa) {
    const int deg = wrap_degrees(degrees);
    if (deg == 0) return 1;

    const float shift = static_cast<float>(deg) / 360.0f;  // in (0, 1)
#if defined(VELMORA_HAVE_SSE2)
    const __m128 turn = _mm_set1_ps(shift);
    // Greys (s = 0), which the scalar code leaves alone, need no select:
    // with s = 0, p, q and t all equal v, and v = k / 255 comes back as k.
    const auto eight = [&](unsigned char *px) {
        hsv_eight(px, [&](const simd::Hsv4 &c) {
            return simd::hsv_to_rgb4(simd::wrap_turn(_mm_add_ps(c.h, turn)), c.s, c.v);
        });
    };
#else
    const auto eight = [](unsigned char *) {};
#endif
#if defined(VELMORA_HAVE_AVX2)
    const auto sixteen = [=](unsigned char *px) VELMORA_AVX2 {
        const __m256 turn = _mm256_set1_ps(shift);
        hsv_sixteen(px, [&](const simd8::Hsv8 &c) VELMORA_AVX2 {
            return simd8::hsv_to_rgb8(simd8::wrap_turn(_mm256_add_ps(c.h, turn)), c.s, c.v);
        });
    };
#else
    const auto sixteen = [](unsigned char *) {};
#endif
    const auto single = [=](unsigned char *px) {
        hsv_pixel(px, [=](float &h, float &s, float &) {
            if (s <= 0.0f) return false;  // greys have no hue to turn
            h = fmodf(h + shift, 1.0f);
            if (h < 0.0f) h = h + 1.0f;
            return true;
        });
    };
    for_pixels_by_sixteen(img.pixels, pixel_count(img), isa, sixteen, eight, single);
    return 1;
}

}  // namespace velmora
