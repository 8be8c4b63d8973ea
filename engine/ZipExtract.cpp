// Extraction: choosing entries, placing output files, the password check,
// decoding stored and deflated data with its CRC-32, and the traditional
// ZIP cipher.
#include <algorithm>
#include <cstring>
#include <zlib.h>

#include "engine/Crc32.h"
#include "engine/Wildcard.h"
#include "engine/ZipExceptions.h"
#include "engine/ZipReader.h"
#include "engine/ZipUtils.h"
#include "platform/Hooks.h"

namespace {

// Entry data moves in chunks of this size; no entry is held in memory whole.
constexpr size_t ChunkSize = 32768;

bool StartsWithNoCase(const std::string& text, const std::string& prefix)
{
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [&](char a, char b) { return fold(a) == fold(b); });
}

}  // namespace

// ---- The cipher -------------------------------------------------------------

void TZipKeys::InitKeys(const std::string& password)
{
    *this = TZipKeys();
    for (unsigned char c : password)
        UpdateKeys(c);
}

void TZipKeys::UpdateKeys(uint8_t plain)
{
    key0_ = Crc32Step(key0_, plain);
    key1_ = (key1_ + (key0_ & 0xFF)) * 134775813u + 1;
    key2_ = Crc32Step(key2_, uint8_t(key1_ >> 24));
}

uint8_t TZipKeys::StreamByte() const
{
    const uint32_t t = (key2_ & 0xFFFF) | 2;
    return uint8_t(((t * (t ^ 1)) & 0xFFFF) >> 8);
}

void TZipKeys::DecryptBuffer(uint8_t* buffer, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        buffer[i] ^= StreamByte();
        UpdateKeys(buffer[i]);
    }
}

uint8_t TZipKeys::EncryptByte(uint8_t plain)
{
    const uint8_t t = StreamByte();
    UpdateKeys(plain);
    return plain ^ t;
}

// ---- Settings -----------------------------------------------------------------

void TZipReader::SetDestDir(const std::string& folder)
{
    std::string chosen = folder;
    if (chosen == "?") {
        chosen = destDir_.empty() || !platform::DirectoryExists(destDir_) ? platform::GetCurrentDir() : destDir_;
        if (!platform::FolderDialog(chosen))
            throw EUserCanceled("User canceled Set Desination Directory");
        platform::ForceDirectories(chosen);
    }
    if (chosen.size() > 1 && chosen.back() == '/')
        chosen.pop_back();
    destDir_ = chosen;
}

void TZipReader::SetRootDir(const std::string& root)
{
    rootDir_ = root;
    if (!rootDir_.empty() && rootDir_.back() != '/')
        rootDir_ += '/';
    RelativePathList = {rootDir_};
}

// ---- The run ------------------------------------------------------------------

struct TZipReader::TUnZipRun {
    std::vector<uint8_t> input = std::vector<uint8_t>(ChunkSize);
    std::vector<uint8_t> output = std::vector<uint8_t>(ChunkSize);
    int numFiles = 0;
    int64_t totalBytes = 0;  // of the selected entries, less those skipped
    int64_t runWritten = 0;
    int fileCount = 0;
    bool retry = false;  // a new password asks for the entry once more

    // The entry being extracted.
    TZipHeaderInfo work;
    TLFNFileStream* out = nullptr;
    int64_t toRead = 0;  // compressed bytes not yet read
    uint32_t crc = 0xFFFFFFFF;
    int64_t written = 0;
    bool failed = false;  // the data could not be decoded whole
};

int TZipReader::UnZip()
{
    const bool wasWorking = working_;
    working_ = true;
    cancel_ = false;
    auto restore = [&] {
        CloseZipFile();
        working_ = wasWorking;
        cancel_ = false;
    };
    int count = 0;
    try {
        ReadArchive();
        OpenZipFile();
        count = RunExtraction();
    } catch (...) {
        restore();
        throw;
    }
    restore();
    return count;
}

