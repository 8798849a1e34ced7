// File to file: every adjustment on a 24-megapixel photo-like picture, JPEG to
// JPEG and PNG to PNG, through the pipeline the exports use, next to the codec
// floor (the same read, decode, encode and write with no adjustment). Each run
// times the whole call and, inside it, the adjustment, and reports the largest
// amount of heap held at once in each phase of the call, counted by wrapping
// the allocator for the library's objects (see CMakeLists.txt) and replacing
// operator new.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>
#include <string>

#include "bench_support.h"
#include "codec.h"
#include "input_file.h"
#include "jpeg_reader.h"
#include "pipeline.h"
#include "png_container.h"
#include "png_filters.h"

// zlib_level6.cpp
bool bench_zlib_level6(const std::vector<unsigned char> &raw, std::vector<unsigned char> &out);

// ---- heap accounting ---------------------------------------------------------

using vb::count_in;
using vb::count_out;
using vb::g_live;
using vb::g_peak;

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

// The library's operator new lives in the shared C++ runtime, whose malloc
// is not wrapped: these send it through the counters too (the writers'
// buffers and the compressor's tables are allocated with new).
void *operator new(size_t n) {
    void *p = std::malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    return p;
}
void *operator new[](size_t n) { return operator new(n); }
void *operator new(size_t n, const std::nothrow_t &) noexcept { return std::malloc(n ? n : 1); }
void *operator new[](size_t n, const std::nothrow_t &) noexcept { return std::malloc(n ? n : 1); }
void *operator new(size_t n, std::align_val_t a) {
    const size_t align = static_cast<size_t>(a);
    void *p = std::aligned_alloc(align, (n + align - 1) / align * align);
    if (!p) throw std::bad_alloc();
    count_in(p);
    return p;
}
void *operator new[](size_t n, std::align_val_t a) { return operator new(n, a); }
// (Freed with free(), as malloc and aligned_alloc allow; GCC cannot see that.)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, size_t) noexcept { std::free(p); }
void operator delete[](void *p, size_t) noexcept { std::free(p); }
void operator delete(void *p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void *p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void *p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void *p, size_t, std::align_val_t) noexcept { std::free(p); }

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
    // The same picture as cameras and editors write it: zlib level 6 with
    // dynamic codes, in IDAT chunks of 64 KiB. Only the floor and invert.
    {"png-z6", "velmora-bench/photo-6000x4000-z6.png", "velmora-bench/out-z6.png",
     velmora::FORMAT_PNG},
};

// The zlib level 6 PNG: stb's filter choice per row, then zlib.
bool write_z6_png(const char *path, const std::vector<unsigned char> &pixels) {
    std::vector<unsigned char> raw;
    velmora::WholeImageRows whole(pixels.data(), kWidth, kHeight);
    velmora::FilteredRows rows(whole, kWidth, velmora::Isa::best);
    std::vector<unsigned char> piece(rows.piece_max());
    for (int y = 0; y < kHeight; ++y) {
        rows.produce(piece.data());
        raw.insert(raw.end(), piece.begin(), piece.begin() + long(rows.next_size()));
    }
    std::vector<unsigned char> packed;
    if (!bench_zlib_level6(raw, packed)) return false;
    std::vector<unsigned char> file = {137, 80, 78, 71, 13, 10, 26, 10};
    const unsigned char ihdr[13] = {0, 0, kWidth >> 8, kWidth & 255, 0, 0, kHeight >> 8,
                                    kHeight & 255, 8, 6, 0, 0, 0};
    velmora::png_chunk(file, "IHDR", ihdr, 13);
    for (size_t at = 0; at < packed.size(); at += 65536)
        velmora::png_chunk(file, "IDAT", packed.data() + at, std::min<size_t>(65536, packed.size() - at));
    velmora::png_chunk(file, "IEND", nullptr, 0);
    FILE *f = std::fopen(path, "wb");
    if (!f) return false;
    const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    return std::fclose(f) == 0 && ok;
}

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
        if (std::string(f.label) == "png-z6") {
            if (!write_z6_png(f.input, pixels)) return false;
            continue;
        }
        if (!velmora::encode_image(f.input, kWidth, kHeight, pixels.data(), f.code)) return false;
    }
    return true;
}

double thread_seconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// One call through the pipeline the exports use, with `adj` (or nothing) as
// its kernel. The heap peak is taken per phase: read and decode, the
// adjustment, encode and write.
struct Call {
    const vb::Adjustment *adj;  // null: the codec floor, no adjustment
    double kernel_seconds = 0;
    long long base = 0, decode_heap = 0, kernel_heap = 0;
};

