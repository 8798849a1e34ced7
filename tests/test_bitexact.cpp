// Every build must write byte-identical files for the same calls: the Linux
// library and the Windows DLL (run under Wine) alike. Each case runs its calls
// on a generated input, hashes the output files with SHA-256 and compares the
// digest with the one recorded in the table below, taken from the Linux build.
//
// To add a case: add a row to cases() with an empty digest, build and run this
// suite on Linux; the failure message gives the digest to record. The Windows
// run then has to agree with it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "adjustments.h"
#include "support.h"

using namespace vt;

namespace {

// ---- SHA-256 ------------------------------------------------------------------

class Sha256 {
public:
    void update(const uint8_t *data, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            block_[used_++] = data[i];
            if (used_ == 64) compress();
        }
        length_ += n;
    }

    std::string hex() {
        const uint64_t bits = length_ * 8;
        const uint8_t one = 0x80, zero = 0;
        update(&one, 1);
        while (used_ != 56) update(&zero, 1);
        for (int i = 7; i >= 0; --i) {
            const uint8_t b = static_cast<uint8_t>(bits >> (8 * i));
            update(&b, 1);
        }
        static const char digits[] = "0123456789abcdef";
        std::string out;
        for (uint32_t word : h_)
            for (int shift = 28; shift >= 0; shift -= 4) out += digits[(word >> shift) & 15];
        return out;
    }

private:
    static uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

    void compress() {
        static const uint32_t k[64] = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
            0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
            0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
            0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
            0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
            0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
            0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
            0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
            0xc67178f2};
        uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = uint32_t(block_[4 * i]) << 24 | uint32_t(block_[4 * i + 1]) << 16 |
                   uint32_t(block_[4 * i + 2]) << 8 | uint32_t(block_[4 * i + 3]);
        for (int i = 16; i < 64; ++i) {
            const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6],
                 h = h_[7];
        for (int i = 0; i < 64; ++i) {
            const uint32_t t1 =
                h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        const uint32_t add[8] = {a, b, c, d, e, f, g, h};
        for (int i = 0; i < 8; ++i) h_[i] += add[i];
        used_ = 0;
    }

    uint32_t h_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    uint8_t block_[64] = {};
    size_t used_ = 0;
    uint64_t length_ = 0;
};

