// The JPEG writer against stb_image_write's, byte for byte, on every path
// this processor can run: generated pictures of every edge residue, the
// extremes that stress the coder (0xFF stuffing, long runs, large values), a
// photograph, and the sizes and sinks that must be refused.
#include "jpeg_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "support.h"

namespace {

using velmora::Isa;

struct Output {
    std::vector<uint8_t> bytes;
    int calls = 0;
    int fail_on_call = 0;  // 1-based; 0 never
};

bool collect(void *context, const unsigned char *bytes, size_t size) {
    auto *out = static_cast<Output *>(context);
    ++out->calls;
    if (out->calls == out->fail_on_call) return false;
    out->bytes.insert(out->bytes.end(), bytes, bytes + size);
    return true;
}

std::vector<uint8_t> ours(Isa isa, int width, int height, const uint8_t *rgba) {
    Output out;
    EXPECT_EQ(velmora::write_jpeg_q92(collect, &out, width, height, rgba, isa), 1)
        << velmora::isa_name(isa) << " " << width << "x" << height;
    return out.bytes;
}

enum class Pattern { Flat, Gradient, Noise, Extremes, Checker };
const Pattern kPatterns[] = {Pattern::Flat, Pattern::Gradient, Pattern::Noise, Pattern::Extremes,
                             Pattern::Checker};

const char *name(Pattern p) {
    switch (p) {
    case Pattern::Flat: return "flat";
    case Pattern::Gradient: return "gradient";
    case Pattern::Noise: return "noise";
    case Pattern::Extremes: return "extremes";
    case Pattern::Checker: return "checker";
    }
    return "?";
}

uint32_t next(uint32_t &state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// RGBA pixels of a pattern; alpha always varies, as the writer must ignore it.
std::vector<uint8_t> picture(Pattern pattern, int width, int height, uint32_t seed) {
    std::vector<uint8_t> px(size_t(width) * height * 4);
    uint32_t state = seed * 2654435761u + 1;
    const uint8_t flat[3] = {uint8_t(next(state)), uint8_t(next(state)), uint8_t(next(state))};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t *p = &px[(size_t(y) * width + x) * 4];
            const uint32_t r = next(state);
            switch (pattern) {
            case Pattern::Flat:
                p[0] = flat[0], p[1] = flat[1], p[2] = flat[2];
                break;
            case Pattern::Gradient:
                p[0] = uint8_t(x * 255 / (width > 1 ? width - 1 : 1));
                p[1] = uint8_t(y * 255 / (height > 1 ? height - 1 : 1));
                p[2] = uint8_t((x + 2 * y) * 5);
                break;
            case Pattern::Noise:
                p[0] = uint8_t(r), p[1] = uint8_t(r >> 8), p[2] = uint8_t(r >> 16);
                break;
            case Pattern::Extremes:  // every channel 0 or 255
                p[0] = (r & 1) ? 255 : 0, p[1] = (r & 2) ? 255 : 0, p[2] = (r & 4) ? 255 : 0;
                break;
            case Pattern::Checker: {  // the largest coefficients there are
                const uint8_t v = ((x ^ y) & 1) ? 255 : 0;
                p[0] = v, p[1] = uint8_t(255 - v), p[2] = v;
                break;
            }
            }
            p[3] = uint8_t(r >> 3);
        }
    }
    return px;
}

// Every path against stb on one picture.
void expect_same_as_stb(int width, int height, const std::vector<uint8_t> &px,
                        const std::string &what) {
    const std::vector<uint8_t> expected = vt::stb_jpeg_q92(width, height, px.data());
    ASSERT_FALSE(expected.empty());
    for (Isa isa : velmora::available_isas()) {
        const std::vector<uint8_t> got = ours(isa, width, height, px.data());
        ASSERT_EQ(got.size(), expected.size())
            << what << " " << width << "x" << height << " on " << velmora::isa_name(isa);
        ASSERT_TRUE(got == expected)
            << what << " " << width << "x" << height << " on " << velmora::isa_name(isa);
    }
}

struct Size {
    int width, height;
};

