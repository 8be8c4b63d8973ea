// The archive records: the signatures, TZipHeaderInfo (one entry, read from
// and written to local and central headers), TEndCentral (the end record with
// its Zip64 companions) and TSortedZip (the engine's entry lists), plus the
// enumerations the engine shares.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/HugeStream.h"
#include "engine/ObjLists.h"

// ---- Signatures -------------------------------------------------------------

inline constexpr uint32_t LocalFileHeaderSig = 0x04034B50;
inline constexpr uint32_t CentralFileHeaderSig = 0x02014B50;
inline constexpr uint32_t EndCentralDirSig = 0x06054B50;
inline constexpr uint32_t Zip64EndCentralDirSig = 0x06064B50;
inline constexpr uint32_t Zip64EndCentralLocatorSig = 0x07064B50;
inline constexpr uint32_t DataDescriptorSig = 0x08074B50;
// The fixed part of a central header, before the name.
inline constexpr int64_t CentralHeaderLen = 46;

// ---- Shared enumerations ------------------------------------------------------

enum class TZipSortMode {
    ByName, ByFileName, ByDirectoryName, ByDate,
    ByCompressedSize, ByUnCompressedSize, ByRate, ByNone
};
enum class TIncompleteZipMode { izAssumeMulti, izAssumeBad, izAssumeNotAZip };
// How stored names are converted (see TZipHeaderInfo).
enum class TOEMConvert { oemAlways, oemNever, oemFlexible };
enum class TMultiMode { mmNone, mmSpan, mmBlocks };
enum class TBlockMode { bmStandard, bmClassic };
enum class TUZOverwriteMode { Prompt, Always, Never, ifNewer, ifOlder };
enum class TZipAction { zaUpdate, zaReplace, zaFreshen };
enum class TUpdateAction { uaReplacing, uaKeeping };
enum class TSplitPartType { sptFirst, sptMiddle, sptLast };
enum class TSkipReason {
    skBadPassword = 0, skNoOverwrite = 1, skCreateError = 3, skExcluded = 4,
    skArchiveBitNotSet = 5, skNotInArchive = 6, skByHandler = 7,
    // A stored name no file can have (it holds a NUL byte).
    skBadName = 8,
    // A symbolic link whose target is absolute or leads out of the destination.
    skUnsafeLink = 9,
    // A file to add that cannot be opened for reading.
    skUnreadable = 10,
    // A file that changed while it was being added.
    skChanged = 11
};

// The little-endian 32-bit value at p, as every ZIP record stores numbers.
uint32_t Get32(const uint8_t* p);
uint16_t Get16(const uint8_t* p);
// The tag of the Zip64 extended-information block of extra fields.
inline constexpr uint16_t Zip64Tag = 1;
// The data of the first block of that tag in an extra field; none when
// there is none (or the field ends inside the block's head).
std::optional<std::string> ExtraBlock(const std::string& field, uint16_t tag);

// ---- Dates ----------------------------------------------------------------------

// Clamps the fields of a packed DOS date-time (date high, time low) into range:
// hours to 23, minutes and seconds to 59, months 1 to 12, days 1 to 31 (years
// are 1980 to 2107 whatever the field holds). A value whose fields are all in range is returned unchanged.
uint32_t FixDosDateTime(uint32_t dosDateTime);

// ---- TZipHeaderInfo -------------------------------------------------------------

// General purpose flag bits.
inline constexpr uint16_t gfEncrypted = 0x0001;
inline constexpr uint16_t gfDataDescriptor = 0x0008;
inline constexpr uint16_t gfUtf8Name = 0x0800;

// The values of a Zip64 extended-information extra block (tag 1).
struct TZip64Record {
    uint64_t UncompressedSize = 0;
    uint64_t CompressedSize = 0;
    uint64_t LocalHeaderOffset = 0;
    uint32_t DiskNumberStart = 0;
};

