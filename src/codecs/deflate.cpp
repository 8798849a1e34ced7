// The compressor. Every decision is the reference's own, taken the same
// way for every input: one fixed-Huffman block, greedy matching over hash
// chains of 16 candidates, one step of lazy matching. What differs is how
// the same answers are reached:
// - the input is made into a sliding window as it is needed;
// - each hash bucket keeps its candidates in a fixed ring of 16 slots; the
//   reference's list (append; when 16 long, drop the oldest 8) always shows
//   the newest `count` entries of that ring;
// - candidates are scanned newest first, so the scan stops at the first one
//   outside the window, and a strictly longer match replaces the best so far,
//   which picks the same newest-of-the-longest match as the reference's
//   oldest-first scan with `>=`;
// - match lengths are compared 8 bytes at a time, or a whole bucket at once
//   with SSE2 (two buckets with AVX2);
// - the compressed stream is kept in blocks and sent out as it stands.
#include "deflate.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>

#include "memory.h"

#if defined(VELMORA_HAVE_SSE2)
#include <emmintrin.h>
#endif
#if defined(VELMORA_HAVE_AVX2)
#include <immintrin.h>
#endif

namespace velmora {

// With a sink: the last block's bytes go to it, and the block is empty again.
void BlockOutput::drain() {
    Block &b = blocks_.back();
    if (!failed_ && b.used > 0 && !sink_(sink_context_, b.bytes.get(), b.used)) failed_ = true;
    b.used = 0;
}

unsigned char *BlockOutput::reserve(unsigned char *cursor, size_t n) {
    if (!blocks_.empty()) {
        if (size_t(end_ - cursor) >= n) return cursor;
        blocks_.back().used = size_t(cursor - blocks_.back().bytes.get());
        total_ += blocks_.back().used;
        if (sink_) {
            drain();
            unsigned char *start = blocks_.back().bytes.get();
            if (size_t(end_ - start) >= n) return start;
            blocks_.clear();  // too small for the request: a larger one replaces it
        }
    }
    // Blocks grow from 1 MiB to 8 MiB, so that a large file's blocks
    // can take huge pages; a sink's block stays at 1 MiB, used over and over.
    const size_t size = std::max(n, next_size_);
    if (!sink_) next_size_ = std::min(next_size_ * 2, size_t(8) << 20);
    Block b;
    b.bytes.reset(new unsigned char[size]);
    advise_huge_pages(b.bytes.get(), size);
    blocks_.push_back(std::move(b));
    end_ = blocks_.back().bytes.get() + size;
    return blocks_.back().bytes.get();
}

void BlockOutput::finish(unsigned char *cursor) {
    if (blocks_.empty()) return;
    blocks_.back().used = size_t(cursor - blocks_.back().bytes.get());
    total_ += blocks_.back().used;
    end_ = cursor;
    if (sink_) {
        drain();
        blocks_.clear();
    }
}

namespace {

constexpr int kWindow = 32768;
constexpr int kBuckets = 16384;
constexpr int kQuality = 8;  // the reference's default PNG compression level
constexpr int kSlots = 2 * kQuality;
constexpr int kMaxMatch = 258;
// Bytes the window holds past the current position: the lazy match at i + 1
// reads up to i + 1 + 258, and match_length 7 more.
constexpr long long kLookahead = 1 + kMaxMatch + 8;

inline uint64_t load64(const unsigned char *p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

inline void prefetch(const void *p) { __builtin_prefetch(p); }

// ---- the bit sink -------------------------------------------------------------

// Codes into the output LSB first, 32 bits at a time. The caller reserves
// room ahead, so a step never checks for it.
struct BitSink {
    unsigned char *op;
    uint64_t bits = 0;
    unsigned nbits = 0;

    void put(uint32_t code, unsigned n) {
        bits |= uint64_t(code) << nbits;
        nbits += n;
        if (nbits >= 32) {
            const uint32_t w = uint32_t(bits);
            op[0] = uint8_t(w);
            op[1] = uint8_t(w >> 8);
            op[2] = uint8_t(w >> 16);
            op[3] = uint8_t(w >> 24);
            op += 4;
            bits >>= 32;
            nbits -= 32;
        }
    }
    // The bits left, padded to whole bytes.
    void flush() {
        while (nbits > 0) {
            *op++ = uint8_t(bits);
            bits >>= 8;
            nbits = nbits > 8 ? nbits - 8 : 0;
        }
    }
};

// ---- fixed Huffman codes ------------------------------------------------------

// Fixed-Huffman codes, bit-reversed for an LSB-first writer: each entry is
// the code in the low bits and its length above bit 24.
struct FixedCodes {
    uint32_t literal[256];
    uint32_t length[259];  // code and extra bits of a match length 3..258
    static uint32_t reverse(uint32_t code, int bits) {
        uint32_t r = 0;
        while (bits--) {
            r = (r << 1) | (code & 1);
            code >>= 1;
        }
        return r;
    }
    static uint32_t symbol(int n) {  // code | bits << 24
        if (n <= 143) return reverse(0x30 + n, 8) | 8u << 24;
        if (n <= 255) return reverse(0x190 + n - 144, 9) | 9u << 24;
        if (n <= 279) return reverse(n - 256, 7) | 7u << 24;
        return reverse(0xC0 + n - 280, 8) | 8u << 24;
    }
    FixedCodes() {
        static const unsigned short base[] = {3,  4,  5,  6,  7,  8,  9,  10,  11,  13,
                                              15, 17, 19, 23, 27, 31, 35, 43,  51,  59,
                                              67, 83, 99, 115, 131, 163, 195, 227, 258, 259};
        static const unsigned char extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        for (int n = 0; n < 256; ++n) literal[n] = symbol(n);
        length[0] = length[1] = length[2] = 0;
        for (int len = 3; len <= 258; ++len) {
            int j = 0;
            while (len > base[j + 1] - 1) ++j;
            const uint32_t s = symbol(257 + j);
            const uint32_t bits = s >> 24;
            length[len] = (s & 0xFFFFFF) | uint32_t(len - base[j]) << bits |
                          (bits + extra[j]) << 24;
        }
    }
};

const FixedCodes &fixed_codes() {
    static const FixedCodes codes;
    return codes;
}

// The distance's 5-bit code and extra bits for a distance of 1..32768, with
// the total bit count above bit 24.
inline uint32_t distance_code(uint32_t d) {
    const uint32_t v = d - 1;
    if (v < 4) return FixedCodes::reverse(v, 5) | 5u << 24;
    int top = 31 - __builtin_clz(v);  // v >= 4: top >= 2
    const int extra = top - 1;
    const uint32_t code = 2 * uint32_t(top) + ((v >> extra) & 1);
    return FixedCodes::reverse(code, 5) | (v & ((1u << extra) - 1)) << 5 |
           uint32_t(5 + extra) << 24;
}

inline void emit_literal(BitSink &sink, const FixedCodes &codes, unsigned char byte) {
    const uint32_t c = codes.literal[byte];
    sink.put(c & 0xFFFFFF, c >> 24);
}

// Length and distance codes together: at most 13 + 18 bits, one put().
inline void emit_match(BitSink &sink, const FixedCodes &codes, int length, uint32_t distance) {
    const uint32_t lc = codes.length[length];
    const uint32_t dc = distance_code(distance);
    const unsigned lbits = lc >> 24;
    sink.put((lc & 0xFFFFFF) | (dc & 0xFFFFFF) << lbits, lbits + (dc >> 24));
}

// ---- the window ---------------------------------------------------------------

inline uint32_t zhash(const unsigned char *d) {
    uint32_t h = uint32_t(d[0]) + (uint32_t(d[1]) << 8) + (uint32_t(d[2]) << 16);
    h ^= h << 3;
    h += h >> 5;
    h ^= h << 4;
    h += h >> 17;
    h ^= h << 25;
    h += h >> 6;
    return h & 16383;
}

// zhash() of the n positions at d (reads d[0 .. n + 1]).
void hash_positions(const unsigned char *d, size_t n, uint16_t *out) {
    size_t k = 0;
#if defined(VELMORA_HAVE_SSE2)
    // Sixteen positions a step: lane j of the load at d + k + r holds the
    // bytes of position k + 4j + r; the packs and interleaves restore order.
    const __m128i low24 = _mm_set1_epi32(0xFFFFFF), low14 = _mm_set1_epi32(16383);
    auto mix = [&](__m128i x) {
        x = _mm_and_si128(x, low24);
        x = _mm_xor_si128(x, _mm_slli_epi32(x, 3));
        x = _mm_add_epi32(x, _mm_srli_epi32(x, 5));
        x = _mm_xor_si128(x, _mm_slli_epi32(x, 4));
        x = _mm_add_epi32(x, _mm_srli_epi32(x, 17));
        x = _mm_xor_si128(x, _mm_slli_epi32(x, 25));
        x = _mm_add_epi32(x, _mm_srli_epi32(x, 6));
        return _mm_and_si128(x, low14);
    };
    for (; k + 16 <= n; k += 16) {
        const __m128i h0 = mix(_mm_loadu_si128(reinterpret_cast<const __m128i *>(d + k)));
        const __m128i h1 = mix(_mm_loadu_si128(reinterpret_cast<const __m128i *>(d + k + 1)));
        const __m128i h2 = mix(_mm_loadu_si128(reinterpret_cast<const __m128i *>(d + k + 2)));
        const __m128i h3 = mix(_mm_loadu_si128(reinterpret_cast<const __m128i *>(d + k + 3)));
        const __m128i p01 = _mm_packs_epi32(h0, h1);  // 0 4 8 12 1 5 9 13
        const __m128i p23 = _mm_packs_epi32(h2, h3);  // 2 6 10 14 3 7 11 15
        const __m128i even = _mm_unpacklo_epi16(p01, p23), odd = _mm_unpackhi_epi16(p01, p23);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + k), _mm_unpacklo_epi16(even, odd));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + k + 8), _mm_unpackhi_epi16(even, odd));
    }
