// zamblok-cli join and split: sets of every naming joined into archives that
// every reader takes, split sets that peers read, and nothing written over
// or left behind.
#include <filesystem>

#include "tests/cli/CliSupport.h"

using namespace cli_test;
namespace fs = std::filesystem;

namespace {

class PartsCommands : public CliTest {
protected:
    void SetUp() override
    {
        // Incompressible, so that the entry spans four parts of 64K.
        ASSERT_EQ(Shell("head -c 300000 /dev/urandom > " + Quoted(Path("big.bin"))), 0);
        Write("small.txt", "small\n");
    }
    int InWork(const std::string& command) { return Shell("cd " + Quoted(dir.Path()) + " && " + command); }
    // Whether every reader tests the plain archive good and python finds
    // the files in it, so many entries and the comment.
    void ExpectReadByAll(const std::string& archive, int entries = 2, const std::string& comment = "")
    {
        const std::string a = Quoted(Path(archive));
        EXPECT_EQ(Read(archive).substr(0, 4), "PK\x03\x04");  // no spanning marker
        EXPECT_EQ(Shell("unzip -tqq " + a), 0);
        EXPECT_EQ(Shell("7zz t " + a), 0);
        EXPECT_EQ(Shell("bsdtar -tf " + a), 0);
        EXPECT_EQ(Shell("python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); sys.exit(z.testzip() "
                        "is not None or z.read(\"big.bin\") != open(sys.argv[2], \"rb\").read() or "
                        "len(z.infolist()) != int(sys.argv[3]) or z.comment != sys.argv[4].encode())' " +
                        a + " " + Quoted(Path("big.bin")) + " " + std::to_string(entries) + " " + Quoted(comment)),
                  0);
    }
};

TEST_F(PartsCommands, JoinsSetsOfEveryNaming)
{
    // 1,500 files with long names: the directory begins parts before the last.
    ASSERT_EQ(InWork("mkdir many && cd many && for i in $(seq 1500); do echo $i > "
                     "a-name-long-enough-to-fill-parts-with-the-directory-of-many-small-files-$i.txt; done"),
              0);
    const struct {
        std::string name, make, set;
        int entries;
        std::string comment;
    } sets[] = {
        {"Info-ZIP", "echo 'A comment.' | zip -qs 64k -z peers.zip big.bin small.txt", "peers.zip", 2, "A comment."},
        {"Info-ZIP, a long directory", "zip -qs 64k dir.zip big.bin small.txt many/*", "dir.zip", 1502, ""},
        {"zamblok",
         ZAMBLOK_CLI + std::string(" zip -q --blocked 64K --part-names zamblok --name own big.bin small.txt"),
         "own.zip", 2, ""},
        {"7-Zip volumes", "7zz a -tzip -v100k vol.zip big.bin small.txt", "vol.zip.001", 2, ""},
    };
    for (const auto& s : sets) {
        SCOPED_TRACE(s.name);
        ASSERT_EQ(InWork(s.make + " >/dev/null"), 0);
        const Result r = Cli("join " + s.set + " --out " + Quoted(s.name + ".zip"));
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, s.name + ".zip: " + std::to_string(s.entries) + " entries\n");
        ExpectReadByAll(s.name + ".zip", s.entries, s.comment);
    }
    EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(PartsCommands, SplitPartsArePeerPartsAndJoinBackToTheArchive)
{
    ASSERT_EQ(InWork("echo 'The comment.' | zip -qXz whole.zip big.bin small.txt"), 0);
    Result r = Cli("split whole.zip --size 64K --out parts");
    ASSERT_EQ(r.code, 0) << r.err;
    for (const std::string part : {"parts.z01", "parts.z02", "parts.z03", "parts.z04"})
        EXPECT_EQ(fs::file_size(Path(part)), 65536u) << part;
    EXPECT_EQ(InWork("7zz t parts.zip >/dev/null"), 0);
    EXPECT_EQ(Cli("test parts.zip").code, 0);
    r = Cli("join parts.zip --out back.zip");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Read("back.zip"), Read("whole.zip"));

