#include "platform/Memory.h"

#include <sys/mman.h>

#include <cstdlib>

namespace platform {

void LargeMemoryFree::operator()(void* p) const
{
    std::free(p);
}

LargeMemory AllocateLarge(size_t bytes)
{
    constexpr size_t HugePage = size_t(2) << 20;
    const size_t rounded = (bytes + HugePage - 1) / HugePage * HugePage;
    LargeMemory memory(std::aligned_alloc(HugePage, rounded));
    // Only advice: without transparent huge pages the memory is as good.
    if (memory)
        madvise(memory.get(), rounded, MADV_HUGEPAGE);
    return memory;
}

}  // namespace platform
