// zamblok-cli zip: what it writes, how it groups and names archives, and
// what it refuses or reports.
#include <filesystem>

#include "tests/cli/CliSupport.h"

using namespace cli_test;
using Names = std::vector<std::string>;

namespace {

using ZipCommand = CliTest;

TEST_F(ZipCommand, ArchivesPassThePeersAndHoldTheFiles)
{
    MakeTree("tree");
    Write("pw", "s3cret\n");
    struct Case {
        std::string name, options, password;
    };
    for (const Case& c : {Case{"deflated", "--level 9 --comment 'made here'", ""}, Case{"stored", "--level 0", ""},
                          Case{"locked", "--password-file pw", "s3cret"}}) {
        SCOPED_TRACE(c.name);
        const Result r = Cli("zip --single --name " + c.name + " " + c.options + " 'tree/*'");
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, c.name + ".zip\n");
        const std::string archive = Quoted(Path(c.name + ".zip"));
        const std::string unzipPassword = c.password.empty() ? "" : "-P " + c.password + " ";
        EXPECT_EQ(Shell("unzip -tqq " + unzipPassword + archive), 0);
        EXPECT_EQ(Shell("7zz t " + (c.password.empty() ? "" : "-p" + c.password + " ") + archive), 0);
        EXPECT_EQ(Shell("python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
                      "z.setpassword(sys.argv[2].encode()); sys.exit(z.testzip() is not None)' " +
                      archive + " '" + c.password + "'"),
                  0);
        const std::string out = Path(c.name + "-out");
        ASSERT_EQ(Shell("unzip -qq " + unzipPassword + archive + " -d " + Quoted(out)), 0);
        for (const std::string file : {"a.txt", "b.bin", "empty.txt", ".hidden", "sub/c.txt", "sub/caf\xc3\xa9.txt"})
            EXPECT_EQ(Read(c.name + "-out/tree/" + file), Read("tree/" + file)) << file;
    }
    std::string comment;
    Shell("unzip -z " + Quoted(Path("deflated.zip")), &comment);
    EXPECT_NE(comment.find("made here"), std::string::npos);
}

TEST_F(ZipCommand, GroupsAndNamesArchives)
{
    std::string items;
    for (int i = 1; i <= 5; ++i) {
        Write("in/f" + std::to_string(i) + ".txt", "file " + std::to_string(i));
        items += " in/f" + std::to_string(i) + ".txt";
    }
    Result r = Cli("zip --per 2 --name ' Backup.ZIP ' --width 3 --dest out" + items);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "out/Backup000.zip\nout/Backup001.zip\nout/Backup002.zip\n");
    EXPECT_EQ(PeerNames("out/Backup001.zip"), (Names{"in/f3.txt", "in/f4.txt"}));
    EXPECT_EQ(PeerNames("out/Backup002.zip"), (Names{"in/f5.txt"}));

    // Automatic names: the file's own, a free one when that is taken, and a
    // wildcard made into a name.
    Write("f1.zip", "in the way");
    r = Cli("zip in/f1.txt in/f2.txt 'in/*.txt'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "f1_1.zip\nf2.zip\nin_txt.zip\n");
    EXPECT_EQ(PeerNames("in_txt.zip").size(), 5u);
}

TEST_F(ZipCommand, OptionsDecideWhatIsStored)
{
    MakeTree("tree");
    ASSERT_EQ(Cli("zip --single --name all 'tree/*'").code, 0);
    // With its folders, as zip -r stores them.
    EXPECT_EQ(PeerNames("all.zip"), (Names{"tree/", "tree/.hidden", "tree/a.txt", "tree/b.bin", "tree/empty.txt",
                                           "tree/sub/", "tree/sub/c.txt", "tree/sub/caf\xc3\xa9.txt"}));
    ASSERT_EQ(Cli("zip --single --name some --no-paths --no-subfolders --no-hidden 'tree/*'").code, 0);
    EXPECT_EQ(PeerNames("some.zip"), (Names{"a.txt", "b.bin", "empty.txt"}));
}

TEST_F(ZipCommand, BlockedArchiveIsCutIntoPartsOfTheSize)
{
    ASSERT_EQ(Shell("head -c 300000 /dev/urandom > " + Quoted(Path("big.bin"))), 0);
    // By default the parts are named as other tools name them, and they read them.
    for (const std::string style : {"", "zamblok"}) {
        SCOPED_TRACE(style);
        const std::string part = style.empty() ? "parts.z0" : "parts.zip.z0";
        const Result r = Cli("zip --blocked 100K --name parts big.bin" +
                             (style.empty() ? std::string() : " --part-names " + style));
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, "parts.zip\n");
        EXPECT_EQ(std::filesystem::file_size(Path(part + "1")), 102400u);
        EXPECT_EQ(std::filesystem::file_size(Path(part + "2")), 102400u);
        EXPECT_EQ(Cli("test parts.zip").code, 0);
        ASSERT_EQ(Cli("extract --to out parts.zip").code, 0);
        EXPECT_EQ(Read("out/big.bin"), Read("big.bin"));
        if (style.empty()) {
            EXPECT_EQ(Shell("cd " + Quoted(Path("")) + " && 7zz t parts.zip >/dev/null && zip -qs 0 parts.zip "
                            "--out joined.zip && unzip -tq joined.zip >/dev/null"),
                      0);
        }
        Shell("rm -r " + Quoted(Path("out")) + " " + Quoted(Path("")) + "parts.*");
    }
    // A part never takes the place of a file of its name.
    Write("taken.z02", "mine");
    EXPECT_EQ(Cli("zip --blocked 100K --name taken big.bin").code, 3);
    EXPECT_EQ(Read("taken.z02"), "mine");
    EXPECT_FALSE(std::filesystem::exists(Path("taken.z01")));
    EXPECT_EQ(Cli("zip --part-names peers big.bin").code, 2);  // only with --blocked
    for (const std::string size : {"10K", "1.5M", "12Q", "-1M"})
        EXPECT_EQ(Cli("zip --blocked " + size + " big.bin").code, 2) << size;
}

