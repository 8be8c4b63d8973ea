#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "engine/Crc32.h"
#include "engine/ZipObj.h"
#include "platform/Exceptions.h"
#include "tests/TestSupport.h"

namespace {

constexpr uint64_t GiB = uint64_t(1) << 30;

// v in width little-endian bytes; past the eighth, zeros.
std::string Le(uint64_t v, int width)
{
    std::string s;
    for (int i = 0; i < width; ++i)
        s += char(i < 8 ? uint8_t(v >> (8 * i)) : 0);
    return s;
}

uint64_t ReadLe(const std::string& s, size_t at, int width)
{
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = v << 8 | uint8_t(s.at(at + size_t(i)));
    return v;
}

std::string Contents(THugeMemoryStream& m)
{
    return std::string(reinterpret_cast<const char*>(m.Memory()), size_t(m.Size()));
}

// A central header as another tool would write it.
std::string CentralHeaderBytes(uint16_t madeBy, uint16_t flags, uint32_t compressed, const std::string& name,
                               const std::string& extra = "", const std::string& comment = "")
{
    return Le(CentralFileHeaderSig, 4) + Le(madeBy, 2) + Le(20, 2) + Le(flags, 2) + Le(8, 2) +
           Le(0x52CF645C, 4) + Le(0x12345678, 4) + Le(compressed, 4) + Le(1000, 4) + Le(name.size(), 2) +
           Le(extra.size(), 2) + Le(comment.size(), 2) + Le(0, 2) + Le(0, 2) + Le(32, 4) + Le(0, 4) + name + extra +
           comment;
}

std::string LocalHeaderBytes(uint16_t flags, uint32_t compressed, uint32_t uncompressed, const std::string& name,
                             const std::string& extra = "")
{
    return Le(LocalFileHeaderSig, 4) + Le(45, 2) + Le(flags, 2) + Le(0, 2) + Le(0x52CF645C, 4) + Le(0, 4) +
           Le(compressed, 4) + Le(uncompressed, 4) + Le(name.size(), 2) + Le(extra.size(), 2) + name + extra;
}

std::string Block(uint16_t tag, const std::string& data)
{
    return Le(tag, 2) + Le(data.size(), 2) + data;
}

std::unique_ptr<TZipHeaderInfo> ReadCentral(const std::string& bytes, TOEMConvert mode = TOEMConvert::oemAlways)
{
    THugeCustomMemoryStream m(bytes.data(), int64_t(bytes.size()));
    THugeStream* s = &m;
    auto h = std::make_unique<TZipHeaderInfo>(mode);
    return h->ReadCentralHeader(s) ? std::move(h) : nullptr;
}

std::unique_ptr<TZipHeaderInfo> ReadLocal(const std::string& bytes, TOEMConvert mode = TOEMConvert::oemAlways)
{
    THugeCustomMemoryStream m(bytes.data(), int64_t(bytes.size()));
    auto h = std::make_unique<TZipHeaderInfo>(mode);
    return h->ReadLocalHeader(m) ? std::move(h) : nullptr;
}

TEST(FixDosDateTime, ClampsFieldsOutOfRangeAndKeepsValidValues)
{
    // 31 Feb 2107 25:61:62
    const uint32_t wild = (127u << 25 | 2u << 21 | 31u << 16) | (25u << 11 | 61u << 5 | 31u);
    EXPECT_EQ(FixDosDateTime(wild), (127u << 25 | 2u << 21 | 31u << 16) | (23u << 11 | 59u << 5 | 29u));
    EXPECT_EQ(FixDosDateTime(0x52CF645C), 0x52CF645Cu);
    EXPECT_EQ(FixDosDateTime(0), 1u << 21 | 1u << 16);  // month and day 0 become 1
}

TEST(ZipHeader, WrittenHeadersReadBackAcrossZip64Thresholds)
{
    const uint64_t values[] = {0, 0xFFFFFFFE, 0xFFFFFFFF, 4 * GiB, 5 * GiB};
    const uint32_t disks[] = {0, 0xFFFE, 0xFFFF, 0x12345};
    for (uint64_t compressed : values)
        for (uint64_t uncompressed : values)
            for (uint64_t offset : values)
                for (uint32_t disk : disks) {
                    SCOPED_TRACE(testing::Message() << compressed << " " << uncompressed << " " << offset << " " << disk);
                    TZipHeaderInfo h(TOEMConvert::oemAlways);
                    h.SetDirectory("dir");
                    h.SetFileName("name.txt");
                    h.SetCompressedSize(compressed);
                    h.SetUncompressedSize(uncompressed);
                    h.SetDiskNumberStart(disk);
                    THugeMemoryStream local;
                    h.WriteLocalHeader(local);
                    h.SetLocalHeaderOffset(offset);
                    THugeMemoryStream central;
                    h.WriteCentralHeader(central, nullptr);
                    const bool wide = compressed >= 0xFFFFFFFF || uncompressed >= 0xFFFFFFFF ||
                                      offset >= 0xFFFFFFFF || disk >= 0xFFFF;
                    EXPECT_EQ(h.VersionNeeded, wide ? 45 : 20);

                    auto c = ReadCentral(Contents(central));
                    ASSERT_TRUE(c);
                    EXPECT_EQ(c->Directory(), "dir/");
                    EXPECT_EQ(c->FileName(), "name.txt");
                    EXPECT_EQ(c->CompressedSize(), compressed);
                    EXPECT_EQ(c->UncompressedSize(), uncompressed);
                    EXPECT_EQ(c->LocalHeaderOffset(), offset);
                    EXPECT_EQ(c->DiskNumberStart(), disk);
                    EXPECT_EQ(c->CentralHeaderSize(), central.Size());

                    auto l = ReadLocal(Contents(local));
                    ASSERT_TRUE(l);
                    EXPECT_EQ(l->CompressedSize(), compressed);
                    EXPECT_EQ(l->UncompressedSize(), uncompressed);
                }
}

TEST(ZipHeader, LocalHeaderOfFiveGiBInOneGiB)
{
    TZipHeaderInfo h;
    h.SetFileName("big");
    h.SetUncompressedSize(5 * GiB);
    h.SetCompressedSize(1 * GiB);
    THugeMemoryStream out;
    h.WriteLocalHeader(out);
    const std::string bytes = Contents(out);
    ASSERT_EQ(bytes.size(), 30u + 3 + 20);
    EXPECT_EQ(ReadLe(bytes, 4, 2), 45u);
    EXPECT_EQ(ReadLe(bytes, 18, 4), 0xFFFFFFFFu);
    EXPECT_EQ(ReadLe(bytes, 22, 4), 0xFFFFFFFFu);
    EXPECT_EQ(ReadLe(bytes, 28, 2), 20u);
    EXPECT_EQ(bytes.substr(33), Block(1, Le(5 * GiB, 8) + Le(1 * GiB, 8)));
}

TEST(ZipHeader, ExtraBlocksAreCarriedOverAndTheZip64BlockIsMadeAnew)
{
    // An unknown block, a Zip64 block with more data than needed, another block.
    const std::string unknown = Block(0xCAFE, "abc");
    const std::string other = Block(0x5455, Le(0x01020304, 5));
    const std::string extra = unknown + Block(1, Le(7 * GiB, 8) + Le(99, 8) + "junk") + other;
    const std::string archive = "prefix" + CentralHeaderBytes(0x0314, 0, 0xFFFFFFFF, "a.bin", extra);
    THugeCustomMemoryStream in(archive.data(), int64_t(archive.size()));
    in.SetPosition(6);
    THugeStream* s = &in;
    TZipHeaderInfo h;
    ASSERT_TRUE(h.ReadCentralHeader(s));
    EXPECT_EQ(in.Position(), 6 + 46 + 5);
    EXPECT_EQ(h.CompressedSize(), 7 * GiB);
    EXPECT_EQ(h.Zip64BlockSize, 24);
    EXPECT_EQ(h.ExtraStart, 6 + 46 + 5);

    THugeMemoryStream out;
    in.SetPosition(0);
    h.WriteCentralHeader(out, &in);
    const std::string written = Contents(out);
    EXPECT_EQ(h.ExtraLength, unknown.size() + other.size() + 12);
    EXPECT_EQ(written.substr(46 + 5), unknown + other + Block(1, Le(7 * GiB, 8)));
    auto back = ReadCentral(written);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->CompressedSize(), 7 * GiB);
}

