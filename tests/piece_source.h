// An input source over bytes that are not handed out in place: every read
// goes through read_at, as from a file, and can be made to fail from a given
// offset on (a file cut short or unreadable part-way). It notes the largest
// single read, so that a test can tell the file was never read whole.
#ifndef VELMORA_TESTS_PIECE_SOURCE_H
#define VELMORA_TESTS_PIECE_SOURCE_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "input_file.h"

namespace vt {

class PieceSource final : public velmora::InputSource {
public:
    explicit PieceSource(const std::vector<uint8_t> &bytes, uint64_t fail_from = UINT64_MAX)
        : InputSource(bytes.size()), bytes_(bytes), fail_from_(fail_from) {}

    size_t largest_read = 0;
    uint64_t bytes_read = 0;

protected:
    bool fetch(uint64_t offset, unsigned char *dst, size_t n) override {
        largest_read = std::max(largest_read, n);
        bytes_read += n;
        if (offset + n > fail_from_) return false;
        std::memcpy(dst, bytes_.data() + offset, n);
        return true;
    }

private:
    const std::vector<uint8_t> &bytes_;
    uint64_t fail_from_;
};

}  // namespace vt

#endif
