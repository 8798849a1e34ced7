// What an output keeps of its input beyond the pixels: the ICC colour
// profile, the EXIF orientation and the resolution, and nothing else. Read
// from JPEG or PNG bytes by a bounded parser that treats anything malformed
// as absent; written back as JPEG segments or PNG chunks. Internal.
#ifndef VELMORA_METADATA_H
#define VELMORA_METADATA_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "input_file.h"

namespace velmora {

// Resolution units as TIFF numbers them.
enum ResolutionUnit { UNIT_INCH = 2, UNIT_CENTIMETRE = 3 };

struct Resolution {
    uint32_t x_num = 0, x_den = 1, y_num = 0, y_den = 1;  // pixels per unit, as rationals
    int unit = UNIT_INCH;
};

struct Metadata {
    std::vector<unsigned char> icc;  // an RGB profile, whole, or empty
    std::string icc_name;            // PNG's profile name, when the input had one
    int orientation = 1;             // EXIF 1..8; 1 is upright
    bool has_resolution = false;
    Resolution resolution;

    bool empty() const { return icc.empty() && orientation == 1 && !has_resolution; }
};

// The three from JPEG or PNG bytes (anything else: none). Never reads past
// `size`, never fails: what is malformed is left out.
Metadata read_metadata(const unsigned char *bytes, size_t size);

// The same from a source read in pieces: for a PNG only the chunk headers
// and the chunks kept are read (an eXIf after the image data counts too); a
// JPEG is read whole (src.whole()), as its reader reads it.
Metadata read_metadata(InputSource &src);

// APP1 Exif (orientation 2..8, resolution) and APP2 ICC_PROFILE segments,
// to follow the writer's APP0; empty when there is nothing to keep.
std::vector<unsigned char> jpeg_metadata_segments(const Metadata &meta);

// iCCP, pHYs and eXIf (orientation 2..8) chunks, to follow IHDR; empty when
// there is nothing to keep.
std::vector<unsigned char> png_metadata_chunks(const Metadata &meta);

// Where the segments or chunks go in a file as our writers begin it: after
// SOI and the 16-byte APP0 of JPEG, after the signature and IHDR of PNG.
constexpr size_t kJpegMetadataOffset = 20;
constexpr size_t kPngMetadataOffset = 33;

// The largest profile kept (inflated size): what 255 JPEG segments hold.
constexpr size_t kMaxProfile = 255 * 65519;

}  // namespace velmora

#endif
