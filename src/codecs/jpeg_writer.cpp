// The JPEG writer. stb_image_write's baseline writer at quality 92 hands every
// byte to its callback on its own and converts, transforms and codes one
// block at a time; here the same arithmetic runs on several blocks at once,
// the entropy coder visits only the non-zero coefficients and writes eight
// bytes at a time when none of them needs stuffing, and the file goes to the
// sink in large pieces. The bytes are stb's, for every size and every pixel.
#include "jpeg_writer.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "formats.h"
#include "jpeg_blocks.h"

#include "lanes.h"

namespace velmora {
namespace jpeg {

#if defined(VELMORA_HAVE_AVX2)
// In jpeg_writer_avx2.cpp, compiled for AVX2: eight blocks at a time.
void transform_blocks_avx2(const unsigned char *const *rows, size_t offset,
                           const float (*divisors)[64], Group &out);
#endif

namespace {

// ---- tables, built as stb builds them at quality 92 -----------------------

constexpr int kLumaQuant[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr int kChromaQuant[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// Code counts by length (1..16), then the symbols, of the four standard tables.
constexpr unsigned char kDcLumaCounts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr unsigned char kDcLumaSymbols[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr unsigned char kAcLumaCounts[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
constexpr unsigned char kAcLumaSymbols[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
    0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
    0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
    0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
    0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
    0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
    0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
constexpr unsigned char kDcChromaCounts[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
constexpr unsigned char kDcChromaSymbols[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr unsigned char kAcChromaCounts[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
constexpr unsigned char kAcChromaSymbols[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
    0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
    0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
    0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
    0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
    0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
    0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
    0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
    0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
    0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

// Codes by symbol; a symbol a table lacks has length 0 and writes no bits.
struct Huffman {
    uint16_t code[256];
    uint8_t length[256];
};

Huffman canonical_codes(const unsigned char *counts, const unsigned char *symbols) {
    Huffman h{};
    unsigned code = 0;
    int k = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < counts[length - 1]; ++i, ++k) {
            h.code[symbols[k]] = static_cast<uint16_t>(code++);
            h.length[symbols[k]] = static_cast<uint8_t>(length);
        }
        code <<= 1;
    }
    return h;
}

// What the coder writes for each symbol, code and extra bits in one word, so
// that a symbol costs one look-up and one insertion: the symbol's low four
// bits are how many bits of the value follow its code (the category; for DC
// the symbol is the category), so an entry holds the code already shifted
// left by that many, above a 6-bit count of code and value bits together.
// The value's bits are then simply or-ed in. The standard tables' longest
// code with a value is 16 + 10 bits, so an entry fits 32 bits.
struct Codes {
    uint32_t entry[256];
};

constexpr int kCountBits = 6;

// The quantised values the coder meets, DC differences included, lie well
// inside +-1023: no transform coefficient of 8-bit samples exceeds 1024 in
// magnitude, and every divisor at quality 92 is at least 2 (3 for DC), so
// AC values stay within 512 and DC differences within 2 * 1024 / 3.
constexpr int kValueMask = 2047;

Codes packed_codes(const Huffman &h) {
    Codes c{};
    for (int symbol = 0; symbol < 256; ++symbol) {
        const int extra = symbol & 15;
        const uint64_t shifted = uint64_t(h.code[symbol]) << extra;
        c.entry[symbol] =
            static_cast<uint32_t>(shifted << kCountBits) | static_cast<uint32_t>(h.length[symbol] + extra);
    }
    return c;
}

struct Tables {
    unsigned char quant[2][64];  // luma, chroma; zig-zag order as the file holds them
    float divisors[2][64];       // stb's reciprocals, in zig-zag order
    Codes dc[2], ac[2];
    // Each value's category (low 4 bits) and its bits as the file stores
    // them after its code (above), at index value & kValueMask.
    uint16_t values[kValueMask + 1];
    unsigned char header[640];  // 607 bytes used
    size_t header_size;
};

Tables make_tables() {
    Tables t{};
    // stb: quality 92 scales the base tables by 200 - 2 * 92 percent.
    const int quality = 200 - 92 * 2;
    for (int i = 0; i < 64; ++i) {
        const int y = (kLumaQuant[i] * quality + 50) / 100;
        const int uv = (kChromaQuant[i] * quality + 50) / 100;
        t.quant[0][kZigZag[i]] = static_cast<unsigned char>(y < 1 ? 1 : y > 255 ? 255 : y);
        t.quant[1][kZigZag[i]] = static_cast<unsigned char>(uv < 1 ? 1 : uv > 255 ? 255 : uv);
    }
    // The AAN scale factors, each a float product as stb writes them.
    static const float aasf[] = {1.0f * 2.828427125f,         1.387039845f * 2.828427125f,
                                 1.306562965f * 2.828427125f, 1.175875602f * 2.828427125f,
                                 1.0f * 2.828427125f,         0.785694958f * 2.828427125f,
                                 0.541196100f * 2.828427125f, 0.275899379f * 2.828427125f};
    for (int row = 0, k = 0; row < 8; ++row) {
        for (int col = 0; col < 8; ++col, ++k) {
            for (int c = 0; c < 2; ++c) {
                const float divisor = 1 / (t.quant[c][kZigZag[k]] * aasf[row] * aasf[col]);
                t.divisors[c][kZigZag[k]] = divisor;
            }
        }
    }
    // A value's bits: the value when positive, one less when negative,
    // masked to its category.
    for (int v = -1024; v < 1024; ++v) {
        const unsigned magnitude = static_cast<unsigned>(v < 0 ? -v : v);
        const int category = magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude);
        const unsigned bits = static_cast<unsigned>(v < 0 ? v - 1 : v) & ((1u << category) - 1u);
        t.values[v & kValueMask] = static_cast<uint16_t>(bits << 4 | static_cast<unsigned>(category));
    }
    t.dc[0] = packed_codes(canonical_codes(kDcLumaCounts, kDcLumaSymbols));
    t.ac[0] = packed_codes(canonical_codes(kAcLumaCounts, kAcLumaSymbols));
    t.dc[1] = packed_codes(canonical_codes(kDcChromaCounts, kDcChromaSymbols));
    t.ac[1] = packed_codes(canonical_codes(kAcChromaCounts, kAcChromaSymbols));

    // JFIF header, the two quantisation tables, the frame header (its size
    // bytes are filled in per image), the four Huffman tables and the scan
    // header, byte for byte as stb writes them.
    unsigned char *p = t.header;
    auto put = [&p](const unsigned char *bytes, size_t n) {
        std::memcpy(p, bytes, n);
        p += n;
    };
    static const unsigned char head0[] = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I',
                                          'F',  0,    1,    1,    0, 0,    1,   0,   1,
                                          0,    0,    0xFF, 0xDB, 0, 0x84, 0};
    static const unsigned char head1[] = {0xFF, 0xC0, 0, 0x11, 8,    0, 0,    0,    0,    3,    1,   0x11,
                                          0,    2,    0x11, 1, 3, 0x11, 1, 0xFF, 0xC4, 0x01, 0xA2, 0};
    static const unsigned char head2[] = {0xFF, 0xDA, 0, 0xC, 3, 1, 0, 2, 0x11, 3, 0x11, 0, 0x3F, 0};
    static const unsigned char one = 1, hex10 = 0x10, hex11 = 0x11;
    put(head0, sizeof head0);
    put(t.quant[0], 64);
    put(&one, 1);
    put(t.quant[1], 64);
    put(head1, sizeof head1);
    put(kDcLumaCounts, 16);
    put(kDcLumaSymbols, sizeof kDcLumaSymbols);
    put(&hex10, 1);
    put(kAcLumaCounts, 16);
    put(kAcLumaSymbols, sizeof kAcLumaSymbols);
    put(&one, 1);
    put(kDcChromaCounts, 16);
    put(kDcChromaSymbols, sizeof kDcChromaSymbols);
    put(&hex11, 1);
    put(kAcChromaCounts, 16);
    put(kAcChromaSymbols, sizeof kAcChromaSymbols);
    put(head2, sizeof head2);
    t.header_size = static_cast<size_t>(p - t.header);
    return t;
}

// Where the frame header's height and width bytes sit: after the JFIF
// segment and the quantisation tables, five bytes into the frame header.
constexpr size_t kSizeBytesAt = 25 + 64 + 1 + 64 + 5;

const Tables &tables() {
    static const Tables t = make_tables();
    return t;
}

// ---- lane operations ------------------------------------------------------

// One block at a time, the plain C++ of stb's writer.
struct ScalarOps {
    static constexpr int L = 1;
    using F = float;
    using I = int32_t;
    static F set(float v) { return v; }
    static F add(F a, F b) { return a + b; }
    static F sub(F a, F b) { return a - b; }
    static F mul(F a, F b) { return a * b; }
    static F load(const float *p) { return *p; }
    static void store(float *p, F v) { *p = v; }
    static void pixels(const unsigned char *p, I px[4]) {
        for (int j = 0; j < 4; ++j) {
            uint32_t v;
            std::memcpy(&v, p + 4 * j, 4);
            px[j] = static_cast<int32_t>(v);
        }
    }
    template <int Shift>
    static F channel(I px) {
        return static_cast<float>((static_cast<uint32_t>(px) >> Shift) & 0xFF);
    }
    // stb rounds half away from zero by adding or subtracting 0.5 before
    // the truncating conversion.
    static I round(F v) { return static_cast<int32_t>(v < 0 ? v - 0.5f : v + 0.5f); }
    static void store_int(int32_t *p, I v) { *p = v; }
    static unsigned nonzero(I v) { return v != 0 ? 1u : 0u; }
};

#if defined(VELMORA_HAVE_SSE2)
// Four blocks side by side, one per lane: the library's SSE2 lanes, with the
// block transform's own loads, stores and conversions.
struct Sse2Ops : Sse2Lanes {
    static F load(const float *p) { return _mm_load_ps(p); }
    static void store(float *p, F v) { _mm_store_ps(p, v); }
    // Pixel j of each block's four (blocks 32 bytes apart), one block a lane.
    static void pixels(const unsigned char *p, I px[4]) {
        const I a0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const I a1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 32));
        const I a2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 64));
        const I a3 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 96));
        const I t0 = _mm_unpacklo_epi32(a0, a1), t1 = _mm_unpacklo_epi32(a2, a3);
        const I t2 = _mm_unpackhi_epi32(a0, a1), t3 = _mm_unpackhi_epi32(a2, a3);
        px[0] = _mm_unpacklo_epi64(t0, t1);
        px[1] = _mm_unpackhi_epi64(t0, t1);
        px[2] = _mm_unpacklo_epi64(t2, t3);
        px[3] = _mm_unpackhi_epi64(t2, t3);
    }
    template <int Shift>
    static F channel(I px) {
        return _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(px, Shift), _mm_set1_epi32(0xFF)));
    }
    // v + 0.5 with the sign of v: v - 0.5 exactly where stb subtracts (v < 0).
    // For -0 stb adds and this subtracts, but both truncate to 0.
    static I round(F v) {
        const F half = _mm_or_ps(_mm_and_ps(v, _mm_set1_ps(-0.0f)), _mm_set1_ps(0.5f));
        return _mm_cvttps_epi32(_mm_add_ps(v, half));
    }
    static void store_int(int32_t *p, I v) { _mm_store_si128(reinterpret_cast<__m128i *>(p), v); }
    static unsigned nonzero(I v) {
        return 0xFu & ~static_cast<unsigned>(
                          _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(v, _mm_setzero_si128()))));
    }
};
#endif

