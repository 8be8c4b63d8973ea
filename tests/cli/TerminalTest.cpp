// zamblok-cli on a terminal: passwords asked without echo, the overwrite
// question, the progress line, and Ctrl-C.
#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/cli/CliSupport.h"

using namespace cli_test;

namespace {

class Terminal : public CliTest {
protected:
    std::unique_ptr<PtyRun> Start(const std::vector<std::string>& args)
    {
        std::filesystem::create_directories(scratch / "tmp");
        return std::make_unique<PtyRun>(dir.Path(), scratch / "tmp", args);
    }
    // A file that level 9 takes seconds to compress, even on a fast machine.
    // Compressible, so that level 9 takes seconds (random bytes would be stored).
    void MakeBigFile()
    {
        ASSERT_EQ(Shell("head -c 150000000 /dev/urandom | base64 -w 0 > " + Quoted(Path("big.bin"))), 0);
    }
};

TEST_F(Terminal, PasswordIsAskedTwiceWithoutEcho)
{
    MakeTree("tree");
    auto run = Start({"zip", "--single", "--name", "locked", "--password", "tree/a.txt"});
    ASSERT_TRUE(run->WaitFor("Password: "));
    run->Type("pa55 word\n");
    ASSERT_TRUE(run->WaitFor("Confirm password: "));
    run->Type("pa55 word\n");
    EXPECT_EQ(run->Finish(), 0) << run->Shown();
    EXPECT_EQ(run->Shown().find("pa55"), std::string::npos) << run->Shown();
    EXPECT_EQ(Shell("unzip -tqq -P 'pa55 word' " + Quoted(Path("locked.zip"))), 0);

    run = Start({"zip", "--single", "--name", "other", "--password", "tree/a.txt"});
    ASSERT_TRUE(run->WaitFor("Password: "));
    run->Type("one\n");
    ASSERT_TRUE(run->WaitFor("Confirm password: "));
    run->Type("two\n");
    EXPECT_EQ(run->Finish(), 2);
    EXPECT_NE(run->Shown().find("the passwords do not match"), std::string::npos) << run->Shown();
    EXPECT_FALSE(std::filesystem::exists(Path("other.zip")));
}

TEST_F(Terminal, OverwriteQuestionAndCtrlCThere)
{
    MakeTree("tree");
    ASSERT_EQ(Shell("cd " + Quoted(dir.Path()) + " && zip -q t.zip tree/a.txt tree/b.bin tree/sub/c.txt"), 0);
    for (const std::string file : {"a.txt", "b.bin", "sub/c.txt"})
        Write("x/tree/" + file, "old");
    auto run = Start({"extract", "--to", "x", "--overwrite", "prompt", "t.zip"});
    ASSERT_TRUE(run->WaitFor("Replace x/tree/a.txt? [y]es, [n]o, [A]ll, [N]one: "));
    run->Type("y\n");
    ASSERT_TRUE(run->WaitFor("Replace x/tree/b.bin?"));
    run->Type("\x03");
    EXPECT_EQ(run->Finish(), 3) << run->Shown();
    // Nothing more is asked once Ctrl-C was pressed.
    EXPECT_EQ(run->Shown().find("Replace x/tree/sub/c.txt?"), std::string::npos) << run->Shown();
    EXPECT_EQ(Read("x/tree/a.txt"), Read("tree/a.txt"));
    EXPECT_EQ(Read("x/tree/b.bin"), "old");
    EXPECT_EQ(Read("x/tree/sub/c.txt"), "old");
}

TEST_F(Terminal, ProgressLineWhileWritingAndCtrlCStopsTheArchive)
{
    MakeBigFile();
    auto run = Start({"zip", "--single", "--level", "9", "--name", "big", "big.bin"});
    ASSERT_TRUE(run->WaitFor(" left  big.zip: big.bin")) << run->Shown();
    EXPECT_NE(run->Shown().find("MB/s"), std::string::npos);
    run->Type("\x03");
    EXPECT_EQ(run->Finish(), 3);
    EXPECT_NE(run->Shown().find("zamblok-cli: User Aborted Operation"), std::string::npos) << run->Shown();
    EXPECT_FALSE(std::filesystem::exists(Path("big.zip")));
    EXPECT_TRUE(TempLeftovers().empty());

    run = Start({"zip", "--quiet", "--single", "--level", "9", "--name", "quiet", "big.bin"});
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    run->Type("\x03");
    EXPECT_EQ(run->Finish(), 3);
    EXPECT_EQ(run->Shown().find('%'), std::string::npos) << run->Shown();
}

}  // namespace
