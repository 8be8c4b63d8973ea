// zamblok-cli against archives and inputs made to do harm: links, names with
// a NUL, damaged entries among good ones, pipes, endless password files.
#include <sys/stat.h>

#include <filesystem>

#include "tests/cli/CliSupport.h"

using namespace cli_test;
using testing_support::AssembleZip;
using testing_support::RawEntry;
namespace fs = std::filesystem;

namespace {

class HostileInput : public CliTest {};

RawEntry Link(const std::string& name, const std::string& target)
{
    return RawEntry{.name = name, .data = target, .madeBy = 0x031E, .externalAttributes = 0120777u << 16};
}

}  // namespace

TEST_F(HostileInput, LinksAreMadeInsideOnlyUnlessAllowed)
{
    Write("links.zip", AssembleZip({{"real.txt", "real"}, Link("near", "real.txt"), Link("far", "/etc/hostname")}));
    Result r = Cli("extract --to out links.zip");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "zamblok-cli: links.zip: far: a link that leads out of the destination; skipped "
                     "(--allow-outside-links makes it)\n");
    EXPECT_EQ(fs::read_symlink(Path("out/near")), "real.txt");
    EXPECT_FALSE(fs::exists(fs::symlink_status(Path("out/far"))));

    r = Cli("extract --to out2 --allow-outside-links links.zip");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(fs::read_symlink(Path("out2/far")), "/etc/hostname");
}

TEST_F(HostileInput, ANulInANameIsShownEscapedAndItsEntrySkipped)
{
    const std::string nul("run.sh\0.txt", 11);
    Write("nul.zip", AssembleZip({{nul, "#!/bin/sh\n"}, {"after.txt", "after"}}));
    Write("next.zip", AssembleZip({{"next.txt", "next"}}));
    Result r = Cli("list --tsv nul.zip next.zip");
    EXPECT_EQ(r.code, 0);
    ASSERT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << r.out;
    EXPECT_NE(r.out.find("nul.zip\trun.sh\\0.txt\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("next.zip\tnext.txt\t"), std::string::npos) << r.out;

    r = Cli("extract --to out nul.zip");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "zamblok-cli: nul.zip: run.sh?.txt: the stored name holds a NUL byte; skipped\n");
    EXPECT_EQ(Read("out/after.txt"), "after");
    EXPECT_FALSE(fs::exists(Path("out/run.sh")));
}

TEST_F(HostileInput, DamageFailsOneEntryOrOneArchiveAndTheRunGoesOn)
{
    const RawEntry inner{"b.txt", std::string(1000, 'z')};
    RawEntry overlapping = inner;
    overlapping.local = false;
    overlapping.offset = 35;
    Write("bomb.zip", AssembleZip({{"a.txt", testing_support::LocalHeader(inner) + inner.data}, overlapping}));
    // Many broken entries: each fails alone, and the archive is read once.
    std::vector<RawEntry> broken;
    for (int i = 0; i < 5000; ++i)
        broken.push_back({.name = "e" + std::to_string(i), .data = std::string(8, '\xFF'), .method = 8, .size = 8});
    broken.push_back({"good.txt", "good"});
    Write("broken.zip", AssembleZip(broken));
    Write("short.zip", AssembleZip({{.name = "short.txt", .data = "abc", .size = 10}, {"fine.txt", "fine"}}));

    Result r = Cli("test bomb.zip broken.zip short.zip");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out, "bomb.zip: cannot be tested\nbroken.zip: 5000 of 5001 entries failed\n"
                     "short.zip: 1 of 2 entries failed\n");
    EXPECT_NE(r.err.find("zamblok-cli: bomb.zip: Entries overlap each other (a possible zip bomb)\n"),
              std::string::npos);
    EXPECT_NE(r.err.find("zamblok-cli: broken.zip: e4999: the compressed data is broken\n"), std::string::npos);
    EXPECT_NE(r.err.find("zamblok-cli: short.zip: short.txt: the data is shorter than its recorded size "
                         "(3 of 10 bytes)\n"),
              std::string::npos);

    r = Cli("extract --to out bomb.zip broken.zip short.zip");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(Everything(), (std::vector<std::string>{"bomb.zip", "broken.zip", "out", "out/fine.txt",
                                                      "out/good.txt", "short.zip"}));
}

TEST_F(HostileInput, PipesAndEndlessFilesAreRefusedWithoutWaiting)
{
    ASSERT_EQ(mkfifo(Path("pipe.zip").c_str(), 0600), 0);
    Write("x.zip", AssembleZip({{"a.txt", "a"}}));
    Result r = Cli("list pipe.zip");
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("pipe.zip"), std::string::npos) << r.err;

    // A side file with a single-part directory beside no archive.
    Write("X.zfc", Read("x.zip"));
    EXPECT_EQ(Cli("extract --to out X.zip").code, 3);

    for (const char* file : {"/dev/zero", "/tmp", "long"}) {
        SCOPED_TRACE(file);
        Write("long", std::string(5000, 'p') + "\n");
        r = Cli(std::string("test --password-file ") + file + " x.zip");
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find("password"), std::string::npos) << r.err;
    }
    EXPECT_EQ(Shell("cd " + Quoted(dir.Path()) + " && echo pw | " + ZAMBLOK_CLI + " test --password-file - x.zip"),
              0);
}

