// Writing archives: what other tools make of them, Zip64, updates that fail
// half-way, the update actions, carried-over entries, deleting entries and
// edge cases of the file list.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "engine/ZipExceptions.h"
#include "engine/ZipWriter.h"
#include "platform/Files.h"
#include "platform/Hooks.h"
#include "tests/TestSupport.h"

namespace fs = std::filesystem;
using testing_support::CorpusDir;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// ---- Helpers --------------------------------------------------------------------

std::string Random(size_t n, uint32_t seed)
{
    std::string s(n, '\0');
    for (char& c : s)
        c = char((seed = seed * 1103515245 + 12345) >> 23);
    return s;
}

std::string Text(size_t lines)
{
    std::string s;
    for (size_t i = 0; i < lines; ++i)
        s += "line " + std::to_string(i) + " of a text that compresses well\n";
    return s;
}

// Replaces every {key} of text by its value.
std::string Fill(std::string text, const std::map<std::string, std::string>& values)
{
    for (const auto& [key, value] : values)
        for (size_t at; (at = text.find('{' + key + '}')) != std::string::npos;)
            text.replace(at, key.size() + 2, value);
    return text;
}

// The files of a tree by relative path, and its folders with a trailing '/'.
std::map<std::string, std::string> ReadTree(const std::string& dir)
{
    std::map<std::string, std::string> tree;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const std::string rel = fs::relative(e.path(), dir).string();
        tree[e.is_directory() ? rel + '/' : rel] = e.is_directory() ? "" : ReadFile(e.path().string());
    }
    return tree;
}

std::vector<std::string> StoredNames(const TZipReader& r)
{
    std::vector<std::string> names;
    for (int i = 0; i < r.EntryCount(); ++i)
        names.push_back(r.EntryFolder(i) + r.EntryName(i));
    return names;
}

uint16_t Le16(const std::string& s, uint64_t at)
{
    return uint16_t(uint8_t(s[at]) | uint8_t(s[at + 1]) << 8);
}

// Where an entry's data starts in the archive's bytes, after its local header.
uint64_t DataStart(const std::string& archive, const TZipHeaderInfo& e)
{
    const uint64_t at = e.LocalHeaderOffset();
    return at + 30 + Le16(archive, at + 26) + Le16(archive, at + 28);
}

std::string RawData(const std::string& archive, const TZipHeaderInfo& e)
{
    return archive.substr(DataStart(archive, e), e.CompressedSize());
}

// Zips the tree under src into zip with folders relative to src.
void ZipTree(TZipWriter& w, const std::string& src, const std::string& zip)
{
    w.SetZipName(zip);
    w.SetRootDir(src);
    w.SetRelativePaths(true);
    w.FilesList = {src + "/*"};
}

// Puts the default hooks back when a test ends.
struct HooksReset {
    ~HooksReset() { platform::InstalledHooks() = {}; }
};

// ---- Peers ----------------------------------------------------------------------

// A peer tool as a shell command. {pw} stands for passwordOption with
// {password} filled in, or nothing without a password.
struct Peer {
    std::string name;
    std::string command;
    std::string passwordOption;
    bool keepsModes = false;  // extractors: the Unix mode of an entry reaches the file
};

// Tests the archive and, when a source folder is given, reads every entry and
// compares names and bytes with it. No single quotes: it goes inside them.
const std::string PythonCheck = R"(import os, sys, zipfile
zip, src, pw, comment = sys.argv[1:5]
z = zipfile.ZipFile(zip)
z.setpassword(pw.encode())
bad = z.testzip()
if bad: sys.exit("bad entry " + bad)
if z.comment != comment.encode(): sys.exit("comment %r" % z.comment)
if not src: sys.exit(0)
files = set()
for root, dirs, names in os.walk(src):
    files.update(os.path.relpath(os.path.join(root, n), src) for n in names)
stored = set()
for i in z.infolist():
    path = os.path.join(src, i.filename)
    if i.is_dir():
        if not os.path.isdir(path): sys.exit("no folder " + i.filename)
        continue
    stored.add(i.filename)
    if z.read(i) != open(path, "rb").read(): sys.exit("bytes of " + i.filename)
if stored != files: sys.exit("names differ: %r" % sorted(stored ^ files))
)";

const std::vector<Peer>& Testers()
{
    static const std::vector<Peer> peers = {
        {"unzip", "LC_ALL=C.UTF-8 unzip -t {pw} '{zip}'", "-P '{password}'"},
        {"7zz", "LC_ALL=C.UTF-8 7zz t {pw} '{zip}'", "'-p{password}'"},
        {"python", "LC_ALL=C.UTF-8 python3 -c '" + PythonCheck + "' '{zip}' '{src}' '{password}' '{comment}'", ""},
        {"bsdtar", "LC_ALL=C.UTF-8 bsdtar -tf '{zip}'", ""},
    };
    return peers;
}

const std::vector<Peer>& Extractors()
{
    static const std::vector<Peer> peers = {
        {"unzip", "LC_ALL=C.UTF-8 unzip -q -o {pw} '{zip}' -d '{dest}'", "-P '{password}'", true},
        {"7zz", "LC_ALL=C.UTF-8 7zz x -y {pw} '-o{dest}' '{zip}'", "'-p{password}'"},
        {"python",
         "LC_ALL=C.UTF-8 python3 -c 'import sys, zipfile; "
         "zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2], pwd=sys.argv[3].encode() or None)' "
         "'{zip}' '{dest}' '{password}'",
         ""},
    };
    return peers;
}

std::string PeerCommand(const Peer& peer, std::map<std::string, std::string> values)
{
    const std::string pw = values["password"].empty() ? "" : Fill(peer.passwordOption, values);
    values["pw"] = pw;
    return Fill(peer.command, values);
}

// Every tester accepts the archive. unzip -t calls an archive without
// entries an error ("zipfile is empty", exit 1) but reads it fine.
void ExpectPeersAccept(const std::string& zip, const std::string& src = "", const std::string& password = "",
                       const std::string& comment = "")
{
    for (const Peer& peer : Testers()) {
        std::string out;
        const int rc = testing_support::Run(
            PeerCommand(peer, {{"zip", zip}, {"src", src}, {"password", password}, {"comment", comment}}), &out);
        EXPECT_TRUE(rc == 0 || (rc == 1 && out.find("zipfile is empty") != std::string::npos))
            << peer.name << " exit " << rc << ":\n" << out.substr(0, 4000);
    }
}

// ---- Interoperability -------------------------------------------------------------

struct PeerCase {
    std::string name;
    int level = 6;
    std::string password;
    std::string comment;
    bool folderEntries = false;
    bool utf8Names = false;
};

// Test names show the case's name rather than its bytes.
void PrintTo(const PeerCase& c, std::ostream* os)
{
    *os << c.name;
}

class ZipWriterPeers : public testing::TestWithParam<PeerCase> {};

TEST_P(ZipWriterPeers, PeersTestTheArchiveAndExtractTheSources)
{
    const PeerCase& c = GetParam();
    TempDir t;
    const std::string src = t / "src", zip = t / "out.zip";
    WriteFile(src + "/text.txt", Text(4000));  // several deflate blocks
    WriteFile(src + "/random.bin", Random(150000, 7));
    WriteFile(src + "/empty.dat", "");
    WriteFile(src + "/sub/nested.txt", "nested\n");
    WriteFile(src + "/sub/deeper/tool.sh", "#!/bin/sh\necho hi\n");
    fs::permissions(src + "/sub/deeper/tool.sh", fs::perms(0755));
    if (c.folderEntries)
        fs::create_directories(src + "/void");
    if (c.utf8Names) {
        WriteFile(src + "/Grüße/naïve café.txt", "umlauts\n");
        WriteFile(src + "/日本語.txt", "kanji\n");
    }

    TZipWriter w;
    ZipTree(w, src, zip);
    w.PackLevel = c.level;
    w.Password = c.password;
    w.AddDirEntriesOnRecurse = c.folderEntries;
    w.SetArchiveComment(c.comment);
    ASSERT_GT(w.Zip(), 0);

    ExpectPeersAccept(zip, src, c.password, c.comment);
    const auto expected = ReadTree(src);
    for (const Peer& peer : Extractors()) {
        SCOPED_TRACE(peer.name);
        const std::string dest = t / ("x-" + peer.name);
        const std::string command = PeerCommand(peer, {{"zip", zip}, {"dest", dest}, {"password", c.password}});
        std::string out;
        ASSERT_EQ(testing_support::Run(command, &out), 0) << out;
        EXPECT_EQ(ReadTree(dest), expected);
        if (peer.keepsModes) {
            EXPECT_EQ(fs::status(dest + "/sub/deeper/tool.sh").permissions() & fs::perms::all, fs::perms(0755));
        }
    }
}

