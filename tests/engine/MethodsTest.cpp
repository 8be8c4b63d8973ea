// Entries of the methods beyond stored and deflate as other tools write
// them, and hostile streams of each. (The legacy archives of the shared
// corpus are extracted with the peers' archives in UnZipTest.)
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <random>

#include "engine/ZipMethods.h"
#include "engine/ZipReader.h"
#include "tests/TestSupport.h"

namespace fs = std::filesystem;
using testing_support::RawEntry;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

uint32_t Crc(const std::string& s)
{
    return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(s.data()), uInt(s.size())));
}

// Bits given as '0' and '1' in the order a decoder reads them, packed least
// significant first.
std::string Bits(const std::string& bits)
{
    std::string bytes((bits.size() + 7) / 8, '\0');
    for (size_t i = 0; i < bits.size(); ++i)
        if (bits[i] == '1')
            bytes[i / 8] = char(bytes[i / 8] | 1 << (i % 8));
    return bytes;
}

// value in width bits, least significant first.
std::string Code(uint32_t value, int width)
{
    std::string bits;
    for (int i = 0; i < width; ++i)
        bits += value >> i & 1 ? '1' : '0';
    return bits;
}

struct Outcome {
    int extracted = 0;
    std::vector<std::string> errors;  // entry errors and CRC failures
};

Outcome Extract(const std::string& zip, const std::string& dest, const std::string& password = "")
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
    r.OnSkippingFile = [&](TZipReader&, TSkipReason, const std::string& name, int, bool&) {
        o.errors.push_back("skipped " + name);
    };
    o.extracted = r.UnZip();
    return o;
}

}  // namespace

TEST(Methods, EntriesOfEveryMethodOtherToolsWriteExtract)
{
    TempDir t;
    // Text with repeats further back than 32 KiB, and noise.
    std::string text, noise(70000, '\0');
    std::mt19937 random(5);
    const char* words[] = {"alpha ", "beta ", "gamma\n", "delta ", "epsilon "};
    while (text.size() < 300000)
        text += words[random() % 5];
    text += text.substr(1000, 60000);
    for (char& c : noise)
        c = char(random());
    WriteFile(t / "src/text.txt", text);
    WriteFile(t / "src/noise.bin", noise);

    const std::string py = "python3 -c 'import sys, zipfile\n"
                           "with zipfile.ZipFile(sys.argv[1], \"w\", int(sys.argv[2])) as z:\n"
                           "    z.write(\"text.txt\"); z.write(\"noise.bin\")' ";
    const std::pair<std::string, std::string> made[] = {
        {"7z-deflate64.zip", "7zz a -bd -tzip -mm=Deflate64 ../7z-deflate64.zip . >/dev/null"},
        {"7z-bzip2.zip", "7zz a -bd -tzip -mm=BZip2 ../7z-bzip2.zip . >/dev/null"},
        {"7z-lzma.zip", "7zz a -bd -tzip -mm=LZMA ../7z-lzma.zip . >/dev/null"},
        {"7z-bzip2-encrypted.zip",
         "7zz a -bd -tzip -mm=BZip2 -mem=ZipCrypto -psecret ../7z-bzip2-encrypted.zip . >/dev/null"},
        {"zip-bzip2.zip", "zip -qZ bzip2 ../zip-bzip2.zip text.txt noise.bin"},
        // noise.bin runs from the first part into the second.
        {"zip-bzip2-split.zip", "zip -qZ bzip2 -s 64k ../zip-bzip2-split.zip noise.bin text.txt"},
        {"py-bzip2.zip", py + "../py-bzip2.zip 12"},
        {"py-lzma.zip", py + "../py-lzma.zip 14"},  // with the end marker (flag bit 1)
    };
    std::string out;
    for (const auto& [name, command] : made)
        ASSERT_EQ(testing_support::Run("cd '" + t / "src" + "' && " + command, &out), 0) << name << out;
    // XZ and Zstandard entries made by their own tools, in an archive put
    // together here.
    ASSERT_EQ(testing_support::Run("xz -c '" + t / "src/text.txt" + "' > '" + t / "text.xz" + "' && zstd -qc '" +
                                       t / "src/noise.bin" + "' > '" + t / "noise.zst" + "'",
                                   &out),
              0)
        << out;
    WriteFile(t / "assembled.zip",
              testing_support::AssembleZip({{.name = "text.txt", .data = ReadFile(t / "text.xz"), .method = 95,
                                             .crc = Crc(text), .size = text.size()},
                                            {.name = "noise.bin", .data = ReadFile(t / "noise.zst"), .method = 93,
                                             .crc = Crc(noise), .size = noise.size()}}));

    std::vector<std::string> archives = {"assembled.zip"};
    for (const auto& [name, command] : made)
        archives.push_back(name);
    for (const std::string& name : archives) {
        SCOPED_TRACE(name);
        const std::string dest = t / ("x-" + name);
        const Outcome o = Extract(t / name, dest, "secret");
        EXPECT_EQ(o.extracted, 2);
        EXPECT_EQ(o.errors, std::vector<std::string>{});
        EXPECT_TRUE(ReadFile(dest + "/text.txt") == text);
        EXPECT_TRUE(ReadFile(dest + "/noise.bin") == noise);
    }
}

