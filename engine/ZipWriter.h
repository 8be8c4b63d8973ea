// TZipWriter: creates archives from files and folder wildcards, updates
// existing archives through a temporary file, and deletes entries.
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "engine/ZipReader.h"

class TDirSearch;
class TZipWriter;

// Multi-part output settings.
struct TMultiZipInfo {
    TMultiMode MultiMode = TMultiMode::mmNone;
    int64_t BlockSize = 1457600;
    int64_t FirstBlockSize = 0;  // 0: BlockSize
    int64_t SaveOnFirstDisk = 0;
    bool SaveZipInfoOnFirstDisk = false;
    bool CheckDiskLabels = true;
    bool WriteDiskLabels = true;
};

// Once, after the list of files is final; stopNow ends the run.
using TStartZipInfoEvent =
    std::function<void(TZipWriter& sender, int numFiles, int64_t totalBytes, TEndCentral* endCentral, bool& stopNow)>;
// Before each new file; the handler may change the header.
using TStartZipEvent =
    std::function<void(TZipWriter& sender, const std::string& fileName, TZipHeaderInfo& header, bool& skip)>;
using TEndZipEvent = std::function<void(TZipWriter& sender, const std::string& fileName, int64_t uncompressedSize,
                                        int64_t compressedSize, int64_t currentZipSize)>;
using TZipCompleteEvent = std::function<void(TZipWriter& sender, int fileCount)>;
using TFileNameEvent = std::function<void(TZipWriter& sender, const std::string& fileName)>;
using TSkippableFileEvent = std::function<void(TZipWriter& sender, const std::string& fileName, bool& skip)>;
using TUpdateEvent = std::function<void(TZipWriter& sender, TUpdateAction action, int fileIndex)>;
// A new disk of a spanned archive was chosen (1-based).
using TPrepareNextDiskEvent = std::function<void(TZipWriter& sender, int diskNum)>;
// Before an entry's data is copied into the parts.
using TStartSpanCopyEvent = std::function<void(TZipWriter& sender, const std::string& fileName, int64_t fileSize)>;
// Encrypts a block of entry data in place, instead of the built-in cipher.
using TEncryptEvent =
    std::function<void(TZipWriter& sender, uint8_t* buffer, int length, const std::string& password)>;

// How entries are encrypted when there is a password.
enum class TEncryption {
    // The traditional cipher: every tool opens it, but it is weak.
    Traditional,
    // AES-256 as WinZip writes it (AE-2: no CRC of the plain data).
    Aes256
};

class TZipWriter : public TZipReader {
public:
    // Message id of the notice that a source file got shorter while it was read.
    static constexpr int MsgSourceShrank = 208;

    TZipWriter();
    ~TZipWriter() override;

    // Adds the files of FilesList (files, folders ending in '/', wildcard
    // items, a leading '|' or '>' turning the sub-folder search off or on for
    // one item) to ZipName, creating it or rewriting it through a temporary
    // file. An item that names an existing file is that file, even when its
    // name holds wildcard characters. Returns the number of files written as
    // new or replacing entries. FilesList is empty afterwards. A part of a
    // blocked archive never replaces a file of its name: EFCreateError. An
    // archive whose directory had to be rebuilt is not updated unless
    // IncompleteZipMode is izAssumeBad (EDamagedDirectory, CheckDirectory).
    int Zip();
    // Rewrites ZipName without the entries FilesList names (stored names, or
    // patterns: without a '/' they match the name part, with one the whole
    // stored name; with ExactNames stored names only). Returns the number of
    // entries removed. Like an update, it refuses an archive whose entries
    // overlap or whose directory is damaged, leaving it as it was.
    int RemoveEntries();
    // Writes the archive ZipName names (one file, the last part of a set of
    // parts, the first volume of a volume set) anew as output, every entry
    // byte for byte (local header, data, data descriptor) with its offset
    // and part number mended in the directory: as one file when MultiMode
    // is mmNone (a set's parts joined), else as parts of MultiZipInfo's
    // sizes named after output (OnFileNameForSplitPart, BlockMode; the
    // parts read are found under their usual names). No file written
    // replaces a file of its name, and a failed or cancelled run leaves
    // nothing of the output. The archive read stays as it was; the
    // component holds no archive afterwards (MultiMode is mmNone). Returns
    // the number of entries. A damaged directory is refused as an update
    // refuses it.
    int CopyArchive(const std::string& output);

