// The prepared kernels against the whole-image kernels: a picture cut into
// random runs and bands, run in shuffled order (and from two threads at
// once), must come out byte for byte as the whole-image op leaves it, on
// every instruction set the processor runs; the factories refuse what the ops
// refuse, with the same messages; per-channel tables run as saturating
// additions or as affine arithmetic give the scalar bytes for every parameter;
// and replace's fast passes agree with the scalar one at every distance
// boundary.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kernel_compare.h"
#include "last_error.h"

using namespace vk;
using namespace velmora;

namespace {

// ---- one case per adjustment and telling parameters ------------------------------

const int kCurveXs[] = {0, 64, 192, 255, 0, 128, 255, 0, 30, 255, 10, 200, 250};
const int kCurveYs[] = {0, 40, 225, 255, 255, 128, 0, 20, 200, 240, 255, 0, 90};

struct BandCase {
    const char *label;
    // The prepared kernel for `img` (auto levels looks at it; the others use its size).
    BandKernelPtr (*prepare)(const Image &img, Isa isa);
    // The same adjustment on the whole image.
    int (*op)(Image &img, Isa isa);
};

void PrintTo(const BandCase &c, std::ostream *os) { *os << c.label; }

#define VK_CASE(label, prepare_call, op_call)                                              \
    BandCase {                                                                             \
        label, [](const Image &img, Isa isa) { return prepare_call; },                     \
            [](Image &img, Isa isa) { return op_call; }                                    \
    }

const Replacement kNearOrange{{230, 120, 20}, {10, 200, 250}, 40};
const Selection kReds{350, 30, 40, {-20, 10, 40, 0, 0, -70}};
const Balance kBalance{{10, -20, 30}, {-5, 0, 5}, {40, 0, -40}};
const CurveSpec kSharedCurve{4, kCurveXs, kCurveYs, 0};
const CurveSpec kThreeCurves{3, kCurveXs + 4, kCurveYs + 4, 3};

const BandCase kBandCases[] = {
    VK_CASE("grayscale", prepare_grayscale(img.width, img.height, isa), op_grayscale(img, isa)),
    VK_CASE("sepia", prepare_sepia(img.width, img.height, isa), op_sepia(img, isa)),
    VK_CASE("invert", prepare_invert(img.width, img.height, isa), op_invert(img, isa)),
    VK_CASE("brightness", prepare_brightness(img.width, img.height, -37, isa),
            op_brightness(img, -37, isa)),
    VK_CASE("contrast", prepare_contrast(img.width, img.height, 45, isa),
            op_contrast(img, 45, isa)),
    VK_CASE("gamma", prepare_gamma(img.width, img.height, 0.7f, isa), op_gamma(img, 0.7f, isa)),
    VK_CASE("levels", prepare_levels(img.width, img.height, 16, 235, 1.3f, isa),
            op_levels(img, 16, 235, 1.3f, isa)),
    VK_CASE("auto_levels", prepare_auto_levels(img, isa), op_auto_levels(img, isa)),
    VK_CASE("curves_shared", prepare_curves(img.width, img.height, kSharedCurve, isa),
            op_curves(img, kSharedCurve, isa)),
    VK_CASE("curves_per_channel", prepare_curves(img.width, img.height, kThreeCurves, isa),
            op_curves(img, kThreeCurves, isa)),
    VK_CASE("vignette", prepare_vignette(img.width, img.height, 63, 40, isa),
            op_vignette(img, 63, 40, isa)),
    VK_CASE("vignette_full_radius", prepare_vignette(img.width, img.height, 100, 100, isa),
            op_vignette(img, 100, 100, isa)),
    VK_CASE("vignette_none", prepare_vignette(img.width, img.height, 0, 50, isa),
            op_vignette(img, 0, 50, isa)),
    VK_CASE("saturation", prepare_saturation(img.width, img.height, 35, isa),
            op_saturation(img, 35, isa)),
    VK_CASE("saturation_grey", prepare_saturation(img.width, img.height, -100, isa),
            op_saturation(img, -100, isa)),
    VK_CASE("saturation_none", prepare_saturation(img.width, img.height, 0, isa),
            op_saturation(img, 0, isa)),
    VK_CASE("hue", prepare_hue(img.width, img.height, 137, isa), op_hue(img, 137, isa)),
    VK_CASE("hue_full_turn", prepare_hue(img.width, img.height, -720, isa),
            op_hue(img, -720, isa)),
    VK_CASE("replace", prepare_replace(img.width, img.height, kNearOrange, isa),
            op_replace(img, kNearOrange, isa)),
    VK_CASE("colorize", prepare_colorize(img.width, img.height, 200, 30, 90, 45, isa),
            op_colorize(img, 200, 30, 90, 45, isa)),
    VK_CASE("white_balance", prepare_white_balance(img.width, img.height, -23, isa),
            op_white_balance(img, -23, isa)),
    VK_CASE("white_balance_none", prepare_white_balance(img.width, img.height, 0, isa),
            op_white_balance(img, 0, isa)),
    VK_CASE("color_balance", prepare_color_balance(img.width, img.height, kBalance, isa),
            op_color_balance(img, kBalance, isa)),
    VK_CASE("selective", prepare_selective(img.width, img.height, kReds, isa),
            op_selective(img, kReds, isa)),
};
#undef VK_CASE

// Smooth sweeps of hue, saturation and brightness with grain, greys down the
// first column, and patches of the colour replace looks for, near and exact.
Pixels band_picture(int width, int height, uint32_t seed) {
    Pixels p(width, height);
    std::mt19937 grain(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const size_t i = static_cast<size_t>(y) * width + x;
            const int n = static_cast<int>(grain() % 9) - 4;
            int r = (x * 255) / (width > 1 ? width - 1 : 1) + n;
            int g = (y * 255) / (height > 1 ? height - 1 : 1) - n;
            int b = ((x + y) * 97) % 256;
            if (x == 0) r = g = b = (y * 41) % 256;
            if ((x / 3 + y / 2) % 7 == 0) {
                r = 230 + n * 3;
                g = 120 - n * 2;
                b = 20 + n;
            }
            p.set(i, std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255),
                  static_cast<int>((i * 53) & 255));
        }
    return p;
}

