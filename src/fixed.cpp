// Fixed colour mappings without parameters: grayscale, sepia, invert.
// All arithmetic is double precision; sums are added left to right.
#include "kernels.h"

namespace velmora {

// BT.601 luma weights; +0.5 then truncation rounds, and white gives 255.5 -> 255.
int luma(int r, int g, int b) {
    double y = ((0.299 * r + 0.587 * g) + 0.114 * b) + 0.5;
    return static_cast<int>(y);
}

int op_grayscale(Image &img, Impl) {
    unsigned char *p = img.pixels;
    for (uint64_t i = 0, n = pixel_count(img); i < n; ++i, p += 4) {
        unsigned char y = static_cast<unsigned char>(luma(p[0], p[1], p[2]));
        p[0] = p[1] = p[2] = y;
    }
    return 1;
}

static unsigned char sepia_channel(double cr, double cg, double cb, int r, int g, int b) {
    int v = static_cast<int>(((cr * r + cg * g) + cb * b) + 0.5);
    return static_cast<unsigned char>(v > 255 ? 255 : v < 0 ? 0 : v);
}

int op_sepia(Image &img, Impl) {
    unsigned char *p = img.pixels;
    for (uint64_t i = 0, n = pixel_count(img); i < n; ++i, p += 4) {
        const int r = p[0], g = p[1], b = p[2];  // all outputs from the input colour
        p[0] = sepia_channel(0.393, 0.769, 0.189, r, g, b);
        p[1] = sepia_channel(0.349, 0.686, 0.168, r, g, b);
        p[2] = sepia_channel(0.272, 0.534, 0.131, r, g, b);
    }
    return 1;
}

int op_invert(Image &img, Impl) {
    unsigned char *p = img.pixels;
    for (uint64_t i = 0, n = pixel_count(img); i < n; ++i, p += 4) {
        p[0] = static_cast<unsigned char>(255 - p[0]);
        p[1] = static_cast<unsigned char>(255 - p[1]);
        p[2] = static_cast<unsigned char>(255 - p[2]);
    }
    return 1;
}

static int wrap_grayscale(Image *img, int, int, int, int, int, int, int, float) {
    return op_grayscale(*img);
}

static int wrap_sepia(Image *img, int, int, int, int, int, int, int, float) {
    return op_sepia(*img);
}

static int wrap_invert(Image *img, int, int, int, int, int, int, int, float) {
    return op_invert(*img);
}

}  // namespace velmora

using namespace velmora;

extern "C" {

VELMORA_API int velmora_grayscale(const char *input_path, const char *output_path) {
    if (!input_path || !output_path) return fail("grayscale: NULL input/output");
    return run_op(input_path, output_path, "grayscale", wrap_grayscale, 0, 0, 0, 0, 0, 0, 0,
                  0.0f);
}

VELMORA_API int velmora_sepia(const char *input_path, const char *output_path) {
    if (!input_path || !output_path) return fail("sepia: NULL input/output");
    return run_op(input_path, output_path, "sepia", wrap_sepia, 0, 0, 0, 0, 0, 0, 0, 0.0f);
}

VELMORA_API int velmora_invert(const char *input_path, const char *output_path) {
    if (!input_path || !output_path) return fail("invert: NULL input/output");
    return run_op(input_path, output_path, "invert", wrap_invert, 0, 0, 0, 0, 0, 0, 0, 0.0f);
}
}
