#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "engine/ZipAes.h"
#include "engine/ZipMethods.h"
#include "platform/CodePage.h"
#include "platform/Files.h"

namespace cli {

namespace {

// A field of a tab-separated line: tab, line end, NUL and backslash escaped,
// and every other control character written as \x1b, so that no name can
// send a terminal an escape sequence.
std::string TsvField(const std::string& text)
{
    std::string field;
    for (char c : text) {
        switch (c) {
        case '\0': field += "\\0"; break;
        case '\t': field += "\\t"; break;
        case '\n': field += "\\n"; break;
        case '\r': field += "\\r"; break;
        case '\\': field += "\\\\"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                char escaped[5];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
                field += escaped;
            } else {
                field += c;
            }
        }
    }
    return field;
}

using Row = std::vector<std::string>;
using RowSink = std::function<void(const Row&)>;
// Reads the archives and hands each row to a sink; called once for a
// tab-separated listing and twice for a table, whose columns are measured
// first. No row is kept, so a listing of a million entries holds one
// archive's directory and a page of output.
using RowSource = std::function<void(const RowSink&)>;

// Lines written out in pieces of about 64 KiB.
class PagedOutput {
public:
    explicit PagedOutput(Session& session) : session_(session) {}
    ~PagedOutput() { Flush(); }
    void Line(const std::string& line)
    {
        page_ += line;
        page_ += '\n';
        if (page_.size() >= 65536)
            Flush();
    }

private:
    void Flush()
    {
        if (page_.empty())
            return;
        page_.pop_back();  // Print ends the line itself
        session_.Print(page_);
        page_.clear();
    }

    Session& session_;
    std::string page_;
};

void WriteTabSeparated(Session& session, const RowSource& rows)
{
    PagedOutput out(session);
    rows([&out](const Row& row) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c)
            line += TsvField(row[c]) + (c + 1 < row.size() ? "\t" : "");
        out.Line(line);
    });
}

// Columns as wide as their widest cell, two blanks apart; the columns of
// numbers to the right.
void WriteTable(Session& session, const Row& header, const std::vector<bool>& numbers, const RowSource& rows)
{
    std::vector<size_t> width(header.size());
    const RowSink widen = [&width](const Row& row) {
        for (size_t c = 0; c < row.size(); ++c)
            width[c] = std::max(width[c], TextWidth(Printable(row[c])));
    };
    widen(header);
    rows(widen);

    PagedOutput out(session);
    const RowSink write = [&](const Row& row) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            const std::string cell = Printable(row[c]);
            const std::string pad(width[c] - std::min(width[c], TextWidth(cell)), ' ');
            line += numbers[c] ? pad + cell : cell + pad;
            line += "  ";
        }
        line.erase(line.find_last_not_of(' ') + 1);
        out.Line(line);
    };
    write(header);
    rows(write);
}

// The permissions as zipinfo shows them, from the Unix mode a Unix tool
// stored: the file type first ('?' for none or one unknown); "-" for
// entries of other systems.
std::string ModeText(const TZipHeaderInfo& e)
{
    const uint32_t mode = e.ExternalAttributes >> 16;
    if (e.VersionMadeBy >> 8 != 3 || mode == 0)
        return "-";
    static const std::map<uint32_t, char> types = {{0100000, '-'}, {0040000, 'd'}, {0120000, 'l'}, {0060000, 'b'},
                                                   {0020000, 'c'}, {0010000, 'p'}, {0140000, 's'}};
    const auto type = types.find(mode & 0170000);
    std::string text(1, type == types.end() ? '?' : type->second);
    for (int shift = 6; shift >= 0; shift -= 3)
        for (int bit = 2; bit >= 0; --bit)
            text += mode >> (shift + bit) & 1 ? "xwr"[bit] : '-';
    // Set-user-ID, set-group-ID and sticky show in the execute places: lower
    // case over an execute bit, upper case without one.
    const char special[] = {'s', 's', 't'};
    for (int k = 0; k < 3; ++k)
        if (mode & (04000 >> k)) {
            char& place = text[3 + 3 * size_t(k)];
            place = place == 'x' ? special[k] : char(std::toupper(special[k]));
        }
    return text;
}

// Reads each archive into engine and calls entry with each of its entries.
void ForEachEntry(Session& session, TZipReader& engine, const std::vector<std::string>& archives,
                  const std::function<void(const std::string& archive, int index)>& entry)
{
    for (const std::string& archive : archives) {
        engine.ResetArchive();
        engine.SetZipName(archive);
        engine.ReadArchive();
        engine.CheckDirectory();
        AnnounceReading(session, engine);
        for (int i = 0; i < engine.EntryCount(); ++i)
            entry(archive, i);
    }
}