// A file whose name holds wildcard characters is that file; a name that
// is no file is a wildcard.
TEST_F(ZipCommand, AnExistingFileIsTakenLiterallyWhateverItsName)
{
    for (const std::string name : {"what?.txt", "whatX.txt", "sub/whatY.txt", "star*.txt", "starry.txt"})
        Write("in/" + name, name);
    const struct {
        std::string item;
        Names stored;
    } cases[] = {
        {"in/what?.txt", {"in/what?.txt"}},
        {"in/star*.txt", {"in/star*.txt"}},
        {"in/what<XY>.txt", {"in/sub/whatY.txt", "in/whatX.txt"}},
    };
    int n = 0;
    for (const auto& k : cases) {
        SCOPED_TRACE(k.item);
        const std::string name = "out" + std::to_string(n++);
        const Result r = Cli("zip --single --name " + name + " " + Quoted(k.item));
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(PeerNames(name + ".zip"), k.stored);
    }
}

TEST_F(ZipCommand, RefusesUnusableItemsAndReportsSkippedFiles)
{
    MakeTree("tree");
    for (const std::string args : {"nosuch.txt", "tree", "--single --per 2 tree/a.txt", "--width 3 tree/a.txt",
                                   "--level 10 tree/a.txt", "--password tree/a.txt", "--password-file nosuch tree/a.txt"})
        EXPECT_EQ(Cli("zip " + args).code, 2) << args;
    for (const std::string& name : Everything())
        EXPECT_EQ(name.find(".zip"), std::string::npos) << name;

    Result r = Cli("zip 'tree/*.none'");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("tree_none.zip: no file to add; no archive written"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(Path("tree_none.zip")));

    // Without their folders two files of one name cannot both go in.
    Write("other/a.txt", "another a.txt");
    r = Cli("zip --single --name flat --no-paths tree/a.txt other/a.txt");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("other/a.txt: an entry of the same name is in the archive already"), std::string::npos)
        << r.err;
    EXPECT_EQ(PeerNames("flat.zip"), (Names{"a.txt"}));
}

}  // namespace

TEST_F(ZipCommand, AnUnreadableFileIsSkippedAndTheRestWritten)
{
    // As an ordinary user: root reads every file.
    Write("in/a.txt", "secret");
    Write("in/b.txt", "open");
    std::filesystem::permissions(Path("in/a.txt"), std::filesystem::perms::none);
    for (const std::string& folder : {dir.Path(), Path("in")})
        std::filesystem::permissions(folder, std::filesystem::perms::all);
    std::string out;
    EXPECT_EQ(Shell("cd " + Quoted(dir.Path()) + " && runuser -u nobody -- " + ZAMBLOK_CLI +
                        " zip --single --name out 'in/*' 2>&1",
                    &out),
              1)
        << out;
    EXPECT_NE(out.find("in/a.txt: cannot be read (Permission denied); skipped"), std::string::npos) << out;
    EXPECT_EQ(PeerNames("out.zip"), (Names{"in/", "in/b.txt"}));
}

TEST_F(ZipCommand, AesArchivesOpenWithThePasswordInOtherTools)
{
    Write("secret.txt", "the plans\n");
    Write("pw", "right\n");
    Result r = Cli("zip --single --name aes --encryption aes256 --password-file pw secret.txt");
    ASSERT_EQ(r.code, 0) << r.err;
    std::string out;
    EXPECT_EQ(Shell("7zz t -pright " + Quoted(Path("aes.zip")), &out), 0) << out;
    EXPECT_NE(Shell("7zz t -pwrong " + Quoted(Path("aes.zip")), &out), 0) << out;
    r = Cli("list --verbose --tsv aes.zip");
    EXPECT_NE(r.out.find("\taes256/"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\tyes\t"), std::string::npos) << r.out;
    EXPECT_EQ(Cli("extract --password-file pw --to out aes.zip").code, 0);
    EXPECT_EQ(Read("out/secret.txt"), "the plans\n");
    // Without a password there is nothing to encrypt: a usage error.
    EXPECT_EQ(Cli("zip --encryption aes256 secret.txt").code, 2);
    EXPECT_EQ(Cli("zip --encryption rot13 --password-file pw secret.txt").code, 2);
}

TEST_F(ZipCommand, HelpAndVersionAnswerAndSucceed)
{
    for (const char* args :
         {"--help", "--version", "zip --help", "extract --help", "add --help", "join --help", "split --help"}) {
        SCOPED_TRACE(args);
        const Result r = Cli(args);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_FALSE(r.out.empty());
    }
}
