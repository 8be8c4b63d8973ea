// What the writer's files share: the sizes it works in, small helpers on
// names, a small file read whole, and the state of one writing run. Private
// to the engine's writer (ZipWriter.cpp, ZipCarryOver.cpp, ZipWriteEntry.cpp).
#pragma once

#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/ZipAes.h"
#include "engine/ZipDeflate.h"
#include "engine/ZipParts.h"
#include "engine/ZipWriter.h"

namespace zipwriter {

inline constexpr size_t StoreBlock = 32768;
inline constexpr size_t ReadBlock = 65536;
inline constexpr size_t CrcBlock = 8192;
inline constexpr size_t CopyBlock = 16384;
// Files up to this size are read and compressed whole, on the workers ahead
// of their turn; larger ones in blocks of DeflateBlockSize.
inline constexpr int64_t WholeFileLimit = 8 << 20;
inline constexpr size_t DeflateBlockSize = 1 << 20;
// Bounds of the work under way: the bytes of small files read ahead, and the
// blocks of a large file being compressed (times the threads, at most 8).
inline constexpr int64_t AheadBytes = 8 << 20;
inline constexpr size_t BlocksPerThread = 2;
inline constexpr size_t MostBlocks = 8;
// The index of an item added outside the list of items (a replacement).
inline constexpr size_t NotInItems = size_t(-1);
// Entries of multi-part output up to this size are compressed into memory
// before they go into the parts; larger ones into a temporary file.
inline constexpr int64_t StagedInMemory = 4 << 20;
// "PK00": what some tools put ahead of an archive written as a set of one part.
inline constexpr uint32_t SinglePartMarkerSig = 0x30304B50;
// Host byte 3 (Unix) and format version 4.5.
inline constexpr uint16_t MadeByUnix = 0x0300 | 45;
// A file this close to 4 GiB may need Zip64 sizes once compressed (deflate
// can grow incompressible data a little), so its local header reserves room
// for them from the start: the header is rewritten in place afterwards and
// must keep its length.
inline constexpr uint64_t Zip64Margin = 64 << 20;

inline bool EndsWithSlash(const std::string& s)
{
    return !s.empty() && s.back() == '/';
}

inline std::string NamePart(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

inline std::string FolderPart(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

inline std::string LowerAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

inline std::time_t DosToTime(uint32_t dos)
{
    std::time_t t = 0;
    platform::DosDateTimeToDateTime(dos, t);
    return t;
}

}  // namespace zipwriter

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
    // Loaded for the next archive: the file's time when it was planned.
    std::filesystem::file_time_type modified{};

    // Reads through open when the writing thread has the file open at its
    // start, else opens it by path.
    void Load(platform::Handle open = platform::InvalidHandle);
};

struct TZipWriter::TNextLoads {
    std::map<std::string, TTask<TWholeFile>> files;  // by item
    size_t item = 0;  // the next item of NextFilesList to look at
    int64_t bytes = 0;
    // Last, so that its threads have ended before anything a task uses goes.
    std::unique_ptr<TWorkers> workers;
};

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
    // The files of this archive loaded during the last run, and those of
    // the next archive loaded during this one.
    std::unique_ptr<TNextLoads> loadedBefore, loadingNext;
    // Last, so that its threads have ended before anything a task uses goes.
    std::unique_ptr<TWorkers> workers;
};
