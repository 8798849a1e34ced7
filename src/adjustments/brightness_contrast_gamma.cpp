// Brightness, contrast and gamma: each channel value on its own, one parameter.
// Contrast and gamma work in 32-bit floats, every step rounded before the
// next; only the power of gamma is taken in double precision.
#include <cmath>

#include "kernels.h"
#include "vector_passes.h"

namespace velmora {

BandKernelPtr prepare_brightness(int, int, int value, Isa isa) {
    if (value < -100 || value > 100)
        return refused(fail("brightness: value %d out of range -100..+100", value));
    // Truncated, never rounded: +1 is +2, +50 is +127, +100 is +255.
    const int offset = value * 255 / 100;
    return prepare_channels("brightness", isa, [=](int, int v) { return clamp_byte(v + offset); });
}

BandKernelPtr prepare_contrast(int, int, int value, Isa isa) {
    if (value < -100 || value > 100)
        return refused(fail("contrast: value %d out of range -100..+100", value));
    // A true division: multiplying by 0.01f would round differently.
    const float factor = static_cast<float>(value + 100) / 100.0f;
    // The same steps for the vector passes: v + -128 is v - 128 exactly.
    const AffinePass affine{{-128.0f, -128.0f, -128.0f}, {factor, factor, factor},
                            {128.0f, 128.0f, 128.0f}};
    return prepare_channels(
        "contrast", isa,
        [=](int, int v) {
            float x = static_cast<float>(v) - 128.0f;
            x = x * factor;
            x = x + 128.0f;
            return round_clamp(x);
        },
        &affine);
}

BandKernelPtr prepare_gamma(int, int, float gamma, Isa isa) {
    // Written as negated comparisons so that a NaN is refused too.
    if (!(gamma >= 0.1f) || !(gamma <= 5.0f))
        return refused(fail("gamma: %g out of range 0.1..5.0", printable(gamma)));
    const double e = static_cast<double>(1.0f / gamma);
    SharedTable table;
    for (int i = 0; i < 256; ++i) {
        const float x = static_cast<float>(i) / 255.0f;
        const float p = static_cast<float>(std::pow(static_cast<double>(x), e));
        table.level[i] = static_cast<int>(p * 255.0f + 0.5f);  // 0..255 for every accepted gamma
    }
    return prepare_channels("gamma", isa, table);
}

int op_brightness(Image &img, int value, Isa isa) {
    return run_whole(img, prepare_brightness(img.width, img.height, value, isa));
}

int op_contrast(Image &img, int value, Isa isa) {
    return run_whole(img, prepare_contrast(img.width, img.height, value, isa));
}

int op_gamma(Image &img, float gamma, Isa isa) {
    return run_whole(img, prepare_gamma(img.width, img.height, gamma, isa));
}

}  // namespace velmora
