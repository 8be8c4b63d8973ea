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

TEST_F(AddCommand, UpdateReplacesWhatZipUReplaces)
{
    // Entries with the exact time (zip's extended timestamp) and with the
    // DOS time only (zip -X): a file one second newer than an exact time
    // replaces its entry; against a DOS time it takes two seconds.
    for (const std::string exact : {"", "-X"}) {
        SCOPED_TRACE("zip " + exact);
        Write("one.txt", "old\n");
        Write("two.txt", "old\n");
        ASSERT_EQ(Shell("cd " + Quoted(dir.Path()) + " && touch -d '2021-01-01 00:00:00' one.txt two.txt && zip -q " +
                        exact + " peer.zip one.txt two.txt && cp peer.zip ours.zip"),
                  0);
        Write("one.txt", "new\n");
        Write("two.txt", "new\n");
        const std::string later = exact.empty() ? "00:00:01" : "00:00:02";
        ASSERT_EQ(Shell("cd " + Quoted(dir.Path()) + " && touch -d '2021-01-01 " + later +
                        "' one.txt && touch -d '2021-01-01 00:00:00' two.txt && zip -qu peer.zip one.txt two.txt"),
                  0);
        const Result r = Cli("add --update ours.zip one.txt two.txt");
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, "ours.zip: 1 file added\n");
        for (const std::string name : {"one.txt", "two.txt"}) {
            std::string peer, ours;
            Shell("unzip -p " + Quoted(Path("peer.zip")) + " " + name, &peer);
            Shell("unzip -p " + Quoted(Path("ours.zip")) + " " + name, &ours);
            EXPECT_EQ(ours, peer) << name;
            EXPECT_EQ(ours, name == "one.txt" ? "new\n" : "old\n") << name;
        }
        Shell("rm " + Quoted(Path("peer.zip")) + " " + Quoted(Path("ours.zip")));
    }
}

TEST_F(AddCommand, AWholeFolderGoesInWithItsFoldersAsZipRStoresIt)
{
    MakeTree("d");
    fs::create_directories(Path("d/empty"));
    ASSERT_EQ(Shell("cd " + Quoted(dir.Path()) + " && touch -d @1600000001 d/empty && zip -qr peer.zip d"), 0);
    const Result r = Cli("add t.zip 'd/*'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "t.zip: 6 files added\n");  // folders are not counted
    EXPECT_EQ(PeerNames("t.zip"), PeerNames("peer.zip"));
    // The empty folder comes out of peers with its time.
    ASSERT_EQ(Shell("cd " + Quoted(dir.Path()) + " && unzip -qd out t.zip"), 0);
    EXPECT_TRUE(fs::is_directory(Path("out/d/empty")));
    const std::string json = Cli("list --json t.zip").out;
    EXPECT_NE(json.find("\"name\": \"d/empty/\", \"method\": \"stored\", \"method_number\": 0, \"compressed_size\": 0, "
                        "\"size\": 0, \"crc32\": \"00000000\", \"encryption\": \"none\", \"modified_utc\": "
                        "\"2020-09-13T12:26:41Z\", \"modified_from\": \"extended timestamp\""),
              std::string::npos)
        << json;
    // An unchanged tree updates nothing: its folders included.
    EXPECT_EQ(Cli("add --update t.zip 'd/*'").out, "t.zip: 0 files added\n");

    // Files only: when asked, without paths, and for a mask that does not
    // take the whole folder (as zip -r -i '*.txt').
    const std::vector<std::string> files = {"d/.hidden", "d/a.txt",   "d/b.bin",
                                            "d/empty.txt", "d/sub/c.txt", "d/sub/caf\xc3\xa9.txt"};
    const struct {
        std::string command;
        std::vector<std::string> names;
    } cases[] = {
        {"add --no-dir-entries f1.zip 'd/*'", files},
        {"add --no-paths f2.zip 'd/*'", {".hidden", "a.txt", "b.bin", "c.txt", "caf\xc3\xa9.txt", "empty.txt"}},
        {"add f3.zip 'd/*.txt'", {"d/a.txt", "d/empty.txt", "d/sub/c.txt", "d/sub/caf\xc3\xa9.txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const Result listed = Cli(c.command);
        ASSERT_EQ(listed.code, 0) << listed.err;
        const std::string archive = "f" + std::to_string(&c - cases + 1) + ".zip";
        EXPECT_EQ(PeerNames(archive), c.names);
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
