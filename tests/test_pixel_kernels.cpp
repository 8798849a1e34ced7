// The fast passes of the per-pixel adjustments against the scalar reference,
// bit for bit, on the whole colour cube (every colour in release builds; a
// stride of it in sanitizer builds, see kernel_compare.h).
#include <gtest/gtest.h>

#include <cstdint>

#include "kernel_compare.h"

using namespace vk;
using namespace velmora;

namespace {

TEST(FixedKernels, GrayscaleOnTheColourCube) {
    EXPECT_TRUE(same_on_colour_cube([](Image &i, Impl m) { return op_grayscale(i, m); }));
}

TEST(FixedKernels, SepiaOnTheColourCube) {
    EXPECT_TRUE(same_on_colour_cube([](Image &i, Impl m) { return op_sepia(i, m); }));
}

TEST(FixedKernels, InvertOnTheColourCube) {
    EXPECT_TRUE(same_on_colour_cube([](Image &i, Impl m) { return op_invert(i, m); }));
}

}  // namespace
