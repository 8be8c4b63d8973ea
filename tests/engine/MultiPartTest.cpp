// Multi-part archives: blocked parts, their names and sizes, headers that must
// never be cut, what other tools make of the parts, the ".zfc" directory file,
// spanned disks, and the failures of writing and reading parts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <set>
#include <utility>

#include "engine/ZipExceptions.h"
#include "engine/ZipWriter.h"
#include "platform/Hooks.h"
#include "tests/TestSupport.h"

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

constexpr int64_t FloppySize = 1457600;

std::string Random(size_t n, uint32_t seed)
{
    std::string s(n, '\0');
    for (char& c : s)
        c = char((seed = seed * 1103515245 + 12345) >> 23);
    return s;
}

uint32_t Le(const std::string& s, int64_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | uint8_t(s[size_t(at + i)]);
    return v;
}

// Source files in t/src: an incompressible one of bigSize bytes and a small text.
std::vector<std::string> MakeSources(const TempDir& t, size_t bigSize)
{
    WriteFile(t / "src/big.bin", Random(bigSize, 7));
    WriteFile(t / "src/small.txt", "a small file that goes last\n");
    return {t / "src/big.bin", t / "src/small.txt"};
}

void SetBlocked(TZipWriter& w, const std::string& zip, int64_t blockSize, const std::vector<std::string>& files)
{
    fs::create_directories(fs::path(zip).parent_path());
    w.SetZipName(zip);
    w.MultiZipInfo.MultiMode = TMultiMode::mmBlocks;
    w.MultiZipInfo.BlockSize = blockSize;
    w.FilesList = files;
}

