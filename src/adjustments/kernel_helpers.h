// What the kernels share: the one clamp, the one rounding of a shift, the one
// wrap of degrees, the luma, and the pixel loops (every pixel, a vector pass
// with the scalar reference for the rest, and the per-channel table pass).
// Internal.
#ifndef VELMORA_KERNEL_HELPERS_H
#define VELMORA_KERNEL_HELPERS_H

#include <cstddef>
#include <cstdint>

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

// `pixel(unsigned char *rgba)` on every pixel, rows top to bottom.
template <class Pixel>
void for_each_pixel(Image &img, Pixel pixel) {
    unsigned char *p = img.pixels;
    for (uint64_t i = 0, n = pixel_count(img); i < n; ++i, p += 4) pixel(p);
}

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

// New R, G and B values indexed by the old ones, for adjustments whose result
// for a channel depends only on that channel's old value.
struct ChannelTables {
    unsigned char level[3][256];  // red, green, blue
};

// Maps R, G and B of every pixel through the tables in one pass; A keeps its value.
void apply_tables(Image &img, const ChannelTables &tables);

// The per-channel pass: `level(channel, old)` (channel 0 red, 1 green,
// 2 blue) gives the new value 0..255. The fast passes evaluate it 768 times
// into tables and maps every pixel through them; the scalar reference
// evaluates it for every channel of every pixel.
template <class Level>
int map_channels(Image &img, Isa isa, Level level) {
    if (fast_pass(isa)) {
        ChannelTables t;
        for (int c = 0; c < 3; ++c)
            for (int v = 0; v < 256; ++v) t.level[c][v] = static_cast<unsigned char>(level(c, v));
        apply_tables(img, t);
        return 1;
    }
    for_each_pixel(img, [&](unsigned char *p) {
        for (int c = 0; c < 3; ++c) p[c] = static_cast<unsigned char>(level(c, p[c]));
    });
    return 1;
}

// The per-channel pass with one 256-entry table (entries 0..255) for R, G and B.
inline int map_channels(Image &img, Isa isa, const int (&table)[256]) {
    return map_channels(img, isa, [&](int, int v) { return table[v]; });
}

}  // namespace velmora

#endif
