// Files made to break the decoder. Each fault known in the stb_image version
// we build on has a file here that used to reach it; every damaged file must
// end in 0, one printable line and no output, and decode the same way every
// time whatever memory held before.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support.h"
#include "velmora.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#if defined(__GNUC__)
#define TEST_NOINLINE __attribute__((noinline))
#elif defined(_MSC_VER)
#define TEST_NOINLINE __declspec(noinline)
#else
#define TEST_NOINLINE
#endif

using namespace vt;

namespace {

using Bytes = std::vector<uint8_t>;

void put16be(Bytes &b, uint32_t v) { b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)}); }
void put32be(Bytes &b, uint32_t v) {
    b.insert(b.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}
void put16le(Bytes &b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void put32le(Bytes &b, uint32_t v) {
    b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}

// ---- memory full of a pattern ---------------------------------------------------

// A call through a volatile pointer, so that no store below can be dropped as dead.
void *(*volatile g_fill)(void *, int, size_t) = std::memset;

// Leaves freed heap blocks of many sizes full of 0xA5, so that a decoder that
// reads memory it never wrote sees the pattern instead of a fresh page's zeros.
void dirty_heap() {
    std::vector<void *> blocks;
    for (size_t size = 1024; size <= 96 * 1024; size += 1024) {
        void *p = std::malloc(size);
        if (!p) continue;
        g_fill(p, 0xA5, size);
        blocks.push_back(p);
    }
    for (void *p : blocks) std::free(p);
}

// The same for the stack that the next call will use.
TEST_NOINLINE void dirty_stack() {
    unsigned char area[64 * 1024];
    g_fill(area, 0xA5, sizeof area);
}

// ---- running a file through the pipeline -------------------------------------------

// The decoded output of `file` (run through invert twice, so pixels are as in
// the file), starting from dirtied memory; fails the test if it is refused.
Picture decoded(const Bytes &file) {
    Sandbox box;
    const std::string in = box.path("in.img"), mid = box.path("mid.png"),
                      out = box.path("out.png");
    write_bytes(in, file);
    dirty_heap();
    dirty_stack();
    EXPECT_EQ(velmora_invert(in.c_str(), mid.c_str()), 1) << last_error();
    if (!file_exists(mid)) return Picture{};
    EXPECT_EQ(velmora_invert(mid.c_str(), out.c_str()), 1) << last_error();
    return read_picture(out);
}

// The output file of invert on `file`, from dirtied memory; empty (and a test
// failure) if the file is refused.
Bytes output_of(const Bytes &file, const std::string &out_name) {
    Sandbox box;
    const std::string in = box.path("in.img"), out = box.path(out_name);
    write_bytes(in, file);
    dirty_heap();
    dirty_stack();
    EXPECT_EQ(velmora_invert(in.c_str(), out.c_str()), 1) << last_error();
    return read_bytes(out);
}

// The reason in "invert: cannot decode <in> (<reason>)" for a refused `file`,
// after checking the rest of the message and that no output was made.
std::string reason_for(const Bytes &file) {
    Sandbox box;
    const std::string in = box.path("in.img"), out = box.path("out.png");
    write_bytes(in, file);
    dirty_heap();
    dirty_stack();
    if (velmora_invert(in.c_str(), out.c_str()) != 0) return "<decoded>";
    EXPECT_FALSE(file_exists(out));
    const std::string msg = last_error(), head = "invert: cannot decode " + in + " (";
    if (msg.compare(0, head.size(), head) != 0 || msg.back() != ')') return "<" + msg + ">";
    return msg.substr(head.size(), msg.size() - head.size() - 1);
}

// ---- PNG ----------------------------------------------------------------------------

uint32_t crc32(const uint8_t *p, size_t n) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

uint32_t adler32(const Bytes &data) {
    uint32_t a = 1, b = 0;
    for (uint8_t v : data) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

void chunk(Bytes &png, const std::string &type, const Bytes &data) {
    put32be(png, uint32_t(data.size()));
    Bytes body(type.begin(), type.end());
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    put32be(png, crc32(body.data(), body.size()));
}

// Signature and IHDR.
Bytes png_head(uint32_t width, uint32_t height, int depth, int colour_type) {
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes ihdr;
    put32be(ihdr, width);
    put32be(ihdr, height);
    ihdr.insert(ihdr.end(), {uint8_t(depth), uint8_t(colour_type), 0, 0, 0});
    chunk(png, "IHDR", ihdr);
    return png;
}

// A zlib stream holding `raw` in one stored block.
Bytes zlib_stored(const Bytes &raw) {
    Bytes z = {0x78, 0x01, 0x01};
    put16le(z, uint32_t(raw.size()));
    put16le(z, uint32_t(~raw.size() & 0xFFFF));
    z.insert(z.end(), raw.begin(), raw.end());
    put32be(z, adler32(raw));
    return z;
}

Bytes png_file(Bytes png, const Bytes &zlib) {
    chunk(png, "IDAT", zlib);
    chunk(png, "IEND", {});
    return png;
}

// Deflate's bit order: values from their lowest bit, Huffman codes from their highest.
struct DeflateBits {
    Bytes out;
    int used = 0;
    void bit(int b) {
        if (used == 0) out.push_back(0);
        out.back() |= uint8_t((b & 1) << used);
        used = (used + 1) % 8;
    }
    void value(uint32_t v, int count) {
        for (int i = 0; i < count; ++i) bit(int(v >> i));
    }
    void code(uint32_t c, int length) {
        for (int i = length - 1; i >= 0; --i) bit(int(c >> i));
    }
    // A literal/length symbol in the fixed code of block type 1.
    void fixed(int symbol) {
        if (symbol < 144) code(0x30 + symbol, 8);
        else if (symbol < 256) code(0x190 + symbol - 144, 9);
        else if (symbol < 280) code(symbol - 256, 7);
        else code(0xC0 + symbol - 280, 8);
    }
};

// The literals 0, 10, 20 (a 2x1 grey row with its filter byte), then one
// back-reference made of `length_symbol` and `distance_code`, in fixed codes.
Bytes zlib_with_reference(int length_symbol, int distance_code) {
    DeflateBits d;
    d.value(1, 1);  // last block
    d.value(1, 2);  // fixed codes
    for (int literal : {0, 10, 20}) d.fixed(literal);
    d.fixed(length_symbol);
    d.code(uint32_t(distance_code), 5);
    d.fixed(256);
    Bytes z = {0x78, 0x01};
    z.insert(z.end(), d.out.begin(), d.out.end());
    // The checksum of everything the stream makes: the match repeats 20.
    put32be(z, adler32({0, 10, 20, 20, 20, 20}));
    return z;
}

// ---- BMP ----------------------------------------------------------------------------

// File header and a 40-byte info header.
Bytes bmp_head(int32_t width, int32_t height, int bpp, uint32_t pixel_offset) {
    Bytes b = {'B', 'M'};
    put32le(b, 0);  // file size: not read
    put32le(b, 0);
    put32le(b, pixel_offset);
    put32le(b, 40);
    put32le(b, uint32_t(width));
    put32le(b, uint32_t(height));
    put16le(b, 1);
    put16le(b, uint32_t(bpp));
    for (int i = 0; i < 6; ++i) put32le(b, 0);  // no compression, sizes, colours
    return b;
}

// ---- JPEG ---------------------------------------------------------------------------

void segment(Bytes &jpg, uint8_t marker, const Bytes &body) {
    jpg.insert(jpg.end(), {0xFF, marker});
    put16be(jpg, uint32_t(body.size() + 2));
    jpg.insert(jpg.end(), body.begin(), body.end());
}

// Entropy-coded bits, highest first, with a 0 stuffed after every 0xFF byte.
struct JpegBits {
    Bytes out;
    uint32_t acc = 0;
    int used = 0;
    void put(uint32_t v, int count) {
        for (int i = count - 1; i >= 0; --i) {
            acc = (acc << 1) | ((v >> i) & 1);
            if (++used == 8) flush_byte();
        }
    }
    Bytes finish() {
        while (used != 0) put(1, 1);
        return out;
    }

private:
    void flush_byte() {
        out.push_back(uint8_t(acc));
        if (uint8_t(acc) == 0xFF) out.push_back(0);
        acc = 0;
        used = 0;
    }
};

// Start of a one-component 8-bit JPEG: SOI, a quantisation table of `q`
// (16-bit entries when `q` > 255) and the frame header (SOF0 or SOF2).
Bytes jpeg_head(int width, int height, int q, bool progressive) {
    Bytes jpg = {0xFF, 0xD8};
    Bytes dqt = {uint8_t(q > 255 ? 0x10 : 0x00)};
    for (int i = 0; i < 64; ++i) {
        if (q > 255) put16be(dqt, uint32_t(q));
        else dqt.push_back(uint8_t(q));
    }
    segment(jpg, 0xDB, dqt);
    Bytes sof = {8};
    put16be(sof, uint32_t(height));
    put16be(sof, uint32_t(width));
    sof.insert(sof.end(), {1, 1, 0x11, 0});
    segment(jpg, progressive ? 0xC2 : 0xC0, sof);
    return jpg;
}

// A Huffman table with one symbol, coded as the single bit 0.
void one_symbol_table(Bytes &jpg, uint8_t class_and_id, uint8_t symbol) {
    Bytes dht = {class_and_id, 1};
    dht.insert(dht.end(), 15, 0);
    dht.push_back(symbol);
    segment(jpg, 0xC4, dht);
}

// A one-component JPEG of `blocks_x` x `blocks_y` blocks whose every DC
// difference is +32767. Scaled by the 16-bit quantiser 65535 (baseline) or
// by 2^13 (progressive first DC scan, Al = 13), the running value passes
// 2^31 from the second or ninth block on; the running value itself does
// from block 65538 on.
Bytes jpeg_dc_overflow(bool progressive, int blocks_x, int blocks_y) {
    Bytes jpg = jpeg_head(blocks_x * 8, blocks_y * 8, progressive ? 1 : 65535, progressive);
    one_symbol_table(jpg, 0x00, 15);                      // DC: every difference has 15 bits
    if (!progressive) one_symbol_table(jpg, 0x10, 0x00);  // AC: end of block
    // one component, tables 0/0, spectral 0..0 or 0..63, Al 13 when progressive
    segment(jpg, 0xDA,
            {1, 1, 0x00, 0, uint8_t(progressive ? 0 : 63), uint8_t(progressive ? 13 : 0)});
    JpegBits bits;
    for (int block = 0; block < blocks_x * blocks_y; ++block) {
        bits.put(0, 1);
        bits.put(0x7FFF, 15);
        if (!progressive) bits.put(0, 1);
    }
    Bytes data = bits.finish();
    jpg.insert(jpg.end(), data.begin(), data.end());
    jpg.insert(jpg.end(), {0xFF, 0xD9});
    return jpg;
}

// A small real JPEG from stb's writer.
Bytes small_jpeg() {
    Sandbox box;
    write_jpg(box.path("s.jpg"), gradient(16, 8));
    return read_bytes(box.path("s.jpg"));
}

// `jpg` with a DHT segment for DC table 0 put right after SOI, holding
// `counts` codes of each length 1..16 (and that many symbols).
Bytes with_dht(const Bytes &jpg, const std::vector<int> &counts) {
    Bytes dht = {0x00};
    int total = 0;
    for (int c : counts) {
        dht.push_back(uint8_t(c));
        total += c;
    }
    for (int i = 0; i < total; ++i) dht.push_back(uint8_t(i % 12));
    Bytes out(jpg.begin(), jpg.begin() + 2);
    segment(out, 0xC4, dht);
    out.insert(out.end(), jpg.begin() + 2, jpg.end());
    return out;
}

std::vector<int> counts_of(std::initializer_list<std::pair<int, int>> length_count) {
    std::vector<int> counts(16, 0);
    for (auto lc : length_count) counts[size_t(lc.first - 1)] = lc.second;
    return counts;
}

// ---- faults of the decoder ----------------------------------------------------------

TEST(HostileJpeg, HuffmanTableOfMoreThan256CodesIsRefused) {
    const Bytes jpg = small_jpeg();
    // 255 codes of 8 bits and one of 9 fill the table exactly; the real
    // tables of the file come later and replace it, so the file decodes.
    EXPECT_EQ(decoded(with_dht(jpg, counts_of({{8, 255}, {9, 1}}))).px.size(), 128u);
    EXPECT_EQ(reason_for(with_dht(jpg, counts_of({{8, 255}, {9, 2}}))),
              "too many Huffman codes");
    EXPECT_EQ(reason_for(with_dht(jpg, counts_of({{15, 255}, {16, 255}}))),
              "too many Huffman codes");
}

TEST(HostileJpeg, DcValuesThatOverflowDecodeTheSameEveryTime) {
    for (bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "baseline");
        // The scaled value overflows (GCC's checks cannot see it, Clang's can).
        const Bytes small = jpeg_dc_overflow(progressive, 9, 1);
        const Picture first = decoded(small);
        ASSERT_EQ(first.width, 72);
        EXPECT_EQ(decoded(small).px, first.px);
        // The running value overflows: 256 x 257 blocks.
        const Bytes large = jpeg_dc_overflow(progressive, 256, 257);
        const Bytes once = output_of(large, "out.bmp");
        ASSERT_FALSE(once.empty());
        EXPECT_EQ(output_of(large, "out.bmp"), once);
    }
}

TEST(HostileJpeg, ScanWithUndefinedHuffmanTablesReadsThemAsEmpty) {
    // No DHT at all: zeroed tables give DC 0 and end-of-block for every
    // block, a flat mid-grey, whatever memory held before the call.
    Bytes jpg = jpeg_head(8, 8, 1, false);
    segment(jpg, 0xDA, {1, 1, 0x00, 0, 63, 0});
    jpg.insert(jpg.end(), {0x12, 0x34, 0x56, 0xFF, 0xD9});
    const Picture got = decoded(jpg);
    EXPECT_EQ(got.px, filled(8, 8, rgb(128, 128, 128)).px);
}

TEST(HostileJpeg, FewerBitsThanBlocksAreRefused) {
    // One component, 8 pixels wide: one block per 8 rows, and every block
    // costs at least one bit, so `bytes` bytes hold at most 8 * bytes blocks.
    auto file = [](int height) {
        Bytes jpg = jpeg_head(8, height, 1, false);
        one_symbol_table(jpg, 0x00, 0);
        one_symbol_table(jpg, 0x10, 0);
        segment(jpg, 0xDA, {1, 1, 0x00, 0, 63, 0});
        jpg.insert(jpg.end(), {0x00, 0x00, 0xFF, 0xD9});
        return jpg;
    };
    const int bytes = int(file(8).size());
    EXPECT_EQ(decoded(file(64 * bytes)).height, 64 * bytes);
    EXPECT_EQ(reason_for(file(64 * bytes + 8)), "too little scan data");
    EXPECT_EQ(reason_for(file(65535)), "too little scan data");
}

TEST(HostilePng, SixteenBitImagesTooLargeToConvertAreRefused) {
    struct Case {
        uint32_t width, height;
        int depth;
        const char *reason;
    };
    // Headers alone: a file the check lets through fails later for lack of data.
    const Case cases[] = {
        {16384, 32768, 16, "16-bit image too large"},
        {16384, 16384, 16, "16-bit image too large"},  // 2^28 pixels: x*y*8 wraps
        {16385, 16383, 16, "no IDAT"},                 // 2^28 - 1
        {16384, 32768, 8, "no IDAT"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        Bytes png = png_head(c.width, c.height, c.depth, 0);
        chunk(png, "IEND", {});
        EXPECT_EQ(reason_for(png), c.reason);
    }
}

TEST(HostilePng, EmptyFirstDataChunkIsSkipped) {
    // Before any data arrives there is no buffer to copy the empty chunk into.
    Bytes png = png_head(2, 1, 8, 0);
    chunk(png, "IDAT", {});
    EXPECT_EQ(decoded(png_file(png, zlib_stored({0, 10, 20}))).px,
              (std::vector<Rgba>{rgb(10, 10, 10), rgb(20, 20, 20)}));
}

// Where the chunk of `type` starts in a PNG (its length field), or 0.
size_t chunk_at(const Bytes &png, const char *type) {
    for (size_t at = 8; at + 12 <= png.size();) {
        if (std::memcmp(&png[at + 4], type, 4) == 0) return at;
        const size_t len = (size_t(png[at]) << 24) | (size_t(png[at + 1]) << 16) |
                           (size_t(png[at + 2]) << 8) | png[at + 3];
        at += 12 + len;
    }
    return 0;
}

// One damaged byte in a chunk that decides the pixels refuses the file, with
// the checksum named, where the decoder alone would draw a damaged picture.
// Damage in a chunk that plays no part in the pixels changes nothing.
TEST(HostilePng, DamagedChunksAreRefusedByTheirCrc) {
    Sandbox box;
    write_png(box.path("a.png"), gradient(40, 30), 4);
    const Bytes good = read_bytes(box.path("a.png"));
    Bytes pal = png_head(3, 2, 8, 3);
    chunk(pal, "PLTE", {255, 0, 0, 0, 255, 0, 0, 0, 255});
    chunk(pal, "tRNS", {128, 255});
    pal = png_file(pal, zlib_stored({0, 0, 1, 2, 1, 2, 1, 0}));
    ASSERT_EQ(reason_for(good), "<decoded>");
    constexpr size_t kCrc = size_t(-1), kMiddle = size_t(-2);
    struct Case {
        const char *what;
        const Bytes *file;
        const char *type;
        size_t offset;  // into the chunk's data; kCrc: its CRC, kMiddle: mid-data
    };
    const Case cases[] = {
        {"first byte of the image data", &good, "IDAT", 0},
        {"a byte mid-stream", &good, "IDAT", kMiddle},
        {"the IDAT CRC", &good, "IDAT", kCrc},
        {"the IHDR width", &good, "IHDR", 2},
        {"the IEND CRC", &good, "IEND", 0},
        {"a palette entry", &pal, "PLTE", 4},
        {"the transparency", &pal, "tRNS", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes file = *c.file;
        const size_t at = chunk_at(file, c.type);
        ASSERT_NE(at, 0u);
        const size_t len = (size_t(file[at]) << 24) | (size_t(file[at + 1]) << 16) |
                           (size_t(file[at + 2]) << 8) | file[at + 3];
        const size_t byte = c.offset == kCrc      ? at + 8 + len
                            : c.offset == kMiddle ? at + 8 + len / 2
                                                  : at + 8 + c.offset;
        ASSERT_LT(byte, file.size());
        file[byte] ^= 0x10;
        EXPECT_EQ(reason_for(file), "bad CRC");
    }
    // A text chunk with a wrong CRC: the pixels do not depend on it.
    Bytes text(good.begin(), good.begin() + 33);
    chunk(text, "tEXt", {'a', 0, 'b'});
    text.back() ^= 1;
    text.insert(text.end(), good.begin() + 33, good.end());
    EXPECT_EQ(reason_for(text), "<decoded>");
}

TEST(HostilePalette, IndicesPastThePaletteReadAsZeros) {
    // Two entries, red and green; one row using every index from 1 to 255.
    const int width = 255;
    Bytes row;
    for (int i = 1; i <= width; ++i) row.push_back(uint8_t(i));

    Bytes png = png_head(width, 1, 8, 3);
    chunk(png, "PLTE", {255, 0, 0, 0, 255, 0});
    Bytes raw = {0};  // filter byte
    raw.insert(raw.end(), row.begin(), row.end());
    png = png_file(png, zlib_stored(raw));

    Bytes bmp = bmp_head(width, 1, 8, 14 + 40 + 2 * 4);
    bmp.insert(bmp.end(), {0, 0, 255, 0, 0, 255, 0, 0});  // BGR0 entries
    bmp.insert(bmp.end(), row.begin(), row.end());
    bmp.push_back(0);  // row padding

    // PNG palette entries carry an alpha value (transparent black past the
    // palette); BMP ones do not (opaque black).
    for (bool is_png : {true, false}) {
        SCOPED_TRACE(is_png ? "PNG" : "BMP");
        std::vector<Rgba> expected(width, is_png ? rgb(0, 0, 0, 0) : rgb(0, 0, 0));
        expected[0] = rgb(0, 255, 0);
        EXPECT_EQ(decoded(is_png ? png : bmp).px, expected);
    }
}

TEST(HostileZlib, CodesThatStandForNoLengthOrDistanceAreRefused) {
    struct Case {
        int length_symbol, distance_code;
        const char *reason;  // null: decodes
    };
    const Case cases[] = {
        {257, 0, nullptr},  // length 3, distance 1: the stream itself is sound
        {286, 0, "bad length code"},
        {287, 0, "bad length code"},
        {257, 30, "bad distance code"},
        {257, 31, "bad distance code"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.length_symbol) + "/" + std::to_string(c.distance_code));
        const Bytes png =
            png_file(png_head(2, 1, 8, 0), zlib_with_reference(c.length_symbol, c.distance_code));
        if (c.reason) EXPECT_EQ(reason_for(png), c.reason);
        else EXPECT_EQ(decoded(png).px, (std::vector<Rgba>{rgb(10, 10, 10), rgb(20, 20, 20)}));
    }
}

TEST(HostileBmp, PixelsMissingFromTheFileAreRefused) {
    Sandbox box;
    write_bmp(box.path("a.bmp"), gradient(5, 3), 3);  // rows of 15 bytes + 1 of padding
    const Bytes full = read_bytes(box.path("a.bmp"));
    const Bytes no_last_pad(full.begin(), full.end() - 1);
    const Bytes short_one(full.begin(), full.end() - 2);

    EXPECT_EQ(decoded(no_last_pad).px, decoded(full).px);
    EXPECT_EQ(reason_for(short_one), "truncated pixel data");
    EXPECT_EQ(reason_for(Bytes(full.begin(), full.begin() + 54)), "truncated pixel data");
    // A few bytes declaring 8192 x 8192 (256 MB of pixels).
    EXPECT_EQ(reason_for(bmp_head(8192, 8192, 24, 54)), "truncated pixel data");
    Bytes top_down = bmp_head(8192, -8192, 24, 54);
    top_down.insert(top_down.end(), 300, 0x40);
    EXPECT_EQ(reason_for(top_down), "truncated pixel data");
    // What the decoder refuses by itself keeps its own reason.
    EXPECT_EQ(reason_for(bmp_head(8192, 8192, 2, 62)), "bad bpp");
    EXPECT_EQ(reason_for({'B', 'M'}), "unknown image type");
}

TEST(HostileBmp, ImagesWithoutPixelsAreRefused) {
    EXPECT_EQ(reason_for(bmp_head(0, 5, 24, 54)), "0-pixel image");
    EXPECT_EQ(reason_for(bmp_head(5, 0, 24, 54)), "0-pixel image");
}

// ---- the reason in the message -------------------------------------------------------

TEST(HostileReason, IsOnePrintableLine) {
    struct Case {
        Bytes type;
        const char *reason;
    };
    const Case cases[] = {
        {{'X', 'Y', 'Z', 'W'}, "XYZW PNG chunk not known"},
        {{0x01, 'B', '\n', 'D'}, "?B?D PNG chunk not known"},
        {{0xC1, 0x7F, 0xFF, 'q'}, "???q PNG chunk not known"},
        {{0x00, 'A', 'B', 'C'}, "corrupt"},  // the decoder's text is empty
    };
    for (const Case &c : cases) {
        Bytes png = png_head(1, 1, 8, 0);
        chunk(png, std::string(c.type.begin(), c.type.end()), {0});
        EXPECT_EQ(reason_for(png_file(png, zlib_stored({0, 0}))), c.reason);
    }
}

TEST(HostileReason, IsNeverLeftOverFromAnEarlierFile) {
    // An IDAT chunk declaring 4 GB: the decoder stops without a reason of its own.
    Bytes png = png_head(1, 1, 8, 0);
    put32be(png, 0xFFFFFFF0u);
    png.insert(png.end(), {'I', 'D', 'A', 'T', 0, 0});
    ASSERT_EQ(reason_for({'B', 'M'}), "unknown image type");
    EXPECT_EQ(reason_for(png), "(null)");
}

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
// The decoder's reason for `file` in a child process whose address space is
// capped, so an allocation the file does not justify fails there.
std::string reason_with_little_memory(const Bytes &file) {
    int fds[2];
    if (pipe(fds) != 0) return "<pipe>";
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        const rlimit cap{512u << 20, 512u << 20};
        setrlimit(RLIMIT_AS, &cap);
        const std::string reason = reason_for(file);
        (void)!write(fds[1], reason.data(), reason.size());
        _exit(0);
    }
    close(fds[1]);
    std::string reason;
    char buf[256];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) reason.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return reason;
}

TEST(HostileMemory, ChunkLongerThanTheFileIsRefusedBeforeItIsAllocated) {
    // 57 bytes declaring an IDAT chunk of almost 2 GiB.
    Bytes png = png_head(1, 1, 8, 0);
    put32be(png, 0x7FFFFF00u);
    png.insert(png.end(), {'I', 'D', 'A', 'T', 0x78, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(reason_with_little_memory(png), "outofdata");
}
#endif

// ---- every damaged file: one clear outcome ------------------------------------------

struct Adjustment {
    const char *name;
    int (*call)(const char *, const char *);
};

// Taken in turn by the sweep, each with every output format.
const Adjustment kSweepAdjustments[] = {
    {"invert", velmora_invert},
    {"grayscale", velmora_grayscale},
    {"sepia", velmora_sepia},
};

bool is_one_printable_line(const std::string &text) {
    if (text.empty()) return false;
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            return false;
    return true;
}

// Runs `file` through an adjustment twice and checks the outcome: 1 with an
// output and no message, or 0 with one printable line naming the adjustment
// and no output; both runs alike, to the byte.
void check_outcome(const Sandbox &box, const Bytes &file, int index) {
    const size_t count = sizeof kSweepAdjustments / sizeof kSweepAdjustments[0];
    const Adjustment &adj = kSweepAdjustments[size_t(index) % count];
    static const char *const kOutputs[] = {"out.png", "out.bmp", "out.jpg"};
    const std::string in = box.path("in.img"), out = box.path(kOutputs[size_t(index) / count % 3]);
    write_bytes(in, file);
    int results[2];
    std::string messages[2];
    Bytes outputs[2];
    for (int run = 0; run < 2; ++run) {
        results[run] = adj.call(in.c_str(), out.c_str());
        messages[run] = last_error();
        outputs[run] = file_exists(out) ? read_bytes(out) : Bytes{};
        std::remove(out.c_str());
    }
    ASSERT_TRUE(results[0] == 0 || results[0] == 1) << results[0];
    if (results[0] == 1) {
        EXPECT_EQ(messages[0], "");
        EXPECT_FALSE(outputs[0].empty());
    } else {
        EXPECT_TRUE(is_one_printable_line(messages[0])) << messages[0];
        EXPECT_EQ(messages[0].rfind(std::string(adj.name) + ": ", 0), 0u) << messages[0];
        EXPECT_TRUE(outputs[0].empty()) << messages[0];
    }
    EXPECT_EQ(results[1], results[0]);
    EXPECT_EQ(messages[1], messages[0]);
    EXPECT_TRUE(outputs[1] == outputs[0]) << "outputs differ";
}

// Small valid files of every kind the readers take apart differently.
std::vector<std::pair<std::string, Bytes>> sweep_files() {
    Sandbox box;
    const Picture pic = gradient(7, 5);
    write_jpg(box.path("a.jpg"), pic);
    write_png(box.path("a.png"), pic, 4);
    write_png(box.path("g.png"), pic, 1);
    write_bmp(box.path("a.bmp"), pic, 3);
    write_bmp(box.path("b.bmp"), pic, 4);

    Bytes pal = png_head(3, 2, 8, 3);
    chunk(pal, "PLTE", {255, 0, 0, 0, 255, 0, 0, 0, 255});
    chunk(pal, "tRNS", {128, 255});
    pal = png_file(pal, zlib_stored({0, 0, 1, 2, 1, 2, 1, 0}));

    Bytes bmp8 = bmp_head(3, 2, 8, 14 + 40 + 3 * 4);
    bmp8.insert(bmp8.end(), {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0});
    bmp8.insert(bmp8.end(), {0, 1, 2, 0, 2, 1, 0, 0});

    return {{"baseline JPEG", read_bytes(box.path("a.jpg"))},
            {"progressive JPEG", jpeg_dc_overflow(true, 2, 1)},
            {"RGBA PNG", read_bytes(box.path("a.png"))},
            {"grey PNG", read_bytes(box.path("g.png"))},
            {"palette PNG", pal},
            {"24-bit BMP", read_bytes(box.path("a.bmp"))},
            {"32-bit BMP", read_bytes(box.path("b.bmp"))},
            {"8-bit BMP", bmp8}};
}

TEST(HostileSweep, EveryTruncationEndsInOneClearOutcome) {
    Sandbox box;
    int index = 0;
    for (const auto &named : sweep_files()) {
        SCOPED_TRACE(named.first);
        const Bytes &file = named.second;
        for (size_t size = 1; size < file.size(); ++size) {
            SCOPED_TRACE(size);
            check_outcome(box, Bytes(file.begin(), file.begin() + ptrdiff_t(size)), index++);
            if (HasFatalFailure()) return;
        }
    }
}

TEST(HostileSweep, SeededByteFlipsEndInOneClearOutcome) {
    Sandbox box;
    std::mt19937 rng(20240611);  // the raw output of mt19937 is the same everywhere
    int index = 0;
    for (const auto &named : sweep_files()) {
        SCOPED_TRACE(named.first);
        for (int trial = 0; trial < 40; ++trial) {
            Bytes file = named.second;
            const int flips = 1 + int(rng() % 3);
            for (int f = 0; f < flips; ++f)
                file[rng() % file.size()] ^= uint8_t(1 + rng() % 255);
            SCOPED_TRACE(trial);
            check_outcome(box, file, index++);
            if (HasFatalFailure()) return;
        }
    }
}

}  // namespace
