#include "engine/ZipReader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <tuple>
#include <unordered_set>

#include "engine/ZipExceptions.h"
#include "platform/Hooks.h"

namespace {

// The path up to its file name's last '.' (the whole path when the file name
// has none).
std::string WithoutExtension(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    return dot == std::string::npos || (slash != std::string::npos && dot < slash) ? path : path.substr(0, dot);
}

bool HasExeExtension(const std::string& path)
{
    const std::string stem = WithoutExtension(path);
    std::string ext = path.substr(stem.size());
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".exe";
}

std::string Numbered(const char* format, int n)
{
    char text[32];
    std::snprintf(text, sizeof text, format, n);
    return text;
}

// Runs an action when the scope ends, however it ends.
template <class F>
struct ScopeExit {
    F action;
    ~ScopeExit() { action(); }
};
template <class F>
ScopeExit(F) -> ScopeExit<F>;

// A central header's signature at offset of s.
bool CentralHeaderAt(THugeStream& s, uint64_t offset)
{
    uint8_t signature[4];
    if (offset > uint64_t(INT64_MAX))
        return false;
    s.SetPosition(int64_t(offset));
    return s.Read(signature, 4) == 4 && std::memcmp(signature, "PK\x01\x02", 4) == 0;
}

// The code page the entries of one reading share; none for code page 437.
std::shared_ptr<const std::string> SharedCodePage(const std::string& name)
{
    return name.empty() ? nullptr : std::make_shared<const std::string>(name);
}

}  // namespace

TZipReader::TZipReader() = default;

TZipReader::~TZipReader()
{
    ResetArchive();
}

void TZipReader::SetZipName(const std::string& name)
{
    if (name == zipName_)
        return;
    std::string chosen = name;
    if (!chosen.empty() && chosen.back() == '?') {
        std::string folder = chosen.substr(0, chosen.size() - 1);
        folder = folder.substr(0, folder.rfind('/') == std::string::npos ? 0 : folder.rfind('/') + 1);
        if (!platform::DirectoryExists(folder)) {
            const char* home = std::getenv("HOME");
            folder = home ? home : "/";
        }
        chosen = folder;
        if (!platform::OpenFileDialog(chosen))
            throw EUserCanceled("User canceled setting zip file name.");
    }
    zipName_ = chosen;
    lastPartName_ = chosen;
    baseName_ = WithoutExtension(chosen);
    FreeEntries();
    stamp_ = {};
    endCentral_.Clear();
    archive_.reset();
    rebuilt_ = false;
}

void TZipReader::ResetArchive()
{
    archive_.reset();
    FreeEntries();
    endCentral_.Clear();
    rebuilt_ = false;
    stamp_ = {};
    partCount_ = 1;
    currentPart_ = 0;
    SetMultiMode(TMultiMode::mmNone);
    zipName_.clear();
    baseName_.clear();
    lastPartName_.clear();
}

void TZipReader::FreeEntries()
{
    sorted_.reset();
    entries_.reset();
    readsDifferently_ = false;
}

std::unique_ptr<TLFNFileStream> TZipReader::OpenStream(const std::string& file, unsigned share) const
{
    // The first volume of a 7-Zip volume set opens the whole set.
    if (const auto volumes = THugeVolumeStream::VolumesOf(file); volumes.size() > 1)
        return std::make_unique<TLFNFileStream>(std::make_unique<THugeVolumeStream>(volumes), 8192);
    return std::make_unique<TLFNFileStream>(file, 8192, FlushFilesOnClose, platform::fmOpenRead | share);
}

void TZipReader::Poll()
{
    if (!DoProcessMessages)
        return;
    platform::PumpMessages();
    if (cancel_) {
        cancel_ = false;
        throw EUserCanceled();
    }
}

void TZipReader::WaitPolling(std::future<void>& done)
{
    while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        Poll();
}

int TZipReader::HandleMessage(int messageId, const std::string& msg1, const std::string& msg2, unsigned flags)
{
    if (!OnHandleMessage)
        return platform::MessageBox(msg1, msg2, flags);
    int result = 0;
    OnHandleMessage(*this, messageId, msg1, msg2, flags, result);
    return result;
}

