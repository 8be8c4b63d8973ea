// Creating many archives in one run: planning, naming, writing, cancelling;
// and adding files to an archive, moving them in.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sys/stat.h>
#include <thread>

#include <gtest/gtest.h>

#include "engine/ZipExceptions.h"
#include "jobs/UnitZip.h"
#include "platform/Hooks.h"
#include "tests/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testing_support::TempDir;

std::vector<std::string> Names(const ParArrayOfToZip& plan)
{
    std::vector<std::string> names;
    for (const ParToZip& archive : plan)
        names.push_back(fs::path(archive.archive).filename().string());
    return names;
}

// Stored names of an archive, as our reader sees them.
std::vector<std::string> Entries(const std::string& archive)
{
    TZipReader reader;
    reader.SetZipName(archive);
    reader.ReadArchive();
    std::vector<std::string> names;
    for (int i = 0; i < reader.EntryCount(); ++i)
        names.push_back(reader.EntryFolder(i) + reader.EntryName(i));
    return names;
}

void ExpectUnzipTestPasses(const std::string& archive, const std::string& password = "")
{
    std::string out;
    EXPECT_EQ(testing_support::Run("unzip -t -P '" + password + "' '" + archive + "'", &out), 0) << out;
}

class CreateArchives : public ::testing::Test {
protected:
    void TearDown() override { platform::InstalledHooks() = {}; }

    // Source files src/<name> holding their own name.
    std::vector<std::string> Sources(const std::vector<std::string>& names)
    {
        std::vector<std::string> items;
        for (const std::string& name : names) {
            items.push_back(dir / ("src/" + name));
            testing_support::WriteFile(items.back(), name + " data");
        }
        return items;
    }

    // Base name Backup in out/; perArchive 0 means a single archive.
    ParZipName Manual(int perArchive, int width = 2)
    {
        fs::create_directories(dir / "out");
        return {perArchive == 0, std::max(perArchive, 1), dir / "out/", false, "Backup", width};
    }

    std::vector<std::string> Created() const
    {
        std::vector<std::string> names;
        job.CopyCreatedArchives(names);
        for (std::string& name : names)
            name = fs::path(name).filename().string();
        return names;
    }

    void OnPump(std::function<void()> action) { platform::InstalledHooks().PumpMessages = std::move(action); }

    TempDir dir;
    TZipFile job;
};

TEST_F(CreateArchives, ManualNamesNumberGroupsOfNItems)
{
    const std::vector<std::string> items = {"/s/1", "/s/2", "/s/3", "/s/4", "/s/5"};
    const ParArrayOfToZip plan = job.PlanArchives(items, Manual(2));
    ASSERT_EQ(Names(plan), (std::vector<std::string>{"Backup00.zip", "Backup01.zip", "Backup02.zip"}));
    EXPECT_EQ(plan[0].archive, dir / "out/Backup00.zip");
    EXPECT_EQ(plan[0].items, (std::vector<std::string>{"/s/1", "/s/2"}));
    EXPECT_EQ(plan[1].items, (std::vector<std::string>{"/s/3", "/s/4"}));
    EXPECT_EQ(plan[2].items, (std::vector<std::string>{"/s/5"}));

    EXPECT_EQ(Names(job.PlanArchives(items, Manual(0))), (std::vector<std::string>{"Backup.zip"}));
    EXPECT_EQ(job.PlanArchives(items, Manual(0))[0].items, items);

    std::vector<std::string> many(101, "/s/f");
    const std::vector<std::string> width2 = Names(job.PlanArchives(many, Manual(1)));
    EXPECT_EQ(width2[9], "Backup09.zip");
    EXPECT_EQ(width2[11], "Backup11.zip");
    EXPECT_EQ(width2[100], "Backup100.zip");  // the width never shortens a number
    EXPECT_EQ(Names(job.PlanArchives(items, Manual(1, 3)))[4], "Backup004.zip");
}

