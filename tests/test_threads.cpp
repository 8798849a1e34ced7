// Calls on many threads at once: the last-error text is shared by design, the
// outputs must not be. Every output is compared with the one the same call
// makes alone.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support.h"
#include "velmora.h"

using namespace vt;

namespace {

using Bytes = std::vector<uint8_t>;

struct Adjustment {
    const char *name;
    int (*call)(const char *in, const char *out);
};

// Every adjustment, with parameters that change the picture.
const Adjustment kAdjustments[] = {
    {"grayscale", [](const char *i, const char *o) { return velmora_grayscale(i, o); }},
    {"sepia", [](const char *i, const char *o) { return velmora_sepia(i, o); }},
    {"invert", [](const char *i, const char *o) { return velmora_invert(i, o); }},
    {"brightness", [](const char *i, const char *o) { return velmora_brightness(i, o, 30); }},
    {"contrast", [](const char *i, const char *o) { return velmora_contrast(i, o, -40); }},
    {"gamma", [](const char *i, const char *o) { return velmora_gamma(i, o, 1.7f); }},
    {"levels", [](const char *i, const char *o) { return velmora_levels(i, o, 20, 230, 0.8f); }},
    {"auto_levels", [](const char *i, const char *o) { return velmora_auto_levels(i, o); }},
    {"curves", [](const char *i, const char *o) {
         static const int xs[] = {0, 100, 255}, ys[] = {10, 180, 240};
         return velmora_curves(i, o, 3, xs, ys, 0); }},
    {"vignette", [](const char *i, const char *o) { return velmora_vignette(i, o, 70, 60); }},
    {"saturation", [](const char *i, const char *o) { return velmora_saturation(i, o, 60); }},
    {"hue", [](const char *i, const char *o) { return velmora_hue(i, o, 135); }},
    {"replace", [](const char *i, const char *o) {
         return velmora_replace(i, o, 120, 120, 120, 255, 0, 0, 200); }},
    {"colorize", [](const char *i, const char *o) {
         return velmora_colorize(i, o, 30, 90, 200, 40); }},
    {"white_balance", [](const char *i, const char *o) {
         return velmora_white_balance(i, o, 8); }},
    {"color_balance", [](const char *i, const char *o) {
         return velmora_color_balance(i, o, 0, 0, 20, 10, 0, -10, 15, 5, 0); }},
    {"selective", [](const char *i, const char *o) {
         return velmora_selective(i, o, 90, 10, 60, 40, 20, 0, 0, -30, 0); }},
};

struct Job {
    const Adjustment *adjustment;
    std::string input;
    std::string output_ext;
    int result = 0;
    Bytes output;  // what the call writes when it runs alone
};

std::string output_path(const Sandbox &box, size_t job, int round, const Job &j) {
    return box.path("out-" + std::to_string(job) + "-" + std::to_string(round) + j.output_ext);
}

TEST(Threads, ConcurrentCallsWriteWhatEachCallWritesAlone) {
    Sandbox box;
    // Inputs of every format and size, and three the decoder refuses.
    write_png(box.path("a.png"), gradient(167, 141), 4);
    write_jpg(box.path("b.jpg"), gradient(196, 180));
    write_bmp(box.path("c.bmp"), gradient(133, 150), 3);
    write_png(box.path("d.png"), gradient(250, 7), 1);
    write_bytes(box.path("e.png"), {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0});
    write_bytes(box.path("f.bmp"), {'B', 'M', 0, 0});
    // 1x1 header, then a critical chunk the decoder does not know (its
    // reason holds the chunk's name).
    write_bytes(box.path("g.png"), {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13,
                                    'I', 'H', 'D', 'R', 0, 0, 0, 1, 0, 0, 0, 1, 8, 0, 0, 0,
                                    0, 0, 0, 0, 0, 0, 0, 0, 0, 'Q', 'Z', 'X', 'Y', 0, 0, 0, 0});
    const char *const inputs[] = {"a.png", "b.jpg", "c.bmp", "d.png", "e.png", "f.bmp", "g.png"};
    const char *const exts[] = {".png", ".jpg", ".bmp"};

    std::vector<Job> jobs;
    for (const Adjustment &adj : kAdjustments)
        for (const char *in : inputs)
            for (const char *ext : exts) jobs.push_back(Job{&adj, box.path(in), ext, 0, {}});

    // Alone, one after another.
    for (size_t k = 0; k < jobs.size(); ++k) {
        Job &j = jobs[k];
        const std::string out = output_path(box, k, 0, j);
        j.result = j.adjustment->call(j.input.c_str(), out.c_str());
        if (j.result) j.output = read_bytes(out);
    }

    // All at once, three times each, from eight threads.
    const int rounds = 3;
    std::atomic<size_t> next{0};
    std::vector<int> results(jobs.size() * rounds, -1);
    auto worker = [&] {
        for (size_t n; (n = next.fetch_add(1)) < results.size();) {
            const size_t k = n % jobs.size();
            const int round = 1 + int(n / jobs.size());
            const std::string out = output_path(box, k, round, jobs[k]);
            results[n] = jobs[k].adjustment->call(jobs[k].input.c_str(), out.c_str());
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) threads.emplace_back(worker);
    for (std::thread &t : threads) t.join();

    for (size_t n = 0; n < results.size(); ++n) {
        const size_t k = n % jobs.size();
        const int round = 1 + int(n / jobs.size());
        const Job &j = jobs[k];
        SCOPED_TRACE(std::string(j.adjustment->name) + " " + j.input + " -> " + j.output_ext);
        EXPECT_EQ(results[n], j.result);
        const std::string out = output_path(box, k, round, j);
        if (j.result) EXPECT_TRUE(read_bytes(out) == j.output) << "output differs";
        else EXPECT_FALSE(file_exists(out));
    }
    // The successful files decode, so the comparison is not between empty files.
    EXPECT_FALSE(jobs.front().output.empty());
}

}  // namespace