void TZipReader::Assign(const TZipReader& source)
{
    SetZipName(source.zipName_);
    SortMode = source.SortMode;
    IncompleteZipMode = source.IncompleteZipMode;
    KeepZipOpen = source.KeepZipOpen;
    DoProcessMessages = source.DoProcessMessages;
    OnInCompleteZip = source.OnInCompleteZip;
    NamesCodePage = source.NamesCodePage;
    OnGetNextDisk = source.OnGetNextDisk;
    OnFileNameForSplitPart = source.OnFileNameForSplitPart;
    destDir_ = source.destDir_;
    rootDir_ = source.rootDir_;
    RelativePathList = source.RelativePathList;
    FilesList = source.FilesList;
    ExactNames = source.ExactNames;
    DoAll = source.DoAll;
    RecreateDirs = source.RecreateDirs;
    OverwriteMode = source.OverwriteMode;
    RetainAttributes = source.RetainAttributes;
    ReplaceReadOnly = source.ReplaceReadOnly;
    AllowOutsideLinks = source.AllowOutsideLinks;
    OnStartUnZipInfo = source.OnStartUnZipInfo;
    OnStartUnZip = source.OnStartUnZip;
    OnPromptForOverwrite = source.OnPromptForOverwrite;
    OnSkippingFile = source.OnSkippingFile;
    OnBadPassword = source.OnBadPassword;
    OnBadCRC = source.OnBadCRC;
    OnEntryError = source.OnEntryError;
    OnFilePercentDone = source.OnFilePercentDone;
    OnTotalPercentDone = source.OnTotalPercentDone;
    OnEndUnZip = source.OnEndUnZip;
    OnUnZipComplete = source.OnUnZipComplete;
}

// ---- Reading ----------------------------------------------------------------

void TZipReader::ReadArchive()
{
    cancel_ = false;
    const bool wasWorking = working_;
    const bool wasReading = reading_;
    working_ = reading_ = true;
    ScopeExit restore{[&] {
        CloseZipFile();
        reading_ = wasReading;
        working_ = wasWorking;
    }};
    try {
        for (;;) {
            const std::string name = zipName_;
            try {
                OpenZipFile();
                return;
            } catch (const EIncompleteZip&) {
                archive_.reset();
                // Only a handler that named another file makes a new attempt
                // worth while; the same file would give the same answer.
                if (!OnInCompleteZip || zipName_ == name)
                    return;
            }
        }
    } catch (...) {
        ResetArchive();
        throw;
    }
}

void TZipReader::OpenZipFile()
{
    // Without its last part a multi-part archive can still be read from its
    // side file, and its entries from the parts that are there.
    if (!archive_ && (platform::FileExists(zipName_) || !platform::FileExists(SideFileName())))
        archive_ = OpenStream(zipName_, platform::fmShareDenyWrite);
    platform::FileStamp now;
    if (!entries_ || !platform::GetFileStamp(zipName_, now) || !(now == stamp_))
        ReadDirectory();
}

void TZipReader::CloseZipFile()
{
    if (!KeepZipOpen)
        archive_.reset();
}

// The walk over the central headers: the stream it reads (which moves to
// the next part, and back to the archive when the directory is rebuilt),
// how far it is, and what it needs to take back a header read wrongly.
struct TZipReader::TDirectoryScan {
    THugeStream* s = nullptr;
    std::shared_ptr<const std::string> codePage;  // the names' code page
    int64_t prefix = 0;  // bytes in front of the archive, added to its offsets
    bool multiPart = false;
    uint64_t i = 0;                      // headers read
    TZipHeaderInfo* previous = nullptr;  // read last, with an extra field
    std::unordered_set<const TZipHeaderInfo*> completed;  // rebuilt entries given their central header
};

// Reads the archive's directory into the entries, in five stages: the end
// record (with its Zip64 records, or the side file of a multi-part archive
// without its last part), the prefix correction, the way to the directory
// (or what the handler of an incomplete archive chose), the central headers
// (with the count correction), and the end record's corrections and comment.
void TZipReader::ReadDirectory()
{
    const bool wasReading = reading_;
    reading_ = true;
    ScopeExit restore{[&] { reading_ = wasReading; }};

    stamp_ = {};
    platform::GetFileStamp(zipName_, stamp_);
    FreeEntries();
    const auto codePage = SharedCodePage(NamesCodePage);
    std::unique_ptr<TLFNFileStream> side;
    THugeStream* s = FindEndRecord(side);
    const bool fromSide = side != nullptr;
    int64_t prefix = 0;
    if (s) {
        CheckEndRecordPart();
        if (!fromSide)
            prefix = PrefixLength(*s);
        s = GoToDirectory(s, fromSide, prefix);
    } else {
        s = ReadIncompleteArchive();
    }
    if (!entries_)
        entries_ = std::make_unique<TSortedZip>(TDuplicateRule::RejectEqual);
    partCount_ = int(endCentral_.ThisDisk()) + 1;

    TDirectoryScan scan;
    scan.s = s;
    scan.codePage = codePage;
    scan.prefix = prefix;
    scan.multiPart = endCentral_.ThisDisk() != 0;
    ReadCentralHeaders(scan);
    FinishDirectory(scan, fromSide);
    readsDifferently_ = !fromSide && !rebuilt_ && endCentral_.ThisDisk() == 0 &&
                        endCentral_.LastRecordPosition >= 0 && LastEndRecordReadsDifferently(*archive_);
}

