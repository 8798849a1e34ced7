#include "inflate.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace velmora {

namespace {

// A table entry: the code's length in bits 0-5 (at most 15, so that the
// entry itself can be the shift count), its kind in bits 6-8, the count of
// extra bits in 9-12 and the value (literal, base length or distance, or
// where a subtable starts) in 16-31.
enum Kind : uint32_t { kLit, kLen, kEob, kSub, kBad, kBadLen, kDist, kBadDist };

constexpr uint32_t entry(int len, Kind kind, int extra, uint32_t value) {
    return uint32_t(len) | uint32_t(kind) << 6 | uint32_t(extra) << 9 | value << 16;
}
constexpr uint32_t kind_of(uint32_t e) { return (e >> 6) & 7; }
constexpr int extra_of(uint32_t e) { return int((e >> 9) & 15); }
constexpr int len_of(uint32_t e) { return int(e & 63); }  // a shift count as it stands
constexpr uint32_t kBadEntry = entry(0, kBad, 0, 0);

// Literal/length codes up to 11 bits in one look-up, distances up to 8;
// longer codes (at most 15 bits) go through a subtable of the rest.
constexpr int kLitBits = 11, kDistBits = 8, kCodeLenBits = 7;
constexpr size_t kLitSize = (size_t(1) << kLitBits) + 288 * (size_t(1) << (15 - kLitBits));
constexpr size_t kDistSize = (size_t(1) << kDistBits) + 32 * (size_t(1) << (15 - kDistBits));

const uint16_t kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                               2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

uint32_t lit_entry(int sym, int len) {
    if (sym < 256) return entry(len, kLit, 0, uint32_t(sym));
    if (sym == 256) return entry(len, kEob, 0, 0);
    if (sym < 286) return entry(len, kLen, kLenExtra[sym - 257], kLenBase[sym - 257]);
    return entry(len, kBadLen, 0, 0);  // 286 and 287 stand for no length
}
uint32_t dist_entry(int sym, int len) {
    if (sym < 30) return entry(len, kDist, kDistExtra[sym], kDistBase[sym]);
    return entry(len, kBadDist, 0, 0);  // 30 and 31 stand for no distance
}
uint32_t plain_entry(int sym, int len) { return entry(len, kLit, 0, uint32_t(sym)); }

unsigned reverse_bits(unsigned code, int len) {
    unsigned r = 0;
    for (int i = 0; i < len; ++i, code >>= 1) r = r << 1 | (code & 1);
    return r;
}

// The code of `lens` tested as the reference tests it (its two refusals),
// then laid out as a table: `first` bits in one look-up, the rest in
// subtables. Patterns no symbol has (an incomplete code) are kBad.
const char *build_table(const uint8_t *lens, int num, uint32_t *table, int first,
                        uint32_t (*make)(int, int)) {
    int sizes[17] = {0};
    for (int i = 0; i < num; ++i) ++sizes[lens[i]];
    sizes[0] = 0;
    for (int i = 1; i < 16; ++i)
        if (sizes[i] > (1 << i)) return "bad sizes";
    unsigned next_code[16] = {0};
    int code = 0;
    for (int i = 1; i < 16; ++i) {
        next_code[i] = unsigned(code);
        code += sizes[i];
        if (sizes[i] && code - 1 >= (1 << i)) return "bad codelengths";
        code <<= 1;
    }
    const size_t top = size_t(1) << first;
    const size_t sub_size = size_t(1) << (15 - first);
    std::fill(table, table + top, kBadEntry);
    size_t subs = 0;
    for (int sym = 0; sym < num; ++sym) {
        const int len = lens[sym];
        if (!len) continue;
        const unsigned rev = reverse_bits(next_code[len]++, len);
        const uint32_t e = make(sym, len);
        if (len <= first) {
            for (size_t j = rev; j < top; j += size_t(1) << len) table[j] = e;
            continue;
        }
        uint32_t &head = table[rev & (top - 1)];
        if (kind_of(head) != kSub) {
            const size_t at = top + subs++ * sub_size;
            std::fill(table + at, table + at + sub_size, kBadEntry);
            head = entry(0, kSub, 0, uint32_t(at));
        }
        uint32_t *sub = table + (head >> 16);
        for (size_t j = rev >> first; j < sub_size; j += size_t(1) << (len - first)) sub[j] = e;
    }
    return nullptr;
}

inline uint32_t look_up(const uint32_t *table, int first, uint64_t bits) {
    uint32_t e = table[bits & ((uint32_t(1) << first) - 1)];
    if (kind_of(e) == kSub)
        e = table[(e >> 16) + ((bits >> first) & ((uint32_t(1) << (15 - first)) - 1))];
    return e;
}

// The reference's refill of its 32-bit buffer, seen only as its count:
// from fewer than `need` bits, whole bytes until more than 24.
inline int stb_fill(int nb, int need) { return nb < need ? nb + ((32 - nb) & ~7) : nb; }

constexpr size_t kWindow = 32768;
constexpr size_t kChunk = size_t(1) << 18;
constexpr size_t kHigh = kWindow + kChunk;     // produce stops past this
constexpr size_t kSlop = 512;                  // one match and its wide copy past kHigh
constexpr size_t kBufSize = kHigh + kSlop;

}  // namespace

