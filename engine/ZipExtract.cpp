// Extraction: choosing entries, placing output files, the password check,
// decoding stored and deflated data with its CRC-32, and the traditional
// ZIP cipher.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <isa-l/igzip_lib.h>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <tuple>
#include <unordered_set>

#include "engine/Crc32.h"
#include "engine/Wildcard.h"
#include "engine/ZipAes.h"
#include "engine/ZipDeflate.h"
#include "engine/ZipExceptions.h"
#include "engine/ZipMethods.h"
#include "engine/ZipReader.h"
#include "engine/ZipUtils.h"
#include "platform/Hooks.h"

namespace {

// Entry data moves in chunks of this size; only a deflated entry of up to
// WholeEntryLimit bytes (packed and unpacked) is held in memory whole.
constexpr size_t ChunkSize = 32768;
constexpr uint64_t WholeEntryLimit = 8 << 20;
// Bytes and entries decoded ahead and not yet taken (empty entries hold no
// bytes, but each holds its task). A worker reads and decodes in chunks of
// AheadChunk; a large entry being extracted hands its output over as it
// comes, with at most StreamedBytes of it waiting.
constexpr int64_t AheadBytes = 24 << 20;
constexpr size_t AheadEntries = 4096;
constexpr size_t AheadChunk = 256 << 10;
constexpr size_t StreamedBytes = 4 << 20;
// An LZMA or XZ decoder holds a window of up to its entry's size, commonly
// 16 or 32 MiB, that AheadBytes does not count. Of the entries larger than
// LargeWindow, one at a time is decoded ahead: one that comes while another
// is ahead, or was left, is left to the calling thread in its turn, and the
// workers go on past it.
constexpr uint64_t LargeWindow = 16 << 20;

const char* const AesCodeMismatch = "the authentication code does not match: the encrypted data was changed";

// Inflates a raw deflate stream: refill gives the next input (0 when there
// is none), out takes the output a chunk at a time and flush is called with
// each chunk's length. Returns why the stream is broken, or nothing. ISA-L's
// inflater streams two to three times as fast as zlib's.
std::string InflateRaw(const std::function<size_t(const uint8_t*&)>& refill, std::span<uint8_t> out,
                       const std::function<void(size_t)>& flush)
{
    // 85 KiB of state: the window lives in it.
    const auto state = std::make_unique<inflate_state>();
    isal_inflate_init(state.get());
    state->next_out = out.data();
    state->avail_out = uint32_t(out.size());
    for (bool needInput = true;;) {
        if (needInput) {
            const uint8_t* data = nullptr;
            const size_t n = refill(data);
            if (n == 0)
                return "the compressed data ends before its stream does";
            state->next_in = const_cast<uint8_t*>(data);
            state->avail_in = uint32_t(n);
        }
        const auto before = std::tuple(state->avail_in, state->avail_out, state->block_state);
        // The entry fails and the run goes on. (A wrong password passes the
        // check byte once in 256 times and then yields garbage too.)
        if (isal_inflate(state.get()) < 0)
            return "the compressed data is broken";
        const bool finished = state->block_state == ISAL_BLOCK_FINISH;
        if (state->avail_out == 0 || finished) {
            flush(out.size() - state->avail_out);
            if (finished)
                return {};
            state->next_out = out.data();
            state->avail_out = uint32_t(out.size());
            needInput = false;  // bits it holds may make more output yet
            continue;
        }
        // With room left it stopped for want of input, unless the last block
        // was read: the rest comes out on the next call.
        needInput = state->avail_in == 0 && state->block_state != ISAL_BLOCK_INPUT_DONE;
        if (!needInput && std::tuple(state->avail_in, state->avail_out, state->block_state) == before)
            return "the compressed data is broken";  // it would repeat forever
    }
}

// A refill for InflateRaw that gives data, held whole, once.
std::function<size_t(const uint8_t*&)> GivenOnce(std::span<const uint8_t> data)
{
    return [data, given = false](const uint8_t*& next) mutable {
        next = data.data();
        const size_t n = given ? 0 : data.size();
        given = true;
        return n;
    };
}

// Decodes an entry of one of the other methods from refill's chunks into
// flush, as DecodeMethod does.
void DecodeOtherMethod(const TMethodEntry& entry, const std::function<size_t(const uint8_t*&)>& refill,
                       const std::function<void(const uint8_t*, size_t)>& flush, std::string& failure)
{
    struct Streams : TMethodStreams {
        const std::function<size_t(const uint8_t*&)>& refill;
        const std::function<void(const uint8_t*, size_t)>& flush;
        Streams(const std::function<size_t(const uint8_t*&)>& r, const std::function<void(const uint8_t*, size_t)>& f)
            : refill(r), flush(f)
        {
        }
        size_t Refill(const uint8_t*& data) override { return refill(data); }
        void Flush(const uint8_t* data, size_t n) override { flush(data, n); }
    } streams(refill, flush);
    DecodeMethod(entry, streams, failure);
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix)
{
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [&](char a, char b) { return fold(a) == fold(b); });
}

}  // namespace

// ---- The cipher -------------------------------------------------------------

void TZipKeys::InitKeys(const std::string& password)
{
    *this = TZipKeys();
    for (unsigned char c : password)
        UpdateKeys(c);
}

void TZipKeys::UpdateKeys(uint8_t plain)
{
    key0_ = Crc32Step(key0_, plain);
    key1_ = (key1_ + (key0_ & 0xFF)) * 134775813u + 1;
    key2_ = Crc32Step(key2_, uint8_t(key1_ >> 24));
}

uint8_t TZipKeys::StreamByte() const
{
    const uint32_t t = (key2_ & 0xFFFF) | 2;
    return uint8_t(((t * (t ^ 1)) & 0xFFFF) >> 8);
}

void TZipKeys::DecryptBuffer(uint8_t* buffer, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        buffer[i] ^= StreamByte();
        UpdateKeys(buffer[i]);
    }
}

uint8_t TZipKeys::EncryptByte(uint8_t plain)
{
    const uint8_t t = StreamByte();
    UpdateKeys(plain);
    return plain ^ t;
}

// ---- Settings -----------------------------------------------------------------

void TZipReader::SetDestDir(const std::string& folder)
{
    std::string chosen = folder;
    if (chosen == "?") {
        chosen = destDir_.empty() || !platform::DirectoryExists(destDir_) ? platform::GetCurrentDir() : destDir_;
        if (!platform::FolderDialog(chosen))
            throw EUserCanceled("User canceled Set Desination Directory");
        platform::ForceDirectories(chosen);
    }
    if (chosen.size() > 1 && chosen.back() == '/')
        chosen.pop_back();
    destDir_ = chosen;
}

void TZipReader::SetRootDir(const std::string& root)
{
    rootDir_ = root;
    if (!rootDir_.empty() && rootDir_.back() != '/')
        rootDir_ += '/';
    RelativePathList = {rootDir_};
}

// ---- The run ------------------------------------------------------------------

