// Runs the fuzz target over files, without the fuzzer: the seed corpus and
// every input that once made it fail run as ordinary tests in every build.
// Arguments: files or folders (every file in a folder, in name order; names
// starting with '.' and README files are skipped). A failing input aborts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

static bool is_input(const fs::path &p) {
    const std::string name = p.filename().string();
    return !name.empty() && name[0] != '.' && name.rfind("README", 0) != 0;
}

int main(int argc, char **argv) {
    std::vector<fs::path> inputs;
    for (int a = 1; a < argc; ++a) {
        const fs::path arg(argv[a]);
        if (fs::is_directory(arg)) {
            std::vector<fs::path> found;
            for (const auto &e : fs::directory_iterator(arg))
                if (e.is_regular_file() && is_input(e.path())) found.push_back(e.path());
            std::sort(found.begin(), found.end());
            inputs.insert(inputs.end(), found.begin(), found.end());
        } else if (fs::is_regular_file(arg)) {
            inputs.push_back(arg);
        } else {
            std::fprintf(stderr, "replay: no such file or folder: %s\n", argv[a]);
            return 2;
        }
    }
    for (const fs::path &p : inputs) {
        std::ifstream in(p, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        std::printf("%s\n", p.string().c_str());
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    }
    std::printf("replayed %u inputs\n", static_cast<unsigned>(inputs.size()));
    return 0;
}
