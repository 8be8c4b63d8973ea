#include "engine/ZipObj.h"

#include "engine/Crc32.h"
#include "engine/ZipAes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"

uint32_t Get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t Get16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

namespace {

constexpr uint16_t UnicodePathTag = 0x7075;
constexpr uint16_t UnicodeCommentTag = 0x6375;
constexpr uint16_t ExtendedTimestampTag = 0x5455;
constexpr uint16_t InfoZipUnixTag = 0x5855;
constexpr uint16_t NtfsTag = 0x000A;
// NTFS times count 100 ns from 1601-01-01 UTC; 1970 is this many seconds later.
constexpr int64_t NtfsTicksPerSecond = 10'000'000;
constexpr int64_t NtfsEpochTo1970 = 11'644'473'600;
constexpr int64_t LocalHeaderLen = 30;
constexpr int64_t Zip64EndRecordLen = 56;
constexpr int64_t Zip64LocatorLen = 20;
constexpr uint16_t VersionZip64 = 45;
constexpr uint16_t VersionAes = 51;  // AES-encrypted entries
constexpr uint16_t VersionDefault = 20;
const char* const ReadErrorText = "Stream read error";

uint64_t Get64(const uint8_t* p)
{
    return Get32(p) | uint64_t(Get32(p + 4)) << 32;
}

// A record assembled in memory, little-endian, and written in one go.
class RecordBuilder {
public:
    RecordBuilder& U8(uint8_t v) { return Put(v, 1); }
    RecordBuilder& U16(uint16_t v) { return Put(v, 2); }
    RecordBuilder& U32(uint32_t v) { return Put(v, 4); }
    RecordBuilder& U64(uint64_t v) { return Put(v, 8); }
    RecordBuilder& Bytes(const std::string& s)
    {
        bytes_ += s;
        return *this;
    }
    void WriteTo(THugeStream& out) const { out.WriteBuffer(bytes_.data(), int64_t(bytes_.size())); }
    const std::string& Data() const { return bytes_; }

private:
    RecordBuilder& Put(uint64_t v, int width)
    {
        for (int i = 0; i < width; ++i)
            bytes_ += char(uint8_t(v >> (8 * i)));
        return *this;
    }

    std::string bytes_;
};

// The value of a 16-bit length field; a longer text cannot be stored.
uint16_t LengthField(size_t length, const char* what)
{
    if (length > 0xFFFF)
        throw EWriteError(std::string(what) + " too long for a ZIP record");
    return uint16_t(length);
}

// Up to count bytes from the stream's position; fewer when the stream ends.
std::string ReadUpTo(THugeStream& s, size_t count)
{
    std::string bytes(count, '\0');
    bytes.resize(size_t(std::max<int64_t>(0, s.Read(bytes.data(), int64_t(count)))));
    return bytes;
}

// Calls visit(tag, block, dataSize) for each block of an extra field in turn
// (block points at the 4-byte block head) while visit returns true. A block
// whose head or data would run past the end of the field ends the walk.
template <class Visit>
void WalkExtraField(const std::string& field, Visit visit)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(field.data());
    size_t i = 0;
    while (field.size() - i >= 4) {
        const uint16_t tag = Get16(bytes + i);
        const size_t size = Get16(bytes + i + 2);
        if (size > field.size() - i - 4 || !visit(tag, bytes + i, size))
            return;
        i += 4 + size;
    }
}

}  // namespace

std::optional<std::string> ExtraBlock(const std::string& field, uint16_t tag)
{
    std::optional<std::string> data;
    WalkExtraField(field, [&](uint16_t t, const uint8_t* block, size_t size) {
        if (t == tag)
            data.emplace(reinterpret_cast<const char*>(block) + 4, size);
        return !data;
    });
    return data;
}