namespace {

// A Unix entry whose mode says symbolic link: its data is the link's target.
bool IsLinkEntry(const TZipHeaderInfo& entry)
{
    return entry.VersionMadeBy >> 8 == 3 && ((entry.ExternalAttributes >> 16) & 0170000) == 0120000;
}

// The longest link target taken from an archive (the system's own limit).
constexpr uint64_t MaxLinkTarget = 4095;

// Sizes from a header, as counts the run can add up: none above INT64_MAX.
int64_t Clamped(uint64_t size)
{
    return int64_t(std::min<uint64_t>(size, INT64_MAX));
}

int64_t SaturatedSum(int64_t a, int64_t b)
{
    return b > INT64_MAX - a ? INT64_MAX : a + b;
}

// Where an output file goes: the folder to start from (the caller's choice,
// whose links are followed), the folder below it (from the archive, walked
// without following links), and the file's own name.
struct TOutputPlace {
    std::string root;
    std::string folder;
    std::string name;
};

// Splits fileName, which starts with root unless an event handler chose
// another place; then that name's folder is the caller's choice as a whole.
TOutputPlace PlaceOf(const std::string& root, const std::string& fileName)
{
    const std::string prefix = root + '/';
    TOutputPlace place;
    std::string below;
    if (fileName.compare(0, prefix.size(), prefix) == 0) {
        place.root = root;
        below = fileName.substr(prefix.size());
    } else {
        const size_t slash = fileName.rfind('/');
        place.root = slash == std::string::npos ? "." : slash == 0 ? "/" : fileName.substr(0, slash);
        below = fileName.substr(slash == std::string::npos ? 0 : slash + 1);
    }
    const size_t slash = below.rfind('/');
    if (slash != std::string::npos)
        place.folder = below.substr(0, slash);
    place.name = below.substr(slash == std::string::npos ? 0 : slash + 1);
    return place;
}

// A link target that resolves inside the destination, for a link in folder
// (relative to the destination, walked without links). ".." may only lead
// the target and climb no higher than the destination: it then climbs real
// folders, and the names after it only descend.
bool TargetStaysInside(const std::string& folder, const std::string& target)
{
    if (target.empty() || target[0] == '/' || target.find('\0') != std::string::npos)
        return false;
    int depth = 0;
    for (size_t start = 0; start < folder.size();) {
        size_t end = std::min(folder.find('/', start), folder.size());
        if (end > start && folder.compare(start, end - start, ".") != 0)
            ++depth;
        start = end + 1;
    }
    bool descending = false;
    for (size_t start = 0; start < target.size();) {
        const size_t end = std::min(target.find('/', start), target.size());
        const std::string part = target.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part != "..")
            descending = true;
        else if (descending || --depth < 0)
            return false;
    }
    return true;
}

