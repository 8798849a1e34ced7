// Shared fixtures: pictures made in the test, written with stb's writer, read
// back with stb's reader, in a scratch folder of the test's own.
#ifndef VELMORA_TEST_SUPPORT_H
#define VELMORA_TEST_SUPPORT_H

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace vt {

struct Rgba {
    uint8_t r, g, b, a;
    bool operator==(const Rgba &o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
    bool operator!=(const Rgba &o) const { return !(*this == o); }
};
std::ostream &operator<<(std::ostream &os, const Rgba &c);

inline Rgba rgb(int r, int g, int b, int a = 255) {
    return Rgba{uint8_t(r), uint8_t(g), uint8_t(b), uint8_t(a)};
}

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Rgba> px;  // row-major
    Rgba &at(int x, int y) { return px[size_t(y) * width + x]; }
    const Rgba &at(int x, int y) const { return px[size_t(y) * width + x]; }
};

// A 1-row picture holding the given colours.
Picture row_of(const std::vector<Rgba> &colours);
// A width x height picture of one colour.
Picture filled(int width, int height, Rgba colour);
// A smooth, photo-like gradient with varied alpha.
Picture gradient(int width, int height);

// A scratch folder below the working directory, removed afterwards. Relative
// paths keep the tests valid on every platform the suite runs on.
class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;
    std::string path(const std::string &name) const;
    const std::string &dir() const { return dir_; }
    std::vector<std::string> entries() const;  // file names now in the folder

private:
    std::string dir_;
};

// Writers: `channels` is what the file stores (1 grey, 2 grey+alpha, 3, 4).
void write_png(const std::string &path, const Picture &pic, int channels = 4);
void write_bmp(const std::string &path, const Picture &pic, int channels = 3);
void write_jpg(const std::string &path, const Picture &pic, int quality = 95);

// stb's own JPEG file of RGBA pixels at quality 92: the reference the
// library's writer must match byte for byte.
std::vector<uint8_t> stb_jpeg_q92(int width, int height, const uint8_t *rgba);

// Decodes any file stb reads, as RGBA; fails the test when it cannot.
Picture read_picture(const std::string &path);

// The reference writer's bytes: stb_image_write's PNG of RGBA rows at its
// defaults, and its zlib stream of `size` bytes at quality 8.
std::vector<uint8_t> stb_png(int width, int height, const uint8_t *rgba);
std::vector<uint8_t> stb_zlib(const uint8_t *data, size_t size);

void write_bytes(const std::string &path, const std::vector<uint8_t> &bytes);
std::vector<uint8_t> read_bytes(const std::string &path);
bool file_exists(const std::string &path);

std::string last_error();

// Format of a file from its first bytes: "jpg", "png", "bmp" or "?".
std::string sniff(const std::string &path);

using Call = std::function<int(const char *in, const char *out)>;

// Writes `in` as PNG, runs `call` to a PNG output, expects success and
// returns the decoded result.
Picture adjusted(const Picture &in, const Call &call);

struct ColourCase {
    Rgba in;
    Rgba out;
};

// Runs `call` on one row holding every input colour and checks each result.
void expect_cases(const Call &call, const std::vector<ColourCase> &cases);

// The message of a call on a file that does not exist.
std::string missing_input_message(const Call &call);

}  // namespace vt

#endif
