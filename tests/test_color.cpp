// Colour operations through the public API: exact values, accepted and
// refused parameters, messages, and the order of the checks.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "support.h"
#include "velmora.h"

using namespace vt;

namespace {


// Colours of every kind, alpha varied: for calls that must change nothing
// and for comparing equivalent parameters.
Picture assorted() {
    Picture pic = gradient(24, 12);
    const Rgba extra[] = {rgb(255, 0, 0),     rgb(0, 255, 0, 0),   rgb(0, 0, 255, 128),
                          rgb(255, 255, 0),   rgb(0, 255, 255),    rgb(255, 0, 255, 7),
                          rgb(128, 128, 128), rgb(0, 0, 0, 0),     rgb(255, 255, 255),
                          rgb(200, 100, 50),  rgb(255, 128, 128),  rgb(1, 2, 3, 200)};
    for (size_t i = 0; i < std::size(extra); ++i) pic.px[i] = extra[i];
    return pic;
}

// A call with a parameter it must refuse, on an input that decodes fine.
void expect_refused(const Call &call, const std::string &message) {
    Sandbox box;
    const std::string in = box.path("in.png"), out = box.path("out.png");
    write_png(in, row_of({rgb(10, 20, 30), rgb(200, 100, 50, 0)}));
    EXPECT_EQ(call(in.c_str(), out.c_str()), 0);
    EXPECT_EQ(last_error(), message);
    EXPECT_FALSE(file_exists(out));
}

void expect_accepted(const Call &call) {
    Sandbox box;
    const std::string in = box.path("in.png"), out = box.path("out.png");
    write_png(in, row_of({rgb(10, 20, 30), rgb(200, 100, 50, 0)}));
    EXPECT_EQ(call(in.c_str(), out.c_str()), 1) << last_error();
    EXPECT_EQ(last_error(), "");
    EXPECT_TRUE(file_exists(out));
}

// ---- calls with parameters ---------------------------------------------------

Call saturation(int value) {
    return [=](const char *i, const char *o) { return velmora_saturation(i, o, value); };
}
Call hue(int degrees) {
    return [=](const char *i, const char *o) { return velmora_hue(i, o, degrees); };
}
Call replace(std::array<int, 3> from, std::array<int, 3> to, int tolerance) {
    return [=](const char *i, const char *o) {
        return velmora_replace(i, o, from[0], from[1], from[2], to[0], to[1], to[2], tolerance);
    };
}
Call colorize(int r, int g, int b, int intensity) {
    return [=](const char *i, const char *o) { return velmora_colorize(i, o, r, g, b, intensity); };
}
Call white_balance(int temperature) {
    return [=](const char *i, const char *o) { return velmora_white_balance(i, o, temperature); };
}
// Shadows r g b, midtones r g b, highlights r g b.
Call color_balance(std::array<int, 9> v) {
    return [=](const char *i, const char *o) {
        return velmora_color_balance(i, o, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]);
    };
}
// Adjustments r1 r2 g1 g2 b1 b2.
Call selective(int target_hue, int sat_min, int hue_range, std::array<int, 6> a) {
    return [=](const char *i, const char *o) {
        return velmora_selective(i, o, target_hue, sat_min, hue_range, a[0], a[1], a[2], a[3],
                                 a[4], a[5]);
    };
}

// ---- saturation ----------------------------------------------------------------

TEST(Saturation, Values) {
    struct Group {
        int value;
        std::vector<ColourCase> cases;
    };
    const Group groups[] = {
        {-100,
         {{rgb(255, 0, 0), rgb(76, 76, 76)},
          {rgb(200, 100, 50, 0), rgb(124, 124, 124, 0)},
          {rgb(255, 255, 255, 128), rgb(255, 255, 255, 128)},
          {rgb(0, 0, 255), rgb(29, 29, 29)}}},
        {-99, {{rgb(200, 100, 50, 3), rgb(200, 199, 199, 3)}}},
        {-50, {{rgb(200, 100, 100), rgb(200, 150, 150)}}},
        {50, {{rgb(200, 100, 100, 0), rgb(200, 50, 50, 0)}}},
        {100,
         {{rgb(200, 100, 100), rgb(200, 0, 0)},
          {rgb(200, 150, 100, 77), rgb(200, 100, 0, 77)},
          {rgb(255, 128, 128), rgb(255, 1, 1)}}},
    };
    for (const Group &g : groups) {
        SCOPED_TRACE(testing::Message() << "value " << g.value);
        expect_cases(saturation(g.value), g.cases);
    }
}

