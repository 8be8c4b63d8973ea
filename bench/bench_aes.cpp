// AES-256 archives of the benchmark tree (about 300 MB): `zamblok-cli zip
// --encryption aes256` against `7zz a -mem=AES256` (one thread), both at
// level 7, then each tool extracting the archive it wrote. Best of three
// runs; the ratios are Zamblok's time over 7zz's.
//
// Usage: bench_aes [scratch folder]   (default: the temporary folder)

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/BenchSupport.h"
#include "platform/Files.h"

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    const std::string root = (argc > 1 ? std::string(argv[1]) : platform::TempDirectory()) + "/zamblok-bench-aes";
    fs::create_directories(root);
    const std::string cli = fs::canonical("/proc/self/exe").parent_path().parent_path().string() + "/cli/zamblok-cli";
    const std::string tree = bench::Tree(root);
    std::ofstream(root + "/pw") << "benchmark\n";
    const auto fresh = [&](const std::string& name) {
        fs::remove_all(root + "/" + name);
        return root + "/" + name;
    };
    const double oursZip = bench::BestSeconds([&] {
        fresh("ours.zip");
        bench::Shell("cd '" + root + "' && '" + cli + "' -q zip --single --name ours --level 7 --encryption aes256 "
                     "--password-file pw 'tree/*' >/dev/null");
    });
    const double sevenZip = bench::BestSeconds([&] {
        fresh("7z.zip");
        bench::Shell("cd '" + root + "' && 7zz a -bd -tzip -mx=7 -mmt=1 -mem=AES256 -pbenchmark 7z.zip tree >/dev/null");
    });
    const double oursUnzip = bench::BestSeconds([&] {
        bench::Shell("'" + cli + "' -q extract --password-file '" + root + "/pw' --to '" + fresh("ours-out") + "' '" +
                     root + "/ours.zip' >/dev/null");
    });
    const double sevenUnzip = bench::BestSeconds([&] {
        bench::Shell("7zz x -bd -mmt=1 -pbenchmark -o'" + fresh("7z-out") + "' '" + root + "/7z.zip' >/dev/null");
    });
    std::printf("AES-256, level 7, best of 3, seconds\n");
    std::printf("create:  zamblok %.3f  7zz %.3f  (x 7zz %.2f)\n", oursZip, sevenZip, oursZip / sevenZip);
    std::printf("extract: zamblok %.3f  7zz %.3f  (x 7zz %.2f)\n", oursUnzip, sevenUnzip, oursUnzip / sevenUnzip);
    return 0;
}