std::vector<PeerCase> PeerCases()
{
    auto make = [](std::string name, int level, std::string password = "") {
        PeerCase c;
        c.name = std::move(name);
        c.level = level;
        c.password = std::move(password);
        return c;
    };
    std::vector<PeerCase> cases = {make("Stored", 0)};
    for (int level = 1; level <= 9; ++level)
        cases.push_back(make("Level" + std::to_string(level), level));
    cases.push_back(make("Password", 6, "pa$$ word"));
    cases.push_back(make("StoredWithPassword", 0, "secret"));
    cases.push_back(make("FolderEntries", 6));
    cases.back().folderEntries = true;
    cases.push_back(make("Comment", 6));
    cases.back().comment = "made for the peers\r\nsecond line";
    cases.push_back(make("Utf8Names", 6));
    cases.back().utf8Names = true;
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Archives, ZipWriterPeers, testing::ValuesIn(PeerCases()),
                         [](const testing::TestParamInfo<PeerCase>& info) { return info.param.name; });

// ---- Zip64 ------------------------------------------------------------------------

TEST(ZipWriterZip64, MoreThan65535EntriesOpenEverywhere)
{
    TempDir t;
    const std::string src = t / "src", zip = t / "many.zip";
    const int count = 65535 + 100;
    fs::create_directories(src);
    for (int i = 0; i < count; ++i) {
        const std::string name = std::to_string(i);
        std::ofstream(src + "/" + name) << name;
    }
    TZipWriter w;
    ZipTree(w, src, zip);
    w.PackLevel = 0;
    ASSERT_EQ(w.Zip(), count);

    TZipReader r;
    r.SetZipName(zip);
    r.ReadArchive();
    EXPECT_EQ(r.EntryCount(), count);
    EXPECT_EQ(r.EndCentral().TotalEntries(), uint64_t(count));
    ExpectPeersAccept(zip);  // reading 65,635 sources again would only cost time
}

// Writes about 9 GB: scripts/test runs it only where the room is there.
TEST(LargeZipWriter, StoredEntryOver4GiBRoundTrips)
{
    TempDir t;
    const std::string big = t / "src/big.bin", small = t / "src/after.txt", zip = t / "large.zip";
    const uint64_t size = (uint64_t(4) << 30) + 12345;
    WriteFile(small, "after the big one\n");
    {
        std::ofstream f(big, std::ios::binary);
        f << "head";
        f.seekp(std::streamoff(size - 4));
        f << "tail";
    }
    ASSERT_EQ(fs::file_size(big), size);

    TZipWriter w;
    w.SetZipName(zip);
    w.PackLevel = 0;
    w.FilesList = {big, small};
    ASSERT_EQ(w.Zip(), 2);

    TZipReader r;
    r.SetZipName(zip);
    r.ReadArchive();
    ASSERT_EQ(StoredNames(r), (std::vector<std::string>{"big.bin", "after.txt"}));
    EXPECT_EQ(r.EntryInfo(0).UncompressedSize(), size);
    EXPECT_EQ(r.EntryInfo(0).CompressedSize(), size);
    EXPECT_GT(r.EntryInfo(1).LocalHeaderOffset(), size);

    std::string out;
    EXPECT_EQ(testing_support::Run("unzip -t '" + zip + "'", &out), 0) << out;

    const std::string dest = t / "dest";
    int badCrc = 0;
    r.OnBadCRC = [&](TZipReader&, uint32_t, uint32_t, int) { ++badCrc; };
    r.SetDestDir(dest);
    r.DoAll = true;
    ASSERT_EQ(r.UnZip(), 2);
    EXPECT_EQ(badCrc, 0);
    EXPECT_EQ(ReadFile(dest + "/after.txt"), ReadFile(small));
    ASSERT_EQ(fs::file_size(dest + "/big.bin"), size);
    std::ifstream f(dest + "/big.bin", std::ios::binary);
    char head[4], tail[4];
    f.read(head, 4);
    f.seekg(std::streamoff(size - 4));
    f.read(tail, 4);
    EXPECT_EQ(std::string(head, 4), "head");
    EXPECT_EQ(std::string(tail, 4), "tail");
}

// ---- Failed updates ---------------------------------------------------------------

// src/small.txt and src/big.bin zipped into old.zip, and an empty folder work/.
std::string MakeArchiveToUpdate(const TempDir& t)
{
    WriteFile(t / "src/small.txt", "small\n");
    WriteFile(t / "src/big.bin", Random(256 << 10, 1));
    fs::create_directories(t / "work");
    TZipWriter w;
    w.SetZipName(t / "old.zip");
    w.FilesList = {t / "src/small.txt", t / "src/big.bin"};
    if (w.Zip() != 2)
        ADD_FAILURE() << "could not make the archive to update";
    return t / "old.zip";
}

// Empty when update raised E with a message that begins with message.
template <class E>
std::string FailureOf(const std::function<void()>& update, const std::string& message)
{
    try {
        update();
        return "no exception";
    } catch (const E& e) {
        return std::string(e.what()).rfind(message, 0) == 0 ? "" : std::string("message: ") + e.what();
    } catch (const std::exception& e) {
        return std::string("another exception: ") + e.what();
    }
}

// The writer's temporary files (".ZBK...") in a folder.
std::vector<std::string> TemporaryFiles(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string().starts_with(".ZBK"))
            names.push_back(e.path().string());
    return names;
}

void ExpectNoTemporaryFiles(const std::string& folder)
{
    EXPECT_EQ(TemporaryFiles(folder), std::vector<std::string>{});
}

TEST(ZipWriterUpdate, CancellingLeavesTheOldArchiveAsItWas)
{
    TempDir t;
    const std::string zip = MakeArchiveToUpdate(t), work = t.Path();
    const std::string before = ReadFile(zip);
    WriteFile(t / "src/new.bin", Random(1 << 20, 2));
    HooksReset reset;
    TZipWriter w;
    w.SetZipName(zip);

    // Adding: during the new entry's data.
    bool started = false;
    int pumps = 0;
    w.OnStartZip = [&](TZipWriter&, const std::string& file, TZipHeaderInfo&, bool&) { started = file == t / "src/new.bin"; };
    platform::InstalledHooks().PumpMessages = [&] {
        if (started && ++pumps == 3)
            w.RequestCancel();
    };
    w.PackLevel = 1;
    w.FilesList = {t / "src/new.bin"};
    EXPECT_EQ(FailureOf<EUserCanceled>([&] { w.Zip(); }, "User Aborted Operation"), "");
    EXPECT_EQ(pumps, 3);
    EXPECT_TRUE(w.FilesList.empty());
    EXPECT_FALSE(w.Working());
    EXPECT_EQ(ReadFile(zip), before);
    ExpectNoTemporaryFiles(work);

    // Deleting: while big.bin is copied into the new archive.
    pumps = 0;
    platform::InstalledHooks().PumpMessages = [&] {
        if (++pumps == 5)
            w.RequestCancel();
    };
    w.FilesList = {"small.txt"};
    EXPECT_EQ(FailureOf<EUserCanceled>([&] { w.RemoveEntries(); }, "User Aborted Operation"), "");
    EXPECT_EQ(pumps, 5);
    EXPECT_EQ(ReadFile(zip), before);
    ExpectNoTemporaryFiles(work);
}

