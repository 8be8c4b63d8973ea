// An extraction and a creation at the same time, each on a thread of its own
// with its own job, as the window runs them: neither disturbs the other.
#include <exception>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "jobs/UnitViewFile.h"
#include "jobs/UnitZip.h"
#include "platform/Hooks.h"
#include "tests/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::TempDir;
using Tree = std::map<std::string, std::string>;

// The files under folder by path relative to it, with their contents.
Tree FilesUnder(const std::string& folder)
{
    Tree tree;
    for (const auto& item : fs::recursive_directory_iterator(folder))
        if (item.is_regular_file())
            tree[fs::relative(item.path(), folder).string()] = ReadFile(item.path().string());
    return tree;
}

// A tree of text and of data that does not compress, some of it in files
// large enough to be deflated in blocks.
void MakeTree(const std::string& root, uint32_t seed)
{
    for (int i = 0; i < 12; ++i) {
        std::string text;
        for (int line = 0; line < 2000 * (i + 1); ++line)
            text += "line " + std::to_string(line) + " of file " + std::to_string(i) + "\n";
        testing_support::WriteFile(root + "/text/t" + std::to_string(i) + ".txt", text);
        std::string noise(size_t(50000) << (i % 4), '\0');
        for (char& c : noise)
            c = char((seed = seed * 1103515245 + 12345) >> 23);
        testing_support::WriteFile(root + "/noise/n" + std::to_string(i) + ".bin", noise);
    }
}

// Each run installs a poll of its own thread, as the window does; each
// counts only its own polls.
template <class Job, class Work>
std::thread RunOnThread(Job& job, int& polls, std::exception_ptr& failure, Work work)
{
    return std::thread([&job, &polls, &failure, work] {
        platform::ThreadPoll poll([&polls] { ++polls; });
        try {
            work(job);
        } catch (...) {
            failure = std::current_exception();
        }
    });
}

TEST(ConcurrentRuns, AnExtractionAndACreationRunSideBySide)
{
    TempDir dir;
    MakeTree(dir / "old", 7);
    MakeTree(dir / "new", 11);
    ParCompress compress;
    compress.storePaths = true;
    compress.includeSubfolders = true;
    compress.threads = 2;
    ParZipName naming{true, 1, dir / "", false, "old", 2};
    TZipFile maker;
    maker.CreateArchives({dir / "old/*"}, naming, compress);
    std::vector<std::string> made;
    maker.CopyCreatedArchives(made);
    ASSERT_EQ(made, std::vector<std::string>{dir / "old.zip"});

    ParUnCompress extracting;
    extracting.destination = dir / "out/";
    extracting.useStoredPaths = true;
    extracting.overwriteMode = TUZOverwriteMode::Always;
    extracting.threads = 2;
    compress.password = "side by side";
    compress.encryption = TEncryption::Aes256;
    naming.baseName = "new";

    TExtractAndView extraction;
    TZipFile creation;
    int extractionPolls = 0, creationPolls = 0;
    std::exception_ptr extractionFailure, creationFailure;
    std::thread extract = RunOnThread(extraction, extractionPolls, extractionFailure, [&](TExtractAndView& job) {
        job.ExtractAll({dir / "old.zip"}, extracting);
    });
    std::thread create = RunOnThread(creation, creationPolls, creationFailure, [&](TZipFile& job) {
        job.CreateArchives({dir / "new/*"}, naming, compress);
    });
    extract.join();
    create.join();
    for (const std::exception_ptr& failure : {extractionFailure, creationFailure})
        if (failure)
            std::rethrow_exception(failure);
    EXPECT_GT(extractionPolls, 0);
    EXPECT_GT(creationPolls, 0);

    // The extraction gave the files the old archive was made of, the
    // creation an archive that gives back the new files.
    const std::string stored = fs::relative(dir / "old", "/").string();
    EXPECT_EQ(FilesUnder(dir / ("out/" + stored)), FilesUnder(dir / "old"));
    creation.CopyCreatedArchives(made);
    ASSERT_EQ(made, std::vector<std::string>{dir / "new.zip"});
    extracting.destination = dir / "back/";
    extracting.password = compress.password;
    TExtractAndView reading;
    reading.ExtractAll({dir / "new.zip"}, extracting);
    EXPECT_EQ(FilesUnder(dir / ("back/" + fs::relative(dir / "new", "/").string())), FilesUnder(dir / "new"));
}

}  // namespace
