#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "engine/BufferStream.h"
#include "engine/HugeStream.h"
#include "tests/TestSupport.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// A memory stream that counts the reads and writes that reach it and can be
// told to refuse writes.
class CountingStream : public THugeMemoryStream {
public:
    int reads = 0;
    int writes = 0;
    bool refuseWrites = false;
    int64_t Read(void* b, int64_t n) override { ++reads; return THugeMemoryStream::Read(b, n); }
    int64_t Write(const void* b, int64_t n) override
    {
        ++writes;
        return refuseWrites ? 0 : THugeMemoryStream::Write(b, n);
    }
};

std::string Content(const THugeMemoryStream& s)
{
    auto bytes = s.Bytes();
    return {bytes.begin(), bytes.end()};
}

void Fill(THugeStream& s, const std::string& text)
{
    s.WriteBuffer(text.data(), int64_t(text.size()));
    s.SetPosition(0);
}

std::string ReadString(THugeStream& s, int64_t n)
{
    std::string r(size_t(n), '\0');
    r.resize(size_t(s.Read(r.data(), n)));
    return r;
}

}  // namespace

TEST(BufferStream, SeekFromEndIgnoresTheSignAndCountsPendingOutput)
{
    CountingStream under;
    Fill(under, std::string(100, 'a'));
    TS_BufferStream s(&under, 16);
    EXPECT_EQ(s.Seek(-22, THugeStream::soEnd), 78);
    EXPECT_EQ(s.Seek(22, THugeStream::soEnd), 78);

    s.Seek(0, THugeStream::soEnd);
    s.WriteBuffer("0123456789", 10);
    EXPECT_EQ(under.Size(), 100);  // still pending
    EXPECT_EQ(s.Size(), 110);
    EXPECT_EQ(s.Position(), 110);

    try {
        s.Seek(0, 3);
        FAIL() << "origin 3 accepted";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Invalid seek origin (3)");
    }
}

TEST(BufferStream, SeeksWithinTheReadAheadCostNoRead)
{
    CountingStream under;
    Fill(under, "abcdefghijklmnopqrstuvwxyz");
    TS_BufferStream s(&under, 16);
    EXPECT_EQ(ReadString(s, 3), "abc");
    int reads = under.reads;
    EXPECT_EQ(s.Seek(3, THugeStream::soBeginning), 3);
    EXPECT_EQ(s.Seek(0, THugeStream::soCurrent), 3);
    EXPECT_EQ(ReadString(s, 4), "defg");
    s.Seek(-6, THugeStream::soCurrent);
    EXPECT_EQ(ReadString(s, 2), "bc");
    s.Seek(15, THugeStream::soBeginning);
    EXPECT_EQ(ReadString(s, 1), "p");
    EXPECT_EQ(under.reads, reads);
    s.Seek(16, THugeStream::soBeginning);  // past the read-ahead
    EXPECT_EQ(ReadString(s, 1), "q");
    EXPECT_EQ(under.reads, reads + 1);
}

TEST(BufferStream, ReadsAfterWritesAndWritesAfterReadsMeetTheFile)
{
    CountingStream under;
    Fill(under, "abcdefghijklmnopqrstuvwxyz");
    {
        TS_BufferStream s(&under, 8);
        EXPECT_EQ(ReadString(s, 2), "ab");  // the buffer now holds read-ahead
        s.WriteBuffer("XY", 2);             // lands at the logical position 2
        EXPECT_EQ(ReadString(s, 3), "efg"); // follows the written bytes, not stale data
        s.Seek(-1, THugeStream::soCurrent);
        s.WriteBuffer("!", 1);              // over the 'g' just read
    }
    EXPECT_EQ(Content(under), "abXYef!hijklmnopqrstuvwxyz");
}

TEST(BufferStream, PutbackNeedsAByteReadFromTheBuffer)
{
    CountingStream under;
    Fill(under, "hello");
    TS_BufferStream s(&under, 8);
    s.Seek(1, THugeStream::soBeginning);
    EXPECT_THROW(s.Putback('x'), EStreamError);
    EXPECT_EQ(ReadString(s, 1), "e");
    s.Putback('E');
    EXPECT_EQ(ReadString(s, 4), "Ello");
    try {
        s.Seek(0, THugeStream::soBeginning);
        s.Putback('x');
        FAIL();
    } catch (const EStreamError& e) {
        EXPECT_STREQ(e.what(), "Putback overflow");
    }
}

TEST(BufferStream, RandomMixOfOperationsMatchesAnUnbufferedStream)
{
    // The same operations on a buffered and a plain memory stream must give the
    // same bytes, positions and sizes, whatever mix of small, large, read,
    // write and seek comes.
    std::mt19937 rng(12345);
    for (int round = 0; round < 40; ++round) {
        THugeMemoryStream plain, under;
        std::string seed(size_t(rng() % 300), 's');
        for (auto& c : seed)
            c = char('a' + rng() % 26);
        Fill(plain, seed);
        Fill(under, seed);
        {
            TS_BufferStream s(&under, 1 + int(rng() % 40));
            for (int op = 0; op < 200; ++op) {
                int64_t n = rng() % 4 == 0 ? int64_t(rng() % 120) : int64_t(rng() % 9);
                switch (rng() % 4) {
                case 0: {
                    ASSERT_EQ(ReadString(s, n), ReadString(plain, n));
                    break;
                }
                case 1: {
                    std::string w(size_t(n), char('A' + op % 26));
                    ASSERT_EQ(s.Write(w.data(), n), plain.Write(w.data(), n));
                    break;
                }
                case 2: {
                    int64_t to = int64_t(rng() % uint64_t(plain.Size() + 1));
                    ASSERT_EQ(s.Seek(to, THugeStream::soBeginning), plain.Seek(to, THugeStream::soBeginning));
                    break;
                }
                default: {
                    int64_t back = int64_t(rng() % uint64_t(plain.Size() + 1));
                    ASSERT_EQ(s.Seek(-back, THugeStream::soEnd), plain.Seek(-back, THugeStream::soEnd));
                    break;
                }
                }
                ASSERT_EQ(s.Position(), plain.Position());
                ASSERT_EQ(s.Size(), plain.Size());
            }
        }
        ASSERT_EQ(Content(under), Content(plain)) << "round " << round;
    }
}