#endif
    for (; k < n; ++k) out[k] = uint16_t(zhash(d + k));
}

// The last 32 KiB before the current position, the lookahead and room for
// new pieces; with the hash of each position in it.
class Window {
public:
    explicit Window(size_t piece_max)
        : cap_(size_t(kWindow) + size_t(kLookahead) + 2 * std::max<size_t>(piece_max, 65536) + 16),
          bytes_(new unsigned char[cap_]), hash_store_(new uint16_t[cap_]) {}

    // Makes the window hold the lookahead of position i, or all that is left
    // of the input, sliding it when full.
    void refill(PieceSource &src, long long i, long long total, Adler32 &adler) {
        unsigned char *const buf = bytes_.get();
        uint16_t *const hashes = hash_store_.get();
        while (avail < total && avail <= i + kLookahead) {
            const size_t n = src.next_size();
            if (size_t(avail - base) + n + 16 > cap_) {
                const long long keep = std::max(base, i - kWindow);
                std::memmove(buf, buf + (keep - base), size_t(avail - keep));
                std::memmove(hashes, hashes + (keep - base), size_t(hashed - keep) * 2);
                base = keep;
            }
            unsigned char *dst = buf + (avail - base);
            src.produce(dst);
            adler.update(dst, n);
            avail += n;
            std::memset(dst + n, 0, 16);  // read past the end, never counted
            if (avail - 2 > hashed) {
                hash_positions(buf + (hashed - base), size_t(avail - 2 - hashed),
                               hashes + (hashed - base));
                hashed = avail - 2;
            }
        }
    }
    const unsigned char *bytes() const { return bytes_.get(); }
    const uint16_t *hashes() const { return hash_store_.get(); }

