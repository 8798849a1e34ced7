// The JPEG writer's block transform, written once over a lane type: each lane
// is one 8 x 8 block, so a vector path runs several neighbouring blocks
// through exactly the scalar operations, in the scalar order, with no
// shuffles inside the DCT. Included by the writer and by its AVX2 unit (which
// is compiled for AVX2); everything here is a template over the lane
// operations, so no function is ever shared between the two instruction sets.
// Internal.
#ifndef VELMORA_JPEG_BLOCKS_H
#define VELMORA_JPEG_BLOCKS_H

#include <cstddef>
#include <cstdint>

namespace velmora {
namespace jpeg {

constexpr int kMaxLanes = 8;

// Up to eight neighbouring blocks after the transform, for the entropy coder.
struct Group {
    // Quantised coefficients in zig-zag order: q[channel][z * kMaxLanes + block].
    alignas(32) int32_t q[3][64 * kMaxLanes];
    // Bit b of nonzero[channel][z]: block b's coefficient z is not zero.
    alignas(16) uint8_t nonzero[3][64];
};

// The zig-zag position of each natural (row-major) index.
constexpr unsigned char kZigZag[64] = {
    0,  1,  5,  6,  14, 15, 27, 28, 2,  4,  7,  13, 16, 26, 29, 42, 3,  8,  12, 17, 25, 30,
    41, 43, 9,  11, 18, 24, 31, 40, 44, 53, 10, 19, 23, 32, 39, 45, 52, 54, 20, 22, 33, 38,
    46, 51, 55, 60, 21, 34, 37, 47, 50, 56, 59, 61, 35, 36, 48, 49, 57, 58, 62, 63};

// One 8-point forward DCT over lanes, the scaled AAN butterfly with stb's
// constants and order of operations.
template <class O, class F = typename O::F>
inline void dct8(F &d0, F &d1, F &d2, F &d3, F &d4, F &d5, F &d6, F &d7) {
    const F tmp0 = O::add(d0, d7), tmp7 = O::sub(d0, d7);
    const F tmp1 = O::add(d1, d6), tmp6 = O::sub(d1, d6);
    const F tmp2 = O::add(d2, d5), tmp5 = O::sub(d2, d5);
    const F tmp3 = O::add(d3, d4), tmp4 = O::sub(d3, d4);

    // Even part.
    F tmp10 = O::add(tmp0, tmp3);
    const F tmp13 = O::sub(tmp0, tmp3);
    F tmp11 = O::add(tmp1, tmp2);
    F tmp12 = O::sub(tmp1, tmp2);
    d0 = O::add(tmp10, tmp11);
    d4 = O::sub(tmp10, tmp11);
    const F z1 = O::mul(O::add(tmp12, tmp13), O::set(0.707106781f));
    d2 = O::add(tmp13, z1);
    d6 = O::sub(tmp13, z1);

    // Odd part.
    tmp10 = O::add(tmp4, tmp5);
    tmp11 = O::add(tmp5, tmp6);
    tmp12 = O::add(tmp6, tmp7);
    const F z5 = O::mul(O::sub(tmp10, tmp12), O::set(0.382683433f));
    const F z2 = O::add(O::mul(tmp10, O::set(0.541196100f)), z5);
    const F z4 = O::add(O::mul(tmp12, O::set(1.306562965f)), z5);
    const F z3 = O::mul(tmp11, O::set(0.707106781f));
    const F z11 = O::add(tmp7, z3);
    const F z13 = O::sub(tmp7, z3);
    d5 = O::add(z13, z2);
    d3 = O::sub(z13, z2);
    d1 = O::add(z11, z4);
    d7 = O::sub(z11, z4);
}

// The DCT of 8 points of c, `step` elements of 64 apart, from `first`.
template <class O>
inline void dct_line(float *c, int first, int step) {
    constexpr int L = O::L;
    typename O::F d[8];
    for (int i = 0; i < 8; ++i) d[i] = O::load(c + (first + i * step) * L);
    dct8<O>(d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
    for (int i = 0; i < 8; ++i) O::store(c + (first + i * step) * L, d[i]);
}

// Colour conversion, DCT and quantisation of O::L neighbouring blocks.
// rows[r] + offset is the first pixel of block 0 in row r; block b starts
// 32 bytes after block b - 1. `divisors` are stb's reciprocal tables (luma,
// chroma) in zig-zag order.
template <class O>
inline void transform_blocks(const unsigned char *const *rows, size_t offset,
                             const float (*divisors)[64], Group &out) {
    using F = typename O::F;
    using I = typename O::I;
    constexpr int L = O::L;
    alignas(32) float c[3][64 * L];

    // RGB to YCbCr, each sum in stb's order.
    for (int r = 0; r < 8; ++r) {
        for (int half = 0; half < 2; ++half) {
            I px[4];
            O::pixels(rows[r] + offset + half * 16, px);
            for (int j = 0; j < 4; ++j) {
                const F red = O::template channel<0>(px[j]);
                const F green = O::template channel<8>(px[j]);
                const F blue = O::template channel<16>(px[j]);
                const F y = O::sub(O::add(O::add(O::mul(O::set(0.29900f), red),
                                                 O::mul(O::set(0.58700f), green)),
                                          O::mul(O::set(0.11400f), blue)),
                                   O::set(128.0f));
                const F u = O::add(O::sub(O::mul(O::set(-0.16874f), red),
                                          O::mul(O::set(0.33126f), green)),
                                   O::mul(O::set(0.50000f), blue));
                const F v = O::sub(O::sub(O::mul(O::set(0.50000f), red),
                                          O::mul(O::set(0.41869f), green)),
                                   O::mul(O::set(0.08131f), blue));
                const int at = (r * 8 + half * 4 + j) * L;
                O::store(c[0] + at, y);
                O::store(c[1] + at, u);
                O::store(c[2] + at, v);
            }
        }
    }

    for (int ch = 0; ch < 3; ++ch) {
        // Rows first, then columns, as stb does; each column is quantised
        // as it leaves the transform, straight into zig-zag order.
        for (int r = 0; r < 8; ++r) dct_line<O>(c[ch], r * 8, 1);

        const float *divisor = divisors[ch == 0 ? 0 : 1];
        for (int col = 0; col < 8; ++col) {
            F d[8];
            for (int i = 0; i < 8; ++i) d[i] = O::load(c[ch] + (col + i * 8) * L);
            dct8<O>(d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
            for (int i = 0; i < 8; ++i) {
                const int z = kZigZag[col + i * 8];
                const I q = O::round(O::mul(d[i], O::set(divisor[z])));
                O::store_int(out.q[ch] + z * kMaxLanes, q);
                out.nonzero[ch][z] = static_cast<uint8_t>(O::nonzero(q));
            }
        }
    }
}

}  // namespace jpeg
}  // namespace velmora

#endif
