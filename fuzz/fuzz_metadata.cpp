// The metadata reader under fuzzing: any bytes as a JPEG or PNG file (the
// first byte picks which signature leads), then the segments and chunks
// written back from what was read, read once more. Whatever the input, the
// reader stays inside it, and what it keeps survives its own round trip.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "metadata.h"

using velmora::Metadata;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool same(const Metadata &a, const Metadata &b) {
    return a.icc == b.icc && a.orientation == b.orientation &&
           a.has_resolution == b.has_resolution;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    static const uint8_t kJpeg[] = {0xFF, 0xD8};
    static const uint8_t kPng[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    // An exact-size heap copy, so that a read past the end is caught.
    const bool png = data[0] & 1;
    std::vector<uint8_t> file(png ? kPng : kJpeg, png ? kPng + 8 : kJpeg + 2);
    file.insert(file.end(), data + 1, data + size);
    uint8_t *copy = static_cast<uint8_t *>(std::malloc(file.size()));
    std::memcpy(copy, file.data(), file.size());
    const Metadata meta = velmora::read_metadata(copy, file.size());
    std::free(copy);

    check(meta.orientation >= 1 && meta.orientation <= 8);
    check(meta.icc.empty() || (meta.icc.size() >= 128 && meta.icc.size() <= velmora::kMaxProfile));

    // Written back behind a bare signature, what was kept reads back alike
    // (PNG carries no resolution in EXIF, JPEG none in pHYs: each its own).
    std::vector<uint8_t> again(kJpeg, kJpeg + 2);
    const std::vector<unsigned char> seg = velmora::jpeg_metadata_segments(meta);
    again.insert(again.end(), seg.begin(), seg.end());
    check(same(velmora::read_metadata(again.data(), again.size()), meta));
    std::vector<uint8_t> png_again(kPng, kPng + 8);
    const std::vector<unsigned char> chunks = velmora::png_metadata_chunks(meta);
    png_again.insert(png_again.end(), chunks.begin(), chunks.end());
    const Metadata back = velmora::read_metadata(png_again.data(), png_again.size());
    check(back.icc == meta.icc && back.orientation == meta.orientation &&
          back.has_resolution == meta.has_resolution);
    return 0;
}
