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

int op_grayscale(Image &img, Impl impl = default_impl());
int op_sepia(Image &img, Impl impl = default_impl());
int op_invert(Image &img, Impl impl = default_impl());

// ---- tone -------------------------------------------------------------------

int op_brightness(Image &img, int value, Impl impl = default_impl());
int op_contrast(Image &img, int value, Impl impl = default_impl());
int op_gamma(Image &img, float gamma, Impl impl = default_impl());
int op_levels(Image &img, int black_point, int white_point, float gamma,
              Impl impl = default_impl());
int op_auto_levels(Image &img, Impl impl = default_impl());

// The curve arguments, already checked for null arrays, count and mode.
struct CurveSpec {
    int count;
    const int *xs;
    const int *ys;
    int per_channel;  // 0: one curve for R, G and B; 3: three curves in a row
};
int op_curves(Image &img, const CurveSpec &args, Impl impl = default_impl());

int op_vignette(Image &img, int strength, int radius, Impl impl = default_impl());

// ---- colour -----------------------------------------------------------------

int op_saturation(Image &img, int value, Impl impl = default_impl());
int op_hue(Image &img, int degrees, Impl impl = default_impl());
int op_replace(Image &img, int src_r, int src_g, int src_b, int dst_r, int dst_g, int dst_b,
               int tolerance, Impl impl = default_impl());
int op_colorize(Image &img, int r, int g, int b, int intensity, Impl impl = default_impl());
int op_white_balance(Image &img, int temperature, Impl impl = default_impl());

// Shift values, in argument order: shadows r g b, midtones r g b, highlights r g b.
struct Balance {
    int shadows[3], midtones[3], highlights[3];
};
int op_color_balance(Image &img, const Balance &bal, Impl impl = default_impl());

struct Selection {
    int target_hue;  // degrees, any int
    int sat_min;     // percent, 0..100
    int hue_range;   // degrees, 1..180
    int adjust[6];   // r1, r2, g1, g2, b1, b2: -100..100 each
};
int op_selective(Image &img, const Selection &sel, Impl impl = default_impl());

}  // namespace velmora

#endif
