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
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>

#include "bench_support.h"
#include "codec.h"
#include "input_file.h"
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
const int kPhotoHeight = 3994;  // the bundled photograph's shape at 24 MP
const char *const kDir = "velmora-bench";

struct Format {
    const char *label;
    const char *input;
    const char *output;
    velmora::ImageFormat code;  // the input's
    bool photograph;            // the bundled photograph scaled, else the synthetic picture
    bool every;                 // every adjustment, else the floor and invert
};

const Format kFormats[] = {
    {"jpeg", "velmora-bench/photo-6000x4000-v1.jpg", "velmora-bench/out.jpg", velmora::FORMAT_JPEG,
     false, true},
    {"png", "velmora-bench/photo-6000x4000-v1.png", "velmora-bench/out.png", velmora::FORMAT_PNG,
     false, true},
    // The same picture as cameras and editors write it: zlib level 6 with
    // dynamic codes, in IDAT chunks of 64 KiB. Only the floor and invert.
    {"png-z6", "velmora-bench/photo-6000x4000-z6.png", "velmora-bench/out-z6.png",
     velmora::FORMAT_PNG, false, false},
    // The bundled photograph scaled to 24 MP: a camera's JPEG (4:2:0, quality
    // 92, by cjpeg), to JPEG and to BMP (whose cost does not depend on the
    // picture), and as a zlib level 6 PNG.
    {"photo-jpeg", "velmora-bench/creek-6000x3994-420.jpg", "velmora-bench/out-photo.jpg",
     velmora::FORMAT_JPEG, true, true},
    {"photo-jpeg-bmp", "velmora-bench/creek-6000x3994-420.jpg", "velmora-bench/out-photo.bmp",
     velmora::FORMAT_JPEG, true, true},
    {"photo-png", "velmora-bench/creek-6000x3994-z6.png", "velmora-bench/out-photo.png",
     velmora::FORMAT_PNG, true, true},
};

// The zlib level 6 PNG: stb's filter choice per row, then zlib.
bool write_z6_png(const char *path, const std::vector<unsigned char> &pixels, int width,
                  int height) {
    std::vector<unsigned char> raw;
    velmora::WholeImageRows whole(pixels.data(), width, height);
    velmora::FilteredRows rows(whole, width, velmora::Isa::best);
    std::vector<unsigned char> piece(rows.piece_max());
    for (int y = 0; y < height; ++y) {
        rows.produce(piece.data());
        raw.insert(raw.end(), piece.begin(), piece.begin() + long(rows.next_size()));
    }
    std::vector<unsigned char> packed;
    if (!bench_zlib_level6(raw, packed)) return false;
    std::vector<unsigned char> file = {137, 80, 78, 71, 13, 10, 26, 10};
    const unsigned char ihdr[13] = {0, 0, static_cast<unsigned char>(width >> 8),
                                    static_cast<unsigned char>(width), 0, 0,
                                    static_cast<unsigned char>(height >> 8),
                                    static_cast<unsigned char>(height), 8, 6, 0, 0, 0};
    velmora::png_chunk(file, "IHDR", ihdr, 13);
    for (size_t at = 0; at < packed.size(); at += 65536)
        velmora::png_chunk(file, "IDAT", packed.data() + at,
                           std::min<size_t>(65536, packed.size() - at));
    velmora::png_chunk(file, "IEND", nullptr, 0);
    FILE *f = std::fopen(path, "wb");
    if (!f) return false;
    const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    return std::fclose(f) == 0 && ok;
}

// A camera's JPEG: 4:2:0 at quality 92, by cjpeg (libjpeg-turbo-progs) from a PPM.
bool write_camera_jpeg(const char *path, const std::vector<unsigned char> &pixels, int width,
                       int height) {
    const std::string ppm = std::string(path) + ".ppm";
    FILE *f = std::fopen(ppm.c_str(), "wb");
    if (!f) return false;
    std::fprintf(f, "P6\n%d %d\n255\n", width, height);
    for (size_t i = 0, n = static_cast<size_t>(width) * height; i < n; ++i)
        std::fwrite(&pixels[i * 4], 1, 3, f);
    if (std::fclose(f) != 0) return false;
    const std::string cmd = "cjpeg -quality 92 -sample 2x2 -outfile '" + std::string(path) +
                            "' '" + ppm + "'";
    const bool ok = std::system(cmd.c_str()) == 0;
    std::remove(ppm.c_str());
    return ok;
}

long long file_size(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// The inputs are made once and kept between runs.
bool make_inputs() {
    std::string mkdir = std::string("mkdir -p ") + kDir;
    if (std::system(mkdir.c_str()) != 0) return false;
    std::vector<unsigned char> synthetic, photo;
    for (const Format &f : kFormats) {
        if (file_size(f.input) > 0) continue;
        const int height = f.photograph ? kPhotoHeight : kHeight;
        std::vector<unsigned char> &pixels = f.photograph ? photo : synthetic;
        if (pixels.empty())
            pixels = f.photograph ? vb::photograph(kWidth, kPhotoHeight)
                                  : vb::photo_like(kWidth, kHeight);
        if (pixels.empty()) return false;
        std::fprintf(stderr, "writing %s\n", f.input);
        const std::string label = f.label;
        bool ok;
        if (label == "png-z6" || label == "photo-png") ok = write_z6_png(f.input, pixels, kWidth, height);
        else if (f.photograph) ok = write_camera_jpeg(f.input, pixels, kWidth, height);
        else ok = velmora::encode_image(f.input, kWidth, height, pixels.data(), f.code);
        if (!ok) return false;
    }
    return true;
}

double thread_seconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Resident memory from /proc/self/status: "VmHWM" (the peak) or "VmRSS", in bytes.
long long resident(const char *field) {
    FILE *f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long long kib = -1;
    const size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, n) == 0 && line[n] == ':') kib = std::atoll(line + n + 1);
    std::fclose(f);
    return kib < 0 ? -1 : kib * 1024;
}

