// The JPEG reader's block transform, colour conversion and 2x2 upsampler
// with AVX2. This unit is compiled for AVX2 and runs only where the
// processor has it. Every operation is the SSE2 path's integer operation:
// AVX2's unpacks, multiply-adds, shifts and packs work on each 128-bit half
// alone, so two blocks side by side (one a half) go through exactly the SSE2
// arithmetic, and the pixel code differs only in how lanes are ordered.
#include <immintrin.h>

#include <cstdint>

namespace velmora {
namespace jpeg_read_avx2 {
namespace {

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

using V = __m256i;

struct Wide {
    V l, h;
};
inline void rot(Wide &o0, Wide &o1, V x, V y, V c0, V c1) {
    const V lo = _mm256_unpacklo_epi16(x, y), hi = _mm256_unpackhi_epi16(x, y);
    o0 = {_mm256_madd_epi16(lo, c0), _mm256_madd_epi16(hi, c0)};
    o1 = {_mm256_madd_epi16(lo, c1), _mm256_madd_epi16(hi, c1)};
}
inline Wide widen(V v) {
    return {_mm256_srai_epi32(_mm256_unpacklo_epi16(_mm256_setzero_si256(), v), 4),
            _mm256_srai_epi32(_mm256_unpackhi_epi16(_mm256_setzero_si256(), v), 4)};
}
inline Wide add(Wide a, Wide b) { return {_mm256_add_epi32(a.l, b.l), _mm256_add_epi32(a.h, b.h)}; }
inline Wide sub(Wide a, Wide b) { return {_mm256_sub_epi32(a.l, b.l), _mm256_sub_epi32(a.h, b.h)}; }
template <int S>
inline void bfly(V &o0, V &o1, Wide a, Wide b, V bias) {
    const Wide ab = {_mm256_add_epi32(a.l, bias), _mm256_add_epi32(a.h, bias)};
    const Wide s = add(ab, b), d = sub(ab, b);
    o0 = _mm256_packs_epi32(_mm256_srai_epi32(s.l, S), _mm256_srai_epi32(s.h, S));
    o1 = _mm256_packs_epi32(_mm256_srai_epi32(d.l, S), _mm256_srai_epi32(d.h, S));
}
inline V pair(int x, int y) {
    return _mm256_set1_epi32(static_cast<int>((static_cast<uint32_t>(y) << 16) | (static_cast<uint32_t>(x) & 0xffffu)));
}
template <int S>
inline void pass(V r[8], V bias) {
    Wide t2e, t3e, y0, y2, y1, y3, y4, y5;
    rot(t2e, t3e, r[2], r[6], pair(kR00x, kR00y), pair(kR01x, kR01y));
    const Wide t0e = widen(_mm256_add_epi16(r[0], r[4]));
    const Wide t1e = widen(_mm256_sub_epi16(r[0], r[4]));
    const Wide x0 = add(t0e, t3e), x3 = sub(t0e, t3e), x1 = add(t1e, t2e), x2 = sub(t1e, t2e);
    rot(y0, y2, r[7], r[3], pair(kR20x, kR20y), pair(kR21x, kR21y));
    rot(y1, y3, r[5], r[1], pair(kR30x, kR30y), pair(kR31x, kR31y));
    rot(y4, y5, _mm256_add_epi16(r[1], r[7]), _mm256_add_epi16(r[3], r[5]), pair(kR10x, kR10y),
        pair(kR11x, kR11y));
    const Wide x4 = add(y0, y4), x5 = add(y1, y5), x6 = add(y2, y5), x7 = add(y3, y4);
    bfly<S>(r[0], r[7], x0, x7, bias);
    bfly<S>(r[1], r[6], x1, x6, bias);
    bfly<S>(r[2], r[5], x2, x5, bias);
    bfly<S>(r[3], r[4], x3, x4, bias);
}
inline void il16(V &a, V &b) {
    const V t = a;
    a = _mm256_unpacklo_epi16(a, b);
    b = _mm256_unpackhi_epi16(t, b);
}
inline void il8(V &a, V &b) {
    const V t = a;
    a = _mm256_unpacklo_epi8(a, b);
    b = _mm256_unpackhi_epi8(t, b);
}

}  // namespace

// Two blocks at once: block a in the low halves, block b in the high ones.
void idct2(unsigned char *out_a, int stride_a, const short *a, unsigned char *out_b, int stride_b,
           const short *b) {
    V r[8];
    for (int i = 0; i < 8; ++i)
        r[i] = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i * 8))),
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i * 8)), 1);
    pass<10>(r, _mm256_set1_epi32(512));
    il16(r[0], r[4]); il16(r[1], r[5]); il16(r[2], r[6]); il16(r[3], r[7]);
    il16(r[0], r[2]); il16(r[1], r[3]); il16(r[4], r[6]); il16(r[5], r[7]);
    il16(r[0], r[1]); il16(r[2], r[3]); il16(r[4], r[5]); il16(r[6], r[7]);
    pass<17>(r, _mm256_set1_epi32(65536 + (128 << 17)));
    V p0 = _mm256_packus_epi16(r[0], r[1]), p1 = _mm256_packus_epi16(r[2], r[3]);
    V p2 = _mm256_packus_epi16(r[4], r[5]), p3 = _mm256_packus_epi16(r[6], r[7]);
    il8(p0, p2); il8(p1, p3);
    il8(p0, p1); il8(p2, p3);
    il8(p0, p2); il8(p1, p3);
    const V rows[4] = {p0, p2, p1, p3};
    for (int i = 0; i < 4; ++i) {
        const __m128i lo = _mm256_castsi256_si128(rows[i]), hi = _mm256_extracti128_si256(rows[i], 1);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out_a + (2 * i) * stride_a), lo);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out_a + (2 * i + 1) * stride_a), _mm_shuffle_epi32(lo, 0x4e));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out_b + (2 * i) * stride_b), hi);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out_b + (2 * i + 1) * stride_b), _mm_shuffle_epi32(hi, 0x4e));
    }
}

