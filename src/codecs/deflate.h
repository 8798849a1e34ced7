// The zlib stream the reference writer makes at compression level 8: a
// single fixed-Huffman block with greedy matching and one step of lazy
// matching, or stored blocks when compressing does not pay. The input is
// made a piece at a time as the compressor needs it and the output is kept
// in blocks, so neither is ever held whole or copied. Internal.
#ifndef VELMORA_DEFLATE_H
#define VELMORA_DEFLATE_H

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "byte_sink.h"
#include "checksums.h"
#include "cpu.h"

namespace velmora {

// The bytes to compress, one piece at a time: the PNG writer's filtered rows
// are made only as the compressor's window needs them.
class PieceSource {
public:
    virtual size_t piece_max() const = 0;          // the largest piece
    virtual size_t next_size() const = 0;          // the size of the next piece
    virtual void produce(unsigned char *dst) = 0;  // the next piece, into dst
    // Whether a piece could not be made (the bytes from then on are not the
    // input's): the compressor stops.
    virtual bool failed() const { return false; }

protected:
    ~PieceSource() = default;
};

// Bytes of an array, in pieces of 64 KiB.
class ArraySource final : public PieceSource {
public:
    ArraySource(const unsigned char *data, size_t size) : data_(data), size_(size) {}
    size_t piece_max() const override { return kPiece; }
    size_t next_size() const override { return std::min(kPiece, size_ - at_); }
    void produce(unsigned char *dst) override {
        const size_t n = next_size();
        std::memcpy(dst, data_ + at_, n);
        at_ += n;
    }

private:
    static constexpr size_t kPiece = 65536;
    const unsigned char *data_;
    size_t size_, at_ = 0;
};

// The compressed bytes, in blocks that are never moved once written; or,
// given a sink, handed to it as each block fills and the block used again, so
// that only one is ever held.
class BlockOutput {
public:
    struct Block {
        std::unique_ptr<unsigned char[]> bytes;
        size_t used = 0;
    };
    BlockOutput() = default;
    BlockOutput(WriteFn sink, void *context) : sink_(sink), sink_context_(context) {}
    // Whether the sink refused bytes; it is not called again after that.
    bool failed() const { return failed_; }
    // Room for `n` more bytes at cursor(); the bytes before stay where they are.
    unsigned char *reserve(unsigned char *cursor, size_t n);
    void finish(unsigned char *cursor);
    // Bytes written so far, the cursor at `cursor`.
    size_t written(const unsigned char *cursor) const {
        return blocks_.empty() ? 0 : total_ + size_t(cursor - blocks_.back().bytes.get());
    }
    size_t size() const { return total_; }  // after finish()
    // What is held: with a sink, nothing after finish().
    const std::vector<Block> &blocks() const { return blocks_; }

private:
    void drain();
    WriteFn sink_ = nullptr;
    void *sink_context_ = nullptr;
    bool failed_ = false;
    std::vector<Block> blocks_;
    size_t next_size_ = size_t(1) << 20;
    unsigned char *end_ = nullptr;
    size_t total_ = 0;
};

// The size the reference writes when compressing does not pay: the header,
// then 5 bytes per stored block of up to 32767 bytes (the checksum is not
// counted on either side).
inline long long stored_limit(long long n) { return n + 2 + ((n + 32766) / 32767) * 5; }

// Compresses the `total` bytes `src` makes into `out`: the 2-byte header,
// then the fixed-Huffman block, padded; `adler` takes every byte. Returns
// false, with `out` unfinished, as soon as the stream is certain to be
// longer than stored_limit(total): the reference stores the data then. Also
// false, early, when `src` fails or `out`'s sink refuses bytes: the caller
// tells these apart by asking them.
// `isa` chooses the match search; every choice gives the same stream.
bool deflate_q8(Isa isa, PieceSource &src, long long total, BlockOutput &out, Adler32 &adler);

// Sends the stored form of the `total` bytes `src` makes to `write`: the
// header, blocks of at most 32767 bytes, the Adler-32 checksum. False as
// soon as `write` refuses or `src` fails.
bool emit_stored(PieceSource &src, long long total, WriteFn write, void *context);

}  // namespace velmora

#endif
