// What the kernels share: the one clamp, the one rounding of a shift, the one
// wrap of degrees, the luma, the vector pass loop, and the prepared kernels'
// shapes (a body held by value, the per-channel tables).
// Internal.
#ifndef VELMORA_KERNEL_HELPERS_H
#define VELMORA_KERNEL_HELPERS_H

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "band_kernel.h"
#include "image.h"
#include "last_error.h"
#include "cpu.h"

namespace velmora {

// Whether `isa` runs one of the fast passes (anything but the scalar
// reference) on this machine.
inline bool fast_pass(Isa isa) { return resolve(isa) != Isa::scalar; }

// ---- levels -----------------------------------------------------------------

// A channel result limited to 0..255.
inline unsigned char clamp_byte(int value) {
    return static_cast<unsigned char>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// x + 0.5 truncated, then limited to 0..255: how a float level is rounded.
inline unsigned char round_clamp(float x) { return clamp_byte(static_cast<int>(x + 0.5f)); }

// A float shift rounded half away from zero (never x + 0.5 for a negative x).
inline int round_half_away(float shift) {
    return static_cast<int>(shift >= 0.0f ? shift + 0.5f : shift + -0.5f);
}

// Any number of degrees into 0..359. The first remainder lies in -359..359,
// so nothing overflows, INT_MIN included.
inline int wrap_degrees(int degrees) { return ((degrees % 360) + 360) % 360; }

// BT.601 luma of an 8-bit colour in double precision, rounded: 0..255.
int luma(int r, int g, int b);

// ---- pixel loops ------------------------------------------------------------

// `count` pixels from `p` through a vector pass: its AVX2 function first
// where `isa` runs as AVX2, then its SSE2 function on what is left in every
// fast pass (each does whole groups and says where it stopped),
// then `one(p, i)` on each remaining pixel, i counting from the first, which
// in the scalar pass is every pixel. `Passes` is a VectorPass of
// vector_passes.h.
template <class Passes, class Pass, class One>
void for_pixels(unsigned char *p, uint64_t count, Isa isa, const Passes &passes,
                const Pass &pass, One one) {
    const Isa run = resolve(isa);
    uint64_t done = 0;
    if (run == Isa::avx2 && passes.avx2) done = passes.avx2(p, done, count, pass);
    if (run != Isa::scalar && passes.sse2) done = passes.sse2(p, done, count, pass);
    for (p += 4 * done; done < count; ++done, p += 4) one(p, done);
}

// ---- prepared kernels -----------------------------------------------------------

// A kernel whose run is `body(px, count, x, y)`, everything it needs held by
// value in `body`, so the kernel owns it and runs stay independent.
template <class Body>
class BodyKernel final : public BandKernel {
public:
    explicit BodyKernel(Body body) : body_(std::move(body)) {}
    void run(unsigned char *px, int count, int x, int y) const override {
        if (count > 0) body_(px, count, x, y);
    }

private:
    Body body_;
};

// `body` as a kernel; null after fail() when there is no memory for it.
// `name` starts the message.
template <class Body>
BandKernelPtr make_kernel(const char *name, Body body) {
    BandKernelPtr kernel(new (std::nothrow) BodyKernel<Body>(std::move(body)));
    if (!kernel) fail("%s: out of memory", name);
    return kernel;
}

// `pixel(unsigned char *rgba)` on every pixel of each run.
template <class Pixel>
BandKernelPtr pixel_kernel(const char *name, Pixel pixel) {
    return make_kernel(name, [pixel](unsigned char *p, int count, int, int) {
        for (int i = 0; i < count; ++i, p += 4) pixel(p);
    });
}

// What a factory returns after fail(), read as `return refused(fail(...))`.
inline BandKernelPtr refused(int) { return nullptr; }

// The kernel of parameters that leave every pixel as it is.
BandKernelPtr unchanged_kernel(const char *name);

// New R, G and B values indexed by the old ones, for adjustments whose result
// for a channel depends only on that channel's old value.
struct ChannelTables {
    unsigned char level[3][256];  // red, green, blue
};

struct AffinePass;  // vector_passes.h

// Maps R, G and B of every pixel through the tables; A keeps its value.
// `affine`, if given, states the tables as arithmetic that the vector passes
// do faster than the look-ups, with the same results. Null after fail() when
// there is no memory for it.
BandKernelPtr table_kernel(const char *name, const ChannelTables &tables, Isa isa,
                           const AffinePass *affine = nullptr);

// The per-channel kernel: `level(channel, old)` (channel 0 red, 1 green,
// 2 blue) gives the new value 0..255. The fast passes evaluate it 768 times
// into tables, once, and map every pixel through them; the scalar reference
// evaluates it for every channel of every pixel. `level` is kept by value.
template <class Level>
BandKernelPtr prepare_channels(const char *name, Isa isa, Level level,
                               const AffinePass *affine = nullptr) {
    if (fast_pass(isa)) {
        ChannelTables t;
        for (int c = 0; c < 3; ++c)
            for (int v = 0; v < 256; ++v) t.level[c][v] = static_cast<unsigned char>(level(c, v));
        return table_kernel(name, t, isa, affine);
    }
    return pixel_kernel(name, [level](unsigned char *p) {
        for (int c = 0; c < 3; ++c) p[c] = static_cast<unsigned char>(level(c, p[c]));
    });
}

// One 256-entry table (entries 0..255) for R, G and B.
struct SharedTable {
    int level[256];
};

inline BandKernelPtr prepare_channels(const char *name, Isa isa, const SharedTable &table) {
    return prepare_channels(name, isa, [table](int, int v) { return table.level[v]; });
}

// A prepared kernel over a whole image, rows top to bottom: what each op_X
// is. 0 when `kernel` is null (its factory has called fail()).
inline int run_whole(Image &img, const BandKernelPtr &kernel) {
    if (!kernel) return 0;
    kernel->run_rows(img.pixels, 4 * static_cast<size_t>(img.width), img.width, 0, img.height);
    return 1;
}

}  // namespace velmora

#endif
