// The writer's entry path: a new entry from its source (whole or streamed)
// through its CRC, codec and cipher into the output or its parts.

#include "engine/ZipWriter.h"
#include "engine/ZipWriteRun.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <unordered_map>
#include <unordered_set>

#include "engine/Crc32.h"
#include "engine/DirSearch.h"
#include "engine/Wildcard.h"
#include "engine/ZipAes.h"
#include "engine/ZipDeflate.h"
#include "engine/ZipExceptions.h"
#include "engine/ZipParts.h"
#include "engine/ZipUtils.h"
#include "platform/Hooks.h"

using namespace zipwriter;

void TZipWriter::TWholeFile::Load(platform::Handle open)
{
    const platform::Handle h =
        open != platform::InvalidHandle ? open : platform::FileOpen(path, platform::fmOpenRead | platform::fmShareDenyNone);
    if (h == platform::InvalidHandle) {
        usable = false;
        return;
    }
    // One byte past the planned size tells a file that grew.
    data.resize(size_t(planned) + 1);
    const int64_t got = platform::FileRead(h, data.data(), int64_t(data.size()));
    if (got < 0)
        readError = ErrorText(errno);
    if (h != open)
        platform::FileClose(h);
    data.resize(size_t(std::max<int64_t>(got, 0)));
    if (got > planned) {
        usable = false;
        data = {};
        return;
    }
    if (!readError.empty())
        return;
    crc = Crc32Update(crc, data.data(), data.size());
    if (level > 0)
        DeflateWholeOrStore(level, data, packed);
}

void TZipWriter::LoadAhead(TWriteRun& run, const std::vector<std::string>& items, size_t current)
{
    // With one thread each file is loaded in its turn: there is nothing to
    // do meanwhile. So is the last one, unless the next archive's files are
    // to be loaded meanwhile.
    if (run.workers->Threads() <= 1)
        return;
    for (run.nextAhead = std::max(run.nextAhead, current + 1 < items.size() ? current : items.size());
         run.nextAhead < items.size(); ++run.nextAhead) {
        // Many small or empty files are set going here in one go, a long
        // step of its own.
        Poll();
        const std::string& item = items[run.nextAhead];
        std::error_code ec;
        const auto size = int64_t(std::filesystem::file_size(item, ec));
        if (EndsWithSlash(item) || ec || size > WholeFileLimit ||
            (run.loadedBefore && run.loadedBefore->files.contains(item)))
            continue;
        if (run.aheadBytes + size > AheadBytes && !run.ahead.empty())
            return;
        run.ahead[run.nextAhead] = StartLoad(run, item, size);
        run.aheadBytes += size;
    }
    LoadNextArchive(run);
}

TTask<TZipWriter::TWholeFile> TZipWriter::StartLoad(TWriteRun& run, const std::string& item, int64_t size)
{
    auto whole = std::make_shared<TWholeFile>();
    whole->path = item;
    whole->level = EntryLevel(item);
    whole->planned = size;
    return {whole, run.workers->Run([whole] { whole->Load(); })};
}

void TZipWriter::LoadNextArchive(TWriteRun& run)
{
    if (NextFilesList.empty())
        return;
    if (!run.loadingNext)
        run.loadingNext = std::make_unique<TNextLoads>();
    TNextLoads& next = *run.loadingNext;
    for (; next.item < NextFilesList.size(); ++next.item) {
        Poll();
        // Only a file named with its folder is sure to be that file in the
        // next run's list.
        const std::string& item = NextFilesList[next.item];
        std::error_code ec;
        if (item.find('/') == std::string::npos || !std::filesystem::is_regular_file(item, ec))
            continue;
        const auto size = int64_t(std::filesystem::file_size(item, ec));
        if (ec || size > WholeFileLimit)
            continue;
        const auto modified = std::filesystem::last_write_time(item, ec);
        if (ec)
            continue;
        if (next.bytes + size > AheadBytes && !next.files.empty())
            return;
        TTask<TWholeFile>& task = next.files[item] = StartLoad(run, item, size);
        task.work->modified = modified;
        next.bytes += size;
    }
}

