// Our JPEG reader. Every step that decides an outcome (which marker is read
// when, how many bits the entropy decoder holds when it meets a marker, which
// check fails first) follows the reference decoder exactly, because files it
// refuses or decodes oddly must come out the same here. The speed comes from
// elsewhere: no full-size component planes (a band of MCU rows of each
// component, decoded and turned into RGBA rows on demand), no per-byte calls
// in the bit reader, a 64-bit bit buffer and one table step per common code
// wherever no marker is near (the reference's bit count kept alongside), and
// the block transform (two blocks at once with AVX2), upsampling and colour
// conversion in SIMD.
//
// Files this reader leaves to the reference (decided before any row):
// baseline files with more than one scan or a first scan of one component of
// several, files whose colour handling could still change after the first
// scan (an APP0 or APP14 segment after it), and pictures whose RGBA size
// overflows the reference's int arithmetic (it refuses them only after
// decoding everything).
#include "jpeg_reader.h"

#include "memory.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(VELMORA_HAVE_SSE2)
#include <emmintrin.h>
#endif

namespace velmora {

#if defined(VELMORA_HAVE_AVX2)
// jpeg_reader_avx2.cpp, compiled for AVX2; called only where the processor has it.
namespace jpeg_read_avx2 {
void idct2(unsigned char *out_a, int stride_a, const short *a, unsigned char *out_b, int stride_b,
           const short *b);
int ycc_row(unsigned char *out, const unsigned char *y, const unsigned char *cb, const unsigned char *cr,
            int count);
int up_hv2(unsigned char *out, const unsigned char *nr, const unsigned char *fr, int from, int to);
}  // namespace jpeg_read_avx2
#endif

namespace {

constexpr int kFastBits = 9;

// The reference's Huffman table, filled the same way (zeros for a table the
// file never defines: the reference's state starts zero-filled here too).
struct Huffman {
    uint8_t fast[1 << kFastBits];
    uint16_t code[256];
    uint8_t values[256];
    uint8_t size[257];
    uint32_t maxcode[18];
    int delta[17];
};

// A wider look-up for the baseline AC loop: an 11-bit peek gives the whole
// step (code and magnitude bits together) for the common codes. Used only
// with 16 or more bits buffered, where the reference's own steps (its 9-bit
// table, or its code search and then the magnitude bits) read no more bytes
// and end in the same state: the same bits consumed, the same value.
constexpr int kWideBits = 11;
enum : uint8_t { kWideNone = 0, kWideCoeff = 1, kWideEnd = 2, kWideSkip16 = 3 };
struct WideEntry {
    int16_t value;  // the coefficient before dequantisation
    uint8_t len;    // bits consumed
    uint8_t kind_run;  // kind | run << 2
};
// The same table as one step for every kind: move `skip` on, write `value`
// there, move one on. A run of sixteen zeros writes a zero where nothing was
// written yet; an end of block moves past the block (its write goes to the
// scratch slot). `len` zero: not in the table.
struct WideStep {
    int16_t value;
    uint8_t len;
    uint8_t skip;
};
constexpr int kEndSkip = 80;

constexpr uint8_t kDezigzag[64 + 15] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33,
    40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36,
    29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54,
    47, 55, 62, 63,
    // corrupt runs index past the end
    63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};

// The zigzag order for the block decoder away from markers, where an end of
// block moves the position 80 on: past 63 up to 78 (a corrupt run) the write
// goes to 63 as above; beyond, to a scratch slot, 64, that nothing reads.
constexpr int kZigSpan = 64 + 80;
struct ZigzagSpan {
    uint8_t at[kZigSpan];
    constexpr ZigzagSpan() : at() {
        for (int k = 0; k < kZigSpan; ++k) at[k] = k < 64 + 15 ? kDezigzag[k] : 64;
    }
};
constexpr ZigzagSpan kZigzagSpan;

const uint32_t kBmask[17] = {0,    1,    3,    7,     15,    31,    63,    127,  255,
                             511,  1023, 2047, 4095,  8191,  16383, 32767, 65535};
const int kJbias[16] = {0,    -1,   -3,    -7,    -15,   -31,   -63,    -127,
                        -255, -511, -1023, -2047, -4095, -8191, -16383, -32767};

constexpr int kMarkerNone = 0xff;

// How far the next marker must be for a block to be decoded without looking
// for one (see decode_block_clear).
constexpr ptrdiff_t kClearBytes = 640;

// The refusals for which the reference sets no reason of its own.
const char *const kUnnamedRefusal = kJpegUnnamedRefusal;

// ---- the block transform -------------------------------------------------

#define VELMORA_F2F(x) static_cast<int>((x) * 4096 + 0.5)
constexpr int kR00x = VELMORA_F2F(0.5411961f), kR00y = VELMORA_F2F(0.5411961f) + VELMORA_F2F(-1.847759065f);
constexpr int kR01x = VELMORA_F2F(0.5411961f) + VELMORA_F2F(0.765366865f), kR01y = VELMORA_F2F(0.5411961f);
constexpr int kR10x = VELMORA_F2F(1.175875602f) + VELMORA_F2F(-0.899976223f), kR10y = VELMORA_F2F(1.175875602f);
constexpr int kR11x = VELMORA_F2F(1.175875602f), kR11y = VELMORA_F2F(1.175875602f) + VELMORA_F2F(-2.562915447f);
constexpr int kR20x = VELMORA_F2F(-1.961570560f) + VELMORA_F2F(0.298631336f), kR20y = VELMORA_F2F(-1.961570560f);
constexpr int kR21x = VELMORA_F2F(-1.961570560f), kR21y = VELMORA_F2F(-1.961570560f) + VELMORA_F2F(3.072711026f);
constexpr int kR30x = VELMORA_F2F(-0.390180644f) + VELMORA_F2F(2.053119869f), kR30y = VELMORA_F2F(-0.390180644f);
constexpr int kR31x = VELMORA_F2F(-0.390180644f), kR31y = VELMORA_F2F(-0.390180644f) + VELMORA_F2F(1.501321110f);
#undef VELMORA_F2F

inline int16_t wrap16(int v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }
inline int32_t wadd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t wsub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int16_t sat16(int32_t v) {
    return static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
}
inline int32_t madd(int x, int y, int cx, int cy) {
    return wadd(static_cast<int32_t>(x * cx), static_cast<int32_t>(y * cy));
}

// One 1-D pass over eight values, as the reference's 16-bit lanes do it.
inline void idct_pass(const int16_t in[8], int16_t out[8], int32_t bias, int shift) {
    const int32_t t2e = madd(in[2], in[6], kR00x, kR00y);
    const int32_t t3e = madd(in[2], in[6], kR01x, kR01y);
    const int32_t t0e = static_cast<int32_t>(static_cast<uint32_t>(wrap16(in[0] + in[4])) << 12);
    const int32_t t1e = static_cast<int32_t>(static_cast<uint32_t>(wrap16(in[0] - in[4])) << 12);
    const int32_t x0 = wadd(t0e, t3e), x3 = wsub(t0e, t3e);
    const int32_t x1 = wadd(t1e, t2e), x2 = wsub(t1e, t2e);
    const int32_t y0 = madd(in[7], in[3], kR20x, kR20y);
    const int32_t y2 = madd(in[7], in[3], kR21x, kR21y);
    const int32_t y1 = madd(in[5], in[1], kR30x, kR30y);
    const int32_t y3 = madd(in[5], in[1], kR31x, kR31y);
    const int16_t s17 = wrap16(in[1] + in[7]), s35 = wrap16(in[3] + in[5]);
    const int32_t y4 = madd(s17, s35, kR10x, kR10y);
    const int32_t y5 = madd(s17, s35, kR11x, kR11y);
    const int32_t x4 = wadd(y0, y4), x5 = wadd(y1, y5), x6 = wadd(y2, y5), x7 = wadd(y3, y4);
    const int32_t a0 = wadd(x0, bias), a1 = wadd(x1, bias), a2 = wadd(x2, bias), a3 = wadd(x3, bias);
    out[0] = sat16(wadd(a0, x7) >> shift);
    out[7] = sat16(wsub(a0, x7) >> shift);
    out[1] = sat16(wadd(a1, x6) >> shift);
    out[6] = sat16(wsub(a1, x6) >> shift);
    out[2] = sat16(wadd(a2, x5) >> shift);
    out[5] = sat16(wsub(a2, x5) >> shift);
    out[3] = sat16(wadd(a3, x4) >> shift);
    out[4] = sat16(wsub(a3, x4) >> shift);
}

void idct_scalar(unsigned char *out, int stride, const short *data) {
    int16_t v[8][8];  // v[row][column] after the column pass
    for (int c = 0; c < 8; ++c) {
        int16_t in[8], o[8];
        for (int r = 0; r < 8; ++r) in[r] = data[r * 8 + c];
        idct_pass(in, o, 512, 10);
        for (int r = 0; r < 8; ++r) v[r][c] = o[r];
    }
    for (int y = 0; y < 8; ++y) {
        int16_t o[8];
        idct_pass(v[y], o, 65536 + (128 << 17), 17);
        for (int x = 0; x < 8; ++x)
            out[y * stride + x] = static_cast<unsigned char>(o[x] < 0 ? 0 : o[x] > 255 ? 255 : o[x]);
    }
}

#if defined(VELMORA_HAVE_SSE2)
// The same arithmetic, eight lanes at once.
struct Wide {
    __m128i l, h;
};
inline void rot(Wide &o0, Wide &o1, __m128i x, __m128i y, __m128i c0, __m128i c1) {
    const __m128i lo = _mm_unpacklo_epi16(x, y), hi = _mm_unpackhi_epi16(x, y);
    o0 = {_mm_madd_epi16(lo, c0), _mm_madd_epi16(hi, c0)};
    o1 = {_mm_madd_epi16(lo, c1), _mm_madd_epi16(hi, c1)};
}
inline Wide widen(__m128i v) {
    return {_mm_srai_epi32(_mm_unpacklo_epi16(_mm_setzero_si128(), v), 4),
            _mm_srai_epi32(_mm_unpackhi_epi16(_mm_setzero_si128(), v), 4)};
}
inline Wide add(Wide a, Wide b) { return {_mm_add_epi32(a.l, b.l), _mm_add_epi32(a.h, b.h)}; }
inline Wide sub(Wide a, Wide b) { return {_mm_sub_epi32(a.l, b.l), _mm_sub_epi32(a.h, b.h)}; }
template <int S>
inline void bfly(__m128i &o0, __m128i &o1, Wide a, Wide b, __m128i bias) {
    const Wide ab = {_mm_add_epi32(a.l, bias), _mm_add_epi32(a.h, bias)};
    const Wide s = add(ab, b), d = sub(ab, b);
    o0 = _mm_packs_epi32(_mm_srai_epi32(s.l, S), _mm_srai_epi32(s.h, S));
    o1 = _mm_packs_epi32(_mm_srai_epi32(d.l, S), _mm_srai_epi32(d.h, S));
}
inline __m128i pair(int x, int y) {
    return _mm_setr_epi16(static_cast<short>(x), static_cast<short>(y), static_cast<short>(x),
                          static_cast<short>(y), static_cast<short>(x), static_cast<short>(y),
                          static_cast<short>(x), static_cast<short>(y));
}
template <int S>
inline void pass_sse2(__m128i r[8], __m128i bias) {
    Wide t2e, t3e, y0, y2, y1, y3, y4, y5;
    rot(t2e, t3e, r[2], r[6], pair(kR00x, kR00y), pair(kR01x, kR01y));
    const Wide t0e = widen(_mm_add_epi16(r[0], r[4]));
    const Wide t1e = widen(_mm_sub_epi16(r[0], r[4]));
    const Wide x0 = add(t0e, t3e), x3 = sub(t0e, t3e), x1 = add(t1e, t2e), x2 = sub(t1e, t2e);
    rot(y0, y2, r[7], r[3], pair(kR20x, kR20y), pair(kR21x, kR21y));
    rot(y1, y3, r[5], r[1], pair(kR30x, kR30y), pair(kR31x, kR31y));
    rot(y4, y5, _mm_add_epi16(r[1], r[7]), _mm_add_epi16(r[3], r[5]), pair(kR10x, kR10y),
        pair(kR11x, kR11y));
    const Wide x4 = add(y0, y4), x5 = add(y1, y5), x6 = add(y2, y5), x7 = add(y3, y4);
    bfly<S>(r[0], r[7], x0, x7, bias);
    bfly<S>(r[1], r[6], x1, x6, bias);
    bfly<S>(r[2], r[5], x2, x5, bias);
    bfly<S>(r[3], r[4], x3, x4, bias);
}
inline void il16(__m128i &a, __m128i &b) {
    const __m128i t = a;
    a = _mm_unpacklo_epi16(a, b);
    b = _mm_unpackhi_epi16(t, b);
}
inline void il8(__m128i &a, __m128i &b) {
    const __m128i t = a;
    a = _mm_unpacklo_epi8(a, b);
    b = _mm_unpackhi_epi8(t, b);
}

void idct_sse2(unsigned char *out, int stride, const short *data) {
    __m128i r[8];
    for (int i = 0; i < 8; ++i) r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i * 8));
    pass_sse2<10>(r, _mm_set1_epi32(512));
    il16(r[0], r[4]); il16(r[1], r[5]); il16(r[2], r[6]); il16(r[3], r[7]);
    il16(r[0], r[2]); il16(r[1], r[3]); il16(r[4], r[6]); il16(r[5], r[7]);
    il16(r[0], r[1]); il16(r[2], r[3]); il16(r[4], r[5]); il16(r[6], r[7]);
    pass_sse2<17>(r, _mm_set1_epi32(65536 + (128 << 17)));
    __m128i p0 = _mm_packus_epi16(r[0], r[1]), p1 = _mm_packus_epi16(r[2], r[3]);
    __m128i p2 = _mm_packus_epi16(r[4], r[5]), p3 = _mm_packus_epi16(r[6], r[7]);
    il8(p0, p2); il8(p1, p3);
    il8(p0, p1); il8(p2, p3);
    il8(p0, p2); il8(p1, p3);
    const __m128i rows[4] = {p0, p2, p1, p3};
    for (int i = 0; i < 4; ++i) {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + (2 * i) * stride), rows[i]);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + (2 * i + 1) * stride),
                         _mm_shuffle_epi32(rows[i], 0x4e));
    }
}
#endif

