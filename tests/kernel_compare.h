// The fast pixel passes against the scalar reference: the same input through
// both, compared byte for byte.
#ifndef VELMORA_KERNEL_COMPARE_H
#define VELMORA_KERNEL_COMPARE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "kernels.h"

namespace velmora {
inline void PrintTo(Isa isa, std::ostream *os) { *os << isa_name(isa); }
}  // namespace velmora

namespace vk {

using velmora::Image;
using velmora::Isa;

struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> bytes;  // RGBA
    Pixels(int w, int h) : width(w), height(h), bytes(static_cast<size_t>(w) * h * 4) {}
    Image image() { return Image{width, height, bytes.data()}; }
    void set(size_t i, int r, int g, int b, int a) {
        bytes[4 * i] = static_cast<unsigned char>(r);
        bytes[4 * i + 1] = static_cast<unsigned char>(g);
        bytes[4 * i + 2] = static_cast<unsigned char>(b);
        bytes[4 * i + 3] = static_cast<unsigned char>(a);
    }
};

using velmora::isa_name;

// Runs `kernel(Image &, Isa)` on two copies of `in`, one with the scalar
// pass and one with `fast`: the results and every byte must agree. Names the
// first pixel that differs.
template <class Kernel>
testing::AssertionResult same_bytes(const Pixels &in, Kernel kernel, Isa fast_isa = Isa::sse2) {
    Pixels scalar = in, fast = in;
    Image a = scalar.image(), b = fast.image();
    const int ra = kernel(a, Isa::scalar);
    const int rb = kernel(b, fast_isa);
    if (ra != rb)
        return testing::AssertionFailure()
               << "scalar returns " << ra << ", " << isa_name(fast_isa) << " " << rb;
    for (size_t i = 0; i < in.bytes.size(); i += 4) {
        if (scalar.bytes[i] == fast.bytes[i] && scalar.bytes[i + 1] == fast.bytes[i + 1] &&
            scalar.bytes[i + 2] == fast.bytes[i + 2] && scalar.bytes[i + 3] == fast.bytes[i + 3])
            continue;
        const auto show = [&](const std::vector<unsigned char> &v) {
            return testing::Message() << "(" << int(v[i]) << ", " << int(v[i + 1]) << ", "
                                      << int(v[i + 2]) << ", " << int(v[i + 3]) << ")";
        };
        const size_t pixel = i / 4;
        return testing::AssertionFailure()
               << "pixel " << pixel % in.width << "," << pixel / in.width << " of " << in.width
               << "x" << in.height << ": input " << show(in.bytes) << ", scalar "
               << show(scalar.bytes) << ", " << isa_name(fast_isa) << " " << show(fast.bytes);
    }
    return testing::AssertionSuccess();
}

// Every level in every channel: R counts up, G down, B in another order; A
// varies too, to show that it is left alone.
inline Pixels every_level() {
    Pixels p(256, 1);
    for (int v = 0; v < 256; ++v) p.set(v, v, 255 - v, (v * 7 + 3) & 255, (v * 13 + 5) & 255);
    return p;
}

// Sanitizer builds compare every VELMORA_CUBE_STRIDE-th colour of the cube
// (a stride prime to 256, so every level of every channel still occurs);
// release builds compare all 2^24.
#if defined(VELMORA_CUBE_STRIDE)
constexpr uint32_t kCubeStride = VELMORA_CUBE_STRIDE;
#else
constexpr uint32_t kCubeStride = 1;
#endif

// `kernel` on the colour cube, in rows of an odd number of pixels so that
// the fast passes' leftover pixels run too.
template <class Kernel>
testing::AssertionResult same_on_colour_cube(Kernel kernel, Isa fast_isa) {
    const uint32_t total = 1u << 24, row = 65539;
    const uint32_t colours = (total + kCubeStride - 1) / kCubeStride;
    for (uint32_t first = 0; first < colours; first += row) {
        const uint32_t count = colours - first < row ? colours - first : row;
        Pixels px(static_cast<int>(count), 1);
        for (uint32_t k = 0; k < count; ++k) {
            const uint32_t c = (first + k) * kCubeStride;
            px.set(k, c >> 16, (c >> 8) & 255, c & 255, (c * 2654435761u) >> 24);
        }
        testing::AssertionResult same = same_bytes(px, kernel, fast_isa);
        if (!same) return same;
    }
    return testing::AssertionSuccess();
}

// The fast passes, each compared with the scalar one.
inline const Isa kFastIsas[] = {Isa::sse2, Isa::avx2};

// A test run once for each fast pass (the first of its parameters) and each
// case (the second); a pass the processor lacks is skipped.
template <class Case>
class EachFastPass : public testing::TestWithParam<std::tuple<Isa, Case>> {
protected:
    void SetUp() override {
        if (!velmora::isa_available(fast()))
            GTEST_SKIP() << "this processor cannot run the " << isa_name(fast()) << " pass";
    }
    Isa fast() const { return std::get<0>(this->GetParam()); }
    const Case &param() const { return std::get<1>(this->GetParam()); }
};

// Test names for EachFastPass: the pass and then `label(case)`.
template <class Case, class Label>
auto pass_and(Label label) {
    return [label](const testing::TestParamInfo<std::tuple<Isa, Case>> &info) {
        return std::string(isa_name(std::get<0>(info.param))) + "_" +
               std::string(label(std::get<1>(info.param)));
    };
}

}  // namespace vk

#endif