namespace {

// The text of an Info-ZIP Unicode field of extra (path 0x7075 or comment
// 0x6375) that stands for raw: version 1, the CRC-32 of raw, then UTF-8.
// Empty when there is none, its checksum differs or it is no UTF-8.
std::string UnicodeText(const std::string& extra, uint16_t wanted, const std::string& raw)
{
    std::string text;
    WalkExtraField(extra, [&](uint16_t tag, const uint8_t* block, size_t size) {
        if (tag != wanted)
            return true;
        const uint8_t* data = block + 4;
        if (size > 5 && data[0] == 1 &&
            Get32(data + 1) == (Crc32Update(0xFFFFFFFF, raw.data(), raw.size()) ^ 0xFFFFFFFF)) {
            std::string candidate(reinterpret_cast<const char*>(data + 5), size - 5);
            if (platform::IsValidUtf8(candidate))
                text = std::move(candidate);
        }
        return false;
    });
    return text;
}

// A backslash separates folders in names from MS-DOS, NTFS and VFAT hosts
// (and in local headers, which name no host: host -1); elsewhere, as on Unix,
// it is part of the name.
void BackslashesToSlashes(std::string& name, int host)
{
    if (host < 0 || host == 0 || host == 11 || host == 14)
        std::replace(name.begin(), name.end(), '\\', '/');
}

// Takes the next field of a Zip64 block when it fits in the block's data.
template <class T>
bool TakeField(const uint8_t* data, size_t size, size_t& pos, T& v)
{
    if (size - pos < sizeof(T))
        return false;
    v = T(sizeof(T) == 8 ? Get64(data + pos) : Get32(data + pos));
    pos += sizeof(T);
    return true;
}

// A header field whose saturated value (all ones) stands for a wider value
// held in a Zip64 record.
template <class Field>
constexpr bool IsSaturated(Field f)
{
    return f == std::numeric_limits<Field>::max();
}

template <class Field, class Wide>
Wide WideValue(Field field, const Wide* zip64Value)
{
    return IsSaturated(field) && zip64Value ? *zip64Value : field;
}

// Stores value in the field, or, when it does not fit below the saturated
// value, in the Zip64 record that zip64Value() yields.
template <class Field, class Wide, class Zip64Value>
void SetWideValue(Field& field, Wide value, Zip64Value zip64Value)
{
    if (value >= std::numeric_limits<Field>::max()) {
        zip64Value() = value;
        field = std::numeric_limits<Field>::max();
    } else {
        field = Field(value);
    }
}

int CompareNoCase(const std::string& a, const std::string& b)
{
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? uint8_t(c - 'A' + 'a') : uint8_t(c); };
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (fold(a[i]) != fold(b[i]))
            return fold(a[i]) < fold(b[i]) ? -1 : 1;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

std::time_t DateOf(const TZipHeaderInfo& e)
{
    std::time_t t;
    return platform::DosDateTimeToDateTime(e.ModDateTime, t) ? t : 0;
}

// The compressed size in percent of the uncompressed size (ties to even), at
// most 100; 0 for an empty entry.
int RateOf(const TZipHeaderInfo& e)
{
    const uint64_t u = e.UncompressedSize();
    if (u == 0)
        return 0;
    return int(std::min(100.0, std::nearbyint(100.0 * double(e.CompressedSize()) / double(u))));
}

}  // namespace

// ---- Dates ----------------------------------------------------------------------

uint32_t FixDosDateTime(uint32_t dosDateTime)
{
    const uint32_t time = dosDateTime & 0xFFFF;
    const uint32_t date = dosDateTime >> 16;
    bool changed = false;
    auto clamp = [&changed](uint32_t v, uint32_t lo, uint32_t hi) {
        const uint32_t c = std::clamp(v, lo, hi);
        changed |= c != v;
        return c;
    };
    const uint32_t seconds = clamp((time & 0x1F) * 2, 0, 59);
    const uint32_t minutes = clamp((time >> 5) & 0x3F, 0, 59);
    const uint32_t hours = clamp(time >> 11, 0, 23);
    const uint32_t day = clamp(date & 0x1F, 1, 31);
    const uint32_t month = clamp((date >> 5) & 0x0F, 1, 12);
    const uint32_t year = 1980 + (date >> 9);  // 1980 to 2107, all the field can hold
    if (!changed)
        return dosDateTime;
    return ((year - 1980) << 25 | month << 21 | day << 16) | (hours << 11 | minutes << 5 | seconds / 2);
}

// ---- TZipHeaderInfo -------------------------------------------------------------

void TZipHeaderInfo::Clear()
{
    *this = TZipHeaderInfo(OEMConvert, CodePage);
}

void TZipHeaderInfo::Assign(const TZipHeaderInfo& source)
{
    const TOEMConvert mode = OEMConvert;
    std::shared_ptr<const std::string> codePage = CodePage;
    const int64_t extraStart = ExtraStart;
    const uint16_t extraReadLength = ExtraReadLength;
    const uint16_t zip64BlockSize = Zip64BlockSize;
    *this = source;
    OEMConvert = mode;
    CodePage = std::move(codePage);
    ExtraStart = extraStart;
    ExtraReadLength = extraReadLength;
    Zip64BlockSize = zip64BlockSize;
}

TZip64Record& TZipHeaderInfo::EnsureZip64()
{
    if (!Zip64Record)
        Zip64Record = TZip64Record{uncompressedSize_, compressedSize_, localHeaderOffset_, diskNumberStart_};
    return *Zip64Record;
}

uint64_t TZipHeaderInfo::CompressedSize() const
{
    return WideValue(compressedSize_, Zip64Record ? &Zip64Record->CompressedSize : nullptr);
}

void TZipHeaderInfo::SetCompressedSize(uint64_t value)
{
    SetWideValue(compressedSize_, value, [this]() -> uint64_t& { return EnsureZip64().CompressedSize; });
}

uint64_t TZipHeaderInfo::UncompressedSize() const
{
    return WideValue(uncompressedSize_, Zip64Record ? &Zip64Record->UncompressedSize : nullptr);
}

void TZipHeaderInfo::SetUncompressedSize(uint64_t value)
{
    SetWideValue(uncompressedSize_, value, [this]() -> uint64_t& { return EnsureZip64().UncompressedSize; });
}

uint64_t TZipHeaderInfo::LocalHeaderOffset() const
{
    return WideValue(localHeaderOffset_, Zip64Record ? &Zip64Record->LocalHeaderOffset : nullptr);
}

