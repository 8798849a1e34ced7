// Internal frame shared by every adjustment: the error text, the image record,
// the file pipeline and the generic driver. Nothing here is exported.
#ifndef VELMORA_FRAME_H
#define VELMORA_FRAME_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "velmora.h"

#if defined(__GNUC__)
#define VELMORA_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VELMORA_PRINTF(fmt, args)
#endif

namespace velmora {

// ---- error text -------------------------------------------------------------

// Formats into the process-wide last-error buffer, cut at 511 characters.
void set_err(const char *format, ...) VELMORA_PRINTF(1, 2);

// Records a message and yields 0, so a check reads `return fail(...)`.
int fail(const char *format, ...) VELMORA_PRINTF(1, 2);

// Empties the last-error text.
void clear_err();

// "(null)" for a null string, whatever the C library would print.
inline const char *str_or_null(const char *s) { return s ? s : "(null)"; }

// A float widened for "%g", with a NaN's sign dropped so that every platform
// prints "nan" (glibc prints "-nan" for a negative NaN).
double printable(float value);

// ---- buffers ----------------------------------------------------------------

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
using Buffer = std::unique_ptr<unsigned char[], FreeDeleter>;

// ---- image and formats ------------------------------------------------------

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

// The whole file in one heap buffer, or null. `size` is written only on success.
Buffer read_file(const char *path, uint64_t *size);

// JPEG, PNG or BMP from the first bytes; FORMAT_UNKNOWN for anything else.
ImageFormat detect_format(const unsigned char *bytes, uint64_t size);

// The format the output path's extension names, else `fallback`.
ImageFormat format_from_path(const char *path, ImageFormat fallback);

// Encodes and writes the file; nonzero when the whole file is in place.
int encode_image(const char *path, int width, int height, const unsigned char *pixels,
                 ImageFormat format);

// Writes the file that `produce` puts into its output, without ever leaving a
// partial file at `path`: the bytes stream into a new file beside it, which is
// renamed over it once complete. `produce` returns nonzero on success.
struct MemoryOutput;
using Producer = int (*)(MemoryOutput &out, void *context);
int write_file_safely(const char *path, Producer produce, void *context);

// ---- the pipeline -----------------------------------------------------------

// A kernel changes the decoded image in place: 1, or 0 after set_err.
using Kernel = int (*)(Image &img, void *context);

// Read, detect, decode, apply `kernel`, choose the format, encode and write.
// Every message starts with `op_name`. Paths must be non-null.
int run_pipeline(const char *op_name, const char *input_path, const char *output_path,
                 Kernel kernel, void *context);

// The pipeline around any callable `int(Image &)`: the inline form.
template <class F>
int run_inline(const char *op_name, const char *input_path, const char *output_path,
               F &&kernel) {
    using Fn = std::remove_reference_t<F>;
    return run_pipeline(
        op_name, input_path, output_path,
        [](Image &img, void *ctx) { return (*static_cast<Fn *>(ctx))(img); },
        static_cast<void *>(&kernel));
}

// The driver form: an adapter with seven int slots and one float slot.
typedef int (*OpFn)(Image *img, int p1, int p2, int p3, int p4, int p5, int p6, int p7,
                    float pf);

int run_op(const char *input_path, const char *output_path, const char *op_name,
           OpFn adapter, int p1, int p2, int p3, int p4, int p5, int p6, int p7, float pf);

// ---- shared colour helpers -------------------------------------------------

// BT.601 luma of an 8-bit colour in double precision, rounded: 0..255.
int luma(int r, int g, int b);

// ---- codec (the only unit that sees stb) ------------------------------------

// Decodes to 8-bit RGBA. On failure returns null and sets `*reason`: a short
// printable line, valid until this thread's next decode, or null when the
// decoder gave none. Files the decoder would mishandle are refused here.
unsigned char *decode_rgba(const unsigned char *bytes, int size, int *width, int *height,
                           const char **reason);

// Where the encoders put their bytes: a growable buffer in memory, or, with
// a sink attached, a fixed staging buffer (`data`, `capacity`) that is handed
// to the sink whenever it fills, so that no image-sized output is held.
struct MemoryOutput {
    unsigned char *data = nullptr;
    size_t size = 0;
    size_t capacity = 0;
    bool failed = false;
    // Takes `n` bytes; false when they could not be passed on.
    bool (*sink)(void *context, const unsigned char *bytes, size_t n) = nullptr;
    void *sink_context = nullptr;

    MemoryOutput() = default;
    MemoryOutput(const MemoryOutput &) = delete;
    MemoryOutput &operator=(const MemoryOutput &) = delete;
    ~MemoryOutput() { std::free(data); }

    // The JPEG writer hands over its output a byte at a time, so the common
    // cases (room left in the buffer) stay inline, a single byte without a
    // call to memcpy.
    void append(const void *bytes, size_t n) {
        if (n == 1 && size < capacity) {
            data[size++] = *static_cast<const unsigned char *>(bytes);
            return;
        }
        if (n != 0 && n <= capacity - size) {
            std::memcpy(data + size, bytes, n);
            size += n;
            return;
        }
        append_slow(bytes, n);
    }

    // Hands what is staged to the sink, if any; false if anything has failed.
    bool flush();

private:
    void append_slow(const void *bytes, size_t n);
    void give_up();
};

// Encodes RGBA pixels into `out`; nonzero on success.
int encode_to_memory(ImageFormat format, int width, int height, const unsigned char *pixels,
                     MemoryOutput &out);

}  // namespace velmora

#endif
