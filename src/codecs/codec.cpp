// The one unit that compiles stb_image and stb_image_write. Both are static to
// this file, so no stbi_* symbol can reach the library's exports, and only the
// three readers the pipeline accepts are built, decoding from memory only.
//
// Input files come from anywhere. The reader is the hardened copy made at
// configure time (cmake/stb_image-2.27-hardening.patch); on top of it, this
// file makes every allocation of the decoder zero-filled and keeps its
// internal assertions from ever aborting the host.
#include "codec.h"
#include "zlib.h"

#include "jpeg_reader.h"
#include "jpeg_writer.h"
#include "png_container.h"
#include "png_reader.h"
#include "png_writer.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <utility>

// Zero-filled memory: a corrupt file that makes the decoder read state it
// never wrote (Huffman tables of a JPEG that never defined them, for one)
// then reads zeros, the same on every run, never an earlier call's data.
// The pixel buffer handed to the pipeline is freed with free(): calloc keeps
// that valid. Growing takes a new calloc block rather than realloc and a
// memset of the new part, so that a large block stays untouched zero pages
// until the data really fills it.
// A large block is still untouched when calloc returns, so huge pages can
// be asked for.
static void *zeroed_alloc(size_t size) {
    void *p = std::calloc(1, size);
    if (p) velmora::advise_huge_pages(p, size);
    return p;
}
static void *zeroed_realloc(void *p, size_t old_size, size_t new_size) {
    if (new_size <= old_size) return std::realloc(p, new_size);
    void *q = zeroed_alloc(new_size);
    if (!q) return nullptr;  // `p` stays valid, as with realloc
    if (p) std::memcpy(q, p, old_size);
    std::free(p);
    return q;
}
#define STBI_MALLOC(size) zeroed_alloc(size)
#define STBI_REALLOC_SIZED(p, old_size, new_size) zeroed_realloc(p, old_size, new_size)
#define STBI_FREE(p) std::free(p)

