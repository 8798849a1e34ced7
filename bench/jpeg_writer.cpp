// JPEG encoding throughput at quality 92 on a 24-megapixel photo-like
// picture in memory: stb_image_write's writer against ours on each path this
// processor runs, and ours from strips of rows copied as a pipeline hands
// them over. All write into the same reused buffer.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_support.h"
#include "jpeg_writer.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace {

constexpr int kWidth = 6000, kHeight = 4000;

const std::vector<unsigned char> &photo() {
    static const std::vector<unsigned char> px = vb::photo_like(kWidth, kHeight);
    return px;
}

template <class Encode>
void run(benchmark::State &state, Encode encode) {
    const std::vector<unsigned char> &px = photo();
    std::vector<unsigned char> out;
    out.reserve(size_t(32) << 20);
    for (auto _ : state) {
        out.clear();
        if (!encode(px.data(), out)) {
            state.SkipWithError("encoding failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["Mpx"] = benchmark::Counter(kWidth * 1e-6 * kHeight,
                                               benchmark::Counter::kIsIterationInvariantRate);
    state.counters["bytes"] = static_cast<double>(out.size());
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("jpeg_encode/stb/6000x4000", [](benchmark::State &state) {
        run(state, [](const unsigned char *px, std::vector<unsigned char> &out) {
            return stbi_write_jpg_to_func(velmora::append_to_vector_stb, &out, kWidth, kHeight, 4, px, 92) != 0;
        });
    })->Unit(benchmark::kMillisecond);
    for (velmora::Isa isa : velmora::available_isas())
        benchmark::RegisterBenchmark(
            (std::string("jpeg_encode/ours-") + velmora::isa_name(isa) + "/6000x4000")
                .c_str(),
            [isa](benchmark::State &state) {
                run(state, [isa](const unsigned char *px, std::vector<unsigned char> &out) {
                    return velmora::write_jpeg_q92(velmora::append_to_vector, &out, kWidth, kHeight, px, isa) != 0;
                });
            })
            ->Unit(benchmark::kMillisecond);
    // Strips of 8 rows copied into a source's own buffer, as a streaming
    // pipeline hands them over.
    benchmark::RegisterBenchmark("jpeg_encode/ours-strips/6000x4000", [](benchmark::State &state) {
        run(state, [](const unsigned char *px, std::vector<unsigned char> &out) {
            vb::CopiedStrips rows(px, kWidth, kHeight);
            return velmora::write_jpeg_q92_rows(velmora::append_to_vector, &out, kWidth, kHeight, rows) != 0;
        });
    })->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
