// TZipReader: opens an archive (also one split into parts), reads its central
// directory into an entry list, rebuilds a damaged directory from the local
// headers, and answers questions about the entries.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "engine/BufferStream.h"
#include "engine/ZipObj.h"
#include "platform/Files.h"

template <class T>
struct TTask;

class TAesCipher;
class TZipReader;

// Asked when no end record is found; may change the mode to assume.
using TIncompleteZipEvent = std::function<void(TZipReader& sender, TIncompleteZipMode& mode)>;
// A spanned part is needed: nextDisk is 1-based; fileName comes in as ZipName
// and goes out as the file to open, empty to cancel.
using TGetNextDiskEvent = std::function<void(TZipReader& sender, int nextDisk, std::string& fileName)>;
// A split part is needed: fileName comes in as BaseName and goes out as the
// part's full file name.
using TFileNameForSplitPartEvent =
    std::function<void(TZipReader& sender, std::string& fileName, int partNum, TSplitPartType splitType)>;
// Replaces the message box of every question the engine asks.
using THandleMessageEvent = std::function<void(TZipReader& sender, int messageId, const std::string& msg1,
                                               const std::string& msg2, unsigned flags, int& result)>;

// Extraction events.
using TStartUnZipInfoEvent = std::function<void(TZipReader& sender, int numFiles, int64_t totalBytes, bool& stopNow)>;
using TStartUnZipEvent = std::function<void(TZipReader& sender, int fileIndex, std::string& fileName, bool& skip)>;
using TPromptForOverwriteEvent =
    std::function<void(TZipReader& sender, bool& overwriteIt, int fileIndex, std::string& fileName)>;
// retry is not used: a skipped entry stays skipped.
using TSkippingFileEvent = std::function<void(TZipReader& sender, TSkipReason reason, const std::string& fileName,
                                              int fileIndex, bool& retry)>;
using TBadPasswordEvent = std::function<void(TZipReader& sender, int fileIndex, std::string& newPassword)>;
// An entry's data could not be decoded whole; what says what went wrong.
using TEntryErrorEvent = std::function<void(TZipReader& sender, int fileIndex, const std::string& what)>;
using TBadCRCEvent = std::function<void(TZipReader& sender, uint32_t calcCrc, uint32_t storedCrc, int fileIndex)>;
using TPercentDoneEvent = std::function<void(TZipReader& sender, int percent)>;
using TEndUnZipEvent = std::function<void(TZipReader& sender, int fileIndex, const std::string& fileName)>;
using TUnZipCompleteEvent = std::function<void(TZipReader& sender, int fileCount)>;
// Decrypts a chunk of compressed data in place, instead of the built-in cipher.
using TDecryptEvent =
    std::function<void(TZipReader& sender, uint8_t* buffer, int length, const std::string& password)>;

// The traditional ZIP stream cipher: three keys driven by the CRC-32 step.
class TZipKeys {
public:
    // Starts the keys from the password's bytes, as stored.
    void InitKeys(const std::string& password);
    void UpdateKeys(uint8_t plain);
    // The key stream's next byte (the keys are not moved).
    uint8_t StreamByte() const;
    // Decrypts n bytes in place; the keys carry on, so a stream may come in chunks.
    void DecryptBuffer(uint8_t* buffer, size_t n);
    uint8_t EncryptByte(uint8_t plain);

private:
    uint32_t key0_ = 0x12345678;
    uint32_t key1_ = 0x23456789;
    uint32_t key2_ = 0x34567890;
};

class TZipReader {
public:
    static constexpr int ThisVersion = 100;
    static constexpr int ThisBuild = 1;
    // Message id of the question for the next disk of a spanned archive.
    static constexpr int MsgInsertDisk = 184;
    // The most parts a multi-part archive may have: the classic end record's
    // part numbers are 16 bits wide.
    static constexpr uint32_t MaxParts = 65535;
    // The ".zfc" file beside the archive zipName that may hold its directory
    // when it is the missing last part of a multi-part archive.
    static std::string SideFileOf(const std::string& zipName);

    TZipReader();
    virtual ~TZipReader();
    TZipReader(const TZipReader&) = delete;
    TZipReader& operator=(const TZipReader&) = delete;

