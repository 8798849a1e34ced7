// File to file: every adjustment on a 24-megapixel photo-like picture, JPEG to
// JPEG and PNG to PNG, next to the codec floor (the same read, decode, encode
// and write with no adjustment). Each run also reports the largest amount of
// heap the call held at once, counted by wrapping the allocator for the
// library's objects (see CMakeLists.txt).
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_support.h"

// ---- heap accounting ---------------------------------------------------------

namespace {

std::atomic<long long> g_live{0};
std::atomic<long long> g_peak{0};

void count_in(void *p) {
    if (!p) return;
    const long long now = g_live += static_cast<long long>(malloc_usable_size(p));
    long long peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
}

void count_out(void *p) {
    if (p) g_live -= static_cast<long long>(malloc_usable_size(p));
}

}  // namespace

// The linker sends the library's malloc, calloc, realloc and free here.
extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void *__real_realloc(void *p, size_t size);
void __real_free(void *p);

void *__wrap_malloc(size_t size) {
    void *p = __real_malloc(size);
    count_in(p);
    return p;
}
void *__wrap_calloc(size_t count, size_t size) {
    void *p = __real_calloc(count, size);
    count_in(p);
    return p;
}
void *__wrap_realloc(void *p, size_t size) {
    const long long before = p ? static_cast<long long>(malloc_usable_size(p)) : 0;
    void *q = __real_realloc(p, size);
    if (q || size == 0) {
        g_live -= before;
        count_in(q);
    }
    return q;
}
void __wrap_free(void *p) {
    count_out(p);
    __real_free(p);
}
}

namespace {

const int kWidth = 6000, kHeight = 4000;
const char *const kDir = "velmora-bench";

struct Format {
    const char *label;
    const char *input;
    const char *output;
    velmora::ImageFormat code;
};

const Format kFormats[] = {
    {"jpeg", "velmora-bench/photo-6000x4000-v1.jpg", "velmora-bench/out.jpg", velmora::FORMAT_JPEG},
    {"png", "velmora-bench/photo-6000x4000-v1.png", "velmora-bench/out.png", velmora::FORMAT_PNG},
};

long long file_size(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// The inputs are made once and kept between runs.
bool make_inputs() {
    std::string mkdir = std::string("mkdir -p ") + kDir;
    if (std::system(mkdir.c_str()) != 0) return false;
    std::vector<unsigned char> pixels;
    for (const Format &f : kFormats) {
        if (file_size(f.input) > 0) continue;
        if (pixels.empty()) pixels = vb::photo_like(kWidth, kHeight);
        std::fprintf(stderr, "writing %s\n", f.input);
        if (!velmora::encode_image(f.input, kWidth, kHeight, pixels.data(), f.code)) return false;
    }
    return true;
}

int no_adjustment(velmora::Image &, void *) { return 1; }

int codec_floor(const char *input, const char *output) {
    return velmora::run_pipeline("floor", input, output, no_adjustment, nullptr);
}

void run_file(benchmark::State &state, int (*call)(const char *, const char *),
              const Format &format) {
    long long heap = 0;
    for (auto _ : state) {
        const long long base = g_live.load();
        g_peak = base;
        if (!call(format.input, format.output)) {
            state.SkipWithError(velmora_last_error());
            break;
        }
        const long long used = g_peak.load() - base;
        if (used > heap) heap = used;
    }
    const double mb = 1.0 / (1024.0 * 1024.0);
    state.counters["heap_MiB"] = static_cast<double>(heap) * mb;
    state.counters["file_MiB"] = static_cast<double>(file_size(format.input)) * mb;
    state.counters["out_MiB"] = static_cast<double>(file_size(format.output)) * mb;
    state.counters["pixels_MiB"] = static_cast<double>(kWidth) * kHeight * 4.0 * mb;
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (!make_inputs()) {
        std::fprintf(stderr, "cannot write the inputs in %s\n", kDir);
        return 1;
    }
    for (const Format &format : kFormats) {
        benchmark::RegisterBenchmark(
            (std::string("file/") + format.label + "/floor").c_str(),
            [&format](benchmark::State &state) { run_file(state, codec_floor, format); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
        for (const vb::Adjustment &adj : vb::adjustments())
            benchmark::RegisterBenchmark(
                (std::string("file/") + format.label + "/" + adj.name).c_str(),
                [&adj, &format](benchmark::State &state) { run_file(state, adj.call, format); })
                ->Unit(benchmark::kMillisecond)
                ->Iterations(1);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
