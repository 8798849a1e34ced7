// What the benchmarks share: the adjustments with representative parameters,
// and a smooth, photo-like test picture made in memory.
#ifndef VELMORA_BENCH_SUPPORT_H
#define VELMORA_BENCH_SUPPORT_H

#include <string>
#include <vector>

#include "kernels.h"

namespace vb {

struct Adjustment {
    const char *name;
    const char *settings;                                    // for the report
    int (*kernel)(velmora::Image &img, velmora::Impl impl);  // the typed kernel, in memory
};

// Every adjustment, with settings that make it do real work.
const std::vector<Adjustment> &adjustments();

// A width x height RGBA picture: broad hue, saturation and brightness sweeps
// with a little grain, like a photograph rather than noise or flat colour.
std::vector<unsigned char> photo_like(int width, int height);

}  // namespace vb

#endif