// A value held on the heap, or none, with the interface of std::optional: a
// field that few entries have costs the others a pointer, which keeps a large
// directory small. Copies copy the value.
template <class T>
class THeapValue {
public:
    THeapValue() = default;
    THeapValue(const THeapValue& other) : value_(other.value_ ? std::make_unique<T>(*other.value_) : nullptr) {}
    THeapValue(THeapValue&&) noexcept = default;
    THeapValue& operator=(const THeapValue& other) { return *this = THeapValue(other); }
    THeapValue& operator=(THeapValue&&) noexcept = default;
    THeapValue& operator=(T value)
    {
        value_ = std::make_unique<T>(std::move(value));
        return *this;
    }

    explicit operator bool() const { return value_ != nullptr; }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return value_.get(); }
    const T* operator->() const { return value_.get(); }
    T value_or(const T& fallback) const { return value_ ? *value_ : fallback; }
    void reset() { value_.reset(); }

private:
    std::unique_ptr<T> value_;
};

// Opens the next part of a multi-part archive and replaces the stream with it.
using TNextPartEvent = std::function<void(THugeStream*& stream)>;

// One archive entry. In memory names are UTF-8 with '/' between folders;
// Directory is empty or ends with '/'.
//
// Stored names are converted by OEMConvert. Reading under oemAlways and
// oemFlexible: a name flagged UTF-8 (flag bit 11) is taken as it is; a name
// from a local header, or from a central header made on MS-DOS (host byte 0),
// is code page 437 text; any other name is taken as it is when it is valid
// UTF-8 and as code page 437 otherwise. Writing: an ASCII name is written as
// it is, any other name as UTF-8 with bit 11 set (bytes that are not UTF-8 go
// out without it). oemNever keeps the bytes and bit 11 both ways. Either way
// the bytes written are Directory + FileName.
class TZipHeaderInfo {
public:
    TZipHeaderInfo() = default;
    explicit TZipHeaderInfo(TOEMConvert oemConvert, std::shared_ptr<const std::string> codePage = {})
        : OEMConvert(oemConvert), CodePage(std::move(codePage))
    {
    }
    TZipHeaderInfo(const TZipHeaderInfo&) = delete;

    // Back to the initial values (the conversion mode is kept).
    void Clear();
    // Copies the header fields, the names, the Zip64 values, the comment and
    // Selected; the conversion mode and the read position of the central
    // extra field (ExtraStart, ExtraReadLength, Zip64BlockSize) stay.
    void Assign(const TZipHeaderInfo& source);

    uint16_t VersionMadeBy = 45;
    uint16_t VersionNeeded = 20;
    uint16_t GeneralFlags = 0;
    uint16_t CompressionMethod = 8;
    uint32_t ModDateTime = 0;
    uint32_t Crc32 = 0xFFFFFFFF;
    // The modification time in seconds since 1970 (UTC), from an NTFS field
    // (0x000A), an extended timestamp (0x5455) or an Info-ZIP Unix field
    // (0x5855) of the central header, the first of these there is: exact
    // where ModDateTime is local time of an unknown zone.
    std::optional<int64_t> ModTimeUtc;
    uint16_t ExtraLength = 0;       // central extra field length
    uint16_t LocalExtraLength = 0;  // local extra field length
    uint16_t InternalAttributes = 1;
    // Where the central extra field was read from, so that its blocks can be
    // carried over when the header is written again.
    uint16_t ExtraReadLength = 0;
    uint32_t ExternalAttributes = 32;
    // Total size of the Zip64 block found in the central extra field, 0 if none.
    uint16_t Zip64BlockSize = 0;
    // Write ModTimeUtc into both headers (new entries; a carried-over entry
    // keeps the fields it has): as an extended timestamp, or as an NTFS field
    // when the time lies outside 1970 to 2106.
    bool WriteTimestamp = false;
    bool Selected = false;
    int64_t ExtraStart = 0;
    // Position of this entry's central header in the part it was read from.
    int64_t CentralHeaderOffset = 0;
    TOEMConvert OEMConvert = TOEMConvert::oemNever;
    // The extra field ModTimeUtc was read from; Dos when there is none.
    enum class TTimeField : uint8_t { Dos, Ntfs, ExtendedTimestamp, InfoZipUnix };
    TTimeField ModTimeField = TTimeField::Dos;
    // The code page of names without the UTF-8 flag from hosts that store
    // code-page names (an iconv name); none for code page 437. One string is
    // shared by all entries of a reading.
    std::shared_ptr<const std::string> CodePage;
    // Extra blocks of a new entry for both headers (the AES block, say).
    THeapValue<std::string> AddedExtra;
    // The values held for saturated header fields.
    THeapValue<TZip64Record> Zip64Record;
    // The central header as it stood in the archive read (fixed part, name,
    // extra field, comment), for an entry carried over into a rewritten
    // archive: written again byte for byte but for its local header offset
    // and part number.
    THeapValue<std::string> RawCentral;