TEST(BufferStream, OutputThatCannotBeWrittenIsReported)
{
    CountingStream under;
    under.refuseWrites = true;
    TS_BufferStream s(&under, 16);
    s.WriteBuffer("pending", 7);  // still in the buffer
    EXPECT_THROW(s.Flush(), EWriteError);
    // A write that fills the buffer must not claim bytes the stream refused.
    EXPECT_THROW(s.WriteBuffer(std::string(16, 'x').data(), 16), EWriteError);
    s.WriteBuffer("abc", 3);
    EXPECT_THROW(s.Seek(0, THugeStream::soBeginning), Exception);

    // Bytes pending in the buffer whose flush fails make a write that fills
    // the buffer short, as does a large write that goes straight through.
    TS_BufferStream pending(&under, 16);
    EXPECT_EQ(pending.Write("pending", 7), 7);
    EXPECT_EQ(pending.Write(std::string(16, 'x').data(), 16), 0);
    EXPECT_EQ(pending.Write(std::string(32, 'x').data(), 32), 0);
}

TEST(Streams, CopyFromWithCountZeroCopiesTheWholeSource)
{
    THugeMemoryStream src, dst;
    std::string text(150000, '\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = char(i * 7);
    Fill(src, text);
    src.SetPosition(5000);
    EXPECT_EQ(dst.CopyFrom(src, 0), int64_t(text.size()));
    EXPECT_EQ(Content(dst), text);

    THugeMemoryStream part;
    src.SetPosition(10);
    EXPECT_EQ(part.CopyFrom(src, 20), 20);
    EXPECT_EQ(Content(part), text.substr(10, 20));
    src.SetPosition(src.Size() - 5);
    EXPECT_THROW(part.CopyFrom(src, 10), EReadError);
}

TEST(Streams, MemoryStreamsGrowInStepsAndReadOnlyBlocksRefuseWrites)
{
    THugeMemoryStream m;
    m.WriteBuffer("x", 1);
    EXPECT_EQ(m.Capacity(), 8192);
    m.SetSize(8193);
    EXPECT_EQ(m.Capacity(), 16384);
    m.SetSize(0);
    EXPECT_EQ(m.Capacity(), 0);
    EXPECT_EQ(m.Position(), 0);

    const char block[] = "fixed";
    THugeCustomMemoryStream fixed(block, 5);
    EXPECT_EQ(fixed.Write("zz", 2), 0);
    fixed.Seek(-2, THugeStream::soEnd);
    EXPECT_EQ(ReadString(fixed, 10), "ed");
    fixed.Seek(100, THugeStream::soBeginning);
    EXPECT_EQ(ReadString(fixed, 1), "");
    EXPECT_THROW(fixed.ReadBuffer(const_cast<char*>(block), 1), EReadError);
}

TEST(FileStreams, OpenCreateSizeAndFailureMessages)
{
    TempDir t;
    {
        TLFNFileStream out(t / "f.bin", 8192, true, platform::fmCreate);
        out.WriteBuffer("hello", 5);
        out.SetSize(3);  // pending bytes reach the file first, then it is cut
        EXPECT_EQ(out.Position(), 3);
        out.WriteBuffer("p!", 2);
    }
    EXPECT_EQ(ReadFile(t / "f.bin"), "help!");

    {
        TLFNFileStream in(t / "f.bin", 8192, false, platform::fmOpenRead | platform::fmShareDenyWrite);
        EXPECT_EQ(in.Size(), 5);
        in.WriteBuffer("x", 1);
        EXPECT_THROW(in.Flush(), EWriteError);  // a file opened for reading refuses
    }
    try {
        TLFNFileStream missing(t / "none.zip", 8192, false, platform::fmOpenRead);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file " + (t / "none.zip"));
    }
    try {
        THugeFileStream bad(t / "no/such/dir/x", platform::fmCreate);
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file " + (t / "no/such/dir/x") + ": No such file or directory");
    }
}

TEST(FileStreams, LargeAndSmallReadsMixAcrossTheBuffer)
{
    TempDir t;
    std::string data(100000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = char(i * 31 + i / 256);
    WriteFile(t / "d", data);
    TLFNFileStream in(t / "d", 8192, false, platform::fmOpenRead);
    std::string got = ReadString(in, 3);
    got += ReadString(in, 40000);  // larger than the buffer
    got += ReadString(in, 1);
    got += ReadString(in, 70000);  // runs into the end
    EXPECT_EQ(got, data);
    EXPECT_EQ(in.Read(got.data(), 1), 0);
}