using TransformFn = void (*)(const unsigned char *const *rows, size_t offset,
                             const float (*divisors)[64], Group &out);

template <class O>
void transform_with(const unsigned char *const *rows, size_t offset, const float (*divisors)[64],
                    Group &out) {
    transform_blocks<O>(rows, offset, divisors, out);
}

// The block transform for the instruction set `isa` runs as, and how many
// neighbouring blocks it takes at a time.
struct Transform {
    TransformFn run;
    int lanes;
};

Transform transform_for(Isa isa) {
    isa = resolve(isa);
#if defined(VELMORA_HAVE_AVX2)
    if (isa == Isa::avx2) return {transform_blocks_avx2, 8};
#endif
#if defined(VELMORA_HAVE_SSE2)
    if (isa != Isa::scalar) return {transform_with<Sse2Ops>, 4};
#endif
    return {transform_with<ScalarOps>, 1};
}

// ---- entropy coding ---------------------------------------------------------

// The output: bytes staged in one large buffer and handed to the sink in
// large pieces.
class Stage {
public:
    static constexpr size_t kSize = size_t(1) << 18;
    // Room that one group of blocks never exceeds, with the file's ending:
    // at most 68 codes (DC, 63 AC, 3 runs of 16 zeros, end of block) of at
    // most 32 bits for each of 24 blocks, every byte stuffed.
    // (The bit writer's 8-byte stores past its last byte fit in the 64.)
    static constexpr size_t kGroupRoom = 3 * kMaxLanes * 68 * 4 * 2 + 64;

