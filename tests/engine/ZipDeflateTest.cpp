#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/ZipDeflate.h"

namespace {

std::vector<uint8_t> Noise(size_t n)
{
    std::mt19937 next(7);
    std::vector<uint8_t> data(n);
    for (uint8_t& b : data)
        b = uint8_t(next());
    return data;
}

std::vector<uint8_t> Lines(size_t n)
{
    std::string text;
    for (int i = 0; text.size() < n; ++i)
        text += "line " + std::to_string(i) + " of some text\n";
    text.resize(n);
    return {text.begin(), text.end()};
}

// Data that does not compress goes out no larger than stored blocks, whether
// it fits in the trial or not; text is deflated; each inflates back.
TEST(ZipDeflate, DataThatDoesNotCompressIsStoredAndTextIsDeflated)
{
    for (const size_t size : {5000, 60000, 200000}) {
        for (const bool text : {false, true}) {
            SCOPED_TRACE(std::to_string(size) + (text ? " text" : " noise"));
            const std::vector<uint8_t> data = text ? Lines(size) : Noise(size);
            std::vector<uint8_t> packed, back(size);
            DeflateWholeOrStore(7, data, packed);
            EXPECT_LE(packed.size(), text ? size / 4 : size + 5 * (size / 65535 + 1));
            ASSERT_TRUE(InflateWhole(packed, back));
            EXPECT_EQ(back, data);
        }
    }
}

}  // namespace