TEST(Saturation, GreysStayGreyForEveryValueAboveFullDesaturation) {
    std::vector<ColourCase> greys;
    for (int v = 0; v < 256; ++v) greys.push_back({rgb(v, v, v, v), rgb(v, v, v, v)});
    for (int value = -99; value <= 100; ++value) {
        SCOPED_TRACE(testing::Message() << "value " << value);
        expect_cases(saturation(value), greys);
    }
}

TEST(Saturation, ZeroChangesNothing) {
    const Picture pic = assorted();
    EXPECT_EQ(adjusted(pic, saturation(0)).px, pic.px);
}

TEST(Saturation, RangeIsMinus100To100) {
    expect_accepted(saturation(-100));
    expect_accepted(saturation(100));
    for (int value : {101, -101, INT_MAX, INT_MIN})
        expect_refused(saturation(value), "saturation: value " + std::to_string(value) +
                                              " out of range -100..+100");
}

// ---- hue -----------------------------------------------------------------------

TEST(Hue, Rotations) {
    struct Group {
        int degrees;
        std::vector<ColourCase> cases;
    };
    const Group groups[] = {
        {120, {{rgb(255, 0, 0), rgb(0, 255, 0)}, {rgb(0, 0, 255, 0), rgb(255, 0, 0, 0)}}},
        {-120, {{rgb(255, 0, 0, 9), rgb(0, 0, 255, 9)}}},
        {90, {{rgb(255, 0, 0), rgb(128, 255, 0)}}},
        {480, {{rgb(255, 0, 0), rgb(0, 255, 0)}}},
        {180, {{rgb(200, 100, 50, 128), rgb(50, 150, 200, 128)}}},
        {60, {{rgb(255, 0, 0), rgb(255, 255, 0)}, {rgb(255, 0, 255), rgb(255, 0, 0)}}},
    };
    for (const Group &g : groups) {
        SCOPED_TRACE(testing::Message() << "degrees " << g.degrees);
        expect_cases(hue(g.degrees), g.cases);
    }
}

TEST(Hue, EveryIntIsATurnOfItsRemainder) {
    const Picture pic = assorted();
    // INT_MIN is -128 and INT_MAX 127 past a multiple of 360.
    const std::pair<int, int> same[] = {{-1, 359}, {INT_MIN, 232}, {INT_MAX, 127},
                                        {-300, 60}, {721, 1}};
    for (const auto &[degrees, equivalent] : same) {
        SCOPED_TRACE(testing::Message() << degrees << " vs " << equivalent);
        const Picture want = adjusted(pic, hue(equivalent));
        EXPECT_NE(want.px, pic.px);
        EXPECT_EQ(adjusted(pic, hue(degrees)).px, want.px);
    }
}

TEST(Hue, FullTurnsChangeNothing) {
    const Picture pic = assorted();
    for (int degrees : {0, 360, -720, 360 * 5965232})
        EXPECT_EQ(adjusted(pic, hue(degrees)).px, pic.px) << "degrees " << degrees;
}

TEST(Hue, GreysAreNeverTurned) {
    std::vector<ColourCase> greys;
    for (int v = 0; v < 256; v += 5)
        greys.push_back({rgb(v, v, v, 255 - v), rgb(v, v, v, 255 - v)});
    for (int degrees : {1, 90, 180, 359, -45, INT_MIN}) {
        SCOPED_TRACE(testing::Message() << "degrees " << degrees);
        expect_cases(hue(degrees), greys);
    }
}

// ---- replace -------------------------------------------------------------------

TEST(Replace, ToleranceZeroMatchesOnlyTheExactColour) {
    expect_cases(replace({10, 20, 30}, {1, 2, 3}, 0), {
                                                          {rgb(10, 20, 30), rgb(1, 2, 3)},
                                                          {rgb(10, 20, 30, 0), rgb(1, 2, 3, 0)},
                                                          {rgb(10, 20, 31), rgb(10, 20, 31)},
                                                          {rgb(11, 20, 30), rgb(11, 20, 30)},
                                                          {rgb(10, 19, 30), rgb(10, 19, 30)},
                                                      });
}

TEST(Replace, DistanceIsTheSumOfChannelDifferences) {
    expect_cases(replace({0, 0, 0}, {250, 251, 252}, 255),
                 {
                     {rgb(85, 85, 85), rgb(250, 251, 252)},
                     {rgb(85, 85, 86), rgb(85, 85, 86)},
                     {rgb(255, 0, 0, 0), rgb(250, 251, 252, 0)},
                     {rgb(0, 0, 0, 128), rgb(250, 251, 252, 128)},
                 });
    // Differences in both directions count.
    expect_cases(replace({100, 100, 100}, {0, 0, 0}, 3), {
                                                             {rgb(99, 101, 99), rgb(0, 0, 0)},
                                                             {rgb(99, 101, 98), rgb(99, 101, 98)},
                                                             {rgb(103, 100, 100), rgb(0, 0, 0)},
                                                         });
    // The largest distance, 765.
    expect_cases(replace({255, 255, 255}, {1, 1, 1}, 255), {{rgb(0, 0, 0), rgb(0, 0, 0)}});
}