TEST_F(CreateArchives, AutoNamesComeFromFilesOrFromWildcardPaths)
{
    const std::string out = dir / "out/";
    const std::vector<std::string> files = Sources({"report.doc", "noext", "backup.tar.gz", ".profile"});
    EXPECT_EQ(TZipFile::MakeAutoName(out, files[0]), out + "report.zip");
    EXPECT_EQ(TZipFile::MakeAutoName(out, files[1]), out + "noext.zip");
    EXPECT_EQ(TZipFile::MakeAutoName(out, files[2]), out + "backup.tar.zip");
    EXPECT_EQ(TZipFile::MakeAutoName(out, files[3]), out + ".profile.zip");

    EXPECT_EQ(TZipFile::MakeAutoName(out, "/Data/*.txt"), out + "Data_txt.zip");
    EXPECT_EQ(TZipFile::MakeAutoName(out, "/My Docs/a?<b>|\"c:*.*"), out + "My Docs_abc.zip");
    EXPECT_EQ(TZipFile::MakeAutoName(out, "/*.*"), out + "_.zip");

    // Folders, missing files and pipes are not readable files; a pipe must
    // not make planning wait for a writer.
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(TZipFile::IsReadableFile(dir / "pipe"));
    EXPECT_FALSE(TZipFile::IsReadableFile(dir / "src"));
    EXPECT_FALSE(TZipFile::IsReadableFile(dir / "missing"));
    EXPECT_TRUE(TZipFile::IsReadableFile(files[0]));
}

TEST_F(CreateArchives, UniqueNamesAvoidWhatIsOnDisk)
{
    const std::string x = dir / "out/x.zip";
    EXPECT_EQ(TZipFile::MakeUniqueName(x), x);
    testing_support::WriteFile(x, "");
    EXPECT_EQ(TZipFile::MakeUniqueName(x), dir / "out/x_1.zip");
    testing_support::WriteFile(dir / "out/x_1.zip", "");
    EXPECT_EQ(TZipFile::MakeUniqueName(x), dir / "out/x_2.zip");
    fs::create_directory(dir / "out/y.zip");  // a folder is in the way too
    EXPECT_EQ(TZipFile::MakeUniqueName(dir / "out/y.zip"), dir / "out/y_1.zip");

    // So is a link that leads nowhere: the run writes beside it, not through it.
    fs::create_directory(dir / "elsewhere");
    fs::create_symlink(dir / "elsewhere/target.zip", dir / "out/Backup.zip");
    job.CreateArchives(Sources({"1.txt"}), Manual(0), {});
    EXPECT_EQ(Created(), std::vector<std::string>{"Backup_1.zip"});
    EXPECT_EQ(Entries(dir / "out/Backup_1.zip"), std::vector<std::string>{"1.txt"});
    EXPECT_TRUE(fs::is_symlink(dir / "out/Backup.zip"));
    EXPECT_FALSE(fs::exists(dir / "elsewhere/target.zip"));
}

TEST_F(CreateArchives, CancelWhilePlanningAborts)
{
    // Planning lets messages through once per item, and only per item: a
    // huge group of one item is planned at once.
    int pumps = 0;
    OnPump([&] { ++pumps; });
    EXPECT_EQ(job.PlanArchives(Sources({"1"}), Manual(2147483647)).size(), 1u);
    EXPECT_EQ(pumps, 1);

    pumps = 0;
    OnPump([&] {
        if (++pumps == 5)
            job.Cancel();
    });
    const std::vector<std::string> items = Sources({"1", "2", "3", "4", "5"});
    try {
        job.CreateArchives(items, Manual(2), {});
        FAIL() << "no abort";
    } catch (const EAbort& e) {
        EXPECT_STREQ(e.what(), "Operation aborted");
    }
    EXPECT_TRUE(fs::is_empty(dir / "out"));
    EXPECT_TRUE(Created().empty());
}

