#include <gtest/gtest.h>

#include <thread>

#include "platform/CodePage.h"
#include "platform/Hooks.h"

using namespace platform;

TEST(CodePage, EveryCp437ByteRoundTripsThroughUtf8)
{
    std::string all;
    for (int c = 1; c < 256; ++c)
        all += char(c);
    std::string utf8 = Cp437ToUtf8(all);
    EXPECT_TRUE(IsValidUtf8(utf8));
    std::string back;
    ASSERT_TRUE(Utf8ToCp437(utf8, back));
    EXPECT_EQ(back, all);
    EXPECT_EQ(Cp437ToUtf8("caf\x82"), "caf\xC3\xA9");  // é
    EXPECT_EQ(Cp437ToUtf8("\xE1"), "\xC3\x9F");       // ß
}

TEST(CodePage, CharactersOutsideCp437AndBadUtf8AreRefused)
{
    std::string out = "kept";
    EXPECT_FALSE(Utf8ToCp437("\xE6\x97\xA5", out));  // 日
    EXPECT_FALSE(Utf8ToCp437("\xC3", out));          // cut sequence
    EXPECT_EQ(out, "kept");

    EXPECT_TRUE(IsValidUtf8("plain"));
    EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong '/'
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xE6\x97"));          // cut at the end
    EXPECT_FALSE(IsValidUtf8("\x80"));
    EXPECT_TRUE(IsAscii("a/b.txt"));
    EXPECT_FALSE(IsAscii("caf\xC3\xA9"));
}

TEST(Hooks, DefaultsDeclineAndInstalledHooksAnswer)
{
    EXPECT_EQ(MessageBox("q", "c", mbOK), idOK);
    EXPECT_EQ(MessageBox("q", "c", mbYesNo), idNo);
    EXPECT_EQ(MessageBox("q", "c", mbOKCancel), idCancel);
    std::string name = "x";
    EXPECT_FALSE(OpenFileDialog(name));
    EXPECT_FALSE(FolderDialog(name));
    PumpMessages();  // does nothing, must not fail

    int pumps = 0;
    InstalledHooks().PumpMessages = [&] { ++pumps; };
    InstalledHooks().MessageBox = [](const std::string& text, const std::string&, unsigned) {
        return text == "yes?" ? idYes : idNo;
    };
    InstalledHooks().FolderDialog = [](std::string& f) { f = "/chosen"; return true; };
    PumpMessages();
    EXPECT_EQ(pumps, 1);
    EXPECT_EQ(MessageBox("yes?", "", mbYesNo), idYes);
    EXPECT_TRUE(FolderDialog(name));
    EXPECT_EQ(name, "/chosen");
    InstalledHooks() = {};
    EXPECT_EQ(MessageBox("yes?", "", mbYesNo), idNo);
}

TEST(Hooks, AThreadPollRunsOnlyOnItsThreadAndOnlyWhileInstalled)
{
    int polls = 0;
    {
        ThreadPoll poll([&] { ++polls; });
        PumpMessages();
        std::thread([] { PumpMessages(); }).join();
        EXPECT_EQ(polls, 1);
    }
    PumpMessages();
    EXPECT_EQ(polls, 1);
}
