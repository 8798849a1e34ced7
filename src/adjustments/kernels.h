// The adjustments' kernels with typed parameters: what each export runs on the
// decoded image. Each prepare_X checks its parameters first (null and a
// message when one is refused), then builds its tables and constants once and
// returns a kernel that changes R, G and B of any rows of a picture of that
// size, in any order, several at once if need be. Each op_X is its prepare_X
// run over a whole image (1, or 0 and the message). Internal: for the
// exports, the pipeline, the unit tests and the benchmarks; nothing here is
// exported.
#ifndef VELMORA_KERNELS_H
#define VELMORA_KERNELS_H

#include "band_kernel.h"
#include "image.h"
#include "kernel_helpers.h"

namespace velmora {

// ---- colour mappings ---------------------------------------------------------

BandKernelPtr prepare_grayscale(int width, int height, Isa isa = Isa::best);
BandKernelPtr prepare_sepia(int width, int height, Isa isa = Isa::best);
BandKernelPtr prepare_invert(int width, int height, Isa isa = Isa::best);
int op_grayscale(Image &img, Isa isa = Isa::best);
int op_sepia(Image &img, Isa isa = Isa::best);
int op_invert(Image &img, Isa isa = Isa::best);

// ---- tone -------------------------------------------------------------------

BandKernelPtr prepare_brightness(int width, int height, int value, Isa isa = Isa::best);
BandKernelPtr prepare_contrast(int width, int height, int value, Isa isa = Isa::best);
BandKernelPtr prepare_gamma(int width, int height, float gamma, Isa isa = Isa::best);
BandKernelPtr prepare_levels(int width, int height, int black_point, int white_point, float gamma,
                             Isa isa = Isa::best);
// Auto levels needs the whole picture's darkest and brightest levels first:
// this looks at all of `img` and returns the kernel of the resulting tables.
BandKernelPtr prepare_auto_levels(const Image &img, Isa isa = Isa::best);
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
BandKernelPtr prepare_curves(int width, int height, const CurveSpec &args, Isa isa = Isa::best);
int op_curves(Image &img, const CurveSpec &args, Isa isa = Isa::best);

// Its centre and radius come from width and height; runs need their x and y.
BandKernelPtr prepare_vignette(int width, int height, int strength, int radius,
                               Isa isa = Isa::best);
int op_vignette(Image &img, int strength, int radius, Isa isa = Isa::best);

// ---- colour -----------------------------------------------------------------

BandKernelPtr prepare_saturation(int width, int height, int value, Isa isa = Isa::best);
BandKernelPtr prepare_hue(int width, int height, int degrees, Isa isa = Isa::best);
int op_saturation(Image &img, int value, Isa isa = Isa::best);
int op_hue(Image &img, int degrees, Isa isa = Isa::best);
// A colour to look for, the colour that matches take, and how far a match
// may lie (city-block distance).
struct Replacement {
    int from[3];  // R, G, B, 0..255 each
    int to[3];    // R, G, B, 0..255 each
    int tolerance;  // 0..255
};
BandKernelPtr prepare_replace(int width, int height, const Replacement &rep, Isa isa = Isa::best);
BandKernelPtr prepare_colorize(int width, int height, int r, int g, int b, int intensity,
                               Isa isa = Isa::best);
BandKernelPtr prepare_white_balance(int width, int height, int temperature, Isa isa = Isa::best);
int op_replace(Image &img, const Replacement &rep, Isa isa = Isa::best);
int op_colorize(Image &img, int r, int g, int b, int intensity, Isa isa = Isa::best);
int op_white_balance(Image &img, int temperature, Isa isa = Isa::best);

// Shift values, in argument order: shadows r g b, midtones r g b, highlights r g b.
struct Balance {
    int shadows[3], midtones[3], highlights[3];
};
BandKernelPtr prepare_color_balance(int width, int height, const Balance &bal,
                                    Isa isa = Isa::best);
int op_color_balance(Image &img, const Balance &bal, Isa isa = Isa::best);

struct Selection {
    int target_hue;  // degrees, any int
    int sat_min;     // percent, 0..100
    int hue_range;   // degrees, 1..180
    int adjust[6];   // r1, r2, g1, g2, b1, b2: -100..100 each
};
BandKernelPtr prepare_selective(int width, int height, const Selection &sel, Isa isa = Isa::best);
int op_selective(Image &img, const Selection &sel, Isa isa = Isa::best);

}  // namespace velmora

#endif