    long long base = 0;    // absolute position of bytes()[0]
    long long avail = 0;   // absolute end of the bytes made so far
    long long hashed = 0;  // absolute end of the positions hashed

private:
    size_t cap_;
    std::unique_ptr<unsigned char[]> bytes_;
    std::unique_ptr<uint16_t[]> hash_store_;
};

// ---- hash chains --------------------------------------------------------------

// A bucket's ring: each slot's position, and the 8 bytes there, byte j of
// every slot together in plane[j]. One bucket, three cache lines.
struct alignas(64) Bucket {
    uint32_t pos[kSlots];
    uint8_t plane[8][kSlots];
};

struct HashChains {
    struct Meta {
        uint8_t count;  // entries the reference's list holds
        uint8_t head;   // next slot to write
    };
    Bucket bucket[kBuckets];
    Meta meta[kBuckets];
};

inline void fetch(const HashChains &hc, uint32_t h) {
    prefetch(hc.bucket[h].pos);
    prefetch(hc.bucket[h].plane[0]);
    prefetch(hc.bucket[h].plane[4]);
    prefetch(&hc.meta[h]);
}

// Adds position i, its bytes at cur, to bucket h: the reference appends to
// its list and, when the list is 16 long, first drops the oldest 8.
inline void insert(HashChains &hc, uint32_t h, long long i, const unsigned char *cur) {
    uint8_t &count = hc.meta[h].count;
    const unsigned head = hc.meta[h].head;
    if (count == kSlots) count = kQuality;
    hc.bucket[h].pos[head] = uint32_t(i);
    for (int j = 0; j < 8; ++j) hc.bucket[h].plane[j][head] = cur[j];
    hc.meta[h].head = uint8_t((head + 1) & (kSlots - 1));
    ++count;
}

