// The records read from archives written by other tools.
#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>

#include <gtest/gtest.h>

#include "engine/BufferStream.h"
#include "engine/ZipObj.h"
#include "platform/CodePage.h"
#include "tests/TestSupport.h"

namespace {

using testing_support::CorpusDir;
using testing_support::ManifestRow;

std::unique_ptr<TLFNFileStream> OpenArchive(const std::string& path)
{
    return std::make_unique<TLFNFileStream>(path, 8192, false, platform::fmOpenRead | platform::fmShareDenyWrite);
}

// The central directory of the archive, in directory order; stops at the first
// header that cannot be read.
std::vector<std::unique_ptr<TZipHeaderInfo>> ReadDirectory(TLFNFileStream& file, const TEndCentral& end, TOEMConvert mode)
{
    std::vector<std::unique_ptr<TZipHeaderInfo>> entries;
    file.SetPosition(int64_t(end.CentralDirOffset()));
    for (uint64_t i = 0; i < end.TotalEntries(); ++i) {
        auto h = std::make_unique<TZipHeaderInfo>(mode);
        THugeStream* s = &file;
        if (!h->ReadCentralHeader(s))
            break;
        file.Seek(h->ExtraLength + int64_t(h->CommentLength()), THugeStream::soCurrent);
        entries.push_back(std::move(h));
    }
    return entries;
}

TEST(CorpusRecords, CentralDirectoriesMatchTheManifest)
{
    const auto archives = testing_support::ManifestArchives({"peers/", "legacy/"});
    ASSERT_GT(archives.size(), 40u);

    for (const auto& [archive, rows] : archives) {
        SCOPED_TRACE(archive);
        auto file = OpenArchive(CorpusDir() + "/" + archive);
        TEndCentral end;
        ASSERT_TRUE(end.ReadEndRecord(*file));
        const auto raw = ReadDirectory(*file, end, TOEMConvert::oemNever);
        const auto converted = ReadDirectory(*file, end, TOEMConvert::oemAlways);
        ASSERT_EQ(raw.size(), rows.size());
        ASSERT_EQ(converted.size(), rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            const ManifestRow& row = rows[i];
            const TZipHeaderInfo& h = *raw[i];
            SCOPED_TRACE(row.entry);
            std::string stored = row.entry;
            std::replace(stored.begin(), stored.end(), '\\', '/');
            EXPECT_EQ(h.Directory() + h.FileName(), stored);
            // The corpus has no valid UTF-8 name that is meant as code page 437;
            // the others (a Cyrillic name from DOS) read as code page 437.
            const std::string expected = platform::IsValidUtf8(stored) ? stored : platform::Cp437ToUtf8(stored);
            EXPECT_EQ(converted[i]->Directory() + converted[i]->FileName(), expected);
            EXPECT_EQ(h.CompressionMethod, row.method);
            EXPECT_EQ(h.CompressedSize(), row.compressedSize);
            EXPECT_EQ(h.UncompressedSize(), row.uncompressedSize);
            EXPECT_EQ(h.Crc32, row.crc32);

            // The local header in this file agrees, Zip64 blocks included.
            if (h.DiskNumberStart() != end.ThisDisk())
                continue;
            TZipHeaderInfo local(TOEMConvert::oemNever);
            file->SetPosition(int64_t(h.LocalHeaderOffset()));
            ASSERT_TRUE(local.ReadLocalHeader(*file));
            EXPECT_EQ(local.Directory() + local.FileName(), stored);
            EXPECT_EQ(local.CompressionMethod, row.method);
            if (!local.HasDataDescriptor()) {
                EXPECT_EQ(local.CompressedSize(), row.compressedSize);
                EXPECT_EQ(local.UncompressedSize(), row.uncompressedSize);
                EXPECT_EQ(local.Crc32, row.crc32);
            }
        }
    }
}

TEST(CorpusRecords, LongCommentAndOverlappingHeaders)
{
    auto big = OpenArchive(CorpusDir() + "/peers/py-big-comment.zip");
    TEndCentral end;
    ASSERT_TRUE(end.ReadEndRecord(*big));
    EXPECT_EQ(end.CommentLength(), 65530u);
    EXPECT_EQ(end.CommentPosition, big->Size() - 65530);

    // Two central headers pointing at one local header cannot share a list in place order.
    auto overlap = OpenArchive(CorpusDir() + "/bad/overlap-two-names-one-local.zip");
    ASSERT_TRUE(end.ReadEndRecord(*overlap));
    const auto headers = ReadDirectory(*overlap, end, TOEMConvert::oemAlways);
    TSortedZip list(TDuplicateRule::RejectEqual, false);
    auto addAll = [&] {
        for (const auto& h : headers)
            list.Add(h.get());
    };
    EXPECT_THROW(addAll(), EListError);
}

TEST(CorpusRecords, DamagedFilesAreRefusedWithoutHarm)
{
    const std::string bad = CorpusDir() + "/bad/";
    TEndCentral end;
    auto empty = OpenArchive(bad + "zero-length.zip");
    EXPECT_TRUE(end.ReadEndRecord(*empty));
    EXPECT_EQ(end.TotalEntries(), 0u);
    for (int n = 1; n <= 21; ++n) {
        auto tiny = OpenArchive(bad + (n < 10 ? "tiny-0" : "tiny-") + std::to_string(n) + ".zip");
        EXPECT_FALSE(end.ReadEndRecord(*tiny)) << n;
    }
    for (const char* name : {"trunc-in-end-record.zip", "trunc-last-byte.zip", "trunc-in-central-dir.zip",
                             "trunc-before-central-dir.zip", "text-named-zip.zip"}) {
        auto file = OpenArchive(bad + name);
        EXPECT_FALSE(end.ReadEndRecord(*file)) << name;
    }
    auto zeroed = OpenArchive(bad + "central-dir-zeroed.zip");
    ASSERT_TRUE(end.ReadEndRecord(*zeroed));
    EXPECT_TRUE(ReadDirectory(*zeroed, end, TOEMConvert::oemAlways).empty());

    // Every file of the corpus, read as far as its records go.
    for (const auto& item : std::filesystem::recursive_directory_iterator(CorpusDir())) {
        if (!item.is_regular_file())
            continue;
        auto file = OpenArchive(item.path().string());
        if (end.ReadEndRecord(*file))
            ReadDirectory(*file, end, TOEMConvert::oemAlways);
        TZipHeaderInfo local(TOEMConvert::oemAlways);
        file->SetPosition(0);
        while (local.ReadLocalHeader(*file))
            file->Seek(local.LocalExtraLength + int64_t(local.CompressedSize()), THugeStream::soCurrent);
    }
}

}  // namespace