std::shared_ptr<TZipWriter::TWholeFile> TZipWriter::LoadWhole(TWriteRun& run, size_t index, const std::string& item,
                                                              int level, THugeFileStream& source)
{
    std::shared_ptr<TWholeFile> whole;
    if (const auto ahead = run.ahead.find(index); ahead != run.ahead.end() && ahead->second.work->level == level) {
        whole = ahead->second.work;
        Await(ahead->second.done);
    } else if (TTask<TWholeFile> before = TakeLoadedBefore(run, item, level); before.work) {
        whole = before.work;
        Await(before.done);
    } else {
        whole = std::make_shared<TWholeFile>();
        whole->path = item;
        whole->level = level;
        whole->planned = run.recordedSize;
        whole->Load(source.Handle());
        if (!whole->usable)
            source.SetPosition(0);  // streamed from the start after all
    }
    return whole->usable ? whole : nullptr;
}

TTask<TZipWriter::TWholeFile> TZipWriter::TakeLoadedBefore(TWriteRun& run, const std::string& item, int level)
{
    if (!run.loadedBefore)
        return {};
    const auto found = run.loadedBefore->files.find(item);
    if (found == run.loadedBefore->files.end())
        return {};
    TTask<TWholeFile> task = std::move(found->second);
    run.loadedBefore->files.erase(found);
    // Loaded during the last run: used only as long as the file has not
    // changed since (its size now is the size recorded for its entry).
    std::error_code ec;
    const auto modified = std::filesystem::last_write_time(item, ec);
    if (ec || modified != task.work->modified || task.work->planned != run.recordedSize || task.work->level != level) {
        if (task.done.valid())
            WaitPolling(task.done);  // it counts until its worker is done with it
        return {};
    }
    return task;
}

void TZipWriter::Await(std::future<void>& done)
{
    WaitPolling(done);
    done.get();
}

int TZipWriter::EntryLevel(const std::string& item) const
{
    const int level = std::clamp(PackLevel, 0, 9);
    return level == 0 || MatchesList(NoCompressList, item) ? 0 : level;
}

bool TZipWriter::AddNewEntry(TWriteRun& run, const std::string& item, size_t index)
{
    auto header = std::make_unique<TZipHeaderInfo>(OEMConvert);
    if (!AddFile(run, item, index, *header))
        return false;
    AppendEntry(run, std::move(header));
    ++run.count;
    if (Dispose)
        run.disposeList.push_back(item);
    return true;
}

void TZipWriter::AppendEntry(TWriteRun& run, std::unique_ptr<TZipHeaderInfo> entry)
{
    run.names.insert(entry->Directory() + entry->FileName());
    run.end.SetTotalEntries(run.end.TotalEntries() + 1);
    run.entries.push_back(std::move(entry));
}

// One file entry on its way into the output: how it is written, where its
// data goes first, and what its local header took. The staging file, if
// any, goes with it.
struct TZipWriter::TEntryWrite {
    bool encrypt = false;
    bool aes = false;
    int level = 0;  // 0: stored
    bool forceZip64 = false;
    // Multi-part output: the entry's data, staged in memory or in a file.
    std::unique_ptr<THugeStream> temporary;
    std::string temporaryName;
    // A single file: where the local header starts, and its length.
    int64_t offset = 0;
    int64_t headerSize = 0;
    uint32_t checkedCrc = 0;  // the CRC the traditional cipher's header checks
    int64_t bytesRead = 0;

    ~TEntryWrite()
    {
        temporary.reset();
        if (!temporaryName.empty())
            platform::DeleteFile(temporaryName);
    }
};

// Writes one new entry, in stages: the source (a folder, or a file opened
// for reading) and the header it gives, the checks that may skip it, then
// for a file the chain header set-up → output (in place, or staged for
// parts) → source read whole or streamed, with its CRC → cipher header →
// codec → the entry closed and its header placed. False when the item was
// skipped (reported).
bool TZipWriter::AddFile(TWriteRun& run, const std::string& item, size_t index, TZipHeaderInfo& header)
{
    run.fileDone = 0;
    run.recordedSize = 0;
    header.VersionMadeBy = MadeByUnix;
    header.InternalAttributes = 0;
    header.Crc32 = 0;
    const bool folderItem = EndsWithSlash(item);
    std::unique_ptr<THugeFileStream> source;
    if (folderItem)
        DescribeFolder(item, header);
    else if (!(source = OpenSource(run, item, header)))
        return false;
    header.SetFileName(folderItem ? std::string() : NamePart(item));
    header.SetDirectory(StoredFolder(item));
    header.SetDiskNumberStart(0);
    if (!EntryWanted(run, item, header))
        return false;
    if (folderItem) {
        header.GeneralFlags = 0;
        WriteLocalHeaderInPart(run, header);
        if (OnEndZip)
            OnEndZip(*this, item, 0, 0, 0);
        return true;
    }

    TEntryWrite entry;
    SetUpFileHeader(run, item, header, entry);
    OpenEntryOutput(run, header, entry);
    // A small file is read whole (mostly ahead, on a worker), which gives
    // its CRC before its data is written.
    const std::shared_ptr<TWholeFile> whole =
        run.recordedSize <= WholeFileLimit ? LoadWhole(run, index, item, entry.level, *source) : nullptr;
    WriteCipherHeader(run, header, entry, whole.get(), *source);
    WriteEntryData(run, item, entry, whole.get(), *source);
    if (!EntryIntact(run, item, header, entry))
        return false;
    const uint64_t compressed = CloseEntryData(run, header, entry);
    PlaceLocalHeader(run, item, header, entry);
    if (OnEndZip)
        OnEndZip(*this, item, entry.bytesRead, int64_t(compressed), run.parts->Stream().Size());
    return true;
}