// One bucket's candidates for the current position, newest first as the
// reference would pick among them: the longest, the newest of equals.
struct Candidates {
    const uint32_t *pos;
    const uint8_t (*plane)[kSlots];
    int count;      // entries in the reference's list: the newest `count` slots
    unsigned head;  // the slot after the newest
};

// A copy of the bucket's count and head: build it after any insertion that
// may change them.
inline Candidates candidates(const HashChains &hc, uint32_t h) {
    return Candidates{hc.bucket[h].pos, hc.bucket[h].plane, hc.meta[h].count, hc.meta[h].head};
}

// ---- match search -------------------------------------------------------------

// The position a step codes, as the searches read it.
struct Position {
    const unsigned char *buf;  // the window
    long long base;            // absolute position of buf[0]
    long long i;               // absolute position coded
    const unsigned char *cur;  // buf + (i - base)
    int limit;                 // the longest match allowed at i
};

// A match: its length and absolute position, or pos -1 (length 2) for none.
struct Match {
    int length;
    long long pos;
};
constexpr Match kNoMatch{2, -1};

// The lazy test's scan of i + 1, when it turned step i into a literal: the
// next step's own search, already done.
struct Carried {
    long long at = -1;
    Match match = kNoMatch;
};

// Length of the common prefix of a and b, at most `limit`; reads up to 7
// bytes past b + limit (the window keeps that slack).
inline int match_length(const unsigned char *a, const unsigned char *b, int limit) {
    int n = 0;
    while (n < limit) {
        const uint64_t x = load64(a + n) ^ load64(b + n);
        if (x) {
            n += __builtin_ctzll(x) >> 3;
            return n < limit ? n : limit;
        }
        n += 8;
    }
    return limit;
}

// The match length at a candidate whose first 8 bytes are `key`; the
// window is read only for matches of 8 bytes or more.
inline int candidate_length(uint64_t key, const unsigned char *cand, const unsigned char *cur,
                            uint64_t cur8, int limit) {
    const uint64_t x = key ^ cur8;
    if (x != 0) {
        const int n = __builtin_ctzll(x) >> 3;
        return n < limit ? n : limit;
    }
    return limit <= 8 ? limit : 8 + match_length(cand + 8, cur + 8, limit - 8);
}

// Plain scan: each candidate in turn, newest first, stopping at the first
// outside the window (older ones lie farther back). Returns the longest
// match above `best`, or `best` with pos -1.
inline Match scan_plain(const Candidates &c, long long oldest, const Position &p,
                        const unsigned char *cur, int limit, int best) {
    const uint64_t cur8 = load64(cur);
    long long best_pos = -1;
    for (int k = 0; k < c.count; ++k) {
        const unsigned slot = (c.head - 1 - k) & (kSlots - 1);
        const uint32_t at = c.pos[slot];
        if (static_cast<long long>(at) <= oldest) break;
        const unsigned char *cand = p.buf + (at - p.base);
        const int len = candidate_length(load64(cand), cand, cur, cur8, limit);
        const bool better = len > best;
        best = better ? len : best;
        best_pos = better ? static_cast<long long>(at) : best_pos;
    }
    return Match{best, best_pos};
}

