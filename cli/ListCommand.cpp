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
void Details(Session& session, TZipReader& engine, const std::vector<std::string>& archives, const RowSink& sink)
{
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
            sink({archive, ModeText(e), MethodName(e.CompressionMethod), std::to_string(packed),
                  std::to_string(size), ratio, crc, e.Encrypted() ? "yes" : "-", date,
                  e.Directory() + e.FileName()});
        }
    }
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
        if (tabSeparated)
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
