// Calls on many threads at once: the last-error text is shared by design, the
// outputs must not be. Every output is compared with the one the same call
// makes alone.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support.h"
#include "adjustments.h"

using namespace vt;

namespace {

using Bytes = std::vector<uint8_t>;

// Every adjustment of the list, with its example values, which change the picture.
struct Adjustment {
    const char *name;
    velmora_list::Values values;
    int call(const char *in, const char *out) const {
        return velmora_list::find(name)->call(in, out, values);
    }
};

std::vector<Adjustment> every_adjustment() {
    std::vector<Adjustment> all;
    for (const velmora_list::Adjustment &adj : velmora_list::kAdjustments)
        all.push_back({adj.name, velmora_list::example_values(adj)});
    return all;
}

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
    const std::vector<Adjustment> adjustments = every_adjustment();
    for (const Adjustment &adj : adjustments)
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