    bool CheckDiskLabels() const override { return MultiZipInfo.CheckDiskLabels; }
    void SetCheckDiskLabels(bool value) override { MultiZipInfo.CheckDiskLabels = value; }
    TMultiMode MultiMode() const override { return MultiZipInfo.MultiMode; }
    void SetMultiMode(TMultiMode value) override { MultiZipInfo.MultiMode = value; }

    // Storing paths: turning StoreVolumes or RelativePaths on turns StorePaths
    // on (RelativePaths also Recurse); turning StorePaths off turns both off.
    bool StorePaths() const { return storePaths_; }
    void SetStorePaths(bool value);
    bool RelativePaths() const { return relativePaths_; }
    void SetRelativePaths(bool value);
    bool StoreVolumes() const { return storeVolumes_; }
    void SetStoreVolumes(bool value);

    // Which files a search finds, by their attributes.
    bool IncludeReadOnlyFiles() const { return attributeMask_ & platform::faReadOnly; }
    void SetIncludeReadOnlyFiles(bool value) { SetMaskBit(platform::faReadOnly, value); }
    bool IncludeHiddenFiles() const { return attributeMask_ & platform::faHidden; }
    void SetIncludeHiddenFiles(bool value) { SetMaskBit(platform::faHidden, value); }
    bool IncludeSysFiles() const { return attributeMask_ & platform::faSysFile; }
    void SetIncludeSysFiles(bool value) { SetMaskBit(platform::faSysFile, value); }
    bool IncludeArchiveFiles() const { return attributeMask_ & platform::faArchive; }
    void SetIncludeArchiveFiles(bool value) { SetMaskBit(platform::faArchive, value); }

    // The system's message for the last file skipped as skUnreadable (it
    // could not be opened, or reading it failed part way).
    const std::string& SourceError() const { return sourceError_; }

    // The folder for temporary files: TempPath when it names a folder, else
    // the system's temporary folder.
    std::string WorkFolder() const;

    int PackLevel = 6;
    TEncryption Encryption = TEncryption::Traditional;
    bool Recurse = false;
    // Delete each source file after a successful run.
    bool Dispose = false;
    TZipAction ZipAction = TZipAction::zaUpdate;
    TMultiZipInfo MultiZipInfo;
    // Short names do not exist here; kept for callers that set it.
    bool Store83Names = false;
    std::string TempPath;
    bool SkipIfArchiveBitNotSet = false;
    bool ResetArchiveBitOnZip = false;
    std::vector<std::string> ExcludeList;
    std::vector<std::string> NoCompressList;
    bool AddDirEntriesOnRecurse = false;
    // A wildcard item that takes a whole tree (mask "*", searching
    // sub-folders) also adds an entry for its own folder and for every
    // folder below, as zip -r of that folder stores them: empty folders
    // survive. Items of other masks add files only.
    bool AddTreeDirEntries = false;
    // The items of the archive the next Zip() of this writer makes, with the
    // same settings, when a job writes many: while this archive is written,
    // the small files among them are read and compressed on the workers, so
    // that a run of small archives keeps every core busy. The next Zip()
    // takes them as they were loaded where they have not changed since.
    std::vector<std::string> NextFilesList;
    // Drops what was loaded for the next archive (a job that stops early).
    void ForgetNextFiles();

    TStartZipInfoEvent OnStartZipInfo;
    TStartZipEvent OnStartZip;
    TEndZipEvent OnEndZip;
    TZipCompleteEvent OnZipComplete;
    TFileNameEvent OnNoSuchFile;
    TFileNameEvent OnRecursingFile;
    TSkippableFileEvent OnDisposeFile;
    TSkippableFileEvent OnDeleteEntry;
    TUpdateEvent OnUpdate;
    TEncryptEvent OnEncrypt;
    TPrepareNextDiskEvent OnPrepareNextDisk;
    TStartSpanCopyEvent OnStartSpanCopy;

private:
    struct TWriteRun;
    struct TWholeFile;
    // The next archive's files loaded during this run, and the workers
    // loading them, kept from one Zip() to the next.
    struct TNextLoads;
    std::unique_ptr<TNextLoads> nextLoads_;