TEST(Replace, Ranges) {
    expect_accepted(replace({0, 0, 0}, {255, 255, 255}, 0));
    expect_accepted(replace({255, 255, 255}, {0, 0, 0}, 255));
    const std::string colours = "replace: color components must be 0..255";
    for (int pos = 0; pos < 6; ++pos) {
        for (int bad : {-1, 256, INT_MIN}) {
            std::array<int, 6> c{1, 2, 3, 4, 5, 6};
            c[pos] = bad;
            SCOPED_TRACE(testing::Message() << "component " << pos << " = " << bad);
            expect_refused(replace({c[0], c[1], c[2]}, {c[3], c[4], c[5]}, 10), colours);
        }
    }
    // The colours are checked before the tolerance.
    expect_refused(replace({-1, 0, 0}, {0, 0, 0}, 300), colours);
    for (int tolerance : {256, -1, INT_MAX})
        expect_refused(replace({0, 0, 0}, {0, 0, 0}, tolerance),
                       "replace: tolerance " + std::to_string(tolerance) + " out of range 0..255");
}

// ---- colorize ------------------------------------------------------------------

TEST(Colorize, Values) {
    expect_cases(colorize(255, 0, 0, 50), {{rgb(0, 0, 0), rgb(128, 0, 0)},
                                           {rgb(255, 255, 255, 0), rgb(255, 128, 128, 0)}});
    expect_cases(colorize(0, 128, 255, 50), {{rgb(255, 255, 255, 128), rgb(128, 192, 255, 128)}});
    expect_cases(colorize(255, 0, 0, 30), {{rgb(100, 150, 200), rgb(147, 105, 140)}});
}

TEST(Colorize, EndsOfTheIntensity) {
    const Picture pic = assorted();
    EXPECT_EQ(adjusted(pic, colorize(12, 34, 56, 0)).px, pic.px);
    const Picture full = adjusted(pic, colorize(12, 34, 56, 100));
    for (size_t i = 0; i < pic.px.size(); ++i)
        ASSERT_EQ(full.px[i], rgb(12, 34, 56, pic.px[i].a)) << "pixel " << i;
}

TEST(Colorize, Ranges) {
    expect_accepted(colorize(0, 0, 0, 100));
    expect_accepted(colorize(255, 255, 255, 0));
    const std::string colours = "colorize: color components must be 0..255";
    for (int pos = 0; pos < 3; ++pos) {
        for (int bad : {-1, 256}) {
            std::array<int, 3> c{1, 2, 3};
            c[pos] = bad;
            expect_refused(colorize(c[0], c[1], c[2], 50), colours);
        }
    }
    expect_refused(colorize(256, 0, 0, 101), colours);  // colour before intensity
    for (int intensity : {101, -1, INT_MIN})
        expect_refused(colorize(0, 0, 0, intensity), "colorize: intensity " +
                                                         std::to_string(intensity) +
                                                         " out of range 0..100");
}

// ---- white balance -------------------------------------------------------------

TEST(WhiteBalance, Values) {
    struct Case {
        int temperature;
        Rgba out;
    };
    const Case cases[] = {
        {10, rgb(140, 100, 60)}, {-10, rgb(60, 100, 140)}, {1, rgb(104, 100, 96)},
        {25, rgb(200, 100, 0)},  {50, rgb(255, 100, 0)},   {-25, rgb(0, 100, 200)},
        {-50, rgb(0, 100, 255)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "temperature " << c.temperature);
        Rgba translucent = c.out;
        translucent.a = 40;
        expect_cases(white_balance(c.temperature),
                     {{rgb(100, 100, 100), c.out}, {rgb(100, 100, 100, 40), translucent}});
    }
    // Past 25 every blue is gone, green never moves.
    expect_cases(white_balance(30), {{rgb(1, 7, 255), rgb(2, 7, 0)}});
}

TEST(WhiteBalance, ZeroChangesNothing) {
    const Picture pic = assorted();
    EXPECT_EQ(adjusted(pic, white_balance(0)).px, pic.px);
}

