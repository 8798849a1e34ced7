// JPEG decoding alone, from the file's bytes in memory: our reader on each
// instruction set against stb_image, on one photograph. The file is the
// first argument that is not a benchmark flag (default: a 6000x4000 q92
// 4:2:0 photograph at /tmp/photo/photo.jpg). For medians of interleaved runs:
//   velmora_bench_jpeg_decode photo.jpg --benchmark_repetitions=15
//     --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codec.h"
#include "cpu.h"
#include "input_file.h"
#include "jpeg_reader.h"
#include "memory.h"

namespace {

std::string g_path = "/tmp/photo/photo.jpg";

void run(benchmark::State &state, bool reference, velmora::Isa isa) {
    uint64_t size = 0;
    velmora::Buffer bytes = velmora::read_file(g_path.c_str(), &size);
    if (!bytes) {
        state.SkipWithError("cannot read the input");
        return;
    }
    for (auto _ : state) {
        if (reference) {
            int w = 0, h = 0;
            const char *reason = nullptr;
            velmora::Buffer px(velmora::decode_rgba(bytes.get(), static_cast<int>(size), &w, &h,
                                                    &reason, velmora::Reader::reference));
            if (!px) {
                state.SkipWithError(reason ? reason : "cannot decode");
                return;
            }
            benchmark::DoNotOptimize(px.get());
            continue;
        }
        const char *reason = nullptr;
        auto rows = velmora::open_jpeg_reader(bytes.get(), size, &reason, isa);
        if (!rows) {
            state.SkipWithError(reason ? reason : "left to the reference");
            return;
        }
        const size_t stride = static_cast<size_t>(rows->width()) * 4;
        // as decode_rgba allocates: zeroed, huge pages asked for
        velmora::Buffer px(static_cast<unsigned char *>(std::calloc(stride, rows->height())));
        velmora::advise_huge_pages(px.get(), stride * rows->height());
        if (!rows->read_rows(px.get(), stride, rows->height())) {
            state.SkipWithError(rows->reason());
            return;
        }
        benchmark::DoNotOptimize(px.get());
    }
}

// Every set's pixels against stb_image's, once, before any timing: a faster
// reader that differs is no result.
bool same_pixels() {
    uint64_t size = 0;
    velmora::Buffer bytes = velmora::read_file(g_path.c_str(), &size);
    if (!bytes) return false;
    int w = 0, h = 0;
    const char *reason = nullptr;
    velmora::Buffer want(velmora::decode_rgba(bytes.get(), static_cast<int>(size), &w, &h, &reason,
                                              velmora::Reader::reference));
    if (!want) return false;
    const size_t stride = static_cast<size_t>(w) * 4;
    for (velmora::Isa isa : velmora::available_isas()) {
        auto rows = velmora::open_jpeg_reader(bytes.get(), size, &reason, isa);
        velmora::Buffer got(static_cast<unsigned char *>(std::malloc(stride * h)));
        if (!rows || !got || !rows->read_rows(got.get(), stride, h) ||
            std::memcmp(got.get(), want.get(), stride * h) != 0) {
            std::fprintf(stderr, "%s: not stb_image's pixels on %s\n", g_path.c_str(), velmora::isa_name(isa));
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 1) g_path = argv[1];
    if (!same_pixels()) return 1;
    benchmark::RegisterBenchmark("jpeg-decode/stb", [](benchmark::State &s) {
        run(s, true, velmora::Isa::scalar);
    })->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
    for (velmora::Isa isa : velmora::available_isas())
        benchmark::RegisterBenchmark((std::string("jpeg-decode/ours-") + velmora::isa_name(isa)).c_str(),
                                     [isa](benchmark::State &s) { run(s, false, isa); })
            ->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
