#include "platform/Memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace platform {

void LargeMemoryFree::operator()(void* p) const
{
    munmap(p, bytes);
}

LargeMemory AllocateLarge(size_t bytes, bool hugePages)
{
    constexpr size_t HugePage = size_t(2) << 20;
    // A huge page needs an aligned address: a page more is mapped and the
    // ends outside the aligned pages are given back.
    const size_t mapped = hugePages ? (bytes + HugePage - 1) / HugePage * HugePage + HugePage : bytes;
    void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    if (!hugePages)
        return LargeMemory(p, {mapped});
    auto* const start = static_cast<char*>(p);
    auto* const aligned = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(start) + HugePage - 1) & ~(HugePage - 1));
    const size_t kept = mapped - HugePage;
    if (aligned > start)
        munmap(start, size_t(aligned - start));
    if (aligned + kept < start + mapped)
        munmap(aligned + kept, size_t(start + mapped - (aligned + kept)));
    // Only advice: without transparent huge pages the memory is as good.
    madvise(aligned, kept, MADV_HUGEPAGE);
    return LargeMemory(aligned, {kept});
}

}  // namespace platform
