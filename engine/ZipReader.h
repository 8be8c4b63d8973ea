// TZipReader: opens an archive (also one split into parts), reads its central
// directory into an entry list, rebuilds a damaged directory from the local
// headers, and answers questions about the entries.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "engine/BufferStream.h"
#include "engine/ZipObj.h"
#include "platform/Files.h"

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

class TZipReader {
public:
    static constexpr int ThisVersion = 100;
    static constexpr int ThisBuild = 1;
    // Message id of the question for the next disk of a spanned archive.
    static constexpr int MsgInsertDisk = 184;

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

    int EntryCount() const;
    // Entry index of the view (SortMode order); a bad index raises EListError
    // "Index <n> is out of range".
    std::string EntryName(int index) const;
    // Every header value of entry index.
    const TZipHeaderInfo& EntryInfo(int index) const;
    std::string EntryFolder(int index) const;
    // The entry's time; the current time when the stored value is no date.
    std::time_t EntryDateTime(int index) const;
    uint64_t EntrySize(int index) const;
    // Comments are read from the archive when first asked for.
    std::string EntryComment(int index);
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

    int CurrentPart() const { return currentPart_; }
    int PartCount() const { return partCount_; }
    bool Rebuilt() const { return rebuilt_; }
    const TEndCentral& EndCentral() const { return endCentral_; }

    // Settings, with their defaults.
    TZipSortMode SortMode = TZipSortMode::ByNone;
    TIncompleteZipMode IncompleteZipMode = TIncompleteZipMode::izAssumeMulti;
    bool KeepZipOpen = false;
    bool DoProcessMessages = true;
    TOEMConvert OEMConvert = TOEMConvert::oemAlways;
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
    // Closes the archive file unless KeepZipOpen.
    void CloseZipFile();
    // Makes part n (1-based) the open archive stream and returns it.
    THugeStream* OpenPart(int n);
    // The name of split part n by BlockMode, with the names other tools give
    // their parts as a fallback.
    std::string SplitPartName(int n, TSplitPartType type);
    bool CheckDiskLabel(int n) const;
    // Lets window messages through and raises EUserCanceled when a cancel was
    // asked for; does nothing unless DoProcessMessages.
    void Poll();

    std::unique_ptr<TLFNFileStream> archive_;
    std::unique_ptr<TSortedZip> entries_;  // owns the entries, ByNone order
    std::unique_ptr<TSortedZip> sorted_;   // the view when SortMode is not ByNone
    TEndCentral endCentral_;
    int currentPart_ = 0;
    int partCount_ = 1;
    bool rebuilt_ = false;
    bool cancel_ = false;
    bool working_ = false;
    bool reading_ = false;  // a directory read or an extraction is under way

private:
    void ReadDirectory();
    bool RebuildDirectory();
    // Drops the entry lists.
    void FreeEntries();
    const TSortedZip& View() const { return sorted_ ? *sorted_ : *entries_; }
    TZipHeaderInfo& Entry(int index) const;
    // Opens file for reading with the archive stream's settings.
    std::unique_ptr<TLFNFileStream> OpenStream(const std::string& file, unsigned share) const;

    std::string zipName_;
    std::string baseName_;
    std::string lastPartName_;  // the name ZipName was given: the last part
    bool checkDiskLabels_ = true;
    TMultiMode multiMode_ = TMultiMode::mmNone;
    platform::FileStamp stamp_;  // of the archive file when its directory was read
};
