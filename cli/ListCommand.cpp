#include <algorithm>
#include <array>
#include <filesystem>

#include "cli/Commands.h"
#include "cli/Console.h"

namespace cli {

namespace {

using Row = std::array<std::string, 5>;  // archive, name, date, size, path

// A field of a tab-separated line: tab, line end, NUL and backslash escaped.
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
        default: field += c;
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

// Columns as wide as their widest cell, two blanks apart; the size to the right.
std::string Table(const ParArrayOfFileDetail& rows)
{
    std::vector<Row> cells{{"ZIP Archive", "Name", "Date", "Size (kb)", "Path"}};
    for (const ParFileDetail& r : rows)
        cells.push_back({Printable(r.archive), Printable(r.fileName), Printable(r.date), r.size, Printable(r.path)});
    std::array<size_t, 5> width{};
    for (const Row& row : cells)
        for (size_t c = 0; c < row.size(); ++c)
            width[c] = std::max(width[c], TextWidth(row[c]));

    std::string text;
    for (const Row& row : cells) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            const std::string pad(width[c] - TextWidth(row[c]), ' ');
            if (c == 3)
                line += pad + row[c];
            else if (c + 1 < row.size())
                line += row[c] + pad;
            else
                line += row[c];
            if (c + 1 < row.size())
                line += "  ";
        }
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + '\n';
    }
    return text;
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

int RunList(Session& session, const std::vector<std::string>& archives, bool tabSeparated,
            const ReadOptions& reading)
{
    TExtractAndView job;
    SetReading(session, job.Engine(), reading);
    session.SetCancel([&job] { job.Cancel(); });
    // A missing archive is reported; the others are listed.
    std::vector<std::string> present;
    for (const std::string& archive : archives) {
        if (std::filesystem::exists(archive))
            present.push_back(archive);
        else
            session.Problem(archive + ": no such file");
    }
    const ParArrayOfFileDetail rows = ListEntries(session, job, present);
    std::string text = tabSeparated ? TabSeparated(rows) : Table(rows);
    if (!text.empty()) {
        text.pop_back();  // Print ends the line itself
        session.Print(text);
    }
    return session.Status();
}

}  // namespace cli
