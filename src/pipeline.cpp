// The file pipeline: read, detect, decode, apply, choose the format, encode
// and write; band by band where every step allows it.
#include "pipeline.h"

#include <cstdint>
#include <functional>
#include <cstring>
#include <cstdlib>
#include <new>
#include <string>

#include "codec.h"
#include "input_file.h"
#include "last_error.h"
#include "memory.h"
#include "metadata.h"
#include "output_file.h"
#include "row_source.h"

namespace velmora {

// ---- encode and write -------------------------------------------------------

namespace {

struct EncodeJob {
    int width, height;
    RowSource *rows;
    ImageFormat format;
    const Metadata *meta;
    Writer writer;
    std::function<void()> encoded;  // after the whole file is encoded, before it is put in place
};

int encode_job(OutputStream &out, void *context) {
    const EncodeJob &job = *static_cast<const EncodeJob *>(context);
    const int ok = encode_to_stream(job.format, job.width, job.height, *job.rows, out, job.meta,
                                    job.writer);
    if (ok && job.encoded) job.encoded();
    return ok;
}

int encode_rows(const char *path, int width, int height, RowSource &rows, ImageFormat format,
                const Metadata *meta, Writer writer, std::function<void()> encoded = nullptr) {
    EncodeJob job{width, height, &rows, format, meta, writer, std::move(encoded)};
    return write_file_safely(path, encode_job, &job);
}

}  // namespace

int encode_image(const char *path, int width, int height, const unsigned char *pixels,
                 ImageFormat format, const Metadata *meta, Writer writer) {
    WholeImageRows rows(pixels, width, height);
    return encode_rows(path, width, height, rows, format, meta, writer);
}

// ---- the bands --------------------------------------------------------------

namespace {

// The decoded rows with every step's kernel run on them, handed to the
// writer as it asks: a few rows are decoded at a time (a multiple of the
// reader's band), changed while they are in cache, and kept until the
// writer has taken them. Rewinding opens the file again.
class BandRows final : public RowSource {
public:
    BandRows(InputSource &input, Reader reader, std::unique_ptr<RowReader> rows,
             const std::vector<BandKernelPtr> &kernels)
        : input_(input), reader_(reader), rows_(std::move(rows)),
          kernels_(kernels), stride_(static_cast<size_t>(rows_->width()) * 4) {}

    const unsigned char *next_rows(int count) override {
        if (failed_ || count <= 0 || count > rows_->height() - given_) return nullptr;
        if (count > held_) {
            if (!make_room(count) || !decode(count)) return nullptr;
        }
        const unsigned char *out = band_.get() + static_cast<size_t>(first_) * stride_;
        first_ += count;
        held_ -= count;
        given_ += count;
        return out;
    }

    size_t stride() const override { return stride_; }

    bool rewind() override {
        if (!rows_) return false;
        if (decoded_ == 0) return true;  // nothing read yet: a writer's probe costs nothing
        const char *reason = nullptr;
        std::unique_ptr<RowReader> again = open_rows(input_, &reason, reader_);
        if (!again) return false;
        rows_ = std::move(again);
        failed_ = false;
        first_ = held_ = given_ = decoded_ = 0;
        return true;
    }

    // Decodes what the writer did not take, for the decoder's verdict on
    // the whole file; false when it refuses it.
    bool decode_rest() {
        if (failed_) return false;
        if (!rows_) return true;  // closed after every row was read
        while (decoded_ < rows_->height()) {
            first_ = held_ = 0;
            if (!make_room(1) || !read_band(1, false)) return false;
        }
        return true;
    }

    // Lets go of the reader once every row is read.
    void close() { rows_.reset(); }

    // Why the rows could not be made, in the decoder's words.
    const char *reason() const {
        return out_of_memory_ || !rows_ ? "outofmem" : rows_->reason();
    }
    bool failed() const { return failed_; }

private:
    // The rows decoded at once: the reader's band, and at least 16.
    int band() const {
        const int unit = rows_->band_rows() > 0 ? rows_->band_rows() : 1;
        return unit >= 16 ? unit : (16 + unit - 1) / unit * unit;
    }

    // Room for `count` rows after those still held, which move to the front.
    bool make_room(int count) {
        const int want = count + band();
        if (want > capacity_) {
            Buffer bigger(static_cast<unsigned char *>(
                std::malloc(static_cast<size_t>(want) * stride_)));
            if (!bigger) {
                out_of_memory_ = failed_ = true;
                return false;
            }
            if (held_)
                std::memcpy(bigger.get(), band_.get() + static_cast<size_t>(first_) * stride_,
                            static_cast<size_t>(held_) * stride_);
            band_ = std::move(bigger);
            capacity_ = want;
            first_ = 0;
        } else if (first_ && held_) {
            std::memmove(band_.get(), band_.get() + static_cast<size_t>(first_) * stride_,
                         static_cast<size_t>(held_) * stride_);
        }
        first_ = 0;
        return true;
    }

    // Decodes bands until `count` rows are held.
    bool decode(int count) {
        while (held_ < count)
            if (!read_band(count - held_, true)) return false;
        return true;
    }

    // One band after the rows held: at least `at_least` rows, as many as the
    // reader's band and the room allow, changed by every kernel when `apply`.
    bool read_band(int at_least, bool apply) {
        const int room = capacity_ - first_ - held_;
        int n = band();
        if (n < at_least) n = at_least;
        if (n > room) n = room;
        if (n > rows_->height() - decoded_) n = rows_->height() - decoded_;
        unsigned char *at = band_.get() + static_cast<size_t>(first_ + held_) * stride_;
        if (!rows_->read_rows(at, stride_, n)) {
            failed_ = true;
            return false;
        }
        if (apply)
            for (const BandKernelPtr &k : kernels_)
                k->run_rows(at, stride_, rows_->width(), decoded_, n);
        decoded_ += n;
        held_ += n;
        return true;
    }

