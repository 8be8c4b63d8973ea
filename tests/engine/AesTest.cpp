// AES-encrypted entries: archives of 7-Zip read byte for byte, archives of
// ours read by 7-Zip, wrong passwords and changed data refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "engine/ZipAes.h"
#include "engine/ZipWriter.h"
#include "tests/TestSupport.h"

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

struct Outcome {
    int extracted = 0;
    std::vector<std::string> errors;  // entry errors, CRC failures, skips
};

Outcome Extract(const std::string& zip, const std::string& dest, const std::string& password)
{
    TZipReader r;
    r.SetZipName(zip);
    r.SetDestDir(dest);
    r.DoAll = true;
    r.RecreateDirs = true;
    r.Password = password;
    Outcome o;
    r.OnEntryError = [&](TZipReader&, int, const std::string& what) { o.errors.push_back(what); };
    r.OnBadCRC = [&](TZipReader&, uint32_t, uint32_t, int) { o.errors.push_back("bad CRC"); };
    r.OnSkippingFile = [&](TZipReader&, TSkipReason why, const std::string&, int, bool&) {
        o.errors.push_back(why == TSkipReason::skBadPassword ? "wrong password" : "skipped");
    };
    o.extracted = r.UnZip();
    return o;
}

// Flips a bit of the stored data of the first entry, past its salt and verifier.
void FlipData(const std::string& zip)
{
    std::string bytes = ReadFile(zip);
    const size_t data = 30 + size_t(uint8_t(bytes[26]) | uint8_t(bytes[27]) << 8) +
                        size_t(uint8_t(bytes[28]) | uint8_t(bytes[29]) << 8) + 18;
    bytes[data + 100] = char(bytes[data + 100] ^ 1);
    WriteFile(zip, bytes);
}

}  // namespace

TEST(Aes, SevenZipArchivesOfEveryStrengthReadAndOursReadInSevenZip)
{
    TempDir t;
    std::mt19937 random(3);
    std::string big;  // 50 MB of text and noise
    while (big.size() < 50u << 20)
        big += random() % 4 ? std::string(4096, char('a' + random() % 26)) : std::string(4096, char(random()));
    WriteFile(t / "src/big.bin", big);
    WriteFile(t / "src/empty.txt", "");
    for (int i = 0; i < 40; ++i)
        WriteFile(t / ("src/many/" + std::to_string(i) + ".txt"), std::string(size_t(i) * 37, char('A' + i % 26)));
    std::map<std::string, std::string> sources;
    for (const auto& e : fs::recursive_directory_iterator(t / "src"))
        if (e.is_regular_file())
            sources[fs::relative(e.path(), t / "src").string()] = ReadFile(e.path().string());

    std::string out;
    // Made by 7-Zip: each strength, deflated and stored.
    const std::pair<const char*, const char*> made[] = {
        {"aes128.zip", "-mem=AES128"}, {"aes192.zip", "-mem=AES192"}, {"aes256.zip", "-mem=AES256"},
        {"aes256-stored.zip", "-mem=AES256 -mm=Copy"}};
    for (const auto& [name, options] : made)
        ASSERT_EQ(testing_support::Run("cd '" + t / "src" + "' && 7zz a -bd -tzip -psecret " + options + " ../" + name +
                                           " . >/dev/null",
                                       &out),
                  0)
            << out;
    // Made here, one archive and one in parts, and read by 7-Zip.
    for (const bool blocked : {false, true}) {
        TZipWriter w;
        w.SetZipName(t / (blocked ? "ours-parts.zip" : "ours.zip"));
        w.SetRootDir(t / "src");
        w.SetRelativePaths(true);
        w.FilesList = {t / "src/*"};
        w.Password = "secret";
        w.Encryption = TEncryption::Aes256;
        if (blocked) {
            w.MultiZipInfo.MultiMode = TMultiMode::mmBlocks;
            w.MultiZipInfo.BlockSize = 20 << 20;
            w.OnFileNameForSplitPart = [](TZipReader&, std::string& name, int n, TSplitPartType type) {
                name += type == TSplitPartType::sptLast ? ".zip" : ".z0" + std::to_string(n);
            };
        }
        ASSERT_EQ(w.Zip(), int(sources.size()));
        const std::string dest = t / (blocked ? "7z-parts" : "7z");
        EXPECT_EQ(testing_support::Run("7zz x -bd -psecret -o'" + dest + "' '" + w.ZipName() + "' >/dev/null", &out), 0)
            << out;
        for (const auto& [name, content] : sources)
            EXPECT_TRUE(ReadFile(dest + "/" + name) == content) << name;
        EXPECT_NE(testing_support::Run("7zz t -bd -pwrong '" + w.ZipName() + "'", &out), 0);
    }

    for (const std::string name : {"aes128.zip", "aes192.zip", "aes256.zip", "aes256-stored.zip", "ours.zip",
                                   "ours-parts.zip"}) {
        SCOPED_TRACE(name);
        const std::string dest = t / ("x-" + name);
        const Outcome o = Extract(t / name, dest, "secret");
        EXPECT_EQ(o.errors, std::vector<std::string>{});
        for (const auto& [file, content] : sources)
            EXPECT_TRUE(ReadFile(dest + "/" + file) == content) << file;
        // A wrong password opens nothing.
        const Outcome wrong = Extract(t / name, t / ("w-" + name), "not the secret");
        EXPECT_EQ(wrong.errors, std::vector<std::string>(wrong.errors.size(), "wrong password"));
        EXPECT_GE(wrong.errors.size(), sources.size());
    }
}

