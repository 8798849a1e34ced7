// Brightness, contrast and gamma: each channel value on its own, one parameter.
// Contrast and gamma work in 32-bit floats, every step rounded before the
// next; only the power of gamma is taken in double precision.
#include <cmath>

#include "kernels.h"

namespace velmora {

static inline unsigned char clamp_byte(int v) {
    return static_cast<unsigned char>(v > 255 ? 255 : v < 0 ? 0 : v);
}

static inline unsigned char brightness_level(int c, int offset) { return clamp_byte(c + offset); }

int op_brightness(Image &img, int value, Impl impl) {
    if (value < -100 || value > 100)
        return fail("brightness: value %d out of range -100..+100", value);
    // Truncated, never rounded: +1 is +2, +50 is +127, +100 is +255.
    const int offset = value * 255 / 100;
    if (impl == Impl::fast) {
        apply_level_formula(img, [=](int v) { return brightness_level(v, offset); });
        return 1;
    }
    unsigned char *p = img.pixels;
    for (uint64_t i = 0, n = pixel_count(img); i < n; ++i, p += 4) {
        p[0] = brightness_level(p[0], offset);
        p[1] = brightness_level(p[1], offset);
        p[2] = brightness_level(p[2], offset);
    }
    return 1;
}

static inline unsigned char contrast_level(int c, float factor) {
    float x = static_cast<float>(c) - 128.0f;
    x = x * factor;
    x = x + 128.0f;
    x = x + 0.5f;
    return clamp_byte(static_cast<int>(x));
}

int op_contrast(Image &img, int value, Impl impl) {
    if (value < -100 || value > 100)
        return fail("contrast: value %d out of range -100..+100", value);
    // A true division: multiplying by 0.01f would round differently.
    const float factor = static_cast<float>(value + 100) / 100.0f;
    if (impl == Impl::fast) {
        apply_level_formula(img, [=](int v) { return contrast_level(v, factor); });
        return 1;
    }
    unsigned char *p = img.pixels;
    for (uint64_t i = 0, n = pixel_count(img); i < n; ++i, p += 4) {
        p[0] = contrast_level(p[0], factor);
        p[1] = contrast_level(p[1], factor);
        p[2] = contrast_level(p[2], factor);
    }
    return 1;
}

int op_gamma(Image &img, float gamma, Impl impl) {
    // Written as negated comparisons so that a NaN is refused too.
    if (!(gamma >= 0.1f) || !(gamma <= 5.0f))
        return fail("gamma: %g out of range 0.1..5.0", printable(gamma));
    const double e = static_cast<double>(1.0f / gamma);
    int table[256];
    for (int i = 0; i < 256; ++i) {
        const float x = static_cast<float>(i) / 255.0f;
        const float p = static_cast<float>(std::pow(static_cast<double>(x), e));
        table[i] = static_cast<int>(p * 255.0f + 0.5f);  // 0..255 for every accepted gamma
    }
    return apply_shared_table(img, table, impl);
}

static int wrap_brightness(Image *img, int value, int, int, int, int, int, int, float) {
    return op_brightness(*img, value);
}

static int wrap_contrast(Image *img, int value, int, int, int, int, int, int, float) {
    return op_contrast(*img, value);
}

static int wrap_gamma(Image *img, int, int, int, int, int, int, int, float gamma) {
    return op_gamma(*img, gamma);
}

}  // namespace velmora

using namespace velmora;

extern "C" {

VELMORA_API int velmora_brightness(const char *input_path, const char *output_path, int value) {
    if (!input_path || !output_path) return fail("brightness: NULL input/output");
    return run_op(input_path, output_path, "brightness", wrap_brightness, value, 0, 0, 0, 0, 0,
                  0, 0.0f);
}

VELMORA_API int velmora_contrast(const char *input_path, const char *output_path, int value) {
    if (!input_path || !output_path) return fail("contrast: NULL input/output");
    return run_op(input_path, output_path, "contrast", wrap_contrast, value, 0, 0, 0, 0, 0, 0,
                  0.0f);
}

VELMORA_API int velmora_gamma(const char *input_path, const char *output_path, float gamma) {
    if (!input_path || !output_path) return fail("gamma: NULL input/output");
    return run_op(input_path, output_path, "gamma", wrap_gamma, 0, 0, 0, 0, 0, 0, 0, gamma);
}
}
