#include "tests/fuzz/FuzzTargets.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "engine/Wildcard.h"
#include "engine/ZipExceptions.h"
#include "engine/ZipReader.h"
#include "platform/Files.h"
#include "platform/Hooks.h"

namespace fuzz {

namespace {

// The archive under test lives in a memory file reached by a path, so that
// the engine opens it by name as it opens every archive, with no disk I/O.
std::string MemoryFile(const uint8_t* data, size_t size)
{
    static const int fd = memfd_create("fuzz.zip", MFD_CLOEXEC);
    if (ftruncate(fd, 0) != 0 || (size > 0 && pwrite(fd, data, size, 0) != ssize_t(size)))
        abort();
    return "/proc/self/fd/" + std::to_string(fd);
}

// A folder of this process holding only "dest", the destination of
// extractions: anything else that appears in it was written outside. It goes
// when the process ends.
const std::string& Sandbox()
{
    static const struct Folder {
        std::string path = platform::TempDirectory() + "zamblok-fuzz-XXXXXX";
        Folder()
        {
            if (!mkdtemp(path.data()))
                abort();
        }
        ~Folder() { std::filesystem::remove_all(path); }
    } folder;
    return folder.path;
}

void TestEntries(const std::string& name, bool rebuild, bool sorted, bool extract = false)
{
    TZipReader reader;
    reader.DoProcessMessages = false;
    reader.IncompleteZipMode = rebuild ? TIncompleteZipMode::izAssumeBad : TIncompleteZipMode::izAssumeNotAZip;
    reader.SortMode = sorted ? TZipSortMode::ByName : TZipSortMode::ByNone;
    reader.TestOnly = !extract;
    reader.OverwriteMode = TUZOverwriteMode::Always;
    reader.SetDestDir(Sandbox() + "/dest");
    reader.DoAll = true;
    reader.RecreateDirs = true;
    reader.Password = "password";
    reader.OnHandleMessage = [](TZipReader&, int, const std::string&, const std::string&, unsigned, int& result) {
        result = platform::idOK;
    };
    try {
        reader.SetZipName(name);
        reader.ReadArchive();
        for (int i = 0; i < reader.EntryCount(); ++i) {
            reader.EntryName(i);
            reader.EntryDateTime(i);
            reader.EntryComment(i);
        }
        reader.ArchiveComment();
        reader.UnZip();
    } catch (const Exception&) {
        // Refusing a hostile archive with the engine's errors is the point.
    }
    if (!extract)
        return;
    for (const auto& entry : std::filesystem::directory_iterator(Sandbox()))
        if (entry.path().filename() != "dest")
            abort();  // a write landed outside the destination
    std::filesystem::remove_all(Sandbox() + "/dest");
}

uint32_t Le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void Put16(std::vector<uint8_t>& v, uint32_t x)
{
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}

void Put32(std::vector<uint8_t>& v, uint32_t x)
{
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

}  // namespace

void Archive(const uint8_t* data, size_t size)
{
    if (size == 0)
        return;
    TestEntries(MemoryFile(data + 1, size - 1), data[0] & 1, data[0] & 2, data[0] & 4);
}

void Headers(const uint8_t* data, size_t size)
{
    THugeCustomMemoryStream stream(data, int64_t(size));
    for (int pass = 0; pass < 2; ++pass) {
        stream.SetPosition(0);
        THugeStream* s = &stream;
        for (int n = 0; n < 64; ++n) {
            TZipHeaderInfo header(TOEMConvert::oemAlways);
            const bool ok = pass == 0 ? header.ReadCentralHeader(s) : header.ReadLocalHeader(*s);
            if (!ok)
                break;
            header.FileName();
            header.CompressedSize();
            header.UncompressedSize();
            header.LocalHeaderOffset();
            if (pass == 0) {
                header.ReadFileComment(stream);
                s->Seek(header.ExtraLength + int64_t(header.CommentLength()), THugeStream::soCurrent);
            }
        }
    }
    TEndCentral end;
    end.ReadEndRecord(stream);
}

void Wildcard(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t split = text.find('\n');
    const std::string pattern = text.substr(0, split);
    const std::string name = split == std::string::npos ? std::string() : text.substr(split + 1);
    MatchesPattern(pattern, name);
    IsWild(text);
}

namespace {

// The bytes as the data of an entry of that method and flags, the first
// eight giving its CRC and declared size, in an archive sound otherwise.
void DecodeEntry(uint16_t method, uint16_t flags, const uint8_t* data, size_t size)
{
    if (size < 8)
        return;
    const uint32_t compressed = uint32_t(size - 8);
    const uint32_t uncompressed = Le32(data + 4) % (1u << 24);  // no test decodes more than 16 MB
    const uint32_t crc = Le32(data);
    const std::string name = "entry.bin";
    std::vector<uint8_t> zip;
    auto header = [&](bool central) {
        Put32(zip, central ? 0x02014b50 : 0x04034b50);
        if (central)
            Put16(zip, 20);
        Put16(zip, 20);
        Put16(zip, flags);
        Put16(zip, method);
        Put32(zip, 0x21u << 16);  // 1980-01-01 00:00
        Put32(zip, crc);
        Put32(zip, compressed);
        Put32(zip, uncompressed);
        Put16(zip, uint32_t(name.size()));
        Put16(zip, 0);
        if (central) {
            Put16(zip, 0);  // comment length
            Put16(zip, 0);  // disk
            Put16(zip, 0);  // internal attributes
            Put32(zip, 0);  // external attributes
            Put32(zip, 0);  // the local header's offset
        }
        zip.insert(zip.end(), name.begin(), name.end());
    };
    header(false);
    zip.insert(zip.end(), data + 8, data + size);
    const uint32_t directory = uint32_t(zip.size());
    header(true);
    const uint32_t directorySize = uint32_t(zip.size()) - directory;
    Put32(zip, 0x06054b50);
    Put32(zip, 0);
    Put16(zip, 1);
    Put16(zip, 1);
    Put32(zip, directorySize);
    Put32(zip, directory);
    Put16(zip, 0);
    TestEntries(MemoryFile(zip.data(), zip.size()), false, false);
}

}  // namespace

void Inflate(const uint8_t* data, size_t size)
{
    DecodeEntry(8, 0, data, size);
}

void Methods(const uint8_t* data, size_t size)
{
    static constexpr uint16_t methods[] = {1, 2, 3, 4, 5, 6, 9, 12, 14, 93, 95};
    if (size < 2)
        return;
    DecodeEntry(methods[data[0] % std::size(methods)], data[1] & 6, data + 2, size - 2);
}

bool Run(const std::string& name, const uint8_t* data, size_t size)
{
    if (name == "archive")
        Archive(data, size);
    else if (name == "headers")
        Headers(data, size);
    else if (name == "wildcard")
        Wildcard(data, size);
    else if (name == "inflate")
        Inflate(data, size);
    else if (name == "methods")
        Methods(data, size);
    else
        return false;
    return true;
}

}  // namespace fuzz