    // Entries that span two parts at most are what Info-ZIP's zip -s 0 joins.
    ASSERT_EQ(InWork("head -c 50000 /dev/urandom > a.bin && head -c 50000 /dev/urandom > b.bin && "
                     "zip -qX two.zip a.bin b.bin"),
              0);
    ASSERT_EQ(Cli("split two.zip --size 64K --out two-parts").code, 0);
    EXPECT_EQ(InWork("zip -qs 0 two-parts.zip --out two-joined.zip && unzip -tqq two-joined.zip"), 0);
}

TEST_F(PartsCommands, RefusesToWriteOverFilesAndLeavesNothingOnFailure)
{
    ASSERT_EQ(InWork("zip -qs 64k set.zip big.bin small.txt && zip -qX plain.zip big.bin small.txt"), 0);
    Write("taken.zip", "mine");
    Write("taken.z02", "mine too");
    EXPECT_EQ(Cli("join set.zip --out taken.zip").code, 2);
    fs::remove(Path("taken.zip"));
    // A part's name held by a file, or by a link to nothing, which is not
    // followed.
    fs::create_symlink("target.z01", Path("link.z01"));
    for (const std::string out : {"taken", "link"}) {
        SCOPED_TRACE(out);
        const Result r = Cli("split plain.zip --size 64K --out " + out);
        EXPECT_EQ(r.code, 3);
        EXPECT_NE(r.err.find("a file of that name exists"), std::string::npos) << r.err;
    }
    EXPECT_EQ(Read("taken.z02"), "mine too");
    EXPECT_FALSE(fs::exists(Path("taken.z01")));
    EXPECT_FALSE(fs::exists(Path("target.z01")));
    EXPECT_TRUE(fs::is_symlink(Path("link.z01")));

    // A central header that names a part the set does not have, and a missing part.
    ASSERT_EQ(InWork("cp set.zip bad.zip && cp set.z01 bad.z01 && cp set.z02 bad.z02 && cp set.z03 bad.z03 && "
                     "cp set.z04 bad.z04 && python3 -c 'import sys; d = bytearray(open(\"bad.zip\", \"rb\").read()); "
                     "i = d.index(b\"PK\\x01\\x02\"); d[i + 34] = 9; open(\"bad.zip\", \"wb\").write(d)'"),
              0);
    Result r = Cli("join bad.zip --out out.zip");
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("lies on part 10 of 5"), std::string::npos) << r.err;
    fs::remove(Path("set.z03"));
    r = Cli("join set.zip --out out.zip");
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("set.z03"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Path("out.zip")));
    for (const std::string& name : Everything())
        EXPECT_EQ(name.find(".ZBK"), std::string::npos) << name;
}

TEST_F(PartsCommands, RefusesASetWithAPartCutShort)
{
    // 7-Zip volumes hold one archive cut into pieces: one cut short moves
    // the directory. A set in parts keeps its directory in the last part:
    // the last entry, cut short in the part before, runs into it.
    const struct {
        std::string make, cut, set, err;
    } sets[] = {
        {"7zz a -tzip -v100k vol.zip big.bin small.txt", "-s 50000 vol.zip.002", "vol.zip.001",
         "zamblok-cli: vol.zip.001: its directory is damaged; nothing written\n"},
        {"zip -qs 64k set.zip small.txt big.bin", "-s -16 set.z04", "set.zip",
         "zamblok-cli: set.zip: big.bin: the entry runs into the bytes after it (the archive is not whole); "
         "nothing written\n"},
    };
    for (const auto& s : sets) {
        SCOPED_TRACE(s.set);
        ASSERT_EQ(InWork(s.make + " >/dev/null && truncate " + s.cut), 0);
        const Result r = Cli("join " + s.set + " --out out.zip");
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(r.err, s.err);
        EXPECT_FALSE(fs::exists(Path("out.zip")));
    }
    EXPECT_TRUE(TempLeftovers().empty());
}

}  // namespace
