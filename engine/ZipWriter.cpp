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

TZipWriter::TZipWriter()
{
    SetIncludeReadOnlyFiles(true);
    SetIncludeHiddenFiles(false);
    SetIncludeSysFiles(false);
    SetIncludeArchiveFiles(true);
}

TZipWriter::~TZipWriter() = default;

void TZipWriter::ForgetNextFiles()
{
    nextLoads_.reset();
}

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
        OpenForCopy();
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
        if (!run.multi)
            CheckCopy(run, single);
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

// Reads the copy written to file back and checks it against the archive
// copied: its directory reads whole, with as many entries as the archive's
// directory counts, each with the name, CRC and sizes it had, at the offset
// it was written to, with a local header there and no entry overlapping the
// next. Raises EBadZipFile when it does not.
void TZipWriter::CheckCopy(const TWriteRun& run, const std::string& file)
{
    TZipWriter copy;
    copy.OEMConvert = OEMConvert;
    copy.NamesCodePage = NamesCodePage;
    copy.IncompleteZipMode = TIncompleteZipMode::izAssumeNotAZip;
    copy.KeepZipOpen = true;
    copy.SetZipName(file);
    copy.ReadArchive();
    copy.CheckDirectory();
    copy.CheckOverlaps();
    bool same = !copy.Rebuilt() && uint64_t(copy.EntryCount()) == endCentral_.TotalEntries() &&
                copy.EntryCount() == EntryCount() && size_t(EntryCount()) == run.entries.size();
    for (int i = 0; same && i < EntryCount(); ++i) {
        const TZipHeaderInfo &read = copy.EntryInfo(i), &old = Entry(i), &written = *run.entries[size_t(i)];
        same = read.Directory() + read.FileName() == old.Directory() + old.FileName() && read.Crc32 == old.Crc32 &&
               read.CompressedSize() == old.CompressedSize() && read.UncompressedSize() == old.UncompressedSize() &&
               read.LocalHeaderOffset() == written.LocalHeaderOffset() && copy.FindEntryData(read).empty();
    }
    if (!same)
        throw EBadZipFile("The copy written does not hold the archive's entries as its directory lists them");
}

