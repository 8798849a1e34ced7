// A chain of adjustments as the steps of one pipeline run.
#include "chain.h"

#include <cstring>
#include <vector>

#include "kernel_table.h"
#include "last_error.h"
#include "pipeline.h"

namespace velmora {

namespace {

const KernelEntry *kernel_of(const velmora_list::Adjustment &adj) {
    for (const KernelEntry &k : kKernels)
        if (std::strcmp(k.name, adj.name) == 0) return &k;
    return nullptr;
}

}  // namespace

int run_chain(const ChainLink *links, size_t count, const char *input, const char *output) {
    if (!links || count == 0) return fail("chain: no adjustment given");
    std::vector<Step> steps;
    for (size_t i = 0; i < count; ++i) {
        const ChainLink link = links[i];
        const KernelEntry *kernel = link.adjustment ? kernel_of(*link.adjustment) : nullptr;
        if (!kernel) return fail("chain: unknown adjustment");
        if (kernel->prepare) {
            steps.push_back(band_step([kernel, link](int width, int height) {
                return kernel->prepare(width, height, link.values, Isa::best);
            }));
        } else {
            steps.push_back(whole_picture_step([kernel, link](Image &img) {
                return kernel->run(img, link.values, Isa::best);
            }));
        }
    }
    // What each export checks before reading: only curves takes arguments
    // that its kernel cannot check.
    const Precheck precheck = [&] {
        for (size_t i = 0; i < count; ++i) {
            const ChainLink &link = links[i];
            if (std::strcmp(link.adjustment->name, "curves") == 0 &&
                !check_curve_arguments(link.values.xs, link.values.ys,
                                       static_cast<int>(link.values.v[0]),
                                       static_cast<int>(link.values.v[3])))
                return 0;
        }
        return 1;
    };
    return run_steps(links[0].adjustment->name, input, output, precheck, steps,
                     links[count - 1].adjustment->name);
}

}  // namespace velmora
