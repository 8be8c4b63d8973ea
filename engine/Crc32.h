// The ZIP CRC-32 (reflected polynomial 0xEDB88320). The byte step and its
// table also drive the key update of the traditional cipher.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

extern const std::array<uint32_t, 256> CrcTable;

// One byte into a running CRC register.
inline uint32_t Crc32Step(uint32_t crc, uint8_t b)
{
    return CrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
}

// Runs a block through the register (no initial or final inversion), the same
// as Crc32Step for every byte, by libdeflate (carry-less multiplication).
uint32_t Crc32Update(uint32_t crc, const void* data, size_t count);
