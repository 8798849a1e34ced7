// Our PNG reader against stb_image, below the checksum tests: for every file
// both must decode the same pixels or refuse with the same reason. The files
// are made here, every kind and every way of storing the zlib stream, then
// cut and damaged byte by byte; the kept corpora go through too. Then the
// checksum tests themselves, and the unfilters on every instruction set.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "checksums.h"
#include "codec.h"
#include "cpu.h"
#include "input_file.h"
#include "piece_source.h"
#include "png_reader.h"
#include "png_unfilter.h"
#include "support.h"

#if defined(VELMORA_TEST_ZLIB)
// zlib_streams.cpp: level 1-9, strategy 0 default, 1 fixed codes, 2 runs.
std::vector<uint8_t> test_zlib_raw_deflate(const uint8_t *data, size_t n, int level, int strategy);
#endif

namespace {

using velmora::Checksums;
using velmora::Reader;
using Bytes = std::vector<uint8_t>;

// ---- making files ------------------------------------------------------------

void put32(Bytes &out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

void chunk(Bytes &out, const char *type, const uint8_t *data, size_t n) {
    put32(out, uint32_t(n));
    const size_t at = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + n);
    put32(out, ~velmora::crc32_update(0xFFFFFFFFu, out.data() + at, n + 4));
}

uint32_t adler(const Bytes &raw) {
    velmora::Adler32 a;
    a.update(raw.data(), raw.size());
    return a.value();
}

// How the zlib stream is made.
enum class Pack { stored, fixed, zlib_best, zlib_fast, zlib_fixed, zlib_rle };

// Stored blocks of at most `piece` bytes.
Bytes deflate_stored(const Bytes &raw, size_t piece) {
    Bytes out;
    size_t at = 0;
    do {
        const size_t n = std::min(piece, raw.size() - at);
        out.push_back(at + n == raw.size() ? 1 : 0);
        out.push_back(uint8_t(n));
        out.push_back(uint8_t(n >> 8));
        out.push_back(uint8_t(~n));
        out.push_back(uint8_t(~n >> 8));
        out.insert(out.end(), raw.begin() + long(at), raw.begin() + long(at + n));
        at += n;
    } while (at < raw.size());
    return out;
}

struct BitWriter {
    Bytes out;
    uint32_t acc = 0;
    int n = 0;
    void bits(uint32_t v, int count) {
        acc |= v << n;
        n += count;
        while (n >= 8) {
            out.push_back(uint8_t(acc));
            acc >>= 8;
            n -= 8;
        }
    }
    void code(uint32_t c, int len) {  // Huffman codes go most significant bit first
        uint32_t r = 0;
        for (int i = 0; i < len; ++i) r |= ((c >> i) & 1) << (len - 1 - i);
        bits(r, len);
    }
    Bytes done() {
        if (n) out.push_back(uint8_t(acc));
        return out;
    }
};

void fixed_symbol(BitWriter &w, int sym) {
    if (sym < 144) w.code(0x30 + sym, 8);
    else if (sym < 256) w.code(0x190 + sym - 144, 9);
    else if (sym < 280) w.code(sym - 256, 7);
    else w.code(0xC0 + sym - 280, 8);
}

// One fixed-code block: literals, and runs of a repeated byte as matches at
// distance 1 (length 3..10) or at the row above (distance `stride`).
Bytes deflate_fixed(const Bytes &raw, size_t stride) {
    BitWriter w;
    w.bits(1, 1);
    w.bits(1, 2);
    size_t i = 0;
    while (i < raw.size()) {
        size_t run = 0;
        while (i >= 1 && i + run < raw.size() && run < 10 && raw[i + run] == raw[i - 1]) ++run;
        if (run >= 3) {
            fixed_symbol(w, int(257 + run - 3));
            w.code(0, 5);  // distance code 0: distance 1
            i += run;
            continue;
        }
        size_t same = 0;
        if (stride >= 5 && stride <= 8 && i >= stride)
            while (i + same < raw.size() && same < 10 && raw[i + same] == raw[i + same - stride]) ++same;
        if (same >= 3) {
            fixed_symbol(w, int(257 + same - 3));
            // distances 5-6 are code 4 (+1 bit), 7-8 code 5 (+1 bit)
            w.code(stride <= 6 ? 4 : 5, 5);
            w.bits(uint32_t((stride - 1) & 1), 1);
            i += same;
            continue;
        }
        fixed_symbol(w, raw[i++]);
    }
    fixed_symbol(w, 256);
    return w.done();
}

// The zlib stream of `raw`: header, blocks, Adler-32.
Bytes zlib_stream(const Bytes &raw, Pack pack, size_t stride) {
    Bytes out = {0x78, 0x01};
    Bytes body;
    switch (pack) {
    case Pack::stored: body = deflate_stored(raw, std::min<size_t>(65535, 1 + raw.size() / 3)); break;
    case Pack::fixed: body = deflate_fixed(raw, stride); break;
    default: {
#if defined(VELMORA_TEST_ZLIB)
        const int level = pack == Pack::zlib_fast ? 1 : 9;
        const int strategy = pack == Pack::zlib_fixed ? 1 : pack == Pack::zlib_rle ? 2 : 0;
        body = test_zlib_raw_deflate(raw.data(), raw.size(), level, strategy);
#else
        body = deflate_fixed(raw, stride);
#endif
    }
    }
    out.insert(out.end(), body.begin(), body.end());
    put32(out, adler(raw));
    return out;
}

struct PngShape {
    int w, h, color, depth;
    bool interlace;
    bool trns;
    Pack pack;
    size_t idat_piece;  // 0: one IDAT
    uint32_t seed;
    int filter = -1;    // -1: a different filter each row
};

int channels(int color) { return color == 0 || color == 3 ? 1 : color == 2 ? 3 : color == 4 ? 2 : 4; }

// The filtered rows of every pass: random bytes in rows of random filters,
// or smooth ramps (so that matches occur), by seed.
Bytes raw_rows(const PngShape &s) {
    std::mt19937 rng(s.seed);
    Bytes raw;
    const int n = channels(s.color);
    auto rows = [&](int w, int h) {
        const size_t bytes = (size_t(w) * n * s.depth + 7) / 8;
        for (int y = 0; y < h; ++y) {
            raw.push_back(uint8_t(s.filter >= 0 ? s.filter : (y + int(s.seed)) % 5));
            for (size_t k = 0; k < bytes; ++k)
                raw.push_back(s.seed & 1 ? uint8_t(rng()) : uint8_t((k * 7 + y) & 0x1f));
        }
    };
    if (!s.interlace) {
        rows(s.w, s.h);
    } else {
        static const int xo[] = {0, 4, 0, 2, 0, 1, 0}, yo[] = {0, 0, 4, 0, 2, 0, 1};
        static const int xs[] = {8, 8, 4, 4, 2, 2, 1}, ys[] = {8, 8, 8, 4, 4, 2, 2};
        for (int p = 0; p < 7; ++p) {
            const int w = (s.w - xo[p] + xs[p] - 1) / xs[p], h = (s.h - yo[p] + ys[p] - 1) / ys[p];
            if (w > 0 && h > 0) rows(w, h);
        }
    }
    return raw;
}

Bytes make_png(const PngShape &s) {
    Bytes png = {137, 80, 78, 71, 13, 10, 26, 10};
    const uint8_t ihdr[13] = {uint8_t(s.w >> 24), uint8_t(s.w >> 16), uint8_t(s.w >> 8), uint8_t(s.w),
                              uint8_t(s.h >> 24), uint8_t(s.h >> 16), uint8_t(s.h >> 8), uint8_t(s.h),
                              uint8_t(s.depth), uint8_t(s.color), 0, 0, uint8_t(s.interlace)};
    chunk(png, "IHDR", ihdr, 13);
    std::mt19937 rng(s.seed * 31 + 7);
    if (s.color == 3) {
        const int entries = 1 + int(rng() % 256);
        Bytes plte(size_t(entries) * 3);
        for (auto &b : plte) b = uint8_t(rng());
        chunk(png, "PLTE", plte.data(), plte.size());
        if (s.trns) {
            Bytes a(1 + rng() % size_t(entries));
            for (auto &b : a) b = uint8_t(rng());
            chunk(png, "tRNS", a.data(), a.size());
        }
    } else if (s.trns && (s.color == 0 || s.color == 2)) {
        // A key colour that occurs: the first sample values of the data.
        Bytes t(s.color == 0 ? 2 : 6);
        for (auto &b : t) b = uint8_t(rng() & (s.depth == 16 ? 0xff : 0x03));
        chunk(png, "tRNS", t.data(), t.size());
    }
    const size_t stride = (size_t(channels(s.color)) * s.depth + 7) / 8;
    const Bytes z = zlib_stream(raw_rows(s), s.pack, stride);
    const size_t piece = s.idat_piece ? s.idat_piece : z.size();
    for (size_t at = 0; at < z.size(); at += piece)
        chunk(png, "IDAT", z.data() + at, std::min(piece, z.size() - at));
    chunk(png, "IEND", nullptr, 0);
    return png;
}

// ---- comparing ---------------------------------------------------------------

struct Outcome {
    bool ok = false;
    int w = 0, h = 0;
    Bytes px;
    std::string reason;
};

Outcome decode(const Bytes &file, Reader reader, Checksums checks = Checksums::ignore) {
    Outcome o;
    const char *why = nullptr;
    unsigned char *px = velmora::decode_rgba(file.data(), int(file.size()), &o.w, &o.h, &why,
                                             reader, checks);
    if (px) {
        o.ok = true;
        o.px.assign(px, px + size_t(o.w) * size_t(o.h) * 4);
        std::free(px);
    } else {
        o.reason = why ? why : "(none)";
    }
    return o;
}

// The same through a source read in pieces (open_rows on an InputSource).
Outcome decode_from(velmora::InputSource &src, Reader reader, Checksums checks) {
    Outcome o;
    const char *why = nullptr;
    std::unique_ptr<velmora::RowReader> rows = velmora::open_rows(src, &why, reader, checks);
    unsigned char *px = rows ? velmora::read_picture(*rows, &why) : nullptr;
    if (px) {
        o.ok = true;
        o.w = rows->width();
        o.h = rows->height();
        o.px.assign(px, px + size_t(o.w) * size_t(o.h) * 4);
        std::free(px);
    } else {
        o.reason = why ? why : "(none)";
    }
    return o;
}

Outcome decode_pieces(const Bytes &file, Checksums checks) {
    vt::PieceSource src(file);
    return decode_from(src, Reader::fast, checks);
}

::testing::AssertionResult same(const Outcome &a, const Outcome &b, const char *what) {
    if (a.ok != b.ok || a.reason != b.reason || a.w != b.w || a.h != b.h || a.px != b.px)
        return ::testing::AssertionFailure()
               << what << ": " << (a.ok ? "decodes" : "refuses (" + a.reason + ")") << " / "
               << (b.ok ? "decodes" : "refuses (" + b.reason + ")")
               << (a.ok && b.ok ? ", pixels differ" : "");
    return ::testing::AssertionSuccess();
}

// Read in pieces, with and without the checksums, the file has the outcome
// of its bytes in memory.
::testing::AssertionResult pieces_as_memory(const Bytes &file) {
    for (Checksums c : {Checksums::ignore, Checksums::verify}) {
        const auto r = same(decode_pieces(file, c), decode(file, Reader::fast, c),
                            c == Checksums::verify ? "pieces/memory, verified" : "pieces/memory");
        if (!r) return r;
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult same_outcome(const Bytes &file) {
    if (auto r = pieces_as_memory(file); !r) return r;
    const Outcome ours = decode(file, Reader::fast), ref = decode(file, Reader::reference);
    if (ours.ok != ref.ok)
        return ::testing::AssertionFailure()
               << "ours " << (ours.ok ? "decodes" : "refuses (" + ours.reason + ")") << ", stb "
               << (ref.ok ? "decodes" : "refuses (" + ref.reason + ")");
    if (!ours.ok) {
        if (ours.reason != ref.reason)
            return ::testing::AssertionFailure()
                   << "reasons differ: ours \"" << ours.reason << "\", stb \"" << ref.reason << "\"";
        return ::testing::AssertionSuccess();
    }
    if (ours.w != ref.w || ours.h != ref.h)
        return ::testing::AssertionFailure() << "sizes differ";
    for (size_t i = 0; i < ours.px.size(); ++i)
        if (ours.px[i] != ref.px[i])
            return ::testing::AssertionFailure()
                   << "byte " << i << " (pixel " << i / 4 << ") differs: ours " << int(ours.px[i])
                   << ", stb " << int(ref.px[i]);
    return ::testing::AssertionSuccess();
}

// Whether our reader takes the file itself (rather than leaving it to stb).
bool ours_reads(const Bytes &file) {
    const char *why = nullptr;
    return velmora::open_png_reader(file.data(), file.size(), &why, false) != nullptr || why;
}

std::string describe(const PngShape &s) {
    return std::to_string(s.w) + "x" + std::to_string(s.h) + " colour " + std::to_string(s.color) +
           " depth " + std::to_string(s.depth) + (s.interlace ? " interlaced" : "") +
           (s.trns ? " tRNS" : "") + " pack " + std::to_string(int(s.pack)) + " piece " +
           std::to_string(s.idat_piece) + " seed " + std::to_string(s.seed);
}

const int kKinds[][2] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1}, {3, 2},
                         {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16},
                         // depths the format does not allow but stb reads (or refuses its way)
                         {2, 1}, {2, 2}, {2, 4}, {4, 2}, {4, 4}, {6, 1}, {6, 2}, {6, 4}};

// ---- the differential table -----------------------------------------------------

TEST(PngReader, EveryKindSizeAndInterlaceDecodesAsStb) {
    const Pack packs[] = {Pack::stored, Pack::fixed, Pack::zlib_best, Pack::zlib_fast,
                          Pack::zlib_fixed, Pack::zlib_rle};
    uint32_t seed = 1;
    for (const auto &kind : kKinds) {
        for (int size = 1; size <= 33; ++size) {
            for (int interlace = 0; interlace < 2; ++interlace) {
                const PngShape s{size, 34 - size, kind[0], kind[1], interlace == 1, (size % 3) == 0,
                             packs[seed % 6], 0, seed};
                ++seed;
                const Bytes file = make_png(s);
                ASSERT_TRUE(same_outcome(file)) << describe(s);
                // Every kind the format allows is our reader's, not left to stb.
                EXPECT_TRUE(ours_reads(file)) << describe(s);
            }
        }
    }
}

TEST(PngReader, EveryFilterForcedOnEveryRowAndEveryPacking) {
    const Pack packs[] = {Pack::stored, Pack::fixed, Pack::zlib_best, Pack::zlib_fast,
                          Pack::zlib_fixed, Pack::zlib_rle};
    for (int filter = 0; filter < 5; ++filter)
        for (const Pack pack : packs)
            for (const auto &kind : {std::array<int, 2>{2, 8}, {6, 8}, {6, 16}, {0, 2}, {3, 8}, {4, 16}})
                for (uint32_t seed : {2u, 3u}) {
                    PngShape s{37, 9, kind[0], kind[1], false, false, pack, 0, seed, filter};
                    ASSERT_TRUE(same_outcome(make_png(s))) << describe(s) << " filter " << filter;
                }
}

TEST(PngReader, ManySmallAndOneByteIdatChunks) {
    for (size_t piece : {size_t(1), size_t(2), size_t(3), size_t(7), size_t(64), size_t(1000)})
        for (const Pack pack : {Pack::stored, Pack::fixed, Pack::zlib_best})
            for (int interlace = 0; interlace < 2; ++interlace) {
                const PngShape s{29, 17, 6, 8, interlace == 1, false, pack, piece, uint32_t(piece + 5)};
                const Bytes file = make_png(s);
                ASSERT_TRUE(same_outcome(file)) << describe(s);
                EXPECT_TRUE(decode(file, Reader::fast, Checksums::verify).ok) << describe(s);
            }
}

TEST(PngReader, LargeImages) {
    for (const PngShape &s : {PngShape{1500, 700, 6, 8, false, false, Pack::zlib_fast, 0, 11},
                          PngShape{1021, 513, 2, 8, false, true, Pack::zlib_best, 0, 12},
                          PngShape{777, 301, 2, 16, true, false, Pack::zlib_fast, 0, 13},
                          PngShape{4000, 3, 0, 1, false, false, Pack::fixed, 8191, 14},
                          PngShape{600, 600, 3, 8, true, true, Pack::stored, 0, 15}}) {
        const Bytes file = make_png(s);
        ASSERT_TRUE(same_outcome(file)) << describe(s);
        EXPECT_TRUE(decode(file, Reader::fast, Checksums::verify).ok) << describe(s);
    }
}

TEST(PngReader, PicturesTooLargeForTheReferenceBuffersDecodeAsStb) {
    // stb sizes its picture in an int: 2048 x 524288 grey with a key colour
    // is 2^31 bytes of grey and alpha, refused ("outofmem") before the
    // passes of an interlaced file, after the data checks of a plain one.
    for (int interlace = 0; interlace < 2; ++interlace)
        for (bool trns : {false, true}) {
            PngShape s{4, 4, 0, 1, interlace == 1, trns, Pack::stored, 0, 3};
            Bytes file = make_png(s);
            const uint8_t size[8] = {0, 0, 0x08, 0, 0, 0x08, 0, 0};  // 2048 x 524288
            std::memcpy(&file[16], size, 8);
            EXPECT_TRUE(same_outcome(file)) << interlace << trns;
        }
}

TEST(PngReader, FewBytesDeclaringAHugePictureAreRefusedAtOpen) {
    // Refused before anything is sized from the header (the caller's picture
    // would be 1 GiB here), interlaced or not.
    for (int interlace = 0; interlace < 2; ++interlace) {
        PngShape s{4, 4, 0, 1, interlace == 1, false, Pack::fixed, 0, 3};
        Bytes file = make_png(s);
        const uint8_t size[8] = {0, 0, 0x40, 0, 0, 0, 0x40, 0};  // 16384 x 16384
        std::memcpy(&file[16], size, 8);
        const char *why = nullptr;
        EXPECT_EQ(velmora::open_png_reader(file.data(), file.size(), &why, false), nullptr);
        EXPECT_STREQ(why, "not enough pixels");
    }
}

// ---- damaged and odd files -----------------------------------------------------

Bytes small_file(uint32_t seed, Pack pack, bool interlace, int color = 2) {
    return make_png(PngShape{5, 4, color, 8, interlace, color != 6, pack, size_t(seed % 2 ? 9 : 0), seed});
}

TEST(PngReader, CutAtEveryByte) {
    for (const Pack pack : {Pack::stored, Pack::fixed, Pack::zlib_best})
        for (int interlace = 0; interlace < 2; ++interlace) {
            const Bytes file = small_file(3, pack, interlace == 1);
            for (size_t n = 8; n <= file.size(); ++n) {
                const Bytes cut(file.begin(), file.begin() + long(n));
                ASSERT_TRUE(same_outcome(cut)) << "cut at " << n << " of " << file.size();
            }
        }
}

TEST(PngReader, EveryByteDamaged) {
    // Each byte replaced by a few values: every check of the chunk walk, of
    // the zlib stream and of the rows is met somewhere.
    for (const Pack pack : {Pack::stored, Pack::fixed, Pack::zlib_best, Pack::zlib_rle})
        for (int interlace = 0; interlace < 2; ++interlace)
            for (int color : {2, 3, 6}) {
                const Bytes file = small_file(4, pack, interlace == 1, color);
                for (size_t i = 8; i < file.size(); ++i)
                    for (uint8_t v : {uint8_t(file[i] ^ 0x01), uint8_t(file[i] ^ 0x80),
                                      uint8_t(0x00), uint8_t(0xFF), uint8_t(file[i] + 5)}) {
                        Bytes bad = file;
                        bad[i] = v;
                        ASSERT_TRUE(same_outcome(bad)) << "byte " << i << " set to " << int(v);
                    }
            }
}

TEST(PngReader, ZlibHeadersAndStreamEnds) {
    const PngShape base{6, 5, 6, 8, false, false, Pack::fixed, 0, 21};
    const Bytes raw = raw_rows(base);
    auto with_stream = [&](const Bytes &z) {
        Bytes png = make_png(base);
        // Rebuild: signature and IHDR, then the given stream, then IEND.
        Bytes out(png.begin(), png.begin() + 33);
        chunk(out, "IDAT", z.data(), z.size());
        chunk(out, "IEND", nullptr, 0);
        return out;
    };
    Bytes good = zlib_stream(raw, Pack::fixed, 4);
    struct Case {
        const char *what;
        Bytes stream;
    };
    std::vector<Case> cases;
    cases.push_back({"as made", good});
    Bytes dict = good;
    dict[1] = 0x20 | 0x1D;  // FDICT set, check bits fixed up
    dict[1] = uint8_t(dict[1] + (31 - (dict[0] * 256 + dict[1]) % 31) % 31);
    cases.push_back({"preset dictionary", dict});
    Bytes bad_check = good;
    bad_check[1] ^= 1;
    cases.push_back({"bad header check", bad_check});
    Bytes method = good;
    method[0] = 0x77;
    method[1] = uint8_t((31 - (0x77 * 256) % 31) % 31);
    cases.push_back({"compression method 7", method});
    cases.push_back({"two bytes only", Bytes(good.begin(), good.begin() + 2)});
    for (size_t drop = 1; drop <= 8; ++drop)
        cases.push_back({"end cut", Bytes(good.begin(), good.end() - long(drop))});
    Bytes trailing = good;
    trailing.insert(trailing.end(), {1, 2, 3, 4, 5});
    cases.push_back({"data after the stream", trailing});
    Bytes type3 = good;
    type3[2] |= 0x06;  // the first block's type bits: 3
    cases.push_back({"block type 3", type3});
    for (const Case &c : cases) EXPECT_TRUE(same_outcome(with_stream(c.stream))) << c.what;
}

TEST(PngReader, ChunkWalkCornersDecodeAsStb) {
    const Bytes file = make_png(PngShape{7, 6, 3, 4, false, true, Pack::fixed, 0, 8});
    // Chunks: signature(8) IHDR(25) PLTE tRNS IDAT IEND
    std::vector<std::pair<const char *, Bytes>> cases;
    cases.push_back({"no IEND", Bytes(file.begin(), file.end() - 12)});
    Bytes extra = file;
    extra.insert(extra.end(), {0, 0, 0, 0, 'a', 'b', 'c', 'd'});
    cases.push_back({"data after IEND", extra});
    Bytes unknown(file.begin(), file.begin() + 33);
    chunk(unknown, "zzZz", nullptr, 0);  // critical (upper-case first letter)? no: ancillary
    unknown.insert(unknown.end(), file.begin() + 33, file.end());
    cases.push_back({"ancillary chunk", unknown});
    Bytes critical(file.begin(), file.begin() + 33);
    chunk(critical, "ZZZZ", nullptr, 0);
    critical.insert(critical.end(), file.begin() + 33, file.end());
    cases.push_back({"unknown critical chunk", critical});
    Bytes cgbi(file.begin(), file.begin() + 8);
    chunk(cgbi, "CgBI", nullptr, 0);
    cgbi.insert(cgbi.end(), file.begin() + 8, file.end());
    cases.push_back({"CgBI with a zlib header", cgbi});
    Bytes before(file.begin(), file.begin() + 8);
    chunk(before, "tEXt", reinterpret_cast<const uint8_t *>("a\0b"), 3);
    before.insert(before.end(), file.begin() + 8, file.end());
    cases.push_back({"chunk before IHDR", before});
    for (const auto &c : cases) EXPECT_TRUE(same_outcome(c.second)) << c.first;
}

TEST(PngReader, CgbiRawDeflateDecodesAsStb) {
    PngShape s{9, 7, 6, 8, false, false, Pack::fixed, 0, 5};
    const Bytes raw = raw_rows(s);
    const Bytes body = deflate_fixed(raw, 4);
    Bytes png = {137, 80, 78, 71, 13, 10, 26, 10};
    chunk(png, "CgBI", reinterpret_cast<const uint8_t *>("\x50\x00\x20\x06"), 4);
    const Bytes full = make_png(s);
    png.insert(png.end(), full.begin() + 8, full.begin() + 33);
    chunk(png, "IDAT", body.data(), body.size());
    chunk(png, "IEND", nullptr, 0);
    EXPECT_TRUE(same_outcome(png));
    EXPECT_TRUE(decode(png, Reader::fast).ok);
    // No zlib stream around it, so no Adler-32 to test: still decoded.
    EXPECT_TRUE(decode(png, Reader::fast, Checksums::verify).ok);
}

// ---- the corpora -------------------------------------------------------------------

TEST(PngReader, KeptCorporaDecodeAsStb) {
    int files = 0;
    for (const char *dir : {"fuzz/corpus", "fuzz/crashers", "fuzz/corpus-png-reader",
                            "fuzz/corpus-png-writer", "fuzz/corpus-metadata"}) {
        const std::string path = std::string(VELMORA_SOURCE_DIR) + "/" + dir;
        DIR *d = opendir(path.c_str());
        if (!d) continue;
        while (dirent *e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::ifstream in(path + "/" + e->d_name, std::ios::binary);
            const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            EXPECT_TRUE(same_outcome(file)) << dir << "/" << e->d_name;
            ++files;
        }
        closedir(d);
    }
    EXPECT_GT(files, 0);
}

// ---- the checksums ------------------------------------------------------------------

// The offset of the first IDAT chunk's data and its length.
std::pair<size_t, size_t> first_idat(const Bytes &f) {
    for (size_t at = 8; at + 12 <= f.size();) {
        const size_t n = size_t(f[at]) << 24 | size_t(f[at + 1]) << 16 | size_t(f[at + 2]) << 8 | f[at + 3];
        if (std::memcmp(&f[at + 4], "IDAT", 4) == 0) return {at + 8, n};
        at += 12 + n;
    }
    return {0, 0};
}

void fix_crc(Bytes &f, size_t data_at, size_t n) {
    const uint32_t crc = ~velmora::crc32_update(0xFFFFFFFFu, &f[data_at - 4], n + 4);
    for (int i = 0; i < 4; ++i) f[data_at + n + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
}

TEST(PngReader, WrongAdlerIsRefusedByEitherReader) {
    for (const Pack pack : {Pack::stored, Pack::fixed, Pack::zlib_best})
        for (int interlace = 0; interlace < 2; ++interlace) {
            const Bytes file = make_png(PngShape{12, 10, 6, 8, interlace == 1, false, pack, 0, 31});
            for (Reader r : {Reader::fast, Reader::reference})
                ASSERT_TRUE(decode(file, r, Checksums::verify).ok);
            const auto idat = first_idat(file);
            struct Damage {
                const char *what;
                Bytes file;
            };
            std::vector<Damage> damages;
            Bytes flipped = file;  // a literal byte of the stored or coded data
            flipped[idat.first + (pack == Pack::stored ? 20 : idat.second / 2)] ^= 0x10;
            fix_crc(flipped, idat.first, idat.second);
            damages.push_back({"one byte of image data flipped", flipped});
            Bytes sum = file;
            sum[idat.first + idat.second - 1] ^= 0x01;
            fix_crc(sum, idat.first, idat.second);
            damages.push_back({"checksum itself wrong", sum});
            // The checksum's four bytes gone (IDAT shortened, CRC fixed).
            Bytes gone(file.begin(), file.begin() + long(idat.first + idat.second - 4));
            const size_t n = idat.second - 4;
            for (int i = 0; i < 4; ++i) gone[idat.first - 8 + size_t(i)] = uint8_t(n >> (24 - 8 * i));
            gone.insert(gone.end(), 4, 0);
            fix_crc(gone, idat.first, n);
            gone.insert(gone.end(), file.begin() + long(idat.first + idat.second + 4), file.end());
            damages.push_back({"checksum missing", gone});
            for (const Damage &d : damages)
                for (Reader r : {Reader::fast, Reader::reference}) {
                    const Outcome o = decode(d.file, r, Checksums::verify);
                    if (o.ok || o.reason != "bad zlib checksum") {
                        // A flip that breaks the stream itself keeps stb's reason.
                        const Outcome plain = decode(d.file, Reader::reference);
                        ASSERT_FALSE(plain.ok && o.ok) << d.what;
                        if (plain.ok) ADD_FAILURE() << d.what << ": " << o.reason;
                        else EXPECT_EQ(o.reason, plain.reason) << d.what;
                    }
                }
        }
}

// ---- read in pieces -------------------------------------------------------------------

// Where each chunk of a file starts, with its type and length.
struct ChunkAt {
    size_t at;
    std::string type;
    size_t length;
};
std::vector<ChunkAt> chunks_of(const Bytes &f) {
    std::vector<ChunkAt> out;
    for (size_t at = 8; at + 12 <= f.size();) {
        const size_t n = size_t(f[at]) << 24 | size_t(f[at + 1]) << 16 | size_t(f[at + 2]) << 8 | f[at + 3];
        out.push_back({at, std::string(f.begin() + long(at + 4), f.begin() + long(at + 8)), n});
        at += 12 + n;
    }
    return out;
}

// `extra` chunk inserted before IEND.
Bytes before_iend(const Bytes &file, const char *type, const Bytes &data) {
    Bytes out(file.begin(), file.end() - 12);
    chunk(out, type, data.data(), data.size());
    out.insert(out.end(), file.end() - 12, file.end());
    return out;
}

TEST(PngPieces, LargePicturesAreReadOnceInSmallPieces) {
    for (const PngShape &s : {PngShape{1500, 700, 6, 8, false, false, Pack::zlib_fast, 0, 11},
                              PngShape{777, 301, 2, 16, true, false, Pack::zlib_fast, 0, 13},
                              PngShape{4000, 3, 0, 1, false, false, Pack::fixed, 8191, 14},
                              PngShape{600, 600, 3, 8, false, true, Pack::stored, 0, 15}}) {
        const Bytes file = make_png(s);
        for (Checksums c : {Checksums::ignore, Checksums::verify}) {
            vt::PieceSource src(file);
            const Outcome o = decode_from(src, Reader::fast, c);
            ASSERT_TRUE(same(o, decode(file, Reader::fast, c), "pieces/memory")) << describe(s);
            EXPECT_TRUE(o.ok) << describe(s);
            EXPECT_EQ(src.memory(), nullptr) << "held whole: " << describe(s);
            EXPECT_LE(src.largest_read, size_t(65536)) << describe(s);
            // Each byte about once: the image data's CRCs are summed as it is inflated.
            EXPECT_LE(double(src.bytes_read), 1.1 * double(file.size()) + 4096) << describe(s);
        }
    }
}

TEST(PngPieces, AnyDamagedCrcOfThePixelsIsBadCrcWhereverItSits) {
    // Several IDATs; one more after the end of the stream, which the inflater
    // never needs; an ancillary chunk, whose CRC decides nothing.
    for (int interlace = 0; interlace < 2; ++interlace)
        for (int color : {3, 2}) {
            PngShape s{23, 19, color, 8, interlace == 1, true, Pack::fixed, 64, 17};
            Bytes file = make_png(s);
            file = before_iend(file, "IDAT", {1, 2, 3});
            file = before_iend(file, "tEXt", {'a', 0, 'b'});
            ASSERT_TRUE(decode(file, Reader::fast, Checksums::verify).ok);
            ASSERT_TRUE(decode_pieces(file, Checksums::verify).ok);
            const std::vector<ChunkAt> chunks = chunks_of(file);
            for (size_t k = 0; k < chunks.size(); ++k) {
                const ChunkAt &c = chunks[k];
                const std::string what = c.type + " #" + std::to_string(k) + " " + describe(s);
                Bytes bad = file;
                bad[c.at + 8 + c.length + 3] ^= 0x40;
                const Outcome o = decode_pieces(bad, Checksums::verify);
                ASSERT_TRUE(same(o, decode(bad, Reader::fast, Checksums::verify), "pieces/memory"))
                    << what;
                if (c.type == "tEXt") EXPECT_TRUE(o.ok) << what;
                else EXPECT_EQ(o.reason, "bad CRC") << what;
                // Unchecked, the damage is no matter.
                EXPECT_TRUE(decode_pieces(bad, Checksums::ignore).ok) << what;
            }
        }
}

TEST(PngPieces, BadCrcWinsOverTheStreamsOwnFaults) {
    const PngShape s{31, 17, 6, 8, false, false, Pack::zlib_best, 40, 23};
    const Bytes file = before_iend(make_png(s), "IDAT", {9, 9});
    std::vector<ChunkAt> chunks = chunks_of(file);
    std::vector<size_t> idats;
    for (size_t k = 0; k < chunks.size(); ++k)
        if (chunks[k].type == "IDAT") idats.push_back(k);
    ASSERT_GE(idats.size(), 4u);
    struct Case {
        const char *what;
        size_t broken;   // the IDAT whose data is made wrong (its CRC fixed)
        size_t damaged;  // the IDAT whose CRC is wrong
    };
    const Case cases[] = {{"zlib fault first, damage last", idats[0], idats.back()},
                          {"zlib fault first, damage in the data after the stream", idats[1],
                           idats.back()},
                          {"zlib fault and damage in the same chunk", idats[2], idats[2]},
                          {"damage before the fault", idats[3], idats[0]}};
    for (const Case &c : cases) {
        Bytes bad = file;
        const ChunkAt &b = chunks[c.broken];
        for (size_t i = 0; i < b.length; ++i) bad[b.at + 8 + i] ^= 0xA5;
        fix_crc(bad, b.at + 8, b.length);
        ASSERT_FALSE(decode(bad, Reader::fast, Checksums::verify).ok) << c.what;
        const ChunkAt &d = chunks[c.damaged];
        bad[d.at + 8 + d.length] ^= 0x01;
        EXPECT_EQ(decode_pieces(bad, Checksums::verify).reason, "bad CRC") << c.what;
        EXPECT_TRUE(pieces_as_memory(bad)) << c.what;
    }
    // Too little data: the stream cut after its first IDAT, a later chunk damaged.
    Bytes cut(file.begin(), file.begin() + long(chunks[idats[0]].at + 12 + chunks[idats[0]].length));
    cut.insert(cut.end(), file.begin() + long(chunks[idats.back()].at), file.end());
    const ChunkAt last = chunks_of(cut)[chunks_of(cut).size() - 2];
    cut[last.at + 8 + last.length + 2] ^= 0x10;
    EXPECT_EQ(decode_pieces(cut, Checksums::verify).reason, "bad CRC");
    EXPECT_TRUE(pieces_as_memory(cut));
}

TEST(PngPieces, ReadsThatFailPartWayRefuseTheFile) {
    for (int interlace = 0; interlace < 2; ++interlace) {
        const Bytes file = make_png(PngShape{13, 11, 3, 8, interlace == 1, true, Pack::zlib_best, 50, 7});
        const Outcome good = decode(file, Reader::fast);
        for (uint64_t from = 0; from < file.size(); ++from) {
            vt::PieceSource verified(file, from);
            const Outcome v = decode_from(verified, Reader::fast, Checksums::verify);
            // Verified, every byte up to the end of IEND is read.
            ASSERT_EQ(v.reason, velmora::kInputReadFailed) << "failing from " << from;
            vt::PieceSource plain(file, from);
            const Outcome o = decode_from(plain, Reader::fast, Checksums::ignore);
            if (o.ok) EXPECT_TRUE(same(o, good, "unread failure")) << "failing from " << from;
            else EXPECT_EQ(o.reason, velmora::kInputReadFailed) << "failing from " << from;
        }
    }
}

TEST(PngPieces, FromAFileOnDisk) {
    vt::Sandbox box;
    const Bytes file = make_png(PngShape{300, 200, 2, 8, false, false, Pack::zlib_fast, 5000, 3});
    const std::string path = box.path("in.png");
    vt::write_bytes(path, file);
    std::unique_ptr<velmora::InputSource> src = velmora::open_input(path.c_str());
    ASSERT_TRUE(src);
    EXPECT_EQ(src->size(), file.size());
    EXPECT_EQ(src->memory(), nullptr);
    EXPECT_TRUE(same(decode_from(*src, Reader::fast, Checksums::verify),
                     decode(file, Reader::fast, Checksums::verify), "file/memory"));
    // read_file's refusals.
    vt::write_bytes(box.path("empty.png"), {});
    std::filesystem::create_directory(box.path("folder"));
    for (const std::string &refused : {box.path("missing.png"), box.path("empty.png"),
                                       box.path("folder")})
        EXPECT_FALSE(velmora::open_input(refused.c_str())) << refused;
    // A file cut short by someone else while it is read: refused, no crash.
    // (the last IDAT CRC ends 12 bytes before the end: IEND was read at open)
    for (uint64_t keep : {uint64_t(20), uint64_t(file.size() / 2), uint64_t(file.size() - 14)}) {
        vt::write_bytes(path, file);
        std::unique_ptr<velmora::InputSource> cut = velmora::open_input(path.c_str());
        ASSERT_TRUE(cut);
        const char *why = nullptr;
        std::unique_ptr<velmora::RowReader> rows =
            velmora::open_rows(*cut, &why, Reader::fast, Checksums::verify);
        std::filesystem::resize_file(path, keep);
        unsigned char *px = rows ? velmora::read_picture(*rows, &why) : nullptr;
        EXPECT_EQ(px, nullptr) << keep;
        std::free(px);
        EXPECT_STREQ(why, velmora::kInputReadFailed) << keep;
    }
}

// ---- the unfilters --------------------------------------------------------------------

TEST(PngUnfilter, EveryIsaEqualsScalar) {
    std::mt19937 rng(99);
    for (velmora::Isa isa : velmora::available_isas()) {
        const velmora::Unfilter f = velmora::unfilter_for(isa);
        for (int bpp : {1, 2, 3, 4, 6, 8})
            for (int filter = 0; filter < 5; ++filter)
                for (size_t n = size_t(bpp); n <= 70; n += size_t(bpp)) {
                    Bytes prior(n + 16), row(n + 16);
                    for (auto &b : prior) b = uint8_t(rng());
                    for (auto &b : row) b = uint8_t(rng());
                    Bytes expect = row, got = row;
                    velmora::unfilter_row_scalar(filter, expect.data(), prior.data(), n, bpp);
                    f(filter, got.data(), prior.data(), n, bpp);
                    ASSERT_TRUE(std::equal(expect.begin(), expect.begin() + long(n), got.begin()))
                        << velmora::isa_name(isa) << " filter " << filter << " bpp " << bpp << " n " << n;
                    ASSERT_TRUE(std::equal(expect.begin() + long(n), expect.end(), got.begin() + long(n)))
                        << "wrote past the row";
                }
    }
}

TEST(PngUnfilter, PaethTiesPickAsTheFormatSays) {
    // a=b=c: a; then b before c. Pixels chosen so each branch is met.
    const struct {
        uint8_t a, b, c, want;
    } cases[] = {{10, 10, 10, 10}, {10, 20, 10, 20}, {20, 10, 10, 20}, {10, 20, 20, 10},
                 {0, 255, 128, 128}, {255, 0, 128, 128}, {100, 50, 200, 50}};
    for (velmora::Isa isa : velmora::available_isas())
        for (const auto &c : cases) {
            Bytes prior(32, 0), row(32, 0);
            prior[0] = c.c;
            prior[4] = c.b;
            row[0] = uint8_t(c.a - c.c);  // reconstructs to a (prior c, Paeth of 0,c,0 is c)
            row[4] = 0;
            velmora::unfilter_for(isa)(4, row.data(), prior.data(), 8, 4);
            EXPECT_EQ(row[0], c.a);
            EXPECT_EQ(row[4], c.want) << velmora::isa_name(isa) << " a" << int(c.a) << " b" << int(c.b)
                                      << " c" << int(c.c);
        }
}

}  // namespace
