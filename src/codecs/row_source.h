// RGBA rows handed to a writer in order, top first, a few at a time: the
// whole picture in memory is one source, a reader feeding an adjustment band
// by band is another, so a writer need never hold the picture. Internal.
#ifndef VELMORA_ROW_SOURCE_H
#define VELMORA_ROW_SOURCE_H

#include <cstddef>

namespace velmora {

class RowSource {
public:
    virtual ~RowSource() = default;

    // The next `count` rows (never more than remain), row i at the result +
    // i * stride(), valid until the next call. Null when they cannot be made
    // (the source has failed and says why elsewhere): the writer stops.
    virtual const unsigned char *next_rows(int count) = 0;

    // Bytes from one row to the next in what next_rows returns.
    virtual size_t stride() const = 0;

    // Back before the first row, for a writer that must make its output
    // again from the start; false when the source cannot.
    virtual bool rewind() = 0;
};

// The whole picture, already in memory.
class WholeImageRows final : public RowSource {
public:
    WholeImageRows(const unsigned char *rgba, int width, int height)
        : rgba_(rgba), stride_(static_cast<size_t>(width) * 4), height_(height) {}

    const unsigned char *next_rows(int count) override {
        if (count <= 0 || count > height_ - row_) return nullptr;
        const unsigned char *rows = rgba_ + static_cast<size_t>(row_) * stride_;
        row_ += count;
        return rows;
    }
    size_t stride() const override { return stride_; }
    bool rewind() override {
        row_ = 0;
        return true;
    }

private:
    const unsigned char *rgba_;
    size_t stride_;
    int height_;
    int row_ = 0;
};

}  // namespace velmora

#endif
