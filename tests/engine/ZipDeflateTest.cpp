#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>
#include <zlib.h>

#include "engine/ZipDeflate.h"
#include "tests/TestSupport.h"

using namespace testing_support;

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

// Each level of the user's comes out no larger than zlib's at that level
// (zlib is what other tools' levels mean), on the corpus's own texts.
TEST(ZipDeflate, EachLevelIsNoLargerThanZlibs)
{
    std::string text;
    for (const char* name : {"MANIFEST.tsv", "PEER_RESULTS.tsv", "README.md", "make.sh"})
        text += ReadFile(CorpusDir() + "/" + name);
    const std::vector<uint8_t> data(text.begin(), text.end());
    for (int level = 1; level <= 9; ++level) {
        std::vector<uint8_t> packed, zlib(compressBound(uLong(data.size())));
        DeflateWholeOrStore(level, data, packed);
        z_stream z{};
        ASSERT_EQ(deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
        z.next_in = const_cast<Bytef*>(data.data());
        z.avail_in = uInt(data.size());
        z.next_out = zlib.data();
        z.avail_out = uInt(zlib.size());
        ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
        deflateEnd(&z);
        EXPECT_LE(packed.size(), z.total_out) << "level " << level;
    }
}

}  // namespace