// The names of a '/'-separated path, without empty and "." ones.
std::vector<std::string> NamesOf(const std::string& path)
{
    std::vector<std::string> names;
    for (size_t start = 0; start <= path.size();) {
        const size_t end = std::min(path.find('/', start), path.size());
        if (end > start && path.compare(start, end - start, ".") != 0)
            names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

std::string Joined(const std::vector<std::string>& names)
{
    std::string path;
    for (const std::string& name : names)
        path += (path.empty() ? "" : "/") + name;
    return path;
}

// Whether target, for a link in folder below root, resolves inside root by
// what is on disk now. A link on its way that the run made (made is its
// path below root) had its own target checked: it is followed. Any other
// link on the way may lead anywhere, and so may a climb above root.
bool ResolvesInside(const platform::SafeFolder& root, const std::string& folder, const std::string& target,
                    const std::set<std::string>& made)
{
    std::vector<std::string> at = NamesOf(folder);
    const std::vector<std::string> targetNames = NamesOf(target);
    std::deque<std::string> rest(targetNames.begin(), targetNames.end());
    bool missing = false;  // a name on the way is not there: nothing further is either
    for (int followed = 0; !rest.empty();) {
        std::string name = std::move(rest.front());
        rest.pop_front();
        if (name == "..") {
            if (at.empty())
                return false;
            at.pop_back();
            continue;
        }
        at.push_back(std::move(name));
        if (missing)
            continue;
        const std::string path = Joined(at);
        const platform::EntryType type = root.TypeOf(path);
        missing = type == platform::EntryType::None;
        if (type != platform::EntryType::Link)
            continue;
        std::string next;
        // As many links in a row as the system itself follows.
        if (!made.count(path) || ++followed > 40 || !root.LinkTarget(path, next) || next.empty() || next[0] == '/')
            return false;
        at.pop_back();
        const std::vector<std::string> nextNames = NamesOf(next);
        rest.insert(rest.begin(), nextNames.begin(), nextNames.end());
    }
    return true;
}

// Why the system cannot take path as a file's name: it is longer than
// PATH_MAX with its terminating NUL, or one of its names longer than
// NAME_MAX. Empty when it can.
std::string OverlongPath(const std::string& path)
{
    if (path.size() >= PATH_MAX)
        return "its output path of " + std::to_string(path.size()) + " bytes is longer than the system's limit of " +
               std::to_string(PATH_MAX - 1);
    for (size_t start = 0; start < path.size();) {
        const size_t end = std::min(path.find('/', start), path.size());
        if (end - start > NAME_MAX)
            return "a name of " + std::to_string(end - start) +
                   " bytes in its output path is longer than the system's limit of " + std::to_string(NAME_MAX);
        start = end + 1;
    }
    return {};
}

}  // namespace

struct TZipReader::TUnZipRun {
    std::vector<uint8_t> input = std::vector<uint8_t>(ChunkSize);
    std::vector<uint8_t> output = std::vector<uint8_t>(ChunkSize);
    int numFiles = 0;
    int64_t totalBytes = 0;  // of the selected entries, less those skipped
    int64_t runWritten = 0;
    int fileCount = 0;
    bool retry = false;  // a new password asks for the entry once more

    // A link entry whose target was read: it is made after every file.
    struct TLink {
        int index;
        TOutputPlace place;
        std::string fileName;
        std::string target;
    };
    std::vector<TLink> links;
    // The links made so far: their paths below their root, by root.
    std::map<std::string, std::set<std::string>> madeLinks;
    // A folder entry made by the run: index and folder below the destination.
    std::vector<std::pair<int, std::string>> folders;
    // The folders the run made, that a cancel takes back when they are still
    // empty: the destination's missing folders, deepest first, and those
    // below a root as the root and the path below it, parents first.
    std::vector<std::string> madeDestination;
    std::vector<std::pair<std::string, std::string>> madeBelow;

    // Opens the folder relative below root, making what is missing of it.
    std::shared_ptr<platform::SafeFolder> MakeFolder(const std::string& root, const std::string& relative)
    {
        std::vector<std::string> made;
        auto folder = std::make_shared<platform::SafeFolder>(root, relative, true, &made);
        for (std::string& path : made)
            madeBelow.emplace_back(root, std::move(path));
        return folder;
    }

    // Removes the folders the run made that are still empty, deepest first.
    void RemoveEmptyFoldersMade()
    {
        for (auto made = madeBelow.rbegin(); made != madeBelow.rend(); ++made) {
            const auto& [root, path] = *made;
            const size_t slash = path.rfind('/');
            const platform::SafeFolder parent(root, slash == std::string::npos ? "" : path.substr(0, slash), false);
            if (parent.IsOpen())
                parent.RemoveEmptyFolder(path.substr(slash + 1));
        }
        for (const std::string& path : madeDestination)
            platform::RemoveDir(path);
    }
    // The output folder of the last entry, kept open for the next entries
    // that go there too.
    std::string folderKey;
    std::shared_ptr<platform::SafeFolder> folder;

    // The entry being extracted, and the file it goes to.
    TZipHeaderInfo work;
    std::string fileName;
    TLFNFileStream* out = nullptr;
    std::string* text = nullptr;  // the output of a link entry: its target
    int64_t toRead = 0;           // compressed bytes not yet read
    uint32_t crc = 0xFFFFFFFF;
    int64_t written = 0;
    std::string failure;       // why the data could not be decoded whole
    bool unsupported = false;  // the method is one this engine cannot decode
    // An AES-encrypted entry: its extra block, its cipher once the password
    // passed, and whether its CRC is kept (AE-1).
    std::optional<TAesField> aesField;
    std::unique_ptr<TAesCipher> aes;
    bool keyedAhead = false;  // aes is a copy of the cipher a worker decodes with
    bool checkCrc = true;

    // A small deflated entry in memory.
    std::vector<uint8_t> packed, whole;

    // Entries decoded ahead on the workers, by index, the next entry to look
    // at, the bytes they hold, and the archive as they read it. The
    // destructor stops the workers' reading before they are waited for.
    std::map<int, TTask<TDecodedAhead>> ahead;
    int nextAhead = 0;
    int64_t aheadBytes = 0;
    int largeWindows = 0;    // of the entries ahead
    int lastLargeLeft = -1;  // the last entry with a large window left to the calling thread
    std::shared_ptr<THugeFileStream> aheadFile;
    std::shared_ptr<std::atomic<bool>> stop = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<TWorkers> workers;
    ~TUnZipRun() { *stop = true; }

    // A file that cannot be written (a full disk) stops the run: the next
    // one would fare no better.
    [[noreturn]] void CantWrite(int code) const
    {
        throw ECantWriteUCF(work.Directory() + work.FileName() + ": cannot write " + fileName + ": " +
                            ErrorText(code));
    }
};

// An entry decoded on a worker ahead of its turn: where its local header
// lies, its sizes and method, and what came out: the data (kept only when
// extracting), its CRC register and length, and why it failed. A read past
// the archive's end or data longer than recorded raise in the calling
// thread when it takes the result, as they would have there.
struct TZipReader::TDecodedAhead {
    int64_t headerAt = 0;
    int64_t packedSize = 0;
    uint64_t size = 0;
    uint16_t method = 0;  // for AES, the one under it once the local extra field is read
    uint16_t flags = 0;
    bool aes = false;
    std::string password;  // an AES entry's, as it was when the entry was given
    bool keep = false;
    bool stream = false;  // kept, and handed over in chunks as they come
    int64_t planned = 0;  // the bytes it counts against AheadBytes
    bool largeWindow = false;
    int64_t dataAt = -1;  // from the local header; -1: none found there
    uint32_t crc = 0xFFFFFFFF;
    std::atomic<int64_t> written{0};
    std::atomic<bool> abandoned{false};  // its entry was skipped: stop
    std::string failure;
    std::vector<uint8_t> output;

    // A streamed entry's chunks not yet taken, and whether the worker is
    // done with it (dataAt is known by then, or with the first chunk). An
    // AES entry's salt and password check as read, and a copy of its cipher
    // before any data, once the password passed: the calling thread goes on
    // from it instead of deriving the keys again.
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::vector<uint8_t>> chunks;
    size_t queued = 0;
    bool ended = false;
    std::string aesHead;
    std::unique_ptr<TAesCipher> keyed;

    void Decode(platform::Handle archive, const std::atomic<bool>& stop);
    // Waits up to 10 ms for the next chunk of a streamed entry: true with
    // one in chunk, or with chunk empty at the end of the entry.
    bool Next(std::vector<uint8_t>& chunk);

private:
    // While decoding: the archive, where the next compressed byte lies and
    // how many are left, and an AES entry's cipher.
    platform::Handle archive_ = platform::InvalidHandle;
    const std::atomic<bool>* stop_ = nullptr;
    int64_t at_ = 0, left_ = 0;
    std::unique_ptr<TAesCipher> cipher_;

    // Finds the data after the local header (and an AES entry's salt and
    // password check, keyed when the password passes); false when the
    // calling thread is to decode the entry itself.
    bool FindData();
    bool OpenAes(const std::string& extra);
    // Reads and decrypts up to n compressed bytes; raises at the archive's end.
    size_t Read(uint8_t* buffer, size_t n);
    // Takes n decoded bytes: the part that fits when there are more than
    // recorded, then raises.
    void Take(const uint8_t* data, size_t n);
    void Hand(const uint8_t* data, size_t n);
    void DecodeData();
    // An AES entry's authentication code, after its data.
    void CheckCode();
};

bool TZipReader::TDecodedAhead::Next(std::vector<uint8_t>& chunk)
{
    std::unique_lock hold(lock);
    if (!changed.wait_for(hold, std::chrono::milliseconds(10), [&] { return !chunks.empty() || ended; }))
        return false;
    chunk.clear();
    if (!chunks.empty()) {
        chunk = std::move(chunks.front());
        chunks.pop_front();
        queued -= chunk.size();
        changed.notify_all();
    }
    return true;
}

void TZipReader::TDecodedAhead::Decode(platform::Handle archive, const std::atomic<bool>& stop)
{
    struct End {
        TDecodedAhead& ahead;
        ~End()
        {
            const std::lock_guard hold(ahead.lock);
            ahead.ended = true;
            ahead.changed.notify_all();
        }
    } end{*this};
    archive_ = archive;
    stop_ = &stop;
    if (!FindData())
        return;  // the calling thread finds out what is wrong
    DecodeData();
    if (cipher_ && failure.empty())
        CheckCode();
}

bool TZipReader::TDecodedAhead::FindData()
{
    uint8_t local[30];
    if (platform::FileReadAt(archive_, local, 30, headerAt) != 30 || std::memcmp(local, "PK\x03\x04", 4) != 0)
        return false;
    const uint16_t nameLength = Get16(local + 26), extraLength = Get16(local + 28);
    at_ = headerAt + 30 + nameLength + extraLength;
    left_ = packedSize;
    if (aes) {
        std::string extra(extraLength, '\0');
        if (platform::FileReadAt(archive_, extra.data(), extraLength, headerAt + 30 + nameLength) != extraLength ||
            !OpenAes(extra))
            return false;
    }
    dataAt = at_;
    return true;
}

bool TZipReader::TDecodedAhead::OpenAes(const std::string& extra)
{
    const std::optional<TAesField> field = FindAesField(extra);
    if (!field || !(field->method == 0 || field->method == 8 || MethodDecoded(field->method)))
        return false;
    const int64_t headLength = int64_t(field->SaltLength()) + 2;
    if (left_ < headLength + 10)
        return false;
    std::string head(size_t(headLength), '\0');
    if (platform::FileReadAt(archive_, head.data(), headLength, at_) != headLength)
        return false;
    auto cipher = std::make_unique<TAesCipher>(field->strength, password, reinterpret_cast<const uint8_t*>(head.data()));
    if (cipher->Verifier() != std::array{uint8_t(head[headLength - 2]), uint8_t(head[headLength - 1])})
        return false;
    {
        const std::lock_guard hold(lock);
        aesHead = head;
        keyed = std::make_unique<TAesCipher>(*cipher);
    }
    changed.notify_all();
    cipher_ = std::move(cipher);
    method = field->method;
    at_ += headLength;
    left_ -= headLength + 10;
    return true;
}

size_t TZipReader::TDecodedAhead::Read(uint8_t* buffer, size_t n)
{
    if (*stop_ || abandoned)
        throw EUserCanceled();
    n = size_t(std::min<int64_t>(int64_t(n), left_));
    if (n > 0 && platform::FileReadAt(archive_, buffer, int64_t(n), at_) != int64_t(n))
        throw EFatalUnzipError("Premature end of file reached");
    at_ += int64_t(n);
    left_ -= int64_t(n);
    if (cipher_)
        cipher_->Decrypt(buffer, n);
    return n;
}

void TZipReader::TDecodedAhead::Hand(const uint8_t* data, size_t n)
{
    if (n == 0)
        return;
    crc = Crc32Update(crc, data, n);
    if (stream) {
        // Waits for room while the calling thread writes what came before.
        std::unique_lock hold(lock);
        while (!changed.wait_for(hold, std::chrono::milliseconds(10),
                                 [&] { return queued < StreamedBytes || *stop_ || abandoned; })) {
        }
        if (*stop_ || abandoned)
            throw EUserCanceled();
        chunks.emplace_back(data, data + n);
        queued += n;
        changed.notify_all();
    } else if (keep) {
        output.insert(output.end(), data, data + n);
    }
    written += int64_t(n);
}

void TZipReader::TDecodedAhead::Take(const uint8_t* data, size_t n)
{
    // Data longer than recorded: the calling thread writes stored and
    // deflated data in pieces of ChunkSize, the other methods' chunks in
    // pieces of AheadChunk, up to the first piece that does not fit. The
    // same part of it is handed over here, so that the bytes and progress
    // reported are the same.
    if (uint64_t(written) + n > size) {
        const size_t piece = method == 0 || method == 8 ? ChunkSize : AheadChunk;
        Hand(data, size_t(size - uint64_t(written)) / piece * piece);
        throw EBiggerThanUncompressed();
    }
    Hand(data, n);
}

void TZipReader::TDecodedAhead::DecodeData()
{
    std::vector<uint8_t> in(AheadChunk), out(AheadChunk);
    const auto take = [&](const uint8_t* data, size_t n) { Take(data, n); };
    const auto refill = [&](const uint8_t*& data) {
        data = in.data();
        return Read(in.data(), in.size());
    };
    if (method == 0) {
        while (const size_t n = Read(in.data(), in.size()))
            Take(in.data(), n);
    } else if (method != 8) {
        DecodeOtherMethod({method, flags, size}, refill, take, failure);
    } else if (uint64_t(left_) <= WholeEntryLimit && size <= WholeEntryLimit) {
        std::vector<uint8_t> packed(static_cast<size_t>(left_)), whole(static_cast<size_t>(size));
        Read(packed.data(), packed.size());
        if (InflateWhole(packed, whole))
            Take(whole.data(), whole.size());
        else  // the stream tells what is wrong
            failure = InflateRaw(GivenOnce(packed), out, [&](size_t n) { Take(out.data(), n); });
    } else {
        failure = InflateRaw(refill, out, [&](size_t n) { Take(out.data(), n); });
    }
}

void TZipReader::TDecodedAhead::CheckCode()
{
    // Read where the data ended, as the calling thread reads it.
    uint8_t code[10];
    if (platform::FileReadAt(archive_, code, 10, at_) != 10)
        throw EFatalUnzipError("Premature end of file reached");
    if (cipher_->Code() != std::to_array(code))
        failure = AesCodeMismatch;
}

int TZipReader::UnZip()
{
    const bool wasWorking = working_;
    working_ = true;
    cancel_ = false;
    auto restore = [&] {
        CloseZipFile();
        working_ = wasWorking;
        cancel_ = false;
    };
    int count = 0;
    try {
        const TArchiveKeptOpen open(*this);
        ReadArchive();
        OpenZipFile();
        count = RunExtraction();
    } catch (...) {
        restore();
        throw;
    }
    restore();
    return count;
}

int TZipReader::RunExtraction()
{
    const bool wasReading = reading_;
    const bool keepOpen = KeepZipOpen;
    reading_ = true;
    KeepZipOpen = true;  // switching parts must not close the archive
    cancel_ = false;
    TUnZipRun run;
    aheadCounts_ = {};
    const TZipSortMode sortMode = SortMode;
    const bool resort = endCentral_.ThisDisk() != 0 && sortMode != TZipSortMode::ByNone;
    auto finish = [&] {
        FilesList.clear();
        if (resort)
            SortEntries(sortMode);
        KeepZipOpen = keepOpen;
        reading_ = wasReading;
        if (OnUnZipComplete)
            OnUnZipComplete(*this, run.fileCount);
    };
    try {
        CheckOverlaps();
        if (!TestOnly && !destDir_.empty() && !platform::DirectoryExists(destDir_)) {
            for (std::filesystem::path missing = destDir_;
                 !missing.empty() && missing != missing.parent_path() && !platform::DirectoryExists(missing);
                 missing = missing.parent_path())
                run.madeDestination.push_back(missing);
            platform::ForceDirectories(destDir_);
        }
        // A multi-part archive is read part after part.
        if (resort)
            SortEntries(TZipSortMode::ByNone);

        SelectEntries(run);
        bool stopNow = false;
        if (OnStartUnZipInfo)
            OnStartUnZipInfo(*this, run.numFiles, run.totalBytes, stopNow);
        if (run.numFiles > 0 && !stopNow) {
            run.workers = std::make_unique<TWorkers>(Threads > 0 ? Threads : DefaultThreads());
            for (int i = 0; i < EntryCount(); ++i) {
                if (!DoAll && !Entry(i).Selected)
                    continue;
                DecodeAhead(run, i);
                do
                    ExtractEntry(run, i);
                while (run.retry);
                if (const auto done = run.ahead.find(i); done != run.ahead.end()) {
                    // An entry decoded for nothing (it was skipped) is stopped
                    // and counts until its worker is done with it.
                    if (done->second.done.valid()) {
                        done->second.work->abandoned = true;
                        WaitPolling(done->second.done);
                    }
                    run.aheadBytes -= done->second.work->planned;
                    run.largeWindows -= done->second.work->largeWindow;
                    run.ahead.erase(done);
                }
            }
            MakeLinks(run);
            SetFolderAttributes(run);
        }
    } catch (const EUserCanceled&) {
        run.RemoveEmptyFoldersMade();
        finish();
        throw;
    } catch (...) {
        finish();
        throw;
    }
    finish();
    return run.fileCount;
}

// Marks the entries the run extracts (all, or those FilesList names or
// matches; folder entries only with RecreateDirs); gives their number and
// their bytes in run.numFiles and run.totalBytes.
void TZipReader::SelectEntries(TUnZipRun& run)
{
    run.numFiles = EntryCount();
    const std::unordered_set<std::string> exact =
        ExactNames ? std::unordered_set<std::string>(FilesList.begin(), FilesList.end())
                   : std::unordered_set<std::string>();
    for (int i = 0; i < EntryCount(); ++i) {
        Poll();
        TZipHeaderInfo& e = Entry(i);
        e.Selected = DoAll;
        if (e.FileName().empty() && !RecreateDirs) {
            e.Selected = false;
        } else if (!DoAll) {
            const std::string stored = e.Directory() + e.FileName();
            const auto matches = [&](const std::string& pattern) { return MatchesPattern(pattern, stored); };
            e.Selected = ExactNames ? exact.count(stored) != 0
                                    : std::any_of(FilesList.begin(), FilesList.end(), matches);
        }
        if (e.Selected)
            run.totalBytes = SaturatedSum(run.totalBytes, Clamped(e.UncompressedSize()));
        else
            --run.numFiles;
    }
}

void TZipReader::CheckOverlaps()
{
    // Every entry's local header (with its name and extra field, of the
    // lengths that header gives) and data must lie apart from the next
    // entry's: an archive whose entries share their bytes expands a small
    // file into a huge output. A data descriptor is not counted, so a tight
    // but sound archive is never taken for one.
    struct Span {
        uint64_t disk, start;
        int index;
    };
    std::vector<Span> spans;
    spans.reserve(size_t(EntryCount()));
    for (int i = 0; i < EntryCount(); ++i) {
        const TZipHeaderInfo& e = *entries_->Get(i);
        spans.push_back({e.DiskNumberStart(), e.LocalHeaderOffset(), i});
    }
    // Part by part, each in offset order: every local header is read once,
    // and each part opened once.
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.disk != b.disk ? a.disk < b.disk : a.start < b.start; });
    uint64_t end = 0;
    for (size_t k = 0; k < spans.size(); ++k) {
        Poll();
        if (k > 0 && spans[k].disk == spans[k - 1].disk && spans[k].start < end)
            throw EBadZipFile("Entries overlap each other (a possible zip bomb)");
        const TZipHeaderInfo& e = *entries_->Get(spans[k].index);
        // A local header that cannot be read counts its fixed 30 bytes; the
        // entry fails on its own when it is extracted.
        uint64_t header = 30;
        if (FindEntryData(e).empty())
            header = uint64_t(archive_->Position()) - spans[k].start;
        const auto sum = [](uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; };
        end = sum(sum(spans[k].start, header), e.CompressedSize());
    }
}

