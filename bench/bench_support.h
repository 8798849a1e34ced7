// What the benchmarks share: the adjustments with representative parameters,
// and a smooth, photo-like test picture made in memory.
#ifndef VELMORA_BENCH_SUPPORT_H
#define VELMORA_BENCH_SUPPORT_H

#include <atomic>
#include <string>
#include <vector>

#include "kernel_table.h"

namespace vb {

struct Adjustment {
    const char *name;
    std::string settings;  // for the report
    velmora_list::Values values;
    const velmora::KernelEntry *entry;

    // The typed kernel, in memory.
    int kernel(velmora::Image &img, velmora::Isa isa) const {
        return entry->run(img, values, isa);
    }
};

// Every adjustment of the list, with its example values, which do real work.
const std::vector<Adjustment> &adjustments();

// Heap accounting for the benchmarks that count their allocations: bytes
// held now, and the most held since `peak` was last set. count_in/count_out
// record a block as it is obtained or given back (null is ignored).
extern std::atomic<long long> g_live;
extern std::atomic<long long> g_peak;
void count_in(void *p);
void count_out(void *p);

// A width x height RGBA picture: broad hue, saturation and brightness sweeps
// with a little grain, like a photograph rather than noise or flat colour.
std::vector<unsigned char> photo_like(int width, int height);

}  // namespace vb

#endif
