// The adjustments' kernels with typed parameters: what each export runs on the
// decoded image. Each one checks its parameters first (0 and a message when
// one is refused), then changes R, G and B in place. Internal: for the
// exports, the unit tests and the benchmarks; nothing here is exported.
#ifndef VELMORA_KERNELS_H
#define VELMORA_KERNELS_H

#include "image.h"
#include "kernel_helpers.h"

namespace velmora {

// ---- colour mappings ---------------------------------------------------------

int op_grayscale(Image &img, Isa isa = Isa::best);
int op_sepia(Image &img, Isa isa = Isa::best);
int op_invert(Image &img, Isa isa = Isa::best);

// ---- tone -------------------------------------------------------------------

int op_brightness(Image &img, int value, Isa isa = Isa::best);
int op_contrast(Image &img, int value, Isa isa = Isa::best);
int op_gamma(Image &img, float gamma, Isa isa = Isa::best);
int op_levels(Image &img, int black_point, int white_point, float gamma,
              Isa isa = Isa::best);
int op_auto_levels(Image &img, Isa isa = Isa::best);

// The most control points a curve takes.
constexpr int kMaxCurvePoints = 64;

// The curve arguments, already checked for null arrays, count and mode.
struct CurveSpec {
    int count;
    const int *xs;
    const int *ys;
    int per_channel;  // 0: one curve for R, G and B; 3: three curves in a row
};
int op_curves(Image &img, const CurveSpec &args, Isa isa = Isa::best);

int op_vignette(Image &img, int strength, int radius, Isa isa = Isa::best);

// ---- colour -----------------------------------------------------------------

int op_saturation(Image &img, int value, Isa isa = Isa::best);
int op_hue(Image &img, int degrees, Isa isa = Isa::best);
// A colour to look for, the colour that matches take, and how far a match
// may lie (city-block distance).
struct Replacement {
    int from[3];  // R, G, B, 0..255 each
    int to[3];    // R, G, B, 0..255 each
    int tolerance;  // 0..255
};
int op_replace(Image &img, const Replacement &rep, Isa isa = Isa::best);
int op_colorize(Image &img, int r, int g, int b, int intensity, Isa isa = Isa::best);
int op_white_balance(Image &img, int temperature, Isa isa = Isa::best);

// Shift values, in argument order: shadows r g b, midtones r g b, highlights r g b.
struct Balance {
    int shadows[3], midtones[3], highlights[3];
};
int op_color_balance(Image &img, const Balance &bal, Isa isa = Isa::best);

struct Selection {
    int target_hue;  // degrees, any int
    int sat_min;     // percent, 0..100
    int hue_range;   // degrees, 1..180
    int adjust[6];   // r1, r2, g1, g2, b1, b2: -100..100 each
};
int op_selective(Image &img, const Selection &sel, Isa isa = Isa::best);

}  // namespace velmora

#endif
