#include "cli/Commands.h"
#include "engine/ZipExceptions.h"

namespace cli {

int RunAdd(Session& session, const AddRequest& request)
{
    TZipFile job;
    session.SetCancel([&job] { job.Cancel(); });
    WatchWriting(session, job.Engine());
    session.Line().Start({request.archive});
    session.Line().Archive(request.archive);
    // What failed, and where: the archive and the files stay as they were.
    int added = 0;
    std::vector<ParNotMoved> notMoved;
    try {
        added = job.AddToArchive(request.archive, request.items, request.compress, request.onlyNewer, request.move,
                                 notMoved);
    } catch (const EUserCanceled&) {
        throw;
    } catch (const ENotAZipFile&) {
        session.Problem(request.archive + ": not a zip archive; nothing added");
        return ExitStopped;
    } catch (const EDamagedDirectory& e) {
        session.Problem(std::string(e.what()) + "; nothing added");
        return ExitStopped;
    } catch (const Exception& e) {
        session.Problem(request.archive + ": " + e.what() + "; nothing added");
        return ExitStopped;
    }
    session.CheckInterrupted();
    for (const ParNotMoved& kept : notMoved)
        session.Problem(kept.file + (kept.changed ? ": changed after it went into " + request.archive + "; kept"
                                                  : ": went into " + request.archive + " but could not be deleted"));
    const int moved = added - int(notMoved.size());
    const std::string done = !request.move   ? " added"
                             : moved == added ? " moved in"
                                              : " added, " + std::to_string(moved) + " moved in";
    session.Print(request.archive + ": " + std::to_string(added) + (added == 1 ? " file" : " files") + done);
    return session.Status();
}

}  // namespace cli
