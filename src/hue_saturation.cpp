// Saturation and hue: scale or rotate every pixel in the HSV model.
#include <cmath>

#include "kernels.h"
#include "hsv.h"

namespace velmora {

// value in -100..+100, a percentage added to the saturation scale.
int op_saturation(Image &img, int value, Impl) {
    if (value < -100 || value > 100)
        return fail("saturation: value %d out of range -100..+100", value);
    if (value == 0) return 1;

    const float factor = static_cast<float>(value) / 100.0f + 1.0f;
    unsigned char *px = img.pixels;
    for (uint64_t i = 0, n = pixel_count(img); i < n; ++i, px += 4) {
        if (factor <= 0.0f) {
            // Full desaturation is the luma grey, not HSV with s = 0.
            const unsigned char y = static_cast<unsigned char>(luma(px[0], px[1], px[2]));
            px[0] = px[1] = px[2] = y;
            continue;
        }
        float h, s, v;
        rgb_to_hsv(px[0], px[1], px[2], h, s, v);
        s = s * factor;
        if (s > 1.0f) s = 1.0f;
        int r, g, b;
        hsv_to_rgb(h, s, v, r, g, b);
        px[0] = clamp_byte(r);
        px[1] = clamp_byte(g);
        px[2] = clamp_byte(b);
    }
    return 1;
}

// degrees, any int; positive turns red towards yellow and green.
int op_hue(Image &img, int degrees, Impl) {
    // The first remainder lies in -359..359, so no int overflows, INT_MIN included.
    const int deg = ((degrees % 360) + 360) % 360;
    if (deg == 0) return 1;

    const float shift = static_cast<float>(deg) / 360.0f;
    unsigned char *px = img.pixels;
    for (uint64_t i = 0, n = pixel_count(img); i < n; ++i, px += 4) {
        float h, s, v;
        rgb_to_hsv(px[0], px[1], px[2], h, s, v);
        if (s <= 0.0f) continue;  // greys have no hue to turn
        h = fmodf(h + shift, 1.0f);
        if (h < 0.0f) h = h + 1.0f;
        int r, g, b;
        hsv_to_rgb(h, s, v, r, g, b);
        px[0] = clamp_byte(r);
        px[1] = clamp_byte(g);
        px[2] = clamp_byte(b);
    }
    return 1;
}

static int wrap_saturation(Image *img, int value, int, int, int, int, int, int, float) {
    return op_saturation(*img, value);
}

static int wrap_hue(Image *img, int degrees, int, int, int, int, int, int, float) {
    return op_hue(*img, degrees);
}

}  // namespace velmora

using namespace velmora;

extern "C" {

VELMORA_API int velmora_saturation(const char *input_path, const char *output_path, int value) {
    if (!input_path || !output_path) return fail("saturation: NULL input/output");
    return run_op(input_path, output_path, "saturation", wrap_saturation, value, 0, 0, 0, 0, 0,
                  0, 0.0f);
}

VELMORA_API int velmora_hue(const char *input_path, const char *output_path, int degrees) {
    if (!input_path || !output_path) return fail("hue: NULL input/output");
    return run_op(input_path, output_path, "hue", wrap_hue, degrees, 0, 0, 0, 0, 0, 0, 0.0f);
}
}