TEST(Methods, HostileStreamsFailTheirEntryAndNothingElse)
{
    std::string garbage(3000, '\0');
    std::mt19937 random(9);
    for (char& c : garbage)
        c = char(random());
    // Shrink: a partial clear after every literal.
    std::string clears, letters;
    for (int i = 0; i < 100; ++i) {
        letters += char('A' + i % 26);
        clears += Code(uint32_t('A' + i % 26), 9) + Code(256, 9) + Code(2, 9);
    }
    // Deflate64, a fixed block: a match of 3 at distance 1 before any data, then the end.
    const std::string before = Bits("1" "10" "0000001" "00000" "0000000");
    // Deflate64, a fixed block: 'z', then a match of 1000 at distance 1 (length code 285).
    const std::string longMatch = Bits("1" "10" "10101010" "11000101" + Code(1000 - 3, 16) + "00000" "0000000");
    // LZMA properties asking for a dictionary of 512 MiB.
    const std::string lzma512 = std::string("\x10\x02\x05\x00\x5d\x00\x00\x00\x20", 9);
    // A Zstandard frame of one raw block, "hello", under a window of 2^log bytes.
    const auto zstd = [](int log) {
        return std::string("\x28\xb5\x2f\xfd\x00", 5) + char((log - 10) << 3) + "\x29" + std::string(2, '\0') +
               "hello";
    };
    // Implode: a length tree of 16 codes where 64 belong.
    const std::string shortTree = std::string("\x00\xff", 2) + garbage;

    struct Case {
        const char* what;
        uint16_t method;
        uint16_t flags;
        std::string data;
        std::string content;  // what a sound stream decodes to; empty: the entry fails
        uint64_t size = 0;    // declared; 0: the content's
        std::string failure = "";  // part of the entry's failure, when it matters
    };
    std::vector<Case> cases = {
        {"shrink, a partial clear at every step", 1, 0, Bits(clears), letters},
        {"deflate64, a distance before the data", 9, 0, before, "", 3},
        {"deflate64, a match longer than 258", 9, 0, longMatch, std::string(1001, 'z')},
        {"LZMA, a dictionary above 256 MiB for more data", 14, 0, lzma512, "", 1u << 30,
         "needs a dictionary larger than 256 MiB"},
        {"Zstandard, a window of 2^27", 93, 0, zstd(27), "hello"},
        {"Zstandard, a window above 2^27", 93, 0, zstd(28), "", 5, "needs a window larger than 128 MiB"},
        {"implode, a tree too short", 6, 0, shortTree, "", 1000},
        {"implode, three trees too short", 6, 6, shortTree, "", 1000},
    };
    for (const uint16_t method : {1, 2, 3, 4, 5, 6, 9, 12, 14, 93, 95}) {
        // Garbage that claims a terabyte must end with its bytes, not run on.
        cases.push_back({"garbage", method, 6, garbage, "", uint64_t(1) << 40});
        cases.push_back({"nothing", method, 0, "", "", 5000});
    }
    TempDir t;
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.what) + ", " + MethodName(k.method));
        const std::string zip = t / "hostile.zip", dest = t / "out";
        fs::remove_all(dest);
        const uint64_t size = k.size ? k.size : k.content.size();
        WriteFile(zip, testing_support::AssembleZip(
                           {{.name = "hostile.bin", .data = k.data, .method = k.method, .flags = k.flags,
                             .crc = Crc(k.content), .size = size, .zip64 = size > 0xFFFFFFFF},
                            {.name = "after.txt", .data = "after\n"}}));
        const Outcome o = Extract(zip, dest);
        EXPECT_EQ(ReadFile(dest + "/after.txt"), "after\n");
        if (k.content.empty()) {
            EXPECT_EQ(o.extracted, 1);
            ASSERT_EQ(o.errors.size(), 1u);
            EXPECT_TRUE(o.errors[0].ends_with("(" + MethodName(k.method) + ")")) << o.errors[0];
            EXPECT_NE(o.errors[0].find(k.failure), std::string::npos) << o.errors[0];
            EXPECT_FALSE(fs::exists(dest + "/hostile.bin"));
        } else {
            EXPECT_EQ(o.extracted, 2);
            EXPECT_EQ(ReadFile(dest + "/hostile.bin"), k.content);
        }
    }
}