    // The archive to work on (for a multi-part archive, the part opened
    // last). Setting another name forgets the archive read before; a name
    // ending in '?' asks for the file through the open-file dialog and raises
    // EUserCanceled "User canceled setting zip file name." when declined.
    const std::string& ZipName() const { return zipName_; }
    virtual void SetZipName(const std::string& name);
    // The name ZipName was set to, whichever part is open now.
    const std::string& ArchiveName() const { return lastPartName_; }
    // ZipName without its extension; the stem of the part names.
    const std::string& BaseName() const { return baseName_; }
    virtual bool CheckDiskLabels() const { return checkDiskLabels_; }
    virtual void SetCheckDiskLabels(bool value) { checkDiskLabels_ = value; }
    virtual TMultiMode MultiMode() const { return multiMode_; }
    virtual void SetMultiMode(TMultiMode value) { multiMode_ = value; }

    // Reads the directory of ZipName. A file without an end record gives no
    // entries under izAssumeMulti; other failures leave the reader empty and
    // raise. The archive file is closed afterwards unless KeepZipOpen.
    void ReadArchive();
    // Forgets the archive: closes its file, frees the entries, empties ZipName.
    void ResetArchive();
    // Closes the archive file unless KeepZipOpen.
    void CloseZipFile();

    int EntryCount() const;
    // Entry index of the view (SortMode order); a bad index raises EListError
    // "Index <n> is out of range".
    std::string EntryName(int index) const;
    // Every header value of entry index.
    const TZipHeaderInfo& EntryInfo(int index) const;
    std::string EntryFolder(int index) const;
    // The entry's time: the exact one of a timestamp field, else its DOS
    // time; the current time when the stored value is no date.
    std::time_t EntryDateTime(int index) const;
    uint64_t EntrySize(int index) const;
    // Comments are read from the archive when first asked for.
    std::string EntryComment(int index);
    // The entry's central header as stored (fixed part, name bytes, extra
    // field, comment), for a front end that shows every field; empty when it
    // cannot be read again: a directory rebuilt from local headers, or one of
    // an archive in parts.
    std::string EntryCentralHeader(int index);
    void SetEntryComment(int index, const std::string& comment);
    std::string ArchiveComment();
    void SetArchiveComment(const std::string& comment);
    // Rebuilds the entry view in the given order and keeps it in SortMode.
    void SortEntries(TZipSortMode mode);

    // Asks the operation under way to stop at its next poll.
    void RequestCancel() { cancel_ = true; }
    bool Working() const { return working_; }

    // OnHandleMessage when assigned, else the platform's message box.
    int HandleMessage(int messageId, const std::string& msg1, const std::string& msg2, unsigned flags);

    // Copies the settings and handlers (the archive name as text only).
    void Assign(const TZipReader& source);

    // ---- Extraction ----

    // Extracts the entries of ZipName chosen by DoAll or FilesList and
    // returns how many were extracted. FilesList is empty afterwards.
    int UnZip();

    // The destination folder, kept without a trailing '/'; "?" asks for it
    // through the folder dialog (EUserCanceled "User canceled Set Desination
    // Directory" when declined). Empty means the current folder.
    const std::string& DestDir() const { return destDir_; }
    void SetDestDir(const std::string& folder);
    // A root to strip from stored folders; it replaces RelativePathList.
    const std::string& RootDir() const { return rootDir_; }
    void SetRootDir(const std::string& root);
    // Folder prefixes stripped from stored folders (first match, case ignored).
    std::vector<std::string> RelativePathList;
    // Wildcard patterns choosing the entries to extract.
    std::vector<std::string> FilesList;
    // FilesList holds exact stored names (folder and name), matched byte for
    // byte, for extraction and deletion alike: a '*' or '?' in one is part
    // of the name, and case counts.
    bool ExactNames = false;
    bool DoAll = false;
    bool RecreateDirs = false;
    TUZOverwriteMode OverwriteMode = TUZOverwriteMode::Prompt;
    bool RetainAttributes = true;
    bool ReplaceReadOnly = false;
    // Tried on encrypted entries; OnBadPassword may replace it.
    std::string Password;
    // Decode and check the chosen entries without creating any file or
    // folder: what a test of the archive does. Events fire as in extraction.
    bool TestOnly = false;
    // Symbolic-link entries are made as links after every other entry of the
    // run; one whose target is absolute or leads out of the destination is
    // skipped (skUnsafeLink) unless this is set.
    bool AllowOutsideLinks = false;
    // Threads that work ahead of the calling thread (compressing files when
    // zipping, decoding entries when testing or extracting): 0 for as many
    // as the machine has cores, 1 for none. What is written is the same
    // whatever the number; events and prompts always come from the calling
    // thread, in the order of the entries.
    int Threads = 0;
    // What the workers did in the last extraction or test: the entries
    // given to them before their turn came, and the most bytes and LZMA or
    // XZ windows of more than 16 MiB ahead of the calling thread at once.
    struct TAheadCounts {
        int decodedAhead = 0;
        int64_t mostBytes = 0;
        int mostLargeWindows = 0;
    };
    const TAheadCounts& AheadCounts() const { return aheadCounts_; }

