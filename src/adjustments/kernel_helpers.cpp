// The kernels' shared helpers that are not templates: the table kernel and the luma.
#include "kernel_helpers.h"
#include "vector_passes.h"

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

// The constant k with table[v] = clamp(v + k) for every v, if there is one:
// then table[0] = min(k, 255) for k > 0, table[255] = max(255 + k, 0) for
// k < 0, and k = 0 leaves both ends alone.
bool shift_of(const unsigned char (&table)[256], int &k) {
    k = table[0] > 0 ? table[0] : table[255] < 255 ? table[255] - 255 : 0;
    for (int v = 0; v < 256; ++v)
        if (table[v] != clamp_byte(v + k)) return false;
    return true;
}

// Each table widened and shifted to its byte of the pixel word, so that a
// pixel is one load, three look-ups, three ORs and one store. Tables that
// only add a constant (brightness, for one) run as saturating byte
// additions in the fast passes, many pixels at a time; tables that change
// nothing (auto levels of a picture that spans every level) skip the work.
// Tables given as affine arithmetic too (contrast, colorize, white balance)
// run as that arithmetic over lanes, which is faster than three look-ups.
class TableKernel final : public BandKernel {
public:
    TableKernel(const ChannelTables &tables, Isa isa, const AffinePass *affine)
        : isa_(resolve(isa)), affine_(affine != nullptr), affine_pass_() {
        if (affine) affine_pass_ = *affine;
        for (int v = 0; v < 256; ++v) {
            red_[v] = tables.level[0][v];
            green_[v] = static_cast<uint32_t>(tables.level[1][v]) << 8;
            blue_[v] = static_cast<uint32_t>(tables.level[2][v]) << 16;
        }
        shift_ = isa_ != Isa::scalar;
        shift_pass_ = {0, 0};
        for (int c = 0; c < 3 && shift_; ++c) {
            int k;
            shift_ = shift_of(tables.level[c], k);
            if (k > 0) shift_pass_.up |= static_cast<uint32_t>(k) << (8 * c);
            if (k < 0) shift_pass_.down |= static_cast<uint32_t>(-k) << (8 * c);
        }
        unchanged_ = shift_ && shift_pass_.up == 0 && shift_pass_.down == 0;
    }

    void run(unsigned char *p, int count, int, int) const override {
        if (count <= 0 || unchanged_) return;
        const auto one = [this](unsigned char *px, uint64_t) {
            uint32_t word;
            std::memcpy(&word, px, 4);
            word = (word & 0xFF000000u) | red_[word & 0xFFu] | green_[(word >> 8) & 0xFFu] |
                   blue_[(word >> 16) & 0xFFu];
            std::memcpy(px, &word, 4);
        };
        if (shift_) {
            for_pixels(p, static_cast<uint64_t>(count), isa_, kShiftLevels, shift_pass_, one);
        } else if (affine_) {
            for_pixels(p, static_cast<uint64_t>(count), isa_, kAffineLevels, affine_pass_, one);
        } else {
            for (int i = 0; i < count; ++i, p += 4) one(p, 0);
        }
    }

private:
    Isa isa_;
    bool shift_, unchanged_, affine_;
    ShiftPass shift_pass_;
    AffinePass affine_pass_;
    uint32_t red_[256], green_[256], blue_[256];
};

}  // namespace

BandKernelPtr table_kernel(const char *name, const ChannelTables &tables, Isa isa,
                           const AffinePass *affine) {
    BandKernelPtr kernel(new (std::nothrow) TableKernel(tables, isa, affine));
    if (!kernel) fail("%s: out of memory", name);
    return kernel;
}

}  // namespace velmora
