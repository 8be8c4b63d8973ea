#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "engine/ZipExceptions.h"
#include "engine/ZipReader.h"
#include "platform/CodePage.h"
#include "platform/Hooks.h"
#include "tests/TestSupport.h"

namespace fs = std::filesystem;
using testing_support::CorpusDir;
using testing_support::ManifestRow;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

std::vector<std::string> StoredNames(const TZipReader& r)
{
    std::vector<std::string> names;
    for (int i = 0; i < r.EntryCount(); ++i)
        names.push_back(r.EntryFolder(i) + r.EntryName(i));
    return names;
}

std::vector<std::string> Read(const std::string& path, TIncompleteZipMode mode = TIncompleteZipMode::izAssumeMulti)
{
    TZipReader r;
    r.IncompleteZipMode = mode;
    r.SetZipName(path);
    r.ReadArchive();
    return StoredNames(r);
}

std::string Bad(const std::string& name)
{
    return CorpusDir() + "/bad/" + name;
}

// Makes a split set with Info-ZIP in dir: x.z01, x.z02, ..., x.zip. The
// names are long and many, so that the central directory itself runs over
// several parts.
std::vector<std::string> MakeSplitSet(const TempDir& dir, int files, size_t noiseBytes = 0)
{
    std::vector<std::string> names;
    if (noiseBytes > 0) {
        std::string noise(noiseBytes, '\0');
        uint32_t x = 12345;
        for (char& c : noise)
            c = char((x = x * 1103515245 + 12345) >> 24);
        WriteFile(dir / "src/noise.bin", noise);
        names.push_back("src/noise.bin");
    }
    for (int i = 0; i < files; ++i) {
        std::string name = "src/folder-with-a-rather-long-name/file-number-" + std::to_string(1000 + i) + ".txt";
        WriteFile(dir / name, "content of " + name);
        names.push_back(name);
    }
    std::string out;
    if (testing_support::Run("cd '" + dir.Path() + "' && zip -q -r -s 64k x.zip src", &out) != 0)
        ADD_FAILURE() << out;
    return names;
}

