// The table pass shared by every adjustment whose new channel value depends
// only on that channel's old value: the arithmetic runs 256 times per table
// when the tables are built, and each pixel costs three look-ups.
#include <cstring>

#include "kernels.h"

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "pixels are handled as little-endian 32-bit words"
#endif

namespace velmora {

void apply_tables(Image &img, const ChannelTables &tables) {
    // Each table widened and shifted to its byte of the pixel word, so that a
    // pixel is one load, three look-ups, three ORs and one store.
    uint32_t red[256], green[256], blue[256];
    for (int v = 0; v < 256; ++v) {
        red[v] = tables.red[v];
        green[v] = static_cast<uint32_t>(tables.green[v]) << 8;
        blue[v] = static_cast<uint32_t>(tables.blue[v]) << 16;
    }
    unsigned char *p = img.pixels;
    for (uint64_t i = 0, n = pixel_count(img); i < n; ++i, p += 4) {
        uint32_t px;
        std::memcpy(&px, p, 4);
        px = (px & 0xFF000000u) | red[px & 0xFFu] | green[(px >> 8) & 0xFFu] |
             blue[(px >> 16) & 0xFFu];
        std::memcpy(p, &px, 4);
    }
}

}  // namespace velmora
