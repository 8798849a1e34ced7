// The adjustments' kernels with typed parameters: what each export runs on the
// decoded image. Each one checks its parameters first (0 and a message when
// one is refused), then changes R, G and B in place. Internal: for the
// exports, the unit tests and the benchmarks; nothing here is exported.
#ifndef VELMORA_KERNELS_H
#define VELMORA_KERNELS_H

#include "frame.h"

namespace velmora {

// ---- fixed mappings ---------------------------------------------------------

int op_grayscale(Image &img);
int op_sepia(Image &img);
int op_invert(Image &img);

// ---- tone -------------------------------------------------------------------

int op_brightness(Image &img, int value);
int op_contrast(Image &img, int value);
int op_gamma(Image &img, float gamma);
int op_levels(Image &img, int black_point, int white_point, float gamma);
int op_auto_levels(Image &img);

// The curve arguments, already checked for null arrays, count and mode.
struct CurveSpec {
    int count;
    const int *xs;
    const int *ys;
    int per_channel;  // 0: one curve for R, G and B; 3: three curves in a row
};
int op_curves(Image &img, const CurveSpec &args);

int op_vignette(Image &img, int strength, int radius);

// ---- colour -----------------------------------------------------------------

int op_saturation(Image &img, int value);
int op_hue(Image &img, int degrees);
int op_replace(Image &img, int src_r, int src_g, int src_b, int dst_r, int dst_g, int dst_b,
               int tolerance);
int op_colorize(Image &img, int r, int g, int b, int intensity);
int op_white_balance(Image &img, int temperature);

// Shift values, in argument order: shadows r g b, midtones r g b, highlights r g b.
struct Balance {
    int shadows[3], midtones[3], highlights[3];
};
int op_color_balance(Image &img, const Balance &bal);

struct Selection {
    int target_hue;  // degrees, any int
    int sat_min;     // percent, 0..100
    int hue_range;   // degrees, 1..180
    int adjust[6];   // r1, r2, g1, g2, b1, b2: -100..100 each
};
int op_selective(Image &img, const Selection &sel);

}  // namespace velmora

#endif