    Stage(WriteFn write, void *context)
        : buffer_(new (std::nothrow) unsigned char[kSize]), write_(write), context_(context) {}
    bool ok() const { return buffer_ != nullptr && !failed_; }
    unsigned char *cursor() { return buffer_.get() + used_; }
    void advance_to(unsigned char *end) { used_ = static_cast<size_t>(end - buffer_.get()); }
    // Hands the staged bytes over when fewer than `room` bytes are left.
    bool reserve(size_t room) {
        if (kSize - used_ >= room) return !failed_;
        return flush();
    }
    bool flush() {
        if (failed_) return false;
        if (used_ > 0 && !write_(context_, buffer_.get(), used_)) failed_ = true;
        used_ = 0;
        return !failed_;
    }

private:
    std::unique_ptr<unsigned char[]> buffer_;
    size_t used_ = 0;
    WriteFn write_;
    void *context_;
    bool failed_ = false;
};

// Bits go in at the low end of a 64-bit word and whole bytes leave eight at
// a time: the word is stored big-endian whatever it holds and the output
// moves on by the number of whole bytes, so there is no branch on how many
// bits are held. A byte 0xFF needs a 0 after it; a word test finds whether
// any whole byte is 0xFF (rare in coded data), and only then do the bytes
// go one at a time. The output must have 8 bytes of room past the last one.
class BitWriter {
public:
    explicit BitWriter(unsigned char *out) : out_(out) {}
    unsigned char *out() const { return out_; }
    void set_out(unsigned char *out) { out_ = out; }

