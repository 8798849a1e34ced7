#include "bench_support.h"

#include <cmath>
#include <cstdint>

namespace vb {

using velmora::Image;
using velmora::Impl;

namespace {

const int kCurveXs[] = {0, 64, 128, 192, 255};
const int kCurveYs[] = {0, 48, 132, 210, 255};

}  // namespace

const std::vector<Adjustment> &adjustments() {
    static const std::vector<Adjustment> list = {
        {"grayscale", "", [](Image &i, Impl m) { return velmora::op_grayscale(i, m); }},
        {"sepia", "", [](Image &i, Impl m) { return velmora::op_sepia(i, m); }},
        {"invert", "", [](Image &i, Impl m) { return velmora::op_invert(i, m); }},
        {"brightness", "20", [](Image &i, Impl m) { return velmora::op_brightness(i, 20, m); }},
        {"contrast", "30", [](Image &i, Impl m) { return velmora::op_contrast(i, 30, m); }},
        {"gamma", "1.8", [](Image &i, Impl m) { return velmora::op_gamma(i, 1.8f, m); }},
        {"levels", "16 235 1.2",
         [](Image &i, Impl m) { return velmora::op_levels(i, 16, 235, 1.2f, m); }},
        {"auto_levels", "", [](Image &i, Impl m) { return velmora::op_auto_levels(i, m); }},
        {"curves", "5 points, shared",
         [](Image &i, Impl m) {
             return velmora::op_curves(i, velmora::CurveSpec{5, kCurveXs, kCurveYs, 0}, m);
         }},
        {"vignette", "60 80", [](Image &i, Impl m) { return velmora::op_vignette(i, 60, 80, m); }},
        {"saturation", "40", [](Image &i, Impl m) { return velmora::op_saturation(i, 40, m); }},
        {"hue", "90", [](Image &i, Impl m) { return velmora::op_hue(i, 90, m); }},
        {"replace", "(200,120,60)->(20,40,200) tol 90",
         [](Image &i, Impl m) { return velmora::op_replace(i, 200, 120, 60, 20, 40, 200, 90, m); }},
        {"colorize", "(200,120,40) 40",
         [](Image &i, Impl m) { return velmora::op_colorize(i, 200, 120, 40, 40, m); }},
        {"white_balance", "15",
         [](Image &i, Impl m) { return velmora::op_white_balance(i, 15, m); }},
        {"color_balance", "10 0 -20 / 0 15 0 / -10 0 25",
         [](Image &i, Impl m) {
             return velmora::op_color_balance(
                 i, velmora::Balance{{10, 0, -20}, {0, 15, 0}, {-10, 0, 25}}, m);
         }},
        {"selective", "hue 30 sat 20 range 40, +30 r -20 b",
         [](Image &i, Impl m) {
             return velmora::op_selective(i, velmora::Selection{30, 20, 40, {30, 0, 0, 0, -20, 0}},
                                          m);
         }},
    };
    return list;
}

std::vector<unsigned char> photo_like(int width, int height) {
    const double two_pi = 6.283185307179586;
    std::vector<unsigned char> px(static_cast<size_t>(width) * height * 4);
    unsigned char *p = px.data();
    for (int y = 0; y < height; ++y) {
        const double fy = static_cast<double>(y) / height;
        const double row_wave = std::sin(two_pi * 1.3 * fy);
        for (int x = 0; x < width; ++x, p += 4) {
            const double fx = static_cast<double>(x) / width;
            // Hue sweeps across the frame, saturation and brightness in broad bands.
            double hue =
                0.6 * fx + 0.25 * row_wave + 0.15 * std::sin(two_pi * (0.7 * fx + 1.1 * fy));
            hue -= std::floor(hue);
            const double band = 0.5 + 0.5 * std::sin(two_pi * (0.8 * fx - 0.5 * fy) + 1.0);
            const double sat = 0.05 + 0.9 * band * band;
            const double val =
                0.12 + 0.85 * (0.5 + 0.5 * std::cos(two_pi * (0.45 * fx + 0.9 * fy)));
            const double h6 = hue * 6.0;
            const int sector = static_cast<int>(h6) % 6;
            const double f = h6 - std::floor(h6);
            const double lo = val * (1.0 - sat), fall = val * (1.0 - sat * f),
                         rise = val * (1.0 - sat * (1.0 - f));
            double rgb[3];
            switch (sector) {
                case 0:
                    rgb[0] = val;
                    rgb[1] = rise;
                    rgb[2] = lo;
                    break;
                case 1:
                    rgb[0] = fall;
                    rgb[1] = val;
                    rgb[2] = lo;
                    break;
                case 2:
                    rgb[0] = lo;
                    rgb[1] = val;
                    rgb[2] = rise;
                    break;
                case 3:
                    rgb[0] = lo;
                    rgb[1] = fall;
                    rgb[2] = val;
                    break;
                case 4:
                    rgb[0] = rise;
                    rgb[1] = lo;
                    rgb[2] = val;
                    break;
                default:
                    rgb[0] = val;
                    rgb[1] = lo;
                    rgb[2] = fall;
                    break;
            }
            // Grain of a few levels, from a hash of the position.
            uint32_t h =
                static_cast<uint32_t>(x) * 0x9E3779B1u ^ static_cast<uint32_t>(y) * 0x85EBCA77u;
            h ^= h >> 15;
            h *= 0x2C1B3C6Du;
            h ^= h >> 12;
            for (int c = 0; c < 3; ++c) {
                const int grain = static_cast<int>((h >> (8 * c)) & 7u) - 3;
                int v = static_cast<int>(rgb[c] * 255.0 + 0.5) + grain;
                p[c] = static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
            p[3] = 255;
        }
    }
    return px;
}

}  // namespace vb
