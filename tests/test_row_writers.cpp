// The writers fed a few rows at a time, as a streaming pipeline feeds them:
// the same bytes as from the whole picture and as stb_image_write's, whether
// the PNG's compressed stream is streamed (an output that patches) or held,
// whether the source can rewind, with stored data that must be made again;
// and a source or output that fails midway stops the writer cleanly.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "band_rows.h"
#include "jpeg_writer.h"
#include "png_writer.h"
#include "support.h"

namespace {

using velmora::Isa;
using Bytes = std::vector<uint8_t>;

#ifdef VELMORA_WRITER_SMALL
const int kSizeStep = 3;
#else
const int kSizeStep = 1;
#endif

uint32_t next(uint32_t &state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// Smooth (compresses, so the PNG stream is streamed whole) or noise (does
// not: the PNG writer goes back and stores it).
Bytes picture(bool noise, int width, int height, uint32_t seed) {
    Bytes px(size_t(width) * height * 4);
    uint32_t state = seed * 2654435761u + 1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t *p = &px[(size_t(y) * width + x) * 4];
            const uint32_t r = next(state);
            if (noise) {
                p[0] = uint8_t(r), p[1] = uint8_t(r >> 8), p[2] = uint8_t(r >> 16);
            } else {
                p[0] = uint8_t(x * 3 + y), p[1] = uint8_t(y * 5), p[2] = uint8_t(x ^ y);
            }
            p[3] = noise ? uint8_t(r >> 5) : uint8_t(255 - (x & 3));
        }
    return px;
}

std::string label(int w, int h, Isa isa) {
    return std::to_string(w) + "x" + std::to_string(h) + " " + velmora::isa_name(isa);
}

// ---- JPEG ------------------------------------------------------------------

struct JpegSize {
    int width, height;
};

std::vector<JpegSize> jpeg_sizes() {
    std::vector<JpegSize> sizes;
    for (int w = 1; w <= 40; w += kSizeStep)
        for (int h = 1; h <= 40; h += kSizeStep) sizes.push_back({w, h});
    // Odd large sizes: groups of blocks across, strips down, several flushes.
    for (JpegSize s : {JpegSize{701, 403}, JpegSize{1023, 9}, JpegSize{67, 1001}, JpegSize{2049, 15}})
        sizes.push_back(s);
    return sizes;
}

TEST(JpegRows, StripsGiveTheBytesOfTheWholePictureAndOfStb) {
    uint32_t seed = 1;
    for (const JpegSize &s : jpeg_sizes()) {
        const Bytes px = picture(seed % 2 == 0, s.width, s.height, seed);
        ++seed;
        const Bytes want = vt::stb_jpeg_q92(s.width, s.height, px.data());
        ASSERT_FALSE(want.empty());
        for (Isa isa : velmora::available_isas()) {
            Bytes whole, strips;
            ASSERT_EQ(velmora::write_jpeg_q92(velmora::append_to_vector, &whole, s.width, s.height,
                                              px.data(), isa),
                      1);
            vt::BandRows rows(px.data(), s.width, s.height);
            ASSERT_EQ(velmora::write_jpeg_q92_rows(velmora::append_to_vector, &strips, s.width,
                                                   s.height, rows, isa),
                      1)
                << label(s.width, s.height, isa);
            ASSERT_TRUE(strips == want) << label(s.width, s.height, isa);
            ASSERT_TRUE(whole == want) << label(s.width, s.height, isa);
            // 8 rows a strip, the last only what remains.
            std::vector<int> expected(size_t(s.height / 8), 8);
            if (s.height % 8) expected.push_back(s.height % 8);
            EXPECT_EQ(rows.counts, expected) << label(s.width, s.height, isa);
        }
    }
}

TEST(JpegRows, ASourceThatFailsStopsTheWriter) {
    const int w = 37, h = 29;
    const Bytes px = picture(false, w, h, 5);
    for (int fail_at : {0, 1, 7, 8, 9, 16, 24, 28}) {
        for (Isa isa : velmora::available_isas()) {
            vt::BandRows rows(px.data(), w, h);
            rows.fail_at = fail_at;
            Bytes out;
            EXPECT_EQ(velmora::write_jpeg_q92_rows(velmora::append_to_vector, &out, w, h, rows, isa), 0)
                << "failing at row " << fail_at << " " << velmora::isa_name(isa);
            // Nothing is asked after the refusal.
            EXPECT_EQ(rows.counts.size(), size_t(fail_at / 8 + 1)) << fail_at;
        }
    }
}

// ---- PNG -------------------------------------------------------------------

// A growing file in memory that counts the patches and cuts, and can refuse
// its n-th call of any kind.
struct Output {
    Bytes bytes;
    int patches = 0, truncations = 0;
    int calls = 0, refuse_at = -1;
    bool called_after_refusal = false;

