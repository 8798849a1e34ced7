// The one unit that compiles stb_image and stb_image_write. Both are static to
// this file, so no stbi_* symbol can reach the library's exports, and only the
// three readers the pipeline accepts are built, decoding from memory only.
#include "frame.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#include <stb_image.h>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace velmora {

unsigned char *decode_rgba(const unsigned char *bytes, int size, int *width, int *height,
                           const char **reason) {
    int w = 0, h = 0, channels = 0;
    unsigned char *pixels = stbi_load_from_memory(bytes, size, &w, &h, &channels, 4);
    if (!pixels) {
        *reason = stbi_failure_reason();
        return nullptr;
    }
    *width = w;
    *height = h;
    return pixels;
}

static void append_to_output(void *context, void *data, int size) {
    if (size > 0) static_cast<MemoryOutput *>(context)->append(data, static_cast<size_t>(size));
}

int encode_to_memory(ImageFormat format, int width, int height, const unsigned char *pixels,
                     MemoryOutput &out) {
    switch (format) {
    case FORMAT_JPEG:
        // The JPEG header holds 16-bit sizes; the writer would silently wrap them.
        if (width > 65535 || height > 65535) return 0;
        return stbi_write_jpg_to_func(append_to_output, &out, width, height, 4, pixels, 92);
    case FORMAT_PNG:
        return stbi_write_png_to_func(append_to_output, &out, width, height, 4, pixels,
                                      width * 4);
    default:
        return stbi_write_bmp_to_func(append_to_output, &out, width, height, 4, pixels);
    }
}

}  // namespace velmora