    // Sizes, offset and part number. A value too large for its header field
    // goes into the Zip64Record and saturates the field; get returns the
    // Zip64Record's value for a saturated field.
    uint64_t CompressedSize() const;
    void SetCompressedSize(uint64_t value);
    uint64_t UncompressedSize() const;
    void SetUncompressedSize(uint64_t value);
    uint64_t LocalHeaderOffset() const;
    void SetLocalHeaderOffset(uint64_t value);
    uint32_t DiskNumberStart() const;
    void SetDiskNumberStart(uint32_t value);

    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& name) { fileName_ = name; }
    const std::string& Directory() const { return directory_; }
    // A non-empty folder gets a trailing '/'.
    void SetDirectory(const std::string& folder);
    // Bytes of the stored name: Directory + FileName as written.
    size_t NameLength() const { return directory_.size() + fileName_.size(); }

    // The entry comment when it is loaded, else null.
    const std::string* FileComment() const { return fileComment_ ? &*fileComment_ : nullptr; }
    // The comment as a user reads it: the UTF-8 text of an Info-ZIP Unicode
    // comment field (0x6375) whose checksum matches the stored comment, else
    // the stored comment. Loaded with it.
    std::string ShownComment() const { return unicodeComment_.value_or(fileComment_.value_or(std::string())); }
    void SetFileComment(std::optional<std::string> comment);
    // The loaded comment's length, or the length announced by the header read.
    size_t CommentLength() const { return fileComment_ ? fileComment_->size() : commentLength_; }
    // Loads the comment from the central header at CentralHeaderOffset of
    // archive; the position of archive is kept. False when it cannot be read.
    bool ReadFileComment(THugeStream& archive);

    bool HasComment() const { return CommentLength() != 0; }
    bool Encrypted() const { return GeneralFlags & gfEncrypted; }
    bool HasDataDescriptor() const { return GeneralFlags & gfDataDescriptor; }
    int64_t LocalHeaderSize() const { return 30 + int64_t(NameLength()) + LocalExtraLength; }
    // The length WriteLocalHeader gives the header now: with its Zip64 and
    // timestamp blocks.
    int64_t WrittenLocalHeaderSize() const;
    int64_t CentralHeaderSize() const
    {
        return 46 + int64_t(NameLength()) + ExtraLength + int64_t(CommentLength());
    }

    // Data bytes of the Zip64 block the central (or local) header needs, 0
    // when it needs none. A local block also holds the compressed size
    // whenever the uncompressed size is saturated.
    uint16_t Zip64DataSize(bool central) const;

    // Reads the central header at the stream's position. A header cut short
    // at the end of a part is completed from the next part through nextPart,
    // which replaces stream. On success the stream stands after the name;
    // otherwise it (the new part after a change) is set to the position the
    // read began at, and the record is unchanged.
    bool ReadCentralHeader(THugeStream*& stream, const TNextPartEvent& nextPart = nullptr);
    // Reads the local header at the stream's position. On success the stream
    // stands at the local extra field; otherwise it is put back and the record
    // is unchanged.
    bool ReadLocalHeader(THugeStream& stream);

    // Writes the local header (with a Zip64 block when needed) at the output's
    // position, which becomes LocalHeaderOffset. The LocalExtraLength bytes of
    // local extra field announced after the Zip64 block are the caller's.
    void WriteLocalHeader(THugeStream& out);
    // Writes the central header: RawCentral with the current offset and part
    // number when it has one and they fit its fields; otherwise the fields,
    // the extra field (the blocks of the old central extra field, from
    // RawCentral or read from archive, without the old Zip64 block, then a
    // new Zip64 block when needed) and the comment. archive is the stream the
    // entry was read from; it is needed only for carried-over extra blocks
    // and for a comment not loaded yet. Raises EReadError when those cannot be read and
    // EWriteError when a name or comment is too long for its length field.
    void WriteCentralHeader(THugeStream& out, THugeStream* archive);