std::string TZipReader::OutputFolder(const TZipHeaderInfo& entry) const
{
    if (!RecreateDirs || entry.Directory().empty())
        return {};
    std::string folder = entry.Directory();
    for (const std::string& prefix : RelativePathList)
        if (StartsWithNoCase(folder, prefix)) {
            folder.erase(0, prefix.size());
            break;
        }
    // Whatever the archive says, the folder stays below the destination: an
    // absolute folder is taken relative to it and ".." goes nowhere.
    return ContainedFolder(folder);
}

void TZipReader::SkipEntry(TUnZipRun& run, TSkipReason reason, const std::string& fileName, int index)
{
    bool retry = false;
    if (OnSkippingFile)
        OnSkippingFile(*this, reason, fileName, index, retry);
    run.totalBytes -= Clamped(run.work.UncompressedSize());
}

void TZipReader::FailEntry(TUnZipRun& run, int index, const std::string& what)
{
    if (OnEntryError)
        OnEntryError(*this, index, what);
    run.totalBytes -= Clamped(run.work.UncompressedSize());
}

std::string TZipReader::FindEntryData(const TZipHeaderInfo& entry, std::string* localExtra)
{
    const uint64_t disk = entry.DiskNumberStart();
    if (disk >= uint64_t(partCount_))
        return "its part number " + std::to_string(disk + 1) + " lies beyond the archive's " +
               std::to_string(partCount_) + " parts";
    const uint64_t offset = entry.LocalHeaderOffset();
    const std::string missing = "no local header at offset " + std::to_string(offset);
    if (offset > uint64_t(INT64_MAX))
        return missing;
    try {
        if (MultiMode() != TMultiMode::mmNone && (!archive_ || int(disk) != currentPart_))
            OpenPart(int(disk) + 1);
        uint8_t local[30];
        archive_->SetPosition(int64_t(offset));
        if (archive_->Read(local, 30) != 30 || std::memcmp(local, "PK\x03\x04", 4) != 0)
            return missing;
        archive_->Seek(local[26] | local[27] << 8, THugeStream::soCurrent);
        const int64_t extraLength = local[28] | local[29] << 8;
        if (localExtra) {
            localExtra->resize(size_t(extraLength));
            if (archive_->Read(localExtra->data(), extraLength) != extraLength)
                return missing;
        } else {
            archive_->Seek(extraLength, THugeStream::soCurrent);
        }
    } catch (const EFileStreamError& e) {
        return e.what();  // a part that cannot be opened
    } catch (const EStreamError&) {
        return missing;
    }
    return {};
}

