// Kernel throughput: each adjustment's pixel pass on an in-memory picture,
// at an awkward size that fits the caches and at 24 megapixels, for the
// scalar reference and for each fast pass the processor runs (sse2, and avx2
// where it has AVX2).
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "bench_support.h"

namespace {

struct Size {
    const char *label;
    int width, height;
};

const Size kSizes[] = {{"1237x811", 1237, 811}, {"6000x4000", 6000, 4000}};

const std::vector<unsigned char> &source(const Size &size) {
    static std::map<std::string, std::vector<unsigned char>> made;
    auto found = made.find(size.label);
    if (found == made.end())
        found = made.emplace(size.label, vb::photo_like(size.width, size.height)).first;
    return found->second;
}

void run_kernel(benchmark::State &state, const vb::Adjustment &adj, velmora::Isa isa,
                const Size &size) {
    const std::vector<unsigned char> &original = source(size);
    std::vector<unsigned char> work(original);
    velmora::Image img{size.width, size.height, work.data()};
    for (auto _ : state) {
        // Every pass starts from the same picture.
        state.PauseTiming();
        std::memcpy(work.data(), original.data(), original.size());
        state.ResumeTiming();
        if (!adj.kernel(img, isa)) {
            state.SkipWithError("kernel refused its parameters");
            break;
        }
        benchmark::ClobberMemory();
    }
    state.SetLabel(adj.settings);
    const double megapixels = static_cast<double>(size.width) * size.height * 1e-6;
    state.counters["Mpx"] =
        benchmark::Counter(megapixels, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    // Only the sets the processor has: a missing one would repeat the next narrower.
    const std::vector<velmora::Isa> isas = velmora::available_isas();
    for (const vb::Adjustment &adj : vb::adjustments())
        for (const velmora::Isa isa : isas)
            for (const Size &size : kSizes)
                benchmark::RegisterBenchmark(
                    (std::string("kernel/") + adj.name + "/" + velmora::isa_name(isa) + "/" +
                     size.label)
                        .c_str(),
                    [&adj, isa, &size](benchmark::State &state) {
                        run_kernel(state, adj, isa, size);
                    })
                    ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
