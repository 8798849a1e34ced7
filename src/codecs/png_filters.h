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

namespace velmora {

// Rows of an 8-bit RGBA image, each filtered as the reference filters it,
// one piece per row: the filter number, then the filtered bytes.
class FilteredRows final : public PieceSource {
public:
    // `isa` chooses the instructions; every choice gives the same bytes.
    FilteredRows(const unsigned char *rgba, int width, Isa isa);
    size_t piece_max() const override { return stride_ + 1; }
    size_t next_size() const override { return stride_ + 1; }
    void produce(unsigned char *dst) override;

    // Filters row z, `up` the row above, into dst: the filter, then the bytes.
    using RowFilter = void (*)(const uint8_t *z, const uint8_t *up, size_t len, uint8_t *dst);

private:
    const unsigned char *px_;
    size_t stride_;
    int row_ = 0;
    RowFilter filter_;
    std::unique_ptr<unsigned char[]> zeros_;  // the row above the first
};

}  // namespace velmora

#endif