using IdctFn = void (*)(unsigned char *, int, const short *);

IdctFn idct_for(Isa isa) {
#if defined(VELMORA_HAVE_SSE2)
    if (resolve(isa) != Isa::scalar) return idct_sse2;
#endif
    (void)isa;
    return idct_scalar;
}

// Two blocks at once, where a set does that faster than one after the other;
// null otherwise.
using Idct2Fn = void (*)(unsigned char *, int, const short *, unsigned char *, int, const short *);

Idct2Fn idct2_for(Isa isa) {
#if defined(VELMORA_HAVE_AVX2)
    if (resolve(isa) == Isa::avx2) return jpeg_read_avx2::idct2;
#endif
    (void)isa;
    return nullptr;
}

// A block with only its DC term: every lane of both passes sees the same
// single value, so the block is one sample, worked out with the same
// wrapping and saturating steps as the full transform.
void idct_flat(unsigned char *out, int stride, short dc) {
    const int16_t a = sat16(wadd(static_cast<int32_t>(static_cast<uint32_t>(static_cast<int16_t>(dc)) << 12), 512) >> 10);
    const int16_t v = sat16(wadd(static_cast<int32_t>(static_cast<uint32_t>(a) << 12), 65536 + (128 << 17)) >> 17);
    const unsigned char p = static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
    for (int y = 0; y < 8; ++y) std::memset(out + y * stride, p, 8);
}

// ---- colour --------------------------------------------------------------

inline unsigned char clamp255(int v) {
    return static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
}

#define VELMORA_FLOAT2FIXED(x) (static_cast<int>((x) * 4096.0f + 0.5f) * 256)

void ycc_row_scalar(unsigned char *out, const unsigned char *y, const unsigned char *cb,
                    const unsigned char *cr, int count) {
    for (int i = 0; i < count; ++i) {
        const int yf = (y[i] << 20) + (1 << 19);
        const int crv = cr[i] - 128, cbv = cb[i] - 128;
        const int r = yf + crv * VELMORA_FLOAT2FIXED(1.40200f);
        const int g = yf + crv * -VELMORA_FLOAT2FIXED(0.71414f) +
                      static_cast<int>(static_cast<unsigned>(cbv * -VELMORA_FLOAT2FIXED(0.34414f)) & 0xffff0000u);
        const int b = yf + cbv * VELMORA_FLOAT2FIXED(1.77200f);
        out[0] = clamp255(r >> 20);
        out[1] = clamp255(g >> 20);
        out[2] = clamp255(b >> 20);
        out[3] = 255;
        out += 4;
    }
}

#if defined(VELMORA_HAVE_SSE2)
// Fixed point in 16-bit lanes: the products keep their top halves, which
// rounds exactly as the 32-bit form above does (floors of the same sums).
void ycc_row_sse2(unsigned char *out, const unsigned char *y, const unsigned char *cb,
                  const unsigned char *cr, int count) {
    int i = 0;
    const __m128i signflip = _mm_set1_epi8(-0x80);
    const __m128i cr0c = _mm_set1_epi16(static_cast<short>(1.40200f * 4096.0f + 0.5f));
    const __m128i cr1c = _mm_set1_epi16(static_cast<short>(-static_cast<short>(0.71414f * 4096.0f + 0.5f)));
    const __m128i cb0c = _mm_set1_epi16(static_cast<short>(-static_cast<short>(0.34414f * 4096.0f + 0.5f)));
    const __m128i cb1c = _mm_set1_epi16(static_cast<short>(1.77200f * 4096.0f + 0.5f));
    const __m128i ybias = _mm_set1_epi8(static_cast<char>(128));
    const __m128i alpha = _mm_set1_epi16(255);
    for (; i + 7 < count; i += 8) {
        const __m128i yb = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(y + i));
        const __m128i crb = _mm_xor_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(cr + i)), signflip);
        const __m128i cbb = _mm_xor_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(cb + i)), signflip);
        const __m128i yw = _mm_srli_epi16(_mm_unpacklo_epi8(ybias, yb), 4);
        const __m128i crw = _mm_unpacklo_epi8(_mm_setzero_si128(), crb);
        const __m128i cbw = _mm_unpacklo_epi8(_mm_setzero_si128(), cbb);
        const __m128i rw = _mm_srai_epi16(_mm_add_epi16(_mm_mulhi_epi16(cr0c, crw), yw), 4);
        const __m128i bw = _mm_srai_epi16(_mm_add_epi16(yw, _mm_mulhi_epi16(cbw, cb1c)), 4);
        const __m128i gw = _mm_srai_epi16(
            _mm_add_epi16(_mm_add_epi16(_mm_mulhi_epi16(cb0c, cbw), yw), _mm_mulhi_epi16(crw, cr1c)), 4);
        const __m128i rb = _mm_packus_epi16(rw, bw), ga = _mm_packus_epi16(gw, alpha);
        const __m128i t0 = _mm_unpacklo_epi8(rb, ga), t1 = _mm_unpackhi_epi8(rb, ga);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_unpacklo_epi16(t0, t1));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16), _mm_unpackhi_epi16(t0, t1));
        out += 32;
    }
    ycc_row_scalar(out, y + i, cb + i, cr + i, count - i);
}
#endif

using YccFn = void (*)(unsigned char *, const unsigned char *, const unsigned char *,
                       const unsigned char *, int);

#if defined(VELMORA_HAVE_AVX2)
void ycc_row_avx2(unsigned char *out, const unsigned char *y, const unsigned char *cb,
                  const unsigned char *cr, int count) {
    const int done = jpeg_read_avx2::ycc_row(out, y, cb, cr, count);
    ycc_row_sse2(out + 4 * done, y + done, cb + done, cr + done, count - done);
}
#endif

