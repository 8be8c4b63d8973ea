// Rewriting large archives: adding 8,000 files to an archive of 100,000
// entries (every old entry carried over), deleting one entry of it, and
// deleting every entry of an archive of 200,000 entries, each against
// `zip` doing the same. The archives are made by python's zipfile (small
// stored entries), so only the rewriting is timed. Best of three runs.
//
// Usage: bench_update [scratch folder]   (default: the temporary folder)

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "engine/ZipWriter.h"
#include "platform/Files.h"

namespace {

namespace fs = std::filesystem;
using bench::BestSeconds;
using bench::Shell;

// An archive of count small stored entries e/000000.txt..., made unless it is there.
std::string ManyEntries(const std::string& root, int count)
{
    const std::string zip = root + "/many-" + std::to_string(count) + ".zip";
    if (!fs::exists(zip))
        Shell("python3 -c 'import sys, zipfile\n"
              "with zipfile.ZipFile(sys.argv[1], \"w\") as z:\n"
              "    for i in range(int(sys.argv[2])): z.writestr(\"e/%06d.txt\" % i, \"entry %d\\n\" % i)' '" +
              zip + "' " + std::to_string(count));
    return zip;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string root = (argc > 1 ? std::string(argv[1]) : platform::TempDirectory()) + "/zamblok-bench-update";
    fs::create_directories(root + "/new");
    const std::string work = root + "/work.zip";
    const std::string hundred = ManyEntries(root, 100000), twoHundred = ManyEntries(root, 200000);
    std::vector<std::string> added;
    for (int i = 0; i < 8000; ++i) {
        added.push_back(root + "/new/" + std::to_string(i) + ".txt");
        if (!fs::exists(added.back()))
            Shell("echo " + std::to_string(i) + " > '" + added.back() + "'");
    }

    const auto ours = [&](const std::string& source, const std::function<void(TZipWriter&)>& change) {
        return BestSeconds([&] {
            fs::copy_file(source, work, fs::copy_options::overwrite_existing);
            TZipWriter w;
            w.SetZipName(work);
            change(w);
        });
    };
    const auto peer = [&](const std::string& source, const std::string& command) {
        return BestSeconds([&] {
            fs::copy_file(source, work, fs::copy_options::overwrite_existing);
            Shell(command);
        });
    };
    // Copying alone, for what any rewrite must cost at least.
    const double copyS = BestSeconds([&] { fs::copy_file(hundred, work, fs::copy_options::overwrite_existing); });

    const double addS = ours(hundred, [&](TZipWriter& w) {
        w.FilesList = added;
        w.Zip();
    });
    const double addZipS = peer(hundred, "cd '" + root + "/new' && zip -q -0 '" + work + "' *.txt");
    const double deleteOneS = ours(hundred, [&](TZipWriter& w) {
        w.FilesList = {"e/050000.txt"};
        w.RemoveEntries();
    });
    const double deleteOneZipS = peer(hundred, "zip -q -d '" + work + "' e/050000.txt");
    const double deleteAllS = ours(twoHundred, [&](TZipWriter& w) {
        w.FilesList = {"*"};
        w.RemoveEntries();
    });
    const double deleteAllZipS = peer(twoHundred, "zip -q -d '" + work + "' '*' >/dev/null 2>&1 || true");
    fs::remove(work);

    std::printf("best of 3, seconds; copying the 100,000-entry archive: %.3f\n", copyS);
    std::printf("%-44s %9s %9s %7s\n", "", "zamblok", "zip", "x zip");
    const auto row = [](const char* what, double s, double zipS) {
        std::printf("%-44s %9.3f %9.3f %7.2f\n", what, s, zipS, s / zipS);
    };
    row("add 8,000 files to 100,000 entries", addS, addZipS);
    row("delete 1 entry of 100,000", deleteOneS, deleteOneZipS);
    row("delete all 200,000 entries", deleteAllS, deleteAllZipS);
    return 0;
}
