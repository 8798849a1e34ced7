// Colour mappings without parameters: grayscale, sepia, invert. None of them
// can fail on a decoded image. All arithmetic is double precision; sums are
// added left to right.
#include <cstring>

#include "kernels.h"
#include "lanes.h"

namespace velmora {

// The fast passes of grayscale and sepia look up each product of a weight and
// a channel value in a table of doubles built with the very same
// multiplication, then add them in the same order: the same doubles, so the
// same results, with no multiplication per pixel.
BandKernelPtr prepare_grayscale(int, int, Isa isa) {
    if (!fast_pass(isa))
        return pixel_kernel("grayscale", [](unsigned char *p) {
            p[0] = p[1] = p[2] = static_cast<unsigned char>(luma(p[0], p[1], p[2]));
        });
    struct Products {
        double red[256], green[256], blue[256];
    } w;
    for (int v = 0; v < 256; ++v) {
        w.red[v] = 0.299 * v;
        w.green[v] = 0.587 * v;
        w.blue[v] = 0.114 * v;
    }
    return pixel_kernel("grayscale", [w](unsigned char *p) {
        const double y = ((w.red[p[0]] + w.green[p[1]]) + w.blue[p[2]]) + 0.5;
        p[0] = p[1] = p[2] = static_cast<unsigned char>(static_cast<int>(y));
    });
}

// The matrix, one row per output channel: the weights of R, G and B.
static const double kSepia[3][3] = {
    {0.393, 0.769, 0.189},
    {0.349, 0.686, 0.168},
    {0.272, 0.534, 0.131},
};

static unsigned char sepia_channel(const double (&w)[3], int r, int g, int b) {
    return clamp_byte(static_cast<int>(((w[0] * r + w[1] * g) + w[2] * b) + 0.5));
}

BandKernelPtr prepare_sepia(int, int, Isa isa) {
#if defined(VELMORA_HAVE_SSE2)
    if (fast_pass(isa)) {
        // Per input channel and level, its products with the weights of the
        // three output rows side by side (new R, new G, new B, 0), so that two
        // packed additions do the work of three scalar ones, lane by lane the same.
        struct alignas(16) Products {
            double v[3][256][4];
        } products;
        for (int c = 0; c < 3; ++c)
            for (int v = 0; v < 256; ++v) {
                for (int o = 0; o < 3; ++o) products.v[c][v][o] = kSepia[o][c] * v;
                products.v[c][v][3] = 0.0;
            }
        return pixel_kernel("sepia", [products](unsigned char *p) {
            const __m128d half = _mm_set1_pd(0.5);
            const double *r = products.v[0][p[0]], *g = products.v[1][p[1]],
                         *b = products.v[2][p[2]];
            const __m128d new_rg = _mm_add_pd(
                _mm_add_pd(_mm_add_pd(_mm_load_pd(r), _mm_load_pd(g)), _mm_load_pd(b)), half);
            const __m128d new_b = _mm_add_pd(
                _mm_add_pd(_mm_add_pd(_mm_load_pd(r + 2), _mm_load_pd(g + 2)), _mm_load_pd(b + 2)),
                half);
            // Truncated, then clamped to 0..255 by the saturating packs.
            __m128i levels =
                _mm_unpacklo_epi64(_mm_cvttpd_epi32(new_rg), _mm_cvttpd_epi32(new_b));
            levels = _mm_packus_epi16(_mm_packs_epi32(levels, levels), levels);
            const uint32_t rgb = static_cast<uint32_t>(_mm_cvtsi128_si32(levels));
            uint32_t px;
            std::memcpy(&px, p, 4);
            px = (px & 0xFF000000u) | (rgb & 0x00FFFFFFu);
            std::memcpy(p, &px, 4);
        });
    }
#else
    (void)isa;
#endif
    return pixel_kernel("sepia", [](unsigned char *p) {
        const int r = p[0], g = p[1], b = p[2];  // all outputs from the input colour
        for (int c = 0; c < 3; ++c) p[c] = sepia_channel(kSepia[c], r, g, b);
    });
}

BandKernelPtr prepare_invert(int, int, Isa isa) {
    if (!fast_pass(isa))
        return pixel_kernel("invert", [](unsigned char *p) {
            for (int c = 0; c < 3; ++c) p[c] = static_cast<unsigned char>(255 - p[c]);
        });
    // 255 - v is the complement of the byte: one XOR per pixel word.
    return pixel_kernel("invert", [](unsigned char *p) {
        uint32_t px;
        std::memcpy(&px, p, 4);
        px ^= 0x00FFFFFFu;
        std::memcpy(p, &px, 4);
    });
}

int op_grayscale(Image &img, Isa isa) {
    return run_whole(img, prepare_grayscale(img.width, img.height, isa));
}

int op_sepia(Image &img, Isa isa) { return run_whole(img, prepare_sepia(img.width, img.height, isa)); }

int op_invert(Image &img, Isa isa) {
    return run_whole(img, prepare_invert(img.width, img.height, isa));
}

}  // namespace velmora
