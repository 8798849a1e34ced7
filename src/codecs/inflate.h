// Inflate for the PNG reader: a zlib (or bare deflate) stream read straight
// from the pieces it is stored in, the output handed out as it is made, with
// a window of the last 32 KiB kept instead of the whole stream.
//
// Its outcome is the reference decoder's for every stream: the same bytes
// where that decodes, the same reason where it refuses, including its
// readings past the end of the data (zeros), its end-of-data test before each
// code (fewer than 16 bits buffered and nothing left to load), the codes it
// refuses and the size at which it runs out of room. Internal.
#ifndef VELMORA_INFLATE_H
#define VELMORA_INFLATE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "checksums.h"

namespace velmora {

// Where the compressed stream comes from: runs of its bytes, asked for in
// order (with short steps back), each valid until the next is asked for.
class StreamInput {
public:
    virtual ~StreamInput() = default;
    // The stream's length.
    virtual uint64_t size() const = 0;
    // The bytes from stream offset `pos` (below size()) on: at least one, as
    // many as lie together. False when they cannot be read.
    virtual bool fetch(uint64_t pos, const unsigned char **data, size_t *n) = 0;
};

class Inflater {
public:
    // `input` gives the stream (it must outlive the inflater); `zlib_header`
    // whether two header bytes come first; `first_room` the reference's first
    // guess of the output size, which it doubles as the output grows and
    // whose growth past 2 GiB it refuses ("outofmem").
    // `adler` sums the output for the checksum test.
    Inflater(StreamInput &input, bool zlib_header, uint32_t first_room, bool adler);
    ~Inflater();
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;

    // The next `n` bytes of output into `dst` (null: skipped). Returns how
    // many; fewer than `n` only at the end of the stream or on failure.
    size_t read(unsigned char *dst, size_t n);
    // Every remaining byte skipped: true when the stream ends without failure.
    bool finish();

    bool failed() const { return state_ == State::failed; }
    // The reference's reason for the failure (null where it gives none).
    const char *reason() const { return reason_; }
    // Bytes the stream has made so far.
    uint64_t total_out() const { return out_base_ + wpos_; }

    // After the last block: whether the four bytes after it (byte aligned)
    // are in the data and equal the Adler-32 of the output.
    bool checksum_ok();

    struct Tables;

private:
    enum class State { header, block, stored, huffman, done, failed };

    void produce();
    void fail(const char *why);
    void start_block();
    void end_block();
    void stored_block();
    void copy_stored();
    void huffman_block();
    bool fast_loop();
    bool dynamic_tables();
    bool grow_room(uint64_t n);

    // Bits: the byte position, refills and the reference's own count.
    unsigned char next_byte();
    void refill();
    void seek(uint64_t pos);
    bool load(uint64_t pos);
    uint64_t consumed_bits() const;
    bool decode_ok();            // before each code: the end-of-data test
    void note_receive(int n);    // before n plain bits
    void note_code(int n) { nb_ -= n; }
    void drop(int n) {
        bits_ >>= n;
        count_ -= n;
    }

    StreamInput &input_;
    const unsigned char *win_ = nullptr;  // the run of input being read
    const unsigned char *in_ = nullptr, *in_end_ = nullptr;
    uint64_t win_base_ = 0;        // stream offset of win_[0]
    uint64_t total_in_ = 0;
    uint64_t past_end_ = 0;        // zero bytes loaded after the data
    uint64_t bits_ = 0;
    int count_ = 0;                // bits held in bits_
    int nb_ = 0;                   // the reference's count of buffered bits

    State state_ = State::header;
    bool zlib_header_;
    bool final_ = false;
    uint32_t stored_left_ = 0;
    uint64_t room_;                // the reference's output size so far
    const char *reason_ = nullptr;

    std::unique_ptr<Tables> tables_;
    std::unique_ptr<unsigned char[]> buf_;
    size_t wpos_ = 0, rpos_ = 0;
    uint64_t out_base_ = 0;        // stream output before buf_[0]
    bool sum_;
    Adler32 adler_;
    uint64_t end_pos_ = 0;         // byte after the last block
};

}  // namespace velmora

#endif
