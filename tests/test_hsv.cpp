// The colour model on its own: exact values, the wrap of h, and the round
// trip of every 8-bit colour.
#include <gtest/gtest.h>

#include <climits>

#include "hsv.h"

using velmora::hsv_to_rgb;
using velmora::rgb_to_hsv;

namespace {

struct Hsv {
    float h, s, v;
};

Hsv to_hsv(int r, int g, int b) {
    Hsv c{-1.0f, -1.0f, -1.0f};
    rgb_to_hsv(r, g, b, c.h, c.s, c.v);
    return c;
}

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
};

std::ostream &operator<<(std::ostream &os, const Rgb &c) {
    return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

Rgb to_rgb(float h, float s, float v) {
    Rgb c{-999, -999, -999};
    hsv_to_rgb(h, s, v, c.r, c.g, c.b);
    return c;
}

TEST(RgbToHsv, KnownColours) {
    struct Case {
        int r, g, b;
        float h, s, v;
    };
    const Case cases[] = {
        {255, 0, 0, 0.0f, 1.0f, 1.0f},
        {0, 0, 0, 0.0f, 0.0f, 0.0f},
        {255, 255, 255, 0.0f, 0.0f, 1.0f},
        {128, 128, 128, 0.0f, 0.0f, 128.0f / 255.0f},
        {200, 100, 50, 1.0f / 18.0f, 0.75f, 200.0f / 255.0f},
        {0, 255, 0, 1.0f / 3.0f, 1.0f, 1.0f},
        {0, 0, 255, 2.0f / 3.0f, 1.0f, 1.0f},
        // Ties for the largest channel.
        {255, 255, 0, 1.0f / 6.0f, 1.0f, 1.0f},
        {0, 255, 255, 0.5f, 1.0f, 1.0f},
        {255, 0, 255, 5.0f / 6.0f, 1.0f, 1.0f},
        {100, 100, 20, 1.0f / 6.0f, 0.8f, 100.0f / 255.0f},
        // Red largest with green and blue equal: no wrap to a full turn.
        {255, 128, 128, 0.0f, 127.0f / 255.0f, 1.0f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "(" << c.r << ", " << c.g << ", " << c.b << ")");
        const Hsv got = to_hsv(c.r, c.g, c.b);
        EXPECT_FLOAT_EQ(got.h, c.h);
        EXPECT_FLOAT_EQ(got.s, c.s);
        EXPECT_FLOAT_EQ(got.v, c.v);
    }
}

TEST(RgbToHsv, PrimaryAndSecondaryHuesAreExact) {
    EXPECT_EQ(to_hsv(255, 0, 0).h, 0.0f);
    EXPECT_EQ(to_hsv(255, 128, 128).h, 0.0f);
    EXPECT_EQ(to_hsv(255, 255, 0).h, 1.0f / 6.0f);
    EXPECT_EQ(to_hsv(0, 255, 255).h, 0.5f);
    EXPECT_EQ(to_hsv(255, 0, 255).h, 5.0f / 6.0f);
}

TEST(HsvToRgb, HueWrapsIntoOneTurn) {
    struct Case {
        float h;
        Rgb expected;
    };
    const Case cases[] = {
        {0.25f, {128, 255, 0}},
        {1.25f, {128, 255, 0}},
        {-0.25f, {128, 0, 255}},
        {0.75f, {128, 0, 255}},
        {1.0f, {255, 0, 0}},
        {-1.0f, {255, 0, 0}},
        {3.5f, {0, 255, 255}},
        // Adding 1 rounds to exactly 1: the sixth sector is the first.
        {-1e-9f, {255, 0, 0}},
        // f * 6 rounds up to 6.
        {1.0f - 1.0f / 16777216.0f, {255, 0, 0}},
    };
    for (const Case &c : cases) EXPECT_EQ(to_rgb(c.h, 1.0f, 1.0f), c.expected) << "h " << c.h;
}

TEST(HsvToRgb, EveryGreyLevelComesBack) {
    for (int k = 0; k < 256; ++k) {
        const float v = static_cast<float>(k) / 255.0f;
        for (float h : {0.0f, 0.3f, 0.5f, 0.99f, -0.7f})
            ASSERT_EQ(to_rgb(h, 0.0f, v), (Rgb{k, k, k})) << "k " << k << " h " << h;
    }
}

TEST(HsvToRgb, ResultsAreNotClamped) {
    EXPECT_EQ(to_rgb(0.0f, 0.0f, 2.0f), (Rgb{510, 510, 510}));
    // Negative levels truncate toward zero.
    EXPECT_EQ(to_rgb(0.0f, 2.0f, 1.0f), (Rgb{255, -254, -254}));
}

TEST(HsvModel, EveryColourRoundTrips) {
    // Plain comparisons in the loop keep 16.7 million colours quick in debug builds.
    for (int c = 0; c < (1 << 24); ++c) {
        const int r = c >> 16, g = (c >> 8) & 255, b = c & 255;
        const Hsv hsv = to_hsv(r, g, b);
        const int max = r > g ? (r > b ? r : b) : (g > b ? g : b);
        const bool in_range = hsv.h >= 0.0f && hsv.h < 1.0f && hsv.s >= 0.0f && hsv.s <= 1.0f;
        const bool grey_iff_unsaturated = (hsv.s == 0.0f) == (r == g && g == b);
        // A division by 255, not a multiplication by its reciprocal.
        const bool value_exact = hsv.v == static_cast<float>(max) / 255.0f;
        const Rgb back = to_rgb(hsv.h, hsv.s, hsv.v);
        if (!in_range || !grey_iff_unsaturated || !value_exact || !(back == Rgb{r, g, b})) {
            FAIL() << "(" << r << ", " << g << ", " << b << ") -> h " << hsv.h << " s " << hsv.s
                   << " v " << hsv.v << " -> " << back;
        }
    }
}

}  // namespace
