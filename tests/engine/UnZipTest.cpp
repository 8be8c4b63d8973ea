// Extraction: archives of other tools byte for byte, the cipher, names that
// try to leave the destination, damaged data, existing files, events and
// file attributes.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "engine/ZipExceptions.h"
#include "engine/ZipReader.h"
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

// Everything into dest, recreating the stored folders and replacing files.
void ExtractAll(TZipReader& r, const std::string& zip, const std::string& dest)
{
    r.SetZipName(zip);
    r.SetDestDir(dest);
    r.DoAll = true;
    r.RecreateDirs = true;
    r.OverwriteMode = TUZOverwriteMode::Always;
}

// What extraction reported through its events.
struct Events {
    std::vector<std::pair<TSkipReason, std::string>> skipped;
    std::vector<std::vector<uint32_t>> badCrc;  // calculated, stored, index
    std::vector<std::pair<int, std::string>> errors;  // index, what went wrong
    std::vector<std::string> ended;
    int completed = -1;

    explicit Events(TZipReader& r)
    {
        r.OnSkippingFile = [this](TZipReader&, TSkipReason why, const std::string& name, int, bool&) {
            skipped.emplace_back(why, name);
        };
        r.OnBadCRC = [this](TZipReader&, uint32_t calc, uint32_t stored, int index) {
            badCrc.push_back({calc, stored, uint32_t(index)});
        };
        r.OnEntryError = [this](TZipReader&, int index, const std::string& what) { errors.emplace_back(index, what); };
        r.OnEndUnZip = [this](TZipReader&, int, const std::string& name) { ended.push_back(name); };
        r.OnUnZipComplete = [this](TZipReader&, int count) { completed = count; };
    }
};

// The message of the E that run raises ("" when it raises nothing).
template <class E>
std::string Raised(const std::function<void()>& run)
{
    try {
        run();
    } catch (const E& e) {
        return e.what();
    }
    return "";
}

// The regular files under dir, relative to it.
std::set<std::string> FilesUnder(const std::string& dir)
{
    std::set<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file())
            files.insert(fs::relative(e.path(), dir).string());
    return files;
}

// sha256 of every file under dir, by name relative to dir, from one process.
std::map<std::string, std::string> HashTree(const std::string& dir)
{
    std::string out;
    EXPECT_EQ(testing_support::Run("cd '" + dir + "' && find . -type f -exec sha256sum {} +", &out), 0) << out;
    std::map<std::string, std::string> hashes;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (line.size() > 68)
            hashes[line.substr(68)] = line.substr(0, 64);  // "<hash>  ./<name>"
    return hashes;
}

// Zips files (names in t/src, no extra fields) into t/name with Info-ZIP.
std::string Zip(const TempDir& t, const std::string& files, const std::string& options = "",
                const std::string& name = "x.zip")
{
    std::string out;
    EXPECT_EQ(testing_support::Run("cd '" + (t / "src") + "' && zip -q -X " + options + " '" + (t / name) + "' " + files,
                                   &out),
              0)
        << out;
    return t / name;
}

// Writes an archive made by a Python zipfile script that gets it as z.
void PyZip(const std::string& zip, const std::string& script)
{
    std::string out;
    EXPECT_EQ(testing_support::Run("python3 -c \"import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w') as z:\n" +
                                       script + "\" '" + zip + "'",
                                   &out),
              0)
        << out;
}

// Little-endian fields of an archive held in memory.
uint32_t Get(const std::string& s, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | uint8_t(s[at + i]);
    return v;
}
void Put(std::string& s, size_t at, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i, v >>= 8)
        s[at + i] = char(v);
}

// Where the central and local header and the data of an entry lie.
struct Headers {
    size_t central = 0, local = 0, data = 0;
};
Headers FindEntry(const std::string& zip, const std::string& name)
{
    const size_t end = zip.rfind("PK\x05\x06");
    size_t c = Get(zip, end + 16, 4);
    for (uint32_t i = 0; i < Get(zip, end + 10, 2); ++i) {
        const uint32_t n = Get(zip, c + 28, 2);
        if (zip.compare(c + 46, n, name) == 0) {
            const size_t local = Get(zip, c + 42, 4);
            return {c, local, local + 30 + Get(zip, local + 26, 2) + Get(zip, local + 28, 2)};
        }
        c += 46 + n + Get(zip, c + 30, 2) + Get(zip, c + 32, 2);
    }
    ADD_FAILURE() << name << " not in the archive";
    return {};
}

// Text of the given size that deflates into several blocks.
std::string Words(size_t size)
{
    static const char* words[] = {"alpha ", "beta ", "gamma ", "delta\n", "epsilon ", "zeta ", "eta, ", "theta. "};
    std::string text;
    for (uint32_t x = 1; text.size() < size;)
        text += words[(x = x * 1103515245 + 12345) >> 29];
    text.resize(size);
    return text;
}

}  // namespace

TEST(UnZip, PeerAndLegacyArchivesExtractByteForByte)
{
    // Legacy: shrunk, reduced (all four factors) and imploded entries.
    const auto archives = testing_support::ManifestArchives({"peers/", "legacy/"});
    ASSERT_GT(archives.size(), 35u);
    for (const auto& [archive, rows] : archives) {
        SCOPED_TRACE(archive);
        TempDir t;
        TZipReader r;
        Events events(r);
        ExtractAll(r, CorpusDir() + "/" + archive, t.Path());
        if (!rows.empty() && rows[0].password != "-")
            r.Password = rows[0].password;
        std::map<std::string, std::string> expected;
        for (const auto& row : rows)
            if (row.entry.back() != '/')
                expected[row.entry] = row.sha256;

        EXPECT_EQ(r.UnZip(), int(rows.size()));  // folders count as extracted too
        // DOS names come out as UTF-8 of their code page, the manifest has their bytes.
        const auto contents = [](const std::map<std::string, std::string>& files) {
            std::multiset<std::string> hashes;
            for (const auto& [name, hash] : files)
                hashes.insert(hash);
            return hashes;
        };
        if (archive.starts_with("legacy/"))
            EXPECT_EQ(contents(HashTree(t.Path())), contents(expected));
        else
            EXPECT_EQ(HashTree(t.Path()), expected);
        for (const auto& row : rows)
            EXPECT_TRUE(row.entry.back() != '/' || fs::is_directory(t / row.entry)) << row.entry;
        EXPECT_TRUE(events.skipped.empty());
        EXPECT_TRUE(events.badCrc.empty());
        EXPECT_EQ(events.completed, int(rows.size()));
    }
}

