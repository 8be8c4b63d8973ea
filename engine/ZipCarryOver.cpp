// The writer's carry-over: the entries an update keeps, copied byte for byte
// from the old archive, and those it deletes or replaces.

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

// ---- Carrying over and deleting ---------------------------------------------------

// What carrying over shares besides the run: where the old entries' bytes
// start, and the items indexed for each entry to find the one naming it.
struct TZipWriter::TCarryOver {
    // The pass walks the old archive up to its directory (or its end); each
    // entry's bytes reach from its local header to the next one's.
    uint64_t walked = 0;
    std::vector<uint64_t> starts;  // in order
    // Plain names (stored names when adding) by name, the patterns of a
    // deletion in their order, and the items that met their entry (adding).
    std::unordered_multimap<std::string, size_t> byName;
    std::vector<size_t> patterns;
    std::vector<bool> taken;

    int64_t Span(const TZipHeaderInfo& entry) const
    {
        const uint64_t start = std::min(entry.LocalHeaderOffset(), walked);
        const auto next = std::upper_bound(starts.begin(), starts.end(), start);
        return int64_t((next == starts.end() ? walked : *next) - start);
    }
};

// Carries the old archive's entries over, in stages: the walk measured, the
// bytes ahead of the first entry copied, the old directory read, the items
// indexed; then each entry in turn deleted, replaced or kept (the percent
// of the run counts its bytes as done, copied or not); last, the items that
// met their entry leave FilesList.
void TZipWriter::CarryOverEntries(TWriteRun& run)
{
    TCarryOver carry;
    MeasureOldEntries(run, carry);
    CopyLeadingBytes(run, carry);
    ReadOldDirectory(run);
    IndexItems(run, carry);
    for (int i = 0; i < EntryCount(); ++i) {
        Poll();
        const TZipHeaderInfo& old = Entry(i);
        const int64_t copied = ItemTakesEntry(run, carry, i) ? 0 : KeepEntry(run, i);
        // A copy takes each entry whole: its bytes, data descriptor too,
        // end where the next entry's or the directory begin, or the archive
        // read is not whole (a part of a set cut short).
        if (run.copying && copied > carry.Span(old))
            throw EBadZipFile(old.Directory() + old.FileName() +
                              ": the entry runs into the bytes after it (the archive is not whole)");
        run.bytesDone += std::max<int64_t>(0, carry.Span(old) - copied);
        if (OnTotalPercentDone)
            OnTotalPercentDone(*this, PercentOf(run.bytesDone, run.totalBytes));
    }
    if (!run.deleting)
        DropTakenItems(carry);
}

// Takes the old archive; gives where the walk ends and where each entry's
// bytes start, and counts the bytes walked into the run's total.
void TZipWriter::MeasureOldEntries(TWriteRun& run, TCarryOver& carry)
{
    carry.walked = std::min<uint64_t>(endCentral_.CentralDirOffset(), uint64_t(archive_->Size()));
    carry.starts.reserve(size_t(EntryCount()));
    for (int i = 0; i < EntryCount(); ++i)
        carry.starts.push_back(std::min(Entry(i).LocalHeaderOffset(), carry.walked));
    std::sort(carry.starts.begin(), carry.starts.end());
    run.totalBytes += int64_t(carry.walked);
}

// Takes the measured walk; copies the bytes ahead of the first entry (a
// self-extractor's program, say), which stay ahead of it. A copy starts as
// its own kind of archive: the spanning marker of a set of parts ahead of
// the first entry is not carried.
void TZipWriter::CopyLeadingBytes(TWriteRun& run, const TCarryOver& carry)
{
    const int64_t ahead = int64_t(carry.starts.empty() ? carry.walked : carry.starts.front());
    uint8_t marker[4] = {};
    archive_->SetPosition(0);
    const bool spanMarker = run.copying && ahead >= 4 && archive_->Read(marker, 4) == 4 &&
                            (Get32(marker) == DataDescriptorSig || Get32(marker) == SinglePartMarkerSig);
    CopyBytes(run, spanMarker ? 4 : 0, spanMarker ? ahead - 4 : ahead);
}

// Gives the old directory, read at once into run.directory (with where it
// began): each kept entry takes its header from it. Left empty when the end
// record places it outside the archive.
void TZipWriter::ReadOldDirectory(TWriteRun& run)
{
    const uint64_t directorySize = endCentral_.CentralDirSize();
    if (endCentral_.CentralDirOffset() <= uint64_t(archive_->Size()) &&
        directorySize <= uint64_t(archive_->Size()) - endCentral_.CentralDirOffset()) {
        run.directoryAt = int64_t(endCentral_.CentralDirOffset());
        run.directory.resize(size_t(directorySize));
        archive_->SetPosition(run.directoryAt);
        archive_->ReadBuffer(run.directory.data(), int64_t(directorySize));
    }
}