// Where one entry goes: found by PlaceEntry, read by the stages after it.
struct TZipReader::TEntryTarget {
    std::string root;        // the destination, "." when none is set
    std::string storedName;  // folder and name as the archive has them
    std::string localExtra;  // the local header's extra field (read for AES entries)
    std::string fileName;    // the output file's name, as the events see it
    TOutputPlace place;
    std::shared_ptr<platform::SafeFolder> dir;  // none when the run only tests
    platform::EntryType existing = platform::EntryType::None;  // what stands at the name
    std::string temp;  // the name the data is written under
    platform::Handle handle = platform::InvalidHandle;
};

// One entry of the run, in five stages: place (where its file goes), decide
// (its cipher and password; whether what stands at the name is replaced),
// decode and check (into a new file, or a link's target kept for later),
// finish (the file takes its name, or goes again). Every stage that stops
// the entry has reported why; run.retry asks for the entry again.
void TZipReader::ExtractEntry(TUnZipRun& run, int index)
{
    run.retry = false;
    run.work.Assign(Entry(index));
    TEntryTarget target;
    if (!PlaceEntry(run, index, target) || !PrepareCipher(run, index, target))
        return;
    if (target.dir && IsLinkEntry(run.work)) {
        KeepLinkTarget(run, index, target);
        return;
    }
    if (!DecideOverwrite(run, index, target))
        return;
    std::unique_ptr<TLFNFileStream> out;
    if (target.dir && !(out = CreateOutput(run, index, target)))
        return;
    const bool good = DecodeToOutput(run, index, target, std::move(out));
    FinishEntry(run, index, target, good);
}

// Place: takes the entry in run.work; gives the target's names, the local
// extra field and the open output folder. False when the entry ends here: a
// folder entry made, a name no file can have, data that cannot be found, or
// OnStartUnZip said skip.
bool TZipReader::PlaceEntry(TUnZipRun& run, int index, TEntryTarget& target)
{
    const TZipHeaderInfo& work = run.work;
    target.root = destDir_.empty() ? "." : destDir_;
    const std::string folder = OutputFolder(work);
    // A path the system cannot hold fails before any folder is made for it.
    if (const std::string overlong = OverlongPath(target.root + '/' + folder + work.FileName());
        !TestOnly && !overlong.empty()) {
        FailEntry(run, index, overlong);
        return false;
    }
    if (work.FileName().empty()) {
        // Its time and mode are set once its contents are written.
        if (RecreateDirs && !TestOnly && !folder.empty() && run.MakeFolder(target.root, folder)->IsOpen())
            run.folders.push_back({index, folder});
        ++run.fileCount;
        return false;
    }
    target.storedName = work.Directory() + work.FileName();
    // A NUL ends the name for the system, which would then write another file.
    if (target.storedName.find('\0') != std::string::npos) {
        SkipEntry(run, TSkipReason::skBadName, target.storedName, index);
        return false;
    }
    const std::string failure =
        FindEntryData(work, work.CompressionMethod == MethodAes ? &target.localExtra : nullptr);
    if (!failure.empty()) {
        FailEntry(run, index, failure);
        return false;
    }

    target.fileName = target.root + '/' + folder + work.FileName();
    bool skip = false;
    if (OnStartUnZip)
        OnStartUnZip(*this, index, target.fileName, skip);
    if (skip)
        return false;
    if (work.FileName() == "." || work.FileName() == "..") {
        SkipEntry(run, TSkipReason::skCreateError, target.fileName, index);  // no file can have that name
        return false;
    }
    if (!TestOnly && !OpenOutputFolder(run, target)) {
        SkipEntry(run, TSkipReason::skCreateError, target.fileName, index);
        return false;
    }
    return true;
}

// Opens the folder of target.fileName (kept in the run for the next entries
// that go there) into target.place and target.dir; false when it cannot be.
bool TZipReader::OpenOutputFolder(TUnZipRun& run, TEntryTarget& target)
{
    target.place = PlaceOf(target.root, target.fileName);
    const std::string key = target.place.root + '\0' + target.place.folder;
    if (key != run.folderKey || !run.folder) {
        run.folder = run.MakeFolder(target.place.root, target.place.folder);
        run.folderKey = run.folder->IsOpen() ? key : std::string();
    }
    target.dir = run.folder;
    return target.dir->IsOpen();
}

// Decide, the cipher: takes the entry in run.work, gives run.toRead, the
// entry's AES block and method, and its cipher once the password passed.
// False when the entry cannot be decrypted (reported).
bool TZipReader::PrepareCipher(TUnZipRun& run, int index, const TEntryTarget& target)
{
    TZipHeaderInfo& work = run.work;
    run.toRead = Clamped(work.CompressedSize());
    run.aes.reset();
    run.keyedAhead = false;
    run.aesField.reset();
    run.checkCrc = true;
    if (work.CompressionMethod == MethodAes) {
        // Which AES and which method lie under it, from the local header or
        // the central one (found through the entry itself: its working copy
        // does not know where that one lies).
        run.aesField = FindAesField(target.localExtra);
        if (!run.aesField)
            run.aesField = FindAesField(CentralExtra(Entry(index)));
        if (!run.aesField || !work.Encrypted()) {
            FailEntry(run, index, "AES encryption without its extra field");
            return false;
        }
        work.CompressionMethod = run.aesField->method;
        run.checkCrc = run.aesField->version == 1;
    }
    // Data too short for what the cipher puts around it was cut, whatever
    // the password.
    const int64_t cipherBytes = run.aesField ? int64_t(run.aesField->SaltLength()) + 2 + 10 : 12;
    if (work.Encrypted() && run.toRead < cipherBytes) {
        FailEntry(run, index,
                  "the data is cut short: its " + std::to_string(run.toRead) + " bytes cannot hold the " +
                      (run.aesField ? "AES salt, password check and authentication code" : "encryption header"));
        return false;
    }
    try {
        if (work.Encrypted() && !PasswordAccepted(run, index)) {
            SkipEntry(run, TSkipReason::skBadPassword, target.storedName, index);
            return false;
        }
    } catch (const EFatalUnzipError&) {
        FailEntry(run, index, "the archive ends inside the entry's data");
        return false;
    }
    return true;
}

// Decode, a link: takes a link entry placed in target, reads its target into
// run.links, where the link waits to be made after every file.
void TZipReader::KeepLinkTarget(TUnZipRun& run, int index, const TEntryTarget& target)
{
    if (run.work.UncompressedSize() > MaxLinkTarget) {
        FailEntry(run, index, "a link target longer than " + std::to_string(MaxLinkTarget) + " bytes");
        return;
    }
    std::string linkTarget;
    run.text = &linkTarget;
    const bool good = DecodeChecked(run, index);
    run.text = nullptr;
    if (good)
        run.links.push_back({index, target.place, target.fileName, linkTarget});
}

// Decide, the name: takes the placed target, gives what stands at its name;
// asks about an existing file through OverwriteMode and the events, which may
// name another file. False when the entry is not to be written (reported).
bool TZipReader::DecideOverwrite(TUnZipRun& run, int index, TEntryTarget& target)
{
    platform::EntryType& existing = target.existing;
    existing = target.dir ? target.dir->TypeOf(target.place.name) : platform::EntryType::None;
    if (existing != platform::EntryType::None && OverwriteMode != TUZOverwriteMode::Always) {
        const std::string asked = target.fileName;
        if (KeepExistingFile(run, index, *target.dir, target.place.name, target.fileName)) {
            SkipEntry(run, TSkipReason::skNoOverwrite, target.fileName, index);
            return false;
        }
        // The question may have named another file to write.
        if (target.fileName != asked) {
            if (!OpenOutputFolder(run, target)) {
                SkipEntry(run, TSkipReason::skCreateError, target.fileName, index);
                return false;
            }
            existing = target.dir->TypeOf(target.place.name);
        }
    }
    if (existing == platform::EntryType::File && !ReplaceReadOnly && !target.dir->Writable(target.place.name)) {
        SkipEntry(run, TSkipReason::skCreateError, target.fileName, index);
        return false;
    }
    return true;
}