TEST(UnZip, WrongPasswordsSkipTheEntriesUnlessAHandlerKnowsBetter)
{
    const auto archives = testing_support::ManifestArchives({"peers/"});
    for (const std::string archive : {"peers/7zz-zipcrypto.zip", "peers/izip-zipcrypto.zip"}) {
        SCOPED_TRACE(archive);
        std::set<std::string> files;
        int folders = 0;
        for (const auto& row : archives.at(archive))
            row.entry.back() == '/' ? ++folders : (files.insert(row.entry), 0);
        TempDir t;
        TZipReader r;
        Events events(r);
        ExtractAll(r, CorpusDir() + "/" + archive, t / "wrong");
        r.Password = "not the secret";
        EXPECT_EQ(r.UnZip(), folders);
        std::set<std::string> skipped;
        for (const auto& [why, name] : events.skipped)
            if (why == TSkipReason::skBadPassword)
                skipped.insert(name);
        EXPECT_EQ(skipped, files);
        EXPECT_EQ(events.skipped.size(), files.size());
        EXPECT_TRUE(FilesUnder(t / "wrong").empty());

        // Asked once; the answer serves the entries after it too.
        int asked = 0;
        r.OnBadPassword = [&](TZipReader&, int, std::string& password) {
            ++asked;
            EXPECT_EQ(password, "not the secret");
            password = "secret";
        };
        r.SetDestDir(t / "right");
        EXPECT_EQ(r.UnZip(), folders + int(files.size()));
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(r.Password, "secret");
        EXPECT_EQ(FilesUnder(t / "right"), files);
    }

    // A password's bytes above 127 count as they are.
    TempDir t;
    WriteFile(t / "src/f.txt", "secret text");
    TZipReader r;
    ExtractAll(r, Zip(t, "f.txt", "-P \"$(printf 'p\\344ss')\""), t / "dest");
    r.Password = "p\xE4ss";
    EXPECT_EQ(r.UnZip(), 1);
    EXPECT_EQ(ReadFile(t / "dest/f.txt"), "secret text");
}

TEST(ZipKeys, DecryptsTheHeadersOfOtherTools)
{
    TZipKeys keys;
    keys.InitKeys("");
    const uint32_t t = (0x34567890 & 0xFFFF) | 2;
    EXPECT_EQ(keys.StreamByte(), ((t * (t ^ 1)) & 0xFFFF) >> 8);

    // Without a data descriptor the header ends in the CRC's high byte, with
    // one in the high byte of the DOS time.
    for (const auto& [archive, descriptor] : {std::pair{"7zz-zipcrypto.zip", false}, {"izip-zipcrypto.zip", true}}) {
        SCOPED_TRACE(archive);
        const std::string zip = ReadFile(CorpusDir() + "/peers/" + archive);
        const Headers h = FindEntry(zip, "docs/lorem.txt");
        ASSERT_EQ((Get(zip, h.central + 8, 2) & 8) != 0, descriptor);
        std::string header = zip.substr(h.data, 12);
        keys.InitKeys("secret");
        keys.DecryptBuffer(reinterpret_cast<uint8_t*>(header.data()), 12);
        EXPECT_EQ(uint8_t(header[11]), uint8_t(zip[h.central + (descriptor ? 13 : 19)]));
    }

    // Encryption is undone by decryption in chunks of any size.
    const std::string plain("any bytes \x00\x7F\x80\xFF at all", 20);
    std::string cipher;
    keys.InitKeys("p\xE4ss");
    for (char c : plain)
        cipher += char(keys.EncryptByte(uint8_t(c)));
    EXPECT_NE(cipher, plain);
    keys.InitKeys("p\xE4ss");
    auto* bytes = reinterpret_cast<uint8_t*>(cipher.data());
    keys.DecryptBuffer(bytes, 7);
    keys.DecryptBuffer(bytes + 7, cipher.size() - 7);
    EXPECT_EQ(cipher, plain);
}

TEST(UnZip, StoredNamesNeverLeadOutOfTheDestination)
{
    TempDir t, made;
    const std::string dest = t / "inner/dest";
    // '\' separates folders too in names from MS-DOS hosts; from a Unix
    // host it is part of the name.
    PyZip(made / "names.zip", "    for n in ['a/../../x1.txt', './../x2.txt', '..\\\\\\\\..\\\\\\\\x3.txt',\n"
                              "              '//zamblok-abs/x4.txt', 'sub/./../x5.txt']:\n"
                              "        i = zipfile.ZipInfo(n)\n"
                              "        i.create_system = 0\n"
                              "        z.writestr(i, n)\n"
                              "    z.writestr('..\\\\\\\\..\\\\\\\\x6.txt', 'x6')");
    const bool absExisted = fs::exists("/abs/evil.txt"), abs2Existed = fs::exists("/zamblok-abs");
    for (const std::string& archive : {CorpusDir() + "/bad/name-dotdot.zip", CorpusDir() + "/bad/name-absolute.zip",
                                       made / "names.zip"}) {
        TZipReader r;
        ExtractAll(r, archive, dest);
        const int count = r.UnZip();
        EXPECT_EQ(count, r.EntryCount()) << archive;
    }
    EXPECT_EQ(ReadFile(dest + "/evil.txt").size(), 35u);
    EXPECT_EQ(ReadFile(dest + "/abs/evil.txt").size(), 48u);
    std::set<std::string> names;
    for (const std::string& f : FilesUnder(t.Path())) {
        EXPECT_EQ(f.rfind("inner/dest/", 0), 0u) << f;
        names.insert(fs::path(f).filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"good.txt", "evil.txt", "x1.txt", "x2.txt", "x3.txt", "x4.txt", "x5.txt",
                                            "..\\..\\x6.txt"}));
    EXPECT_TRUE(absExisted || !fs::exists("/abs/evil.txt"));
    if (!abs2Existed && fs::exists("/zamblok-abs")) {
        ADD_FAILURE() << "written to /zamblok-abs";
        fs::remove_all("/zamblok-abs");
    }

    // An empty destination is the current folder, for absolute names too.
    struct InFolder {
        fs::path before = fs::current_path();
        explicit InFolder(const fs::path& p) { fs::current_path(p); }
        ~InFolder() { fs::current_path(before); }
    };
    fs::create_directories(t / "cwd");
    {
        InFolder cwd(t / "cwd");
        TZipReader r;
        ExtractAll(r, CorpusDir() + "/bad/name-absolute.zip", "");
        EXPECT_EQ(r.UnZip(), 2);
    }
    EXPECT_EQ(FilesUnder(t / "cwd"), (std::set<std::string>{"good.txt", "abs/evil.txt"}));
}

