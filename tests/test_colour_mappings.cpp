// Grayscale, sepia and invert: exact values, alpha untouched, pipeline names.
#include <gtest/gtest.h>

#include "support.h"
#include "velmora.h"

using namespace vt;

namespace {


TEST(Grayscale, LumaValues) {
    expect_cases(velmora_grayscale, {
                                        {rgb(255, 0, 0), rgb(76, 76, 76)},
                                        {rgb(0, 255, 0), rgb(150, 150, 150)},
                                        {rgb(0, 0, 255), rgb(29, 29, 29)},
                                        {rgb(200, 100, 50), rgb(124, 124, 124)},
                                        {rgb(255, 255, 255), rgb(255, 255, 255)},
                                        {rgb(0, 0, 0), rgb(0, 0, 0)},
                                        {rgb(1, 2, 3, 0), rgb(2, 2, 2, 0)},
                                        {rgb(9, 99, 199, 128), rgb(83, 83, 83, 128)},
                                    });
}

TEST(Grayscale, EveryGreyLevelIsUnchanged) {
    std::vector<ColourCase> cases;
    for (int v = 0; v < 256; ++v) cases.push_back({rgb(v, v, v, 255 - v), rgb(v, v, v, 255 - v)});
    expect_cases(velmora_grayscale, cases);
}

TEST(Grayscale, PngOutputStaysRgba) {
    Sandbox box;
    write_png(box.path("in.png"), gradient(4, 4));
    ASSERT_EQ(velmora_grayscale(box.path("in.png").c_str(), box.path("o.png").c_str()), 1);
    const auto bytes = read_bytes(box.path("o.png"));
    ASSERT_GT(bytes.size(), 26u);
    EXPECT_EQ(bytes[24], 8);  // bit depth
    EXPECT_EQ(bytes[25], 6);  // colour type: RGBA
}

TEST(Sepia, MatrixValues) {
    expect_cases(velmora_sepia, {
                                    {rgb(255, 255, 255), rgb(255, 255, 239)},
                                    {rgb(0, 0, 0), rgb(0, 0, 0)},
                                    {rgb(255, 0, 0), rgb(100, 89, 69)},
                                    {rgb(0, 255, 0), rgb(196, 175, 136)},
                                    {rgb(0, 0, 255), rgb(48, 43, 33)},
                                    // the green weights alone: 0.769, 0.686, 0.534
                                    {rgb(0, 80, 0), rgb(62, 55, 43)},
                                    {rgb(128, 128, 128), rgb(173, 154, 120)},
                                    {rgb(128, 128, 128, 0), rgb(173, 154, 120, 0)},
                                });
}

TEST(Invert, ComplementAndRoundTrip) {
    expect_cases(velmora_invert, {
                                     {rgb(0, 0, 0), rgb(255, 255, 255)},
                                     {rgb(1, 128, 254, 0), rgb(254, 127, 1, 0)},
                                     {rgb(200, 100, 50, 128), rgb(55, 155, 205, 128)},
                                 });
    const Picture pic = gradient(33, 17);
    const Picture once = adjusted(pic, velmora_invert);
    EXPECT_EQ(adjusted(once, velmora_invert).px, pic.px);
}

}  // namespace