// What the central header holds as stored: the name's bytes, the extra
// field, and the DOS date-time before it is read into a calendar's range.
struct StoredHeader {
    std::string name, extra;
    std::optional<uint32_t> dosDateTime;
};

StoredHeader Stored(TZipReader& engine, int index)
{
    const std::string header = engine.EntryCentralHeader(index);
    if (header.empty())
        return {};
    const auto* h = reinterpret_cast<const uint8_t*>(header.data());
    return {header.substr(CentralHeaderLen, Get16(h + 28)), header.substr(CentralHeaderLen + Get16(h + 28), Get16(h + 30)),
            Get32(h + 12)};
}

// The method as a user names it: under AES, the strength and the method
// beneath ("aes256/deflated"), when the AES block can be read.
std::string MethodText(const TZipHeaderInfo& e, const StoredHeader& stored)
{
    if (e.CompressionMethod == MethodAes)
        if (const std::optional<TAesField> aes = FindAesField(stored.extra))
            return "aes" + std::to_string(64 + 64 * aes->strength) + "/" + MethodName(aes->method);
    return MethodName(e.CompressionMethod);
}

std::string Formatted(const char* format, std::time_t t, bool utc)
{
    std::tm tm{};
    utc ? gmtime_r(&t, &tm) : localtime_r(&t, &tm);
    char text[40];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

// One row per entry as zipinfo shows it: mode, method, sizes, ratio, CRC,
// encryption, time and stored name.
void Details(Session& session, TZipReader& engine, const std::vector<std::string>& archives, const RowSink& sink)
{
    ForEachEntry(session, engine, archives, [&](const std::string& archive, int i) {
        const TZipHeaderInfo& e = engine.EntryInfo(i);
        const uint64_t size = e.UncompressedSize(), packed = e.CompressedSize();
        char ratio[16], crc[16];
        std::snprintf(ratio, sizeof ratio, "%.1f%%",
                      size == 0 || packed >= size ? 0.0 : 100.0 * double(size - packed) / double(size));
        std::snprintf(crc, sizeof crc, "%08x", e.Crc32);
        const StoredHeader stored = e.CompressionMethod == MethodAes ? Stored(engine, i) : StoredHeader{};
        sink({archive, ModeText(e), MethodText(e, stored), std::to_string(packed), std::to_string(size), ratio, crc,
              e.Encrypted() ? "yes" : "-", Formatted("%Y-%m-%d %H:%M:%S", engine.EntryDateTime(i), false),
              e.Directory() + e.FileName()});
    });
}

// text as a JSON string. Text that is not valid UTF-8 has each byte above
// 0x7F replaced by U+FFFD, so that the output is always valid JSON; the
// name's bytes are given in hex besides.
std::string JsonString(const std::string& text)
{
    const bool valid = platform::IsValidUtf8(text);
    std::string json = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            json += escaped;
        } else if (byte > 0x7F && !valid) {
            json += "\xef\xbf\xbd";
        } else {
            json += c;
        }
    }
    return json + '"';
}

std::string Hex(const std::string& bytes)
{
    std::string hex;
    for (const char c : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(c));
        hex += pair;
    }
    return hex;
}

// The system a host byte of a central header names.
std::string HostName(uint32_t host)
{
    static const char* const names[] = {"MS-DOS", "Amiga", "OpenVMS", "Unix", "VM/CMS", "Atari ST", "OS/2 HPFS",
                                        "Macintosh", "Z-System", "CP/M", "Windows NTFS", "MVS", "VSE", "Acorn RISC",
                                        "VFAT", "MVS", "BeOS", "Tandem", "OS/400", "macOS"};
    return host < std::size(names) ? names[host] : "host " + std::to_string(host);
}

// The field an entry's exact time comes from, as a script reads it.
const char* TimeFieldName(TZipHeaderInfo::TTimeField field)
{
    switch (field) {
    case TZipHeaderInfo::TTimeField::Ntfs: return "NTFS";
    case TZipHeaderInfo::TTimeField::ExtendedTimestamp: return "extended timestamp";
    case TZipHeaderInfo::TTimeField::InfoZipUnix: return "Info-ZIP Unix";
    case TZipHeaderInfo::TTimeField::Dos: break;
    }
    return "DOS date (local time)";
}