YccFn ycc_for(Isa isa) {
#if defined(VELMORA_HAVE_AVX2)
    if (resolve(isa) == Isa::avx2) return ycc_row_avx2;
#endif
#if defined(VELMORA_HAVE_SSE2)
    if (resolve(isa) != Isa::scalar) return ycc_row_sse2;
#endif
    (void)isa;
    return ycc_row_scalar;
}

inline unsigned char blinn(unsigned char x, unsigned char y) {
    const unsigned t = x * y + 128u;
    return static_cast<unsigned char>((t + (t >> 8)) >> 8);
}

// ---- upsampling, one output row of a component ---------------------------

inline unsigned char div4(int x) { return static_cast<unsigned char>(x >> 2); }
inline unsigned char div16(int x) { return static_cast<unsigned char>(x >> 4); }

void up_v2(unsigned char *out, const unsigned char *nr, const unsigned char *fr, int w) {
    for (int i = 0; i < w; ++i) out[i] = div4(3 * nr[i] + fr[i] + 2);
}

void up_h2(unsigned char *out, const unsigned char *in, int w) {
    if (w == 1) {
        out[0] = out[1] = in[0];
        return;
    }
    out[0] = in[0];
    out[1] = div4(in[0] * 3 + in[1] + 2);
    int i = 1;
    for (; i < w - 1; ++i) {
        const int n = 3 * in[i] + 2;
        out[i * 2] = div4(n + in[i - 1]);
        out[i * 2 + 1] = div4(n + in[i + 1]);
    }
    out[i * 2] = div4(in[w - 2] * 3 + in[w - 1] + 2);
    out[i * 2 + 1] = in[w - 1];
}

void up_hv2(unsigned char *out, const unsigned char *nr, const unsigned char *fr, int w) {
    if (w == 1) {
        out[0] = out[1] = div4(3 * nr[0] + fr[0] + 2);
        return;
    }
    int t1 = 3 * nr[0] + fr[0];
    out[0] = div4(t1 + 2);
    for (int i = 1; i < w; ++i) {
        const int t0 = t1;
        t1 = 3 * nr[i] + fr[i];
        out[i * 2 - 1] = div16(3 * t0 + t1 + 8);
        out[i * 2] = div16(3 * t1 + t0 + 8);
    }
    out[w * 2 - 1] = div4(t1 + 2);
}

// The filter for inputs [from, to) of a row of w, neighbours clamped at its
// ends: every output is (3 * t[j] + t[j -/+ 1] + 8) >> 4, which at the ends
// equals (t + 2) >> 2.
void up_hv2_clamped(unsigned char *out, const unsigned char *nr, const unsigned char *fr, int from,
                    int to, int w) {
    for (int i = from; i < to; ++i) {
        const int t = 3 * nr[i] + fr[i];
        const int tp = i > 0 ? 3 * nr[i - 1] + fr[i - 1] : t;
        const int tn = i + 1 < w ? 3 * nr[i + 1] + fr[i + 1] : t;
        out[2 * i] = div16(3 * t + tp + 8);
        out[2 * i + 1] = div16(3 * t + tn + 8);
    }
}

#if defined(VELMORA_HAVE_SSE2)
// The same filter eight inputs at a time: with the neighbours clamped at the
// row's ends, every output is (3 * t[j] + t[j -/+ 1] + 8) >> 4, the end
// cases included (there it equals (t + 2) >> 2).
void up_hv2_sse2(unsigned char *out, const unsigned char *nr, const unsigned char *fr, int w) {
    const __m128i zero = _mm_setzero_si128(), bias = _mm_set1_epi16(8);
    int i = 0;
    for (; i + 8 <= w; i += 8) {
        const __m128i n = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(nr + i)), zero);
        const __m128i f = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(fr + i)), zero);
        const __m128i t = _mm_add_epi16(_mm_add_epi16(n, n), _mm_add_epi16(n, f));
        const int before = i > 0 ? 3 * nr[i - 1] + fr[i - 1] : 3 * nr[0] + fr[0];
        const int after = i + 8 < w ? 3 * nr[i + 8] + fr[i + 8] : 3 * nr[w - 1] + fr[w - 1];
        const __m128i prev = _mm_insert_epi16(_mm_slli_si128(t, 2), before, 0);
        const __m128i next = _mm_insert_epi16(_mm_srli_si128(t, 2), after, 7);
        const __m128i t3 = _mm_add_epi16(_mm_add_epi16(t, t), _mm_add_epi16(t, bias));
        const __m128i even = _mm_srli_epi16(_mm_add_epi16(t3, prev), 4);
        const __m128i odd = _mm_srli_epi16(_mm_add_epi16(t3, next), 4);
        const __m128i lo = _mm_unpacklo_epi16(even, odd), hi = _mm_unpackhi_epi16(even, odd);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 2 * i), _mm_packus_epi16(lo, hi));
    }
    up_hv2_clamped(out, nr, fr, i, w, w);
}
#endif

#if defined(VELMORA_HAVE_AVX2)
// The first input and the last few with their clamped neighbours; between
// them, where both neighbours are in the row, sixteen inputs a step.
void up_hv2_avx2(unsigned char *out, const unsigned char *nr, const unsigned char *fr, int w) {
    up_hv2_clamped(out, nr, fr, 0, 1, w);
    const int done = w > 1 ? jpeg_read_avx2::up_hv2(out, nr, fr, 1, w - 1) : 1;
    up_hv2_clamped(out, nr, fr, done, w, w);
}
#endif

using UpHv2Fn = void (*)(unsigned char *, const unsigned char *, const unsigned char *, int);

UpHv2Fn up_hv2_for(Isa isa) {
#if defined(VELMORA_HAVE_AVX2)
    if (resolve(isa) == Isa::avx2) return up_hv2_avx2;
#endif
#if defined(VELMORA_HAVE_SSE2)
    if (resolve(isa) != Isa::scalar) return up_hv2_sse2;
#endif
    (void)isa;
    return up_hv2;
}

void up_generic(unsigned char *out, const unsigned char *in, int w, int hs) {
    for (int i = 0; i < w; ++i)
        for (int j = 0; j < hs; ++j) out[i * hs + j] = in[i];
}

// ---- the reader ----------------------------------------------------------

struct Component {
    int id = 0, h = 0, v = 0, tq = 0, hd = 0, ha = 0, dc_pred = 0;
    int x = 0, y = 0, w2 = 0, h2 = 0;
    int coeff_w = 0;
    // malloc'd, as the rest of the library's large blocks (counted alike)
    Buffer coeff_buf;   // progressive: the whole picture's coefficients
    Buffer ring;        // three units of rows, w2 wide
    Buffer line;        // one upsampled row
    short *coeff() { return reinterpret_cast<short *>(coeff_buf.get()); }
    int hs = 1, vs = 1;
};

class JpegReader final : public RowReader {
public:
    JpegReader(const unsigned char *bytes, size_t size, Isa isa)
        : start_(bytes), pos_(bytes), end_(bytes + size), idct_(idct_for(isa)), idct2_(idct2_for(isa)),
          ycc_(ycc_for(isa)), up_hv2_(up_hv2_for(isa)), clear_to_(bytes) {}

    // Null with reason_ set: refused. Null reason with false: leave it.
    bool open();

    int band_rows() const override { return unit_out_rows_; }
    bool read_rows(unsigned char *out, size_t stride, int count) override;

private:
    // -- bytes, as the reference's memory reader gives them
    int get8() { return pos_ < end_ ? *pos_++ : 0; }
    int get16() {
        const int a = get8();
        return (a << 8) + get8();
    }
    bool at_eof() const { return pos_ >= end_; }
    void skip(int n) {
        if (n == 0) return;
        if (n < 0) {
            pos_ = end_;
            return;
        }
        pos_ += (static_cast<size_t>(end_ - pos_) < static_cast<size_t>(n)) ? (end_ - pos_) : n;
        // the reference moves past the end without reading; get8 sees the end
    }
    bool fail(const char *why) {
        reason_ = why;
        failed_ = true;
        return false;
    }

    // -- markers and segments
    int get_marker();
    bool process_marker(int m);
    bool process_scan_header();
    bool process_frame_header();
    bool decode_header();
    bool build_huffman(Huffman &h, const int *count);
    void build_fast_ac(int16_t *fast_ac, const Huffman &h);
    static void build_wide_ac(WideEntry *wide, const Huffman &h);
    static void build_wide_steps(WideStep *steps, const WideEntry *wide);

    // -- entropy decoding
    void grow();
    int huff_decode(const Huffman &h);
    int extend_receive(int n);
    int get_bits(int n);
    int get_bit();
    void reset();
    bool decode_block(short data[64], const Huffman &hdc, const Huffman &hac, const int16_t *fac,
                      int b, const uint16_t *dq, bool *dc_only);
    bool decode_block_clear(short data[65], const Huffman &hdc, const Huffman &hac, int b,
                            const uint16_t *dq, bool *dc_only);
    const unsigned char *next_marker(const unsigned char *p) const;
    bool decode_block_prog_dc(short data[64], const Huffman &hdc, int b);
    bool decode_block_prog_ac(short data[64], const Huffman &hac, const int16_t *fac);
    bool parse_progressive_scan();
    bool after_scan();
    bool trailing_markers(bool progressive_loop);

    // -- bands
    bool decode_unit(int unit);  // baseline: entropy + transform; progressive: transform
    unsigned char *comp_row(Component &c, int row) {
        const int unit_rows = single_ ? 8 : c.v * 8;
        const int slot = (row / unit_rows) % 3;
        return c.ring.get() + (static_cast<size_t>(slot) * unit_rows + row % unit_rows) * c.w2;
    }
    void convert_row(int y, unsigned char *out);