private:
    TZipHeaderInfo& operator=(const TZipHeaderInfo&) = default;

    TZip64Record& EnsureZip64();
    // Puts the current offset and part number into RawCentral; false when a
    // value does not fit the field the header has for it.
    bool PatchRawCentral();
    // Splits a stored name (separators already '/') after its last '/'.
    void SetStoredName(const std::string& name);
    // The name in memory for name bytes read from a header whose flags are
    // already stored; host is the host byte of a central header, -1 for a
    // local header (which has none).
    std::string NameFromHeader(std::string raw, int host) const;
    // The name of an Info-ZIP Unicode path field (0x7075) in extra whose
    // checksum matches the raw name it stands for; empty when there is none.
    std::string UnicodePathName(const std::string& extra, const std::string& raw, int host) const;
    // The name bytes to write; sets or clears flag bit 11 as the mode asks.
    std::string NameForHeader();
    // Takes the values of the first Zip64 block of an extra field into the
    // Zip64Record; returns that block's total size, 0 when there is none.
    uint16_t ReadZip64Block(const std::string& field, bool central);
    // ModTimeUtc from the timestamp fields of an extra field.
    void ReadTimestamps(const std::string& field);
    std::string Zip64Block(bool central) const;
    // The blocks a new entry writes into both headers: the extended
    // timestamp or NTFS field (when WriteTimestamp), then AddedExtra.
    std::string NewBlocks() const;

    uint32_t compressedSize_ = 0;
    uint32_t uncompressedSize_ = 0;
    uint32_t localHeaderOffset_ = 0;
    uint16_t diskNumberStart_ = 0;
    std::string fileName_;
    std::string directory_;
    THeapValue<std::string> fileComment_;
    THeapValue<std::string> unicodeComment_;
    uint16_t commentLength_ = 0;  // as read from a central header
};

// ---- TEndCentral ----------------------------------------------------------------

// The Zip64 end of central directory record (56 bytes on disk).
struct TZip64EndRecord {
    uint32_t ThisDisk = 0;
    uint32_t CentralDirDisk = 0;
    uint64_t EntriesThisDisk = 0;
    uint64_t TotalEntries = 0;
    uint64_t CentralDirSize = 0;
    uint64_t CentralDirOffset = 0;
};

// The Zip64 end of central directory locator (20 bytes on disk).
struct TZip64Locator {
    uint32_t Zip64Disk = 0;    // part holding the Zip64 end record
    uint64_t Zip64Offset = 0;  // its offset in that part
    uint32_t TotalDisks = 0;
};

// The end of central directory record of an archive.
class TEndCentral {
public:
    static constexpr int64_t EndRecordSize = 22;

    TEndCentral() = default;
    TEndCentral(const TEndCentral&) = delete;

    // Back to the initial values.
    void Clear() { *this = TEndCentral(); }
    // Copies everything but Modified.
    void Assign(const TEndCentral& source);

    // The numbers; a value too large for its 16- or 32-bit field goes into
    // the Zip64EndRecord and saturates the field.
    uint32_t ThisDisk() const;
    void SetThisDisk(uint32_t value);
    uint32_t CentralDirDisk() const;
    void SetCentralDirDisk(uint32_t value);
    uint64_t EntriesThisDisk() const;
    void SetEntriesThisDisk(uint64_t value);
    uint64_t TotalEntries() const;
    void SetTotalEntries(uint64_t value);
    uint64_t CentralDirSize() const;
    void SetCentralDirSize(uint64_t value);
    uint64_t CentralDirOffset() const;
    void SetCentralDirOffset(uint64_t value);

