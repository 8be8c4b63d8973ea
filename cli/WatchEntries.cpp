#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>

#include "cli/Commands.h"

namespace cli {

namespace {

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

// Whether the file begins as a ZIP archive or a part of one does: with a
// local header, or with the mark of a split archive's first part.
bool BeginsAsZip(const std::string& file)
{
    char head[4] = {};
    if (std::FILE* f = std::fopen(file.c_str(), "rb")) {
        if (std::fread(head, 1, 4, f) != 4)
            head[0] = 0;
        std::fclose(f);
    }
    return std::string(head, 4) == "PK\x03\x04" || std::string(head, 4) == "PK\x07\x08" ||
           std::string(head, 4) == "PK00";
}

std::string StoredName(const TZipReader& engine, int index)
{
    return engine.EntryFolder(index) + engine.EntryName(index);
}

}  // namespace

void WatchEntries(Session& session, TZipReader& engine)
{
    // The archive as named for the run; the engine's name moves through the
    // parts, and may have moved before the run starts.
    auto archive = std::make_shared<std::string>();
    auto report = [&session, archive](const std::string& what) { session.Problem(*archive + ": " + what); };

    engine.OnStartUnZipInfo = [&session, archive](TZipReader& sender, int, int64_t totalBytes, bool&) {
        *archive = sender.ArchiveName();
        session.Line().Archive(*archive);
        session.Line().Operation(totalBytes);
    };
    engine.OnStartUnZip = [&session](TZipReader& sender, int index, std::string&, bool&) {
        session.Line().Entry(StoredName(sender, index));
    };
    engine.OnTotalPercentDone = [&session](TZipReader&, int percent) { session.Line().Percent(percent); };

    engine.OnSkippingFile = [report](TZipReader& sender, TSkipReason reason, const std::string& fileName, int index,
                                     bool&) {
        std::string text = StoredName(sender, index) + ": " + SkipReasonText(reason, fileName, !sender.Password.empty());
        if (reason == TSkipReason::skUnsafeLink)
            text += " (--allow-outside-links makes it)";
        report(text);
    };
    engine.OnBadCRC = [report](TZipReader& sender, uint32_t computed, uint32_t stored, int index) {
        report(StoredName(sender, index) + ": bad CRC " + Hex(computed) + " (stored " + Hex(stored) + ")" +
               (sender.TestOnly ? "" : "; not extracted"));
    };
    engine.OnEntryError = [report](TZipReader& sender, int index, const std::string& what) {
        report(StoredName(sender, index) + ": " + what + (sender.TestOnly ? "" : "; not extracted"));
    };
    engine.OnHandleMessage = [](TZipReader&, int id, const std::string& text, const std::string& caption,
                                unsigned flags, int& result) {
        // An unknown method reaches OnEntryError with its number.
        result = id == TZipReader::MsgUnknownMethod ? platform::idOK : platform::MessageBox(text, caption, flags);
    };
}

void SetReading(Session& session, TZipReader& engine, const ReadOptions& reading)
{
    engine.NamesCodePage = reading.namesCodePage;
    engine.Threads = reading.threads;
    const bool repair = reading.repair;
    engine.IncompleteZipMode = repair ? TIncompleteZipMode::izAssumeBad : TIncompleteZipMode::izAssumeMulti;
    auto reported = std::make_shared<std::set<std::string>>();
    engine.OnInCompleteZip = [&session, reported, repair](TZipReader& sender, TIncompleteZipMode&) {
        if (repair || !reported->insert(sender.ZipName()).second)
            return;
        if (!BeginsAsZip(sender.ZipName()))
            session.Problem(sender.ZipName() + ": not a zip archive");
        else
            session.Problem(sender.ZipName() +
                            ": incomplete archive: its directory is missing (--repair reads the entries from "
                            "their local headers)");
    };
}

bool ReportedEmpty(Session& session, const std::string& archive)
{
    // file_size fails for anything but a regular file (after links).
    std::error_code ec;
    if (std::filesystem::file_size(archive, ec) != 0 || ec)
        return false;
    session.Problem(archive + ": not a zip archive (an empty file)");
    return true;
}

void ReportDamaged(Session& session, const EDamagedDirectory& damaged)
{
    session.Problem(std::string(damaged.what()) + " (--repair reads the entries from their local headers)");
}

void AnnounceReading(Session& session, const TZipReader& engine)
{
    if (engine.Rebuilt())
        session.Note(engine.ArchiveName() + ": the entries were read from their local headers");
    if (engine.ReadsDifferently())
        session.ProblemOnce(engine.ArchiveName() + ": this archive reads differently in other tools (two end records)");
}

void FollowArchives(Session& session, TExtractAndView& job)
{
    job.OnArchive = [&session, &job](const ParArchiveProgress& p) {
        if (p.state == ParArchiveProgress::State::Done)
            AnnounceReading(session, job.Engine());
        if (p.state == ParArchiveProgress::State::Failed)
            std::rethrow_exception(p.failure);
    };
}

}  // namespace cli
