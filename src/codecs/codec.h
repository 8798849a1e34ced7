// The codec: decoding any accepted file to RGBA, encoding RGBA in one of the
// three formats. The only unit that sees stb (zlib.h declares its zlib
// calls). Internal.
#ifndef VELMORA_CODEC_H
#define VELMORA_CODEC_H

#include <memory>

#include "image.h"
#include "input_file.h"
#include "metadata.h"
#include "output_file.h"
#include "row_reader.h"
#include "row_source.h"

namespace velmora {

// Which writer makes the file. The reference is stb_image_write itself; our
// own writers emit exactly its bytes, faster, and are tested against it. A
// build with VELMORA_REFERENCE_WRITERS gives the reference to the exports.
enum class Writer { reference, fast };

#if defined(VELMORA_REFERENCE_WRITERS)
constexpr Writer kDefaultWriter = Writer::reference;
#else
constexpr Writer kDefaultWriter = Writer::fast;
#endif

// Which reader decodes PNG and JPEG. The reference is stb_image itself, the
// definition of what a file decodes to; our own readers give exactly its
// pixels and refusals, faster, and are tested against it. A build with
// VELMORA_REFERENCE_READERS gives the reference to the exports. BMP is always
// read by the reference.
enum class Reader { reference, fast };

#if defined(VELMORA_REFERENCE_READERS)
constexpr Reader kDefaultReader = Reader::reference;
#else
constexpr Reader kDefaultReader = Reader::fast;
#endif

// Whether a PNG's checksums are tested: the CRC of every chunk that decides
// the pixels and the Adler-32 of the image data. The reference tests
// neither; `ignore` gives its outcome exactly, for comparing the readers.
enum class Checksums { verify, ignore };

// Opens a file to be read a band of rows at a time: with our reader where it
// takes the file, else decoded whole by the reference now and handed out
// from memory. Null with `*reason` (as decode_rgba gives it) when the file
// is refused at once; a refusal found later comes from the reader's
// reason(), through decode_reason_text.
std::unique_ptr<RowReader> open_rows(const unsigned char *bytes, int size, const char **reason,
                                     Reader reader = kDefaultReader,
                                     Checksums checksums = Checksums::verify);

// The same from a source read in pieces: a PNG our reader takes is read
// through `src` as the rows are asked for, never held whole (the reader keeps
// a reference: `src` must outlive it); every other file is read whole by
// src.whole() and goes the way above. The outcomes are the same as for the
// file's bytes in memory, except that a source whose reads fail refuses the
// file with kInputReadFailed.
std::unique_ptr<RowReader> open_rows(InputSource &src, const char **reason,
                                     Reader reader = kDefaultReader,
                                     Checksums checksums = Checksums::verify);

// The whole picture of a reader not yet read from, as decode_rgba gives it
// (freed with free()); null with `*reason` when the file is refused.
unsigned char *read_picture(RowReader &rows, const char **reason);

// A reader's reason as decode_rgba gives it: one printable line.
const char *decode_reason_text(const char *reason);

// Decodes to 8-bit RGBA. On failure returns null and sets `*reason`: a short
// printable line, valid until this thread's next decode, or null when the
// decoder gave none. Files the decoder would mishandle are refused here.
unsigned char *decode_rgba(const unsigned char *bytes, int size, int *width, int *height,
                           const char **reason, Reader reader = kDefaultReader,
                           Checksums checksums = Checksums::verify);

// Encodes RGBA pixels into `out`: JPEG at quality 92, PNG at the writer's
// defaults, or BMP. Nonzero on success; a JPEG side over kMaxJpegSide fails.
// With `meta`, its segments (JPEG) or chunks (PNG) go in after the header;
// BMP keeps none.
int encode_to_stream(ImageFormat format, int width, int height, const unsigned char *pixels,
                     OutputStream &out, const Metadata *meta = nullptr,
                     Writer writer = kDefaultWriter);

// The same from rows handed out by `rows`: our writers take them a few at a
// time (the PNG writer streams its output where `out` can patch, and may ask
// for the rows twice: see write_png_rows), BMP and the reference writers
// collect the whole picture first. 0 as well when `rows` gives none.
int encode_to_stream(ImageFormat format, int width, int height, RowSource &rows,
                     OutputStream &out, const Metadata *meta = nullptr,
                     Writer writer = kDefaultWriter);

}  // namespace velmora

#endif