TEST(UnZip, ADamagedEntryFailsAloneAndTheRunGoesOn)
{
    {
        TempDir t;
        TZipReader r;
        Events events(r);
        ExtractAll(r, CorpusDir() + "/bad/crc-wrong.zip", t.Path());
        EXPECT_EQ(r.UnZip(), 2);
        EXPECT_EQ(events.badCrc, (std::vector<std::vector<uint32_t>>{{0x86cb5504, 0x863455fb, 2}}));
        EXPECT_EQ(HashTree(t.Path()),
                  (std::map<std::string, std::string>{
                      {"a.txt", "2cd338cebe29d6454811694dcaec46bb313a0b62c32980238db61193bea832d2"},
                      {"b.bin", "64293a705776b1a47a953d1d6050e5afa89c564e0c66d4feb81277ebd4427cb8"}}));
        EXPECT_EQ(events.completed, 2);
    }
    {
        // a.txt inflates to more than the 1000 bytes it declares.
        TempDir t;
        TZipReader r;
        Events events(r);
        ExtractAll(r, CorpusDir() + "/bad/size-understated.zip", t.Path());
        EXPECT_EQ(r.UnZip(), 2);
        EXPECT_TRUE(events.badCrc.empty());
        EXPECT_EQ(events.errors, (std::vector<std::pair<int, std::string>>{
                                     {0, "the data is longer than its recorded size of 1000 bytes"}}));
        EXPECT_EQ(FilesUnder(t.Path()), (std::set<std::string>{"b.bin", "c.txt"}));
    }

    TempDir t;
    WriteFile(t / "src/big.txt", Words(400000));
    WriteFile(t / "src/after.txt", "after");
    const std::string good = ReadFile(Zip(t, "big.txt after.txt", "-9"));
    const Headers big = FindEntry(good, "big.txt");
    ASSERT_GT(Get(good, big.central + 20, 4), 40000u) << "several input chunks and deflate blocks";
    // big.txt fails, after.txt comes out.
    auto extract = [&](const std::string& zip, TZipReader& r, const std::string& what) {
        Events events(r);
        WriteFile(t / "patched.zip", zip);
        fs::remove_all(t / "out");
        ExtractAll(r, t / "patched.zip", t / "out");
        EXPECT_EQ(r.UnZip(), 1);
        EXPECT_EQ(FilesUnder(t / "out"), std::set<std::string>{"after.txt"});
        EXPECT_TRUE(events.badCrc.empty());
        EXPECT_EQ(events.errors, (std::vector<std::pair<int, std::string>>{{0, what}}));
    };
    {
        // The deflate stream's bytes run out in the middle of a block.
        std::string zip = good;
        const uint32_t half = Get(zip, big.central + 20, 4) / 2;
        Put(zip, big.central + 20, half, 4);
        Put(zip, big.local + 18, half, 4);
        TZipReader r;
        extract(zip, r, "the compressed data ends before its stream does");
    }
    {
        // The stream ends short of the declared size: no file padded with zeros.
        std::string zip = good;
        Put(zip, big.central + 24, Get(zip, big.central + 24, 4) + 100, 4);
        TZipReader r;
        extract(zip, r,
                "the data is shorter than its recorded size (" + std::to_string(Get(good, big.central + 24, 4)) +
                    " of " + std::to_string(Get(zip, big.central + 24, 4)) + " bytes)");
    }
    {
        // PPMd, or anything else unknown: the user is told, nothing is decoded.
        std::string zip = good;
        Put(zip, big.central + 10, 98, 2);
        Put(zip, big.local + 8, 98, 2);
        TZipReader r;
        std::vector<std::string> messages;
        r.OnHandleMessage = [&](TZipReader&, int id, const std::string& text, const std::string& caption,
                                unsigned flags, int&) {
            messages.push_back(std::to_string(id) + " " + text + " / " + caption + " " + std::to_string(flags));
        };
        extract(zip, r, "unsupported compression method ppmd");
        EXPECT_EQ(messages, std::vector<std::string>{"197 Unknown Compression Method / Zip Error 0"});
    }
}

TEST(UnZip, BrokenDataFailsItsEntryAndTheRunGoesOn)
{
    TempDir t;
    {
        // The directory rebuilt from the local headers promises more data than there is.
        TZipReader r;
        Events events(r);
        ExtractAll(r, CorpusDir() + "/bad/trunc-in-first-data.zip", t / "cut");
        r.IncompleteZipMode = TIncompleteZipMode::izAssumeBad;
        EXPECT_EQ(r.UnZip(), 0);
        ASSERT_FALSE(events.errors.empty());
        EXPECT_EQ(events.errors[0].second, "the archive ends inside the entry's data");
        EXPECT_EQ(events.completed, 0);
        EXPECT_FALSE(r.Working());
    }

    WriteFile(t / "src/first.txt", Words(3000));
    WriteFile(t / "src/second.txt", Words(5000));
    WriteFile(t / "src/third.txt", Words(10));
    const std::string good = ReadFile(Zip(t, "first.txt second.txt third.txt"));
    const Headers second = FindEntry(good, "second.txt");
    const struct {
        size_t at;
        char byte;
        std::string what;
    } cases[] = {
        {second.data, '\xFF', "the compressed data is broken"},  // a deflate block of the reserved type
        {second.local, 'X', "no local header at offset " + std::to_string(second.local)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string zip = good;
        zip[c.at] = c.byte;
        WriteFile(t / "patched.zip", zip);
        fs::remove_all(t / "out");
        TZipReader r;
        Events events(r);
        ExtractAll(r, t / "patched.zip", t / "out");
        EXPECT_EQ(r.UnZip(), 2);
        EXPECT_EQ(events.errors, (std::vector<std::pair<int, std::string>>{{1, c.what}}));
        EXPECT_EQ(FilesUnder(t / "out"), (std::set<std::string>{"first.txt", "third.txt"}));
    }
}

TEST(UnZip, ExistingFilesAreKeptOrReplacedByTheOverwriteMode)
{
    TempDir t;
    WriteFile(t / "src/f.txt", "from the archive");
    ASSERT_EQ(testing_support::Run("touch -d '2021-06-15 12:00:00' '" + (t / "src/f.txt") + "'"), 0);
    const std::string zip = Zip(t, "f.txt");
    const std::string target = t / "dest/f.txt";
    std::time_t entryTime = 0;
    {
        TZipReader r;
        r.SetZipName(zip);
        r.ReadArchive();
        entryTime = r.EntryDateTime(0);
    }
    // The existing file, older (-1), as old (0) or newer (1) than the entry.
    auto existing = [&](int age) {
        WriteFile(target, "kept");
        ASSERT_TRUE(platform::FileSetDosTime(target, platform::DateTimeToDosDateTime(entryTime + age * 86400 * 40)));
    };
    // Runs one extraction and tells whether the file was replaced.
    auto replaced = [&](TZipReader& r, TUZOverwriteMode mode) {
        Events events(r);
        ExtractAll(r, zip, t / "dest");
        r.OverwriteMode = mode;
        const int count = r.UnZip();
        const bool replaced = ReadFile(target) == "from the archive";
        EXPECT_EQ(count, replaced ? 1 : 0);
        using Skips = std::vector<std::pair<TSkipReason, std::string>>;
        EXPECT_EQ(events.skipped, replaced ? Skips() : Skips({{TSkipReason::skNoOverwrite, target}}));
        return replaced;
    };

    using M = TUZOverwriteMode;
    for (M mode : {M::Always, M::Never, M::ifNewer, M::ifOlder})
        for (int age : {-1, 0, 1}) {
            SCOPED_TRACE("mode " + std::to_string(int(mode)) + ", age " + std::to_string(age));
            existing(age);
            TZipReader r;
            EXPECT_EQ(replaced(r, mode),
                      mode == M::Always || (mode == M::ifNewer && age < 0) || (mode == M::ifOlder && age > 0));
        }

    for (bool yes : {true, false}) {
        existing(0);
        TZipReader r;
        r.OnPromptForOverwrite = [&](TZipReader&, bool& overwrite, int index, std::string& name) {
            EXPECT_FALSE(overwrite);
            EXPECT_EQ(index, 0);
            EXPECT_EQ(name, target);
            overwrite = yes;
        };
        EXPECT_EQ(replaced(r, M::Prompt), yes);
    }
    // Without a handler the question goes through the message hook; nobody answering means no.
    for (int answer : {platform::idYes, platform::idNo}) {
        existing(0);
        TZipReader r;
        std::vector<std::string> asked;
        r.OnHandleMessage = [&](TZipReader&, int id, const std::string& text, const std::string& caption,
                                unsigned flags, int& result) {
            asked.push_back(std::to_string(id) + " " + text + " / " + caption + " " + std::to_string(flags));
            result = answer;
        };
        EXPECT_EQ(replaced(r, M::Prompt), answer == platform::idYes);
        EXPECT_EQ(asked, std::vector<std::string>{"196 Replace existing file f.txt? / File Exists Alert 4"});
    }
    existing(0);
    TZipReader r;
    EXPECT_FALSE(replaced(r, M::Prompt));
}

TEST(UnZip, ReadOnlyFilesAreReplacedOnlyWhenAllowed)
{
    TempDir t;
    WriteFile(t / "src/f.txt", "from the archive");
    const std::string zip = Zip(t, "f.txt");
    const std::string dest = t / "dest";
    const std::string target = dest + "/f.txt";
    WriteFile(target, "kept");
    // Root writes into read-only files anyway: the extraction runs as nobody.
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (uid == 0) {
        const passwd* nobody = getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
        fs::permissions(t.Path(), fs::perms::all);
        ASSERT_EQ(chmod(zip.c_str(), 0644), 0);
        ASSERT_EQ(chown(dest.c_str(), uid, gid), 0);
        ASSERT_EQ(chown(target.c_str(), uid, gid), 0);
    }
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);

    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int failures = 0;
        try {
            if (geteuid() == 0 && (setgid(gid) != 0 || setuid(uid) != 0))
                _exit(64);
            for (bool replace : {false, true}) {
                TZipReader r;
                std::vector<TSkipReason> reasons;
                r.OnSkippingFile = [&](TZipReader&, TSkipReason why, const std::string&, int, bool&) {
                    reasons.push_back(why);
                };
                ExtractAll(r, zip, dest);
                r.ReplaceReadOnly = replace;
                const int count = r.UnZip();
                const std::string content = ReadFile(target);
                if (!replace && (count != 0 || reasons != std::vector{TSkipReason::skCreateError} || content != "kept"))
                    failures |= 1;
                if (replace && (count != 1 || !reasons.empty() || content != "from the archive"))
                    failures |= 2;
            }
        } catch (...) {
            failures |= 4;
        }
        _exit(failures);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not skipped with skCreateError or changed, 2: not replaced, "
                                         "4: exception, 64: could not become nobody";
}