// The stored file names, sorted: Info-ZIP adds files in the order the folder lists them.
std::vector<std::string> FilesOnly(std::vector<std::string> names)
{
    std::vector<std::string> files;
    for (const auto& n : names)
        if (n.back() != '/')
            files.push_back(n);
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

TEST(ZipReader, EveryCorpusArchiveListsTheManifestInArchiveOrder)
{
    const auto archives = testing_support::ManifestArchives({"peers/", "legacy/"});
    ASSERT_GT(archives.size(), 40u);
    for (const auto& [archive, rows] : archives) {
        SCOPED_TRACE(archive);
        TZipReader r;
        r.OEMConvert = TOEMConvert::oemNever;  // compare the stored bytes
        r.SetZipName(CorpusDir() + "/" + archive);
        r.ReadArchive();
        ASSERT_EQ(r.EntryCount(), int(rows.size()));
        uint64_t lastOffset = 0;
        for (int i = 0; i < r.EntryCount(); ++i) {
            const TZipHeaderInfo& e = r.EntryInfo(i);
            std::string stored = rows[i].entry;
            std::replace(stored.begin(), stored.end(), '\\', '/');
            EXPECT_EQ(r.EntryFolder(i) + r.EntryName(i), stored);
            EXPECT_EQ(e.CompressionMethod, rows[i].method);
            EXPECT_EQ(r.EntrySize(i), rows[i].uncompressedSize);
            EXPECT_EQ(e.CompressedSize(), rows[i].compressedSize);
            EXPECT_EQ(e.Crc32, rows[i].crc32);
            if (i > 0 && e.DiskNumberStart() == r.EntryInfo(i - 1).DiskNumberStart()) {
                EXPECT_GT(e.LocalHeaderOffset(), lastOffset);
            }
            lastOffset = e.LocalHeaderOffset();
        }
        EXPECT_FALSE(r.Rebuilt());
    }
}

TEST(ZipReader, NamesAreReadAsUtf8OrCodePage437)
{
    // Info-ZIP stores UTF-8 without flag bit 11 from a Unix host; 7-Zip sets the flag.
    for (const char* archive : {"peers/izip-stored.zip", "peers/7zz-deflate.zip", "peers/py-deflated.zip"}) {
        SCOPED_TRACE(archive);
        auto names = Read(CorpusDir() + "/" + archive);
        EXPECT_NE(std::find(names.begin(), names.end(), "caf\xC3\xA9/na\xC3\xAFve.txt"), names.end());
        EXPECT_NE(std::find(names.begin(), names.end(), "\xE6\x97\xA5\xE6\x9C\xAC.txt"), names.end());
    }
    // A DOS archive's name in code page 866 is shown as code page 437 text, valid UTF-8.
    for (const auto& name : Read(CorpusDir() + "/legacy/sharpcompress/Zip.shrink.zip"))
        EXPECT_TRUE(platform::IsValidUtf8(name)) << name;
}

TEST(ZipReader, CodePageNamesAreDecodedBeforeTheyAreSplit)
{
    using testing_support::RawEntry;
    // Shift-JIS ソ is 83 5C, whose second byte alone would be a backslash.
    const struct {
        std::string raw, folder, name;
    } cases[] = {
        {"\x83\x5C.txt", "", "\u30bd.txt"},
        {"\x83\x5C", "", "\u30bd"},
        {"\x83\x5C\\\x83\x5C.txt", "\u30bd/", "\u30bd.txt"},
    };
    TempDir t;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(t / "cp.zip",
                  testing_support::AssembleZip({RawEntry{.name = c.raw, .data = "x", .madeBy = 0x0014}}));
        TZipReader r;
        r.NamesCodePage = "CP932";
        r.SetZipName(t / "cp.zip");
        r.ReadArchive();
        ASSERT_EQ(r.EntryCount(), 1);
        EXPECT_EQ(r.EntryFolder(0), c.folder);
        EXPECT_EQ(r.EntryName(0), c.name);
        r.SetDestDir(t / "out");
        r.RecreateDirs = true;
        r.DoAll = true;
        EXPECT_EQ(r.UnZip(), 1);
        EXPECT_EQ(ReadFile(t / ("out/" + c.folder + c.name)), "x");
        fs::remove_all(t / "out");
    }
}

TEST(ZipReader, CommentsLoadOnFirstUse)
{
    TZipReader r;
    r.SetZipName(CorpusDir() + "/peers/py-big-comment.zip");
    r.ReadArchive();
    EXPECT_EQ(r.ArchiveComment().size(), 65530u);

    r.SetZipName(CorpusDir() + "/peers/izip-archive-comment.zip");
    r.ReadArchive();
    std::string comment = r.ArchiveComment();
    EXPECT_EQ(comment.size(), 53u);
    EXPECT_FALSE(r.EndCentral().Modified);
    r.SetArchiveComment(comment);
    EXPECT_FALSE(r.EndCentral().Modified);
    r.SetArchiveComment("new");
    EXPECT_TRUE(r.EndCentral().Modified);

    std::string expected;
    ASSERT_EQ(testing_support::Run("python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); "
                  "print('|'.join(i.comment.decode() for i in z.infolist()), end='')\" '" +
                      CorpusDir() + "/peers/izip-entry-comments.zip'",
                  &expected),
              0);
    r.SetZipName(CorpusDir() + "/peers/izip-entry-comments.zip");
    r.ReadArchive();
    std::string got;
    for (int i = 0; i < r.EntryCount(); ++i)
        got += (i ? "|" : "") + r.EntryComment(i);
    EXPECT_EQ(got, expected);
    EXPECT_NE(got.find_first_not_of('|'), std::string::npos);
}

