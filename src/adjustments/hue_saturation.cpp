// Saturation and hue: scale or rotate every pixel in the HSV model.
#include <cmath>

#include "hsv.h"
#include "kernels.h"
#include "vector_passes.h"

namespace velmora {

namespace {

// One pixel through the HSV model: `change(h, s, v)` edits the colour and
// returns false to leave the pixel as it was.
template <class Change>
inline void hsv_pixel(unsigned char *px, Change change) {
    float h, s, v;
    rgb_to_hsv(px[0], px[1], px[2], h, s, v);
    if (!change(h, s, v)) return;
    int r, g, b;
    hsv_to_rgb(h, s, v, r, g, b);
    px[0] = clamp_byte(r);
    px[1] = clamp_byte(g);
    px[2] = clamp_byte(b);
}

}  // namespace

// value in -100..+100, a percentage added to the saturation scale.
BandKernelPtr prepare_saturation(int width, int height, int value, Isa isa) {
    if (value < -100 || value > 100)
        return refused(fail("saturation: value %d out of range -100..+100", value));
    if (value == 0) return unchanged_kernel("saturation");

    const SaturationPass pass{static_cast<float>(value) / 100.0f + 1.0f};
    // Full desaturation is the luma grey, the grayscale adjustment exactly,
    // not HSV with s = 0.
    if (pass.factor <= 0.0f) return prepare_grayscale(width, height, isa);
    const Isa run = resolve(isa);
    return make_kernel("saturation", [pass, run](unsigned char *p, int count, int, int) {
        for_pixels(p, static_cast<uint64_t>(count), run, kSaturate, pass,
                   [&](unsigned char *px, uint64_t) {
                       hsv_pixel(px, [&](float &, float &s, float &) {
                           s = s * pass.factor;
                           if (s > 1.0f) s = 1.0f;
                           return true;
                       });
                   });
    });
}

// degrees, any int; positive turns red towards yellow and green.
BandKernelPtr prepare_hue(int, int, int degrees, Isa isa) {
    const int deg = wrap_degrees(degrees);
    if (deg == 0) return unchanged_kernel("hue");

    const HuePass pass{static_cast<float>(deg) / 360.0f};  // in (0, 1)
    const Isa run = resolve(isa);
    return make_kernel("hue", [pass, run](unsigned char *p, int count, int, int) {
        for_pixels(p, static_cast<uint64_t>(count), run, kTurnHue, pass,
                   [&](unsigned char *px, uint64_t) {
                       hsv_pixel(px, [&](float &h, float &s, float &) {
                           if (s <= 0.0f) return false;  // greys have no hue to turn
                           h = fmodf(h + pass.shift, 1.0f);
                           if (h < 0.0f) h = h + 1.0f;
                           return true;
                       });
                   });
    });
}

int op_saturation(Image &img, int value, Isa isa) {
    return run_whole(img, prepare_saturation(img.width, img.height, value, isa));
}

int op_hue(Image &img, int degrees, Isa isa) {
    return run_whole(img, prepare_hue(img.width, img.height, degrees, isa));
}

}  // namespace velmora