struct Span {
    int x, y, count;
};

// Every row cut into runs of 1 to 40 pixels (many of a single pixel), in
// shuffled order.
std::vector<Span> random_runs(int width, int height, std::mt19937 &random) {
    std::vector<Span> runs;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width;) {
            const int pick = static_cast<int>(random() % 4);
            const int longest = pick == 0 ? 1 : pick == 1 ? 9 : 40;
            const int count = std::min(width - x, 1 + static_cast<int>(random() % longest));
            runs.push_back({x, y, count});
            x += count;
        }
    std::shuffle(runs.begin(), runs.end(), random);
    return runs;
}

testing::AssertionResult same_picture(const Pixels &expected, const Pixels &actual,
                                      const char *how) {
    for (size_t i = 0; i < expected.bytes.size(); ++i)
        if (expected.bytes[i] != actual.bytes[i]) {
            const size_t pixel = i / 4;
            return testing::AssertionFailure()
                   << how << ": pixel " << pixel % expected.width << "," << pixel / expected.width
                   << " channel " << i % 4 << " is " << int(actual.bytes[i]) << ", the op gives "
                   << int(expected.bytes[i]);
        }
    return testing::AssertionSuccess();
}

const Isa kEveryIsa[] = {Isa::scalar, Isa::sse2, Isa::avx2};

class BandSplit : public testing::TestWithParam<std::tuple<Isa, BandCase>> {
protected:
    void SetUp() override {
        if (!isa_available(isa()))
            GTEST_SKIP() << "this processor cannot run the " << isa_name(isa()) << " pass";
    }
    Isa isa() const { return std::get<0>(GetParam()); }
    const BandCase &param() const { return std::get<1>(GetParam()); }
};