// Reads the directory the last end record of the archive leads to, as other
// tools read it (bytes ahead of it shift its offsets), and compares it with
// the entries read. True when it reads cleanly, every header within the
// file before that record, and lists other entries (names, local header
// offsets, CRCs).
bool TZipReader::LastEndRecordReadsDifferently(THugeStream& s) const
{
    const int64_t at = endCentral_.LastRecordPosition;
    uint8_t e[TEndCentral::EndRecordSize];
    s.SetPosition(at);
    if (s.Read(e, sizeof e) != int64_t(sizeof e))
        return false;
    const uint64_t count = Get16(e + 10), size = Get32(e + 12), offset = Get32(e + 16);
    if (uint64_t(at) < size || uint64_t(at) - size < offset)
        return false;
    const int64_t start = at - int64_t(size), shift = start - int64_t(offset);
    std::vector<std::tuple<uint64_t, std::string, uint32_t>> theirs, ours;
    const auto codePage = SharedCodePage(NamesCodePage);
    THugeStream* p = &s;
    p->SetPosition(start);
    for (uint64_t i = 0; i < count; ++i) {
        TZipHeaderInfo h(OEMConvert, codePage);
        if (!h.ReadCentralHeader(p))
            return false;
        p->Seek(h.ExtraLength + int64_t(h.CommentLength()), THugeStream::soCurrent);
        if (p->Position() > at)
            return false;
        theirs.emplace_back(h.LocalHeaderOffset() + uint64_t(shift), h.Directory() + h.FileName(), h.Crc32);
    }
    for (int i = 0; i < EntryCount(); ++i) {
        const TZipHeaderInfo& h = *entries_->Get(i);
        ours.emplace_back(h.LocalHeaderOffset(), h.Directory() + h.FileName(), h.Crc32);
    }
    std::sort(theirs.begin(), theirs.end());
    std::sort(ours.begin(), ours.end());
    return theirs != ours;
}

// Takes the open archive; gives the stream its end record was read from: the
// archive's, or the side file's (then kept open in side). Null when neither
// holds one.
THugeStream* TZipReader::FindEndRecord(std::unique_ptr<TLFNFileStream>& side)
{
    THugeStream* s = archive_.get();
    if (s && endCentral_.ReadEndRecord(*s) && endCentral_.ThisDisk() >= endCentral_.CentralDirDisk())
        return s;
    // Without an end record, a side file may hold the directory of a
    // multi-part archive whose last part is missing.
    const std::string sideName = SideFileName();
    if (sideName == zipName_ || !platform::FileExists(sideName))
        return nullptr;
    side = OpenStream(sideName, platform::fmShareDenyNone);
    // Only a multi-part archive has a side file; one that says
    // otherwise would leave no archive to read the entries from.
    if (endCentral_.ReadEndRecord(*side) && endCentral_.ThisDisk() != 0 &&
        endCentral_.ThisDisk() >= endCentral_.CentralDirDisk())
        return side.get();
    side.reset();
    return nullptr;
}

// Takes the end record read; raises when its part number is no set's.
void TZipReader::CheckEndRecordPart() const
{
    // Part numbers count the files of a set: more than MaxParts is no set.
    if (endCentral_.ThisDisk() >= MaxParts)
        throw EBadZipFile("Not a valid zip file: its end record names part " +
                          std::to_string(uint64_t(endCentral_.ThisDisk()) + 1));
}

// Takes the archive whose end record was read from it; gives the length of
// the data in front of it (0 when none).
int64_t TZipReader::PrefixLength(THugeStream& s) const
{
    // Data in front of the archive (a self-extractor's stub, an installer's
    // header) shifts every recorded offset by its length: it shows as the
    // gap between where the directory should end and where the end record
    // really is. The offsets are read through that shift, when the directory
    // is found there and not where it is recorded.
    if (endCentral_.ThisDisk() != 0 || endCentral_.TotalEntries() == 0)
        return 0;
    const int64_t end = endCentral_.RecordsPosition();
    const uint64_t recorded = endCentral_.CentralDirOffset() + endCentral_.CentralDirSize();
    if (recorded < uint64_t(end) && !CentralHeaderAt(s, endCentral_.CentralDirOffset()) &&
        CentralHeaderAt(s, endCentral_.CentralDirOffset() + uint64_t(end) - recorded))
        return end - int64_t(recorded);
    return 0;
}

// Takes the stream the end record was read from; sets the archive's
// multi-part mode and part count, and gives the stream at the directory's
// first header (the part that holds it).
THugeStream* TZipReader::GoToDirectory(THugeStream* s, bool fromSide, int64_t prefix)
{
    currentPart_ = fromSide ? 0 : int(endCentral_.ThisDisk());
    if (endCentral_.ThisDisk() == 0)
        SetMultiMode(TMultiMode::mmNone);
    else if (MultiMode() == TMultiMode::mmNone)
        SetMultiMode(TMultiMode::mmBlocks);  // no drive here is removable
    partCount_ = int(endCentral_.ThisDisk()) + 1;
    if (endCentral_.TotalEntries() > 0) {
        if (!fromSide && MultiMode() != TMultiMode::mmNone && int(endCentral_.CentralDirDisk()) != currentPart_)
            s = OpenPart(int(endCentral_.CentralDirDisk()) + 1);
        s->SetPosition(fromSide ? 0 : int64_t(std::min<uint64_t>(endCentral_.CentralDirOffset(), INT64_MAX)) + prefix);
    }
    return s;
}