void TZipHeaderInfo::SetLocalHeaderOffset(uint64_t value)
{
    SetWideValue(localHeaderOffset_, value, [this]() -> uint64_t& { return EnsureZip64().LocalHeaderOffset; });
}

uint32_t TZipHeaderInfo::DiskNumberStart() const
{
    return WideValue(diskNumberStart_, Zip64Record ? &Zip64Record->DiskNumberStart : nullptr);
}

void TZipHeaderInfo::SetDiskNumberStart(uint32_t value)
{
    SetWideValue(diskNumberStart_, value, [this]() -> uint32_t& { return EnsureZip64().DiskNumberStart; });
}

void TZipHeaderInfo::SetDirectory(const std::string& folder)
{
    directory_ = folder;
    if (!directory_.empty() && directory_.back() != '/')
        directory_ += '/';
}

void TZipHeaderInfo::SetFileComment(std::optional<std::string> comment)
{
    unicodeComment_.reset();
    if (comment) {
        fileComment_ = std::move(*comment);
    } else {
        fileComment_.reset();
        commentLength_ = 0;
    }
}

bool TZipHeaderInfo::ReadFileComment(THugeStream& archive)
{
    const int64_t p = archive.Position();
    uint8_t h[CentralHeaderLen];
    bool loaded = false;
    archive.SetPosition(CentralHeaderOffset);
    if (archive.Read(h, CentralHeaderLen) == CentralHeaderLen && Get32(h) == CentralFileHeaderSig) {
        archive.Seek(Get16(h + 28), THugeStream::soCurrent);
        const std::string extra = ReadUpTo(archive, Get16(h + 30));
        std::string comment = ReadUpTo(archive, Get16(h + 32));
        if (extra.size() == Get16(h + 30) && comment.size() == Get16(h + 32)) {
            unicodeComment_.reset();
            if (std::string unicode = UnicodeText(extra, UnicodeCommentTag, comment); !unicode.empty())
                unicodeComment_ = std::move(unicode);
            fileComment_ = std::move(comment);
            loaded = true;
        }
    }
    archive.SetPosition(p);
    return loaded;
}

uint16_t TZipHeaderInfo::Zip64DataSize(bool central) const
{
    const bool uncompressed = IsSaturated(uncompressedSize_);
    uint16_t size = uncompressed ? 8 : 0;
    if (IsSaturated(compressedSize_) || (!central && uncompressed))
        size += 8;
    if (IsSaturated(localHeaderOffset_))
        size += 8;
    if (IsSaturated(diskNumberStart_))
        size += 4;
    return size;
}

std::string TZipHeaderInfo::Zip64Block(bool central) const
{
    const bool uncompressed = IsSaturated(uncompressedSize_);
    RecordBuilder block;
    block.U16(Zip64Tag).U16(Zip64DataSize(central));
    if (uncompressed)
        block.U64(UncompressedSize());
    if (IsSaturated(compressedSize_))
        block.U64(CompressedSize());
    else if (!central && uncompressed)
        block.U64(compressedSize_);
    if (IsSaturated(localHeaderOffset_))
        block.U64(LocalHeaderOffset());
    if (IsSaturated(diskNumberStart_))
        block.U32(DiskNumberStart());
    return block.Data();
}

uint16_t TZipHeaderInfo::ReadZip64Block(const std::string& field, bool central)
{
    uint16_t blockSize = 0;
    WalkExtraField(field, [&](uint16_t tag, const uint8_t* block, size_t size) {
        if (tag != Zip64Tag)
            return true;
        // Only the first Zip64 block counts: a rewritten local header has its
        // new block ahead of the extra field carried over from the old one.
        blockSize = uint16_t(4 + size);
        // The block holds, in this order, the values of the saturated fields;
        // a local block always holds the compressed size after a saturated
        // uncompressed size. Offset and part number belong to central blocks.
        const bool uncompressed = IsSaturated(uncompressedSize_);
        const bool compressed = IsSaturated(compressedSize_) || (!central && uncompressed);
        const bool offset = central && IsSaturated(localHeaderOffset_);
        const bool disk = central && IsSaturated(diskNumberStart_);
        if (!(uncompressed || compressed || offset || disk))
            return false;
        TZip64Record& z = EnsureZip64();
        const uint8_t* data = block + 4;
        size_t pos = 0;
        if (uncompressed && !TakeField(data, size, pos, z.UncompressedSize))
            return false;
        if (compressed && !TakeField(data, size, pos, z.CompressedSize))
            return false;
        if (offset && !TakeField(data, size, pos, z.LocalHeaderOffset))
            return false;
        if (disk)
            TakeField(data, size, pos, z.DiskNumberStart);
        return false;
    });
    return blockSize;
}

void TZipHeaderInfo::SetStoredName(const std::string& name)
{
    const size_t cut = name.rfind('/');
    if (cut == std::string::npos) {
        directory_.clear();
        fileName_ = name;
    } else {
        directory_ = name.substr(0, cut + 1);
        fileName_ = name.substr(cut + 1);
    }
}