    // Blocks waiting for their transform, so that a set that transforms two
    // at once gets pairs: the coefficients, where the samples go.
    struct Pending {
        alignas(32) short data[2][80];  // 64 and the scratch slot
        unsigned char *dst[2] = {};
        int stride[2] = {};
        int count = 0;
        int next = 0;  // the slot the next block decodes into
    };
    Pending pending_;
    short *next_block() { return pending_.data[pending_.next]; }
    // The block just decoded into next_block() goes to `dst`.
    void transform(unsigned char *dst, int stride, bool flat) {
        short *data = pending_.data[pending_.next];
        if (flat) {
            idct_flat(dst, stride, data[0]);
        } else if (!idct2_) {
            idct_(dst, stride, data);
        } else if (pending_.count == 0) {
            pending_.dst[0] = dst;
            pending_.stride[0] = stride;
            pending_.count = 1;
            pending_.next ^= 1;
        } else {
            idct2_(pending_.dst[0], pending_.stride[0], pending_.data[pending_.next ^ 1], dst, stride, data);
            pending_.count = 0;
        }
    }
    void flush_transforms() {
        if (pending_.count) {
            idct_(pending_.dst[0], pending_.stride[0], pending_.data[pending_.next ^ 1]);
            pending_.count = 0;
        }
    }

    const unsigned char *start_, *pos_, *end_;
    IdctFn idct_;
    Idct2Fn idct2_;
    YccFn ycc_;
    UpHv2Fn up_hv2_;

    Huffman huff_dc_[4] = {}, huff_ac_[4] = {};
    uint16_t dequant_[4][64] = {};
    int16_t fast_ac_[4][1 << kFastBits] = {};
    WideEntry wide_ac_[4][1 << kWideBits] = {};
    WideStep wide_steps_[4][1 << kWideBits] = {};
    // the dequantisation factors in kZigzagSpan's order (scratch: zero)
    uint16_t dequant_span_[4][kZigSpan] = {};
    // the first marker at or after the decoder's position when last looked
    const unsigned char *clear_to_;
    // The bit state of decode_block_clear, kept from block to block while
    // no marker is near; the reference's own (code_buffer_, code_bits_,
    // pos_) are made from it when the run ends.
    struct ClearRun {
        uint64_t acc = 0;  // bits from the reference's position on
        int bits = 0;      // the reference's count of buffered bits
        int avail = 0;     // bits in acc (at least `bits`)
        const unsigned char *rd = nullptr;  // the next byte into acc
        const unsigned char *ff = nullptr;  // the first stuffed 0xFF at or after rd, or clear_to_
        bool on = false;
    };
    ClearRun run_;
    void leave_clear();
    const unsigned char *next_ff(const unsigned char *p) const {
        const void *f = std::memchr(p, 0xff, static_cast<size_t>(clear_to_ - p));
        return f ? static_cast<const unsigned char *>(f) : clear_to_;
    }
    Component comp_[4];
    int img_n_ = 0;
    int h_max_ = 1, v_max_ = 1, mcu_x_ = 0, mcu_y_ = 0;

    uint32_t code_buffer_ = 0;
    int code_bits_ = 0;
    int marker_ = kMarkerNone;
    bool nomore_ = false;

    bool progressive_ = false;
    int spec_start_ = 0, spec_end_ = 0, succ_high_ = 0, succ_low_ = 0, eob_run_ = 0;
    bool jfif_ = false;
    int app14_ = -1;
    int rgb_ = 0;
    int scan_n_ = 0, order_[4] = {};
    int restart_interval_ = 0, todo_ = 0;

    bool failed_ = false;
    bool single_ = false;      // one component: units are block rows
    int units_ = 0;            // MCU rows (or block rows)
    int unit_out_rows_ = 0;    // output rows per unit
    int units_done_ = 0;       // units whose rows are in the rings
    bool scan_over_ = false;   // baseline: the scan stopped (end or a bad restart)
    bool finished_ = false;    // the markers after the scan were read
    int next_row_ = 0;
};

// ---- markers ---------------------------------------------------------------

int JpegReader::get_marker() {
    if (marker_ != kMarkerNone) {
        const int x = marker_;
        marker_ = kMarkerNone;
        return x;
    }
    int x = get8();
    if (x != 0xff) return kMarkerNone;
    while (x == 0xff) x = get8();
    return x;
}

bool JpegReader::build_huffman(Huffman &h, const int *count) {
    int k = 0;
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < count[i]; ++j) h.size[k++] = static_cast<uint8_t>(i + 1);
    h.size[k] = 0;
    unsigned code = 0;
    k = 0;
    int j;
    for (j = 1; j <= 16; ++j) {
        h.delta[j] = k - static_cast<int>(code);
        if (h.size[k] == j) {
            while (h.size[k] == j) h.code[k++] = static_cast<uint16_t>(code++);
            if (code - 1 >= (1u << j)) return fail("bad code lengths");
        }
        h.maxcode[j] = code << (16 - j);
        code <<= 1;
    }
    h.maxcode[j] = 0xffffffff;
    std::memset(h.fast, 255, sizeof h.fast);
    for (int i = 0; i < k; ++i) {
        const int s = h.size[i];
        if (s <= kFastBits) {
            const int c = h.code[i] << (kFastBits - s);
            const int m = 1 << (kFastBits - s);
            for (int q = 0; q < m; ++q) h.fast[c + q] = static_cast<uint8_t>(i);
        }
    }
    return true;
}

void JpegReader::build_fast_ac(int16_t *fast_ac, const Huffman &h) {
    for (int i = 0; i < (1 << kFastBits); ++i) {
        const uint8_t fast = h.fast[i];
        fast_ac[i] = 0;
        if (fast < 255) {
            const int rs = h.values[fast];
            const int run = (rs >> 4) & 15;
            const int magbits = rs & 15;
            const int len = h.size[fast];
            if (magbits && len + magbits <= kFastBits) {
                int k = ((i << len) & ((1 << kFastBits) - 1)) >> (kFastBits - magbits);
                const int m = 1 << (magbits - 1);
                if (k < m) k += static_cast<int>((~0U << magbits) + 1);
                if (k >= -128 && k <= 127)
                    fast_ac[i] = static_cast<int16_t>((k * 256) + (run * 16) + (len + magbits));
            }
        }
    }
}

void JpegReader::build_wide_ac(WideEntry *wide, const Huffman &h) {
    std::memset(wide, 0, sizeof(WideEntry) << kWideBits);
    // The symbols in code order, as the reference's table holds them; a
    // code is found by the same rule (its length's range of codes).
    int count = 0;
    while (count < 256 && h.size[count] != 0) ++count;
    for (int i = 0; i < count; ++i) {
        const int len = h.size[i];
        if (len > kWideBits) break;  // sizes rise in code order
        const int rs = h.values[i];
        const int run = rs >> 4, mag = rs & 15;
        const int first = h.code[i] << (kWideBits - len);
        const int span = 1 << (kWideBits - len);
        for (int q = 0; q < span; ++q) {
            WideEntry &e = wide[first + q];
            if (mag == 0) {
                e.len = static_cast<uint8_t>(len);
                e.kind_run = rs == 0xf0 ? kWideSkip16 : kWideEnd;
                continue;
            }
            if (len + mag > kWideBits) continue;
            int k = (q >> (kWideBits - len - mag)) & ((1 << mag) - 1);
            if (k < (1 << (mag - 1))) k += kJbias[mag];
            e.value = static_cast<int16_t>(k);
            e.len = static_cast<uint8_t>(len + mag);
            e.kind_run = static_cast<uint8_t>(kWideCoeff | run << 2);
        }
    }
}

void JpegReader::build_wide_steps(WideStep *steps, const WideEntry *wide) {
    for (int i = 0; i < (1 << kWideBits); ++i) {
        const WideEntry &e = wide[i];
        WideStep &o = steps[i];
        o = WideStep{0, e.len, 0};
        switch (e.kind_run & 3) {
        case kWideCoeff:
            o.value = e.value;
            o.skip = static_cast<uint8_t>(e.kind_run >> 2);
            break;
        case kWideEnd: o.skip = kEndSkip; break;
        case kWideSkip16: o.skip = 15; break;
        default: o.len = 0; break;
        }
    }
}

bool JpegReader::process_marker(int m) {
    int L;
    switch (m) {
    case kMarkerNone: return fail("expected marker");
    case 0xDD:
        if (get16() != 4) return fail("bad DRI len");
        restart_interval_ = get16();
        return true;
    case 0xDB:
        L = get16() - 2;
        while (L > 0) {
            const int q = get8();
            const int p = q >> 4, sixteen = (p != 0);
            const int t = q & 15;
            if (p != 0 && p != 1) return fail("bad DQT type");
            if (t > 3) return fail("bad DQT table");
            for (int i = 0; i < 64; ++i)
                dequant_[t][kDezigzag[i]] = static_cast<uint16_t>(sixteen ? get16() : get8());
            L -= (sixteen ? 129 : 65);
        }
        return L == 0 || fail(kUnnamedRefusal);
    case 0xC4:
        L = get16() - 2;
        while (L > 0) {
            int sizes[16], n = 0;
            const int q = get8();
            const int tc = q >> 4, th = q & 15;
            if (tc > 1 || th > 3) return fail("bad DHT header");
            for (int i = 0; i < 16; ++i) {
                sizes[i] = get8();
                n += sizes[i];
            }
            if (n > 256) return fail("too many Huffman codes");
            L -= 17;
            Huffman &h = tc == 0 ? huff_dc_[th] : huff_ac_[th];
            if (!build_huffman(h, sizes)) return false;
            for (int i = 0; i < n; ++i) h.values[i] = static_cast<uint8_t>(get8());
            if (tc != 0) {
                build_fast_ac(fast_ac_[th], h);
                build_wide_ac(wide_ac_[th], h);
                build_wide_steps(wide_steps_[th], wide_ac_[th]);
            }
            L -= n;
        }
        return L == 0 || fail(kUnnamedRefusal);
    default: break;
    }
    if ((m >= 0xE0 && m <= 0xEF) || m == 0xFE) {
        L = get16();
        if (L < 2) return fail(m == 0xFE ? "bad COM len" : "bad APP len");
        L -= 2;
        if (m == 0xE0 && L >= 5) {
            static const unsigned char tag[5] = {'J', 'F', 'I', 'F', '\0'};
            bool ok = true;
            for (int i = 0; i < 5; ++i)
                if (get8() != tag[i]) ok = false;
            L -= 5;
            if (ok) jfif_ = true;
        } else if (m == 0xEE && L >= 12) {
            static const unsigned char tag[6] = {'A', 'd', 'o', 'b', 'e', '\0'};
            bool ok = true;
            for (int i = 0; i < 6; ++i)
                if (get8() != tag[i]) ok = false;
            L -= 6;
            if (ok) {
                get8();
                get16();
                get16();
                app14_ = get8();
                L -= 6;
            }
        }
        skip(L);
        return true;
    }
    return fail("unknown marker");
}