// An archive without an end record: OnInCompleteZip chooses what it is.
// Gives the archive's stream when its directory was rebuilt from its local
// headers; raises otherwise.
THugeStream* TZipReader::ReadIncompleteArchive()
{
    TIncompleteZipMode mode = IncompleteZipMode;
    const std::string name = zipName_;
    if (OnInCompleteZip)
        OnInCompleteZip(*this, mode);
    IncompleteZipMode = mode;
    // A handler that named another archive has closed this one: read again.
    if (zipName_ != name)
        throw EIncompleteZip();
    switch (mode) {
    case TIncompleteZipMode::izAssumeNotAZip: throw ENotAZipFile();
    case TIncompleteZipMode::izAssumeMulti: throw EIncompleteZip();
    case TIncompleteZipMode::izAssumeBad:
        if (!RebuildDirectory()) {
            ResetArchive();
            throw EBadZipFile();
        }
        break;
    }
    return archive_.get();
}

// Takes the scan at the directory's first header; reads every central header
// into the entries (or, for a rebuilt directory, completes the entries the
// local headers gave) and puts them in order. Falls back to rebuilding the
// directory from the local headers where the central ones cannot be read.
void TZipReader::ReadCentralHeaders(TDirectoryScan& scan)
{
    // Older tools write the 16-bit entry count modulo 65,536: a directory
    // that holds more headers than counted is read to its recorded end.
    const bool countMayWrap = !scan.multiPart && !endCentral_.Zip64EndRecord;
    const uint64_t directoryEnd =
        endCentral_.CentralDirOffset() + uint64_t(scan.prefix) + endCentral_.CentralDirSize();
    const auto more = [&] {
        return scan.i < endCentral_.TotalEntries() ||
               (countMayWrap && !rebuilt_ && uint64_t(scan.s->Position()) + 46 <= directoryEnd);
    };
    while (more() || !EntriesInOrder(scan)) {
        Poll();
        auto h = std::make_unique<TZipHeaderInfo>(OEMConvert, scan.codePage);
        const bool ok = ReadNextCentralHeader(scan, *h);
        if (ok && rebuilt_) {
            CompleteRebuiltEntry(scan, *h);
            ++scan.i;
        } else if (ok) {
            AppendCentralEntry(scan, h.release());
            ++scan.i;
        } else if (rebuilt_ || scan.i >= endCentral_.TotalEntries()) {
            if (EntriesInOrder(scan))
                break;
        } else {
            if (MultiMode() != TMultiMode::mmNone || !RebuildDirectory()) {
                ResetArchive();
                throw EBadZipFile();
            }
            RestartScan(scan);
        }
    }
}

// Takes the scan after its last header. Read, the entries are put in order
// once; true when they are. Two central headers for one local header rank
// equal: the local headers are trusted then, the scan starts again on the
// rebuilt directory to complete the entries they give, and it is false.
bool TZipReader::EntriesInOrder(TDirectoryScan& scan)
{
    if (rebuilt_)
        return true;
    try {
        entries_->Sort();
        return true;
    } catch (const EListError&) {
    }
    if (!RebuildDirectory()) {
        ResetArchive();
        throw EBadZipFile();
    }
    RestartScan(scan);
    return false;
}

// Takes a scan to begin again from the start of a rebuilt directory.
void TZipReader::RestartScan(TDirectoryScan& scan)
{
    scan.s = archive_.get();
    scan.previous = nullptr;
    scan.completed.clear();
    scan.i = 0;
}

// Takes the scan at a central header; gives whether h could be read from there.
bool TZipReader::ReadNextCentralHeader(TDirectoryScan& scan, TZipHeaderInfo& h)
{
    TNextPartEvent nextPart;
    if (!rebuilt_ && MultiMode() != TMultiMode::mmNone)
        nextPart = [this](THugeStream*& stream) { stream = OpenPart(currentPart_ + 2); };
    bool ok = h.ReadCentralHeader(scan.s, nextPart);
    if (!ok && scan.previous) {
        // The previous header may announce an extra field that is not
        // there: try again with the stream before it.
        const int64_t back = scan.previous->ExtraLength;
        scan.previous->ExtraLength = 0;
        scan.previous->ExtraReadLength = 0;
        scan.previous->Zip64BlockSize = 0;
        scan.s->Seek(-back, THugeStream::soCurrent);
        ok = h.ReadCentralHeader(scan.s, nextPart);
    }
    scan.previous = nullptr;
    return ok;
}