// Source, a folder: takes the folder item ("dir/"); gives the header its
// time, exact as a file's, and mode (now, and plain attributes, when the
// folder is gone).
void TZipWriter::DescribeFolder(const std::string& item, TZipHeaderInfo& header) const
{
    const std::string folder = item.size() > 1 ? item.substr(0, item.size() - 1) : item;
    uint32_t dos = 0;
    const bool exists = platform::DirectoryExists(folder) && platform::FileGetDosTime(folder, dos);
    header.ModDateTime = exists ? dos : platform::DateTimeToDosDateTime(std::time(nullptr));
    std::time_t modified;
    header.ModTimeUtc.reset();
    if (exists && platform::FileGetTime(folder, modified))
        header.ModTimeUtc = modified;
    header.WriteTimestamp = true;
    header.CompressionMethod = 0;
    header.ExternalAttributes = exists ? uint32_t(platform::FileGetMode(folder)) << 16 |
                                             uint32_t(platform::FileGetAttr(folder) & 0x3F)
                                       : platform::faArchive;
}

// Source, a file: takes the file item; gives it open for reading, with the
// header's times, mode and size and run.recordedSize. Null when the file is
// gone or cannot be read (reported; the rest of the run goes on).
std::unique_ptr<THugeFileStream> TZipWriter::OpenSource(TWriteRun& run, const std::string& item,
                                                        TZipHeaderInfo& header)
{
    const int attr = platform::FileGetAttr(item);
    if (!platform::FileExists(item)) {
        if (OnNoSuchFile)
            OnNoSuchFile(*this, item);
        return nullptr;
    }
    // (Sources are read in large blocks: they need no buffer of their own.)
    std::unique_ptr<THugeFileStream> source;
    try {
        source = std::make_unique<THugeFileStream>(item, platform::fmOpenRead | platform::fmShareDenyNone);
    } catch (const EFOpenError&) {
        sourceError_ = ErrorText(errno);
        std::error_code ec;
        run.totalBytes -= int64_t(std::filesystem::file_size(item, ec));
        bool retry = false;
        if (OnSkippingFile)
            OnSkippingFile(*this, TSkipReason::skUnreadable, item, -1, retry);
        return nullptr;
    }
    platform::FileGetDosTime(item, header.ModDateTime);
    std::time_t modified;
    header.ModTimeUtc.reset();
    if (platform::FileGetTime(item, modified))
        header.ModTimeUtc = modified;
    header.WriteTimestamp = true;
    header.ExternalAttributes = uint32_t(platform::FileGetMode(item)) << 16 | uint32_t(attr & 0x3F);
    run.recordedSize = source->Size();
    header.SetUncompressedSize(uint64_t(run.recordedSize));
    return source;
}

// Takes the named header; false when the item is skipped: its stored name
// is in the run already, or OnStartZip says so (reported).
bool TZipWriter::EntryWanted(TWriteRun& run, const std::string& item, TZipHeaderInfo& header)
{
    bool retry = false;
    if (run.names.count(header.Directory() + header.FileName())) {
        if (OnSkippingFile)
            OnSkippingFile(*this, TSkipReason::skNoOverwrite, item, -1, retry);
        run.totalBytes -= run.recordedSize;
        return false;
    }
    bool skip = false;
    if (OnStartZip)
        OnStartZip(*this, item, header, skip);
    if (skip) {
        run.totalBytes -= run.recordedSize;
        if (OnSkippingFile)
            OnSkippingFile(*this, TSkipReason::skByHandler, item, -1, retry);
        return false;
    }
    return true;
}