// Takes FilesList; gives the items indexed for each entry to find the one
// naming it, so that carrying over stays linear in entries and items: plain
// names (stored names when adding) by name, the patterns of a deletion in
// their order. A name given twice for a deletion deletes two entries of
// that name.
void TZipWriter::IndexItems(TWriteRun& run, TCarryOver& carry)
{
    carry.taken.resize(FilesList.size());
    run.names.reserve(size_t(EntryCount()) + FilesList.size());
    run.entries.reserve(size_t(EntryCount()) + FilesList.size());
    for (size_t k = 0; k < FilesList.size(); ++k) {
        const std::string& item = FilesList[k];
        if (run.deleting && !ExactNames && IsWild(item))
            carry.patterns.push_back(k);
        else if (run.deleting)
            carry.byName.emplace(item, k);
        else if (std::string stored = StoredName(item); !carry.byName.count(stored))
            carry.byName.emplace(std::move(stored), k);
    }
}

// Takes old entry i; true when an item takes it: a deletion deletes it, or
// an added file replaces it. An item that matches it and does not take it
// (a handler skipped it, the file is no newer) leaves it to be kept.
bool TZipWriter::ItemTakesEntry(TWriteRun& run, TCarryOver& carry, int i)
{
    const TZipHeaderInfo& old = Entry(i);
    const std::string stored = old.Directory() + old.FileName();
    const auto named = carry.byName.find(stored);
    size_t match = named == carry.byName.end() ? SIZE_MAX : named->second;
    if (run.deleting)
        for (size_t k : carry.patterns) {
            if (k > match)
                break;
            if (MatchesPattern(FilesList[k], FilesList[k].find('/') == std::string::npos ? old.FileName() : stored)) {
                match = k;
                break;
            }
        }
    if (match == SIZE_MAX)
        return false;
    if (run.deleting) {
        bool skip = false;
        if (OnDeleteEntry)
            OnDeleteEntry(*this, stored, skip);
        if (!skip)
            ++run.count;
        // A plain name stands for one entry; a pattern goes on matching
        // unless its entry was skipped.
        if (named != carry.byName.end() && named->second == match)
            carry.byName.erase(named);
        else if (skip)
            carry.patterns.erase(std::find(carry.patterns.begin(), carry.patterns.end(), match));
        return !skip;
    }
    carry.byName.erase(named);
    carry.taken[match] = true;
    return ReplaceEntry(run, FilesList[match], i);
}

// Takes old entry i and the file item naming it; true when the file is
// written in its place. An entry as new as its file stays (the file is done
// with: it leaves the run's total, and goes with Dispose), as does one whose
// replacement is not written (its source went, a handler skipped it).
bool TZipWriter::ReplaceEntry(TWriteRun& run, const std::string& item, int i)
{
    uint32_t fileDos = 0;
    const bool found = platform::FileGetDosTime(item, fileDos);
    if (ZipAction != TZipAction::zaReplace && (!found || !NewerThanEntry(item, fileDos, Entry(i)))) {
        if (Dispose)
            run.disposeList.push_back(item);
        // (A folder's entry had no bytes in the total.)
        if (found && !EndsWithSlash(item))
            run.totalBytes -= int64_t(std::filesystem::file_size(item));
        return false;
    }
    if (OnUpdate)
        OnUpdate(*this, TUpdateAction::uaReplacing, i);
    return AddNewEntry(run, item, NotInItems);
}

// Whether the file (its DOS time fileDos) is newer than entry: to the
// second when the entry holds its exact time, as zip -u compares; to the
// DOS time's two seconds when that is all the entry has.
bool TZipWriter::NewerThanEntry(const std::string& file, uint32_t fileDos, const TZipHeaderInfo& entry)
{
    if (std::time_t modified; entry.ModTimeUtc && platform::FileGetTime(file, modified))
        return modified > *entry.ModTimeUtc;
    return DosToTime(entry.ModDateTime) < DosToTime(FixDosDateTime(fileDos));
}