// Every combination of residues mod 16 at the small sizes, and every width
// and height up to 70 against a spread of the other side.
std::vector<Size> edge_sizes() {
    std::vector<Size> sizes;
    for (int w = 1; w <= 17; ++w)
        for (int h = 1; h <= 17; ++h) sizes.push_back({w, h});
    for (int n = 18; n <= 70; ++n) {
        sizes.push_back({n, 1 + (n * 7) % 70});
        sizes.push_back({1 + (n * 11) % 70, n});
    }
    return sizes;
}

TEST(JpegWriter, MatchesStbAtEveryEdgeResidue) {
    uint32_t seed = 1;
    for (const Size &s : edge_sizes())
        for (Pattern p : kPatterns)
            expect_same_as_stb(s.width, s.height, picture(p, s.width, s.height, seed++), name(p));
}

// Sizes that cross every group of blocks a path takes at once (8, 32, 64
// pixels) and the staging buffer's flushes.
TEST(JpegWriter, MatchesStbOnLargerPictures) {
    const Size sizes[] = {{63, 65}, {64, 64}, {65, 63}, {129, 31}, {200, 120}, {701, 403}};
    uint32_t seed = 1000;
    for (const Size &s : sizes)
        for (Pattern p : {Pattern::Gradient, Pattern::Noise, Pattern::Extremes})
            expect_same_as_stb(s.width, s.height, picture(p, s.width, s.height, seed++), name(p));
}

TEST(JpegWriter, MatchesStbOnTheLongestRowAndColumn) {
    expect_same_as_stb(65535, 1, picture(Pattern::Noise, 65535, 1, 7), "row");
    expect_same_as_stb(1, 65535, picture(Pattern::Gradient, 1, 65535, 8), "column");
    expect_same_as_stb(65535, 2, picture(Pattern::Gradient, 65535, 2, 9), "rows");
}

TEST(JpegWriter, MatchesStbOnAPhotograph) {
    const vt::Picture photo = vt::read_picture("writer-data/creek.jpg");
    ASSERT_GT(photo.width, 0);
    const auto *px = reinterpret_cast<const uint8_t *>(photo.px.data());
    expect_same_as_stb(photo.width, photo.height,
                       std::vector<uint8_t>(px, px + photo.px.size() * 4), "photo");
}

// ---- pictures made block by block for the entropy coder --------------------

// The zig-zag order, walked along the anti-diagonals: (column, row) of each
// position.
struct Frequency {
    int u, v;
};
std::vector<Frequency> zig_zag() {
    std::vector<Frequency> order;
    for (int sum = 0; sum < 15; ++sum) {
        for (int i = 0; i <= sum; ++i) {
            const int a = sum % 2 == 0 ? sum - i : i;  // even diagonals run upwards
            const int u = sum - a, v = a;
            if (u < 8 && v < 8) order.push_back({u, v});
        }
    }
    return order;
}

// One 8 x 8 block at (bx, by): a flat level plus cosines of the given zig-zag
// positions, each at `amplitude`; `colour` moves red and blue against each
// other (so both chroma channels carry the pattern), otherwise grey (so only
// luma does).
struct BlockPattern {
    int level;
    std::vector<int> positions;
    double amplitude;
    bool colour;
};

void draw_block(std::vector<uint8_t> &px, int width, int bx, int by, const BlockPattern &b) {
    static const std::vector<Frequency> order = zig_zag();
    const double pi = 3.14159265358979323846;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            double wave = 0;
            for (int z : b.positions) {
                const Frequency f = order[size_t(z)];
                wave += b.amplitude * std::cos((2 * x + 1) * f.u * pi / 16) *
                        std::cos((2 * y + 1) * f.v * pi / 16);
            }
            auto clamp = [](double v) { return uint8_t(std::lround(std::min(255.0, std::max(0.0, v)))); };
            uint8_t *p = &px[(size_t(by * 8 + y) * width + bx * 8 + x) * 4];
            p[0] = clamp(b.level + wave);
            p[1] = clamp(b.colour ? b.level : b.level + wave);
            p[2] = clamp(b.colour ? b.level - wave : b.level + wave);
            p[3] = 255;
        }
    }
}

struct CoderCase {
    const char *what;
    int blocks_across;
    // The pattern of block (bx, by); the picture has as many rows of
    // blocks as `rows`.
    int rows;
    BlockPattern (*block)(int bx, int by);
};