TEST(Sha256, KnownDigests) {
    Sha256 empty;
    EXPECT_EQ(empty.hex(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const std::string text = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    Sha256 two_blocks;
    two_blocks.update(reinterpret_cast<const uint8_t *>(text.data()), text.size());
    EXPECT_EQ(two_blocks.hex(), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

// ---- inputs ---------------------------------------------------------------------

// A photo-like picture from integer steps only: the hue wheel across, from grey
// at the top to full colour at the bottom, over a wave of light and dark
// levels, with noise, some translucent pixels, and black, white and mid grey
// in the first row.
Picture photo(int width, int height) {
    Picture p = filled(width, height, rgb(0, 0, 0));
    uint32_t noise = 2463534242u;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int t = x * 1536 / width, f = t % 256;
            int hue[3];
            switch (t / 256) {
            case 0: hue[0] = 255, hue[1] = f, hue[2] = 0; break;
            case 1: hue[0] = 255 - f, hue[1] = 255, hue[2] = 0; break;
            case 2: hue[0] = 0, hue[1] = 255, hue[2] = f; break;
            case 3: hue[0] = 0, hue[1] = 255 - f, hue[2] = 255; break;
            case 4: hue[0] = f, hue[1] = 0, hue[2] = 255; break;
            default: hue[0] = 255, hue[1] = 0, hue[2] = 255 - f; break;
            }
            const int sat = y * 255 / (height - 1);
            const int level = 20 + (x * 13 + y * 29) % 220;
            int c[3];
            for (int i = 0; i < 3; ++i) {
                noise ^= noise << 13;
                noise ^= noise >> 17;
                noise ^= noise << 5;
                const int v = (hue[i] * sat + level * (255 - sat)) / 255 + int(noise % 17) - 8;
                c[i] = v < 0 ? 0 : v > 255 ? 255 : v;
            }
            const int alpha = (x + 2 * y) % 7 == 0 ? (x * 37 + y * 11) % 256 : 255;
            p.at(x, y) = rgb(c[0], c[1], c[2], alpha);
        }
    }
    p.at(0, 0) = rgb(0, 0, 0);
    p.at(1, 0) = rgb(255, 255, 255);
    p.at(2, 0) = rgb(128, 128, 128);
    return p;
}

// Every level in every channel, in three orders: what a per-level table sees.
Picture ramp() {
    Picture p = filled(256, 3, rgb(0, 0, 0));
    for (int v = 0; v < 256; ++v) {
        p.at(v, 0) = rgb(v, v, v);
        p.at(v, 1) = rgb(v, 255 - v, (v * 3) & 255);
        p.at(v, 2) = rgb((v * 7) & 255, v, (v * 11 + 5) & 255);
    }
    return p;
}

// ---- cases ----------------------------------------------------------------------

struct Case {
    const char *name;        // the test's name: letters, digits, underscores
    const char *input;       // "photo.png", "photo.jpg" or "ramp.png"
    const char *output;      // its extension picks the writer
    std::vector<Call> calls;  // each writes the output anew; all outputs are hashed in turn
    const char *sha256;
};

std::ostream &operator<<(std::ostream &os, const Case &c) { return os << c.name; }

// One call for each of `count` values of a real parameter: first, first + step, ...
// (each value formed as first + step * i in float, the same on every platform).
template <class Adjust>
std::vector<Call> float_sweep(float first, float step, int count, Adjust adjust) {
    std::vector<Call> calls;
    for (int i = 0; i < count; ++i) {
        const float value = first + step * static_cast<float>(i);
        calls.push_back([=](const char *in, const char *out) { return adjust(in, out, value); });
    }
    return calls;
}

// One call for each int parameter value first, first + step, ... up to last.
template <class Adjust>
std::vector<Call> int_sweep(int first, int last, int step, Adjust adjust) {
    std::vector<Call> calls;
    for (int value = first; value <= last; value += step)
        calls.push_back([=](const char *in, const char *out) { return adjust(in, out, value); });
    return calls;
}

std::vector<Case> cases() {
    return {
        // Each adjustment on the photo, written as PNG.
        {"grayscale", "photo.png", "out.png", {velmora_grayscale},
         "5a4aedb8654aff00455871579c016b2bf15e7ad93b0958a059ef7fd7a3bf7d42"},
        {"sepia", "photo.png", "out.png", {velmora_sepia},
         "28c5d8e801554a14048a046407d674eeee750119f2d43953c38ccf453aeea27f"},
        {"invert", "photo.png", "out.png", {velmora_invert},
         "49d2379f0fac2b3ba471c6ad2aa15869c97769dfb65bc1adb655be5a9a2d2904"},
        // The other readers and writers.
        {"sepia_from_jpeg", "photo.jpg", "out.png", {velmora_sepia},
         "65cfb59898d0b5bef2df25ee6b4a6fb525b8db4f6ac4de34de5de5b4d782f26f"},
        {"grayscale_to_jpeg", "photo.png", "out.jpg", {velmora_grayscale},
         "84d405b726ec2e4eeb75b21a108fac58f08c29057195450e2062cb14f6406bfe"},
        {"invert_to_bmp", "photo.png", "out.bmp", {velmora_invert},
         "6eec64ea33ae8228f38e41ea72dec3bb7a1c06328d702b3e64c137a7285ef9b2"},
        {"sepia_keeps_jpeg", "photo.jpg", "out", {velmora_sepia},
         "7fb34ad1cc4548894daafe8710603bcb4219487c47dd97fe3355e61a417d1278"},
        // Tone adjustments.
        {"brightness", "photo.png", "out.png", int_sweep(-100, 100, 5, velmora_brightness),
         "83493cb662033726237ec85b5e1e2899fdf5e0014e03d0d2f836b7499a802eaa"},
        {"contrast", "photo.png", "out.png", int_sweep(-100, 100, 5, velmora_contrast),
         "6d4884ad6f5aea5c6c034b7e954fe3edfd84f8b1068948227d58d0a807e3f9b1"},
        {"gamma_sweep", "ramp.png", "out.png", float_sweep(0.1f, 0.002f, 2450, velmora_gamma),
         "5aafdf14fca3fca04eb2c3b143560f0b668ef07f53af8a848967a307be94a317"},
        {"gamma_ends", "ramp.png", "out.png",
         {[](const char *i, const char *o) { return velmora_gamma(i, o, 5.0f); },
          [](const char *i, const char *o) { return velmora_gamma(i, o, 1.0f); },
          [](const char *i, const char *o) { return velmora_gamma(i, o, 2.2f); },
          [](const char *i, const char *o) { return velmora_gamma(i, o, 1.0f / 2.2f); }},
         "7fecf97470dd9e5304cf8531d912a153394b6f362a9aa9d585e2a002bd7fee3c"},
        {"levels_gamma", "ramp.png", "out.png",
         float_sweep(0.1f, 0.01f, 490,
                     [](const char *i, const char *o, float g) {
                         return velmora_levels(i, o, 12, 240, g);
                     }),
         "bbe74c270fb1ef77ca9653fd4f54ff79223247aee1086e51aeed4d4a319c0136"},
        {"levels_points", "ramp.png", "out.png",
         int_sweep(0, 120, 8,
                   [](const char *i, const char *o, int black) {
                       return velmora_levels(i, o, black, 255 - black / 2, 0.8f);
                   }),
         "4472bfac33d3d7fee5a97191e639f67ec55810cce319776376865e574ecdb157"},
        {"auto_levels", "photo.png", "out.png", {velmora_auto_levels},
         "7a9ed6015c7891bbfb1e6657f8aa2423c482c06a8551d7cda79357544f4d2740"},
        {"curves", "ramp.png", "out.png",
         {[](const char *i, const char *o) {
              static const int xs[] = {0, 255}, ys[] = {30, 200};
              return velmora_curves(i, o, 2, xs, ys, 0);
          },
          [](const char *i, const char *o) {
              static const int xs[] = {0, 64, 128, 192, 255}, ys[] = {0, 40, 128, 220, 255};
              return velmora_curves(i, o, 5, xs, ys, 0);
          },
          [](const char *i, const char *o) {  // overshoots between close points
              static const int xs[] = {10, 20, 30, 200, 250}, ys[] = {0, 255, 0, 255, 128};
              return velmora_curves(i, o, 5, xs, ys, 0);
          },
          [](const char *i, const char *o) {  // red, green, blue
              static const int xs[] = {0, 128, 255, 0, 100, 255, 30, 60, 225};
              static const int ys[] = {0, 160, 255, 255, 50, 0, 0, 128, 255};
              return velmora_curves(i, o, 3, xs, ys, 3);
          }},
         "42aee53ff1b575025f3af45fcc6b206ceeb026046c0394e06f92ed0593cfd80a"},
        {"vignette", "photo.png", "out.png",
         {[](const char *i, const char *o) { return velmora_vignette(i, o, 100, 1); },
          [](const char *i, const char *o) { return velmora_vignette(i, o, 100, 50); },
          [](const char *i, const char *o) { return velmora_vignette(i, o, 35, 100); },
          [](const char *i, const char *o) { return velmora_vignette(i, o, 70, 73); },
          [](const char *i, const char *o) { return velmora_vignette(i, o, 0, 40); }},
         "0a0e32bbbc6d6410c546d251e5209a0de5dffb36a0edea90abe933e27b25927e"},
        // Colour adjustments.
        {"saturation", "photo.png", "out.png", int_sweep(-100, 100, 10, velmora_saturation),
         "474bb22795a4b7c695b06d2829654651e9357cedc0eeba6cfb19435973e52cdc"},
        {"hue", "photo.png", "out.png", int_sweep(-370, 370, 20, velmora_hue),
         "7f943a6093d1f381d37c5364de401c136c3968f5971cb740b4797f17c5dda328"},
        {"replace", "photo.png", "out.png",
         {[](const char *i, const char *o) { return velmora_replace(i, o, 0, 0, 0, 9, 99, 199, 0); },
          [](const char *i, const char *o) {
              return velmora_replace(i, o, 200, 60, 40, 10, 200, 30, 90);
          },
          [](const char *i, const char *o) {
              return velmora_replace(i, o, 128, 128, 128, 255, 0, 255, 255);
          }},
         "21057a3d3eef801b08db353c814fa2cf9844a825a8cd76ed8b7bbb07bec57d46"},
        {"colorize", "photo.png", "out.png",
         int_sweep(0, 100, 10,
                   [](const char *i, const char *o, int a) {
                       return velmora_colorize(i, o, 200, 120, 40, a);
                   }),
         "f229f5c1f521f6c7fd606609e8c92a2900099acec017b9c403bdfde0eb9e7a82"},
        {"white_balance", "photo.png", "out.png", int_sweep(-50, 50, 5, velmora_white_balance),
         "47dc0ea1e8132aaf16419abf8b99835a729c3c30c1bebec1bdaae0e1b2380bac"},
        {"color_balance", "photo.png", "out.png",
         {[](const char *i, const char *o) {
              return velmora_color_balance(i, o, 30, -20, 10, 0, 45, -60, -100, 5, 100);
          },
          [](const char *i, const char *o) {
              return velmora_color_balance(i, o, -100, 100, -100, 100, -100, 100, -1, 1, 0);
          },
          [](const char *i, const char *o) {
              return velmora_color_balance(i, o, 7, 13, -33, 51, -77, 99, 2, -3, 50);
          }},
         "9c9ab08164b68431101201b3c3cf141a350d78384ccd0d7d71b9ccdf8da5c360"},
        {"selective", "photo.png", "out.png",
         {[](const char *i, const char *o) {
              return velmora_selective(i, o, 0, 0, 30, 50, 0, -30, 0, 20, 10);
          },
          [](const char *i, const char *o) {
              return velmora_selective(i, o, 120, 25, 60, -100, 0, 100, -100, 0, 45);
          },
          [](const char *i, const char *o) {
              return velmora_selective(i, o, -120, 70, 180, 33, 33, -66, 10, 100, -100);
          },
          [](const char *i, const char *o) {
              return velmora_selective(i, o, 725, 100, 1, 100, 100, 100, 100, 100, 100);
          }},
         "02340b193918b80bdf19ac0f41e1f7e7f1d32da2586c9fddf297792deed15064"},
    };
}

// ---- the test -------------------------------------------------------------------

class BitExact : public ::testing::TestWithParam<Case> {};

TEST_P(BitExact, OutputMatchesRecordedDigest) {
    const Case &c = GetParam();
    Sandbox box;
    const Picture pic = photo(67, 45);
    write_png(box.path("photo.png"), pic);
    write_jpg(box.path("photo.jpg"), pic, 90);
    write_png(box.path("ramp.png"), ramp());

    const std::string in = box.path(c.input), out = box.path(c.output);
    Sha256 digest;
    for (size_t i = 0; i < c.calls.size(); ++i) {
        ASSERT_EQ(c.calls[i](in.c_str(), out.c_str()), 1) << "call " << i << ": " << last_error();
        const std::vector<uint8_t> bytes = read_bytes(out);
        ASSERT_FALSE(bytes.empty());
        digest.update(bytes.data(), bytes.size());
    }
    const std::string got = digest.hex();
    EXPECT_EQ(got, c.sha256) << "digest of " << c.name << " over " << c.calls.size()
                             << " call(s), to record in cases(): " << got;
}

TEST(BitExactCases, CoverEveryAdjustmentOfTheList) {
    // A case is named after its adjustment, alone or followed by "_".
    const std::vector<Case> all = cases();
    for (const velmora_list::Adjustment &adj : velmora_list::kAdjustments) {
        const std::string name = adj.name;
        bool found = false;
        for (const Case &c : all) {
            const std::string n = c.name;
            if (n == name || n.rfind(name + "_", 0) == 0) found = true;
        }
        EXPECT_TRUE(found) << "no bit-exact case for " << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, BitExact, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case> &info) {
                             return std::string(info.param.name);
                         });

}  // namespace
