#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "engine/ZipMethods.h"

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

std::string TabSeparated(const ParArrayOfFileDetail& rows)
{
    std::string text;
    for (const ParFileDetail& r : rows)
        text += TsvField(r.archive) + '\t' + TsvField(r.fileName) + '\t' + TsvField(r.date) + '\t' + r.size + '\t' +
                TsvField(r.path) + '\n';
    return text;
}

// Columns as wide as their widest cell, two blanks apart; the columns of
// numbers to the right.
std::string Table(const std::vector<std::vector<std::string>>& cells, const std::vector<bool>& numbers)
{
    std::vector<size_t> width(numbers.size());
    for (const auto& row : cells)
        for (size_t c = 0; c < row.size(); ++c)
            width[c] = std::max(width[c], TextWidth(row[c]));

    std::string text;
    for (const auto& row : cells) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            const std::string pad(width[c] - TextWidth(row[c]), ' ');
            line += numbers[c] ? pad + row[c] : row[c] + pad;
            line += "  ";
        }
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + '\n';
    }
    return text;
}

std::string Table(const ParArrayOfFileDetail& rows)
{
    std::vector<std::vector<std::string>> cells{{"ZIP Archive", "Name", "Date", "Size (kb)", "Path"}};
    for (const ParFileDetail& r : rows)
        cells.push_back({Printable(r.archive), Printable(r.fileName), Printable(r.date), r.size, Printable(r.path)});
    return Table(cells, {false, false, false, true, false});
}

// The permissions as ls shows them, from the Unix mode a Unix tool stored;
// "-" for entries of other systems.
std::string ModeText(const TZipHeaderInfo& e)
{
    const uint32_t mode = e.ExternalAttributes >> 16;
    if (e.VersionMadeBy >> 8 != 3 || mode == 0)
        return "-";
    const uint32_t type = mode & 0170000;
    std::string text(1, type == 0040000 ? 'd' : type == 0120000 ? 'l' : '-');
    for (int shift = 6; shift >= 0; shift -= 3)
        for (int bit = 2; bit >= 0; --bit)
            text += mode >> (shift + bit) & 1 ? "xwr"[bit] : '-';
    return text;
}

// One row per entry as zipinfo shows it: mode, method, sizes, ratio, CRC,
// encryption, time and stored name.
std::vector<std::vector<std::string>> Details(Session& session, TZipReader& engine,
                                              const std::vector<std::string>& archives)
{
    std::vector<std::vector<std::string>> rows;
    for (const std::string& archive : archives) {
        engine.ResetArchive();
        engine.SetZipName(archive);
        engine.ReadArchive();
        CheckDirectory(engine);
        AnnounceRepair(session, engine);
        for (int i = 0; i < engine.EntryCount(); ++i) {
            const TZipHeaderInfo& e = engine.EntryInfo(i);
            const uint64_t size = e.UncompressedSize(), packed = e.CompressedSize();
            char ratio[16], crc[16], date[32];
            std::snprintf(ratio, sizeof ratio, "%.1f%%",
                          size == 0 || packed >= size ? 0.0 : 100.0 * double(size - packed) / double(size));
            std::snprintf(crc, sizeof crc, "%08x", e.Crc32);
            const std::time_t t = engine.EntryDateTime(i);
            std::tm tm{};
            localtime_r(&t, &tm);
            std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &tm);
            rows.push_back({archive, ModeText(e), MethodName(e.CompressionMethod), std::to_string(packed),
                            std::to_string(size), ratio, crc, e.Encrypted() ? "yes" : "-", date,
                            e.Directory() + e.FileName()});
        }
    }
    return rows;
}

}  // namespace

ParArrayOfFileDetail ListEntries(Session& session, TExtractAndView& job, const std::vector<std::string>& archives)
{
    std::vector<std::string> passes = archives;  // the job reads them twice: to count, then to fill
    passes.insert(passes.end(), archives.begin(), archives.end());
    session.Line().Start(passes);
    session.SetPoll([&session, &job] {
        if (!job.Engine().ZipName().empty())
            session.Line().Archive(job.Engine().ZipName());
    });
    ParArrayOfFileDetail rows;
    job.ListArchives(rows, archives);
    session.SetPoll({});  // a failure ends the command, and nothing polls after it
    return rows;
}

int RunList(Session& session, const std::vector<std::string>& archives, bool tabSeparated, bool verbose,
            const ReadOptions& reading)
{
    TExtractAndView job;
    SetReading(session, job.Engine(), reading);
    AnnounceRepairs(session, job);
    session.SetCancel([&job] { job.Cancel(); });
    // A missing archive is reported; the others are listed, and so is a
    // multi-part archive whose last part is missing but whose side file,
    // holding its directory, is there.
    std::vector<std::string> present;
    for (const std::string& archive : archives) {
        if (std::filesystem::exists(archive) || std::filesystem::exists(TZipReader::SideFileOf(archive)))
            present.push_back(archive);
        else
            session.Problem(archive + ": no such file");
    }
    // A damaged directory ends the listing, as an archive that cannot be read does.
    std::string text;
    try {
        if (verbose) {
            std::vector<std::vector<std::string>> rows = Details(session, job.Engine(), present);
            for (const auto& row : rows)
                for (size_t c = 0; c < row.size(); ++c)
                    text += (tabSeparated ? TsvField(row[c]) : "") + (c + 1 < row.size() ? "\t" : "\n");
            if (!tabSeparated) {
                for (auto& row : rows)
                    for (std::string& cell : row)
                        cell = Printable(cell);
                rows.insert(rows.begin(), {"ZIP Archive", "Mode", "Method", "Packed", "Size", "Saved", "CRC-32",
                                           "Encrypted", "Date", "Name"});
                text = Table(rows, {false, false, false, true, true, true, false, false, false, false});
            }
        } else {
            const ParArrayOfFileDetail rows = ListEntries(session, job, present);
            text = tabSeparated ? TabSeparated(rows) : Table(rows);
        }
    } catch (const EDamagedDirectory& e) {
        ReportDamaged(session, e);
        return ExitStopped;
    }
    if (!text.empty()) {
        text.pop_back();  // Print ends the line itself
        session.Print(text);
    }
    return session.Status();
}

}  // namespace cli
