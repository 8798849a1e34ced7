// The table pass against the scalar formula it is built from: every level of
// every channel, over grids of parameters that take in every boundary, the
// refused values included (both passes refuse and change nothing).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "kernel_compare.h"

using namespace vk;
using namespace velmora;

namespace {

// A small deterministic generator for parameter sets.
struct Lcg {
    uint32_t state;
    int below(int n) {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>((state >> 8) % static_cast<uint32_t>(n));
    }
};

TEST(TableKernels, BrightnessAndContrast) {
    const Pixels px = every_level();
    for (int v = -101; v <= 101; ++v) {
        EXPECT_TRUE(same_bytes(px, [v](Image &i, Isa m) { return op_brightness(i, v, m); }))
            << "brightness " << v;
        EXPECT_TRUE(same_bytes(px, [v](Image &i, Isa m) { return op_contrast(i, v, m); }))
            << "contrast " << v;
    }
}

TEST(TableKernels, Gamma) {
    const Pixels px = every_level();
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> gammas = {0.1f,
                                 std::nextafter(0.1f, 0.0f),
                                 std::nextafter(0.1f, 1.0f),
                                 5.0f,
                                 std::nextafter(5.0f, 6.0f),
                                 std::nextafter(5.0f, 0.0f),
                                 1.0f,
                                 std::nextafter(1.0f, 0.0f),
                                 std::nextafter(1.0f, 2.0f),
                                 0.0f,
                                 -1.0f,
                                 inf,
                                 std::numeric_limits<float>::quiet_NaN()};
    for (int k = 0; k <= 490; ++k) gammas.push_back(0.1f + 0.01f * static_cast<float>(k));
    for (float g : gammas)
        EXPECT_TRUE(same_bytes(px, [g](Image &i, Isa m) { return op_gamma(i, g, m); }))
            << "gamma " << g;
}

TEST(TableKernels, LevelsEveryBlackAndWhitePoint) {
    const Pixels px = every_level();
    for (int black = -1; black <= 256; ++black)
        for (int white = -1; white <= 256; ++white)
            ASSERT_TRUE(same_bytes(
                px, [=](Image &i, Isa m) { return op_levels(i, black, white, 1.0f, m); }))
                << "levels " << black << " " << white;
}

TEST(TableKernels, LevelsWithGamma) {
    const Pixels px = every_level();
    const float gammas[] = {0.1f, 0.25f, 0.5f, 0.9f, 1.1f, 2.2f, 5.0f, 0.09f, 5.01f};
    for (int black : {0, 1, 16, 50, 127, 200, 254})
        for (int white : {black + 1, black + 2, 128, 235, 255})
            for (float g : gammas)
                EXPECT_TRUE(same_bytes(
                    px, [=](Image &i, Isa m) { return op_levels(i, black, white, g, m); }))
                    << "levels " << black << " " << white << " " << g;
}

TEST(TableKernels, Curves) {
    const Pixels px = every_level();
    struct Curve {
        std::vector<int> xs, ys;
        int per_channel;
    };
    std::vector<Curve> curves = {
        {{0, 255}, {0, 255}, 0},
        {{0, 255}, {255, 0}, 0},
        {{64, 192}, {0, 255}, 0},
        {{0, 2}, {0, 1}, 0},
        {{0, 128, 255}, {0, 200, 255}, 0},
        {{0, 128, 255}, {0, 255, 0}, 0},
        {{0, 64, 128, 255}, {0, 0, 255, 255}, 0},
        {{0, 64, 128, 136}, {64, 128, 255, 255}, 0},
        {{0, 255, 0, 255, 0, 255}, {0, 255, 255, 0, 0, 255}, 3},
        // Refused: a point out of range, x levels not increasing.
        {{0, 256}, {0, 255}, 0},
        {{0, 0}, {0, 255}, 0},
        {{0, 255, 0, 255, 10, 10}, {0, 255, 0, 255, 0, 255}, 3},
    };
    Lcg lcg{7};
    for (int n = 0; n < 300; ++n) {
        const int per_channel = n % 2 ? 3 : 0;
        const int count = 2 + lcg.below(63);
        Curve c{{}, {}, per_channel};
        for (int curve = 0; curve < (per_channel ? 3 : 1); ++curve) {
            // count distinct x levels, increasing
            std::vector<bool> used(256, false);
            for (int k = 0; k < count;) {
                const int x = lcg.below(256);
                if (!used[x]) used[x] = true, ++k;
            }
            for (int x = 0; x < 256; ++x)
                if (used[x]) c.xs.push_back(x);
            for (int k = 0; k < count; ++k) c.ys.push_back(lcg.below(256));
        }
        curves.push_back(c);
    }
    for (const Curve &c : curves) {
        const int count = static_cast<int>(c.per_channel ? c.xs.size() / 3 : c.xs.size());
        const CurveSpec curve{count, c.xs.data(), c.ys.data(), c.per_channel};
        EXPECT_TRUE(same_bytes(px, [&](Image &i, Isa m) { return op_curves(i, curve, m); }))
            << "curve of " << count << " points, mode " << c.per_channel << ", first x " << c.xs[0];
    }
}

TEST(TableKernels, AutoLevels) {
    // Per channel the span of values present, from one value to all 256.
    const int spans[][2] = {{0, 255}, {0, 0},   {255, 255}, {10, 20}, {50, 200},
                            {0, 3},   {1, 254}, {128, 129}, {17, 17}, {0, 1}};
    for (const auto &r : spans)
        for (const auto &g : spans)
            for (const auto &b : {spans[1], spans[4], spans[6]}) {
                Pixels px(299, 1);
                for (int k = 0; k < 299; ++k)
                    px.set(k, r[0] + k % (r[1] - r[0] + 1), g[1] - k % (g[1] - g[0] + 1),
                           b[0] + (k * 7) % (b[1] - b[0] + 1), k & 255);
                EXPECT_TRUE(same_bytes(px, [](Image &i, Isa m) { return op_auto_levels(i, m); }))
                    << "red " << r[0] << ".." << r[1] << ", green " << g[0] << ".." << g[1]
                    << ", blue " << b[0] << ".." << b[1];
            }
}

TEST(TableKernels, AutoLevelsFindsExtremesAnywhere) {
    // Seven pixels: the fast pass takes four together and the last three one
    // by one; each extreme sits once in either part.
    for (int at = 0; at < 7; ++at) {
        Pixels px(7, 1);
        for (int k = 0; k < 7; ++k) px.set(k, 100, 100, 100, 0);
        px.set(at, 3, 250, 100, 255);
        px.set((at + 3) % 7, 200, 60, 101, 255);
        EXPECT_TRUE(same_bytes(px, [](Image &i, Isa m) { return op_auto_levels(i, m); }))
            << "extremes at " << at << " and " << (at + 3) % 7;
    }
}

TEST(TableKernels, Colorize) {
    const Pixels px = every_level();
    const int levels[] = {0, 1, 127, 128, 254, 255};
    for (int r : levels)
        for (int g : levels)
            for (int b : levels)
                for (int a : {0, 1, 33, 50, 99, 100})
                    EXPECT_TRUE(same_bytes(
                        px, [=](Image &i, Isa m) { return op_colorize(i, r, g, b, a, m); }))
                        << "colorize " << r << " " << g << " " << b << " " << a;
    for (int a = -1; a <= 101; ++a)
        EXPECT_TRUE(
            same_bytes(px, [=](Image &i, Isa m) { return op_colorize(i, 255, 128, 0, a, m); }))
            << "colorize intensity " << a;
    for (int bad : {-1, 256})
        EXPECT_TRUE(
            same_bytes(px, [=](Image &i, Isa m) { return op_colorize(i, 0, bad, 0, 50, m); }))
            << "colorize green " << bad;
}

TEST(TableKernels, WhiteBalance) {
    const Pixels px = every_level();
    for (int t = -51; t <= 51; ++t)
        EXPECT_TRUE(same_bytes(px, [t](Image &i, Isa m) { return op_white_balance(i, t, m); }))
            << "white balance " << t;
}

TEST(TableKernels, ColorBalance) {
    const Pixels px = every_level();
    std::vector<Balance> sets = {Balance{}};
    // Each value alone, at its ends, next to them and in between; then
    // refused ones.
    for (int k = 0; k < 9; ++k)
        for (int v : {-100, -99, -50, -1, 1, 50, 99, 100, 101, -101}) {
            Balance b{};
            (k < 3 ? b.shadows : k < 6 ? b.midtones : b.highlights)[k % 3] = v;
            sets.push_back(b);
        }
    Lcg lcg{11};
    for (int n = 0; n < 300; ++n) {
        Balance b;
        for (int k = 0; k < 3; ++k) {
            b.shadows[k] = lcg.below(201) - 100;
            b.midtones[k] = lcg.below(201) - 100;
            b.highlights[k] = lcg.below(201) - 100;
        }
        sets.push_back(b);
    }
    for (const Balance &b : sets)
        EXPECT_TRUE(same_bytes(px, [&](Image &i, Isa m) { return op_color_balance(i, b, m); }))
            << "color balance " << b.shadows[0] << " " << b.shadows[1] << " " << b.shadows[2]
            << " / " << b.midtones[0] << " " << b.midtones[1] << " " << b.midtones[2] << " / "
            << b.highlights[0] << " " << b.highlights[1] << " " << b.highlights[2];
}

}  // namespace