int TZipReader::RunExtraction()
{
    const bool wasReading = reading_;
    const bool keepOpen = KeepZipOpen;
    reading_ = true;
    KeepZipOpen = true;  // switching parts must not close the archive
    cancel_ = false;
    TUnZipRun run;
    const TZipSortMode sortMode = SortMode;
    const bool resort = endCentral_.ThisDisk() != 0 && sortMode != TZipSortMode::ByNone;
    auto finish = [&] {
        FilesList.clear();
        if (resort)
            SortEntries(sortMode);
        KeepZipOpen = keepOpen;
        reading_ = wasReading;
        if (OnUnZipComplete)
            OnUnZipComplete(*this, run.fileCount);
    };
    try {
        if (!TestOnly && !destDir_.empty() && !platform::DirectoryExists(destDir_))
            platform::ForceDirectories(destDir_);
        // A multi-part archive is read part after part.
        if (resort)
            SortEntries(TZipSortMode::ByNone);

        run.numFiles = EntryCount();
        for (int i = 0; i < EntryCount(); ++i) {
            Poll();
            TZipHeaderInfo& e = Entry(i);
            e.Selected = DoAll;
            if (e.FileName().empty() && !RecreateDirs) {
                e.Selected = false;
            } else if (!DoAll) {
                const std::string stored = e.Directory() + e.FileName();
                e.Selected = std::any_of(FilesList.begin(), FilesList.end(),
                                         [&](const std::string& pattern) { return MatchesPattern(pattern, stored); });
            }
            if (e.Selected)
                run.totalBytes += int64_t(e.UncompressedSize());
            else
                --run.numFiles;
        }

        bool stopNow = false;
        if (OnStartUnZipInfo)
            OnStartUnZipInfo(*this, run.numFiles, run.totalBytes, stopNow);
        if (run.numFiles > 0 && !stopNow)
            for (int i = 0; i < EntryCount(); ++i)
                if (DoAll || Entry(i).Selected)
                    do
                        ExtractEntry(run, i);
                    while (run.retry);
    } catch (...) {
        finish();
        throw;
    }
    finish();
    return run.fileCount;
}

std::string TZipReader::BuildEntryFolder(const TZipHeaderInfo& entry) const
{
    const std::string dest = (destDir_.empty() ? "." : destDir_) + "/";
    if (!RecreateDirs || entry.Directory().empty())
        return dest;
    std::string folder = entry.Directory();
    for (const std::string& prefix : RelativePathList)
        if (StartsWithNoCase(folder, prefix)) {
            folder.erase(0, prefix.size());
            break;
        }
    // Whatever the archive says, the folder stays below the destination: an
    // absolute folder is taken relative to it and ".." goes nowhere.
    return dest + ContainedFolder(folder);
}

void TZipReader::SkipEntry(TUnZipRun& run, TSkipReason reason, const std::string& fileName, int index)
{
    bool retry = false;
    if (OnSkippingFile)
        OnSkippingFile(*this, reason, fileName, index, retry);
    run.totalBytes -= int64_t(run.work.UncompressedSize());
}