// Header set-up: takes a file's header; gives its flags, codec (stored or
// deflated, under an AES block with AES), a Zip64 block reserved for a file
// that may reach 4 GiB, and the entry's cipher and level.
void TZipWriter::SetUpFileHeader(TWriteRun& run, const std::string& item, TZipHeaderInfo& header,
                                 TEntryWrite& entry) const
{
    entry.encrypt = !Password.empty();
    entry.aes = entry.encrypt && Encryption == TEncryption::Aes256;
    const int packLevel = std::clamp(PackLevel, 0, 9);
    header.GeneralFlags = uint16_t((entry.encrypt ? 1 : 0) | (packLevel <= 2 ? 4 : packLevel >= 8 ? 2 : 0));
    entry.level = EntryLevel(item);
    header.CompressionMethod = entry.level == 0 ? 0 : 8;
    header.AddedExtra.reset();
    if (entry.aes) {
        // The method moves into the AES block; the header says 99.
        header.AddedExtra = TAesField{2, 3, header.CompressionMethod}.Block();
        header.CompressionMethod = MethodAes;
    }
    entry.forceZip64 = !run.multi && uint64_t(run.recordedSize) + Zip64Margin >= 0xFFFFFFFFu;
    if (entry.forceZip64)
        header.SetUncompressedSize(0xFFFFFFFFu);  // a Zip64 block from the start
}

// Output: takes the set-up header; gives run.data, where the entry's data
// goes. A single file gets its local header now and again once the sizes
// are known; for parts, the data goes first to memory (a small entry) or to
// a temporary file and the header is written once, complete.
void TZipWriter::OpenEntryOutput(TWriteRun& run, TZipHeaderInfo& header, TEntryWrite& entry)
{
    TLFNFileStream& out = run.parts->Stream();
    entry.offset = out.Position();
    if (run.multi && run.recordedSize <= StagedInMemory) {
        entry.temporary = std::make_unique<THugeMemoryStream>();
        run.data = entry.temporary.get();
    } else if (run.multi) {
        entry.temporaryName = platform::MakeTempFileName(WorkFolder(), "ZBK");
        if (entry.temporaryName.empty())
            throw EFCreateError("Cannot create file " + WorkFolder() + "ZBK");
        entry.temporary = std::make_unique<TLFNFileStream>(entry.temporaryName, 8192, false, platform::fmCreate);
        run.data = entry.temporary.get();
    } else {
        header.WriteLocalHeader(out);
        entry.headerSize = out.Position() - entry.offset;
        run.data = &out;
    }
}

// Cipher: takes the open output and the source; writes what goes before the
// encrypted data (the AES salt and verifier, or the traditional header,
// whose check bytes need the file's CRC first: from the whole file, or a
// pass over the source) and sets up the cipher.
void TZipWriter::WriteCipherHeader(TWriteRun& run, TZipHeaderInfo& header, TEntryWrite& entry,
                                   const TWholeFile* whole, THugeFileStream& source)
{
    run.readError.clear();
    run.aes.reset();
    if (entry.aes) {
        WriteAesHeader(run);
    } else if (entry.encrypt && whole) {
        entry.checkedCrc = header.Crc32 = whole->crc ^ 0xFFFFFFFF;
        WriteEncryptionHeader(run, header);
    } else if (entry.encrypt) {
        std::vector<uint8_t> block(CrcBlock);
        uint32_t crc = 0xFFFFFFFF;
        for (int64_t n; (n = platform::FileRead(source.Handle(), block.data(), int64_t(block.size()))) > 0;) {
            crc = Crc32Update(crc, block.data(), size_t(n));
            Poll();
        }
        entry.checkedCrc = header.Crc32 = crc ^ 0xFFFFFFFF;
        source.SetPosition(0);
        WriteEncryptionHeader(run, header);
    }
}

// Codec: takes the source (whole or streamed); writes its data, stored or
// deflated and encrypted, to run.data, summing its CRC; gives the bytes read.
// A file that shrank while it was read is told, and its entry holds what was
// read.
void TZipWriter::WriteEntryData(TWriteRun& run, const std::string& item, TEntryWrite& entry, TWholeFile* whole,
                                THugeFileStream& source)
{
    run.crc = 0xFFFFFFFF;
    run.written = 0;
    if (whole)
        WriteWhole(run, *whole);
    else if (entry.level == 0)
        WriteDataStored(run, source);
    else
        WriteDataDeflated(run, source);
    entry.bytesRead = run.fileDone;
    if (entry.bytesRead < run.recordedSize && run.readError.empty())
        HandleMessage(MsgSourceShrank, "The file got shorter while it was being read; the entry holds what was read.",
                      item, platform::mbOK);
}