// Every zig-zag position alone (run k - 1 from the DC, so 0 to 3 runs of 16
// zeros, and a last coefficient at 63 with no end of block), and every
// position followed by the last one (runs of 16 after an AC coefficient),
// large and small, grey and coloured; DC differences at their extremes; and
// every coefficient non-zero. The first also puts more than one 0xFF (each
// to be followed by a stuffed 0) into one eight-byte write of the coder.
const CoderCase kCoderCases[] = {
    {"one frequency at every position", 64, 4,
     [](int bx, int by) {
         return BlockPattern{128, {bx}, by % 2 == 0 ? 90.0 : 7.0, by >= 2};
     }},
    {"every position, then the last", 63, 4,
     [](int bx, int by) {
         return BlockPattern{128, {bx, 63}, by % 2 == 0 ? 60.0 : 9.0, by >= 2};
     }},
    {"black and white blocks", 24, 3,
     [](int bx, int by) {
         return BlockPattern{(bx + by) % 2 == 0 ? 0 : 255, {}, 0.0, false};
     }},
    {"every coefficient", 16, 2,
     [](int bx, int by) {
         std::vector<int> all;
         for (int z = 1; z < 64; ++z) all.push_back(z);
         return BlockPattern{128 + bx, all, 6.0 + by * 3, bx % 2 == 1};
     }},
};

TEST(JpegWriter, MatchesStbOnBlocksMadeForTheEntropyCoder) {
    for (const CoderCase &c : kCoderCases) {
        const int width = c.blocks_across * 8, height = c.rows * 8;
        std::vector<uint8_t> px(size_t(width) * height * 4);
        for (int by = 0; by < c.rows; ++by)
            for (int bx = 0; bx < c.blocks_across; ++bx) draw_block(px, width, bx, by, c.block(bx, by));
        expect_same_as_stb(width, height, px, c.what);
    }
}

TEST(JpegWriter, AlphaNeverChangesTheFile) {
    std::vector<uint8_t> a = picture(Pattern::Gradient, 37, 21, 3);
    std::vector<uint8_t> b = a;
    for (size_t i = 3; i < a.size(); i += 4) a[i] = 255, b[i] = uint8_t(i * 13);
    for (Isa isa : velmora::available_isas())
        EXPECT_TRUE(ours(isa, 37, 21, a.data()) == ours(isa, 37, 21, b.data()))
            << velmora::isa_name(isa);
    expect_same_as_stb(37, 21, b, "alpha");
}

TEST(JpegWriter, RefusesSizesTheFileCannotHold) {
    const std::vector<uint8_t> px(size_t(65536) * 4 * 2, 128);
    const Size refused[] = {{0, 1}, {1, 0}, {0, 0}, {-1, 5}, {5, -1}, {65536, 1}, {1, 65536}};
    for (Isa isa : velmora::available_isas()) {
        for (const Size &s : refused) {
            Output out;
            EXPECT_EQ(velmora::write_jpeg_q92(collect, &out, s.width, s.height, px.data(), isa),
                      0)
                << s.width << "x" << s.height;
            EXPECT_EQ(out.calls, 0) << s.width << "x" << s.height;
        }
        Output out;
        EXPECT_EQ(velmora::write_jpeg_q92(collect, &out, 4, 4, nullptr, isa), 0);
        EXPECT_EQ(out.calls, 0);
    }
}

// A sink that fails stops the writer at once: 0, and no call after it.
TEST(JpegWriter, StopsWhenTheSinkFails) {
    const std::vector<uint8_t> px = picture(Pattern::Noise, 700, 400, 11);
    Output whole;
    ASSERT_EQ(velmora::write_jpeg_q92(collect, &whole, 700, 400, px.data()), 1);
    ASSERT_GT(whole.calls, 2) << "the picture should need several pieces";
    for (int fail_on : {1, 2, whole.calls}) {
        Output out;
        out.fail_on_call = fail_on;
        EXPECT_EQ(velmora::write_jpeg_q92(collect, &out, 700, 400, px.data()), 0) << fail_on;
        EXPECT_EQ(out.calls, fail_on);
        EXPECT_TRUE(std::equal(out.bytes.begin(), out.bytes.end(), whole.bytes.begin()));
    }
}

}  // namespace
