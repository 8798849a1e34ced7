// PNG encoding in memory: stb_image_write's writer against ours on the same
// 24-megapixel photo-like picture, in megapixels a second, with the largest
// heap each call holds at once (the output buffer, reserved beforehand, not
// counted): ours as a whole picture, holding the compressed stream, and fed
// a row at a time with the stream going out as it is made. The files are
// checked equal first.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "bench_support.h"
#include "png_writer.h"

// ---- heap accounting: stb's allocations and every operator new ---------------

namespace {

using vb::count_in;
using vb::count_out;
using vb::g_live;
using vb::g_peak;

void *counted_malloc(size_t n) {
    void *p = std::malloc(n);
    count_in(p);
    return p;
}
void *counted_realloc(void *p, size_t n) {
    count_out(p);
    void *q = std::realloc(p, n);
    count_in(q ? q : p);
    return q;
}
void counted_free(void *p) {
    count_out(p);
    std::free(p);
}

}  // namespace

void *operator new(size_t n) {
    void *p = counted_malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    return p;
}
void *operator new[](size_t n) { return operator new(n); }
void *operator new(size_t n, const std::nothrow_t &) noexcept { return counted_malloc(n ? n : 1); }
void *operator new[](size_t n, const std::nothrow_t &) noexcept { return counted_malloc(n ? n : 1); }
void operator delete(void *p) noexcept { counted_free(p); }
void operator delete[](void *p) noexcept { counted_free(p); }
void operator delete(void *p, size_t) noexcept { counted_free(p); }
void operator delete[](void *p, size_t) noexcept { counted_free(p); }
// The compressor's hash chains are over-aligned: they come through these.
// (Freed with free(), as aligned_alloc allows; GCC cannot see that.)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void *operator new(size_t n, std::align_val_t a) {
    const size_t align = static_cast<size_t>(a);
    void *p = std::aligned_alloc(align, (n + align - 1) / align * align);
    if (!p) throw std::bad_alloc();
    count_in(p);
    return p;
}
void *operator new[](size_t n, std::align_val_t a) { return operator new(n, a); }
void operator delete(void *p, std::align_val_t) noexcept { counted_free(p); }
void operator delete[](void *p, std::align_val_t) noexcept { counted_free(p); }
void operator delete(void *p, size_t, std::align_val_t) noexcept { counted_free(p); }
void operator delete[](void *p, size_t, std::align_val_t) noexcept { counted_free(p); }

#define STBIW_MALLOC(n) counted_malloc(n)
#define STBIW_REALLOC(p, n) counted_realloc(p, n)
#define STBIW_FREE(p) counted_free(p)
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace {

const int kWidth = 6000, kHeight = 4000;

const std::vector<unsigned char> &picture() {
    static const std::vector<unsigned char> px = vb::photo_like(kWidth, kHeight);
    return px;
}

// The file each writer makes, into a buffer reserved beforehand so that the
// heap figures are the writer's own.
// How our writer is fed and where its stream goes.
enum class Feed {
    whole,     // write_png_rgba: the compressed stream held until its length is known
    streamed,  // rows copied one at a time, the stream going out as made (the output patches)
};

bool encode(bool reference, velmora::Isa isa, std::vector<unsigned char> &out,
            Feed feed = Feed::whole) {
    out.clear();
    if (feed == Feed::streamed) {
        vb::CopiedStrips rows(picture().data(), kWidth, kHeight);
        return velmora::write_png_rows(velmora::append_to_vector, &out, kWidth, kHeight, rows, isa,
                                       velmora::patch_vector, velmora::truncate_vector) == 1;
    }
    if (reference)
        return stbi_write_png_to_func(velmora::append_to_vector_stb, &out, kWidth, kHeight, 4, picture().data(),
                                      kWidth * 4) == 1;
    return velmora::write_png_rgba(velmora::append_to_vector, &out, kWidth, kHeight, picture().data(), isa) == 1;
}

void run(benchmark::State &state, bool reference, velmora::Isa isa, Feed feed = Feed::whole) {
    std::vector<unsigned char> out, want;
    out.reserve(size_t(kWidth) * kHeight * 4);
    if (!reference) {
        want.reserve(out.capacity());
        if (!encode(true, isa, want) || !encode(false, isa, out, feed) || out != want) {
            state.SkipWithError("the writers' files differ");
            return;
        }
    }
    long long heap = 0;
    for (auto _ : state) {
        const long long base = g_live.load();
        g_peak = base;
        if (!encode(reference, isa, out, feed)) {
            state.SkipWithError("encoding failed");
            return;
        }
        heap = std::max(heap, g_peak.load() - base);
    }
    const double mpx = double(kWidth) * kHeight / 1e6;
    state.counters["Mpx"] =
        benchmark::Counter(mpx * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["heap_MiB"] = double(heap) / (1024.0 * 1024.0);
    state.counters["file_MiB"] = double(out.size()) / (1024.0 * 1024.0);
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    picture();
    benchmark::RegisterBenchmark("png_encode/stb",
                                 [](benchmark::State &s) { run(s, true, velmora::Isa::best); })
        ->Unit(benchmark::kMillisecond);
    for (velmora::Isa isa : velmora::available_isas())
        benchmark::RegisterBenchmark((std::string("png_encode/ours/") + velmora::isa_name(isa)).c_str(),
                                     [isa](benchmark::State &s) { run(s, false, isa); })
            ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("png_encode/ours-streamed/best", [](benchmark::State &s) {
        run(s, false, velmora::Isa::best, Feed::streamed);
    })->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