// Sixteen pixels a step, the SSE2 path's 16-bit fixed point; returns how many
// pixels it converted (the caller finishes the rest).
int ycc_row(unsigned char *out, const unsigned char *y, const unsigned char *cb, const unsigned char *cr,
            int count) {
    const V signflip = _mm256_set1_epi16(-0x80);
    const V cr0c = _mm256_set1_epi16(static_cast<short>(1.40200f * 4096.0f + 0.5f));
    const V cr1c = _mm256_set1_epi16(static_cast<short>(-static_cast<short>(0.71414f * 4096.0f + 0.5f)));
    const V cb0c = _mm256_set1_epi16(static_cast<short>(-static_cast<short>(0.34414f * 4096.0f + 0.5f)));
    const V cb1c = _mm256_set1_epi16(static_cast<short>(1.77200f * 4096.0f + 0.5f));
    const V ybias = _mm256_set1_epi16(8);
    const V alpha = _mm256_set1_epi16(255);
    int i = 0;
    for (; i + 15 < count; i += 16) {
        auto load = [&](const unsigned char *p) {
            return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i)));
        };
        // y * 16 + 8 and (c - 128) * 256, the SSE2 path's lanes
        const V yw = _mm256_add_epi16(_mm256_slli_epi16(load(y), 4), ybias);
        const V crw = _mm256_slli_epi16(_mm256_add_epi16(load(cr), signflip), 8);
        const V cbw = _mm256_slli_epi16(_mm256_add_epi16(load(cb), signflip), 8);
        const V rw = _mm256_srai_epi16(_mm256_add_epi16(_mm256_mulhi_epi16(cr0c, crw), yw), 4);
        const V bw = _mm256_srai_epi16(_mm256_add_epi16(yw, _mm256_mulhi_epi16(cbw, cb1c)), 4);
        const V gw = _mm256_srai_epi16(
            _mm256_add_epi16(_mm256_add_epi16(_mm256_mulhi_epi16(cb0c, cbw), yw), _mm256_mulhi_epi16(crw, cr1c)), 4);
        const V rb = _mm256_packus_epi16(rw, bw), ga = _mm256_packus_epi16(gw, alpha);
        const V t0 = _mm256_unpacklo_epi8(rb, ga), t1 = _mm256_unpackhi_epi8(rb, ga);
        // pixels 0-3 | 8-11 and 4-7 | 12-15
        const V q0 = _mm256_unpacklo_epi16(t0, t1), q1 = _mm256_unpackhi_epi16(t0, t1);
        _mm256_storeu_si256(reinterpret_cast<V *>(out + 4 * i), _mm256_permute2x128_si256(q0, q1, 0x20));
        _mm256_storeu_si256(reinterpret_cast<V *>(out + 4 * i + 32), _mm256_permute2x128_si256(q0, q1, 0x31));
    }
    return i;
}

// The 2x2 filter for inputs [from, to), sixteen a step, where every input
// has both neighbours inside the row: (3 * t + t[-/+1] + 8) >> 4 with
// t = 3 * near + far. Returns where it stopped.
int up_hv2(unsigned char *out, const unsigned char *nr, const unsigned char *fr, int from, int to) {
    const V bias = _mm256_set1_epi16(8);
    int i = from;
    for (; i + 16 <= to; i += 16) {
        auto t_at = [&](int at) {
            const V n = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(nr + at)));
            const V f = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(fr + at)));
            return _mm256_add_epi16(_mm256_add_epi16(n, n), _mm256_add_epi16(n, f));
        };
        const V prev = t_at(i - 1), t = t_at(i), next = t_at(i + 1);
        const V t3 = _mm256_add_epi16(_mm256_add_epi16(t, t), _mm256_add_epi16(t, bias));
        const V even = _mm256_srli_epi16(_mm256_add_epi16(t3, prev), 4);
        const V odd = _mm256_srli_epi16(_mm256_add_epi16(t3, next), 4);
        // inputs 0-3 | 8-11 and 4-7 | 12-15, packed back into order
        const V lo = _mm256_unpacklo_epi16(even, odd), hi = _mm256_unpackhi_epi16(even, odd);
        _mm256_storeu_si256(reinterpret_cast<V *>(out + 2 * i), _mm256_packus_epi16(lo, hi));
    }
    return i;
}

}  // namespace jpeg_read_avx2
}  // namespace velmora
