#include "engine/Crc32.h"

#include <libdeflate.h>

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
    // libdeflate's crc32 (carry-less multiplication where the CPU has it)
    // inverts on entry and exit; undo both so the register matches the
    // byte-wise step.
    // (It takes a null buffer as asking for the initial value.)
    if (count == 0)
        return crc;
    return libdeflate_crc32(crc ^ 0xFFFFFFFFu, data, count) ^ 0xFFFFFFFFu;
}
