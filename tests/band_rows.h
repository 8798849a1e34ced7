// A RowSource as a streaming pipeline makes one: rows copied, a band at a
// time, into a buffer of its own that the next call overwrites (first with
// junk), with padding past each row's end. A writer that keeps a pointer
// from an earlier call, or steps by width * 4 instead of stride(), reads
// junk and makes the wrong file. It can refuse to rewind, or fail at a
// given row, and records what it was asked.
#ifndef VELMORA_TESTS_BAND_ROWS_H
#define VELMORA_TESTS_BAND_ROWS_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "row_source.h"

namespace vt {

class BandRows final : public velmora::RowSource {
public:
    BandRows(const uint8_t *rgba, int width, int height)
        : rgba_(rgba), row_bytes_(size_t(width) * 4), stride_(row_bytes_ + 12), height_(height) {}

    bool can_rewind = true;
    int fail_at = -1;  // the first row it cannot give; -1 never

    std::vector<int> counts;  // every count asked for, in order
    int rewinds = 0;          // calls of rewind(), the refused ones too

    const unsigned char *next_rows(int count) override {
        counts.push_back(count);
        if (count <= 0 || count > height_ - row_) return nullptr;
        if (fail_at >= 0 && row_ + count > fail_at) return nullptr;
        // A fresh block each call: a stale pointer is a use after free under
        // the sanitizers, and junk (the old block's bytes overwritten) here.
        std::fill(band_.begin(), band_.end(), uint8_t(0xA5 ^ row_));
        band_.assign(size_t(count) * stride_, uint8_t(0x5A ^ row_));
        std::vector<uint8_t>(band_).swap(band_);
        for (int r = 0; r < count; ++r)
            std::memcpy(band_.data() + size_t(r) * stride_, rgba_ + size_t(row_ + r) * row_bytes_,
                        row_bytes_);
        row_ += count;
        return band_.data();
    }
    size_t stride() const override { return stride_; }
    bool rewind() override {
        ++rewinds;
        if (!can_rewind) return false;
        row_ = 0;
        return true;
    }

private:
    const uint8_t *rgba_;
    size_t row_bytes_, stride_;
    int height_;
    int row_ = 0;
    std::vector<uint8_t> band_;
};

}  // namespace vt

#endif