    // Adds `count` bits (1..32); at most 64 may be held afterwards.
    void add(uint32_t bits, int count) {
        acc_ = (acc_ << count) | bits;
        held_ += count;
    }
    void add(uint32_t entry) { add(entry >> kCountBits, entry & ((1u << kCountBits) - 1)); }

    // Writes every whole byte held, keeping 0 to 7 bits. At least one bit
    // must be held.
    void flush() {
        const uint64_t word = acc_ << (64 - held_);  // the oldest bit on top
        const unsigned whole = static_cast<unsigned>(held_) >> 3;
        // Bits below the whole bytes are either the partial byte's (with a
        // 0 under them) or zeros, so no byte but a whole one can be 0xFF.
        if (((~word - 0x0101010101010101u) & word & 0x8080808080808080u) == 0) {
            const uint64_t big = __builtin_bswap64(word);
            std::memcpy(out_, &big, 8);
            out_ += whole;
        } else {
            for (unsigned i = 0; i < whole; ++i) emit1(static_cast<unsigned char>(word >> (56 - 8 * i)));
        }
        held_ &= 7;
    }

    // stb's ending: seven 1 bits, then every whole byte; the rest is dropped.
    void finish() {
        add(0x7F, 7);
        flush();
    }

private:
    void emit1(unsigned char c) {
        *out_++ = c;
        if (c == 0xFF) *out_++ = 0;
    }

