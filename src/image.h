// The decoded picture and the file formats. Internal.
#ifndef VELMORA_IMAGE_H
#define VELMORA_IMAGE_H

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace velmora {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
// A malloc'd byte buffer, freed when it goes out of scope.
using Buffer = std::unique_ptr<unsigned char[], FreeDeleter>;

// Asks for huge pages for a large block not yet touched. On a 24-megapixel
// picture the faults on fresh small pages cost as much as decoding it; huge
// pages make them 512 times fewer. Linux only; elsewhere, and where the
// system declines, nothing changes.
void advise_huge_pages(void *block, size_t size);

struct Image {
    int32_t width;
    int32_t height;
    unsigned char *pixels;  // width * height * 4 bytes, RGBA, rows top to bottom
};

// Pixel count, formed in 64 bits.
inline uint64_t pixel_count(const Image &img) {
    return static_cast<uint64_t>(img.width) * static_cast<uint64_t>(img.height);
}

enum ImageFormat { FORMAT_UNKNOWN = 0, FORMAT_JPEG = 1, FORMAT_PNG = 2, FORMAT_BMP = 3 };

// JPEG stores each side in 16 bits.
constexpr int kMaxJpegSide = 65535;

// Which writer makes the file. The reference is stb_image_write itself; our
// own writers emit exactly its bytes, faster, and are tested against it. A
// build with VELMORA_REFERENCE_WRITERS gives the reference to the exports.
enum class Writer { reference, fast };

#if defined(VELMORA_REFERENCE_WRITERS)
constexpr Writer kDefaultWriter = Writer::reference;
#else
constexpr Writer kDefaultWriter = Writer::fast;
#endif

}  // namespace velmora

#endif
