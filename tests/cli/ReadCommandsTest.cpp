// zamblok-cli list, extract, test and delete against the shared corpus and
// against archives that zip and 7zz make here.
#include <algorithm>
#include <filesystem>
#include <utility>

#include "tests/cli/CliSupport.h"

using namespace cli_test;
using testing_support::CorpusDir;
using Names = std::vector<std::string>;

namespace {

// Whether the entry's name reads the same here: names in a DOS code page
// come out converted.
bool Readable(const testing_support::ManifestRow& row)
{
    return row.note.find("non-UTF-8") == std::string::npos;
}

// The tab-separated fields of each line of out.
std::vector<Names> TsvRows(const std::string& out)
{
    std::vector<Names> rows;
    Names row{""};
    for (char c : out) {
        if (c == '\n')
            rows.push_back(std::exchange(row, {""}));
        else if (c == '\t')
            row.emplace_back();
        else
            row.back() += c;
    }
    return rows;
}

class ReadCommands : public CliTest {
protected:
    // The password option for a corpus archive, with its file written.
    std::string PasswordOption(const std::string& password)
    {
        if (password == "-")
            return "";
        Write("pw", password + "\n");
        return "--password-file pw ";
    }
};

TEST_F(ReadCommands, CorpusArchivesListExtractAndTestToTheirContent)
{
    for (const auto& [name, rows] : testing_support::ManifestArchives({"peers/", "foreign/"})) {
        SCOPED_TRACE(name);
        const std::string archive = Quoted(CorpusDir() + "/" + name);
        const std::string password = rows.empty() ? "" : PasswordOption(rows.front().password);

        Result r = Cli("list --tsv " + archive);
        ASSERT_EQ(r.code, 0) << r.err;
        Names listed, expected;
        for (const Names& f : TsvRows(r.out)) {
            ASSERT_EQ(f.size(), 5u);
            listed.push_back(f[4] + f[1] + " " + f[3]);
        }
        for (const auto& row : rows) {
            const uint64_t kb = row.uncompressedSize / 1000;
            if (Readable(row))
                expected.push_back(row.entry + " " + std::to_string(kb == 0 ? 1 : kb));
        }
        std::sort(listed.begin(), listed.end());
        for (const std::string& e : expected)
            EXPECT_TRUE(std::binary_search(listed.begin(), listed.end(), e)) << e;
        EXPECT_EQ(listed.size(), rows.size());

        r = Cli("test " + password + archive);
        EXPECT_EQ(r.code, 0) << r.err;
        r = Cli("extract --to out " + password + archive);
        ASSERT_EQ(r.code, 0) << r.err;
        for (const auto& row : rows) {
            if (row.sha256 != "-" && Readable(row)) {
                EXPECT_EQ(Sha256(Path("out/" + row.entry)), row.sha256) << row.entry;
            }
        }
        std::filesystem::remove_all(Path("out"));
    }
}

TEST_F(ReadCommands, ArchivesOfZipAnd7zzListExtractTestAndDelete)
{
    MakeTree("tree");
    ASSERT_EQ(Shell("cd " + Quoted(dir.Path()) + " && zip -qr izip.zip tree && 7zz a -bd -bso0 7zz.zip tree"), 0);
    for (const std::string archive : {"izip.zip", "7zz.zip"}) {
        SCOPED_TRACE(archive);
        Result r = Cli("list --tsv " + archive);
        ASSERT_EQ(r.code, 0) << r.err;
        Names listed;
        for (const Names& f : TsvRows(r.out))
            listed.push_back(f[4] + f[1]);
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(listed, PeerNames(archive));

        r = Cli("test " + archive);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, archive + ": 6 entries OK\n");
        ASSERT_EQ(Cli("extract --to out-" + archive + " " + archive).code, 0);
        for (const std::string file : {"a.txt", "b.bin", "empty.txt", ".hidden", "sub/c.txt", "sub/caf\xc3\xa9.txt"})
            EXPECT_EQ(Read("out-" + archive + "/tree/" + file), Read("tree/" + file)) << file;

        // Stored names and patterns: '*.bin' in any folder, 'tree/sub/*' the whole name.
        r = Cli("delete " + archive + " tree/a.txt '*.bin' 'tree/sub/*'");
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, archive + ": 5 entries deleted\n");
        EXPECT_EQ(PeerNames(archive), (Names{"tree/", "tree/.hidden", "tree/empty.txt"}));
        EXPECT_EQ(Shell("unzip -tqq " + Quoted(Path(archive))), 0);
        EXPECT_EQ(Shell("7zz t " + Quoted(Path(archive))), 0);
    }
}

