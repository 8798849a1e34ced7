// Curves: curve values through 2..64 control points, shared and per-channel,
// argument checks before any file access, point checks after decoding.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "level_cases.h"
#include "support.h"
#include "velmora.h"

using namespace vt;

namespace {

// A curve call owning its point arrays; `count` defaults to the points given
// (a third of them with per_channel 3).
Call curve(std::vector<int> xs, std::vector<int> ys, int per_channel = 0, int count = -1) {
    if (count < 0) count = int(xs.size()) / (per_channel == 3 ? 3 : 1);
    return [=](const char *i, const char *o) {
        return velmora_curves(i, o, count, xs.data(), ys.data(), per_channel);
    };
}

struct CurveCase {
    const char *label;
    std::vector<int> xs, ys;
    std::vector<Level> levels;
};

TEST(Curves, SharedCurveValues) {
    std::vector<Level> inverted;
    for (int v = 0; v < 256; ++v) inverted.push_back({v, 255 - v});
    const CurveCase cases[] = {
        {"identity line", {0, 255}, {0, 255}, identity_levels()},
        {"inverted line", {0, 255}, {255, 0}, inverted},
        {"steep line, flat outside",
         {64, 192},
         {0, 255},
         {{0, 0}, {63, 0}, {64, 0}, {65, 2}, {96, 64}, {127, 126}, {128, 128}, {160, 191},
          {192, 255}, {200, 255}, {255, 255}}},
        {"short line", {10, 20}, {30, 40}, {{0, 30}, {10, 30}, {15, 35}, {20, 40}, {255, 40}}},
        {"half rounds up", {0, 2}, {0, 1}, {{0, 0}, {1, 1}, {2, 1}, {255, 1}}},
        // Unequal intervals on both sides of the middle point: the tangent's
        // weights decide these values.
        {"lifted middle",
         {0, 128, 255},
         {0, 200, 255},
         {{0, 0}, {32, 54}, {64, 112}, {96, 163}, {127, 199}, {128, 200}, {160, 221},
          {192, 234}, {224, 244}, {255, 255}}},
        {"peak has a flat tangent",
         {0, 128, 255},
         {0, 255, 0},
         {{64, 159}, {127, 255}, {128, 255}, {129, 255}, {192, 158}, {255, 0}}},
        {"flat neighbour",
         {0, 64, 128, 255},
         {0, 0, 255, 255},
         {{64, 0}, {65, 0}, {80, 40}, {96, 128}, {112, 215}, {127, 255}, {128, 255}}},
        {"flat stretch stays flat",
         {0, 50, 100, 255},
         {0, 100, 100, 255},
         {{25, 63}, {50, 100}, {75, 100}, {100, 100}}},
        {"overshoot below the control levels",
         {0, 128, 136},
         {64, 128, 255},
         {{0, 64}, {64, 46}, {72, 45}, {120, 102}, {128, 128}, {136, 255}, {255, 255}}},
    };
    for (const CurveCase &c : cases) {
        SCOPED_TRACE(c.label);
        expect_levels(curve(c.xs, c.ys), c.levels);
    }
}

TEST(Curves, SixtyFourPointsAreAccepted) {
    // 64 points on the line y = x from 0 to 252: every tangent is 1, so the
    // curve is that line, and flat at 252 beyond the last point.
    std::vector<int> xs;
    for (int k = 0; k < 64; ++k) xs.push_back(4 * k);
    std::vector<Level> want;
    for (int v = 0; v < 256; ++v) want.push_back({v, v > 252 ? 252 : v});
    expect_levels(curve(xs, xs), want);
}

TEST(Curves, PerChannelCurves) {
    // Red and blue keep their values, green is inverted.
    const Call call = curve({0, 255, 0, 255, 0, 255}, {0, 255, 255, 0, 0, 255}, 3);
    const Picture in = row_of({rgb(0, 0, 0, 0), rgb(10, 20, 30, 40), rgb(255, 128, 7, 255)});
    EXPECT_EQ(adjusted(in, call).px, (std::vector<Rgba>{rgb(0, 255, 0, 0), rgb(10, 235, 30, 40),
                                                       rgb(255, 127, 7, 255)}));

    // Three different curves, each reaching only its own channel.
    const Call three = curve({64, 192, 10, 20, 0, 255}, {0, 255, 30, 40, 255, 0}, 3);
    const Picture px = row_of({rgb(65, 15, 0, 9), rgb(160, 0, 200, 200)});
    EXPECT_EQ(adjusted(px, three).px,
              (std::vector<Rgba>{rgb(2, 35, 255, 9), rgb(191, 30, 55, 200)}));
}

// ---- checks before any file access ---------------------------------------------

TEST(Curves, ArgumentsAreCheckedBeforeTheInput) {
    Sandbox box;
    const std::string missing = box.path("missing.png"), out = box.path("out.png");
    const int xs[] = {0, 255, 0, 255, 0, 255};
    const int ys[] = {0, 255, 0, 255, 0, 255};
    const std::string counted = "curves: need 2..64 control points, got ";
    const std::string mode = "curves: per_channel must be 0 (shared) or 3 (RGB)";
    const struct {
        const char *in;
        const char *out;
        int count;
        const int *xs;
        const int *ys;
        int per_channel;
        std::string message;
    } cases[] = {
        {nullptr, out.c_str(), 1, nullptr, nullptr, 7, "curves: NULL input/output"},
        {missing.c_str(), nullptr, 2, xs, ys, 0, "curves: NULL input/output"},
        {missing.c_str(), out.c_str(), 0, nullptr, ys, 7, "curves: NULL curve points"},
        {missing.c_str(), out.c_str(), 2, xs, nullptr, 0, "curves: NULL curve points"},
        {missing.c_str(), out.c_str(), 1, xs, ys, 0, counted + "1"},
        {missing.c_str(), out.c_str(), 65, xs, ys, 0, counted + "65"},
        {missing.c_str(), out.c_str(), 0, xs, ys, 3, counted + "0"},
        {missing.c_str(), out.c_str(), INT_MIN, xs, ys, 0, counted + "-2147483648"},
        {missing.c_str(), out.c_str(), 1, xs, ys, 2, counted + "1"},  // count before mode
        {missing.c_str(), out.c_str(), 2, xs, ys, 1, mode},
        {missing.c_str(), out.c_str(), 2, xs, ys, -1, mode},
        {missing.c_str(), out.c_str(), 2, xs, ys, 4, mode},
        {missing.c_str(), out.c_str(), 2, xs, ys, 0, "curves: cannot read " + missing},
        {missing.c_str(), out.c_str(), 2, xs, ys, 3, "curves: cannot read " + missing},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(velmora_curves(c.in, c.out, c.count, c.xs, c.ys, c.per_channel), 0);
        EXPECT_EQ(last_error(), c.message);
    }
    EXPECT_FALSE(file_exists(out));
}

// ---- point checks, after decoding --------------------------------------------------

TEST(Curves, PointsAreCheckedAfterDecoding) {
    const std::string range = "curves: points must be in 0..255";
    const std::string order = "curves: x points must be strictly increasing";
    const struct {
        const char *label;
        Call call;
        std::string message;
    } cases[] = {
        {"x 256", curve({0, 256}, {0, 0}), range},
        {"y -1", curve({0, 255}, {-1, 0}), range},
        {"y 256", curve({0, 128, 255}, {0, 256, 255}), range},
        {"x repeated", curve({0, 0}, {0, 255}), order},
        {"x falling", curve({0, 200, 100}, {0, 1, 2}), order},
        {"both faults: range wins", curve({5, 5}, {0, 300}), range},
        {"range fault after the order fault", curve({10, 5, 300}, {0, 0, 0}), range},
        {"red order before green range", curve({10, 5, 0, 255, 0, 255}, {0, 0, 0, 300, 0, 0}, 3),
         order},
        {"green order before blue range",
         curve({0, 255, 7, 7, 0, 999}, {0, 255, 0, 0, 0, 0}, 3), order},
        {"only blue bad", curve({0, 255, 0, 255, 0, 255}, {0, 255, 0, 255, 0, 256}, 3), range},
    };
    Sandbox box;
    const std::string in = box.path("in.png"), out = box.path("out.png"),
                      missing = box.path("missing.png");
    write_png(in, gradient(4, 4));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.call(in.c_str(), out.c_str()), 0);
        EXPECT_EQ(last_error(), c.message);
        EXPECT_FALSE(file_exists(out));
        EXPECT_EQ(c.call(missing.c_str(), out.c_str()), 0);
        EXPECT_EQ(last_error(), "curves: cannot read " + missing);
    }
    // An existing output stays as it was.
    write_bytes(out, {'o', 'l', 'd'});
    EXPECT_EQ(cases[0].call(in.c_str(), out.c_str()), 0);
    EXPECT_EQ(read_bytes(out), (std::vector<uint8_t>{'o', 'l', 'd'}));
}

}  // namespace
