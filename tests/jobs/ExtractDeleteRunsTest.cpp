// Extracting and deleting entries across many archives.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "engine/ZipExceptions.h"
#include "jobs/UnitViewFile.h"
#include "platform/Hooks.h"
#include "tests/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testing_support::CorpusDir;
using testing_support::ReadFile;
using testing_support::TempDir;
using Names = std::set<std::string>;

// Stores the files (stored name -> content) with Info-ZIP zip as dir/archive;
// extra goes to zip's command line (a password, say).
std::string MakeArchive(const TempDir& dir, const std::string& archive, const std::map<std::string, std::string>& files,
                        const std::string& extra = "")
{
    const std::string src = dir / "src";
    std::string names;
    for (const auto& [name, content] : files) {
        testing_support::WriteFile(src + "/" + name, content);
        names += " '" + name + "'";
    }
    fs::create_directories(fs::path(dir / archive).parent_path());
    std::string out;
    EXPECT_EQ(testing_support::Run("cd '" + src + "' && zip -q -X -nw " + extra + " '" + dir / archive + "'" + names,
                                   &out),
              0)
        << out;
    fs::remove_all(src);
    return dir / archive;
}

// Bytes that do not compress.
std::string Noise(size_t size)
{
    std::string bytes(size, '\0');
    uint32_t x = 2463534242u;
    for (char& c : bytes) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        c = char(x);
    }
    return bytes;
}

// The regular files under folder, relative to it; none when it does not exist.
Names FilesUnder(const std::string& folder)
{
    Names files;
    if (fs::exists(folder))
        for (const auto& item : fs::recursive_directory_iterator(folder))
            if (item.is_regular_file())
                files.insert(fs::relative(item.path(), folder).string());
    return files;
}

// The stored names of an archive as our reader sees them.
Names OurEntries(const std::string& archive)
{
    TZipReader reader;
    reader.SetZipName(archive);
    reader.ReadArchive();
    Names names;
    for (int i = 0; i < reader.EntryCount(); ++i)
        names.insert(reader.EntryFolder(i) + reader.EntryName(i));
    return names;
}

// The stored names of an archive as unzip sees them; unzip must also find
// every entry's data intact.
Names UnzipEntries(const std::string& archive)
{
    std::string out;
    EXPECT_EQ(testing_support::Run("unzip -tqq '" + archive + "'", &out), 0) << out;
    EXPECT_EQ(testing_support::Run("unzip -Z1 '" + archive + "'", &out), 0) << out;
    Names names;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        names.insert(line);
    return names;
}

