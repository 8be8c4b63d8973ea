// What the benchmark programs share: running a shell command, timing the
// best of a few runs, and the input tree made by the shared make-corpus tool.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace bench {

// Runs a command through the shell; a failure ends the benchmark.
inline void Shell(const std::string& command)
{
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
}

// The shortest of three runs, in seconds.
inline double BestSeconds(const std::function<void()>& run)
{
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        run();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

// root/tree, the benchmark input tree, made unless it is there.
inline std::string Tree(const std::string& root)
{
    const std::string tree = root + "/tree";
    if (std::filesystem::exists(tree))
        return tree;
    std::printf("making the input tree...\n");
    std::fflush(stdout);
    std::filesystem::remove_all(tree + ".tmp");
    Shell("'" ZAMBLOK_SHARED_DIR "/bench/make-corpus' -q '" + tree + ".tmp'");
    std::filesystem::rename(tree + ".tmp", tree);
    return tree;
}

}  // namespace bench
