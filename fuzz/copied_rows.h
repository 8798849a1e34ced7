// Rows handed to a writer as a streaming pipeline hands them: copied into a
// block of the source's own that the next call replaces, so a writer that
// keeps an old pointer reads freed memory (which the sanitizers report).
#ifndef VELMORA_FUZZ_COPIED_ROWS_H
#define VELMORA_FUZZ_COPIED_ROWS_H

#include <cstring>
#include <memory>

#include "row_source.h"

class CopiedRows final : public velmora::RowSource {
public:
    CopiedRows(const unsigned char *rgba, int width, int height, bool can_rewind)
        : rgba_(rgba), row_bytes_(size_t(width) * 4), height_(height), can_rewind_(can_rewind) {}
    const unsigned char *next_rows(int count) override {
        if (count <= 0 || count > height_ - row_) return nullptr;
        band_.reset(new unsigned char[size_t(count) * row_bytes_]);
        std::memcpy(band_.get(), rgba_ + size_t(row_) * row_bytes_, size_t(count) * row_bytes_);
        row_ += count;
        return band_.get();
    }
    size_t stride() const override { return row_bytes_; }
    bool rewind() override {
        if (!can_rewind_) return false;
        row_ = 0;
        return true;
    }

private:
    const unsigned char *rgba_;
    size_t row_bytes_;
    int height_;
    bool can_rewind_;
    int row_ = 0;
    std::unique_ptr<unsigned char[]> band_;
};

#endif
