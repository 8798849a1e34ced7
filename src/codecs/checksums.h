// The two checksums of a PNG file: CRC-32, which closes every chunk, and
// Adler-32, which closes the zlib stream inside IDAT. Both table or SIMD
// driven; both give the plain checksums. Internal.
#ifndef VELMORA_CHECKSUMS_H
#define VELMORA_CHECKSUMS_H

#include <cstddef>
#include <cstdint>

namespace velmora {

// Running CRC-32: the register, not yet complemented. Start from 0xFFFFFFFF
// and complement the last value to get the checksum.
uint32_t crc32_update(uint32_t crc, const unsigned char *p, size_t n);

// Adler-32 of the deflate input, fed in pieces of any size.
class Adler32 {
public:
    void update(const unsigned char *p, size_t n);
    uint32_t value() const { return (s2_ % 65521) << 16 | (s1_ % 65521); }

private:
    uint32_t s1_ = 1, s2_ = 0;
    size_t pending_ = 0;  // bytes summed since the last reduction
};

}  // namespace velmora

#endif
