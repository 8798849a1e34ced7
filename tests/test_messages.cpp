// Message text is part of the interface and must read the same from every
// build. C libraries differ in how they print real values: glibc writes a NaN
// with its sign bit as "-nan", Microsoft's runtime writes three exponent
// digits. The Windows build links mingw's own C99 formatter and every real
// value goes through printable(); the output of both is pinned here.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "last_error.h"
#include "velmora.h"

namespace {

std::string formatted_g(float value) {
    velmora::set_err("gamma: value %g out of range", velmora::printable(value));
    return velmora_last_error();
}

TEST(Messages, RealValuesPrintAlike) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float value;
        const char *text;
    } cases[] = {
        {nan, "nan"},
        {std::copysign(nan, -1.0f), "nan"},
        {std::numeric_limits<float>::infinity(), "inf"},
        {-std::numeric_limits<float>::infinity(), "-inf"},
        {0.0f, "0"},
        {-0.0f, "-0"},
        {2.55f, "2.55"},
        {0.1f, "0.1"},
        {1e-5f, "1e-05"},
        {1234567.0f, "1.23457e+06"},
        {1e20f, "1e+20"},
        {-3.5f, "-3.5"},
    };
    for (const auto &c : cases) {
        uint32_t bits;
        std::memcpy(&bits, &c.value, sizeof bits);
        EXPECT_EQ(formatted_g(c.value), std::string("gamma: value ") + c.text + " out of range")
            << "float bits " << std::hex << bits;
    }
}

// A message longer than the buffer is cut; the cut must fall between
// characters, whatever their width, or the host's UTF-8 decoding fails.
TEST(Messages, CutBetweenCharacters) {
    for (const char *character : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
        for (int shift = 0; shift < 4; ++shift) {
            std::string path(static_cast<size_t>(shift), 'a');
            while (path.size() < 700) path += character;
            velmora::set_err("sepia: cannot read %s", path.c_str());
            const std::string text = velmora_last_error();
            ASSERT_GT(text.size(), 400u);
            ASSERT_LT(text.size(), 512u);
            const size_t width = std::strlen(character);
            const size_t start = std::string("sepia: cannot read ").size() + shift;
            EXPECT_EQ((text.size() - start) % width, 0u)
                << "cut inside a " << width << "-byte character, shift " << shift;
        }
    }
}

}  // namespace