TEST(ZipHeader, LocalZip64BlockIsFoundAfterOtherBlocks)
{
    const std::string extra = Block(0x5455, "\x03\x01\x02\x03\x04") + Block(1, Le(6 * GiB, 8) + Le(2 * GiB, 8));
    auto h = ReadLocal(LocalHeaderBytes(0, 0xFFFFFFFF, 0xFFFFFFFF, "x", extra) + "data");
    ASSERT_TRUE(h);
    EXPECT_EQ(h->UncompressedSize(), 6 * GiB);
    EXPECT_EQ(h->CompressedSize(), 2 * GiB);
    EXPECT_EQ(h->LocalExtraLength, extra.size());
}

TEST(ZipHeader, DamagedHeadersAreRefusedOrReadWithinTheirBounds)
{
    // Cut inside the fixed part or inside the name.
    const std::string central = CentralHeaderBytes(0, 0, 10, "name.txt");
    for (size_t cut : {0, 3, 45, 46, 53}) {
        THugeCustomMemoryStream m(central.data(), int64_t(cut));
        THugeStream* s = &m;
        TZipHeaderInfo h;
        EXPECT_FALSE(h.ReadCentralHeader(s)) << cut;
        EXPECT_EQ(m.Position(), 0) << cut;
    }
    for (size_t cut : {0, 3, 29, 30, 37})
        EXPECT_FALSE(ReadLocal(LocalHeaderBytes(0, 1, 1, "name.txt").substr(0, cut))) << cut;
    // Saturated sizes whose Zip64 blocks are missing, too short, or run past the extra field.
    for (const std::string& extra : {std::string(), Block(1, "\1\2\3\4"), Le(1, 2) + Le(0xFFF0, 2) + Le(9 * GiB, 8),
                                     Le(1, 2) + Le(8, 2) + Le(3 * GiB, 5)}) {
        auto c = ReadCentral(CentralHeaderBytes(0, 0, 0xFFFFFFFF, "n", extra));
        ASSERT_TRUE(c);
        EXPECT_EQ(c->CompressedSize(), 0xFFFFFFFFu);
        auto l = ReadLocal(LocalHeaderBytes(0, 0xFFFFFFFF, 0xFFFFFFFF, "n", extra));
        ASSERT_TRUE(l);
        EXPECT_EQ(l->UncompressedSize(), 0xFFFFFFFFu);
    }
    // An extra field announced longer than the stream.
    auto c = ReadCentral(CentralHeaderBytes(0, 0, 0xFFFFFFFF, "n", Block(1, Le(3 * GiB, 8))).substr(0, 46 + 1 + 6));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->CompressedSize(), 0xFFFFFFFFu);
}

