#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Files.h"
#include "tests/TestSupport.h"

using namespace platform;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

std::vector<std::string> FindAll(const std::string& dir, int mask)
{
    std::vector<std::string> names;
    FindHandle find;
    FindRecord rec;
    for (bool ok = find.First(dir, mask, rec); ok; ok = find.Next(rec))
        names.push_back(rec.Name);
    return names;
}

}  // namespace

TEST(Find, DotEntriesFirstThenNamesFoldedAndFilteredByMask)
{
    TempDir t;
    for (const char* n : {"b.txt", "A.txt", "a.txt", "_x", ".hidden", "Zeta"})
        WriteFile(t / n, "x");
    std::filesystem::create_directory(t / "sub");
    std::filesystem::create_directory(t / ".hdir");
    WriteFile(t / "ro.txt", "r");
    chmod((t / "ro.txt").c_str(), 0444);

    EXPECT_EQ(FindAll(t.Path(), faAnyFile),
              (std::vector<std::string>{".", "..", ".hdir", ".hidden", "_x", "A.txt", "a.txt", "b.txt", "ro.txt",
                                        "sub", "Zeta"}));
    // Letters compare as lower case, so '_' sorts before them. Without folder,
    // hidden and read-only in the mask only plain files remain.
    EXPECT_EQ(FindAll(t.Path(), faArchive), (std::vector<std::string>{"_x", "A.txt", "a.txt", "b.txt", "Zeta"}));
    EXPECT_EQ(FindAll(t.Path(), faDirectory),
              (std::vector<std::string>{".", "..", "_x", "A.txt", "a.txt", "b.txt", "sub", "Zeta"}));

    FindHandle none;
    FindRecord rec;
    EXPECT_FALSE(none.First(t / "missing", faAnyFile, rec));
}

TEST(Find, RecordsCarrySizeAttributesAndLinksAreResolvedSafely)
{
    TempDir t;
    WriteFile(t / "data.bin", std::string(1234, 'd'));
    std::filesystem::create_directory(t / "dir");
    symlink((t / "data.bin").c_str(), (t / "link-to-file").c_str());
    symlink((t / "dir").c_str(), (t / "link-to-dir").c_str());
    symlink((t / "nowhere").c_str(), (t / "dangling").c_str());
    mkfifo((t / "pipe").c_str(), 0644);  // opening it for reading would wait forever

    FindHandle find;
    FindRecord rec;
    std::map<std::string, FindRecord> seen;
    for (bool ok = find.First(t.Path(), faAnyFile, rec); ok; ok = find.Next(rec))
        seen[rec.Name] = rec;
    ASSERT_EQ(seen.count("link-to-file"), 1u);
    EXPECT_EQ(seen["link-to-file"].Size, 1234);
    EXPECT_EQ(seen.count("link-to-dir"), 0u);  // never walked into
    EXPECT_EQ(seen.count("dangling"), 0u);
    EXPECT_EQ(seen.count("pipe"), 0u);
    EXPECT_TRUE(FileExists(t / "link-to-file"));
    EXPECT_FALSE(FileExists(t / "pipe"));
    EXPECT_FALSE(FileExists(t / "dir"));
    EXPECT_EQ(seen["data.bin"].Size, 1234);
    EXPECT_EQ(seen["data.bin"].Attr, faArchive);
    EXPECT_EQ(seen["dir"].Attr, faDirectory | faArchive);
}