// Takes old entry i, kept; copies it into the output as it stands and gives
// the bytes copied.
int64_t TZipWriter::KeepEntry(TWriteRun& run, int i)
{
    if (OnUpdate)
        OnUpdate(*this, TUpdateAction::uaKeeping, i);
    const int64_t before = run.bytesDone;
    AppendEntry(run, CopyEntryRaw(run, i));
    return run.bytesDone - before;
}

// Takes the items that met their entry; FilesList keeps the others, the
// files still to add.
void TZipWriter::DropTakenItems(const TCarryOver& carry)
{
    std::vector<std::string> rest;
    for (size_t k = 0; k < FilesList.size(); ++k)
        if (!carry.taken[k])
            rest.push_back(std::move(FilesList[k]));
    FilesList = std::move(rest);
}

// An old entry's bytes as they stand in the archive read: where its local
// header starts, the header's length and extra field, the length of all
// that goes over (local header, data, data descriptor), and how many of
// those bytes are in run.copyBlock already.
struct TZipWriter::TRawEntry {
    int64_t at = 0;
    int64_t headerLength = 0;
    std::string extra;
    int64_t length = 0;
    int64_t have = 0;
};

// Copies an old entry byte for byte, in stages: its new record (the old one,
// with its central header as it stands, mended for a comment set since),
// its local header read and checked, the length of its data descriptor,
// then its bytes written into the output.
std::unique_ptr<TZipHeaderInfo> TZipWriter::CopyEntryRaw(TWriteRun& run, int index)
{
    const TZipHeaderInfo& old = Entry(index);
    auto entry = std::make_unique<TZipHeaderInfo>(OEMConvert);
    entry->Assign(old);
    entry->ExtraStart = old.ExtraStart;
    entry->ExtraReadLength = old.ExtraReadLength;
    entry->Zip64BlockSize = old.Zip64BlockSize;
    CarryCentralHeader(index, OldCentralHeader(run, old), *entry);
    TRawEntry raw = ReadRawLocalHeader(run, old);
    if (old.HasDataDescriptor())
        raw.length += DescriptorLength(run, old, raw);
    WriteRawEntry(run, old, raw, *entry);
    return entry;
}

// Takes an old entry; gives its central header as it stands, found where it
// was read in the old directory. Empty when it is not there: an entry
// rebuilt from its local header alone has none and is written anew.
std::string TZipWriter::OldCentralHeader(const TWriteRun& run, const TZipHeaderInfo& old) const
{
    const int64_t central = old.CentralHeaderOffset - run.directoryAt;
    if (central < 0 || int64_t(run.directory.size()) - central < 46)
        return {};
    const auto* head = reinterpret_cast<const uint8_t*>(run.directory.data()) + central;
    const int64_t length = 46 + int64_t(Get16(head + 28)) + Get16(head + 30) + Get16(head + 32);
    if (length <= int64_t(run.directory.size()) - central && Get32(head) == CentralFileHeaderSig &&
        Get32(head + 16) == old.Crc32 && Get16(head + 10) == old.CompressionMethod)
        return run.directory.substr(size_t(central), size_t(length));
    return {};
}

// Takes old entry index's central header as it stands (empty: none); gives
// the new record that header as its raw one, and its comment. A comment set
// since the archive was read replaces the stored one (one too long for its
// field is refused by the header written anew).
void TZipWriter::CarryCentralHeader(int index, std::string raw, TZipHeaderInfo& entry)
{
    const TZipHeaderInfo& old = Entry(index);
    const size_t commentAt =
        raw.empty() ? 0 : raw.size() - Get16(reinterpret_cast<const uint8_t*>(raw.data()) + 32);
    const std::string* comment = old.FileComment();
    if (!raw.empty() && comment && raw.compare(commentAt, std::string::npos, *comment) != 0) {
        if (comment->size() <= 0xFFFF) {
            raw.resize(commentAt);
            raw += *comment;
            raw[32] = char(comment->size());
            raw[33] = char(comment->size() >> 8);
        } else {
            raw.clear();
        }
    }
    if (!raw.empty() && !comment && old.HasComment())
        entry.SetFileComment(raw.substr(commentAt));
    else if (raw.empty() && !comment && old.HasComment())
        entry.SetFileComment(EntryComment(index));
    if (raw.empty())
        entry.RawCentral.reset();
    else
        entry.RawCentral = std::move(raw);
}

