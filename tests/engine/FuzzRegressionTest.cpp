// Replays every input that once made a fuzz target crash, hang or leak; each
// lies in tests/fuzz/regressions/<target>/.
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "tests/fuzz/FuzzTargets.h"

namespace fs = std::filesystem;

TEST(FuzzRegressions, EveryInputThatOnceCrashedRunsClean)
{
    int replayed = 0;
    for (const auto& folder : fs::directory_iterator(ZAMBLOK_FUZZ_REGRESSIONS)) {
        for (const auto& input : fs::directory_iterator(folder.path())) {
            SCOPED_TRACE(input.path().string());
            std::ifstream in(input.path(), std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            EXPECT_TRUE(fuzz::Run(folder.path().filename().string(), reinterpret_cast<const uint8_t*>(bytes.data()),
                                  bytes.size()));
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0);
}