TEST(ZipReader, DamagedArchivesGiveTheirDescribedOutcome)
{
    using M = TIncompleteZipMode;
    // No end record: by default no entries and no error.
    for (const char* f : {"trunc-in-first-local-header.zip", "trunc-in-first-data.zip", "trunc-before-central-dir.zip",
                          "trunc-in-central-dir.zip", "trunc-in-end-record.zip", "trunc-last-byte.zip",
                          "text-named-zip.zip", "tiny-01.zip", "tiny-21.zip", "zero-length.zip"})
        EXPECT_TRUE(Read(Bad(f)).empty()) << f;

    // Assuming a damaged archive rebuilds the list from the local headers.
    const std::vector<std::string> abc = {"a.txt", "b.bin", "c.txt"};
    for (const char* f : {"trunc-before-central-dir.zip", "trunc-in-central-dir.zip", "trunc-in-end-record.zip",
                          "trunc-last-byte.zip"})
        EXPECT_EQ(Read(Bad(f), M::izAssumeBad), abc) << f;
    EXPECT_EQ(Read(Bad("trunc-in-first-data.zip"), M::izAssumeBad), std::vector<std::string>{"a.txt"});
    // An intact end record over a zeroed directory, and two central headers for
    // one local header: both rebuilt, and the second header may not rename a.txt.
    EXPECT_EQ(Read(Bad("central-dir-zeroed.zip")), abc);
    EXPECT_EQ(Read(Bad("overlap-two-names-one-local.zip")), abc);

    for (const char* f : {"text-named-zip.zip", "tiny-04.zip", "tiny-21.zip", "trunc-in-first-local-header.zip"}) {
        TZipReader r;
        r.IncompleteZipMode = M::izAssumeBad;
        r.SetZipName(Bad(f));
        try {
            r.ReadArchive();
            ADD_FAILURE() << f << " read";
        } catch (const EBadZipFile& e) {
            EXPECT_STREQ(e.what(), "Not a valid zip file!");
        }
        EXPECT_EQ(r.ZipName(), "");
        EXPECT_EQ(r.EntryCount(), 0);
    }
    EXPECT_THROW(Read(Bad("tiny-10.zip"), M::izAssumeNotAZip), ENotAZipFile);
    EXPECT_TRUE(Read(Bad("zero-length.zip"), M::izAssumeNotAZip).empty());

    // A handler may change its mind about the mode; it is asked once.
    TZipReader r;
    int asked = 0;
    r.OnInCompleteZip = [&](TZipReader&, TIncompleteZipMode& mode) {
        ++asked;
        mode = M::izAssumeBad;
    };
    r.SetZipName(Bad("trunc-before-central-dir.zip"));
    r.ReadArchive();
    EXPECT_EQ(StoredNames(r), abc);
    EXPECT_TRUE(r.Rebuilt());
    EXPECT_EQ(asked, 1);

    // One that keeps answering "multi-part" for the same file is not asked forever.
    TZipReader stubborn;
    stubborn.OnInCompleteZip = [&](TZipReader&, TIncompleteZipMode&) { ++asked; };
    stubborn.SetZipName(Bad("text-named-zip.zip"));
    stubborn.ReadArchive();
    EXPECT_EQ(asked, 2);
}

TEST(ZipReader, HostileDirectoryNumbersEndInARebuildOrAnError)
{
    TempDir t;
    const std::string good = ReadFile(Bad("crc-wrong.zip"));
    const size_t end = good.rfind("PK\x05\x06");
    ASSERT_NE(end, std::string::npos);

    // Entry count and directory offset far past the end of the file.
    std::string lying = good;
    lying[end + 8] = lying[end + 9] = lying[end + 10] = lying[end + 11] = '\xFF';
    lying[end + 16] = lying[end + 17] = lying[end + 18] = '\x7F';
    WriteFile(t / "lying.zip", lying);
    EXPECT_EQ(Read(t / "lying.zip"), (std::vector<std::string>{"a.txt", "b.bin", "c.txt"}));

    // Megabytes of zeros and no header: the scan ends, quickly, in an error.
    {
        std::ofstream zeros(t / "zeros.zip", std::ios::binary);
        zeros.seekp(64 << 20);
        zeros.put('\0');
    }
    EXPECT_THROW(Read(t / "zeros.zip", TIncompleteZipMode::izAssumeBad), EBadZipFile);

    // A local header claiming more data than the file holds ends the scan there.
    std::string cut = good.substr(0, 100);
    cut[18] = cut[19] = cut[20] = '\xFF';
    cut[21] = '\x7F';
    WriteFile(t / "cut.zip", cut);
    EXPECT_EQ(Read(t / "cut.zip", TIncompleteZipMode::izAssumeBad), std::vector<std::string>{"a.txt"});
}