std::string TZipHeaderInfo::NameFromHeader(std::string raw, int host) const
{
    // A name is decoded before it is split into folders: in a double-byte
    // code page a 0x5C byte may be the second half of a character (CP932's
    // 83 5C is one letter); only a decoded backslash separates. A Unix name
    // is bytes: kept as they are, whatever they read as.
    if (OEMConvert != TOEMConvert::oemNever && host != 3 &&
        !(((GeneralFlags & gfUtf8Name) || host > 0) && platform::IsValidUtf8(raw)))
        raw = platform::CodePageToUtf8(raw, CodePage ? *CodePage : std::string());
    BackslashesToSlashes(raw, host);
    return raw;
}

namespace {

// The modification time of an NTFS field's data (4 reserved bytes, then
// attributes of tag, size and data; attribute 1 holds the modification,
// access and creation times), in seconds since 1970. None when the field
// has no such time or the time is 0 (unset) or past what the format covers.
std::optional<int64_t> NtfsModTime(const uint8_t* data, size_t size)
{
    for (size_t pos = 4; pos + 4 <= size;) {
        const uint16_t tag = Get16(data + pos), length = Get16(data + pos + 2);
        pos += 4;
        if (length > size - pos)
            break;
        if (tag == 1 && length >= 24) {
            const uint64_t ticks = Get64(data + pos);
            if (ticks == 0 || ticks > uint64_t(std::numeric_limits<int64_t>::max()))
                return std::nullopt;
            return int64_t(ticks / NtfsTicksPerSecond) - NtfsEpochTo1970;
        }
        pos += length;
    }
    return std::nullopt;
}

}  // namespace

void TZipHeaderInfo::ReadTimestamps(const std::string& field)
{
    // The Unix fields hold 32-bit seconds, signed by the format; tools write
    // the times after January 2038 wrapped, which the DOS time (up to 2107) tells.
    const bool after2038 = 1980 + (ModDateTime >> 25) >= 2038;
    const auto seconds = [after2038](const uint8_t* p) {
        return after2038 ? int64_t(Get32(p)) : int64_t(int32_t(Get32(p)));
    };
    std::optional<int64_t> extended, infoZip, ntfs;
    WalkExtraField(field, [&](uint16_t tag, const uint8_t* block, size_t size) {
        const uint8_t* data = block + 4;
        // Extended timestamp: flags, then the modification time when flag bit 0 says so.
        if (tag == ExtendedTimestampTag && size >= 5 && (data[0] & 1) && !extended)
            extended = seconds(data + 1);
        // Info-ZIP's older Unix field: access time, then modification time.
        else if (tag == InfoZipUnixTag && size >= 8 && !infoZip)
            infoZip = seconds(data + 4);
        else if (tag == NtfsTag && !ntfs)
            ntfs = NtfsModTime(data, size);
        return true;
    });
    // The NTFS time needs no guess about wrapped values and covers any year:
    // it wins over the 32-bit fields.
    ModTimeUtc = ntfs ? ntfs : extended ? extended : infoZip;
    ModTimeField = ntfs       ? TTimeField::Ntfs
                   : extended ? TTimeField::ExtendedTimestamp
                   : infoZip  ? TTimeField::InfoZipUnix
                              : TTimeField::Dos;
}

std::string TZipHeaderInfo::UnicodePathName(const std::string& extra, const std::string& raw, int host) const
{
    if (OEMConvert == TOEMConvert::oemNever)
        return {};
    std::string name = UnicodeText(extra, UnicodePathTag, raw);
    BackslashesToSlashes(name, host);
    return name;
}

std::string TZipHeaderInfo::NameForHeader()
{
    std::string name = directory_ + fileName_;
    if (OEMConvert != TOEMConvert::oemNever && !platform::IsAscii(name)) {
        if (platform::IsValidUtf8(name))
            GeneralFlags |= gfUtf8Name;
        else
            GeneralFlags &= uint16_t(~gfUtf8Name);
    }
    return name;
}

bool TZipHeaderInfo::ReadCentralHeader(THugeStream*& stream, const TNextPartEvent& nextPart)
{
    static const uint8_t signature[4] = {0x50, 0x4B, 0x01, 0x02};
    const int64_t p = stream->Position();
    uint8_t h[CentralHeaderLen] = {};
    int64_t n = std::max<int64_t>(0, stream->Read(h, CentralHeaderLen));
    // A header cut short at the end of a part goes on in the next part.
    if (n < CentralHeaderLen && nextPart && std::memcmp(h, signature, size_t(std::min<int64_t>(n, 4))) == 0) {
        nextPart(stream);
        n += std::max<int64_t>(0, stream->Read(h + n, CentralHeaderLen - n));
    }
    if (n != CentralHeaderLen || Get32(h) != CentralFileHeaderSig) {
        stream->SetPosition(p);
        return false;
    }
    const std::string raw = ReadUpTo(*stream, Get16(h + 28));
    if (raw.size() != Get16(h + 28)) {
        stream->SetPosition(p);
        return false;
    }

    Clear();
    VersionMadeBy = Get16(h + 4);
    VersionNeeded = Get16(h + 6);
    GeneralFlags = Get16(h + 8);
    CompressionMethod = Get16(h + 10);
    ModDateTime = FixDosDateTime(Get32(h + 12));
    Crc32 = Get32(h + 16);
    compressedSize_ = Get32(h + 20);
    uncompressedSize_ = Get32(h + 24);
    ExtraLength = Get16(h + 30);
    commentLength_ = Get16(h + 32);
    diskNumberStart_ = Get16(h + 34);
    InternalAttributes = Get16(h + 36);
    ExternalAttributes = Get32(h + 38);
    localHeaderOffset_ = Get32(h + 42);
    SetStoredName(NameFromHeader(raw, VersionMadeBy >> 8));
    CentralHeaderOffset = p;
    if (ExtraLength != 0) {
        ExtraStart = stream->Position();
        ExtraReadLength = ExtraLength;
        const std::string extra = ReadUpTo(*stream, ExtraLength);
        Zip64BlockSize = ReadZip64Block(extra, true);
        ReadTimestamps(extra);
        if (const std::string unicode = UnicodePathName(extra, raw, VersionMadeBy >> 8); !unicode.empty())
            SetStoredName(unicode);
        stream->SetPosition(ExtraStart);
    }
    return true;
}