    // The archive comment when it is loaded.
    const std::optional<std::string>& CommentText() const { return commentText_; }
    void SetCommentText(const std::string& text) { commentText_ = text; }
    // The loaded comment's length, or the length announced by the record read.
    size_t CommentLength() const { return commentText_ ? commentText_->size() : commentLength_; }
    bool HasComment() const { return CommentLength() != 0; }
    int64_t EndRecordLength() const { return EndRecordSize + int64_t(CommentLength()); }
    // The locator's total number of parts, 0 without a locator.
    uint32_t TotalParts() const { return Zip64Locator ? Zip64Locator->TotalDisks : 0; }

    // File position of the archive comment.
    int64_t CommentPosition = 0;
    // File position of the last end record in the file when it is not the
    // one read (the one read holds it in its comment); -1 otherwise. Other
    // tools take the last one.
    int64_t LastRecordPosition = -1;
    // Where the end records read begin: the Zip64 end record when there is
    // one, else the end record; the central directory ends right before.
    int64_t RecordsPosition() const;
    // The archive comment or an entry comment was changed after reading.
    bool Modified = false;
    std::optional<TZip64EndRecord> Zip64EndRecord;
    std::optional<TZip64Locator> Zip64Locator;

    // Finds the end record within the final 65 557 bytes of the stream (the
    // first whose comment ends where the stream ends, else the last one) and
    // reads it with its Zip64 records; the comment is not loaded. True for
    // an empty stream (an archive without entries). False, with the record
    // cleared, when there is no end record, or when a Zip64 locator points at
    // no Zip64 end record while the end record needs one.
    bool ReadEndRecord(THugeStream& s);
    // Writes the Zip64 end record and locator when a value does not fit the
    // end record, then the end record and the loaded comment. Raises
    // EWriteError when the comment is longer than 65 535 bytes.
    void WriteEndRecord(THugeStream& out);

private:
    TEndCentral& operator=(const TEndCentral&) = default;

    TZip64EndRecord& EnsureZip64();
    // Some field holds a saturated value.
    bool NeedsZip64() const;

    uint16_t thisDisk_ = 0;
    uint16_t centralDirDisk_ = 0;
    uint16_t entriesThisDisk_ = 0;
    uint16_t totalEntries_ = 0;
    uint32_t centralDirSize_ = 0;
    uint32_t centralDirOffset_ = 0;
    std::optional<std::string> commentText_;
    uint16_t commentLength_ = 0;  // as read from the end record
};

// ---- TSortedZip -----------------------------------------------------------------

// A list of entries in SortMode order. ByNone orders by part number, then by
// local header offset; the other modes are described at Compare.
class TSortedZip : public TSortedObjectList<TZipHeaderInfo> {
public:
    explicit TSortedZip(TDuplicateRule rule, bool ownsItems = true, TZipSortMode mode = TZipSortMode::ByNone)
        : TSortedObjectList<TZipHeaderInfo>(rule, ownsItems), SortMode(mode)
    {
    }

    // Sorted insert and unsorted append; both note whether any entry has
    // Zip64 values.
    int Add(TZipHeaderInfo* item) override;
    void Append(TZipHeaderInfo* item) override;

    TZipSortMode SortMode;
    bool HasZip64 = false;

protected:
    // ByName, ByFileName, ByDirectoryName: ascending, ASCII letters folded.
    // ByDate, ByCompressedSize, ByUnCompressedSize: newest or largest first,
    // never equal. ByRate: least compressed first (rate = compressed share of
    // the uncompressed size in percent, at most 100, 0 for an empty entry).
    int Compare(const TZipHeaderInfo* item, const TZipHeaderInfo* key) const override;
};