// Takes an old entry; reads its local header into run.copyBlock, and with
// it the rest of a small entry: one is read whole at once, its local header
// being about as long as its central one. Gives where its bytes start, and
// their length up to the data descriptor. Raises when there is no whole
// local header there.
TZipWriter::TRawEntry TZipWriter::ReadRawLocalHeader(TWriteRun& run, const TZipHeaderInfo& old)
{
    TRawEntry raw;
    raw.at = int64_t(std::min<uint64_t>(old.LocalHeaderOffset(), INT64_MAX));
    const int64_t data = int64_t(std::min<uint64_t>(old.CompressedSize(), INT64_MAX / 2));
    const int64_t guess = 30 + int64_t(old.NameLength()) + old.ExtraLength + 64 + data + 24;
    std::vector<uint8_t>& block = run.copyBlock;
    block.resize(std::max<size_t>(block.size(), 30 + 2 * 65535));
    archive_->SetPosition(raw.at);
    raw.have = std::max<int64_t>(0, archive_->Read(block.data(), std::min<int64_t>(guess, int64_t(block.size()))));
    if (raw.have < 30 || Get32(block.data()) != LocalFileHeaderSig)
        throw EBadZipFile(old.Directory() + old.FileName() + ": no local header at offset " + std::to_string(raw.at));
    const int64_t nameLength = Get16(block.data() + 26), extraLength = Get16(block.data() + 28);
    raw.headerLength = 30 + nameLength + extraLength;
    if (raw.headerLength > raw.have)
        throw EBadZipFile(old.Directory() + old.FileName() + ": the archive ends inside the entry's local header");
    raw.extra.assign(reinterpret_cast<const char*>(block.data()) + 30 + nameLength, size_t(extraLength));
    raw.length = raw.headerLength + data;
    return raw;
}

// Takes an old entry with a data descriptor, its bytes found up to it;
// gives the descriptor's length: with its signature or without, and sizes
// of 8 bytes when the local header has a Zip64 block or a size needs them.
int64_t TZipWriter::DescriptorLength(const TWriteRun& run, const TZipHeaderInfo& old, const TRawEntry& raw)
{
    uint8_t descriptor[8] = {};
    if (raw.have >= raw.length + 8) {
        std::memcpy(descriptor, run.copyBlock.data() + raw.length, 8);
    } else {
        archive_->SetPosition(raw.at + raw.length);
        archive_->Read(descriptor, 8);
    }
    const bool signature = Get32(descriptor) == DataDescriptorSig && Get32(descriptor + 4) == old.Crc32;
    const bool wide = ExtraBlock(raw.extra, Zip64Tag).has_value() || old.CompressedSize() >= 0xFFFFFFFF ||
                      old.UncompressedSize() >= 0xFFFFFFFF;
    return (signature ? 4 : 0) + (wide ? 20 : 12);
}

// Takes an old entry's bytes found; writes them unchanged into the output
// (those in run.copyBlock, then the rest copied from the archive read) and
// gives the new record where its local header went, and its extra field's
// length. Into parts, the local header goes whole into one, with a byte of
// its data.
void TZipWriter::WriteRawEntry(TWriteRun& run, const TZipHeaderInfo& old, const TRawEntry& raw,
                               TZipHeaderInfo& entry)
{
    entry.LocalExtraLength = uint16_t(raw.extra.size());
    run.parts->MakeRoom(raw.headerLength + 1);
    entry.SetLocalHeaderOffset(uint64_t(run.parts->Stream().Position()));
    entry.SetDiskNumberStart(uint32_t(run.parts->Part()));
    const int64_t first = std::min(raw.have, raw.length);
    run.parts->Write(run.copyBlock.data(), first);
    run.bytesDone += first;
    try {
        CopyBytes(run, raw.at + first, raw.length - first);
    } catch (const EReadError&) {
        throw EBadZipFile(old.Directory() + old.FileName() + ": the archive ends inside the entry's data");
    }
}

void TZipWriter::CopyBytes(TWriteRun& run, int64_t from, int64_t length)
{
    THugeStream& in = *archive_;
    in.SetPosition(from);
    std::vector<uint8_t> block(size_t(std::min<int64_t>(length, CopyBlock)));
    for (int64_t done = 0; done < length;) {
        const int64_t n = std::min<int64_t>(length - done, int64_t(block.size()));
        in.ReadBuffer(block.data(), n);
        run.parts->Write(block.data(), n);
        done += n;
        run.bytesDone += n;
        if (OnFilePercentDone)
            OnFilePercentDone(*this, PercentOf(done, length));
        if (OnTotalPercentDone)
            OnTotalPercentDone(*this, PercentOf(run.bytesDone, run.totalBytes));
        Poll();
    }
}