bool TZipHeaderInfo::ReadLocalHeader(THugeStream& stream)
{
    const int64_t p = stream.Position();
    uint8_t h[LocalHeaderLen];
    if (stream.Read(h, LocalHeaderLen) != LocalHeaderLen || Get32(h) != LocalFileHeaderSig) {
        stream.SetPosition(p);
        return false;
    }
    const std::string raw = ReadUpTo(stream, Get16(h + 26));
    if (raw.size() != Get16(h + 26)) {
        stream.SetPosition(p);
        return false;
    }

    Clear();
    VersionMadeBy = 0;
    VersionNeeded = Get16(h + 4);
    GeneralFlags = Get16(h + 6);
    CompressionMethod = Get16(h + 8);
    ModDateTime = FixDosDateTime(Get32(h + 10));
    Crc32 = Get32(h + 14);
    compressedSize_ = Get32(h + 18);
    uncompressedSize_ = Get32(h + 22);
    LocalExtraLength = Get16(h + 28);
    InternalAttributes = 0;
    ExternalAttributes = 0;
    SetLocalHeaderOffset(uint64_t(p));
    SetStoredName(NameFromHeader(raw, -1));
    // Other blocks may come before the Zip64 block, so the whole local extra
    // field is walked.
    if (LocalExtraLength != 0) {
        const int64_t q = stream.Position();
        const std::string extra = ReadUpTo(stream, LocalExtraLength);
        ReadZip64Block(extra, false);
        if (const std::string unicode = UnicodePathName(extra, raw, -1); !unicode.empty())
            SetStoredName(unicode);
        stream.SetPosition(q);
    }
    return true;
}

std::string TZipHeaderInfo::NewBlocks() const
{
    RecordBuilder r;
    if (WriteTimestamp && ModTimeUtc) {
        const int64_t t = *ModTimeUtc;
        if (t >= 0 && t <= int64_t(std::numeric_limits<uint32_t>::max())) {
            // Flags: the modification time only; 32 bits, wrapped after 2038
            // as other tools do (readers tell those times by the DOS date).
            r.U16(ExtendedTimestampTag).U16(5).U8(1).U32(uint32_t(t));
        } else if (t >= -NtfsEpochTo1970 &&
                   t <= std::numeric_limits<int64_t>::max() / NtfsTicksPerSecond - NtfsEpochTo1970) {
            // A time those 32 bits cannot hold (before 1970, after 2106) goes
            // into an NTFS field: the modification time, no access or
            // creation time (0: not recorded).
            r.U16(NtfsTag).U16(32).U32(0).U16(1).U16(24);
            r.U64(uint64_t(t + NtfsEpochTo1970) * NtfsTicksPerSecond).U64(0).U64(0);
        }
    }
    return r.Data() + AddedExtra.value_or({});
}

int64_t TZipHeaderInfo::WrittenLocalHeaderSize() const
{
    const uint16_t z = Zip64DataSize(false);
    return LocalHeaderSize() + int64_t(NewBlocks().size()) + (z > 0 ? 4 + z : 0);
}

void TZipHeaderInfo::WriteLocalHeader(THugeStream& out)
{
    SetLocalHeaderOffset(uint64_t(out.Position()));
    const std::string name = NameForHeader();
    const std::string added = NewBlocks();
    const uint16_t z = Zip64DataSize(false);
    VersionNeeded = CompressionMethod == MethodAes ? VersionAes : z > 0 ? VersionZip64 : VersionDefault;
    RecordBuilder r;
    r.U32(LocalFileHeaderSig)
        .U16(VersionNeeded)
        .U16(GeneralFlags)
        .U16(CompressionMethod)
        .U32(ModDateTime)
        .U32(Crc32)
        .U32(IsSaturated(uncompressedSize_) ? uncompressedSize_ : compressedSize_)
        .U32(uncompressedSize_)
        .U16(LengthField(name.size(), "Entry name"))
        .U16(LengthField(LocalExtraLength + added.size() + (z > 0 ? z + 4u : 0u), "Local extra field"))
        .Bytes(name);
    if (z > 0)
        r.Bytes(Zip64Block(false));
    r.Bytes(added).WriteTo(out);
}

