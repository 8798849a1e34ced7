// An adjustment made ready for one picture: its parameters checked and its
// tables and constants built once, then run over any rows in any order, so
// that a band can be changed while it is still in cache between the reader
// and the writer. Internal.
#ifndef VELMORA_BAND_KERNEL_H
#define VELMORA_BAND_KERNEL_H

#include <cstddef>
#include <memory>

namespace velmora {

class BandKernel {
public:
    virtual ~BandKernel() = default;

    // Changes `count` RGBA pixels at `px`, the first at column `x` of row
    // `y` of the picture it was made for. Rows and runs are independent, so
    // any split of the picture gives the same bytes; const, so one kernel
    // may run on several bands at once.
    virtual void run(unsigned char *px, int count, int x, int y) const = 0;

    // `rows` whole rows of `width` pixels, the first being row `y`, row i at
    // rgba + i * stride.
    void run_rows(unsigned char *rgba, size_t stride, int width, int y, int rows) const {
        for (int i = 0; i < rows; ++i) run(rgba + static_cast<size_t>(i) * stride, width, 0, y + i);
    }
};

using BandKernelPtr = std::unique_ptr<const BandKernel>;

}  // namespace velmora

#endif
