// The kernels' shared helpers that are not templates: the table kernel and the luma.
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

BandKernelPtr unchanged_kernel(const char *name) {
    return make_kernel(name, [](unsigned char *, int, int, int) {});
}

namespace {

// Each table widened and shifted to its byte of the pixel word, so that a
// pixel is one load, three look-ups, three ORs and one store.
class TableKernel final : public BandKernel {
public:
    explicit TableKernel(const ChannelTables &tables) {
        for (int v = 0; v < 256; ++v) {
            red_[v] = tables.level[0][v];
            green_[v] = static_cast<uint32_t>(tables.level[1][v]) << 8;
            blue_[v] = static_cast<uint32_t>(tables.level[2][v]) << 16;
        }
    }

    void run(unsigned char *p, int count, int, int) const override {
        for (int i = 0; i < count; ++i, p += 4) {
            uint32_t px;
            std::memcpy(&px, p, 4);
            px = (px & 0xFF000000u) | red_[px & 0xFFu] | green_[(px >> 8) & 0xFFu] |
                 blue_[(px >> 16) & 0xFFu];
            std::memcpy(p, &px, 4);
        }
    }

private:
    uint32_t red_[256], green_[256], blue_[256];
};

}  // namespace

BandKernelPtr table_kernel(const char *name, const ChannelTables &tables, Isa) {
    BandKernelPtr kernel(new (std::nothrow) TableKernel(tables));
    if (!kernel) fail("%s: out of memory", name);
    return kernel;
}

}  // namespace velmora
