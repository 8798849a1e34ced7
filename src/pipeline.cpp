// The file pipeline (read, detect, decode, apply, choose format, encode and
// write) and its two forms.
#include "pipeline.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "codec.h"
#include "metadata.h"
#include "output_file.h"
#include "file_paths.h"

namespace velmora {

// ---- read -------------------------------------------------------------------

void advise_huge_pages(void *block, size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const uintptr_t huge = uintptr_t(2) << 20;
    if (size < 2 * huge) return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + huge - 1) & ~(huge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size) & ~(huge - 1);
    if (end > begin) madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)block;
    (void)size;
#endif
}

Buffer read_file(const char *path, uint64_t *size) {
    FILE *f = open_file(path, "rb");
    if (!f) return nullptr;
    Buffer data;
    long end = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) end = std::ftell(f);
    // Sizes are 32-bit counts: the decoder takes an int.
    if (end > 0 && end <= INT_MAX) {
        std::rewind(f);
        data.reset(static_cast<unsigned char *>(std::malloc(static_cast<size_t>(end))));
        if (data) advise_huge_pages(data.get(), static_cast<size_t>(end));
        if (data && std::fread(data.get(), 1, static_cast<size_t>(end), f) !=
                        static_cast<size_t>(end))
            data.reset();
    }
    std::fclose(f);
    if (data) *size = static_cast<uint64_t>(end);
    return data;
}

// ---- detect -----------------------------------------------------------------

ImageFormat detect_format(const unsigned char *b, uint64_t n) {
    if (n <= 1) return FORMAT_UNKNOWN;
    if (b[0] == 0xFF) return b[1] == 0xD8 ? FORMAT_JPEG : FORMAT_UNKNOWN;
    if (n >= 8 && b[0] == 0x89)
        return (b[1] == 0x50 && b[2] == 0x4E && b[3] == 0x47) ? FORMAT_PNG : FORMAT_UNKNOWN;
    if (b[0] == 0x42 && b[1] == 0x4D) return FORMAT_BMP;
    return FORMAT_UNKNOWN;
}

// ---- choose output format ---------------------------------------------------

// ASCII-only case folding: the locale must not change which format is chosen.
static bool ext_equals(const char *ext, const char *lower) {
    for (; *ext && *lower; ++ext, ++lower) {
        char c = *ext;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != *lower) return false;
    }
    return *ext == '\0' && *lower == '\0';
}

ImageFormat format_from_path(const char *path, ImageFormat fallback) {
    const char *dot = std::strrchr(path, '.');
    if (!dot || dot[1] == '\0') return fallback;
    const char *ext = dot + 1;
    if (ext_equals(ext, "jpg") || ext_equals(ext, "jpeg")) return FORMAT_JPEG;
    if (ext_equals(ext, "png")) return FORMAT_PNG;
    if (ext_equals(ext, "bmp")) return FORMAT_BMP;
    return fallback;
}

// ---- encode and write -------------------------------------------------------

namespace {

struct EncodeJob {
    int width, height;
    const unsigned char *pixels;
    ImageFormat format;
    const Metadata *meta;
    Writer writer;
};

int encode_job(OutputStream &out, void *context) {
    const EncodeJob &job = *static_cast<const EncodeJob *>(context);
    return encode_to_stream(job.format, job.width, job.height, job.pixels, out, job.meta,
                            job.writer);
}

}  // namespace

int encode_image(const char *path, int width, int height, const unsigned char *pixels,
                 ImageFormat format, const Metadata *meta, Writer writer) {
    EncodeJob job{width, height, pixels, format, meta, writer};
    return write_file_safely(path, encode_job, &job);
}

// ---- the pipeline -----------------------------------------------------------

int run_pipeline(const char *op_name, const char *input_path, const char *output_path,
                 Precheck precheck, Kernel kernel, void *context, Writer writer) {
    if (!input_path || !output_path) return fail("%s: NULL input/output", op_name);
    if (precheck && !precheck(context)) return 0;

    uint64_t size = 0;
    Buffer bytes = read_file(input_path, &size);
    if (!bytes) return fail("%s: cannot read %s", op_name, input_path);

    ImageFormat input_format = detect_format(bytes.get(), size);
    if (input_format == FORMAT_UNKNOWN)
        return fail("%s: unsupported image format: %s", op_name, input_path);

    // The profile, orientation and resolution travel to the output; the
    // file bytes do not outlive the decoder.
    const Metadata meta = read_metadata(bytes.get(), size);

    Image img{0, 0, nullptr};
    const char *reason = nullptr;
    Buffer pixels(decode_rgba(bytes.get(), static_cast<int>(size), &img.width, &img.height,
                              &reason));
    bytes.reset();  // the file bytes are not needed past the decoder
    if (!pixels)
        return fail("%s: cannot decode %s (%s)", op_name, input_path, str_or_null(reason));
    img.pixels = pixels.get();

    if (!kernel(img, context)) return 0;  // the kernel wrote its message

    ImageFormat output_format = format_from_path(output_path, input_format);
    int written =
        encode_image(output_path, img.width, img.height, img.pixels, output_format, &meta, writer);
    pixels.reset();
    if (!written) return fail("%s: cannot write %s", op_name, output_path);
    clear_err();
    return 1;
}

int run_op(const char *input_path, const char *output_path, const char *op_name,
           OpFn adapter, int p1, int p2, int p3, int p4, int p5, int p6, int p7, float pf) {
    return run_inline(op_name, input_path, output_path, [&](Image &img) {
        return adapter(&img, p1, p2, p3, p4, p5, p6, p7, pf);
    });
}

}  // namespace velmora
