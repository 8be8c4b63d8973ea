// Memory for large tables that are read at random.
#pragma once

#include <cstddef>
#include <memory>

namespace platform {

struct LargeMemoryFree {
    size_t bytes = 0;  // mapped
    void operator()(void* p) const;
};
using LargeMemory = std::unique_ptr<void, LargeMemoryFree>;

// bytes of memory mapped for itself, given back to the system when freed;
// null when there is none. With hugePages, in whole huge pages where the
// system gives them, so that reading it at random does not miss the address
// cache at almost every step (each page touched then costs 2 MiB).
LargeMemory AllocateLarge(size_t bytes, bool hugePages);

}  // namespace platform
