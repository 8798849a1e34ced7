// Fixed colour mappings without parameters: grayscale, sepia, invert.
// All arithmetic is double precision; sums are added left to right.
#include <cstring>

#include "kernels.h"
#include "simd.h"

namespace velmora {

// BT.601 luma weights; +0.5 then truncation rounds, and white gives 255.5 -> 255.
int luma(int r, int g, int b) {
    double y = ((0.299 * r + 0.587 * g) + 0.114 * b) + 0.5;
    return static_cast<int>(y);
}

// The fast passes of grayscale and sepia look up each product of a weight and
// a channel value in a table of doubles built with the very same
// multiplication, then add them in the same order: the same doubles, so the
// same results, with no multiplication per pixel.
static void grayscale_fast(Image &img) {
    double red[256], green[256], blue[256];
    for (int v = 0; v < 256; ++v) {
        red[v] = 0.299 * v;
        green[v] = 0.587 * v;
        blue[v] = 0.114 * v;
    }
    unsigned char *p = img.pixels;
    for (uint64_t i = 0, n = pixel_count(img); i < n; ++i, p += 4) {
        const double y = ((red[p[0]] + green[p[1]]) + blue[p[2]]) + 0.5;
        p[0] = p[1] = p[2] = static_cast<unsigned char>(static_cast<int>(y));
    }
}

int op_grayscale(Image &img, Impl impl) {
    if (impl == Impl::fast) {
        grayscale_fast(img);
        return 1;
    }
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

// The matrix, one row per output channel: the weights of R, G and B.
static const double kSepia[3][3] = {
    {0.393, 0.769, 0.189},
    {0.349, 0.686, 0.168},
    {0.272, 0.534, 0.131},
};

#if defined(VELMORA_HAVE_SSE2)
static void sepia_fast(Image &img) {
    unsigned char *p = img.pixels;
    const uint64_t n = pixel_count(img);
    // Per input channel and level, its products with the weights of the three
    // output rows side by side (new R, new G, new B, 0), so that two packed
    // additions do the work of three scalar ones, lane by lane the same.
    alignas(16) double products[3][256][4];
    for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 256; ++v) {
            for (int o = 0; o < 3; ++o) products[c][v][o] = kSepia[o][c] * v;
            products[c][v][3] = 0.0;
        }
    const __m128d half = _mm_set1_pd(0.5);
    for (uint64_t i = 0; i < n; ++i, p += 4) {
        const double *r = products[0][p[0]], *g = products[1][p[1]], *b = products[2][p[2]];
        const __m128d new_rg = _mm_add_pd(
            _mm_add_pd(_mm_add_pd(_mm_load_pd(r), _mm_load_pd(g)), _mm_load_pd(b)), half);
        const __m128d new_b = _mm_add_pd(
            _mm_add_pd(_mm_add_pd(_mm_load_pd(r + 2), _mm_load_pd(g + 2)), _mm_load_pd(b + 2)),
            half);
        // Truncated, then clamped to 0..255 by the saturating packs.
        __m128i levels = _mm_unpacklo_epi64(_mm_cvttpd_epi32(new_rg), _mm_cvttpd_epi32(new_b));
        levels = _mm_packus_epi16(_mm_packs_epi32(levels, levels), levels);
        const uint32_t rgb = static_cast<uint32_t>(_mm_cvtsi128_si32(levels));
        uint32_t px;
        std::memcpy(&px, p, 4);
        px = (px & 0xFF000000u) | (rgb & 0x00FFFFFFu);
        std::memcpy(p, &px, 4);
    }
}
#endif

int op_sepia(Image &img, Impl impl) {
#if defined(VELMORA_HAVE_SSE2)
    if (impl == Impl::fast) {
        sepia_fast(img);
        return 1;
    }
#else
    (void)impl;
#endif
    unsigned char *p = img.pixels;
    for (uint64_t i = 0, n = pixel_count(img); i < n; ++i, p += 4) {
        const int r = p[0], g = p[1], b = p[2];  // all outputs from the input colour
        p[0] = sepia_channel(kSepia[0][0], kSepia[0][1], kSepia[0][2], r, g, b);
        p[1] = sepia_channel(kSepia[1][0], kSepia[1][1], kSepia[1][2], r, g, b);
        p[2] = sepia_channel(kSepia[2][0], kSepia[2][1], kSepia[2][2], r, g, b);
    }
    return 1;
}

int op_invert(Image &img, Impl impl) {
    unsigned char *p = img.pixels;
    if (impl == Impl::fast) {
        // 255 - v is the complement of the byte: one XOR per pixel word.
        for (uint64_t i = 0, n = pixel_count(img); i < n; ++i, p += 4) {
            uint32_t px;
            std::memcpy(&px, p, 4);
            px ^= 0x00FFFFFFu;
            std::memcpy(p, &px, 4);
        }
        return 1;
    }
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