    uint64_t acc_ = 0;
    int held_ = 0;
    unsigned char *out_;
};

// One block of one channel: the DC difference, then the run-length coded AC
// coefficients, with stb's end-of-block rule. The non-zero coefficients are
// visited by bit scans over the block's mask; each is one look-up of its
// category and bits, one of its symbol's packed entry, and one insertion.
//
// Bits held stay bounded without a test per symbol: a block starts with at
// most 7 + 4 held (a flush, then an end of block of at most 4 bits), the DC
// code adds at most 11 + 11 and is flushed, and every AC symbol (at most 26
// bits) and every run of 16 zeros (at most 11) is flushed. So there is no
// branch on whether a block has AC coefficients beyond the loop's own.
inline void code_block(BitWriter &bw, const int32_t *q, uint64_t nonzero, int &dc_prev,
                       const Codes &dc, const Codes &ac, const uint16_t *values) {
    const int diff = q[0] - dc_prev;
    dc_prev = q[0];
    const uint32_t d = values[diff & kValueMask];
    const uint32_t de = dc.entry[d & 15];
    bw.add((de >> kCountBits) | (d >> 4), de & ((1u << kCountBits) - 1));
    bw.flush();
    uint64_t rest = nonzero & ~uint64_t(1);
    int last = 0;
    while (rest != 0) {
        const int z = __builtin_ctzll(rest);
        rest &= rest - 1;
        int run = z - last - 1;
        last = z;
        while (run >= 16) {
            bw.add(ac.entry[0xF0]);
            bw.flush();
            run -= 16;
        }
        const uint32_t v = values[q[z * kMaxLanes] & kValueMask];
        const uint32_t e = ac.entry[(run << 4) + (v & 15)];
        bw.add((e >> kCountBits) | (v >> 4), e & ((1u << kCountBits) - 1));
        bw.flush();
    }
    if (last != 63) bw.add(ac.entry[0x00]);
}

// Codes one group's blocks, block by block and Y, Cb, Cr within each. Its
// own function, so that the coder's state and tables stay in registers.
__attribute__((noinline)) void code_group(BitWriter &out, const Group &group,
                                          const uint64_t (*masks)[kMaxLanes], int blocks,
                                          int *dc, const Tables &t) {
    BitWriter bw = out;
    int dc0 = dc[0], dc1 = dc[1], dc2 = dc[2];
    for (int b = 0; b < blocks; ++b) {
        code_block(bw, group.q[0] + b, masks[0][b], dc0, t.dc[0], t.ac[0], t.values);
        code_block(bw, group.q[1] + b, masks[1][b], dc1, t.dc[1], t.ac[1], t.values);
        code_block(bw, group.q[2] + b, masks[2][b], dc2, t.dc[1], t.ac[1], t.values);
    }
    dc[0] = dc0, dc[1] = dc1, dc[2] = dc2;
    out = bw;
}

// The non-zero masks of each block from the per-coefficient lane bits: bit z
// of masks[b] is bit b of lanes[z].
inline void block_masks(const uint8_t *lanes, int blocks, uint64_t *masks) {
#if defined(VELMORA_HAVE_SSE2)
    for (int b = 0; b < blocks; ++b) masks[b] = 0;
    for (int part = 0; part < 4; ++part) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i *>(lanes + part * 16));
        for (int b = 0; b < blocks; ++b) {
            // Shifting each 16-bit lane left by 7 - b brings bit b of both
            // its bytes to their top bits (nothing crosses into bit 7).
            const __m128i top = _mm_sll_epi16(v, _mm_cvtsi32_si128(7 - b));
            masks[b] |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(top)))
                        << (part * 16);
        }
    }
