// Reads one 256 MB file through TLFNFileStream in 32 KB and in 1-byte reads
// and through plain read() in 32 KB reads, from the page cache, and prints
// each rate and its time as a multiple of read()'s. Best of five runs each.
//
// Usage: bench_stream_read [scratch folder]   (default: the temporary folder)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/BufferStream.h"
#include "platform/Files.h"

namespace {

constexpr int64_t FileSize = 256ll << 20;
constexpr int64_t Chunk = 32 << 10;

double BestSeconds(const std::function<int64_t()>& run)
{
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        int64_t got = run();
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (got != FileSize) {
            std::fprintf(stderr, "read %lld bytes, expected %lld\n", (long long)got, (long long)FileSize);
            std::exit(1);
        }
        best = std::min(best, s);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string dir = argc > 1 ? std::string(argv[1]) + "/" : platform::TempDirectory();
    std::string name = platform::MakeTempFileName(dir);
    {
        std::vector<char> block(Chunk);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = char(i * 131 + 7);
        int fd = ::open(name.c_str(), O_WRONLY | O_TRUNC);
        for (int64_t done = 0; done < FileSize; done += Chunk)
            if (::write(fd, block.data(), block.size()) != Chunk)
                return 1;
        ::close(fd);
    }
    std::vector<char> buf(Chunk);

    double raw = BestSeconds([&] {
        int fd = ::open(name.c_str(), O_RDONLY);
        int64_t total = 0;
        for (ssize_t n; (n = ::read(fd, buf.data(), buf.size())) > 0;)
            total += n;
        ::close(fd);
        return total;
    });
    double stream32k = BestSeconds([&] {
        TLFNFileStream s(name, 8192, false, platform::fmOpenRead | platform::fmShareDenyWrite);
        int64_t total = 0;
        for (int64_t n; (n = s.Read(buf.data(), Chunk)) > 0;)
            total += n;
        return total;
    });
    double stream1 = BestSeconds([&] {
        TLFNFileStream s(name, 8192, false, platform::fmOpenRead | platform::fmShareDenyWrite);
        int64_t total = 0;
        while (s.Read(buf.data(), 1) == 1)
            ++total;
        return total;
    });
    platform::DeleteFile(name);

    auto mbps = [](double s) { return double(FileSize) / (1 << 20) / s; };
    std::printf("%-34s %9s %9s\n", "256 MB from the page cache", "MB/s", "time x");
    std::printf("%-34s %9.0f %9.2f\n", "read(), 32 KB", mbps(raw), 1.0);
    std::printf("%-34s %9.0f %9.2f\n", "TLFNFileStream, 32 KB reads", mbps(stream32k), stream32k / raw);
    std::printf("%-34s %9.0f %9.2f\n", "TLFNFileStream, 1-byte reads", mbps(stream1), stream1 / raw);
    return 0;
}
