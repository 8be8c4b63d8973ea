#include "engine/Crc32.h"

#include <limits>
#include <zlib.h>

const std::array<uint32_t, 256> CrcTable = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}();

uint32_t Crc32Update(uint32_t crc, const void* data, size_t count)
{
    // zlib's crc32() inverts on entry and exit; undo both so the register
    // matches the byte-wise step.
    auto p = static_cast<const Bytef*>(data);
    uLong c = crc ^ 0xFFFFFFFFu;
    while (count > 0) {
        uInt n = count > std::numeric_limits<uInt>::max() ? std::numeric_limits<uInt>::max() : uInt(count);
        c = crc32(c, p, n);
        p += n;
        count -= n;
    }
    return uint32_t(c) ^ 0xFFFFFFFFu;
}
