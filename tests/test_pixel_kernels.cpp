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
#include "colour_lanes_probe.h"
#include "lanes.h"

using namespace vk;
using namespace velmora;

namespace {

// A signed case value as a test name: -100 as "minus100".
std::string signed_label(int v) {
    return v < 0 ? "minus" + std::to_string(-static_cast<long long>(v)) : std::to_string(v);
}

struct FixedCase {
    const char *label;
    int (*run)(Image &, Isa);
};

void PrintTo(const FixedCase &c, std::ostream *os) { *os << c.label; }

class FixedKernel : public EachFastPass<FixedCase> {};

TEST_P(FixedKernel, OnTheColourCube) {
    EXPECT_TRUE(same_on_colour_cube(param().run, fast()));
}

const FixedCase kFixed[] = {
    {"grayscale", [](Image &i, Isa m) { return op_grayscale(i, m); }},
    {"sepia", [](Image &i, Isa m) { return op_sepia(i, m); }},
    {"invert", [](Image &i, Isa m) { return op_invert(i, m); }},
};

INSTANTIATE_TEST_SUITE_P(Mappings, FixedKernel,
                         testing::Combine(testing::ValuesIn(kFastIsas), testing::ValuesIn(kFixed)),
                         pass_and<FixedCase>([](const FixedCase &c) { return c.label; }));

// One colour-cube comparison per pass and parameter, so that CTest can spread them.
class SaturationKernel : public EachFastPass<int> {};

TEST_P(SaturationKernel, OnTheColourCube) {
    const int value = param();
    EXPECT_TRUE(
        same_on_colour_cube([=](Image &i, Isa m) { return op_saturation(i, value, m); }, fast()));
}

INSTANTIATE_TEST_SUITE_P(Values, SaturationKernel,
                         testing::Combine(testing::ValuesIn(kFastIsas),
                                          testing::Values(-100, -99, -50, -1, 1, 50, 99, 100)),
                         pass_and<int>(signed_label));

class HueKernel : public EachFastPass<int> {};

TEST_P(HueKernel, OnTheColourCube) {
    const int degrees = param();
    EXPECT_TRUE(
        same_on_colour_cube([=](Image &i, Isa m) { return op_hue(i, degrees, m); }, fast()));
}

// INT_MIN turns by 352 degrees.
INSTANTIATE_TEST_SUITE_P(Degrees, HueKernel,
                         testing::Combine(testing::ValuesIn(kFastIsas),
                                          testing::Values(1, 60, 90, 120, 180, 240, 359, INT_MIN)),
                         pass_and<int>(signed_label));

struct ReplaceCase {
    const char *label;
    Replacement replacement;
};

void PrintTo(const ReplaceCase &c, std::ostream *os) { *os << c.label; }

class ReplaceKernel : public EachFastPass<ReplaceCase> {};

TEST_P(ReplaceKernel, OnTheColourCube) {
    const Replacement rep = param().replacement;
    EXPECT_TRUE(same_on_colour_cube([&](Image &i, Isa m) { return op_replace(i, rep, m); }, fast()));
}

// from, to, tolerance: exact matches only, the widest tolerance, a colour
// in a corner of the cube, and a refused one (both passes refuse alike).
const ReplaceCase kReplacements[] = {
    {"exact_grey", {{128, 128, 128}, {255, 0, 0}, 0}},
    {"near_orange", {{230, 120, 20}, {10, 200, 250}, 40}},
    {"widest_from_black", {{0, 0, 0}, {1, 2, 3}, 255}},
    {"white_corner", {{255, 255, 255}, {0, 0, 0}, 254}},
    {"refused_tolerance", {{1, 2, 3}, {4, 5, 6}, 256}},
};

INSTANTIATE_TEST_SUITE_P(Cases, ReplaceKernel,
                         testing::Combine(testing::ValuesIn(kFastIsas),
                                          testing::ValuesIn(kReplacements)),
                         pass_and<ReplaceCase>([](const ReplaceCase &c) { return c.label; }));

struct SelectiveCase {
    const char *label;
    Selection selection;
};

void PrintTo(const SelectiveCase &c, std::ostream *os) { *os << c.label; }

class SelectiveKernel : public EachFastPass<SelectiveCase> {};

TEST_P(SelectiveKernel, OnTheColourCube) {
    const Selection sel = param().selection;
    EXPECT_TRUE(
        same_on_colour_cube([&](Image &i, Isa m) { return op_selective(i, sel, m); }, fast()));
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

INSTANTIATE_TEST_SUITE_P(Selections, SelectiveKernel,
                         testing::Combine(testing::ValuesIn(kFastIsas),
                                          testing::ValuesIn(kSelections)),
                         pass_and<SelectiveCase>([](const SelectiveCase &c) { return c.label; }));

// Every pixel of sizes around the groups of eight and sixteen, one strength per test.
class VignetteKernel : public EachFastPass<int> {};

TEST_P(VignetteKernel, EveryPixelOfOddAndEvenSizes) {
    const int sizes[][2] = {{1, 1},   {2, 1},    {1, 2},     {3, 5},    {4, 4},   {5, 3},
                            {7, 8},   {8, 7},    {15, 2},    {16, 3},   {17, 4},  {31, 5},
                            {64, 48}, {101, 101}, {100, 50}, {333, 257}, {258, 3}, {3, 258}};
    const int strength = param();
    for (const auto &size : sizes) {
        Pixels px(size[0], size[1]);
        for (int y = 0; y < size[1]; ++y)
            for (int x = 0; x < size[0]; ++x)
                px.set(static_cast<size_t>(y) * size[0] + x, (x * 7 + y * 3) & 255,
                       255 - ((x * 5 + y * 11) & 255), (x * y) & 255, (x + y) & 255);
        for (int radius : {1, 2, 17, 50, 71, 99, 100})
            EXPECT_TRUE(same_bytes(
                px, [=](Image &i, Isa m) { return op_vignette(i, strength, radius, m); }, fast()))
                << size[0] << "x" << size[1] << ", strength " << strength << ", radius " << radius;
    }
}

INSTANTIATE_TEST_SUITE_P(Strengths, VignetteKernel,
                         testing::Combine(testing::ValuesIn(kFastIsas),
                                          testing::Values(1, 37, 50, 99, 100)),
                         pass_and<int>(signed_label));

#if defined(VELMORA_HAVE_SSE2)
uint32_t bits(float x) {
    uint32_t u;
    std::memcpy(&u, &x, 4);
    return u;
}

class LaneHsv : public testing::TestWithParam<Isa> {
protected:
    void SetUp() override {
        if (!isa_available(GetParam()))
            GTEST_SKIP() << "this processor cannot run the " << isa_name(GetParam()) << " pass";
#if !defined(VELMORA_HAVE_AVX2)
        if (GetParam() == Isa::avx2) GTEST_SKIP() << "built without AVX2 code";
#endif
    }
    const LaneProbe &helpers() const {
#if defined(VELMORA_HAVE_AVX2)
        if (GetParam() == Isa::avx2) return avx2_lane_probe();
#endif
        return ProbeOf<Sse2Lanes>::probe;
    }
};

// The colour model eight at a time gives the very floats of the scalar one.
TEST_P(LaneHsv, RgbToHsvGivesTheScalarFloats) {
    int red[8], green[8], blue[8];
    float h[8], s[8], v[8];
    for (uint32_t c = 0; c < (1u << 24); c += 8 * kCubeStride) {
        for (int k = 0; k < 8; ++k) {
            const uint32_t colour = (c + static_cast<uint32_t>(k) * kCubeStride) & 0xFFFFFFu;
            red[k] = static_cast<int>(colour >> 16);
            green[k] = static_cast<int>((colour >> 8) & 255);
            blue[k] = static_cast<int>(colour & 255);
        }
        helpers().rgb_to_hsv(red, green, blue, h, s, v, 8);
        for (int k = 0; k < 8; ++k) {
            float eh, es, ev;
            rgb_to_hsv(red[k], green[k], blue[k], eh, es, ev);
            ASSERT_TRUE(bits(h[k]) == bits(eh) && bits(s[k]) == bits(es) && bits(v[k]) == bits(ev))
                << "(" << red[k] << ", " << green[k] << ", " << blue[k] << ")";
        }
    }
}

// Back to levels: hues across the turn, up to a full turn, which the scalar
// code wraps to 0 and the wide code takes as sector 6.
TEST_P(LaneHsv, HsvToRgbGivesTheScalarLevels) {
    std::vector<float> hues = {0.0f,
                               1.0f,
                               std::nextafter(1.0f, 0.0f),
                               1.0f / 6.0f,
                               std::nextafter(1.0f / 6.0f, 0.0f),
                               5.0f / 6.0f,
                               0.5f};
    for (int k = 1; k < 4096; ++k) hues.push_back(static_cast<float>(k) / 4096.0f);
    const float levels[] = {0.0f, 1.0f / 255.0f, 0.25f, 0.5f, 128.0f / 255.0f, 0.999f, 1.0f};
    std::vector<float> hs, ss, vs;
    for (float h : hues)
        for (float s : levels)
            for (float v : levels) {
                hs.push_back(h);
                ss.push_back(s);
                vs.push_back(v);
            }
    while (hs.size() % 8 != 0) {  // whole groups of eight
        hs.push_back(0.5f);
        ss.push_back(0.5f);
        vs.push_back(0.5f);
    }
    int r[8], g[8], b[8];
    for (size_t i = 0; i < hs.size(); i += 8) {
        helpers().hsv_to_rgb(&hs[i], &ss[i], &vs[i], r, g, b, 8);
        for (size_t k = 0; k < 8; ++k) {
            int er, eg, eb;
            hsv_to_rgb(hs[i + k], ss[i + k], vs[i + k], er, eg, eb);
            ASSERT_TRUE(r[k] == er && g[k] == eg && b[k] == eb)
                << hs[i + k] << " " << ss[i + k] << " " << vs[i + k] << " in lane " << k;
        }
    }
}

// The fast hue turn wraps h + shift into [0, 1) without fmodf. The sums that
// occur lie in [0, 2); the two must agree on all of them: every float in
// [0.5, 2), and a stride of those below (where fmodf returns its argument).
TEST_P(LaneHsv, HueWrapAgreesWithFmodfOnZeroToTwo) {
    const uint32_t half = bits(0.5f), two = bits(2.0f);
    const uint32_t step_below = kCubeStride == 1 ? 997 : 99991;
    const uint32_t step_above = kCubeStride == 1 ? 1 : 101;
    float x[8], wrapped[8];
    int n = 0;
    const auto check = [&] {
        helpers().wrap_turn(x, wrapped, 8);
        for (int k = 0; k < n; ++k)
            if (bits(wrapped[k]) != bits(std::fmod(x[k], 1.0f)))
                return testing::AssertionFailure() << x[k];
        n = 0;
        return testing::AssertionSuccess();
    };
    for (uint32_t u = 0; u < two; u += u < half ? step_below : step_above) {
        std::memcpy(&x[n++], &u, 4);
        if (n == 8) {
            ASSERT_TRUE(check());
        }
    }
    for (int k = n; k < 8; ++k) x[k] = 0.0f;
    ASSERT_TRUE(check());
}

INSTANTIATE_TEST_SUITE_P(Passes, LaneHsv, testing::ValuesIn(kFastIsas),
                         [](const testing::TestParamInfo<Isa> &info) {
                             return std::string(isa_name(info.param));
                         });
#endif

}  // namespace
