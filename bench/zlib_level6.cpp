// zlib at level 6, for the benchmark's camera-like PNG: a unit of its own,
// because the library's internal headers include one named zlib.h.
#include <zlib.h>

#include <vector>

bool bench_zlib_level6(const std::vector<unsigned char> &raw, std::vector<unsigned char> &out) {
    uLongf size = compressBound(uLong(raw.size()));
    out.resize(size);
    if (compress2(out.data(), &size, raw.data(), uLong(raw.size()), 6) != Z_OK) return false;
    out.resize(size);
    return true;
}
