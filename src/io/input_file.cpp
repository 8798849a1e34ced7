// Reading the input file whole, by the path rules of file_paths.h.
#include "input_file.h"

#include <climits>
#include <cstdio>

#include "file_paths.h"

namespace velmora {

Buffer read_file(const char *path, uint64_t *size) {
    FILE *f = open_file(path, "rb");
    if (!f) return nullptr;
    Buffer data;
    long end = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) end = std::ftell(f);
    // Sizes are 32-bit counts: the decoder takes an int.
    if (end > 0 && end <= INT_MAX) {
        std::rewind(f);
        data.reset(static_cast<unsigned char *>(std::malloc(static_cast<size_t>(end))));
        if (data) advise_huge_pages(data.get(), static_cast<size_t>(end));
        if (data && std::fread(data.get(), 1, static_cast<size_t>(end), f) !=
                        static_cast<size_t>(end))
            data.reset();
    }
    std::fclose(f);
    if (data) *size = static_cast<uint64_t>(end);
    return data;
}

}  // namespace velmora
