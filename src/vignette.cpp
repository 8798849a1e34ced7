// Vignette: darkens towards the rim with a factor that falls with the square
// of the distance from the centre, in units of a radius given in percent of
// the shorter side, and stays constant beyond it. Single precision throughout.
#include <cmath>

#include "kernels.h"

namespace velmora {

int op_vignette(Image &img, int strength, int radius, Impl) {
    if (strength < 0 || strength > 100)
        return fail("vignette: strength %d out of range 0..100", strength);
    if (radius < 1 || radius > 100) return fail("vignette: radius %d out of range 1..100", radius);
    if (strength == 0) return 1;

    const float s = static_cast<float>(strength) / 100.0f;
    const int shorter = img.width < img.height ? img.width : img.height;
    const float r = (static_cast<float>(radius) / 100.0f) * static_cast<float>(shorter);
    // Midway between the first and last pixel: between two pixels for even sizes.
    const float cx = static_cast<float>(img.width - 1) * 0.5f;
    const float cy = static_cast<float>(img.height - 1) * 0.5f;
    const float rim = 1.0f - s;

    unsigned char *p = img.pixels;
    for (int32_t y = 0; y < img.height; ++y) {
        const float dy = static_cast<float>(y) - cy;
        const float dy2 = dy * dy;
        for (int32_t x = 0; x < img.width; ++x, p += 4) {
            const float dx = static_cast<float>(x) - cx;
            const float d2 = dx * dx + dy2;
            const float d = std::sqrt(d2) / r;
            const float k = d > 1.0f ? rim : 1.0f - (s * d) * d;
            for (int c = 0; c < 3; ++c) {
                const int v = static_cast<int>(static_cast<float>(p[c]) * k + 0.5f);
                p[c] = static_cast<unsigned char>(v > 255 ? 255 : v < 0 ? 0 : v);
            }
        }
    }
    return 1;
}

}  // namespace velmora

using namespace velmora;

extern "C" {

VELMORA_API int velmora_vignette(const char *input_path, const char *output_path, int strength,
                                 int radius) {
    if (!input_path || !output_path) return fail("vignette: NULL input/output");
    return run_inline("vignette", input_path, output_path,
                      [&](Image &img) { return op_vignette(img, strength, radius); });
}
}