TEST_F(CreateArchives, WritesEachPlannedArchiveWithTheOptions)
{
    const std::vector<std::string> items = Sources({"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"});
    ParCompress compress;
    compress.level = 0;
    compress.password = "secret";
    compress.comment = "run comment";
    job.CreateArchives(items, Manual(2), compress);
    ASSERT_EQ(Created(), (std::vector<std::string>{"Backup00.zip", "Backup01.zip", "Backup02.zip"}));
    EXPECT_EQ(Entries(dir / "out/Backup01.zip"), (std::vector<std::string>{"3.txt", "4.txt"}));
    for (const std::string& name : Created())
        ExpectUnzipTestPasses(dir / ("out/" + name), "secret");
    TZipReader reader;
    reader.SetZipName(dir / "out/Backup02.zip");
    reader.ReadArchive();
    EXPECT_EQ(reader.ArchiveComment(), "run comment");
    EXPECT_TRUE(reader.EntryInfo(0).Encrypted());
    EXPECT_EQ(reader.EntryInfo(0).CompressionMethod, 0);

    // A wildcard item with folders stored, subfolders searched and hidden
    // files taken; and the same item without those options.
    Sources({"sub/6.txt", ".hidden.txt"});
    ParCompress wide;
    wide.storePaths = wide.includeSubfolders = wide.includeSysAndHidden = true;
    const std::vector<std::string> wildcard = {dir / "src/*.txt"};
    job.CreateArchives(wildcard, Manual(0), wide);
    const std::string src = (dir / "src/").substr(1);
    std::vector<std::string> entries = Entries(dir / "out/Backup.zip");
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{src + ".hidden.txt", src + "1.txt", src + "2.txt", src + "3.txt",
                                                 src + "4.txt", src + "5.txt", src + "sub/6.txt"}));
    job.CreateArchives(wildcard, Manual(0), {});
    ASSERT_EQ(Created(), (std::vector<std::string>{"Backup_1.zip"}));
    EXPECT_EQ(Entries(dir / "out/Backup_1.zip"),
              (std::vector<std::string>{"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"}));
    ExpectUnzipTestPasses(dir / "out/Backup_1.zip");
}

TEST_F(CreateArchives, ItemsWithOneAutoNameKeepTheirOwnArchives)
{
    // Sharing x.zip, the second x.txt would not replace the first, which is
    // as new, and so would be in no archive at all.
    testing_support::WriteFile(dir / "a/x.txt", "first");
    testing_support::WriteFile(dir / "b/x.txt", "second");
    testing_support::WriteFile(dir / "out/x.zip", "");  // not an archive: never touched
    job.CreateArchives({dir / "a/x.txt", dir / "b/x.txt"}, {false, 1, dir / "out/", true, "", 2}, {});
    ASSERT_EQ(Created(), (std::vector<std::string>{"x_1.zip", "x_2.zip"}));
    EXPECT_EQ(testing_support::ReadFile(dir / "out/x.zip"), "");
    std::string out;
    EXPECT_EQ(testing_support::Run("unzip -p '" + dir / "out/x_1.zip" + "'", &out), 0);
    EXPECT_EQ(out, "first");
    out.clear();
    EXPECT_EQ(testing_support::Run("unzip -p '" + dir / "out/x_2.zip" + "'", &out), 0);
    EXPECT_EQ(out, "second");
}

