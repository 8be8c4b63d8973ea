// Blocked output of many small files: 70,000 files of 10 to 2,000 bytes into
// parts of 1.2 MB, against the same files into one archive and against
// `zip -s 1200k`. Best of three runs.
//
// Usage: bench_blocked [scratch folder]   (default: the temporary folder)

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/BenchSupport.h"
#include "engine/ZipWriter.h"
#include "platform/Files.h"

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    const std::string root = (argc > 1 ? std::string(argv[1]) : platform::TempDirectory()) + "/zamblok-bench-blocked";
    const std::string files = root + "/files", out = root + "/out";
    if (!fs::exists(files))
        bench::Shell("python3 -c 'import os, random, sys\n"
                     "random.seed(1)\n"
                     "os.makedirs(sys.argv[1] + \".tmp\")\n"
                     "for i in range(70000):\n"
                     "    open(\"%s.tmp/%05d.txt\" % (sys.argv[1], i), \"w\").write(\"line %d \" % i * random.randint(1, 200))\n"
                     "os.rename(sys.argv[1] + \".tmp\", sys.argv[1])' '" +
                     files + "'");
    const auto ours = [&](bool blocked) {
        return bench::BestSeconds([&] {
            fs::remove_all(out);
            fs::create_directories(out);
            TZipWriter w;
            w.SetZipName(out + "/a.zip");
            w.FilesList = {files + "/*"};
            if (blocked) {
                w.MultiZipInfo.MultiMode = TMultiMode::mmBlocks;
                w.MultiZipInfo.BlockSize = 1200 * 1024;
            }
            w.Zip();
        });
    };
    const double singleS = ours(false), blockedS = ours(true);
    const double zipS = bench::BestSeconds([&] {
        fs::remove_all(out);
        fs::create_directories(out);
        bench::Shell("cd '" + files + "' && zip -q -s 1200k '" + out + "/a.zip' . -i '*.txt' -r");
    });
    fs::remove_all(out);
    std::printf("70,000 small files, best of 3, seconds\n");
    std::printf("one archive %.3f, blocked 1.2 MB parts %.3f (x one archive %.2f), zip -s 1200k %.3f (x zip %.2f)\n",
                singleS, blockedS, blockedS / singleS, zipS, blockedS / zipS);
    return 0;
}
