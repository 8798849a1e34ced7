// The reader follows the reference decoder step by step where its outcome is
// decided: the chunk walk with its checks in their order (reading zeros past
// the end of the file, as it does), the zlib stream (inflate.h), then the
// rows. Where the reference inflates the whole stream before it looks at a
// row, this reader hands rows out as they are inflated; a refusal that the
// reference would find first (a fault later in the stream, too little data)
// still wins, because a row's own fault is held until the stream is done.
//
// The file comes through an InputSource: the walk reads the chunk headers
// and the small chunks, the inflater the image data in order, and nothing
// holds the file whole. Checked, a damaged chunk wins over every other
// reason: the small chunks are checked at open, the image data's CRCs as it
// is inflated and its rest once the rows are done; a refusal from anywhere
// else first goes over the whole file's CRCs, as the check before decoding
// would have.
#include "png_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "checksums.h"
#include "inflate.h"
#include "input_file.h"
#include "memory.h"
#include "png_container.h"
#include "png_unfilter.h"

namespace velmora {

namespace {

constexpr uint32_t chunk_type(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) << 24 | uint32_t(uint8_t(b)) << 16 | uint32_t(uint8_t(c)) << 8 |
           uint32_t(uint8_t(d));
}

const uint8_t kDepthScale[9] = {0, 0xff, 0x55, 0, 0x11, 0, 0, 0, 0x01};

// The reference names an unknown critical chunk in its reason, raw.
thread_local char t_unknown_chunk[] = "XXXX PNG chunk not known";

// Reading the file as the reference reads it: zeros past the end, and a skip
// that may move past the end. The chunk headers and the small chunks come
// through a little cache; the image data is only skipped here.
struct Cursor {
    Cursor(InputSource &source, uint64_t n) : src(source), size(n), mem(source.memory()) {}

    InputSource &src;
    uint64_t size;
    uint64_t pos = 0;
    const unsigned char *mem;
    unsigned char cache[512];
    uint64_t cache_at = 0;
    size_t cache_n = 0;

