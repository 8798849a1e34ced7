// Several adjustments of the list on one file: one decode, each adjustment in
// turn on the same pixels, one encode. The result is the one of the same
// calls made one after another through lossless (PNG) files. For the
// command, which links the library's internals; not exported.
#ifndef VELMORA_CHAIN_H
#define VELMORA_CHAIN_H

#include <cstddef>

#include "adjustments.h"

namespace velmora {

// One adjustment of the list and its values, as its `call` takes them.
struct ChainLink {
    const velmora_list::Adjustment *adjustment;
    velmora_list::Values values;
};

// Runs the links in order on `input` and writes `output`: 1, or 0 with the
// message a single call would leave (reading and decoding named after the
// first adjustment, writing after the last, a refused value after its own).
int run_chain(const ChainLink *links, size_t count, const char *input, const char *output);

}  // namespace velmora

#endif