TEST(ZipReader, MissingExtraFieldsGetASecondChance)
{
    // The first central header announces 4 extra bytes that are not there.
    std::string zip = ReadFile(Bad("crc-wrong.zip"));
    const size_t central = zip.find("PK\x01\x02");
    ASSERT_NE(central, std::string::npos);
    ASSERT_EQ(zip[central + 30], 0);
    zip[central + 30] = 4;
    TempDir t;
    WriteFile(t / "x.zip", zip);
    EXPECT_EQ(Read(t / "x.zip"), (std::vector<std::string>{"a.txt", "b.bin", "c.txt"}));
}

TEST(ZipReader, NameChangesSortingAndIndexChecks)
{
    TempDir t;
    WriteFile(t / "src/b/Zed.txt", std::string(5000, 'z'));
    WriteFile(t / "src/a.txt", "tiny");
    WriteFile(t / "src/C.dat", "");
    ASSERT_EQ(testing_support::Run("cd '" + t.Path() + "/src' && zip -q -r ../x.zip b a.txt C.dat"), 0);

    TZipReader r;
    r.SetZipName(t / "x.zip");
    r.ReadArchive();
    ASSERT_EQ(StoredNames(r), (std::vector<std::string>{"b/", "b/Zed.txt", "a.txt", "C.dat"}));
    r.SortEntries(TZipSortMode::ByName);
    EXPECT_EQ(StoredNames(r), (std::vector<std::string>{"a.txt", "b/", "b/Zed.txt", "C.dat"}));
    r.SortEntries(TZipSortMode::ByUnCompressedSize);
    EXPECT_EQ(r.EntryName(0), "Zed.txt");
    r.SortEntries(TZipSortMode::ByNone);
    EXPECT_EQ(r.EntryName(0), "");

    for (int bad : {-1, r.EntryCount()}) {
        try {
            r.EntryName(bad);
            ADD_FAILURE();
        } catch (const EListError& e) {
            EXPECT_EQ(e.Message(), "Index " + std::to_string(bad) + " is out of range");
        }
    }

    // The same name keeps the entries; a rewrite of the file, even within the
    // same second, is noticed when the archive is opened again.
    r.SetZipName(t / "x.zip");
    EXPECT_EQ(r.EntryCount(), 4);
    ASSERT_EQ(testing_support::Run("cd '" + t.Path() + "/src' && zip -q -d ../x.zip C.dat"), 0);
    r.ReadArchive();
    EXPECT_EQ(r.EntryCount(), 3);

    // A name in other letter case is another file here.
    fs::copy_file(t / "x.zip", t / "X.zip");
    WriteFile(t / "x.zip", "not an archive any more");
    r.SetZipName(t / "X.zip");
    r.ReadArchive();
    EXPECT_EQ(r.EntryCount(), 3);
    r.SetZipName(t / "x.zip");
    r.ReadArchive();
    EXPECT_EQ(r.EntryCount(), 0);

    r.ResetArchive();
    EXPECT_EQ(r.ZipName(), "");
    EXPECT_EQ(r.EntryCount(), 0);
    r.SetZipName(t / "missing.zip");
    try {
        r.ReadArchive();
        ADD_FAILURE();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file " + (t / "missing.zip"));
    }
    EXPECT_EQ(r.ZipName(), "");
}

