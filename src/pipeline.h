// The file pipeline that every adjustment runs through: check the paths,
// read, detect, decode, apply the kernel, choose the format, encode and write.
// Every export calls run_adjustment with its kernel as a callable. Internal.
#ifndef VELMORA_PIPELINE_H
#define VELMORA_PIPELINE_H

#include <type_traits>

#include "codec.h"
#include "image.h"

namespace velmora {

struct Metadata;

// Encodes and writes the file, with what `meta` keeps of the input (if
// given); nonzero when the whole file is in place.
int encode_image(const char *path, int width, int height, const unsigned char *pixels,
                 ImageFormat format, const Metadata *meta = nullptr,
                 Writer writer = kDefaultWriter);

// A kernel changes the decoded image in place: 1, or 0 after fail().
using Kernel = int (*)(Image &img, void *context);
// Arguments checked before the input is touched: 1, or 0 after fail().
using Precheck = int (*)(void *context);

// Every step of one call. Every message starts with `op_name`; null paths
// are refused first, then `precheck` runs (if any), then the file steps.
// `writer` and `reader` are for the benchmarks, which time the reference
// codecs and ours end to end.
int run_pipeline(const char *op_name, const char *input_path, const char *output_path,
                 Precheck precheck, Kernel kernel, void *context,
                 Writer writer = kDefaultWriter, Reader reader = kDefaultReader);

// The pipeline around a callable `int(Image &)`.
template <class F>
int run_adjustment(const char *op_name, const char *input_path, const char *output_path,
                   F &&kernel) {
    using Fn = std::remove_reference_t<F>;
    return run_pipeline(
        op_name, input_path, output_path, nullptr,
        [](Image &img, void *ctx) { return (*static_cast<Fn *>(ctx))(img); },
        static_cast<void *>(&kernel));
}

// The same with arguments checked before the input is read: `check` is a
// callable `int()`.
template <class C, class F>
int run_adjustment(const char *op_name, const char *input_path, const char *output_path,
                   C &&check, F &&kernel) {
    struct Both {
        std::remove_reference_t<C> *check;
        std::remove_reference_t<F> *kernel;
    } both{&check, &kernel};
    return run_pipeline(
        op_name, input_path, output_path,
        [](void *ctx) { return (*static_cast<Both *>(ctx)->check)(); },
        [](Image &img, void *ctx) { return (*static_cast<Both *>(ctx)->kernel)(img); },
        static_cast<void *>(&both));
}

}  // namespace velmora

#endif