bool TZipHeaderInfo::PatchRawCentral()
{
    uint8_t* h = reinterpret_cast<uint8_t*>(RawCentral->data());
    const auto put = [](uint8_t* p, uint64_t value, int width) {
        for (int i = 0; i < width; ++i)
            p[i] = uint8_t(value >> (8 * i));
    };
    const bool wideOffset = Get32(h + 42) == 0xFFFFFFFF;
    const bool wideDisk = Get16(h + 34) == 0xFFFF;
    // The Zip64 block holds the saturated fields' values in a fixed order.
    size_t offsetAt = 0, diskAt = 0;
    if (wideOffset || wideDisk) {
        const size_t extraAt = CentralHeaderLen + Get16(h + 28);
        const std::string field = RawCentral->substr(extraAt, Get16(h + 30));
        WalkExtraField(field, [&](uint16_t tag, const uint8_t* block, size_t size) {
            if (tag != Zip64Tag)
                return true;
            const size_t start = extraAt + size_t(block - reinterpret_cast<const uint8_t*>(field.data())) + 4;
            size_t pos = start + (Get32(h + 24) == 0xFFFFFFFF ? 8 : 0) + (Get32(h + 20) == 0xFFFFFFFF ? 8 : 0);
            if (wideOffset && pos + 8 <= start + size)
                offsetAt = pos;
            pos += wideOffset ? 8 : 0;
            if (wideDisk && pos + 4 <= start + size)
                diskAt = pos;
            return false;
        });
    }
    const uint64_t offset = LocalHeaderOffset();
    const uint32_t disk = DiskNumberStart();
    if (wideOffset ? offsetAt == 0 : offset >= 0xFFFFFFFF)
        return false;
    if (wideDisk ? diskAt == 0 : disk >= 0xFFFF)
        return false;
    put(wideOffset ? h + offsetAt : h + 42, offset, wideOffset ? 8 : 4);
    put(wideDisk ? h + diskAt : h + 34, disk, wideDisk ? 4 : 2);
    return true;
}

void TZipHeaderInfo::WriteCentralHeader(THugeStream& out, THugeStream* archive)
{
    if (RawCentral && PatchRawCentral()) {
        out.WriteBuffer(RawCentral->data(), int64_t(RawCentral->size()));
        return;
    }
    const std::string name = NameForHeader();
    const uint16_t nameLength = LengthField(name.size(), "Entry name");
    if (HasComment() && !fileComment_ && !(archive && ReadFileComment(*archive)))
        throw EReadError(ReadErrorText);
    const std::string comment = fileComment_.value_or({});
    const uint16_t commentLength = LengthField(comment.size(), "Entry comment");

    // The blocks of the old central extra field are carried over, all but
    // its Zip64 block, which is made anew from the current values.
    std::string carried;
    if (RawCentral || ExtraReadLength != 0) {
        std::string field;
        if (RawCentral) {
            const uint8_t* h = reinterpret_cast<const uint8_t*>(RawCentral->data());
            field = RawCentral->substr(CentralHeaderLen + Get16(h + 28), Get16(h + 30));
        } else {
            if (!archive)
                throw EReadError(ReadErrorText);
            const int64_t p = archive->Position();
            archive->SetPosition(ExtraStart);
            field.resize(ExtraReadLength);
            archive->ReadBuffer(field.data(), int64_t(field.size()));
            archive->SetPosition(p);
        }
        WalkExtraField(field, [&carried](uint16_t tag, const uint8_t* block, size_t size) {
            if (tag != Zip64Tag)
                carried.append(reinterpret_cast<const char*>(block), 4 + size);
            return true;
        });
    }
    carried += NewBlocks();
    const uint16_t z = Zip64DataSize(true);
    if (z == 0)
        Zip64Record.reset();
    VersionNeeded = CompressionMethod == MethodAes ? VersionAes : z > 0 ? VersionZip64 : VersionDefault;
    ExtraLength = LengthField(carried.size() + (z > 0 ? z + 4u : 0u), "Central extra field");

    RecordBuilder r;
    r.U32(CentralFileHeaderSig)
        .U16(VersionMadeBy)
        .U16(VersionNeeded)
        .U16(GeneralFlags)
        .U16(CompressionMethod)
        .U32(ModDateTime)
        .U32(Crc32)
        .U32(compressedSize_)
        .U32(uncompressedSize_)
        .U16(nameLength)
        .U16(ExtraLength)
        .U16(commentLength)
        .U16(diskNumberStart_)
        .U16(InternalAttributes)
        .U32(ExternalAttributes)
        .U32(localHeaderOffset_)
        .Bytes(name)
        .Bytes(carried);
    if (z > 0)
        r.Bytes(Zip64Block(true));
    r.Bytes(comment).WriteTo(out);
}

// ---- TEndCentral ----------------------------------------------------------------

void TEndCentral::Assign(const TEndCentral& source)
{
    const bool modified = Modified;
    *this = source;
    Modified = modified;
}