// Starts the peak over from what is resident now (Linux 4.0 and later).
void reset_resident_peak() {
    FILE *f = std::fopen("/proc/self/clear_refs", "w");
    if (!f) return;
    std::fputs("5", f);
    std::fclose(f);
}

// An adjustment's kernel with the time of its runs added up: the call's
// time without it is the codec floor for these very pixels.
class TimedKernel final : public velmora::BandKernel {
public:
    TimedKernel(velmora::BandKernelPtr kernel, double *seconds)
        : kernel_(std::move(kernel)), seconds_(seconds) {}
    void run(unsigned char *px, int count, int x, int y) const override {
        const double start = thread_seconds();
        kernel_->run(px, count, x, y);
        *seconds_ += thread_seconds() - start;
    }

private:
    velmora::BandKernelPtr kernel_;
    double *seconds_;
};

// The steps of one call: the adjustment timed, band by band as the exports
// run it (auto levels on the whole picture), or none for the floor.
std::vector<velmora::Step> timed_steps(const vb::Adjustment *adj, double *seconds) {
    if (!adj) return {};
    const velmora::KernelEntry &entry = *adj->entry;
    if (entry.prepare)
        return {velmora::band_step([adj, seconds](int width, int height) -> velmora::BandKernelPtr {
            const double start = thread_seconds();
            velmora::BandKernelPtr kernel =
                adj->entry->prepare(width, height, adj->values, velmora::Isa::best);
            *seconds += thread_seconds() - start;
            if (!kernel) return nullptr;
            return std::make_unique<TimedKernel>(std::move(kernel), seconds);
        })};
    return {velmora::whole_picture_step([adj, seconds](velmora::Image &img) {
        const double start = thread_seconds();
        const int ok = adj->kernel(img, velmora::Isa::best);
        *seconds += thread_seconds() - start;
        return ok;
    })};
}

// One call through the pipeline the exports use, with `adj` (or nothing) as
// its adjustment: its time, the adjustment's part of it, the most heap held
// at once and the most memory resident at once.
void run_file(benchmark::State &state, const vb::Adjustment *adj, const Format &format,
              velmora::Writer writer = velmora::kDefaultWriter,
              velmora::Reader reader = velmora::kDefaultReader) {
    double total = 0, kernel = 0;
    long long heap = 0, rss = 0, process_rss = 0;
    for (auto _ : state) {
        double seconds = 0;
        const long long base = g_live.load();
        g_peak = base;
        const long long resident_before = resident("VmRSS");
        reset_resident_peak();
        const double start = thread_seconds();
        const int ok = velmora::run_steps(adj ? adj->name : "floor", format.input, format.output,
                                          nullptr, timed_steps(adj, &seconds), nullptr, writer,
                                          reader);
        total += thread_seconds() - start;
        if (!ok) {
            state.SkipWithError(velmora_last_error());
            break;
        }
        kernel += seconds;
        heap = std::max(heap, g_peak.load() - base);
        const long long peak = resident("VmHWM");
        process_rss = std::max(process_rss, peak);
        rss = std::max(rss, peak - resident_before);
    }
    const double mib = 1.0 / (1024.0 * 1024.0);
    const int height = format.photograph ? kPhotoHeight : kHeight;
    // The same call without the adjustment's own time: the codec floor for
    // these very pixels (the encoders' speed depends on the picture).
    state.counters["x_floor"] = total / (total - kernel);
    state.counters["kernel_ms"] = kernel * 1e3 / static_cast<double>(state.iterations());
    state.counters["heap_MiB"] = static_cast<double>(heap) * mib;
    state.counters["rss_MiB"] = static_cast<double>(rss) * mib;
    state.counters["process_rss_MiB"] = static_cast<double>(process_rss) * mib;
    state.counters["file_MiB"] = static_cast<double>(file_size(format.input)) * mib;
    state.counters["out_MiB"] = static_cast<double>(file_size(format.output)) * mib;
    state.counters["pixels_MiB"] = static_cast<double>(kWidth) * height * 4.0 * mib;
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

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (!make_inputs()) {
        std::fprintf(stderr, "cannot write the inputs in %s\n", kDir);
        return 1;
    }
    for (const Format &format : kFormats) {
        const bool decodes = std::string(format.label) != "photo-jpeg-bmp";  // its input's twice
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
            if (decodes)
            benchmark::RegisterBenchmark((std::string(d.name) + format.label).c_str(),
                                         [&format, d](benchmark::State &state) {
                                             run_decode(state, format, d.reader, d.checks);
                                         })
                ->Unit(benchmark::kMillisecond);
        for (bool pieces : {false, true})
            if (decodes)
            benchmark::RegisterBenchmark(
                (std::string(pieces ? "decode-file-pieces/" : "decode-file-whole/") + format.label)
                    .c_str(),
                [&format, pieces](benchmark::State &state) { run_decode_file(state, format, pieces); })
                ->Unit(benchmark::kMillisecond);
        // Our JPEG reader on each instruction set: velmora_bench_jpeg_decode.
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
        const bool every = format.every;
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