TEST(ZipWriterUpdate, AnUnreadableSourceIsSkippedAndTheUpdateGoesOn)
{
    TempDir t;
    const std::string zip = MakeArchiveToUpdate(t), locked = t / "src/locked.txt";
    WriteFile(locked, "locked\n");
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    // Root reads it anyway: the update runs as nobody.
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (uid == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody)
            GTEST_SKIP() << "running as root and there is no user nobody to run the update as";
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
        fs::permissions(t.Path(), fs::perms(0777));  // the new archive replaces the old one there
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(gid) != 0 || setuid(uid) != 0))
            _exit(64);
        TZipWriter w;
        w.SetZipName(zip);
        w.FilesList = {t / "src/small.txt", locked};
        std::vector<std::string> unreadable;
        w.OnSkippingFile = [&](TZipReader&, TSkipReason reason, const std::string& name, int, bool&) {
            if (reason == TSkipReason::skUnreadable)
                unreadable.push_back(name);
        };
        try {
            w.Zip();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            _exit(1);
        }
        _exit(unreadable == std::vector<std::string>{locked} ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "1: an exception, 2: not skipped, 64: could not become nobody";
    std::string out;
    EXPECT_EQ(testing_support::Run("unzip -tq '" + zip + "'", &out), 0) << out;
    EXPECT_EQ(testing_support::Run("unzip -l '" + zip + "' | grep -c locked.txt", &out), 1) << out;
    ExpectNoTemporaryFiles(t.Path());
}

TEST(ZipWriter, AFileWhoseReadFailsIsSkippedWithTheSystemsMessage)
{
    // Reading /proc/self/mem at offset 0 fails with EIO: a regular file
    // whose read goes wrong.
    TempDir t;
    WriteFile(t / "a.txt", Text(20));
    const struct {
        const char* name;
        std::string password;
        bool blocked;
    } runs[] = {{"plain", "", false}, {"encrypted", "secret", false}, {"blocked", "", true}};
    for (const auto& k : runs) {
        SCOPED_TRACE(k.name);
        const std::string zip = t / (std::string(k.name) + "/x.zip");
        fs::create_directories(t / k.name);
        TZipWriter w;
        w.SetZipName(zip);
        w.Password = k.password;
        if (k.blocked) {
            w.MultiZipInfo.MultiMode = TMultiMode::mmBlocks;
            w.MultiZipInfo.BlockSize = 65536;
        }
        std::vector<std::string> skipped;
        w.OnSkippingFile = [&](TZipReader&, TSkipReason why, const std::string& file, int, bool&) {
            skipped.push_back(std::to_string(int(why)) + " " + file + " " + w.SourceError());
        };
        int messages = 0;
        w.OnHandleMessage = [&](TZipReader&, int, const std::string&, const std::string&, unsigned, int&) { ++messages; };
        w.FilesList = {"/proc/self/mem", t / "a.txt"};
        ASSERT_EQ(w.Zip(), 1);
        EXPECT_EQ(skipped, std::vector<std::string>{std::to_string(int(TSkipReason::skUnreadable)) +
                                                    " /proc/self/mem Input/output error"});
        EXPECT_EQ(messages, 0);
        EXPECT_EQ(StoredNames(w), std::vector<std::string>{"a.txt"});
        std::string out;
        EXPECT_EQ(testing_support::Run("unzip -tq -P secret '" + w.ZipName() + "'", &out), 0) << out;
    }
}

TEST(ZipWriter, EveryLongStepLetsMessagesThrough)
{
    // Counted in pumps: at least one per 64 KiB of data, one per file listed
    // or set going on the workers and one per entry carried over, in each
    // step, or a cancel would wait there.
    TempDir t;
    const std::string big = t / "big.bin", many = t / "many.zip";
    WriteFile(big, Random(9 << 20, 5));  // larger than a file read whole
    for (int i = 0; i < 2000; ++i)
        WriteFile(t / ("small/" + std::to_string(i)), "");
    std::string out;
    ASSERT_EQ(testing_support::Run("python3 -c 'import zipfile\nwith zipfile.ZipFile(\"" + many +
                                       "\", \"w\") as z:\n    for i in range(2000): z.writestr(str(i), str(i))'",
                                   &out),
              0)
        << out;
    HooksReset reset;
    int pumps = 0;
    bool counting = false;
    platform::InstalledHooks().PumpMessages = [&] { pumps += counting; };
    const auto from = [&](bool on) { return [&counting, on](auto&&...) { counting = on; }; };
    const struct {
        const char* step;
        std::function<void(TZipWriter&)> run;
        int least;
    } steps[] = {
        {"copying into the parts", [&](TZipWriter& w) {
             w.SetZipName(t / "parts/x.zip");
             fs::create_directories(t / "parts");
             w.MultiZipInfo.MultiMode = TMultiMode::mmBlocks;
             w.MultiZipInfo.BlockSize = 1 << 20;
             w.OnStartSpanCopy = from(true);
             w.OnEndZip = from(false);
             w.FilesList = {big};
             w.Zip();
         }, 64},
        {"the checksum pass of an encrypted entry", [&](TZipWriter& w) {
             w.SetZipName(t / "encrypted.zip");
             w.Password = "secret";
             w.OnStartZip = from(true);
             w.OnFilePercentDone = from(false);
             w.FilesList = {big};
             w.Zip();
         }, 64},
        {"looking up a list of files", [&](TZipWriter& w) {
             w.SetZipName(t / "listed.zip");
             for (int i = 0; i < 2000; ++i)
                 w.FilesList.push_back(t / ("small/" + std::to_string(i)));
             w.OnStartZipInfo = from(false);
             counting = true;
             w.Zip();
         }, 2000},
        {"setting small files going on the workers", [&](TZipWriter& w) {
             w.SetZipName(t / "small.zip");
             w.Threads = 2;
             w.OnStartZipInfo = from(true);
             w.OnStartZip = from(false);
             w.FilesList = {t / "small/*"};
             w.Zip();
         }, 1999},
        {"carrying entries over", [&](TZipWriter& w) {
             w.SetZipName(many);
             w.OnUpdate = from(true);
             w.FilesList = {"0"};
             w.RemoveEntries();
         }, 1998},
    };
    for (const auto& k : steps) {
        SCOPED_TRACE(k.step);
        pumps = 0;
        counting = false;
        TZipWriter w;
        w.PackLevel = 0;
        k.run(w);
        EXPECT_GE(pumps, k.least);
    }
}

