// Archives as other tools write them: data in front of the archive, more
// entries than the 16-bit count holds, AES entries.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <zlib.h>

#include "engine/ZipExceptions.h"
#include "engine/ZipWriter.h"
#include "tests/TestSupport.h"

namespace fs = std::filesystem;
using testing_support::AssembleZip;
using testing_support::RawEntry;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// What a test-decoding of every entry came to: the names that passed and
// the failures as "name: what".
struct Tested {
    std::vector<std::string> passed, failed;
};

Tested TestAll(const std::string& zip, int* count = nullptr)
{
    TZipReader r;
    r.SetZipName(zip);
    r.TestOnly = true;
    r.DoAll = true;
    Tested t;
    r.OnEndUnZip = [&](TZipReader& sender, int i, const std::string&) { t.passed.push_back(sender.EntryName(i)); };
    r.OnEntryError = [&](TZipReader& sender, int i, const std::string& what) {
        t.failed.push_back(sender.EntryName(i) + ": " + what);
    };
    r.UnZip();
    r.ReadArchive();
    if (count)
        *count = r.EntryCount();
    return t;
}

}  // namespace

TEST(ForeignArchives, DataInFrontShiftsEveryOffset)
{
    TempDir t;
    const std::string zip = AssembleZip({{"a.txt", "alpha"}, {"dir/b.txt", "beta"}, {"c.txt", "gamma"}});
    // A stub as self-extractors and .jmod files have; python's zipfile through
    // a pipe writes data descriptors and offsets from its own first byte.
    WriteFile(t / "stub.zip", std::string("JM\x01\x00", 4) + zip);
    std::string out;
    ASSERT_EQ(testing_support::Run("cd '" + t.Path() + "' && (printf 'MZ-stub-of-some-length'; python3 -c \"import sys, "
                                                      "zipfile\nwith zipfile.ZipFile(sys.stdout.buffer, 'w') as z:\n"
                                                      " z.writestr('x.txt', 'x' * 1000)\n z.writestr('y.txt', 'why')\n"
                                                      " z.writestr('z/z.txt', 'zed')\" | cat) > py.zip",
                                   &out),
              0)
        << out;
    for (const auto& [archive, names] :
         {std::pair{t / "stub.zip", std::vector<std::string>{"a.txt", "b.txt", "c.txt"}},
          std::pair{t / "py.zip", std::vector<std::string>{"x.txt", "y.txt", "z.txt"}}}) {
        SCOPED_TRACE(archive);
        int count = 0;
        const Tested tested = TestAll(archive, &count);
        EXPECT_EQ(count, 3);
        EXPECT_EQ(tested.passed, names);
        EXPECT_TRUE(tested.failed.empty());
        TZipReader r;
        r.SetZipName(archive);
        r.SetDestDir(t / "out");
        r.DoAll = true;
        r.RecreateDirs = true;
        r.OverwriteMode = TUZOverwriteMode::Always;
        EXPECT_EQ(r.UnZip(), 3);
    }
    EXPECT_EQ(ReadFile(t / "out/dir/b.txt"), "beta");
    EXPECT_EQ(ReadFile(t / "out/x.txt"), std::string(1000, 'x'));
}

TEST(ForeignArchives, MoreEntriesThanTheCountHolds)
{
    TempDir t;
    std::vector<RawEntry> entries;
    for (int i = 0; i < 65537; ++i)
        entries.push_back({"f" + std::to_string(i), std::to_string(i)});
    // The 16-bit count says 1, as older tools write it without Zip64 records.
    WriteFile(t / "many.zip", AssembleZip(entries));
    int count = 0;
    const Tested tested = TestAll(t / "many.zip", &count);
    EXPECT_EQ(count, 65537);
    EXPECT_EQ(tested.passed.size(), 65537u);
    EXPECT_EQ(tested.passed.back(), "f65536");
    // The end record as read holds the real total, not the wrapped count.
    TZipReader r;
    r.SetZipName(t / "many.zip");
    r.ReadArchive();
    EXPECT_EQ(r.EndCentral().TotalEntries(), 65537u);
}