int timed_kernel(velmora::Image &img, void *context) {
    Call &call = *static_cast<Call *>(context);
    call.decode_heap = g_peak.load() - call.base;
    g_peak = g_live.load();
    int ok = 1;
    if (call.adj) {
        const double start = thread_seconds();
        ok = call.adj->kernel(img, velmora::Isa::best);
        call.kernel_seconds = thread_seconds() - start;
    }
    call.kernel_heap = g_peak.load() - g_live.load();
    g_peak = g_live.load();
    return ok;
}

void run_file(benchmark::State &state, const vb::Adjustment *adj, const Format &format,
              velmora::Writer writer = velmora::kDefaultWriter,
              velmora::Reader reader = velmora::kDefaultReader) {
    double total = 0, kernel = 0;
    long long heap = 0, decode_heap = 0, kernel_heap = 0, encode_heap = 0;
    for (auto _ : state) {
        Call call{adj};
        call.base = g_live.load();
        g_peak = call.base;
        const double start = thread_seconds();
        const int ok = velmora::run_steps(
            adj ? adj->name : "floor", format.input, format.output, nullptr,
            {velmora::whole_picture_step([&](velmora::Image &img) { return timed_kernel(img, &call); })},
            nullptr, writer, reader);
        total += thread_seconds() - start;
        if (!ok) {
            state.SkipWithError(velmora_last_error());
            break;
        }
        kernel += call.kernel_seconds;
        const long long encode = g_peak.load() - call.base;
        decode_heap = std::max(decode_heap, call.decode_heap);
        kernel_heap = std::max(kernel_heap, call.kernel_heap);
        encode_heap = std::max(encode_heap, encode);
        heap = std::max({heap, call.decode_heap, encode});
    }
    const double mib = 1.0 / (1024.0 * 1024.0);
    // The same call without the adjustment's own time: the codec floor for
    // these very pixels (the encoders' speed depends on the picture).
    state.counters["x_floor"] = total / (total - kernel);
    state.counters["kernel_ms"] = kernel * 1e3 / static_cast<double>(state.iterations());
    state.counters["heap_MiB"] = static_cast<double>(heap) * mib;
    state.counters["heap_decode_MiB"] = static_cast<double>(decode_heap) * mib;
    state.counters["heap_kernel_MiB"] = static_cast<double>(kernel_heap) * mib;
    state.counters["heap_encode_MiB"] = static_cast<double>(encode_heap) * mib;
    state.counters["file_MiB"] = static_cast<double>(file_size(format.input)) * mib;
    state.counters["out_MiB"] = static_cast<double>(file_size(format.output)) * mib;
    state.counters["pixels_MiB"] = static_cast<double>(kWidth) * kHeight * 4.0 * mib;
}

// Decoding alone, from the file bytes in memory: the reading half of the floor.
void run_decode(benchmark::State &state, const Format &format, velmora::Reader reader,
                velmora::Checksums checks = velmora::Checksums::verify) {
    uint64_t size = 0;
    velmora::Buffer bytes = velmora::read_file(format.input, &size);
    if (!bytes) {
        state.SkipWithError("cannot read the input");
        return;
    }
    for (auto _ : state) {
        int w = 0, h = 0;
        const char *reason = nullptr;
        velmora::Buffer px(
            velmora::decode_rgba(bytes.get(), static_cast<int>(size), &w, &h, &reason, reader, checks));
        if (!px) {
            state.SkipWithError(reason ? reason : "cannot decode");
            return;
        }
    }
}