TEST(ZipWriterUpdate, AFullDiskLeavesTheOldArchiveAsItWas)
{
    TempDir t;
    const std::string made = MakeArchiveToUpdate(t), work = t / "work", zip = work + "/old.zip";
    const std::string before = ReadFile(made);
    if (geteuid() != 0)
        GTEST_SKIP() << "a full disk needs root to mount a small tmpfs";

    // Stored random data: the new archive's size is known to the byte, so
    // the disk can be made to run full at each stage of writing.
    const std::string added = t / "src/new.bin", probe = t / "probe.zip";
    const int64_t probeSize = 1000;
    WriteFile(added, Random(size_t(probeSize), 3));
    fs::copy_file(made, probe);
    TZipWriter p;
    p.SetZipName(probe);
    p.PackLevel = 0;
    p.FilesList = {added};
    ASSERT_EQ(p.Zip(), 1);
    const int64_t rest = int64_t(fs::file_size(probe)) - probeSize,
                  dataRest = int64_t(p.EndCentral().CentralDirOffset()) - probeSize;
    // Room for a file whose last stored block is short: it waits in the
    // output's buffer until the local header is rewritten.
    int64_t room = 1 << 20;
    while ((room - dataRest + 1) % 32768 == 0 || (room - dataRest + 1) % 32768 >= 8192)
        room += 4096;
    // The old archive lies in the small file system too, in whole pages.
    const int64_t oldPages = (int64_t(before.size()) + 4095) / 4096 * 4096;
    std::string out;
    if (testing_support::Run("mount -t tmpfs -o size=" + std::to_string(room + oldPages) + " tmpfs '" + work + "'",
                             &out) != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs: " << out;
    struct Unmount {
        std::string dir;
        ~Unmount() { testing_support::Run("umount '" + dir + "'"); }
    } unmount{work};
    fs::copy_file(made, zip);

    const std::pair<const char*, int64_t> stages[] = {
        {"in the data", 2 << 20},
        {"with the last data bytes", room - dataRest + 1},
        {"in the central directory", room - rest + 30},
        {"in the end record", room - rest + 1},
    };
    for (const auto& [stage, size] : stages) {
        SCOPED_TRACE(stage);
        WriteFile(added, Random(size_t(size), 3));
        TZipWriter w;
        w.SetZipName(zip);
        w.PackLevel = 0;
        w.FilesList = {added};
        EXPECT_EQ(FailureOf<ENotEnoughRoom>([&] { w.Zip(); }, "Not enough room to write archive"), "");
        EXPECT_EQ(ReadFile(zip), before);
        ExpectNoTemporaryFiles(work);
    }

    // An archive that fills the folder to the last byte goes through.
    WriteFile(added, Random(size_t(room - rest), 3));
    TZipWriter w;
    w.SetZipName(zip);
    w.PackLevel = 0;
    w.FilesList = {added};
    ASSERT_EQ(w.Zip(), 1);
    EXPECT_EQ(fs::file_size(zip), uint64_t(room));
    ExpectNoTemporaryFiles(work);
    ExpectPeersAccept(zip);
}

TEST(ZipWriterUpdate, TheNewArchiveTakesTheOldOnesPlaceOwnerAndMode)
{
    TempDir t;
    const std::string made = MakeArchiveToUpdate(t), real = t / "real/old.zip", link = t / "link.zip";
    fs::create_directories(t / "real");
    fs::rename(made, real);
    fs::create_symlink("real/old.zip", link);
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() == 0 && nobody) {
        ASSERT_EQ(chown(real.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    struct stat old{};
    ASSERT_EQ(stat(real.c_str(), &old), 0);

    // Updated through the link: the temporary file lies beside the target,
    // whatever the folder for temporary files is.
    TZipWriter w;
    w.SetZipName(link);
    w.TempPath = t / "work";
    std::vector<std::string> beside;
    w.OnStartZip = [&](TZipWriter&, const std::string&, TZipHeaderInfo&, bool&) {
        beside = TemporaryFiles(t / "real");
    };
    WriteFile(t / "src/new.txt", "new\n");
    w.FilesList = {t / "src/new.txt"};
    ASSERT_EQ(w.Zip(), 1);
    EXPECT_EQ(beside.size(), 1u);
    EXPECT_TRUE(fs::is_symlink(link));
    struct stat now{};
    ASSERT_EQ(stat(real.c_str(), &now), 0);
    EXPECT_EQ(now.st_mode, old.st_mode);
    EXPECT_EQ(now.st_uid, old.st_uid);
    EXPECT_EQ(now.st_gid, old.st_gid);
    EXPECT_NE(now.st_ino, old.st_ino);
    std::string out;
    EXPECT_EQ(testing_support::Run("unzip -l '" + real + "' | grep -c new.txt", &out), 0) << out;
    ExpectNoTemporaryFiles(t / "real");
    ExpectNoTemporaryFiles(t / "work");
}

TEST(ZipWriterUpdate, AFolderThatTakesNoNewFileIsReportedBeforeAnyWork)
{
    TempDir t;
    const std::string zip = MakeArchiveToUpdate(t);
    const std::string before = ReadFile(zip);
    fs::permissions(t.Path(), fs::perms(0755));
    std::fflush(nullptr);
    // Root may write anywhere: the update runs as nobody.
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() == 0 && !nobody)
        GTEST_SKIP() << "running as root and there is no user nobody to run the update as";
    if (geteuid() != 0)
        fs::permissions(t.Path(), fs::perms(0555));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0))
            _exit(64);
        TZipWriter w;
        w.SetZipName(zip);
        bool started = false;
        w.OnStartZipInfo = [&](TZipWriter&, int, int64_t, TEndCentral*, bool&) { started = true; };
        w.FilesList = {t / "src/small.txt"};
        const std::string failure = FailureOf<EFCreateError>([&] { w.Zip(); },
                                                             "Cannot create a file in " + t.Path() + "/: Permission denied");
        if (!failure.empty())
            std::fprintf(stderr, "%s\n", failure.c_str());
        _exit(!failure.empty() ? 1 : started ? 2 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    fs::permissions(t.Path(), fs::perms(0755));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: another failure, 2: work began, 64: could not become nobody";
    EXPECT_EQ(ReadFile(zip), before);
}

// ---- Updating ---------------------------------------------------------------------

struct UpdateCase {
    TZipAction action;
    int written;
    std::vector<std::pair<TUpdateAction, int>> updates;
    std::vector<std::string> names;
    bool keepsA;
};

TEST(ZipWriterUpdate, UpdateFreshenAndReplaceKeepReplaceAndAddEntries)
{
    TempDir t;
    const std::string a = t / "src/a.txt", b = t / "src/b.txt", c = t / "src/c.txt", base = t / "base.zip";
    const uint32_t then = platform::DateTimeToDosDateTime(std::time(nullptr) - 86400);
    WriteFile(a, Text(300));
    WriteFile(b, "old b\n");
    ASSERT_TRUE(platform::FileSetDosTime(a, then) && platform::FileSetDosTime(b, then));
    {
        TZipWriter w;
        w.SetZipName(base);
        w.FilesList = {a, b};
        ASSERT_EQ(w.Zip(), 2);
    }
    const std::string old = ReadFile(base);
    TZipReader r;
    r.SetZipName(base);
    r.ReadArchive();
    const std::string oldA = RawData(old, r.EntryInfo(0));
    WriteFile(b, "new b\n");  // now newer than its entry
    WriteFile(c, "c\n");

    using enum TUpdateAction;
    const UpdateCase cases[] = {
        {TZipAction::zaUpdate, 2, {{uaKeeping, 0}, {uaReplacing, 1}}, {"a.txt", "b.txt", "c.txt"}, true},
        {TZipAction::zaFreshen, 1, {{uaKeeping, 0}, {uaReplacing, 1}}, {"a.txt", "b.txt"}, true},
        {TZipAction::zaReplace, 3, {{uaReplacing, 0}, {uaReplacing, 1}}, {"a.txt", "b.txt", "c.txt"}, false},
    };
    for (const UpdateCase& k : cases) {
        SCOPED_TRACE(int(k.action));
        const std::string zip = t / "updated.zip";
        fs::copy_file(base, zip, fs::copy_options::overwrite_existing);
        TZipWriter w;
        w.SetZipName(zip);
        w.ReadArchive();  // zaFreshen looks for the files among the entries read
        w.ZipAction = k.action;
        std::vector<std::pair<TUpdateAction, int>> updates;
        std::vector<std::pair<TSkipReason, std::string>> skips;
        w.OnUpdate = [&](TZipWriter&, TUpdateAction what, int i) { updates.emplace_back(what, i); };
        w.OnSkippingFile = [&](TZipReader&, TSkipReason why, const std::string& f, int, bool&) { skips.emplace_back(why, f); };
        w.FilesList = {a, b, c};
        EXPECT_EQ(w.Zip(), k.written);
        EXPECT_EQ(updates, k.updates);
        const std::vector<std::pair<TSkipReason, std::string>> notIn = {{TSkipReason::skNotInArchive, c}};
        EXPECT_EQ(skips, k.action == TZipAction::zaFreshen ? notIn : decltype(notIn){});

        TZipReader n;
        n.SetZipName(zip);
        n.ReadArchive();
        EXPECT_EQ(StoredNames(n), k.names);
        EXPECT_EQ(StoredNames(w), k.names);  // the writer holds the new directory
        if (k.keepsA) {
            EXPECT_EQ(RawData(ReadFile(zip), n.EntryInfo(0)), oldA);
        }
        const std::string dest = t / ("x" + std::to_string(int(k.action)));
        std::string out;
        ASSERT_EQ(testing_support::Run("unzip -q '" + zip + "' -d '" + dest + "'", &out), 0) << out;
        for (const std::string& name : k.names)
            EXPECT_EQ(ReadFile(dest + "/" + name), ReadFile(t / ("src/" + name))) << name;
    }
}

// The entry blocks of zipinfo -v, less the lines that name an entry's
// number or offset (and the gap zipinfo guesses from them).
std::vector<std::string> ZipinfoEntries(const std::string& zip)
{
    std::string out;
    testing_support::Run("LC_ALL=C zipinfo -v '" + zip + "'", &out);
    std::vector<std::string> blocks;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("Central directory entry #"))
            blocks.emplace_back();
        else if (line.find("offset of local header") != std::string::npos)
            std::getline(lines, line);  // the offset in hex
        else if (!blocks.empty() && !line.empty() && line.find("bytes preceding this file") == std::string::npos)
            blocks.back() += line + "\n";
    }
    return blocks;
}