TEST(UnZip, SelectionAndTheEventsAroundIt)
{
    TempDir t;
    WriteFile(t / "src/dir/A.TXT", "upper case");
    WriteFile(t / "src/dir/b.dat", "data");
    WriteFile(t / "src/top.txt", "top");
    WriteFile(t / "src/other/x.bin", "binary");
    const std::string dest = t / "dest";
    TZipReader r;
    Events events(r);
    int numFiles = -1;
    int64_t totalBytes = -1;
    bool stop = false;
    r.OnStartUnZipInfo = [&](TZipReader&, int n, int64_t bytes, bool& stopNow) {
        numFiles = n;
        totalBytes = bytes;
        stopNow = stop;
    };
    r.SetZipName(Zip(t, "dir dir/A.TXT dir/b.dat top.txt other other/x.bin"));
    r.SetDestDir(dest);
    r.RecreateDirs = true;

    // Patterns match the stored folder and name; case does not count.
    r.FilesList = {"*.txt"};
    EXPECT_EQ(r.UnZip(), 2);
    EXPECT_EQ(numFiles, 2);
    EXPECT_EQ(totalBytes, 13);
    EXPECT_TRUE(r.FilesList.empty());
    EXPECT_EQ(FilesUnder(dest), (std::set<std::string>{"dir/A.TXT", "top.txt"}));
    fs::remove_all(dest);
    r.FilesList = {"x.bin", "OTHER/X.BIN"};
    EXPECT_EQ(r.UnZip(), 1);
    EXPECT_EQ(FilesUnder(dest), std::set<std::string>{"other/x.bin"});
    r.FilesList = {"x.bin"};
    EXPECT_EQ(r.UnZip(), 0);
    EXPECT_EQ(numFiles, 0);

    // Stopped before the first entry.
    fs::remove_all(dest);
    stop = true;
    r.DoAll = true;
    r.FilesList = {"*"};
    EXPECT_EQ(r.UnZip(), 0);
    EXPECT_EQ(events.completed, 0);
    EXPECT_TRUE(r.FilesList.empty());
    EXPECT_TRUE(!fs::exists(dest) || FilesUnder(dest).empty());

    // One entry skipped by OnStartUnZip, one sent elsewhere.
    stop = false;
    r.OnStartUnZip = [&](TZipReader&, int, std::string& name, bool& skip) {
        skip = name == dest + "/top.txt";
        if (name == dest + "/dir/A.TXT")
            name = dest + "/renamed/a.txt";
    };
    EXPECT_EQ(r.UnZip(), r.EntryCount() - 1);
    EXPECT_EQ(FilesUnder(dest), (std::set<std::string>{"renamed/a.txt", "dir/b.dat", "other/x.bin"}));
    EXPECT_EQ(std::count(events.ended.begin(), events.ended.end(), dest + "/renamed/a.txt"), 1);
    EXPECT_TRUE(events.skipped.empty());
}

TEST(UnZip, ProgressCancellingAndTheFolderDialog)
{
    TempDir t;
    WriteFile(t / "src/big.bin", Words(70000));
    std::vector<int> file, total;
    {
        TZipReader r;
        ExtractAll(r, Zip(t, "big.bin", "-0"), t / "dest");
        r.OnFilePercentDone = [&](TZipReader&, int percent) { file.push_back(percent); };
        r.OnTotalPercentDone = [&](TZipReader&, int percent) { total.push_back(percent); };
        EXPECT_EQ(r.UnZip(), 1);
    }
    EXPECT_EQ(file, (std::vector<int>{47, 94, 100}));  // 32768 + 32768 + 4464 bytes
    EXPECT_EQ(total, file);

    // A cancel asked for while messages are pumped, after the first file.
    for (const std::string name : {"one.txt", "two.txt", "three.txt"})
        WriteFile(t / "src/" + name, Words(40000));
    TZipReader r;
    Events events(r);
    ExtractAll(r, Zip(t, "one.txt two.txt three.txt", "", "three.zip"), t / "out");
    platform::InstalledHooks().PumpMessages = [&] {
        if (!events.ended.empty())
            r.RequestCancel();
    };
    EXPECT_EQ(Raised<EUserCanceled>([&] { r.UnZip(); }), "User Aborted Operation");
    platform::InstalledHooks() = {};
    EXPECT_EQ(events.completed, 1);
    EXPECT_FALSE(r.Working());
    EXPECT_EQ(r.UnZip(), 3);  // the cancel is not remembered

    r.SetDestDir("/some/where/");
    EXPECT_EQ(r.DestDir(), "/some/where");
    EXPECT_EQ(Raised<EUserCanceled>([&] { r.SetDestDir("?"); }), "User canceled Set Desination Directory");
    EXPECT_EQ(r.DestDir(), "/some/where");
    platform::InstalledHooks().FolderDialog = [&](std::string& folder) {
        folder = t / "chosen/";
        return true;
    };
    r.SetDestDir("?");
    platform::InstalledHooks() = {};
    EXPECT_EQ(r.DestDir(), t / "chosen");
}

