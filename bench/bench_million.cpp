// Runs `zamblok-cli list` and `test` on an archive of 1,000,000 empty entries
// whose directory is in offset order and on one whose directory is in
// reverse offset order, and prints the seconds and the largest resident size
// of each run, and the bytes per entry. Reading is linear when the two
// orders take about the same time. The archives are made once (with Python's
// zipfile; the second has its central headers rewritten in reverse) and kept
// for later runs.
//
// Usage: bench_million [scratch folder]   (default: the temporary folder)

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/BenchSupport.h"
#include "platform/Files.h"

namespace {

namespace fs = std::filesystem;
using bench::Shell;

constexpr int Entries = 1000000;

// The archive of Entries empty entries in 100 folders, its directory in
// reverse when asked.
std::string Archive(const std::string& root, bool reverse)
{
    const std::string name = root + (reverse ? "/reverse.zip" : "/forward.zip");
    if (!fs::exists(name))
        Shell("python3 -c \"import os, struct, sys, zipfile\n"
              "name, reverse = sys.argv[1], sys.argv[3] == '1'\n"
              "with zipfile.ZipFile(name + '.tmp', 'w') as z:\n"
              "    for i in range(int(sys.argv[2])): z.writestr(f'd{i % 100}/f{i}.txt', b'')\n"
              "if reverse:\n"
              "    data = bytearray(open(name + '.tmp', 'rb').read())\n"
              "    end = data.rfind(b'PK\\\\x05\\\\x06')\n"
              "    size, at = struct.unpack_from('<II', data, end + 12)\n"
              "    records, p = [], at\n"
              "    while p < at + size:\n"
              "        n = 46 + sum(struct.unpack_from('<HHH', data, p + 28))\n"
              "        records.append(bytes(data[p:p + n])); p += n\n"
              "    data[at:at + size] = b''.join(reversed(records))\n"
              "    open(name + '.tmp', 'wb').write(data)\n"
              "os.replace(name + '.tmp', name)\" '" +
              name + "' " + std::to_string(Entries) + (reverse ? " 1" : " 0"));
    return name;
}

// Runs the command under /usr/bin/time -v and prints its wall time and
// largest resident size.
void Run(const std::string& cli, const std::string& command, const std::string& archive, const char* label,
         const std::string& root)
{
    const std::string report = root + "/time.txt";
    Shell("/usr/bin/time -v -o '" + report + "' '" + cli + "' " + command + " '" + archive + "' >/dev/null");
    std::ifstream in(report);
    double seconds = 0;
    long kib = 0;
    for (std::string line; std::getline(in, line);) {
        if (const auto at = line.find("Elapsed (wall clock) time (h:mm:ss or m:ss): "); at != std::string::npos) {
            std::istringstream time(line.substr(line.rfind(' ') + 1));
            for (std::string part; std::getline(time, part, ':');)
                seconds = seconds * 60 + std::stod(part);
        } else if (line.find("Maximum resident set size (kbytes): ") != std::string::npos) {
            kib = std::stol(line.substr(line.rfind(' ') + 1));
        }
    }
    std::printf("%-30s %9.2f %9ld %9.0f\n", label, seconds, kib / 1024, kib * 1024.0 / Entries);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string root = (argc > 1 ? std::string(argv[1]) : platform::TempDirectory()) + "/zamblok-bench-million";
    fs::create_directories(root);
    const std::string cli = fs::canonical("/proc/self/exe").parent_path().parent_path().string() + "/cli/zamblok-cli";
    const std::string forward = Archive(root, false);
    const std::string reverse = Archive(root, true);
    std::printf("%-30s %9s %9s %9s\n", "1,000,000 empty entries", "seconds", "max MiB", "B/entry");
    Run(cli, "list", forward, "list, offset order", root);
    Run(cli, "list", reverse, "list, reverse offset order", root);
    Run(cli, "test", forward, "test, offset order", root);
    Run(cli, "test", reverse, "test, reverse offset order", root);
    return 0;
}