TEST_P(BandSplit, AnySplitGivesTheWholeImageBytes) {
    const int sizes[][2] = {{1, 1}, {2, 3}, {7, 5}, {37, 11}, {173, 61}, {64, 17}};
    std::mt19937 random(2024);
    for (const auto &size : sizes) {
        const int width = size[0], height = size[1];
        const Pixels original = band_picture(width, height, static_cast<uint32_t>(width * height));
        Pixels whole = original;
        Image whole_img = whole.image();
        ASSERT_EQ(param().op(whole_img, isa()), 1) << last_error_text();
        const std::string at = std::to_string(width) + "x" + std::to_string(height);

        Pixels cut = original;
        const Image cut_img = cut.image();
        const BandKernelPtr kernel = param().prepare(cut_img, isa());
        ASSERT_TRUE(kernel) << last_error_text();

        // Random runs, shuffled.
        for (const Span &run : random_runs(width, height, random))
            kernel->run(cut.bytes.data() + 4 * (static_cast<size_t>(run.y) * width + run.x),
                        run.count, run.x, run.y);
        EXPECT_TRUE(same_picture(whole, cut, ("runs of " + at).c_str()));

        // Bands of 1 to 16 rows in shuffled order, as the pipeline hands them out.
        Pixels banded = original;
        std::vector<std::pair<int, int>> bands;
        for (int y = 0; y < height;) {
            const int rows = std::min(height - y, 1 + static_cast<int>(random() % 16));
            bands.push_back({y, rows});
            y += rows;
        }
        std::shuffle(bands.begin(), bands.end(), random);
        for (const auto &band : bands)
            kernel->run_rows(banded.bytes.data() + 4 * static_cast<size_t>(band.first) * width,
                             4 * static_cast<size_t>(width), width, band.first, band.second);
        EXPECT_TRUE(same_picture(whole, banded, ("bands of " + at).c_str()));

        // Two threads on the one kernel, each with every other run.
        Pixels shared = original;
        const std::vector<Span> runs = random_runs(width, height, random);
        const auto half = [&](size_t first) {
            for (size_t k = first; k < runs.size(); k += 2)
                kernel->run(shared.bytes.data() +
                                4 * (static_cast<size_t>(runs[k].y) * width + runs[k].x),
                            runs[k].count, runs[k].x, runs[k].y);
        };
        std::thread other(half, 1);
        half(0);
        other.join();
        EXPECT_TRUE(same_picture(whole, shared, ("two threads on " + at).c_str()));
    }
}

// A run of no pixels changes nothing, wherever it claims to start.
TEST_P(BandSplit, EmptyRunsChangeNothing) {
    Pixels px = band_picture(9, 4, 7);
    const Pixels before = px;
    const BandKernelPtr kernel = param().prepare(px.image(), isa());
    ASSERT_TRUE(kernel) << last_error_text();
    kernel->run(px.bytes.data(), 0, 3, 2);
    kernel->run(px.bytes.data(), -5, 0, 0);
    kernel->run_rows(px.bytes.data(), 36, 9, 1, 0);
    EXPECT_TRUE(same_picture(before, px, "empty runs"));
}

INSTANTIATE_TEST_SUITE_P(EveryAdjustment, BandSplit,
                         testing::Combine(testing::ValuesIn(kEveryIsa),
                                          testing::ValuesIn(kBandCases)),
                         [](const testing::TestParamInfo<std::tuple<Isa, BandCase>> &info) {
                             return std::string(isa_name(std::get<0>(info.param))) + "_" +
                                    std::get<1>(info.param).label;
                         });

// Auto levels' tables come from the whole picture, whatever band a kernel then
// runs on: a band holding only mid greys is stretched by the picture's span.
TEST(BandKernelAutoLevels, TablesComeFromTheWholePicture) {
    for (const Isa isa : kEveryIsa) {
        if (!isa_available(isa)) continue;
        Pixels px(4, 2);
        px.set(0, 10, 20, 30, 255);   // the darkest levels, in the first row
        px.set(1, 210, 220, 230, 0);  // the brightest
        px.set(2, 110, 120, 130, 1);
        px.set(3, 110, 120, 130, 2);
        for (size_t i = 4; i < 8; ++i) px.set(i, 110, 120, 130, 77);
        const BandKernelPtr kernel = prepare_auto_levels(px.image(), isa);
        ASSERT_TRUE(kernel);
        kernel->run(px.bytes.data() + 16, 4, 0, 1);  // the second row only
        for (size_t i = 4; i < 8; ++i)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(px.bytes[4 * i + c], 128) << isa_name(isa) << " pixel " << i;
        EXPECT_EQ(px.bytes[0], 10) << "the first row is left for its own run";
    }
}