// Takes a central header read over a rebuilt directory: it completes the
// entry the local-header scan found at the same place; the scan goes past it.
void TZipReader::CompleteRebuiltEntry(TDirectoryScan& scan, const TZipHeaderInfo& h)
{
    // The first central header for a local header counts; another one
    // pointing at the same data is not allowed to rename it.
    int index;
    if (entries_->Find(&h, index)) {
        TZipHeaderInfo* e = entries_->Get(index);
        if (scan.completed.insert(e).second) {
            const uint64_t offset = e->LocalHeaderOffset();
            e->Assign(h);
            e->SetLocalHeaderOffset(offset);
            e->ExtraStart = h.ExtraStart;
            e->ExtraReadLength = h.ExtraReadLength;
            e->Zip64BlockSize = h.Zip64BlockSize;
        }
    }
    scan.s->Seek(h.ExtraLength + int64_t(h.CommentLength()), THugeStream::soCurrent);
}

// Takes a central header read; it becomes an entry, its offset shifted by
// the prefix, and the scan goes past its extra field and comment.
void TZipReader::AppendCentralEntry(TDirectoryScan& scan, TZipHeaderInfo* e)
{
    if (scan.prefix != 0)
        e->SetLocalHeaderOffset(e->LocalHeaderOffset() + uint64_t(scan.prefix));
    entries_->Append(e);
    if (scan.multiPart && e->HasComment())
        e->ReadFileComment(*scan.s);  // its part is open now
    scan.s->Seek(e->ExtraLength + int64_t(e->CommentLength()), THugeStream::soCurrent);
    if (e->ExtraLength != 0)
        scan.previous = e;
}

// Takes the scan after the directory: corrects the end record's count and
// offset to what was read, reads the comment of a multi-part archive from
// its last part, and sorts the entries as SortMode says.
void TZipReader::FinishDirectory(TDirectoryScan& scan, bool fromSide)
{
    if (!rebuilt_ && uint64_t(EntryCount()) > endCentral_.TotalEntries())
        endCentral_.SetTotalEntries(uint64_t(EntryCount()));
    if (scan.prefix != 0)
        endCentral_.SetCentralDirOffset(endCentral_.CentralDirOffset() + uint64_t(scan.prefix));
    if (scan.multiPart && !fromSide && currentPart_ != int(endCentral_.ThisDisk()))
        scan.s = OpenPart(partCount_);  // the last part is the archive's own file
    if (scan.multiPart && endCentral_.HasComment()) {
        const int64_t length = int64_t(endCentral_.CommentLength());
        std::string comment(size_t(length), '\0');
        scan.s->SetPosition(endCentral_.CommentPosition);
        comment.resize(size_t(std::max<int64_t>(0, scan.s->Read(comment.data(), length))));
        endCentral_.SetCommentText(comment);
        endCentral_.Modified = false;
    }
    currentPart_ = fromSide ? 0 : int(endCentral_.ThisDisk());
    SortEntries(SortMode);
}

// The search of an archive being rebuilt for the signatures of its local
// headers and data descriptors. It reads the archive in chunks, so that a
// large file without any header costs one pass at read speed. Whether a
// signature found counts is told by a test, which may look at the bytes
// after it up to the end of the chunk's buffer.
struct TZipReader::TSignatureSearch {
    static constexpr int64_t ChunkSize = 65536;
    TZipReader& reader;  // let messages through between chunks
    THugeStream& s;
    int64_t size;
    std::vector<char> chunk = std::vector<char>(ChunkSize + 16);

    // Where signature first starts from offset from on and fits says it
    // counts; -1 when nowhere.
    int64_t Find(const char* signature, int64_t from, const std::function<bool(int64_t, const char*)>& fits)
    {
        for (int64_t start = from; start < size; start += ChunkSize) {
            reader.Poll();
            s.SetPosition(start);
            const int64_t n = std::max<int64_t>(0, s.Read(chunk.data(), int64_t(chunk.size())));
            const char* end = chunk.data() + n;
            for (const char* p = chunk.data(); p < chunk.data() + std::min<int64_t>(n, ChunkSize); ++p) {
                p = std::search(p, end, signature, signature + 4);
                if (p == end || p >= chunk.data() + ChunkSize)
                    break;
                if (fits(start + (p - chunk.data()), p))
                    return start + (p - chunk.data());
            }
        }
        return -1;
    }

    // The next local header from offset from on: its signature followed by
    // a version needed whose high byte is below 10.
    int64_t NextLocalHeader(int64_t from)
    {
        return Find("PK\x03\x04", from, [&](int64_t, const char* p) {
            return p + 6 <= chunk.data() + chunk.size() && uint8_t(p[5]) < 10;
        });
    }