// The searches, one per instruction set, each made for one position at a
// time and asked, in this order:
// - find(): the longest match at i among bucket h, the newest of equals
//   (h1 is the bucket of i + 1, not yet changed by this step's insertion
//   when h1 != h);
// - next_is_longer(): the lazy test, after the insertion, whether i + 1 has a
//   match longer than `best`; when it can say which, it leaves it in
//   `carried` for the next step;
// - after_literal(): when find() found nothing, the next step's search if
//   this one made it already.

// Every candidate in turn: the search without SSE2, and the others' for the
// matches of 8 bytes or more that their vector scans cannot measure.
class ScalarSearch {
public:
    explicit ScalarSearch(const unsigned char *) {}
    Match find(const Position &p, const HashChains &hc, uint32_t h, uint32_t) const {
        return scan_plain(candidates(hc, h), p.i - kWindow, p, p.cur, p.limit, 2);
    }
    bool next_is_longer(const Position &p, int limit1, const Candidates &next, int best,
                        Carried &carried) const {
        const Match m = scan_plain(next, p.i - (kWindow - 1), p, p.cur + 1, limit1, best);
        if (m.length <= best) return false;
        carried = Carried{p.i + 1, m};
        return true;
    }
    void after_literal(const Position &, const HashChains &, uint32_t, Carried &) const {}
};

#if defined(VELMORA_HAVE_SSE2)
// All 16 slots of a bucket at once. Byte j of every slot against byte j of
// the current position, ANDed over j = 0..7, gives each slot's match length
// up to 8. A slot counts when it is among the newest `count` and its
// position lies inside the window. Each slot's score is length * 16 +
// recency (15 the newest), so the largest score names the reference's
// choice among lengths below 8.
struct Scan {
    __m128i length;  // per slot
    __m128i counts;  // 0xFF where the slot counts
    int top = 0;     // the largest score, 0 when no slot counts
};

// Bytes 0..8 at p, each repeated 16 times: bytes doubled, then quadrupled,
// then one 32-bit lane spread.
struct Spread {
    __m128i byte[9];
    explicit Spread(const unsigned char *p) {
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
        const __m128i b2 = _mm_unpacklo_epi8(v, v);
        const __m128i lo = _mm_unpacklo_epi16(b2, b2), hi = _mm_unpackhi_epi16(b2, b2);
        byte[0] = _mm_shuffle_epi32(lo, 0x00);
        byte[1] = _mm_shuffle_epi32(lo, 0x55);
        byte[2] = _mm_shuffle_epi32(lo, 0xAA);
        byte[3] = _mm_shuffle_epi32(lo, 0xFF);
        byte[4] = _mm_shuffle_epi32(hi, 0x00);
        byte[5] = _mm_shuffle_epi32(hi, 0x55);
        byte[6] = _mm_shuffle_epi32(hi, 0xAA);
        byte[7] = _mm_shuffle_epi32(hi, 0xFF);
        byte[8] = _mm_set1_epi8(char(p[8]));
    }
};

// Which slots count (0xFF), and each slot's recency.
inline __m128i counted(const Candidates &c, long long oldest, __m128i &recency) {
    const __m128i old = _mm_set1_epi32(static_cast<int>(std::max<long long>(oldest, INT_MIN)));
    __m128i in[4];
    for (int k = 0; k < 4; ++k)
        in[k] = _mm_cmpgt_epi32(_mm_load_si128(reinterpret_cast<const __m128i *>(c.pos + 4 * k)), old);
    const __m128i inside = _mm_packs_epi16(_mm_packs_epi32(in[0], in[1]), _mm_packs_epi32(in[2], in[3]));
    const __m128i slot = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    recency = _mm_and_si128(_mm_sub_epi8(slot, _mm_set1_epi8(char(c.head))), _mm_set1_epi8(15));
    return _mm_and_si128(inside, _mm_cmpgt_epi8(recency, _mm_set1_epi8(char(15 - c.count))));
}