std::set<std::string> FilesIn(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

// Lists the archive and extracts all of it: names and bytes are the sources'.
void ExpectReadsBack(TZipReader& r, const std::vector<std::string>& sources, const std::string& dest)
{
    r.ReadArchive();
    std::set<std::string> listed, expected;
    for (int i = 0; i < r.EntryCount(); ++i)
        listed.insert(r.EntryName(i));
    for (const std::string& file : sources)
        expected.insert(fs::path(file).filename().string());
    EXPECT_EQ(listed, expected);
    r.SetDestDir(dest);
    r.DoAll = true;
    r.OverwriteMode = TUZOverwriteMode::Always;
    EXPECT_EQ(r.UnZip(), int(sources.size()));
    for (const std::string& file : sources) {
        const std::string out = dest + "/" + fs::path(file).filename().string();
        EXPECT_TRUE(fs::exists(out) && ReadFile(out) == ReadFile(file)) << out;
    }
}

// No part is larger than partSize, and every local header, central header
// and the end record lies whole within one part; parts[i] is the file of part i.
void ExpectNoHeaderCut(const std::vector<std::string>& parts, int64_t partSize)
{
    std::vector<std::string> bytes;
    for (const std::string& part : parts) {
        bytes.push_back(ReadFile(part));
        EXPECT_LE(int64_t(bytes.back().size()), partSize) << part;
    }
    TZipReader r;
    r.SetZipName(parts.back());
    r.SetMultiMode(TMultiMode::mmBlocks);
    r.OnFileNameForSplitPart = [&](TZipReader&, std::string& name, int n, TSplitPartType) { name = parts[n - 1]; };
    r.ReadArchive();
    ASSERT_EQ(r.EndCentral().ThisDisk(), parts.size() - 1);

    for (int i = 0; i < r.EntryCount(); ++i) {
        const TZipHeaderInfo& e = r.EntryInfo(i);
        SCOPED_TRACE(e.FileName());
        ASSERT_LT(e.DiskNumberStart(), bytes.size());
        const std::string& part = bytes[e.DiskNumberStart()];
        const int64_t at = int64_t(e.LocalHeaderOffset());
        ASSERT_LE(at + 30, int64_t(part.size()));
        EXPECT_EQ(Le(part, at, 4), LocalFileHeaderSig);
        EXPECT_LE(at + 30 + Le(part, at + 26, 2) + Le(part, at + 28, 2), part.size());
    }

    // The central headers and the end record, part by part.
    const TEndCentral& end = r.EndCentral();
    size_t p = end.CentralDirDisk();
    int64_t at = int64_t(end.CentralDirOffset());
    for (uint64_t i = 0; i <= end.TotalEntries(); ++i) {
        const bool last = i == end.TotalEntries();
        if (at == int64_t(bytes[p].size()) && p + 1 < bytes.size())
            ++p, at = 0;
        const std::string& part = bytes[p];
        ASSERT_LE(at + (last ? 22 : 46), int64_t(part.size())) << "part " << p << " offset " << at;
        ASSERT_EQ(Le(part, at, 4), last ? EndCentralDirSig : CentralFileHeaderSig) << "part " << p << " offset " << at;
        at += last ? 22 + Le(part, at + 20, 2) : 46 + Le(part, at + 28, 2) + Le(part, at + 30, 2) + Le(part, at + 32, 2);
        ASSERT_LE(at, int64_t(part.size())) << "record " << i << " runs past the end of part " << p;
    }
    EXPECT_EQ(p, bytes.size() - 1);
    EXPECT_EQ(at, int64_t(bytes[p].size()));
}

// A shell command's exit code, with its output on failure.
::testing::AssertionResult Succeeds(const std::string& command)
{
    std::string out;
    const int rc = testing_support::Run(command + " </dev/null", &out);  // no tool may wait for an answer
    if (rc == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << command << "\nexit " << rc << ":\n" << out.substr(0, 3000);
}

const std::string PythonTest = "LC_ALL=C.UTF-8 python3 -c 'import sys, zipfile; "
                               "sys.exit(zipfile.ZipFile(sys.argv[1]).testzip())' ";

std::string Listing(const std::string& command)
{
    std::string out;
    testing_support::Run(command, &out);
    return out;
}

// Folders on their own small file systems, standing for removable disks.
class Disks {
public:
    Disks(const TempDir& t, int count, int64_t size)
    {
        if (geteuid() != 0) {
            failure = "simulated disks need root to mount a small tmpfs";
            return;
        }
        for (int i = 1; i <= count; ++i) {
            const std::string dir = t / ("disk" + std::to_string(i));
            fs::create_directories(dir);
            std::string out;
            if (testing_support::Run("mount -t tmpfs -o size=" + std::to_string(size) + " tmpfs '" + dir + "'", &out)) {
                failure = "cannot mount a small tmpfs: " + out;
                return;
            }
            dirs_.push_back(dir);
        }
    }
    ~Disks()
    {
        for (const std::string& dir : dirs_)
            testing_support::Run("umount '" + dir + "'");
    }
    Disks(const Disks&) = delete;
    Disks& operator=(const Disks&) = delete;
    // The archive's file on disk n (1-based).
    std::string File(int n) const { return dirs_[size_t(n - 1)] + "/x.zip"; }

    std::string failure;

private:
    std::vector<std::string> dirs_;
};

template <class E>
std::string FailureOf(const std::function<void()>& action, const std::string& message)
{
    try {
        action();
        return "no exception";
    } catch (const E& e) {
        return e.what() == message ? "" : std::string("message: ") + e.what();
    } catch (const std::exception& e) {
        return std::string("another exception: ") + e.what();
    }
}

// No file of the folder holds an end record: nothing there looks like a finished archive.
void ExpectNothingFinished(const std::string& dir)
{
    for (const auto& e : fs::directory_iterator(dir))
        EXPECT_EQ(ReadFile(e.path().string()).find("PK\x05\x06"), std::string::npos) << e.path();
}

// ---- Blocked parts --------------------------------------------------------------

TEST(MultiPartBlocks, FloppyPartsAreFullAndNoHeaderIsCut)
{
    TempDir t;
    const auto sources = MakeSources(t, 3 << 20);
    const std::string out = t / "out";
    TZipWriter w;
    SetBlocked(w, out + "/x.zip", FloppySize, sources);
    ASSERT_EQ(w.Zip(), 2);

    EXPECT_EQ(FilesIn(out), (std::set<std::string>{"x.zip.z01", "x.zip.z02", "x.zip"}));
    EXPECT_EQ(fs::file_size(out + "/x.zip.z01"), uint64_t(FloppySize));
    EXPECT_EQ(fs::file_size(out + "/x.zip.z02"), uint64_t(FloppySize));
    EXPECT_EQ(ReadFile(out + "/x.zip.z01").substr(0, 4), "PK\x07\x08");
    EXPECT_EQ(w.ZipName(), out + "/x.zip");
    EXPECT_EQ(w.PartCount(), 3);
    ExpectNoHeaderCut({out + "/x.zip.z01", out + "/x.zip.z02", out + "/x.zip"}, FloppySize);

    TZipReader r;
    r.SetZipName(out + "/x.zip");
    ExpectReadsBack(r, sources, t / "dest");
}

TEST(MultiPartBlocks, PartNames)
{
    TempDir t;
    const auto sources = MakeSources(t, 150000);
    {
        SCOPED_TRACE("bmClassic");
        TZipWriter w;
        SetBlocked(w, t / "classic/x.zip", 65536, sources);
        w.BlockMode = TBlockMode::bmClassic;
        ASSERT_EQ(w.Zip(), 2);
        EXPECT_EQ(FilesIn(t / "classic"), (std::set<std::string>{"x.001", "x.002", "x.003"}));
        EXPECT_EQ(w.ZipName(), t / "classic/x.003");
        ExpectNoHeaderCut({t / "classic/x.001", t / "classic/x.002", t / "classic/x.003"}, 65536);
        TZipReader r;
        r.SetZipName(t / "classic/x.003");
        r.BlockMode = TBlockMode::bmClassic;
        ExpectReadsBack(r, sources, t / "dest1");
    }
    {
        SCOPED_TRACE("OnFileNameForSplitPart");
        using T = TSplitPartType;
        std::vector<std::pair<int, T>> asked;
        auto naming = [&](TZipReader& sender, std::string& name, int n, T type) {
            EXPECT_EQ(name, sender.BaseName());
            asked.emplace_back(n, type);
            name += type == T::sptLast ? ".zip" : ".part" + std::to_string(n);
        };
        TZipWriter w;
        SetBlocked(w, t / "named/x.zip", 65536, sources);
        w.OnFileNameForSplitPart = naming;
        ASSERT_EQ(w.Zip(), 2);
        EXPECT_EQ(asked, (std::vector<std::pair<int, T>>{{1, T::sptFirst}, {2, T::sptMiddle}, {3, T::sptMiddle},
                                                         {3, T::sptLast}}));
        EXPECT_EQ(FilesIn(t / "named"), (std::set<std::string>{"x.part1", "x.part2", "x.zip"}));
        EXPECT_EQ(w.ZipName(), t / "named/x.zip");

        asked.clear();
        TZipReader r;
        r.SetZipName(t / "named/x.zip");
        r.OnFileNameForSplitPart = naming;
        ExpectReadsBack(r, sources, t / "dest2");
        EXPECT_EQ(std::set(asked.begin(), asked.end()),
                  (std::set<std::pair<int, T>>{{1, T::sptFirst}, {2, T::sptMiddle}, {3, T::sptLast}}));
    }
    {
        SCOPED_TRACE("a file of the last part's name is in the way");
        WriteFile(t / "taken/x.zip", "someone else's file");
        TZipWriter w;
        SetBlocked(w, t / "taken/x.zip", 65536, sources);
        ASSERT_EQ(w.Zip(), 2);
        EXPECT_EQ(ReadFile(t / "taken/x.zip"), "someone else's file");
        EXPECT_EQ(w.ZipName(), t / "taken/x.zip.z03");
        ExpectNoHeaderCut({t / "taken/x.zip.z01", t / "taken/x.zip.z02", t / "taken/x.zip.z03"}, 65536);
    }
}

// Tiny parts put headers against part ends at many offsets; the directory
// runs over several parts.
TEST(MultiPartBlocks, ManySmallEntriesInTinyParts)
{
    TempDir t;
    std::vector<std::string> sources;
    for (int i = 0; i < 20; ++i) {
        sources.push_back(t / ("src/file" + std::to_string(i) + ".txt"));
        WriteFile(sources.back(), Random(size_t(50 + 7 * i), uint32_t(i)));
    }
    // The smallest holds the largest central header: 46 bytes, a name of
    // 11 and the timestamp block of 9.
    for (const int64_t blockSize : {66, 67, 70, 100, 333}) {
        SCOPED_TRACE(blockSize);
        const std::string zip = t / ("out" + std::to_string(blockSize) + "/x.zip");
        TZipWriter w;
        SetBlocked(w, zip, blockSize, sources);
        w.PackLevel = 0;
        ASSERT_EQ(w.Zip(), 20);
        EXPECT_LT(w.EndCentral().CentralDirDisk(), w.EndCentral().ThisDisk());
        std::vector<std::string> parts;
        for (int i = 1; i < w.PartCount(); ++i)
            parts.push_back(zip + (i < 10 ? ".z0" : ".z") + std::to_string(i));
        parts.push_back(zip);
        ExpectNoHeaderCut(parts, blockSize);
        TZipReader r;
        r.SetZipName(zip);
        ExpectReadsBack(r, sources, t / ("dest" + std::to_string(blockSize)));
    }
}

TEST(MultiPartBlocks, NoPartEndsWithALocalHeader)
{
    // 450 equal small stored files; the part size leaves exactly one local
    // header's room after the 446th entry of the first part. That header
    // goes to the next part with its data: other tools join the parts into
    // an archive that tests clean only then.
    TempDir t;
    std::vector<std::string> sources;
    for (int i = 0; i < 450; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%03d.txt", i);
        sources.push_back(t / ("src/" + std::string(name)));
        WriteFile(sources.back(), Random(100, uint32_t(i)));
    }
    TZipWriter one;
    one.SetZipName(t / "one.zip");
    one.PackLevel = 0;
    one.FilesList = sources;
    ASSERT_EQ(one.Zip(), 450);
    const int64_t entry = int64_t(one.EntryInfo(1).LocalHeaderOffset()), header = entry - 100;
    const int64_t partSize = 4 + 446 * entry + header;  // 4: the mark of a split archive

    TZipWriter w;
    SetBlocked(w, t / "out/x.zip", partSize, sources);
    w.PackLevel = 0;
    w.OnFileNameForSplitPart = [](TZipReader&, std::string& name, int n, TSplitPartType type) {
        name += type == TSplitPartType::sptLast ? ".zip" : ".z0" + std::to_string(n);
    };
    ASSERT_EQ(w.Zip(), 450);
    ASSERT_EQ(w.PartCount(), 2);
    EXPECT_EQ(w.EntryInfo(446).DiskNumberStart(), 1u);
    EXPECT_LT(fs::file_size(t / "out/x.z01"), uint64_t(partSize));
    std::string out;
    EXPECT_EQ(testing_support::Run("cd '" + t / "out" + "' && zip -qs 0 x.zip --out joined.zip && unzip -tq joined.zip",
                                   &out),
              0)
        << out;
}

TEST(MultiPartBlocks, OnePartIsAPlainArchiveForEveryPeer)
{
    TempDir t;
    const auto sources = MakeSources(t, 100000);
    const std::string zip = t / "out/x.zip";
    TZipWriter w;
    SetBlocked(w, zip, FloppySize, sources);
    w.MultiZipInfo.SaveZipInfoOnFirstDisk = true;
    ASSERT_EQ(w.Zip(), 2);

    EXPECT_EQ(FilesIn(t / "out"), std::set<std::string>{"x.zip"});  // no part numbers, no .zfc
    // No split marker: the first entry starts the file.
    const std::string bytes = ReadFile(zip);
    EXPECT_EQ(bytes.substr(0, 4), "PK\x03\x04");
    EXPECT_EQ(w.EndCentral().ThisDisk(), 0u);
    EXPECT_EQ(w.EndCentral().CentralDirOffset() + w.EndCentral().CentralDirSize() + 22, bytes.size());

    EXPECT_TRUE(Succeeds("LC_ALL=C.UTF-8 unzip -t '" + zip + "'"));
    EXPECT_TRUE(Succeeds("LC_ALL=C.UTF-8 7zz t '" + zip + "'"));
    EXPECT_TRUE(Succeeds(PythonTest + "'" + zip + "'"));
    EXPECT_EQ(Listing("LC_ALL=C.UTF-8 bsdtar -tf '" + zip + "'"), "big.bin\nsmall.txt\n");
    // Java's stream reader reads from the front: a marker there ends it.
    if (Succeeds("command -v java")) {
        WriteFile(t / "ReadZip.java", R"(import java.util.zip.*;
public class ReadZip {
    public static void main(String[] args) throws Exception {
        try (ZipInputStream z = new ZipInputStream(new java.io.FileInputStream(args[0]))) {
            for (ZipEntry e; (e = z.getNextEntry()) != null;)
                System.out.println(e.getName() + " " + z.readAllBytes().length);
        }
    }
})");
        EXPECT_EQ(Listing("java '" + t / "ReadZip.java" + "' '" + zip + "' 2>&1"), "big.bin 100000\nsmall.txt 28\n");
    } else {
        std::cout << "java is missing: the check with Java's ZipInputStream is skipped\n";
    }
    TZipReader r;
    r.SetZipName(zip);
    ExpectReadsBack(r, sources, t / "dest");
}

TEST(MultiPartBlocks, ZfcFileHoldsTheDirectoryOfTheLastPart)
{
    TempDir t;
    // big.bin is staged in a temporary file, not in memory.
    const auto sources = MakeSources(t, 5 << 20);
    const std::string out = t / "out";
    TZipWriter w;
    SetBlocked(w, out + "/x.zip", FloppySize, sources);
    w.MultiZipInfo.SaveZipInfoOnFirstDisk = true;
    w.SetArchiveComment("weekly backup");
    ASSERT_EQ(w.Zip(), 2);
    ASSERT_EQ(w.PartCount(), 4);
    ASSERT_EQ(w.EndCentral().CentralDirDisk(), 3u);
    const std::string last = ReadFile(out + "/x.zip");
    EXPECT_TRUE(ReadFile(out + "/x.zfc") == last.substr(w.EndCentral().CentralDirOffset()));

    // Room for the .zfc file stays free on the first part: two central
    // headers without their (unstored) paths, the end record with its
    // comment and 2 KB. The setting itself is not changed, so the next run
    // keeps the same room.
    const uint64_t reserve = 2 * 46 + 22 + 13 + 2048;
    EXPECT_EQ(fs::file_size(out + "/x.zip.z01"), uint64_t(FloppySize) - reserve);
    EXPECT_EQ(w.MultiZipInfo.SaveOnFirstDisk, 0);
    SetBlocked(w, t / "again/x.zip", FloppySize, sources);
    w.SetArchiveComment("weekly backup");
    ASSERT_EQ(w.Zip(), 2);
    EXPECT_EQ(fs::file_size(t / "again/x.zip.z01"), uint64_t(FloppySize) - reserve);

    // Without the last part the directory comes from the .zfc file.
    fs::rename(out + "/x.zip", t / "x.zip");
    TZipReader r;
    r.SetZipName(out + "/x.zip");
    r.ReadArchive();
    ASSERT_EQ(r.EntryCount(), 2);
    EXPECT_EQ(r.EntryName(0), "big.bin");
    EXPECT_EQ(r.EntrySize(0), uint64_t(5 << 20));
    EXPECT_EQ(r.EntryName(1), "small.txt");
    EXPECT_EQ(r.EntryInfo(1).DiskNumberStart(), 3u);
    EXPECT_EQ(r.ArchiveComment(), "weekly backup");
}

// ---- Peers ------------------------------------------------------------------------

// Other tools read blocked parts under their own part names, and Info-ZIP
// joins them into one archive: whether an entry's data runs into the last
// part, or the last part holds only a small entry and the directory.
TEST(MultiPartPeers, ReadBlockedPartsAndJoinThem)
{
    // Stored, so that the big file's data ends 10 bytes before the end of
    // part 2, too close for the next header: part 1 holds the marker, a
    // header of 30 + 7 + 9 bytes (name and timestamp) and the data's start.
    const size_t shortOfTwoParts = size_t(2 * FloppySize - 4 - 46 - 10);
    const struct {
        const char* name;
        size_t bigSize;
        int level;
    } cases[] = {{"an entry runs into the last part", 3 << 20, 6},
                 {"a small entry and the directory last", shortOfTwoParts, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir u;
        const auto sources = MakeSources(u, c.bigSize);
        TZipWriter w;
        SetBlocked(w, u / "out/x.zip", FloppySize, sources);
        w.PackLevel = c.level;
        ASSERT_EQ(w.Zip(), 2);
        ASSERT_EQ(w.PartCount(), 3);
        if (c.level == 0) {
            EXPECT_EQ(fs::file_size(u / "out/x.zip.z02"), uint64_t(FloppySize - 10));
            EXPECT_EQ(w.EntryInfo(1).DiskNumberStart(), 2u);
            EXPECT_EQ(w.EntryInfo(1).LocalHeaderOffset(), 0u);
            ExpectNoHeaderCut({u / "out/x.zip.z01", u / "out/x.zip.z02", u / "out/x.zip"}, FloppySize);
        }

        const std::string peer = u / "peer";
        fs::create_directories(peer);
        fs::copy_file(u / "out/x.zip.z01", peer + "/x.z01");
        fs::copy_file(u / "out/x.zip.z02", peer + "/x.z02");
        fs::copy_file(u / "out/x.zip", peer + "/x.zip");
        EXPECT_TRUE(Succeeds("cd '" + peer + "' && LC_ALL=C.UTF-8 7zz t x.zip"));
        EXPECT_TRUE(Succeeds("cd '" + peer + "' && LC_ALL=C.UTF-8 7zz x -y -oext x.zip"));
        for (const std::string& file : sources)
            EXPECT_TRUE(ReadFile(peer + "/ext/" + fs::path(file).filename().string()) == ReadFile(file)) << file;

        ASSERT_TRUE(Succeeds("cd '" + peer + "' && zip -q -s 0 x.zip --out joined.zip"));
        const std::string joined = peer + "/joined.zip";
        EXPECT_TRUE(Succeeds("LC_ALL=C.UTF-8 unzip -t '" + joined + "'"));
        EXPECT_TRUE(Succeeds(PythonTest + "'" + joined + "'"));
        EXPECT_EQ(Listing("LC_ALL=C.UTF-8 bsdtar -tf '" + joined + "'"), "big.bin\nsmall.txt\n");
    }
}

// ---- Spanned disks ----------------------------------------------------------------

TEST(MultiPartSpan, WrittenAcrossDisksAndReadBack)
{
    TempDir t;
    const int64_t diskSize = 256 << 10;
    Disks disks(t, 3, diskSize);
    if (!disks.failure.empty())
        GTEST_SKIP() << disks.failure;
    const auto sources = MakeSources(t, 600000);

    TZipWriter w;
    w.SetZipName(disks.File(1));
    w.MultiZipInfo.MultiMode = TMultiMode::mmSpan;
    w.TempPath = t.Path();
    w.FilesList = sources;
    std::vector<int> asked, prepared;
    w.OnGetNextDisk = [&](TZipReader&, int n, std::string& name) {
        asked.push_back(n);
        name = disks.File(n);
    };
    w.OnPrepareNextDisk = [&](TZipWriter&, int n) { prepared.push_back(n); };
    ASSERT_EQ(w.Zip(), 2);
    EXPECT_EQ(asked, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(prepared, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(w.ZipName(), disks.File(3));
    // Each disk but the last is filled to its last byte.
    EXPECT_EQ(fs::file_size(disks.File(1)), uint64_t(diskSize));
    EXPECT_EQ(fs::file_size(disks.File(2)), uint64_t(diskSize));
    ExpectNoHeaderCut({disks.File(1), disks.File(2), disks.File(3)}, diskSize);

    TZipReader r;
    r.SetZipName(disks.File(3));
    r.SetMultiMode(TMultiMode::mmSpan);
    r.SetCheckDiskLabels(false);
    std::set<int> read;
    r.OnGetNextDisk = [&](TZipReader&, int n, std::string& name) {
        read.insert(n);
        name = disks.File(n);
    };
    ExpectReadsBack(r, sources, t / "dest");
    EXPECT_EQ(read, (std::set<int>{1, 2, 3}));
}

// ---- Failures ---------------------------------------------------------------------

TEST(MultiPartFailures, APartTooSmallForAHeaderIsRefused)
{
    TempDir t;
    WriteFile(t / "src/small.txt", Random(200, 3));  // local header 39 bytes, central header 55
    for (const int64_t blockSize : {int64_t(20), int64_t(39), int64_t(50)}) {
        SCOPED_TRACE(blockSize);
        TempDir u;
        TZipWriter w;
        SetBlocked(w, u / "out/x.zip", blockSize, {t / "src/small.txt"});
        w.PackLevel = 0;
        EXPECT_EQ(FailureOf<ENotEnoughRoom>([&] { w.Zip(); }, "Not enough room to write archive"), "");
        EXPECT_EQ(w.ZipName(), u / "out/x.zip");
        EXPECT_FALSE(fs::exists(u / "out/x.zip"));
        ExpectNothingFinished(u / "out");
    }
}

TEST(MultiPartFailures, AFullDiskIsNotEnoughRoom)
{
    TempDir t;
    Disks disks(t, 1, 256 << 10);
    if (!disks.failure.empty())
        GTEST_SKIP() << disks.failure;
    const auto sources = MakeSources(t, 600000);
    fs::create_directories(t / "work");
    TZipWriter w;
    SetBlocked(w, disks.File(1), FloppySize, sources);
    w.TempPath = t / "work";
    EXPECT_EQ(FailureOf<ENotEnoughRoom>([&] { w.Zip(); }, "Not enough room to write archive"), "");
    ExpectNothingFinished(t / "disk1");
    EXPECT_FALSE(fs::exists(disks.File(1)));
    EXPECT_TRUE(FilesIn(t / "work").empty());
}

TEST(MultiPartFailures, AMissingMiddlePartFailsTheEntriesThatNeedIt)
{
    TempDir t;
    const auto sources = MakeSources(t, 150000);
    TZipWriter w;
    SetBlocked(w, t / "out/x.zip", 65536, sources);
    ASSERT_EQ(w.Zip(), 2);
    fs::remove(t / "out/x.zip.z02");

    TZipReader r;
    r.SetZipName(t / "out/x.zip");
    r.ReadArchive();
    EXPECT_EQ(r.EntryCount(), 2);
    r.SetDestDir(t / "dest");
    r.DoAll = true;
    std::vector<std::string> errors;
    r.OnEntryError = [&](TZipReader&, int, const std::string& what) { errors.push_back(what); };
    // The first entry lies in the first part; the second needs the missing one.
    EXPECT_EQ(r.UnZip(), 1);
    EXPECT_EQ(errors, std::vector<std::string>{"Cannot open file " + t / "out/x.zip.z02"});
}

TEST(MultiPartFailures, CancellingTheDiskPromptEndsTheRun)
{
    TempDir t;
    const auto sources = MakeSources(t, 600000);
    {
        SCOPED_TRACE("the built-in prompt for disk 1");
        TZipWriter w;
        w.SetZipName(t / "out/x.zip");
        w.MultiZipInfo.MultiMode = TMultiMode::mmSpan;
        w.FilesList = sources;
        std::vector<std::pair<int, std::string>> prompts;
        w.OnHandleMessage = [&](TZipReader&, int id, const std::string& text, const std::string&, unsigned flags,
                                int& result) {
            prompts.emplace_back(id, text);
            EXPECT_EQ(flags, platform::mbOKCancel);
            result = platform::idCancel;
        };
        EXPECT_EQ(FailureOf<EUserCanceled>([&] { w.Zip(); }, "User canceled Zip operation"), "");
        EXPECT_EQ(prompts, (std::vector<std::pair<int, std::string>>{
                               {TZipReader::MsgInsertDisk, "Please insert disk 1 of the multi-disk set."}}));
        EXPECT_FALSE(fs::exists(t / "out/x.zip"));
    }

    Disks disks(t, 1, 256 << 10);
    if (!disks.failure.empty())
        GTEST_SKIP() << disks.failure;
    SCOPED_TRACE("a handler declining disk 2");
    TZipWriter w;
    w.SetZipName(disks.File(1));
    w.MultiZipInfo.MultiMode = TMultiMode::mmSpan;
    w.TempPath = t.Path();
    w.FilesList = sources;
    std::vector<int> asked;
    w.OnGetNextDisk = [&](TZipReader&, int n, std::string& name) {
        asked.push_back(n);
        name = n == 1 ? disks.File(1) : "";
    };
    EXPECT_EQ(FailureOf<EUserCanceled>([&] { w.Zip(); }, "User canceled Zip operation"), "");
    EXPECT_EQ(asked, (std::vector<int>{1, 2}));
    // Disk 1 was finished before the prompt for disk 2: it stays.
    EXPECT_TRUE(fs::exists(disks.File(1)));
    ExpectNothingFinished(t / "disk1");
}

}  // namespace

TEST(MultiPartFailures, AFailedOrCancelledBlockedRunLeavesNoParts)
{
    TempDir t;
    const auto sources = MakeSources(t, 600000);
    // A cancel (Ctrl-C on the command line) in each phase of the run.
    const std::pair<const char*, std::function<void(TZipWriter&)>> cancels[] = {
        {"while the first entry is compressed",
         [](TZipWriter& w) { w.OnFilePercentDone = [](TZipReader& sender, int) { sender.RequestCancel(); }; }},
        {"while its data is copied into the first part",
         [](TZipWriter& w) {
             w.OnStartSpanCopy = [](TZipWriter& sender, const std::string&, int64_t) { sender.RequestCancel(); };
         }},
        {"once parts are finished",
         [](TZipWriter& w) {
             w.OnTotalPercentDone = [](TZipReader& sender, int percent) {
                 if (percent >= 75)
                     sender.RequestCancel();
             };
         }},
        {"while the last entry is compressed",
         [](TZipWriter& w) {
             w.OnStartZip = [](TZipWriter& sender, const std::string& file, TZipHeaderInfo&, bool&) {
                 if (file.ends_with("small.txt"))
                     sender.RequestCancel();
             };
         }},
    };
    for (const auto& [phase, cancel] : cancels) {
        SCOPED_TRACE(phase);
        TZipWriter w;
        SetBlocked(w, t / "out/x.zip", 65536, sources);
        w.PackLevel = 0;
        cancel(w);
        EXPECT_THROW(w.Zip(), EUserCanceled);
        EXPECT_TRUE(fs::is_empty(t / "out"));
    }
    SCOPED_TRACE("a header too big for a part");
    TZipWriter w;
    SetBlocked(w, t / "out/x.zip", 200, sources);
    const std::string longName = t / ("src/" + std::string(200, 'n'));
    WriteFile(longName, "a name longer than a part");
    w.FilesList = {t / "src/small.txt", longName};
    EXPECT_THROW(w.Zip(), ENotEnoughRoom);
    EXPECT_TRUE(fs::is_empty(t / "out"));
}