// ---- refusals ---------------------------------------------------------------------------

struct Refusal {
    BandKernelPtr (*prepare)(int width, int height);
    int (*op)(Image &img);
    const char *message;
};

const int kDescending[] = {0, 100, 50};
const int kLevels[] = {0, 100, 255};
const int kOutside[] = {0, 256, 255};

TEST(BandKernelFactories, RefuseWithTheOpsMessages) {
    // Each refusal written once: the factory and the op with the same arguments.
#define VK_REFUSAL(prepare_args, op_args, text)                                              \
    Refusal {                                                                                \
        [](int w, int h) { return prepare_args; }, [](Image &img) { return op_args; }, text  \
    }
    const Refusal refusals[] = {
        VK_REFUSAL(prepare_brightness(w, h, 101), op_brightness(img, 101),
                   "brightness: value 101 out of range -100..+100"),
        VK_REFUSAL(prepare_contrast(w, h, -101), op_contrast(img, -101),
                   "contrast: value -101 out of range -100..+100"),
        VK_REFUSAL(prepare_gamma(w, h, 0.05f), op_gamma(img, 0.05f),
                   "gamma: 0.05 out of range 0.1..5.0"),
        VK_REFUSAL(prepare_gamma(w, h, NAN), op_gamma(img, NAN), "gamma: nan out of range 0.1..5.0"),
        VK_REFUSAL(prepare_levels(w, h, -1, 200, 1.0f), op_levels(img, -1, 200, 1.0f),
                   "levels: black/white point out of range 0..255"),
        VK_REFUSAL(prepare_levels(w, h, 200, 200, 9.0f), op_levels(img, 200, 200, 9.0f),
                   "levels: white point must be > black point"),
        VK_REFUSAL(prepare_levels(w, h, 0, 255, 5.5f), op_levels(img, 0, 255, 5.5f),
                   "levels: gamma 5.5 out of range 0.1..5.0"),
        VK_REFUSAL(prepare_curves(w, h, (CurveSpec{3, kOutside, kLevels, 0})),
                   op_curves(img, (CurveSpec{3, kOutside, kLevels, 0})),
                   "curves: points must be in 0..255"),
        VK_REFUSAL(prepare_curves(w, h, (CurveSpec{3, kDescending, kLevels, 0})),
                   op_curves(img, (CurveSpec{3, kDescending, kLevels, 0})),
                   "curves: x points must be strictly increasing"),
        VK_REFUSAL(prepare_vignette(w, h, 101, 0), op_vignette(img, 101, 0),
                   "vignette: strength 101 out of range 0..100"),
        VK_REFUSAL(prepare_vignette(w, h, 0, 0), op_vignette(img, 0, 0),
                   "vignette: radius 0 out of range 1..100"),
        VK_REFUSAL(prepare_saturation(w, h, 200), op_saturation(img, 200),
                   "saturation: value 200 out of range -100..+100"),
        VK_REFUSAL(prepare_replace(w, h, (Replacement{{0, 0, 256}, {0, 0, 0}, 300})),
                   op_replace(img, (Replacement{{0, 0, 256}, {0, 0, 0}, 300})),
                   "replace: color components must be 0..255"),
        VK_REFUSAL(prepare_replace(w, h, (Replacement{{0, 0, 0}, {0, 0, 0}, -1})),
                   op_replace(img, (Replacement{{0, 0, 0}, {0, 0, 0}, -1})),
                   "replace: tolerance -1 out of range 0..255"),
        VK_REFUSAL(prepare_colorize(w, h, 0, -1, 0, 500), op_colorize(img, 0, -1, 0, 500),
                   "colorize: color components must be 0..255"),
        VK_REFUSAL(prepare_colorize(w, h, 0, 0, 0, 101), op_colorize(img, 0, 0, 0, 101),
                   "colorize: intensity 101 out of range 0..100"),
        VK_REFUSAL(prepare_white_balance(w, h, 51), op_white_balance(img, 51),
                   "white_balance: temperature 51 out of range -50..+50"),
        VK_REFUSAL(prepare_color_balance(w, h, (Balance{{0, 0, 0}, {0, 101, 0}, {0, 0, 0}})),
                   op_color_balance(img, (Balance{{0, 0, 0}, {0, 101, 0}, {0, 0, 0}})),
                   "color_balance: values must be in -100..100"),
        VK_REFUSAL(prepare_selective(w, h, (Selection{0, 200, 0, {0, 0, 0, 0, 0, -101}})),
                   op_selective(img, (Selection{0, 200, 0, {0, 0, 0, 0, 0, -101}})),
                   "selective: adjustments must be in -100..100"),
        VK_REFUSAL(prepare_selective(w, h, (Selection{0, 200, 0, {0, 0, 0, 0, 0, 0}})),
                   op_selective(img, (Selection{0, 200, 0, {0, 0, 0, 0, 0, 0}})),
                   "selective: hue_range must be 1..180"),
        VK_REFUSAL(prepare_selective(w, h, (Selection{0, 101, 180, {0, 0, 0, 0, 0, 0}})),
                   op_selective(img, (Selection{0, 101, 180, {0, 0, 0, 0, 0, 0}})),
                   "selective: sat_min must be 0..100"),
    };
#undef VK_REFUSAL
    for (const Refusal &r : refusals) {
        clear_err();
        EXPECT_FALSE(r.prepare(5, 3)) << r.message;
        EXPECT_STREQ(last_error_text(), r.message);
        Pixels px = band_picture(5, 3, 1);
        const Pixels before = px;
        Image img = px.image();
        clear_err();
        EXPECT_EQ(r.op(img), 0) << r.message;
        EXPECT_STREQ(last_error_text(), r.message);
        EXPECT_TRUE(same_picture(before, px, r.message)) << "a refused op changed the picture";
    }
}