TEST(ZipHeader, StoredNamesAreConvertedByModeHostAndFlag)
{
    struct Case {
        uint16_t madeBy, flags;
        std::string stored;
        TOEMConvert mode;
        std::string directory, fileName;
    };
    const Case cases[] = {
        {0x0000, 0, "DIR\\\x80.TXT", TOEMConvert::oemAlways, "DIR/", "\u00C7.TXT"},    // MS-DOS: code page 437
        {0x0000, 0, "DIR\\\x80.TXT", TOEMConvert::oemNever, "DIR/", "\x80.TXT"},      // bytes kept
        {0x0000, 0, "caf\u00e9.txt", TOEMConvert::oemFlexible, "", "caf\u251c\u2310.txt"},
        {0x0000, 0x800, "caf\u00e9/", TOEMConvert::oemAlways, "caf\u00e9/", ""},       // flagged UTF-8
        {0x0314, 0, "\u65e5\u672c.txt", TOEMConvert::oemAlways, "", "\u65e5\u672c.txt"},  // Unix host, valid UTF-8
        {0x0314, 0, "\x82\xa0.txt", TOEMConvert::oemAlways, "", "\x82\xa0.txt"},  // not UTF-8: the bytes stay
        {0x0314, 0, "back\\slash.txt", TOEMConvert::oemAlways, "", "back\\slash.txt"},  // '\' is no separator
        {0x0B14, 0, "dir\\f.txt", TOEMConvert::oemAlways, "dir/", "f.txt"},            // NTFS: it is
    };
    for (const Case& k : cases) {
        auto h = ReadCentral(CentralHeaderBytes(k.madeBy, k.flags, 1, k.stored), k.mode);
        ASSERT_TRUE(h);
        EXPECT_EQ(h->Directory(), k.directory) << k.stored;
        EXPECT_EQ(h->FileName(), k.fileName) << k.stored;
    }
    auto local = ReadLocal(LocalHeaderBytes(0, 1, 1, "\x80.txt"));  // local headers carry no host byte
    ASSERT_TRUE(local);
    EXPECT_EQ(local->FileName(), "\u00C7.txt");

    for (TOEMConvert mode : {TOEMConvert::oemAlways, TOEMConvert::oemNever}) {
        TZipHeaderInfo h(mode);
        h.SetDirectory("caf\u00e9");
        h.SetFileName("na\u00efve.txt");
        EXPECT_EQ(h.NameLength(), 16u);
        THugeMemoryStream out;
        h.WriteLocalHeader(out);
        EXPECT_EQ(ReadLe(Contents(out), 6, 2), mode == TOEMConvert::oemAlways ? 0x800u : 0u);
        EXPECT_EQ(Contents(out).substr(30), "caf\u00e9/na\u00efve.txt");
    }
}