void TZipReader::ExtractEntry(TUnZipRun& run, int index)
{
    run.retry = false;
    TZipHeaderInfo& work = run.work;
    work.Assign(Entry(index));

    if (!work.FileName().empty()) {
        if (MultiMode() != TMultiMode::mmNone && (!archive_ || int(work.DiskNumberStart()) != currentPart_))
            OpenPart(int(work.DiskNumberStart()) + 1);
        uint8_t local[30];
        archive_->SetPosition(int64_t(std::min<uint64_t>(work.LocalHeaderOffset(), INT64_MAX)));
        if (archive_->Read(local, 30) != 30 || std::memcmp(local, "PK\x03\x04", 4) != 0)
            throw EBadZipFile();
        archive_->Seek((local[26] | local[27] << 8) + (local[28] | local[29] << 8), THugeStream::soCurrent);
    }

    const std::string folder = BuildEntryFolder(work);
    if (work.FileName().empty()) {
        if (RecreateDirs && !TestOnly && !platform::DirectoryExists(folder))
            platform::ForceDirectories(folder);
        ++run.fileCount;
        return;
    }
    std::string fileName = folder + work.FileName();
    bool skip = false;
    if (OnStartUnZip)
        OnStartUnZip(*this, index, fileName, skip);
    if (skip)
        return;
    const std::string storedName = work.Directory() + work.FileName();
    if (work.FileName() == "." || work.FileName() == "..") {
        SkipEntry(run, TSkipReason::skCreateError, fileName, index);  // no file can have that name
        return;
    }
    const size_t slash = fileName.rfind('/');
    if (!TestOnly && slash != std::string::npos && !platform::DirectoryExists(fileName.substr(0, slash + 1)))
        platform::ForceDirectories(fileName.substr(0, slash + 1));

    run.toRead = int64_t(std::min<uint64_t>(work.CompressedSize(), INT64_MAX));
    if (work.Encrypted() && !PasswordAccepted(run, index)) {
        SkipEntry(run, TSkipReason::skBadPassword, storedName, index);
        return;
    }
    if (!TestOnly && OverwriteMode != TUZOverwriteMode::Always && platform::FileExists(fileName) &&
        KeepExistingFile(run, index, fileName)) {
        SkipEntry(run, TSkipReason::skNoOverwrite, fileName, index);
        return;
    }

    std::unique_ptr<TLFNFileStream> out;
    for (int attempt = 0; !out && !TestOnly; ++attempt) {
        try {
            out = std::make_unique<TLFNFileStream>(fileName, 8192, FlushFilesOnClose, platform::fmCreate);
        } catch (const EFCreateError&) {
            const int attr = platform::FileGetAttr(fileName);
            if (ReplaceReadOnly && attempt == 0 && attr >= 0) {
                platform::FileSetAttr(fileName, attr & ~platform::faReadOnly);
                continue;
            }
            SkipEntry(run, TSkipReason::skCreateError, fileName, index);
            return;
        }
    }
    try {
        if (out) {
            out->SetSize(int64_t(std::min<uint64_t>(work.UncompressedSize(), INT64_MAX)));
            out->SetPosition(0);
        }
    } catch (const Exception&) {
        out.reset();
        platform::DeleteFile(fileName);  // a size the file system cannot hold
        SkipEntry(run, TSkipReason::skCreateError, fileName, index);
        return;
    }

    run.out = out.get();
    run.failed = false;
    try {
        try {
            Decode(run);
            if (out)
                out->Flush();
        } catch (const EBiggerThanUncompressed&) {
            run.failed = true;
        } catch (const EWriteError&) {
            throw ECantWriteUCF();
        }
    } catch (...) {
        // The file was sized in advance: a partial one would look complete.
        if (out) {
            out.reset();
            platform::DeleteFile(fileName);
        }
        throw;
    }
    out.reset();
    run.out = nullptr;
    // All of the entry must have come out, not just a prefix whose CRC
    // happens to match.
    run.failed = run.failed || uint64_t(run.written) != work.UncompressedSize();

    if (!run.failed && !TestOnly) {
        platform::FileSetDosTime(fileName, FixDosDateTime(work.ModDateTime));
        if (RetainAttributes) {
            const uint32_t mode = work.ExternalAttributes >> 16;
            if (work.VersionMadeBy >> 8 == 3 && mode != 0)
                platform::FileSetPermissions(fileName, mode);
            else if (work.ExternalAttributes & platform::faReadOnly)
                platform::FileSetAttr(fileName, platform::faReadOnly);
        }
    }

    const uint32_t crc = run.crc ^ 0xFFFFFFFF;
    if (!run.failed && crc == work.Crc32) {
        if (OnEndUnZip)
            OnEndUnZip(*this, index, fileName);
        ++run.fileCount;
        return;
    }
    if (work.Encrypted()) {
        if (OnBadPassword) {
            std::string answer = Password;
            OnBadPassword(*this, index, answer);
            if (answer != Password) {
                Password = answer;
                run.retry = true;
            }
        }
        bool retry = false;
        if (!run.retry && OnSkippingFile)
            OnSkippingFile(*this, TSkipReason::skBadPassword, storedName, index, retry);
    } else if (OnBadCRC) {
        OnBadCRC(*this, crc, work.Crc32, index);
    }
    if (!TestOnly)
        platform::DeleteFile(fileName);
}

bool TZipReader::PasswordAccepted(TUnZipRun& run, int index)
{
    const TZipHeaderInfo& work = run.work;
    // Data descriptors mean the CRC was not known when the header was made,
    // so the check byte comes from the time instead.
    const uint8_t check = work.HasDataDescriptor() ? uint8_t(work.ModDateTime >> 8) : uint8_t(work.Crc32 >> 24);
    const int part = currentPart_;
    const int64_t position = archive_->Position();
    const int64_t toRead = run.toRead;
    for (;;) {
        if (run.toRead < 12)
            return false;  // too short to hold the encryption header
        uint8_t header[12];
        ReadCompressed(run, header, 12);
        keys_.InitKeys(Password);
        keys_.DecryptBuffer(header, 12);
        if (header[11] == check)
            return true;
        if (!OnBadPassword)
            return false;
        std::string answer = Password;
        OnBadPassword(*this, index, answer);
        if (answer == Password)
            return false;
        Password = answer;
        if (currentPart_ != part)
            OpenPart(part + 1);
        archive_->SetPosition(position);
        run.toRead = toRead;
    }
}

bool TZipReader::KeepExistingFile(TUnZipRun& run, int index, std::string& fileName)
{
    switch (OverwriteMode) {
    case TUZOverwriteMode::Prompt: {
        bool overwrite = false;
        if (OnPromptForOverwrite)
            OnPromptForOverwrite(*this, overwrite, index, fileName);
        else
            overwrite = HandleMessage(MsgReplaceFile, "Replace existing file " + EntryName(index) + "?",
                                      "File Exists Alert", platform::mbYesNo) == platform::idYes;
        return !overwrite;
    }
    case TUZOverwriteMode::ifNewer:
    case TUZOverwriteMode::ifOlder: {
        // Both times at the two-second resolution of DOS times; equal keeps the file.
        uint32_t fileDos = 0;
        std::time_t entryTime, fileTime;
        if (!platform::FileGetDosTime(fileName, fileDos) ||
            !platform::DosDateTimeToDateTime(run.work.ModDateTime, entryTime) ||
            !platform::DosDateTimeToDateTime(fileDos, fileTime))
            return true;
        return OverwriteMode == TUZOverwriteMode::ifNewer ? !(entryTime > fileTime) : !(entryTime < fileTime);
    }
    case TUZOverwriteMode::Never: return true;
    case TUZOverwriteMode::Always: break;
    }
    return false;
}

