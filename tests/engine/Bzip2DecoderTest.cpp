// The bzip2 decoder against libbz2: what libbz2 writes decodes to the same
// bytes, and damaged streams fail with the reason of the damage.
#include <bzlib.h>
#include <gtest/gtest.h>

#include <random>

#include "engine/Bzip2Decoder.h"

namespace {

const std::string Short = "the compressed data ends before its stream does";

std::string Compress(const std::string& data, int level)
{
    std::string out(data.size() + data.size() / 100 + 700, '\0');
    unsigned size = unsigned(out.size());
    EXPECT_EQ(BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(data.data()), unsigned(data.size()),
                                       level, 0, 0),
              BZ_OK);
    out.resize(size);
    return out;
}

struct Decoded {
    std::string failure;
    std::string bytes;
};

// Decodes stream handed over chunk bytes at a time, said to hold size bytes.
Decoded Decode(const std::string& stream, size_t chunk, uint64_t size = 0)
{
    Decoded d;
    size_t at = 0;
    d.failure = DecodeBzip2(
        [&](const uint8_t*& data) {
            data = reinterpret_cast<const uint8_t*>(stream.data()) + at;
            const size_t n = std::min(chunk, stream.size() - at);
            at += n;
            return n;
        },
        [&](const uint8_t* data, size_t n) { d.bytes.append(reinterpret_cast<const char*>(data), n); }, size);
    return d;
}

// Bits, most significant first, as bzip2 writes them.
struct Bits {
    std::string bytes;
    int used = 8;  // bits of the last byte
    void Put(uint64_t value, int n)
    {
        for (int i = n - 1; i >= 0; --i) {
            if (used == 8) {
                bytes += '\0';
                used = 0;
            }
            if (value >> i & 1)
                bytes.back() = char(bytes.back() | 0x80 >> used);
            ++used;
        }
    }
};

// A stream of one block holding "a", built by hand: the block's sorted
// text starts at origin, and flip is xored into the stream's combined CRC.
// Nineteen byte values (a to s) are in use, so the alphabet has 21 symbols,
// coded with lengths 1 to 19, 20 and 20: "a" is a run of one (RUNA, the
// 1-bit code) and the end of the block is the last 20-bit code.
std::string OneBlockOfA(uint32_t origin, uint32_t flip)
{
    const std::string reference = Compress("a", 9);
    uint32_t crc = 0;
    for (int i = 0; i < 4; ++i)  // after "BZh9" and the block's magic
        crc = crc << 8 | uint8_t(reference[10 + i]);
    Bits b;
    b.Put(0x425A6839, 32);  // "BZh9"
    b.Put(0x314159265359, 48);
    b.Put(crc, 32);
    b.Put(0, 1);  // not randomised
    b.Put(origin, 24);
    b.Put(0x0300, 16);  // values in 0x60..0x7F
    b.Put(0x7FFF, 16);  // 0x61..0x6F
    b.Put(0xF000, 16);  // 0x70..0x73
    b.Put(2, 3);        // two tables
    b.Put(1, 15);       // one selector
    b.Put(0, 1);        // of table 0
    for (int table = 0; table < 2; ++table) {
        b.Put(1 << 1, 6);  // symbol 0: length 1
        for (int symbol = 1; symbol < 20; ++symbol)
            b.Put(0b100, 3);  // one longer each
        b.Put(0, 1);          // symbol 20: as long as symbol 19
    }
    b.Put(0, 1);              // RUNA
    b.Put(0xFFFFF, 20);       // end of block
    b.Put(0x177245385090, 48);
    b.Put(crc ^ flip, 32);
    return b.bytes;
}

std::string Random(size_t n, unsigned seed, int values)
{
    std::mt19937 random(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = char(random() % values);
    return s;
}

}  // namespace