TEST(Attributes, ReadOnlyFollowsOwnerWritePermission)
{
    TempDir t;
    WriteFile(t / "f", "x");
    EXPECT_EQ(FileGetAttr(t / "f"), faArchive);
    ASSERT_TRUE(FileSetAttr(t / "f", faReadOnly | faArchive));
    struct stat st;
    stat((t / "f").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(FileGetAttr(t / "f"), faReadOnly | faArchive);
    ASSERT_TRUE(FileSetAttr(t / "f", faArchive));
    EXPECT_EQ(FileGetAttr(t / "f"), faArchive);
    EXPECT_EQ(FileGetAttr(t / ".f") , -1);
    WriteFile(t / ".f", "x");
    EXPECT_EQ(FileGetAttr(t / ".f"), faHidden | faArchive);
    EXPECT_EQ(FileGetAttr(t.Path() + "/"), faDirectory | faArchive);
}

TEST(Attributes, OwnerAndModeGoOnTheFileAndNeverThroughALink)
{
    TempDir t;
    for (const char* name : {"from", "to", "outside"})
        WriteFile(t / name, name);
    chmod((t / "from").c_str(), 04750);
    chmod((t / "to").c_str(), 0600);
    chmod((t / "outside").c_str(), 0600);
    symlink((t / "outside").c_str(), (t / "link").c_str());
    FileCopyOwnerAndMode(t / "from", t / "to");
    FileCopyOwnerAndMode(t / "from", t / "link");
    EXPECT_EQ(FileGetMode(t / "to") & 07777, 0750);
    EXPECT_EQ(FileGetMode(t / "outside") & 07777, 0600);
}

TEST(Times, DosDateTimesAreLocalAndRoundTripThroughFiles)
{
    // 2021-06-15 12:34:56 local time.
    uint32_t dos = (41u << 25) | (6u << 21) | (15u << 16) | (12u << 11) | (34u << 5) | 28u;
    std::time_t t;
    ASSERT_TRUE(DosDateTimeToDateTime(dos, t));
    struct tm tm;
    localtime_r(&t, &tm);
    EXPECT_EQ(tm.tm_year, 121);
    EXPECT_EQ(tm.tm_hour, 12);
    EXPECT_EQ(tm.tm_sec, 56);
    EXPECT_EQ(DateTimeToDosDateTime(t), dos);
    EXPECT_EQ(DateTimeToDosDateTime(t + 1), dos);  // two-second resolution

    TempDir d;
    WriteFile(d / "f", "x");
    ASSERT_TRUE(FileSetDosTime(d / "f", dos));
    uint32_t back = 0;
    ASSERT_TRUE(FileGetDosTime(d / "f", back));
    EXPECT_EQ(back, dos);

    // 30 February, month 13 and hour 24 are not times.
    EXPECT_FALSE(DosDateTimeToDateTime((41u << 25) | (2u << 21) | (30u << 16), t));
    EXPECT_FALSE(DosDateTimeToDateTime((41u << 25) | (13u << 21) | (1u << 16), t));
    EXPECT_FALSE(DosDateTimeToDateTime((41u << 25) | (1u << 21) | (1u << 16) | (24u << 11), t));
    EXPECT_FALSE(FileSetDosTime(d / "f", 0));
    // In a zone with summer time, on both sides of the change.
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    for (uint32_t month : {1u, 3u, 6u, 10u, 12u}) {
        uint32_t local = (41u << 25) | (month << 21) | (27u << 16) | (2u << 11) | (30u << 5);
        ASSERT_TRUE(DosDateTimeToDateTime(local, t));
        EXPECT_EQ(DateTimeToDosDateTime(t), local) << month;
    }
    uint32_t summer = (41u << 25) | (6u << 21) | (15u << 16) | (12u << 11);
    ASSERT_TRUE(DosDateTimeToDateTime(summer, t));
    EXPECT_EQ(t, std::time_t(1623751200));  // 2021-06-15 10:00 UTC
    unsetenv("TZ");
    tzset();
    // Times outside the DOS range are clamped to its ends.
    EXPECT_EQ(DateTimeToDosDateTime(0), (1u << 21) | (1u << 16));
}

TEST(Files, HandlesReadWriteSeekTruncate)
{
    TempDir t;
    Handle h = FileCreate(t / "f");
    ASSERT_NE(h, InvalidHandle);
    EXPECT_EQ(FileWrite(h, "hello world", 11), 11);
    EXPECT_EQ(FileSeek(h, 5, 0), 5);
    ASSERT_TRUE(FileTruncate(h));
    EXPECT_EQ(FileSeek(h, 0, 2), 5);
    EXPECT_EQ(FileSeek(h, 0, 7), -1);
    FileClose(h);

    h = FileOpen(t / "f", fmOpenRead | fmShareDenyWrite);
    ASSERT_NE(h, InvalidHandle);
    char buf[16] = {};
    EXPECT_EQ(FileRead(h, buf, sizeof buf), 5);
    EXPECT_EQ(std::string(buf), "hello");
    EXPECT_EQ(FileWrite(h, "x", 1), -1);  // opened for reading only
    FileClose(h);

    EXPECT_EQ(FileOpen(t / "missing", fmOpenRead), InvalidHandle);
    EXPECT_EQ(FileOpen(t.Path(), fmOpenRead), InvalidHandle);  // a folder is not a file
}

TEST(Folders, CreateWithParentsTempNamesAndFreeSpace)
{
    TempDir t;
    EXPECT_TRUE(ForceDirectories(t / "a/b/c"));
    EXPECT_TRUE(DirectoryExists(t / "a/b/c"));
    WriteFile(t / "file", "x");
    EXPECT_FALSE(ForceDirectories(t / "file/sub"));

    std::set<std::string> names;
    for (int i = 0; i < 20; ++i) {
        std::string n = MakeTempFileName(t.Path());
        ASSERT_FALSE(n.empty());
        EXPECT_EQ(n.rfind(t.Path() + "/ZBK", 0), 0u);
        EXPECT_TRUE(FileExists(n));
        names.insert(n);
    }
    EXPECT_EQ(names.size(), 20u);

    setenv("TMPDIR", t.Path().c_str(), 1);
    EXPECT_EQ(TempDirectory(), t.Path() + "/");
    unsetenv("TMPDIR");
    EXPECT_EQ(TempDirectory(), "/tmp/");

    int64_t freeBytes = -1, cluster = -1;
    ASSERT_TRUE(DiskFreeSpace(t / "not/yet/there.zip", freeBytes, cluster));
    EXPECT_GT(freeBytes, 0);
    EXPECT_GT(cluster, 0);
}