// `at` holds the 8 spread bytes of the position scanned for.
inline Scan scan_sse2(const Candidates &c, long long oldest, const __m128i *at) {
    const __m128i zero = _mm_setzero_si128();
    auto plane = [&](int j) {
        return _mm_load_si128(reinterpret_cast<const __m128i *>(c.plane[j]));
    };
    __m128i run = _mm_cmpeq_epi8(plane(0), at[0]);
    __m128i length = run;  // minus the count of 0xFF bytes below
    for (int j = 1; j < 8; ++j) {
        run = _mm_and_si128(run, _mm_cmpeq_epi8(plane(j), at[j]));
        length = _mm_add_epi8(length, run);
    }
    length = _mm_sub_epi8(zero, length);

    __m128i recency;
    const __m128i counts = counted(c, oldest, recency);
    __m128i score = _mm_and_si128(_mm_or_si128(_mm_slli_epi16(length, 4), recency), counts);
    score = _mm_max_epu8(score, _mm_srli_si128(score, 8));
    score = _mm_max_epu8(score, _mm_srli_si128(score, 4));
    score = _mm_max_epu8(score, _mm_srli_si128(score, 2));
    score = _mm_max_epu8(score, _mm_srli_si128(score, 1));
    return {length, counts, _mm_cvtsi128_si32(score) & 0xFF};
}

// A scan's answer when its longest match is shorter than 8; false when the
// plain scan has to measure it.
inline bool short_match(const Scan &sc, const Candidates &c, Match &m) {
    const int len = sc.top >> 4;
    if (len >= 8) return false;
    m = len >= 3 ? Match{len, c.pos[(c.head + unsigned(sc.top)) & (kSlots - 1)]} : kNoMatch;
    return true;
}

// All 16 slots of a bucket in one scan; the plain scan only for matches of
// 8 bytes or more.
class Sse2Search {
public:
    explicit Sse2Search(const unsigned char *cur) : spread_(cur) {}
    Match find(const Position &p, const HashChains &hc, uint32_t h, uint32_t h1) {
        const Candidates here = candidates(hc, h);
        Match m;
        if (p.limit >= 8 && short_match(scan_sse2(here, p.i - kWindow, spread_.byte), here, m))
            return m;
        return ScalarSearch(p.cur).find(p, hc, h, h1);
    }
    bool next_is_longer(const Position &p, int limit1, const Candidates &next, int best,
                        Carried &carried) const {
        if (best >= 8 || limit1 < 8)
            return ScalarSearch(p.cur).next_is_longer(p, limit1, next, best, carried);
        const Scan sc =
            next_ready_ ? next_ : scan_sse2(next, p.i - (kWindow - 1), spread_.byte + 1);
        const __m128i longer =
            _mm_and_si128(_mm_cmpgt_epi8(sc.length, _mm_set1_epi8(char(best))), sc.counts);
        if (_mm_movemask_epi8(longer) == 0) return false;
        Match m;
        if (short_match(sc, next, m)) carried = Carried{p.i + 1, m};
        return true;
    }
    void after_literal(const Position &p, const HashChains &hc, uint32_t h1,
                       Carried &carried) const {
        Match m;
        if (next_ready_ && short_match(next_, candidates(hc, h1), m)) carried = Carried{p.i + 1, m};
    }

protected:
    Spread spread_;
    Scan next_{};  // the scan of i + 1, when a wider search made it with this one's
    bool next_ready_ = false;
};
#endif