// A stored name picks that entry alone, byte for byte; a pattern is one only
// where it is no stored name or the user asks for one.
TEST_F(ReadCommands, NamedEntriesAreTakenExactly)
{
    const auto make = [&] {
        ASSERT_EQ(Shell("cd " + Quoted(dir.Path()) + " && rm -rf w.zip o && python3 -c " +
                        Quoted("import zipfile; z = zipfile.ZipFile('w.zip', 'w'); "
                               "[z.writestr(zipfile.ZipInfo(n), n) for n in "
                               "('a*b.txt', 'axxb.txt', 'File?.txt', 'FILE?.TXT', '/File?.txt', 'keep.txt')]")),
                  0);
    };
    const struct {
        std::string args;
        Names result;  // the stored names left, or the files extracted into o
    } cases[] = {
        {"delete w.zip 'File?.txt'", {"/File?.txt", "FILE?.TXT", "a*b.txt", "axxb.txt", "keep.txt"}},
        {"delete w.zip 'a*b.txt'", {"/File?.txt", "FILE?.TXT", "File?.txt", "axxb.txt", "keep.txt"}},
        {"delete w.zip --pattern 'a*b.txt'", {"/File?.txt", "FILE?.TXT", "File?.txt", "keep.txt"}},
        {"delete w.zip 'a?xb.txt'", {"/File?.txt", "FILE?.TXT", "File?.txt", "a*b.txt", "keep.txt"}},
        {"extract --to o --no-paths w.zip --only 'File?.txt'", {"File?.txt"}},
        {"extract --to o --no-paths --ignore-case w.zip --only 'file?.txt'", {"FILE?.TXT", "File?.txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        make();
        const Result r = Cli(c.args);
        EXPECT_EQ(r.code, 0) << r.err;
        Names result;
        if (c.args.rfind("delete", 0) == 0) {
            for (const Names& row : TsvRows(Cli("list --tsv w.zip").out))
                result.push_back(row[4] + row[1]);
        } else {
            for (const std::string& name : Everything())
                if (name.rfind("o/", 0) == 0)
                    result.push_back(name.substr(2));
        }
        std::sort(result.begin(), result.end());
        EXPECT_EQ(result, c.result);
    }

    make();
    const std::string before = Read("w.zip");
    Result r = Cli("delete w.zip nothere 'x*'");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("w.zip: nothere: no such entry"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("w.zip: x*: no such entry"), std::string::npos) << r.err;
    EXPECT_EQ(Read("w.zip"), before);
}

TEST_F(ReadCommands, ListTableAlignsAndNamesCannotDriveTheTerminal)
{
    ASSERT_EQ(Shell("cd " + Quoted(dir.Path()) +
                  " && python3 -c 'import zipfile; z = zipfile.ZipFile(\"odd.zip\", \"w\"); "
                  "z.writestr(\"tab\\there\", \"x\"); z.writestr(\"esc\\x1b[2J\\x07\\x7f.txt\", 2500 * \"y\")'"),
              0);
    Result r = Cli("list --tsv odd.zip");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<Names> tsv = TsvRows(r.out);
    ASSERT_EQ(tsv.size(), 2u);
    EXPECT_EQ(tsv[0][1], "tab\\there");
    EXPECT_EQ(tsv[1][1], "esc\\x1b[2J\\x07\\x7f.txt");

    r = Cli("list odd.zip odd.zip");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    Names table;
    for (const Names& line : TsvRows(r.out))  // no tabs in the table: one field a line
        table.push_back(line[0]);
    ASSERT_EQ(table.size(), 5u);
    EXPECT_EQ(table[0].rfind("ZIP Archive  Name", 0), 0u) << table[0];
    const size_t sizeEnd = table[0].find("Size (kb)") + 9;
    EXPECT_EQ(table[2].substr(table[2].find("esc?[2J??.txt")), table[4].substr(table[4].find("esc?[2J??.txt")));
    for (size_t i = 1; i < table.size(); ++i)  // sizes right-aligned under their heading
        EXPECT_NE(std::string("12").find(table[i][sizeEnd - 1]), std::string::npos) << table[i];
}

TEST_F(ReadCommands, ExtractPlacesSelectedEntriesAndKeepsOrReplacesFiles)
{
    MakeTree("tree");
    ASSERT_EQ(Shell("cd " + Quoted(dir.Path()) + " && zip -q one.zip tree/a.txt tree/sub/c.txt" +
                  " && zip -q two.zip tree/sub/c.txt tree/b.bin"),
              0);
    Result r = Cli("extract --to o --subfolder-per-archive --no-paths one.zip two.zip --only tree/sub/c.txt "
                   "tree/b.bin nothere");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("nothere: no such entry in the archives"), std::string::npos) << r.err;
    Names made;
    for (const std::string& name : Everything())
        if (name.rfind("o/", 0) == 0)
            made.push_back(name);
    EXPECT_EQ(made, (Names{"o/one", "o/one/c.txt", "o/two", "o/two/b.bin", "o/two/c.txt"}));

    // An existing file, older than the entry: which modes replace it.
    struct Case {
        std::string mode;
        bool replaced;
    };
    for (const Case& c : {Case{"never", false}, Case{"older", false}, Case{"prompt", false}, Case{"newer", true},
                          Case{"always", true}}) {
        SCOPED_TRACE(c.mode);
        std::filesystem::remove_all(Path("e"));
        Write("e/tree/a.txt", "old");
        ASSERT_EQ(Shell("touch -d 2001-01-01 " + Quoted(Path("e/tree/a.txt"))), 0);
        r = Cli("extract --to e --overwrite " + c.mode + " one.zip");
        EXPECT_EQ(Read("e/tree/a.txt") != "old", c.replaced);
        EXPECT_EQ(r.code, c.replaced ? 0 : 1) << r.err;
        if (!c.replaced) {
            EXPECT_NE(r.err.find("one.zip: tree/a.txt: kept the existing file e/tree/a.txt"), std::string::npos)
                << r.err;
        }
    }

    // A file that is no archive is reported by name; the archives after it are extracted.
    Write("text.zip", "not an archive\n");
    r = Cli("extract --to y one.zip text.zip two.zip");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "zamblok-cli: text.zip: not a zip archive");
    EXPECT_TRUE(std::filesystem::exists(Path("y/tree/a.txt")));
    EXPECT_TRUE(std::filesystem::exists(Path("y/tree/b.bin")));
    r = Cli("list text.zip one.zip");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "zamblok-cli: text.zip: not a zip archive\n");
    EXPECT_NE(r.out.find("one.zip"), std::string::npos) << r.out;
    EXPECT_EQ(Cli("list nosuch.zip").code, 1);  // reported; nothing else to list
}

