// Helpers shared by the test programs: the shared corpus, temporary folders,
// whole-file reads and writes, and running peer tools.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// The shared folder beside the checkout and its corpus/ folder (no trailing '/').
std::string SharedDir();
std::string CorpusDir();

// One line of corpus/MANIFEST.tsv. Entry names are decoded from the
// manifest's \xNN escapes into the stored bytes.
struct ManifestRow {
    std::string archive;  // relative to CorpusDir()
    std::string entry;    // "-" when the archive has no readable entry
    int method = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint32_t crc32 = 0;
    std::string sha256;
    std::string password;
    std::string note;
};
std::vector<ManifestRow> ReadManifest();
// The entries of every archive under the given corpus folders ("peers/",
// "legacy/", ...), by archive path relative to CorpusDir(); an archive
// without entries has an empty list.
std::map<std::string, std::vector<ManifestRow>> ManifestArchives(const std::vector<std::string>& folders);

// A fresh folder under the temporary folder, removed with everything in it
// when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // The folder, without a trailing '/'.
    const std::string& Path() const { return path_; }
    // Path() + "/" + name.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The threads of this process once it has count, or after two seconds
// (a joined thread leaves /proc/self/task a moment after the join returns).
size_t ThreadsSettledAt(size_t count);

std::string ReadFile(const std::string& path);
// Creates the parent folders as needed.
void WriteFile(const std::string& path, const std::string& data);

// Runs a shell command, returns its exit code; its standard output and
// error go to *output when given.
int Run(const std::string& command, std::string* output = nullptr);

// An entry of a hand-assembled archive. Unless given, the sizes are those
// of data and the CRC is data's.
struct RawEntry {
    std::string name;
    std::string data;  // the bytes after the local header
    uint16_t method = 0;
    uint16_t flags = 0;
    std::optional<uint32_t> crc{};
    std::optional<uint64_t> size{};
    std::optional<uint64_t> compressedSize{};
    // The local header's offset in the central header; by default where the
    // local header was written.
    std::optional<uint64_t> offset{};
    bool zip64 = false;      // sizes and offset in the central header's Zip64 block
    bool local = true;       // false: a central header only
    uint16_t madeBy = 20;    // the host in the high byte
    uint32_t externalAttributes = 0;
    std::string extra{};     // the central header's extra field
    std::string comment{};   // the entry comment
    std::string localExtra{};  // the local header's extra field
    uint32_t dosTime = 0x00210000;  // DOS date and time: 1980-01-01 00:00
};
// The local header of entry (without its data).
std::string LocalHeader(const RawEntry& entry);
// Local headers and data, central headers, and the end record; with
// zip64Disk, a Zip64 end record and locator that give that part number.
std::string AssembleZip(const std::vector<RawEntry>& entries, std::optional<uint32_t> zip64Disk = std::nullopt);
// An archive that other tools read as another: the local headers of
// entries, a directory of the entries first picks, and an end record whose
// comment is a directory of those second picks with its own end record,
// the last in the file, which other tools take.
std::string TwoDirectoriesZip(const std::vector<RawEntry>& entries, const std::vector<size_t>& first,
                              const std::vector<size_t>& second);

}  // namespace testing_support
