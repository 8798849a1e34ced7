// The JPEG writer against stb_image_write's under fuzzing: random sizes and
// pixels go to both, and every path of ours must write stb's bytes exactly,
// from the whole picture and from strips of rows.
// Input: two little-endian 16-bit numbers give the width and height (each
// 1..300), the rest are the RGBA pixels, repeated to fill the picture. The
// pixel count is held to 64 + 16 per pixel byte given, so that small inputs
// stay fast and large pictures need large inputs. A difference aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "copied_rows.h"
#include "jpeg_writer.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace {

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) return 0;
    const int width = 1 + (data[0] | data[1] << 8) % 300;
    int height = 1 + (data[2] | data[3] << 8) % 300;
    const uint8_t *pixels = data + 4;
    const size_t given = size - 4;
    const size_t most = 64 + 16 * given;
    if (static_cast<size_t>(width) * height > most) height = static_cast<int>(most / width) + 1;
    if (height > 300) height = 300;

    std::vector<unsigned char> rgba(static_cast<size_t>(width) * height * 4, 0);
    if (given > 0)
        for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = pixels[i % given];

    std::vector<unsigned char> expected;
    if (!stbi_write_jpg_to_func(velmora::append_to_vector_stb, &expected, width, height, 4, rgba.data(), 92)) {
        std::fprintf(stderr, "stb refused %dx%d\n", width, height);
        std::abort();
    }
    for (velmora::Isa isa : velmora::available_isas()) {
        std::vector<unsigned char> got;
        const int ok = velmora::write_jpeg_q92(velmora::append_to_vector, &got, width, height, rgba.data(), isa);
        if (ok != 1 || got != expected) {
            std::fprintf(stderr, "%dx%d on %s: %s\n", width, height, velmora::isa_name(isa),
                         ok != 1 ? "refused" : "bytes differ from stb's");
            std::abort();
        }
        // The same from strips of rows copied into the source's own block.
        CopiedRows rows(rgba.data(), width, height, false);
        got.clear();
        if (velmora::write_jpeg_q92_rows(velmora::append_to_vector, &got, width, height, rows, isa) != 1 ||
            got != expected) {
            std::fprintf(stderr, "%dx%d on %s: strips differ from stb's\n", width, height,
                         velmora::isa_name(isa));
            std::abort();
        }
    }
    return 0;
}