TEST(ZipHeader, TheNtfsTimeWinsAndIsReadWithinItsBounds)
{
    const uint64_t ticks = (uint64_t(1509509517) + 11644473600u) * 10000000u + 1230000u;  // 2017-11-01 04:11:57.123
    const auto ntfs = [](const std::string& attributes) { return Block(0x000A, Le(0, 4) + attributes); };
    const std::string times = Le(ticks, 8) + Le(0, 16);
    const std::string extended = Block(0x5455, "\1" + Le(1000, 4)), infoZip = Block(0x5855, Le(0, 4) + Le(2000, 4));
    const std::string accessOnly = Block(0x5455, "\2" + Le(1000, 4));
    struct Case {
        std::string extra;
        std::optional<int64_t> time;
        uint32_t dos = 0x52CF645C;  // 2021
    } cases[] = {
        {ntfs(Block(1, times)), 1509509517},
        {extended + infoZip + ntfs(Block(2, "xy") + Block(1, times)), 1509509517},
        {infoZip + extended, 1000},
        {infoZip, 2000},
        {ntfs(Block(1, Le(0, 24))) + extended, 1000},       // 0: no time
        {ntfs(Block(1, times.substr(0, 16))) + infoZip, 2000},  // attribute too short
        {ntfs(Le(1, 2) + Le(24, 2) + times.substr(0, 20)), std::nullopt},  // runs past the field
        {Block(0x000A, "\0\0"), std::nullopt},
        {ntfs(Block(1, Le(uint64_t(1) << 63, 8) + Le(0, 16))), std::nullopt},
        {ntfs(Block(1, Le(10000000, 8) + Le(0, 16))), -11644473599},  // 1601
        {accessOnly, std::nullopt},  // no modification time: the DOS time stands
        {accessOnly + infoZip, 2000},
        {Block(0x5455, "\1" + Le(0xFFFFFFFF, 4)), -1},  // signed in 2021: 1969
        // A time of February 2038 past 2^31 seconds, as the DOS time tells.
        {Block(0x5455, "\1" + Le(2150000000, 4)), 2150000000, 58u << 25 | 2u << 21 | 18u << 16},
    };
    for (const Case& c : cases) {
        auto h = ReadCentral(CentralHeaderBytes(0, 0, 10, "n", c.extra).replace(12, 4, Le(c.dos, 4)));
        ASSERT_TRUE(h);
        EXPECT_EQ(h->ModTimeUtc, c.time) << testing::PrintToString(c.extra);
    }
}