TEST(UnZip, RootDirAttributesAndTimes)
{
    TempDir t;
    WriteFile(t / "src/Base/sub/f.txt", "f");
    WriteFile(t / "src/other/g.txt", "g");
    WriteFile(t / "src/run.sh", "#!/bin/sh\n");
    WriteFile(t / "src/suid", "s");
    ASSERT_EQ(chmod((t / "src/run.sh").c_str(), 0755), 0);
    ASSERT_EQ(chmod((t / "src/suid").c_str(), 04755), 0);
    ASSERT_EQ(testing_support::Run("touch -d '2021-06-15 12:34:56' '" + (t / "src/run.sh") + "'"), 0);

    TZipReader r;
    ExtractAll(r, Zip(t, "Base other run.sh suid", "-r"), t / "dest");
    r.SetRootDir("base");
    EXPECT_EQ(r.RootDir(), "base/");
    EXPECT_EQ(r.RelativePathList, std::vector<std::string>{"base/"});
    EXPECT_EQ(r.UnZip(), 7);
    EXPECT_EQ(FilesUnder(t / "dest"), (std::set<std::string>{"sub/f.txt", "other/g.txt", "run.sh", "suid"}));

    struct stat src {}, out {};
    ASSERT_EQ(stat((t / "src/run.sh").c_str(), &src), 0);
    ASSERT_EQ(stat((t / "dest/run.sh").c_str(), &out), 0);
    EXPECT_EQ(out.st_mode & 07777, 0755u);
    EXPECT_EQ(out.st_mtime, src.st_mtime);
    ASSERT_EQ(stat((t / "dest/suid").c_str(), &out), 0);
    EXPECT_EQ(out.st_mode & 07777, 0755u);

    // Entries from MS-DOS carry only the read-only bit; an impossible date is clamped.
    PyZip(t / "dos.zip", "    for name, attr in [('ro.txt', 0x21), ('rw.txt', 0x20)]:\n"
                         "        i = zipfile.ZipInfo(name, (2021, 13, 0, 10, 0, 0))\n"
                         "        i.create_system, i.external_attr = 0, attr\n"
                         "        z.writestr(i, name)");
    TZipReader dos;
    ExtractAll(dos, t / "dos.zip", t / "dos");
    EXPECT_EQ(dos.UnZip(), 2);
    ASSERT_EQ(stat((t / "dos/ro.txt").c_str(), &out), 0);
    EXPECT_EQ(out.st_mode & S_IWUSR, 0u);
    std::tm tm{};
    localtime_r(&out.st_mtime, &tm);
    EXPECT_EQ(std::vector<int>({tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour}),
              std::vector<int>({2021, 12, 1, 10}));
    ASSERT_EQ(stat((t / "dos/rw.txt").c_str(), &out), 0);
    EXPECT_NE(out.st_mode & S_IWUSR, 0u);
}

TEST(UnZipTestOnly, DecodesAndChecksWithoutWritingAnything)
{
    TempDir t;
    TZipReader r;
    r.SetZipName(CorpusDir() + "/bad/crc-wrong.zip");
    r.SetDestDir(t / "never");
    r.DoAll = true;
    r.RecreateDirs = true;
    r.TestOnly = true;
    std::vector<int> bad;
    int good = 0;
    r.OnBadCRC = [&](TZipReader&, uint32_t, uint32_t, int index) { bad.push_back(index); };
    r.OnEndUnZip = [&](TZipReader&, int, const std::string&) { ++good; };
    EXPECT_EQ(r.UnZip(), 2);
    EXPECT_EQ(good, 2);
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_EQ(r.EntryName(bad[0]), "c.txt");
    EXPECT_FALSE(fs::exists(t / "never"));
    EXPECT_TRUE(fs::is_empty(t.Path()));
}

// ---- Hostile archives -----------------------------------------------------------

namespace {

using testing_support::AssembleZip;
using testing_support::LocalHeader;
using testing_support::RawEntry;

// A Unix entry that is a symbolic link to target.
RawEntry LinkEntry(const std::string& name, const std::string& target)
{
    return RawEntry{.name = name, .data = target, .madeBy = 0x031E, .externalAttributes = 0120777u << 16};
}

// Files and links under dir, relative to it, links shown as "name -> target".
std::set<std::string> TreeOf(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const std::string name = e.path().lexically_relative(dir).string();
        if (e.is_symlink())
            names.insert(name + " -> " + fs::read_symlink(e.path()).string());
        else if (!e.is_directory())
            names.insert(name);
    }
    return names;
}

}  // namespace

TEST(HostileArchives, NoWriteFollowsALinkInTheDestination)
{
    TempDir t;
    WriteFile(t / "x.zip", AssembleZip({{"evil.txt", "from the archive"}, {"sub/f.txt", "into sub"}}));
    for (const TUZOverwriteMode mode : {TUZOverwriteMode::Never, TUZOverwriteMode::Always})
        for (const bool outsideExists : {false, true}) {
            SCOPED_TRACE(std::to_string(int(mode)) + (outsideExists ? " outside file exists" : " dangling"));
            fs::remove_all(t / "dest");
            fs::remove_all(t / "elsewhere");
            fs::create_directories(t / "dest");
            fs::create_directories(t / "elsewhere");
            if (outsideExists) {
                WriteFile(t / "elsewhere/pwned.txt", "mine");
                fs::permissions(t / "elsewhere/pwned.txt", fs::perms(0640));
            }
            const auto before = outsideExists ? fs::last_write_time(t / "elsewhere/pwned.txt") : fs::file_time_type();
            fs::create_symlink(t / "elsewhere/pwned.txt", t / "dest/evil.txt");
            fs::create_directory_symlink(t / "elsewhere", t / "dest/sub");

            TZipReader r;
            Events events(r);
            ExtractAll(r, t / "x.zip", t / "dest");
            r.OverwriteMode = mode;
            r.UnZip();

            EXPECT_EQ(TreeOf(t / "elsewhere"), outsideExists ? std::set<std::string>{"pwned.txt"}
                                                             : std::set<std::string>{});
            if (outsideExists) {
                EXPECT_EQ(ReadFile(t / "elsewhere/pwned.txt"), "mine");
                EXPECT_EQ(fs::status(t / "elsewhere/pwned.txt").permissions(), fs::perms(0640));
                EXPECT_EQ(fs::last_write_time(t / "elsewhere/pwned.txt"), before);
            }
            // The link at the output name is a file of its own: replaced, or kept.
            if (mode == TUZOverwriteMode::Always)
                EXPECT_EQ(TreeOf(t / "dest"),
                          (std::set<std::string>{"evil.txt", "sub -> " + t / "elsewhere"}));
            else
                EXPECT_EQ(TreeOf(t / "dest"), (std::set<std::string>{"evil.txt -> " + t / "elsewhere/pwned.txt",
                                                                     "sub -> " + t / "elsewhere"}));
        }
}

namespace {

// What the test hook below leaves at a file's name, and how often it did.
std::string swapTarget;
int swaps = 0;

// Moves the handle's file aside (to its name and ".moved") and leaves a link
// to swapTarget at its name, as a local user racing the run would.
void SwapForLink(platform::Handle h)
{
    const fs::path path = fs::read_symlink("/proc/self/fd/" + std::to_string(h));
    fs::rename(path, path.string() + ".moved");
    fs::create_symlink(swapTarget, path);
    ++swaps;
}

}  // namespace

TEST(HostileArchives, ModesGoOnTheFilesMadeThoughTheirNamesBecomeLinks)
{
    TempDir t;
    WriteFile(t / "outside.txt", "mine");
    fs::permissions(t / "outside.txt", fs::perms(0600));
    const auto unixEntry = [](const std::string& name, uint32_t mode) {
        return RawEntry{.name = name, .data = "data", .madeBy = 0x031E, .externalAttributes = mode << 16};
    };
    WriteFile(t / "x.zip", AssembleZip({unixEntry("new.sh", 0100775), unixEntry("old.sh", 0100775),
                                        {.name = "dos.txt", .data = "ro", .externalAttributes = platform::faReadOnly},
                                        unixEntry("dir/", 040775)}));
    WriteFile(t / "dest/old.sh", "old");  // replaced by a new file made beside it
    swapTarget = t / "outside.txt";
    platform::BeforeModeChange = SwapForLink;
    TZipReader r;
    ExtractAll(r, t / "x.zip", t / "dest");
    r.UnZip();
    platform::BeforeModeChange = nullptr;

    EXPECT_EQ(swaps, 4);
    EXPECT_EQ(ReadFile(t / "outside.txt"), "mine");
    EXPECT_EQ(fs::status(t / "outside.txt").permissions(), fs::perms(0600));
    // The files made, moved aside, have their modes.
    int moved = 0;
    for (const auto& e : fs::directory_iterator(t / "dest")) {
        if (e.path().extension() != ".moved")
            continue;
        ++moved;
        const auto mode = e.symlink_status().permissions();
        if (!e.is_directory() && ReadFile(e.path()) == "ro")
            EXPECT_EQ(mode & fs::perms(0222), fs::perms::none) << e.path();
        else
            EXPECT_EQ(mode, fs::perms(0775)) << e.path();
    }
    EXPECT_EQ(moved, 4);
}

