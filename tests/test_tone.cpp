// Brightness, contrast, gamma, levels, auto levels and vignette: exact levels,
// accepted and refused parameters, their messages, and when they are checked.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "level_cases.h"
#include "support.h"
#include "velmora.h"

using namespace vt;

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

struct LevelTable {
    const char *label;
    Call call;
    std::vector<Level> levels;
};

void run_tables(const std::vector<LevelTable> &tables) {
    for (const LevelTable &t : tables) {
        SCOPED_TRACE(t.label);
        expect_levels(t.call, t.levels);
    }
}

Call brightness(int v) {
    return [v](const char *i, const char *o) { return velmora_brightness(i, o, v); };
}
Call contrast(int v) {
    return [v](const char *i, const char *o) { return velmora_contrast(i, o, v); };
}
Call gamma(float g) {
    return [g](const char *i, const char *o) { return velmora_gamma(i, o, g); };
}
Call levels(int black, int white, float g) {
    return [=](const char *i, const char *o) { return velmora_levels(i, o, black, white, g); };
}
Call vignette(int strength, int radius) {
    return [=](const char *i, const char *o) { return velmora_vignette(i, o, strength, radius); };
}

// A parameter refused after decoding: exact message, no output file.
struct Refusal {
    Call call;
    std::string message;
};

void expect_refusals(const std::vector<Refusal> &cases) {
    Sandbox box;
    const std::string in = box.path("in.png"), out = box.path("out.png");
    write_png(in, gradient(5, 4));
    for (const Refusal &c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(c.call(in.c_str(), out.c_str()), 0);
        EXPECT_EQ(last_error(), c.message);
        EXPECT_FALSE(file_exists(out));
    }
}

// ---- neutral settings --------------------------------------------------------