// Decoding from the file as a streaming call reads it: opened, decoded a band
// of 16 rows at a time into one band buffer, the checksums tested. Either
// today's way, the file read whole first, or read in pieces (InputSource).
// The heap counters see the library's malloc family only (the decoders'
// new[] buffers go past them); the process's peak resident size, reported
// too, is the figure to read when one such case runs alone in a process.
void run_decode_file(benchmark::State &state, const Format &format, bool pieces) {
    long long heap = 0;
    for (auto _ : state) {
        const long long base = g_live.load();
        g_peak = base;
        std::unique_ptr<velmora::InputSource> src;
        velmora::Buffer bytes;
        std::unique_ptr<velmora::RowReader> rows;
        const char *reason = nullptr;
        if (pieces) {
            src = velmora::open_input(format.input);
            if (src) rows = velmora::open_rows(*src, &reason);
        } else {
            uint64_t size = 0;
            bytes = velmora::read_file(format.input, &size);
            if (bytes) rows = velmora::open_rows(bytes.get(), static_cast<int>(size), &reason);
        }
        if (!rows) {
            state.SkipWithError(reason ? reason : "cannot read the input");
            return;
        }
        const int band = 16;
        const size_t stride = static_cast<size_t>(rows->width()) * 4;
        velmora::Buffer px(static_cast<unsigned char *>(std::malloc(stride * band)));
        for (int y = 0; y < rows->height(); y += band) {
            if (!rows->read_rows(px.get(), stride, std::min(band, rows->height() - y))) {
                state.SkipWithError(rows->reason());
                return;
            }
        }
        benchmark::DoNotOptimize(px.get());
        heap = std::max(heap, g_peak.load() - base);
    }
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    const double mib = 1.0 / (1024.0 * 1024.0);
    state.counters["heap_MiB"] = static_cast<double>(heap) * mib;
    state.counters["process_peak_rss_MiB"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
    state.counters["file_MiB"] = static_cast<double>(file_size(format.input)) * mib;
}

// Our JPEG reader on one instruction set, a band at a time into one buffer.
void run_jpeg_reader(benchmark::State &state, const Format &format, velmora::Isa isa) {
    uint64_t size = 0;
    velmora::Buffer bytes = velmora::read_file(format.input, &size);
    if (!bytes) {
        state.SkipWithError("cannot read the input");
        return;
    }
    for (auto _ : state) {
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

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (!make_inputs()) {
        std::fprintf(stderr, "cannot write the inputs in %s\n", kDir);
        return 1;
    }
    for (const Format &format : kFormats) {
        // Decoding as a call decodes (our readers, the PNG checksums tested);
        // then the decoders alone, without the checksums: ours, and stb_image.
        const struct {
            const char *name;
            velmora::Reader reader;
            velmora::Checksums checks;
        } decoders[] = {{"decode/", velmora::Reader::fast, velmora::Checksums::verify},
                        {"decode-alone/", velmora::Reader::fast, velmora::Checksums::ignore},
                        {"decode-stb/", velmora::Reader::reference, velmora::Checksums::ignore}};
        for (const auto &d : decoders)
            benchmark::RegisterBenchmark((std::string(d.name) + format.label).c_str(),
                                         [&format, d](benchmark::State &state) {
                                             run_decode(state, format, d.reader, d.checks);
                                         })
                ->Unit(benchmark::kMillisecond);
        for (bool pieces : {false, true})
            benchmark::RegisterBenchmark(
                (std::string(pieces ? "decode-file-pieces/" : "decode-file-whole/") + format.label)
                    .c_str(),
                [&format, pieces](benchmark::State &state) { run_decode_file(state, format, pieces); })
                ->Unit(benchmark::kMillisecond);
        if (format.code == velmora::FORMAT_JPEG)
            for (velmora::Isa isa : velmora::available_isas())
                benchmark::RegisterBenchmark(
                    (std::string("decode-ours-") + velmora::isa_name(isa) + "/" + format.label).c_str(),
                    [&format, isa](benchmark::State &state) { run_jpeg_reader(state, format, isa); })
                    ->Unit(benchmark::kMillisecond);
        // The floor and one adjustment with the reference codecs, stb_image
        // and stb_image_write: the time a call took before our own.
        for (const char *name : {"floor", "invert"}) {
            const vb::Adjustment *adj = nullptr;
            for (const vb::Adjustment &a : vb::adjustments())
                if (std::string(name) == a.name) adj = &a;
            benchmark::RegisterBenchmark(
                (std::string("file-stb/") + format.label + "/" + name).c_str(),
                [adj, &format](benchmark::State &state) {
                    run_file(state, adj, format, velmora::Writer::reference,
                             velmora::Reader::reference);
                })
                ->Unit(benchmark::kMillisecond)
                ->Iterations(1);
        }
        const bool every = std::string(format.label) != "png-z6";
        benchmark::RegisterBenchmark(
            (std::string("file/") + format.label + "/floor").c_str(),
            [&format](benchmark::State &state) { run_file(state, nullptr, format); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
        for (const vb::Adjustment &adj : vb::adjustments())
            if (every || std::string(adj.name) == "invert")
            benchmark::RegisterBenchmark(
                (std::string("file/") + format.label + "/" + adj.name).c_str(),
                [&adj, &format](benchmark::State &state) { run_file(state, &adj, format); })
                ->Unit(benchmark::kMillisecond)
                ->Iterations(1);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