TEST(ZipHeader, CentralHeaderSplitAcrossPartsIsJoined)
{
    const std::string header = CentralHeaderBytes(0x0314, 0, 77, "joined.txt");
    const std::string first = "tail of part one" + header.substr(0, 10);
    const std::string second = header.substr(10);
    THugeCustomMemoryStream part1(first.data(), int64_t(first.size()));
    THugeCustomMemoryStream part2(second.data(), int64_t(second.size()));
    part1.SetPosition(16);
    THugeStream* s = &part1;
    TZipHeaderInfo h;
    EXPECT_FALSE(h.ReadCentralHeader(s));
    EXPECT_EQ(s, &part1);
    ASSERT_TRUE(h.ReadCentralHeader(s, [&](THugeStream*& stream) { stream = &part2; }));
    EXPECT_EQ(s, &part2);
    EXPECT_EQ(h.FileName(), "joined.txt");
    EXPECT_EQ(h.CompressedSize(), 77u);
    EXPECT_EQ(part2.Position(), 36 + 10);
}

TEST(ZipHeader, CommentNotLoadedYetIsCopiedFromTheArchive)
{
    const std::string archive = CentralHeaderBytes(0x0314, 0, 5, "c.txt", Block(0xCAFE, "x"), "a comment");
    auto h = ReadCentral(archive);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->CommentLength(), 9u);
    EXPECT_FALSE(h->FileComment());
    THugeCustomMemoryStream in(archive.data(), int64_t(archive.size()));
    THugeMemoryStream out;
    h->WriteCentralHeader(out, &in);
    EXPECT_EQ(Contents(out), archive);

    auto orphan = ReadCentral(archive);
    THugeMemoryStream lost;
    EXPECT_THROW(orphan->WriteCentralHeader(lost, nullptr), EReadError);
}

TEST(EndCentral, WrittenRecordsReadBackAcrossZip64Thresholds)
{
    const uint64_t counts[] = {0, 0xFFFE, 0xFFFF, 0x10000};
    const uint64_t sizes[] = {0, 0xFFFFFFFE, 0xFFFFFFFF, 6 * GiB};
    const uint32_t disks[] = {0, 0xFFFE, 0xFFFF};
    for (uint64_t count : counts)
        for (uint64_t size : sizes)
            for (uint32_t disk : disks) {
                SCOPED_TRACE(testing::Message() << count << " " << size << " " << disk);
                TEndCentral e;
                e.SetThisDisk(disk);
                e.SetCentralDirDisk(disk);
                e.SetEntriesThisDisk(count);
                e.SetTotalEntries(count + 1);
                e.SetCentralDirSize(size);
                e.SetCentralDirOffset(size / 2);
                e.SetCommentText("archive comment");
                THugeMemoryStream out;
                out.WriteBuffer("central directory", 17);
                e.WriteEndRecord(out);
                const bool wide = count + 1 >= 0xFFFF || size >= 0xFFFFFFFF || disk >= 0xFFFF;
                EXPECT_EQ(out.Size(), 17 + (wide ? 76 : 0) + 22 + 15);

                TEndCentral r;
                ASSERT_TRUE(r.ReadEndRecord(out));
                EXPECT_EQ(r.ThisDisk(), disk);
                EXPECT_EQ(r.CentralDirDisk(), disk);
                EXPECT_EQ(r.EntriesThisDisk(), count);
                EXPECT_EQ(r.TotalEntries(), count + 1);
                EXPECT_EQ(r.CentralDirSize(), size);
                EXPECT_EQ(r.CentralDirOffset(), size / 2);
                EXPECT_EQ(r.CommentLength(), 15u);
                EXPECT_EQ(r.CommentPosition, out.Size() - 15);
                EXPECT_EQ(r.TotalParts(), wide ? disk + 1 : 0);
                EXPECT_EQ(bool(r.Zip64EndRecord), wide);
            }
}

