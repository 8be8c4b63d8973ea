#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <limits>
#include <set>
#include <sys/resource.h>

#include "engine/ZipUtils.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "tests/TestSupport.h"

using platform::FileExists;
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

TEST(MoveOrCopyFile, RenamesOverTheTargetOnOneFileSystem)
{
    TempDir t;
    WriteFile(t / "new", "new data");
    WriteFile(t / "old", "old data");
    MoveOrCopyFile(t / "new", t / "old");
    EXPECT_EQ(ReadFile(t / "old"), "new data");
    EXPECT_FALSE(FileExists(t / "new"));

    // A file moved onto itself stays as it is.
    MoveOrCopyFile(t / "old", t / "old");
    EXPECT_EQ(ReadFile(t / "old"), "new data");
    EXPECT_THROW(MoveOrCopyFile(t / "missing", t / "old"), EFOpenError);
    EXPECT_EQ(ReadFile(t / "old"), "new data");
}

TEST(ContainedFolder, DropsComponentsThatLeadUpOrNowhere)
{
    EXPECT_EQ(ContainedFolder("../../etc/"), "etc/");
    EXPECT_EQ(ContainedFolder("/abs/./x//y/"), "abs/x/y/");
    EXPECT_EQ(ContainedFolder("a/../b"), "a/b/");
    EXPECT_EQ(ContainedFolder(".."), "");
    EXPECT_EQ(ContainedFolder(""), "");
}

namespace {

// The temporary files ("ZBK...") in a folder.
std::set<std::string> TemporaryFiles(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& f : std::filesystem::directory_iterator(folder))
        if (f.path().filename().string().rfind("ZBK", 0) == 0)
            names.insert(f.path().string());
    return names;
}

}  // namespace

TEST(MoveOrCopyFile, CopiesAcrossFileSystems)
{
    TempDir here;
    if (!std::filesystem::is_directory("/dev/shm") || platform::SameFileSystem(here.Path(), "/dev/shm"))
        GTEST_SKIP() << "/dev/shm is not a second file system next to " << here.Path();
    const std::string target = platform::MakeTempFileName("/dev/shm", "zbk-test-");
    const std::string data(100000, 'z');
    WriteFile(here / "src", data);
    WriteFile(here / "empty", "");

    MoveOrCopyFile(here / "src", target);
    EXPECT_EQ(ReadFile(target), data);
    EXPECT_FALSE(FileExists(here / "src"));
    MoveOrCopyFile(here / "empty", target);
    EXPECT_EQ(ReadFile(target), "");
    EXPECT_THROW(MoveOrCopyFile(here / "missing", target), EFOpenError);
    WriteFile(target, "old archive");
    WriteFile(here / "src", data);
    const auto before = TemporaryFiles("/dev/shm");

    // A copy cut short by a file size limit is reported and leaves no partial target.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 4096;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    std::string message;
    try {
        MoveOrCopyFile(here / "src", target);
    } catch (const Exception& e) {
        message = e.what();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(message, "Error: Could not copy from " + (here / "src") + " -> " + target);
    // The target is untouched and no partial copy is left beside it.
    EXPECT_EQ(ReadFile(target), "old archive");
    EXPECT_TRUE(FileExists(here / "src"));
    EXPECT_EQ(TemporaryFiles("/dev/shm"), before);
    platform::DeleteFile(target);
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