// Each entry's bytes from its local header to the next entry's (or the
// directory), in file order.
std::vector<std::string> EntryBytes(const std::string& zip)
{
    TZipReader r;
    r.SetZipName(zip);
    r.ReadArchive();
    const std::string bytes = ReadFile(zip);
    std::vector<std::string> entries;
    for (int i = 0; i < r.EntryCount(); ++i) {
        const uint64_t from = r.EntryInfo(i).LocalHeaderOffset();
        const uint64_t to = i + 1 < r.EntryCount() ? r.EntryInfo(i + 1).LocalHeaderOffset() : r.EndCentral().CentralDirOffset();
        entries.push_back(bytes.substr(from, to - from));
    }
    return entries;
}

TEST(ZipWriterUpdate, KeptEntriesOfOtherToolsAreCopiedByteForByte)
{
    TempDir t;
    WriteFile(t / "src/one.txt", Text(40));
    WriteFile(t / "src/two.bin", Random(5000, 2));
    WriteFile(t / "src/dir/three.txt", "three\n");
    WriteFile(t / "stub", "#!/bin/sh\necho a program in front of the archive\nexit 0\n");
    std::string out;
    // Names another tool wrote as it wrote them: a backslash, a 2107 date,
    // a DOS code-page name without the UTF-8 flag, comments, a private extra block.
    const char* odd = R"(import sys, zipfile
z = zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED)
z.comment = b"archive comment"
for name, date, comment in [("plain.txt", (2020, 2, 2, 2, 2, 2), b""), ("Xre X.txt", (1999, 1, 2, 3, 4, 6), b""),
                            ("dir\\back.txt", (2107, 12, 31, 23, 59, 58), b"entry comment")]:
    i = zipfile.ZipInfo(name, date)
    i.comment, i.extra, i.create_system = comment, b"\xcd\xab\x03\x00abc", 0
    i.external_attr = 0o100640 << 16
    z.writestr(i, date[0].to_bytes(2, "little") * 300)
z.close()
data = open(sys.argv[1], "rb").read().replace(b"Xre X.txt", b"\x9dre \x9b.txt")
open(sys.argv[1], "wb").write(data)
)";
    WriteFile(t / "odd.py", odd);
    const std::map<std::string, std::string> made = {
        {"info-zip.zip", "cd src && zip -qr -X- ../info-zip.zip . && zip -qr -z ../info-zip.zip . <<< 'comment'"},
        {"7zip.zip", "cd src && 7zz a -bd -tzip ../7zip.zip . >/dev/null"},
        {"7zip-aes.zip", "cd src && 7zz a -bd -tzip -psecret -mem=AES256 ../7zip-aes.zip . >/dev/null"},
        {"python.zip", "python3 odd.py python.zip"},
        {"cut-prefixed.zip", "cd src && zip -qr ../p.zip . && cat ../stub ../p.zip > ../cut-prefixed.zip"},
        {"adjusted-prefixed.zip", "cd src && zip -qr ../q.zip . && cat ../stub ../q.zip > ../adjusted-prefixed.zip && "
                                  "zip -qA ../adjusted-prefixed.zip"},
    };
    for (const auto& [name, command] : made)
        ASSERT_EQ(testing_support::Run("cd '" + std::string(t / "") + "' && bash -c \"" + command + "\"", &out), 0)
            << name << out;
    std::vector<std::string> archives;
    for (const auto& [name, command] : made)
        archives.push_back(t / name);
    for (const char* name : {"izip-force-dd.zip", "izip-stream-dd.zip", "izip-entry-comments.zip", "izip-zip64.zip",
                             "7zz-zipcrypto.zip", "bsdtar-dd.zip", "jar-dd.jar", "py-zip64-stored.zip"})
        archives.push_back(CorpusDir() + "/peers/" + name);

    int run = 0;
    for (const std::string& source : archives) {
        SCOPED_TRACE(source);
        // Every other archive loses its first entry; the rest gain one.
        const bool deleting = run++ % 2 == 0 && ZipinfoEntries(source).size() > 1;
        const std::string zip = t / "work.zip";
        fs::copy_file(source, zip, fs::copy_options::overwrite_existing);
        fs::permissions(zip, fs::perms::owner_write, fs::perm_options::add);
        const std::string old = ReadFile(zip);
        std::vector<std::string> oldInfo = ZipinfoEntries(zip), oldBytes = EntryBytes(zip);
        TZipWriter w;
        w.SetZipName(zip);
        w.ReadArchive();
        if (deleting) {
            w.FilesList = {w.EntryInfo(0).Directory() + w.EntryInfo(0).FileName()};
            ASSERT_EQ(w.RemoveEntries(), 1);
            oldInfo.erase(oldInfo.begin());
            oldBytes.erase(oldBytes.begin());
        } else {
            w.FilesList = {t / "stub"};
            ASSERT_EQ(w.Zip(), 1);
        }
        std::vector<std::string> info = ZipinfoEntries(zip), bytes = EntryBytes(zip);
        if (!deleting) {
            info.pop_back();
            bytes.pop_back();
        }
        EXPECT_EQ(info, oldInfo);
        EXPECT_EQ(bytes, oldBytes);
        // What stood before the first entry still does.
        TZipReader r;
        r.SetZipName(source);
        r.ReadArchive();
        const uint64_t first = r.EntryInfo(0).LocalHeaderOffset();
        EXPECT_EQ(ReadFile(zip).substr(0, first), old.substr(0, first));
        EXPECT_EQ(testing_support::Run("7zz t -psecret '" + zip + "'", &out), 0) << out;
    }
}

TEST(ZipWriterUpdate, AnEntryCommentSetBeforeTheRewriteIsWritten)
{
    // Longer than 255 bytes: both bytes of its length go into the kept header.
    const std::string comment = "changed since it was read, " + std::string(300, 'c');
    for (const bool update : {false, true}) {
        SCOPED_TRACE(update ? "update" : "delete");
        TempDir t;
        const std::string zip = t / "comments.zip";
        fs::copy_file(CorpusDir() + "/peers/izip-entry-comments.zip", zip);
        fs::permissions(zip, fs::perms::owner_write, fs::perm_options::add);
        TZipWriter w;
        w.SetZipName(zip);
        w.ReadArchive();
        ASSERT_GE(w.EntryCount(), 2);
        const int count = w.EntryCount();
        const std::string kept = w.EntryComment(1);
        w.SetEntryComment(0, comment);
        if (update) {
            WriteFile(t / "new.txt", "new");
            w.FilesList = {t / "new.txt"};
            EXPECT_EQ(w.Zip(), 1);
        } else {
            w.FilesList = {"no such entry"};
            EXPECT_EQ(w.RemoveEntries(), 0);
        }
        TZipReader r;
        r.SetZipName(zip);
        r.ReadArchive();
        EXPECT_EQ(r.EntryCount(), count + update);
        EXPECT_EQ(r.EntryComment(0), comment);
        EXPECT_EQ(r.EntryComment(1), kept);
        ExpectPeersAccept(zip);
    }
}

// ---- Deleting ---------------------------------------------------------------------

struct Removal {
    std::vector<std::string> items;
    std::string skip;  // OnDeleteEntry keeps this entry
    int removed;
    std::vector<std::string> left;
};