TEST(EndCentral, LongestCommentAndDamagedZip64Records)
{
    const std::string record = Le(EndCentralDirSig, 4) + Le(0, 8) + Le(100, 4) + Le(200, 4);
    const std::string longest = "data" + record + Le(0xFFFF, 2) + std::string(0xFFFF, 'c');
    THugeCustomMemoryStream m(longest.data(), int64_t(longest.size()));
    TEndCentral e;
    ASSERT_TRUE(e.ReadEndRecord(m));
    EXPECT_EQ(e.CentralDirOffset(), 200u);
    EXPECT_EQ(e.CommentPosition, 4 + 22);

    // A locator whose Zip64 end record lies past the end of the file.
    const std::string locator = Le(Zip64EndCentralLocatorSig, 4) + Le(0, 4) + Le(uint64_t(1) << 62, 8) + Le(1, 4);
    const std::string saturated = Le(EndCentralDirSig, 4) + Le(0, 8) + Le(100, 4) + Le(0xFFFFFFFF, 4) + Le(0, 2);
    const std::string plain = record + Le(0, 2);
    for (const std::string& end : {saturated, plain}) {
        const std::string bytes = "x" + locator + end;
        THugeCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
        EXPECT_EQ(e.ReadEndRecord(s), end == plain);
        EXPECT_FALSE(e.Zip64EndRecord);
    }
}

TEST(EndCentral, TheRecordWhoseCommentReachesTheEndWins)
{
    // The real record says the directory lies at 200; fakes say 7.
    const auto record = [](uint32_t offset, size_t commentLength) {
        return Le(EndCentralDirSig, 4) + Le(0, 8) + Le(100, 4) + Le(offset, 4) + Le(commentLength, 2);
    };
    const std::string fake0 = record(7, 0), fill(1000, 'c');
    struct Case {
        std::string comment, after;  // the real record's comment, bytes after it
        uint32_t offset;
    } cases[] = {
        {fill + fake0, "", 200},                      // the fake reaches the end too
        {fake0 + fill, "", 200},                      // the fake's comment ends early
        {fill + record(7, 1000), "", 200},           // the fake's comment runs past the end
        {std::string(0xFFFF - 22, 'c') + fake0, "", 200},  // the longest comment
        {"short", "", 200},
        // No record reaches the end (bytes after the archive): the last one.
        {"", "junk", 200},
        {fake0, "junk", 7},
    };
    for (const Case& c : cases) {
        const std::string bytes = "data" + record(200, c.comment.size()) + c.comment + c.after;
        THugeCustomMemoryStream m(bytes.data(), int64_t(bytes.size()));
        TEndCentral e;
        ASSERT_TRUE(e.ReadEndRecord(m)) << c.comment.size();
        EXPECT_EQ(e.CentralDirOffset(), c.offset) << c.comment.size();
        if (c.offset == 200) {
            EXPECT_EQ(e.CommentPosition, 4 + 22) << c.comment.size();
        }
    }
}

