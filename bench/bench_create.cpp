// Creating an archive of a mixed tree (about 300 MB from make-corpus) at
// level 7: TZipWriter against `zip -7` and `7zz -mx=7` (one thread), and
// against the limit: raw deflate of the same files at the same settings,
// read in 64 KB blocks, with nothing written. Best of three runs each; the
// time ratios to zip and to the limit and the compressed bytes against the
// limit's are printed. Then the peak memory growth while one 1 GB file is
// zipped.
//
// Usage: bench_create [scratch folder]   (default: the temporary folder)
// The tree and the 1 GB file are made once and kept for later runs.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

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
#include <zlib.h>

#include "bench/BenchSupport.h"
#include "engine/ZipWriter.h"
#include "platform/Files.h"

namespace {

using bench::BestSeconds;
using bench::Shell;

namespace fs = std::filesystem;

constexpr int Level = 7;

long PeakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The input tree, made by make-corpus unless it is complete from an earlier run.
// 1 GB of text and noise in turns, made unless it is there.
std::string BigFile(const std::string& root)
{
    const std::string name = root + "/big.bin";
    if (fs::exists(name))
        return name;
    std::string block(1 << 20, '\0');
    uint32_t x = 1;
    {
        std::ofstream out(name + ".tmp", std::ios::binary);
        for (int mb = 0; mb < 1000; ++mb) {
            for (size_t i = 0; i < block.size(); ++i)
                block[i] = mb % 2 ? char((x = x * 1103515245 + 12345) >> 23) : char('a' + (i * 7 + mb) % 26);
            out.write(block.data(), std::streamsize(block.size()));
        }
    }
    fs::rename(name + ".tmp", name);
    return name;
}

// Zips items into a new archive at level 7; returns the archive's size.
uint64_t ZipOurs(TZipWriter& w, const std::string& zip, const std::vector<std::string>& items)
{
    fs::remove(zip);
    w.ResetArchive();
    w.SetZipName(zip);
    w.FilesList = items;
    w.PackLevel = Level;
    if (w.Zip() == 0) {
        std::fprintf(stderr, "nothing zipped into %s\n", zip.c_str());
        std::exit(1);
    }
    return fs::file_size(zip);
}

// Raw deflate of each file, read in 64 KB blocks; returns the compressed bytes.
uint64_t DeflateLimit(const std::vector<std::string>& files)
{
    std::vector<unsigned char> in(65536), out(65536);
    uint64_t total = 0;
    for (const std::string& file : files) {
        const int fd = open(file.c_str(), O_RDONLY);
        if (fd < 0) {
            std::perror(file.c_str());
            std::exit(1);
        }
        z_stream z{};
        deflateInit2(&z, Level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
        int flush = Z_NO_FLUSH;
        do {
            const ssize_t n = read(fd, in.data(), in.size());
            flush = n > 0 ? Z_NO_FLUSH : Z_FINISH;
            z.next_in = in.data();
            z.avail_in = uInt(std::max<ssize_t>(n, 0));
            do {
                z.next_out = out.data();
                z.avail_out = uInt(out.size());
                deflate(&z, flush);
                total += out.size() - z.avail_out;
            } while (z.avail_out == 0);
        } while (flush != Z_FINISH);
        deflateEnd(&z);
        close(fd);
    }
    return total;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string root = (argc > 1 ? std::string(argv[1]) : platform::TempDirectory()) + "/zamblok-bench-create";
    fs::create_directories(root);
    const std::string zip = root + "/out.zip";

    const std::string big = BigFile(root);
    // The peak starts again at the present size (Linux), so that its growth is the zip's.
    std::ofstream("/proc/self/clear_refs") << "5";
    const long rssBefore = PeakRssKb();
    TZipWriter bigWriter;
    auto t0 = std::chrono::steady_clock::now();
    ZipOurs(bigWriter, zip, {big});
    const double bigSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const long rssGrowth = PeakRssKb() - rssBefore;

    const std::string tree = bench::Tree(root);
    std::vector<std::string> files;
    uint64_t treeBytes = 0;
    for (const auto& e : fs::recursive_directory_iterator(tree))
        if (e.is_regular_file()) {
            files.push_back(e.path().string());
            treeBytes += e.file_size();
        }
    std::sort(files.begin(), files.end());

    uint64_t ours = 0, zipBytes = 0, sevenBytes = 0, limitBytes = 0;
    TZipWriter w;
    w.Recurse = true;
    w.SetStorePaths(true);
    w.SetIncludeHiddenFiles(true);  // the tree has a .config folder, which zip and 7zz take too
    const double oursS = BestSeconds([&] { ours = ZipOurs(w, zip, {tree + "/*"}); });
    uint64_t oursData = 0;
    for (int i = 0; i < w.EntryCount(); ++i)
        oursData += w.EntryInfo(i).CompressedSize();
    const double zipS = BestSeconds([&] {
        fs::remove(zip);
        Shell("cd '" + root + "' && zip -7 -r -q out.zip tree");
        zipBytes = fs::file_size(zip);
    });
    const double sevenS = BestSeconds([&] {
        fs::remove(zip);
        Shell("cd '" + root + "' && 7zz a -tzip -mx=7 -mmt=1 out.zip tree > /dev/null");
        sevenBytes = fs::file_size(zip);
    });
    const double limitS = BestSeconds([&] { limitBytes = DeflateLimit(files); });
    fs::remove(zip);

    std::printf("input: %zu files, %.1f MB; level %d, best of 3\n", files.size(), treeBytes / 1e6, Level);
    std::printf("%-10s %8s %14s %9s %9s\n", "", "seconds", "bytes", "x zip", "x limit");
    auto row = [&](const char* name, double s, uint64_t bytes) {
        std::printf("%-10s %8.3f %14llu %9.3f %9.3f\n", name, s, (unsigned long long)bytes, s / zipS, s / limitS);
    };
    row("zamblok", oursS, ours);
    row("zip -7", zipS, zipBytes);
    row("7zz -mx=7", sevenS, sevenBytes);
    row("limit", limitS, limitBytes);
    std::printf("compressed bytes against the limit's: archive %+.3f%%, entry data %+.3f%% (target: archive within 1%%)\n",
                100.0 * (double(ours) - double(limitBytes)) / double(limitBytes),
                100.0 * (double(oursData) - double(limitBytes)) / double(limitBytes));
    std::printf("targets: faster than zip -7 %s, within 1.1x of the limit's time %s, archive within 1%% %s\n",
                oursS < zipS ? "met" : "MISSED", oursS <= 1.1 * limitS ? "met" : "MISSED",
                double(ours) <= 1.01 * double(limitBytes) ? "met" : "MISSED");
    std::printf("1 GB file: %.2f s, peak RSS growth %ld KB\n", bigSeconds, rssGrowth);
    return 0;
}