bool JpegReader::process_scan_header() {
    const int Ls = get16();
    scan_n_ = get8();
    if (scan_n_ < 1 || scan_n_ > 4 || scan_n_ > img_n_) return fail("bad SOS component count");
    if (Ls != 6 + 2 * scan_n_) return fail("bad SOS len");
    for (int i = 0; i < scan_n_; ++i) {
        const int id = get8();
        const int q = get8();
        int which;
        for (which = 0; which < img_n_; ++which)
            if (comp_[which].id == id) break;
        if (which == img_n_) return fail(kUnnamedRefusal);
        comp_[which].hd = q >> 4;
        if (comp_[which].hd > 3) return fail("bad DC huff");
        comp_[which].ha = q & 15;
        if (comp_[which].ha > 3) return fail("bad AC huff");
        order_[i] = which;
    }
    spec_start_ = get8();
    spec_end_ = get8();
    const int aa = get8();
    succ_high_ = aa >> 4;
    succ_low_ = aa & 15;
    if (progressive_) {
        if (spec_start_ > 63 || spec_end_ > 63 || spec_start_ > spec_end_ || succ_high_ > 13 ||
            succ_low_ > 13)
            return fail("bad SOS");
    } else {
        if (spec_start_ != 0) return fail("bad SOS");
        if (succ_high_ != 0 || succ_low_ != 0) return fail("bad SOS");
        spec_end_ = 63;
    }
    return true;
}

// Whether x*y*n (+ add) fits in an int, as the reference's size checks ask.
bool fits_int(uint64_t a, uint64_t b, uint64_t c, uint64_t add) {
    return a * b * c + add <= static_cast<uint64_t>(INT_MAX);
}

bool JpegReader::process_frame_header() {
    const int Lf = get16();
    if (Lf < 11) return fail("bad SOF len");
    if (get8() != 8) return fail("only 8-bit");
    height_ = get16();
    if (height_ == 0) return fail("no header height");
    width_ = get16();
    if (width_ == 0) return fail("0 width");
    if (height_ > (1 << 24) || width_ > (1 << 24)) return fail("too large");
    const int c = get8();
    if (c != 3 && c != 1 && c != 4) return fail("bad component count");
    img_n_ = c;
    if (Lf != 8 + 3 * img_n_) return fail("bad SOF len");
    rgb_ = 0;
    for (int i = 0; i < img_n_; ++i) {
        static const unsigned char rgb[3] = {'R', 'G', 'B'};
        comp_[i].id = get8();
        if (img_n_ == 3 && comp_[i].id == rgb[i]) ++rgb_;
        const int q = get8();
        comp_[i].h = q >> 4;
        if (!comp_[i].h || comp_[i].h > 4) return fail("bad H");
        comp_[i].v = q & 15;
        if (!comp_[i].v || comp_[i].v > 4) return fail("bad V");
        comp_[i].tq = get8();
        if (comp_[i].tq > 3) return fail("bad TQ");
    }
    if (!fits_int(width_, height_, img_n_, 0)) return fail("too large");
    for (int i = 0; i < img_n_; ++i) {
        if (comp_[i].h > h_max_) h_max_ = comp_[i].h;
        if (comp_[i].v > v_max_) v_max_ = comp_[i].v;
    }
    for (int i = 0; i < img_n_; ++i) {
        if (h_max_ % comp_[i].h != 0) return fail("bad H");
        if (v_max_ % comp_[i].v != 0) return fail("bad V");
    }
    {
        uint32_t blocks = 0;
        for (int i = 0; i < img_n_; ++i) {
            const uint32_t cx = (static_cast<uint32_t>(width_) * comp_[i].h + h_max_ - 1) / h_max_;
            const uint32_t cy = (static_cast<uint32_t>(height_) * comp_[i].v + v_max_ - 1) / v_max_;
            blocks += ((cx + 7) >> 3) * ((cy + 7) >> 3);
        }
        if ((blocks + 7) / 8 > static_cast<uint32_t>(end_ - start_)) return fail("too little scan data");
    }
    mcu_x_ = (width_ + h_max_ * 8 - 1) / (h_max_ * 8);
    mcu_y_ = (height_ + v_max_ * 8 - 1) / (v_max_ * 8);
    for (int i = 0; i < img_n_; ++i) {
        Component &k = comp_[i];
        k.x = static_cast<int>((static_cast<uint32_t>(width_) * k.h + h_max_ - 1) / h_max_);
        k.y = static_cast<int>((static_cast<uint32_t>(height_) * k.v + v_max_ - 1) / v_max_);
        k.w2 = mcu_x_ * k.h * 8;
        k.h2 = mcu_y_ * k.v * 8;
        // the reference's planes: too large for its size arithmetic is out of memory
        if (!fits_int(k.w2, k.h2, 1, 15)) return fail("outofmem");
        if (progressive_) {
            if (!fits_int(k.w2, k.h2, 2, 15)) return fail("outofmem");
            k.coeff_w = k.w2 / 8;
            k.coeff_buf.reset(static_cast<unsigned char *>(
                std::calloc(static_cast<size_t>(k.w2) * k.h2, sizeof(short))));
            if (!k.coeff_buf) return fail("outofmem");
        }
    }
    return true;
}

bool JpegReader::decode_header() {
    jfif_ = false;
    app14_ = -1;
    marker_ = kMarkerNone;
    int m = get_marker();
    if (m != 0xD8) return fail(nullptr);  // the reference calls it another format
    m = get_marker();
    while (!(m == 0xC0 || m == 0xC1 || m == 0xC2)) {
        if (!process_marker(m)) return false;
        m = get_marker();
        while (m == kMarkerNone) {
            if (at_eof()) return fail("no SOF");
            m = get_marker();
        }
    }
    progressive_ = (m == 0xC2);
    return process_frame_header();
}

// ---- entropy decoding ------------------------------------------------------

void JpegReader::grow() {
    // Away from markers and the end, whole bytes go in without the checks;
    // the count of bytes read is the reference's either way.
    if (!nomore_ && code_bits_ >= 0 && end_ - pos_ >= 4) {
        uint32_t w;
        std::memcpy(&w, pos_, 4);
        // no 0xFF among the four bytes
        const uint32_t inv = ~w;
        if (((inv - 0x01010101u) & ~inv & 0x80808080u) == 0) {
            do {
                code_buffer_ |= static_cast<uint32_t>(*pos_++) << (24 - code_bits_);
                code_bits_ += 8;
            } while (code_bits_ <= 24);
            return;
        }
    }
    do {
        const unsigned b = nomore_ ? 0 : static_cast<unsigned>(get8());
        if (b == 0xff) {
            int c = get8();
            while (c == 0xff) c = get8();
            if (c != 0) {
                marker_ = c;
                nomore_ = true;
                return;
            }
        }
        if (b && code_bits_ > -8) code_buffer_ |= b << (24 - code_bits_);
        code_bits_ += 8;
    } while (code_bits_ <= 24);
}

inline int JpegReader::huff_decode(const Huffman &h) {
    if (code_bits_ < 16) grow();
    int c = static_cast<int>((code_buffer_ >> (32 - kFastBits)) & ((1 << kFastBits) - 1));
    int k = h.fast[c];
    if (k < 255) {
        const int s = h.size[k];
        if (s > code_bits_) return -1;
        code_buffer_ <<= s;
        code_bits_ -= s;
        return h.values[k];
    }
    const uint32_t temp = code_buffer_ >> 16;
    for (k = kFastBits + 1;; ++k)
        if (temp < h.maxcode[k]) break;
    if (k == 17) {
        code_bits_ -= 16;
        return -1;
    }
    if (k > code_bits_) return -1;
    c = static_cast<int>(((code_buffer_ >> (32 - k)) & kBmask[k]) + h.delta[k]);
    code_bits_ -= k;
    code_buffer_ <<= k;
    return h.values[c & 255];
}

inline int JpegReader::extend_receive(int n) {
    if (code_bits_ < n) grow();
    const int sgn = static_cast<int>(code_buffer_ >> 31);
    uint32_t k = (code_buffer_ << n) | (code_buffer_ >> ((32 - n) & 31));
    code_buffer_ = k & ~kBmask[n];
    k &= kBmask[n];
    code_bits_ -= n;
    return static_cast<int>(k + static_cast<uint32_t>(kJbias[n] & (sgn - 1)));
}

inline int JpegReader::get_bits(int n) {
    if (code_bits_ < n) grow();
    uint32_t k = (code_buffer_ << n) | (code_buffer_ >> ((32 - n) & 31));
    code_buffer_ = k & ~kBmask[n];
    k &= kBmask[n];
    code_bits_ -= n;
    return static_cast<int>(k);
}

inline int JpegReader::get_bit() {
    if (code_bits_ < 1) grow();
    const uint32_t k = code_buffer_;
    code_buffer_ <<= 1;
    --code_bits_;
    return static_cast<int>(k & 0x80000000u) != 0;
}

void JpegReader::reset() {
    code_bits_ = 0;
    code_buffer_ = 0;
    nomore_ = false;
    for (Component &c : comp_) c.dc_pred = 0;
    marker_ = kMarkerNone;
    todo_ = restart_interval_ ? restart_interval_ : 0x7fffffff;
    eob_run_ = 0;
}

