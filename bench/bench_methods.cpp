// Decoding a 100 MB entry of each method beyond deflate: `zamblok-cli test`
// against `7zz t` (one thread) and, for bzip2, `unzip -t`, and against the
// library's own decoding of the same stream from memory in 32 KB pieces
// (bzip2, LZMA, XZ, Zstandard). Deflate64 entries are made by 7zz, XZ and
// Zstandard streams by their own tools. Best of three runs.
//
// Usage: bench_methods [scratch folder]   (default: the temporary folder)

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "platform/Files.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A stored-form archive of one entry whose data is already packed.
void OneEntryZip(const std::string& zip, uint16_t method, const std::string& data, const std::string& content)
{
    std::string z;
    const auto put = [&z](uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            z += char(v >> (8 * i));
    };
    const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(content.data()), uInt(content.size())));
    const std::string name = "data.bin";
    const auto common = [&] {
        put(20, 2), put(0, 2), put(method, 2), put(0x00210000, 4), put(crc, 4);
        put(data.size(), 4), put(content.size(), 4), put(name.size(), 2), put(0, 2);
    };
    put(0x04034b50, 4), common(), z += name, z += data;
    const size_t directory = z.size();
    put(0x02014b50, 4), put(20, 2), common(), put(0, 2), put(0, 2), put(0, 2), put(0, 4), put(0, 4), z += name;
    const size_t size = z.size() - directory;
    put(0x06054b50, 4), put(0, 4), put(1, 2), put(1, 2), put(size, 4), put(directory, 4), put(0, 2);
    std::ofstream(zip, std::ios::binary) << z;
}

// The stream's decoding from memory through the library, output in 32 KB pieces.
double LibraryDecode(const std::string& method, const std::string& packed)
{
    std::vector<uint8_t> out(32768);
    return bench::BestSeconds([&] {
        if (method == "bzip2") {
            bz_stream s{};
            BZ2_bzDecompressInit(&s, 0, 0);
            s.next_in = const_cast<char*>(packed.data());
            s.avail_in = unsigned(packed.size());
            int r;
            do {
                s.next_out = reinterpret_cast<char*>(out.data());
                s.avail_out = unsigned(out.size());
                r = BZ2_bzDecompress(&s);
            } while (r == BZ_OK);
            BZ2_bzDecompressEnd(&s);
        } else if (method == "xz") {
            lzma_stream s = LZMA_STREAM_INIT;
            if (lzma_stream_decoder(&s, UINT64_MAX, 0) != LZMA_OK)
                return;
            s.next_in = reinterpret_cast<const uint8_t*>(packed.data());
            s.avail_in = packed.size();
            lzma_ret r;
            do {
                s.next_out = out.data();
                s.avail_out = out.size();
                r = lzma_code(&s, LZMA_FINISH);
            } while (r == LZMA_OK);
            lzma_end(&s);
        } else if (method == "zstd") {
            ZSTD_DStream* s = ZSTD_createDStream();
            ZSTD_inBuffer in{packed.data(), packed.size(), 0};
            while (in.pos < in.size) {
                ZSTD_outBuffer o{out.data(), out.size(), 0};
                if (ZSTD_isError(ZSTD_decompressStream(s, &o, &in)))
                    break;
            }
            ZSTD_freeDStream(s);
        }
    });
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string root = (argc > 1 ? std::string(argv[1]) : platform::TempDirectory()) + "/zamblok-bench-methods";
    fs::create_directories(root);
    const std::string cli = fs::canonical("/proc/self/exe").parent_path().parent_path().string() + "/cli/zamblok-cli";
    const std::string data = root + "/data.bin";
    // 100 MB of the benchmark tree's files one after the other.
    if (!fs::exists(data)) {
        const std::string tree = bench::Tree(root);
        bench::Shell("find '" + tree + "' -type f -print0 | sort -z | xargs -0 cat | head -c 100000000 > '" + data +
                     ".tmp' && mv '" + data + ".tmp' '" + data + "'");
    }
    const std::string content = Read(data);

    struct Method {
        std::string name, make;  // make: a shell command writing root/<name>.zip
        std::string raw;         // the stream alone, for the library
    };
    std::vector<Method> methods = {
        {"deflate64", "7zz a -bd -tzip -mm=Deflate64 -mmt=1 deflate64.zip data.bin >/dev/null", ""},
        {"bzip2", "7zz a -bd -tzip -mm=BZip2 -mmt=1 bzip2.zip data.bin >/dev/null", ""},
        {"lzma", "7zz a -bd -tzip -mm=LZMA -mmt=1 lzma.zip data.bin >/dev/null", ""},
        {"xz", "xz -T1 -6 -c data.bin > data.xz", "data.xz"},
        {"zstd", "zstd -q -3 -c data.bin > data.zst", "data.zst"},
    };
    std::printf("%-10s %9s %9s %9s %9s %9s %9s\n", "method", "zamblok", "7zz t", "unzip -t", "library", "x 7zz",
                "x library");
    for (Method& m : methods) {
        const std::string zip = root + "/" + m.name + ".zip";
        if (!fs::exists(zip)) {
            bench::Shell("cd '" + root + "' && " + m.make);
            if (!m.raw.empty())
                OneEntryZip(zip, m.name == "xz" ? 95 : 93, Read(root + "/" + m.raw), content);
        }
        std::string packed;
        if (m.name == "bzip2") {
            // The bzip2 stream of the 7zz archive, after the local header.
            const std::string z = Read(zip);
            const size_t at = 30 + size_t(uint8_t(z[26]) | uint8_t(z[27]) << 8) + (uint8_t(z[28]) | uint8_t(z[29]) << 8);
            const size_t n = size_t(uint8_t(z[18]) | uint8_t(z[19]) << 8 | uint8_t(z[20]) << 16 | uint32_t(uint8_t(z[21])) << 24);
            packed = z.substr(at, n);
        } else if (!m.raw.empty()) {
            packed = Read(root + "/" + m.raw);
        }
        const double ours = bench::BestSeconds([&] { bench::Shell("'" + cli + "' -q test '" + zip + "' >/dev/null"); });
        const double seven = bench::BestSeconds([&] { bench::Shell("7zz t -mmt=1 '" + zip + "' >/dev/null"); });
        const double unzip =
            m.name == "bzip2" ? bench::BestSeconds([&] { bench::Shell("unzip -tqq '" + zip + "'"); }) : 0;
        const double library = packed.empty() ? 0 : LibraryDecode(m.name == "bzip2" ? "bzip2" : m.name, packed);
        std::printf("%-10s %9.3f %9.3f %9.3f %9.3f %9.2f %9.2f\n", m.name.c_str(), ours, seven, unzip, library,
                    ours / seven, library > 0 ? ours / library : 0.0);
    }
    std::printf("input: %zu bytes; 0 where a tool does not decode the method\n", content.size());
    return 0;
}