TEST(ZipWriterRemove, PlainNamesAndPatternsRemoveTheirEntries)
{
    TempDir t;
    const std::string src = t / "src", base = t / "base.zip", comment = "kept through every removal";
    const std::vector<std::string> all = {"c.tmp", "docs/a.tmp", "docs/b.txt", "e.txt", "other/d.tmp"};
    for (const std::string& name : all)
        WriteFile(src + "/" + name, "content of " + name + "\n");
    {
        TZipWriter w;
        ZipTree(w, src, base);
        w.SetArchiveComment(comment);
        ASSERT_EQ(w.Zip(), 5);
        ASSERT_EQ(StoredNames(w), all);
    }
    const Removal cases[] = {
        {{"docs/b.txt"}, "", 1, {"c.tmp", "docs/a.tmp", "e.txt", "other/d.tmp"}},
        {{"*.tmp"}, "", 3, {"docs/b.txt", "e.txt"}},
        {{"docs/*.tmp"}, "", 1, {"c.tmp", "docs/b.txt", "e.txt", "other/d.tmp"}},
        {{"docs/*"}, "", 2, {"c.tmp", "e.txt", "other/d.tmp"}},
        // A skipped entry uses its item up, a pattern too.
        {{"*.tmp"}, "docs/a.tmp", 1, {"docs/a.tmp", "docs/b.txt", "e.txt", "other/d.tmp"}},
        {{"e.txt", "c.tmp"}, "e.txt", 1, {"docs/a.tmp", "docs/b.txt", "e.txt", "other/d.tmp"}},
        {{"*"}, "", 5, {}},
        {{"nothing.txt", "DOCS/B.TXT", "a.tmp"}, "", 0, all},
    };
    for (const Removal& k : cases) {
        SCOPED_TRACE(testing::PrintToString(k.items) + " skip " + k.skip);
        const std::string zip = t / "removed.zip";
        fs::copy_file(base, zip, fs::copy_options::overwrite_existing);
        TZipWriter w;
        w.SetZipName(zip);
        std::vector<std::string> asked;
        w.OnDeleteEntry = [&](TZipWriter&, const std::string& name, bool& skip) {
            asked.push_back(name);
            skip = name == k.skip;
        };
        w.FilesList = k.items;
        EXPECT_EQ(w.RemoveEntries(), k.removed);
        EXPECT_EQ(asked.size(), size_t(k.removed + !k.skip.empty()));
        EXPECT_EQ(StoredNames(w), k.left);
        TZipReader r;
        r.SetZipName(zip);
        r.ReadArchive();
        EXPECT_EQ(StoredNames(r), k.left);
        EXPECT_EQ(r.ArchiveComment(), comment);
        if (k.left.empty()) {
            EXPECT_EQ(fs::file_size(zip), 22 + comment.size());
        }
        ExpectPeersAccept(zip, "", "", comment);
    }
}

TEST(ZipWriterRemove, ACommentHoldingEndRecordsIsKeptByteForByte)
{
    // An end record without entries, with the comment length given.
    const auto record = [](uint16_t commentLength) {
        return std::string("PK\5\6", 4) + std::string(16, '\0') + char(commentLength & 0xFF) + char(commentLength >> 8);
    };
    const std::string fill(0xFFFF - 22, 'c');
    const std::string cases[] = {
        fill + record(0),                                // reaches the end of the file as well
        record(0) + fill,                                // at the start, pointing nowhere
        fill.substr(0, 100) + record(500) + fill.substr(100),  // its comment would run past the end
    };
    TempDir t;
    WriteFile(t / "src/a.txt", Text(200));
    WriteFile(t / "src/b.txt", "b");
    WriteFile(t / "new.txt", "new");
    for (const std::string& comment : cases) {
        SCOPED_TRACE(comment.find("PK"));
        const std::string zip = t / "x.zip";
        fs::remove(zip);
        {
            TZipWriter w;
            ZipTree(w, t / "src", zip);
            w.SetArchiveComment(comment);
            ASSERT_EQ(w.Zip(), 2);
        }
        // A deletion, then an update.
        for (const bool deleting : {true, false}) {
            TZipWriter w;
            w.SetZipName(zip);
            w.FilesList = {deleting ? "b.txt" : t / "new.txt"};
            EXPECT_EQ(deleting ? w.RemoveEntries() : w.Zip(), 1);
            const std::string bytes = ReadFile(zip);
            ASSERT_GT(bytes.size(), comment.size());
            EXPECT_TRUE(bytes.substr(bytes.size() - comment.size()) == comment);
            TZipReader r;
            r.SetZipName(zip);
            r.ReadArchive();
            const std::vector<std::string> left =
                deleting ? std::vector<std::string>{"a.txt"} : std::vector<std::string>{"a.txt", "new.txt"};
            EXPECT_EQ(StoredNames(r), left);
            EXPECT_TRUE(r.ArchiveComment() == comment);
            std::string out;
            EXPECT_EQ(testing_support::Run("7zz t '" + zip + "'", &out), 0) << out;
        }
    }
}

// ---- Edge cases -------------------------------------------------------------------

TEST(ZipWriter, AFileListedTwiceIsWrittenOnce)
{
    TempDir t;
    const std::string a = t / "a.txt";
    WriteFile(a, "once\n");
    TZipWriter w;
    w.SetZipName(t / "x.zip");
    std::vector<std::pair<TSkipReason, std::string>> skips;
    w.OnSkippingFile = [&](TZipReader&, TSkipReason why, const std::string& f, int, bool&) { skips.emplace_back(why, f); };
    w.FilesList = {a, a};
    EXPECT_EQ(w.Zip(), 1);
    EXPECT_EQ(StoredNames(w), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(skips, (std::vector<std::pair<TSkipReason, std::string>>{{TSkipReason::skNoOverwrite, a}}));
}

TEST(ZipWriter, StoredEntriesKeepTheLevelBits)
{
    TempDir t;
    WriteFile(t / "photo.jpg", Text(100));
    WriteFile(t / "notes.txt", Text(100));
    struct Expected {
        int level;
        uint16_t jpgMethod, txtMethod, flags;
    };
    for (const Expected& k : {Expected{0, 0, 0, 4}, Expected{9, 0, 8, 2}}) {
        SCOPED_TRACE(k.level);
        const std::string zip = t / ("x" + std::to_string(k.level) + ".zip");
        TZipWriter w;
        w.SetZipName(zip);
        w.PackLevel = k.level;
        w.NoCompressList = {"*.jpg"};
        w.FilesList = {t / "photo.jpg", t / "notes.txt"};
        ASSERT_EQ(w.Zip(), 2);
        TZipReader r;
        r.SetZipName(zip);
        r.ReadArchive();
        EXPECT_EQ(r.EntryInfo(0).CompressionMethod, k.jpgMethod);
        EXPECT_EQ(r.EntryInfo(0).GeneralFlags, k.flags);
        EXPECT_EQ(r.EntryInfo(0).CompressedSize(), r.EntryInfo(0).UncompressedSize());
        EXPECT_EQ(r.EntryInfo(1).CompressionMethod, k.txtMethod);
        EXPECT_EQ(r.EntryInfo(1).GeneralFlags, k.flags);
        ExpectPeersAccept(zip);
    }
}

TEST(ZipWriter, AMultiPartArchiveIsNotRewritten)
{
    TempDir t;
    std::map<std::string, std::string> parts;
    for (const std::string name : {"izip-split.z01", "izip-split.z02", "izip-split.zip"}) {
        fs::copy_file(CorpusDir() + "/peers/" + name, t / name);
        fs::permissions(t / name, fs::perms::owner_write, fs::perm_options::add);
        parts[name] = ReadFile(t / name);
    }
    WriteFile(t / "new.txt", "new\n");
    for (bool removing : {false, true}) {
        TZipWriter w;
        w.SetZipName(t / "izip-split.zip");
        w.FilesList = {removing ? "*" : t / "new.txt"};
        EXPECT_EQ(FailureOf<EZipEngineError>([&] { removing ? w.RemoveEntries() : w.Zip(); },
                                             "A multi-part archive cannot be updated"),
                  "");
        for (const auto& [name, bytes] : parts)
            EXPECT_EQ(ReadFile(t / name), bytes) << name;
        ExpectNoTemporaryFiles(t.Path());
    }
}

TEST(ZipWriter, ACopyIsCheckedAgainstTheDirectoryItWasMadeFrom)
{
    // The archive's directory changes while it is copied: the first
    // central header, carried byte for byte, now gives another size than
    // the one read. The copy does not match what was read and is dropped.
    TempDir t;
    const std::string zip = t / "a.zip";
    // Entries larger than the archive's read buffer, so that the
    // directory is read from the file again.
    const std::string bytes = testing_support::AssembleZip({{"a.bin", Random(20000, 1)}, {"b.bin", Random(20000, 2)}});
    WriteFile(zip, bytes);
    TZipWriter w;
    HooksReset reset;
    bool changed = false;
    platform::InstalledHooks().PumpMessages = [&] {
        if (changed || w.EntryCount() == 0)
            return;
        std::string now = bytes;
        now[now.find("PK\x01\x02") + 24] = 9;  // uncompressed size
        WriteFile(zip, now);
        changed = true;
    };
    w.SetZipName(zip);
    EXPECT_EQ(FailureOf<EBadZipFile>([&] { w.CopyArchive(t / "copy.zip"); },
                                     "The copy written does not hold the archive's entries"),
              "");
    EXPECT_TRUE(changed);
    EXPECT_FALSE(fs::exists(t / "copy.zip"));
    ExpectNoTemporaryFiles(t.Path());
}

TEST(ZipWriter, TheArchiveIsNeverAddedToItself)
{
    TempDir t;
    const std::string src = t / "src";
    WriteFile(src + "/a.txt", "a\n");
    fs::create_directories(src + "/sub");
    for (int run = 0; run < 2; ++run) {  // creating it, then updating it in place
        TZipWriter w;
        ZipTree(w, src, src + "/sub/../self.zip");
        w.Zip();
        EXPECT_EQ(StoredNames(w), std::vector<std::string>{"a.txt"});
        if (run == 0) {  // the same file under other names is the archive too
            fs::create_symlink("self.zip", src + "/link.zip");
            fs::create_hard_link(src + "/self.zip", src + "/hard.zip");
        }
    }
    ExpectPeersAccept(src + "/self.zip");
}

// An item is a wildcard only when it names no existing file: a user's file
// whose name holds '*', '?' or '<' (or a link to a file) is taken as it is,
// with none of the names it would match as a pattern.
TEST(ZipWriter, AnItemNamingAnExistingFileIsThatFile)
{
    TempDir t;
    const std::string dir = t / "dir";
    for (const std::string name : {"what?.txt", "whatX.txt", "sub/whatY.txt", "star*.txt", "starry.txt", "<a>.txt", "a.txt"})
        WriteFile(dir + "/" + name, name);
    fs::create_symlink("whatX.txt", dir + "/link?.txt");
    const struct {
        std::string item;
        std::vector<std::string> stored;
    } cases[] = {
        {dir + "/what?.txt", {"what?.txt"}},
        {dir + "/star*.txt", {"star*.txt"}},
        {dir + "/<a>.txt", {"<a>.txt"}},
        {dir + "/link?.txt", {"link?.txt"}},
        {"what?.txt", {"what?.txt"}},  // from the root folder
        {dir + "/what<XY>.txt", {"whatY.txt", "whatX.txt"}},  // no such file: a wildcard (sub/ comes first)
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.item);
        TZipWriter w;
        w.SetZipName(t / "out.zip");
        w.SetRootDir(dir + "/");
        w.Recurse = true;
        w.FilesList = {k.item};
        w.Zip();
        EXPECT_EQ(StoredNames(w), k.stored);
        fs::remove(t / "out.zip");
    }
}