// ---- tables run as arithmetic ----------------------------------------------------------

// Every level of every channel, in a row of odd length.
Pixels level_row() {
    Pixels row(1031, 1);
    for (int i = 0; i < 1031; ++i) row.set(i, i % 256, (i * 7 + 3) % 256, 255 - i % 256, i % 251);
    return row;
}

// Tables of the form clamp(v + k) run as saturating byte additions in the
// fast passes, and tables that change nothing are skipped: every brightness,
// curves that are such shifts for one channel or all, and tables one entry
// away from a shift, each against the scalar reference.
class ShiftTables : public EachFastPass<int> {};

TEST_P(ShiftTables, AgreeWithTheScalarReference) {
    const Pixels row = level_row();
    for (int v = -100; v <= 100; ++v)
        ASSERT_TRUE(same_bytes(
            row, [v](Image &img, Isa isa) { return op_brightness(img, v, isa); }, fast()))
            << "brightness " << v;

    // Straight two-point curves: y = x + k up to the clamp.
    const int up_xs[] = {0, 235, 0, 255, 0, 255}, up_ys[] = {20, 255, 0, 255, 0, 255};
    const int down_xs[] = {0, 255, 40, 255, 0, 254}, down_ys[] = {0, 215, 0, 215, 0, 254};
    const int flat_xs[] = {0, 255}, flat_ys[] = {255, 255};
    const CurveSpec curves[] = {
        {2, up_xs, up_ys, 0},       // +20 for all three
        {2, up_xs, up_ys, 3},       // +20 red only, the others unchanged
        {2, down_xs, down_ys, 3},   // -40 one way or another, and one entry off a shift
        {2, flat_xs, flat_ys, 0},   // everything to 255: the largest shift
    };
    for (const CurveSpec &c : curves)
        ASSERT_TRUE(same_bytes(
            row, [&](Image &img, Isa isa) { return op_curves(img, c, isa); }, fast()))
            << "curve " << (&c - curves);
}

INSTANTIATE_TEST_SUITE_P(Passes, ShiftTables, testing::Combine(testing::ValuesIn(kFastIsas),
                                                               testing::Values(0)),
                         pass_and<int>([](int) { return "all"; }));