    InputSource &input_;
    Reader reader_;
    std::unique_ptr<RowReader> rows_;
    const std::vector<BandKernelPtr> &kernels_;
    size_t stride_;
    Buffer band_;
    int capacity_ = 0;  // rows the band buffer holds
    int first_ = 0;     // the first row held, in the buffer
    int held_ = 0;      // rows decoded and not yet given
    int given_ = 0;     // rows given to the writer
    int decoded_ = 0;   // rows decoded from the file
    bool failed_ = false;
    bool out_of_memory_ = false;
};

// Reads, applies and writes one call whose steps all run band by band.
int stream_steps(const char *op_name, const char *input_path, const char *output_path,
                 const char *last_name, const std::vector<Step> &steps,
                 std::unique_ptr<InputSource> &input, std::unique_ptr<RowReader> rows,
                 ImageFormat output_format, const Metadata &meta, Writer writer,
                 Reader reader) {
    const int width = rows->width(), height = rows->height();
    std::vector<BandKernelPtr> kernels;
    kernels.reserve(steps.size());
    for (const Step &s : steps) {
        kernels.push_back(s.for_size(width, height));
        if (!kernels.back()) {
            // The decoder's verdict comes first, as when the whole picture
            // was decoded before any kernel ran.
            const std::string refusal = last_error_text();
            kernels.clear();
            BandRows all(*input, reader, std::move(rows), kernels);
            if (!all.decode_rest())
                return fail("%s: cannot decode %s (%s)", op_name, input_path,
                            str_or_null(decode_reason_text(all.reason())));
            return fail("%s", refusal.c_str());
        }
    }
    BandRows band(*input, reader, std::move(rows), kernels);
    // The input is closed before the output is put in place: Windows renames
    // nothing over a file still open, and the output may be the input.
    const int written = encode_rows(output_path, width, height, band, output_format, &meta, writer,
                                    [&] {
                                        band.close();
                                        input.reset();
                                    });
    if (!written || band.failed()) {
        if (!band.decode_rest())
            return fail("%s: cannot decode %s (%s)", op_name, input_path,
                        str_or_null(decode_reason_text(band.reason())));
    }
    if (!written) return fail("%s: cannot write %s", last_name, output_path);
    clear_err();
    return 1;
}

// Reads, applies and writes one call with a step that sees the whole picture.
int whole_steps(const char *op_name, const char *input_path, const char *output_path,
                const char *last_name, const std::vector<Step> &steps,
                std::unique_ptr<RowReader> rows, std::unique_ptr<InputSource> &input,
                ImageFormat output_format,
                const Metadata &meta, Writer writer) {
    Image img{rows->width(), rows->height(), nullptr};
    const size_t stride = static_cast<size_t>(img.width) * 4;
    const char *reason = nullptr;
    Buffer pixels(read_picture(*rows, &reason));
    rows.reset();
    input.reset();  // the file is not needed past the decoder
    if (!pixels)
        return fail("%s: cannot decode %s (%s)", op_name, input_path, str_or_null(reason));
    img.pixels = pixels.get();
    for (const Step &s : steps) {
        if (s.on_picture) {
            if (!s.on_picture(img)) return 0;  // the step wrote its message
            continue;
        }
        const BandKernelPtr kernel = s.for_size(img.width, img.height);
        if (!kernel) return 0;
        kernel->run_rows(img.pixels, stride, img.width, 0, img.height);
    }
    if (!encode_image(output_path, img.width, img.height, img.pixels, output_format, &meta,
                      writer))
        return fail("%s: cannot write %s", last_name, output_path);
    clear_err();
    return 1;
}

}  // namespace

// ---- the pipeline -----------------------------------------------------------

int run_steps(const char *op_name, const char *input_path, const char *output_path,
              const Precheck &precheck, const std::vector<Step> &steps, const char *last_name,
              Writer writer, Reader reader) {
    if (!last_name) last_name = op_name;
    if (!input_path || !output_path) return fail("%s: NULL input/output", op_name);
    if (precheck && !precheck()) return 0;

    try {
        std::unique_ptr<InputSource> input = open_input(input_path);
        if (!input) return fail("%s: cannot read %s", op_name, input_path);

        unsigned char head[8];
        const uint64_t seen = input->size() < sizeof head ? input->size() : sizeof head;
        if (!input->read_at(0, head, static_cast<size_t>(seen)))
            return fail("%s: cannot read %s", op_name, input_path);
        const ImageFormat input_format = detect_format(head, seen);
        if (input_format == FORMAT_UNKNOWN)
            return fail("%s: unsupported image format: %s", op_name, input_path);

        // The profile, orientation and resolution travel to the output.
        const Metadata meta = read_metadata(*input);

        const char *reason = nullptr;
        std::unique_ptr<RowReader> rows = open_rows(*input, &reason, reader);
        if (!rows)
            return fail("%s: cannot decode %s (%s)", op_name, input_path, str_or_null(reason));

        const ImageFormat output_format = format_from_path(output_path, input_format);
        bool streams = true;
        for (const Step &s : steps) streams = streams && s.for_size;
        if (streams)
            return stream_steps(op_name, input_path, output_path, last_name, steps, input,
                                std::move(rows), output_format, meta, writer, reader);
        return whole_steps(op_name, input_path, output_path, last_name, steps, std::move(rows),
                           input, output_format, meta, writer);
    } catch (const std::bad_alloc &) {
        return fail("%s: out of memory", op_name);
    }
}

}  // namespace velmora
