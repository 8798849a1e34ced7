// The kernels of the list's adjustments, by name, each run from a block of
// values as the list gives them: what the kernel comparison tests and the
// benchmarks run on pictures in memory. A test checks that it names every
// adjustment of the list, in the list's order. Internal; header-only.
#ifndef VELMORA_KERNEL_TABLE_H
#define VELMORA_KERNEL_TABLE_H

#include "adjustments.h"
#include "kernels.h"

namespace velmora {

// What velmora_curves checks before the input is touched: the arrays, the
// point count and the mode (the points themselves are the kernel's to check).
inline int check_curve_arguments(const int *xs, const int *ys, int count, int per_channel) {
    if (!xs || !ys) return fail("curves: NULL curve points");
    if (count < 2 || count > kMaxCurvePoints)
        return fail("curves: need 2..%d control points, got %d", kMaxCurvePoints, count);
    if (per_channel != 0 && per_channel != 3)
        return fail("curves: per_channel must be 0 (shared) or 3 (RGB)");
    return 1;
}

struct KernelEntry {
    const char *name;
    int (*run)(Image &img, const velmora_list::Values &values, Isa isa);
};

namespace kernel_table_detail {
inline int i(const velmora_list::Values &a, int k) { return static_cast<int>(a.v[k]); }
inline float f(const velmora_list::Values &a, int k) { return static_cast<float>(a.v[k]); }
}  // namespace kernel_table_detail

inline const KernelEntry kKernels[] = {
    {"grayscale", [](Image &m, const velmora_list::Values &, Isa p) { return op_grayscale(m, p); }},
    {"sepia", [](Image &m, const velmora_list::Values &, Isa p) { return op_sepia(m, p); }},
    {"invert", [](Image &m, const velmora_list::Values &, Isa p) { return op_invert(m, p); }},
    {"brightness",
     [](Image &m, const velmora_list::Values &a, Isa p) {
         return op_brightness(m, kernel_table_detail::i(a, 0), p);
     }},
    {"contrast",
     [](Image &m, const velmora_list::Values &a, Isa p) {
         return op_contrast(m, kernel_table_detail::i(a, 0), p);
     }},
    {"gamma",
     [](Image &m, const velmora_list::Values &a, Isa p) {
         return op_gamma(m, kernel_table_detail::f(a, 0), p);
     }},
    {"levels",
     [](Image &m, const velmora_list::Values &a, Isa p) {
         using namespace kernel_table_detail;
         return op_levels(m, i(a, 0), i(a, 1), f(a, 2), p);
     }},
    {"auto_levels",
     [](Image &m, const velmora_list::Values &, Isa p) { return op_auto_levels(m, p); }},
    {"curves",
     [](Image &m, const velmora_list::Values &a, Isa p) {
         using namespace kernel_table_detail;
         return op_curves(m, CurveSpec{i(a, 0), a.xs, a.ys, i(a, 3)}, p);
     }},
    {"vignette",
     [](Image &m, const velmora_list::Values &a, Isa p) {
         using namespace kernel_table_detail;
         return op_vignette(m, i(a, 0), i(a, 1), p);
     }},
    {"saturation",
     [](Image &m, const velmora_list::Values &a, Isa p) {
         return op_saturation(m, kernel_table_detail::i(a, 0), p);
     }},
    {"hue",
     [](Image &m, const velmora_list::Values &a, Isa p) {
         return op_hue(m, kernel_table_detail::i(a, 0), p);
     }},
    {"replace",
     [](Image &m, const velmora_list::Values &a, Isa p) {
         using namespace kernel_table_detail;
         return op_replace(m, Replacement{{i(a, 0), i(a, 1), i(a, 2)}, {i(a, 3), i(a, 4), i(a, 5)}, i(a, 6)},
                           p);
     }},
    {"colorize",
     [](Image &m, const velmora_list::Values &a, Isa p) {
         using namespace kernel_table_detail;
         return op_colorize(m, i(a, 0), i(a, 1), i(a, 2), i(a, 3), p);
     }},
    {"white_balance",
     [](Image &m, const velmora_list::Values &a, Isa p) {
         return op_white_balance(m, kernel_table_detail::i(a, 0), p);
     }},
    {"color_balance",
     [](Image &m, const velmora_list::Values &a, Isa p) {
         using namespace kernel_table_detail;
         return op_color_balance(m,
                                 Balance{{i(a, 0), i(a, 1), i(a, 2)},
                                         {i(a, 3), i(a, 4), i(a, 5)},
                                         {i(a, 6), i(a, 7), i(a, 8)}},
                                 p);
     }},
    {"selective",
     [](Image &m, const velmora_list::Values &a, Isa p) {
         using namespace kernel_table_detail;
         return op_selective(
             m, Selection{i(a, 0), i(a, 1), i(a, 2), {i(a, 3), i(a, 4), i(a, 5), i(a, 6), i(a, 7), i(a, 8)}},
             p);
     }},
};

}  // namespace velmora

#endif