// A wildcard walk lets messages through at every entry it looks at, so that
// a cancel stops it at once even in a tree where no name matches.
TEST(ZipWriter, AWalkWhereNothingMatchesAnswersACancel)
{
    TempDir t;
    constexpr int Folders = 20, Files = 100;
    for (int f = 0; f < Folders; ++f)
        for (int i = 0; i < Files; ++i)
            WriteFile(t / ("tree/d" + std::to_string(f) + "/f" + std::to_string(i) + ".txt"), "x");
    HooksReset reset;
    TZipWriter w;
    int pumps = 0;
    bool cancel = false;
    platform::InstalledHooks().PumpMessages = [&] {
        ++pumps;
        if (cancel)
            w.RequestCancel();
    };
    const auto zip = [&](const std::string& name) {
        w.SetZipName(t / name);
        w.Recurse = true;
        w.FilesList = {t / "tree/*.none"};
        w.Zip();
    };
    zip("all.zip");
    EXPECT_GE(pumps, Folders * Files);

    pumps = 0;
    cancel = true;
    EXPECT_EQ(FailureOf<EUserCanceled>([&] { zip("cancelled.zip"); }, "User Aborted Operation"), "");
    EXPECT_EQ(pumps, 1);
    EXPECT_FALSE(fs::exists(t / "cancelled.zip"));
}

TEST(ZipWriter, AnEmptyZipNameWritesNothing)
{
    for (const std::string name : {"", "   "}) {
        TZipWriter w;
        w.SetZipName(name);
        int completed = -1;
        w.OnZipComplete = [&](TZipWriter&, int count) { completed = count; };
        w.FilesList = {"/etc/hostname"};
        EXPECT_EQ(w.Zip(), 0);
        EXPECT_EQ(completed, 0);
        EXPECT_EQ(w.FilesList, std::vector<std::string>{"/etc/hostname"});
        EXPECT_EQ(w.RemoveEntries(), 0);
        EXPECT_FALSE(fs::exists(name));
    }
}

TEST(ZipWriter, DeletingFromAMissingArchiveFailsAndMakesNoArchive)
{
    TempDir t;
    TZipWriter w;
    w.SetZipName(t / "gone.zip");
    w.FilesList = {"a.txt"};
    EXPECT_EQ(FailureOf<EFOpenError>([&] { w.RemoveEntries(); }, "Cannot open file " + t / "gone.zip"), "");
    EXPECT_FALSE(fs::exists(t / "gone.zip"));
}

}  // namespace

TEST(ZipWriterUpdate, TheArchiveNeverGoesIntoItselfAndAnEarlyCommentStays)
{
    TempDir t;
    WriteFile(t / "src/a.txt", "a");
    WriteFile(t / "src/b.txt", "b");
    {
        TZipWriter w;
        w.SetZipName(t / "src/x.zip");
        w.FilesList = {t / "src/a.txt"};
        ASSERT_EQ(w.Zip(), 1);
    }
    TZipWriter w;
    w.SetZipName(t / "src/x.zip");
    w.SetArchiveComment("set before the archive was read");
    // Named, and matched by a wildcard.
    w.FilesList = {t / "src/x.zip", t / "src/b.txt", t / "src/*.zip"};
    std::vector<std::string> skipped;
    w.OnSkippingFile = [&](TZipReader&, TSkipReason, const std::string& name, int, bool&) { skipped.push_back(name); };
    EXPECT_EQ(w.Zip(), 1);
    EXPECT_EQ(skipped, std::vector<std::string>{t / "src/x.zip"});
    TZipReader r;
    r.SetZipName(t / "src/x.zip");
    r.ReadArchive();
    EXPECT_EQ(r.EntryCount(), 2);
    EXPECT_EQ(r.ArchiveComment(), "set before the archive was read");
    std::string out;
    EXPECT_EQ(testing_support::Run("unzip -tq '" + t / "src/x.zip" + "'", &out), 0) << out;
}

TEST(ZipWriterUpdate, AReplacementNotWrittenKeepsTheOldEntry)
{
    TempDir t;
    WriteFile(t / "src/a.txt", "old a");
    WriteFile(t / "src/b.txt", "old b");
    {
        TZipWriter w;
        w.SetZipName(t / "x.zip");
        w.FilesList = {t / "src/a.txt", t / "src/b.txt"};
        ASSERT_EQ(w.Zip(), 2);
    }
    WriteFile(t / "src/a.txt", "new a");
    WriteFile(t / "src/b.txt", "new b");
    TZipWriter w;
    w.SetZipName(t / "x.zip");
    w.ZipAction = TZipAction::zaReplace;
    w.FilesList = {t / "src/a.txt", t / "src/b.txt"};
    // a.txt goes after the list was made; b.txt is skipped by a handler.
    w.OnStartZipInfo = [&](TZipWriter&, int, int64_t, TEndCentral*, bool&) { fs::remove(t / "src/a.txt"); };
    w.OnStartZip = [](TZipWriter&, const std::string& item, TZipHeaderInfo&, bool& skip) {
        skip = item.ends_with("b.txt");
    };
    w.Zip();
    std::string out;
    ASSERT_EQ(testing_support::Run("unzip -p '" + t / "x.zip" + "'", &out), 0);
    EXPECT_EQ(out, "old aold b");
}

