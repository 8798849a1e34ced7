// zlib streams for the metadata: the profile of a PNG's iCCP chunk inflated,
// and a profile compressed for the iCCP chunk of an output PNG. stb does the
// work; codec.cpp, the unit that compiles it, defines these. Internal.
#ifndef VELMORA_ZLIB_H
#define VELMORA_ZLIB_H

#include <cstddef>
#include <vector>

namespace velmora {

// A zlib stream inflated into `out`, refused if it would exceed `max_out`.
bool zlib_inflate(const unsigned char *data, size_t size, size_t max_out,
                  std::vector<unsigned char> &out);

// Bytes compressed into a zlib stream, as the PNG writer compresses.
bool zlib_deflate(const unsigned char *data, size_t size, std::vector<unsigned char> &out);

}  // namespace velmora

#endif
