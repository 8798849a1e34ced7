// The whole pipeline under fuzzing, through the public API. The input's last
// kTail bytes choose the adjustment, the output format and the parameters;
// the bytes before them are the input file. Every outcome is checked, and any
// other outcome aborts, so that the fuzzer keeps the input:
//   1: an output file and an empty message;
//   0: no output file and one printable line that starts with the name.
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "adjustments.h"

#if defined(_WIN32)
#include <process.h>
#define fuzz_getpid _getpid
#else
#include <unistd.h>
#define fuzz_getpid getpid
#endif

namespace {

// Parameter values drawn from the tail: mostly inside the given range, one
// time in sixteen an edge or a value outside it, so the checks run too.
class Params {
public:
    Params(const uint8_t *bytes, size_t size) : bytes_(bytes), size_(size) {}

    int i(int lo, int hi) {
        const unsigned v = next16();
        if ((v >> 12) == 0xF) {
            const int edges[8] = {lo, hi, lo - 1, hi + 1, 0, -1, INT_MIN, INT_MAX};
            return edges[v & 7];
        }
        const long long span = static_cast<long long>(hi) - lo + 1;
        return static_cast<int>(lo + static_cast<long long>(v) % span);
    }

    float f(float lo, float hi) {
        const unsigned v = next16();
        if ((v >> 12) == 0xF) {
            const float edges[8] = {lo, hi, -0.0f, FLT_MIN / 4.0f, FLT_MAX, -FLT_MAX,
                                    HUGE_VALF, NAN};
            return edges[v & 7];
        }
        return lo + (hi - lo) * (static_cast<float>(v & 0x0FFF) / 4095.0f);
    }

private:
    unsigned next16() {
        if (size_ == 0) return 0;
        const unsigned hi = bytes_[at_ % size_], lo = bytes_[(at_ + 1) % size_];
        at_ += 2;
        return (hi << 8) | lo;
    }

    const uint8_t *bytes_;
    size_t size_;
    size_t at_ = 0;
};

using velmora_list::Adjustment;
using velmora_list::Kind;
using velmora_list::Values;

// Mostly increasing x levels, so that most curves pass their checks.
void draw_curves(Values &v, Params &p, int (&xs)[3 * 64], int (&ys)[3 * 64]) {
    const int count = p.i(2, 64), per_channel = p.i(0, 1) ? 3 : 0;
    for (int c = 0; c < 3; ++c)
        for (int k = 0, x = -1; k < 64; ++k) {
            // an edge value drawn for the step becomes the level itself
            const int step = p.i(1, 8);
            x = step >= 1 && step <= 8 && x >= -1 && x < 1024 ? x + step : step;
            xs[c * 64 + k] = x;
            ys[c * 64 + k] = p.i(0, 255);
        }
    if (per_channel == 3 && count >= 2 && count <= 64) {
        // the library reads three curves of `count` points back to back
        for (int c = 1; c < 3; ++c)
            for (int k = 0; k < count; ++k) {
                xs[c * count + k] = xs[c * 64 + k];
                ys[c * count + k] = ys[c * 64 + k];
            }
    }
    v.v[0] = count;
    v.v[3] = per_channel;
    v.xs = xs;
    v.ys = ys;
}

// Parameters of any adjustment of the list, drawn over their ranges (any
// int: over two turns either way, besides the edges).
Values draw(const Adjustment &adj, Params &p, int (&xs)[3 * 64], int (&ys)[3 * 64]) {
    Values v;
    if (adj.param_count > 1 && adj.params[1].kind == Kind::points) {
        draw_curves(v, p, xs, ys);
        return v;
    }
    for (int k = 0; k < adj.param_count; ++k) {
        const velmora_list::Param &param = adj.params[k];
        if (param.kind == Kind::real) {
            v.v[k] = p.f(static_cast<float>(param.min), static_cast<float>(param.max));
            continue;
        }
        const bool any = param.min <= velmora_list::kAnyInt;
        int lo = any ? -720 : static_cast<int>(param.min);
        const int hi = any ? 720 : static_cast<int>(param.max);
        // A white point mostly above the black point drawn before it.
        if (std::strcmp(param.name, "white_point") == 0 && v.v[k - 1] >= lo && v.v[k - 1] < hi)
            lo = static_cast<int>(v.v[k - 1]) + 1;
        v.v[k] = p.i(lo, hi);
    }
    return v;
}

// Output extensions: each format, and one that keeps the input's.
const char *const kExtensions[] = {"png", "jpg", "bmp", "out"};

// Byte 0 picks the adjustment, byte 1 the output, the rest feed Params.
const size_t kTail = 24;

char g_input[64];
bool g_named = false;

void remove_input() { std::remove(g_input); }

[[noreturn]] void finding(const char *what, const char *name, const char *message) {
    std::fprintf(stderr, "fuzz_pipeline: %s (%s): \"%s\"\n", what, name, message);
    std::abort();
}

bool exists(const char *path) {
    FILE *f = std::fopen(path, "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

bool one_printable_line(const char *text) {
    if (!*text) return false;
    for (const char *c = text; *c; ++c)
        if (static_cast<unsigned char>(*c) < 0x20 || static_cast<unsigned char>(*c) > 0x7E)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Files in the working folder, named after the process: fuzzing jobs
    // running side by side never share them.
    if (!g_named) {
        std::snprintf(g_input, sizeof g_input, "velmora-fuzz-%d.in", int(fuzz_getpid()));
        std::atexit(remove_input);
        g_named = true;
    }
    const size_t file_size = size > kTail ? size - kTail : size;
    const uint8_t *tail = data + file_size;
    const size_t tail_size = size - file_size;

    FILE *f = std::fopen(g_input, "wb");
    if (!f) return 0;
    const bool written = std::fwrite(data, 1, file_size, f) == file_size;
    if (std::fclose(f) != 0 || !written) return 0;

    const Adjustment &adj =
        velmora_list::kAdjustments[tail_size ? tail[0] % velmora_list::kAdjustmentCount : 0];
    char output[80];
    std::snprintf(output, sizeof output, "velmora-fuzz-%d.%s", int(fuzz_getpid()),
                  kExtensions[tail_size > 1 ? tail[1] % 4 : 0]);
    Params params(tail_size > 2 ? tail + 2 : nullptr, tail_size > 2 ? tail_size - 2 : 0);

    int xs[3 * 64], ys[3 * 64];
    const int result = adj.call(g_input, output, draw(adj, params, xs, ys));
    const char *message = velmora_last_error();
    const bool wrote = exists(output);
    std::remove(output);

    if (result == 1) {
        if (*message) finding("success with a message", adj.name, message);
        if (!wrote) finding("success without an output", adj.name, message);
    } else if (result == 0) {
        if (!one_printable_line(message)) finding("not one printable line", adj.name, message);
        const size_t n = std::strlen(adj.name);
        if (std::strncmp(message, adj.name, n) != 0 || std::strncmp(message + n, ": ", 2) != 0)
            finding("message without the name", adj.name, message);
        if (wrote) finding("failure with an output", adj.name, message);
        // The decoder's assertions are kept from aborting, and the file is
        // refused; still, an input that breaks one is worth a look.
        if (std::strstr(message, "(inconsistent data)")) finding("decoder assertion", adj.name, message);
    } else {
        finding("result neither 0 nor 1", adj.name, message);
    }
    return 0;
}