    // The data descriptor after data that starts at offset data: its
    // signature followed by the CRC and by the compressed size the data has.
    int64_t NextDescriptor(int64_t data)
    {
        return Find("PK\x07\x08", data, [&](int64_t position, const char* p) {
            return p + 16 <= chunk.data() + chunk.size() &&
                   Get32(reinterpret_cast<const uint8_t*>(p + 8)) == uint32_t(position - data);
        });
    }
};

// Rebuilds the directory of an archive from its local headers, in stages:
// the entries the local headers give, then an end record that counts them.
// False when the directory was rebuilt before, or no entry is recovered.
bool TZipReader::RebuildDirectory()
{
    if (rebuilt_ || !archive_)
        return false;
    rebuilt_ = true;
    FreeEntries();
    ScanLocalHeaders();
    // A signature without a whole header after it recovers nothing.
    if (entries_->Count() == 0) {
        entries_.reset();
        return false;
    }
    SetRebuiltEndRecord();
    return true;
}

// Takes the archive; gives the entries its local headers describe, in the
// order found, and leaves the archive where the scan stopped. The scan
// starts past a self-extractor's program (a name ending in .exe) and goes
// from each header to the end of its data. Before the first entry, a
// signature that starts no plausible header is data in front of the
// archive: the search goes on. After it, the scan stops there.
void TZipReader::ScanLocalHeaders()
{
    THugeStream& s = *archive_;
    const int64_t size = s.Size();
    TSignatureSearch search{*this, s, size};
    const auto codePage = SharedCodePage(NamesCodePage);
    entries_ = std::make_unique<TSortedZip>(TDuplicateRule::RejectEqual);
    int64_t at = search.NextLocalHeader(HasExeExtension(zipName_) ? 14000 : 0);
    while (at >= 0) {
        s.SetPosition(at);
        auto h = std::make_unique<TZipHeaderInfo>(OEMConvert, codePage);
        const bool read = h->ReadLocalHeader(s);
        const int64_t data = s.Position() + h->LocalExtraLength;
        const bool plausible = read && h->NameLength() > 0 && data <= size;
        if (!plausible) {
            if (entries_->Count() > 0)
                break;
            at = search.NextLocalHeader(at + 1);
            continue;
        }
        Poll();
        int64_t next;
        if (h->HasDataDescriptor() && h->CompressedSize() == 0) {
            next = ReadTrailingDescriptor(search, *h, data);
            if (next < 0)
                break;
        } else {
            const uint64_t skip = h->CompressedSize() + (h->HasDataDescriptor() ? 16 : 0);
            if (skip > uint64_t(size - data)) {
                entries_->Add(h.release());
                break;  // the data runs past the end of the file
            }
            next = data + int64_t(skip);
        }
        entries_->Add(h.release());
        s.SetPosition(next);
        at = next;
    }
}

// Takes a local header whose sizes follow its data, which starts at offset
// data; gives it the CRC and sizes of the data descriptor found after the
// data, and gives where the next header can start. -1 when there is none
// (the data runs to the end of the file).
int64_t TZipReader::ReadTrailingDescriptor(TSignatureSearch& search, TZipHeaderInfo& h, int64_t data)
{
    const int64_t descriptor = search.NextDescriptor(data);
    if (descriptor < 0)
        return -1;
    search.s.SetPosition(descriptor + 4);
    uint8_t d[12];
    if (search.s.Read(d, 12) != 12)
        return -1;
    h.Crc32 = Get32(d);
    h.SetCompressedSize(Get32(d + 4));
    h.SetUncompressedSize(Get32(d + 8));
    return descriptor + 16;
}

void TZipReader::CheckDirectory() const
{
    if (rebuilt_ && !RebuildDamaged && IncompleteZipMode != TIncompleteZipMode::izAssumeBad)
        throw EDamagedDirectory(ArchiveName() + ": its directory is damaged");
}

// Takes the archive where the scan of its local headers stopped; gives it
// an end record for the entries found, as one part whose directory starts
// there.
void TZipReader::SetRebuiltEndRecord()
{
    const int64_t stop = archive_->Position();
    endCentral_.Clear();
    endCentral_.SetThisDisk(0);
    endCentral_.SetCentralDirOffset(uint64_t(stop));
    endCentral_.SetTotalEntries(uint64_t(entries_->Count()));
    currentPart_ = 0;
    partCount_ = 1;
}

// ---- Parts ------------------------------------------------------------------

std::string TZipReader::SplitPartName(int n, TSplitPartType type)
{
    std::string name = baseName_;
    if (OnFileNameForSplitPart) {
        OnFileNameForSplitPart(*this, name, n, type);
        return name;
    }
    if (BlockMode == TBlockMode::bmClassic)
        return name + Numbered(".%03d", n);
    if (type == TSplitPartType::sptLast)
        return lastPartName_;
    return name + Numbered(".zip.z%02d", n);
}

