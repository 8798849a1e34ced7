// The huge-page advice.
#include "memory.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace velmora {

void advise_huge_pages(void *block, size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const uintptr_t huge = uintptr_t(2) << 20;
    if (size < 2 * huge) return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + huge - 1) & ~(huge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size) & ~(huge - 1);
    if (end > begin) madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)block;
    (void)size;
#endif
}

}  // namespace velmora