// Contrast, colorize and white balance state their tables as arithmetic too,
// which the AVX2 pass runs over lanes: every value of each parameter.
class AffineTables : public EachFastPass<int> {};

TEST_P(AffineTables, AgreeWithTheScalarReference) {
    const Pixels row = level_row();
    for (int v = -100; v <= 100; ++v)
        ASSERT_TRUE(same_bytes(
            row, [v](Image &img, Isa isa) { return op_contrast(img, v, isa); }, fast()))
            << "contrast " << v;
    for (int t = -50; t <= 50; ++t)
        ASSERT_TRUE(same_bytes(
            row, [t](Image &img, Isa isa) { return op_white_balance(img, t, isa); }, fast()))
            << "white balance " << t;
    const int colours[][3] = {{0, 0, 0}, {255, 255, 255}, {255, 128, 0}, {17, 200, 99}, {1, 254, 127}};
    for (const auto &c : colours)
        for (int intensity = 0; intensity <= 100; ++intensity)
            ASSERT_TRUE(same_bytes(
                row,
                [&](Image &img, Isa isa) {
                    return op_colorize(img, c[0], c[1], c[2], intensity, isa);
                },
                fast()))
                << "colorize " << c[0] << " " << c[1] << " " << c[2] << " " << intensity;
}

INSTANTIATE_TEST_SUITE_P(Passes, AffineTables, testing::Combine(testing::ValuesIn(kFastIsas),
                                                                testing::Values(0)),
                         pass_and<int>([](int) { return "all"; }));

// ---- replace at every distance boundary ------------------------------------------------

// For each tolerance, colours at city-block distance tolerance - 1, tolerance
// and tolerance + 1 from `from`, the distance spread over the channels in
// several ways and both directions, clipped to the cube: the fast passes must
// draw the line exactly where the scalar one does.
class ReplaceBoundary : public EachFastPass<int> {};

TEST_P(ReplaceBoundary, FastPassesAgreeAtEveryDistance) {
    const int froms[][3] = {{0, 0, 0}, {255, 255, 255}, {128, 64, 200}, {1, 254, 127}};
    const int from_index = param();
    const int *from = froms[from_index];
    std::mt19937 random(static_cast<uint32_t>(from_index));
    for (int tolerance = 0; tolerance <= 255; ++tolerance) {
        std::vector<int> colours;
        for (int d = tolerance - 1; d <= tolerance + 1; ++d) {
            if (d < 0) continue;
            for (int k = 0; k < 24; ++k) {
                // d split into three parts, each applied up or down.
                int a = static_cast<int>(random() % (d + 1));
                int b = static_cast<int>(random() % (d - a + 1));
                int parts[3] = {a, b, d - a - b};
                std::shuffle(parts, parts + 3, random);
                int c[3];
                for (int ch = 0; ch < 3; ++ch) {
                    const int up = from[ch] + parts[ch], down = from[ch] - parts[ch];
                    c[ch] = (random() & 1) ? (up <= 255 ? up : down) : (down >= 0 ? down : up);
                    c[ch] = std::clamp(c[ch], 0, 255);
                }
                colours.push_back(c[0] | c[1] << 8 | c[2] << 16);
            }
        }
        Pixels px(static_cast<int>(colours.size()), 1);
        for (size_t i = 0; i < colours.size(); ++i)
            px.set(i, colours[i] & 255, (colours[i] >> 8) & 255, colours[i] >> 16,
                   static_cast<int>(i & 255));
        const Replacement rep{{from[0], from[1], from[2]}, {17, 34, 51}, tolerance};
        ASSERT_TRUE(same_bytes(
            px, [&](Image &img, Isa isa) { return op_replace(img, rep, isa); }, fast()))
            << "tolerance " << tolerance;
    }
}

INSTANTIATE_TEST_SUITE_P(Froms, ReplaceBoundary,
                         testing::Combine(testing::ValuesIn(kFastIsas), testing::Range(0, 4)),
                         pass_and<int>([](int k) { return "from" + std::to_string(k); }));

}  // namespace
