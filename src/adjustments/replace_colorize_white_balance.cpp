// Replace a colour, colorize towards a colour, and white balance (warm or
// cool): channel arithmetic without the HSV model.
#include "kernels.h"
#include "vector_passes.h"

namespace velmora {

static bool is_channel(int value) { return value >= 0 && value <= 255; }

static int distance(int a, int b) { return a > b ? a - b : b - a; }

BandKernelPtr prepare_replace(int, int, const Replacement &rep, Isa isa) {
    for (int c = 0; c < 3; ++c)
        if (!is_channel(rep.from[c]) || !is_channel(rep.to[c]))
            return refused(fail("replace: color components must be 0..255"));
    if (rep.tolerance < 0 || rep.tolerance > 255)
        return refused(fail("replace: tolerance %d out of range 0..255", rep.tolerance));

    const ReplacePass pass{{rep.from[0], rep.from[1], rep.from[2]},
                           static_cast<uint32_t>(rep.to[0]) | static_cast<uint32_t>(rep.to[1]) << 8 |
                               static_cast<uint32_t>(rep.to[2]) << 16,
                           rep.tolerance};
    const Isa run = resolve(isa);
    return make_kernel("replace", [pass, run](unsigned char *p, int count, int, int) {
        for_pixels(p, static_cast<uint64_t>(count), run, kReplace, pass,
                   [&](unsigned char *px, uint64_t) {
                       // City-block distance, 0..765; a match takes the target whole.
                       const int d = distance(px[0], pass.from[0]) + distance(px[1], pass.from[1]) +
                                     distance(px[2], pass.from[2]);
                       if (d <= pass.tolerance)
                           for (int c = 0; c < 3; ++c)
                               px[c] = static_cast<unsigned char>(pass.to >> (8 * c));
                   });
    });
}

BandKernelPtr prepare_colorize(int, int, int r, int g, int b, int intensity, Isa isa) {
    if (!is_channel(r) || !is_channel(g) || !is_channel(b))
        return refused(fail("colorize: color components must be 0..255"));
    if (intensity < 0 || intensity > 100)
        return refused(fail("colorize: intensity %d out of range 0..100", intensity));

    // c * (1 - a) + component * a, with the second product formed once.
    const float a = static_cast<float>(intensity) / 100.0f;
    const float k = 1.0f - a;
    const float add[3] = {static_cast<float>(r) * a, static_cast<float>(g) * a,
                          static_cast<float>(b) * a};
    // The same steps for the vector passes: v + 0 is v for every level.
    const AffinePass affine{{0.0f, 0.0f, 0.0f}, {k, k, k}, {add[0], add[1], add[2]}};
    return prepare_channels(
        "colorize", isa,
        [k, add](int c, int v) { return round_clamp(static_cast<float>(v) * k + add[c]); },
        &affine);
}

BandKernelPtr prepare_white_balance(int, int, int temperature, Isa isa) {
    if (temperature < -50 || temperature > 50)
        return refused(fail("white_balance: temperature %d out of range -50..+50", temperature));
    if (temperature == 0) return unchanged_kernel("white_balance");

    const float x = static_cast<float>(temperature) * 0.04f;
    const float factor[3] = {1.0f + x, 1.0f, 1.0f - x};
    // The same for the vector passes: adding 0 changes no product's rounded
    // level (it only turns -0 into 0), and green times 1 is green.
    const AffinePass affine{{0.0f, 0.0f, 0.0f}, {factor[0], 1.0f, factor[2]}, {0.0f, 0.0f, 0.0f}};
    return prepare_channels(
        "white_balance", isa,
        [factor](int c, int v) {
            // Green keeps its value.
            return c == 1 ? v : round_clamp(static_cast<float>(v) * factor[c]);
        },
        &affine);
}

int op_replace(Image &img, const Replacement &rep, Isa isa) {
    return run_whole(img, prepare_replace(img.width, img.height, rep, isa));
}

int op_colorize(Image &img, int r, int g, int b, int intensity, Isa isa) {
    return run_whole(img, prepare_colorize(img.width, img.height, r, g, b, intensity, isa));
}

int op_white_balance(Image &img, int temperature, Isa isa) {
    return run_whole(img, prepare_white_balance(img.width, img.height, temperature, isa));
}

}  // namespace velmora
