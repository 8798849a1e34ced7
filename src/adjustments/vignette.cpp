// Vignette: darkens towards the rim with a factor that falls with the square
// of the distance from the centre, in units of a radius given in percent of
// the shorter side, and stays constant beyond it. Single precision throughout.
#include <cmath>

#include "kernels.h"
#include "simd_avx2.h"

namespace velmora {

namespace {

// What the pass needs, worked out once per call.
struct Pass {
    float s, r, cx, cy, rim;
};

// The pixel at column x of a row whose squared vertical offset is dy2.
inline void darken_pixel(unsigned char *p, int32_t x, float dy2, const Pass &v) {
    const float dx = static_cast<float>(x) - v.cx;
    const float d2 = dx * dx + dy2;
    const float d = std::sqrt(d2) / v.r;
    const float k = d > 1.0f ? v.rim : 1.0f - (v.s * d) * d;
    for (int c = 0; c < 3; ++c) p[c] = round_clamp(static_cast<float>(p[c]) * k);
}

#if defined(VELMORA_HAVE_SSE2)
// Channel values of four pixels times k, rounded as darken_pixel does. k is
// 1 - s beyond the radius and 1 - (s * d) * d within it (d <= 1): both lie in
// [0, 1], as rounding keeps products of such numbers there. So v * k + 0.5
// lies in [0.5, 255.5], and the clamp never applies.
inline __m128i scaled(__m128i level, __m128 k) {
    return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(level), k), _mm_set1_ps(0.5f)));
}
#endif

#if defined(VELMORA_HAVE_AVX2)
// scaled() for eight pixels.
VELMORA_AVX2 inline __m256i scaled8(__m256i level, __m256 k) {
    return _mm256_cvttps_epi32(
        _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(level), k), _mm256_set1_ps(0.5f)));
}
#endif

void darken(Image &img, const Pass &v, Isa isa) {
    unsigned char *p = img.pixels;
    for (int32_t y = 0; y < img.height; ++y, p += 4 * static_cast<size_t>(img.width)) {
        const float dy = static_cast<float>(y) - v.cy;
        const float dy2 = dy * dy;
        int32_t x = 0;
#if defined(VELMORA_HAVE_SSE2)
        const __m128 one = _mm_set1_ps(1.0f), dy2_4 = _mm_set1_ps(dy2);
        const __m128 s = _mm_set1_ps(v.s), r = _mm_set1_ps(v.r), cx = _mm_set1_ps(v.cx);
        const __m128 rim = _mm_set1_ps(v.rim);
        const auto eight = [&](unsigned char *px) {
            __m128i column = _mm_add_epi32(_mm_set1_epi32(x), _mm_setr_epi32(0, 1, 2, 3));
            x += 8;
            __m128 k[2];
            for (int g = 0; g < 2; ++g) {
                const __m128 dx = _mm_sub_ps(_mm_cvtepi32_ps(column), cx);
                column = _mm_add_epi32(column, _mm_set1_epi32(4));
                const __m128 d2 = _mm_add_ps(_mm_mul_ps(dx, dx), dy2_4);
                const __m128 d = _mm_div_ps(_mm_sqrt_ps(d2), r);
                const __m128 near = _mm_sub_ps(one, _mm_mul_ps(_mm_mul_ps(s, d), d));
                k[g] = simd::select(_mm_cmpgt_ps(d, one), rim, near);
            }
            for (int g = 0; g < 2; ++g) {
                const __m128i in = simd::load4(px + 16 * g);
                const simd::Channels ch = simd::split(in);
                simd::store4(px + 16 * g,
                             simd::join_levels(scaled(ch.red, k[g]), scaled(ch.green, k[g]),
                                               scaled(ch.blue, k[g]), in));
            }
        };
#else
        const auto eight = [](unsigned char *) {};
#endif
#if defined(VELMORA_HAVE_AVX2)
        // The eight-pixel step above, with sets of eight.
        const auto sixteen = [&](unsigned char *px) VELMORA_AVX2 {
            const __m256 one8 = _mm256_set1_ps(1.0f), dy2_8 = _mm256_set1_ps(dy2);
            const __m256 s8 = _mm256_set1_ps(v.s), r8 = _mm256_set1_ps(v.r);
            const __m256 cx8 = _mm256_set1_ps(v.cx), rim8 = _mm256_set1_ps(v.rim);
            __m256i column =
                _mm256_add_epi32(_mm256_set1_epi32(x), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
            x += 16;
            __m256 k[2];
            for (int g = 0; g < 2; ++g) {
                const __m256 dx = _mm256_sub_ps(_mm256_cvtepi32_ps(column), cx8);
                column = _mm256_add_epi32(column, _mm256_set1_epi32(8));
                const __m256 d2 = _mm256_add_ps(_mm256_mul_ps(dx, dx), dy2_8);
                const __m256 d = _mm256_div_ps(_mm256_sqrt_ps(d2), r8);
                const __m256 near = _mm256_sub_ps(one8, _mm256_mul_ps(_mm256_mul_ps(s8, d), d));
                k[g] = simd8::select(simd8::cmpgt(d, one8), rim8, near);
            }
            for (int g = 0; g < 2; ++g) {
                const __m256i in = simd8::load8(px + 32 * g);
                const simd8::Channels ch = simd8::split(in);
                simd8::store8(px + 32 * g,
                              simd8::join_levels(scaled8(ch.red, k[g]), scaled8(ch.green, k[g]),
                                                 scaled8(ch.blue, k[g]), in));
            }
        };
#else
        const auto sixteen = [](unsigned char *) {};
#endif
        for_pixels_by_sixteen(p, static_cast<uint64_t>(img.width), isa, sixteen, eight,
                              [&](unsigned char *px) { darken_pixel(px, x++, dy2, v); });
    }
}

}  // namespace

int op_vignette(Image &img, int strength, int radius, Isa isa) {
    if (strength < 0 || strength > 100)
        return fail("vignette: strength %d out of range 0..100", strength);
    if (radius < 1 || radius > 100) return fail("vignette: radius %d out of range 1..100", radius);
    if (strength == 0) return 1;

    Pass v;
    v.s = static_cast<float>(strength) / 100.0f;
    const int shorter = img.width < img.height ? img.width : img.height;
    v.r = (static_cast<float>(radius) / 100.0f) * static_cast<float>(shorter);
    // Midway between the first and last pixel: between two pixels for even sizes.
    v.cx = static_cast<float>(img.width - 1) * 0.5f;
    v.cy = static_cast<float>(img.height - 1) * 0.5f;
    v.rim = 1.0f - v.s;

    darken(img, v, isa);
    return 1;
}

}  // namespace velmora
