// The PNG writer against stb_image_write, byte for byte: generated pictures
// of every small size, the shapes that reach each branch of the compressor
// (long runs, the window's edge, incompressible data), a photograph, and the
// zlib stream alone. Every instruction set the processor has runs each case.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "png_writer.h"
#include "support.h"

using velmora::Isa;

namespace {

using Bytes = std::vector<uint8_t>;

// Every instruction set this machine runs, and the default.
std::vector<Isa> isas() {
    std::vector<Isa> all = velmora::available_isas();
    all.push_back(Isa::best);
    return all;
}

Bytes ours(int w, int h, const Bytes &rgba, Isa isa) {
    Bytes out;
    EXPECT_EQ(velmora::write_png_rgba(velmora::append_to_vector, &out, w, h, rgba.data(), isa), 1);
    return out;
}

// Empty when equal; otherwise where and how the two first differ.
std::string difference(const Bytes &got, const Bytes &want) {
    if (got == want) return "";
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
    return "sizes " + std::to_string(got.size()) + " vs " + std::to_string(want.size()) +
           ", first difference at byte " + std::to_string(i);
}

// Compares every path's file with the reference's; returns the reference's.
Bytes expect_same_png(int w, int h, const Bytes &rgba, const std::string &label) {
    const Bytes want = vt::stb_png(w, h, rgba.data());
    for (Isa isa : isas())
        EXPECT_EQ(difference(ours(w, h, rgba, isa), want), "")
            << label << " " << w << "x" << h << " (" << velmora::isa_name(isa) << ")";
    return want;
}

class Random {
public:
    explicit Random(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t next() {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 7;
        s_ ^= s_ << 17;
        return uint32_t(s_ >> 16);
    }
    uint8_t byte() { return uint8_t(next()); }

private:
    uint64_t s_;
};

struct Pattern {
    const char *name;
    std::function<Bytes(int w, int h)> make;
};

Bytes pixels(int w, int h, const std::function<void(int x, int y, uint8_t *px)> &fill) {
    Bytes b(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) fill(x, y, &b[(size_t(y) * w + x) * 4]);
    return b;
}

const std::vector<Pattern> &patterns() {
    static const std::vector<Pattern> all = {
        {"flat",
         [](int w, int h) {
             return pixels(w, h, [](int, int, uint8_t *p) { p[0] = 40, p[1] = 90, p[2] = 200, p[3] = 255; });
         }},
        {"gradient",
         [](int w, int h) {
             const vt::Picture g = vt::gradient(w, h);
             Bytes b(g.px.size() * 4);
             std::memcpy(b.data(), g.px.data(), b.size());
             return b;
         }},
        {"noise",
         [](int w, int h) {
             Random r(uint64_t(w) * 1000 + h);
             return pixels(w, h, [&](int, int, uint8_t *p) { for (int c = 0; c < 4; ++c) p[c] = r.byte(); });
         }},
        {"extremes",
         [](int w, int h) {
             Random r(uint64_t(h) * 1000 + w);
             return pixels(w, h, [&](int, int, uint8_t *p) {
                 const uint32_t v = r.next();
                 for (int c = 0; c < 4; ++c) p[c] = (v >> c) & 1 ? 255 : 0;
             });
         }},
        {"grainy photo",  // smooth colour with a little grain: every filter wins somewhere
         [](int w, int h) {
             Random r(uint64_t(w) ^ (uint64_t(h) << 20));
             return pixels(w, h, [&](int x, int y, uint8_t *p) {
                 const uint32_t v = r.next();
                 p[0] = uint8_t(x * 3 + y + (v & 3));
                 p[1] = uint8_t(x * y / 8 + ((v >> 2) & 1));
                 p[2] = uint8_t(200 - y * 2 + ((v >> 3) & 7));
                 p[3] = uint8_t(x * 11 % 7 == 0 ? 255 : 250 - ((v >> 6) & 1));
             });
         }},
        {"alpha varied",
         [](int w, int h) {
             return pixels(w, h, [&](int x, int y, uint8_t *p) {
                 p[0] = uint8_t(x * 9), p[1] = uint8_t(y * 5), p[2] = 128;
                 p[3] = uint8_t((x * y * 37) ^ (x + y));
             });
         }},
        {"tiles",  // a random 5 x 3 tile repeated: long matches
         [](int w, int h) {
             Random r(7);
             uint8_t tile[3][5][4];
             for (auto &row : tile)
                 for (auto &px : row)
                     for (auto &c : px) c = r.byte();
             return pixels(w, h, [&](int x, int y, uint8_t *p) { std::memcpy(p, tile[y % 3][x % 5], 4); });
         }},
    };
    return all;
}

Bytes make(const std::string &name, int w, int h) {
    for (const Pattern &p : patterns())
        if (name == p.name) return p.make(w, h);
    ADD_FAILURE() << "no pattern " << name;
    return Bytes(size_t(w) * h * 4);
}

#ifdef VELMORA_WRITER_SMALL
// Instrumented builds: fewer sizes, still every residue mod 8.
const int kSizeStep = 3;
#else
const int kSizeStep = 1;
#endif

TEST(PngWriter, MatchesReferenceForEverySmallSize) {
    for (const Pattern &pat : patterns()) {
        for (int n = 1; n <= 70; n += kSizeStep) {
            for (int other : {1, 2, 9}) {
                expect_same_png(n, other, pat.make(n, other), pat.name);
                expect_same_png(other + 2, n, pat.make(other + 2, n), pat.name);
            }
        }
    }
}

// The first byte of the deflate data says how the stream was written.
int block_type(const Bytes &png) {
    // signature 8, IHDR 25, IDAT length and type 8, zlib header 2
    return png.size() > 43 ? (png[43] >> 1) & 3 : -1;
}

TEST(PngWriter, StoresWhatDoesNotCompress) {
    // Noise costs more than 8 bits a byte in fixed codes: the reference stores
    // it, in blocks of 32767 bytes (this picture's 80100 need three).
    const Bytes noise = make("noise", 200, 100);
    EXPECT_EQ(block_type(expect_same_png(200, 100, noise, "noise")), 0);
    EXPECT_EQ(block_type(expect_same_png(10, 10, make("noise", 10, 10), "noise")), 0);
    EXPECT_EQ(block_type(expect_same_png(64, 64, make("gradient", 64, 64), "gradient")), 1);
}

TEST(PngWriter, MatchesReferenceOnLongRunsAndAtTheWindowEdge) {
    // Flat and tiled pictures make matches of 258 bytes, one after the other.
    expect_same_png(700, 40, make("flat", 700, 40), "flat");
    expect_same_png(333, 90, make("tiles", 333, 90), "tiles");
    // Rows of 217 bytes that repeat every 150, 151 or 152 rows: the same row
    // lies 32550, 32767 (the farthest distance the reference takes) or 32984
    // bytes back.
    for (int period : {150, 151, 152}) {
        Random r{uint64_t(period)};
        Bytes rows(size_t(54) * 4 * period);
        for (auto &b : rows) b = uint8_t(r.next() % 64);  // small values: compresses
        Bytes img(size_t(54) * 4 * 400);
        for (size_t i = 0; i < img.size(); ++i) img[i] = rows[i % rows.size()];
        expect_same_png(54, 400, img, "rows repeating every " + std::to_string(period));
    }
}

TEST(PngWriter, MatchesReferenceOnVeryWideRows) {
    for (int w : {65536, 100003}) {
        const Bytes g = make("grainy photo", w, 1);
        expect_same_png(w, 1, g, "grainy photo");
        expect_same_png(w / 8, 3, make("alpha varied", w / 8, 3), "alpha varied");
    }
}

TEST(PngWriter, MatchesReferenceOnAPhotograph) {
    const vt::Picture photo = vt::read_picture("writer-fixtures/creek.jpg");
    ASSERT_GT(photo.width, 0);
    Bytes rgba(photo.px.size() * 4);
    std::memcpy(rgba.data(), photo.px.data(), rgba.size());
    expect_same_png(photo.width, photo.height, rgba, "creek.jpg");
}

// A sink that refuses its n-th piece and records every call.
struct Refusing {
    int refuse_at;
    int calls = 0;
    bool called_after_refusal = false;
    static bool write(void *context, const unsigned char *, size_t) {
        auto *s = static_cast<Refusing *>(context);
        if (s->calls > s->refuse_at) s->called_after_refusal = true;
        return s->calls++ != s->refuse_at;
    }
};

TEST(PngWriter, StopsAtTheFirstPieceTheSinkRefuses) {
    struct Case {
        int w, h;
        Bytes img;
    };
    for (const Case &c : {Case{40, 30, make("gradient", 40, 30)}, Case{200, 100, make("noise", 200, 100)}}) {
        const int w = c.w, h = c.h;
        const Bytes &img = c.img;
        Refusing all{1 << 30};
        ASSERT_EQ(velmora::write_png_rgba(Refusing::write, &all, w, h, img.data()), 1);
        for (int k = 0; k < all.calls; ++k) {
            Refusing s{k};
            EXPECT_EQ(velmora::write_png_rgba(Refusing::write, &s, w, h, img.data()), 0) << k;
            EXPECT_FALSE(s.called_after_refusal) << k;
        }
    }
}

TEST(PngWriter, RejectsSizesWithoutWritingAnything) {
    const uint8_t px[4] = {1, 2, 3, 4};
    // Past the reference's int arithmetic; the pixels are never read.
    const int cases[][2] = {{0, 1}, {1, 0}, {-1, 5}, {5, -1}, {1 << 20, 1 << 10}, {65535, 65535}};
    for (const auto &c : cases) {
        Bytes out;
        EXPECT_EQ(velmora::write_png_rgba(velmora::append_to_vector, &out, c[0], c[1], px), 0) << c[0] << "x" << c[1];
        EXPECT_TRUE(out.empty());
    }
}

// ---- the zlib stream alone ---------------------------------------------------

struct ZCase {
    std::string name;
    Bytes data;
};

Bytes random_bytes(size_t n, uint64_t seed, unsigned modulo = 256) {
    Random r(seed);
    Bytes b(n);
    for (auto &x : b) x = uint8_t(r.next() % modulo);
    return b;
}

std::vector<ZCase> zlib_cases() {
    std::vector<ZCase> cases;
    for (size_t n : {0, 1, 2, 3, 4, 5, 7})
        cases.push_back({"short " + std::to_string(n), random_bytes(n, n)});
    for (size_t n : {257, 258, 259, 260, 261, 516, 517, 5000})
        cases.push_back({"run " + std::to_string(n), Bytes(n, 'a')});
    cases.push_back({"noise 100000 (stored, 4 blocks)", random_bytes(100000, 11)});
    cases.push_back({"noise 32767 (one full stored block)", random_bytes(32767, 12)});
    cases.push_back({"noise 32768", random_bytes(32768, 13)});
    // A random block, then its start again from 32766, 32767 or 32768 bytes
    // on: the reference takes matches up to 32767 back.
    for (size_t gap : {32766, 32767, 32768, 32769}) {
        Bytes b = random_bytes(gap, gap, 100);
        const Bytes head(b.begin(), b.begin() + 600);
        b.insert(b.end(), head.begin(), head.end());
        cases.push_back({"repeat after " + std::to_string(gap), b});
    }
    // Byte values below 144 cost 8 bits, the rest 9: with n low bytes and m
    // high ones the stream crosses the stored size near m = 30.
    for (int m = 20; m <= 44; ++m) {
        Bytes b = random_bytes(3000, 100 + m, 144);
        for (int k = 0; k < m; ++k) b[size_t(k) * 97 % b.size()] = uint8_t(144 + k);
        cases.push_back({"threshold m=" + std::to_string(m), b});
    }
    // One bucket overfilled: "xyz" then a random byte, again and again, so the
    // candidate list keeps reaching 16 and halving.
    {
        Random r(5);
        Bytes b;
        for (int k = 0; k < 4000; ++k) {
            b.insert(b.end(), {'x', 'y', 'z', uint8_t(r.next() % 7)});
            if (k % 13 == 0) b.push_back(r.byte());
        }
        cases.push_back({"crowded bucket", b});
    }
    {
        std::string text;
        for (int k = 0; k < 300; ++k)
            text += "the filter for row " + std::to_string(k * 7 % 50) + " is " +
                    std::to_string(k % 5) + "; ";
        cases.push_back({"text", Bytes(text.begin(), text.end())});
    }
    return cases;
}

TEST(ZlibCompressQ8, MatchesReference) {
    int stored = 0, compressed = 0;
    for (const ZCase &c : zlib_cases()) {
        Bytes got;
        ASSERT_TRUE(velmora::zlib_compress_q8(c.data.data(), c.data.size(), got)) << c.name;
        const Bytes want = vt::stb_zlib(c.data.data(), c.data.size());
        EXPECT_EQ(difference(got, want), "") << c.name;
        if (c.data.size() > 8 && c.name.rfind("threshold", 0) == 0)
            ((want[2] >> 1) & 3) == 0 ? ++stored : ++compressed;
    }
    // The threshold cases land on both sides.
    EXPECT_GT(stored, 0);
    EXPECT_GT(compressed, 0);
}

}  // namespace
