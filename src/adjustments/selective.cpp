// Selective colour: shift the channels only in pixels whose hue lies near a
// target hue and whose saturation reaches a floor, feathered by how far the
// saturation lies above that floor.
#include "hsv.h"
#include "kernels.h"
#include "simd_avx2.h"

namespace velmora {

namespace {

// Weight of a selected pixel: 0 at the floor, 1 at full saturation.
float feather(float s, int sat_min) {
    if (sat_min == 0) return 1.0f;
    const float f = static_cast<float>(sat_min) / 100.0f;
    const float above = s - f;
    const float span = 1.0f - f;
    if (span <= 0.0f) {
        // Floor 100%: the ratio has no room. Below full saturation it is -inf
        // (weight 0); at exactly 1 it is 0/0, and the limit of the ramp there is 1.
        return above < 0.0f ? 0.0f : 1.0f;
    }
    float w = above / span;
    if (w < 0.0f) w = 0.0f;
    if (w > 1.0f) w = 1.0f;
    return w;
}

// What the pass needs, worked out once per call.
struct Pass {
    int target;     // 0..359
    int sat_min;    // 0..100
    int hue_range;  // 1..180
    float full[3];  // each channel's shift at weight 1
};

void select_pixel(unsigned char *px, const Pass &pass) {
    float h, s, v;
    rgb_to_hsv(px[0], px[1], px[2], h, s, v);

    const int hue_deg = static_cast<int>(h * 360.0f + 0.5f);  // 0..360
    int d = hue_deg > pass.target ? hue_deg - pass.target : pass.target - hue_deg;
    if (d > 180) d = 360 - d;
    if (d > pass.hue_range) return;

    const int sat_pct = static_cast<int>(s * 100.0f + 0.5f);
    if (sat_pct < pass.sat_min) return;

    const float w = feather(s, pass.sat_min);
    for (int c = 0; c < 3; ++c) px[c] = clamp_byte(px[c] + round_half_away(pass.full[c] * w));
}

#if defined(VELMORA_HAVE_SSE2)
// feather() for four saturations; `mode` is its branch on sat_min, taken once.
enum class Feather { none, step, ramp };

inline __m128 feather4(__m128 s, Feather mode, __m128 f, __m128 span) {
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
    if (mode == Feather::none) return one;
    const __m128 above = _mm_sub_ps(s, f);
    if (mode == Feather::step) return _mm_andnot_ps(_mm_cmplt_ps(above, zero), one);
    __m128 w = _mm_div_ps(above, span);
    w = simd::select(_mm_cmplt_ps(w, zero), zero, w);
    return simd::select(_mm_cmpgt_ps(w, one), one, w);
}

#endif

#if defined(VELMORA_HAVE_AVX2)
// feather4() for eight saturations.
VELMORA_AVX2 inline __m256 feather8(__m256 s, Feather mode, __m256 f, __m256 span) {
    const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
    if (mode == Feather::none) return one;
    const __m256 above = _mm256_sub_ps(s, f);
    if (mode == Feather::step) return _mm256_andnot_ps(simd8::cmplt(above, zero), one);
    __m256 w = _mm256_div_ps(above, span);
    w = simd8::select(simd8::cmplt(w, zero), zero, w);
    return simd8::select(simd8::cmpgt(w, one), one, w);
}
#endif

void select_pixels(Image &img, const Pass &pass, Isa isa) {
#if defined(VELMORA_HAVE_SSE2)
    // feather()'s per-call values, computed as it computes them.
    const float f = static_cast<float>(pass.sat_min) / 100.0f;
    const float span = 1.0f - f;
    const Feather mode = pass.sat_min == 0 ? Feather::none
                         : span <= 0.0f    ? Feather::step
                                           : Feather::ramp;
    const __m128 f4 = _mm_set1_ps(f), span4 = _mm_set1_ps(span);
    const __m128i target = _mm_set1_epi32(pass.target);
    const __m128i range = _mm_set1_epi32(pass.hue_range);
    const __m128i sat_min = _mm_set1_epi32(pass.sat_min);
    const __m128i k180 = _mm_set1_epi32(180), k360 = _mm_set1_epi32(360);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 full_r = _mm_set1_ps(pass.full[0]), full_g = _mm_set1_ps(pass.full[1]),
                 full_b = _mm_set1_ps(pass.full[2]);
    const auto eight = [&](unsigned char *px) {
        __m128i in[2], skip[2];
        simd::Channels ch[2];
        simd::Hsv4 c[2];
        for (int k = 0; k < 2; ++k) {
            in[k] = simd::load4(px + 16 * k);
            ch[k] = simd::split(in[k]);
        }
        for (int k = 0; k < 2; ++k) c[k] = simd::rgb_to_hsv4(ch[k]);
        for (int k = 0; k < 2; ++k) {
            const __m128i hue_deg =
                _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(c[k].h, _mm_set1_ps(360.0f)), half));
            const __m128i diff = _mm_sub_epi32(hue_deg, target);
            const __m128i sign = _mm_srai_epi32(diff, 31);
            __m128i d = _mm_sub_epi32(_mm_xor_si128(diff, sign), sign);  // |diff|
            d = simd::select(_mm_cmpgt_epi32(d, k180), _mm_sub_epi32(k360, d), d);
            const __m128i sat_pct =
                _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(c[k].s, _mm_set1_ps(100.0f)), half));
            skip[k] = _mm_or_si128(_mm_cmpgt_epi32(d, range), _mm_cmplt_epi32(sat_pct, sat_min));
        }
        // None of the eight is selected: nothing to change.
        if (_mm_movemask_epi8(_mm_and_si128(skip[0], skip[1])) == 0xFFFF) return;
        for (int k = 0; k < 2; ++k) {
            const __m128 w = feather4(c[k].s, mode, f4, span4);
            const __m128i r = _mm_add_epi32(ch[k].red, simd::round_half_away4(_mm_mul_ps(full_r, w)));
            const __m128i g = _mm_add_epi32(ch[k].green, simd::round_half_away4(_mm_mul_ps(full_g, w)));
            const __m128i b = _mm_add_epi32(ch[k].blue, simd::round_half_away4(_mm_mul_ps(full_b, w)));
            simd::store4(px + 16 * k, simd::select(skip[k], in[k], simd::join(r, g, b, in[k])));
        }
    };