TEST(Aes, ChangedDataFailsTheAuthenticationCode)
{
    // AE-2 keeps no CRC: only the authentication code shows the change.
    TempDir t;
    std::string data(5000, '\0');
    std::mt19937 random(4);
    for (char& c : data)
        c = char(random());
    WriteFile(t / "src/data.bin", data);
    WriteFile(t / "src/after.txt", "after\n");
    std::string out;
    ASSERT_EQ(testing_support::Run("cd '" + t / "src" + "' && 7zz a -bd -tzip -psecret -mem=AES256 -mm=Copy ../7z.zip "
                                       "data.bin after.txt >/dev/null",
                                   &out),
              0)
        << out;
    TZipWriter w;
    w.SetZipName(t / "ours.zip");
    w.FilesList = {t / "src/data.bin", t / "src/after.txt"};
    w.Password = "secret";
    w.Encryption = TEncryption::Aes256;
    w.PackLevel = 0;
    ASSERT_EQ(w.Zip(), 2);
    for (const std::string name : {"7z.zip", "ours.zip"}) {
        SCOPED_TRACE(name);
        FlipData(t / name);
        const Outcome o = Extract(t / name, t / ("x-" + name), "secret");
        EXPECT_EQ(o.extracted, 1);
        EXPECT_EQ(o.errors,
                  std::vector<std::string>{"the authentication code does not match: the encrypted data was changed"});
        EXPECT_FALSE(fs::exists(t / ("x-" + name + "/data.bin")));
        EXPECT_EQ(ReadFile(t / ("x-" + name + "/after.txt")), "after\n");
    }
}

TEST(Aes, EntriesEncryptedAtEveryStrengthAndPasswordLengthOpenHereAndInSevenZip)
{
    // The writer's steps at 128, 192 and 256 bits: a new salt of 8, 12 or 16
    // bytes, the verifier, the encrypted data, the authentication code. The
    // keys come from the password as it stands up to 64 bytes, from its hash
    // beyond.
    const std::string plain = "of every strength\n" + std::string(70000, 'x');
    TempDir t;
    for (const std::string& password : {std::string("secret"), std::string(64, 'p'), "Long" + std::string(76, 'q')}) {
        SCOPED_TRACE(password.size());
        std::vector<testing_support::RawEntry> entries;
        for (const auto& [strength, saltLength] : {std::pair<uint8_t, size_t>{1, 8}, {2, 12}, {3, 16}}) {
            const std::string salt = TAesCipher::NewSalt(strength);
            ASSERT_EQ(salt.size(), saltLength);
            TAesCipher cipher(strength, password, reinterpret_cast<const uint8_t*>(salt.data()));
            std::string data = plain;
            cipher.Encrypt(reinterpret_cast<uint8_t*>(data.data()), data.size());
            const std::array<uint8_t, 2> verifier = cipher.Verifier();
            const std::array<uint8_t, 10> code = cipher.Code();
            const std::string field = TAesField{2, strength, 0}.Block();
            entries.push_back({.name = "aes" + std::to_string(64 + 64 * strength) + ".txt",
                               .data = salt + std::string(verifier.begin(), verifier.end()) + data +
                                       std::string(code.begin(), code.end()),
                               .method = MethodAes, .flags = 1, .crc = 0, .size = plain.size(), .extra = field,
                               .localExtra = field});
        }
        const std::string dir = t / std::to_string(password.size());
        WriteFile(dir + "/strengths.zip", testing_support::AssembleZip(entries));
        std::string out;
        EXPECT_EQ(testing_support::Run("7zz x -bd -p" + password + " -o'" + dir + "/7z' '" + dir + "/strengths.zip'",
                                       &out),
                  0)
            << out;
        const Outcome o = Extract(dir + "/strengths.zip", dir + "/ours", password);
        EXPECT_EQ(o.errors, std::vector<std::string>{});
        for (const std::string name : {"aes128.txt", "aes192.txt", "aes256.txt"}) {
            EXPECT_TRUE(ReadFile(dir + "/7z/" + name) == plain) << name;
            EXPECT_TRUE(ReadFile(dir + "/ours/" + name) == plain) << name;
        }
    }
}
