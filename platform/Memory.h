// Memory for large tables that are read at random.
#pragma once

#include <cstddef>
#include <memory>

namespace platform {

struct LargeMemoryFree {
    void operator()(void* p) const;
};
using LargeMemory = std::unique_ptr<void, LargeMemoryFree>;

// bytes of memory in whole huge pages where the system gives them, so that
// reading it at random does not miss the address cache at almost every
// step; null when there is no memory.
LargeMemory AllocateLarge(size_t bytes);

}  // namespace platform
