// The codec: decoding any accepted file to RGBA, encoding RGBA in one of the
// three formats. The only unit that sees stb. Internal.
#ifndef VELMORA_CODEC_H
#define VELMORA_CODEC_H

#include <cstddef>
#include <vector>

#include "image.h"
#include "metadata.h"
#include "output_file.h"

namespace velmora {

// Decodes to 8-bit RGBA. On failure returns null and sets `*reason`: a short
// printable line, valid until this thread's next decode, or null when the
// decoder gave none. Files the decoder would mishandle are refused here.
unsigned char *decode_rgba(const unsigned char *bytes, int size, int *width, int *height,
                           const char **reason);

// Encodes RGBA pixels into `out`: JPEG at quality 92, PNG at the writer's
// defaults, or BMP. Nonzero on success; a JPEG side over kMaxJpegSide fails.
// With `meta`, its segments (JPEG) or chunks (PNG) go in after the header;
// BMP keeps none.
int encode_to_stream(ImageFormat format, int width, int height, const unsigned char *pixels,
                     OutputStream &out, const Metadata *meta = nullptr,
                     Writer writer = kDefaultWriter);

// A zlib stream inflated into `out`, refused if it would exceed `max_out`.
bool zlib_inflate(const unsigned char *data, size_t size, size_t max_out,
                  std::vector<unsigned char> &out);

// Bytes compressed into a zlib stream, as the PNG writer compresses.
bool zlib_deflate(const unsigned char *data, size_t size, std::vector<unsigned char> &out);

}  // namespace velmora

#endif
