// Replace a colour, colorize towards a colour, and white balance (warm or
// cool): channel arithmetic without the HSV model.
#include "kernels.h"
#include "pipeline.h"

namespace velmora {

static bool is_channel(int value) { return value >= 0 && value <= 255; }

static int distance(int a, int b) { return a > b ? a - b : b - a; }

int op_replace(Image &img, int src_r, int src_g, int src_b, int dst_r, int dst_g, int dst_b,
               int tolerance, Impl) {
    if (!is_channel(src_r) || !is_channel(src_g) || !is_channel(src_b) || !is_channel(dst_r) ||
        !is_channel(dst_g) || !is_channel(dst_b))
        return fail("replace: color components must be 0..255");
    if (tolerance < 0 || tolerance > 255)
        return fail("replace: tolerance %d out of range 0..255", tolerance);

    const unsigned char to_r = static_cast<unsigned char>(dst_r);
    const unsigned char to_g = static_cast<unsigned char>(dst_g);
    const unsigned char to_b = static_cast<unsigned char>(dst_b);
    for_each_pixel(img, [&](unsigned char *px) {
        // City-block distance, 0..765; a match takes the target whole.
        const int d = distance(px[0], src_r) + distance(px[1], src_g) + distance(px[2], src_b);
        if (d <= tolerance) {
            px[0] = to_r;
            px[1] = to_g;
            px[2] = to_b;
        }
    });
    return 1;
}

// Slots 1-7: source r, g, b, target r, g, b, tolerance.
static int wrap_replace(Image *img, int src_r, int src_g, int src_b, int dst_r, int dst_g,
                        int dst_b, int tolerance, float) {
    return op_replace(*img, src_r, src_g, src_b, dst_r, dst_g, dst_b, tolerance);
}

int op_colorize(Image &img, int r, int g, int b, int intensity, Impl impl) {
    if (!is_channel(r) || !is_channel(g) || !is_channel(b))
        return fail("colorize: color components must be 0..255");
    if (intensity < 0 || intensity > 100)
        return fail("colorize: intensity %d out of range 0..100", intensity);

    // c * (1 - a) + component * a, with the second product formed once per call.
    const float a = static_cast<float>(intensity) / 100.0f;
    const float k = 1.0f - a;
    const float add[3] = {static_cast<float>(r) * a, static_cast<float>(g) * a,
                          static_cast<float>(b) * a};
    return map_channels(img, impl, [&](int c, int v) {
        return round_clamp(static_cast<float>(v) * k + add[c]);
    });
}

int op_white_balance(Image &img, int temperature, Impl impl) {
    if (temperature < -50 || temperature > 50)
        return fail("white_balance: temperature %d out of range -50..+50", temperature);
    if (temperature == 0) return 1;

    const float x = static_cast<float>(temperature) * 0.04f;
    const float factor[3] = {1.0f + x, 1.0f, 1.0f - x};
    return map_channels(img, impl, [&](int c, int v) {
        // Green keeps its value.
        return c == 1 ? v : round_clamp(static_cast<float>(v) * factor[c]);
    });
}

}  // namespace velmora

using namespace velmora;

extern "C" {

VELMORA_API int velmora_replace(const char *input_path, const char *output_path, int src_r,
                                int src_g, int src_b, int dst_r, int dst_g, int dst_b,
                                int tolerance) {
    return run_op(input_path, output_path, "replace", wrap_replace, src_r, src_g, src_b, dst_r,
                  dst_g, dst_b, tolerance, 0.0f);
}

VELMORA_API int velmora_colorize(const char *input_path, const char *output_path, int r, int g,
                                 int b, int intensity) {
    return run_inline("colorize", input_path, output_path,
                      [&](Image &img) { return op_colorize(img, r, g, b, intensity); });
}

VELMORA_API int velmora_white_balance(const char *input_path, const char *output_path,
                                      int temperature) {
    return run_inline("white_balance", input_path, output_path,
                      [&](Image &img) { return op_white_balance(img, temperature); });
}
}