#else
    const auto eight = [](unsigned char *) {};
#endif
#if defined(VELMORA_HAVE_AVX2)
    // The eight-pixel step above, with sets of eight.
    const auto sixteen = [&](unsigned char *px) VELMORA_AVX2 {
        const __m256 f8 = _mm256_set1_ps(f), span8 = _mm256_set1_ps(span);
        const __m256i target = _mm256_set1_epi32(pass.target);
        const __m256i range = _mm256_set1_epi32(pass.hue_range);
        const __m256i sat_min = _mm256_set1_epi32(pass.sat_min);
        const __m256i k180 = _mm256_set1_epi32(180), k360 = _mm256_set1_epi32(360);
        const __m256 half = _mm256_set1_ps(0.5f);
        __m256i in[2], skip[2];
        simd8::Channels ch[2];
        simd8::Hsv8 c[2];
        for (int k = 0; k < 2; ++k) {
            in[k] = simd8::load8(px + 32 * k);
            ch[k] = simd8::split(in[k]);
        }
        for (int k = 0; k < 2; ++k) c[k] = simd8::rgb_to_hsv8(ch[k]);
        for (int k = 0; k < 2; ++k) {
            const __m256i hue_deg = _mm256_cvttps_epi32(
                _mm256_add_ps(_mm256_mul_ps(c[k].h, _mm256_set1_ps(360.0f)), half));
            const __m256i d0 = _mm256_abs_epi32(_mm256_sub_epi32(hue_deg, target));
            const __m256i d =
                simd8::select(_mm256_cmpgt_epi32(d0, k180), _mm256_sub_epi32(k360, d0), d0);
            const __m256i sat_pct = _mm256_cvttps_epi32(
                _mm256_add_ps(_mm256_mul_ps(c[k].s, _mm256_set1_ps(100.0f)), half));
            skip[k] = _mm256_or_si256(_mm256_cmpgt_epi32(d, range),
                                      _mm256_cmpgt_epi32(sat_min, sat_pct));
        }
        // None of the sixteen is selected: nothing to change.
        if (_mm256_movemask_epi8(_mm256_and_si256(skip[0], skip[1])) == -1) return;
        const __m256 full_r = _mm256_set1_ps(pass.full[0]), full_g = _mm256_set1_ps(pass.full[1]),
                     full_b = _mm256_set1_ps(pass.full[2]);
        for (int k = 0; k < 2; ++k) {
            const __m256 w = feather8(c[k].s, mode, f8, span8);
            const __m256i r =
                _mm256_add_epi32(ch[k].red, simd8::round_half_away8(_mm256_mul_ps(full_r, w)));
            const __m256i g =
                _mm256_add_epi32(ch[k].green, simd8::round_half_away8(_mm256_mul_ps(full_g, w)));
            const __m256i b =
                _mm256_add_epi32(ch[k].blue, simd8::round_half_away8(_mm256_mul_ps(full_b, w)));
            simd8::store8(px + 32 * k, simd8::select(skip[k], in[k], simd8::join(r, g, b, in[k])));
        }
    };
#else
    const auto sixteen = [](unsigned char *) {};
#endif
    for_pixels_by_sixteen(img.pixels, pixel_count(img), isa, sixteen, eight,
                          [&](unsigned char *px) { select_pixel(px, pass); });
}

}  // namespace

int op_selective(Image &img, const Selection &sel, Isa isa) {
    for (int a : sel.adjust)
        if (a < -100 || a > 100) return fail("selective: adjustments must be in -100..100");
    if (sel.hue_range < 1 || sel.hue_range > 180)
        return fail("selective: hue_range must be 1..180");
    if (sel.sat_min < 0 || sel.sat_min > 100) return fail("selective: sat_min must be 0..100");

    Pass pass;
    pass.target = wrap_degrees(sel.target_hue);
    pass.sat_min = sel.sat_min;
    pass.hue_range = sel.hue_range;
    for (int c = 0; c < 3; ++c)
        pass.full[c] = static_cast<float>(sel.adjust[2 * c] + sel.adjust[2 * c + 1]) * 2.55f;

    select_pixels(img, pass, isa);
    return 1;
}

}  // namespace velmora
