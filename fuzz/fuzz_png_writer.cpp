// The PNG writer against stb_image_write under fuzzing: the input's first
// four bytes choose the size (at most 128 x 64, to keep the runs fast), how the pixels are made
// from the rest, which instruction set runs, and how the rows reach the
// writer a second time; both writers must give the same bytes, and the zlib stream of the input itself must match too. Any
// difference aborts, so that the fuzzer keeps the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "copied_rows.h"
#include "png_writer.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace {

[[noreturn]] void fail(const char *what, int w, int h) {
    std::fprintf(stderr, "fuzz_png_writer: %s differ (%d x %d)\n", what, w, h);
    std::abort();
}

// Pixels from the input bytes, four ways: the bytes as they are (mostly
// noise: the stored form), running sums (smooth, every filter in play), a
// four-colour palette (long matches), and rows that repeat.
std::vector<unsigned char> make_pixels(int mode, int w, int h, const uint8_t *b, size_t n) {
    std::vector<unsigned char> px(size_t(w) * h * 4);
    if (n == 0) return px;
    const size_t row = size_t(w) * 4;
    unsigned sum = 0;
    for (size_t k = 0; k < px.size(); ++k) {
        const uint8_t v = b[k % n];
        switch (mode) {
        case 0: px[k] = v; break;
        case 1: sum += v >> 5; px[k] = uint8_t(sum + (k % 4) * 60); break;
        case 2: {
            static const uint8_t palette[4][4] = {
                {0, 0, 0, 255}, {255, 255, 255, 255}, {200, 30, 30, 128}, {0, 0, 0, 0}};
            px[k] = palette[b[(k / 4) % n] & 3][k % 4];
            break;
        }
        default: {
            const size_t period = 1 + b[0] % 7;
            px[k] = k >= row * period ? px[k - row * period] : v;
            break;
        }
        }
    }
    return px;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) return 0;
    const int w = 1 + data[0] % 128, h = 1 + data[1] % 64;
    const int mode = data[2] & 3;
    const velmora::Isa isas[] = {velmora::Isa::best, velmora::Isa::scalar, velmora::Isa::sse2,
                                 velmora::Isa::avx2};
    velmora::Isa isa = isas[(data[2] >> 2) & 3];
    if (!velmora::isa_available(isa)) isa = velmora::Isa::best;
    const std::vector<unsigned char> px = make_pixels(mode, w, h, data + 4, size - 4);

    std::vector<unsigned char> want, got;
    if (!stbi_write_png_to_func(velmora::append_to_vector_stb, &want, w, h, 4, px.data(), w * 4)) return 0;
    if (velmora::write_png_rgba(velmora::append_to_vector, &got, w, h, px.data(), isa) != 1 || got != want)
        fail("PNG files", w, h);
    // The same from rows copied a row at a time, streamed to an output that
    // patches or held, from a source that can rewind or not.
    const bool patches = data[3] & 1, rewinds = data[3] & 2;
    CopiedRows rows(px.data(), w, h, rewinds);
    std::vector<unsigned char> streamed;
    if (velmora::write_png_rows(velmora::append_to_vector, &streamed, w, h, rows, isa,
                                patches ? velmora::patch_vector : nullptr,
                                patches ? velmora::truncate_vector : nullptr) != 1 ||
        streamed != want)
        fail("PNG files from rows", w, h);

    int len = 0;
    unsigned char *z = stbi_zlib_compress(const_cast<unsigned char *>(data), int(size), &len, 8);
    std::vector<unsigned char> ours;
    const bool same = z && velmora::zlib_compress_q8(data, size, ours) &&
                      ours.size() == size_t(len) && std::memcmp(ours.data(), z, ours.size()) == 0;
    STBIW_FREE(z);
    if (!same) fail("zlib streams", w, h);
    return 0;
}