// Takes the decided target, gives the open output file, sized for the
// entry, and target.temp and target.handle; null when it cannot be made
// (reported).
std::unique_ptr<TLFNFileStream> TZipReader::CreateOutput(TUnZipRun& run, int index, TEntryTarget& target)
{
    // A new name is written in place (and removed again should the entry
    // fail). What stands at the name already is replaced only by a whole
    // entry: the data goes into a new file beside it, renamed over it at the
    // end, so a failure leaves the old file as it was and nothing else behind.
    platform::SafeFolder& dir = *target.dir;
    target.temp = target.place.name;
    target.handle = target.existing == platform::EntryType::None ? dir.Create(target.temp)
                                                                 : dir.CreateTemp(target.temp, ".ZBK");
    if (target.handle == platform::InvalidHandle) {
        SkipEntry(run, TSkipReason::skCreateError, target.fileName, index);
        return nullptr;
    }
    auto out = std::make_unique<TLFNFileStream>(target.handle, 8192, FlushFilesOnClose);
    try {
        out->SetSize(Clamped(run.work.UncompressedSize()));
        out->SetPosition(0);
    } catch (const Exception&) {
        out.reset();
        dir.Remove(target.temp);  // a size the file system cannot hold
        SkipEntry(run, TSkipReason::skCreateError, target.fileName, index);
        return nullptr;
    }
    return out;
}

// Decode and check: takes the output (null when testing), decodes the entry
// into it and checks its CRC and length; a good file gets the entry's time
// and mode. The output is closed on return; thrown errors remove it.
// True when the entry is good.
bool TZipReader::DecodeToOutput(TUnZipRun& run, int index, const TEntryTarget& target,
                                std::unique_ptr<TLFNFileStream> out)
{
    run.out = out.get();
    run.fileName = target.fileName;
    bool good;
    try {
        good = DecodeChecked(run, index);
    } catch (...) {
        run.out = nullptr;
        if (out) {
            out.reset();
            target.dir->Remove(target.temp);
        }
        throw;
    }
    run.out = nullptr;
    // Its data is written out: the time and mode go on the file still open,
    // before it takes its name.
    if (good && out)
        SetAttributes(target.handle, run.work);
    return good;
}

// Finish: takes the decoded target and whether it is good; a good file
// takes its name, a failed one is removed. Counts the entry and tells
// OnEndUnZip.
void TZipReader::FinishEntry(TUnZipRun& run, int index, const TEntryTarget& target, bool good)
{
    if (!target.dir) {
        if (good && OnEndUnZip)
            OnEndUnZip(*this, index, target.fileName);
        run.fileCount += good;
        return;
    }
    if (good) {
        if (target.temp == target.place.name || target.dir->Rename(target.temp, target.place.name)) {
            if (OnEndUnZip)
                OnEndUnZip(*this, index, target.fileName);
            ++run.fileCount;
            return;
        }
        SkipEntry(run, TSkipReason::skCreateError, target.fileName, index);
    }
    target.dir->Remove(target.temp);
}

void TZipReader::SetAttributes(platform::Handle file, const TZipHeaderInfo& entry) const
{
    if (entry.ModTimeUtc)
        platform::FileSetTime(file, std::time_t(*entry.ModTimeUtc));
    else
        platform::FileSetDosTime(file, FixDosDateTime(entry.ModDateTime));
    if (!RetainAttributes)
        return;
    const uint32_t mode = entry.ExternalAttributes >> 16;
    if (entry.VersionMadeBy >> 8 == 3 && mode != 0)
        platform::FileSetPermissions(file, mode);
    else if ((entry.ExternalAttributes & platform::faReadOnly) && !entry.FileName().empty())
        platform::FileSetReadOnly(file);  // a DOS folder's read-only bit means nothing to its contents
}

void TZipReader::SetFolderAttributes(TUnZipRun& run)
{
    // The deepest first, so that a parent's time is not moved by the
    // setting of a child's, nor a read-only parent in the way. Each folder
    // is opened itself, walked to without following a link.
    const std::string root = destDir_.empty() ? "." : destDir_;
    for (auto f = run.folders.rbegin(); f != run.folders.rend(); ++f) {
        const platform::SafeFolder folder(root, f->second, false);
        if (folder.IsOpen())
            SetAttributes(folder.Descriptor(), Entry(f->first));
    }
}

bool TZipReader::DecodeChecked(TUnZipRun& run, int index)
{
    const TZipHeaderInfo& work = run.work;
    run.failure.clear();
    run.unsupported = false;
    run.crc = 0xFFFFFFFF;
    run.written = 0;
    try {
        // An AES entry's worker result stands only where its keys are the
        // ones the password check here took from the worker.
        const auto ahead = run.ahead.find(index);
        const bool taken =
            ahead != run.ahead.end() && (!run.aes || run.keyedAhead) && TakeDecoded(run, ahead->second);
        if (!taken)
            Decode(run);
        if (run.out)
            run.out->Flush();
        // The authentication code covers every encrypted byte: an entry
        // that fails it was changed, whatever its CRC says. (A worker checks
        // the entries it decodes.)
        if (run.aes && !taken && run.failure.empty()) {
            run.toRead += 10;
            uint8_t code[10];
            ReadCompressed(run, code, 10);
            if (run.aes->Code() != std::to_array(code))
                run.failure = AesCodeMismatch;
        }
    } catch (const EBiggerThanUncompressed&) {
        run.failure = "the data is longer than its recorded size of " + std::to_string(work.UncompressedSize()) +
                      " bytes";
    } catch (const EFatalUnzipError&) {
        run.failure = "the archive ends inside the entry's data";
    } catch (const EFOpenError& e) {
        run.failure = e.what();  // the next part is missing
    } catch (const EWriteError&) {
        run.CantWrite(errno);
    }
    // All of the entry must have come out, not just a prefix whose CRC
    // happens to match.
    if (run.failure.empty() && uint64_t(run.written) != work.UncompressedSize())
        run.failure = "the data is shorter than its recorded size (" + std::to_string(run.written) + " of " +
                      std::to_string(work.UncompressedSize()) + " bytes)";
    // Beyond stored and deflated data, the method is named.
    if (!run.failure.empty() && !run.unsupported && work.CompressionMethod != 0 && work.CompressionMethod != 8)
        run.failure += " (" + MethodName(work.CompressionMethod) + ")";

    const uint32_t crc = run.crc ^ 0xFFFFFFFF;
    if (run.failure.empty() && (crc == work.Crc32 || !run.checkCrc))
        return true;
    if (work.Encrypted() && !run.unsupported && !run.aes) {
        // A wrong password shows as broken data or a wrong CRC.
        if (OnBadPassword) {
            std::string answer = Password;
            OnBadPassword(*this, index, answer);
            if (answer != Password) {
                Password = answer;
                run.retry = true;
            }
        }
        bool retry = false;
        if (!run.retry && OnSkippingFile)
            OnSkippingFile(*this, TSkipReason::skBadPassword, work.Directory() + work.FileName(), index, retry);
    } else if (!run.failure.empty()) {
        if (OnEntryError)
            OnEntryError(*this, index, run.failure);
    } else if (OnBadCRC) {
        OnBadCRC(*this, crc, work.Crc32, index);
    }
    return false;
}

