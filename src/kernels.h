// The adjustments' kernels with typed parameters: what each export runs on the
// decoded image. Each one checks its parameters first (0 and a message when
// one is refused), then changes R, G and B in place. Internal: for the
// exports, the unit tests and the benchmarks; nothing here is exported.
#ifndef VELMORA_KERNELS_H
#define VELMORA_KERNELS_H

#include "frame.h"

namespace velmora {

// Which pixel pass a kernel runs. The scalar passes are the plain statement
// of the arithmetic and stay as the reference that the fast ones are tested
// against bit for bit; a build with VELMORA_SCALAR_KERNELS gives them to the
// exports as well.
enum class Impl { scalar, fast };

#if defined(VELMORA_SCALAR_KERNELS)
constexpr Impl kDefaultImpl = Impl::scalar;
#else
constexpr Impl kDefaultImpl = Impl::fast;
#endif

// ---- the table pass ---------------------------------------------------------

// New R, G and B values indexed by the old ones, for adjustments whose result
// for a channel depends only on that channel's old value.
struct ChannelTables {
    unsigned char red[256], green[256], blue[256];
};

// Maps R, G and B of every pixel through the tables in one pass; A keeps its value.
void apply_tables(Image &img, const ChannelTables &tables);

// The table pass with one table for all three channels, built from `level`,
// the new value of one old level.
template <class Level>
void apply_level_formula(Image &img, Level level) {
    ChannelTables t;
    for (int v = 0; v < 256; ++v) t.red[v] = t.green[v] = t.blue[v] = level(v);
    apply_tables(img, t);
}

// One 256-entry table (entries 0..255) for R, G and B: the table pass, or the
// plain per-pixel look-up kept as the reference.
inline int apply_shared_table(Image &img, const int (&table)[256], Impl impl) {
    if (impl == Impl::fast) {
        apply_level_formula(img, [&](int v) { return static_cast<unsigned char>(table[v]); });
        return 1;
    }
    unsigned char *px = img.pixels;
    for (uint64_t i = 0, n = pixel_count(img); i < n; ++i, px += 4) {
        px[0] = static_cast<unsigned char>(table[px[0]]);
        px[1] = static_cast<unsigned char>(table[px[1]]);
        px[2] = static_cast<unsigned char>(table[px[2]]);
    }
    return 1;
}

// ---- fixed mappings ---------------------------------------------------------

int op_grayscale(Image &img, Impl impl = kDefaultImpl);
int op_sepia(Image &img, Impl impl = kDefaultImpl);
int op_invert(Image &img, Impl impl = kDefaultImpl);

// ---- tone -------------------------------------------------------------------

int op_brightness(Image &img, int value, Impl impl = kDefaultImpl);
int op_contrast(Image &img, int value, Impl impl = kDefaultImpl);
int op_gamma(Image &img, float gamma, Impl impl = kDefaultImpl);
int op_levels(Image &img, int black_point, int white_point, float gamma, Impl impl = kDefaultImpl);
int op_auto_levels(Image &img, Impl impl = kDefaultImpl);

// The curve arguments, already checked for null arrays, count and mode.
struct CurveSpec {
    int count;
    const int *xs;
    const int *ys;
    int per_channel;  // 0: one curve for R, G and B; 3: three curves in a row
};
int op_curves(Image &img, const CurveSpec &args, Impl impl = kDefaultImpl);

int op_vignette(Image &img, int strength, int radius, Impl impl = kDefaultImpl);

// ---- colour -----------------------------------------------------------------

int op_saturation(Image &img, int value, Impl impl = kDefaultImpl);
int op_hue(Image &img, int degrees, Impl impl = kDefaultImpl);
int op_replace(Image &img, int src_r, int src_g, int src_b, int dst_r, int dst_g, int dst_b,
               int tolerance, Impl impl = kDefaultImpl);
int op_colorize(Image &img, int r, int g, int b, int intensity, Impl impl = kDefaultImpl);
int op_white_balance(Image &img, int temperature, Impl impl = kDefaultImpl);

// Shift values, in argument order: shadows r g b, midtones r g b, highlights r g b.
struct Balance {
    int shadows[3], midtones[3], highlights[3];
};
int op_color_balance(Image &img, const Balance &bal, Impl impl = kDefaultImpl);

struct Selection {
    int target_hue;  // degrees, any int
    int sat_min;     // percent, 0..100
    int hue_range;   // degrees, 1..180
    int adjust[6];   // r1, r2, g1, g2, b1, b2: -100..100 each
};
int op_selective(Image &img, const Selection &sel, Impl impl = kDefaultImpl);

}  // namespace velmora

#endif