TZip64EndRecord& TEndCentral::EnsureZip64()
{
    if (!Zip64EndRecord)
        Zip64EndRecord = TZip64EndRecord{thisDisk_, centralDirDisk_, entriesThisDisk_,
                                         totalEntries_, centralDirSize_, centralDirOffset_};
    return *Zip64EndRecord;
}

bool TEndCentral::NeedsZip64() const
{
    return IsSaturated(thisDisk_) || IsSaturated(centralDirDisk_) || IsSaturated(entriesThisDisk_) ||
           IsSaturated(totalEntries_) || IsSaturated(centralDirSize_) || IsSaturated(centralDirOffset_);
}

uint32_t TEndCentral::ThisDisk() const
{
    return WideValue(thisDisk_, Zip64EndRecord ? &Zip64EndRecord->ThisDisk : nullptr);
}

void TEndCentral::SetThisDisk(uint32_t value)
{
    SetWideValue(thisDisk_, value, [this]() -> uint32_t& { return EnsureZip64().ThisDisk; });
}

uint32_t TEndCentral::CentralDirDisk() const
{
    return WideValue(centralDirDisk_, Zip64EndRecord ? &Zip64EndRecord->CentralDirDisk : nullptr);
}

void TEndCentral::SetCentralDirDisk(uint32_t value)
{
    SetWideValue(centralDirDisk_, value, [this]() -> uint32_t& { return EnsureZip64().CentralDirDisk; });
}

uint64_t TEndCentral::EntriesThisDisk() const
{
    return WideValue(entriesThisDisk_, Zip64EndRecord ? &Zip64EndRecord->EntriesThisDisk : nullptr);
}

void TEndCentral::SetEntriesThisDisk(uint64_t value)
{
    SetWideValue(entriesThisDisk_, value, [this]() -> uint64_t& { return EnsureZip64().EntriesThisDisk; });
}

uint64_t TEndCentral::TotalEntries() const
{
    return WideValue(totalEntries_, Zip64EndRecord ? &Zip64EndRecord->TotalEntries : nullptr);
}

void TEndCentral::SetTotalEntries(uint64_t value)
{
    SetWideValue(totalEntries_, value, [this]() -> uint64_t& { return EnsureZip64().TotalEntries; });
}

uint64_t TEndCentral::CentralDirSize() const
{
    return WideValue(centralDirSize_, Zip64EndRecord ? &Zip64EndRecord->CentralDirSize : nullptr);
}

void TEndCentral::SetCentralDirSize(uint64_t value)
{
    SetWideValue(centralDirSize_, value, [this]() -> uint64_t& { return EnsureZip64().CentralDirSize; });
}

uint64_t TEndCentral::CentralDirOffset() const
{
    return WideValue(centralDirOffset_, Zip64EndRecord ? &Zip64EndRecord->CentralDirOffset : nullptr);
}

void TEndCentral::SetCentralDirOffset(uint64_t value)
{
    SetWideValue(centralDirOffset_, value, [this]() -> uint64_t& { return EnsureZip64().CentralDirOffset; });
}

int64_t TEndCentral::RecordsPosition() const
{
    return CommentPosition - EndRecordSize - (Zip64Locator ? Zip64LocatorLen + Zip64EndRecordLen : 0);
}

bool TEndCentral::ReadEndRecord(THugeStream& s)
{
    Clear();
    const int64_t size = s.Size();
    if (size < EndRecordSize)
        return size == 0;
    // The record with the longest possible comment after it.
    const int64_t window = std::min<int64_t>(size, 0xFFFF + EndRecordSize);
    std::vector<uint8_t> buffer(static_cast<size_t>(window));
    s.SetPosition(size - window);
    if (s.Read(buffer.data(), window) != window)
        return false;
    // An archive comment may hold the bytes of an end record. The real record
    // is the one whose comment reaches exactly to the end of the file; the
    // first such record holds any later one in its comment. Without one
    // (bytes after the archive, a comment cut short) the last record counts.
    int64_t last = -1, exact = -1;
    for (int64_t at = window - EndRecordSize; at >= 0; --at)
        if (Get32(&buffer[size_t(at)]) == EndCentralDirSig) {
            if (last < 0)
                last = at;
            if (at + EndRecordSize + Get16(&buffer[size_t(at) + 20]) == window)
                exact = at;
        }
    const int64_t i = exact >= 0 ? exact : last;
    if (i < 0)
        return false;
    if (i != last)
        LastRecordPosition = size - window + last;

    const uint8_t* e = &buffer[size_t(i)];
    thisDisk_ = Get16(e + 4);
    centralDirDisk_ = Get16(e + 6);
    entriesThisDisk_ = Get16(e + 8);
    totalEntries_ = Get16(e + 10);
    centralDirSize_ = Get32(e + 12);
    centralDirOffset_ = Get32(e + 16);
    commentLength_ = Get16(e + 20);
    CommentPosition = size - window + i + EndRecordSize;

    if (i >= Zip64LocatorLen && Get32(e - Zip64LocatorLen) == Zip64EndCentralLocatorSig) {
        const uint8_t* l = e - Zip64LocatorLen;
        const TZip64Locator locator{Get32(l + 4), Get64(l + 8), Get32(l + 16)};
        uint8_t z[Zip64EndRecordLen];
        auto readZip64EndRecord = [&] {
            if (size < Zip64EndRecordLen || locator.Zip64Offset > uint64_t(size - Zip64EndRecordLen))
                return false;
            s.SetPosition(int64_t(locator.Zip64Offset));
            return s.Read(z, Zip64EndRecordLen) == Zip64EndRecordLen && Get32(z) == Zip64EndCentralDirSig;
        };
        if (readZip64EndRecord()) {
            Zip64Locator = locator;
            Zip64EndRecord = TZip64EndRecord{Get32(z + 16), Get32(z + 20), Get64(z + 24),
                                             Get64(z + 32), Get64(z + 40), Get64(z + 48)};
        } else if (NeedsZip64()) {
            // The values that do not fit the end record are not to be had.
            Clear();
            return false;
        }
    }
    return true;
}

