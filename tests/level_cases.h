// Checks of adjustments that map each channel value on its own: old level ->
// new level tables, run through the library on one row of pixels.
#ifndef VELMORA_TEST_LEVEL_CASES_H
#define VELMORA_TEST_LEVEL_CASES_H

#include <gtest/gtest.h>

#include <vector>

#include "support.h"

namespace vt {

struct Level {
    int in;
    int out;
};

// Every level goes through R, G and B alike: pixel i holds levels i, i+1 and
// i+2 (cyclically) in its three channels, so a channel reading its neighbour's
// value shows up; alpha varies and must come back unchanged.
inline void expect_levels(const Call &call, const std::vector<Level> &cases) {
    const size_t n = cases.size();
    std::vector<Rgba> in, want;
    for (size_t i = 0; i < n; ++i) {
        const Level &r = cases[i], &g = cases[(i + 1) % n], &b = cases[(i + 2) % n];
        const int alpha = int((i * 97 + 13) % 256);
        in.push_back(rgb(r.in, g.in, b.in, alpha));
        want.push_back(rgb(r.out, g.out, b.out, alpha));
    }
    const Picture got = adjusted(row_of(in), call);
    ASSERT_EQ(got.px.size(), n);
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(got.px[i], want[i]) << "input " << in[i];
}

// Every level 0..255 maps onto itself.
inline std::vector<Level> identity_levels() {
    std::vector<Level> all;
    for (int v = 0; v < 256; ++v) all.push_back({v, v});
    return all;
}

}  // namespace vt

#endif
