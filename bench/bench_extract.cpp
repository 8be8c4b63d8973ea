// Extracts a mixed tree of about 300 MB (made by shared/bench/make-corpus and
// zipped once with `zip -7`) into an empty folder with TZipReader::UnZip,
// `unzip -q -o`, `7zz x -y` and "the limit" (zlib raw inflate of each
// entry's compressed bytes, read into memory, plus writing the file), best of
// three each, and prints the wall and processor seconds with their ratios to
// unzip and to the limit. Then extracts a 1 GiB entry (zip -1) in a fresh process and prints
// the growth of its peak resident size, and, when valgrind is installed, the
// heap peak that massif sees. The inputs are made once and kept.
//
// Usage: bench_extract [scratch folder]   (default: the temporary folder)
//        bench_extract --peak <archive> <folder>   (the 1 GiB step alone)

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

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
#include "engine/ZipReader.h"
#include "platform/Files.h"

namespace {

using bench::BestSeconds;
using bench::Shell;

namespace fs = std::filesystem;

std::string Output(const std::string& command)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    pclose(p);
    return out;
}

// User and system time of this process and its finished children.
double CpuSeconds()
{
    double s = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage u{};
        getrusage(who, &u);
        s += double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    }
    return s;
}

struct Times {
    double wall = 1e9, cpu = 1e9;
};

// The best of three runs, by wall and by processor time (the disk of a
// virtual machine makes the wall time noisy); before each, the output folder
// is emptied and the disk flushed, untimed.
Times Best(const std::string& out, const std::function<void()>& run)
{
    Times best;
    for (int i = 0; i < 3; ++i) {
        fs::remove_all(out);
        fs::create_directories(out);
        Shell("sync");
        const auto t0 = std::chrono::steady_clock::now();
        const double c0 = CpuSeconds();
        run();
        best.cpu = std::min(best.cpu, CpuSeconds() - c0);
        best.wall = std::min(best.wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

// Every file under dir and their bytes.
std::pair<size_t, uintmax_t> Tally(const std::string& dir)
{
    std::pair<size_t, uintmax_t> t{0, 0};
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) {
            ++t.first;
            t.second += e.file_size();
        }
    return t;
}

std::string TreeArchive(const std::string& root)
{
    const std::string zip = root + "/tree.zip";
    if (fs::exists(zip))
        return zip;
    const std::string tree = bench::Tree(root);
    Shell("cd '" + tree + "' && zip -7 -r -q ../tree.zip.tmp .");
    fs::rename(zip + ".tmp", zip);
    return zip;
}

// An archive of one 1 GiB file of mixed blocks (random, text, zeros, a ramp).
std::string HugeArchive(const std::string& root)
{
    const std::string zip = root + "/huge.zip";
    if (fs::exists(zip))
        return zip;
    std::printf("making the 1 GiB entry...\n");
    std::fflush(stdout);
    fs::create_directories(root + "/huge");
    {
        std::ofstream file(root + "/huge/big.bin", std::ios::binary | std::ios::trunc);
        std::string block(1 << 20, '\0');
        uint64_t x = 88172645463325252ull;
        static const char* words[] = {"lorem ", "ipsum ", "dolor ", "sit ", "amet, ", "consectetur\n"};
        for (int b = 0; b < 1024; ++b) {
            switch (b % 4) {
            case 0:
                for (char& c : block)
                    c = char((x ^= x << 13, x ^= x >> 7, x ^= x << 17) >> 56);
                break;
            case 1:
                block.clear();
                while (block.size() < (1u << 20))
                    block += words[(x ^= x << 13, x ^= x >> 7, x ^= x << 17) % 6];
                block.resize(1 << 20);
                break;
            case 2: std::fill(block.begin(), block.end(), '\0'); break;
            case 3:
                for (size_t i = 0; i < block.size(); ++i)
                    block[i] = char(i * 7 + b);
                break;
            }
            file.write(block.data(), std::streamsize(block.size()));
        }
    }
    Shell("cd '" + root + "/huge' && zip -1 -q ../huge.zip.tmp big.bin");
    fs::remove_all(root + "/huge");
    fs::rename(zip + ".tmp", zip);
    return zip;
}

int UnZipAll(const std::string& zip, const std::string& out)
{
    TZipReader r;
    r.SetZipName(zip);
    r.SetDestDir(out);
    r.DoAll = true;
    r.RecreateDirs = true;
    r.OverwriteMode = TUZOverwriteMode::Always;
    return r.UnZip();
}

struct Entry {
    std::string name;
    uint64_t offset, compressed, size;
    int method;
};

std::vector<Entry> Entries(const std::string& zip)
{
    TZipReader r;
    r.SetZipName(zip);
    r.ReadArchive();
    std::vector<Entry> entries;
    for (int i = 0; i < r.EntryCount(); ++i) {
        const TZipHeaderInfo& e = r.EntryInfo(i);
        entries.push_back({r.EntryFolder(i) + r.EntryName(i), e.LocalHeaderOffset(), e.CompressedSize(),
                           e.UncompressedSize(), e.CompressionMethod});
    }
    return entries;
}

void ReadAt(int fd, void* buffer, size_t n, uint64_t at)
{
    if (pread(fd, buffer, n, off_t(at)) != ssize_t(n)) {
        std::fprintf(stderr, "short read\n");
        std::exit(1);
    }
}

// The least any extractor has to do: read each entry's bytes, inflate them in
// one call, write the file.
void Limit(const std::string& zip, const std::vector<Entry>& entries, const std::string& out)
{
    const int fd = open(zip.c_str(), O_RDONLY);
    z_stream z{};
    inflateInit2(&z, -MAX_WBITS);
    std::vector<unsigned char> in, plain;
    std::string lastFolder;
    for (const Entry& e : entries) {
        const std::string path = out + "/" + e.name;
        const std::string folder = path.substr(0, path.rfind('/'));
        if (folder != lastFolder) {
            fs::create_directories(folder);
            lastFolder = folder;
        }
        if (e.name.back() == '/')
            continue;
        unsigned char local[30];
        ReadAt(fd, local, 30, e.offset);
        in.resize(e.compressed);
        ReadAt(fd, in.data(), in.size(), e.offset + 30 + (local[26] | local[27] << 8) + (local[28] | local[29] << 8));
        const unsigned char* data = in.data();
        if (e.method == 8) {
            plain.resize(e.size);
            inflateReset(&z);
            z.next_in = in.data();
            z.avail_in = uInt(in.size());
            z.next_out = plain.data();
            z.avail_out = uInt(plain.size());
            if (inflate(&z, Z_FINISH) != Z_STREAM_END) {
                std::fprintf(stderr, "%s does not inflate\n", e.name.c_str());
                std::exit(1);
            }
            data = plain.data();
        }
        const int o = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || write(o, data, e.size) != ssize_t(e.size)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            std::exit(1);
        }
        close(o);
    }
    inflateEnd(&z);
    close(fd);
}

long StatusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::string(field).size());
    return -1;
}

