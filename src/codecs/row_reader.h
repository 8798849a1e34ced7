// Decoded pictures handed out a band of rows at a time: the shape our own
// readers share, so that a caller can turn rows into output while the next
// band is decoded. Internal.
#ifndef VELMORA_ROW_READER_H
#define VELMORA_ROW_READER_H

#include <cstddef>

namespace velmora {

class RowReader {
public:
    virtual ~RowReader() = default;

    int width() const { return width_; }
    int height() const { return height_; }

    // The rows the reader decodes at once (one for PNG, an MCU row for
    // JPEG): asking for a multiple of it wastes no work.
    virtual int band_rows() const = 0;

    // Decodes the next `count` rows (no more than remain) as 8-bit RGBA into
    // `out`, row i at out + i * stride. False when the file turns out to be
    // refused; reason() then says why, in the reference decoder's words.
    virtual bool read_rows(unsigned char *out, size_t stride, int count) = 0;

    const char *reason() const { return reason_; }

protected:
    int width_ = 0;
    int height_ = 0;
    const char *reason_ = nullptr;
};

}  // namespace velmora

#endif
