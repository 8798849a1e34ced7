// The decoded picture. Internal.
#ifndef VELMORA_IMAGE_H
#define VELMORA_IMAGE_H

#include <cstdint>

#include "formats.h"
#include "memory.h"

namespace velmora {

struct Image {
    int32_t width;
    int32_t height;
    unsigned char *pixels;  // width * height * 4 bytes, RGBA, rows top to bottom
};

// Pixel count, formed in 64 bits.
inline uint64_t pixel_count(const Image &img) {
    return static_cast<uint64_t>(img.width) * static_cast<uint64_t>(img.height);
}

}  // namespace velmora

#endif
