// What the benchmarks share: the adjustments with representative parameters,
// a smooth, photo-like test picture made in memory, and its rows handed out
// a few at a time.
#ifndef VELMORA_BENCH_SUPPORT_H
#define VELMORA_BENCH_SUPPORT_H

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "kernel_table.h"
#include "row_source.h"

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

// The bundled photograph (or the file `path` names), decoded and scaled
// bilinearly to width x height RGBA: a real photograph's statistics at the
// benchmarks' size. Empty when it cannot be read.
std::vector<unsigned char> photograph(int width, int height, const char *path = nullptr);

// Rows of a picture in memory copied, as many as asked, into a buffer of
// the source's own: what a streaming pipeline hands to a writer.
class CopiedStrips final : public velmora::RowSource {
public:
    CopiedStrips(const unsigned char *rgba, int width, int height)
        : rgba_(rgba), stride_(size_t(width) * 4), height_(height) {}
    const unsigned char *next_rows(int count) override {
        if (count <= 0 || count > height_ - row_) return nullptr;
        band_.resize(size_t(count) * stride_);
        std::memcpy(band_.data(), rgba_ + size_t(row_) * stride_, band_.size());
        row_ += count;
        return band_.data();
    }
    size_t stride() const override { return stride_; }
    bool rewind() override {
        row_ = 0;
        return true;
    }

private:
    const unsigned char *rgba_;
    size_t stride_;
    int height_;
    int row_ = 0;
    std::vector<unsigned char> band_;
};

}  // namespace vb

#endif