// Every field of every entry as a JSON array, an object a line, for scripts.
void WriteJson(Session& session, TZipReader& engine, const std::vector<std::string>& archives)
{
    PagedOutput out(session);
    std::string line = "[";
    ForEachEntry(session, engine, archives, [&](const std::string& archive, int i) {
        const TZipHeaderInfo& e = engine.EntryInfo(i);
        const StoredHeader stored = Stored(engine, i);
        const std::string method = MethodText(e, stored);
        const std::string mode = ModeText(e);
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08x", e.Crc32);
        // The DOS date's fields as stored, even those no calendar has
        // (month 0, day 0, hour 31).
        const uint32_t d = stored.dosDateTime.value_or(e.ModDateTime);
        char dosDate[64];
        std::snprintf(dosDate, sizeof dosDate, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (d >> 25), d >> 21 & 15,
                      d >> 16 & 31, d >> 11 & 31, d >> 5 & 63, (d & 31) * 2);
        const uint32_t host = e.VersionMadeBy >> 8;
        if (line != "[")
            line += ',';
        out.Line(line);
        line = "{\"archive\": " + JsonString(archive) + ", \"name\": " + JsonString(e.Directory() + e.FileName());
        if (!stored.name.empty() && !platform::IsValidUtf8(stored.name))
            line += ", \"name_hex\": \"" + Hex(stored.name) + '"';
        line += ", \"method\": " + JsonString(method) + ", \"method_number\": " + std::to_string(e.CompressionMethod) +
                ", \"compressed_size\": " + std::to_string(e.CompressedSize()) +
                ", \"size\": " + std::to_string(e.UncompressedSize()) + ", \"crc32\": \"" + crc + '"' +
                ", \"encryption\": \"" +
                (!e.Encrypted() ? "none" : method.starts_with("aes") ? method.substr(0, 6) : "zipcrypto") + '"' +
                ", \"modified_utc\": \"" + Formatted("%Y-%m-%dT%H:%M:%SZ", engine.EntryDateTime(i), true) + '"' +
                ", \"modified_from\": \"" + TimeFieldName(e.ModTimeField) + '"' +
                ", \"dos_date\": \"" + dosDate + '"' +
                ", \"mode\": " + (mode == "-" ? "null" : '"' + mode + '"') +
                ", \"attributes\": " + std::to_string(e.ExternalAttributes) + ", \"host\": " + std::to_string(host) +
                ", \"host_name\": \"" + HostName(host) + '"' + ", \"comment\": " + JsonString(engine.EntryComment(i)) + '}';
    });
    out.Line(line == "[" ? "[]" : line + "\n]");
}

}  // namespace

void ListEntries(Session& session, TExtractAndView& job, const std::vector<std::string>& archives,
                 const std::function<void(const ParFileDetail&)>& row)
{
    session.Line().Start(archives);
    session.SetPoll([&session, &job] {
        if (!job.Engine().ZipName().empty())
            session.Line().Archive(job.Engine().ZipName());
    });
    job.ListArchives(archives, row);
    session.SetPoll({});  // a failure ends the command, and nothing polls after it
}

int RunList(Session& session, const std::vector<std::string>& archives, ListFormat format,
            const ReadOptions& reading)
{
    TExtractAndView job;
    SetReading(session, job.Engine(), reading);
    // The verbose and JSON listings read stored headers entry by entry.
    job.Engine().KeepZipOpen = true;
    const bool verbose = format == ListFormat::Verbose || format == ListFormat::VerboseTabSeparated;
    const bool tabSeparated = format == ListFormat::TabSeparated || format == ListFormat::VerboseTabSeparated;
    FollowArchives(session, job);
    session.SetCancel([&job] { job.Cancel(); });
    // A missing archive is reported; the others are listed, and so is a
    // multi-part archive whose last part is missing but whose side file,
    // holding its directory, is there.
    std::vector<std::string> present;
    for (const std::string& archive : archives) {
        if (!std::filesystem::exists(archive) && !std::filesystem::exists(TZipReader::SideFileOf(archive)))
            session.Problem(archive + ": no such file");
        else if (!ReportedEmpty(session, archive))
            present.push_back(archive);
    }
    const RowSource rows = [&](const RowSink& sink) {
        if (verbose)
            Details(session, job.Engine(), present, sink);
        else
            ListEntries(session, job, present, [&sink](const ParFileDetail& r) {
                sink({r.archive, r.fileName, r.date, r.size, r.path});
            });
    };
    // A damaged directory ends the listing, as an archive that cannot be read does.
    try {
        if (format == ListFormat::Json)
            WriteJson(session, job.Engine(), present);
        else if (tabSeparated)
            WriteTabSeparated(session, rows);
        else if (verbose)
            WriteTable(session,
                       {"ZIP Archive", "Mode", "Method", "Packed", "Size", "Saved", "CRC-32", "Encrypted", "Date",
                        "Name"},
                       {false, false, false, true, true, true, false, false, false, false}, rows);
        else
            WriteTable(session, {"ZIP Archive", "Name", "Date", "Size (kb)", "Path"},
                       {false, false, false, true, false}, rows);
    } catch (const EDamagedDirectory& e) {
        ReportDamaged(session, e);
        return ExitStopped;
    }
    return session.Status();
}

}  // namespace cli