TEST(Bzip2Decoder, DecodesWhatLibbz2Writes)
{
    std::string text, runs;
    std::mt19937 random(3);
    const char* words[] = {"alpha ", "beta ", "gamma\n", "delta ", "epsilon ", "zeta "};
    while (text.size() < 1100000)
        text += words[random() % 6];
    for (int n = 1; n <= 300; ++n)
        runs += std::string(size_t(n), char('a' + n % 7));
    const struct {
        const char* name;
        std::string data;
        int level;
        size_t chunk;
    } cases[] = {
        {"empty", "", 9, 1},
        {"one byte", "x", 9, 1},
        {"runs of every length up to 300", runs, 1, 7},
        // Every byte value, so far move-to-front positions; three blocks.
        {"noise", Random(250000, 1, 256), 1, 4096},
        // Eleven blocks: three at a time, and a short last one on its own.
        {"text", text, 1, 65536},
        {"text in one block", text.substr(0, 800000), 9, 65536},
        {"a few values", Random(700000, 2, 3), 2, 100000},
        {"zeros", std::string(3000000, '\0'), 9, 1 << 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded d = Decode(Compress(c.data, c.level), c.chunk, c.data.size());
        EXPECT_EQ(d.failure, "");
        EXPECT_TRUE(d.bytes == c.data);
    }
}

TEST(Bzip2Decoder, DamagedStreamsFail)
{
    const std::string data = Random(150000, 4, 16) + std::string(5000, 'q') + Random(60000, 5, 200);
    const std::string stream = Compress(data, 1);  // two blocks
    // Cut anywhere: short, and what came out is the start of the data.
    for (size_t cut = 0; cut < stream.size(); cut += 4999) {
        SCOPED_TRACE(cut);
        const Decoded d = Decode(stream.substr(0, cut), 4096);
        EXPECT_EQ(d.failure, Short);
        EXPECT_EQ(d.bytes, data.substr(0, d.bytes.size()));
    }
    // One bit flipped anywhere: never a whole stream with other bytes.
    for (size_t bit = 0; bit < stream.size() * 8; bit += 3331) {
        std::string flipped = stream;
        flipped[bit / 8] = char(flipped[bit / 8] ^ 1 << (bit % 8));
        const Decoded d = Decode(flipped, 4096);
        EXPECT_TRUE(d.failure != "" || d.bytes == data) << bit;
        EXPECT_NE(d.failure, Short) << bit;
    }
}

// Streams built by hand, judged as libbz2 judges them: codes of the
// longest length are read; an origin at the block's end gives no bytes; a
// flip of any bit of the combined CRC breaks the stream after its block.
TEST(Bzip2Decoder, HandBuiltStreamsAreJudgedAsLibbz2JudgesThem)
{
    struct Case {
        std::string name;
        uint32_t origin, flip;
    };
    std::vector<Case> cases{{"codes of 20 bits", 0, 0}, {"origin at the end of the block", 1, 0}};
    for (int bit = 0; bit < 32; ++bit)
        cases.push_back({"combined CRC bit " + std::to_string(bit) + " flipped", 0, 1u << bit});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string stream = OneBlockOfA(c.origin, c.flip);
        char out[16];
        unsigned size = sizeof out;
        const bool good =
            BZ2_bzBuffToBuffDecompress(out, &size, stream.data(), unsigned(stream.size()), 0, 0) == BZ_OK;
        EXPECT_EQ(good, c.origin == 0 && c.flip == 0);
        const Decoded d = Decode(stream, 3);
        EXPECT_EQ(d.failure, good ? "" : "the compressed data is broken");
        EXPECT_EQ(d.bytes, c.origin == 0 ? "a" : "");
    }
}

TEST(Bzip2Decoder, RandomisedBlockDecodesAsLibbz2DecodesIt)
{
    // bzip2 0.9.0 wrote randomised blocks; nothing writes them now. Setting
    // the flag of a block written today flips the bytes the table picks, so
    // the block's check sum fails after its bytes came out, in libbz2 too.
    // The block is long enough to go round the table of 512 entries almost three times.
    std::string stream = Compress(Random(800000, 6, 40), 9);
    const size_t flag = (4 + 6 + 4) * 8;  // after "BZh9", the block's magic and CRC
    stream[flag / 8] = char(stream[flag / 8] | 0x80);
    std::string expected(900000, '\0');
    bz_stream s{};
    ASSERT_EQ(BZ2_bzDecompressInit(&s, 0, 0), BZ_OK);
    s.next_in = stream.data();
    s.avail_in = unsigned(stream.size());
    s.next_out = expected.data();
    s.avail_out = unsigned(expected.size());
    EXPECT_EQ(BZ2_bzDecompress(&s), BZ_DATA_ERROR);
    expected.resize(expected.size() - s.avail_out);
    BZ2_bzDecompressEnd(&s);

    const Decoded d = Decode(stream, 1000);
    EXPECT_EQ(d.failure, "the compressed data is broken");
    EXPECT_EQ(expected.size(), 800000u);
    EXPECT_TRUE(d.bytes == expected);
}

TEST(Bzip2Decoder, RunOfFourWithoutItsCountIsRefusedAsLibbz2RefusesIt)
{
    // "baaaa" is stored as the text "baaaa\0": a run of four and its count.
    // Starting the inverse sort at the rotation that sorts first makes the
    // text "\0baaaa", whose run of four ends the block with no count after
    // it. With the check sums set for the six bytes that would give, only
    // the missing count is wrong.
    auto get = [](const std::string& s, size_t at) {
        uint32_t v = 0;
        for (size_t b = at; b < at + 32; ++b)
            v = v << 1 | uint32_t(s[b / 8] >> (7 - b % 8) & 1);
        return v;
    };
    auto set = [](std::string& s, size_t at, int n, uint32_t v) {
        for (size_t b = at; b < at + size_t(n); ++b) {
            const int shift = 7 - int(b % 8);
            s[b / 8] = char((s[b / 8] & ~(1 << shift)) | (v >> (at + size_t(n) - 1 - b) & 1) << shift);
        }
    };
    std::string stream = Compress("baaaa", 9);
    const size_t crcAt = (4 + 6) * 8, originAt = crcAt + 32 + 1;
    const uint32_t oldCrc = get(stream, crcAt);
    const uint32_t newCrc = get(Compress(std::string("\0baaaa", 6), 9), crcAt);
    set(stream, crcAt, 32, newCrc);
    set(stream, originAt, 24, 0);
    // The stream's check sum of one block is that block's: the 32 bits
    // before the end's padding.
    size_t end = stream.size() * 8 - 32;
    while (get(stream, end) != oldCrc)
        --end;
    set(stream, end, 32, newCrc);

    char out[16];
    unsigned size = sizeof out;
    EXPECT_EQ(BZ2_bzBuffToBuffDecompress(out, &size, stream.data(), unsigned(stream.size()), 0, 0), BZ_DATA_ERROR);
    EXPECT_EQ(Decode(stream, 1).failure, "the compressed data is broken");
}