TEST(ZipReader, NamesAskedForThroughTheFileDialog)
{
    TZipReader r;
    try {
        r.SetZipName("/somewhere/?");
        ADD_FAILURE();
    } catch (const EUserCanceled& e) {
        EXPECT_STREQ(e.what(), "User canceled setting zip file name.");
    }
    std::string offered;
    platform::InstalledHooks().OpenFileDialog = [&](std::string& name) {
        offered = name;
        name = CorpusDir() + "/peers/py-stored.zip";
        return true;
    };
    r.SetZipName(CorpusDir() + "/peers/?");
    platform::InstalledHooks() = {};
    EXPECT_EQ(offered, CorpusDir() + "/peers/");
    r.ReadArchive();
    EXPECT_GT(r.EntryCount(), 5);
}

TEST(ZipReader, DatesThatAreNoDatesReadAsNow)
{
    std::string zip = ReadFile(Bad("crc-wrong.zip"));
    const size_t central = zip.find("PK\x01\x02");
    // 31 February 2021, 10:00.
    const uint32_t dos = (41u << 25) | (2u << 21) | (31u << 16) | (10u << 11);
    for (int k = 0; k < 4; ++k)
        zip[central + 12 + k] = char(dos >> (8 * k));
    TempDir t;
    WriteFile(t / "x.zip", zip);
    TZipReader r;
    r.SetZipName(t / "x.zip");
    r.ReadArchive();
    const std::time_t before = std::time(nullptr);
    EXPECT_GE(r.EntryDateTime(0), before);
    EXPECT_LE(r.EntryDateTime(0), std::time(nullptr));
    EXPECT_LT(r.EntryDateTime(1), before);
}

TEST(ZipReader, CancelFromThePumpStopsTheRead)
{
    TZipReader r;
    int pumps = 0;
    platform::InstalledHooks().PumpMessages = [&] {
        if (++pumps == 2)
            r.RequestCancel();
    };
    r.SetZipName(CorpusDir() + "/peers/izip-stored.zip");
    EXPECT_THROW(r.ReadArchive(), EUserCanceled);
    platform::InstalledHooks() = {};
    EXPECT_FALSE(r.Working());
    EXPECT_EQ(r.EntryCount(), 0);
}

TEST(SplitArchives, InfoZipSetsReadThroughTheirOwnNamesAHandlerOrOurs)
{
    TempDir t;
    const auto names = FilesOnly(MakeSplitSet(t, 900));
    ASSERT_TRUE(fs::exists(t / "x.z03")) << "the set should have several parts";

    // The directory starts in an earlier part than the last.
    TZipReader r;
    r.SetZipName(t / "x.zip");
    r.ReadArchive();
    EXPECT_EQ(r.MultiMode(), TMultiMode::mmBlocks);
    EXPECT_GT(r.PartCount(), 3);
    EXPECT_LT(int(r.EndCentral().CentralDirDisk()), r.PartCount() - 1);
    EXPECT_EQ(FilesOnly(StoredNames(r)), names);
    EXPECT_EQ(r.ZipName(), t / "x.zip");
    EXPECT_EQ(r.CurrentPart(), r.PartCount() - 1);

    std::vector<std::string> asked;
    TZipReader h;
    h.OnFileNameForSplitPart = [&](TZipReader&, std::string& name, int part, TSplitPartType type) {
        asked.push_back(name + " " + std::to_string(part) + " " + std::to_string(int(type)));
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, ".z%02d", part);
        name += type == TSplitPartType::sptLast ? std::string(".zip") : std::string(suffix);
    };
    h.SetZipName(t / "x.zip");
    h.ReadArchive();
    EXPECT_EQ(FilesOnly(StoredNames(h)), names);
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.back(), (t / "x") + " " + std::to_string(h.PartCount()) + " 2");

    // Our own names: x.zip.z01, x.zip.z02, ... and the last part x.zip.
    for (int i = 1; i < r.PartCount(); ++i) {
        char n[16];
        std::snprintf(n, sizeof n, "%02d", i);
        fs::rename(t / ("x.z" + std::string(n)), t / ("x.zip.z" + std::string(n)));
    }
    TZipReader own;
    own.SetZipName(t / "x.zip");
    own.ReadArchive();
    EXPECT_EQ(FilesOnly(StoredNames(own)), names);

    // The classic names number every part, the last one too.
    const int parts = own.PartCount();
    for (int i = 1; i <= parts; ++i) {
        char from[32], to[32];
        std::snprintf(from, sizeof from, ".zip.z%02d", i);
        std::snprintf(to, sizeof to, ".%03d", i);
        fs::rename(t / (i == parts ? std::string("x.zip") : "x" + std::string(from)), t / ("x" + std::string(to)));
    }
    TZipReader classic;
    classic.BlockMode = TBlockMode::bmClassic;
    char last[16];
    std::snprintf(last, sizeof last, "x.%03d", parts);
    classic.SetZipName(t / last);
    classic.ReadArchive();
    EXPECT_EQ(FilesOnly(StoredNames(classic)), names);

    // A missing part is a file that cannot be opened.
    char first[16];
    std::snprintf(first, sizeof first, "x.%03d", int(classic.EndCentral().CentralDirDisk()) + 1);
    fs::remove(t / first);
    TZipReader missing;
    missing.BlockMode = TBlockMode::bmClassic;
    missing.SetZipName(t / last);
    EXPECT_THROW(missing.ReadArchive(), EFOpenError);
    EXPECT_EQ(missing.EntryCount(), 0);
}