TEST(ZipWriterUpdate, AFileChangingBetweenItsTwoReadsIsNotAddedEncrypted)
{
    TempDir t;
    // Larger than a file read whole: those are read once.
    WriteFile(t / "src/moving.bin", std::string(9 << 20, 'm'));
    WriteFile(t / "src/still.txt", "still");
    TZipWriter w;
    w.SetZipName(t / "x.zip");
    w.Password = "pw";
    w.PackLevel = 0;
    w.FilesList = {t / "src/moving.bin", t / "src/still.txt"};
    bool changed = false;
    // The file changes once its encrypted data has begun (the handler leaves
    // the data as it is: only the entries' list is looked at here).
    w.OnEncrypt = [&](TZipWriter&, uint8_t*, int, const std::string&) {
        if (!changed) {
            changed = true;
            std::fstream f(t / "src/moving.bin", std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(150000);
            f << "changed";
        }
    };
    std::vector<std::pair<TSkipReason, std::string>> skipped;
    w.OnSkippingFile = [&](TZipReader&, TSkipReason reason, const std::string& name, int, bool&) {
        skipped.emplace_back(reason, name);
    };
    EXPECT_EQ(w.Zip(), 1);
    EXPECT_EQ(skipped, (std::vector<std::pair<TSkipReason, std::string>>{{TSkipReason::skChanged, t / "src/moving.bin"}}));
    TZipReader r;
    r.SetZipName(t / "x.zip");
    r.ReadArchive();
    ASSERT_EQ(r.EntryCount(), 1);
    EXPECT_EQ(r.EntryName(0), "still.txt");
}

// ---- Threads ----------------------------------------------------------------------

// A tree for the workers: small files read whole, files cut into blocks
// (text, and text with a stretch of random bytes that goes into stored
// blocks), an incompressible file and an empty one.
std::string MakeThreadsTree(const TempDir& t)
{
    const std::string src = t / "src";
    for (int i = 0; i < 12; ++i)
        WriteFile(src + "/small/" + std::to_string(i) + ".txt", Text(40 * i + 1));
    WriteFile(src + "/large.txt", Text(200000));
    WriteFile(src + "/mixed.dat", Text(60000) + Random(3 << 20, 3) + Text(90000));
    WriteFile(src + "/random.bin", Random(150000, 7));
    WriteFile(src + "/empty.dat", "");
    return src;
}

TEST(ZipWriterThreads, TheArchiveIsTheSameWhateverTheThreadsAndPeersReadIt)
{
    TempDir t;
    const std::string src = MakeThreadsTree(t);
    for (const int level : {1, 6, 9}) {
        SCOPED_TRACE("level " + std::to_string(level));
        std::string first;
        for (const int threads : {1, 2, 4}) {
            const std::string zip = t / ("l" + std::to_string(level) + "t" + std::to_string(threads) + ".zip");
            TZipWriter w;
            ZipTree(w, src, zip);
            w.PackLevel = level;
            w.Threads = threads;
            ASSERT_EQ(w.Zip(), 16);
            if (first.empty())
                first = ReadFile(zip);
            else
                EXPECT_TRUE(ReadFile(zip) == first) << threads << " threads";
        }
        ExpectPeersAccept(t / ("l" + std::to_string(level) + "t4.zip"), src);
    }
}

// The next archive's files, loaded while one archive is written, go into it
// only as they are when it is written: a file changed or grown in between is
// read again. The archive is the one a writer without the loading makes, and
// no worker runs on after the last archive.
TEST(ZipWriterThreads, TheNextArchivesFilesLoadedAheadAreTakenOnlyUnchanged)
{
    TempDir t;
    const size_t threadsBefore = testing_support::ThreadsSettledAt(1);
    const struct {
        const char* change;
        std::function<void(const std::string&)> apply;
    } cases[] = {
        {"none", [](const std::string&) {}},
        {"same size, later time",
         [](const std::string& file) {
             WriteFile(file, Text(2000).replace(0, 4, "LINE"));
             fs::last_write_time(file, fs::last_write_time(file) + std::chrono::seconds(5));
         }},
        {"grown", [](const std::string& file) { WriteFile(file, Text(2001)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        for (const char* old : {"src", "first.zip", "next.zip", "fresh.zip"})
            fs::remove_all(t / old);
        for (const char* name : {"first.txt", "b.txt", "c.txt"})
            WriteFile(t / ("src/" + std::string(name)), Text(2000));
        const std::vector<std::string> next = {t / "src/b.txt", t / "src/c.txt"};
        TZipWriter w;
        w.Threads = 2;
        w.SetZipName(t / "first.zip");
        w.FilesList = {t / "src/first.txt"};
        w.NextFilesList = next;
        ASSERT_EQ(w.Zip(), 1);
        // The workers have long loaded b.txt and c.txt when it changes.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        c.apply(t / "src/b.txt");
        w.SetZipName(t / "next.zip");
        w.FilesList = next;
        ASSERT_EQ(w.Zip(), 2);
        EXPECT_EQ(testing_support::ThreadsSettledAt(threadsBefore), threadsBefore);
        TZipWriter fresh;
        fresh.Threads = 1;
        fresh.SetZipName(t / "fresh.zip");
        fresh.FilesList = next;
        ASSERT_EQ(fresh.Zip(), 2);
        EXPECT_TRUE(ReadFile(t / "next.zip") == ReadFile(t / "fresh.zip"));
    }
}

TEST(ZipWriterThreads, ACancelWhileWorkersAreBusyLeavesNothingBehind)
{
    TempDir t;
    const std::string src = MakeThreadsTree(t);
    const size_t threadsBefore = testing_support::ThreadsSettledAt(1);
    HooksReset reset;
    const struct {
        const char* phase;
        std::string file;  // cancelled once this file is started
        int pumps;
    } phases[] = {
        {"small files loaded ahead", src + "/small/0.txt", 1},
        {"blocks of a large file in flight", src + "/large.txt", 4},
    };
    for (const auto& k : phases) {
        SCOPED_TRACE(k.phase);
        for (const bool updating : {false, true}) {
            const std::string zip = t / "out.zip";
            std::string before;
            if (updating) {
                WriteFile(t / "old.txt", "old");
                TZipWriter old;
                old.SetZipName(zip);
                old.FilesList = {t / "old.txt"};
                ASSERT_EQ(old.Zip(), 1);
                before = ReadFile(zip);
            }
            TZipWriter w;
            ZipTree(w, src, zip);
            w.Threads = 4;
            bool started = false;
            int pumps = 0;
            w.OnStartZip = [&](TZipWriter&, const std::string& file, TZipHeaderInfo&, bool&) {
                started = started || file == k.file;
            };
            platform::InstalledHooks().PumpMessages = [&] {
                if (started && ++pumps == k.pumps)
                    w.RequestCancel();
            };
            EXPECT_THROW(w.Zip(), EUserCanceled);
            platform::InstalledHooks() = {};
            EXPECT_EQ(testing_support::ThreadsSettledAt(threadsBefore), threadsBefore);
            EXPECT_EQ(updating ? ReadFile(zip) : std::string(), before);
            EXPECT_EQ(fs::exists(zip), updating);
            ExpectNoTemporaryFiles(t.Path());
            fs::remove(zip);
        }
    }
}


TEST(ZipWriterThreads, AFileThatGrowsBeforeItIsReadIsStoredWhole)
{
    TempDir t;
    const std::string file = t / "growing.txt", zip = t / "x.zip";
    WriteFile(file, Text(100));
    TZipWriter w;
    w.SetZipName(zip);
    w.Threads = 1;
    w.OnStartZip = [&](TZipWriter&, const std::string&, TZipHeaderInfo&, bool&) {
        std::ofstream(file, std::ios::app) << Text(50);
    };
    w.FilesList = {file};
    ASSERT_EQ(w.Zip(), 1);
    std::string out;
    ASSERT_EQ(testing_support::Run("unzip -p '" + zip + "' | cmp - '" + file + "'", &out), 0) << out;
}
