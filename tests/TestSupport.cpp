#include "tests/TestSupport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <sys/wait.h>
#include <zlib.h>

namespace fs = std::filesystem;

namespace testing_support {

std::string SharedDir()
{
    return ZAMBLOK_SHARED_DIR;
}

std::string CorpusDir()
{
    return SharedDir() + "/corpus";
}

static std::string Unescape(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
            out += char(std::stoi(s.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<ManifestRow> ReadManifest()
{
    std::ifstream in(CorpusDir() + "/MANIFEST.tsv");
    if (!in)
        throw std::runtime_error("cannot read the corpus manifest under " + CorpusDir());
    std::vector<ManifestRow> rows;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        std::string field;
        while (std::getline(ss, field, '\t'))
            f.push_back(field);
        if (f.size() < 8)
            continue;
        ManifestRow r;
        r.archive = f[0];
        r.entry = Unescape(f[1]);
        auto num = [](const std::string& s) { return s == "-" ? 0 : std::stoull(s); };
        r.method = f[2] == "-" ? -1 : int(num(f[2]));
        r.compressedSize = num(f[3]);
        r.uncompressedSize = num(f[4]);
        r.crc32 = f[5] == "-" ? 0 : uint32_t(std::stoul(f[5], nullptr, 16));
        r.sha256 = f[6];
        r.password = f[7];
        r.note = f.size() > 8 ? f[8] : "";
        rows.push_back(r);
    }
    return rows;
}

std::map<std::string, std::vector<ManifestRow>> ManifestArchives(const std::vector<std::string>& folders)
{
    std::map<std::string, std::vector<ManifestRow>> archives;
    for (const ManifestRow& row : ReadManifest())
        for (const std::string& folder : folders)
            if (row.archive.rfind(folder, 0) == 0) {
                auto& rows = archives[row.archive];
                if (row.method >= 0)  // "-": the line of an archive without entries
                    rows.push_back(row);
            }
    return archives;
}

TempDir::TempDir()
{
    std::string templ = (fs::temp_directory_path() / "zamblok-test-XXXXXX").string();
    if (!mkdtemp(templ.data()))
        throw std::runtime_error("cannot create a temporary folder");
    path_ = templ;
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Folders made read-only by a test must become writable to be removed.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

size_t ThreadsSettledAt(size_t count)
{
    const auto threads = [] {
        return size_t(std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}));
    };
    for (int i = 0; i < 200 && threads() != count; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return threads();
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& data)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), std::streamsize(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

int Run(const std::string& command, std::string* output)
{
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        if (output)
            output->append(buf, n);
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---- Hand-assembled archives ---------------------------------------------------

namespace {

struct Bytes {
    std::string s;
    Bytes& U16(uint64_t v) { return N(v, 2); }
    Bytes& U32(uint64_t v) { return N(v, 4); }
    Bytes& U64(uint64_t v) { return N(v, 8); }
    Bytes& N(uint64_t v, int n)
    {
        for (int i = 0; i < n; ++i, v >>= 8)
            s += char(v & 0xFF);
        return *this;
    }
};

uint32_t CrcOf(const RawEntry& e)
{
    return e.crc.value_or(uint32_t(crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), uInt(e.data.size()))));
}

// The fields every header shares, from the version needed to the extra length.
void CommonFields(Bytes& b, const RawEntry& e, bool zip64, uint16_t extraLength)
{
    const uint64_t saturated = 0xFFFFFFFF;
    b.U16(zip64 ? 45 : 20).U16(e.flags).U16(e.method).U32(e.dosTime).U32(CrcOf(e));
    b.U32(zip64 ? saturated : e.compressedSize.value_or(e.data.size()));
    b.U32(zip64 ? saturated : e.size.value_or(e.data.size()));
    b.U16(e.name.size()).U16(extraLength);
}

}  // namespace

std::string LocalHeader(const RawEntry& e)
{
    Bytes b;
    b.U32(0x04034b50);
    CommonFields(b, e, false, uint16_t(e.localExtra.size()));
    return b.s + e.name + e.localExtra;
}

std::string AssembleZip(const std::vector<RawEntry>& entries, std::optional<uint32_t> zip64Disk)
{
    Bytes out;
    std::vector<uint64_t> offsets;
    for (const RawEntry& e : entries) {
        offsets.push_back(out.s.size());
        if (e.local)
            out.s += LocalHeader(e) + e.data;
    }
    const uint64_t directory = out.s.size();
    for (size_t i = 0; i < entries.size(); ++i) {
        const RawEntry& e = entries[i];
        Bytes extra;
        extra.s = e.extra;
        if (e.zip64)
            extra.U16(1).U16(24).U64(e.size.value_or(e.data.size())).U64(e.compressedSize.value_or(e.data.size()))
                .U64(e.offset.value_or(offsets[i]));
        out.U32(0x02014b50).U16(e.madeBy);
        CommonFields(out, e, e.zip64, uint16_t(extra.s.size()));
        out.U16(e.comment.size()).U16(0).U16(0).U32(e.externalAttributes);
        out.U32(e.zip64 ? 0xFFFFFFFF : e.offset.value_or(offsets[i]));
        out.s += e.name + extra.s + e.comment;
    }
    const uint64_t directorySize = out.s.size() - directory;
    if (zip64Disk) {
        const uint64_t record = out.s.size();
        out.U32(0x06064b50).U64(44).U16(45).U16(45).U32(*zip64Disk).U32(*zip64Disk);
        out.U64(entries.size()).U64(entries.size()).U64(directorySize).U64(directory);
        out.U32(0x07064b50).U32(*zip64Disk).U64(record).U32(*zip64Disk + 1ull);
    }
    const uint64_t disk = zip64Disk ? 0xFFFF : 0;
    out.U32(0x06054b50).U16(disk).U16(disk).U16(entries.size()).U16(entries.size());
    out.U32(directorySize).U32(directory).U16(0);
    return out.s;
}

std::string TwoDirectoriesZip(const std::vector<RawEntry>& entries, const std::vector<size_t>& first,
                              const std::vector<size_t>& second)
{
    const std::string zip = AssembleZip(entries);
    const auto field = [&](size_t at, int n) {
        uint64_t v = 0;
        for (int k = n - 1; k >= 0; --k)
            v = v << 8 | uint8_t(zip[at + size_t(k)]);
        return v;
    };
    const size_t directory = field(zip.size() - 6, 4);
    std::vector<std::string> headers;
    for (size_t at = directory; headers.size() < entries.size();) {
        const size_t length = 46 + field(at + 28, 2) + field(at + 30, 2) + field(at + 32, 2);
        headers.push_back(zip.substr(at, length));
        at += length;
    }
    const auto picked = [&](const std::vector<size_t>& picks) {
        std::string s;
        for (size_t i : picks)
            s += headers[i];
        return s;
    };
    const auto end = [](size_t count, size_t size, size_t offset, const std::string& comment) {
        Bytes b;
        b.U32(0x06054b50).U16(0).U16(0).U16(count).U16(count).U32(size).U32(offset).U16(comment.size());
        return b.s + comment;
    };
    const std::string outer = picked(first), inner = picked(second);
    const size_t innerAt = directory + outer.size() + 22;
    return zip.substr(0, directory) + outer +
           end(first.size(), outer.size(), directory, inner + end(second.size(), inner.size(), innerAt, ""));
}

}  // namespace testing_support
