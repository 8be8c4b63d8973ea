// Listing the entries of many archives into display rows.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

#include <gtest/gtest.h>

#include "engine/ZipExceptions.h"
#include "jobs/UnitViewFile.h"
#include "platform/CodePage.h"
#include "platform/Hooks.h"
#include "tests/TestSupport.h"

namespace {

using testing_support::CorpusDir;
using testing_support::TempDir;

struct FileSpec {
    std::string name;
    size_t size;
    std::string time = "2021-06-15 12:34:56";  // local time
};

// Writes the files under dir/src and stores them with Info-ZIP zip in dir/archive.
std::string MakeArchive(const TempDir& dir, const std::string& archive, const std::vector<FileSpec>& files)
{
    std::string names;
    for (const FileSpec& f : files) {
        testing_support::WriteFile(dir / ("src/" + f.name), std::string(f.size, 'x'));
        EXPECT_EQ(testing_support::Run("touch -d '" + f.time + "' '" + dir / ("src/" + f.name) + "'"), 0);
        names += " '" + f.name + "'";
    }
    std::string out;
    EXPECT_EQ(testing_support::Run("cd '" + dir / "src" + "' && zip -q -X '" + dir / archive + "'" + names, &out), 0)
        << out;
    std::filesystem::remove_all(dir / "src");
    return dir / archive;
}

class ListArchives : public ::testing::Test {
protected:
    void TearDown() override { platform::InstalledHooks() = {}; }

    // Calls action on pump number n (1-based) of every later run.
    void OnPump(int n, std::function<void()> action)
    {
        platform::InstalledHooks().PumpMessages = [this, n, action] {
            if (++pumps == n)
                action();
        };
    }

    int pumps = 0;
    TExtractAndView job;
};

TEST_F(ListArchives, RowsFollowTheListAndMatchTheManifest)
{
    std::map<std::string, std::vector<testing_support::ManifestRow>> expected;
    std::vector<std::string> archives;
    for (const auto& [archive, rows] : testing_support::ManifestArchives({"peers/"})) {
        archives.push_back(CorpusDir() + "/" + archive);
        expected[archives.back()] = rows;
    }
    ASSERT_GT(archives.size(), 10u);
    // A file that is no archive gives no rows and does not end the listing.
    archives.insert(archives.begin() + 2, CorpusDir() + "/bad/text-named-zip.zip");
    ASSERT_TRUE(expected[CorpusDir() + "/peers/py-empty-archive.zip"].empty());

    ParArrayOfFileDetail rows(3);  // rows of an earlier listing are replaced
    job.ListArchives(rows, archives);

    size_t at = 0;
    for (const std::string& archive : archives) {
        SCOPED_TRACE(archive);
        for (const auto& entry : expected[archive]) {
            ASSERT_LT(at, rows.size());
            const ParFileDetail& r = rows[at++];
            const std::string stored = platform::IsValidUtf8(entry.entry) ? entry.entry : platform::Cp437ToUtf8(entry.entry);
            const size_t slash = stored.rfind('/') + 1;  // npos + 1 == 0
            EXPECT_EQ(r.archive, archive);
            EXPECT_EQ(r.path, stored.substr(0, slash));
            EXPECT_EQ(r.fileName, stored.substr(slash));
            EXPECT_EQ(r.size, std::to_string(std::max<uint64_t>(entry.uncompressedSize / 1000, 1)));
        }
    }
    EXPECT_EQ(at, rows.size());
}

TEST_F(ListArchives, SizeAndDateTexts)
{
    TempDir dir;
    const std::string archive = MakeArchive(dir, "sizes.zip",
        {{"small", 999}, {"empty", 0}, {"two", 2000}, {"big", 1500000}, {"noon", 1, "2020-01-02 13:45:10"},
         {"midnight", 1, "2020-01-02 00:00:00"}});
    ParArrayOfFileDetail rows;
    job.ListArchives(rows, {archive});
    ASSERT_EQ(rows.size(), 6u);
    std::vector<std::string> sizes;
    for (const ParFileDetail& r : rows)
        sizes.push_back(r.size);
    EXPECT_EQ(sizes, (std::vector<std::string>{"1", "1", "2", "1500", "1", "1"}));
    // The tests run in the "C" locale: %x is mm/dd/yy, %X is hh:mm:ss.
    EXPECT_EQ(rows[4].date, "01/02/20 13:45:10");
    EXPECT_EQ(rows[5].date, "01/02/20");
}

// An archive that cannot be read is told with its reason and costs only
// its own rows; a handler that rethrows it ends the listing with the rows
// as they were.
TEST_F(ListArchives, MissingArchiveIsToldAndTheOthersListed)
{
    const std::string stored = CorpusDir() + "/peers/py-stored.zip";
    const std::string missing = CorpusDir() + "/peers/no-such-archive.zip";
    std::string error;
    job.OnArchive = [&](const ParArchiveProgress& p) {
        if (p.state == ParArchiveProgress::State::Failed)
            error = p.error;
    };
    ParArrayOfFileDetail rows{{"a", "b", "", "1", "d"}};
    EXPECT_EQ(job.ListArchives(rows, {missing, stored}), 1u);
    EXPECT_EQ(error, "Cannot open file " + missing);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front().archive, stored);

    job.OnArchive = [](const ParArchiveProgress& p) {
        if (p.failure)
            std::rethrow_exception(p.failure);
    };
    rows = {{"a", "b", "", "1", "d"}};
    EXPECT_THROW(job.ListArchives(rows, {stored, missing}), EFOpenError);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].archive, "a");
}

// A cancel at any point, seen by the job or by the engine reading an
// archive, leaves no rows and ends with the silent abort.
TEST_F(ListArchives, CancelAtAnyPumpEmptiesTheRows)
{
    const std::vector<std::string> archives{CorpusDir() + "/peers/izip-entry-comments.zip",
                                            CorpusDir() + "/peers/py-deflated.zip"};
    ParArrayOfFileDetail rows;
    OnPump(0, [] {});  // counts the pumps only
    job.ListArchives(rows, archives);
    const int total = pumps;
    ASSERT_GT(total, 2 * int(rows.size()));  // the engine pumps too

    for (int n = 1; n <= total; ++n) {
        SCOPED_TRACE(n);
        TExtractAndView cancelled;
        pumps = 0;
        OnPump(n, [&] { cancelled.Cancel(); });
        rows.assign(2, {});
        EXPECT_THROW(cancelled.ListArchives(rows, archives), EAbort);
        EXPECT_TRUE(rows.empty());
        EXPECT_EQ(pumps, n) << "the run went on after the cancel";
    }
}

// The rows hold what the second reading finds, with no gaps and nothing lost,
// when an archive changed after it was counted.
}  // namespace
