// The codec: decoding any accepted file to RGBA, encoding RGBA in one of the
// three formats. The only unit that sees stb. Internal.
#ifndef VELMORA_CODEC_H
#define VELMORA_CODEC_H

#include "image.h"
#include "output_file.h"

namespace velmora {

// Decodes to 8-bit RGBA. On failure returns null and sets `*reason`: a short
// printable line, valid until this thread's next decode, or null when the
// decoder gave none. Files the decoder would mishandle are refused here.
unsigned char *decode_rgba(const unsigned char *bytes, int size, int *width, int *height,
                           const char **reason);

// Encodes RGBA pixels into `out`: JPEG at quality 92, PNG at the writer's
// defaults, or BMP. Nonzero on success; a JPEG side over kMaxJpegSide fails.
int encode_to_stream(ImageFormat format, int width, int height, const unsigned char *pixels,
                     OutputStream &out);

}  // namespace velmora

#endif