// The baseline block decoder, the hot loop: the same steps as the members
// above (huff_decode, extend_receive, grow) on a copy of the bit state kept
// in registers; the refill takes whole bytes without checks away from 0xFF
// and the end, and otherwise hands over to grow() itself.
bool JpegReader::decode_block(short data[64], const Huffman &hdc, const Huffman &hac,
                              const int16_t *fac, int b, const uint16_t *dq, bool *dc_only) {
    if (run_.on) {
        if (clear_to_ - run_.rd >= kClearBytes) return decode_block_clear(data, hdc, hac, b, dq, dc_only);
        leave_clear();
    }
    if (!nomore_ && code_bits_ >= 0) {
        if (clear_to_ < pos_) clear_to_ = next_marker(pos_);
        if (clear_to_ - pos_ >= kClearBytes) {
            run_.acc = static_cast<uint64_t>(code_buffer_) << 32;
            run_.bits = run_.avail = code_bits_;
            run_.rd = pos_;
            run_.ff = next_ff(pos_);
            run_.on = true;
            return decode_block_clear(data, hdc, hac, b, dq, dc_only);
        }
    }
    const WideEntry *wide = wide_ac_[&hac - huff_ac_];
    uint32_t buf = code_buffer_;
    int bits = code_bits_;
    auto refill = [&]() {
        if (!nomore_ && bits >= 0 && end_ - pos_ >= 4) {
            uint32_t w;
            std::memcpy(&w, pos_, 4);
            const uint32_t inv = ~w;
            if (((inv - 0x01010101u) & ~inv & 0x80808080u) == 0) {
                const uint32_t be = (w >> 24) | ((w >> 8) & 0xff00u) | ((w << 8) & 0xff0000u) | (w << 24);
                const int n = (24 - bits) / 8 + 1;
                const int shift_in = 32 - 8 * n;
                buf |= (shift_in >= 32 ? 0u : (be >> shift_in)) << (32 - bits - 8 * n);
                pos_ += n;
                bits += 8 * n;
                return;
            }
        }
        code_buffer_ = buf;
        code_bits_ = bits;
        grow();
        buf = code_buffer_;
        bits = code_bits_;
    };
    // huff_decode on the local state
    auto decode = [&](const Huffman &h) -> int {
        if (bits < 16) refill();
        int c = static_cast<int>(buf >> (32 - kFastBits));
        int k = h.fast[c];
        if (k < 255) {
            const int s = h.size[k];
            if (s > bits) return -1;
            buf <<= s;
            bits -= s;
            return h.values[k];
        }
        const uint32_t temp = buf >> 16;
        for (k = kFastBits + 1;; ++k)
            if (temp < h.maxcode[k]) break;
        if (k == 17) {
            bits -= 16;
            return -1;
        }
        if (k > bits) return -1;
        c = static_cast<int>(((buf >> (32 - k)) & kBmask[k]) + h.delta[k]);
        bits -= k;
        buf <<= k;
        return h.values[c & 255];
    };
    auto receive = [&](int n) -> int {
        if (bits < n) refill();
        const int sgn = static_cast<int>(buf >> 31);
        uint32_t k = (buf << n) | (buf >> ((32 - n) & 31));
        buf = k & ~kBmask[n];
        k &= kBmask[n];
        bits -= n;
        return static_cast<int>(k + static_cast<uint32_t>(kJbias[n] & (sgn - 1)));
    };
    auto done = [&](bool ok) {
        code_buffer_ = buf;
        code_bits_ = bits;
        return ok;
    };

    if (bits < 16) refill();
    const int t = decode(hdc);
    if (t < 0 || t > 15) return done(fail("bad huffman code"));
    std::memset(data, 0, 64 * sizeof(short));
    const int diff = t ? receive(t) : 0;
    const int dc = static_cast<int>(static_cast<unsigned>(comp_[b].dc_pred) + static_cast<unsigned>(diff));
    comp_[b].dc_pred = dc;
    data[0] = static_cast<short>(static_cast<unsigned>(dc) * dq[0]);
    bool any_ac = false;
    int k = 1;
    do {
        if (bits < 16) refill();
        if (bits >= 16) {
            const WideEntry e = wide[buf >> (32 - kWideBits)];
            const int kind = e.kind_run & 3;
            if (kind == kWideCoeff) {
                k += e.kind_run >> 2;
                buf <<= e.len;
                bits -= e.len;
                const unsigned zig = kDezigzag[k++];
                data[zig] = static_cast<short>(e.value * dq[zig]);
                any_ac = true;
                continue;
            }
            if (kind == kWideEnd) {
                buf <<= e.len;
                bits -= e.len;
                break;
            }
            if (kind == kWideSkip16) {
                buf <<= e.len;
                bits -= e.len;
                k += 16;
                continue;
            }
        }
        const int c = static_cast<int>(buf >> (32 - kFastBits));
        int r = fac[c];
        if (r) {
            k += (r >> 4) & 15;
            const int s = r & 15;
            buf <<= s;
            bits -= s;
            const unsigned zig = kDezigzag[k++];
            data[zig] = static_cast<short>((r >> 8) * dq[zig]);
            any_ac = true;
        } else {
            const int rs = decode(hac);
            if (rs < 0) return done(fail("bad huffman code"));
            const int s = rs & 15;
            r = rs >> 4;
            if (s == 0) {
                if (rs != 0xf0) break;
                k += 16;
            } else {
                k += r;
                const unsigned zig = kDezigzag[k++];
                data[zig] = static_cast<short>(receive(s) * dq[zig]);
                any_ac = true;
            }
        }
    } while (k < 64);
    // A written AC value may still be zero (a zero factor): the shortcut
    // below checks nothing else, so count it as written.
    *dc_only = !any_ac;
    return done(true);
}

// A block's 64 coefficients to zero in whole vector stores (a library call
// for 128 bytes costs more than the stores).
inline void clear_block(short *data) {
#if defined(VELMORA_HAVE_SSE2)
    for (int i = 0; i < 64; i += 8) _mm_storeu_si128(reinterpret_cast<__m128i *>(data + i), _mm_setzero_si128());
#else
    std::memset(data, 0, 64 * sizeof(short));
#endif
}

// Ends a run of decode_block_clear: the reference's state from the run's.
// Its position is where its buffered bits end: back from the next byte
// into the buffer over the whole bytes read ahead of it (a stuffed 0xFF
// being two).
void JpegReader::leave_clear() {
    if (!run_.on) return;
    run_.on = false;
    const int bits = run_.bits;
    code_bits_ = bits;
    code_buffer_ = bits <= 0 ? 0u : static_cast<uint32_t>(run_.acc >> 32) & (0xffffffffu << (32 - bits));
    const unsigned char *p = run_.rd;
    for (int ahead = (run_.avail - bits) >> 3; ahead > 0; --ahead)
        p -= (p[-1] == 0 && p[-2] == 0xff) ? 2 : 1;
    pos_ = p;
}

// The first 0xFF at or after p that is not a stuffed 0xFF 0x00 (a marker,
// or fill bytes before one), or the end.
const unsigned char *JpegReader::next_marker(const unsigned char *p) const {
    for (;;) {
        p = static_cast<const unsigned char *>(std::memchr(p, 0xff, static_cast<size_t>(end_ - p)));
        if (!p) return end_;
        if (p + 1 >= end_ || p[1] != 0) return p;
        p += 2;
    }
}

// The baseline block decoder where no marker can be reached within the
// block: at most 64 codes of 16 bits and 15 magnitude bits, 248 bytes, and
// the look-ahead below, each byte at worst a stuffed pair, well inside
// kClearBytes. There the reference's reads never meet a marker, so its state
// is the bits it has consumed and its count of buffered bits (`bits`, which
// its refills raise by whole bytes to 25..32 exactly as here); the bits
// themselves come from a 64-bit buffer filled eight bytes at a time, ahead
// of the reference's reads. The state stays in run_ from block to block
// until leave_clear() makes the reference's from it.
bool JpegReader::decode_block_clear(short data[65], const Huffman &hdc, const Huffman &hac, int b,
                                    const uint16_t *dq, bool *dc_only) {
    const int table = static_cast<int>(&hac - huff_ac_);
    const WideStep *wide = wide_steps_[table];
    const uint16_t *dqs = dequant_span_[(dq - dequant_[0]) / 64];
    int bits = run_.bits, avail = run_.avail;
    uint64_t acc = run_.acc;
    const unsigned char *rd = run_.rd, *ff = run_.ff;

    // acc to 56..63 bits before every step, without a branch the data
    // decides: eight bytes at once up to the next stuffed 0xFF, byte by byte
    // over it
    auto top_up = [&]() {
        if (rd + 8 <= ff) {
            uint64_t w;
            std::memcpy(&w, rd, 8);
            acc |= __builtin_bswap64(w) >> avail;
            rd += (63 - avail) >> 3;
            avail |= 56;
            return;
        }
        while (avail < 56) {
            const uint64_t c = *rd++;
            if (c == 0xff) ++rd;  // the stuffed zero
            acc |= c << (56 - avail);
            avail += 8;
        }
        if (rd > ff) ff = next_ff(rd);
    };
    // the reference's refill when fewer than `need` bits are buffered: whole
    // bytes up to 25..32 bits
    auto refill = [&](int need) {
        top_up();
        bits = bits < need ? 32 - ((32 - bits) & 7) : bits;
    };
    auto consume = [&](int n) {
        acc <<= n;
        bits -= n;
        avail -= n;
    };
    auto done = [&](bool ok) {
        run_.acc = acc;
        run_.bits = bits;
        run_.avail = avail;
        run_.rd = rd;
        run_.ff = ff;
        return ok;
    };
    auto decode = [&](const Huffman &h) -> int {
        refill(16);
        int c = static_cast<int>(acc >> (64 - kFastBits));
        int k = h.fast[c];
        if (k < 255) {
            const int s = h.size[k];
            if (s > bits) return -1;
            consume(s);
            return h.values[k];
        }
        const uint32_t temp = static_cast<uint32_t>(acc >> 48);
        for (k = kFastBits + 1;; ++k)
            if (temp < h.maxcode[k]) break;
        if (k == 17) {
            bits -= 16;
            return -1;
        }
        if (k > bits) return -1;
        c = static_cast<int>(((acc >> (64 - k)) & kBmask[k]) + h.delta[k]);
        consume(k);
        return h.values[c & 255];
    };
    auto receive = [&](int n) -> int {
        refill(n);
        const int sgn = static_cast<int>(acc >> 63);
        const int k = static_cast<int>(acc >> (64 - n));
        consume(n);
        return k + (kJbias[n] & (sgn - 1));
    };

    refill(16);
    const int t = decode(hdc);
    if (t < 0 || t > 15) return done(fail("bad huffman code"));
    clear_block(data);
    const int diff = t ? receive(t) : 0;
    const int dc = static_cast<int>(static_cast<unsigned>(comp_[b].dc_pred) + static_cast<unsigned>(diff));
    comp_[b].dc_pred = dc;
    data[0] = static_cast<short>(static_cast<unsigned>(dc) * dq[0]);
    int any = 0;
    int k = 1;
    do {
        refill(16);
        const WideStep e = wide[acc >> (64 - kWideBits)];
        if (e.len) {
            consume(e.len);
            k += e.skip;
            data[kZigzagSpan.at[k]] = static_cast<short>(e.value * dqs[k]);
            any |= e.value;
            ++k;
            continue;
        }
        // not in the wide table, so not in the reference's 9-bit one either
        const int rs = decode(hac);
        if (rs < 0) return done(fail("bad huffman code"));
        const int s = rs & 15;
        if (s == 0) {
            if (rs != 0xf0) break;
            k += 16;
        } else {
            k += rs >> 4;
            const unsigned zig = kDezigzag[k++];
            data[zig] = static_cast<short>(receive(s) * dq[zig]);
            any = 1;
        }
    } while (k < 64);
    *dc_only = any == 0;
    return done(true);
}

