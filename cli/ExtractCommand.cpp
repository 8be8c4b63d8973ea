#include <algorithm>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "engine/ZipExceptions.h"

namespace cli {

namespace {

// Asks on the terminal whether an existing file is replaced; "all" and
// "none" answer every later question of the run.
class OverwriteQuestion {
public:
    explicit OverwriteQuestion(Session& session) : session_(session) {}

    bool Replace(const std::string& fileName)
    {
        if (all_ || none_)
            return all_;
        // After Ctrl-C no more questions: the run stops at its next poll.
        if (session_.Interrupted())
            return false;
        session_.Line().Clear();
        for (;;) {
            const auto answer =
                AskTerminal("Replace " + Printable(fileName) + "? [y]es, [n]o, [A]ll, [N]one: ", false,
                            [this] { return session_.Interrupted(); });
            // No terminal, or Ctrl-C: the file stays.
            if (!answer)
                return false;
            const std::string a = Trimmed(*answer);
            if (a == "y" || a == "yes")
                return true;
            if (a == "n" || a == "no")
                return false;
            if (a == "A" || a == "a" || a == "all")
                return all_ = true;
            if (a == "N" || a == "none") {
                none_ = true;
                return false;
            }
        }
    }

private:
    Session& session_;
    bool all_ = false;
    bool none_ = false;
};

// Whether the stored name is the name asked for: byte for byte, or with
// ignoreCase without regard to the case of ASCII letters (as unzip -C).
bool SameName(const std::string& stored, const std::string& name, bool ignoreCase)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return ignoreCase ? std::equal(stored.begin(), stored.end(), name.begin(), name.end(),
                                   [&](char a, char b) { return lower(a) == lower(b); })
                      : stored == name;
}

// The named entries grouped by archive, as the listing shows them: one group
// per archive that holds any of them, in list order. A name found in no
// archive is reported.
ParArrayOfToUnZip SelectEntries(Session& session, TExtractAndView& job, const ExtractRequest& request)
{
    ParArrayOfToUnZip groups;
    std::vector<bool> found(request.only.size());
    ListEntries(session, job, request.archives, [&](const ParFileDetail& row) {
        const std::string stored = row.path + row.fileName;
        bool named = false;
        for (size_t k = 0; k < request.only.size(); ++k)
            if (SameName(stored, request.only[k], request.ignoreCase))
                found[k] = named = true;
        if (!named)
            return;
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&](const ParToUnZip& g) { return g.archive == row.archive; });
        if (group == groups.end())
            group = groups.insert(groups.end(), ParToUnZip{row.archive, {}});
        group->entries.push_back(stored);
    });
    for (size_t k = 0; k < found.size(); ++k)
        if (!found[k])
            session.Problem(request.only[k] + ": no such entry in the archives");
    return groups;
}

}  // namespace

int RunExtract(Session& session, const ExtractRequest& request)
{
    TExtractAndView job;
    session.SetCancel([&job] { job.Cancel(); });
    TZipWriter& engine = job.Engine();
    WatchEntries(session, engine);
    OverwriteQuestion question(session);
    if (request.options.overwriteMode == TUZOverwriteMode::Prompt)
        engine.OnPromptForOverwrite = [&question](TZipReader&, bool& overwrite, int, std::string& fileName) {
            overwrite = question.Replace(fileName);
        };

    engine.AllowOutsideLinks = request.allowOutsideLinks;
    SetReading(session, engine, request.reading);
    FollowArchives(session, job);

    ParArrayOfToUnZip groups;
    if (request.only.empty()) {
        for (const std::string& archive : request.archives)
            groups.push_back({archive, {}});
    } else {
        try {
            groups = SelectEntries(session, job, request);
        } catch (const EDamagedDirectory& e) {
            ReportDamaged(session, e);
            return ExitStopped;
        }
    }
    std::vector<std::string> archives;
    for (const ParToUnZip& group : groups)
        archives.push_back(group.archive);
    session.Line().Start(archives);
    // An archive that cannot be read at all is reported, and the run goes on
    // with the next one.
    bool stopped = false;
    for (const ParToUnZip& group : groups) {
        if (ReportedEmpty(session, group.archive)) {
            stopped = true;
            continue;
        }
        try {
            if (request.only.empty())
                job.ExtractAll({group.archive}, request.options);
            else
                job.ExtractSelected({group}, request.options);
        } catch (const EUserCanceled&) {
            throw;
        } catch (const EIncompleteZip&) {
            stopped = true;  // reported with its advice as it was read
        } catch (const EDamagedDirectory& e) {
            ReportDamaged(session, e);  // nothing of it was written
        } catch (const Exception& e) {
            session.Problem(group.archive + ": " + e.what());
            stopped = true;
        }
        // A cancel between two archives ends the job without an error.
        session.CheckInterrupted();
    }
    return stopped ? ExitStopped : session.Status();
}

}  // namespace cli