    unsigned get8() {
        if (pos >= size) return 0;
        if (mem) return mem[pos++];
        if (pos < cache_at || pos - cache_at >= cache_n) {
            cache_at = pos;
            cache_n = size_t(std::min<uint64_t>(sizeof cache, size - pos));
            // A failed read reads as zeros; the caller reports the failure.
            if (!src.read_at(pos, cache, cache_n)) cache_n = 0;
            if (!cache_n) {
                ++pos;
                return 0;
            }
        }
        return cache[pos++ - cache_at];
    }
    unsigned get16() {
        const unsigned z = get8();
        return (z << 8) + get8();
    }
    uint32_t get32() {
        const uint32_t z = get16();
        return (z << 16) + get16();
    }
    void skip(uint32_t length) {
        const int n = int(length);
        if (n == 0) return;
        if (n < 0) {
            pos = size;
            return;
        }
        pos += uint64_t(n);
    }
};

// An IDAT chunk's data: where it is in the file, and in the stream.
struct Piece {
    uint64_t file_at;
    uint32_t length;
    uint64_t stream_at;
};

struct PngInfo {
    uint32_t x = 0, y = 0;
    int depth = 0, color = 0, img_n = 0, interlace = 0;
    int pal_img_n = 0;
    bool is_iphone = false, has_trans = false;
    uint8_t palette[1024] = {0};  // entries past PLTE read as zeros
    uint8_t tc[3] = {0};
    uint16_t tc16[3] = {0};
    uint32_t ioff = 0;
    std::vector<Piece> idat;
    uint64_t idat_bytes = 0;
    uint32_t first_room = 0;
    // The other chunks whose CRC decides: where each starts, and its length.
    std::vector<std::pair<uint64_t, uint32_t>> checked;
};

enum class Walk { ok, refused, reference };

// The chunks up to IEND, with the reference's checks in its order.
Walk walk_chunks(InputSource &src, PngInfo &p, const char **reason) {
    static const unsigned char kSig[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    const uint64_t size = src.size();
    Cursor s{src, size};
    *reason = nullptr;
    // A wrong signature sends the reference on to its other formats.
    for (int i = 0; i < 8; ++i)
        if (s.get8() != kSig[i]) return Walk::reference;
    auto refuse = [reason](const char *why) {
        *reason = why;
        return Walk::refused;
    };
    bool first = true;
    uint32_t pal_len = 0;
    for (;;) {
        const uint64_t start = s.pos;
        const uint32_t length = s.get32();
        const uint32_t type = s.get32();
        if (type == chunk_type('I', 'H', 'D', 'R') || type == chunk_type('P', 'L', 'T', 'E') ||
            type == chunk_type('t', 'R', 'N', 'S') || type == chunk_type('I', 'E', 'N', 'D') ||
            (type == chunk_type('I', 'D', 'A', 'T') && length == 0))
            p.checked.push_back({start, length});
        switch (type) {
        case chunk_type('C', 'g', 'B', 'I'):
            p.is_iphone = true;
            s.skip(length);
            break;
        case chunk_type('I', 'H', 'D', 'R'): {
            if (!first) return refuse("multiple IHDR");
            first = false;
            if (length != 13) return refuse("bad IHDR len");
            p.x = s.get32();
            p.y = s.get32();
            if (p.y > (1u << 24) || p.x > (1u << 24)) return refuse("too large");
            p.depth = int(s.get8());
            if (p.depth != 1 && p.depth != 2 && p.depth != 4 && p.depth != 8 && p.depth != 16)
                return refuse("1/2/4/8/16-bit only");
            p.color = int(s.get8());
            if (p.color > 6) return refuse("bad ctype");
            if (p.color == 3 && p.depth == 16) return refuse("bad ctype");
            if (p.color == 3)
                p.pal_img_n = 3;
            else if (p.color & 1)
                return refuse("bad ctype");
            if (s.get8()) return refuse("bad comp method");
            if (s.get8()) return refuse("bad filter method");
            p.interlace = int(s.get8());
            if (p.interlace > 1) return refuse("bad interlace method");
            if (!p.x || !p.y) return refuse("0-pixel image");
            if (!p.pal_img_n) {
                p.img_n = (p.color & 2 ? 3 : 1) + (p.color & 4 ? 1 : 0);
                if ((1u << 30) / p.x / uint32_t(p.img_n) < p.y) return refuse("too large");
                if (p.depth == 16 && (0x7fffffffu / 8) / p.x < p.y)
                    return refuse("16-bit image too large");
            } else {
                p.img_n = 1;
                if ((1u << 30) / p.x / 4 < p.y) return refuse("too large");
            }
            break;
        }
        case chunk_type('P', 'L', 'T', 'E'): {
            if (first) return refuse("first not IHDR");
            if (length > 256 * 3) return refuse("invalid PLTE");
            pal_len = length / 3;
            if (pal_len * 3 != length) return refuse("invalid PLTE");
            for (uint32_t i = 0; i < pal_len; ++i) {
                p.palette[i * 4 + 0] = uint8_t(s.get8());
                p.palette[i * 4 + 1] = uint8_t(s.get8());
                p.palette[i * 4 + 2] = uint8_t(s.get8());
                p.palette[i * 4 + 3] = 255;
            }
            break;
        }
        case chunk_type('t', 'R', 'N', 'S'): {
            if (first) return refuse("first not IHDR");
            if (p.ioff) return refuse("tRNS after IDAT");
            if (p.pal_img_n) {
                if (pal_len == 0) return refuse("tRNS before PLTE");
                if (length > pal_len) return refuse("bad tRNS len");
                p.pal_img_n = 4;
                for (uint32_t i = 0; i < length; ++i) p.palette[i * 4 + 3] = uint8_t(s.get8());
            } else {
                if (!(p.img_n & 1)) return refuse("tRNS with alpha");
                if (length != uint32_t(p.img_n) * 2) return refuse("bad tRNS len");
                p.has_trans = true;
                for (int k = 0; k < p.img_n && k < 3; ++k) {
                    if (p.depth == 16)
                        p.tc16[k] = uint16_t(s.get16());
                    else  // wraps as the reference's byte does
                        p.tc[k] = uint8_t((s.get16() & 255) * kDepthScale[p.depth]);
                }
            }
            break;
        }
        case chunk_type('I', 'D', 'A', 'T'): {
            if (first) return refuse("first not IHDR");
            if (p.pal_img_n && !pal_len) return refuse("no PLTE");
            // The reference gives up here without a reason.
            if (int32_t(p.ioff + length) < int32_t(p.ioff)) return Walk::reference;
            if (s.pos > size || length > size - s.pos) return refuse("outofdata");
            if (length) {
                p.idat.push_back({s.pos, length, p.idat_bytes});
                p.idat_bytes += length;
            }
            s.pos += length;
            p.ioff += length;
            break;
        }
        case chunk_type('I', 'E', 'N', 'D'): {
            if (first) return refuse("first not IHDR");
            if (!p.ioff) return refuse("no IDAT");
            // The reference's first guess of the inflated size; it fails
            // without a reason when the guess is past what an int holds.
            const uint32_t bpl = (p.x * uint32_t(p.depth) + 7) / 8;
            uint32_t raw_len = bpl * p.y * uint32_t(p.img_n) + p.y;
            if (raw_len / 1032 > p.ioff) raw_len = p.ioff * 1032 + 1032;
            if (int32_t(raw_len) <= 0) return Walk::reference;
            p.first_room = raw_len;
            return Walk::ok;
        }
        default:
            if (first) return refuse("first not IHDR");
            if ((type & (1u << 29)) == 0) {
                t_unknown_chunk[0] = char(type >> 24);
                t_unknown_chunk[1] = char(type >> 16);
                t_unknown_chunk[2] = char(type >> 8);
                t_unknown_chunk[3] = char(type);
                return refuse(t_unknown_chunk);
            }
            s.skip(length);
            break;
        }
        s.get32();  // the CRC, checked (or not) before we are called
    }
}

struct Pass {
    uint32_t x0, y0, dx, dy, w, h;
};

// The seven passes of an interlaced image (w or h 0 for an empty pass).
void passes(const PngInfo &p, Pass out[7]) {
    static const uint32_t xo[] = {0, 4, 0, 2, 0, 1, 0}, yo[] = {0, 0, 4, 0, 2, 0, 1};
    static const uint32_t xs[] = {8, 8, 4, 4, 2, 2, 1}, ys[] = {8, 8, 8, 4, 4, 2, 2};
    for (int i = 0; i < 7; ++i) {
        const uint32_t w = p.x > xo[i] ? (p.x - xo[i] + xs[i] - 1) / xs[i] : 0;
        const uint32_t h = p.y > yo[i] ? (p.y - yo[i] + ys[i] - 1) / ys[i] : 0;
        out[i] = {xo[i], yo[i], xs[i], ys[i], w, h};
    }
}

uint32_t row_bytes(const PngInfo &p, uint32_t w) {
    return (uint32_t(p.img_n) * w * uint32_t(p.depth) + 7) >> 3;
}

// The zlib stream as the IDAT chunks hold it, read from the source in order:
// in place when the file is in memory, else through a buffer of its own. As
// the bytes go by, each chunk's CRC is summed and tested at its end, so that
// the image data is read once for both.
class IdatInput final : public StreamInput {
public:
    IdatInput(InputSource &src, const PngInfo &p, bool crc)
        : src_(src), pieces_(p.idat), total_(p.idat_bytes), mem_(src.memory()), crc_(crc) {
        if (!mem_) buf_.reset(new unsigned char[kBuffer]);
        if (crc_) start_chunk();
    }

    uint64_t size() const override { return total_; }

    bool fetch(uint64_t pos, const unsigned char **data, size_t *n) override {
        if (pos >= total_) return false;
        while (pos < pieces_[at_].stream_at) --at_;
        while (pos >= pieces_[at_].stream_at + pieces_[at_].length) ++at_;
        const Piece &q = pieces_[at_];
        const uint64_t in_piece = pos - q.stream_at;
        size_t len = size_t(q.length - in_piece);
        const uint64_t file_at = q.file_at + in_piece;
        if (mem_) {
            *data = mem_ + file_at;
        } else {
            len = std::min(len, kBuffer);
            if (!src_.read_at(file_at, buf_.get(), len)) return false;
            *data = buf_.get();
        }
        *n = len;
        if (crc_) cover(pos, *data, len);
        return true;
    }

    // The rest of the image data summed: true when every IDAT's CRC holds.
    // Reads nothing the inflater wants again (it is done by now).
    bool crc_ok() {
        if (!crc_) return true;
        std::vector<unsigned char> piece;
        while (crc_pos_ < total_ && !bad_ && !src_.failed()) {
            const Piece &q = pieces_[crc_piece_];
            const uint64_t in_piece = crc_pos_ - q.stream_at;
            const size_t len = size_t(std::min<uint64_t>(q.length - in_piece, kBuffer));
            if (mem_) {
                cover(crc_pos_, mem_ + q.file_at + in_piece, len);
                continue;
            }
            piece.resize(len);
            if (!src_.read_at(q.file_at + in_piece, piece.data(), len)) break;
            cover(crc_pos_, piece.data(), len);
        }
        return !bad_ && !src_.failed();
    }

private:
    static constexpr size_t kBuffer = 65536;

    // A chunk's CRC starts with its type.
    void start_chunk() {
        sum_ = crc32_update(0xFFFFFFFFu, reinterpret_cast<const unsigned char *>("IDAT"), 4);
    }

    // Sums the part of [pos, pos + n) not summed yet (reads go back a few
    // bytes at times; never forward past what was summed).
    void cover(uint64_t pos, const unsigned char *p, size_t n) {
        if (pos > crc_pos_ || pos + n <= crc_pos_) return;
        const size_t skip = size_t(crc_pos_ - pos);
        sum_ = crc32_update(sum_, p + skip, n - skip);
        crc_pos_ = pos + n;
        const Piece &q = pieces_[crc_piece_];
        if (crc_pos_ < q.stream_at + q.length) return;
        unsigned char stored[4];
        if (src_.read_at(q.file_at + q.length, stored, 4)) {
            const uint32_t want = uint32_t(stored[0]) << 24 | uint32_t(stored[1]) << 16 |
                                  uint32_t(stored[2]) << 8 | stored[3];
            if (~sum_ != want) bad_ = true;
        }
        if (++crc_piece_ < pieces_.size()) start_chunk();
    }

    InputSource &src_;
    const std::vector<Piece> &pieces_;
    uint64_t total_;
    const unsigned char *mem_;
    std::unique_ptr<unsigned char[]> buf_;
    size_t at_ = 0;
    bool crc_;
    size_t crc_piece_ = 0;
    uint64_t crc_pos_ = 0;  // the stream's bytes summed so far
    uint32_t sum_ = 0;
    bool bad_ = false;
};

class PngReader final : public RowReader {
public:
    PngReader(std::unique_ptr<PngInfo> info, InputSource &src, std::unique_ptr<InputSource> owned,
              bool verify_crc, bool verify_adler)
        : owned_(std::move(owned)), src_(src), p_(std::move(info)),
          input_(new IdatInput(src, *p_, verify_crc)), crc_(verify_crc),
          adler_(verify_adler && !p_->is_iphone), unfilter_(unfilter_for(Isa::best)) {
        width_ = int(p_->x);
        height_ = int(p_->y);
        wb_ = row_bytes(*p_, p_->x);
        img_len_ = (uint64_t(wb_) + 1) * p_->y;
        fbytes_ = p_->depth < 8 ? 1 : p_->img_n * (p_->depth / 8);
        z_.reset(new Inflater(*input_, !p_->is_iphone, p_->first_room, adler_));
    }

    int band_rows() const override { return 1; }
    bool read_rows(unsigned char *out, size_t stride, int count) override;

    // Interlaced: inflates the whole stream and makes the reference's checks,
    // so that a refusal comes before anything is sized from the header.
    bool inflate_interlaced();

    // The outcome of a file this reader refuses for `why`: a failed read
    // first, then a damaged chunk anywhere, which wins over every reason of
    // the decoder's own (found by going over the file once more).
    const char *outcome(const char *why) const {
        if (src_.failed()) return kInputReadFailed;
        if (crc_ && (std::strcmp(why ? why : "", "bad CRC") == 0 ||
                     png_pixel_chunks_damaged(src_)))
            return "bad CRC";
        return src_.failed() ? kInputReadFailed : why;
    }

private:
    bool refuse(const char *why) {
        failed_ = true;
        reason_ = outcome(why);
        return false;
    }
    bool short_or_faulty(const char *row_fault);
    bool finish_stream();
    bool assemble_interlaced();
    void to_rgba(const uint8_t *row, uint32_t w, uint8_t *out);
    void samples_to_rgba(const uint8_t *s, uint32_t w, uint8_t *out) const;

    std::unique_ptr<InputSource> owned_;  // a source made here for bytes in memory
    InputSource &src_;
    std::unique_ptr<PngInfo> p_;
    std::unique_ptr<IdatInput> input_;
    bool crc_;
    bool adler_;
    Unfilter unfilter_;
    std::unique_ptr<Inflater> z_;
    uint32_t wb_;
    uint64_t img_len_;
    int fbytes_;
    std::vector<uint8_t> cur_, prev_, samples_;
    int row_ = 0;
    bool failed_ = false;
    std::vector<uint8_t> raw_;  // an interlaced picture's inflated passes
    Buffer image_;              // and the picture, whole, in RGBA
};

// 8-bit samples (sub-byte ones unpacked) to RGBA, as the reference's
// transparency, palette and channel conversions make them.
void PngReader::samples_to_rgba(const uint8_t *s, uint32_t w, uint8_t *o) const {
    const PngInfo &p = *p_;
    switch (p.color) {
    case 0:
        for (uint32_t i = 0; i < w; ++i, o += 4) {
            o[0] = o[1] = o[2] = s[i];
            o[3] = (p.has_trans && s[i] == p.tc[0]) ? 0 : 255;
        }
        break;
    case 2:
        for (uint32_t i = 0; i < w; ++i, s += 3, o += 4) {
            o[0] = s[0];
            o[1] = s[1];
            o[2] = s[2];
            o[3] = (p.has_trans && s[0] == p.tc[0] && s[1] == p.tc[1] && s[2] == p.tc[2]) ? 0 : 255;
        }
        break;
    case 3:
        for (uint32_t i = 0; i < w; ++i, o += 4) std::memcpy(o, p.palette + s[i] * 4, 4);
        break;
    case 4:
        for (uint32_t i = 0; i < w; ++i, s += 2, o += 4) {
            o[0] = o[1] = o[2] = s[0];
            o[3] = s[1];
        }
        break;
    default: std::memcpy(o, s, size_t(w) * 4); break;
    }
}

void PngReader::to_rgba(const uint8_t *row, uint32_t w, uint8_t *o) {
    const PngInfo &p = *p_;
    if (p.depth == 8) return samples_to_rgba(row, w, o);
    if (p.depth == 16) {
        // 16-bit: transparency on the whole sample, then the high byte.
        auto v = [row](uint32_t k) { return uint16_t(row[2 * k] << 8 | row[2 * k + 1]); };
        for (uint32_t i = 0; i < w; ++i, o += 4) {
            switch (p.color) {
            case 0:
                o[0] = o[1] = o[2] = row[2 * i];
                o[3] = (p.has_trans && v(i) == p.tc16[0]) ? 0 : 255;
                break;
            case 2:
                o[0] = row[6 * i];
                o[1] = row[6 * i + 2];
                o[2] = row[6 * i + 4];
                o[3] = (p.has_trans && v(3 * i) == p.tc16[0] && v(3 * i + 1) == p.tc16[1] &&
                        v(3 * i + 2) == p.tc16[2])
                           ? 0
                           : 255;
                break;
            case 4:
                o[0] = o[1] = o[2] = row[4 * i];
                o[3] = row[4 * i + 2];
                break;
            default:
                o[0] = row[8 * i];
                o[1] = row[8 * i + 2];
                o[2] = row[8 * i + 4];
                o[3] = row[8 * i + 6];
                break;
            }
        }
        return;
    }
    // 1, 2 or 4 bits: grey scaled to 0..255, every other kind as it stands.
    const size_t n = size_t(w) * size_t(p.img_n);
    if (samples_.size() < n) samples_.resize(n);
    const int d = p.depth;
    const unsigned mask = (1u << d) - 1;
    const uint8_t scale = p.color == 0 ? kDepthScale[d] : 1;
    for (size_t k = 0; k < n; ++k) {
        const size_t bit = k * size_t(d);
        samples_[k] = uint8_t(scale * ((row[bit >> 3] >> (8 - d - (bit & 7))) & mask));
    }
    samples_to_rgba(samples_.data(), w, o);
}

bool PngReader::finish_stream() {
    if (!z_->finish()) return refuse(z_->reason());
    if (!input_->crc_ok()) return refuse("bad CRC");
    if (adler_ && !z_->checksum_ok()) return refuse("bad zlib checksum");
    if (src_.failed()) return refuse(kInputReadFailed);
    return true;
}

// A short read or a row's own fault: the reference, which inflates the
// whole stream first, names the stream's fault, then too little data, and
// only then the row's.
bool PngReader::short_or_faulty(const char *row_fault) {
    z_->finish();
    if (z_->failed()) return refuse(z_->reason());
    if (z_->total_out() < img_len_) return refuse("not enough pixels");
    return refuse(row_fault);
}

bool PngReader::read_rows(unsigned char *out, size_t stride, int count) {
    if (failed_) return false;
    if (p_->interlace) {
        if (!image_ && !assemble_interlaced()) return false;
        const size_t line = size_t(p_->x) * 4;
        for (int i = 0; i < count; ++i, ++row_)
            std::memcpy(out + size_t(i) * stride, image_.get() + size_t(row_) * line, line);
        return true;
    }
    if (cur_.empty()) {
        cur_.assign(size_t(wb_) + 1 + 16, 0);
        prev_.assign(size_t(wb_) + 1 + 16, 0);
    }
    for (int i = 0; i < count; ++i) {
        uint8_t *raw = cur_.data();
        if (z_->read(raw, size_t(wb_) + 1) < size_t(wb_) + 1) return short_or_faulty(nullptr);
        const int filter = raw[0];
        if (filter > 4) return short_or_faulty("invalid filter");
        if (p_->depth < 8 && wb_ > p_->x) return short_or_faulty("invalid width");
        unfilter_(filter, raw + 1, prev_.data() + 1, wb_, fbytes_);
        to_rgba(raw + 1, p_->x, out + size_t(i) * stride);
        cur_.swap(prev_);
        if (++row_ == height_ && !finish_stream()) return false;
    }
    return true;
}

// Every pass needs the rows of the passes before it inflated, and the last
// pass touches every row: the picture is put together whole.
bool PngReader::inflate_interlaced() {
    Pass ps[7];
    passes(*p_, ps);
    uint64_t needed = 0;
    for (const Pass &q : ps)
        if (q.w && q.h) needed += (uint64_t(row_bytes(*p_, q.w)) + 1) * q.h;
    std::vector<uint8_t> &raw = raw_;
    while (raw.size() < needed) {
        const size_t had = raw.size();
        const size_t want = size_t(std::min<uint64_t>(needed - had, size_t(1) << 22));
        raw.resize(had + want);
        const size_t got = z_->read(raw.data() + had, want);
        raw.resize(had + got);
        if (got < want) break;
    }
    z_->finish();
    if (z_->failed()) return refuse(z_->reason());
    // The reference's checks, pass by pass: enough data, then each row.
    uint64_t left = z_->total_out();
    size_t at = 0;
    for (const Pass &q : ps) {
        if (!q.w || !q.h) continue;
        const uint32_t wb = row_bytes(*p_, q.w);
        const uint64_t len = (uint64_t(wb) + 1) * q.h;
        if (left < len) return refuse("not enough pixels");
        for (uint32_t j = 0; j < q.h; ++j) {
            if (raw[at + size_t(j) * (wb + 1)] > 4) return refuse("invalid filter");
            if (p_->depth < 8 && wb > q.w) return refuse("invalid width");
        }
        at += size_t(len);
        left -= len;
    }
    if (!input_->crc_ok()) return refuse("bad CRC");
    if (adler_ && !z_->checksum_ok()) return refuse("bad zlib checksum");
    if (src_.failed()) return refuse(kInputReadFailed);
    return true;
}

bool PngReader::assemble_interlaced() {
    Pass ps[7];
    passes(*p_, ps);
    const std::vector<uint8_t> &raw = raw_;
    const size_t line = size_t(p_->x) * 4;
    image_.reset(static_cast<unsigned char *>(std::calloc(line, p_->y)));
    if (!image_) return refuse("outofmem");
    cur_.assign(size_t(wb_) + 1 + 16, 0);
    prev_.assign(size_t(wb_) + 1 + 16, 0);
    std::vector<uint8_t> rgba(line);
    size_t at = 0;
    for (const Pass &q : ps) {
        if (!q.w || !q.h) continue;
        const uint32_t wb = row_bytes(*p_, q.w);
        std::fill(prev_.begin(), prev_.end(), uint8_t(0));
        for (uint32_t j = 0; j < q.h; ++j, at += wb + 1) {
            std::memcpy(cur_.data(), raw.data() + at, size_t(wb) + 1);
            unfilter_(cur_[0], cur_.data() + 1, prev_.data() + 1, wb, fbytes_);
            to_rgba(cur_.data() + 1, q.w, rgba.data());
            unsigned char *dst = image_.get() + size_t(q.y0 + j * q.dy) * line;
            for (uint32_t i = 0; i < q.w; ++i)
                std::memcpy(dst + size_t(q.x0 + i * q.dx) * 4, rgba.data() + size_t(i) * 4, 4);
            cur_.swap(prev_);
        }
    }
    raw_ = std::vector<uint8_t>();
    return true;
}

// The one reader behind both entry points. `owned` is the source when it was
// made here, handed to the reader to keep.
std::unique_ptr<RowReader> open_reader(InputSource &src, std::unique_ptr<InputSource> owned,
                                       const char **reason, bool verify_crc,
                                       bool verify_adler) {
    std::unique_ptr<PngInfo> p(new PngInfo);
    // A refusal found before the reader exists has the reader's outcome too.
    auto refused = [&](const char *why) -> std::unique_ptr<RowReader> {
        *reason = why;
        if (src.failed()) *reason = kInputReadFailed;
        else if (verify_crc && png_pixel_chunks_damaged(src)) *reason = "bad CRC";
        else if (src.failed()) *reason = kInputReadFailed;
        return nullptr;
    };
    const Walk walk = walk_chunks(src, *p, reason);
    if (walk == Walk::refused) return refused(*reason);
    if (walk == Walk::reference) {
        if (src.failed()) *reason = kInputReadFailed;
        return nullptr;
    }
    // The chunks around the image data are small and whole: their CRCs now,
    // the image data's as it is read.
    if (verify_crc)
        for (const auto &c : p->checked)
            if (c.first + 12 + c.second <= src.size() && !png_chunk_crc_ok(src, c.first, c.second))
                return refused("bad CRC");
    // The reference sizes its picture (and its 4-channel copy, where it
    // converts) in an int and gives "outofmem" when that overflows, at
    // points of its own between the other checks: pictures that large are
    // left to it.
    const uint64_t pixels = uint64_t(p->x) * p->y;
    const int out_n = !p->pal_img_n && (p->img_n == 3 || p->has_trans) ? p->img_n + 1 : p->img_n;
    const bool converts = !p->pal_img_n && out_n != 4;
    if (pixels * uint64_t(out_n) * (p->depth == 16 ? 2 : 1) > uint64_t(INT32_MAX) ||
        (converts && pixels * 4 > uint64_t(INT32_MAX)))
        return nullptr;
    if (!p->interlace) {
        // Too little compressed data for the rows (deflate makes at most
        // 1032 bytes of one): the outcome is the stream's, before any row
        // buffer is sized from the header.
        const uint64_t img_len = (uint64_t(row_bytes(*p, p->x)) + 1) * p->y;
        if (uint64_t(p->ioff) * 1032 + 65536 < img_len) {
            IdatInput input(src, *p, false);
            Inflater z(input, !p->is_iphone, p->first_room, false);
            if (!z.finish()) return refused(z.reason());  // no reason: the reference gives none
            if (z.total_out() < img_len) return refused("not enough pixels");
        }
    }
    const bool interlaced = p->interlace != 0;
    std::unique_ptr<PngReader> reader(
        new PngReader(std::move(p), src, std::move(owned), verify_crc, verify_adler));
    if (interlaced && !reader->inflate_interlaced()) {
        *reason = reader->reason();  // with no reason, the reference gives none either
        return nullptr;
    }
    return std::unique_ptr<RowReader>(reader.release());
}

}  // namespace

std::unique_ptr<RowReader> open_png_reader(InputSource &src, const char **reason, bool verify) {
    *reason = nullptr;
    return open_reader(src, nullptr, reason, verify, verify);
}

std::unique_ptr<RowReader> open_png_reader(const unsigned char *bytes, size_t size,
                                           const char **reason, bool verify_adler) {
    *reason = nullptr;
    std::unique_ptr<InputSource> src = InputSource::of_memory(bytes, size);
    InputSource &in = *src;
    return open_reader(in, std::move(src), reason, false, verify_adler);
}

bool png_zlib_checksum_wrong(const unsigned char *bytes, size_t size) {
    std::unique_ptr<InputSource> src = InputSource::of_memory(bytes, size);
    PngInfo p;
    const char *reason = nullptr;
    if (walk_chunks(*src, p, &reason) != Walk::ok || p.is_iphone) return false;
    IdatInput input(*src, p, false);
    Inflater z(input, true, p.first_room, true);
    return z.finish() && !z.checksum_ok();
}

}  // namespace velmora