    TStartUnZipInfoEvent OnStartUnZipInfo;
    TStartUnZipEvent OnStartUnZip;
    TPromptForOverwriteEvent OnPromptForOverwrite;
    TSkippingFileEvent OnSkippingFile;
    TBadPasswordEvent OnBadPassword;
    TBadCRCEvent OnBadCRC;
    TEntryErrorEvent OnEntryError;
    TPercentDoneEvent OnFilePercentDone;
    TPercentDoneEvent OnTotalPercentDone;
    TEndUnZipEvent OnEndUnZip;
    TUnZipCompleteEvent OnUnZipComplete;
    TDecryptEvent OnDecrypt;

    // Message ids of the questions asked during extraction.
    static constexpr int MsgUnknownMethod = 197;
    static constexpr int MsgReplaceFile = 196;

    int CurrentPart() const { return currentPart_; }
    int PartCount() const { return partCount_; }
    bool Rebuilt() const { return rebuilt_; }
    // Other tools read another archive in this file: the last end record,
    // which they take, is not the one read (it lies in the archive
    // comment), and it leads to a directory that reads cleanly and lists
    // other entries. A scanner may so see one content and an extractor another.
    bool ReadsDifferently() const { return readsDifferently_; }
    // Raises EDamagedDirectory ("<archive>: its directory is damaged") when
    // the entries were read from their local headers though neither
    // IncompleteZipMode is izAssumeBad nor RebuildDamaged is set: a
    // directory is rebuilt on its own when it cannot be read, and a list
    // rebuilt so may lack or misname entries. The writer checks it before it
    // writes from an archive.
    void CheckDirectory() const;
    // A directory rebuilt from the local headers is worked on, also by the
    // writer, as one read from the archive.
    bool RebuildDamaged = false;
    const TEndCentral& EndCentral() const { return endCentral_; }

    // Settings, with their defaults.
    TZipSortMode SortMode = TZipSortMode::ByNone;
    TIncompleteZipMode IncompleteZipMode = TIncompleteZipMode::izAssumeMulti;
    bool KeepZipOpen = false;
    bool DoProcessMessages = true;
    TOEMConvert OEMConvert = TOEMConvert::oemAlways;
    // The code page names without the UTF-8 flag are read in (from MS-DOS
    // and Windows tools): an iconv name such as "CP850" or "CP932"; empty
    // for code page 437.
    std::string NamesCodePage;
    TBlockMode BlockMode = TBlockMode::bmStandard;
    bool FlushFilesOnClose = false;

    TIncompleteZipEvent OnInCompleteZip;
    TGetNextDiskEvent OnGetNextDisk;
    TFileNameForSplitPartEvent OnFileNameForSplitPart;
    THandleMessageEvent OnHandleMessage;

protected:
    // Opens the archive file unless it is open, and reads its directory when
    // there is none yet or the file changed since it was read.
    void OpenZipFile();
    // Refuses the open archive when its entries share their bytes (a
    // possible zip bomb): EBadZipFile.
    void CheckOverlaps();
    // Moves the archive to the entry's data; what went wrong when it cannot.
    std::string FindEntryData(const TZipHeaderInfo& entry, std::string* localExtra = nullptr);
    // Makes part n (1-based) the open archive stream and returns it.
    THugeStream* OpenPart(int n);
    // The name of split part n: OnFileNameForSplitPart's, or by BlockMode.
    std::string SplitPartName(int n, TSplitPartType type);
    // The file of split part n when reading: SplitPartName's, or where other
    // tools put it (x.z01 for x.zip).
    std::string PartFileName(int n, TSplitPartType type);
    // Reads the directory of the multi-part archive just read again through
    // one stream over all of its parts, as the one file they make end to
    // end: offsets count from the start of the first part, and the entries,
    // the directory and the end record lie on part 0. The archive is then
    // read as a one-file archive, for writing its parts as one. EFOpenError
    // when a part is missing, EBadZipFile when a header lies outside its part.
    void ReadPartsAsOneFile();
    bool CheckDiskLabel(int n) const;
    // The ".zfc" file beside the archive that may hold its directory.
    std::string SideFileName() const;
    // Asks for disk n of a spanned archive (OnGetNextDisk, else the prompt);
    // fileName comes in as the proposal. False when the user cancels.
    bool AskForDisk(int n, std::string& fileName);
    // Lets window messages through and raises EUserCanceled when a cancel was
    // asked for; does nothing unless DoProcessMessages.
    void Poll();
    // Waits for work of the workers to end, letting messages through.
    void WaitPolling(std::future<void>& done);

