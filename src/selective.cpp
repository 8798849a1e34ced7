// Selective colour: shift the channels only in pixels whose hue lies near a
// target hue and whose saturation reaches a floor, feathered by how far the
// saturation lies above that floor.
#include "kernels.h"
#include "hsv.h"

namespace velmora {

namespace {

// Weight of a selected pixel: 0 at the floor, 1 at full saturation.
float feather(float s, int sat_min) {
    if (sat_min == 0) return 1.0f;
    const float f = static_cast<float>(sat_min) / 100.0f;
    const float above = s - f;
    const float span = 1.0f - f;
    if (span <= 0.0f) {
        // Floor 100%: the ratio has no room. Below full saturation it is -inf
        // (weight 0); at exactly 1 it is 0/0, and the limit of the ramp there is 1.
        return above < 0.0f ? 0.0f : 1.0f;
    }
    float w = above / span;
    if (w < 0.0f) w = 0.0f;
    if (w > 1.0f) w = 1.0f;
    return w;
}

// The shift rounded half away from zero.
int rounded_shift(float shift) {
    return static_cast<int>(shift >= 0.0f ? shift + 0.5f : shift + -0.5f);
}

}  // namespace

int op_selective(Image &img, const Selection &sel, Impl) {
    for (int a : sel.adjust)
        if (a < -100 || a > 100) return fail("selective: adjustments must be in -100..100");
    if (sel.hue_range < 1 || sel.hue_range > 180)
        return fail("selective: hue_range must be 1..180");
    if (sel.sat_min < 0 || sel.sat_min > 100) return fail("selective: sat_min must be 0..100");

    // The first remainder lies in -359..359, so no int overflows, INT_MIN included.
    const int target = ((sel.target_hue % 360) + 360) % 360;
    float full[3];  // each channel's shift at weight 1
    for (int c = 0; c < 3; ++c)
        full[c] = static_cast<float>(sel.adjust[2 * c] + sel.adjust[2 * c + 1]) * 2.55f;

    unsigned char *px = img.pixels;
    for (uint64_t i = 0, n = pixel_count(img); i < n; ++i, px += 4) {
        float h, s, v;
        rgb_to_hsv(px[0], px[1], px[2], h, s, v);

        const int hue_deg = static_cast<int>(h * 360.0f + 0.5f);  // 0..360
        int d = hue_deg > target ? hue_deg - target : target - hue_deg;
        if (d > 180) d = 360 - d;
        if (d > sel.hue_range) continue;

        const int sat_pct = static_cast<int>(s * 100.0f + 0.5f);
        if (sat_pct < sel.sat_min) continue;

        const float w = feather(s, sel.sat_min);
        for (int c = 0; c < 3; ++c) px[c] = clamp_byte(px[c] + rounded_shift(full[c] * w));
    }
    return 1;
}

}  // namespace velmora

using namespace velmora;

extern "C" {

VELMORA_API int velmora_selective(const char *input_path, const char *output_path,
                                  int target_hue, int sat_min, int hue_range, int adj_r1,
                                  int adj_r2, int adj_g1, int adj_g2, int adj_b1, int adj_b2) {
    if (!input_path || !output_path) return fail("selective: NULL input/output");
    const Selection sel{target_hue, sat_min, hue_range,
                        {adj_r1, adj_r2, adj_g1, adj_g2, adj_b1, adj_b2}};
    return run_inline("selective", input_path, output_path,
                      [&](Image &img) { return op_selective(img, sel); });
}
}