// Sets the byte at offset in the data of entry to value, found through
// python's reading of the local header.
void Damage(const std::string& archive, const std::string& entry, int offset, int value)
{
    ASSERT_EQ(Shell("python3 -c 'import sys, zipfile, struct\n"
                  "z = zipfile.ZipFile(sys.argv[1]); i = z.getinfo(sys.argv[2]); z.close()\n"
                  "f = open(sys.argv[1], \"r+b\"); f.seek(i.header_offset + 26)\n"
                  "n, m = struct.unpack(\"<HH\", f.read(4)); f.seek(i.header_offset + 30 + n + m + int(sys.argv[3]))\n"
                  "f.write(bytes([int(sys.argv[4])]))' " +
                  Quoted(archive) + " " + entry + " " + std::to_string(offset) + " " + std::to_string(value)),
              0);
}

TEST_F(ReadCommands, TestFindsTheDamagedEntryThatUnzipReportsAndGoesOn)
{
    MakeTree("tree");
    ASSERT_EQ(Shell("cd " + Quoted(dir.Path()) + " && zip -q -0 crc.zip tree/a.txt tree/b.bin tree/sub/c.txt" +
                  " && zip -q -9 data.zip tree/a.txt tree/b.bin tree/sub/c.txt"),
              0);
    Damage(Path("crc.zip"), "tree/b.bin", 40, 0x55);  // stored: the CRC no longer matches
    Damage(Path("data.zip"), "tree/a.txt", 0, 0x07);  // deflated: a block type that does not exist
    const std::string corrupt = CorpusDir() + "/bad/crc-wrong.zip";
    struct Case {
        std::string archive, entry, summary;
    };
    for (const Case& c : {Case{Path("crc.zip"), "tree/b.bin", "1 of 3 entries failed"},
                          Case{Path("data.zip"), "tree/a.txt", "1 of 3 entries failed"},
                          Case{corrupt, "c.txt", "1 of 3 entries failed"}}) {
        SCOPED_TRACE(c.archive);
        std::string peer;
        EXPECT_NE(Shell("unzip -t " + Quoted(c.archive), &peer), 0);
        EXPECT_NE(peer.find(c.entry), std::string::npos) << peer;
        const Result r = Cli("test " + Quoted(c.archive));
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.out, c.archive + ": " + c.summary + "\n");
        EXPECT_NE(r.err.find(c.archive + ": " + c.entry + ": "), std::string::npos) << r.err;
    }
}