TEST(WhiteBalance, RangeIsMinus50To50) {
    expect_accepted(white_balance(50));
    expect_accepted(white_balance(-50));
    for (int t : {51, -51, INT_MIN})
        expect_refused(white_balance(t), "white_balance: temperature " + std::to_string(t) +
                                             " out of range -50..+50");
}

// ---- colour balance ------------------------------------------------------------

TEST(ColorBalance, Values) {
    struct Case {
        const char *label;
        std::array<int, 9> values;
        Rgba in, out;
    };
    const Case cases[] = {
        {"black, shadows red", {100, 0, 0, 0, 0, 0, 0, 0, 0}, rgb(0, 0, 0), rgb(255, 0, 0)},
        {"grey, midtones blue", {0, 0, 0, 0, 0, 20, 0, 0, 0}, rgb(128, 128, 128),
         rgb(77, 77, 179)},
        // 50 x 2.55 is exactly 127.5 in single precision: away from zero on both sides.
        {"grey, midtones blue 50", {0, 0, 0, 0, 0, 50, 0, 0, 0}, rgb(128, 128, 128),
         rgb(0, 0, 255)},
        // 192 is the last level of full midtone weight.
        {"grey 192, midtones blue", {0, 0, 0, 0, 0, 20, 0, 0, 0}, rgb(192, 192, 192),
         rgb(142, 142, 242)},
        {"shadow ramp", {40, 0, 0, 0, 0, 0, 0, 0, 0}, rgb(100, 100, 100), rgb(169, 31, 31)},
        {"127 has no shadow weight", {40, 0, 0, 0, 0, 0, 0, 0, 0}, rgb(127, 127, 127),
         rgb(127, 127, 127)},
        {"each channel by its own level", {0, 0, 0, 0, 10, 0, 0, 0, 0}, rgb(200, 100, 30),
         rgb(180, 123, 30)},
        {"white, highlights minus blue", {0, 0, 0, 0, 0, 0, 0, 0, -100},
         rgb(255, 255, 255, 0), rgb(255, 255, 0, 0)},
        {"negative shift rounds away from zero", {0, 0, 0, -10, 0, 0, 0, 0, 0},
         rgb(150, 150, 150, 128), rgb(124, 176, 176, 128)},
        // Blue at 71: the sums combine to -10 in exact arithmetic, but taken as
        // (-red - green) + blue they give -9.99999619, a shift of -25, not -26.
        {"sums combine in a fixed order", {24, -70, -35, 16, 5, -99, 78, 42, -29},
         rgb(71, 71, 71), rgb(255, 0, 46)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        expect_cases(color_balance(c.values), {{c.in, c.out}});
    }
}

TEST(ColorBalance, AllZeroStillWritesTheChosenFormat) {
    Sandbox box;
    const Picture pic = assorted();
    const std::string in = box.path("in.png"), out = box.path("out.bmp");
    write_png(in, pic);
    ASSERT_EQ(color_balance({})(in.c_str(), out.c_str()), 1) << last_error();
    EXPECT_EQ(sniff(out), "bmp");
    EXPECT_EQ(read_picture(out).px, pic.px);
}

TEST(ColorBalance, EveryValueIsMinus100To100) {
    expect_accepted(color_balance({100, 100, 100, 100, 100, 100, 100, 100, 100}));
    expect_accepted(color_balance({-100, -100, -100, -100, -100, -100, -100, -100, -100}));
    for (int pos = 0; pos < 9; ++pos) {
        for (int bad : {101, -101, INT_MIN}) {
            SCOPED_TRACE(testing::Message() << "value " << pos << " = " << bad);
            std::array<int, 9> v{};
            v[pos] = bad;
            expect_refused(color_balance(v), "color_balance: values must be in -100..100");
        }
    }
}

// ---- selective colour ----------------------------------------------------------

TEST(Selective, Values) {
    struct Case {
        const char *label;
        int target_hue, sat_min, hue_range;
        std::array<int, 6> adjust;
        Rgba in, out;
    };
    const Case cases[] = {
        // 50 x 2.55 is exactly 127.5 in single precision.
        {"red, green up", 0, 0, 30, {0, 0, 50, 0, 0, 0}, rgb(255, 0, 0), rgb(255, 128, 0)},
        {"pair acts as one", 0, 0, 30, {-20, 10, 0, 0, 0, 0}, rgb(255, 0, 0, 0),
         rgb(229, 0, 0, 0)},
        {"grey is hue 0", 0, 0, 10, {0, 0, 0, 0, 20, 0}, rgb(128, 128, 128),
         rgb(128, 128, 179)},
        {"grey outside the band", 180, 0, 10, {0, 0, 0, 0, 20, 0}, rgb(128, 128, 128),
         rgb(128, 128, 128)},
        {"grey below the floor", 0, 1, 10, {0, 0, 0, 0, 20, 0}, rgb(128, 128, 128),
         rgb(128, 128, 128)},
        {"half weight", 0, 50, 10, {0, 0, 0, 0, 40, 0}, rgb(200, 50, 50, 128),
         rgb(200, 50, 101, 128)},
        {"selected at weight 0", 0, 50, 10, {0, 0, 0, 0, 40, 0}, rgb(255, 128, 128),
         rgb(255, 128, 128)},
        {"floor 100, saturation below 1", 0, 100, 10, {0, 0, 50, 0, 40, 0}, rgb(255, 1, 1),
         rgb(255, 1, 1)},
        // At floor 100 a fully saturated pixel gets the full shift.
        {"floor 100, saturation 1", 0, 100, 10, {0, 0, 50, 0, 40, 0}, rgb(255, 0, 0),
         rgb(255, 128, 102)},
        {"floor 100, darker saturation 1", 0, 100, 10, {-100, 0, 0, 0, 0, 0}, rgb(200, 0, 0),
         rgb(0, 0, 0)},
        {"negative target", -30, 0, 5, {0, 0, 0, 0, 20, 0}, rgb(255, 0, 128),
         rgb(255, 0, 179)},
        {"hue 360 counts as 0", 0, 0, 1, {0, 0, 0, 0, 20, 0}, rgb(255, 0, 1),
         rgb(255, 0, 52)},
        {"just outside the band", 0, 0, 1, {0, 0, 0, 0, 20, 0}, rgb(255, 0, 10),
         rgb(255, 0, 10)},
        {"smallest int target is 232", INT_MIN, 0, 1, {0, 0, 10, 0, 0, 0}, rgb(0, 34, 255),
         rgb(0, 60, 255)},
        {"largest int target is 127", INT_MAX, 0, 1, {10, 0, 0, 0, 0, 0}, rgb(0, 255, 30),
         rgb(26, 255, 30)},
        {"range 180 reaches the opposite hue", 0, 0, 180, {0, 0, 0, 0, -40, 0},
         rgb(0, 255, 255), rgb(0, 255, 153)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        expect_cases(selective(c.target_hue, c.sat_min, c.hue_range, c.adjust), {{c.in, c.out}});
    }
}

TEST(Selective, TargetHueIsTakenModulo360) {
    const Picture pic = assorted();
    const std::pair<int, int> same[] = {{-30, 330}, {370, 10}, {720, 0}, {INT_MIN, 232},
                                        {INT_MAX, 127}};
    for (const auto &[target, equivalent] : same) {
        SCOPED_TRACE(testing::Message() << target << " vs " << equivalent);
        const Picture want = adjusted(pic, selective(equivalent, 10, 40, {30, 0, -30, 0, 30, 0}));
        EXPECT_NE(want.px, pic.px);
        EXPECT_EQ(adjusted(pic, selective(target, 10, 40, {30, 0, -30, 0, 30, 0})).px, want.px);
    }
}

TEST(Selective, NoAdjustmentChangesNothing) {
    const Picture pic = assorted();
    for (int sat_min : {0, 50, 100})
        EXPECT_EQ(adjusted(pic, selective(0, sat_min, 180, {})).px, pic.px)
            << "sat_min " << sat_min;
}

TEST(Selective, Ranges) {
    expect_accepted(selective(0, 0, 1, {100, 100, 100, 100, 100, 100}));
    expect_accepted(selective(0, 100, 180, {-100, -100, -100, -100, -100, -100}));

    const std::string adjustments = "selective: adjustments must be in -100..100";
    for (int pos = 0; pos < 6; ++pos) {
        for (int bad : {101, -101}) {
            std::array<int, 6> a{};
            a[pos] = bad;
            SCOPED_TRACE(testing::Message() << "adjustment " << pos << " = " << bad);
            expect_refused(selective(0, 0, 30, a), adjustments);
        }
    }
    for (int range : {0, 181, -1})
        expect_refused(selective(0, 0, range, {}), "selective: hue_range must be 1..180");
    for (int sat_min : {-1, 101})
        expect_refused(selective(0, sat_min, 30, {}), "selective: sat_min must be 0..100");

    // Adjustments, then the range, then the floor.
    expect_refused(selective(0, 0, 0, {0, 0, 0, 101, 0, 0}), adjustments);
    expect_refused(selective(0, 101, 0, {}), "selective: hue_range must be 1..180");
    expect_refused(selective(0, 101, 30, {0, 0, 0, 0, 0, 100}),
                   "selective: sat_min must be 0..100");
}

}  // namespace
