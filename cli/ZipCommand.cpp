#include "cli/Commands.h"

namespace cli {

namespace {

void PrintCreated(Session& session, const TZipFile& job)
{
    std::vector<std::string> created;
    job.CopyCreatedArchives(created);
    for (const std::string& archive : created)
        session.Print(archive);
}

}  // namespace

void WatchWriting(Session& session, TZipWriter& engine)
{
    engine.OnStartZipInfo = [&session](TZipWriter& sender, int, int64_t totalBytes, TEndCentral*, bool&) {
        session.Line().Archive(sender.ZipName());
        session.Line().Operation(totalBytes);
    };
    engine.OnStartZip = [&session](TZipWriter&, const std::string& item, TZipHeaderInfo&, bool&) {
        session.Line().Entry(item);
    };
    engine.OnTotalPercentDone = [&session](TZipReader&, int percent) { session.Line().Percent(percent); };
    engine.OnNoSuchFile = [&session](TZipWriter& sender, const std::string& file) {
        session.Problem(sender.ZipName() + ": " + file + ": " + TZipFile::LeftOutReason(file) + "; skipped");
    };
    engine.OnSkippingFile = [&session](TZipReader& sender, TSkipReason reason, const std::string& file, int,
                                       bool&) {
        const std::string& error = static_cast<TZipWriter&>(sender).SourceError();
        session.Problem(sender.ZipName() + ": " + file + ": " + TZipFile::SkippedReason(reason, error) + "; skipped");
    };
}

int RunZip(Session& session, const ZipRequest& request)
{
    TZipFile job;
    session.SetCancel([&job] { job.Cancel(); });
    TZipWriter& engine = job.Engine();
    WatchWriting(session, engine);
    engine.OnZipComplete = [&session](TZipWriter& sender, int fileCount) {
        if (fileCount == 0)
            session.Problem(sender.ZipName() + ": no file to add; no archive written");
    };

    const ParArrayOfToZip plan = job.PlanArchives(request.items, request.naming);
    std::vector<std::string> archives;
    for (const ParToZip& archive : plan)
        archives.push_back(archive.archive);
    session.Line().Start(archives);
    // The archives finished before a failure or a cancel stay, so they are named too.
    try {
        job.WriteArchives(plan, request.compress);
    } catch (...) {
        PrintCreated(session, job);
        if (request.compress.blocked)
            session.Problem(archives.front() + ": not finished; the parts written so far were removed");
        throw;
    }
    PrintCreated(session, job);
    session.CheckInterrupted();  // a cancel between two archives ends the job without an error
    return session.Status();
}

}  // namespace cli