struct Inflater::Tables {
    uint32_t lit[kLitSize];
    uint32_t dist[kDistSize];
    uint32_t codelen[size_t(1) << kCodeLenBits];
};

Inflater::Inflater(StreamInput &input, bool zlib_header, uint32_t first_room, bool adler)
    : input_(input), zlib_header_(zlib_header), room_(first_room), tables_(new Tables),
      buf_(new unsigned char[kBufSize]), sum_(adler) {
    total_in_ = input_.size();
    win_base_ = total_in_;
    seek(0);
}

Inflater::~Inflater() = default;

void Inflater::fail(const char *why) {
    state_ = State::failed;
    reason_ = why;
}

// ---- the input -------------------------------------------------------------

// The run of input from `pos`; none (as at the end of the data) when `pos`
// is past the end or the input fails, which its owner reports.
bool Inflater::load(uint64_t pos) {
    const unsigned char *p = nullptr;
    size_t n = 0;
    win_base_ = pos;
    if (pos < total_in_ && input_.fetch(pos, &p, &n) && n) {
        win_ = in_ = p;
        in_end_ = p + n;
        return true;
    }
    win_ = in_ = in_end_ = nullptr;
    return false;
}

void Inflater::seek(uint64_t pos) {
    if (win_ && pos >= win_base_ && pos <= win_base_ + uint64_t(in_end_ - win_))
        in_ = win_ + (pos - win_base_);
    else
        load(pos);
    past_end_ = 0;
    bits_ = 0;
    count_ = 0;
}

unsigned char Inflater::next_byte() {
    while (in_ == in_end_) {
        if (!load(win_base_ + uint64_t(in_end_ - win_))) {
            ++past_end_;  // the reference reads zeros past the data
            return 0;
        }
    }
    return *in_++;
}

void Inflater::refill() {
    if (in_end_ - in_ >= 8) {
        uint64_t word;
        std::memcpy(&word, in_, 8);
        bits_ |= word << count_;
        in_ += (63 - count_) >> 3;
        count_ |= 56;
        return;
    }
    while (count_ <= 56) {
        bits_ |= uint64_t(next_byte()) << count_;
        count_ += 8;
    }
}

uint64_t Inflater::consumed_bits() const {
    const uint64_t loaded = win_base_ + uint64_t(in_ - win_) + past_end_;
    return loaded * 8 - uint64_t(count_);
}

bool Inflater::decode_ok() {
    if (nb_ < 16) {
        // Nothing left to load and fewer than 16 bits: the reference stops
        // there, even where the bits it holds would make a code.
        if (consumed_bits() + uint64_t(nb_) >= total_in_ * 8) return false;
        nb_ = stb_fill(nb_, 16);
    }
    return true;
}

void Inflater::note_receive(int n) {
    nb_ = stb_fill(nb_, n);
    nb_ -= n;
}

bool Inflater::grow_room(uint64_t n) {
    const uint64_t cur = out_base_ + wpos_;
    if (cur + n <= room_) return true;
    if (uint64_t(UINT_MAX) - cur < n) return false;
    while (cur + n > room_) {
        if (room_ > UINT_MAX / 2) return false;
        room_ *= 2;
    }
    return true;
}

// ---- blocks ----------------------------------------------------------------