TEST_F(CreateArchives, BlockedRunWritesOneArchiveInPartsOfTheBlockSize)
{
    std::string noise(3 << 20, '\0');
    std::mt19937 random(7);
    for (char& c : noise)
        c = char(random());
    testing_support::WriteFile(dir / "src/noise.bin", noise);
    const std::vector<std::string> items = {dir / "src/noise.bin", Sources({"small.txt"})[0]};
    ParCompress compress;
    compress.blocked = true;
    job.CreateArchives(items, Manual(1), compress);  // blocked: one archive whatever N is

    ASSERT_EQ(Created(), (std::vector<std::string>{"Backup.zip"}));
    EXPECT_EQ(fs::file_size(dir / "out/Backup.zip.z01"), 1457600u);
    EXPECT_EQ(fs::file_size(dir / "out/Backup.zip.z02"), 1457600u);
    EXPECT_FALSE(fs::exists(dir / "out/Backup.zip.z03"));

    TZipReader reader;
    reader.SetZipName(dir / "out/Backup.zip");
    reader.DoAll = true;
    reader.SetDestDir(dir / "check");
    EXPECT_EQ(reader.UnZip(), 2);
    EXPECT_TRUE(testing_support::ReadFile(dir / "check/noise.bin") == noise);
    EXPECT_EQ(testing_support::ReadFile(dir / "check/small.txt"), "small.txt data");
}

TEST_F(CreateArchives, CancelBetweenArchivesKeepsWhatWasWritten)
{
    // Nor do the workers that loaded the next archive's files run on.
    const size_t threads = testing_support::ThreadsSettledAt(1);
    bool cancelled = false;
    OnPump([&] {
        if (!cancelled && Created().size() == 1) {
            cancelled = true;
            job.Cancel();
        }
    });
    job.CreateArchives(Sources({"1", "2", "3"}), Manual(1), {});
    EXPECT_EQ(Created(), (std::vector<std::string>{"Backup00.zip"}));
    EXPECT_FALSE(fs::exists(dir / "out/Backup01.zip"));
    ExpectUnzipTestPasses(dir / "out/Backup00.zip");
    EXPECT_EQ(testing_support::ThreadsSettledAt(threads), threads);
}

TEST_F(CreateArchives, FailuresInsideAnArchiveKeepTheEarlierArchives)
{
    // The writer's own cancel: the first pump after archive 0 is the job's,
    // the second comes from the writer at work on archive 1.
    int pumps = 0;
    OnPump([&] {
        if (Created().size() == 1 && ++pumps == 2)
            job.Cancel();
    });
    const std::vector<std::string> items = Sources({"1", "2", "3"});
    try {
        job.CreateArchives(items, Manual(1), {});
        FAIL() << "no cancel";
    } catch (const EUserCanceled& e) {
        EXPECT_STREQ(e.what(), "User Aborted Operation");
    }
    EXPECT_EQ(Created(), (std::vector<std::string>{"Backup00.zip"}));
    EXPECT_FALSE(fs::exists(dir / "out/Backup01.zip"));
    ExpectUnzipTestPasses(dir / "out/Backup00.zip");

    // A writer failure: after planning, a folder takes the name of archive 1.
    // The out folder starts empty, so Backup00 to Backup02 are planned again.
    fs::remove_all(dir / "out");
    OnPump([&] {
        if (Created().size() == 1)
            fs::create_directories(dir / "out/Backup01.zip");
    });
    EXPECT_THROW(job.CreateArchives(items, Manual(1), {}), Exception);
    EXPECT_EQ(Created(), (std::vector<std::string>{"Backup00.zip"}));
    EXPECT_FALSE(fs::exists(dir / "out/Backup02.zip"));

    // A part too small for one local header.
    OnPump([] {});
    ParCompress tiny;
    tiny.blocked = true;
    tiny.blockSize = 30;
    try {
        job.CreateArchives(items, Manual(0), tiny);
        FAIL() << "no failure";
    } catch (const ENotEnoughRoom& e) {
        EXPECT_STREQ(e.what(), "Not enough room to write archive");
    }
    EXPECT_TRUE(Created().empty());
    EXPECT_FALSE(fs::exists(dir / "out/Backup.zip"));
}