TEST(ForeignArchives, UnicodePathFieldsNameTheirEntries)
{
    // Info-ZIP's field 0x7075: version 1, the CRC-32 of the plain name, the UTF-8 name.
    const auto field = [](const std::string& plain, const std::string& name, uint32_t crcDelta = 0,
                          char kind = 'p') {
        const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(plain.data()), uInt(plain.size()))) +
                             crcDelta;
        std::string f = {'u', kind, char(5 + name.size()), 0, 1};  // 0x7075 path, 0x6375 comment
        for (int i = 0; i < 4; ++i)
            f += char(crc >> (8 * i));
        return f + name;
    };
    TempDir t;
    WriteFile(t / "u.zip", AssembleZip({
                               {.name = "??.txt", .data = "one", .extra = field("??.txt", "\u65e5\u672c.txt")},
                               {.name = "??.txt", .data = "two", .extra = field("??.txt", "\u4e2d\u6587.txt")},
                               {.name = "old.txt", .data = "three", .extra = field("old.txt", "new.txt", 1)},
                               {.name = "c.txt", .data = "four", .extra = field("caf?", "caf\u00e9", 0, 'c'),
                                .comment = "caf?"},
                           }));
    TZipReader r;
    r.SetZipName(t / "u.zip");
    r.ReadArchive();
    ASSERT_EQ(r.EntryCount(), 4);
    EXPECT_EQ(r.EntryName(0), "\u65e5\u672c.txt");
    EXPECT_EQ(r.EntryName(1), "\u4e2d\u6587.txt");
    EXPECT_EQ(r.EntryName(2), "old.txt") << "a field whose checksum does not match is ignored";
    EXPECT_EQ(r.EntryComment(3), "caf\u00e9");
}

TEST(ForeignArchives, TimesAndFolderModesComeFromTheArchive)
{
    // Made in another time zone: the DOS time is Tokyo's, the timestamp field UTC.
    TempDir t;
    WriteFile(t / "src/top/inner/f.txt", "f");
    std::string out;
    ASSERT_EQ(testing_support::Run("cd '" + t.Path() + "/src' && touch -d @1623758400 top/inner/f.txt && "
                                   "chmod 750 top/inner && touch -d @1500000000 top/inner && "
                                   "touch -d @4000000000 top && TZ=Asia/Tokyo zip -qr ../x.zip top",
                                   &out),
              0)
        << out;
    TZipReader r;
    r.SetZipName(t / "x.zip");
    r.SetDestDir(t / "out");
    r.DoAll = true;
    r.RecreateDirs = true;
    EXPECT_EQ(r.UnZip(), 3);
    struct stat file {}, folder {}, top {};
    ASSERT_EQ(stat((t / "out/top/inner/f.txt").c_str(), &file), 0);
    ASSERT_EQ(stat((t / "out/top/inner").c_str(), &folder), 0);
    ASSERT_EQ(stat((t / "out/top").c_str(), &top), 0);
    EXPECT_EQ(file.st_mtime, 1623758400);
    // Folders get their time and mode after their contents are written; a
    // time after 2038 comes from the DOS field, read up to 2107.
    EXPECT_EQ(folder.st_mtime, 1500000000);
    EXPECT_EQ(folder.st_mode & 07777, 0750u);
    EXPECT_GT(top.st_mtime, 3999990000);
}