#else
    for (int b = 0; b < blocks; ++b) {
        uint64_t m = 0;
        for (int z = 0; z < 64; ++z) m |= static_cast<uint64_t>((lanes[z] >> b) & 1u) << z;
        masks[b] = m;
    }
#endif
}

int encode(Isa isa, WriteFn write, void *context, int width, int height, RowSource &source) {
    if (write == nullptr || width <= 0 || height <= 0 || width > kMaxJpegSide ||
        height > kMaxJpegSide)
        return 0;
    const Tables &t = tables();
    const Transform transform = transform_for(isa);

    Stage stage(write, context);
    if (!stage.ok()) return 0;
    unsigned char *head = stage.cursor();
    std::memcpy(head, t.header, t.header_size);
    head[kSizeBytesAt + 0] = static_cast<unsigned char>(height >> 8);
    head[kSizeBytesAt + 1] = static_cast<unsigned char>(height);
    head[kSizeBytesAt + 2] = static_cast<unsigned char>(width >> 8);
    head[kSizeBytesAt + 3] = static_cast<unsigned char>(width);
    stage.advance_to(head + t.header_size);

    const size_t stride = source.stride();
    const int blocks_across = (width + 7) / 8;
    const int span = 8 * transform.lanes;  // pixels across one group
    // The last group, with stb's edge rule applied: columns past the right
    // edge repeat the last column.
    alignas(16) unsigned char edge[8][8 * kMaxLanes * 4];
    Group group;
    int dc[3] = {0, 0, 0};
    BitWriter bw(stage.cursor());

    for (int y = 0; y < height; y += 8) {
        // One strip of 8 rows; the last strip has only what remains, and its
        // rows past the bottom edge repeat the last row (which it holds).
        const int count = height - y < 8 ? height - y : 8;
        const unsigned char *strip = source.next_rows(count);
        if (strip == nullptr) return 0;
        const unsigned char *rows[8];
        for (int r = 0; r < 8; ++r)
            rows[r] = strip + static_cast<size_t>(r < count ? r : count - 1) * stride;
        for (int x = 0; x < width; x += span) {
            const unsigned char *const *source = rows;
            size_t offset = static_cast<size_t>(x) * 4;
            const unsigned char *edge_rows[8];
            if (x + span > width) {
                for (int r = 0; r < 8; ++r) {
                    for (int c = 0; c < span; ++c) {
                        const int col = x + c < width ? x + c : width - 1;
                        std::memcpy(edge[r] + c * 4, rows[r] + static_cast<size_t>(col) * 4, 4);
                    }
                    edge_rows[r] = edge[r];
                }
                source = edge_rows;
                offset = 0;
            }
            transform.run(source, offset, t.divisors, group);

            const int first_block = x / 8;
            const int blocks =
                blocks_across - first_block < transform.lanes ? blocks_across - first_block : transform.lanes;
            uint64_t masks[3][kMaxLanes];
            for (int ch = 0; ch < 3; ++ch) block_masks(group.nonzero[ch], blocks, masks[ch]);

            stage.advance_to(bw.out());
            if (!stage.reserve(Stage::kGroupRoom)) return 0;
            bw.set_out(stage.cursor());
            code_group(bw, group, masks, blocks, dc, t);
        }
    }
    bw.finish();
    unsigned char *end = bw.out();
    *end++ = 0xFF;
    *end++ = 0xD9;
    stage.advance_to(end);
    return stage.flush() ? 1 : 0;
}

}  // namespace
}  // namespace jpeg

int write_jpeg_q92_rows(WriteFn write, void *context, int width, int height, RowSource &rows,
                        Isa isa) {
    return jpeg::encode(isa, write, context, width, height, rows);
}

int write_jpeg_q92(WriteFn write, void *context, int width, int height, const unsigned char *rgba,
                   Isa isa) {
    if (rgba == nullptr) return 0;
    WholeImageRows rows(rgba, width, height);
    return jpeg::encode(isa, write, context, width, height, rows);
}

}  // namespace velmora