// A broken assumption inside the decoder must not abort the host: decoding
// carries on as in a build without assertions, and the result is refused.
static thread_local bool t_decoder_confused = false;
#define STBI_ASSERT(x) ((x) ? (void)0 : (void)(t_decoder_confused = true))

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
// GCC warns, after inlining, that the callback reader's fields may be unset:
// that reader is never used when decoding from memory.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <stb_image.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#ifndef STBI_HARDENED
#error "stb_image.h is not the hardened copy from the build tree"
#endif

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace velmora {

// The decoder's reason as one printable line for our message: bytes outside
// printable ASCII (a PNG chunk's name is copied in raw) become '?', and an
// empty text becomes a word of ours. Kept per thread, like the decoder's own.
static const char *printable_reason(const char *text) {
    static thread_local char line[64];
    if (!text) return nullptr;
    size_t n = 0;
    for (; text[n] != '\0' && n + 1 < sizeof line; ++n) {
        const unsigned char c = static_cast<unsigned char>(text[n]);
        line[n] = (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    line[n] = '\0';
    return n ? line : "corrupt";
}

// One of our readers for the file's format; null when it leaves the file to
// the reference (`*reason` null) or refuses it (`*reason` set).
static std::unique_ptr<RowReader> open_fast_reader(const unsigned char *bytes, size_t size,
                                                   const char **reason, Checksums checksums) {
    *reason = nullptr;
    switch (detect_format(bytes, size)) {
    case FORMAT_PNG:
        return open_png_reader(bytes, size, reason, checksums == Checksums::verify);
    case FORMAT_JPEG: return open_jpeg_reader(bytes, size, reason);
    default: return nullptr;
    }
}

const char *decode_reason_text(const char *reason) { return printable_reason(reason); }

namespace {

// A picture the reference decoded whole, handed out in rows like our
// readers' (the pixels are copied: the whole-picture callers take the
// decoded block itself instead).
class DecodedRows final : public RowReader {
public:
    DecodedRows(Buffer pixels, int width, int height) : pixels_(std::move(pixels)) {
        width_ = width;
        height_ = height;
    }
    int band_rows() const override { return 16; }
    bool read_rows(unsigned char *out, size_t stride, int count) override {
        const size_t row_bytes = static_cast<size_t>(width_) * 4;
        for (int i = 0; i < count && row_ < height_; ++i, ++row_)
            std::memcpy(out + static_cast<size_t>(i) * stride,
                        pixels_.get() + static_cast<size_t>(row_) * row_bytes, row_bytes);
        return true;
    }
    Buffer take() { return std::move(pixels_); }

private:
    Buffer pixels_;
    int row_ = 0;
};

// The reference decoder on the whole file; null with `*reason` when it
// refuses it.
unsigned char *decode_with_reference(const unsigned char *bytes, int size, int *width,
                                     int *height, const char **reason, bool verify) {
    // A reason left on this thread by an earlier file is not this file's.
    stbi__g_failure_reason = nullptr;
    t_decoder_confused = false;
    int w = 0, h = 0, channels = 0;
    Buffer pixels(stbi_load_from_memory(bytes, size, &w, &h, &channels, 4));
    if (!pixels) {
        const char *why = stbi_failure_reason();
        // A JPEG refusal stb gives no reason for leaves its PNG probe's text.
        if (why && std::strcmp(why, "bad png sig") == 0 &&
            detect_format(bytes, static_cast<uint64_t>(size)) == FORMAT_JPEG)
            why = kJpegUnnamedRefusal;
        *reason = printable_reason(why);
        return nullptr;
    }
    if (t_decoder_confused) {
        *reason = "inconsistent data";
        return nullptr;
    }
    // The BMP reader accepts a width or height of 0; nothing can be written of it.
    if (w == 0 || h == 0) {
        *reason = "0-pixel image";
        return nullptr;
    }
    // Nor does stb test the zlib stream's Adler-32: the stream is inflated
    // once more, by our inflate, for that alone (this path's speed matters
    // less than its outcome).
    if (verify && detect_format(bytes, static_cast<uint64_t>(size)) == FORMAT_PNG &&
        png_zlib_checksum_wrong(bytes, static_cast<size_t>(size))) {
        *reason = "bad zlib checksum";
        return nullptr;
    }
    *width = w;
    *height = h;
    return pixels.release();
}

}  // namespace

std::unique_ptr<RowReader> open_rows(const unsigned char *bytes, int size, const char **reason,
                                     Reader reader, Checksums checksums) {
    *reason = nullptr;
    // stb checks no CRC: a flipped byte in the image data would decode to a
    // damaged picture and a call that reports success.
    const bool verify = checksums == Checksums::verify;
    if (verify && png_pixel_chunks_damaged(bytes, static_cast<size_t>(size))) {
        *reason = "bad CRC";
        return nullptr;
    }
    if (reader == Reader::fast && size > 0) {
        std::unique_ptr<RowReader> rows =
            open_fast_reader(bytes, static_cast<size_t>(size), reason, checksums);
        if (rows) return rows;
        if (*reason) {
            *reason = printable_reason(*reason);
            return nullptr;
        }
    }
    int w = 0, h = 0;
    Buffer pixels(decode_with_reference(bytes, size, &w, &h, reason, verify));
    if (!pixels) return nullptr;
    return std::make_unique<DecodedRows>(std::move(pixels), w, h);
}

std::unique_ptr<RowReader> open_rows(InputSource &src, const char **reason, Reader reader,
                                     Checksums checksums) {
    *reason = nullptr;
    unsigned char head[8] = {0};
    const size_t n = static_cast<size_t>(std::min<uint64_t>(src.size(), sizeof head));
    if (reader == Reader::fast && n > 0 && src.read_at(0, head, n) &&
        detect_format(head, src.size()) == FORMAT_PNG) {
        std::unique_ptr<RowReader> rows =
            open_png_reader(src, reason, checksums == Checksums::verify);
        if (rows) return rows;
        if (*reason) {
            *reason = printable_reason(*reason);
            return nullptr;
        }
    }
    // Everything else (and a PNG our reader leaves to the reference) whole.
    const unsigned char *bytes = src.whole();
    if (!bytes || src.size() > static_cast<uint64_t>(INT_MAX)) {
        *reason = kInputReadFailed;
        return nullptr;
    }
    return open_rows(bytes, static_cast<int>(src.size()), reason, reader, checksums);
}

unsigned char *read_picture(RowReader &rows, const char **reason) {
    if (auto *decoded = dynamic_cast<DecodedRows *>(&rows)) return decoded->take().release();
    // Our reader: the whole picture as one band.
    const size_t stride = static_cast<size_t>(rows.width()) * 4;
    Buffer pixels(static_cast<unsigned char *>(
        zeroed_alloc(stride * static_cast<size_t>(rows.height()))));
    if (!pixels) {
        *reason = "outofmem";
        return nullptr;
    }
    if (!rows.read_rows(pixels.get(), stride, rows.height())) {
        *reason = printable_reason(rows.reason());
        return nullptr;
    }
    return pixels.release();
}

unsigned char *decode_rgba(const unsigned char *bytes, int size, int *width, int *height,
                           const char **reason, Reader reader, Checksums checksums) {
    std::unique_ptr<RowReader> rows = open_rows(bytes, size, reason, reader, checksums);
    if (!rows) return nullptr;
    unsigned char *pixels = read_picture(*rows, reason);
    if (pixels) {
        *width = rows->width();
        *height = rows->height();
    }
    return pixels;
}

namespace {

// Where the encoded bytes go: the stream, with `extra` (the kept metadata)
// put in after the first `at` bytes, however the writer cuts its output
// into pieces.
struct Destination {
    OutputStream *out;
    const std::vector<unsigned char> *extra;
    size_t at;
    size_t seen = 0;
    bool done = false;

    void add(const unsigned char *p, size_t n) {
        if (!done && !extra->empty() && seen + n >= at) {
            const size_t head = at - seen;
            out->append(p, head);
            out->append(extra->data(), extra->size());
            seen += head;
            p += head;
            n -= head;
            done = true;
        }
        seen += n;
        out->append(p, n);
    }

    // Where the writer's byte `offset` is in the stream: past the metadata
    // once that is in.
    size_t place(size_t offset) const {
        return done && offset >= at ? offset + extra->size() : offset;
    }

    // The two writers' callbacks: stb's, and ours, which may stop early.
    static void from_stb(void *context, void *data, int size) {
        if (size > 0)
            static_cast<Destination *>(context)->add(static_cast<const unsigned char *>(data),
                                                     static_cast<size_t>(size));
    }
    static bool from_ours(void *context, const unsigned char *bytes, size_t size) {
        Destination &d = *static_cast<Destination *>(context);
        d.add(bytes, size);
        return d.out->ok();
    }
    static bool patch(void *context, size_t offset, const unsigned char *bytes, size_t size) {
        Destination &d = *static_cast<Destination *>(context);
        if (d.done && offset < d.at && offset + size > d.at) return false;  // across the metadata
        return d.out->patch(d.place(offset), bytes, size);
    }
    static bool truncate(void *context, size_t offset) {
        Destination &d = *static_cast<Destination *>(context);
        if (offset > d.seen) return false;
        const size_t to = d.place(offset);
        if (offset < d.at) d.done = false;  // the metadata goes again, where it belongs
        d.seen = offset;
        return d.out->truncate(to);
    }
};

// The whole picture from `rows`, for the writers that want it at once.
Buffer collect_rows(RowSource &rows, int width, int height) {
    const size_t stride = static_cast<size_t>(width) * 4;
    Buffer pixels(static_cast<unsigned char *>(std::malloc(stride * static_cast<size_t>(height))));
    for (int y = 0; pixels && y < height; ++y) {
        const unsigned char *row = rows.next_rows(1);
        if (!row) return Buffer();
        std::memcpy(pixels.get() + stride * static_cast<size_t>(y), row, stride);
    }
    return pixels;
}

// stb_image_write's writers, the whole picture at once.
int encode_with_stb(ImageFormat format, int width, int height, const unsigned char *pixels,
                    Destination &to) {
    switch (format) {
    case FORMAT_JPEG:
        return stbi_write_jpg_to_func(Destination::from_stb, &to, width, height, 4, pixels, 92);
    case FORMAT_PNG:
        return stbi_write_png_to_func(Destination::from_stb, &to, width, height, 4, pixels,
                                      width * 4);
    default:
        return stbi_write_bmp_to_func(Destination::from_stb, &to, width, height, 4, pixels);
    }
}

std::vector<unsigned char> metadata_for(ImageFormat format, const Metadata *meta) {
    std::vector<unsigned char> extra;
    if (meta && !meta->empty()) {
        if (format == FORMAT_JPEG) extra = jpeg_metadata_segments(*meta);
        else if (format == FORMAT_PNG) extra = png_metadata_chunks(*meta);
    }
    return extra;
}

size_t metadata_offset(ImageFormat format) {
    return format == FORMAT_JPEG ? kJpegMetadataOffset : kPngMetadataOffset;
}

}  // namespace

int encode_to_stream(ImageFormat format, int width, int height, RowSource &rows,
                     OutputStream &out, const Metadata *meta, Writer writer) {
    // The JPEG header holds 16-bit sizes; the writer would silently wrap them.
    if (format == FORMAT_JPEG && (width > kMaxJpegSide || height > kMaxJpegSide)) return 0;
    if (width <= 0 || height <= 0) return 0;
    const std::vector<unsigned char> extra = metadata_for(format, meta);
    Destination to{&out, &extra, metadata_offset(format)};
    if (writer == Writer::fast && format == FORMAT_JPEG)
        return write_jpeg_q92_rows(Destination::from_ours, &to, width, height, rows);
    if (writer == Writer::fast && format == FORMAT_PNG) {
        const bool rewrite = out.can_rewrite();
        return write_png_rows(Destination::from_ours, &to, width, height, rows, Isa::best,
                              rewrite ? Destination::patch : nullptr,
                              rewrite ? Destination::truncate : nullptr);
    }
    // BMP and the reference writers take the picture whole.
    Buffer pixels = collect_rows(rows, width, height);
    if (!pixels) return 0;
    return encode_with_stb(format, width, height, pixels.get(), to);
}

int encode_to_stream(ImageFormat format, int width, int height, const unsigned char *pixels,
                     OutputStream &out, const Metadata *meta, Writer writer) {
    if (writer == Writer::fast && (format == FORMAT_JPEG || format == FORMAT_PNG)) {
        if (!pixels || width <= 0 || height <= 0) return 0;
        WholeImageRows rows(pixels, width, height);
        return encode_to_stream(format, width, height, rows, out, meta, writer);
    }
    if (format == FORMAT_JPEG && (width > kMaxJpegSide || height > kMaxJpegSide)) return 0;
    const std::vector<unsigned char> extra = metadata_for(format, meta);
    Destination to{&out, &extra, metadata_offset(format)};
    return encode_with_stb(format, width, height, pixels, to);
}

bool zlib_inflate(const unsigned char *data, size_t size, size_t max_out,
                  std::vector<unsigned char> &out) {
    if (size == 0 || size > static_cast<size_t>(INT_MAX)) return false;
    // Deflate expands at most 1032-fold: no larger buffer is ever needed.
    size_t room = max_out;
    if (size < room / 1032) room = size * 1032;
    out.resize(room);
    const int n = stbi_zlib_decode_buffer(reinterpret_cast<char *>(out.data()),
                                          static_cast<int>(room),
                                          reinterpret_cast<const char *>(data),
                                          static_cast<int>(size));
    if (n < 0) {
        out.clear();
        return false;
    }
    out.resize(static_cast<size_t>(n));
    return true;
}

bool zlib_deflate(const unsigned char *data, size_t size, std::vector<unsigned char> &out) {
    if (size > static_cast<size_t>(INT_MAX)) return false;
    int n = 0;
    Buffer packed(stbi_zlib_compress(const_cast<unsigned char *>(data), static_cast<int>(size),
                                     &n, stbi_write_png_compression_level));
    if (!packed || n < 0) return false;
    out.assign(packed.get(), packed.get() + n);
    return true;
}

}  // namespace velmora
