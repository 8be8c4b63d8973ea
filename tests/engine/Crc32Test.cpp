#include <gtest/gtest.h>

#include <string>

#include "engine/Crc32.h"

TEST(Crc32, TableStepAndBlockUpdateAgreeOnTheStandardCheckValue)
{
    const std::string check = "123456789";
    uint32_t bytewise = 0xFFFFFFFF;
    for (unsigned char c : check)
        bytewise = Crc32Step(bytewise, c);
    EXPECT_EQ(bytewise ^ 0xFFFFFFFF, 0xCBF43926u);

    // Split updates carry the register across blocks.
    uint32_t blocks = Crc32Update(0xFFFFFFFF, check.data(), 4);
    blocks = Crc32Update(blocks, check.data() + 4, check.size() - 4);
    EXPECT_EQ(blocks, bytewise);
    EXPECT_EQ(Crc32Update(0x12345678, nullptr, 0), 0x12345678u);
}