void Inflater::start_block() {
    refill();
    note_receive(1);
    final_ = bits_ & 1;
    drop(1);
    note_receive(2);
    const unsigned type = bits_ & 3;
    drop(2);
    switch (type) {
    case 0: stored_block(); break;
    case 1: {
        uint8_t lens[288 + 32];
        std::fill(lens, lens + 144, uint8_t(8));
        std::fill(lens + 144, lens + 256, uint8_t(9));
        std::fill(lens + 256, lens + 280, uint8_t(7));
        std::fill(lens + 280, lens + 288, uint8_t(8));
        std::fill(lens + 288, lens + 320, uint8_t(5));
        build_table(lens, 288, tables_->lit, kLitBits, lit_entry);
        build_table(lens + 288, 32, tables_->dist, kDistBits, dist_entry);
        state_ = State::huffman;
        break;
    }
    case 2:
        if (dynamic_tables()) state_ = State::huffman;
        break;
    default: fail(nullptr);  // the reference gives no reason for block type 3
    }
}

void Inflater::end_block() {
    if (!final_) {
        state_ = State::block;
        return;
    }
    state_ = State::done;
    end_pos_ = (consumed_bits() + 7) / 8;
}

void Inflater::stored_block() {
    // The reference drops to a byte boundary, takes the four length bytes
    // from its buffer and then the data (zeros for anything past the end).
    const uint64_t at = (consumed_bits() + 7) / 8;
    seek(std::min(at, total_in_));
    unsigned char h[4];
    for (int i = 0; i < 4; ++i) h[i] = at + uint64_t(i) < total_in_ ? next_byte() : 0;
    nb_ = 0;
    const unsigned len = h[1] * 256u + h[0], nlen = h[3] * 256u + h[2];
    if (nlen != (len ^ 0xffff)) return fail("zlib corrupt");
    if (std::min(at + 4, total_in_) + len > total_in_) return fail("read past buffer");
    if (!grow_room(len)) return fail("outofmem");
    stored_left_ = len;
    state_ = State::stored;
}

void Inflater::copy_stored() {
    while (stored_left_ && wpos_ < kHigh) {
        if (in_ == in_end_) {
            // The data is there (the length was tested): only a read can fail.
            if (!load(win_base_ + uint64_t(in_end_ - win_))) return fail(nullptr);
            continue;
        }
        const size_t n = std::min({size_t(stored_left_), size_t(in_end_ - in_), kHigh - wpos_});
        std::memcpy(buf_.get() + wpos_, in_, n);
        in_ += n;
        wpos_ += n;
        stored_left_ -= uint32_t(n);
    }
    if (!stored_left_) end_block();
}

bool Inflater::dynamic_tables() {
    auto take = [this](int n) {
        if (count_ < n) refill();
        note_receive(n);
        const unsigned v = unsigned(bits_ & ((uint64_t(1) << n) - 1));
        drop(n);
        return v;
    };
    static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    const int hlit = int(take(5)) + 257;
    const int hdist = int(take(5)) + 1;
    const int hclen = int(take(4)) + 4;
    const int total = hlit + hdist;
    uint8_t cl[19] = {0};
    for (int i = 0; i < hclen; ++i) cl[kOrder[i]] = uint8_t(take(3));
    if (const char *why = build_table(cl, 19, tables_->codelen, kCodeLenBits, plain_entry)) {
        fail(why);
        return false;
    }
    uint8_t lens[288 + 32 + 138];
    int n = 0;
    while (n < total) {
        refill();
        if (!decode_ok()) break;
        const uint32_t e = tables_->codelen[bits_ & ((1u << kCodeLenBits) - 1)];
        if (kind_of(e) == kBad) break;
        note_code(len_of(e));
        drop(len_of(e));
        int c = int(e >> 16);
        if (c < 16) {
            lens[n++] = uint8_t(c);
            continue;
        }
        uint8_t fill = 0;
        if (c == 16) {
            c = int(take(2)) + 3;
            if (n == 0) break;
            fill = lens[n - 1];
        } else if (c == 17) {
            c = int(take(3)) + 3;
        } else {
            c = int(take(7)) + 11;
        }
        if (total - n < c) break;
        std::memset(lens + n, fill, size_t(c));
        n += c;
    }
    if (n != total) {
        fail("bad codelengths");
        return false;
    }
    const char *why = build_table(lens, hlit, tables_->lit, kLitBits, lit_entry);
    if (!why) why = build_table(lens + hlit, hdist, tables_->dist, kDistBits, dist_entry);
    if (why) {
        fail(why);
        return false;
    }
    return true;
}