    bool admit() {
        if (refuse_at >= 0 && calls > refuse_at) called_after_refusal = true;
        return calls++ != refuse_at;
    }
    static bool write(void *c, const unsigned char *p, size_t n) {
        auto &o = *static_cast<Output *>(c);
        return o.admit() && velmora::append_to_vector(&o.bytes, p, n);
    }
    static bool patch(void *c, size_t at, const unsigned char *p, size_t n) {
        auto &o = *static_cast<Output *>(c);
        ++o.patches;
        return o.admit() && velmora::patch_vector(&o.bytes, at, p, n);
    }
    static bool truncate(void *c, size_t at) {
        auto &o = *static_cast<Output *>(c);
        ++o.truncations;
        return o.admit() && velmora::truncate_vector(&o.bytes, at);
    }
};

// How the PNG writer is fed and where it writes.
struct PngWay {
    const char *name;
    bool patchable;   // the output can patch and cut: the stream goes out as made
    bool rewindable;  // the source can go back
};
const PngWay kPngWays[] = {
    {"streamed", true, true},
    {"streamed, source kept", true, false},
    {"held", false, true},
    {"held, source kept", false, false},
};

int write_png(const PngWay &way, Output &out, int w, int h, vt::BandRows &rows, Isa isa) {
    return velmora::write_png_rows(Output::write, &out, w, h, rows, isa,
                                   way.patchable ? Output::patch : nullptr,
                                   way.patchable ? Output::truncate : nullptr);
}

struct PngCase {
    int width, height;
    bool noise;
};

std::vector<PngCase> png_cases() {
    std::vector<PngCase> cases;
    for (int n = 1; n <= 24; n += kSizeStep)
        for (bool noise : {false, true}) {
            cases.push_back({n, 1 + (n * 7) % 13, noise});
            cases.push_back({1 + (n * 5) % 11, n, noise});
        }
    // Larger than a compressed block of 1 MiB, and noise of many stored blocks.
    for (bool noise : {false, true}) {
        cases.push_back({640, 480, noise});
        cases.push_back({3001, 7, noise});
    }
    cases.push_back({1200, 1100, false});
    return cases;
}

// The first byte of the deflate data: 0 stored, 1 fixed codes.
int block_type(const Bytes &png) { return png.size() > 43 ? (png[43] >> 1) & 3 : -1; }

TEST(PngRows, EveryWayGivesTheBytesOfTheWholePictureAndOfStb) {
    uint32_t seed = 100;
    for (const PngCase &c : png_cases()) {
        const Bytes px = picture(c.noise, c.width, c.height, seed++);
        const Bytes want = vt::stb_png(c.width, c.height, px.data());
        for (Isa isa : velmora::available_isas()) {
            Bytes whole;
            ASSERT_EQ(velmora::write_png_rgba(velmora::append_to_vector, &whole, c.width, c.height,
                                              px.data(), isa),
                      1);
            ASSERT_TRUE(whole == want) << label(c.width, c.height, isa);
            for (const PngWay &way : kPngWays) {
                SCOPED_TRACE(std::string(way.name) + " " + label(c.width, c.height, isa) +
                             (c.noise ? " noise" : " smooth"));
                vt::BandRows rows(px.data(), c.width, c.height);
                rows.can_rewind = way.rewindable;
                Output out;
                ASSERT_EQ(write_png(way, out, c.width, c.height, rows, isa), 1);
                ASSERT_EQ(out.bytes.size(), want.size());
                ASSERT_TRUE(out.bytes == want);
                // One row at a time. When the data ends up stored, the
                // compressor gave up partway and every row is asked for again
                // (from the rows kept, when the source cannot rewind).
                const bool stored = block_type(want) == 0;
                EXPECT_EQ(rows.counts, std::vector<int>(rows.counts.size(), 1));
                if (stored && way.rewindable) {
                    EXPECT_GT(rows.counts.size(), size_t(c.height));
                    EXPECT_LE(rows.counts.size(), size_t(c.height) * 2);
                } else {
                    EXPECT_EQ(rows.counts.size(), size_t(c.height));
                }
                // The probe before the first row, then the one going back.
                EXPECT_EQ(rows.rewinds, stored && way.rewindable ? 2 : 1);
                EXPECT_EQ(out.patches, way.patchable && !stored ? 1 : 0);
                EXPECT_EQ(out.truncations, way.patchable && stored ? 1 : 0);
            }
        }
    }
}

TEST(PngRows, ASourceThatFailsStopsTheWriter) {
    for (bool noise : {false, true}) {
        const int w = 45, h = 33;
        const Bytes px = picture(noise, w, h, 9);
        // The stored form asks for every row a second time: failing then too.
        for (int fail_at : {0, 1, 16, 32}) {
            for (const PngWay &way : kPngWays) {
                SCOPED_TRACE(std::string(way.name) + " failing at " + std::to_string(fail_at) +
                             (noise ? " noise" : " smooth"));
                vt::BandRows rows(px.data(), w, h);
                rows.can_rewind = way.rewindable;
                rows.fail_at = fail_at;
                Output out;
                EXPECT_EQ(write_png(way, out, w, h, rows, Isa::best), 0);
            }
        }
    }
}

// Refusing any one call of the output, write, patch or cut, gives 0, and
// nothing more is asked of it.
TEST(PngRows, StopsAtTheFirstCallTheOutputRefuses) {
    for (bool noise : {false, true}) {
        // Noise: stored in two blocks, one call a row; few rows, as every
        // call is refused in turn.
        const int w = noise ? 300 : 200, h = noise ? 28 : 100;
        const Bytes px = picture(noise, w, h, 11);
        for (const PngWay &way : kPngWays) {
            vt::BandRows all_rows(px.data(), w, h);
            all_rows.can_rewind = way.rewindable;
            Output all;
            ASSERT_EQ(write_png(way, all, w, h, all_rows, Isa::best), 1);
            for (int k = 0; k < all.calls; ++k) {
                vt::BandRows rows(px.data(), w, h);
                rows.can_rewind = way.rewindable;
                Output out;
                out.refuse_at = k;
                EXPECT_EQ(write_png(way, out, w, h, rows, Isa::best), 0) << way.name << " " << k;
                EXPECT_FALSE(out.called_after_refusal) << way.name << " " << k;
            }
        }
    }
}

TEST(PngRows, RefusesSizesWithoutAskingForRows) {
    const uint8_t px[4] = {1, 2, 3, 4};
    const int cases[][2] = {{0, 1}, {1, 0}, {-1, 5}, {5, -1}, {1 << 20, 1 << 10}, {65535, 65535}};
    for (const auto &c : cases) {
        vt::BandRows rows(px, 1, 1);
        Output out;
        EXPECT_EQ(velmora::write_png_rows(Output::write, &out, c[0], c[1], rows, Isa::best,
                                          Output::patch, Output::truncate),
                  0);
        EXPECT_TRUE(out.bytes.empty());
        EXPECT_TRUE(rows.counts.empty());
        EXPECT_EQ(rows.rewinds, 0);
    }
}

}  // namespace