    std::unique_ptr<TLFNFileStream> archive_;
    std::unique_ptr<TSortedZip> entries_;  // owns the entries, ByNone order
    std::unique_ptr<TSortedZip> sorted_;   // the view when SortMode is not ByNone
    TEndCentral endCentral_;
    int currentPart_ = 0;
    int partCount_ = 1;
    bool rebuilt_ = false;
    bool readsDifferently_ = false;
    bool cancel_ = false;
    bool working_ = false;
    bool reading_ = false;  // a directory read or an extraction is under way

    // The cipher's state for the entry being en- or decrypted.
    TZipKeys keys_;
    std::string zipName_;
    std::string baseName_;
    std::string lastPartName_;  // the name ZipName was given: the last part
    platform::FileStamp stamp_;  // of the archive file when its directory was read

    // Drops the entry lists.
    void FreeEntries();
    // Entry index of the view.
    TZipHeaderInfo& Entry(int index) const;

private:
    // State of one extraction run and of the entry being decoded.
    struct TUnZipRun;
    struct TDecodedAhead;

    // The walk over the central headers.
    struct TDirectoryScan;
    void ReadDirectory();
    // The stages of ReadDirectory, in order (see each for what it takes and gives).
    THugeStream* FindEndRecord(std::unique_ptr<TLFNFileStream>& side);
    void CheckEndRecordPart() const;
    bool LastEndRecordReadsDifferently(THugeStream& s) const;
    int64_t PrefixLength(THugeStream& s) const;
    THugeStream* GoToDirectory(THugeStream* s, bool fromSide, int64_t prefix);
    THugeStream* ReadIncompleteArchive();
    void ReadCentralHeaders(TDirectoryScan& scan);
    bool EntriesInOrder(TDirectoryScan& scan);
    void RestartScan(TDirectoryScan& scan);
    bool ReadNextCentralHeader(TDirectoryScan& scan, TZipHeaderInfo& h);
    void CompleteRebuiltEntry(TDirectoryScan& scan, const TZipHeaderInfo& h);
    void AppendCentralEntry(TDirectoryScan& scan, TZipHeaderInfo* e);
    void FinishDirectory(TDirectoryScan& scan, bool fromSide);
    // Extracts from the open archive; returns the number of entries extracted.
    int RunExtraction();
    // Marks the entries the run extracts; counts them and their bytes.
    void SelectEntries(TUnZipRun& run);
    // Where one entry goes: its names, folder and what stands there.
    struct TEntryTarget;
    void ExtractEntry(TUnZipRun& run, int index);
    // The stages of ExtractEntry, in order (see each for what it takes and gives).
    bool PlaceEntry(TUnZipRun& run, int index, TEntryTarget& target);
    bool OpenOutputFolder(TUnZipRun& run, TEntryTarget& target);
    bool PrepareCipher(TUnZipRun& run, int index, const TEntryTarget& target);
    void KeepLinkTarget(TUnZipRun& run, int index, const TEntryTarget& target);
    bool DecideOverwrite(TUnZipRun& run, int index, TEntryTarget& target);
    std::unique_ptr<TLFNFileStream> CreateOutput(TUnZipRun& run, int index, TEntryTarget& target);
    bool DecodeToOutput(TUnZipRun& run, int index, const TEntryTarget& target, std::unique_ptr<TLFNFileStream> out);
    void FinishEntry(TUnZipRun& run, int index, const TEntryTarget& target, bool good);
    // The folder an entry goes to, relative to the destination.
    std::string OutputFolder(const TZipHeaderInfo& entry) const;
    // The entry's central extra field as it was read (empty when it cannot be read again).
    std::string CentralExtra(const TZipHeaderInfo& entry);
    bool PasswordAccepted(TUnZipRun& run, int index);
    // The password check of an AES entry: its verifier, asked again through
    // OnBadPassword; on success the entry's cipher is ready.
    bool AesPasswordAccepted(TUnZipRun& run, int index);
    bool KeepExistingFile(TUnZipRun& run, int index, const platform::SafeFolder& folder, const std::string& name,
                          std::string& fileName);
    void SkipEntry(TUnZipRun& run, TSkipReason reason, const std::string& fileName, int index);
    // An entry that failed before its data was decoded.
    void FailEntry(TUnZipRun& run, int index, const std::string& what);
    // Decodes the entry into run.out or run.text and checks it; a failure is
    // reported (and a new password may ask for a retry). True when good.
    bool DecodeChecked(TUnZipRun& run, int index);
    // Starts decoding entries from index on, on the workers, within the
    // bytes allowed ahead: entries of a single-file archive in any method
    // decoded here, unencrypted or AES-encrypted.
    void DecodeAhead(TUnZipRun& run, int index);
    // Takes the result of the entry decoded ahead, waiting for it and
    // reporting its progress meanwhile (a streamed entry is written as it comes).
    // False when it cannot be used: it was not decoded from where the
    // entry's data begins.
    bool TakeDecoded(TUnZipRun& run, TTask<TDecodedAhead>& task);
    // The cipher a worker keyed for the AES entry at index, whose salt and
    // password check read here are head, waiting for it: null when the
    // worker has none for this password and head.
    std::unique_ptr<TAesCipher> KeyedAhead(TUnZipRun& run, int index, const std::string& head);
    // Makes the links gathered by the run, after all of its files.
    void MakeLinks(TUnZipRun& run);
    // Gives the folders the run made for folder entries their time and mode.
    void SetFolderAttributes(TUnZipRun& run);
    // Gives the open file or folder the entry's time and, with
    // RetainAttributes, its mode: through the handle, never by name.
    void SetAttributes(platform::Handle file, const TZipHeaderInfo& entry) const;
    // Entry decoding into run's output.
    void Decode(TUnZipRun& run);
    // Reads up to n compressed bytes of the entry into buffer, going on in the
    // next part of a multi-part archive; raises at a premature end.
    size_t ReadCompressed(TUnZipRun& run, uint8_t* buffer, size_t n);
    // The next chunk of compressed bytes into the input buffer, decrypted;
    // 0 when the entry's compressed bytes are used up.
    size_t RefillInput(TUnZipRun& run);
    void CopyStored(TUnZipRun& run);
    // A small entry is read whole and inflated in one call; a larger one, or
    // one that does not inflate so, goes through the stream inflater, which tells
    // what is wrong.
    void InflateEntry(TUnZipRun& run);
    // The stream inflation of the chunks refill gives.
    void InflateStream(TUnZipRun& run, const std::function<size_t(const uint8_t*&)>& refill);
    // Hands n bytes of output to FlushOutput a chunk at a time, polling between.
    void FlushChunks(TUnZipRun& run, const uint8_t* data, size_t n);
    // Writes n bytes of the entry's output, checks its length, sums its CRC
    // and reports the progress.
    void FlushOutput(TUnZipRun& run, const uint8_t* data, size_t n);
    // The search for local headers and data descriptors.
    struct TSignatureSearch;
    bool RebuildDirectory();
    // The stages of RebuildDirectory, in order (see each for what it takes and gives).
    void ScanLocalHeaders();
    int64_t ReadTrailingDescriptor(TSignatureSearch& search, TZipHeaderInfo& h, int64_t data);
    void SetRebuiltEndRecord();
    const TSortedZip& View() const { return sorted_ ? *sorted_ : *entries_; }
    // Opens file for reading with the archive stream's settings.
    std::unique_ptr<TLFNFileStream> OpenStream(const std::string& file, unsigned share) const;

    bool checkDiskLabels_ = true;
    TMultiMode multiMode_ = TMultiMode::mmNone;
    std::string destDir_;
    std::string rootDir_;
    TAheadCounts aheadCounts_;
};

// Keeps a reader's archive file open while it lives, then gives KeepZipOpen
// back and closes the file unless it was kept open before. A run that reads
// the directory and then the entries opens the file once.
class TArchiveKeptOpen {
public:
    explicit TArchiveKeptOpen(TZipReader& reader) : reader_(reader), wasKept_(reader.KeepZipOpen)
    {
        reader.KeepZipOpen = true;
    }
    ~TArchiveKeptOpen()
    {
        reader_.KeepZipOpen = wasKept_;
        reader_.CloseZipFile();
    }
    TArchiveKeptOpen(const TArchiveKeptOpen&) = delete;
    TArchiveKeptOpen& operator=(const TArchiveKeptOpen&) = delete;

private:
    TZipReader& reader_;
    const bool wasKept_;
};
