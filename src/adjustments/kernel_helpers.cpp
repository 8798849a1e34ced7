// The kernels' shared helpers that are not templates: the table pass and the luma.
#include "kernel_helpers.h"

#include <cstring>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "pixels are handled as little-endian 32-bit words"
#endif

namespace velmora {

// BT.601 luma weights; +0.5 then truncation rounds, and white gives 255.5 -> 255.
int luma(int r, int g, int b) {
    double y = ((0.299 * r + 0.587 * g) + 0.114 * b) + 0.5;
    return static_cast<int>(y);
}

void apply_tables(Image &img, const ChannelTables &tables) {
    // Each table widened and shifted to its byte of the pixel word, so that a
    // pixel is one load, three look-ups, three ORs and one store.
    uint32_t red[256], green[256], blue[256];
    for (int v = 0; v < 256; ++v) {
        red[v] = tables.level[0][v];
        green[v] = static_cast<uint32_t>(tables.level[1][v]) << 8;
        blue[v] = static_cast<uint32_t>(tables.level[2][v]) << 16;
    }
    for_each_pixel(img, [&](unsigned char *p) {
        uint32_t px;
        std::memcpy(&px, p, 4);
        px = (px & 0xFF000000u) | red[px & 0xFFu] | green[(px >> 8) & 0xFFu] |
             blue[(px >> 16) & 0xFFu];
        std::memcpy(p, &px, 4);
    });
}

}  // namespace velmora