TEST(HostileArchives, LinksAreJudgedByTheLinksAlreadyOnTheirWay)
{
    TempDir t;
    WriteFile(t / "outside/secret.txt", "secret");
    WriteFile(t / "x.zip", AssembleZip({
                               {"lib.so.1.2", "code"},
                               LinkEntry("lib.so.1", "lib.so.1.2"),
                               LinkEntry("lib.so", "lib.so.1"),  // through a link of the run's own
                               LinkEntry("here", "."),
                               LinkEntry("x", "ext/secret.txt"),  // through the link that was there
                               LinkEntry("y", "ext"),
                               LinkEntry("z", "here/ext/secret.txt"),
                               LinkEntry("sub/w", "../ext"),
                           }));
    const std::vector<std::string> outward = {"x", "y", "z", "sub/w"};
    for (const bool allow : {false, true}) {
        SCOPED_TRACE(allow ? "outside links allowed" : "outside links refused");
        fs::remove_all(t / "dest");
        fs::create_directories(t / "dest");
        fs::create_directory_symlink(t / "outside", t / "dest/ext");
        TZipReader r;
        Events events(r);
        ExtractAll(r, t / "x.zip", t / "dest");
        r.AllowOutsideLinks = allow;
        r.UnZip();
        std::set<std::string> tree = {"ext -> " + t / "outside", "lib.so.1.2", "lib.so.1 -> lib.so.1.2",
                                      "lib.so -> lib.so.1", "here -> ."};
        std::vector<std::pair<TSkipReason, std::string>> skipped;
        if (allow)
            tree.insert({"x -> ext/secret.txt", "y -> ext", "z -> here/ext/secret.txt", "sub/w -> ../ext"});
        else
            for (const std::string& name : outward)
                skipped.emplace_back(TSkipReason::skUnsafeLink, t / ("dest/" + name));
        EXPECT_EQ(TreeOf(t / "dest"), tree);
        EXPECT_EQ(events.skipped, skipped);
    }
}

TEST(HostileArchives, PathsTooLongForTheSystemFailBeforeAnyFolderIsMade)
{
    TempDir t;
    std::string deep;
    for (int i = 0; i < 32000; ++i)
        deep += "a/";
    const std::string longest(255, 'n');
    WriteFile(t / "x.zip", AssembleZip({{deep + "f.txt", "deep"},
                                        {deep, ""},
                                        {"b/" + std::string(256, 'n') + "/f.txt", "wide"},
                                        {longest, "fits"}}));
    TZipReader r;
    Events events(r);
    ExtractAll(r, t / "x.zip", t / "dest");
    EXPECT_EQ(r.UnZip(), 1);
    const auto overlong = [&](const std::string& stored) {
        return "its output path of " + std::to_string((t / "dest").size() + 1 + stored.size()) +
               " bytes is longer than the system's limit of 4095";
    };
    EXPECT_EQ(events.errors, (std::vector<std::pair<int, std::string>>{
                                 {0, overlong(deep + "f.txt")},
                                 {1, overlong(deep)},
                                 {2, "a name of 256 bytes in its output path is longer than the system's limit of 255"}}));
    EXPECT_EQ(FilesUnder(t / "dest"), std::set<std::string>{longest});
    EXPECT_FALSE(fs::exists(t / "dest/a"));
    EXPECT_FALSE(fs::exists(t / "dest/b"));
}

TEST(HostileArchives, AFailedEntryLeavesTheFileItWasToReplace)
{
    TempDir t;
    const std::string big = Words(200000);
    WriteFile(t / "x.zip",
              AssembleZip({
                  {.name = "crc.txt", .data = "new", .crc = 1},
                  {.name = "garbage.txt", .data = std::string(64, '\xFF'), .method = 8, .size = 100},
                  {.name = "short.txt", .data = "abc", .size = 10},
                  {.name = "huge.txt", .data = "abc", .size = uint64_t(INT64_MAX), .zip64 = true},
                  {.name = "big.txt", .data = big},
              }));
    const std::vector<std::string> names = {"crc.txt", "garbage.txt", "short.txt", "huge.txt", "big.txt"};
    for (const TUZOverwriteMode mode : {TUZOverwriteMode::Always, TUZOverwriteMode::ifOlder, TUZOverwriteMode::Prompt})
        for (const bool cancel : {false, true}) {
            SCOPED_TRACE(std::to_string(int(mode)) + (cancel ? " cancelled" : ""));
            fs::remove_all(t / "dest");
            for (const std::string& name : names)
                WriteFile(t / ("dest/" + name), "old " + name);
            TZipReader r;
            Events events(r);
            ExtractAll(r, t / "x.zip", t / "dest");
            r.OverwriteMode = mode;
            r.OnPromptForOverwrite = [](TZipReader&, bool& overwrite, int, std::string&) { overwrite = true; };
            if (cancel) {
                // Halfway through big.txt.
                r.OnFilePercentDone = [&](TZipReader& sender, int percent) {
                    if (percent >= 50)
                        sender.RequestCancel();
                };
                EXPECT_THROW(r.UnZip(), EUserCanceled);
            } else {
                EXPECT_EQ(r.UnZip(), 1);
                EXPECT_EQ(events.ended, std::vector<std::string>{t / "dest/big.txt"});
                EXPECT_EQ(ReadFile(t / "dest/big.txt"), big);
            }
            for (const std::string& name : names)
                EXPECT_EQ(ReadFile(t / ("dest/" + name)), cancel || name != "big.txt" ? "old " + name : big);
            EXPECT_EQ(FilesUnder(t / "dest").size(), names.size()) << "no temporary file is left";
        }
}