// Opens the archive CopyArchive reads, its parts as one file. The parts read
// are found under their usual names; the handler names the parts written.
void TZipWriter::OpenForCopy()
{
    TFileNameForSplitPartEvent naming;
    std::swap(naming, OnFileNameForSplitPart);
    try {
        SetMultiMode(TMultiMode::mmNone);
        OpenZipFile();
        CheckDirectory();
        if (PartCount() > 1)
            ReadPartsAsOneFile();
    } catch (...) {
        std::swap(naming, OnFileNameForSplitPart);
        throw;
    }
    std::swap(naming, OnFileNameForSplitPart);
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
    run.loadedBefore = std::move(nextLoads_);
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
        NextFilesList.clear();
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
    // The next archive's files go on loading on these workers.
    if (run.loadingNext) {
        run.loadingNext->workers = std::move(run.workers);
        nextLoads_ = std::move(run.loadingNext);
    }
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
// Raises for a damaged directory (unless rebuilding it was asked for), a
// multi-part archive and entries that overlap.
void TZipWriter::OpenForUpdate()
{
    // A comment set before the directory was read outlives its reading.
    const std::optional<std::string> comment =
        endCentral_.Modified ? endCentral_.CommentText() : std::optional<std::string>();
    OpenZipFile();
    CheckDirectory();
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
    run.workers = run.loadedBefore && run.loadedBefore->workers
                      ? std::move(run.loadedBefore->workers)
                      : std::make_unique<TWorkers>(Threads > 0 ? Threads : DefaultThreads());
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

// What expanding the list shares: the archive, which is never added to
// itself, named or matched, and the retry flag every skip report hands on.
struct TZipWriter::TExpansion {
    platform::FileStamp archive;
    bool archiveExists = false;
    std::filesystem::path archivePath;
    bool retry = false;

    explicit TExpansion(const std::string& zipName)
    {
        archiveExists = platform::GetFileStamp(zipName, archive);
        std::error_code ec;
        archivePath = std::filesystem::absolute(zipName, ec).lexically_normal();
    }

    // A file is the archive when it is the same file (through links too),
    // or, while there is no archive yet, when it names the same place.
    bool IsArchive(const std::string& name) const
    {
        platform::FileStamp file;
        if (archiveExists)
            return platform::GetFileStamp(name, file) && file.Device == archive.Device && file.Inode == archive.Inode;
        std::error_code ec;
        return std::filesystem::absolute(name, ec).lexically_normal() == archivePath;
    }
};

// Expands FilesList into the files and folders to add, with their bytes,
// in stages: the archive's stored names noted for zaFreshen, each item that
// is no wildcard taken as the folder or file it names, then each wildcard
// item's search.
void TZipWriter::ExpandFilesList(TWriteRun& run)
{
    if (ZipAction == TZipAction::zaFreshen)
        for (int i = 0; i < EntryCount(); ++i)
            run.existing.insert(EntryFolder(i) + EntryName(i));
    const std::vector<std::string> items = std::move(FilesList);
    FilesList.clear();
    TExpansion expansion(zipName_);
    std::vector<std::string> wildItems;
    for (const std::string& item : items) {
        // Each file is looked up on disk: a long list is a long step.
        Poll();
        if (!TakeNamedItem(run, expansion, item))
            wildItems.push_back(item);
    }
    for (const std::string& item : wildItems)
        AddMatchingFiles(run, expansion, item);
}

// Takes an item of the list; false when it is a wildcard, left for the
// search. Else adds the folder it names, or the file when it may be added
// (reporting one excluded, not found or filtered out, or failing the
// archive's tests).
bool TZipWriter::TakeNamedItem(TWriteRun& run, TExpansion& expansion, const std::string& item)
{
    if (EndsWithSlash(item)) {
        FilesList.push_back(item);
        return true;
    }
    // A name that holds wildcard characters is still the file it names
    // when that file exists ("what?.txt"); only otherwise is it a wildcard.
    const std::string file = item.find('/') == std::string::npos ? RootDir() + item : item;
    std::error_code ec;
    if (IsWild(item) && !std::filesystem::is_regular_file(file, ec))
        return false;
    if (MatchesList(ExcludeList, file) || expansion.IsArchive(file)) {
        if (OnSkippingFile)
            OnSkippingFile(*this, TSkipReason::skExcluded, file, -1, expansion.retry);
        return true;
    }
    // Found only when the attribute mask lets it through, and only a file.
    const int attr = platform::FileGetAttr(file);
    const int filtering = platform::faReadOnly | platform::faHidden | platform::faSysFile;
    if (!platform::FileExists(file) || (attr & filtering & ~attributeMask_)) {
        if (OnNoSuchFile)
            OnNoSuchFile(*this, file);
        return true;
    }
    if (!PassesArchiveTests(run, file))
        return true;
    run.totalBytes += int64_t(std::filesystem::file_size(file));
    FilesList.push_back(file);
    return true;
}

// Takes a wildcard item (a leading '|' or '>' turns the sub-folder search
// off or on for it, else Recurse says); reports it when its folder is not
// there, else searches the folder for its mask.
void TZipWriter::AddMatchingFiles(TWriteRun& run, TExpansion& expansion, std::string item)
{
    bool recurse = Recurse;
    if (item[0] == '|' || item[0] == '>') {
        recurse = item[0] == '>';
        item.erase(0, 1);
    }
    const std::string folder = SearchFolder(item);
    std::string mask = NamePart(item);
    if (mask == "*.*")
        mask = "*";
    if (!platform::DirectoryExists(folder.empty() ? "." : folder) && !IsWild(folder)) {
        if (OnNoSuchFile)
            OnNoSuchFile(*this, item);
        return;
    }
    const bool tree = recurse && AddTreeDirEntries && mask == "*";
    // The item's own folder, when it is one (not the root folder, nor wild).
    if (tree && !FolderPart(item).empty() && !IsWild(folder) && platform::DirectoryExists(folder))
        FilesList.push_back(FolderPart(item));
    // Every entry looked at lets messages through: a walk over a large
    // tree where few names match must still answer a cancel.
    TDirSearch search(folder, attributeMask_, recurse, mask, [this] { Poll(); });
    AddFoundFiles(run, expansion, search, recurse && (AddDirEntriesOnRecurse || tree));
}

// The folder a wildcard item searches, without its closing '/': the item's
// own, else the root folder.
std::string TZipWriter::SearchFolder(const std::string& item) const
{
    std::string folder = FolderPart(item);
    if (folder.size() > 1)
        folder.pop_back();
    if (folder.empty()) {
        folder = RootDir();
        if (folder.size() > 1 && EndsWithSlash(folder))
            folder.pop_back();
    }
    return folder;
}

// Takes a wildcard item's search; adds each file it finds that may be added
// (reporting one excluded), with its bytes, and with folders each folder it
// meets.
void TZipWriter::AddFoundFiles(TWriteRun& run, TExpansion& expansion, TDirSearch& search, bool folders)
{
    platform::FindRecord rec;
    std::string name;
    while (search.Next(rec, name)) {
        if (OnRecursingFile)
            OnRecursingFile(*this, name);
        if (EndsWithSlash(name)) {
            if (folders)
                FilesList.push_back(name);
            continue;
        }
        if (MatchesList(ExcludeList, name)) {
            if (OnSkippingFile)
                OnSkippingFile(*this, TSkipReason::skExcluded, name, -1, expansion.retry);
            continue;
        }
        if (expansion.IsArchive(name))
            continue;
        if (!PassesArchiveTests(run, name))
            continue;
        FilesList.push_back(name);
        run.totalBytes += rec.Size;
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
