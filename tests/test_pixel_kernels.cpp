// The fast passes of the per-pixel adjustments against the scalar reference,
// bit for bit: the fixed mappings and the HSV adjustments on the whole colour
// cube (every colour in release builds; a stride of it in sanitizer builds,
// see kernel_compare.h), vignette on every pixel of odd and even sizes.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "hsv.h"
#include "kernel_compare.h"
#include "simd.h"

using namespace vk;
using namespace velmora;

namespace {

TEST(FixedKernels, GrayscaleOnTheColourCube) {
    EXPECT_TRUE(same_on_colour_cube([](Image &i, Impl m) { return op_grayscale(i, m); }));
}

TEST(FixedKernels, SepiaOnTheColourCube) {
    EXPECT_TRUE(same_on_colour_cube([](Image &i, Impl m) { return op_sepia(i, m); }));
}

TEST(FixedKernels, InvertOnTheColourCube) {
    EXPECT_TRUE(same_on_colour_cube([](Image &i, Impl m) { return op_invert(i, m); }));
}

// One colour-cube comparison per parameter set, so that CTest can spread them.
class SaturationKernel : public testing::TestWithParam<int> {};

TEST_P(SaturationKernel, OnTheColourCube) {
    const int value = GetParam();
    EXPECT_TRUE(same_on_colour_cube([=](Image &i, Impl m) { return op_saturation(i, value, m); }));
}

INSTANTIATE_TEST_SUITE_P(Values, SaturationKernel,
                         testing::Values(-100, -99, -50, -1, 1, 50, 99, 100));

class HueKernel : public testing::TestWithParam<int> {};

TEST_P(HueKernel, OnTheColourCube) {
    const int degrees = GetParam();
    EXPECT_TRUE(same_on_colour_cube([=](Image &i, Impl m) { return op_hue(i, degrees, m); }));
}

// INT_MIN turns by 352 degrees.
INSTANTIATE_TEST_SUITE_P(Degrees, HueKernel,
                         testing::Values(1, 60, 90, 120, 180, 240, 359, INT_MIN));

struct SelectiveCase {
    const char *label;
    Selection selection;
};

void PrintTo(const SelectiveCase &c, std::ostream *os) { *os << c.label; }

class SelectiveKernel : public testing::TestWithParam<SelectiveCase> {};

TEST_P(SelectiveKernel, OnTheColourCube) {
    const Selection sel = GetParam().selection;
    EXPECT_TRUE(same_on_colour_cube([&](Image &i, Impl m) { return op_selective(i, sel, m); }));
}

// target hue, sat_min, hue_range, r1 r2 g1 g2 b1 b2
const SelectiveCase kSelections[] = {
    {"reds_no_floor", {0, 0, 30, {50, 0, 0, 0, 0, 0}}},
    {"band_across_zero_floor_50", {350, 50, 30, {-20, 10, 40, 0, 0, -70}}},
    {"negative_target_whole_circle", {-30, 0, 180, {0, 0, 0, 0, 20, 0}}},
    {"floor_100_narrowest_band", {10, 100, 1, {100, 100, -100, -100, 37, -12}}},
    {"full_sums_narrowest_band", {120, 50, 1, {-100, -100, 100, 100, 37, -12}}},
    {"floor_1_wide_band", {200, 1, 179, {3, 4, -5, -6, 7, 8}}},
    {"target_359_floor_99", {359, 99, 30, {60, 0, -60, 0, 0, 90}}},
    {"target_above_a_turn", {725, 25, 60, {-1, 0, 0, 1, 0, -1}}},
    {"no_adjustment", {0, 0, 180, {0, 0, 0, 0, 0, 0}}},
};

INSTANTIATE_TEST_SUITE_P(Selections, SelectiveKernel, testing::ValuesIn(kSelections),
                         [](const testing::TestParamInfo<SelectiveCase> &info) {
                             return std::string(info.param.label);
                         });

TEST(VignetteKernel, EveryPixelOfOddAndEvenSizes) {
    const int sizes[][2] = {{1, 1},    {2, 1},     {1, 2},   {3, 5},   {4, 4},
                            {5, 3},    {7, 8},     {8, 7},   {64, 48}, {101, 101},
                            {100, 50}, {333, 257}, {258, 3}, {3, 258}};
    for (const auto &size : sizes) {
        Pixels px(size[0], size[1]);
        for (int y = 0; y < size[1]; ++y)
            for (int x = 0; x < size[0]; ++x)
                px.set(static_cast<size_t>(y) * size[0] + x, (x * 7 + y * 3) & 255,
                       255 - ((x * 5 + y * 11) & 255), (x * y) & 255, (x + y) & 255);
        for (int strength : {1, 37, 50, 99, 100})
            for (int radius : {1, 2, 17, 50, 71, 99, 100})
                EXPECT_TRUE(same_bytes(
                    px, [=](Image &i, Impl m) { return op_vignette(i, strength, radius, m); }))
                    << size[0] << "x" << size[1] << ", strength " << strength << ", radius "
                    << radius;
    }
}

#if defined(VELMORA_HAVE_SSE2)
uint32_t bits(float x) {
    uint32_t u;
    std::memcpy(&u, &x, 4);
    return u;
}

// The colour model four at a time gives the very floats of the scalar one.
TEST(SimdHsv, RgbToHsvGivesTheScalarFloats) {
    alignas(16) int red[4], green[4], blue[4];
    alignas(16) float h[4], s[4], v[4];
    for (uint32_t c = 0; c < (1u << 24); c += 4 * kCubeStride) {
        for (int k = 0; k < 4; ++k) {
            const uint32_t colour = c + static_cast<uint32_t>(k) * kCubeStride;
            red[k] = static_cast<int>(colour >> 16);
            green[k] = static_cast<int>((colour >> 8) & 255);
            blue[k] = static_cast<int>(colour & 255);
        }
        const simd::Hsv4 got =
            simd::rgb_to_hsv4({_mm_load_si128(reinterpret_cast<const __m128i *>(red)),
                               _mm_load_si128(reinterpret_cast<const __m128i *>(green)),
                               _mm_load_si128(reinterpret_cast<const __m128i *>(blue))});
        _mm_store_ps(h, got.h);
        _mm_store_ps(s, got.s);
        _mm_store_ps(v, got.v);
        for (int k = 0; k < 4; ++k) {
            float eh, es, ev;
            rgb_to_hsv(red[k], green[k], blue[k], eh, es, ev);
            ASSERT_TRUE(bits(h[k]) == bits(eh) && bits(s[k]) == bits(es) && bits(v[k]) == bits(ev))
                << "(" << red[k] << ", " << green[k] << ", " << blue[k] << ")";
        }
    }
}

// Back to levels: hues across the turn, up to a full turn, which the scalar
// code wraps to 0 and the four-wide code takes as sector 6.
TEST(SimdHsv, HsvToRgbGivesTheScalarLevels) {
    std::vector<float> hues = {0.0f,
                               1.0f,
                               std::nextafter(1.0f, 0.0f),
                               1.0f / 6.0f,
                               std::nextafter(1.0f / 6.0f, 0.0f),
                               5.0f / 6.0f,
                               0.5f};
    for (int k = 1; k < 4096; ++k) hues.push_back(static_cast<float>(k) / 4096.0f);
    const float levels[] = {0.0f, 1.0f / 255.0f, 0.25f, 0.5f, 128.0f / 255.0f, 0.999f, 1.0f};
    for (float h : hues)
        for (float s : levels)
            for (float v : levels) {
                const simd::Channels got =
                    simd::hsv_to_rgb4(_mm_set1_ps(h), _mm_set1_ps(s), _mm_set1_ps(v));
                int r, g, b;
                hsv_to_rgb(h, s, v, r, g, b);
                ASSERT_EQ(_mm_cvtsi128_si32(got.red), r) << h << " " << s << " " << v;
                ASSERT_EQ(_mm_cvtsi128_si32(got.green), g) << h << " " << s << " " << v;
                ASSERT_EQ(_mm_cvtsi128_si32(got.blue), b) << h << " " << s << " " << v;
            }
}

// The fast hue turn wraps h + shift into [0, 1) without fmodf. The sums that
// occur lie in [0, 2); the two must agree on all of them: every float in
// [0.5, 2), and a stride of those below (where fmodf returns its argument).
TEST(HueWrap, AgreesWithFmodfOnZeroToTwo) {
    const auto wrap = [](float x) { return _mm_cvtss_f32(simd::wrap_turn(_mm_set1_ps(x))); };
    const uint32_t half = bits(0.5f), two = bits(2.0f);
    const uint32_t step_below = kCubeStride == 1 ? 997 : 99991;
    const uint32_t step_above = kCubeStride == 1 ? 1 : 101;
    for (uint32_t u = 0; u < two; u += u < half ? step_below : step_above) {
        float x;
        std::memcpy(&x, &u, 4);
        const float expected = std::fmod(x, 1.0f);
        ASSERT_EQ(bits(wrap(x)), bits(expected)) << x;
    }
}
#endif

}  // namespace