void TZipReader::DecodeAhead(TUnZipRun& run, int index)
{
    // A single entry is decoded in its turn: there is nothing to do meanwhile.
    if (!run.workers || run.workers->Threads() <= 1 || run.numFiles <= 1 || MultiMode() != TMultiMode::mmNone ||
        partCount_ > 1)
        return;
    if (!run.aheadFile) {
        // The workers read a single file (not a set of volumes); failing
        // that, all is done in this thread.
        if (THugeVolumeStream::VolumesOf(zipName_).size() <= 1) {
            try {
                run.aheadFile =
                    std::make_shared<THugeFileStream>(zipName_, platform::fmOpenRead | platform::fmShareDenyNone);
            } catch (const EFOpenError&) {
            }
        }
        if (!run.aheadFile) {
            run.workers.reset();
            return;
        }
    }
    for (run.nextAhead = std::max(run.nextAhead, index); run.nextAhead < EntryCount(); ++run.nextAhead) {
        const TZipHeaderInfo& e = Entry(run.nextAhead);
        const bool whole = e.CompressedSize() <= WholeEntryLimit && e.UncompressedSize() <= WholeEntryLimit;
        const bool aes = e.CompressionMethod == MethodAes;
        if (!(DoAll || e.Selected) || e.FileName().empty() || (e.Encrypted() && !aes) ||
            (e.CompressionMethod != 0 && e.CompressionMethod != 8 && !MethodDecoded(e.CompressionMethod) && !aes) ||
            e.LocalHeaderOffset() > uint64_t(INT64_MAX))
            continue;
        const bool stream = !TestOnly && !whole;
        // A whole entry's bytes are held when they are kept, and when it is
        // inflated in one piece (a deflated entry, maybe under AES); a
        // streamed one holds its two chunks and what waits to be written.
        // An entry tested in chunks holds nothing once it is done, and only
        // its two chunks while a worker decodes it.
        const bool held = whole && (!TestOnly || e.CompressionMethod == 8 || aes);
        const int64_t planned = held     ? int64_t(e.CompressedSize() + e.UncompressedSize())
                                : stream ? int64_t(2 * AheadChunk + StreamedBytes)
                                         : 0;
        const bool largeWindow =
            (e.CompressionMethod == 14 || e.CompressionMethod == 95) && e.UncompressedSize() > LargeWindow;
        if (largeWindow && (run.largeWindows > 0 || index <= run.lastLargeLeft)) {
            run.lastLargeLeft = run.nextAhead;
            continue;
        }
        if ((run.aheadBytes + planned > AheadBytes || run.ahead.size() >= AheadEntries) && !run.ahead.empty())
            return;
        auto ahead = std::make_shared<TDecodedAhead>();
        ahead->headerAt = int64_t(e.LocalHeaderOffset());
        ahead->packedSize = Clamped(e.CompressedSize());
        ahead->size = e.UncompressedSize();
        ahead->method = e.CompressionMethod;
        ahead->flags = e.GeneralFlags;
        ahead->aes = aes;
        if (aes)
            ahead->password = Password;
        ahead->keep = !TestOnly;
        ahead->stream = stream;
        ahead->planned = planned;
        ahead->largeWindow = largeWindow;
        if (ahead->keep && !stream)
            ahead->output.reserve(size_t(ahead->size));
        run.ahead[run.nextAhead] = {
            ahead, run.workers->Run([ahead, file = run.aheadFile, stop = run.stop] { ahead->Decode(file->Handle(), *stop); })};
        run.aheadBytes += planned;
        run.largeWindows += largeWindow;
        aheadCounts_.decodedAhead += run.nextAhead > index;
        aheadCounts_.mostBytes = std::max(aheadCounts_.mostBytes, run.aheadBytes);
        aheadCounts_.mostLargeWindows = std::max(aheadCounts_.mostLargeWindows, run.largeWindows);
    }
}

std::unique_ptr<TAesCipher> TZipReader::KeyedAhead(TUnZipRun& run, int index, const std::string& head)
{
    const auto found = run.ahead.find(index);
    if (found == run.ahead.end() || !found->second.work->aes || found->second.work->password != Password)
        return nullptr;
    TDecodedAhead& ahead = *found->second.work;
    std::unique_lock hold(ahead.lock);
    while (!ahead.changed.wait_for(hold, std::chrono::milliseconds(10), [&] { return ahead.keyed || ahead.ended; })) {
        hold.unlock();
        Poll();
        hold.lock();
    }
    return ahead.aesHead == head ? std::move(ahead.keyed) : nullptr;
}

bool TZipReader::TakeDecoded(TUnZipRun& run, TTask<TDecodedAhead>& task)
{
    TDecodedAhead& ahead = *task.work;
    if (ahead.stream) {
        // Written as it comes; the progress is the writing's.
        std::vector<uint8_t> chunk;
        const auto next = [&] {
            while (!ahead.Next(chunk))
                Poll();
            return !chunk.empty();
        };
        bool more = next();
        if (ahead.dataAt != archive_->Position())
            return false;
        run.toRead = 0;
        for (; more; more = next())
            FlushChunks(run, chunk.data(), chunk.size());
        task.done.get();
        run.failure = ahead.failure;
        return true;
    }
    const int64_t size = Clamped(run.work.UncompressedSize());
    while (task.done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        // A large entry shows its progress while it is decoded.
        if (OnFilePercentDone)
            OnFilePercentDone(*this, PercentOf(ahead.written, size));
        if (OnTotalPercentDone)
            OnTotalPercentDone(*this, PercentOf(run.runWritten + ahead.written, run.totalBytes));
        Poll();
    }
    Poll();
    // Decoded from where the entry's data begins, or not used.
    if (ahead.dataAt != archive_->Position())
        return false;
    run.toRead = 0;
    // What came out before a failure counts as it would have here; then
    // the failure is raised.
    if (ahead.keep) {
        FlushChunks(run, ahead.output.data(), ahead.output.size());
    } else {
        run.crc = ahead.crc;
        run.written = ahead.written;
        run.runWritten += run.written;
        if (OnFilePercentDone)
            OnFilePercentDone(*this, PercentOf(run.written, size));
        if (OnTotalPercentDone)
            OnTotalPercentDone(*this, PercentOf(run.runWritten, run.totalBytes));
    }
    task.done.get();
    run.failure = ahead.failure;
    return true;
}

void TZipReader::MakeLinks(TUnZipRun& run)
{
    for (const TUnZipRun::TLink& link : run.links) {
        Poll();
        run.work.Assign(Entry(link.index));
        std::string fileName = link.fileName;
        // Judged by its text, then by what it meets on disk: links already
        // in the destination may lead out of it.
        std::set<std::string>& made = run.madeLinks[link.place.root];
        if (!AllowOutsideLinks &&
            !(TargetStaysInside(link.place.folder, link.target) &&
              ResolvesInside(platform::SafeFolder(link.place.root, "", false), link.place.folder, link.target, made))) {
            SkipEntry(run, TSkipReason::skUnsafeLink, fileName, link.index);
            continue;
        }
        const platform::SafeFolder dir(link.place.root, link.place.folder, true);
        if (!dir.IsOpen()) {
            SkipEntry(run, TSkipReason::skCreateError, fileName, link.index);
            continue;
        }
        if (OverwriteMode != TUZOverwriteMode::Always && dir.TypeOf(link.place.name) != platform::EntryType::None &&
            KeepExistingFile(run, link.index, dir, link.place.name, fileName)) {
            SkipEntry(run, TSkipReason::skNoOverwrite, fileName, link.index);
            continue;
        }
        // A folder of that name stays; a file or link is replaced by the
        // link. The name stays the one checked above: a link goes nowhere
        // its target was not checked for.
        if (dir.TypeOf(link.place.name) == platform::EntryType::Folder ||
            !dir.MakeLink(link.place.name, link.target)) {
            SkipEntry(run, TSkipReason::skCreateError, fileName, link.index);
            continue;
        }
        made.insert(Joined(NamesOf(link.place.folder + '/' + link.place.name)));
        if (OnEndUnZip)
            OnEndUnZip(*this, link.index, fileName);
        ++run.fileCount;
    }
}

std::string TZipReader::CentralExtra(const TZipHeaderInfo& entry)
{
    // Only a single file holds the directory beside the data.
    if (entry.ExtraReadLength == 0 || MultiMode() != TMultiMode::mmNone || !archive_)
        return {};
    const int64_t back = archive_->Position();
    std::string extra(entry.ExtraReadLength, '\0');
    archive_->SetPosition(entry.ExtraStart);
    extra.resize(size_t(std::max<int64_t>(0, archive_->Read(extra.data(), int64_t(extra.size())))));
    archive_->SetPosition(back);
    return extra;
}

