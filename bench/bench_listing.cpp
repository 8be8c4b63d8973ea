// Lists 1000 small archives (20 entries each) with TExtractAndView::ListArchives,
// with `unzip -l` in one call and with Python's zipfile in one process, and
// prints each time and its multiple of the fastest peer's. Then reads the
// directories of a 10,000-entry and a 100,000-entry archive and prints both
// times and their ratio, which is about 10 when reading is linear. Best of
// three runs each. The archives are made once and kept for later runs.
//
// Usage: bench_listing [scratch folder]   (default: the temporary folder)

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "jobs/UnitViewFile.h"
#include "platform/Files.h"

namespace {

using bench::BestSeconds;
using bench::Shell;

namespace fs = std::filesystem;

constexpr int ArchiveCount = 1000;
constexpr int EntriesPerArchive = 20;

// The folder of the 1000 small archives, made with Info-ZIP zip unless it is
// complete from an earlier run.
std::string SmallArchives(const std::string& root)
{
    const std::string dir = root + "/many";
    if (fs::exists(dir))
        return dir;
    const std::string tmp = root + "/many.tmp";
    fs::remove_all(tmp);
    fs::create_directories(tmp + "/src/sub");
    for (int i = 0; i < EntriesPerArchive; ++i) {
        std::ofstream file(tmp + "/src/" + (i % 2 ? "sub/" : "") + "file" + std::to_string(i) + ".txt");
        for (int line = 0; line <= i; ++line)
            file << "line " << line << " of file " << i << "\n";
    }
    std::printf("making %d archives with zip...\n", ArchiveCount);
    std::fflush(stdout);
    Shell("cd '" + tmp + "/src' && for i in $(seq -w 0 " + std::to_string(ArchiveCount - 1) +
          "); do zip -q -D -r ../a$i.zip . || exit 1; done");
    fs::remove_all(tmp + "/src");
    fs::rename(tmp, dir);
    return dir;
}

// An archive of tiny stored entries in 100 folders, made with Python's zipfile.
std::string BigArchive(const std::string& root, int entries)
{
    const std::string name = root + "/big" + std::to_string(entries) + ".zip";
    if (!fs::exists(name))
        Shell("python3 -c \"import os, sys, zipfile\n"
              "with zipfile.ZipFile(sys.argv[1] + '.tmp', 'w') as z:\n"
              "    for i in range(int(sys.argv[2])): z.writestr(f'd{i % 100}/f{i}.txt', b'x')\n"
              "os.replace(sys.argv[1] + '.tmp', sys.argv[1])\" '" + name + "' " + std::to_string(entries));
    return name;
}

// Reads the archive's directory and every entry's listed properties.
double ReadBig(const std::string& name, int entries)
{
    TZipReader reader;
    uint64_t walked = 0;
    const double s = BestSeconds([&] {
        reader.ResetArchive();
        reader.SetZipName(name);
        reader.ReadArchive();
        for (int i = 0; i < reader.EntryCount(); ++i)
            walked += reader.EntryName(i).size() + reader.EntryFolder(i).size() + reader.EntrySize(i) +
                      uint64_t(reader.EntryDateTime(i) > 0);
    });
    if (reader.EntryCount() != entries || walked == 0) {
        std::fprintf(stderr, "%s: read %d entries\n", name.c_str(), reader.EntryCount());
        std::exit(1);
    }
    return s;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string root = (argc > 1 ? std::string(argv[1]) : platform::TempDirectory()) + "/zamblok-bench-listing";
    fs::create_directories(root);
    const std::string dir = SmallArchives(root);

    std::vector<std::string> archives;
    for (const auto& e : fs::directory_iterator(dir))
        archives.push_back(e.path().string());
    std::sort(archives.begin(), archives.end());
    if (archives.size() != size_t(ArchiveCount)) {
        std::fprintf(stderr, "%s holds %zu archives; remove it to make them again\n", dir.c_str(), archives.size());
        return 1;
    }

    ParArrayOfFileDetail rows;
    const double ours = BestSeconds([&] {
        TExtractAndView job;
        job.ListArchives(rows, archives);
    });
    if (rows.size() != size_t(ArchiveCount * EntriesPerArchive)) {
        std::fprintf(stderr, "listed %zu rows\n", rows.size());
        return 1;
    }
    const double unzip = BestSeconds([&] { Shell("unzip -l '" + dir + "/*.zip' >/dev/null 2>&1"); });
    const double python = BestSeconds([&] {
        Shell("python3 -c \"import glob, zipfile\n"
              "for p in sorted(glob.glob('" + dir + "/*.zip')):\n"
              "    with zipfile.ZipFile(p) as z: z.infolist()\"");
    });
    const double fastest = std::min(unzip, python);
    std::printf("%-44s %9s %9s\n", "1000 archives of 20 entries", "seconds", "x fastest");
    std::printf("%-44s %9.3f %9.2f\n", "TExtractAndView::ListArchives", ours, ours / fastest);
    std::printf("%-44s %9.3f %9.2f\n", "unzip -l, one call", unzip, unzip / fastest);
    std::printf("%-44s %9.3f %9.2f\n", "python3 zipfile, one process", python, python / fastest);

    const double small = ReadBig(BigArchive(root, 10000), 10000);
    const double large = ReadBig(BigArchive(root, 100000), 100000);
    std::printf("%-44s %9.3f\n", "TZipReader, 10,000 entries", small);
    std::printf("%-44s %9.3f\n", "TZipReader, 100,000 entries", large);
    std::printf("%-44s %9.2f\n", "ratio 100,000 / 10,000 (linear: about 10)", large / small);
    return 0;
}