// ---- Decoding -----------------------------------------------------------------

void TZipReader::Decode(TUnZipRun& run)
{
    run.crc = 0xFFFFFFFF;
    run.written = 0;
    switch (run.work.CompressionMethod) {
    case 0: CopyStored(run); break;
    case 8: InflateEntry(run); break;
    default:
        HandleMessage(MsgUnknownMethod, "Unknown Compression Method", "Zip Error", platform::mbOK);
        break;
    }
}

size_t TZipReader::ReadCompressed(TUnZipRun& run, uint8_t* buffer, size_t n)
{
    n = size_t(std::min<int64_t>(int64_t(n), run.toRead));
    run.toRead -= int64_t(n);
    size_t got = size_t(std::max<int64_t>(0, archive_->Read(buffer, int64_t(n))));
    // In a multi-part archive the data goes on at the start of the next part.
    while (got < n && MultiMode() != TMultiMode::mmNone && currentPart_ + 1 < partCount_) {
        OpenPart(currentPart_ + 2);
        got += size_t(std::max<int64_t>(0, archive_->Read(buffer + got, int64_t(n - got))));
    }
    if (got < n)
        throw EFatalUnzipError("Premature end of file reached");
    return got;
}

size_t TZipReader::RefillInput(TUnZipRun& run)
{
    Poll();
    const size_t n = ReadCompressed(run, run.input.data(), ChunkSize);
    if (n > 0 && run.work.Encrypted()) {
        if (OnDecrypt)
            OnDecrypt(*this, run.input.data(), int(n), Password);
        else
            keys_.DecryptBuffer(run.input.data(), n);
    }
    return n;
}

void TZipReader::CopyStored(TUnZipRun& run)
{
    while (run.toRead > 0) {
        Poll();
        FlushOutput(run, ReadCompressed(run, run.output.data(), ChunkSize));
    }
}

void TZipReader::InflateEntry(TUnZipRun& run)
{
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        throw EZCompressionError();
    struct End {
        z_stream& z;
        ~End() { inflateEnd(&z); }
    } end{z};
    z.next_out = run.output.data();
    z.avail_out = ChunkSize;
    int r = Z_OK;
    do {
        if (z.avail_in == 0) {
            const size_t n = RefillInput(run);
            if (n == 0) {
                // The compressed bytes ran out before the stream's end.
                run.failed = true;
                return;
            }
            z.next_in = run.input.data();
            z.avail_in = uInt(n);
        }
        r = inflate(&z, Z_NO_FLUSH);
        // Z_BUF_ERROR only says no progress was possible; with input and room
        // left that would repeat forever.
        if ((r < 0 && r != Z_BUF_ERROR) || (r == Z_BUF_ERROR && z.avail_in > 0 && z.avail_out > 0) ||
            r == Z_NEED_DICT) {
            // A wrong password passes the check byte once in 256 times and
            // then yields garbage: that is a bad password, not a broken archive.
            if (run.work.Encrypted() && r == Z_DATA_ERROR) {
                run.failed = true;
                return;
            }
            throw EZCompressionError();
        }
        if (z.avail_out == 0 || r == Z_STREAM_END) {
            FlushOutput(run, ChunkSize - z.avail_out);
            z.next_out = run.output.data();
            z.avail_out = ChunkSize;
        }
    } while (r != Z_STREAM_END);
}

void TZipReader::FlushOutput(TUnZipRun& run, size_t n)
{
    if (n == 0)
        return;
    const TZipHeaderInfo& work = run.work;
    uint8_t* data = run.output.data();
    // Stored data is decrypted as it goes out; compressed data was decrypted on reading.
    if (work.Encrypted() && work.CompressionMethod == 0 && !Password.empty())
        keys_.DecryptBuffer(data, n);
    if (uint64_t(run.written) + n > work.UncompressedSize())
        throw EBiggerThanUncompressed();
    if (run.out && run.out->Write(data, int64_t(n)) != int64_t(n))
        throw ECantWriteUCF();
    run.crc = Crc32Update(run.crc, data, n);
    run.written += int64_t(n);
    run.runWritten += int64_t(n);
    if (OnFilePercentDone)
        OnFilePercentDone(*this, PercentOf(run.written, int64_t(work.UncompressedSize())));
    if (OnTotalPercentDone)
        OnTotalPercentDone(*this, PercentOf(run.runWritten, run.totalBytes));
}
