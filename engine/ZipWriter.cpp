#include "engine/ZipWriter.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <unordered_map>
#include <unordered_set>
#include <zlib.h>

#include "engine/Crc32.h"
#include "engine/DirSearch.h"
#include "engine/Wildcard.h"
#include "engine/ZipAes.h"
#include "engine/ZipDeflate.h"
#include "engine/ZipExceptions.h"
#include "engine/ZipParts.h"
#include "engine/ZipUtils.h"
#include "platform/Hooks.h"

namespace {

constexpr size_t StoreBlock = 32768;
constexpr size_t ReadBlock = 65536;
constexpr size_t CrcBlock = 8192;
constexpr size_t CopyBlock = 16384;
// Files up to this size are read and compressed whole (libdeflate), on the
// workers ahead of their turn; larger ones in blocks of DeflateBlockSize
// (zlib), each primed with the DictionarySize bytes before it.
constexpr int64_t WholeFileLimit = 8 << 20;
constexpr size_t DeflateBlockSize = 1 << 20;
constexpr size_t DictionarySize = 32 << 10;
// Bounds of the work under way: the bytes of small files read ahead, and the
// blocks of a large file being compressed (times the threads, at most 8).
constexpr int64_t AheadBytes = 8 << 20;
constexpr size_t BlocksPerThread = 2;
constexpr size_t MostBlocks = 8;
// The index of an item added outside the list of items (a replacement).
constexpr size_t NotInItems = size_t(-1);
// Entries of multi-part output up to this size are compressed into memory
// before they go into the parts; larger ones into a temporary file.
constexpr int64_t StagedInMemory = 4 << 20;
// "PK00": what some tools put ahead of an archive written as a set of one part.
constexpr uint32_t SinglePartMarkerSig = 0x30304B50;
// Host byte 3 (Unix) and format version 4.5.
constexpr uint16_t MadeByUnix = 0x0300 | 45;
// A file this close to 4 GiB may need Zip64 sizes once compressed (deflate
// can grow incompressible data a little), so its local header reserves room
// for them from the start: the header is rewritten in place afterwards and
// must keep its length.
constexpr uint64_t Zip64Margin = 64 << 20;

bool EndsWithSlash(const std::string& s)
{
    return !s.empty() && s.back() == '/';
}

std::string NamePart(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderPart(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string LowerAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

std::time_t DosToTime(uint32_t dos)
{
    std::time_t t = 0;
    platform::DosDateTimeToDateTime(dos, t);
    return t;
}

}  // namespace

// A small file read whole, its CRC register, and its data deflated at level
// (level 0: not deflated). Filled by Load, on a worker or in the writing
// thread; usable is false when the file could not be opened or turned out
// larger than it was when planned: it is then read as a stream.
struct TZipWriter::TWholeFile {
    std::string path;
    int level = 0;
    std::vector<uint8_t> data, packed;
    uint32_t crc = 0xFFFFFFFF;
    std::string readError;
    bool usable = true;
    int64_t planned = 0;  // the file's size when it was planned, at most WholeFileLimit

    // Reads through open when the writing thread has the file open at its
    // start, else opens it by path.
    void Load(platform::Handle open = platform::InvalidHandle);
};

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

struct TZipWriter::TWriteRun {
    bool deleting = false;
    bool updating = false;
    // CopyArchive: the archive read is written anew under another name.
    bool copying = false;
    // Where the archive goes: one file, or its parts.
    std::unique_ptr<TPartOutput> parts;
    // The archive's file (where a link to it leads), the file a single-file
    // archive is written to, and whether that is to be removed on a failure.
    std::string target;
    std::string single;
    bool outputMade = false;
    // The new directory in written order, and the stored names in it.
    std::vector<std::unique_ptr<TZipHeaderInfo>> entries;
    std::unordered_set<std::string> names;
    // Stored names of the archive's directory before the run, for zaFreshen.
    std::unordered_set<std::string> existing;
    TEndCentral end;
    int64_t totalBytes = 0;
    int64_t bytesDone = 0;
    int count = 0;
    std::vector<std::string> disposeList;

    // Multi-part output: an entry's data is staged before it goes into
    // the parts, since a part once closed cannot take its header back.
    bool multi = false;

    // The entry being written; its data goes to the output, or for
    // multi-part output first to memory or a temporary file.
    THugeStream* data = nullptr;
    uint32_t crc = 0xFFFFFFFF;
    int64_t fileDone = 0;
    int64_t recordedSize = 0;
    int64_t written = 0;  // data bytes written, without the encryption header
    std::string readError;  // the system's message when reading the file failed
    std::unique_ptr<TAesCipher> aes;  // the cipher of an AES entry

    // Carrying entries over: the old central directory and where it began,
    // and the block entries are copied through.
    std::string directory;
    int64_t directoryAt = 0;
    std::vector<uint8_t> copyBlock;

    // Small files loaded ahead, by their index in the items, the next item
    // to look at, and the bytes loaded and not yet written.
    std::map<size_t, TTask<TWholeFile>> ahead;
    size_t nextAhead = 0;
    int64_t aheadBytes = 0;
    // Last, so that its threads have ended before anything a task uses goes.
    std::unique_ptr<TWorkers> workers;
};

TZipWriter::TZipWriter()
{
    SetIncludeReadOnlyFiles(true);
    SetIncludeHiddenFiles(false);
    SetIncludeSysFiles(false);
    SetIncludeArchiveFiles(true);
}

TZipWriter::~TZipWriter() = default;

void TZipWriter::SetMaskBit(int bit, bool on)
{
    attributeMask_ = on ? attributeMask_ | bit : attributeMask_ & ~bit;
}

void TZipWriter::SetStorePaths(bool value)
{
    storePaths_ = value;
    if (!value)
        storeVolumes_ = relativePaths_ = false;
}

void TZipWriter::SetRelativePaths(bool value)
{
    relativePaths_ = value;
    if (value)
        storePaths_ = Recurse = true;
}

void TZipWriter::SetStoreVolumes(bool value)
{
    storeVolumes_ = value;
    if (value)
        storePaths_ = true;
}

std::string TZipWriter::WorkFolder() const
{
    if (!TempPath.empty() && platform::DirectoryExists(TempPath))
        return TempPath.back() == '/' ? TempPath : TempPath + '/';
    return platform::TempDirectory();
}

int TZipWriter::Zip()
{
    const int count = WriteArchive(false);
    if (OnZipComplete)
        OnZipComplete(*this, count);
    return count;
}

int TZipWriter::RemoveEntries()
{
    return WriteArchive(true);
}

int TZipWriter::CopyArchive(const std::string& output)
{
    struct Restore {
        TZipWriter& writer;
        bool working, keepOpen;
        ~Restore()
        {
            writer.working_ = working;
            writer.KeepZipOpen = keepOpen;
            writer.ResetArchive();
            writer.FilesList.clear();
        }
    } restore{*this, working_, KeepZipOpen};
    working_ = true;
    cancel_ = false;
    KeepZipOpen = true;
    TWriteRun run;
    run.deleting = run.copying = true;  // nothing to delete: every entry is carried over
    FilesList.clear();
    // Reading decides the kind of the archive read; the kind to write is kept.
    const TMultiMode outputMode = MultiMode();
    run.multi = outputMode != TMultiMode::mmNone;
    std::string single;
    try {
        // The parts read are found under their usual names; the handler
        // names the parts written.
        TFileNameForSplitPartEvent naming;
        std::swap(naming, OnFileNameForSplitPart);
        try {
            SetMultiMode(TMultiMode::mmNone);
            OpenZipFile();
            if (PartCount() > 1)
                ReadPartsAsOneFile();
        } catch (...) {
            std::swap(naming, OnFileNameForSplitPart);
            throw;
        }
        std::swap(naming, OnFileNameForSplitPart);
        if (SortMode != TZipSortMode::ByNone)
            SortEntries(TZipSortMode::ByNone);
        CheckOverlaps();
        ArchiveComment();  // carried into the copy
        SetMultiMode(outputMode);
        if (run.multi) {
            // The parts are named after output.
            zipName_ = lastPartName_ = output;
            baseName_ = std::filesystem::path(output).replace_extension().string();
            OpenFirstPart(run);
            run.parts->Stream().WriteBuffer("PK\x07\x08", 4);
        } else {
            const std::string folder = FolderPart(output).empty() ? "./" : FolderPart(output);
            single = platform::MakeTempFileName(folder, ".ZBK");
            if (single.empty())
                throw EFCreateError("Cannot create a file in " + folder + ": " + ErrorText(errno));
            run.parts = std::make_unique<TPartOutput>(single, FlushFilesOnClose);
        }
        run.data = &run.parts->Stream();
        run.end.Assign(endCentral_);
        run.end.SetTotalEntries(0);
        run.end.SetEntriesThisDisk(0);
        CarryOverEntries(run);
        WriteCentralDirectory(run);
        run.parts->Close();
        // The finished archive takes its name, never one that is taken.
        const std::string last = run.multi ? SplitPartName(run.parts->Part() + 1, TSplitPartType::sptLast) : output;
        if (last != run.parts->Name() && !platform::RenameFileNoReplace(run.parts->Name(), last))
            throw EFCreateError("Cannot create " + last + ": " + ErrorText(errno));
    } catch (...) {
        const std::vector<std::string> finished = run.parts ? run.parts->Finished() : std::vector<std::string>();
        const std::string current = run.parts ? run.parts->Name() : single;
        run.parts.reset();
        if (!current.empty())
            platform::DeleteFile(current);
        for (const std::string& part : finished)
            platform::DeleteFile(part);
        throw;
    }
    if (OnTotalPercentDone)
        OnTotalPercentDone(*this, 100);
    return int(run.entries.size());
}

// ---- The driver ------------------------------------------------------------------

// Writes the archive in stages: the run's plan, the old archive opened for
// an update, the output, the kept entries carried over, the new entries, the
// central directory; then the new archive takes its place and its directory
// becomes the component's. A failure removes what the run wrote.
int TZipWriter::WriteArchive(bool deleting)
{
    struct RestoreWorking {
        bool& working;
        bool was;
        ~RestoreWorking() { working = was; }
    } restoreWorking{working_, working_};
    working_ = true;
    cancel_ = false;
    if (zipName_.find_first_not_of(" \t") == std::string::npos)
        return 0;
    TWriteRun run;
    run.deleting = deleting;
    const TZipSortMode sortMode = SortMode;
    const bool keepOpen = KeepZipOpen;
    KeepZipOpen = true;
    if (SortMode != TZipSortMode::ByNone)
        SortEntries(TZipSortMode::ByNone);
    auto restore = [&] {
        if (SortMode != sortMode)
            SortEntries(sortMode);
        KeepZipOpen = keepOpen;
        CloseZipFile();
        FilesList.clear();
    };
    try {
        PlanRun(run);
        if (run.updating)
            OpenForUpdate();
        OpenOutput(run);
        if (run.updating)
            CarryOverEntries(run);
        WriteNewEntries(run);
        WriteCentralDirectory(run);
        run.parts->Close();
    } catch (...) {
        RemoveFailedOutput(run);
        restore();
        throw;
    }
    try {
        PutInPlace(run);
        AdoptWritten(run, sortMode);
    } catch (...) {
        restore();
        throw;
    }
    restore();
    return run.count;
}

// The run's plan: takes the run and FilesList; gives whether the archive is
// updated or written anew, in parts or not, where it is written
// (run.target), and the files that go in with their bytes. Raises when the
// run cannot be done, or OnStartZipInfo stops it.
void TZipWriter::PlanRun(TWriteRun& run)
{
    // An archive reached through a symbolic link is rewritten where the link
    // leads; the link stays.
    run.target = zipName_;
    // A multi-part archive is always written anew.
    run.multi = MultiMode() != TMultiMode::mmNone;
    run.updating = !run.multi && platform::FileExists(zipName_);
    // Deleting from an archive that is not there deletes nothing: it must
    // not make an empty archive of that name and report success.
    if (run.deleting && !run.updating)
        throw EFOpenError("Cannot open file " + zipName_);
    if (run.updating) {
        std::error_code ec;
        if (std::filesystem::is_symlink(zipName_, ec))
            run.target = std::filesystem::canonical(zipName_, ec).string();
        // The new archive is written beside the old one and renamed over
        // it: the folder must take a new file.
        const std::string folder = FolderPart(run.target);
        if (!platform::FolderWritable(folder))
            throw EFCreateError("Cannot create a file in " + (folder.empty() ? std::string(".") : folder) + ": " +
                                ErrorText(errno));
    }
    if (!run.deleting && !FilesList.empty())
        ExpandFilesList(run);
    if (!run.deleting && !FilesList.empty() && OnStartZipInfo) {
        bool stopNow = false;
        OnStartZipInfo(*this, int(FilesList.size()), run.totalBytes, &run.end, stopNow);
        if (stopNow)
            throw EUserCanceled("User canceled Zip operation");
    }
}

// An update: reads the old archive's directory (keeping a comment set
// before it was read) and checks that its entries can be carried over.
// Raises for a multi-part archive and for entries that overlap.
void TZipWriter::OpenForUpdate()
{
    // A comment set before the directory was read outlives its reading.
    const std::optional<std::string> comment =
        endCentral_.Modified ? endCentral_.CommentText() : std::optional<std::string>();
    OpenZipFile();
    if (comment && endCentral_.CommentText() != comment) {
        endCentral_.SetCommentText(*comment);
        endCentral_.Modified = true;
    }
    // Parts cannot be rewritten one by one: refuse rather than write
    // a new archive over the last part.
    if (endCentral_.ThisDisk() != 0 || THugeVolumeStream::VolumesOf(zipName_).size() > 1)
        throw EZipEngineError("A multi-part archive cannot be updated: " + zipName_);
    // Carrying entries over copies each one's bytes: entries that
    // share theirs would blow a small archive up as extraction would.
    CheckOverlaps();
    if (endCentral_.HasComment())
        ArchiveComment();  // carried into the new archive
}

// Takes the plan; gives the open output (the first part, the archive's own
// file, or for an update a new file beside the old one, in run.single) and
// the new end record, which keeps an updated archive's comment.
void TZipWriter::OpenOutput(TWriteRun& run)
{
    if (run.multi) {
        OpenFirstPart(run);
    } else {
        const std::string folder = FolderPart(run.target).empty() ? "./" : FolderPart(run.target);
        run.single = run.updating ? platform::MakeTempFileName(folder, ".ZBK") : zipName_;
        if (run.single.empty())
            throw EFCreateError("Cannot create a file in " + folder + ": " + ErrorText(errno));
        run.outputMade = run.updating;
        run.parts = std::make_unique<TPartOutput>(run.single, FlushFilesOnClose);
    }
    run.outputMade = true;
    run.data = &run.parts->Stream();
    if (run.updating || endCentral_.Modified) {
        run.end.Assign(endCentral_);
        run.end.SetTotalEntries(0);
        run.end.SetEntriesThisDisk(0);
        run.end.Modified = false;
    }
    if (run.multi) {
        // Each byte passes twice: into the entry's staging area, then into the parts.
        run.totalBytes *= 2;
        run.parts->Stream().WriteBuffer("PK\x07\x08", 4);
    }
}

// Takes the expanded FilesList; writes an entry for each file, loading small
// files ahead on the workers.
void TZipWriter::WriteNewEntries(TWriteRun& run)
{
    if (run.deleting)
        return;
    const std::vector<std::string> items = FilesList;
    run.workers = std::make_unique<TWorkers>(Threads > 0 ? Threads : DefaultThreads());
    for (size_t i = 0; i < items.size(); ++i) {
        LoadAhead(run, items, i);
        AddNewEntry(run, items[i], i);
        if (const auto done = run.ahead.find(i); done != run.ahead.end()) {
            // A file loaded for nothing (it was skipped) counts until
            // its worker is done with it.
            if (done->second.done.valid())
                WaitPolling(done->second.done);
            run.aheadBytes -= done->second.work->planned;
            run.ahead.erase(done);
        }
    }
}

// Takes a run that failed while writing; removes its output.
void TZipWriter::RemoveFailedOutput(TWriteRun& run)
{
    // Of a multi-part archive, the part under way goes, and the finished
    // ones of blocked output (useless without the last); spanned disks stay.
    const std::string current = run.parts ? run.parts->Name() : run.single;
    const std::vector<std::string> finished =
        run.parts && MultiMode() == TMultiMode::mmBlocks ? run.parts->Finished() : std::vector<std::string>();
    run.parts.reset();
    if (run.outputMade && !current.empty())
        platform::DeleteFile(current);
    for (const std::string& part : finished)
        platform::DeleteFile(part);
}

// Takes the written archive; an update takes the old archive's place, the
// last part its final name (zipName_ follows), and the files of
// run.disposeList go (as OnDisposeFile allows).
void TZipWriter::PutInPlace(TWriteRun& run)
{
    if (run.updating) {
        archive_.reset();
        FreeEntries();
        // The new archive keeps the old one's owner and permissions and
        // takes its place in one step.
        platform::FileCopyOwnerAndMode(run.target, run.single);
        if (!platform::RenameFile(run.single, run.target)) {
            const std::string why = ErrorText(errno);
            platform::DeleteFile(run.single);
            throw EFCreateError("Cannot replace " + run.target + ": " + why);
        }
    }
    if (run.multi && MultiMode() == TMultiMode::mmBlocks) {
        // The last part takes its final name, unless a file of that name is in the way.
        const std::string last = SplitPartName(run.parts->Part() + 1, TSplitPartType::sptLast);
        if (last == run.parts->Name() || platform::RenameFileNoReplace(run.parts->Name(), last))
            zipName_ = last;
        else
            zipName_ = run.parts->Name();
    } else if (run.multi) {
        zipName_ = run.parts->Name();
    }
    for (const std::string& file : run.disposeList) {
        bool skip = false;
        if (OnDisposeFile)
            OnDisposeFile(*this, file, skip);
        if (!skip)
            platform::DeleteFile(file);
    }
}

// Takes the archive in place; its directory, as the run wrote it, becomes
// the component's (nothing needs reading again), sorted as sortMode says.
void TZipWriter::AdoptWritten(TWriteRun& run, TZipSortMode sortMode)
{
    FreeEntries();
    entries_ = std::make_unique<TSortedZip>(TDuplicateRule::RejectEqual);
    for (auto& entry : run.entries)
        entries_->Append(entry.release());
    entries_->Sort();
    endCentral_.Assign(run.end);
    endCentral_.Modified = false;
    platform::GetFileStamp(zipName_, stamp_);
    rebuilt_ = false;
    currentPart_ = run.parts->Part();
    partCount_ = run.parts->Part() + 1;
    SortEntries(sortMode);
    if (OnTotalPercentDone)
        OnTotalPercentDone(*this, 100);
    if (run.multi && run.parts->Part() > 0 && MultiZipInfo.SaveZipInfoOnFirstDisk)
        SaveZipConfiguration(run);
}

bool TZipWriter::MatchesList(const std::vector<std::string>& patterns, const std::string& file) const
{
    const std::string name = NamePart(file);
    return std::any_of(patterns.begin(), patterns.end(), [&](const std::string& pattern) {
        return MatchesPattern(pattern, pattern.find('/') != std::string::npos ? file : name);
    });
}

std::string TZipWriter::StoredFolder(const std::string& item) const
{
    if (!storePaths_)
        return {};
    std::string folder = FolderPart(item);
    if (relativePaths_)
        for (const std::string& prefix : RelativePathList)
            if (!prefix.empty() && LowerAscii(folder).rfind(LowerAscii(prefix), 0) == 0) {
                folder.erase(0, prefix.size());
                break;
            }
    // Without StoreVolumes the folder is stored relative to the root. Either
    // way "." and ".." never go into an archive.
    std::string stored = storeVolumes_ && !folder.empty() && folder[0] == '/' ? "/" : "";
    stored += ContainedFolder(folder);
    return stored;
}

std::string TZipWriter::StoredName(const std::string& item) const
{
    return StoredFolder(item) + NamePart(item);
}

bool TZipWriter::PassesArchiveTests(TWriteRun& run, const std::string& file)
{
    bool retry = false;
    if (SkipIfArchiveBitNotSet && !(platform::FileGetAttr(file) & platform::faArchive)) {
        if (OnSkippingFile)
            OnSkippingFile(*this, TSkipReason::skArchiveBitNotSet, file, -1, retry);
        return false;
    }
    if (ZipAction == TZipAction::zaFreshen && !run.existing.count(StoredName(file))) {
        if (OnSkippingFile)
            OnSkippingFile(*this, TSkipReason::skNotInArchive, file, -1, retry);
        return false;
    }
    return true;
}

void TZipWriter::ExpandFilesList(TWriteRun& run)
{
    if (ZipAction == TZipAction::zaFreshen)
        for (int i = 0; i < EntryCount(); ++i)
            run.existing.insert(EntryFolder(i) + EntryName(i));
    const std::vector<std::string> items = std::move(FilesList);
    FilesList.clear();
    std::vector<std::string> wildItems;
    bool retry = false;
    // The archive is never added to itself, named or matched: a file is the
    // archive when it is the same file (through links too), or, while there
    // is no archive yet, when it names the same place.
    platform::FileStamp archive;
    const bool archiveExists = platform::GetFileStamp(zipName_, archive);
    std::error_code ec;
    const auto archivePath = std::filesystem::absolute(zipName_, ec).lexically_normal();
    const auto isArchive = [&](const std::string& name) {
        platform::FileStamp file;
        if (archiveExists)
            return platform::GetFileStamp(name, file) && file.Device == archive.Device && file.Inode == archive.Inode;
        return std::filesystem::absolute(name, ec).lexically_normal() == archivePath;
    };

    for (const std::string& item : items) {
        // Each file is looked up on disk: a long list is a long step.
        Poll();
        if (EndsWithSlash(item)) {
            FilesList.push_back(item);
            continue;
        }
        // A name that holds wildcard characters is still the file it names
        // when that file exists ("what?.txt"); only otherwise is it a wildcard.
        const std::string file = item.find('/') == std::string::npos ? RootDir() + item : item;
        if (IsWild(item) && !std::filesystem::is_regular_file(file, ec)) {
            wildItems.push_back(item);
            continue;
        }
        if (MatchesList(ExcludeList, file) || isArchive(file)) {
            if (OnSkippingFile)
                OnSkippingFile(*this, TSkipReason::skExcluded, file, -1, retry);
            continue;
        }
        // Found only when the attribute mask lets it through, and only a file.
        const int attr = platform::FileGetAttr(file);
        const int filtering = platform::faReadOnly | platform::faHidden | platform::faSysFile;
        if (!platform::FileExists(file) || (attr & filtering & ~attributeMask_)) {
            if (OnNoSuchFile)
                OnNoSuchFile(*this, file);
            continue;
        }
        if (!PassesArchiveTests(run, file))
            continue;
        run.totalBytes += int64_t(std::filesystem::file_size(file));
        FilesList.push_back(file);
    }

    for (std::string item : wildItems) {
        bool recurse = Recurse;
        if (item[0] == '|' || item[0] == '>') {
            recurse = item[0] == '>';
            item.erase(0, 1);
        }
        std::string folder = FolderPart(item);
        if (folder.size() > 1)
            folder.pop_back();
        if (folder.empty()) {
            folder = RootDir();
            if (folder.size() > 1 && EndsWithSlash(folder))
                folder.pop_back();
        }
        std::string mask = NamePart(item);
        if (mask == "*.*")
            mask = "*";
        if (!platform::DirectoryExists(folder.empty() ? "." : folder) && !IsWild(folder)) {
            if (OnNoSuchFile)
                OnNoSuchFile(*this, item);
            continue;
        }
        // Every entry looked at lets messages through: a walk over a large
        // tree where few names match must still answer a cancel.
        TDirSearch search(folder, attributeMask_, recurse, mask, [this] { Poll(); });
        platform::FindRecord rec;
        std::string name;
        while (search.Next(rec, name)) {
            if (OnRecursingFile)
                OnRecursingFile(*this, name);
            if (EndsWithSlash(name)) {
                if (recurse && AddDirEntriesOnRecurse)
                    FilesList.push_back(name);
                continue;
            }
            if (MatchesList(ExcludeList, name)) {
                if (OnSkippingFile)
                    OnSkippingFile(*this, TSkipReason::skExcluded, name, -1, retry);
                continue;
            }
            if (isArchive(name))
                continue;
            if (!PassesArchiveTests(run, name))
                continue;
            FilesList.push_back(name);
            run.totalBytes += rec.Size;
        }
    }
}

// ---- Carrying over and deleting ---------------------------------------------------

void TZipWriter::CarryOverEntries(TWriteRun& run)
{
    // Bytes ahead of the first entry (a self-extractor's program, say) stay
    // ahead of it.
    // The pass walks the old archive up to its directory, and the percent of
    // the run counts those bytes as done as it passes them, copied or not:
    // each entry's bytes reach from its local header to the next one's.
    const uint64_t walked = std::min<uint64_t>(endCentral_.CentralDirOffset(), uint64_t(archive_->Size()));
    std::vector<uint64_t> starts;
    starts.reserve(size_t(EntryCount()));
    for (int i = 0; i < EntryCount(); ++i)
        starts.push_back(std::min(Entry(i).LocalHeaderOffset(), walked));
    std::sort(starts.begin(), starts.end());
    const auto span = [&](const TZipHeaderInfo& entry) {
        const uint64_t start = std::min(entry.LocalHeaderOffset(), walked);
        const auto next = std::upper_bound(starts.begin(), starts.end(), start);
        return int64_t((next == starts.end() ? walked : *next) - start);
    };
    run.totalBytes += int64_t(walked);
    // A copy starts as its own kind of archive: the spanning marker of a set
    // of parts ahead of the first entry is not carried.
    const int64_t ahead = int64_t(starts.empty() ? walked : starts.front());
    uint8_t marker[4] = {};
    archive_->SetPosition(0);
    const bool spanMarker = run.copying && ahead >= 4 && archive_->Read(marker, 4) == 4 &&
                            (Get32(marker) == DataDescriptorSig || Get32(marker) == SinglePartMarkerSig);
    CopyBytes(run, spanMarker ? 4 : 0, spanMarker ? ahead - 4 : ahead);
    // The old directory is read at once; each kept entry takes its header from it.
    const uint64_t directorySize = endCentral_.CentralDirSize();
    if (endCentral_.CentralDirOffset() <= uint64_t(archive_->Size()) &&
        directorySize <= uint64_t(archive_->Size()) - endCentral_.CentralDirOffset()) {
        run.directoryAt = int64_t(endCentral_.CentralDirOffset());
        run.directory.resize(size_t(directorySize));
        archive_->SetPosition(run.directoryAt);
        archive_->ReadBuffer(run.directory.data(), int64_t(directorySize));
    }

    // Each entry looks up the item naming it, so that carrying over stays
    // linear in entries and items: plain names (stored names when adding) by
    // name, the patterns of a deletion in their order. A name given twice
    // for a deletion deletes two entries of that name.
    std::unordered_multimap<std::string, size_t> byName;
    std::vector<size_t> patterns;
    std::vector<bool> taken(FilesList.size());
    run.names.reserve(size_t(EntryCount()) + FilesList.size());
    run.entries.reserve(size_t(EntryCount()) + FilesList.size());
    for (size_t k = 0; k < FilesList.size(); ++k) {
        const std::string& item = FilesList[k];
        if (run.deleting && !ExactNames && IsWild(item))
            patterns.push_back(k);
        else if (run.deleting)
            byName.emplace(item, k);
        else if (std::string stored = StoredName(item); !byName.count(stored))
            byName.emplace(std::move(stored), k);
    }

    for (int i = 0; i < EntryCount(); ++i) {
        Poll();
        const TZipHeaderInfo& old = Entry(i);
        const std::string stored = old.Directory() + old.FileName();
        const auto named = byName.find(stored);
        size_t match = named == byName.end() ? SIZE_MAX : named->second;
        if (run.deleting)
            for (size_t k : patterns) {
                if (k > match)
                    break;
                if (MatchesPattern(FilesList[k], FilesList[k].find('/') == std::string::npos ? old.FileName() : stored)) {
                    match = k;
                    break;
                }
            }

        bool keep = true;
        if (match != SIZE_MAX && run.deleting) {
            bool skip = false;
            if (OnDeleteEntry)
                OnDeleteEntry(*this, stored, skip);
            if (!skip) {
                ++run.count;
                keep = false;
            }
            // A plain name stands for one entry; a pattern goes on matching
            // unless its entry was skipped.
            if (named != byName.end() && named->second == match)
                byName.erase(named);
            else if (skip)
                patterns.erase(std::find(patterns.begin(), patterns.end(), match));
        } else if (match != SIZE_MAX) {
            byName.erase(named);
            taken[match] = true;
            const std::string& item = FilesList[match];
            uint32_t fileDos = 0;
            const bool found = platform::FileGetDosTime(item, fileDos);
            if (ZipAction != TZipAction::zaReplace &&
                (!found || DosToTime(old.ModDateTime) >= DosToTime(FixDosDateTime(fileDos)))) {
                // The entry is as new as the file: keep it.
                if (Dispose)
                    run.disposeList.push_back(item);
                if (found)
                    run.totalBytes -= int64_t(std::filesystem::file_size(item));
            } else {
                if (OnUpdate)
                    OnUpdate(*this, TUpdateAction::uaReplacing, i);
                // A replacement that is not written (its source went, a
                // handler skipped it) leaves the old entry in place.
                keep = !AddNewEntry(run, item, NotInItems);
            }
        }
        int64_t copied = 0;
        if (keep) {
            if (OnUpdate)
                OnUpdate(*this, TUpdateAction::uaKeeping, i);
            const int64_t before = run.bytesDone;
            AppendEntry(run, CopyEntryRaw(run, i));
            copied = run.bytesDone - before;
        }
        run.bytesDone += std::max<int64_t>(0, span(old) - copied);
        if (OnTotalPercentDone)
            OnTotalPercentDone(*this, PercentOf(run.bytesDone, run.totalBytes));
    }
    if (!run.deleting) {
        std::vector<std::string> rest;
        for (size_t k = 0; k < FilesList.size(); ++k)
            if (!taken[k])
                rest.push_back(std::move(FilesList[k]));
        FilesList = std::move(rest);
    }
}

std::unique_ptr<TZipHeaderInfo> TZipWriter::CopyEntryRaw(TWriteRun& run, int index)
{
    THugeStream& in = *archive_;
    const TZipHeaderInfo& old = Entry(index);
    auto entry = std::make_unique<TZipHeaderInfo>(OEMConvert);
    entry->Assign(old);
    entry->ExtraStart = old.ExtraStart;
    entry->ExtraReadLength = old.ExtraReadLength;
    entry->Zip64BlockSize = old.Zip64BlockSize;

    // The central header as it stands, found where it was read (an entry
    // rebuilt from its local header alone has none and is written anew).
    const int64_t central = old.CentralHeaderOffset - run.directoryAt;
    std::string raw;
    if (central >= 0 && int64_t(run.directory.size()) - central >= 46) {
        const auto* head = reinterpret_cast<const uint8_t*>(run.directory.data()) + central;
        const int64_t length = 46 + int64_t(Get16(head + 28)) + Get16(head + 30) + Get16(head + 32);
        if (length <= int64_t(run.directory.size()) - central && Get32(head) == CentralFileHeaderSig &&
            Get32(head + 16) == old.Crc32 && Get16(head + 10) == old.CompressionMethod)
            raw = run.directory.substr(size_t(central), size_t(length));
    }
    const size_t commentAt =
        raw.empty() ? 0 : raw.size() - Get16(reinterpret_cast<const uint8_t*>(raw.data()) + 32);
    const std::string* comment = old.FileComment();
    if (!raw.empty() && comment && raw.compare(commentAt, std::string::npos, *comment) != 0) {
        // A comment set since the archive was read replaces the stored one
        // (one too long for its field is refused by the header written anew).
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
        entry->SetFileComment(raw.substr(commentAt));
    else if (raw.empty() && !comment && old.HasComment())
        entry->SetFileComment(EntryComment(index));
    if (raw.empty())
        entry->RawCentral.reset();
    else
        entry->RawCentral = std::move(raw);

    // The local header, the data and the data descriptor go over unchanged.
    // A small entry is read whole at once: its local header is about as long
    // as its central one.
    const int64_t at = int64_t(std::min<uint64_t>(old.LocalHeaderOffset(), INT64_MAX));
    const int64_t data = int64_t(std::min<uint64_t>(old.CompressedSize(), INT64_MAX / 2));
    const int64_t guess = 30 + int64_t(old.NameLength()) + old.ExtraLength + 64 + data + 24;
    std::vector<uint8_t>& block = run.copyBlock;
    block.resize(std::max<size_t>(block.size(), 30 + 2 * 65535));
    in.SetPosition(at);
    const int64_t have = std::max<int64_t>(0, in.Read(block.data(), std::min<int64_t>(guess, int64_t(block.size()))));
    const std::string stored = old.Directory() + old.FileName();
    if (have < 30 || Get32(block.data()) != LocalFileHeaderSig)
        throw EBadZipFile(stored + ": no local header at offset " + std::to_string(at));
    const int64_t nameLength = Get16(block.data() + 26), extraLength = Get16(block.data() + 28);
    if (30 + nameLength + extraLength > have)
        throw EBadZipFile(stored + ": the archive ends inside the entry's local header");
    const std::string extra(reinterpret_cast<const char*>(block.data()) + 30 + nameLength, size_t(extraLength));
    int64_t length = 30 + nameLength + extraLength + data;
    if (old.HasDataDescriptor()) {
        // With its signature or without; sizes of 8 bytes when the local
        // header has a Zip64 block or a size needs them.
        uint8_t descriptor[8] = {};
        if (have >= length + 8) {
            std::memcpy(descriptor, block.data() + length, 8);
        } else {
            in.SetPosition(at + length);
            in.Read(descriptor, 8);
        }
        const bool signature = Get32(descriptor) == DataDescriptorSig && Get32(descriptor + 4) == old.Crc32;
        const bool wide =
            ExtraBlock(extra, Zip64Tag).has_value() || old.CompressedSize() >= 0xFFFFFFFF ||
            old.UncompressedSize() >= 0xFFFFFFFF;
        length += (signature ? 4 : 0) + (wide ? 20 : 12);
    }
    entry->LocalExtraLength = uint16_t(extraLength);
    // Into parts, the local header goes whole into one, with a byte of its data.
    run.parts->MakeRoom(30 + nameLength + extraLength + 1);
    entry->SetLocalHeaderOffset(uint64_t(run.parts->Stream().Position()));
    entry->SetDiskNumberStart(uint32_t(run.parts->Part()));
    const int64_t first = std::min(have, length);
    run.parts->Write(block.data(), first);
    run.bytesDone += first;
    try {
        CopyBytes(run, at + first, length - first);
    } catch (const EReadError&) {
        throw EBadZipFile(stored + ": the archive ends inside the entry's data");
    }
    return entry;
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

// ---- Writing entries ----------------------------------------------------------

void TZipWriter::LoadAhead(TWriteRun& run, const std::vector<std::string>& items, size_t current)
{
    // With one thread each file is loaded in its turn, as is the last one:
    // there is nothing to do meanwhile.
    if (run.workers->Threads() <= 1 || current + 1 >= items.size())
        return;
    for (run.nextAhead = std::max(run.nextAhead, current); run.nextAhead < items.size(); ++run.nextAhead) {
        // Many small or empty files are set going here in one go, a long
        // step of its own.
        Poll();
        const std::string& item = items[run.nextAhead];
        std::error_code ec;
        const auto size = int64_t(std::filesystem::file_size(item, ec));
        if (EndsWithSlash(item) || ec || size > WholeFileLimit)
            continue;
        if (run.aheadBytes + size > AheadBytes && !run.ahead.empty())
            return;
        auto whole = std::make_shared<TWholeFile>();
        whole->path = item;
        whole->level = EntryLevel(item);
        whole->planned = size;
        run.ahead[run.nextAhead] = {whole, run.workers->Run([whole] { whole->Load(); })};
        run.aheadBytes += size;
    }
}

std::shared_ptr<TZipWriter::TWholeFile> TZipWriter::LoadWhole(TWriteRun& run, size_t index, const std::string& item,
                                                              int level, THugeFileStream& source)
{
    std::shared_ptr<TWholeFile> whole;
    if (const auto ahead = run.ahead.find(index); ahead != run.ahead.end() && ahead->second.work->level == level) {
        whole = ahead->second.work;
        Await(ahead->second.done);
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
// time and mode (now, and plain attributes, when the folder is gone).
void TZipWriter::DescribeFolder(const std::string& item, TZipHeaderInfo& header) const
{
    const std::string folder = item.size() > 1 ? item.substr(0, item.size() - 1) : item;
    uint32_t dos = 0;
    const bool exists = platform::DirectoryExists(folder) && platform::FileGetDosTime(folder, dos);
    header.ModDateTime = exists ? dos : platform::DateTimeToDosDateTime(std::time(nullptr));
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
        std::vector<uint8_t> dictionary, data, packed;
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
    std::vector<uint8_t> next = readBlock(), dictionary;
    for (bool last = false; !last;) {
        auto block = std::make_shared<TBlock>();
        block->data = std::move(next);
        block->dictionary = std::move(dictionary);
        next = block->data.size() == DeflateBlockSize ? readBlock() : std::vector<uint8_t>();
        last = next.empty();
        dictionary.assign(block->data.end() - std::ptrdiff_t(std::min(DictionarySize, block->data.size())),
                          block->data.end());
        busy.push_back({block, run.workers->Run([block, level, last] {
                            DeflateBlock(LevelForData(level, block->data), block->dictionary, block->data, last,
                                         block->packed);
                            block->data = {};
                            block->dictionary = {};
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

void TZipWriter::WriteCentralDirectory(TWriteRun& run)
{
    run.end.SetCentralDirOffset(uint64_t(run.parts->Stream().Position()));
    run.end.SetCentralDirDisk(uint32_t(run.parts->Part()));
    run.end.SetEntriesThisDisk(0);
    int64_t size = 0;
    bool first = true;
    for (const auto& entry : run.entries) {
        Poll();
        // Built in memory first: a header never straddles two parts.
        THugeMemoryStream header;
        entry->WriteCentralHeader(header, archive_.get());
        const int part = run.parts->Part();
        run.parts->MakeRoom(header.Size());
        if (first && run.parts->Part() != part) {
            run.end.SetCentralDirOffset(0);
            run.end.SetCentralDirDisk(uint32_t(run.parts->Part()));
        }
        run.parts->Write(header.Memory(), header.Size());
        size += header.Size();
        run.end.SetEntriesThisDisk(run.end.EntriesThisDisk() + 1);
        first = false;
    }
    run.end.SetCentralDirSize(uint64_t(size));
    run.end.SetTotalEntries(run.entries.size());
    THugeMemoryStream record;
    run.end.WriteEndRecord(record);
    run.parts->MakeRoom(record.Size());
    run.end.SetThisDisk(uint32_t(run.parts->Part()));
    run.end.WriteEndRecord(run.parts->Stream());
    // A set of blocks that ended in its first part is a plain archive, which
    // readers take only without the split marker.
    if (MultiMode() == TMultiMode::mmBlocks && run.parts->Part() == 0 && DropSplitMarker(run))
        WriteCentralDirectory(run);
}

bool TZipWriter::DropSplitMarker(TWriteRun& run)
{
    TLFNFileStream& out = run.parts->Stream();
    const int64_t end = out.Position();
    const int64_t directory = int64_t(run.end.CentralDirOffset());
    uint8_t marker[4] = {};
    out.SetPosition(0);
    if (directory < 4 || out.Read(marker, 4) != 4 || Get32(marker) != DataDescriptorSig) {
        out.SetPosition(end);
        return false;
    }
    // The entries move 4 bytes to the front; the directory goes, to be
    // written again with their new offsets.
    std::vector<uint8_t> block(CopyBlock);
    for (int64_t from = 4; from < directory;) {
        const int64_t n = std::min<int64_t>(directory - from, int64_t(block.size()));
        Poll();
        out.SetPosition(from);
        out.ReadBuffer(block.data(), n);
        out.SetPosition(from - 4);
        out.WriteBuffer(block.data(), n);
        from += n;
    }
    out.SetSize(directory - 4);
    for (const auto& entry : run.entries)
        entry->SetLocalHeaderOffset(entry->LocalHeaderOffset() - 4);
    return true;
}

// ---- Multi-part output ----------------------------------------------------------

int64_t TZipWriter::FreeSpace(const std::string& file) const
{
    int64_t freeBytes = 0, cluster = 0;
    return platform::DiskFreeSpace(file, freeBytes, cluster) ? freeBytes : 0;
}

void TZipWriter::OpenFirstPart(TWriteRun& run)
{
    if (MultiZipInfo.BlockSize <= 0 && MultiMode() == TMultiMode::mmBlocks)
        throw ENotEnoughRoom();
    // Room kept free on the first part, for the configuration file among others.
    int64_t reserve = MultiZipInfo.SaveOnFirstDisk;
    if (MultiZipInfo.SaveZipInfoOnFirstDisk) {
        int64_t names = 0;
        if (StorePaths())
            for (const std::string& item : FilesList)
                names += int64_t(item.size()) - 2;
        const int64_t count = int64_t(FilesList.size());
        reserve += count * ((count ? names / count : 0) + 46) + int64_t(ArchiveComment().size()) + 22 + 2048;
        if (MultiMode() == TMultiMode::mmSpan) {
            int64_t freeBytes = 0, cluster = 0;
            reserve += platform::DiskFreeSpace(zipName_, freeBytes, cluster) ? cluster : 4096;
        }
    }
    std::string name = zipName_;
    int64_t capacity;
    if (MultiMode() == TMultiMode::mmSpan) {
        if (!AskForDisk(1, name))
            throw EUserCanceled("User canceled Zip operation");
        platform::DeleteFile(name);
        if (OnPrepareNextDisk)
            OnPrepareNextDisk(*this, 1);
        capacity = FreeSpace(name) - reserve;
    } else {
        name = SplitPartName(1, TSplitPartType::sptFirst);
        RefuseTaken(name);
        capacity = (MultiZipInfo.FirstBlockSize > 0 ? MultiZipInfo.FirstBlockSize : MultiZipInfo.BlockSize) - reserve;
    }
    run.parts = std::make_unique<TPartOutput>(
        name, capacity, [this, &run](int part, const std::string& previous) { return NextPart(run, part, previous); },
        FlushFilesOnClose);
}

std::pair<std::string, int64_t> TZipWriter::NextPart(TWriteRun& run, int part, const std::string& previous)
{
    // A spanned archive keeps its name on every disk; blocks are numbered.
    std::string name = previous;
    int64_t capacity;
    if (MultiMode() == TMultiMode::mmSpan) {
        if (!AskForDisk(part + 1, name))
            throw EUserCanceled("User canceled Zip operation");
        platform::DeleteFile(name);
        if (OnPrepareNextDisk)
            OnPrepareNextDisk(*this, part + 1);
        capacity = FreeSpace(name);
    } else {
        name = SplitPartName(part + 1, TSplitPartType::sptMiddle);
        RefuseTaken(name);
        capacity = MultiZipInfo.BlockSize;
    }
    run.end.SetEntriesThisDisk(0);
    return {name, capacity};
}

void TZipWriter::RefuseTaken(const std::string& part) const
{
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(part, ec)))
        throw EFCreateError("Cannot create " + part + ": a file of that name exists");
}

void TZipWriter::WriteLocalHeaderInPart(TWriteRun& run, TZipHeaderInfo& header)
{
    // A local header needs a byte of its data after it in the same part.
    run.parts->MakeRoom(header.WrittenLocalHeaderSize() + 1);
    header.SetDiskNumberStart(uint32_t(run.parts->Part()));
    header.WriteLocalHeader(run.parts->Stream());
}

void TZipWriter::SpanCopy(TWriteRun& run, const TZipHeaderInfo& header, THugeStream& temporary)
{
    const int64_t size = temporary.Size();
    if (OnStartSpanCopy)
        OnStartSpanCopy(*this, header.FileName(), size);
    // Progress goes on from where compressing stopped.
    const int64_t uncompressed = int64_t(header.UncompressedSize());
    run.totalBytes += size - uncompressed;
    std::vector<uint8_t> block(CopyBlock);
    temporary.SetPosition(0);
    for (int64_t copied = 0; copied < size;) {
        const int64_t n = std::min<int64_t>(size - copied, int64_t(block.size()));
        Poll();
        temporary.ReadBuffer(block.data(), n);
        run.parts->Write(block.data(), n);
        copied += n;
        run.bytesDone += n;
        if (OnFilePercentDone)
            OnFilePercentDone(*this, PercentOf(uncompressed + copied, uncompressed + size));
        if (OnTotalPercentDone)
            OnTotalPercentDone(*this, PercentOf(run.bytesDone, run.totalBytes));
    }
}

void TZipWriter::SaveZipConfiguration(TWriteRun& run)
{
    std::string first = zipName_;
    if (MultiMode() == TMultiMode::mmSpan && !AskForDisk(1, first))
        throw EUserCanceled("User canceled Zip operation");
    const std::string name = SideFileOf(first);
    try {
        TLFNFileStream file(name, 8192, FlushFilesOnClose, platform::fmCreate);
        for (int i = 0; i < entries_->Count(); ++i)
            entries_->Get(i)->WriteCentralHeader(file, nullptr);
        TEndCentral end;
        end.Assign(run.end);
        end.WriteEndRecord(file);
        file.Flush();
    } catch (const Exception&) {
        throw EConfigFileSaveError();
    }
}