TEST(ZipRecords, HandBuiltArchiveIsAcceptedByPython)
{
    const std::string data = "Hello from the record writers!\n";
    THugeMemoryStream out;
    TZipHeaderInfo entries[2] = {TZipHeaderInfo(TOEMConvert::oemAlways), TZipHeaderInfo(TOEMConvert::oemAlways)};
    for (TZipHeaderInfo& e : entries) {
        e.SetDirectory("caf\u00e9");
        e.CompressionMethod = 0;
        e.ModDateTime = 0x52CF645C;
        e.Crc32 = 0;
    }
    entries[0].WriteLocalHeader(out);  // a folder
    entries[1].SetFileName("hello.txt");
    entries[1].Crc32 = Crc32Update(0xFFFFFFFF, data.data(), data.size()) ^ 0xFFFFFFFF;
    entries[1].SetCompressedSize(data.size());
    entries[1].SetUncompressedSize(data.size());
    entries[1].WriteLocalHeader(out);
    out.WriteBuffer(data.data(), int64_t(data.size()));

    TEndCentral end;
    end.SetCentralDirOffset(uint64_t(out.Position()));
    for (TZipHeaderInfo& e : entries)
        e.WriteCentralHeader(out, nullptr);
    end.SetCentralDirSize(uint64_t(out.Position()) - end.CentralDirOffset());
    end.SetEntriesThisDisk(2);
    end.SetTotalEntries(2);
    end.SetCommentText("made by hand");
    end.WriteEndRecord(out);

    testing_support::TempDir dir;
    testing_support::WriteFile(dir / "hand.zip", Contents(out));
    std::string listing, testing;
    ASSERT_EQ(testing_support::Run("python3 -m zipfile -l '" + (dir / "hand.zip") + "'", &listing), 0) << listing;
    EXPECT_NE(listing.find("caf\u00e9/hello.txt"), std::string::npos) << listing;
    EXPECT_NE(listing.find("caf\u00e9/ "), std::string::npos) << listing;
    EXPECT_EQ(testing_support::Run("python3 -m zipfile -t '" + (dir / "hand.zip") + "'", &testing), 0) << testing;
    EXPECT_EQ(testing.find("corrupted"), std::string::npos) << testing;
}

TEST(SortedZip, OrdersByEveryMode)
{
    auto entry = [](const std::string& name, uint64_t compressed, uint64_t uncompressed, uint32_t date, uint64_t offset) {
        auto h = std::make_unique<TZipHeaderInfo>();
        h->SetFileName(name);
        h->SetCompressedSize(compressed);
        h->SetUncompressedSize(uncompressed);
        h->ModDateTime = date;
        h->SetLocalHeaderOffset(offset);
        return h;
    };
    std::unique_ptr<TZipHeaderInfo> entries[] = {
        entry("b.txt", 50, 100, 0x52CF645C, 300),
        entry("A.TXT", 0, 0, 0x52CF645D, 100),
        entry("a.txt", 5 * GiB, 5 * GiB, 0x42CF645C, 6 * GiB),
    };
    auto order = [&](TZipSortMode mode) {
        TSortedZip list(TDuplicateRule::AcceptEqual, false, mode);
        for (auto& e : entries)
            list.Add(e.get());
        std::string names;
        for (int i = 0; i < list.Count(); ++i)
            names += list.Get(i)->FileName() + " ";
        EXPECT_TRUE(list.HasZip64);
        return names;
    };
    EXPECT_EQ(order(TZipSortMode::ByNone), "A.TXT b.txt a.txt ");
    EXPECT_EQ(order(TZipSortMode::ByName), "a.txt A.TXT b.txt ");  // the later of two equal names first
    EXPECT_EQ(order(TZipSortMode::ByDate), "A.TXT b.txt a.txt ");
    EXPECT_EQ(order(TZipSortMode::ByCompressedSize), "a.txt b.txt A.TXT ");
    EXPECT_EQ(order(TZipSortMode::ByRate), "a.txt b.txt A.TXT ");  // an empty entry rates 0

    // An order that never ranks two entries equal still finds its entries.
    TSortedZip byDate(TDuplicateRule::AcceptEqual, false, TZipSortMode::ByDate);
    for (auto& e : entries)
        byDate.Add(e.get());
    EXPECT_EQ(byDate.IndexOf(entries[0].get()), 1);
    EXPECT_EQ(byDate.Neighbour(entries[0].get(), true), entries[2].get());

    TSortedZip byPlace(TDuplicateRule::RejectEqual);
    byPlace.Add(entry("one", 1, 1, 0, 100).release());
    auto samePlace = entry("two", 1, 1, 0, 100);
    EXPECT_THROW(byPlace.Add(samePlace.get()), EListError);
    samePlace->SetDiskNumberStart(1);
    byPlace.Add(samePlace.release());
    EXPECT_EQ(byPlace.Count(), 2);
    EXPECT_FALSE(byPlace.HasZip64);
}

}  // namespace