THugeStream* TZipReader::OpenPart(int n)
{
    archive_.reset();
    std::string name;
    if (MultiMode() == TMultiMode::mmSpan) {
        name = zipName_;
        for (;;) {
            if (!AskForDisk(n, name))
                throw EUserCanceled("User canceled loading new disk.");
            if (CheckDiskLabels() && !CheckDiskLabel(n))
                continue;
            if (platform::FileExists(name))
                break;
        }
    } else {
        TSplitPartType type = n == 1 ? TSplitPartType::sptFirst : TSplitPartType::sptMiddle;
        if (reading_ && n == partCount_)
            type = TSplitPartType::sptLast;
        name = PartFileName(n, type);
    }
    archive_ = OpenStream(name, platform::fmShareDenyNone);
    currentPart_ = n - 1;
    platform::GetFileStamp(name, stamp_);
    zipName_ = name;
    return archive_.get();
}

std::string TZipReader::PartFileName(int n, TSplitPartType type)
{
    const std::string name = SplitPartName(n, type);
    // Other tools name the parts of "x.zip" x.z01, x.z02, ...; a set named
    // so is read so. A part missing under both names is looked for under the
    // naming of the set's first part (of its second, when the first is the
    // one missing).
    const auto other = [&](int k) { return baseName_ + Numbered(".z%02d", k); };
    if (!OnFileNameForSplitPart && BlockMode == TBlockMode::bmStandard && type != TSplitPartType::sptLast &&
        !platform::FileExists(name) &&
        (platform::FileExists(other(n)) || platform::FileExists(other(n == 1 ? 2 : 1))))
        return other(n);
    return name;
}

void TZipReader::ReadPartsAsOneFile()
{
    std::vector<std::string> parts;
    for (int n = 1; n <= partCount_; ++n)
        parts.push_back(PartFileName(n, n == partCount_ ? TSplitPartType::sptLast
                                        : n == 1        ? TSplitPartType::sptFirst
                                                        : TSplitPartType::sptMiddle));
    auto joined = std::make_unique<THugeVolumeStream>(parts);
    // A position of the parts, range-checked: a header lies inside its part,
    // a directory may also begin at its part's end.
    const THugeVolumeStream& view = *joined;
    const auto place = [&](uint32_t part, uint64_t offset, bool endAllowed, const std::string& what) {
        if (part >= view.VolumeCount())
            throw EBadZipFile("Not a valid zip file: " + what + " lies on part " + std::to_string(uint64_t(part) + 1) +
                              " of " + std::to_string(parts.size()));
        const uint64_t size = uint64_t(view.Start(part + 1) - view.Start(part));
        if (offset > size || (offset == size && !endAllowed))
            throw EBadZipFile("Not a valid zip file: " + what + " lies past the end of " + parts[part]);
        return uint64_t(view.Start(part)) + offset;
    };
    const uint64_t directory =
        place(endCentral_.CentralDirDisk(), endCentral_.CentralDirOffset(), true, "the directory");
    const uint64_t count = uint64_t(EntryCount());
    const uint32_t lastPart = endCentral_.ThisDisk();

    archive_ = std::make_unique<TLFNFileStream>(std::move(joined), 8192);
    FreeEntries();
    entries_ = std::make_unique<TSortedZip>(TDuplicateRule::RejectEqual);
    const auto codePage = SharedCodePage(NamesCodePage);
    THugeStream* s = archive_.get();
    s->SetPosition(int64_t(directory));
    for (uint64_t i = 0; i < count; ++i) {
        Poll();
        auto h = std::make_unique<TZipHeaderInfo>(OEMConvert, codePage);
        if (!h->ReadCentralHeader(s))
            throw EBadZipFile();
        s->Seek(h->ExtraLength + int64_t(h->CommentLength()), THugeStream::soCurrent);
        h->SetLocalHeaderOffset(
            place(h->DiskNumberStart(), h->LocalHeaderOffset(), false, h->Directory() + h->FileName()));
        h->SetDiskNumberStart(0);
        entries_->Append(h.release());
    }
    try {
        entries_->Sort();
    } catch (const EListError&) {
        throw EBadZipFile("Not a valid zip file: two entries share one local header");
    }
    endCentral_.SetThisDisk(0);
    endCentral_.SetCentralDirDisk(0);
    endCentral_.SetCentralDirOffset(directory);
    endCentral_.SetEntriesThisDisk(count);
    endCentral_.CommentPosition += view.Start(lastPart);
    SetMultiMode(TMultiMode::mmNone);
    partCount_ = 1;
    currentPart_ = 0;
    SortEntries(SortMode);
}

std::string TZipReader::SideFileOf(const std::string& zipName)
{
    return WithoutExtension(zipName) + ".zfc";
}

std::string TZipReader::SideFileName() const
{
    return baseName_ + ".zfc";
}

