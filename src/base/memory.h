// Heap blocks: the one owning buffer type, and the huge-page advice for
// large ones. Internal.
#ifndef VELMORA_MEMORY_H
#define VELMORA_MEMORY_H

#include <cstddef>
#include <cstdlib>
#include <memory>

namespace velmora {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
// A malloc'd byte buffer, freed when it goes out of scope.
using Buffer = std::unique_ptr<unsigned char[], FreeDeleter>;

// Asks for huge pages for a large block not yet touched. On a 24-megapixel
// picture the faults on fresh small pages cost as much as decoding it; huge
// pages make them 512 times fewer. Linux only; elsewhere, and where the
// system declines, nothing changes.
void advise_huge_pages(void *block, size_t size);

}  // namespace velmora

#endif
