// zamblok-cli add: what it replaces, keeps, moves, and what a failure leaves.
#include <filesystem>

#include "tests/cli/CliSupport.h"

using namespace cli_test;
namespace fs = std::filesystem;

namespace {

class AddCommand : public CliTest {
protected:
    // An archive of a/one.txt, a/two.txt and a/three.bin made by Info-ZIP zip.
    void MakePeerArchive()
    {
        Write("a/one.txt", "one\n");
        Write("a/two.txt", std::string(5000, 't'));
        ASSERT_EQ(Shell("head -c 20000 /dev/urandom > " + Quoted(Path("a/three.bin"))), 0);
        ASSERT_EQ(Shell("cd " + Quoted(dir.Path()) + " && touch -d '2020-01-01 12:00' a/* && zip -qX t.zip a/*"), 0);
    }
    // Whether python reads entry of both archives as the same bytes: its
    // local header, data and central values.
    bool SameEntry(const std::string& before, const std::string& after, const std::string& entry)
    {
        Write("same.py", R"(import struct, sys, zipfile
def raw(path, name):
    i = zipfile.ZipFile(path).getinfo(name)
    with open(path, 'rb') as f:
        f.seek(i.header_offset)
        head = f.read(30)
        n, e = struct.unpack('<HH', head[26:30])
        body = f.read(n + e + i.compress_size)
    return (head + body, i.CRC, i.compress_type, i.date_time, i.extra, i.external_attr)
sys.exit(raw(sys.argv[1], sys.argv[3]) != raw(sys.argv[2], sys.argv[3]))
)");
        return Shell("python3 " + Quoted(Path("same.py")) + " " + Quoted(Path(before)) + " " + Quoted(Path(after)) +
                     " " + Quoted(entry)) == 0;
    }
    bool PeersPass(const std::string& archive)
    {
        return Shell("unzip -tqq " + Quoted(Path(archive))) == 0 && Shell("7zz t " + Quoted(Path(archive))) == 0;
    }
};

TEST_F(AddCommand, ReplacesEntriesOfTheSameNameAndCarriesTheOthersOver)
{
    MakePeerArchive();
    fs::copy_file(Path("t.zip"), Path("before.zip"));
    Write("a/one.txt", "one, newer\n");
    Write("a/four.txt", "four\n");
    const Result r = Cli("add t.zip a/one.txt 'a/f*'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(PeersPass("t.zip"));
    EXPECT_EQ(PeerNames("t.zip"), (std::vector<std::string>{"a/four.txt", "a/one.txt", "a/three.bin", "a/two.txt"}));
    for (const std::string kept : {"a/two.txt", "a/three.bin"})
        EXPECT_TRUE(SameEntry("before.zip", "t.zip", kept)) << kept;
    std::string one;
    Shell("unzip -p " + Quoted(Path("t.zip")) + " a/one.txt", &one);
    EXPECT_EQ(one, "one, newer\n");
    // A missing archive is made.
    EXPECT_EQ(Cli("add new.zip a/one.txt").code, 0);
    EXPECT_EQ(PeerNames("new.zip"), (std::vector<std::string>{"a/one.txt"}));
}

TEST_F(AddCommand, UpdateAndMoveTakeOnlyNewerFilesAndDeleteOnlyWhatWentIn)
{
    const struct {
        std::string options, when;
        bool replaced;
    } cases[] = {
        {"--update --move", "2019-06-01", false},  // older than the entry: left out, stays
        {"--update --move", "2021-06-01", true},   // newer: goes in, and goes
        {"--move", "2019-06-01", true},            // without --update any file replaces
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options + " " + c.when);
        MakePeerArchive();
        Write("a/one.txt", "changed\n");
        ASSERT_EQ(Shell("touch -d " + c.when + " " + Quoted(Path("a/one.txt"))), 0);
        const Result r = Cli("add " + c.options + " t.zip a/one.txt a/two.txt");
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_TRUE(PeersPass("t.zip"));
        std::string one;
        Shell("unzip -p " + Quoted(Path("t.zip")) + " a/one.txt", &one);
        EXPECT_EQ(one, c.replaced ? "changed\n" : "one\n");
        EXPECT_EQ(fs::exists(Path("a/one.txt")), !c.replaced);
        // two.txt is as old as its entry: replaced only without --update.
        EXPECT_EQ(fs::exists(Path("a/two.txt")), c.options.find("--update") != std::string::npos);
        Shell("rm -rf " + Quoted(Path("a")) + " " + Quoted(Path("t.zip")));
    }
}

TEST_F(AddCommand, AFailedAddLeavesTheArchiveAndTheFilesAsTheyWere)
{
    MakePeerArchive();
    Write("not.zip", "no archive at all");
    Write("a/new.txt", "new\n");
    // The work folder is nobody's to write in; its files are anybody's to read.
    Shell("chmod 755 " + Quoted(dir.Path()) + " && chmod -R a+rX " + Quoted(Path("a")));
    const std::string asNobody = "cd " + Quoted(dir.Path()) + " && runuser -u nobody -- " + ZAMBLOK_CLI;
    const struct {
        std::string command, archive;
        int code;
    } cases[] = {
        {asNobody + " add --move t.zip a/new.txt", "t.zip", 3},  // the archive's folder is read-only
        {asNobody + " add --move t.zip a/new.txt a/nosuch.txt", "t.zip", 2},
        {asNobody + " add --move t.zip a", "t.zip", 2},  // a folder is no item
        {std::string(ZAMBLOK_CLI) + " add --move " + Quoted(Path("not.zip")) + " " + Quoted(Path("a/new.txt")),
         "not.zip", 3},
        // never written where a link leads
        {"cd " + Quoted(dir.Path()) + " && ln -s nowhere.zip link.zip && " + ZAMBLOK_CLI +
             " add --move link.zip a/new.txt",
         "link.zip", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const std::string before = Sha256(Path(c.archive));
        std::string out;
        EXPECT_EQ(Shell(c.command + " 2>&1", &out), c.code) << out;
        EXPECT_EQ(Sha256(Path(c.archive)), before);
        EXPECT_TRUE(fs::exists(Path("a/new.txt")));
    }
    EXPECT_EQ(Everything(), (std::vector<std::string>{"a", "a/new.txt", "a/one.txt", "a/three.bin", "a/two.txt",
                                                      "link.zip", "not.zip", "t.zip"}));
}

}  // namespace