// The common case, far from the end of the data and of the output buffer:
// one refill of the 64-bit buffer per literal or per length and distance,
// matches copied 16 bytes at a time. False when it stopped only because it
// came near one of those ends.
bool Inflater::fast_loop() {
    const uint32_t *lit = tables_->lit, *dist = tables_->dist;
    unsigned char *const out = buf_.get();
    if (in_end_ - in_ < 16) return false;
    const unsigned char *in = in_, *const in_stop = in_end_ - 16;
    const uint64_t out_now = out_base_ + wpos_;
    if (out_now + 258 > room_) return false;
    const size_t w_stop = size_t(std::min<uint64_t>(kHigh, wpos_ + (room_ - out_now - 258)));
    size_t w = wpos_;
    uint64_t bits = bits_;
    int count = count_, nb = nb_;
    bool stopped = false;
    while (in <= in_stop && w < w_stop) {
        uint64_t word;
        std::memcpy(&word, in, 8);
        bits |= word << count;
        in += (63 - count) >> 3;
        count |= 56;

        uint32_t e = look_up(lit, kLitBits, bits);
        int len = len_of(e);
        nb = stb_fill(nb, 16) - len;
        if (kind_of(e) == kLit) {
            bits >>= len;
            count -= len;
            out[w++] = uint8_t(e >> 16);
            // Two more literals fit in the bits of one refill (3 x 15 < 56).
            e = look_up(lit, kLitBits, bits);
            if (kind_of(e) != kLit) continue;
            len = len_of(e);
            nb = stb_fill(nb, 16) - len;
            bits >>= len;
            count -= len;
            out[w++] = uint8_t(e >> 16);
            e = look_up(lit, kLitBits, bits);
            if (kind_of(e) != kLit) continue;
            len = len_of(e);
            nb = stb_fill(nb, 16) - len;
            bits >>= len;
            count -= len;
            out[w++] = uint8_t(e >> 16);
            continue;
        }
        if (kind_of(e) != kLen) {
            stopped = true;
            if (kind_of(e) == kEob) {
                bits >>= len;
                count -= len;
            } else {
                fail(kind_of(e) == kBadLen ? "bad length code" : "bad huffman code");
            }
            break;
        }
        bits >>= len;
        count -= len;
        int extra = extra_of(e);
        const unsigned length = (e >> 16) + unsigned(bits & ((uint64_t(1) << extra) - 1));
        nb = stb_fill(nb, extra) - extra;
        bits >>= extra;
        count -= extra;

        e = look_up(dist, kDistBits, bits);
        if (kind_of(e) != kDist) {
            stopped = true;
            fail(kind_of(e) == kBadDist ? "bad distance code" : "bad huffman code");
            break;
        }
        len = len_of(e);
        nb = stb_fill(nb, 16) - len;
        bits >>= len;
        count -= len;
        extra = extra_of(e);
        const unsigned d = (e >> 16) + unsigned(bits & ((uint64_t(1) << extra) - 1));
        nb = stb_fill(nb, extra) - extra;
        bits >>= extra;
        count -= extra;
        if (d > out_base_ + w) {
            stopped = true;
            fail("bad dist");
            break;
        }
        unsigned char *to = out + w;
        const unsigned char *from = to - d;
        if (d >= 16) {
            unsigned char *const end = to + length;
            do {
                std::memcpy(to, from, 16);
                to += 16;
                from += 16;
            } while (to < end);
        } else if (d == 1) {
            std::memset(to, to[-1], length);
        } else {
            for (unsigned k = 0; k < length; ++k) to[k] = from[k];
        }
        w += length;
    }
    bits_ = bits;
    count_ = count;
    nb_ = nb;
    in_ = in;
    wpos_ = w;
    if (stopped && state_ != State::failed) end_block();
    return stopped;
}

