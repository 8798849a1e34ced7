// Vignette: darkens towards the rim with a factor that falls with the square
// of the distance from the centre, in units of a radius given in percent of
// the shorter side, and stays constant beyond it. Single precision throughout.
#include <cmath>

#include "kernels.h"
#include "vector_passes.h"

namespace velmora {

namespace {

// The pixel at column x of a row whose squared vertical offset is dy2.
inline void darken_pixel(unsigned char *p, int32_t x, float dy2, const VignettePass &v) {
    const float dx = static_cast<float>(x) - v.cx;
    const float d2 = dx * dx + dy2;
    const float d = std::sqrt(d2) / v.r;
    const float k = d > 1.0f ? v.rim : 1.0f - (v.s * d) * d;
    for (int c = 0; c < 3; ++c) p[c] = round_clamp(static_cast<float>(p[c]) * k);
}

}  // namespace

BandKernelPtr prepare_vignette(int width, int height, int strength, int radius, Isa isa) {
    if (strength < 0 || strength > 100)
        return refused(fail("vignette: strength %d out of range 0..100", strength));
    if (radius < 1 || radius > 100)
        return refused(fail("vignette: radius %d out of range 1..100", radius));
    if (strength == 0) return unchanged_kernel("vignette");

    VignettePass v;
    v.s = static_cast<float>(strength) / 100.0f;
    const int shorter = width < height ? width : height;
    v.r = (static_cast<float>(radius) / 100.0f) * static_cast<float>(shorter);
    // Midway between the first and last pixel: between two pixels for even sizes.
    v.cx = static_cast<float>(width - 1) * 0.5f;
    v.cy = static_cast<float>(height - 1) * 0.5f;
    v.rim = 1.0f - v.s;

    const Isa run = resolve(isa);
    return make_kernel("vignette", [v, run](unsigned char *p, int count, int x, int y) {
        const float dy = static_cast<float>(y) - v.cy;
        const VignetteRow row{&v, dy * dy, x};
        for_pixels(p, static_cast<uint64_t>(count), run, kDarken, row,
                   [&](unsigned char *px, uint64_t i) {
                       darken_pixel(px, x + static_cast<int32_t>(i), row.dy2, v);
                   });
    });
}

int op_vignette(Image &img, int strength, int radius, Isa isa) {
    return run_whole(img, prepare_vignette(img.width, img.height, strength, radius, isa));
}

}  // namespace velmora