// Takes the written data and gives the header its CRC; false when the entry
// is taken back and the file skipped (reported): its file could not be read
// to its end, or it changed between the two reads of an encrypted entry
// (its check byte would fit no password).
bool TZipWriter::EntryIntact(TWriteRun& run, const std::string& item, TZipHeaderInfo& header,
                             const TEntryWrite& entry)
{
    header.Crc32 = run.crc ^ 0xFFFFFFFF;
    const bool failed = !run.readError.empty();
    if (!failed && !(entry.encrypt && !entry.aes && header.Crc32 != entry.checkedCrc))
        return true;
    if (!run.multi) {
        TLFNFileStream& out = run.parts->Stream();
        out.SetSize(entry.offset);
        out.SetPosition(entry.offset);
    }
    run.totalBytes -= std::max(entry.bytesRead, run.recordedSize);
    if (failed)
        sourceError_ = run.readError;
    bool retry = false;
    if (OnSkippingFile)
        OnSkippingFile(*this, failed ? TSkipReason::skUnreadable : TSkipReason::skChanged, item, -1, retry);
    return false;
}

// Takes the intact entry; writes the AES authentication code after its data
// (an AES entry keeps no CRC: AE-2) and gives the header its sizes. Gives the
// compressed size, with what the cipher put around the data.
uint64_t TZipWriter::CloseEntryData(TWriteRun& run, TZipHeaderInfo& header, const TEntryWrite& entry)
{
    if (entry.aes) {
        const std::array<uint8_t, 10> code = run.aes->Code();
        if (run.data->Write(code.data(), 10) != 10)
            throw ENotEnoughRoom();
        header.Crc32 = 0;
    }
    const uint64_t compressed =
        uint64_t(run.written) + (entry.aes ? TAesField{}.SaltLength() + 2 + 10 : entry.encrypt ? 12 : 0);
    if (entry.forceZip64 && uint64_t(entry.bytesRead) < 0xFFFFFFFFu)
        header.Zip64Record->UncompressedSize = uint64_t(entry.bytesRead);  // keep the reserved block
    else
        header.SetUncompressedSize(uint64_t(entry.bytesRead));
    header.SetCompressedSize(compressed);
    return compressed;
}

// Part output: takes the complete header; for parts, writes it and copies the
// staged data after it; in a single file, writes it again over the first
// one, which must keep its length.
void TZipWriter::PlaceLocalHeader(TWriteRun& run, const std::string& item, TZipHeaderInfo& header,
                                  TEntryWrite& entry)
{
    if (run.multi) {
        WriteLocalHeaderInPart(run, header);
        SpanCopy(run, header, *entry.temporary);
        return;
    }
    TLFNFileStream& out = run.parts->Stream();
    const int64_t end = out.Position();
    run.parts->Flush();  // so that a full disk shows here, as such
    out.SetPosition(entry.offset);
    header.WriteLocalHeader(out);
    if (out.Position() - entry.offset != entry.headerSize)
        throw EZipEngineError("The file grew past 4 GiB while it was being added: " + item);
    out.SetPosition(end);
}

size_t TZipWriter::ReadSource(TWriteRun& run, THugeFileStream& source, uint8_t* buffer, size_t n)
{
    // A read error ends the data like the end of the file, and is noted.
    const int64_t got = platform::FileRead(source.Handle(), buffer, int64_t(n));
    if (got < 0) {
        run.readError = ErrorText(errno);
        return 0;
    }
    if (got > 0) {
        run.crc = Crc32Update(run.crc, buffer, size_t(got));
        CountRead(run, got);
    }
    return size_t(got);
}

void TZipWriter::CountRead(TWriteRun& run, int64_t n)
{
    run.fileDone += n;
    run.bytesDone += n;
    if (OnFilePercentDone)
        OnFilePercentDone(*this, PercentOf(run.fileDone, run.recordedSize));
    if (OnTotalPercentDone)
        OnTotalPercentDone(*this, PercentOf(run.bytesDone, run.totalBytes));
}

