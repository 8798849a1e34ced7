// The row filters of the PNG writer, as the reference chooses them: each
// row takes the filter with the least sum of |signed byte| over its filtered
// bytes (the lowest filter number on a tie). Rows are made one at a time, as
// the compressor's window needs them, instead of filtering the whole image
// first. Internal.
#ifndef VELMORA_PNG_FILTERS_H
#define VELMORA_PNG_FILTERS_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "cpu.h"
#include "deflate.h"
#include "row_source.h"

namespace velmora {

// Rows of an 8-bit RGBA image, each filtered as the reference filters it,
// one piece per row: the filter number, then the filtered bytes. The rows
// come from `rows` one at a time; the one above is kept as a copy, since the
// source's row is gone by the next call.
class FilteredRows final : public PieceSource {
public:
    // `isa` chooses the instructions; every choice gives the same bytes.
    FilteredRows(RowSource &rows, int width, Isa isa);
    size_t piece_max() const override { return len_ + 1; }
    size_t next_size() const override { return len_ + 1; }
    // A row the source could not give comes out as zeros, and failed() says so.
    void produce(unsigned char *dst) override;
    bool failed() const override { return failed_; }

    // Filters row z, `up` the row above, into dst: the filter, then the bytes.
    using RowFilter = void (*)(const uint8_t *z, const uint8_t *up, size_t len, uint8_t *dst);

private:
    RowSource &rows_;
    size_t len_;
    RowFilter filter_;
    std::unique_ptr<unsigned char[]> up_;  // the row above; zeros above the first
    bool failed_ = false;
};

}  // namespace velmora

#endif