TEST(Tone, NeutralSettingsKeepEveryPixelAndStillWrite) {
    const Picture pic = gradient(19, 11);
    const struct {
        const char *label;
        Call call;
    } cases[] = {
        {"brightness 0", brightness(0)},
        {"contrast 0", contrast(0)},
        {"gamma 1", gamma(1.0f)},
        {"levels 0 255 1", levels(0, 255, 1.0f)},
        {"vignette strength 0", vignette(0, 50)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(adjusted(pic, c.call).px, pic.px);
    }
    run_tables({{"brightness 0", brightness(0), identity_levels()},
                {"contrast 0", contrast(0), identity_levels()},
                {"gamma 1", gamma(1.0f), identity_levels()},
                {"levels 0 255 1", levels(0, 255, 1.0f), identity_levels()}});
}

// ---- brightness ----------------------------------------------------------------

TEST(Brightness, OffsetIsTruncatedAndClamped) {
    run_tables({
        {"+1", brightness(1), {{0, 2}, {100, 102}, {253, 255}, {254, 255}, {255, 255}}},
        {"-1", brightness(-1), {{0, 0}, {1, 0}, {2, 0}, {3, 1}, {100, 98}}},
        {"+33", brightness(33), {{0, 84}, {100, 184}, {171, 255}, {170, 254}}},
        {"-33", brightness(-33), {{84, 0}, {85, 1}, {255, 171}}},
        {"+50", brightness(50), {{0, 127}, {127, 254}, {128, 255}}},
        {"-50", brightness(-50), {{127, 0}, {128, 1}, {255, 128}}},
        {"+100", brightness(100), {{0, 255}, {1, 255}, {128, 255}, {255, 255}}},
        {"-100", brightness(-100), {{0, 0}, {128, 0}, {254, 0}, {255, 0}}},
        {"+4", brightness(4), {{250, 255}, {3, 13}, {245, 255}, {244, 254}}},
    });
}

TEST(Brightness, ValueOutsideRangeIsRefused) {
    expect_refusals({
        {brightness(101), "brightness: value 101 out of range -100..+100"},
        {brightness(-101), "brightness: value -101 out of range -100..+100"},
        {brightness(INT_MAX), "brightness: value 2147483647 out of range -100..+100"},
        {brightness(INT_MIN), "brightness: value -2147483648 out of range -100..+100"},
    });
}

// ---- contrast ------------------------------------------------------------------

TEST(Contrast, DistanceFromMiddleIsScaled) {
    run_tables({
        {"-100", contrast(-100), {{0, 128}, {1, 128}, {127, 128}, {200, 128}, {255, 128}}},
        {"+100",
         contrast(100),
         {{0, 0}, {64, 0}, {127, 126}, {128, 128}, {129, 130}, {192, 255}, {255, 255}}},
        {"+50", contrast(50), {{64, 32}, {200, 236}, {254, 255}, {128, 128}}},
        {"-50", contrast(-50), {{0, 64}, {255, 192}, {127, 128}, {129, 129}, {130, 129}}},
    });
}

TEST(Contrast, ValueOutsideRangeIsRefused) {
    expect_refusals({
        {contrast(-101), "contrast: value -101 out of range -100..+100"},
        {contrast(101), "contrast: value 101 out of range -100..+100"},
        {contrast(INT_MIN), "contrast: value -2147483648 out of range -100..+100"},
    });
}

// ---- gamma ---------------------------------------------------------------------

TEST(Gamma, PowerTableValues) {
    run_tables({
        {"2.0", gamma(2.0f), {{0, 0}, {1, 16}, {64, 128}, {128, 181}, {255, 255}}},
        {"0.5", gamma(0.5f), {{0, 0}, {64, 16}, {128, 64}, {255, 255}}},
        {"0.1 (lowest)", gamma(0.1f), {{0, 0}, {128, 0}, {254, 245}, {255, 255}}},
        {"5.0 (highest)", gamma(5.0f), {{0, 0}, {1, 84}, {128, 222}, {255, 255}}},
        // Where a power taken in single precision would round to 218.
        {"1.35", gamma(1.35f), {{207, 219}}},
    });
}

TEST(Gamma, OutsideRangeOrNaNIsRefused) {
    expect_refusals({
        {gamma(0.09f), "gamma: 0.09 out of range 0.1..5.0"},
        {gamma(5.01f), "gamma: 5.01 out of range 0.1..5.0"},
        {gamma(0.0f), "gamma: 0 out of range 0.1..5.0"},
        {gamma(-1.0f), "gamma: -1 out of range 0.1..5.0"},
        {gamma(kNaN), "gamma: nan out of range 0.1..5.0"},
        {gamma(-kNaN), "gamma: nan out of range 0.1..5.0"},
        {gamma(kInf), "gamma: inf out of range 0.1..5.0"},
        // The floats next to the bounds: "%g" shows them as the bounds themselves.
        {gamma(std::nextafter(0.1f, 0.0f)), "gamma: 0.1 out of range 0.1..5.0"},
        {gamma(std::nextafter(5.0f, 6.0f)), "gamma: 5 out of range 0.1..5.0"},
    });
}

// ---- levels --------------------------------------------------------------------

TEST(Levels, TableValues) {
    run_tables({
        {"16 235 1.0",
         levels(16, 235, 1.0f),
         {{0, 0}, {15, 0}, {16, 0}, {17, 1}, {125, 127}, {234, 254}, {235, 255}, {255, 255}}},
        {"50 200 1.0", levels(50, 200, 1.0f), {{50, 0}, {51, 2}, {125, 128}, {199, 253}, {200, 255}}},
        // 3 -> 42, not 43: the 32-bit steps land just below the halfway point.
        {"1 13 1.0",
         levels(1, 13, 1.0f),
         {{0, 0}, {1, 0}, {2, 21}, {3, 42}, {7, 128}, {12, 234}, {13, 255}}},
        {"0 255 2.0", levels(0, 255, 2.0f), {{1, 16}, {127, 180}}},
        {"0 255 0.1", levels(0, 255, 0.1f), {{127, 0}, {254, 245}, {255, 255}}},
        {"0 255 5.0", levels(0, 255, 5.0f), {{0, 0}, {255, 255}}},
        {"64 192 0.5", levels(64, 192, 0.5f), {{64, 0}, {65, 0}, {128, 64}, {191, 251}, {192, 255}}},
        {"0 1 1.0", levels(0, 1, 1.0f), {{0, 0}, {1, 255}, {128, 255}, {255, 255}}},
        {"254 255 1.0", levels(254, 255, 1.0f), {{0, 0}, {128, 0}, {254, 0}, {255, 255}}},
    });
}

TEST(Levels, RefusalsInTheirOrder) {
    const std::string range = "levels: black/white point out of range 0..255";
    const std::string order = "levels: white point must be > black point";
    expect_refusals({
        {levels(-1, 255, 1.0f), range},
        {levels(0, 256, 1.0f), range},
        {levels(INT_MIN, INT_MAX, 1.0f), range},
        {levels(-1, 255, 0.0f), range},    // before the gamma
        {levels(300, 100, kNaN), range},   // before the order
        {levels(100, 100, 1.0f), order},
        {levels(200, 100, 10.0f), order},  // before the gamma
        {levels(0, 255, 0.09f), "levels: gamma 0.09 out of range 0.1..5.0"},
        {levels(0, 255, 5.01f), "levels: gamma 5.01 out of range 0.1..5.0"},
        {levels(0, 255, kNaN), "levels: gamma nan out of range 0.1..5.0"},
    });
}

// ---- auto levels ---------------------------------------------------------------

TEST(AutoLevels, EachChannelIsStretchedOverItsOwnSpan) {
    // R spans 50..200, G 0..3, B 10..20; alpha is varied, 0 included.
    const Picture in = row_of({rgb(50, 0, 10, 255), rgb(51, 1, 11, 0), rgb(125, 2, 13, 128),
                               rgb(175, 3, 20, 7), rgb(200, 3, 20, 255)});
    const Picture got = adjusted(in, velmora_auto_levels);
    EXPECT_EQ(got.px, (std::vector<Rgba>{rgb(0, 0, 0, 255), rgb(2, 85, 26, 0),
                                         rgb(128, 170, 77, 128), rgb(213, 255, 255, 7),
                                         rgb(255, 255, 255, 255)}));
}

TEST(AutoLevels, ChannelsWithOneValueOrFullSpanStayAsTheyAre) {
    // Blue all black and green one level everywhere: untouched; red stretched.
    const Picture in = row_of({rgb(100, 77, 0), rgb(150, 77, 0, 3), rgb(200, 77, 0)});
    EXPECT_EQ(adjusted(in, velmora_auto_levels).px,
              (std::vector<Rgba>{rgb(0, 77, 0), rgb(128, 77, 0, 3), rgb(255, 77, 0)}));

    const Picture one = filled(6, 5, rgb(90, 20, 240, 60));
    EXPECT_EQ(adjusted(one, velmora_auto_levels).px, one.px);

    expect_levels(velmora_auto_levels, identity_levels());
}

TEST(AutoLevels, TransparentPixelsCount) {
    // The invisible 10 sets the low end: 15 sits halfway, 127.5 rounds up.
    const Picture in = row_of({rgb(10, 10, 10, 0), rgb(15, 15, 15), rgb(20, 20, 20)});
    EXPECT_EQ(adjusted(in, velmora_auto_levels).px,
              (std::vector<Rgba>{rgb(0, 0, 0, 0), rgb(128, 128, 128), rgb(255, 255, 255)}));
}

// ---- vignette ------------------------------------------------------------------

TEST(Vignette, FactorFallsWithSquaredDistance) {
    const Picture pic = filled(101, 101, rgb(200, 100, 50, 77));
    // r = 50.5, centre (50, 50).
    const Picture got = adjusted(pic, vignette(50, 50));
    EXPECT_EQ(got.at(50, 50), rgb(200, 100, 50, 77));
    for (auto xy : {std::pair{0, 50}, {100, 50}, {50, 0}, {50, 100}})
        EXPECT_EQ(got.at(xy.first, xy.second), rgb(102, 51, 25, 77)) << xy.first << "," << xy.second;
    // Beyond the radius the factor stays 1 - 0.5.
    for (auto xy : {std::pair{0, 0}, {100, 0}, {0, 100}, {100, 100}})
        EXPECT_EQ(got.at(xy.first, xy.second), rgb(100, 50, 25, 77)) << xy.first << "," << xy.second;

    const Picture white = adjusted(filled(101, 101, rgb(255, 255, 255)), vignette(50, 100));
    EXPECT_EQ(white.at(0, 0), rgb(193, 193, 193));
    EXPECT_EQ(white.at(50, 50), rgb(255, 255, 255));
}

TEST(Vignette, FullStrengthBlackensTheRimAndKeepsAlpha) {
    const Picture got = adjusted(filled(101, 101, rgb(255, 200, 100, 140)), vignette(100, 50));
    EXPECT_EQ(got.at(50, 50), rgb(255, 200, 100, 140));
    EXPECT_EQ(got.at(0, 0), rgb(0, 0, 0, 140));
    EXPECT_EQ(got.at(100, 3), rgb(0, 0, 0, 140));

    // 100 x 50: the radius is 50 pixels (the shorter side), centre (49.5, 24.5).
    const Picture wide = adjusted(filled(100, 50, rgb(255, 255, 255, 9)), vignette(100, 100));
    for (auto xy : {std::pair{0, 0}, {99, 0}, {0, 49}, {99, 49}})
        EXPECT_EQ(wide.at(xy.first, xy.second), rgb(0, 0, 0, 9)) << xy.first << "," << xy.second;
    EXPECT_EQ(wide.at(49, 24), rgb(255, 255, 255, 9));
}

TEST(Vignette, SinglePixelIsItsOwnCentre) {
    const Picture dot = row_of({rgb(10, 120, 250, 33)});
    for (auto sr : {std::pair{100, 1}, {50, 50}, {100, 100}})
        EXPECT_EQ(adjusted(dot, vignette(sr.first, sr.second)).px, dot.px);
}

TEST(Vignette, ZeroStrengthStillWritesTheChosenFormat) {
    Sandbox box;
    const Picture pic = gradient(9, 7);
    write_png(box.path("in.png"), pic);
    ASSERT_EQ(velmora_vignette(box.path("in.png").c_str(), box.path("out.bmp").c_str(), 0, 100), 1)
        << last_error();
    EXPECT_EQ(sniff(box.path("out.bmp")), "bmp");
    EXPECT_EQ(read_picture(box.path("out.bmp")).px, pic.px);
}

TEST(Vignette, BoundsAreAcceptedAndRefused) {
    for (auto sr : {std::pair{0, 1}, {100, 1}, {0, 100}, {100, 100}}) {
        const Picture got = adjusted(gradient(4, 3), vignette(sr.first, sr.second));
        EXPECT_EQ(got.px.size(), 12u) << sr.first << "," << sr.second;
    }
    expect_refusals({
        {vignette(101, 50), "vignette: strength 101 out of range 0..100"},
        {vignette(-5, 50), "vignette: strength -5 out of range 0..100"},
        {vignette(50, 0), "vignette: radius 0 out of range 1..100"},
        {vignette(50, 101), "vignette: radius 101 out of range 1..100"},
        {vignette(50, -5), "vignette: radius -5 out of range 1..100"},
        {vignette(-5, 50), "vignette: strength -5 out of range 0..100"},
        {vignette(101, 0), "vignette: strength 101 out of range 0..100"},
    });
}

}  // namespace
