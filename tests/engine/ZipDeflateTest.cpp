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

// Blocks deflated one by one and joined in order make one stream that
// zlib inflates to the data and ends exactly where the joined bytes end,
// whatever the level (0 gives stored blocks) and wherever the blocks are cut.
TEST(ZipDeflate, BlocksJoinIntoOneStream)
{
    std::vector<uint8_t> mixed = Lines(150000);
    const std::vector<uint8_t> noise = Noise(100000);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    for (const int level : {0, 1, 7, 9}) {
        for (const size_t cut : {size_t(1), size_t(777), size_t(65536), size_t(120000)}) {
            SCOPED_TRACE("level " + std::to_string(level) + ", blocks of " + std::to_string(cut));
            const std::vector<uint8_t> data(mixed.begin(), mixed.begin() + std::ptrdiff_t(cut == 1 ? 5000 : mixed.size()));
            std::vector<uint8_t> joined, packed;
            for (size_t at = 0; at < data.size(); at += cut) {
                const size_t n = std::min(cut, data.size() - at);
                DeflateBlock(level, std::span(data).subspan(at, n), at + n == data.size(), packed);
                joined.insert(joined.end(), packed.begin(), packed.end());
            }
            std::vector<uint8_t> back(data.size() + 1);
            z_stream z{};
            ASSERT_EQ(inflateInit2(&z, -MAX_WBITS), Z_OK);
            z.next_in = joined.data();
            z.avail_in = uInt(joined.size());
            z.next_out = back.data();
            z.avail_out = uInt(back.size());
            EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
            EXPECT_EQ(z.avail_in, 0u);
            back.resize(z.total_out);
            inflateEnd(&z);
            EXPECT_EQ(back, data);
        }
    }
}

}  // namespace
