// The twenty exports: the lifecycle calls, and each adjustment as its kernel
// run through the pipeline. Nothing else leaves the library.
#include "kernel_table.h"
#include "kernels.h"
#include "last_error.h"
#include "pipeline.h"
#include "velmora.h"

using namespace velmora;

extern "C" {

// ---- library lifecycle --------------------------------------------------------

VELMORA_API int velmora_init(void) {
    clear_err();
    return 1;
}

VELMORA_API void velmora_cleanup(void) { clear_err(); }

VELMORA_API const char *velmora_last_error(void) { return last_error_text(); }

// ---- colour mappings -----------------------------------------------------------

VELMORA_API int velmora_grayscale(const char *input_path, const char *output_path) {
    return run_adjustment("grayscale", input_path, output_path,
                          band_step([](int width, int height) {
        return prepare_grayscale(width, height);
    }));
}

VELMORA_API int velmora_sepia(const char *input_path, const char *output_path) {
    return run_adjustment("sepia", input_path, output_path,
                          band_step([](int width, int height) {
        return prepare_sepia(width, height);
    }));
}

VELMORA_API int velmora_invert(const char *input_path, const char *output_path) {
    return run_adjustment("invert", input_path, output_path,
                          band_step([](int width, int height) {
        return prepare_invert(width, height);
    }));
}

// ---- tone -----------------------------------------------------------------------

VELMORA_API int velmora_brightness(const char *input_path, const char *output_path, int value) {
    return run_adjustment("brightness", input_path, output_path,
                          band_step([=](int width, int height) {
        return prepare_brightness(width, height, value);
    }));
}

VELMORA_API int velmora_contrast(const char *input_path, const char *output_path, int value) {
    return run_adjustment("contrast", input_path, output_path,
                          band_step([=](int width, int height) {
        return prepare_contrast(width, height, value);
    }));
}

VELMORA_API int velmora_gamma(const char *input_path, const char *output_path, float gamma) {
    return run_adjustment("gamma", input_path, output_path,
                          band_step([=](int width, int height) {
        return prepare_gamma(width, height, gamma);
    }));
}

VELMORA_API int velmora_levels(const char *input_path, const char *output_path, int black_point,
                               int white_point, float gamma) {
    return run_adjustment("levels", input_path, output_path, band_step([=](int width, int height) {
        return prepare_levels(width, height, black_point, white_point, gamma);
    }));
}

VELMORA_API int velmora_auto_levels(const char *input_path, const char *output_path) {
    return run_adjustment("auto_levels", input_path, output_path,
                          whole_picture_step([](Image &img) { return op_auto_levels(img); }));
}

VELMORA_API int velmora_curves(const char *input_path, const char *output_path, int count,
                               const int *xs, const int *ys, int per_channel) {
    // The curve arguments are checked before the input is touched.
    const auto check_arguments = [&] { return check_curve_arguments(xs, ys, count, per_channel); };
    const CurveSpec args{count, xs, ys, per_channel};
    return run_adjustment("curves", input_path, output_path, check_arguments,
                          band_step([&](int width, int height) {
        return prepare_curves(width, height, args);
    }));
}

VELMORA_API int velmora_vignette(const char *input_path, const char *output_path, int strength,
                                 int radius) {
    return run_adjustment("vignette", input_path, output_path,
                          band_step([=](int width, int height) {
        return prepare_vignette(width, height, strength, radius);
    }));
}

// ---- colour -----------------------------------------------------------------------

VELMORA_API int velmora_saturation(const char *input_path, const char *output_path, int value) {
    return run_adjustment("saturation", input_path, output_path,
                          band_step([=](int width, int height) {
        return prepare_saturation(width, height, value);
    }));
}

VELMORA_API int velmora_hue(const char *input_path, const char *output_path, int degrees) {
    return run_adjustment("hue", input_path, output_path,
                          band_step([=](int width, int height) {
        return prepare_hue(width, height, degrees);
    }));
}

VELMORA_API int velmora_replace(const char *input_path, const char *output_path, int src_r,
                                int src_g, int src_b, int dst_r, int dst_g, int dst_b,
                                int tolerance) {
    const Replacement rep{{src_r, src_g, src_b}, {dst_r, dst_g, dst_b}, tolerance};
    return run_adjustment("replace", input_path, output_path,
                          band_step([&](int width, int height) {
        return prepare_replace(width, height, rep);
    }));
}

VELMORA_API int velmora_colorize(const char *input_path, const char *output_path, int r, int g,
                                 int b, int intensity) {
    return run_adjustment("colorize", input_path, output_path,
                          band_step([=](int width, int height) {
        return prepare_colorize(width, height, r, g, b, intensity);
    }));
}

VELMORA_API int velmora_white_balance(const char *input_path, const char *output_path,
                                      int temperature) {
    return run_adjustment("white_balance", input_path, output_path,
                          band_step([=](int width, int height) {
        return prepare_white_balance(width, height, temperature);
    }));
}

VELMORA_API int velmora_color_balance(const char *input_path, const char *output_path,
                                      int shadows_r, int shadows_g, int shadows_b,
                                      int midtones_r, int midtones_g, int midtones_b,
                                      int highlights_r, int highlights_g, int highlights_b) {
    const Balance bal{{shadows_r, shadows_g, shadows_b},
                      {midtones_r, midtones_g, midtones_b},
                      {highlights_r, highlights_g, highlights_b}};
    return run_adjustment("color_balance", input_path, output_path,
                          band_step([&](int width, int height) {
        return prepare_color_balance(width, height, bal);
    }));
}

VELMORA_API int velmora_selective(const char *input_path, const char *output_path,
                                  int target_hue, int sat_min, int hue_range, int adj_r1,
                                  int adj_r2, int adj_g1, int adj_g2, int adj_b1, int adj_b2) {
    const Selection sel{target_hue, sat_min, hue_range,
                        {adj_r1, adj_r2, adj_g1, adj_g2, adj_b1, adj_b2}};
    return run_adjustment("selective", input_path, output_path,
                          band_step([&](int width, int height) {
        return prepare_selective(width, height, sel);
    }));
}
}