bool TZipReader::AskForDisk(int n, std::string& fileName)
{
    if (OnGetNextDisk) {
        OnGetNextDisk(*this, n, fileName);
    } else {
        const std::string text = "Please insert disk " + std::to_string(n) + " of the multi-disk set.";
        if (HandleMessage(MsgInsertDisk, text, "", platform::mbOKCancel) == platform::idCancel)
            fileName.clear();
    }
    return !fileName.empty();
}

bool TZipReader::CheckDiskLabel(int) const
{
    // Volumes have no labels here, so a spanned disk can never be confirmed.
    return MultiMode() != TMultiMode::mmSpan;
}

// ---- Entries ----------------------------------------------------------------

int TZipReader::EntryCount() const
{
    return entries_ ? entries_->Count() : 0;
}

TZipHeaderInfo& TZipReader::Entry(int index) const
{
    if (index < 0 || index >= EntryCount())
        throw EListError("Index " + std::to_string(index) + " is out of range");
    return *View().Get(index);
}

const TZipHeaderInfo& TZipReader::EntryInfo(int index) const
{
    return Entry(index);
}

std::string TZipReader::EntryName(int index) const
{
    return Entry(index).FileName();
}

std::string TZipReader::EntryFolder(int index) const
{
    return Entry(index).Directory();
}

std::time_t TZipReader::EntryDateTime(int index) const
{
    const TZipHeaderInfo& e = Entry(index);
    if (e.ModTimeUtc)
        return std::time_t(*e.ModTimeUtc);
    std::time_t t;
    return platform::DosDateTimeToDateTime(e.ModDateTime, t) ? t : std::time(nullptr);
}

uint64_t TZipReader::EntrySize(int index) const
{
    return Entry(index).UncompressedSize();
}

std::string TZipReader::EntryComment(int index)
{
    if (!Entry(index).HasComment())
        return {};
    if (!Entry(index).FileComment()) {
        OpenZipFile();  // may read the directory again: look the entry up afterwards
        Entry(index).ReadFileComment(*archive_);
        if (MultiMode() == TMultiMode::mmNone)
            CloseZipFile();
    }
    return Entry(index).ShownComment();
}

std::string TZipReader::EntryCentralHeader(int index)
{
    if (rebuilt_ || MultiMode() != TMultiMode::mmNone)
        return {};
    OpenZipFile();  // may read the directory again: look the entry up afterwards
    const int64_t back = archive_->Position();
    archive_->SetPosition(Entry(index).CentralHeaderOffset);
    std::string header(CentralHeaderLen, '\0');
    if (archive_->Read(header.data(), CentralHeaderLen) == CentralHeaderLen &&
        Get32(reinterpret_cast<const uint8_t*>(header.data())) == CentralFileHeaderSig) {
        const uint8_t* h = reinterpret_cast<const uint8_t*>(header.data());
        const size_t rest = size_t(Get16(h + 28)) + Get16(h + 30) + Get16(h + 32);
        header.resize(CentralHeaderLen + rest);
        if (archive_->Read(header.data() + CentralHeaderLen, int64_t(rest)) != int64_t(rest))
            header.clear();
    } else {
        header.clear();
    }
    archive_->SetPosition(back);
    CloseZipFile();
    return header;
}

void TZipReader::SetEntryComment(int index, const std::string& comment)
{
    if (EntryComment(index) == comment)
        return;
    Entry(index).SetFileComment(comment);
    endCentral_.Modified = true;
}

std::string TZipReader::ArchiveComment()
{
    if (!endCentral_.HasComment())
        return {};
    if (!endCentral_.CommentText()) {
        OpenZipFile();
        const int64_t back = archive_->Position();
        const int64_t length = int64_t(endCentral_.CommentLength());
        std::string comment(size_t(length), '\0');
        archive_->SetPosition(endCentral_.CommentPosition);
        comment.resize(size_t(std::max<int64_t>(0, archive_->Read(comment.data(), length))));
        archive_->SetPosition(back);
        endCentral_.SetCommentText(comment);
        if (MultiMode() == TMultiMode::mmNone)
            CloseZipFile();
    }
    return endCentral_.CommentText().value_or(std::string());
}

void TZipReader::SetArchiveComment(const std::string& comment)
{
    if (ArchiveComment() == comment)
        return;
    endCentral_.SetCommentText(comment);
    endCentral_.Modified = true;
}

void TZipReader::SortEntries(TZipSortMode mode)
{
    sorted_.reset();
    SortMode = mode;
    if (mode == TZipSortMode::ByNone || !entries_)
        return;
    sorted_ = std::make_unique<TSortedZip>(TDuplicateRule::AcceptEqual, false, mode);
    for (int i = 0; i < entries_->Count(); ++i)
        sorted_->Append(entries_->Get(i));
    sorted_->Sort();
}