TEST(HostileArchives, LinkEntriesBecomeLinksAfterTheFilesAndOnlyInside)
{
    TempDir t;
    fs::create_directories(t / "elsewhere");
    WriteFile(t / "x.zip", AssembleZip({
                               LinkEntry("d", t / "elsewhere"),  // comes before a file it would take
                               {"d/f.txt", "in d"},
                               {"data/real.txt", "real"},
                               LinkEntry("data/same", "real.txt"),
                               LinkEntry("data/up", "../data/real.txt"),
                               LinkEntry("data/./tricky", "sub/../../.."),
                               LinkEntry("out", "../elsewhere"),
                               LinkEntry("abs", "/etc/passwd"),
                           }));
    const std::set<std::string> inside = {"d/f.txt", "data/real.txt", "data/same -> real.txt",
                                          "data/up -> ../data/real.txt"};
    for (const bool allow : {false, true}) {
        SCOPED_TRACE(allow ? "outside links allowed" : "outside links refused");
        fs::remove_all(t / "dest");
        TZipReader r;
        Events events(r);
        ExtractAll(r, t / "x.zip", t / "dest");
        r.AllowOutsideLinks = allow;
        EXPECT_EQ(r.UnZip(), allow ? 7 : 4);
        std::set<std::string> expected = inside;
        if (allow)
            expected.insert({"data/tricky -> sub/../../..", "out -> ../elsewhere", "abs -> /etc/passwd"});
        EXPECT_EQ(TreeOf(t / "dest"), expected);
        EXPECT_TRUE(fs::is_empty(t / "elsewhere"));
        // d is the folder of d/f.txt by the time links are made; the link never replaces it.
        std::vector<std::pair<TSkipReason, std::string>> skipped = {{TSkipReason::skCreateError, t / "dest/d"}};
        if (!allow)
            skipped = {{TSkipReason::skUnsafeLink, t / "dest/d"},
                       {TSkipReason::skUnsafeLink, t / "dest/data/tricky"},
                       {TSkipReason::skUnsafeLink, t / "dest/out"},
                       {TSkipReason::skUnsafeLink, t / "dest/abs"}};
        EXPECT_EQ(events.skipped, skipped);
    }

    // Info-ZIP's zip -y stores links the same way.
    WriteFile(t / "src/target.txt", "target");
    fs::create_symlink("target.txt", t / "src/link.txt");
    Zip(t, "target.txt link.txt", "-y", "y.zip");
    TZipReader r;
    ExtractAll(r, t / "y.zip", t / "ydest");
    EXPECT_EQ(r.UnZip(), 2);
    EXPECT_EQ(TreeOf(t / "ydest"), (std::set<std::string>{"target.txt", "link.txt -> target.txt"}));
}

TEST(HostileArchives, ArchivesThatWouldCrashOrExplodeAreRefused)
{
    TempDir t;
    const RawEntry inner{"b.txt", std::string(1000, 'z')};
    RawEntry overlapping = inner;
    overlapping.local = false;
    overlapping.offset = 30 + 5;  // inside the data of a.txt
    // The second entry's local header lies inside the first one's long local
    // name, and both names run up to one copy of their data: only the local
    // headers' own name lengths tell that they overlap.
    const std::string shared(10, 'd');
    const std::string behindLongNames = AssembleZip(
        {{std::string(shared.size(), 'x') + LocalHeader({std::string(200, 'n'), shared}), shared},
         {.name = "b.txt", .data = shared, .offset = 30 + shared.size(), .local = false}});
    RawEntry nul{.name = std::string("run.sh\0.txt", 11), .data = "#!/bin/sh\n", .madeBy = 0x031E,
                 .externalAttributes = 0100755u << 16};
    const struct {
        std::string what;
        std::string zip;
        std::string error;  // of UnZip; "" when entries fail alone
        std::vector<std::string> files;
    } cases[] = {
        {"entries sharing their data", AssembleZip({{"a.txt", LocalHeader(inner) + inner.data}, overlapping}),
         "Entries overlap each other (a possible zip bomb)", {}},
        {"entries sharing their data behind long local names", behindLongNames,
         "Entries overlap each other (a possible zip bomb)", {}},
        {"a name with a NUL", AssembleZip({nul, {"after.txt", "after"}}), "", {"after.txt"}},
        {"sizes adding up past 2^63",
         AssembleZip({{.name = "a", .data = "x", .size = uint64_t(INT64_MAX), .zip64 = true},
                      {.name = "b", .data = "y", .size = UINT64_MAX, .zip64 = true},
                      {"c.txt", "c"}}),
         "", {"c.txt"}},
        {"a local header far beyond the end",
         AssembleZip({{.name = "a", .data = "x", .offset = uint64_t(INT64_MAX) - 15, .zip64 = true}, {"c.txt", "c"}}),
         "", {"c.txt"}},
        {"part number 0x7FFFFFFF", AssembleZip({{"a.txt", "a"}}, 0x7FFFFFFF),
         "Not a valid zip file: its end record names part 2147483648", {}},
        {"part number 0xFFFFFFFF", AssembleZip({{"a.txt", "a"}}, 0xFFFFFFFF),
         "Not a valid zip file: its end record names part 4294967296", {}},
    };
    for (const auto& c : cases)
        for (const bool test : {false, true}) {
            SCOPED_TRACE(c.what + (test ? ", tested" : ", extracted"));
            fs::remove_all(t / "dest");
            fs::create_directories(t / "dest");
            WriteFile(t / "x.zip", c.zip);
            TZipReader r;
            Events events(r);
            ExtractAll(r, t / "x.zip", t / "dest");
            r.TestOnly = test;
            EXPECT_EQ(Raised<EBadZipFile>([&] { r.UnZip(); }), c.error);
            if (!test) {
                EXPECT_EQ(FilesUnder(t / "dest"), std::set<std::string>(c.files.begin(), c.files.end()));
            }
        }

    // Deleting or updating copies the entries' bytes: it refuses them as
    // extraction does, and the archive stays as it was.
    for (const auto& c : {cases[0], cases[1]})
        for (const bool deleting : {true, false}) {
            SCOPED_TRACE(c.what + (deleting ? ", deleted from" : ", updated"));
            WriteFile(t / "x.zip", c.zip);
            WriteFile(t / "new.txt", "new");
            TZipWriter w;
            w.SetZipName(t / "x.zip");
            w.FilesList = {deleting ? "b.txt" : t / "new.txt"};
            EXPECT_EQ(Raised<EBadZipFile>([&] { deleting ? w.RemoveEntries() : w.Zip(); }), cases[0].error);
            EXPECT_EQ(ReadFile(t / "x.zip"), c.zip);
            // dest, x.zip and new.txt: no new archive is left behind.
            EXPECT_EQ(std::distance(fs::directory_iterator(t.Path()), fs::directory_iterator()), 3);
        }

    // Listing still shows the overlapping entries.
    WriteFile(t / "x.zip", cases[0].zip);
    TZipReader r;
    r.SetZipName(t / "x.zip");
    r.ReadArchive();
    EXPECT_EQ(r.EntryCount(), 2);

    // A named pipe is no archive, and opening it does not wait for a writer.
    ASSERT_EQ(mkfifo((t / "pipe.zip").c_str(), 0600), 0);
    r.SetZipName(t / "pipe.zip");
    EXPECT_THROW(r.ReadArchive(), EFOpenError);

    // A side file holding a whole single-part archive, beside no archive.
    WriteFile(t / "X.zfc", AssembleZip({{"a.txt", "a"}}));
    TZipReader side;
    ExtractAll(side, t / "X.zip", t / "dest");
    EXPECT_THROW(side.UnZip(), EIncompleteZip);
}

