// The kernels of the list's adjustments, by name, each made ready from a
// block of values as the list gives them: what the kernel comparison tests
// and the benchmarks run on pictures in memory, and the command's chains on
// its files. A test checks that it names every
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
    // The kernel made ready for a picture of a size, from the list's values;
    // null after fail() when a value is refused.
    BandKernelPtr (*prepare)(int width, int height, const velmora_list::Values &values, Isa isa);
    // For the one adjustment that must see the whole picture first (auto
    // levels), in place of `prepare`.
    BandKernelPtr (*prepare_whole)(const Image &img, Isa isa);

    // The adjustment on a whole picture in memory: 1, or 0 after fail().
    int run(Image &img, const velmora_list::Values &values, Isa isa) const {
        const BandKernelPtr kernel =
            prepare ? prepare(img.width, img.height, values, isa) : prepare_whole(img, isa);
        if (!kernel) return 0;
        kernel->run_rows(img.pixels, static_cast<size_t>(img.width) * 4, img.width, 0, img.height);
        return 1;
    }
};

namespace kernel_table_detail {
inline int i(const velmora_list::Values &a, int k) { return static_cast<int>(a.v[k]); }
inline float f(const velmora_list::Values &a, int k) { return static_cast<float>(a.v[k]); }
}  // namespace kernel_table_detail

inline const KernelEntry kKernels[] = {
    {"grayscale",
     [](int w, int h, const velmora_list::Values &, Isa p) { return prepare_grayscale(w, h, p); },
     nullptr},
    {"sepia",
     [](int w, int h, const velmora_list::Values &, Isa p) { return prepare_sepia(w, h, p); },
     nullptr},
    {"invert",
     [](int w, int h, const velmora_list::Values &, Isa p) { return prepare_invert(w, h, p); },
     nullptr},
    {"brightness",
     [](int w, int h, const velmora_list::Values &a, Isa p) {
         return prepare_brightness(w, h, kernel_table_detail::i(a, 0), p);
     }, nullptr},
    {"contrast",
     [](int w, int h, const velmora_list::Values &a, Isa p) {
         return prepare_contrast(w, h, kernel_table_detail::i(a, 0), p);
     }, nullptr},
    {"gamma",
     [](int w, int h, const velmora_list::Values &a, Isa p) {
         return prepare_gamma(w, h, kernel_table_detail::f(a, 0), p);
     }, nullptr},
    {"levels",
     [](int w, int h, const velmora_list::Values &a, Isa p) {
         using namespace kernel_table_detail;
         return prepare_levels(w, h, i(a, 0), i(a, 1), f(a, 2), p);
     }, nullptr},
    {"auto_levels", nullptr,
     [](const Image &m, Isa p) { return prepare_auto_levels(m, p); }},
    {"curves",
     [](int w, int h, const velmora_list::Values &a, Isa p) {
         using namespace kernel_table_detail;
         return prepare_curves(w, h, CurveSpec{i(a, 0), a.xs, a.ys, i(a, 3)}, p);
     }, nullptr},
    {"vignette",
     [](int w, int h, const velmora_list::Values &a, Isa p) {
         using namespace kernel_table_detail;
         return prepare_vignette(w, h, i(a, 0), i(a, 1), p);
     }, nullptr},
    {"saturation",
     [](int w, int h, const velmora_list::Values &a, Isa p) {
         return prepare_saturation(w, h, kernel_table_detail::i(a, 0), p);
     }, nullptr},
    {"hue",
     [](int w, int h, const velmora_list::Values &a, Isa p) {
         return prepare_hue(w, h, kernel_table_detail::i(a, 0), p);
     }, nullptr},
    {"replace",
     [](int w, int h, const velmora_list::Values &a, Isa p) {
         using namespace kernel_table_detail;
         return prepare_replace(
             w, h, Replacement{{i(a, 0), i(a, 1), i(a, 2)}, {i(a, 3), i(a, 4), i(a, 5)}, i(a, 6)},
             p);
     }, nullptr},
    {"colorize",
     [](int w, int h, const velmora_list::Values &a, Isa p) {
         using namespace kernel_table_detail;
         return prepare_colorize(w, h, i(a, 0), i(a, 1), i(a, 2), i(a, 3), p);
     }, nullptr},
    {"white_balance",
     [](int w, int h, const velmora_list::Values &a, Isa p) {
         return prepare_white_balance(w, h, kernel_table_detail::i(a, 0), p);
     }, nullptr},
    {"color_balance",
     [](int w, int h, const velmora_list::Values &a, Isa p) {
         using namespace kernel_table_detail;
         return prepare_color_balance(w, h,
                                      Balance{{i(a, 0), i(a, 1), i(a, 2)},
                                              {i(a, 3), i(a, 4), i(a, 5)},
                                              {i(a, 6), i(a, 7), i(a, 8)}},
                                      p);
     }, nullptr},
    {"selective",
     [](int w, int h, const velmora_list::Values &a, Isa p) {
         using namespace kernel_table_detail;
         return prepare_selective(
             w, h,
             Selection{i(a, 0), i(a, 1), i(a, 2),
                       {i(a, 3), i(a, 4), i(a, 5), i(a, 6), i(a, 7), i(a, 8)}},
             p);
     }, nullptr},
};

}  // namespace velmora

#endif
