#include <algorithm>

#include "cli/Commands.h"
#include "engine/Wildcard.h"
#include "engine/ZipExceptions.h"

namespace cli {

namespace {

// Whether name picks row. A name that is some entry's stored name picks that
// entry alone, unless the user asked for patterns; any other name with a
// wildcard is a pattern, matched against the whole stored name when it holds
// a '/', else against the name part.
bool Picks(const std::string& name, bool storedName, bool pattern, const ParFileDetail& row)
{
    const std::string stored = row.path + row.fileName;
    if (storedName && !pattern)
        return stored == name;
    return (pattern || IsWild(name)) &&
           MatchesPattern(name, name.find('/') != std::string::npos ? stored : row.fileName);
}

}  // namespace

int RunDelete(Session& session, const std::string& archive, const std::vector<std::string>& entries,
              bool patterns)
{
    TExtractAndView job;
    FollowArchives(session, job);
    session.SetCancel([&job] { job.Cancel(); });
    // A file without an end record is no archive to delete from.
    job.Engine().IncompleteZipMode = TIncompleteZipMode::izAssumeNotAZip;
    ParArrayOfFileDetail rows;
    try {
        ListEntries(session, job, {archive}, [&rows](const ParFileDetail& row) { rows.push_back(row); });
    } catch (const ENotAZipFile&) {
        session.Problem(archive + ": not a zip archive; nothing deleted");
        return ExitStopped;
    }

    // One stored name per picked row: two entries of one name are two rows.
    std::vector<bool> picked(rows.size());
    for (const std::string& name : entries) {
        const bool storedName = std::any_of(rows.begin(), rows.end(),
                                            [&](const ParFileDetail& r) { return r.path + r.fileName == name; });
        bool any = false;
        for (size_t i = 0; i < rows.size(); ++i)
            if (Picks(name, storedName, patterns, rows[i]))
                picked[i] = any = true;
        if (!any)
            session.Problem(archive + ": " + name + ": no such entry");
    }
    ParToUnZip group{archive, {}};
    for (size_t i = 0; i < rows.size(); ++i)
        if (picked[i])
            group.entries.push_back(rows[i].path + rows[i].fileName);
    if (group.entries.empty())
        return session.Status();

    TZipWriter& engine = job.Engine();
    int deleted = 0;
    engine.OnDeleteEntry = [&deleted](TZipWriter&, const std::string&, bool&) { ++deleted; };
    engine.OnUpdate = [&session](TZipWriter& sender, TUpdateAction, int index) {
        session.Line().Entry(sender.EntryFolder(index) + sender.EntryName(index));
    };
    engine.OnTotalPercentDone = [&session](TZipReader&, int percent) { session.Line().Percent(percent); };
    session.Line().Start({archive});
    session.Line().Archive(archive);
    // What failed, and where: the archive stays as it was.
    try {
        job.DeleteSelected({group});
    } catch (const EUserCanceled&) {
        throw;
    } catch (const Exception& e) {
        session.Problem(archive + ": " + e.what() + "; nothing deleted");
        return ExitStopped;
    }
    session.CheckInterrupted();
    session.Print(archive + ": " + std::to_string(deleted) + (deleted == 1 ? " entry" : " entries") + " deleted");
    return session.Status();
}

}  // namespace cli
