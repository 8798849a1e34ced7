// Prepared kernels band by band, as the streaming pipeline runs them: the
// bundled photograph scaled to 6000 x 3994 (about 24 MP), cut into bands of
// 16 rows; each band is copied into a buffer that stays in cache, as the
// reader leaves it, and only the kernel's run over it is timed, in the
// thread's processor time. Reports megapixels per second for each adjustment
// and each instruction set the processor runs. The photograph is the bundled
// sample, or the file named by the first argument that is not a flag.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "bench_support.h"
#include "kernels.h"
#include "memory.h"

namespace {

using velmora::BandKernelPtr;
using velmora::Image;
using velmora::Isa;

constexpr int kWidth = 6000, kHeight = 3994, kBandRows = 16;

std::string g_photo_path = VELMORA_SAMPLE_PHOTO;

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgba;
};

const Picture &photo() {
    static const Picture picture{kWidth, kHeight,
                                 vb::photograph(kWidth, kHeight, g_photo_path.c_str())};
    if (picture.rgba.empty())
        std::fprintf(stderr, "cannot read the photograph %s\n", g_photo_path.c_str());
    return picture;
}

// This thread's processor time: what the kernel itself took, even on a
// machine busy with other work, where wall time would count the waits.
double thread_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

const int kCurveXs[] = {0, 64, 192, 255};
const int kCurveYs[] = {0, 40, 225, 255};

struct Prepared {
    const char *name;
    const char *settings;
    BandKernelPtr (*prepare)(const Image &img, Isa isa);
};

#define VB_PREPARED(name, settings, call) \
    Prepared { name, settings, [](const Image &img, Isa isa) { return call; } }

// Each adjustment with settings that change most pixels of a photograph.
const Prepared kPrepared[] = {
    VB_PREPARED("grayscale", "", velmora::prepare_grayscale(img.width, img.height, isa)),
    VB_PREPARED("sepia", "", velmora::prepare_sepia(img.width, img.height, isa)),
    VB_PREPARED("invert", "", velmora::prepare_invert(img.width, img.height, isa)),
    VB_PREPARED("brightness", "25", velmora::prepare_brightness(img.width, img.height, 25, isa)),
    VB_PREPARED("contrast", "30", velmora::prepare_contrast(img.width, img.height, 30, isa)),
    VB_PREPARED("gamma", "1.4", velmora::prepare_gamma(img.width, img.height, 1.4f, isa)),
    VB_PREPARED("levels", "16 235 1.2",
                velmora::prepare_levels(img.width, img.height, 16, 235, 1.2f, isa)),
    VB_PREPARED("auto_levels", "", velmora::prepare_auto_levels(img, isa)),
    VB_PREPARED("curves", "0:0 64:40 192:225 255:255",
                velmora::prepare_curves(img.width, img.height,
                                        velmora::CurveSpec{4, kCurveXs, kCurveYs, 0}, isa)),
    VB_PREPARED("vignette", "60 70", velmora::prepare_vignette(img.width, img.height, 60, 70, isa)),
    VB_PREPARED("saturation", "40", velmora::prepare_saturation(img.width, img.height, 40, isa)),
    VB_PREPARED("hue", "90", velmora::prepare_hue(img.width, img.height, 90, isa)),
    VB_PREPARED("replace", "from 90 110 70 to 200 40 40, 60",
                velmora::prepare_replace(img.width, img.height,
                                         velmora::Replacement{{90, 110, 70}, {200, 40, 40}, 60},
                                         isa)),
    VB_PREPARED("colorize", "255 160 60 30",
                velmora::prepare_colorize(img.width, img.height, 255, 160, 60, 30, isa)),
    VB_PREPARED("white_balance", "20", velmora::prepare_white_balance(img.width, img.height, 20, isa)),
    VB_PREPARED("color_balance", "10 0 -10 / 5 5 0 / -10 0 10",
                velmora::prepare_color_balance(
                    img.width, img.height,
                    velmora::Balance{{10, 0, -10}, {5, 5, 0}, {-10, 0, 10}}, isa)),
    VB_PREPARED("selective", "hue 100 sat 10 range 60, +20 -30 ...",
                velmora::prepare_selective(img.width, img.height,
                                           velmora::Selection{100, 10, 60, {20, 0, -30, 0, 10, 0}},
                                           isa)),
};
#undef VB_PREPARED

void run_bands(benchmark::State &state, const Prepared &adj, Isa isa) {
    const Picture &pic = photo();
    if (pic.rgba.empty()) {
        state.SkipWithError("no photograph");
        return;
    }
    const Image whole{pic.width, pic.height, const_cast<unsigned char *>(pic.rgba.data())};
    const BandKernelPtr kernel = adj.prepare(whole, isa);
    if (!kernel) {
        state.SkipWithError("kernel refused its parameters");
        return;
    }
    const size_t stride = 4 * static_cast<size_t>(pic.width);
    std::vector<unsigned char> band(stride * kBandRows);
    double timed = 0;  // the kernel's time over every iteration
    for (auto _ : state) {
        double seconds = 0;
        for (int y = 0; y < pic.height; y += kBandRows) {
            const int rows = pic.height - y < kBandRows ? pic.height - y : kBandRows;
            // The band as the reader hands it over: fresh, and in cache.
            std::memcpy(band.data(), pic.rgba.data() + stride * y, stride * rows);
            const double start = thread_seconds();
            kernel->run_rows(band.data(), stride, pic.width, y, rows);
            seconds += thread_seconds() - start;
            benchmark::ClobberMemory();
        }
        state.SetIterationTime(seconds);
        timed += seconds;
    }
    state.SetLabel(adj.settings);
    // Megapixels per second of the kernel's own processor time.
    if (timed > 0)
        state.counters["Mpx/s"] = static_cast<double>(pic.width) * pic.height * 1e-6 *
                                  static_cast<double>(state.iterations()) / timed;
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 1 && std::strncmp(argv[1], "--", 2) != 0) g_photo_path = argv[1];
    for (const Prepared &adj : kPrepared)
        for (const Isa isa : velmora::available_isas())
            benchmark::RegisterBenchmark(
                (std::string("band/") + adj.name + "/" + velmora::isa_name(isa)).c_str(),
                [&adj, isa](benchmark::State &state) { run_bands(state, adj, isa); })
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
