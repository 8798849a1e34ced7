// The file pipeline: read, detect, decode, apply, choose the format, encode
// and write.
#include "pipeline.h"

#include <cstdint>

#include "codec.h"
#include "input_file.h"
#include "last_error.h"
#include "metadata.h"
#include "output_file.h"

namespace velmora {

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
                 Precheck precheck, Kernel kernel, void *context, Writer writer,
                 Reader reader) {
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
                              &reason, reader));
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

}  // namespace velmora