    void SetMaskBit(int bit, bool on);
    // Opens the archive CopyArchive reads, its parts as one file.
    void OpenForCopy();
    // Reads a copy written back and checks it against the archive copied.
    void CheckCopy(const TWriteRun& run, const std::string& file);
    int WriteArchive(bool deleting);
    // The stages of WriteArchive, in order (see each for what it takes and gives).
    void PlanRun(TWriteRun& run);
    void OpenForUpdate();
    void OpenOutput(TWriteRun& run);
    void WriteNewEntries(TWriteRun& run);
    void RemoveFailedOutput(TWriteRun& run);
    void PutInPlace(TWriteRun& run);
    void AdoptWritten(TWriteRun& run, TZipSortMode sortMode);
    // What expanding the list shares: the archive, never added to itself.
    struct TExpansion;
    void ExpandFilesList(TWriteRun& run);
    // The stages of ExpandFilesList, in order (see each for what it takes and gives).
    bool TakeNamedItem(TWriteRun& run, TExpansion& expansion, const std::string& item);
    void AddMatchingFiles(TWriteRun& run, TExpansion& expansion, std::string item);
    std::string SearchFolder(const std::string& item) const;
    void AddFoundFiles(TWriteRun& run, TExpansion& expansion, TDirSearch& search, bool folders);
    // Whether the file may be added: reports it and returns false when not.
    bool PassesArchiveTests(TWriteRun& run, const std::string& file);
    // What carrying over shares besides the run.
    struct TCarryOver;
    void CarryOverEntries(TWriteRun& run);
    // The stages of CarryOverEntries, in order (see each for what it takes and gives).
    void MeasureOldEntries(TWriteRun& run, TCarryOver& carry);
    void CopyLeadingBytes(TWriteRun& run, const TCarryOver& carry);
    void ReadOldDirectory(TWriteRun& run);
    void IndexItems(TWriteRun& run, TCarryOver& carry);
    bool ItemTakesEntry(TWriteRun& run, TCarryOver& carry, int i);
    bool ReplaceEntry(TWriteRun& run, const std::string& item, int i);
    static bool NewerThanEntry(const std::string& file, uint32_t fileDos, const TZipHeaderInfo& entry);
    int64_t KeepEntry(TWriteRun& run, int i);
    void DropTakenItems(const TCarryOver& carry);
    // Copies an entry of the archive read, headers, data and data
    // descriptor, byte for byte into the output; returns its new record.
    std::unique_ptr<TZipHeaderInfo> CopyEntryRaw(TWriteRun& run, int index);
    // An old entry's bytes as they stand in the archive read.
    struct TRawEntry;
    // The stages of CopyEntryRaw, in order (see each for what it takes and gives).
    std::string OldCentralHeader(const TWriteRun& run, const TZipHeaderInfo& old) const;
    void CarryCentralHeader(int index, std::string raw, TZipHeaderInfo& entry);
    TRawEntry ReadRawLocalHeader(TWriteRun& run, const TZipHeaderInfo& old);
    int64_t DescriptorLength(const TWriteRun& run, const TZipHeaderInfo& old, const TRawEntry& raw);
    void WriteRawEntry(TWriteRun& run, const TZipHeaderInfo& old, const TRawEntry& raw, TZipHeaderInfo& entry);
    // Copies length bytes of the archive read, from offset from, into the output.
    void CopyBytes(TWriteRun& run, int64_t from, int64_t length);
    // Starts loading the small files of items from current on, within the
    // bytes allowed ahead.
    void LoadAhead(TWriteRun& run, const std::vector<std::string>& items, size_t current);
    // Starts loading the small plain files of NextFilesList, within the bytes allowed ahead.
    void LoadNextArchive(TWriteRun& run);
    // Sets a worker loading item, of size bytes, whole.
    TTask<TWholeFile> StartLoad(TWriteRun& run, const std::string& item, int64_t size);
    // Item index read whole at level: as loaded ahead, or loaded now; null
    // when it is to be read as a stream.
    std::shared_ptr<TWholeFile> LoadWhole(TWriteRun& run, size_t index, const std::string& item, int level,
                                          THugeFileStream& source);
    // The item as loaded, at level, during the last run, when it has not
    // changed since; none else.
    TTask<TWholeFile> TakeLoadedBefore(TWriteRun& run, const std::string& item, int level);
    // Waits for work of the workers, letting messages through.
    void Await(std::future<void>& done);
    // The deflate level of an item's entry; 0: stored.
    int EntryLevel(const std::string& item) const;
    // Writes items[index] as a new entry of the run, counting it, unless it
    // is skipped; false then (the file went, a handler skipped it).
    bool AddNewEntry(TWriteRun& run, const std::string& item, size_t index);
    // One file entry on its way into the output.
    struct TEntryWrite;
    // Writes one new entry; false when the item was skipped.
    bool AddFile(TWriteRun& run, const std::string& item, size_t index, TZipHeaderInfo& header);
    // The stages of AddFile, in order (see each for what it takes and gives).
    void DescribeFolder(const std::string& item, TZipHeaderInfo& header) const;
    std::unique_ptr<THugeFileStream> OpenSource(TWriteRun& run, const std::string& item, TZipHeaderInfo& header);
    bool EntryWanted(TWriteRun& run, const std::string& item, TZipHeaderInfo& header);
    void SetUpFileHeader(TWriteRun& run, const std::string& item, TZipHeaderInfo& header, TEntryWrite& entry) const;
    void OpenEntryOutput(TWriteRun& run, TZipHeaderInfo& header, TEntryWrite& entry);
    void WriteCipherHeader(TWriteRun& run, TZipHeaderInfo& header, TEntryWrite& entry, const TWholeFile* whole,
                           THugeFileStream& source);
    void WriteEntryData(TWriteRun& run, const std::string& item, TEntryWrite& entry, TWholeFile* whole,
                        THugeFileStream& source);
    bool EntryIntact(TWriteRun& run, const std::string& item, TZipHeaderInfo& header, const TEntryWrite& entry);
    uint64_t CloseEntryData(TWriteRun& run, TZipHeaderInfo& header, const TEntryWrite& entry);
    void PlaceLocalHeader(TWriteRun& run, const std::string& item, TZipHeaderInfo& header, TEntryWrite& entry);
    void WriteWhole(TWriteRun& run, TWholeFile& whole);
    void WriteDataStored(TWriteRun& run, THugeFileStream& source);
    void WriteDataDeflated(TWriteRun& run, THugeFileStream& source);
    void WriteEncryptionHeader(TWriteRun& run, const TZipHeaderInfo& header);
    // The salt and password verifier of an AES entry; sets up its cipher.
    void WriteAesHeader(TWriteRun& run);
    // Reads a block of the source, counting it and updating the CRC.
    size_t ReadSource(TWriteRun& run, THugeFileStream& source, uint8_t* buffer, size_t n);
    // Counts n bytes of the file as read, for the progress events.
    void CountRead(TWriteRun& run, int64_t n);
    // Encrypts (with a password) and writes a block of entry data.
    void WriteOutput(TWriteRun& run, uint8_t* buffer, size_t n);
    // Writes the central directory and the end record; a set of blocks that
    // ends in its first part becomes a plain archive (DropSplitMarker).
    void WriteCentralDirectory(TWriteRun& run);
    // Takes the split marker from the start of the part being written and
    // moves what follows it, up to the directory (dropped), 4 bytes to the
    // front, with the entries' offsets; false when there was no marker.
    bool DropSplitMarker(TWriteRun& run);
    // Multi-part output: the first part, the file and capacity of the next
    // (asking for a disk), a local header that may not straddle parts, the
    // copy of an entry's staged data into the parts, and the ".zfc" file
    // with the directory, for reading when the last part is not at hand.
    void OpenFirstPart(TWriteRun& run);
    std::pair<std::string, int64_t> NextPart(TWriteRun& run, int part, const std::string& previous);
    // A block never takes the place of a file (or link) of its name, which
    // may be the user's or a part of another set: EFCreateError.
    void RefuseTaken(const std::string& part) const;
    void WriteLocalHeaderInPart(TWriteRun& run, TZipHeaderInfo& header);
    void SpanCopy(TWriteRun& run, const TZipHeaderInfo& header, THugeStream& temporary);
    void SaveZipConfiguration(TWriteRun& run);
    int64_t FreeSpace(const std::string& file) const;
    void AppendEntry(TWriteRun& run, std::unique_ptr<TZipHeaderInfo> entry);
    // The folder an item's entry is stored under: empty unless StorePaths.
    std::string StoredFolder(const std::string& item) const;
    // The stored form of a file item: its stored folder and name.
    std::string StoredName(const std::string& item) const;
    bool MatchesList(const std::vector<std::string>& patterns, const std::string& file) const;

    bool storePaths_ = false;
    bool relativePaths_ = false;
    bool storeVolumes_ = false;
    int attributeMask_ = 63;
    std::string sourceError_;
};