// The 1 GiB step in this process: prints the growth of the peak resident size.
int Peak(const std::string& zip, const std::string& out)
{
    fs::remove_all(out);
    const long before = StatusKb("VmHWM:");
    const auto t0 = std::chrono::steady_clock::now();
    const int count = UnZipAll(zip, out);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const long after = StatusKb("VmHWM:");
    fs::remove_all(out);
    std::printf("%d file in %.2f s, peak resident size %ld KB -> %ld KB (+%ld KB)\n", count, s, before, after,
                after - before);
    return count == 1 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--peak")
        return Peak(argv[2], argv[3]);
    const std::string root = (argc > 1 ? std::string(argv[1]) : platform::TempDirectory()) + "/zamblok-bench-extract";
    fs::create_directories(root);
    const std::string zip = TreeArchive(root);
    const std::string out = root + "/out";
    const std::vector<Entry> entries = Entries(zip);
    uintmax_t bytes = 0;
    size_t files = 0;
    for (const Entry& e : entries)
        if (e.name.back() != '/') {
            bytes += e.size;
            ++files;
        }

    int count = 0;
    const Times ours = Best(out, [&] { count = UnZipAll(zip, out); });
    if (count != int(entries.size()) || Tally(out) != std::pair{files, bytes}) {
        std::fprintf(stderr, "TZipReader extracted %d of %zu entries\n", count, entries.size());
        return 1;
    }
    const Times unzip = Best(out, [&] { Shell("unzip -q -o '" + zip + "' -d '" + out + "'"); });
    const Times sevenZip = Best(out, [&] { Shell("7zz x -y -bso0 -bsp0 '" + zip + "' -o'" + out + "'"); });
    const Times limit = Best(out, [&] { Limit(zip, entries, out); });
    if (Tally(out) != std::pair{files, bytes}) {
        std::fprintf(stderr, "the limit run wrote other files\n");
        return 1;
    }
    fs::remove_all(out);

    std::printf("%zu files, %.1f MB, archive %.1f MB (zip -7)\n", files, bytes / 1e6, fs::file_size(zip) / 1e6);
    std::printf("%-30s %8s %8s %8s %8s %8s %8s\n", "into an empty folder", "wall s", "x unzip", "x limit", "cpu s",
                "x unzip", "x limit");
    auto row = [&](const char* what, const Times& t) {
        std::printf("%-30s %8.3f %8.2f %8.2f %8.3f %8.2f %8.2f\n", what, t.wall, t.wall / unzip.wall,
                    t.wall / limit.wall, t.cpu, t.cpu / unzip.cpu, t.cpu / limit.cpu);
    };
    row("TZipReader::UnZip", ours);
    row("unzip -q -o", unzip);
    row("7zz x -y", sevenZip);
    row("limit: zlib inflate + write", limit);
    std::printf("target (no slower than unzip, within 1.15x of the limit), by wall time: %s, by processor time: %s\n",
                ours.wall <= unzip.wall && ours.wall <= 1.15 * limit.wall ? "met" : "NOT met",
                ours.cpu <= unzip.cpu && ours.cpu <= 1.15 * limit.cpu ? "met" : "NOT met");

    // Memory for one huge entry, each measured in a fresh process.
    const std::string huge = HugeArchive(root);
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    std::printf("1 GiB entry (zip -1, %.1f MB): %s", fs::file_size(huge) / 1e6,
                Output("'" + self + "' --peak '" + huge + "' '" + out + "'").c_str());
    if (std::system("command -v valgrind >/dev/null 2>&1") == 0) {
        const std::string report = root + "/massif.out";
        const auto t0 = std::chrono::steady_clock::now();
        Output("valgrind --tool=massif --massif-out-file='" + report + "' '" + self + "' --peak '" + huge + "' '" +
               out + "' 2>&1");
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        long long peak = 0, heap = 0;
        std::ifstream in(report);
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("mem_heap_B=", 0) == 0)
                heap = std::atoll(line.c_str() + 11);
            else if (line.rfind("mem_heap_extra_B=", 0) == 0)
                peak = std::max(peak, heap + std::atoll(line.c_str() + 17));
        }
        std::printf("massif heap peak (with allocator overhead): %.1f KB (%.0f s under valgrind)\n", peak / 1024.0, s);
    }
    return 0;
}