// The files this process has open.
size_t OpenFiles()
{
    return size_t(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

class ExtractDeleteRuns : public ::testing::Test {
protected:
    void SetUp() override
    {
        job.OnArchive = [this](const ParArchiveProgress& p) {
            const char* states[] = {"started ", "done ", "failed "};
            told.push_back(states[int(p.state)] + std::to_string(p.index) + "/" + std::to_string(p.count) + " " +
                           p.archive + p.error);
        };
    }
    void TearDown() override { platform::InstalledHooks() = {}; }

    // What OnArchive tells of a run over archives that all succeed.
    static std::vector<std::string> StartedThenDone(const std::vector<std::string>& archives)
    {
        std::vector<std::string> lines;
        for (size_t i = 0; i < archives.size(); ++i)
            for (const char* state : {"started ", "done "})
                lines.push_back(state + std::to_string(i) + "/" + std::to_string(archives.size()) + " " + archives[i]);
        return lines;
    }

    ParUnCompress Options(const std::string& folder)
    {
        ParUnCompress options;
        options.destination = dir / folder + "/";
        options.useStoredPaths = true;
        options.overwriteMode = TUZOverwriteMode::Always;
        return options;
    }

    TempDir dir;
    TExtractAndView job;
    std::vector<std::string> told;  // by OnArchive
};

// One bad archive costs only itself: the run reports it with its reason and
// goes on with the next one. No archive stays open after a run, good or bad.
TEST_F(ExtractDeleteRuns, ExtractAllGoesOnPastBadArchives)
{
    const std::string first = MakeArchive(dir, "first.zip", {{"one.txt", "1"}, {"sub/two.txt", "22"}});
    const std::string third = MakeArchive(dir, "third.zip", {{"three.txt", "333"}});
    const std::string text = CorpusDir() + "/bad/text-named-zip.zip";
    std::vector<std::string> failures;
    job.OnArchive = [&](const ParArchiveProgress& p) {
        if (p.state == ParArchiveProgress::State::Failed)
            failures.push_back(p.archive + ": " + p.error);
    };
    const size_t open = OpenFiles();
    EXPECT_EQ(job.ExtractAll({first, text, dir / "missing.zip", third}, Options("out")), 2u);
    EXPECT_EQ(OpenFiles(), open);
    EXPECT_EQ(failures, (std::vector<std::string>{text + ": Incomplete Zip File",
                                                  dir / "missing.zip" + ": Cannot open file " + dir / "missing.zip"}));
    EXPECT_EQ(FilesUnder(dir / "out"), (Names{"one.txt", "sub/two.txt", "three.txt"}));
    EXPECT_EQ(ReadFile(dir / "out/three.txt"), "333");
    EXPECT_EQ(job.TestArchives({third, text, first}, ""), 1u);
    EXPECT_EQ(OpenFiles(), open);
}

TEST_F(ExtractDeleteRuns, StoredPathsOnAndOff)
{
    const std::string archive = MakeArchive(dir, "paths.zip", {{"top.txt", "t"}, {"dir/sub/deep.txt", "d"}});
    ParUnCompress options = Options("kept");
    job.ExtractAll({archive}, options);
    EXPECT_EQ(FilesUnder(dir / "kept"), (Names{"top.txt", "dir/sub/deep.txt"}));

    options = Options("flat");
    options.useStoredPaths = false;
    job.ExtractAll({archive}, options);
    EXPECT_EQ(FilesUnder(dir / "flat"), (Names{"top.txt", "deep.txt"}));
    EXPECT_EQ(ReadFile(dir / "flat/deep.txt"), "d");
}

// Each archive gets a folder named after it under the destination, and no
// archive name can lead out of the destination.
TEST_F(ExtractDeleteRuns, SubfolderPerArchive)
{
    const std::vector<std::string> archives{MakeArchive(dir, "x/a/b.zip", {{"in-b", "b"}}),
                                            MakeArchive(dir, "photos.2006.zip", {{"in-photos", "p"}}),
                                            MakeArchive(dir, "x/...zip", {{"in-dots", "."}}),
                                            MakeArchive(dir, "x/..zip", {{"in-dot", "."}})};
    ParUnCompress options = Options("out/dest");
    options.subfolderPerArchive = true;
    job.ExtractAll(archives, options);
    EXPECT_EQ(FilesUnder(dir / "out"),
              (Names{"dest/b/in-b", "dest/photos.2006/in-photos", "dest/...zip/in-dots", "dest/..zip/in-dot"}));
    EXPECT_EQ(told, StartedThenDone(archives));
}

// Only the named entries come out, even where a stored name holds the
// engine's wildcard characters, differs from another only in case, or also
// names an entry in another folder.
TEST_F(ExtractDeleteRuns, ExtractSelectedTakesExactlyEachGroupsEntries)
{
    const std::string one = MakeArchive(dir, "one.zip",
        {{"a.txt", "a"}, {"b.txt", "b"}, {"<b>.txt", "<b>"}, {"dir/a.txt", "dir a"}, {"dir/c.txt", "c"}});
    const std::string two = MakeArchive(dir, "two.zip",
        {{"x.txt", "x"}, {"y.txt", "y"}, {"Y.TXT", "Y"}, {"w?ld.txt", "w?"}, {"W?LD.TXT", "W?"}, {"wild.txt", "wi"},
         {"s*.txt", "s*"}, {"star.txt", "st"}});
    job.ExtractSelected({{one, {"<b>.txt", "dir/a.txt"}}, {two, {"w?ld.txt", "s*.txt", "y.txt"}}}, Options("out"));
    EXPECT_EQ(FilesUnder(dir / "out"), (Names{"<b>.txt", "dir/a.txt", "w?ld.txt", "s*.txt", "y.txt"}));
    EXPECT_EQ(ReadFile(dir / "out/dir/a.txt"), "dir a");
    EXPECT_EQ(ReadFile(dir / "out/w?ld.txt"), "w?");
    EXPECT_EQ(told, StartedThenDone({one, two}));
}

TEST_F(ExtractDeleteRuns, PasswordComesFromTheOptions)
{
    const std::string archive = MakeArchive(dir, "locked.zip", {{"secret.txt", "hidden words"}}, "-P 'pass word'");
    ParUnCompress options = Options("right");
    options.password = "pass word";
    job.ExtractAll({archive}, options);
    EXPECT_EQ(ReadFile(dir / "right/secret.txt"), "hidden words");

    // An empty password is none, not the one of an earlier run.
    options = Options("none");
    job.ExtractAll({archive}, options);
    EXPECT_EQ(FilesUnder(dir / "none"), Names{});

    options = Options("wrong");
    options.password = "pass";
    job.ExtractAll({archive}, options);
    EXPECT_EQ(FilesUnder(dir / "wrong"), Names{});
}

// Cancels a run at every pump in turn. A cancel seen by the job between
// archives ends the run quietly with the earlier archives done; one that
// reaches the engine in the middle of an archive ends it with EUserCanceled.
// Either way nothing runs on after the cancel. check gets the number of
// archives done at a quiet end, nothing when the engine stopped the run.
void CancelAtEveryPump(const std::function<void(TExtractAndView&)>& run, size_t archives,
                       const std::function<void(std::optional<size_t> done)>& check)
{
    int pumps = 0;
    int cancelAt = 0;  // none while counting
    TExtractAndView* cancelled = nullptr;
    platform::InstalledHooks().PumpMessages = [&] {
        if (++pumps == cancelAt)
            cancelled->Cancel();
    };
    TExtractAndView counting;
    run(counting);
    const int total = pumps;

    size_t quiet = 0;
    size_t stopped = 0;
    for (int n = 1; n <= total; ++n) {
        SCOPED_TRACE("cancel at pump " + std::to_string(n));
        TExtractAndView job;
        cancelled = &job;
        cancelAt = n;
        pumps = 0;
        std::optional<size_t> done;
        try {
            run(job);
            done = quiet++;
        } catch (const EUserCanceled& e) {
            EXPECT_EQ(e.Message(), "User Aborted Operation");
            ++stopped;
        }
        EXPECT_EQ(pumps, n) << "the run went on after the cancel";
        cancelAt = 0;
        check(done);
    }
    platform::InstalledHooks().PumpMessages = nullptr;
    EXPECT_EQ(quiet, archives) << "one quiet end before each archive";
    EXPECT_GT(stopped, 0u) << "the engine never saw the cancel";
}

TEST_F(ExtractDeleteRuns, CancelDuringExtraction)
{
    const std::vector<std::string> names{"a", "b", "c"};
    const std::string big = Noise(100000);  // several chunks of entry data
    std::vector<std::string> archives;
    for (const std::string& name : names)
        archives.push_back(MakeArchive(dir, name + ".zip", {{"in/" + name + "1", big}, {name + "2", "y"}}));
    ParUnCompress options = Options("out");
    options.subfolderPerArchive = true;
    // A wait for a worker lets messages through as time passes: only one
    // thread gives every run the same pumps to cancel at.
    options.threads = 1;

    CancelAtEveryPump(
        [&](TExtractAndView& runner) {
            fs::remove_all(dir / "out");
            runner.ExtractAll(archives, options);
        },
        archives.size(),
        [&](std::optional<size_t> done) {
            // Whatever was cut short is gone, not left behind with a wrong content.
            for (const std::string& file : FilesUnder(dir / "out"))
                EXPECT_TRUE(ReadFile(dir / ("out/" + file)) == (file.back() == '1' ? big : "y"))
                    << file << " is left with a wrong content";
            // Nor are the folders the run made for it, the destination too.
            if (fs::exists(dir / "out")) {
                EXPECT_FALSE(fs::is_empty(dir / "out"));
                for (const auto& item : fs::recursive_directory_iterator(dir / "out"))
                    EXPECT_FALSE(item.is_directory() && fs::is_empty(item.path())) << item.path() << " is left empty";
            }
            if (!done)
                return;
            Names expected;
            for (size_t i = 0; i < *done; ++i)
                expected.insert({names.at(i) + "/in/" + names[i] + "1", names[i] + "/" + names[i] + "2"});
            EXPECT_EQ(FilesUnder(dir / "out"), expected);
        });
}

// Only the named entries go: a name at the top does not take the same name
// in a folder or at the root, nor a name that differs only in case, nor does
// a name holding wildcard characters take its matches. Two entries of one
// name chosen both go.
TEST_F(ExtractDeleteRuns, DeleteSelectedRemovesExactlyTheNamedEntries)
{
    const std::string one = MakeArchive(dir, "one.zip",
        {{"readme.txt", "r"}, {"docs/readme.txt", "dr"}, {"w?ld.txt", "w?"}, {"W?LD.TXT", "W?"}, {"wild.txt", "wi"},
         {"docs/w?ld.txt", "dw?"}, {"<b>.txt", "<b>"}, {"b.txt", "b"}});
    const std::string two = MakeArchive(dir, "two.zip",
        {{"x.txt", "x"}, {"y.txt", "y"}, {"z/z.txt", "z"}, {"z/s*.txt", "s*"}, {"z/star.txt", "st"}});
    const std::string three = dir / "three.zip";
    testing_support::WriteFile(three, testing_support::AssembleZip({{"File?.txt", "f"}, {"/File?.txt", "/f"},
                                                                    {"FILE?.TXT", "F"}, {"keep.txt", "k"},
                                                                    {"twice", "1"}, {"twice", "2"}}));
    job.DeleteSelected({{one, {"readme.txt", "w?ld.txt", "<b>.txt"}},
                        {two, {"z/z.txt", "x.txt", "z/s*.txt"}},
                        {three, {"File?.txt", "twice", "twice"}}});

    const Names restOfOne{"docs/readme.txt", "W?LD.TXT", "wild.txt", "docs/w?ld.txt", "b.txt"};
    EXPECT_EQ(OurEntries(one), restOfOne);
    EXPECT_EQ(UnzipEntries(one), restOfOne);
    const Names restOfTwo{"y.txt", "z/star.txt"};
    EXPECT_EQ(OurEntries(two), restOfTwo);
    EXPECT_EQ(UnzipEntries(two), restOfTwo);
    EXPECT_EQ(OurEntries(three), (Names{"/File?.txt", "FILE?.TXT", "keep.txt"}));
    EXPECT_EQ(told, StartedThenDone({one, two, three}));
}

// A cancel never leaves an archive damaged: each one still holds all its
// entries or has lost exactly the chosen ones.
TEST_F(ExtractDeleteRuns, CancelDuringDeletion)
{
    const Names full{"keep", "drop1", "drop2"};
    const ParArrayOfToUnZip groups{{dir / "a.zip", {"drop1", "drop2"}}, {dir / "b.zip", {"drop1", "drop2"}}};

    CancelAtEveryPump(
        [&](TExtractAndView& runner) {
            for (const std::string name : {"a.zip", "b.zip"}) {
                fs::remove(dir / name);
                MakeArchive(dir, name, {{"keep", Noise(100000)}, {"drop1", "1"}, {"drop2", "2"}});
            }
            runner.DeleteSelected(groups);
        },
        groups.size(),
        [&](std::optional<size_t> done) {
            for (size_t i = 0; i < groups.size(); ++i) {
                SCOPED_TRACE(groups[i].archive);
                const Names entries = UnzipEntries(groups[i].archive);
                if (done)
                    EXPECT_EQ(entries, i < *done ? Names{"keep"} : full);
                else
                    EXPECT_TRUE(entries == full || entries == Names{"keep"});
                EXPECT_EQ(OurEntries(groups[i].archive), entries);
            }
        });
}

// A deletion from an archive of 100,000 entries lets messages through at
// every entry, tells its percent as it goes and its archive's start and end;
// a cancel at any of its polls stops it there with the archive as it was.
TEST_F(ExtractDeleteRuns, ALargeDeletionShowsItsPercentAndStopsAtAnyPoll)
{
    constexpr int Entries = 100000;
    std::vector<testing_support::RawEntry> entries;
    for (int i = 0; i < Entries; ++i)
        entries.push_back({"e" + std::to_string(i), "x"});
    const std::string archive = dir / "large.zip";
    testing_support::WriteFile(archive, testing_support::AssembleZip(entries));
    const std::string before = ReadFile(archive);
    const ParArrayOfToUnZip groups{{archive, {"e1", "e50000", "e99999"}}};

    int pumps = 0, cancelAt = 0;
    std::vector<int> percents;
    std::vector<ParArchiveProgress::State> states;
    const auto run = [&](TExtractAndView& runner) {
        pumps = 0;
        percents.clear();
        states.clear();
        platform::InstalledHooks().PumpMessages = [&] {
            if (++pumps == cancelAt)
                runner.Cancel();
        };
        runner.Engine().OnTotalPercentDone = [&](TZipReader&, int percent) { percents.push_back(percent); };
        runner.OnArchive = [&](const ParArchiveProgress& p) { states.push_back(p.state); };
        runner.DeleteSelected(groups);
    };

    {
        TExtractAndView counting;
        run(counting);
    }
    const int total = pumps;
    EXPECT_GE(total, 2 * Entries) << "reading the directory and carrying entries over poll at every entry";
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(std::set<int>(percents.begin(), percents.end()).size(), 101u) << "0 to 100, every step";
    EXPECT_EQ(percents.back(), 100);
    using State = ParArchiveProgress::State;
    EXPECT_EQ(states, (std::vector<State>{State::Started, State::Done}));
    const Names left = OurEntries(archive);
    EXPECT_EQ(left.size(), size_t(Entries - 3));
    EXPECT_FALSE(left.count("e50000"));

    for (const int at : {2, total / 2, total}) {
        SCOPED_TRACE("cancel at poll " + std::to_string(at));
        testing_support::WriteFile(archive, before);
        cancelAt = at;
        TExtractAndView job;
        EXPECT_THROW(run(job), EUserCanceled);
        EXPECT_EQ(pumps, at) << "the run went on after the cancel";
        EXPECT_EQ(states, (std::vector<State>{State::Started, State::Failed}));
        EXPECT_TRUE(ReadFile(archive) == before) << "the archive changed";
    }
    EXPECT_EQ(FilesUnder(dir.Path()), Names{"large.zip"}) << "a temporary file was left behind";
}

}  // namespace

// A directory the engine rebuilt from the local headers is no listing of
// the archive unless the caller says to take it (RebuildDamaged): without,
// each run fails on it and nothing is written or rewritten; with, each run
// works on the entries of the local headers and says the directory was
// rebuilt, of that archive alone.
TEST_F(ExtractDeleteRuns, ADamagedDirectoryFailsEveryRunOrIsRebuiltWhenAsked)
{
    const std::string good = MakeArchive(dir, "good.zip", {{"g.txt", "g"}});
    const std::string missing = dir / "missing.zip";
    for (const bool rebuild : {false, true})
        for (const char* name : {"central-dir-zeroed.zip", "overlap-two-names-one-local.zip"}) {
            SCOPED_TRACE(std::string(name) + (rebuild ? " rebuilt" : ""));
            const std::string archive = dir / name;
            const std::string bytes = ReadFile(CorpusDir() + "/bad/" + name);
            testing_support::WriteFile(archive, bytes);
            job.RebuildDamaged = rebuild;
            ParArrayOfFileDetail rows;
            const std::function<void()> runs[] = {
                [&] { job.ListArchives(rows, {archive, missing, good}); },
                [&] { job.ExtractAll({archive, missing, good}, Options("out")); },
                [&] { job.ExtractSelected({{archive, {"a.txt"}}, {missing, {}}, {good, {"g.txt"}}}, Options("out")); },
                [&] { job.TestArchives({archive, missing, good}, ""); },
                [&] { job.DeleteSelected({{archive, {"a.txt"}}, {missing, {}}, {good, {"none"}}}); },
            };
            for (const auto& run : runs) {
                std::string error;
                std::vector<bool> rebuilt;  // as each archive ended
                job.OnArchive = [&](const ParArchiveProgress& p) {
                    if (p.state == ParArchiveProgress::State::Failed && p.archive != missing)
                        error = p.error;
                    if (p.state != ParArchiveProgress::State::Started)
                        rebuilt.push_back(p.rebuilt);
                };
                run();
                EXPECT_EQ(error, rebuild ? "" : archive + ": its directory is damaged");
                EXPECT_EQ(rebuilt, (std::vector<bool>{rebuild, false, false}));
            }
            if (!rebuild) {
                EXPECT_FALSE(fs::exists(dir / "out/a.txt"));
                EXPECT_EQ(ReadFile(archive), bytes);
                continue;
            }
            EXPECT_EQ(rows.size(), 4u);
            EXPECT_EQ(ReadFile(dir / "out/a.txt").size(), 3000u);
            EXPECT_EQ(job.EntriesRemoved(), 1u);
            EXPECT_EQ(UnzipEntries(archive), (Names{"b.bin", "c.txt"}));
            fs::remove_all(dir / "out");
        }
}