// Adding with move: a run that is cancelled, or fails, after its first
// file went in moves none of its files and leaves the archive as it was.
TEST_F(CreateArchives, AMoveCancelledOrFailedHalfwayMovesNothing)
{
    const std::string archive = dir / "add.zip";
    std::vector<ParNotMoved> notMoved;
    ASSERT_EQ(job.AddToArchive(archive, Sources({"kept"}), {}, false, false, notMoved), 1);
    const std::string before = testing_support::ReadFile(archive);
    const std::vector<std::string> items = Sources({"1", "2", "3"});
    for (const bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "cancelled" : "failed");
        job.Engine().OnEndZip = [&](TZipWriter&, const std::string&, int64_t, int64_t, int64_t) {
            if (cancel)
                job.Cancel();
            else
                throw EWriteError("No space left on device");
        };
        EXPECT_THROW(job.AddToArchive(archive, items, {}, false, true, notMoved), Exception);
        for (const std::string& item : items)
            EXPECT_TRUE(fs::exists(item)) << item;
        EXPECT_EQ(testing_support::ReadFile(archive), before);
    }
}

TEST_F(CreateArchives, AMoveKeepsAFileThatChangedAfterItWentIn)
{
    // Each file changes right after the writer read it, as a user's edit
    // would while a large archive is written; the file beside it is moved.
    const std::vector<std::string> items = Sources({"changed.txt", "same.txt"});
    const std::string file = items[0], other = dir / "other.txt";
    testing_support::WriteFile(other, "changed.txt dat!");  // as long as the file
    const fs::file_time_type when = fs::last_write_time(file);
    const struct {
        const char* name;
        std::function<void()> change;
    } changes[] = {
        {"appended to", [&] { std::ofstream(file, std::ios::app) << "edit"; }},
        {"rewritten in place",
         [&] {
             std::ofstream(file, std::ios::in | std::ios::out) << "CHANGED";
             fs::last_write_time(file, when + std::chrono::seconds(1));
         }},
        {"replaced by a file of its size and time",
         [&] {
             fs::copy_file(other, dir / "copy.txt");
             fs::last_write_time(dir / "copy.txt", when);
             fs::rename(dir / "copy.txt", file);
         }},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(c.name);
        Sources({"changed.txt", "same.txt"});
        fs::last_write_time(file, when);
        const std::string kept = testing_support::ReadFile(file);
        job.Engine().OnEndZip = [&](TZipWriter&, const std::string& name, int64_t, int64_t, int64_t) {
            if (name == file)
                c.change();
        };
        std::vector<ParNotMoved> notMoved;
        EXPECT_EQ(job.AddToArchive(dir / "a.zip", items, {}, false, true, notMoved), 2);
        ASSERT_EQ(notMoved.size(), 1u);
        EXPECT_EQ(notMoved[0].file, file);
        EXPECT_TRUE(notMoved[0].changed);
        EXPECT_TRUE(fs::exists(file));
        EXPECT_NE(testing_support::ReadFile(file), kept);
        EXPECT_FALSE(fs::exists(items[1]));
    }

    // A small file is read ahead of its turn, on a worker: one that grows
    // between that read and its turn is kept, or it went in as it is now.
    Sources({"changed.txt", "same.txt"});
    job.Engine().OnEndZip = {};
    job.Engine().OnStartZip = [&](TZipWriter&, const std::string& name, TZipHeaderInfo&, bool&) {
        if (name == file) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // same.txt is read meanwhile
            std::ofstream(items[1], std::ios::app) << " and more";
        }
    };
    std::vector<ParNotMoved> notMoved;
    ParCompress twoThreads;
    twoThreads.threads = 2;
    EXPECT_EQ(job.AddToArchive(dir / "b.zip", items, twoThreads, false, true, notMoved), 2);
    TZipReader reader;
    reader.SetZipName(dir / "b.zip");
    reader.ReadArchive();
    EXPECT_TRUE(fs::exists(items[1]) || reader.EntrySize(1) == std::string("same.txt data and more").size());
}

}  // namespace
