#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/DirSearch.h"
#include "tests/TestSupport.h"

using platform::faAnyFile;
using platform::faHidden;
using Names = std::vector<std::string>;

namespace {

constexpr int Visible = faAnyFile & ~faHidden;

class DirSearchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {".hidden.txt", "a.txt", "B.log", "README", "data/.secret/logs/s.log",
                                 "data/one/logs/x.log", "data/one/logs/y.txt", "data/one/other/z.log",
                                 "data/Two/logs/w.log", "sub/.hid/d.txt", "sub/c.txt"})
            testing_support::WriteFile(root / name, name);
        std::filesystem::create_directory(root / "data/three");
    }

    // Every name the walk yields, with the root's path cut off.
    Names Walk(const std::string& start, int mask, bool recurse, const std::string& pattern)
    {
        TDirSearch search(start, mask, recurse, pattern);
        Names names;
        platform::FindRecord rec;
        std::string name;
        while (search.Next(rec, name)) {
            EXPECT_EQ(name.back() == '/', (rec.Attr & platform::faDirectory) != 0) << name;
            names.push_back(name.rfind(prefix, 0) == 0 ? name.substr(prefix.size()) : name);
        }
        EXPECT_TRUE(name.empty());
        return names;
    }

    testing_support::TempDir root;
    const std::string prefix = root.Path() + "/";
};

}  // namespace

TEST_F(DirSearchTest, OneFolderInFindOrderWithExtensionlessNamesGettingADot)
{
    EXPECT_EQ(Walk(root.Path(), Visible, false, "*.*"), (Names{"a.txt", "B.log", "README"}));
    EXPECT_EQ(Walk(prefix, faAnyFile, false, "*.*"), (Names{".hidden.txt", "a.txt", "B.log", "README"}));
    EXPECT_EQ(Walk(prefix, Visible, false, "*."), (Names{"README"}));
    EXPECT_EQ(Walk(prefix, Visible, false, "readme*"), (Names{"README"}));
    EXPECT_EQ(Walk(prefix, Visible, false, "readme"), Names{});
    EXPECT_EQ(Walk(prefix + "missing/", faAnyFile, true, "*"), Names{});
}

TEST_F(DirSearchTest, RecursionYieldsEachFolderBeforeItsContents)
{
    EXPECT_EQ(Walk(prefix, Visible, true, "*.txt"),
              (Names{"a.txt", "data/", "data/one/", "data/one/logs/", "data/one/logs/y.txt", "data/one/other/",
                     "data/three/", "data/Two/", "data/Two/logs/", "sub/", "sub/c.txt"}));
    EXPECT_EQ(Walk(prefix + "sub", faAnyFile, true, "*"), (Names{"sub/.hid/", "sub/.hid/d.txt", "sub/c.txt"}));
}

TEST_F(DirSearchTest, WildFolderComponentsLeadIntoMatchingFoldersOnly)
{
    EXPECT_EQ(Walk(prefix + "data/*/logs/", Visible, false, "*.log"),
              (Names{"data/one/logs/x.log", "data/Two/logs/w.log"}));
    EXPECT_EQ(Walk(prefix + "data/*/logs", faAnyFile, false, "*.log"),
              (Names{"data/.secret/logs/s.log", "data/one/logs/x.log", "data/Two/logs/w.log"}));
    EXPECT_EQ(Walk(prefix + "*/o?e/", Visible, true, "*.log"),
              (Names{"data/one/logs/", "data/one/logs/x.log", "data/one/other/", "data/one/other/z.log"}));
    EXPECT_EQ(Walk(prefix + "missing/*/", faAnyFile, true, "*"), Names{});

    // A relative start begins in the current folder, never at the root.
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(prefix + "data");
    const Names relative = Walk("t*/", Visible, true, "*");
    std::filesystem::current_path(previous);
    EXPECT_EQ(relative, (Names{"Two/logs/", "Two/logs/w.log"}));
}