TEST(SplitArchives, TheSideFileStandsInForAMissingDirectory)
{
    TempDir t;
    const auto names = FilesOnly(MakeSplitSet(t, 20, 150000));
    ASSERT_TRUE(fs::exists(t / "x.z01"));
    // Move the directory and end record of the last part into x.zfc.
    std::string last = ReadFile(t / "x.zip");
    TZipReader probe;
    probe.SetZipName(t / "x.zip");
    probe.ReadArchive();
    ASSERT_EQ(int(probe.EndCentral().CentralDirDisk()), probe.PartCount() - 1);
    const size_t cd = size_t(probe.EndCentral().CentralDirOffset());
    WriteFile(t / "x.zfc", last.substr(cd));
    WriteFile(t / "x.zip", last.substr(0, cd));

    TZipReader r;
    r.SetZipName(t / "x.zip");
    r.ReadArchive();
    EXPECT_EQ(FilesOnly(StoredNames(r)), names);
    EXPECT_EQ(r.CurrentPart(), 0);
}

TEST(SplitArchives, SpannedPartsComeFromTheDiskHandlerOrThePrompt)
{
    TempDir t;
    const auto names = FilesOnly(MakeSplitSet(t, 900));
    std::vector<int> disks;
    TZipReader r;
    r.SetMultiMode(TMultiMode::mmSpan);
    r.SetCheckDiskLabels(false);  // volumes have no labels here
    r.OnGetNextDisk = [&](TZipReader& sender, int disk, std::string& name) {
        disks.push_back(disk);
        char n[16];
        std::snprintf(n, sizeof n, "x.z%02d", disk);
        name = disk == sender.PartCount() ? t / "x.zip" : t / n;
    };
    r.SetZipName(t / "x.zip");
    r.ReadArchive();
    EXPECT_EQ(FilesOnly(StoredNames(r)), names);
    ASSERT_FALSE(disks.empty());
    EXPECT_EQ(disks.front(), int(r.EndCentral().CentralDirDisk()) + 1);

    // Without a handler the user is asked for the disk; Cancel ends the read.
    TZipReader asked;
    asked.SetMultiMode(TMultiMode::mmSpan);
    std::string question;
    platform::InstalledHooks().MessageBox = [&](const std::string& text, const std::string&, unsigned flags) {
        question = text;
        EXPECT_EQ(flags, platform::mbOKCancel);
        return platform::idCancel;
    };
    asked.SetZipName(t / "x.zip");
    try {
        asked.ReadArchive();
        ADD_FAILURE();
    } catch (const EUserCanceled& e) {
        EXPECT_STREQ(e.what(), "User canceled loading new disk.");
    }
    platform::InstalledHooks() = {};
    EXPECT_EQ(question, "Please insert disk " + std::to_string(disks.front()) + " of the multi-disk set.");
}