// Entries decoded ahead on workers report exactly what the calling thread
// alone reports: the same events, verdicts, messages and files, for every
// archive of the corpus, damaged ones included, and for large entries that
// are streamed from the workers (whole, damaged, longer than recorded),
// tested and extracted, with every third entry skipped by the handler after
// it was decoded ahead.
TEST(UnZipThreads, DecodingAheadChangesNothingThatIsReported)
{
    TempDir t;
    std::vector<std::string> archives;
    for (const auto& file : fs::recursive_directory_iterator(CorpusDir()))
        if (file.is_regular_file() && file.path().extension() == ".zip")
            archives.push_back(file.path().string());
    // The large entries lie at index 1, 2, 4 and 6 (the handler skips 2;
    // the last is bzip2, decoded by a worker like the others); LZMA entries
    // with large windows at 7 and 9, of which one at a time is decoded ahead
    // (9 is left to the calling thread);
    // the second archive has a byte of big.txt changed, the third records it
    // shorter than it is.
    const std::string large = t / "large.zip";
    PyZip(large,
          "  z.writestr('a.txt', 'small')\n"
          "  z.writestr('big.txt', b''.join(b'line %d of a big text\\n' % i for i in range(700000)), zipfile.ZIP_DEFLATED)\n"
          "  z.writestr('noise.bin', bytes(range(256)) * 40000, zipfile.ZIP_STORED)\n"
          "  z.writestr('b.txt', 'small')\n"
          "  z.writestr('big2.txt', b'x' * 10000000, zipfile.ZIP_DEFLATED)\n"
          "  z.writestr('c.txt', 'small', zipfile.ZIP_LZMA)\n"
          "  z.writestr('big3.txt', b''.join(b'row %d\\n' % i for i in range(900000)), zipfile.ZIP_BZIP2)\n"
          "  for i in range(2):\n"
          "    z.writestr('window%d.bin' % i, bytes([i]) * 16800000, zipfile.ZIP_LZMA)\n"
          "    z.writestr('%d.txt' % i, 'small')\n");
    std::string bytes = ReadFile(large);
    bytes[bytes.size() / 16] ^= 0x20;
    WriteFile(t / "large-damaged.zip", bytes);
    bytes = ReadFile(large);
    for (size_t at = bytes.find("big.txt"); at != std::string::npos; at = bytes.find("big.txt", at + 1)) {
        // The uncompressed size in the local header and in the directory.
        const size_t field = bytes.compare(at - 46, 4, "PK\x01\x02") == 0 ? at - 46 + 24 : at - 30 + 22;
        const uint32_t shorter = Get(bytes, field, 4) - 1000;
        for (int i = 0; i < 4; ++i)
            bytes[field + i] = char(shorter >> (8 * i));
    }
    WriteFile(t / "large-short.zip", bytes);
    archives.insert(archives.end(), {large, t / "large-damaged.zip", t / "large-short.zip"});
    // AES entries, small and large, read first with a wrong password that
    // the handler then corrects; the second archive has a byte changed.
    std::string text;
    for (int i = 0; text.size() < (12 << 20); ++i)
        text += "line " + std::to_string(i) + " of a secret text\n";
    for (const char* name : {"a.txt", "big.txt", "b.txt", "c.txt"})
        WriteFile(t / ("secret/" + std::string(name)), name == std::string("big.txt") ? text : name);
    TZipWriter w;
    w.SetZipName(t / "aes.zip");
    w.FilesList = {t / "secret/a.txt", t / "secret/big.txt", t / "secret/b.txt", t / "secret/c.txt"};
    w.Password = "secret";
    w.Encryption = TEncryption::Aes256;
    ASSERT_EQ(w.Zip(), 4);
    bytes = ReadFile(t / "aes.zip");
    bytes[bytes.size() / 2] ^= 0x20;
    WriteFile(t / "aes-damaged.zip", bytes);
    archives.insert(archives.end(), {t / "aes.zip", t / "aes-damaged.zip"});
    for (const std::string& archive : archives) {
        SCOPED_TRACE(archive);
        for (const bool testOnly : {true, false}) {
            std::string seen[2];
            for (const int threads : {1, 4}) {
                const std::string dest = t / ("x" + std::to_string(threads));
                fs::remove_all(dest);
                TZipReader r;
                Events events(r);
                std::vector<int> percents;
                r.OnTotalPercentDone = [&](TZipReader&, int percent) { percents.push_back(percent); };
                r.OnStartUnZip = [](TZipReader&, int index, const std::string&, bool& skip) { skip = index % 3 == 2; };
                ExtractAll(r, archive, dest);
                r.TestOnly = testOnly;
                r.Threads = threads;
                int asked = 0;
                if (archive.starts_with(t / "aes")) {
                    r.Password = "wrong";
                    r.OnBadPassword = [&](TZipReader&, int, std::string& password) {
                        ++asked;
                        password = "secret";
                    };
                }
                std::string outcome;
                try {
                    outcome = std::to_string(r.UnZip());
                } catch (const std::exception& e) {
                    outcome = e.what();
                }
                std::ostringstream report;
                report << outcome << " done " << events.completed << " ended " << events.ended.size()
                       << " last% " << (percents.empty() ? -1 : percents.back()) << " asked " << asked;
                for (const auto& [index, what] : events.errors)
                    report << "\nerror " << index << ": " << what;
                for (const auto& crc : events.badCrc)
                    report << "\ncrc " << crc[0] << " " << crc[1] << " " << crc[2];
                for (const auto& [why, name] : events.skipped)
                    report << "\nskipped " << int(why) << " " << name;
                if (fs::exists(dest))
                    for (const std::string& name : FilesUnder(dest))
                        report << "\nfile " << name << " " << std::hash<std::string>{}(ReadFile(dest + "/" + name));
                seen[threads == 4] = report.str();
            }
            EXPECT_EQ(seen[1], seen[0]) << (testOnly ? "testing" : "extracting");
            if (archive == large) {
                EXPECT_EQ(seen[0].find("error"), std::string::npos) << seen[0];
            }
        }
    }

    // A cancel halfway through a streamed entry, whose worker waits for
    // room: nothing of it is left and no worker runs on.
    const size_t before = testing_support::ThreadsSettledAt(1);
    TZipReader r;
    ExtractAll(r, large, t / "cancelled");
    r.Threads = 4;
    int current = -1;
    r.OnStartUnZip = [&](TZipReader&, int index, const std::string&, bool&) { current = index; };
    r.OnFilePercentDone = [&](TZipReader& sender, int percent) {
        if (current == 1 && percent >= 50)
            sender.RequestCancel();
    };
    EXPECT_THROW(r.UnZip(), EUserCanceled);
    EXPECT_EQ(FilesUnder(t / "cancelled"), std::set<std::string>{"a.txt"});
    EXPECT_EQ(testing_support::ThreadsSettledAt(before), before);
}

// The workers keep within their bounds and go on working ahead: of 40
// stored entries of 1 MiB, each but the first is given to them before its
// turn, with never more than 24 MiB held ahead; of two LZMA entries with
// windows of 17 MB, one at a time is decoded ahead.
TEST(UnZipThreads, WorkersGoOnAheadWithinTheirBounds)
{
    TempDir t;
    PyZip(t / "stored.zip", "  for i in range(40):\n    z.writestr('%d.bin' % i, bytes([i]) * (1 << 20))\n");
    PyZip(t / "windows.zip",
          "  for i in range(2):\n    z.writestr('w%d.bin' % i, bytes([i]) * 17000000, zipfile.ZIP_LZMA)\n");
    const struct {
        std::string archive;
        int entries, decodedAhead;
        int64_t mostBytes;
        int mostLargeWindows;
    } cases[] = {
        {"stored.zip", 40, 39, 24 << 20, 0},
        {"windows.zip", 2, 0, 4718592, 1},  // one streamed entry: two chunks and 4 MiB waiting
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.archive);
        TZipReader r;
        ExtractAll(r, t / c.archive, t / "dest");
        r.Threads = 4;
        ASSERT_EQ(r.UnZip(), c.entries);
        EXPECT_EQ(r.AheadCounts().decodedAhead, c.decodedAhead);
        EXPECT_EQ(r.AheadCounts().mostBytes, c.mostBytes);
        EXPECT_EQ(r.AheadCounts().mostLargeWindows, c.mostLargeWindows);
    }
}