TEST_F(ReadCommands, VerboseListNamesMethodsAndTestNamesTheMethodThatFailed)
{
    const std::string reduced = CorpusDir() + "/legacy/hwzip/HWREDUCE.ZIP";
    const std::string locked = CorpusDir() + "/peers/izip-zipcrypto.zip";
    Result r = Cli("list --verbose --tsv " + Quoted(reduced) + " " + Quoted(locked));
    EXPECT_EQ(r.code, 0) << r.err;
    for (const std::string line : {"\t-\treduced-4\t1324\t2009\t34.1%\tc71a6911\t-\t", "\tdrwxr-xr-x\tstored\t0\t0\t",
                                   "\t-rw-r--r--\tdeflated\t359\t8192\t95.6%\tb6675307\tyes\t"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    r = Cli("list --verbose " + Quoted(reduced));
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')).find("Method"), r.out.find("reduced-4") - r.out.find('\n') - 1);

    // A bzip2 entry whose stream is cut short.
    Write("cut.zip", testing_support::AssembleZip({testing_support::RawEntry{
                         .name = "cut.txt", .data = "BZh91AY&SY", .method = 12, .crc = 0, .size = 100}}));
    r = Cli("test cut.zip");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cut.zip: cut.txt: the compressed data ends before its stream does (bzip2)"),
              std::string::npos)
        << r.err;
}

TEST_F(ReadCommands, VerboseAndJsonListingsShowEveryField)
{
    using testing_support::RawEntry;
    // Modes with set-user-ID, set-group-ID and sticky bits, with and without
    // the execute bit beneath, of other file types and of none; a name in
    // code page 437 with a comment, dated 0: month and day 0.
    const uint32_t modes[] = {0104755, 0042775, 0041777, 0101664, 0102644, 0000664, 0010640, 0140755};
    std::vector<RawEntry> entries;
    for (const uint32_t mode : modes)
        entries.push_back({.name = "m" + std::to_string(mode), .data = {}, .madeBy = 0x0314, .externalAttributes = mode << 16});
    entries.push_back({.name = "caf\x82", .data = "x", .crc = 0x8CDC1683, .comment = "note \"1\"", .dosTime = 0});
    Write("modes.zip", testing_support::AssembleZip(entries));
    std::string zipinfo;
    ASSERT_EQ(Shell("cd " + Quoted(dir.Path()) + " && zipinfo modes.zip", &zipinfo), 0);
    Result r = Cli("list --verbose --tsv modes.zip");
    for (const Names& row : TsvRows(r.out))
        if (row[1] != "-") {
            EXPECT_NE(zipinfo.find(row[1] + "  "), std::string::npos) << row[1] << "\n" << zipinfo;
        }

    Write("text.txt", std::string(4000, 'a'));
    ASSERT_EQ(Shell("cd " + Quoted(dir.Path()) + " && 7zz a -bd -tzip -mtc=on -mem=AES256 -ppw aes.zip text.txt >/dev/null"), 0);
    r = Cli("list --verbose aes.zip");
    EXPECT_NE(r.out.find("aes256/deflated"), std::string::npos) << r.out;
    r = Cli("list --json aes.zip modes.zip");
    EXPECT_EQ(r.code, 0) << r.err;
    Write("list.json", r.out);
    EXPECT_EQ(Shell("python3 -c 'import json, sys; json.load(open(sys.argv[1]))' " + Quoted(Path("list.json"))), 0)
        << r.out;
    for (const std::string field :
         {"\"method\": \"aes256/deflated\"", "\"encryption\": \"aes256\"", "\"mode\": \"-rwsr-xr-x\"",
          "\"name\": \"caf\u00e9\", \"name_hex\": \"63616682\"", "\"comment\": \"note \\\"1\\\"\"", "\"host_name\": \"MS-DOS\"",
          "\"modified_from\": \"NTFS\"", "\"modified_from\": \"DOS date (local time)\"",
          "\"dos_date\": \"1980-00-00 00:00:00\", \"mode\": null", "\"mode\": \"?rw-rw-r--\""})
        EXPECT_NE(r.out.find(field), std::string::npos) << field << "\n" << r.out;
}

TEST_F(ReadCommands, TestWritesNothingAndAnswersForEveryArchive)
{
    MakeTree("tree");
    ASSERT_EQ(Shell("cd " + Quoted(dir.Path()) + " && zip -qr good.zip tree && zip -qr -P pw locked.zip tree"), 0);
    Write("text.zip", "not an archive\n");
    Write("empty.zip", "");
    Write("pw", "pw\n");
    const Names before = Everything();
    Result r = Cli("test good.zip text.zip empty.zip locked.zip");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out, "good.zip: 6 entries OK\ntext.zip: cannot be tested\nempty.zip: cannot be tested\n"
                     "locked.zip: 6 of 6 entries failed\n");
    EXPECT_NE(r.err.find("empty.zip: not a zip archive (an empty file)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("locked.zip: tree/a.txt: encrypted and no password given"), std::string::npos) << r.err;
    r = Cli("test --password-file pw locked.zip");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Everything(), before);
    EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(ReadCommands, AnEmptyFileIsNoArchiveToListOrExtract)
{
    MakeTree("tree");
    ASSERT_EQ(Shell("cd " + Quoted(dir.Path()) + " && zip -qr good.zip tree"), 0);
    Write("empty.zip", "");
    const struct {
        std::string command;
        int code;
    } cases[] = {{"list empty.zip good.zip", 1}, {"extract empty.zip good.zip --to out", 3}};
    for (const auto& c : cases) {
        const Result r = Cli(c.command);
        EXPECT_EQ(r.code, c.code) << c.command;
        EXPECT_NE(r.err.find("empty.zip: not a zip archive (an empty file)"), std::string::npos) << r.err;
    }
    EXPECT_TRUE(std::filesystem::exists(dir.Path() + "/out/tree/a.txt"));
}

}  // namespace

TEST_F(ReadCommands, NamesOfWindowsToolsAreReadInTheChosenCodePage)
{
    using testing_support::RawEntry;
    // "Øre ø.txt" in code page 850 and "日本.txt" in Shift-JIS, from an MS-DOS host.
    Write("cp.zip", testing_support::AssembleZip({RawEntry{.name = "\x9Dre \x9B.txt", .data = "a", .madeBy = 0x0014},
                                                  RawEntry{.name = "\x93\xFA\x96\x7B.txt", .data = "b", .madeBy = 0x0014}}));
    const struct {
        std::string option, first, second;
    } cases[] = {
        {"", "\u00a5re \u00a2.txt", "\u00f4\u00b7\u00fb{.txt"},  // code page 437
        {"--names-codepage CP850 ", "\u00d8re \u00f8.txt", "\u00f4\u00b7\u00fb{.txt"},
        {"--names-codepage CP932 ", "\u00a5re \u00a2.txt", "\u65e5\u672c.txt"},  // not Shift-JIS: 437
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        const Result r = Cli("list --tsv " + c.option + "cp.zip");
        EXPECT_EQ(r.code, 0) << r.err;
        const std::vector<Names> rows = TsvRows(r.out);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0][1], c.first);
        EXPECT_EQ(rows[1][1], c.second);
    }
    EXPECT_EQ(Cli("extract --names-codepage CP850 --to out cp.zip").code, 0);
    EXPECT_EQ(Read("out/\u00d8re \u00f8.txt"), "a");
    EXPECT_EQ(Cli("list --names-codepage NO-SUCH-CODEPAGE cp.zip").code, 2);
}
