// Selective colour: shift the channels only in pixels whose hue lies near a
// target hue and whose saturation reaches a floor, feathered by how far the
// saturation lies above that floor.
#include "hsv.h"
#include "kernels.h"
#include "vector_passes.h"

namespace velmora {

namespace {

// Weight of a selected pixel: 0 at the floor, 1 at full saturation.
float feather(float s, const SelectivePass &pass) {
    if (pass.feather == Feather::none) return 1.0f;
    const float above = s - pass.floor;
    if (pass.feather == Feather::step) {
        // Floor 100%: the ratio has no room. Below full saturation it is -inf
        // (weight 0); at exactly 1 it is 0/0, and the limit of the ramp there is 1.
        return above < 0.0f ? 0.0f : 1.0f;
    }
    float w = above / pass.span;
    if (w < 0.0f) w = 0.0f;
    if (w > 1.0f) w = 1.0f;
    return w;
}

void select_pixel(unsigned char *px, const SelectivePass &pass) {
    float h, s, v;
    rgb_to_hsv(px[0], px[1], px[2], h, s, v);

    const int hue_deg = static_cast<int>(h * 360.0f + 0.5f);  // 0..360
    int d = hue_deg > pass.target ? hue_deg - pass.target : pass.target - hue_deg;
    if (d > 180) d = 360 - d;
    if (d > pass.hue_range) return;

    const int sat_pct = static_cast<int>(s * 100.0f + 0.5f);
    if (sat_pct < pass.sat_min) return;

    const float w = feather(s, pass);
    for (int c = 0; c < 3; ++c) px[c] = clamp_byte(px[c] + round_half_away(pass.full[c] * w));
}

}  // namespace

BandKernelPtr prepare_selective(int, int, const Selection &sel, Isa isa) {
    for (int a : sel.adjust)
        if (a < -100 || a > 100)
            return refused(fail("selective: adjustments must be in -100..100"));
    if (sel.hue_range < 1 || sel.hue_range > 180)
        return refused(fail("selective: hue_range must be 1..180"));
    if (sel.sat_min < 0 || sel.sat_min > 100)
        return refused(fail("selective: sat_min must be 0..100"));

    SelectivePass pass;
    pass.target = wrap_degrees(sel.target_hue);
    pass.sat_min = sel.sat_min;
    pass.hue_range = sel.hue_range;
    for (int c = 0; c < 3; ++c)
        pass.full[c] = static_cast<float>(sel.adjust[2 * c] + sel.adjust[2 * c + 1]) * 2.55f;
    // The feather's branch on the floor, taken once.
    pass.floor = static_cast<float>(sel.sat_min) / 100.0f;
    pass.span = 1.0f - pass.floor;
    pass.feather = sel.sat_min == 0     ? Feather::none
                   : pass.span <= 0.0f ? Feather::step
                                       : Feather::ramp;

    const Isa run = resolve(isa);
    return make_kernel("selective", [pass, run](unsigned char *p, int count, int, int) {
        for_pixels(p, static_cast<uint64_t>(count), run, kSelectColour, pass,
                   [&](unsigned char *px, uint64_t) { select_pixel(px, pass); });
    });
}

int op_selective(Image &img, const Selection &sel, Isa isa) {
    return run_whole(img, prepare_selective(img.width, img.height, sel, isa));
}

}  // namespace velmora