void TEndCentral::WriteEndRecord(THugeStream& out)
{
    const std::string comment = commentText_.value_or(std::string());
    const uint16_t commentLength = LengthField(comment.size(), "Archive comment");
    RecordBuilder r;
    if (Zip64EndRecord) {
        TZip64EndRecord& z = *Zip64EndRecord;
        if (!IsSaturated(thisDisk_))
            z.ThisDisk = thisDisk_;
        if (!IsSaturated(centralDirDisk_))
            z.CentralDirDisk = centralDirDisk_;
        if (!IsSaturated(entriesThisDisk_))
            z.EntriesThisDisk = entriesThisDisk_;
        if (!IsSaturated(totalEntries_))
            z.TotalEntries = totalEntries_;
        if (!IsSaturated(centralDirSize_))
            z.CentralDirSize = centralDirSize_;
        if (!IsSaturated(centralDirOffset_))
            z.CentralDirOffset = centralDirOffset_;
        if (NeedsZip64()) {
            Zip64Locator = TZip64Locator{ThisDisk(), uint64_t(out.Position()), ThisDisk() + 1};
            r.U32(Zip64EndCentralDirSig)
                .U64(Zip64EndRecordLen - 12)
                .U16(VersionZip64)
                .U16(VersionZip64)
                .U32(z.ThisDisk)
                .U32(z.CentralDirDisk)
                .U64(z.EntriesThisDisk)
                .U64(z.TotalEntries)
                .U64(z.CentralDirSize)
                .U64(z.CentralDirOffset)
                .U32(Zip64EndCentralLocatorSig)
                .U32(Zip64Locator->Zip64Disk)
                .U64(Zip64Locator->Zip64Offset)
                .U32(Zip64Locator->TotalDisks);
        } else {
            Zip64EndRecord.reset();
            Zip64Locator.reset();
        }
    }
    // Only a loaded comment can be written; the record announces what follows it.
    r.U32(EndCentralDirSig)
        .U16(thisDisk_)
        .U16(centralDirDisk_)
        .U16(entriesThisDisk_)
        .U16(totalEntries_)
        .U32(centralDirSize_)
        .U32(centralDirOffset_)
        .U16(commentLength)
        .Bytes(comment)
        .WriteTo(out);
}

// ---- TSortedZip -----------------------------------------------------------------

int TSortedZip::Add(TZipHeaderInfo* item)
{
    const int index = TSortedObjectList<TZipHeaderInfo>::Add(item);
    if (item->Zip64Record)
        HasZip64 = true;
    return index;
}

void TSortedZip::Append(TZipHeaderInfo* item)
{
    TSortedObjectList<TZipHeaderInfo>::Append(item);
    if (item->Zip64Record)
        HasZip64 = true;
}

int TSortedZip::Compare(const TZipHeaderInfo* item, const TZipHeaderInfo* key) const
{
    switch (SortMode) {
    case TZipSortMode::ByName:
        return CompareNoCase(item->Directory() + item->FileName(), key->Directory() + key->FileName());
    case TZipSortMode::ByFileName:
        return CompareNoCase(item->FileName(), key->FileName());
    case TZipSortMode::ByDirectoryName:
        return CompareNoCase(item->Directory(), key->Directory());
    case TZipSortMode::ByDate:
        return DateOf(*key) > DateOf(*item) ? 1 : -1;
    case TZipSortMode::ByCompressedSize:
        return key->CompressedSize() > item->CompressedSize() ? 1 : -1;
    case TZipSortMode::ByUnCompressedSize:
        return key->UncompressedSize() > item->UncompressedSize() ? 1 : -1;
    case TZipSortMode::ByRate:
        return RateOf(*key) - RateOf(*item);
    case TZipSortMode::ByNone:
        break;
    }
    if (item->DiskNumberStart() != key->DiskNumberStart())
        return item->DiskNumberStart() < key->DiskNumberStart() ? -1 : 1;
    if (item->LocalHeaderOffset() != key->LocalHeaderOffset())
        return item->LocalHeaderOffset() < key->LocalHeaderOffset() ? -1 : 1;
    return 0;
}