void TZipWriter::WriteOutput(TWriteRun& run, uint8_t* buffer, size_t n)
{
    if (run.aes) {
        run.aes->Encrypt(buffer, n);
    } else if (!Password.empty()) {
        if (OnEncrypt)
            OnEncrypt(*this, buffer, int(n), Password);
        else
            for (size_t i = 0; i < n; ++i)
                buffer[i] = keys_.EncryptByte(buffer[i]);
    }
    if (run.data->Write(buffer, int64_t(n)) != int64_t(n))
        throw ENotEnoughRoom();
    run.written += int64_t(n);
    Poll();
}

void TZipWriter::WriteEncryptionHeader(TWriteRun& run, const TZipHeaderInfo& header)
{
    keys_.InitKeys(Password);
    std::minstd_rand random(uint32_t(std::chrono::steady_clock::now().time_since_epoch().count()));
    uint8_t bytes[12];
    for (int i = 0; i < 10; ++i)
        bytes[i] = keys_.EncryptByte(uint8_t((random() % 32767) >> 7));
    bytes[10] = keys_.EncryptByte(uint8_t(header.Crc32 >> 16));
    bytes[11] = keys_.EncryptByte(uint8_t(header.Crc32 >> 24));
    if (run.data->Write(bytes, 12) != 12)
        throw ENotEnoughRoom();
}

void TZipWriter::WriteAesHeader(TWriteRun& run)
{
    const TAesField field;
    const std::string salt = TAesCipher::NewSalt(field.strength);
    run.aes = std::make_unique<TAesCipher>(field.strength, Password, reinterpret_cast<const uint8_t*>(salt.data()));
    const std::array<uint8_t, 2> verifier = run.aes->Verifier();
    if (run.data->Write(salt.data(), int64_t(salt.size())) != int64_t(salt.size()) || run.data->Write(verifier.data(), 2) != 2)
        throw ENotEnoughRoom();
}

void TZipWriter::WriteDataStored(TWriteRun& run, THugeFileStream& source)
{
    std::vector<uint8_t> block(StoreBlock);
    while (size_t n = ReadSource(run, source, block.data(), block.size()))
        WriteOutput(run, block.data(), n);
}

void TZipWriter::WriteWhole(TWriteRun& run, TWholeFile& whole)
{
    run.readError = whole.readError;
    if (!run.readError.empty())
        return;
    run.crc = whole.crc;
    CountRead(run, int64_t(whole.data.size()));
    std::vector<uint8_t>& bytes = whole.level > 0 ? whole.packed : whole.data;
    for (size_t k = 0; k < bytes.size(); k += ReadBlock)
        WriteOutput(run, bytes.data() + k, std::min(ReadBlock, bytes.size() - k));
}

void TZipWriter::WriteDataDeflated(TWriteRun& run, THugeFileStream& source)
{
    // The file is read here, in blocks; the workers deflate them, a few at a
    // time, and they are written in order as they are done. A short block
    // (the end of the file, or a read error) is the last.
    struct TBlock {
        std::vector<uint8_t> data, packed;
    };
    const int level = std::clamp(PackLevel, 1, 9);
    const size_t most = std::min(MostBlocks, BlocksPerThread * size_t(run.workers->Threads()));
    auto readBlock = [&] {
        std::vector<uint8_t> data(DeflateBlockSize);
        size_t n = 0;
        for (size_t got = 1; n < data.size() && got > 0; n += got)
            got = ReadSource(run, source, data.data() + n, std::min(ReadBlock, data.size() - n));
        data.resize(n);
        return data;
    };
    std::deque<TTask<TBlock>> busy;
    std::vector<uint8_t> next = readBlock();
    for (bool last = false; !last;) {
        auto block = std::make_shared<TBlock>();
        block->data = std::move(next);
        next = block->data.size() == DeflateBlockSize ? readBlock() : std::vector<uint8_t>();
        last = next.empty();
        busy.push_back({block, run.workers->Run([block, level, last] {
                            DeflateBlock(LevelForData(level, block->data), block->data, last, block->packed);
                            block->data = {};
                        })});
        while (!busy.empty() && (busy.size() >= most || last)) {
            Await(busy.front().done);
            std::vector<uint8_t>& packed = busy.front().work->packed;
            for (size_t k = 0; k < packed.size(); k += ReadBlock)
                WriteOutput(run, packed.data() + k, std::min(ReadBlock, packed.size() - k));
            busy.pop_front();
        }
    }
}