bool JpegReader::decode_block_prog_dc(short data[64], const Huffman &hdc, int b) {
    if (spec_end_ != 0) return fail("can't merge dc and ac");
    if (code_bits_ < 16) grow();
    if (succ_high_ == 0) {
        std::memset(data, 0, 64 * sizeof(short));
        const int t = huff_decode(hdc);
        if (t < 0 || t > 15) return fail("can't merge dc and ac");
        const int diff = t ? extend_receive(t) : 0;
        const int dc = static_cast<int>(static_cast<unsigned>(comp_[b].dc_pred) + static_cast<unsigned>(diff));
        comp_[b].dc_pred = dc;
        data[0] = static_cast<short>(static_cast<unsigned>(dc) * (1u << succ_low_));
    } else {
        if (get_bit()) data[0] = static_cast<short>(data[0] + static_cast<short>(1 << succ_low_));
    }
    return true;
}

bool JpegReader::decode_block_prog_ac(short data[64], const Huffman &hac, const int16_t *fac) {
    if (spec_start_ == 0) return fail("can't merge dc and ac");
    if (succ_high_ == 0) {
        const int shift = succ_low_;
        if (eob_run_) {
            --eob_run_;
            return true;
        }
        int k = spec_start_;
        do {
            if (code_bits_ < 16) grow();
            const int c = static_cast<int>((code_buffer_ >> (32 - kFastBits)) & ((1 << kFastBits) - 1));
            int r = fac[c];
            if (r) {
                k += (r >> 4) & 15;
                const int s = r & 15;
                code_buffer_ <<= s;
                code_bits_ -= s;
                const unsigned zig = kDezigzag[k++];
                data[zig] = static_cast<short>((r >> 8) * (1 << shift));
            } else {
                const int rs = huff_decode(hac);
                if (rs < 0) return fail("bad huffman code");
                const int s = rs & 15;
                r = rs >> 4;
                if (s == 0) {
                    if (r < 15) {
                        eob_run_ = (1 << r);
                        if (r) eob_run_ += get_bits(r);
                        --eob_run_;
                        break;
                    }
                    k += 16;
                } else {
                    k += r;
                    const unsigned zig = kDezigzag[k++];
                    data[zig] = static_cast<short>(extend_receive(s) * (1 << shift));
                }
            }
        } while (k <= spec_end_);
    } else {
        const short bit = static_cast<short>(1 << succ_low_);
        auto refine = [&](short *p) {
            if (get_bit())
                if ((*p & bit) == 0) *p = static_cast<short>(*p > 0 ? *p + bit : *p - bit);
        };
        if (eob_run_) {
            --eob_run_;
            for (int k = spec_start_; k <= spec_end_; ++k) {
                short *p = &data[kDezigzag[k]];
                if (*p != 0) refine(p);
            }
        } else {
            int k = spec_start_;
            do {
                const int rs = huff_decode(hac);
                if (rs < 0) return fail("bad huffman code");
                int s = rs & 15;
                int r = rs >> 4;
                if (s == 0) {
                    if (r < 15) {
                        eob_run_ = (1 << r) - 1;
                        if (r) eob_run_ += get_bits(r);
                        r = 64;
                    }
                } else {
                    if (s != 1) return fail("bad huffman code");
                    s = get_bit() ? bit : -bit;
                }
                while (k <= spec_end_) {
                    short *p = &data[kDezigzag[k++]];
                    if (*p != 0) {
                        refine(p);
                    } else {
                        if (r == 0) {
                            *p = static_cast<short>(s);
                            break;
                        }
                        --r;
                    }
                }
            } while (k <= spec_end_);
        }
    }
    return true;
}

// A restart interval ran out: true when the scan goes on after a restart.
#define VELMORA_RESTART_OR_STOP()                                        \
    if (--todo_ <= 0) {                                                  \
        if (code_bits_ < 24) grow();                                     \
        if (!(marker_ >= 0xd0 && marker_ <= 0xd7)) return true;          \
        reset();                                                         \
    }

bool JpegReader::parse_progressive_scan() {
    reset();
    if (scan_n_ == 1) {
        const int n = order_[0];
        Component &c = comp_[n];
        const int w = (c.x + 7) >> 3, h = (c.y + 7) >> 3;
        for (int j = 0; j < h; ++j) {
            for (int i = 0; i < w; ++i) {
                short *data = c.coeff() + 64 * (i + static_cast<size_t>(j) * c.coeff_w);
                if (spec_start_ == 0) {
                    if (!decode_block_prog_dc(data, huff_dc_[c.hd], n)) return false;
                } else {
                    if (!decode_block_prog_ac(data, huff_ac_[c.ha], fast_ac_[c.ha])) return false;
                }
                VELMORA_RESTART_OR_STOP()
            }
        }
        return true;
    }
    for (int j = 0; j < mcu_y_; ++j) {
        for (int i = 0; i < mcu_x_; ++i) {
            for (int k = 0; k < scan_n_; ++k) {
                const int n = order_[k];
                Component &c = comp_[n];
                for (int y = 0; y < c.v; ++y) {
                    for (int x = 0; x < c.h; ++x) {
                        const int x2 = i * c.h + x, y2 = j * c.v + y;
                        short *data = c.coeff() + 64 * (x2 + static_cast<size_t>(y2) * c.coeff_w);
                        if (!decode_block_prog_dc(data, huff_dc_[c.hd], n)) return false;
                    }
                }
            }
            VELMORA_RESTART_OR_STOP()
        }
    }
    return true;
}

// After a scan: the reference skips to the next 0xFF when the scan did not
// stop at a marker, and takes the byte after it as the marker.
bool JpegReader::after_scan() {
    if (marker_ == kMarkerNone) {
        while (!at_eof()) {
            const int x = get8();
            if (x == 255) {
                marker_ = get8();
                break;
            }
        }
    }
    return true;
}

// The markers up to the end of the picture. Progressive files come here with
// every scan still to decode; baseline files after their one scan.
bool JpegReader::trailing_markers(bool progressive_loop) {
    int m = get_marker();
    while (m != 0xD9) {
        if (m == 0xDA) {
            if (!progressive_loop) return fail(nullptr);  // excluded before any row
            if (!process_scan_header()) return false;
            if (!parse_progressive_scan()) return false;
            after_scan();
        } else if (m == 0xDC) {
            const int Ld = get16();
            const uint32_t NL = static_cast<uint32_t>(get16());
            if (Ld != 4) return fail("bad DNL len");
            if (NL != static_cast<uint32_t>(height_)) return fail("bad DNL height");
        } else {
            if (!process_marker(m)) return false;
        }
        m = get_marker();
    }
    return true;
}

bool JpegReader::open() {
    if (!decode_header()) return false;
    // stb's output buffer is sized n*x*y+1 in an int: beyond, it runs out of
    // memory only after decoding everything. Rare enough to leave.
    if (!fits_int(4, width_, height_, 1)) return fail(nullptr);

    if (progressive_) {
        if (!trailing_markers(true)) return false;
        single_ = (img_n_ == 1);
    } else {
        // Up to the first scan, as the reference reads it.
        int m = get_marker();
        if (m == 0xD9) {
            // a picture without scans: every sample zero
            single_ = (img_n_ == 1);
            scan_over_ = true;
            finished_ = true;
        } else {
            while (m != 0xDA) {
                if (m == 0xDC) {
                    const int Ld = get16();
                    const uint32_t NL = static_cast<uint32_t>(get16());
                    if (Ld != 4) return fail("bad DNL len");
                    if (NL != static_cast<uint32_t>(height_)) return fail("bad DNL height");
                } else if (!process_marker(m)) {
                    return false;
                }
                m = get_marker();
                if (m == 0xD9) break;
            }
            if (m == 0xD9) {
                single_ = (img_n_ == 1);
                scan_over_ = true;
                finished_ = true;
            } else {
                if (!process_scan_header()) return false;
                if (scan_n_ == 1 && img_n_ > 1) return fail(nullptr);
                // Anything after the scan that could change the result once
                // rows are out: another scan, or colour flags.
                for (const unsigned char *p = pos_; p + 1 < end_; ++p) {
                    p = static_cast<const unsigned char *>(std::memchr(p, 0xff, static_cast<size_t>(end_ - 1 - p)));
                    if (!p) break;
                    const unsigned char q = p[1];
                    if (q == 0xDA || (img_n_ > 1 && (q == 0xE0 || q == 0xEE))) return fail(nullptr);
                }
                single_ = (scan_n_ == 1);
                for (int t = 0; t < 4; ++t)
                    for (int k = 0; k < kZigSpan; ++k)
                        dequant_span_[t][k] = kZigzagSpan.at[k] < 64 ? dequant_[t][kZigzagSpan.at[k]] : 0;
                reset();
            }
        }
    }
    for (int i = 0; i < img_n_; ++i) {
        Component &c = comp_[i];
        c.hs = h_max_ / c.h;
        c.vs = v_max_ / c.v;
        const int unit_rows = single_ ? 8 : c.v * 8;
        c.ring.reset(static_cast<unsigned char *>(std::calloc(static_cast<size_t>(c.w2) * unit_rows * 3, 1)));
        c.line.reset(static_cast<unsigned char *>(std::calloc(static_cast<size_t>(width_) + 8, 1)));
        if (!c.ring || !c.line) return fail("outofmem");
    }
    if (single_) {
        units_ = (comp_[0].y + 7) >> 3;
        unit_out_rows_ = 8;
    } else {
        units_ = mcu_y_;
        unit_out_rows_ = v_max_ * 8;
    }
    return true;
}