bool TZipReader::AesPasswordAccepted(TUnZipRun& run, int index)
{
    // The salt and the password verifier come first, the authentication code last.
    const size_t saltLength = run.aesField->SaltLength();
    uint8_t head[18];
    ReadCompressed(run, head, saltLength + 2);
    run.toRead -= 10;
    if ((run.aes = KeyedAhead(run, index, std::string(reinterpret_cast<const char*>(head), saltLength + 2)))) {
        run.keyedAhead = true;
        return true;
    }
    for (;;) {
        auto cipher = std::make_unique<TAesCipher>(run.aesField->strength, Password, head);
        if (cipher->Verifier()[0] == head[saltLength] && cipher->Verifier()[1] == head[saltLength + 1]) {
            run.aes = std::move(cipher);
            return true;
        }
        if (!OnBadPassword)
            return false;
        std::string answer = Password;
        OnBadPassword(*this, index, answer);
        if (answer == Password)
            return false;
        Password = answer;
    }
}

bool TZipReader::PasswordAccepted(TUnZipRun& run, int index)
{
    if (run.aesField)
        return AesPasswordAccepted(run, index);
    const TZipHeaderInfo& work = run.work;
    // Data descriptors mean the CRC was not known when the header was made,
    // so the check byte comes from the time instead.
    const uint8_t check = work.HasDataDescriptor() ? uint8_t(work.ModDateTime >> 8) : uint8_t(work.Crc32 >> 24);
    const int part = currentPart_;
    const int64_t position = archive_->Position();
    const int64_t toRead = run.toRead;
    for (;;) {
        uint8_t header[12];
        ReadCompressed(run, header, 12);
        keys_.InitKeys(Password);
        keys_.DecryptBuffer(header, 12);
        if (header[11] == check)
            return true;
        if (!OnBadPassword)
            return false;
        std::string answer = Password;
        OnBadPassword(*this, index, answer);
        if (answer == Password)
            return false;
        Password = answer;
        if (currentPart_ != part)
            OpenPart(part + 1);
        archive_->SetPosition(position);
        run.toRead = toRead;
    }
}

bool TZipReader::KeepExistingFile(TUnZipRun& run, int index, const platform::SafeFolder& folder,
                                  const std::string& name, std::string& fileName)
{
    switch (OverwriteMode) {
    case TUZOverwriteMode::Prompt: {
        bool overwrite = false;
        if (OnPromptForOverwrite)
            OnPromptForOverwrite(*this, overwrite, index, fileName);
        else
            overwrite = HandleMessage(MsgReplaceFile, "Replace existing file " + EntryName(index) + "?",
                                      "File Exists Alert", platform::mbYesNo) == platform::idYes;
        return !overwrite;
    }
    case TUZOverwriteMode::ifNewer:
    case TUZOverwriteMode::ifOlder: {
        // Both times at the two-second resolution of DOS times; equal keeps the file.
        uint32_t fileDos = 0;
        std::time_t entryTime, fileTime;
        if (!folder.GetDosTime(name, fileDos) ||
            !platform::DosDateTimeToDateTime(run.work.ModDateTime, entryTime) ||
            !platform::DosDateTimeToDateTime(fileDos, fileTime))
            return true;
        return OverwriteMode == TUZOverwriteMode::ifNewer ? !(entryTime > fileTime) : !(entryTime < fileTime);
    }
    case TUZOverwriteMode::Never: return true;
    case TUZOverwriteMode::Always: break;
    }
    return false;
}

// ---- Decoding -----------------------------------------------------------------

void TZipReader::Decode(TUnZipRun& run)
{
    const uint16_t method = run.work.CompressionMethod;
    if (method == 0) {
        CopyStored(run);
    } else if (method == 8) {
        InflateEntry(run);
    } else if (MethodDecoded(method)) {
        // The other decoders take the same chunks of input and give their
        // output through the same checks.
        DecodeOtherMethod(
            {method, run.work.GeneralFlags, run.work.UncompressedSize()},
            [&](const uint8_t*& data) {
                data = run.input.data();
                return RefillInput(run);
            },
            [&](const uint8_t* data, size_t n) { FlushChunks(run, data, n); }, run.failure);
    } else {
        HandleMessage(MsgUnknownMethod, "Unknown Compression Method", "Zip Error", platform::mbOK);
        run.failure = "unsupported compression method " + MethodName(method);
        run.unsupported = true;
    }
}

size_t TZipReader::ReadCompressed(TUnZipRun& run, uint8_t* buffer, size_t n)
{
    n = size_t(std::min<int64_t>(int64_t(n), run.toRead));
    run.toRead -= int64_t(n);
    size_t got = size_t(std::max<int64_t>(0, archive_->Read(buffer, int64_t(n))));
    // In a multi-part archive the data goes on at the start of the next part.
    while (got < n && MultiMode() != TMultiMode::mmNone && currentPart_ + 1 < partCount_) {
        OpenPart(currentPart_ + 2);
        got += size_t(std::max<int64_t>(0, archive_->Read(buffer + got, int64_t(n - got))));
    }
    if (got < n)
        throw EFatalUnzipError("Premature end of file reached");
    return got;
}

size_t TZipReader::RefillInput(TUnZipRun& run)
{
    Poll();
    const size_t n = ReadCompressed(run, run.input.data(), ChunkSize);
    if (n > 0 && run.aes) {
        run.aes->Decrypt(run.input.data(), n);
    } else if (n > 0 && run.work.Encrypted()) {
        if (OnDecrypt)
            OnDecrypt(*this, run.input.data(), int(n), Password);
        else
            keys_.DecryptBuffer(run.input.data(), n);
    }
    return n;
}

void TZipReader::CopyStored(TUnZipRun& run)
{
    while (run.toRead > 0) {
        Poll();
        uint8_t* data = run.output.data();
        const size_t n = ReadCompressed(run, data, ChunkSize);
        // Stored data is decrypted as it goes out, the traditional way
        // always by the keys (compressed data was decrypted on reading).
        if (run.aes)
            run.aes->Decrypt(data, n);
        else if (run.work.Encrypted() && !Password.empty())
            keys_.DecryptBuffer(data, n);
        FlushOutput(run, data, n);
    }
}

void TZipReader::FlushChunks(TUnZipRun& run, const uint8_t* data, size_t n)
{
    for (size_t k; n > 0; data += k, n -= k) {
        Poll();
        k = std::min(n, AheadChunk);
        FlushOutput(run, data, k);
    }
}

void TZipReader::InflateEntry(TUnZipRun& run)
{
    const uint64_t size = run.work.UncompressedSize();
    if (size > WholeEntryLimit || uint64_t(run.toRead) > WholeEntryLimit) {
        InflateStream(run, [&](const uint8_t*& data) {
            data = run.input.data();
            return RefillInput(run);
        });
        return;
    }
    // The compressed bytes (decrypted, across parts) and the output in
    // memory; libdeflate inflates whole buffers several times faster.
    std::vector<uint8_t>& packed = run.packed;
    packed.clear();
    while (const size_t n = RefillInput(run))
        packed.insert(packed.end(), run.input.begin(), run.input.begin() + long(n));
    run.whole.resize(size_t(size));
    if (InflateWhole(packed, run.whole)) {
        FlushChunks(run, run.whole.data(), run.whole.size());
        return;
    }
    InflateStream(run, GivenOnce(packed));
}

void TZipReader::InflateStream(TUnZipRun& run, const std::function<size_t(const uint8_t*&)>& refill)
{
    run.failure = InflateRaw(refill, run.output, [&](size_t n) { FlushOutput(run, run.output.data(), n); });
}

void TZipReader::FlushOutput(TUnZipRun& run, const uint8_t* data, size_t n)
{
    if (n == 0)
        return;
    const TZipHeaderInfo& work = run.work;
    if (uint64_t(run.written) + n > work.UncompressedSize())
        throw EBiggerThanUncompressed();
    if (run.out && run.out->Write(data, int64_t(n)) != int64_t(n))
        run.CantWrite(errno);
    if (run.text)
        run.text->append(reinterpret_cast<const char*>(data), n);
    run.crc = Crc32Update(run.crc, data, n);
    run.written += int64_t(n);
    run.runWritten += int64_t(n);
    if (OnFilePercentDone)
        OnFilePercentDone(*this, PercentOf(run.written, Clamped(work.UncompressedSize())));
    if (OnTotalPercentDone)
        OnTotalPercentDone(*this, PercentOf(run.runWritten, run.totalBytes));
}
