// Levels (black point, white point, gamma through one shared table) and auto
// levels (each channel stretched from its own darkest to its brightest value).
#include <cmath>

#include "kernels.h"
#include "lanes.h"

namespace velmora {

BandKernelPtr prepare_levels(int, int, int black_point, int white_point, float gamma, Isa isa) {
    if (black_point < 0 || black_point > 255 || white_point < 0 || white_point > 255)
        return refused(fail("levels: black/white point out of range 0..255"));
    if (black_point >= white_point)
        return refused(fail("levels: white point must be > black point"));
    if (!(gamma >= 0.1f) || !(gamma <= 5.0f))
        return refused(fail("levels: gamma %g out of range 0.1..5.0", printable(gamma)));

    // t = i*r - black*r, not (i - black)*r: the two round apart at exact
    // halfway entries, and this order is the one results are checked against.
    const float r = 1.0f / static_cast<float>(white_point - black_point);
    const float s = static_cast<float>(black_point) * r;
    const double e = static_cast<double>(1.0f / gamma);
    SharedTable table;
    for (int i = 0; i < 256; ++i) {
        const float scaled = static_cast<float>(i) * r;
        const float t = scaled - s;
        const double base = t < 0.0f ? 0.0 : t > 1.0f ? 1.0 : static_cast<double>(t);
        const float p = static_cast<float>(std::pow(base, e));
        table.level[i] = static_cast<int>(p * 255.0f + 0.5f);
    }
    return prepare_channels("levels", isa, table);
}

int op_levels(Image &img, int black_point, int white_point, float gamma, Isa isa) {
    return run_whole(img, prepare_levels(img.width, img.height, black_point, white_point, gamma, isa));
}

// Each channel's lowest and highest level present (A plays no part), from
// flags of the levels present; low = high = -1 when there is no pixel.
static void spans_from_flags(const Image &img, int low[3], int high[3]) {
    // Only presence matters, so flags instead of counters: nothing can wrap,
    // however many pixels the image has.
    bool present[3][256] = {};
    const unsigned char *p = img.pixels;
    for (uint64_t i = 0, n = pixel_count(img); i < n; ++i, p += 4) {
        present[0][p[0]] = true;
        present[1][p[1]] = true;
        present[2][p[2]] = true;
    }
    for (int c = 0; c < 3; ++c) {
        low[c] = high[c] = -1;
        for (int v = 0; v < 256; ++v) {
            if (!present[c][v]) continue;
            if (low[c] < 0) low[c] = v;
            high[c] = v;
        }
    }
}

// The same spans as the smallest and largest level of each channel, sixteen
// bytes at a time; with no pixel, low 255 and high 0, which leaves the
// channel alone just as -1 and -1 do.
static void spans_from_extremes(const Image &img, int low[3], int high[3]) {
    unsigned char lo[4] = {255, 255, 255, 255}, hi[4] = {0, 0, 0, 0};
    const unsigned char *p = img.pixels;
    uint64_t i = 0;
    const uint64_t n = pixel_count(img);
#if defined(VELMORA_HAVE_SSE2)
    __m128i smallest = _mm_set1_epi8(-1), largest = _mm_setzero_si128();
    for (; i + 4 <= n; i += 4, p += 16) {
        const __m128i px = Sse2Lanes::load(p);
        smallest = _mm_min_epu8(smallest, px);
        largest = _mm_max_epu8(largest, px);
    }
    unsigned char a[16], b[16];
    Sse2Lanes::store(a, smallest);
    Sse2Lanes::store(b, largest);
    for (int k = 0; k < 16; ++k) {
        if (a[k] < lo[k % 4]) lo[k % 4] = a[k];
        if (b[k] > hi[k % 4]) hi[k % 4] = b[k];
    }
#endif
    for (; i < n; ++i, p += 4)
        for (int c = 0; c < 3; ++c) {
            if (p[c] < lo[c]) lo[c] = p[c];
            if (p[c] > hi[c]) hi[c] = p[c];
        }
    for (int c = 0; c < 3; ++c) {
        low[c] = lo[c];
        high[c] = hi[c];
    }
}

BandKernelPtr prepare_auto_levels(const Image &img, Isa isa) {
    int low[3], high[3];
    if (fast_pass(isa))
        spans_from_extremes(img, low, high);
    else
        spans_from_flags(img, low, high);

    // Per channel a table from old to new value; identity where the channel
    // holds a single value (or nothing).
    ChannelTables map;
    for (int c = 0; c < 3; ++c) {
        for (int v = 0; v < 256; ++v) {
            if (high[c] <= low[c]) {
                map.level[c][v] = static_cast<unsigned char>(v);
                continue;
            }
            // (v - low) * 255 / (high - low) rounded half up, in exact integers:
            // floor(q + 1/2) = floor((2*num + den) / (2*den)).
            const int num = (v - low[c]) * 255;
            const int den = high[c] - low[c];
            int q = (2 * num + den) / (2 * den);
            if (num < 0) q = 0;  // only for values absent from the image
            map.level[c][v] = static_cast<unsigned char>(q > 255 ? 255 : q);
        }
    }
    return prepare_channels("auto_levels", isa, [map](int c, int v) { return map.level[c][v]; });
}

int op_auto_levels(Image &img, Isa isa) { return run_whole(img, prepare_auto_levels(img, isa)); }

}  // namespace velmora
