// Raw deflate streams made by zlib, for the PNG reader's tests: a unit of its
// own, because the library's internal headers include one named zlib.h.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

std::vector<uint8_t> test_zlib_raw_deflate(const uint8_t *data, size_t n, int level, int strategy) {
    z_stream z{};
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FIXED, Z_RLE};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategies[strategy]);
    std::vector<uint8_t> out(deflateBound(&z, uLong(n)) + 16);
    z.next_in = const_cast<Bytef *>(data);
    z.avail_in = uInt(n);
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}