// Decodes unit `u` (an MCU row, or a block row of a lone component) into
// the rings: the next unit of the baseline scan, or the transform of stored
// coefficients.
bool JpegReader::decode_unit(int u) {
    alignas(16) short data[64];
    if (progressive_) {
        for (int n = 0; n < img_n_; ++n) {
            Component &c = comp_[n];
            const int rows = single_ ? 1 : c.v;
            const int bw = (c.x + 7) >> 3, bh = (c.y + 7) >> 3;
            const uint16_t *dq = dequant_[c.tq];
            for (int by = u * rows; by < (u + 1) * rows && by < bh; ++by) {
                unsigned char *dst = comp_row(c, by * 8);
                for (int bx = 0; bx < bw; ++bx) {
                    const short *src = c.coeff() + 64 * (bx + static_cast<size_t>(by) * c.coeff_w);
                    for (int q = 0; q < 64; ++q)
                        data[q] = static_cast<short>(src[q] * dq[q]);
                    idct_(dst + bx * 8, c.w2, data);
                }
            }
        }
        return true;
    }
    // Baseline: a stopped scan leaves zeros, as the reference's fresh planes.
    const bool decoding = !scan_over_;
    for (int n = 0; n < img_n_; ++n) {
        Component &c = comp_[n];
        const int rows = single_ ? 8 : c.v * 8;
        std::memset(comp_row(c, u * rows), 0, static_cast<size_t>(rows) * c.w2);
    }
    if (!decoding) return true;
    if (single_) {
        const int n = order_[0];
        Component &c = comp_[n];
        const int w = (c.x + 7) >> 3;
        unsigned char *dst = comp_row(c, u * 8);
        for (int i = 0; i < w; ++i) {
            bool flat;
            if (!decode_block(next_block(), huff_dc_[c.hd], huff_ac_[c.ha], fast_ac_[c.ha], n, dequant_[c.tq],
                              &flat))
                return false;
            transform(dst + i * 8, c.w2, flat);
            if (--todo_ <= 0) {
                leave_clear();
                if (code_bits_ < 24) grow();
                if (!(marker_ >= 0xd0 && marker_ <= 0xd7)) {
                    flush_transforms();
                    scan_over_ = true;
                    return true;
                }
                reset();
            }
        }
        flush_transforms();
        leave_clear();
    } else {
        // each component's unit of rows in its ring, worked out once
        unsigned char *unit_rows[4];
        for (int k = 0; k < scan_n_; ++k) {
            Component &c = comp_[order_[k]];
            unit_rows[k] = comp_row(c, u * c.v * 8);
        }
        for (int i = 0; i < mcu_x_; ++i) {
            for (int k = 0; k < scan_n_; ++k) {
                const int n = order_[k];
                Component &c = comp_[n];
                for (int y = 0; y < c.v; ++y) {
                    unsigned char *dst = unit_rows[k] + static_cast<size_t>(y) * 8 * c.w2;
                    for (int x = 0; x < c.h; ++x) {
                        bool flat;
                        if (!decode_block(next_block(), huff_dc_[c.hd], huff_ac_[c.ha], fast_ac_[c.ha], n,
                                          dequant_[c.tq], &flat))
                            return false;
                        transform(dst + (i * c.h + x) * 8, c.w2, flat);
                    }
                }
            }
            if (--todo_ <= 0) {
                leave_clear();
                if (code_bits_ < 24) grow();
                if (!(marker_ >= 0xd0 && marker_ <= 0xd7)) {
                    flush_transforms();
                    scan_over_ = true;
                    return true;
                }
                reset();
            }
        }
        flush_transforms();
        leave_clear();
    }
    if (u + 1 == units_) scan_over_ = true;
    return true;
}

void JpegReader::convert_row(int y, unsigned char *out) {
    const int decode_n = img_n_;
    const unsigned char *rows[4] = {};
    for (int k = 0; k < decode_n; ++k) {
        Component &c = comp_[k];
        const int w = (width_ + c.hs - 1) / c.hs;
        const int m = y / c.vs;  // the nearest component row
        const unsigned char *nr = comp_row(c, m);
        if (c.hs == 1 && c.vs == 1) {
            rows[k] = nr;
        } else if (c.vs == 2 && (c.hs == 1 || c.hs == 2)) {
            const int far = (y & 1) ? (m + 1 < c.y ? m + 1 : c.y - 1) : (m > 0 ? m - 1 : 0);
            const unsigned char *fr = comp_row(c, far);
            if (c.hs == 1)
                up_v2(c.line.get(), nr, fr, w);
            else
                up_hv2_(c.line.get(), nr, fr, w);
            rows[k] = c.line.get();
        } else if (c.hs == 2 && c.vs == 1) {
            up_h2(c.line.get(), nr, w);
            rows[k] = c.line.get();
        } else {
            up_generic(c.line.get(), nr, w, c.hs);
            rows[k] = c.line.get();
        }
    }
    const int W = width_;
    if (img_n_ == 3) {
        const bool is_rgb = rgb_ == 3 || (app14_ == 0 && !jfif_);
        if (is_rgb) {
            for (int i = 0; i < W; ++i) {
                out[4 * i] = rows[0][i];
                out[4 * i + 1] = rows[1][i];
                out[4 * i + 2] = rows[2][i];
                out[4 * i + 3] = 255;
            }
        } else {
            ycc_(out, rows[0], rows[1], rows[2], W);
        }
    } else if (img_n_ == 4) {
        if (app14_ == 0) {
            for (int i = 0; i < W; ++i) {
                const unsigned char m = rows[3][i];
                out[4 * i] = blinn(rows[0][i], m);
                out[4 * i + 1] = blinn(rows[1][i], m);
                out[4 * i + 2] = blinn(rows[2][i], m);
                out[4 * i + 3] = 255;
            }
        } else if (app14_ == 2) {
            ycc_(out, rows[0], rows[1], rows[2], W);
            for (int i = 0; i < W; ++i) {
                const unsigned char m = rows[3][i];
                out[4 * i] = blinn(static_cast<unsigned char>(255 - out[4 * i]), m);
                out[4 * i + 1] = blinn(static_cast<unsigned char>(255 - out[4 * i + 1]), m);
                out[4 * i + 2] = blinn(static_cast<unsigned char>(255 - out[4 * i + 2]), m);
            }
        } else {
            ycc_(out, rows[0], rows[1], rows[2], W);
        }
    } else {
        for (int i = 0; i < W; ++i) {
            out[4 * i] = out[4 * i + 1] = out[4 * i + 2] = rows[0][i];
            out[4 * i + 3] = 255;
        }
    }
}

bool JpegReader::read_rows(unsigned char *out, size_t stride, int count) {
    if (failed_) return false;
    if (count > height_ - next_row_) count = height_ - next_row_;
    for (int r = 0; r < count; ++r) {
        const int y = next_row_;
        // the unit of this row and the next one, for the rows below it
        const int need = y / unit_out_rows_ + 2;
        const int want = need < units_ ? need : units_;
        while (units_done_ < want) {
            if (!decode_unit(units_done_)) return false;
            ++units_done_;
        }
        if (!finished_ && units_done_ == units_ && !progressive_) {
            // the rest of the file decides whether the picture stands
            after_scan();
            if (!trailing_markers(false)) return false;
            finished_ = true;
        }
        convert_row(y, out + static_cast<size_t>(r) * stride);
        ++next_row_;
    }
    return true;
}

}  // namespace

void jpeg_idct_block(Isa isa, unsigned char *out, int out_stride, const short coeffs[64]) {
    idct_for(isa)(out, out_stride, coeffs);
}

void jpeg_idct_pair(Isa isa, unsigned char *out_a, unsigned char *out_b, int out_stride,
                    const short a[64], const short b[64]) {
    if (const Idct2Fn two = idct2_for(isa)) {
        two(out_a, out_stride, a, out_b, out_stride, b);
        return;
    }
    idct_for(isa)(out_a, out_stride, a);
    idct_for(isa)(out_b, out_stride, b);
}

void jpeg_ycc_row(Isa isa, unsigned char *out, const unsigned char *y, const unsigned char *cb,
                  const unsigned char *cr, int count) {
    ycc_for(isa)(out, y, cb, cr, count);
}

void jpeg_upsample_hv2(Isa isa, unsigned char *out, const unsigned char *near, const unsigned char *far,
                       int w) {
    up_hv2_for(isa)(out, near, far, w);
}

std::unique_ptr<RowReader> open_jpeg_reader(const unsigned char *bytes, size_t size,
                                           const char **reason, Isa isa) {
    *reason = nullptr;
    if (size > static_cast<size_t>(INT_MAX)) return nullptr;
    std::unique_ptr<JpegReader> reader(new JpegReader(bytes, size, isa));
    if (!reader->open()) {
        *reason = reader->reason();
        return nullptr;
    }
    return reader;
}

}  // namespace velmora
