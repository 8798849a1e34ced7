#include "support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "byte_sink.h"
#include "velmora.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace fs = std::filesystem;

namespace vt {

std::ostream &operator<<(std::ostream &os, const Rgba &c) {
    return os << "(" << int(c.r) << ", " << int(c.g) << ", " << int(c.b) << ", " << int(c.a)
              << ")";
}

Picture row_of(const std::vector<Rgba> &colours) {
    Picture p;
    p.width = int(colours.size());
    p.height = 1;
    p.px = colours;
    return p;
}

Picture filled(int width, int height, Rgba colour) {
    Picture p;
    p.width = width;
    p.height = height;
    p.px.assign(size_t(width) * height, colour);
    return p;
}

Picture gradient(int width, int height) {
    Picture p = filled(width, height, rgb(0, 0, 0));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            p.at(x, y) = rgb(x * 255 / (width > 1 ? width - 1 : 1),
                             y * 255 / (height > 1 ? height - 1 : 1), (x + y) * 7 % 256,
                             255 - (x * 3 + y) % 200);
    return p;
}

Sandbox::Sandbox() {
    static std::atomic<int> counter{0};
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "t";
    for (char &c : name)
        if (!isalnum(static_cast<unsigned char>(c)) && c != '.') c = '_';
    dir_ = "scratch-" + name + "-" + std::to_string(counter++);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
}

Sandbox::~Sandbox() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

std::string Sandbox::path(const std::string &name) const { return dir_ + "/" + name; }

std::vector<std::string> Sandbox::entries() const {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    return names;
}

static std::vector<uint8_t> pack(const Picture &pic, int channels) {
    std::vector<uint8_t> out;
    out.reserve(pic.px.size() * channels);
    for (const Rgba &c : pic.px) {
        switch (channels) {
        case 1: out.push_back(c.r); break;
        case 2: out.insert(out.end(), {c.r, c.a}); break;
        case 3: out.insert(out.end(), {c.r, c.g, c.b}); break;
        default: out.insert(out.end(), {c.r, c.g, c.b, c.a}); break;
        }
    }
    return out;
}

void write_png(const std::string &path, const Picture &pic, int channels) {
    auto data = pack(pic, channels);
    ASSERT_TRUE(stbi_write_png(path.c_str(), pic.width, pic.height, channels, data.data(),
                               pic.width * channels));
}

void write_bmp(const std::string &path, const Picture &pic, int channels) {
    auto data = pack(pic, channels);
    ASSERT_TRUE(stbi_write_bmp(path.c_str(), pic.width, pic.height, channels, data.data()));
}

void write_jpg(const std::string &path, const Picture &pic, int quality) {
    auto data = pack(pic, 3);
    ASSERT_TRUE(stbi_write_jpg(path.c_str(), pic.width, pic.height, 3, data.data(), quality));
}

std::vector<uint8_t> stb_jpeg_q92(int width, int height, const uint8_t *rgba) {
    std::vector<uint8_t> out;
    stbi_write_jpg_to_func(velmora::append_to_vector_stb, &out, width, height, 4, rgba, 92);
    return out;
}

Picture read_picture(const std::string &path) {
    Picture p;
    int n = 0;
    unsigned char *data = stbi_load(path.c_str(), &p.width, &p.height, &n, 4);
    EXPECT_NE(data, nullptr) << "cannot decode " << path;
    if (!data) return Picture{};
    p.px.resize(size_t(p.width) * p.height);
    std::memcpy(p.px.data(), data, p.px.size() * 4);
    stbi_image_free(data);
    return p;
}

std::vector<uint8_t> stb_png(int width, int height, const uint8_t *rgba) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(stbi_write_png_to_func(velmora::append_to_vector_stb, &out, width, height, 4, rgba, width * 4));
    return out;
}

std::vector<uint8_t> stb_zlib(const uint8_t *data, size_t size) {
    int len = 0;
    unsigned char *z =
        stbi_zlib_compress(const_cast<unsigned char *>(data), int(size), &len, 8);
    EXPECT_NE(z, nullptr);
    if (!z) return {};
    std::vector<uint8_t> out(z, z + len);
    STBIW_FREE(z);
    return out;
}

void write_bytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> read_bytes(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

bool file_exists(const std::string &path) { return fs::exists(path); }

std::string last_error() { return velmora_last_error(); }

std::string sniff(const std::string &path) {
    auto b = read_bytes(path);
    if (b.size() >= 2 && b[0] == 0xFF && b[1] == 0xD8) return "jpg";
    if (b.size() >= 4 && b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') return "png";
    if (b.size() >= 2 && b[0] == 'B' && b[1] == 'M') return "bmp";
    return "?";
}

Picture adjusted(const Picture &in, const Call &call) {
    Sandbox box;
    const std::string src = box.path("in.png"), dst = box.path("out.png");
    write_png(src, in);
    EXPECT_EQ(call(src.c_str(), dst.c_str()), 1) << last_error();
    EXPECT_EQ(last_error(), "");
    return read_picture(dst);
}

void expect_cases(const Call &call, const std::vector<ColourCase> &cases) {
    std::vector<Rgba> in;
    for (const auto &c : cases) in.push_back(c.in);
    const Picture got = adjusted(row_of(in), call);
    ASSERT_EQ(got.px.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(got.px[i], cases[i].out) << "input " << cases[i].in;
}

std::string missing_input_message(const Call &call) {
    Sandbox box;
    const std::string out = box.path("out.png");
    EXPECT_EQ(call(box.path("missing.png").c_str(), out.c_str()), 0);
    EXPECT_FALSE(file_exists(out));
    return last_error();
}

}  // namespace vt