void Inflater::huffman_block() {
    const uint32_t *lit = tables_->lit, *dist = tables_->dist;
    unsigned char *const out = buf_.get();
    while (wpos_ < kHigh) {
        if (fast_loop()) return;
        if (wpos_ >= kHigh) return;
        // One code at a time, with every test the reference makes.
        refill();
        if (!decode_ok()) return fail("bad huffman code");
        uint32_t e = look_up(lit, kLitBits, bits_);
        switch (kind_of(e)) {
        case kBad: return fail("bad huffman code");
        case kBadLen: return fail("bad length code");
        default: break;
        }
        note_code(len_of(e));
        drop(len_of(e));
        if (kind_of(e) == kLit) {
            if (!grow_room(1)) return fail("outofmem");
            out[wpos_++] = uint8_t(e >> 16);
            continue;
        }
        if (kind_of(e) == kEob) return end_block();
        int extra = extra_of(e);
        note_receive(extra);
        const unsigned length = (e >> 16) + unsigned(bits_ & ((uint64_t(1) << extra) - 1));
        drop(extra);
        refill();
        if (!decode_ok()) return fail("bad huffman code");
        e = look_up(dist, kDistBits, bits_);
        if (kind_of(e) == kBad) return fail("bad huffman code");
        if (kind_of(e) == kBadDist) return fail("bad distance code");
        note_code(len_of(e));
        drop(len_of(e));
        extra = extra_of(e);
        note_receive(extra);
        const unsigned d = (e >> 16) + unsigned(bits_ & ((uint64_t(1) << extra) - 1));
        drop(extra);
        if (d > out_base_ + wpos_) return fail("bad dist");
        if (!grow_room(length)) return fail("outofmem");
        for (unsigned k = 0; k < length; ++k, ++wpos_) out[wpos_] = out[wpos_ - d];
    }
}

// ---- output ----------------------------------------------------------------

void Inflater::produce() {
    if (wpos_ > kWindow + kChunk / 2) {
        // Keep the window; the reader has taken everything before it.
        const size_t drop_n = wpos_ - kWindow;
        std::memmove(buf_.get(), buf_.get() + drop_n, kWindow);
        out_base_ += drop_n;
        wpos_ = kWindow;
        rpos_ = kWindow;
    }
    const size_t start = wpos_;
    while (wpos_ < kHigh && state_ != State::done && state_ != State::failed) {
        switch (state_) {
        case State::header: {
            if (!zlib_header_) {
                state_ = State::block;
                break;
            }
            const unsigned cmf = next_byte(), flg = next_byte();
            if (total_in_ <= 2 || (cmf * 256 + flg) % 31 != 0) return fail("bad zlib header");
            if (flg & 32) return fail("no preset dict");
            if ((cmf & 15) != 8) return fail("bad compression");
            state_ = State::block;
            break;
        }
        case State::block: start_block(); break;
        case State::stored: copy_stored(); break;
        case State::huffman: huffman_block(); break;
        default: break;
        }
    }
    if (sum_ && wpos_ > start) adler_.update(buf_.get() + start, wpos_ - start);
}

size_t Inflater::read(unsigned char *dst, size_t n) {
    size_t got = 0;
    while (got < n) {
        if (rpos_ == wpos_) {
            if (state_ == State::done || state_ == State::failed) break;
            produce();
            continue;
        }
        const size_t take = std::min(n - got, wpos_ - rpos_);
        if (dst) std::memcpy(dst + got, buf_.get() + rpos_, take);
        rpos_ += take;
        got += take;
    }
    return got;
}

bool Inflater::finish() {
    for (;;) {
        rpos_ = wpos_;
        if (state_ == State::done || state_ == State::failed) break;
        produce();
    }
    return state_ == State::done;
}

bool Inflater::checksum_ok() {
    if (state_ != State::done || end_pos_ + 4 > total_in_) return false;
    // Nothing is read after this: the run of input can be replaced.
    uint32_t stored = 0;
    uint64_t pos = end_pos_;
    while (pos < end_pos_ + 4) {
        const unsigned char *p = nullptr;
        size_t n = 0;
        if (!input_.fetch(pos, &p, &n) || !n) return false;
        for (size_t i = 0; i < n && pos < end_pos_ + 4; ++i, ++pos) stored = stored << 8 | p[i];
    }
    win_ = in_ = in_end_ = nullptr;
    win_base_ = total_in_;
    return stored == adler_.value();
}

}  // namespace velmora
