#include "bench_support.h"

#include <malloc.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <fstream>
#include <iterator>

#include "codec.h"

namespace vb {

const std::vector<Adjustment> &adjustments() {
    static const std::vector<Adjustment> list = [] {
        std::vector<Adjustment> all;
        for (int k = 0; k < velmora_list::kAdjustmentCount; ++k) {
            const velmora_list::Adjustment &adj = velmora_list::kAdjustments[k];
            Adjustment a{adj.name, "", velmora_list::example_values(adj), &velmora::kKernels[k]};
            for (int p = 0; p < adj.param_count; ++p) {
                if (adj.params[p].kind == velmora_list::Kind::points) continue;
                char value[32];
                std::snprintf(value, sizeof value, "%g", a.values.v[p]);
                a.settings += (a.settings.empty() ? "" : " ") + std::string(value);
            }
            all.push_back(a);
        }
        return all;
    }();
    return list;
}

std::atomic<long long> g_live{0};
std::atomic<long long> g_peak{0};

void count_in(void *p) {
    if (!p) return;
    const long long now = g_live += static_cast<long long>(malloc_usable_size(p));
    long long peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
}

void count_out(void *p) {
    if (p) g_live -= static_cast<long long>(malloc_usable_size(p));
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

namespace {

// Bilinear scaling of RGBA.
std::vector<unsigned char> scaled(const unsigned char *src, int sw, int sh, int dw, int dh) {
    std::vector<unsigned char> out(static_cast<size_t>(dw) * dh * 4);
    for (int y = 0; y < dh; ++y) {
        const double fy = (y + 0.5) * sh / dh - 0.5;
        const int y0 = fy < 0 ? 0 : static_cast<int>(fy);
        const int y1 = y0 + 1 < sh ? y0 + 1 : sh - 1;
        const double wy = fy < 0 ? 0 : fy - y0;
        for (int x = 0; x < dw; ++x) {
            const double fx = (x + 0.5) * sw / dw - 0.5;
            const int x0 = fx < 0 ? 0 : static_cast<int>(fx);
            const int x1 = x0 + 1 < sw ? x0 + 1 : sw - 1;
            const double wx = fx < 0 ? 0 : fx - x0;
            for (int c = 0; c < 4; ++c) {
                const auto at = [&](int xx, int yy) {
                    return static_cast<double>(src[(static_cast<size_t>(yy) * sw + xx) * 4 + c]);
                };
                const double top = at(x0, y0) * (1 - wx) + at(x1, y0) * wx;
                const double bottom = at(x0, y1) * (1 - wx) + at(x1, y1) * wx;
                out[(static_cast<size_t>(y) * dw + x) * 4 + c] =
                    static_cast<unsigned char>(top * (1 - wy) + bottom * wy + 0.5);
            }
        }
    }
    return out;
}

}  // namespace

std::vector<unsigned char> photograph(int width, int height, const char *path) {
    std::ifstream in(path ? path : VELMORA_SAMPLE_PHOTO, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    int w = 0, h = 0;
    const char *reason = nullptr;
    velmora::Buffer px(bytes.empty() ? nullptr
                                     : velmora::decode_rgba(bytes.data(),
                                                            static_cast<int>(bytes.size()), &w,
                                                            &h, &reason));
    if (!px) return {};
    return scaled(px.get(), w, h, width, height);
}

}  // namespace vb
