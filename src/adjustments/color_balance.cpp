// Colour balance: separate red, green and blue shifts for the shadows, the
// midtones and the highlights, each channel weighted by its own level.
#include <initializer_list>

#include "kernels.h"

namespace velmora {

namespace {

struct Tones {
    float shadow, midtone, highlight;
};

// Piecewise-linear weights with 40-level ramps. They overlap and are not
// normalised: their sum runs from 1 to 2.
Tones tonal_weights(int v) {
    Tones w;
    if (v <= 87) w.shadow = 1.0f;
    else if (v <= 126) w.shadow = static_cast<float>(127 - v) / 40.0f;
    else w.shadow = 0.0f;

    if (v <= 63) w.midtone = 0.0f;
    else if (v <= 103) w.midtone = static_cast<float>(v - 64) / 40.0f;
    else if (v <= 191) w.midtone = 1.0f;
    else if (v <= 230) w.midtone = static_cast<float>(231 - v) / 40.0f;
    else w.midtone = 0.0f;

    if (v <= 127) w.highlight = 0.0f;
    else if (v <= 167) w.highlight = static_cast<float>(v - 128) / 40.0f;
    else w.highlight = 1.0f;
    return w;
}

float tonal_sum(const Tones &w, const Balance &bal, int colour) {
    return (w.shadow * static_cast<float>(bal.shadows[colour]) +
            w.midtone * static_cast<float>(bal.midtones[colour])) +
           w.highlight * static_cast<float>(bal.highlights[colour]);
}

// The rounded shift of channel `channel` (0 red, 1 green, 2 blue) at level v.
int channel_shift(int v, int channel, const Balance &bal) {
    const Tones w = tonal_weights(v);
    float t[3];
    for (int c = 0; c < 3; ++c) t[c] = tonal_sum(w, bal, c);
    // Own colour +1, the others -1, always combined as (red + green) + blue:
    // another grouping rounds differently for some parameter sets.
    float signed_t[3];
    for (int c = 0; c < 3; ++c) signed_t[c] = c == channel ? t[c] : -t[c];
    const float d = (signed_t[0] + signed_t[1]) + signed_t[2];
    const float delta = d * 2.55f;
    // The shift alone is rounded, half away from zero.
    return round_half_away(delta);
}

}  // namespace

BandKernelPtr prepare_color_balance(int, int, const Balance &bal, Isa isa) {
    bool all_zero = true;
    for (const int *group : {bal.shadows, bal.midtones, bal.highlights}) {
        for (int c = 0; c < 3; ++c) {
            if (group[c] < -100 || group[c] > 100)
                return refused(fail("color_balance: values must be in -100..100"));
            if (group[c] != 0) all_zero = false;
        }
    }
    if (all_zero) return unchanged_kernel("color_balance");

    return prepare_channels("color_balance", isa,
                            [bal](int c, int v) { return clamp_byte(v + channel_shift(v, c, bal)); });
}

int op_color_balance(Image &img, const Balance &bal, Isa isa) {
    return run_whole(img, prepare_color_balance(img.width, img.height, bal, isa));
}

}  // namespace velmora
