// The file pipeline that every adjustment runs through: check the paths,
// read, detect, decode, apply the steps, choose the format, encode and write.
// Where every step can run band by band, the picture streams from the reader
// through the steps to the writer and is never held whole. Internal.
#ifndef VELMORA_PIPELINE_H
#define VELMORA_PIPELINE_H

#include <functional>
#include <type_traits>
#include <vector>

#include "band_kernel.h"
#include "codec.h"
#include "image.h"

namespace velmora {

struct Metadata;

// Encodes and writes the file, with what `meta` keeps of the input (if
// given); nonzero when the whole file is in place.
int encode_image(const char *path, int width, int height, const unsigned char *pixels,
                 ImageFormat format, const Metadata *meta = nullptr,
                 Writer writer = kDefaultWriter);

// One adjustment of a call. `for_size` makes its kernel for a picture of a
// given size, run band by band as the rows are decoded; a step that must see
// the whole picture first (auto levels) gives `on_picture` instead, which
// changes the decoded picture in place. Either checks the parameters first:
// null or 0 after fail().
struct Step {
    std::function<BandKernelPtr(int width, int height)> for_size;
    std::function<int(Image &img)> on_picture;
};

// Arguments checked before the input is touched: 1, or 0 after fail().
using Precheck = std::function<int()>;

// Every step of one call: null paths are refused first, then `precheck`
// runs (if any), then the file steps. Messages about reading and decoding
// the input start with `op_name`, about writing the output with `last_name`
// (a chain's last step; null: `op_name`). The outcome (return value, bytes
// written, message) does not depend on whether the picture streamed: a file
// that fails to decode gives the decode message even when a step refuses
// its parameters or the output cannot be written. `writer` and `reader` are
// for the benchmarks and tests, which time and compare the codecs end to end.
int run_steps(const char *op_name, const char *input_path, const char *output_path,
              const Precheck &precheck, const std::vector<Step> &steps,
              const char *last_name = nullptr, Writer writer = kDefaultWriter,
              Reader reader = kDefaultReader);

// The pipeline around one step.
inline int run_adjustment(const char *op_name, const char *input_path, const char *output_path,
                          Step step) {
    return run_steps(op_name, input_path, output_path, nullptr, {std::move(step)});
}

// The same with arguments checked before the input is read.
inline int run_adjustment(const char *op_name, const char *input_path, const char *output_path,
                          const Precheck &check, Step step) {
    return run_steps(op_name, input_path, output_path, check, {std::move(step)});
}

// A step of a callable `int(Image &)` that changes the whole picture.
template <class F>
Step whole_picture_step(F kernel) {
    Step s;
    s.on_picture = std::move(kernel);
    return s;
}

// A step of a callable `BandKernelPtr(int width, int height)`.
template <class F>
Step band_step(F prepare) {
    Step s;
    s.for_size = std::move(prepare);
    return s;
}

}  // namespace velmora

#endif