TEST_F(HostileInput, ACutArchiveIsReportedAndRepairedFromItsLocalHeaders)
{
    // Written through a pipe (so with data descriptors), behind data that
    // holds a false local-header signature, and cut before its directory.
    ASSERT_EQ(Shell("cd " + Quoted(dir.Path()) +
                    " && python3 -c \"import sys, zipfile\nwith zipfile.ZipFile(sys.stdout.buffer, 'w', "
                    "zipfile.ZIP_DEFLATED) as z:\n z.writestr('a.txt', 'alpha ' * 500)\n"
                    " z.writestr('dir/b.txt', 'beta')\" | cat > whole.zip"
                    " && python3 -c \"import sys\nd = open('whole.zip', 'rb').read()\n"
                    "stub = b'PK\\\\x03\\\\x04\\\\x14\\\\x00' + bytes(24)\n"
                    "open('cut.zip', 'wb').write(stub + d[:d.find(b'PK\\\\x01\\\\x02')])\""),
              0);
    Result r = Cli("list cut.zip");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "zamblok-cli: cut.zip: incomplete archive: its directory is missing (--repair reads the entries "
                     "from their local headers)\n");
    r = Cli("list --tsv --repair cut.zip");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
    EXPECT_EQ(Cli("test --repair cut.zip").out, "cut.zip: 2 entries OK\n");
    r = Cli("extract --repair --to out cut.zip");
    EXPECT_EQ(r.code, 0) << r.err;
    std::string alpha;
    for (int i = 0; i < 500; ++i)
        alpha += "alpha ";
    EXPECT_EQ(Read("out/a.txt"), alpha);
    EXPECT_EQ(Read("out/dir/b.txt"), "beta");
}

TEST_F(HostileInput, ADamagedDirectoryIsReportedAndRepairedOnlyWhenAsked)
{
    std::string zip = AssembleZip({{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}});
    zip[zip.find("PK\x01\x02", zip.find("PK\x01\x02") + 1) + 3] = 'X';  // the second central header
    Write("x.zip", zip);
    const std::string damaged =
        "zamblok-cli: x.zip: its directory is damaged (--repair reads the entries from their local headers)\n";
    const std::string repaired = "zamblok-cli: x.zip: the entries were read from their local headers\n";
    const struct {
        std::string command;
        int code;
        std::string out, err;
    } cases[] = {
        {"test x.zip", 1, "x.zip: cannot be tested\n", damaged},
        {"list x.zip", 3, "", damaged},
        {"list --verbose x.zip", 3, "", damaged},
        {"extract --to out x.zip", 1, "", damaged},
        {"extract --to out x.zip --only b.txt", 3, "", damaged},
        {"test --repair x.zip", 0, "x.zip: 3 entries OK\n", repaired},
        {"list --tsv --repair x.zip", 0, "", repaired},
        {"extract --repair --to out x.zip", 0, "", repaired},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const Result r = Cli(c.command);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.err, c.err);
        if (c.command != "list --tsv --repair x.zip")
            EXPECT_EQ(r.out, c.out);
        else
            EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << r.out;
        EXPECT_EQ(fs::exists(Path("out")), c.code == 0 && c.command.find("extract") == 0);
    }
    EXPECT_EQ(Read("out/b.txt"), "b");

    // The writing commands refuse it too, as well as a directory that names
    // one local header twice (and so has no header for another), rather
    // than write what a rebuild made of it; the archive stays as it was.
    Write("twice.zip", AssembleZip({{"a.txt", "a"}, {.name = "b.txt", .data = "b", .offset = 0}, {"c.txt", "c"}}));
    Write("new.txt", "new");
    for (const std::string archive : {"x.zip", "twice.zip"}) {
        const std::string before = Read(archive);
        const struct {
            std::string command, err;
        } writers[] = {
            {"delete " + archive + " a.txt", ""},
            {"add " + archive + " new.txt", "; nothing added"},
            {"add --update " + archive + " new.txt", "; nothing added"},
            {"split --size 64k --out parts " + archive, "; nothing written"},
            {"join --out joined.zip " + archive, "; nothing written"},
        };
        for (const auto& c : writers) {
            SCOPED_TRACE(c.command);
            const Result r = Cli(c.command);
            EXPECT_EQ(r.code, 3);
            EXPECT_EQ(r.err, "zamblok-cli: " + archive + ": its directory is damaged" + c.err + "\n");
            EXPECT_TRUE(Read(archive) == before);
            EXPECT_FALSE(fs::exists(Path("parts.zip")) || fs::exists(Path("joined.zip")));
        }
    }
}

