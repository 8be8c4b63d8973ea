#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <limits>

#include "engine/ZipUtils.h"
#include "platform/Files.h"
#include "tests/TestSupport.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(PercentOf, RoundsClampsAndSurvivesLargeValues)
{
    constexpr int64_t big = std::numeric_limits<int64_t>::max();
    EXPECT_EQ(PercentOf(5, 0), 0);
    EXPECT_EQ(PercentOf(5, -3), 0);
    EXPECT_EQ(PercentOf(2, 3), 67);
    EXPECT_EQ(PercentOf(1, 200), 1);
    EXPECT_EQ(PercentOf(30, 10), 100);
    EXPECT_EQ(PercentOf(big / 2, big), 50);
    EXPECT_EQ(PercentOf(big - 1, big), 100);
}

TEST(ContainedFolder, DropsComponentsThatLeadUpOrNowhere)
{
    EXPECT_EQ(ContainedFolder("../../etc/"), "etc/");
    EXPECT_EQ(ContainedFolder("/abs/./x//y/"), "abs/x/y/");
    EXPECT_EQ(ContainedFolder("a/../b"), "a/b/");
    EXPECT_EQ(ContainedFolder(".."), "");
    EXPECT_EQ(ContainedFolder(""), "");
}

TEST(FileDate, LastWriteTimeClampedOrNowWhenMissing)
{
    TempDir t;
    WriteFile(t / "f", "x");
    const uint32_t noon2010 = 30u << 25 | 6u << 21 | 15u << 16 | 12u << 11;
    ASSERT_TRUE(platform::FileSetDosTime(t / "f", noon2010));
    ASSERT_TRUE(platform::FileSetDosTime(t.Path(), noon2010));
    EXPECT_EQ(FileDate(t / "f"), noon2010);
    EXPECT_EQ(FileDate(t.Path() + "/"), noon2010);

    ASSERT_TRUE(platform::FileSetDosTime(t / "f", 125u << 25 | 6u << 21 | 15u << 16));  // 2105
    EXPECT_EQ(FileDate(t / "f") >> 25, 125u);                                          // as it is

    const std::time_t now = std::time(nullptr);
    std::time_t missing = 0;
    ASSERT_TRUE(platform::DosDateTimeToDateTime(FileDate(t / "missing"), missing));
    EXPECT_LE(now - missing, 3);
    EXPECT_GE(now - missing, -3);
}
