// The pipeline band by band against the same steps on the whole picture:
// the same bytes for every format, size and reader, and the same outcome
// (return value, message, file left) when the input, a step or the output
// fails.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "last_error.h"
#include "pipeline.h"
#include "support.h"

namespace {

using velmora::BandKernel;
using velmora::BandKernelPtr;
using velmora::Image;
using velmora::Step;

// A change that depends on the pixel's place, so that a band handed over
// at the wrong row or column shows.
inline void mark(unsigned char *p, int x, int y) {
    p[0] = static_cast<unsigned char>(p[0] ^ ((x * 7 + y * 13) & 0xFF));
    p[1] = static_cast<unsigned char>(p[1] + y);
    p[2] = static_cast<unsigned char>(255 - p[2]);
}

class MarkKernel final : public BandKernel {
public:
    void run(unsigned char *px, int count, int x, int y) const override {
        for (int i = 0; i < count; ++i) mark(px + 4 * i, x + i, y);
    }
};

Step band_mark() {
    return velmora::band_step([](int, int) { return BandKernelPtr(new MarkKernel); });
}

Step whole_mark() {
    return velmora::whole_picture_step([](Image &img) {
        for (int y = 0; y < img.height; ++y)
            for (int x = 0; x < img.width; ++x)
                mark(img.pixels + (static_cast<size_t>(y) * img.width + x) * 4, x, y);
        return 1;
    });
}

// A step that refuses its parameters, once the picture's size is known.
Step band_refusal() {
    return velmora::band_step(
        [](int, int) { return velmora::fail("test: value refused"), BandKernelPtr(); });
}
Step whole_refusal() {
    return velmora::whole_picture_step([](Image &) { return velmora::fail("test: value refused"); });
}

struct Outcome {
    int ok;
    std::string message;
    bool exists;
    std::vector<uint8_t> bytes;
};

Outcome run(const std::string &in, const std::string &out, const std::vector<Step> &steps,
            velmora::Reader reader = velmora::kDefaultReader) {
    Outcome o;
    o.ok = velmora::run_steps("test", in.c_str(), out.c_str(), nullptr, steps, nullptr,
                              velmora::kDefaultWriter, reader);
    o.message = velmora::last_error_text();
    o.exists = vt::file_exists(out);
    if (o.exists) o.bytes = vt::read_bytes(out);
    return o;
}

void expect_same(const Outcome &band, const Outcome &whole, const std::string &what) {
    EXPECT_EQ(band.ok, whole.ok) << what;
    EXPECT_EQ(band.message, whole.message) << what;
    EXPECT_EQ(band.exists, whole.exists) << what;
    EXPECT_TRUE(band.bytes == whole.bytes) << what;
}

void write_input(const std::string &path, const std::string &format, const vt::Picture &pic) {
    if (format == "png") vt::write_png(path, pic);
    else if (format == "bmp") vt::write_bmp(path, pic, 4);
    else vt::write_jpg(path, pic);
}

TEST(Streaming, BandsGiveTheWholePicturesBytes) {
    vt::Sandbox box;
    const int sizes[][2] = {{1, 1}, {5, 3}, {17, 9}, {33, 40}, {300, 70}, {61, 129}};
    for (const char *in_format : {"png", "jpg", "bmp"}) {
        for (const auto &size : sizes) {
            const std::string in = box.path(std::string("in.") + in_format);
            write_input(in, in_format, vt::gradient(size[0], size[1]));
            for (const velmora::Reader reader : {velmora::Reader::fast, velmora::Reader::reference}) {
                for (const char *out_format : {"png", "jpg", "bmp"}) {
                    const std::string what = std::string(in_format) + " " +
                                             std::to_string(size[0]) + "x" +
                                             std::to_string(size[1]) + " to " + out_format +
                                             (reader == velmora::Reader::fast ? " ours" : " stb");
                    const std::string a = box.path(std::string("band.") + out_format);
                    const std::string b = box.path(std::string("whole.") + out_format);
                    // One step, and a chain of two that must run in order.
                    const Outcome band = run(in, a, {band_mark()}, reader);
                    const Outcome whole = run(in, b, {whole_mark()}, reader);
                    ASSERT_EQ(band.ok, 1) << what << ": " << band.message;
                    expect_same(band, whole, what);
                    const Outcome band2 = run(in, a, {band_mark(), band_mark()}, reader);
                    const Outcome mixed = run(in, b, {band_mark(), whole_mark()}, reader);
                    expect_same(band2, mixed, what + " twice");
                }
            }
        }
    }
}

// Noise does not compress: the PNG writer then stores the rows and asks for
// them again from the first, so the reader is opened a second time.
TEST(Streaming, StoredPngOutputReadsTheInputAgain) {
    vt::Sandbox box;
    vt::Picture noise;
    noise.width = 157;
    noise.height = 93;
    uint32_t state = 12345;
    for (int i = 0; i < noise.width * noise.height; ++i) {
        state = state * 1664525u + 1013904223u;
        noise.px.push_back(vt::rgb(state >> 24, (state >> 16) & 255, (state >> 8) & 255));
    }
    for (const char *format : {"png", "bmp", "jpg"}) {
        const std::string in = box.path(std::string("noise.") + format);
        write_input(in, format, noise);
        const Outcome band = run(in, box.path("band.png"), {band_mark()});
        const Outcome whole = run(in, box.path("whole.png"), {whole_mark()});
        ASSERT_EQ(band.ok, 1) << format << ": " << band.message;
        EXPECT_EQ(band.bytes, whole.bytes) << format;
        // Stored: the file is larger than the pixels.
        EXPECT_GT(band.bytes.size(), size_t(noise.width) * noise.height * 4) << format;
    }
}

// Every failure gives what the whole-picture pipeline gives: a file that
// fails to decode wins over a refused step and over an output that cannot
// be written, and nothing is left at the output.
TEST(Streaming, FailuresGiveTheWholePicturesOutcome) {
    vt::Sandbox box;
    const vt::Picture pic = vt::gradient(97, 61);
    struct Case {
        const char *name;
        bool truncated;
        bool refuse;
        bool missing_folder;
    };
    const Case cases[] = {
        {"cut input", true, false, false},
        {"refused step", false, true, false},
        {"cut input and refused step", true, true, false},
        {"cut input and unwritable output", true, false, true},
        {"unwritable output", false, false, true},
        {"all three", true, true, true},
    };
    for (const char *format : {"png", "jpg"}) {
        const std::string good = box.path(std::string("good.") + format);
        write_input(good, format, pic);
        std::vector<uint8_t> bytes = vt::read_bytes(good);
        // Cut three quarters of the way: the header reads, the last rows do not.
        bytes.resize(bytes.size() * 3 / 4);
        const std::string cut = box.path(std::string("cut.") + format);
        vt::write_bytes(cut, bytes);
        for (const Case &c : cases) {
            const std::string in = c.truncated ? cut : good;
            const std::string dir = c.missing_folder ? box.path("missing") + "/" : box.path("");
            const std::string what = std::string(format) + ": " + c.name;
            const Outcome band =
                run(in, dir + "out.png", {band_mark(), c.refuse ? band_refusal() : band_mark()});
            const Outcome whole =
                run(in, dir + "out.png", {whole_mark(), c.refuse ? whole_refusal() : whole_mark()});
            EXPECT_EQ(band.ok, 0) << what;
            EXPECT_FALSE(band.exists) << what;
            expect_same(band, whole, what);
        }
    }
}

}  // namespace
