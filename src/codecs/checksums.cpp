// CRC-32 eight bytes a step (slicing by eight), Adler-32 sixteen bytes a
// step with SSE2.
#include "checksums.h"

#include <algorithm>

#include "cpu.h"

#if defined(VELMORA_HAVE_SSE2)
#include <emmintrin.h>
#endif

namespace velmora {

namespace {

struct CrcTables {
    uint32_t t[8][256];
    CrcTables() {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][n] = c;
        }
        for (uint32_t n = 0; n < 256; ++n)
            for (int k = 1; k < 8; ++k) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    }
};

const CrcTables &crc_tables() {
    static const CrcTables tables;
    return tables;
}

// The reference sums in blocks of 5552 bytes too, so its sums never wrap
// and the result is the plain checksum.
constexpr size_t kAdlerBlock = 5552;

#if defined(VELMORA_HAVE_SSE2)
uint32_t lane_sum(__m128i v) {
    alignas(16) uint32_t l[4];
    _mm_store_si128(reinterpret_cast<__m128i *>(l), v);
    return l[0] + l[1] + l[2] + l[3];
}
#endif

}  // namespace

uint32_t crc32_update(uint32_t crc, const unsigned char *p, size_t n) {
    const CrcTables &c = crc_tables();
    while (n >= 8) {
        const uint32_t lo = crc ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                   uint32_t(p[3]) << 24);
        crc = c.t[7][lo & 0xFF] ^ c.t[6][(lo >> 8) & 0xFF] ^ c.t[5][(lo >> 16) & 0xFF] ^
              c.t[4][lo >> 24] ^ c.t[3][p[4]] ^ c.t[2][p[5]] ^ c.t[1][p[6]] ^ c.t[0][p[7]];
        p += 8;
        n -= 8;
    }
    while (n--) crc = (crc >> 8) ^ c.t[0][(crc ^ *p++) & 0xFF];
    return crc;
}

void Adler32::update(const unsigned char *p, size_t n) {
    while (n > 0) {
        size_t block = std::min(n, kAdlerBlock - pending_);
        n -= block;
        pending_ += block;
        uint32_t s1 = s1_, s2 = s2_;
#if defined(VELMORA_HAVE_SSE2)
        // 16 bytes a step: s2 gains 16 * s1 plus the bytes weighted 16..1.
        if (block >= 16) {
            const __m128i zero = _mm_setzero_si128();
            const __m128i w_hi = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
            const __m128i w_lo = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
            __m128i v_s1 = _mm_setzero_si128(), v_s2 = _mm_setzero_si128();
            __m128i v_s1_sum = _mm_setzero_si128();  // sum of s1 at each step start
            size_t steps = block / 16;
            for (size_t k = 0; k < steps; ++k) {
                const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
                v_s1_sum = _mm_add_epi32(v_s1_sum, v_s1);
                v_s1 = _mm_add_epi32(v_s1, _mm_sad_epu8(d, zero));
                v_s2 = _mm_add_epi32(
                    v_s2, _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(d, zero), w_hi),
                                        _mm_madd_epi16(_mm_unpackhi_epi8(d, zero), w_lo)));
                p += 16;
            }
            block -= steps * 16;
            const uint32_t add1 = lane_sum(v_s1);
            const uint32_t add2 = lane_sum(v_s2) + 16 * lane_sum(v_s1_sum);
            s2 += uint32_t(steps) * 16 * s1 + add2;
            s1 += add1;
        }
#endif
        for (; block > 0; --block) {
            s1 += *p++;
            s2 += s1;
        }
        if (pending_ == kAdlerBlock) {
            s1 %= 65521;
            s2 %= 65521;
            pending_ = 0;
        }
        s1_ = s1;
        s2_ = s2;
    }
}

}  // namespace velmora