TEST(ForeignArchives, NewEntriesCarryTheirExactTime)
{
    // Times 1970 to 2106 go into an extended timestamp (those after 2038
    // wrapped, as other tools write them), the others into an NTFS field.
    struct Case {
        int64_t time;
        bool ntfs;  // else an extended timestamp
        const char* shown;  // as 7-Zip shows it
    } cases[] = {
        {1623758401, false, "2021-06-15 12:00:01"},
        {0, false, "1970-01-01 00:00:00"},
        {2524608000, false, "2050-01-01 00:00:00"},
        {4294967295, false, "2106-02-07 06:28:15"},
        {4294967296, true, "2106-02-07 06:28:16"},
        {4430678400, true, "2110-05-28 00:00:00"},
        {-14182940, true, "1969-07-20 20:17:40"},
        {-1893456000, true, "1910-01-01 00:00:00"},
    };
    TempDir t;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        const std::string file = t / "src/f.txt", zip = t / "x.zip";
        WriteFile(file, "f");
        fs::remove(zip);
        std::string out;
        ASSERT_EQ(testing_support::Run("touch -d @" + std::to_string(c.time) + " '" + file + "'", &out), 0);
        {
            TZipWriter w;
            w.SetZipName(zip);
            w.FilesList = {file};
            ASSERT_EQ(w.Zip(), 1);
        }
        // The field is in both headers.
        const std::string bytes = ReadFile(zip);
        const std::string tag = c.ntfs ? std::string("\x0a\x00\x20\x00", 4) : std::string("UT\x05\x00", 4);
        const size_t central = bytes.find("PK\1\2");
        EXPECT_LT(bytes.find(tag), central);
        EXPECT_NE(bytes.find(tag, central), std::string::npos);

        TZipReader r;
        r.SetZipName(zip);
        r.ReadArchive();
        EXPECT_EQ(r.EntryInfo(0).ModTimeUtc, std::optional<int64_t>(c.time));
        r.SetDestDir(t / "dest");
        r.DoAll = true;
        r.OverwriteMode = TUZOverwriteMode::Always;
        ASSERT_EQ(r.UnZip(), 1);
        EXPECT_EQ(fs::last_write_time(t / "dest/f.txt"), fs::last_write_time(file));

        ASSERT_EQ(testing_support::Run("TZ=UTC 7zz l -slt '" + zip + "'", &out), 0) << out;
        EXPECT_NE(out.find(std::string("Modified = ") + c.shown), std::string::npos) << out;
        EXPECT_EQ(testing_support::Run("python3 -m zipfile -t '" + zip + "'", &out), 0) << out;
    }
}

TEST(ForeignArchives, TheNtfsTimeOfSevenZipIsRead)
{
    TempDir t;
    WriteFile(t / "src/f.txt", "f");
    std::string out;
    ASSERT_EQ(testing_support::Run("touch -d '2017-11-01 04:11:57.7 UTC' '" + t / "src/f.txt" + "' && cd '" +
                                       t / "src" + "' && 7zz a -tzip -mtc=on ../x.zip f.txt",
                                   &out),
              0)
        << out;
    TZipReader r;
    r.SetZipName(t / "x.zip");
    r.ReadArchive();
    EXPECT_EQ(r.EntryInfo(0).ModTimeUtc, std::optional<int64_t>(1509509517));
}

TEST(ForeignArchives, SevenZipVolumesReadAsOneArchive)
{
    TempDir t;
    WriteFile(t / "src/big.bin", std::string(300000, 'v') + "end");
    WriteFile(t / "src/small.txt", "small");
    std::string out;
    ASSERT_EQ(testing_support::Run("cd '" + t.Path() + "/src' && 7zz a -tzip -mx=0 -v100k ../x.zip big.bin small.txt",
                                   &out),
              0)
        << out;
    ASSERT_TRUE(fs::exists(t / "x.zip.003"));
    const Tested tested = TestAll(t / "x.zip.001");
    EXPECT_EQ(tested.passed, (std::vector<std::string>{"big.bin", "small.txt"}));
    TZipReader r;
    r.SetZipName(t / "x.zip.001");
    r.SetDestDir(t / "out");
    r.DoAll = true;
    EXPECT_EQ(r.UnZip(), 2);
    EXPECT_EQ(ReadFile(t / "out/big.bin"), ReadFile(t / "src/big.bin"));

    // A set is never rewritten as one file over its first volume.
    TZipWriter w;
    w.SetZipName(t / "x.zip.001");
    w.FilesList = {"small.txt"};
    EXPECT_THROW(w.RemoveEntries(), EZipEngineError);
    EXPECT_TRUE(fs::exists(t / "x.zip.003"));
}