TEST_F(HostileInput, AnArchiveThatOtherToolsReadAsAnotherIsReported)
{
    const std::vector<RawEntry> entries = {{"benign.txt", "hello\n"}, {"evil.sh", "rm -rf ~\n"}};
    Write("two.zip", testing_support::TwoDirectoriesZip(entries, {0}, {1}));
    Write("reverse.zip", testing_support::TwoDirectoriesZip(entries, {1}, {0}));
    Write("same.zip", testing_support::TwoDirectoriesZip(entries, {0, 1}, {0, 1}));  // the same entries
    EXPECT_EQ(Shell("python3 -c 'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).namelist() != "
                    "[\"evil.sh\"])' " + Quoted(Path("two.zip"))),
              0);
    for (const std::string archive : {"two.zip", "reverse.zip", "same.zip"}) {
        const bool differs = archive != "same.zip";
        const std::string err =
            differs ? "zamblok-cli: " + archive + ": this archive reads differently in other tools (two end records)\n"
                    : "";
        for (const std::string command :
             {"list --tsv ", "list --verbose ", "test ", "extract --subfolder-per-archive --to out "}) {
            SCOPED_TRACE(command + archive);
            const Result r = Cli(command + archive);
            EXPECT_EQ(r.code, differs ? 1 : 0);
            EXPECT_EQ(r.err, err);
        }
    }
    EXPECT_EQ(Read("out/two/benign.txt"), "hello\n");  // the directory read first
}

TEST_F(HostileInput, MistakesAreNamedPlainly)
{
    Write("text.zip", "no archive here\n");
    Write("x.zip", AssembleZip({{"a.txt", "a"}}));
    Result r = Cli("delete text.zip a.txt");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err, "zamblok-cli: text.zip: not a zip archive; nothing deleted\n");
    EXPECT_EQ(Read("text.zip"), "no archive here\n");

    r = Cli("list --tsv x.zip nosuch.zip");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out.substr(0, r.out.find('\t', 6)), "x.zip\ta.txt");
    EXPECT_EQ(r.err, "zamblok-cli: nosuch.zip: no such file\n");

    r = Cli("zip --per 0 x.zip");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("--per: N must be a whole number from 1 to 2147483647"), std::string::npos) << r.err;
}

TEST_F(HostileInput, AFullDiskIsNamedWithTheEntryAndTheArchive)
{
    Write("big.zip", AssembleZip({{"big.bin", std::string(2 << 20, 'b')}}));
    fs::create_directory(Path("disk"));
    if (Shell("mount -t tmpfs -o size=1m tmpfs " + Quoted(Path("disk")) + " 2>/dev/null") != 0)
        GTEST_SKIP() << "a small file system cannot be mounted here";
    struct Unmount {
        std::string folder;
        ~Unmount() { Shell("umount " + Quoted(folder)); }
    } unmount{Path("disk")};
    const Result r = Cli("extract --to disk big.zip");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err, "zamblok-cli: big.zip: big.bin: cannot write disk/big.bin: No space left on device\n");
    EXPECT_TRUE(fs::is_empty(Path("disk")));
}

TEST_F(HostileInput, FailuresSayWhatFailedAndWhere)
{
    // An AES entry too short for the cipher's own bytes: the right password
    // is no wrong one.
    const std::string aesField("\x01\x99\x07\x00\x02\x00" "AE\x03\x08\x00", 11);
    Write("aes.zip", AssembleZip({{.name = "a.txt", .data = std::string(10, 'x'), .method = 99, .flags = 1,
                                   .extra = aesField}}));
    Write("pw", "secret\n");
    Result r = Cli("test --password-file pw aes.zip");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "zamblok-cli: aes.zip: a.txt: the data is cut short: its 10 bytes cannot hold the AES salt, "
                     "password check and authentication code\n");

    // A missing part is named as its set names its parts.
    ASSERT_EQ(Shell("head -c 200000 /dev/urandom > " + Quoted(Path("big.bin"))), 0);
    for (const std::string style : {"peers", "zamblok"}) {
        SCOPED_TRACE(style);
        ASSERT_EQ(Cli("zip --blocked 64K --part-names " + style + " --name " + style + " big.bin").code, 0);
        const std::string missing = style + (style == "peers" ? ".z02" : ".zip.z02");
        fs::remove(Path(missing));
        r = Cli("test " + style + ".zip");
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, "zamblok-cli: " + style + ".zip: big.bin: Cannot open file " + missing + "\n");
    }

    // A set whose last part is missing lists from its side file, as it tests.
    const std::string last = Read("peers.zip");
    Write("peers.zfc", last.substr(last.rfind(std::string("PK\x01\x02", 4))));
    fs::remove(Path("peers.zip"));
    r = Cli("list --tsv peers.zip");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\t', 10)), "peers.zip\tbig.bin");

    // A delete that cannot carry an entry over names it, and the archive stays.
    const std::string broken = AssembleZip({{"a.txt", "a"}, {.name = "b.txt", .data = "b", .offset = 100000}});
    Write("broken.zip", broken);
    r = Cli("delete broken.zip a.txt");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err, "zamblok-cli: broken.zip: b.txt: no local header at offset 100000; nothing deleted\n");
    EXPECT_EQ(Read("broken.zip"), broken);
}