#if defined(VELMORA_HAVE_AVX2)
// Two buckets in one pass: `a` for the bytes at p, `b` for those at p + 1,
// one in each 128-bit half. Reads p[0 .. 16].
VELMORA_AVX2 inline void scan_pair_avx2(const Candidates &a, long long oldest_a,
                                         const Candidates &b, long long oldest_b,
                                         const unsigned char *p, Scan &ra, Scan &rb) {
    const __m256i bytes = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p))),
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 1)), 1);
    __m256i run = _mm256_set1_epi8(-1), length = _mm256_setzero_si256();
    for (int j = 0; j < 8; ++j) {
        const __m256i planes = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(a.plane[j]))),
            _mm_load_si128(reinterpret_cast<const __m128i *>(b.plane[j])), 1);
        const __m256i spread = _mm256_shuffle_epi8(bytes, _mm256_set1_epi8(char(j)));
        run = _mm256_and_si256(run, _mm256_cmpeq_epi8(planes, spread));
        length = _mm256_add_epi8(length, run);
    }
    length = _mm256_sub_epi8(_mm256_setzero_si256(), length);
    __m128i rec_a, rec_b;
    const __m128i counts_a = counted(a, oldest_a, rec_a), counts_b = counted(b, oldest_b, rec_b);
    const __m256i counts = _mm256_inserti128_si256(_mm256_castsi128_si256(counts_a), counts_b, 1);
    const __m256i recency = _mm256_inserti128_si256(_mm256_castsi128_si256(rec_a), rec_b, 1);
    __m256i score = _mm256_and_si256(_mm256_or_si256(_mm256_slli_epi16(length, 4), recency), counts);
    score = _mm256_max_epu8(score, _mm256_srli_si256(score, 8));
    score = _mm256_max_epu8(score, _mm256_srli_si256(score, 4));
    score = _mm256_max_epu8(score, _mm256_srli_si256(score, 2));
    score = _mm256_max_epu8(score, _mm256_srli_si256(score, 1));
    ra = {_mm256_castsi256_si128(length), counts_a, _mm256_cvtsi256_si32(score) & 0xFF};
    rb = {_mm256_extracti128_si256(length, 1), counts_b,
          _mm_cvtsi128_si32(_mm256_extracti128_si256(score, 1)) & 0xFF};
}

// The SSE2 search that scans the lazy test's bucket together with this
// step's, one in each half of an AVX2 register.
class Avx2Search : public Sse2Search {
public:
    explicit Avx2Search(const unsigned char *cur) : Sse2Search(cur) {}
    VELMORA_AVX2 Match find(const Position &p, const HashChains &hc, uint32_t h, uint32_t h1) {
        // The lazy test's bucket is scanned now unless this step's
        // insertion is about to change it.
        if (p.limit < 9 || h == h1) return Sse2Search::find(p, hc, h, h1);
        const Candidates here = candidates(hc, h);
        Scan sc;
        scan_pair_avx2(here, p.i - kWindow, candidates(hc, h1), p.i - (kWindow - 1), p.cur, sc,
                       next_);
        next_ready_ = true;
        Match m;
        if (short_match(sc, here, m)) return m;
        return ScalarSearch(p.cur).find(p, hc, h, h1);
    }
};
#endif

// ---- the compressor -----------------------------------------------------------

