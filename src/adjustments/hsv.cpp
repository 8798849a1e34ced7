// Conversions between 8-bit RGB and HSV. Every step is a 32-bit float
// operation in a fixed order: results must be identical on every build.
#include "hsv.h"

#include <cmath>

namespace velmora {

void rgb_to_hsv(int red, int green, int blue, float &h, float &s, float &v) {
    // Divide, not multiply by 1/255: the reciprocal rounds differently.
    const float r = static_cast<float>(red) / 255.0f;
    const float g = static_cast<float>(green) / 255.0f;
    const float b = static_cast<float>(blue) / 255.0f;

    float max = r;
    if (g > max) max = g;
    if (b > max) max = b;
    float min = r;
    if (g < min) min = g;
    if (b < min) min = b;
    const float d = max - min;

    v = max;
    s = max > 0.0f ? d / max : 0.0f;
    if (d <= 0.0f) {
        h = 0.0f;
        return;
    }

    // Exact comparisons choose the formula: red first, then green.
    float sector;
    if (max == r) {
        sector = (g - b) / d;
        if (b > g) sector = sector + 6.0f;  // keeps 0 <= sector < 6
    } else if (max == g) {
        sector = 2.0f + (b - r) / d;
    } else {
        sector = (r - g) / d + 4.0f;
    }
    h = sector / 6.0f;
}

void hsv_to_rgb(float h, float s, float v, int &red, int &green, int &blue) {
    float f = fmodf(h, 1.0f);  // takes the sign of h
    if (f < 0.0f) f = f + 1.0f;
    const float sector = f * 6.0f;
    // sector can round up to exactly 6 (from f + 1 or f * 6): that is red, frac 0.
    const int i = static_cast<int>(sector);
    const float frac = sector - static_cast<float>(i);

    const float p = (1.0f - s) * v;
    const float q = (1.0f - frac * s) * v;
    const float t = (1.0f - s * (1.0f - frac)) * v;

    float r, g, b;
    switch (i % 6) {
    case 0: r = v; g = t; b = p; break;
    case 1: r = q; g = v; b = p; break;
    case 2: r = p; g = v; b = t; break;
    case 3: r = p; g = q; b = v; break;
    case 4: r = t; g = p; b = v; break;
    default: r = v; g = p; b = q; break;
    }

    red = static_cast<int>(r * 255.0f + 0.5f);
    green = static_cast<int>(g * 255.0f + 0.5f);
    blue = static_cast<int>(b * 255.0f + 0.5f);
}

}  // namespace velmora