// deflate_q8() with one search; every search gives the same stream.
template <class Search>
bool compress(PieceSource &src, long long total, BlockOutput &out, Adler32 &adler) {
    const FixedCodes &codes = fixed_codes();
    std::unique_ptr<HashChains> chains(new HashChains);
    std::memset(chains->meta, 0, sizeof chains->meta);
    HashChains &hc = *chains;
    Window window(src.piece_max());
    const long long limit_bytes = stored_limit(total);

    BitSink sink{out.reserve(nullptr, 64)};
    *sink.op++ = 0x78;  // deflate, 32K window
    *sink.op++ = 0x5E;  // level 1 in the header's FLEVEL
    sink.put(1, 1);     // the final block,
    sink.put(1, 2);     // fixed Huffman codes

    Carried carried;
    const long long main_end = total - 3;  // the last 3 bytes are always literals
    long long i = 0;
    while (i < total) {
        window.refill(src, i, total, adler);
        const long long seg_end =
            std::min(main_end, window.avail < total ? window.avail - kLookahead : total);
        // 9 bits a byte at most; a step may run 257 bytes past seg_end.
        const long long span = std::max<long long>(seg_end - i, 0) + kMaxMatch + 8;
        sink.op = out.reserve(sink.op, size_t(span + span / 8 + 16));

        // Locals for the hot loop, kept in registers across its stores: the
        // window stays put until the next refill.
        const unsigned char *const buf = window.bytes();
        const uint16_t *const hashes = window.hashes();
        const long long base = window.base, hashed = window.hashed;
        while (i < seg_end) {
            const size_t at = size_t(i - base);
            const int limit = int(std::min<long long>(kMaxMatch, total - i));
            const Position p{buf, base, i, buf + at, limit};
            const uint32_t h = hashes[at];
            const uint32_t h1 = hashes[at + 1];  // the lazy test's, or the next step's
            fetch(hc, h1);

            Search search(p.cur);
            Match m = carried.at == i ? carried.match : search.find(p, hc, h, h1);
            insert(hc, h, i, p.cur);
            if (m.pos >= 0) {
                if (i + m.length < hashed) fetch(hc, hashes[at + size_t(m.length)]);
                // A strictly longer match at i + 1 makes this byte a literal.
                const int limit1 = int(std::min<long long>(kMaxMatch, total - i - 1));
                if (m.length < limit1 &&
                    search.next_is_longer(p, limit1, candidates(hc, h1), m.length, carried))
                    m.pos = -1;
            } else {
                search.after_literal(p, hc, h1, carried);
            }

            if (m.pos >= 0) {
                emit_match(sink, codes, m.length, uint32_t(i - m.pos));
                i += m.length;
            } else {
                emit_literal(sink, codes, *p.cur);
                ++i;
            }
        }
        if (i >= main_end && window.avail == total)
            for (; i < total; ++i) emit_literal(sink, codes, buf[i - base]);
        if (static_cast<long long>(out.written(sink.op)) > limit_bytes || src.failed() ||
            out.failed())
            return false;
    }
    sink.put(0, 7);  // end of block: code 256
    sink.flush();
    out.finish(sink.op);
    return static_cast<long long>(out.size()) <= limit_bytes && !src.failed() && !out.failed();
}

#if defined(VELMORA_HAVE_AVX2)
// The whole compressor compiled for AVX2, the pair scan inlined into it.
VELMORA_AVX2 __attribute__((flatten)) bool compress_avx2(PieceSource &src, long long total,
                                                        BlockOutput &out, Adler32 &adler) {
    return compress<Avx2Search>(src, total, out, adler);
}
#endif

}  // namespace

bool deflate_q8(Isa isa, PieceSource &src, long long total, BlockOutput &out, Adler32 &adler) {
    isa = resolve(isa);
#if defined(VELMORA_HAVE_AVX2)
    if (isa == Isa::avx2) return compress_avx2(src, total, out, adler);
#endif
#if defined(VELMORA_HAVE_SSE2)
    if (isa != Isa::scalar) return compress<Sse2Search>(src, total, out, adler);
#endif
    return compress<ScalarSearch>(src, total, out, adler);
}

bool emit_stored(PieceSource &src, long long total, WriteFn write, void *context) {
    const auto emit = [&](const unsigned char *p, size_t n) { return write(context, p, n); };
    const unsigned char header[2] = {0x78, 0x5E};
    if (!emit(header, 2)) return false;
    std::unique_ptr<unsigned char[]> piece(new unsigned char[src.piece_max() + 1]);
    size_t have = 0, at = 0;  // bytes of `piece` made, and used
    Adler32 adler;
    long long done = 0;
    while (done < total) {
        const int block = int(std::min<long long>(total - done, 32767));
        const unsigned char head[5] = {uint8_t(total - done == block), uint8_t(block),
                                       uint8_t(block >> 8), uint8_t(~block),
                                       uint8_t(~block >> 8)};
        if (!emit(head, 5)) return false;
        int left = block;
        while (left > 0) {
            if (at == have) {
                have = src.next_size();
                src.produce(piece.get());
                if (src.failed()) return false;
                adler.update(piece.get(), have);
                at = 0;
            }
            const size_t n = std::min<size_t>(size_t(left), have - at);
            if (!emit(piece.get() + at, n)) return false;
            at += n;
            left -= int(n);
        }
        done += block;
    }
    const uint32_t a = adler.value();
    const unsigned char tail[4] = {uint8_t(a >> 24), uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a)};
    return emit(tail, 4);
}

}  // namespace velmora
